#!/usr/bin/python3
"""Checks that the tool's documentation keeps up with the tool: every command
that `zelsmbus --help` lists, and every option of every command's --help, is
in docs/zelsmbus.md, in the manual page's source (which the build writes from
it), and in the bash completion (options under their own command there). Likewise every command and option of
`zelsim --help` is in zelsim's manual page.

  docs_cover_options.py --launcher L --tool T
"""
import argparse
import os
import re
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "docs", "man"))
sys.dont_write_bytecode = True  # no cache folder in the source tree
from scdoc_from_markdown import convert  # noqa: E402  the page's source as the build writes it
MARKDOWN = os.path.join(ROOT, "docs", "zelsmbus.md")
LAUNCHER_MANUAL = os.path.join(ROOT, "docs", "man", "zelsim.1.scd")
COMPLETION = os.path.join(ROOT, "tools", "zelsmbus", "zelsmbus.bash-completion")


def help_text(launcher, tool, arguments):
    result = subprocess.run([launcher, "--", tool] + arguments + ["--help"],
                            capture_output=True, text=True, timeout=60)
    if result.returncode != 0:
        raise RuntimeError("%s --help failed: %s" % (" ".join(arguments), result.stderr))
    return result.stdout


def section(text, title):
    """The indented lines under a heading of CLI11's help ("Options:")."""
    lines = []
    inside = False
    for line in text.splitlines():
        if line.strip() == title:
            inside = True
        elif inside and line and not line.startswith(" "):
            break
        elif inside and line.strip() and not line.startswith("   "):
            lines.append(line)   # an entry; a folded description's lines start further in
    return lines


def options_of(text):
    names = []
    for line in section(text, "Options:"):
        first_column = re.split(r"\s{2,}", line.strip())[0]
        for name in re.findall(r"(?:^|,)(--?[A-Za-z0-9][A-Za-z0-9-]*)", first_column):
            if name not in ("-h", "--help"):
                names.append(name)
    return names


def launcher_gaps(launcher):
    """What zelsim's manual page lacks of the commands in the usage lines of
    `zelsim --help` (zelsim start, ..., stop | reset | status) and its options."""
    result = subprocess.run([launcher, "--help"], capture_output=True, text=True, timeout=60)
    if result.returncode != 0:
        return ["zelsim --help failed: " + result.stderr]
    manual = open(LAUNCHER_MANUAL, encoding="utf-8").read()
    commands = []
    for line in result.stdout.splitlines():
        match = re.match(r"(?:usage:)?\s*zelsim\s+(.*)", line)
        if not match:
            break
        commands += [word for word in match.group(1).split() if re.fullmatch(r"[a-z]+", word)]
    options = sorted(set(re.findall(r"(?<![\w-])(--[a-z][a-z-]*)", result.stdout)) - {"--help"})
    gaps = [] if commands else ["zelsim --help lists no commands"]
    gaps += ["zelsim's manual page does not describe zelsim " + command
             for command in commands if "*zelsim %s*" % command not in manual]
    gaps += ["zelsim's manual page lacks " + option
             for option in options if "*%s*" % option not in manual]
    return gaps


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--tool", required=True)
    args = parser.parse_args()

    markdown = open(MARKDOWN, encoding="utf-8").read()
    manual = convert(markdown)
    completion = open(COMPLETION, encoding="utf-8").read()
    completed_commands = re.search(r'local commands="([^"]*)"', completion).group(1).split()

    missing = launcher_gaps(args.launcher)
    tool_help = help_text(args.launcher, args.tool, [])
    commands = [line.split()[0] for line in section(tool_help, "Subcommands:")]
    # The help fits a terminal of 80 columns.
    for command in [None] + commands:
        text = tool_help if command is None else help_text(args.launcher, args.tool, [command])
        missing += ["zelsmbus %s--help has a line of %d columns: %s"
                    % (command + " " if command else "", len(line), line)
                    for line in text.splitlines() if len(line) > 79]
    if not commands:
        missing.append("zelsmbus --help lists no commands")
    for command in commands:
        if "### " + command not in markdown:
            missing.append("docs/zelsmbus.md has no section for " + command)
        if "*%s*" % command not in manual and "*zelsmbus %s*" % command not in manual:
            missing.append("the manual page does not describe " + command)
        if command not in completed_commands:
            missing.append("the completion does not offer the command " + command)
        match = re.search(r"^\s*%s\) options\+=\"([^\"]*)\"" % re.escape(command), completion,
                          re.MULTILINE)
        completed = match.group(1).split() if match else []
        for option in options_of(help_text(args.launcher, args.tool, [command])):
            if "`%s`" % option not in markdown and "`%s " % option not in markdown:
                missing.append("docs/zelsmbus.md lacks %s (%s)" % (option, command))
            if "*%s*" % option not in manual:
                missing.append("the manual page lacks %s (%s)" % (option, command))
            if option not in completed:
                missing.append("the completion of %s lacks %s" % (command, option))
    for line in missing:
        print(line)
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main())
