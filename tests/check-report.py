#!/usr/bin/env python3
"""Holds a run's report against its log: every item the log names is in the report with the
outcome the log gives it, the "Not removed" lines are the report's items that stayed, and the
exit code is the log's.

    check-report.py REPORT LOG_TEXT     (LOG_TEXT: the log's lines without time stamps, UTF-8)

Prints one line per fault and exits 1 when there is any.
"""
import json
import re
import sys


def no_duplicates(pairs):
    names = [name for name, _ in pairs]
    if len(names) != len(set(names)):
        raise ValueError("duplicate member")
    return dict(pairs)


raw = open(sys.argv[1], "rb").read()
faults = []
if raw.startswith(b"\xef\xbb\xbf"):
    faults.append("the report starts with a byte-order mark")
report = json.loads(raw.decode("utf-8"), object_pairs_hook=no_duplicates)
lines = open(sys.argv[2], encoding="utf-8").read().splitlines()
preview = report["options"]["preview"]
items = {}
for item in report["items"]:
    items.setdefault((item["kind"], item["name"].lower()), item)

patterns = [
    (r"Would remove value \[(.*)\] from (.*)", lambda m: ("value", m[2] + "\\" + m[1])),
    (r"Would remove service \[(.*)\]", lambda m: ("service", m[1])),
    (r"Would remove scheduled task \[(.*)\]", lambda m: ("task", m[1])),
    (r"Would remove firewall rule \[(.*)\]", lambda m: ("firewall rule", m[1])),
    (r"Would remove cached installer package \[(.*)\] of \[.*\]", lambda m: ("cached package", m[1])),
    (r"Would remove folder \[(.*)\]", lambda m: ("folder", m[1])),
    (r"Would remove (.*)", lambda m: ("key", m[1])),
    (r"Would delete (?:startup shortcut|shortcut|file) \[(.*)\]", lambda m: ("file", m[1])),
    (r"Would stop process \d+ \[(.*)\]", lambda m: ("process", m[1])),
    (r"Would execute \[(.*)\]", lambda m: ("uninstaller", m[1])),
    (r"Removed value \[(.*)\] from (.*)", lambda m: ("value", m[2] + "\\" + m[1])),
    (r"Removing service \[(.*)\]", lambda m: ("service", m[1])),
    (r"Removing scheduled task \[(.*)\]", lambda m: ("task", m[1])),
    (r"Removing firewall rule \[(.*)\]", lambda m: ("firewall rule", m[1])),
    (r"(?:Deleting file|Deleted startup shortcut|Deleted shortcut) \[(.*)\]", lambda m: ("file", m[1])),
    (r"Stopping process \d+ \[(.*)\]", lambda m: ("process", m[1])),
    (r"Executing \[(.*)\]", lambda m: ("uninstaller", m[1])),
]
named = 0
for line in lines:
    for pattern, key in patterns:
        match = re.fullmatch(pattern, line)
        if match:
            kind, name = key(match)
            named += 1
            item = items.get((kind, name.lower()))
            # A cached package's "Deleting file" line names the item the report calls a cached package.
            if item is None and kind == "file":
                item = items.get(("cached package", name.lower()))
            if item is None:
                faults.append("not in the report: %s" % line)
            elif preview and item["outcome"] != "would remove":
                faults.append("%s: %s" % (item["outcome"], line))
            elif not preview and kind in ("value", "file", "service", "task") and item["outcome"] not in (
                    "removed", "not removed", "scheduled"):
                faults.append("%s: %s" % (item["outcome"], line))
            break
stayed = sorted(line[len("Not removed: "):] for line in lines if line.startswith("Not removed: "))
codes = [int(line[len("Exit code ["):-1]) for line in lines if line.startswith("Exit code [")]
if codes and codes[-1] != report["exitCode"]:
    faults.append("exit code %d in the log, %d in the report" % (codes[-1], report["exitCode"]))
counts = {}
for item in report["items"]:
    counts[item["outcome"]] = counts.get(item["outcome"], 0) + 1
for outcome, count in report["counts"].items():
    if counts.get(outcome, 0) != count:
        faults.append("counts: %d %s, %d items" % (count, outcome, counts.get(outcome, 0)))
if not preview and report["exitCode"] == 0 and any(
        item["outcome"] == "not removed" and item["countsForExitCode"] for item in report["items"]):
    faults.append("exit code 0 with items that stayed")
if not preview and codes and len(stayed) != sum(
        1 for item in report["items"] if item["outcome"] == "not removed" and item["countsForExitCode"]):
    faults.append("%d Not removed lines against the report's items" % len(stayed))
print("%d logged items checked against %d reported items" % (named, len(report["items"])))
for fault in faults:
    print("FAULT: " + fault)
sys.exit(1 if faults or named == 0 else 0)
