#!/usr/bin/python3
"""A long command on a terminal shows its progress, and nothing of it reaches
a file: firmware-read of the remote controller's 3 MiB region (two readings),
with the standard error stream on a pseudo-terminal and the standard output
in a pipe.

  progress_on_terminal.py --launcher L --tool T
"""
import argparse
import os
import pty
import re
import subprocess
import sys
import tempfile

REMOTE = "ZELSMBUS::REMOTE::0::0"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--tool", required=True)
    args = parser.parse_args()
    problems = []
    with tempfile.TemporaryDirectory(prefix="zelsmbus-progress-") as folder:
        controller, terminal = pty.openpty()
        env = dict(os.environ, XDG_STATE_HOME=os.path.join(folder, "state"))
        process = subprocess.Popen(
            [args.launcher, "--in-process", "--", args.tool, "firmware-read", REMOTE,
             os.path.join(folder, "installed.img")],
            stdout=subprocess.PIPE, stderr=terminal, stdin=subprocess.DEVNULL, env=env)
        os.close(terminal)
        drawn = b""
        while True:
            try:
                chunk = os.read(controller, 4096)
            except OSError:  # the terminal's other side is closed
                break
            if not chunk:
                break
            drawn += chunk
        stdout = process.stdout.read().decode()
        status = process.wait()
        os.close(controller)
    text = drawn.decode("utf-8", "replace")
    if status != 0:
        problems.append("firmware-read exited %d" % status)
    # The first reading: its length is not known yet, so the seconds passed.
    if not re.search(r"First reading\.\.\. [0-9.]+ s", text):
        problems.append("no line with the seconds of the first reading")
    # The second reading is measured against the first: bar, share, rate, time left.
    if not re.search(r"Second reading \[[#.]{5,}\] \d+ %, [0-9.]+ (KiB|MiB)/s, "
                     r"([0-9.]+ s left|\d+ min \d\d s left|any moment)", text):
        problems.append("no progress bar for the second reading")
    # The line is cleared when the reading ends, and the output stays plain.
    if not text.endswith("\r\x1b[K") and "\r\x1b[K" not in text[-64:]:
        problems.append("the progress line is not cleared at the end")
    if "\r" in stdout or "\x1b" in stdout or "Second reading..." not in stdout:
        problems.append("the standard output is not the plain phase lines")
    for problem in problems:
        print(problem)
    if problems:
        print("--- terminal\n%r\n--- stdout\n%s" % (text, stdout))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
