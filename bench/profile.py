#!/usr/bin/env python3
"""Where a clean run spent its time, read from its log's time stamps.

  profile.py LOG
  profile.py --repeats LOG    how many of a preview's "Would ..." lines repeat an earlier one

The time between two lines is charged to the step that the earlier line begins or
belongs to (a scan that logs nothing is charged to the line before it), except that
the time before a record scan's first removal line is charged to that scan.
"""
import sys
from collections import OrderedDict
from datetime import datetime


def read(path):
    with open(path, "rb") as f:
        text = f.read().decode("utf-16-le")
    lines = []
    for line in text.splitlines():
        if len(line) < 25 or line[4] != "-":
            continue
        stamp = datetime.strptime(line[:23], "%Y-%m-%dT%H:%M:%S.%f")
        lines.append((stamp, line[25:]))
    # Only the last run of the file.
    for i in range(len(lines) - 1, -1, -1):
        if lines[i][1].startswith("====="):
            return lines[i:]
    return lines


def step(message, state):
    """What the program does after writing this line, until the next one."""
    if message.startswith("Attempting to uninstall"):
        state["passive"] = 32 if state.get("passive") == 64 else 64
        return "passive uninstall scan, %d-bit view" % state["passive"]
    # The passive scans log their matches too; the purge's matches are each followed
    # by a removal line.
    if state.get("passive") and message.startswith("Attempting to remove") and "[" in message \
            and not message.startswith(("Attempting to remove application", "Attempting to remove items")):
        return "passive uninstall scan, %d-bit view" % state["passive"]
    state["passive"] = None
    if message.startswith("Removing component"):
        return "Installer component records (scan and delete)"
    if message.startswith("Removing product"):
        return "Installer product records (scan and delete)"
    if message.startswith(("Attempting to remove application", "Deleting file", "Removing package cache",
                           "Attempting to remove items from MSI")):
        if "Program Files" in message:
            return "program folders (files, one log line each)"
        if "Package Cache" in message:
            return "package cache"
        return "application folders (files, one log line each)"
    if message.startswith(("Attempting to remove", "Successfully removed", "Failed to remove")):
        return "registry purge (product keys, settings, add-ins)"
    if message.startswith("Deleted startup shortcut"):
        return "marker, and the next scope up to its first line"
    if message.startswith("Skipping"):
        return "scope checks"
    return "start-up and process stopper"


def repeats(path):
    seen = set()
    repeated = []
    would = 0
    for _, message in read(path):
        if not message.startswith("Would "):
            continue
        would += 1
        if message in seen:
            repeated.append(message)
        seen.add(message)
    print('  preview log: %d "Would" lines, %d of them repeating an earlier one' % (would, len(repeated)))
    for message in repeated[:10]:
        print("    " + message)


def main():
    if sys.argv[1] == "--repeats":
        repeats(sys.argv[2])
        return
    lines = read(sys.argv[1])
    if len(lines) < 2:
        print("  the log holds no run")
        return
    total = (lines[-1][0] - lines[0][0]).total_seconds()
    steps = OrderedDict()
    state = {}
    for (stamp, message), (after, following) in zip(lines, lines[1:]):
        name = step(message, state)
        # A record scan logs only its removals: the time up to its first removal line
        # belongs to it, whatever came before.
        for kind in ("Removing component", "Removing product"):
            if following.startswith(kind) and not message.startswith(kind):
                name = step(following, dict(state))
        seconds, count = steps.get(name, (0.0, 0))
        steps[name] = (seconds + (after - stamp).total_seconds(), count + 1)
    print("  program log: %d lines over %.2f s; time after each kind of line until the next one:" % (len(lines), total))
    for name, (seconds, count) in sorted(steps.items(), key=lambda item: -item[1][0]):
        print("    %8.3f s %6d lines  %s" % (seconds, count, name))


if __name__ == "__main__":
    main()
