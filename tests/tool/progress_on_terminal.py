#!/usr/bin/python3
"""Long commands on a terminal show their progress, and nothing of it reaches
a file: the standard error stream on a pseudo-terminal, the standard output
in a pipe.

- firmware-read of the remote controller's 3 MiB region: the first reading
  shows the seconds passed, the second a bar measured against the first;
- two updates of it: the first shows the seconds passed, the second a bar
  measured against the first (which the state folder remembers).

  progress_on_terminal.py --launcher L --tool T --mkimage M
"""
import argparse
import os
import pty
import re
import subprocess
import sys
import tempfile

REMOTE = "ZELSMBUS::REMOTE::0::0"
BAR = r"\[[#.]{5,}\] \d+ %, [0-9.]+ (KiB|MiB)/s, ([0-9.]+ s left|\d+ min \d\d s left|any moment)"


def on_terminal(command, env):
    """Runs the command; returns what it drew on the terminal, its standard
    output and its exit status."""
    controller, terminal = pty.openpty()
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=terminal,
                               stdin=subprocess.DEVNULL, env=env)
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
    return drawn.decode("utf-8", "replace"), stdout, status


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--tool", required=True)
    parser.add_argument("--mkimage", required=True)
    args = parser.parse_args()
    problems = []
    with tempfile.TemporaryDirectory(prefix="zelsmbus-progress-") as folder:
        env = dict(os.environ, ZELSIM_STATE_DIR=os.path.join(folder, "state"))
        tool = [args.launcher, "--in-process", "--", args.tool]

        text, stdout, status = on_terminal(
            tool + ["firmware-read", REMOTE, os.path.join(folder, "installed.img")], env)
        if status != 0:
            problems.append("firmware-read exited %d" % status)
        # The first reading: its length is not known yet, so the seconds passed.
        if not re.search(r"First reading\.\.\. [0-9.]+ s", text):
            problems.append("no line with the seconds of the first reading")
        # The second is measured against the first: bar, share, rate, time left.
        if not re.search(r"Second reading " + BAR, text):
            problems.append("no progress bar for the second reading")
        # The line is cleared when the reading ends, and the output stays plain.
        if "\r\x1b[K" not in text[-64:]:
            problems.append("the progress line is not cleared at the end")
        if "\r" in stdout or "\x1b" in stdout or "Second reading..." not in stdout:
            problems.append("the standard output is not the plain phase lines")
        report = [("firmware-read", text, stdout)]

        with open(os.path.join(folder, "firmware.bin"), "wb") as f:
            f.write(bytes((i * 7 + 3) & 0xFF for i in range(4096)))
        subprocess.run([args.mkimage, os.path.join(folder, "firmware.bin"), "-o",
                        os.path.join(folder, "new.img"), "--subsystem-id", "0x7A51",
                        "--pinout-addr", "0x20000", "--pinout-ver", "3",
                        "--firmware-version", "0x02000200"], check=True, capture_output=True)
        update = tool + ["firmware", "-y", "--no-backup", REMOTE, os.path.join(folder, "new.img")]
        first, first_out, status = on_terminal(update, env)
        if status != 0 or not re.search(r"Updating firmware \(Ctrl-C is held\)\.\.\. [0-9.]+ s",
                                        first):
            problems.append("the first update (exit %d) shows no seconds passed" % status)
        # Each in-process run is a fresh world: the second update writes the same again.
        second, second_out, status = on_terminal(update, env)
        if status != 0 or not re.search(r"Updating firmware \(Ctrl-C is held\) " + BAR, second):
            problems.append("the second update (exit %d) shows no bar measured against the "
                            "first" % status)
        report += [("first update", first, first_out), ("second update", second, second_out)]
    for problem in problems:
        print(problem)
    if problems:
        for name, text, stdout in report:
            print("--- %s: terminal\n%r\n--- stdout\n%s" % (name, text, stdout))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
