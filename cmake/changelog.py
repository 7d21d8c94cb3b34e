#!/usr/bin/env python3
"""The releases of CHANGELOG.md, one per "## VERSION (YYYY-MM-DD)" or
"## VERSION (YYYY-MM)" (a month alone stands for its last day: the latest the
text allows), for the Debian package and its AppStream metainfo.

    changelog.py debian CHANGELOG.md OUTPUT PACKAGE "NAME <MAIL>"
        the Debian changelog of a native package, paragraphs and "* " items
        wrapped to 80 columns as Debian's tools show them
    changelog.py appstream CHANGELOG.md
        prints the <release> elements, newest first
"""
import calendar
import datetime
import email.utils
import re
import sys
import textwrap

WIDTH = 80


def blocks(lines):
    """Paragraphs and list items of a section as (indent, bullet, text, after
    an empty line)."""
    block = None
    gap = False
    for line in lines:
        item = re.match(r"^(\s*)([*-]) (.*)$", line)
        if not line.strip():
            if block:
                yield block
            block = None
            gap = True
        elif item:
            if block:
                yield block
            block = (len(item.group(1)), True, item.group(3).strip(), gap)
            gap = False
        elif block:
            block = block[:2] + (block[2] + " " + line.strip(), block[3])
        else:
            block = (len(line) - len(line.lstrip()), False, line.strip(), gap)
            gap = False
    if block:
        yield block


def entry(package, version, date, lines, maintainer):
    body = []
    for indent, bullet, text, gap in blocks(lines):
        lead = "  " + " " * indent
        first, rest = (lead + "* ", lead + "  ") if bullet else (lead, lead)
        if body and gap:
            body.append("")
        body.append(textwrap.fill(text, WIDTH, initial_indent=first, subsequent_indent=rest,
                                  break_long_words=False, break_on_hyphens=False))
    stamp = email.utils.format_datetime(datetime.datetime.combine(date, datetime.time(), datetime.timezone.utc))
    return (f"{package} ({version}) unstable; urgency=medium\n\n" + "\n".join(body)
            + f"\n\n -- {maintainer}  {stamp}\n")


def releases(source):
    """(version, date, lines of its section), newest first as in the file."""
    result = []
    for line in open(source, encoding="utf-8").read().splitlines():
        header = re.match(r"^## (\S+) \((\d{4})-(\d{2})(?:-(\d{2}))?\)\s*$", line)
        if header:
            year, month = int(header.group(2)), int(header.group(3))
            day = int(header.group(4) or calendar.monthrange(year, month)[1])
            result.append((header.group(1), datetime.date(year, month, day), []))
        elif line.startswith("## ") and line[3:4].isdigit() or line.startswith("#") and result:
            sys.exit(f"{source}: not \"## VERSION (YYYY-MM[-DD])\": {line}")
        elif result:
            result[-1][2].append(line)
    if not result:
        sys.exit(f"{source}: no \"## VERSION (YYYY-MM[-DD])\" section")
    return result


def main(mode, source, *args):
    if mode == "debian":
        output, package, maintainer = args
        with open(output, "w", encoding="utf-8") as out:
            out.write("\n".join(entry(package, version, date, lines, maintainer)
                                for version, date, lines in releases(source)))
    elif mode == "appstream":
        for version, date, _ in releases(source):
            print(f'<release version="{version}" date="{date.isoformat()}"/>')
    else:
        sys.exit(f"unknown mode {mode}")


if __name__ == "__main__":
    main(*sys.argv[1:])
