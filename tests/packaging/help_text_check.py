#!/usr/bin/env python3
"""help_text_check.py HELPDIR: no line of the help's sources (the pages and
the table of contents) breaks between two Japanese characters. The viewer
turns every line break into a space, which shows in Japanese text as a stray
gap in mid-sentence. A break is allowed where either side, indentation
aside, is ASCII (a tag, a space, an English word). Exit 0 when none is found."""
import pathlib
import sys


def bad_breaks(text):
    """Line numbers (1-based) of the lines that end inside Japanese text."""
    lines = text.split("\n")
    found = []
    for i in range(len(lines) - 1):
        before = lines[i].rstrip()
        after = next((l.lstrip() for l in lines[i + 1:] if l.strip()), "")
        if before and after and not before[-1].isascii() and not after[0].isascii():
            found.append(i + 1)
    return found


def main():
    folder = pathlib.Path(sys.argv[1])
    pages = sorted(folder.glob("*.html"))
    if not pages:
        print(f"FAIL: no page in {folder}")
        return 1
    sources = pages + [folder / "rivak.hhc"]
    failures = 0
    for path in sources:
        for n in bad_breaks(path.read_text(encoding="utf-8")):
            print(f"FAIL: {path.name}:{n}: a line break inside Japanese text")
            failures += 1
    print(f"{len(sources)} help sources, {failures} break(s) inside Japanese text")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
