#!/usr/bin/env python3
"""Reads a run report with Python's JSON parser, strictly, and writes it back flat for the tests.

    read-report.py REPORT OUT

REPORT must be UTF-8 without a byte-order mark and strict JSON (no duplicate member, no NaN, no
raw control character in a string). OUT gets one line per value, "path<TAB>type<TAB>value":
path is the members' names and the elements' indexes joined by "/", type one of S (a string,
its value the hex of its UTF-16LE bytes, so that any text comes back whole), N (an integer),
B (true or false), Z (null), O or A (an object or array, its value its size). A report that does
not read gives one line, "ERROR<TAB><why>". OUT is written beside itself first and then renamed,
so whoever waits for it never reads half of it.
"""
import json
import os
import sys


def no_duplicates(pairs):
    seen = {}
    for name, value in pairs:
        if name in seen:
            raise ValueError("duplicate member %r" % name)
        seen[name] = value
    return seen


def no_constant(name):
    raise ValueError("not JSON: %s" % name)


def flatten(value, path, lines):
    if isinstance(value, dict):
        lines.append((path, "O", str(len(value))))
        for name, member in value.items():
            flatten(member, path + "/" + name if path else name, lines)
    elif isinstance(value, list):
        lines.append((path, "A", str(len(value))))
        for index, element in enumerate(value):
            flatten(element, path + "/" + str(index) if path else str(index), lines)
    elif isinstance(value, bool):
        lines.append((path, "B", "true" if value else "false"))
    elif value is None:
        lines.append((path, "Z", ""))
    elif isinstance(value, int):
        lines.append((path, "N", str(value)))
    elif isinstance(value, str):
        lines.append((path, "S", value.encode("utf-16-le", "surrogatepass").hex()))
    else:
        raise ValueError("unexpected value %r at %s" % (value, path))


def main():
    report, out = sys.argv[1], sys.argv[2]
    try:
        with open(report, "rb") as stream:
            data = stream.read()
        if data.startswith(b"\xef\xbb\xbf"):
            raise ValueError("byte-order mark")
        text = data.decode("utf-8", "strict")
        document = json.loads(text, object_pairs_hook=no_duplicates, parse_constant=no_constant, strict=True)
        lines = []
        flatten(document, "", lines)
        result = "".join("%s\t%s\t%s\n" % line for line in lines)
    except Exception as error:  # every failure is the test's answer
        result = "ERROR\t%s\n" % str(error).replace("\n", " ")
    with open(out + ".part", "w", encoding="utf-8") as stream:
        stream.write(result)
    os.replace(out + ".part", out)


main()
