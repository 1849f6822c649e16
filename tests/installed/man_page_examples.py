#!/usr/bin/python3
"""Runs the examples of the installed manual pages as a reader would copy them.

  man_page_examples.py BUILD-DIR SOURCE-DIR

Installs the build into a fresh prefix, puts its programs on PATH and its
pkg-config files on PKG_CONFIG_PATH, and reads every installed page's example
blocks (the roff .nf/.fi blocks). A block whose every line starts with a
command of ours (zelsim, zelsmbus, zelsmbus-mkimage, cc, an assignment before
a command) runs with bash -e in a folder that holds the files the examples
name (a firmware payload and image, a world file, a program); a world file
block (TOML) is loaded with zelsim and listed; anything else is sample output.

The pages written for a machine with the driver (zelsmbus(1),
zelsmbus-mkimage(1), libzelsmbus(3)) run their commands as printed, each in a
simulated world of its own (zelsim --in-process: a firmware update of the
3 MiB region takes seconds there, minutes in a shared world), with one state
folder for the page, so that --restore finds the backup the update before
saved; zelsim(1)'s examples start their own worlds. Fails when a
block exits with an error, or a page that should have examples has none.
"""
import glob
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

COMMANDS = ("zelsim", "zelsmbus", "zelsmbus-mkimage", "cc", "./app", "man")
# Pages of commands for a machine with the driver: each command in a simulated world.
ON_THE_DRIVER = ("zelsmbus.1", "zelsmbus-mkimage.1", "libzelsmbus.3")
# Pages whose programs run as if the library were installed where the loader
# finds it (as in /usr): the prefix's library folder on LD_LIBRARY_PATH.
ON_THE_LOADER_PATH = ("zelsim.3",)
# Pages that must show at least one runnable example.
EXPECTED = ("zelsmbus.1", "zelsmbus-mkimage.1", "zelsim.1", "zelsim-world.5", "libzelsmbus.3",
            "zelsim.3")

ESCAPES = [("\\(dq", '"'), ("\\(aq", "'"), ("\\-", "-"), ("\\&", ""), ("\\e", "\\"),
           ("\\fB", ""), ("\\fI", ""), ("\\fR", ""), ("\\fP", ""), ("\\fC", "")]


def unescape(line):
    out = ""
    i = 0
    while i < len(line):
        if line.startswith("\\\\", i):
            out += "\\"
            i += 2
            continue
        for escape, text in ESCAPES:
            if line.startswith(escape, i):
                out += text
                i += len(escape)
                break
        else:
            out += line[i]
            i += 1
    return out


def blocks_of(page):
    """The text of each .nf/.fi block of a roff page."""
    blocks, current = [], None
    with open(page, encoding="utf-8") as f:
        for line in f.read().splitlines():
            if line.startswith(".nf"):
                current = []
            elif line.startswith(".fi"):
                if current is not None:
                    blocks.append("\n".join(current).strip("\n"))
                current = None
            elif current is not None and not re.match(r"\.(RS|RE|PP|P|br)\b", line):
                current.append(unescape(line))
    return blocks


def logical_lines(block):
    """Lines joined where a backslash continues them or a quote is still open."""
    lines, pending = [], ""
    for line in block.splitlines():
        pending += ("\n" if pending else "") + line
        if pending.endswith("\\") or pending.count("'") % 2 == 1:
            continue
        lines.append(pending)
        pending = ""
    if pending:
        lines.append(pending)
    return [line for line in lines if line.strip()]


def kind_of(block):
    lines = logical_lines(block)
    if not lines:
        return "output"
    if lines[0].startswith("[[") or lines[0].startswith("["):
        return "world"
    for line in lines:
        try:
            words = shlex.split(line.replace("\\\n", " "))
        except ValueError:
            return "output"
        while words and re.match(r"^[A-Z_]+=", words[0]):
            words = words[1:]
        if not words or words[0] not in COMMANDS:
            return "output"
        # A message of ours ("zelsim replay: FILE: line 7: ...") is output.
        if len(words) > 1 and words[1].endswith(":"):
            return "output"
    return "commands"


def prepare(folder, source, env):
    """The files the examples name."""
    payload = bytes((i * 7 + 3) & 0xFF for i in range(1024))
    with open(os.path.join(folder, "firmware.bin"), "wb") as f:
        f.write(payload)
    subprocess.run(["zelsmbus-mkimage", "firmware.bin", "-o", "controller.img",
                    "--subsystem-id", "0x7A51", "--pinout-addr", "0x20000", "--pinout-ver", "3",
                    "--firmware-version", "0x02000200"],
                   cwd=folder, env=env, check=True, capture_output=True)
    shutil.copy(os.path.join(source, "examples", "list-ports", "main.c"),
                os.path.join(folder, "app.c"))
    shutil.copy(os.path.join(source, "examples", "fault-injection", "main.c"),
                os.path.join(folder, "fault-injection.c"))
    # A driver trace for the decoder's examples, recorded from a simulated world.
    subprocess.run(["zelsim", "record", "-o", "trace.jsonl", "--", "zelsmbus", "get",
                    "ZELSMBUS::SYSTEM::0::0", "0x48", "0"],
                   cwd=folder, env=env, check=True, capture_output=True)
    for program in ("my-application", "my-fault-test"):
        path = os.path.join(folder, program)
        with open(path, "w") as f:
            f.write("#!/bin/sh\nexec zelsmbus list\n")
        os.chmod(path, 0o755)


def run(script, folder, env, timeout=600):
    # A question before a write is answered yes, as the reader would.
    env = dict(env, ZELSMBUS_INTERACTIVE="1")
    return subprocess.run(["bash", "-e", "-c", script], cwd=folder, env=env,
                          input="y\n", capture_output=True, text=True, timeout=timeout)


def failure(page, example, result):
    return "%s: example failed (exit %d):\n%s\n--- output\n%s%s" % (
        page, result.returncode, example, result.stdout, result.stderr)


def main():
    build, source = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    failures = []
    with tempfile.TemporaryDirectory(prefix="zelsmbus-man-examples-") as work:
        prefix = os.path.join(work, "prefix")
        subprocess.run(["cmake", "--install", build, "--prefix", prefix], check=True,
                       capture_output=True)
        pkgconfig = glob.glob(os.path.join(prefix, "**", "pkgconfig"), recursive=True)
        env = {name: value for name, value in os.environ.items()
               if name not in ("LD_PRELOAD", "ZELSIM_SERVER", "ZELSIM_WORLD", "LD_LIBRARY_PATH",
                               "PKG_CONFIG_PATH", "MANPATH")}
        env.update(PATH=os.path.join(prefix, "bin") + ":" + os.environ.get("PATH", "/usr/bin"),
                   PKG_CONFIG_PATH=":".join(pkgconfig),
                   MANPATH=os.path.join(prefix, "share", "man"),
                   ZELSIM_RUNTIME_DIR=os.path.join(work, "runtime"),
                   XDG_STATE_HOME=os.path.join(work, "state"),
                   MANPAGER="cat", PAGER="cat")
        pages = sorted(glob.glob(os.path.join(prefix, "share", "man", "man[135]", "*.[135]")))
        examples = {}
        for page in pages:
            name = os.path.basename(page)
            for block in blocks_of(page):
                kind = kind_of(block)
                if kind != "output":
                    examples.setdefault(name, []).append((kind, block))
        installed = [os.path.basename(page) for page in pages]
        for name in EXPECTED:
            # libzelsmbus(3) is there when the build had Doxygen.
            if name not in examples and (name in installed or not name.endswith(".3")):
                failures.append("%s: no runnable example found" % name)
        world_text = next((block for kind, block in examples.get("zelsim-world.5", [])
                           if kind == "world"), None)
        for name, blocks in sorted(examples.items()):
            folder = os.path.join(work, name)
            os.makedirs(folder)
            prepare(folder, source, env)
            if world_text:
                with open(os.path.join(folder, "chassis.toml"), "w") as f:
                    f.write(world_text + "\n")
            on_the_driver = name in ON_THE_DRIVER
            page_env = dict(env, ZELSIM_STATE_DIR=os.path.join(folder, "state"))
            if name in ON_THE_LOADER_PATH:
                libraries = [os.path.dirname(p) for p in pkgconfig]
                page_env["LD_LIBRARY_PATH"] = ":".join(libraries)
            for kind, block in blocks:
                if kind == "world":
                    with open(os.path.join(folder, "world.toml"), "w") as f:
                        f.write(block + "\n")
                    script = "zelsim --world world.toml -- zelsmbus list -v"
                elif on_the_driver:
                    # One command at a time, each with its own answer on
                    # its standard input (a program reads ahead of what it
                    # takes from a pipe).
                    for number, line in enumerate(logical_lines(block)):
                        script_name = "example-%d.sh" % number
                        with open(os.path.join(folder, script_name), "w") as f:
                            f.write(line + "\n")
                        result = run("zelsim --in-process -- bash -e " + script_name, folder,
                                     page_env)
                        if result.returncode != 0:
                            failures.append(failure(name, line, result))
                    continue
                else:
                    script = block
                result = run(script, folder, page_env)
                if result.returncode != 0:
                    failures.append(failure(name, block, result))
            print("%s: %d example block(s) run" % (name, len(blocks)))
    for problem in failures:
        print(problem)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
