#!/usr/bin/env python3
"""check_skips.py LIST JUNIT.xml...: holds every skipped test of ctest runs
(their --output-junit reports) against the list of expected skips and exits 1
when one is not on it.

A GoogleTest program reports each skipped test on a line
"rivak-skipped: <program> <Suite.Test>: <reason>" (tests/gtest_skip_main.cpp);
any other test skipped by ctest (exit 77) counts as "<test> -" with the first
line of its output as the reason. LIST holds one expected skip a line:
"<program> <Suite.Test or -> <reason>"; "#" starts a comment."""
import re
import sys
import xml.etree.ElementTree as ET

SKIP_LINE = re.compile(r"^rivak-skipped: (\S+) (\S+): ?(.*)$", re.M)


def expected_skips(path):
    skips = {}
    for line in open(path, encoding="utf-8"):
        line = line.split("#", 1)[0].strip()
        if line:
            program, test, *reason = line.split(None, 2)
            skips[(program, test)] = reason[0] if reason else ""
    return skips


def observed_skips(report):
    for case in ET.parse(report).getroot().iter("testcase"):
        out = case.findtext("system-out") or ""
        lines = SKIP_LINE.findall(out)
        for program, test, reason in lines:
            yield program, test, reason
        if case.find("skipped") is not None and not lines:
            first = next((l for l in out.splitlines() if l.strip()), "")
            yield case.get("name"), "-", first.strip()


def main():
    expected = expected_skips(sys.argv[1])
    unexpected = 0
    for report in sys.argv[2:]:
        for program, test, reason in observed_skips(report):
            if (program, test) in expected:
                print(f"  expected skip   {program} {test}: {reason}")
            else:
                print(f"  UNEXPECTED SKIP {program} {test}: {reason}")
                unexpected += 1
    if unexpected:
        print(f"{unexpected} test(s) skipped that {sys.argv[1]} does not expect")
    sys.exit(1 if unexpected else 0)


if __name__ == "__main__":
    main()
