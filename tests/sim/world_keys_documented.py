#!/usr/bin/python3
"""Checks that zelsim-world(5) keeps up with the world-file reader: every key
that sim/src/world.cpp accepts (the lists it checks tables against) is
described in docs/man/zelsim-world.5.scd as *key* (a table by its heading).

  world_keys_documented.py
"""
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
READER = os.path.join(ROOT, "sim", "src", "world.cpp")
MANUAL = os.path.join(ROOT, "docs", "man", "zelsim-world.5.scd")


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
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main())
