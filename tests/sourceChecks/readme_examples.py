#!/usr/bin/python3
"""Runs the README's shell examples that use the built tree (the blocks whose
commands start with build/), as a reader would after the demo, with the build
folder of this build in place of build/ and a started world of their own.
Fails when a block exits with an error or a value the README promises in a
comment ("# 0x77") is missing from its output.

  readme_examples.py SOURCE-DIR BUILD-DIR
"""
import os
import re
import subprocess
import sys
import tempfile

BLOCK = re.compile(r"```sh\n(.*?)```", re.S)


def runnable_blocks(readme):
    """The sh blocks whose every command line starts with build/ (or man -l build/)."""
    blocks = []
    for block in BLOCK.findall(readme):
        commands = [line for line in block.splitlines()
                    if line.strip() and not line.startswith(" ")]
        if commands and all(line.startswith(("build/", "man -l build/")) for line in commands):
            blocks.append(block)
    return blocks


def main():
    source, build = sys.argv[1], sys.argv[2]
    with open(os.path.join(source, "README.md")) as f:
        blocks = runnable_blocks(f.read())
    if len(blocks) < 3:
        print("found only %d runnable blocks in README.md" % len(blocks))
        return 1
    failures = 0
    for block in blocks:
        script = block.replace("build/", build.rstrip("/") + "/")
        if "man -l" in script and not os.path.exists(os.path.join(build, "docs/man/zelsmbus.1")):
            script = "\n".join(line for line in script.splitlines()
                               if not line.startswith("man -l"))
        promised = re.findall(r"#\s*(0x[0-9a-f]+)\s*$", block, re.M)
        with tempfile.TemporaryDirectory(prefix="zelsmbus-readme-") as runtime:
            env = dict(os.environ, ZELSIM_RUNTIME_DIR=runtime, MANPAGER="cat", PAGER="cat")
            result = subprocess.run(["bash", "-e", "-c", script], cwd=source, env=env,
                                    capture_output=True, text=True, timeout=120)
            if "start" in script:
                subprocess.run([os.path.join(build, "sim/zelsim"), "stop"], env=env,
                               capture_output=True, timeout=60)
        missing = [value for value in promised if value not in result.stdout]
        if result.returncode != 0 or missing:
            print("README block failed (exit %d, missing %s):\n%s\n--- output\n%s%s"
                  % (result.returncode, missing, block, result.stdout, result.stderr))
            failures += 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
