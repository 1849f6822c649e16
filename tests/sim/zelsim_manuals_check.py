#!/usr/bin/python3
"""Checks the simulator's manual pages: zelsim-world(5) keeps up with the
world-file reader (every key that sim/src/world.cpp accepts, from the lists it
checks tables against, is described as *key*, a table by its heading), and
neither zelsim(1) nor zelsim-world(5) points into the source tree, which is
not installed.

  zelsim_manuals_check.py
"""
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
READER = os.path.join(ROOT, "sim", "src", "world.cpp")
MANUAL = os.path.join(ROOT, "docs", "man", "zelsim-world.5.scd")
PAGES = [MANUAL, os.path.join(ROOT, "docs", "man", "zelsim.1.scd")]
SOURCE_TREE = re.compile(r"source tree|README|\.md\b|sim/src/")


def accepted_keys(source):
    """The quoted names in the key lists of onlyKeys(...) and kTargetKeys."""
    keys = set()
    for match in re.finditer(r"onlyKeys\(\w+,\s*\{([^}]*)\}|kTargetKeys\[\]\s*=\s*\{([^}]*)\}",
                             source):
        keys.update(re.findall(r'"([a-z0-9_]+)"', match.group(1) or match.group(2)))
    return keys


def main():
    keys = accepted_keys(open(READER, encoding="utf-8").read())
    manual = open(MANUAL, encoding="utf-8").read()
    if len(keys) < 20:
        print("found only %d keys in %s: the pattern no longer matches" % (len(keys), READER))
        return 1
    # A table's key is documented by its heading ([simulator], [[device.port]]).
    missing = sorted(key for key in keys if "*%s*" % key not in manual
                     and not re.search(r"\[\[?([a-z]+\.)*%s\]" % key, manual))
    for key in missing:
        print("zelsim-world(5) does not describe the key '%s'" % key)
    pointers = []
    for page in PAGES:
        for number, line in enumerate(open(page, encoding="utf-8"), 1):
            if SOURCE_TREE.search(line):
                pointers.append("%s:%d points into the source tree: %s" % (page, number, line.strip()))
    for pointer in pointers:
        print(pointer)
    return 1 if missing or pointers else 0


if __name__ == "__main__":
    sys.exit(main())
