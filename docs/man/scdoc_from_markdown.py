#!/usr/bin/python3
"""Writes a manual page's scdoc source from the Markdown reference it is kept in.

  scdoc_from_markdown.py REFERENCE.md PAGE.scd

The reference is the one text of a program's manual: read as it is in the
repository, and turned here into the page that `man` shows. It keeps to the
Markdown this needs: a first heading "# name(section)", "##" sections and
"###" subsections, paragraphs, fenced blocks (under SYNOPSIS: the usage
lines), "- " lists, definition lists (a term line, then ": " and its text),
tables, `code`, **bold** and *emphasis*.

Two kinds of comment choose what only one of the two shows:

  <!-- repository only -->        the lines up to <!-- end --> are left out of
  ...                             the page (paths of the source tree, notes for
  <!-- end -->                    its readers)

  <!-- manual page only           the lines up to --> are the page's alone
  ...                             (what an installed system offers instead)
  -->

A table becomes a list of its rows: the first cell as the term, the others
below it (each after its column's name when there are more than two).
"""
import re
import sys


def escape(text):
    """Text taken literally by scdoc."""
    return text.replace("\\", "\\\\").replace("*", "\\*").replace("_", "\\_")


INLINE = re.compile(r"`([^`]+)`|\*\*(.+?)\*\*|\*([^*\s][^*]*?)\*")


WORD = re.compile(r"\s+|\[|\]|\||\.\.\.|[^\s\[\]|.]+(?:\.[^\s\[\]|.]+)*|.")
PLACEHOLDER = re.compile(r"[A-Z][A-Z0-9-]*")


def command_line(text):
    """A command line or an option with its values as a manual page shows
    them: names in bold, placeholders (RESOURCE, FILE) underlined."""
    out = []
    for word in WORD.findall(text):
        if word.isspace() or word in ("[", "]", "|", "...", ","):
            out.append(escape(word))
        elif PLACEHOLDER.fullmatch(word):
            out.append("_" + escape(word) + "_")
        else:
            out.append("*" + escape(word) + "*")
    return "".join(out)


def inline(text):
    """A line of Markdown as scdoc: code and bold in bold, emphasis underlined;
    an option written as code (`--backup FILE`) as a command line."""
    out, last = [], 0
    for match in INLINE.finditer(text):
        out.append(escape(text[last:match.start()]))
        code, bold, emphasis = match.groups()
        if code is not None and code.startswith("-"):
            out.append(command_line(code))
        elif code is not None:
            out.append("*" + escape(code) + "*")
        elif bold is not None:
            out.append("*" + escape(bold) + "*")
        else:
            out.append("_" + escape(emphasis) + "_")
        last = match.end()
    out.append(escape(text[last:]))
    return "".join(out)


def cells(line):
    return [cell.strip() for cell in line.strip().strip("|").split("|")]


def table(rows):
    """A Markdown table's rows (header, rule, body) as a list of terms."""
    header, body = cells(rows[0]), [cells(row) for row in rows[2:]]
    out = []
    for row in body:
        if len(header) == 2:
            text = inline(row[1])
        else:
            text = "; ".join(escape(name) + ": " + inline(cell)
                             for name, cell in zip(header[1:], row[1:]) if cell)
        out += [inline(row[0]), "\t" + text, ""]
    return out


def chosen(lines):
    """The page's lines: repository-only parts out, manual-page-only parts in."""
    out, skipping, page_only = [], False, False
    for line in lines:
        stripped = line.strip()
        if stripped == "<!-- repository only -->":
            skipping = True
        elif stripped == "<!-- end -->" and skipping:
            skipping = False
        elif stripped == "<!-- manual page only":
            page_only = True
        elif stripped == "-->" and page_only:
            page_only = False
        elif not skipping:
            out.append(line)
    if skipping or page_only:
        raise SystemExit("an unclosed <!-- repository only --> or <!-- manual page only")
    return out


def joined(lines, i):
    """The text of lines[i] and of the indented lines that continue it, as one
    line (inline code may run across the reference's line breaks), and the
    index after them."""
    text = lines[i]
    i += 1
    while i < len(lines) and lines[i].startswith("  ") and lines[i].strip():
        text += " " + lines[i].strip()
        i += 1
    return text, i


def paragraph(lines, i):
    """The lines of a paragraph as one line, and the index after it."""
    text = lines[i]
    i += 1
    while i < len(lines) and lines[i].strip() and not re.match(r"(```|#|\||- |: )", lines[i]):
        text += " " + lines[i].strip()
        i += 1
    return text, i


def convert(markdown):
    lines = chosen(markdown.splitlines())
    title = re.fullmatch(r"# (\S+\(\d\))", lines[0])
    if not title:
        raise SystemExit("the reference must begin with '# name(section)'")
    out = [title.group(1), ""]
    section = ""
    i = 1
    while i < len(lines):
        line = lines[i]
        if line.startswith("```"):
            block = []
            i += 1
            while i < len(lines) and not lines[i].startswith("```"):
                block.append(lines[i])
                i += 1
            if section == "SYNOPSIS":
                # The usage lines, each a paragraph of its own.
                for usage in block:
                    out += [command_line(usage), ""]
            else:
                out += ["```"] + block + ["```"]
            i += 1
        elif line.startswith("### "):
            out.append("## " + escape(line[4:]))
            i += 1
        elif line.startswith("## "):
            section = line[3:].strip()
            out.append("# " + escape(section))
            i += 1
        elif line.startswith("|"):
            rows = []
            while i < len(lines) and lines[i].startswith("|"):
                rows.append(lines[i])
                i += 1
            out += table(rows)
        elif line.startswith("- "):
            text, i = joined(lines, i)
            out.append("- " + inline(text[2:]))
        elif line.startswith(": "):
            text, i = joined(lines, i)
            out.append("\t" + inline(text[2:]))
        elif not line.strip():
            out.append("")
            i += 1
        else:
            text, i = paragraph(lines, i)
            out.append(inline(text))
    return "\n".join(out).rstrip("\n") + "\n"


def main():
    if len(sys.argv) != 3:
        raise SystemExit(__doc__)
    with open(sys.argv[1], encoding="utf-8") as source:
        page = convert(source.read())
    with open(sys.argv[2], "w", encoding="utf-8") as target:
        target.write(page)


if __name__ == "__main__":
    main()
