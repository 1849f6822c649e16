#!/usr/bin/python3
"""Refuses a status code written as a bare number (-52xxx, -26xxx) in C and C++
code: the header names every code the library raises (ZELSMBUS_STATUS_CODES in
include/zelsmbus.h), and a number beside the names hides which one is meant.
Comments and string literals are not looked at.

  check_named_codes.py [--skip FILE]... ROOT FOLDER...
                                    every .c/.cpp/.h file under each folder
                                    but the skipped ones (relative to ROOT)
"""
import argparse
import os
import re
import sys

BARE_CODE = re.compile(r"(?<![\w.'])-\s*(?:52|26)\d{3}\b")
# Comments and literals, removed before the search; a literal stays as "".
NOT_CODE = re.compile(r'//[^\n]*|/\*.*?\*/|"(?:\\.|[^"\\\n])*"|\'(?:\\.|[^\'\\\n])*\'', re.S)


def code_only(text):
    """The text with comments and literals blanked, line breaks kept."""
    return NOT_CODE.sub(lambda m: re.sub(r"[^\n]", " ", m.group(0)), text)


def bare_codes(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        text = f.read()
    found = []
    for number, line in enumerate(code_only(text).splitlines(), 1):
        for match in BARE_CODE.finditer(line):
            found.append((number, match.group(0).replace(" ", "")))
    return found


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--skip", action="append", default=[])
    parser.add_argument("root")
    parser.add_argument("folders", nargs="+")
    args = parser.parse_args()
    failures = 0
    for folder in args.folders:
        top = os.path.join(args.root, folder)
        if not os.path.isdir(top):
            sys.exit("check_named_codes.py: no folder " + top)
        for directory, _, files in sorted(os.walk(top)):
            for name in sorted(files):
                path = os.path.join(directory, name)
                relative = os.path.relpath(path, args.root)
                if not name.endswith((".c", ".cpp", ".h")) or relative in args.skip:
                    continue
                for line, code in bare_codes(path):
                    print("%s:%d: %s: use the code's name from zelsmbus.h" % (relative, line, code))
                    failures += 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
