#!/usr/bin/python3
"""Runs zelsmbus-mkimage with option values at and beyond each header field's
range, the program's own --version, and the firmware version's old spelling,
and checks the exit status and what it says.

  mkimage_options.py MKIMAGE
"""
import os
import subprocess
import sys
import tempfile

GOOD = ["--subsystem-id", "0x7A51", "--pinout-addr", "0x20000", "--pinout-ver", "3",
        "--firmware-version", "0x02000200"]


def with_option(name, value):
    """GOOD with one option's value replaced."""
    args = list(GOOD)
    args[args.index(name) + 1] = value
    return args


# (arguments after the firmware file, exit status, text the standard error must hold,
#  text the standard output must hold)
CASES = [
    (GOOD, 0, "", "SubSystemID::0x7a51"),
    (with_option("--pinout-ver", "255"), 0, "", "PinOutVer::255"),
    (with_option("--pinout-ver", "256"), 2, "--pinout-ver: 256 is out of range (0-255)", ""),
    (with_option("--pinout-ver", "300"), 2, "out of range (0-255)", ""),
    (with_option("--subsystem-id", "0xffff"), 0, "", "SubSystemID::0xffff"),
    (with_option("--subsystem-id", "0x1ffff"), 2,
     "--subsystem-id: 0x1ffff is out of range (16 bits: 0-0xffff)", ""),
    (with_option("--subsystem-id", "-1"), 2, "\"-1\" is not a number", ""),
    (with_option("--pinout-addr", "0x100000000"), 2, "out of range (32 bits: 0-0xffffffff)", ""),
    (with_option("--firmware-version", "0xffffffff"), 0, "", "Version::4294967295"),
    (with_option("--firmware-version", "4294967296"), 2, "out of range (32 bits", ""),
    (GOOD + ["--offset", "0x100000000"], 2, "--offset: 0x100000000 is out of range", ""),
    # The firmware's version used to be --version.
    (["--subsystem-id", "1", "--pinout-addr", "0", "--pinout-ver", "3", "--version", "5"], 2,
     "give the firmware's version as --firmware-version", ""),
]


def run(mkimage, args):
    return subprocess.run([mkimage] + args, capture_output=True, text=True, timeout=60)


def main():
    mkimage = sys.argv[1]
    failures = []
    with tempfile.TemporaryDirectory(prefix="zelsmbus-mkimage-") as folder:
        firmware = os.path.join(folder, "firmware.bin")
        with open(firmware, "wb") as f:
            f.write(bytes(range(64)))
        for args, status, error, output in CASES:
            result = run(mkimage, [firmware] + args)
            if (result.returncode != status or error not in result.stderr
                    or output not in result.stdout):
                failures.append("%s: exit %d, stderr %r" % (" ".join(args), result.returncode,
                                                            result.stderr))
    # The program's own version and usage name it, not the path it was started by.
    version = run(mkimage, ["--version"])
    if version.returncode != 0 or not version.stdout.startswith("zelsmbus-mkimage "):
        failures.append("--version: exit %d, %r" % (version.returncode, version.stdout))
    usage = run(mkimage, ["--help"])
    if "Usage: zelsmbus-mkimage " not in usage.stdout or os.path.dirname(mkimage) in usage.stdout:
        failures.append("--help: %r" % usage.stdout.splitlines()[:2])
    for failure in failures:
        print(failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
