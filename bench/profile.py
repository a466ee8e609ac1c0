#!/usr/bin/env python3
"""Where a clean run spent its time, read from its log's time stamps.

  profile.py LOG

The time between two lines is charged to the later line's kind (its text up to the first
"[" or digit), so a line that ends a long scan carries the scan's time; "Deleting file"
lines carry the removal of the file before them. Also prints the time of each scope.
"""
import re
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


def kind(message):
    m = re.match(r"[^\[0-9]*", message)
    head = m.group(0).strip() if m else message
    if head.startswith("Removing component") or head.startswith("Removing product"):
        return head + " (after scanning for it)"
    return head or message


def main():
    lines = read(sys.argv[1])
    if len(lines) < 2:
        print("  the log holds no run")
        return
    total = (lines[-1][0] - lines[0][0]).total_seconds()
    kinds = OrderedDict()
    for (before, _), (stamp, message) in zip(lines, lines[1:]):
        k = kind(message)
        seconds, count = kinds.get(k, (0.0, 0))
        kinds[k] = (seconds + (stamp - before).total_seconds(), count + 1)
    print("  program log: %d lines over %.2f s; time charged to the kind of the line that ends it:" % (len(lines), total))
    for k, (seconds, count) in sorted(kinds.items(), key=lambda item: -item[1][0])[:12]:
        print("    %8.3f s %6d  %s" % (seconds, count, k))

    # Phases. The user scopes come first; each ends with its Startup shortcut. After
    # the last line about a user's keys or files the machine scope begins with the
    # Installer data purge, whose last removal line precedes the machine's registry sweep.
    def user_line(message):
        return "HKU\\" in message or "C:\\users\\" in message or message.startswith("Deleted startup")
    last_user = max((i for i, (_, m) in enumerate(lines) if user_line(m)), default=0)
    last_installer = max((i for i, (_, m) in enumerate(lines)
                          if m.startswith("Removing component") or m.startswith("Removing product")),
                         default=last_user)
    marks = [(0, "start (processes)")]
    marks += [(i, "user scope") for i, (_, m) in enumerate(lines[:last_user + 1])
              if m.startswith("Attempting to uninstall") and (i == 0 or not lines[i - 1][1].startswith("Attempting to uninstall"))]
    marks += [(last_user, "machine: Installer data purge"), (max(last_installer, last_user), "machine: registry sweep"),
              (len(lines) - 1, "end")]
    print("  phases (from the time stamps):")
    users = []
    for (i, name), (j, _) in zip(marks, marks[1:]):
        seconds = (lines[j][0] - lines[i][0]).total_seconds()
        if name == "user scope":
            users.append(seconds)
        else:
            print("    %8.3f s  %s" % (seconds, name))
    if users:
        print("    %8.3f s  user scopes: %d, %.3f s each on average, the slowest %.3f s"
              % (sum(users), len(users), sum(users) / len(users), max(users)))


if __name__ == "__main__":
    main()
