#!/usr/bin/env python3
"""Holds a run's report against its log: every item the log names is in the report with the
outcome the log gives it, the "Not removed" lines are the report's items that stayed, the exit
code is the log's, and the counts (the items that make the exit code) agree with it as the
README's fleet query reads them.

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
# The log writes a name's control and format characters as "<U+XXXX>"; the report keeps them.
lines = [re.sub(r"<U\+([0-9A-F]{4})>", lambda m: chr(int(m[1], 16)), line)
         for line in open(sys.argv[2], encoding="utf-8").read().splitlines()]
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
    if item["countsForExitCode"]:
        counts[item["outcome"]] = counts.get(item["outcome"], 0) + 1
for outcome in set(counts) | set(report["counts"]):
    if counts.get(outcome, 0) != report["counts"].get(outcome):
        faults.append("counts: %s %s, %d items that count" % (report["counts"].get(outcome), outcome,
                                                             counts.get(outcome, 0)))
# The only keys that do not count are the scopes' markers, counted apart.
markers = [item for item in report["items"] if item["kind"] == "key" and not item["countsForExitCode"]]
if report.get("markerKeys") != len(markers):
    faults.append("markerKeys %s, %d marker keys" % (report.get("markerKeys"), len(markers)))
for item in markers:
    if not re.search(r"\\Software\\Quorvex(\\Cleaned)?$", item["name"], re.IGNORECASE):
        faults.append("a key that does not count: %s" % item["name"])
# The README's fleet query lists the machines where counts."not removed" > 0 (and any later outcome
# that leaves something behind): exactly those whose run exited 1 or 1618 for what stayed; a
# preview's "would remove" is its exit code 1.
listed = any(count > 0 for outcome, count in report["counts"].items()
             if outcome not in ("removed", "scheduled", "would remove"))
code = report["exitCode"]
if report["itemsComplete"] and not preview and (
        (listed and code not in (1, 1618)) or (code == 1 and not listed) or
        (code == 3010) != (not listed and report["counts"]["scheduled"] > 0)):
    faults.append("exit code %d, counts %s" % (code, report["counts"]))
if report["itemsComplete"] and preview and (code == 1) != (
        report["counts"]["would remove"] + report["counts"].get("not searched", 0) > 0):
    faults.append("preview exit code %d, counts %s" % (code, report["counts"]))
if report["format"] != 2:
    faults.append("format %s" % report["format"])
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
