#!/usr/bin/env python3
"""Counts what one ctest run did, from its JUnit report (ctest --output-junit).

    test_counts.py LABEL REPORT.xml [TALLY]

Prints the tests run, passed and skipped, and every skipped test with the
reason it gave (GoogleTest's "Skipped" message). Appends the count line to
TALLY when given, so that the test command can list every build's count at
its end. Exits non-zero when the report is missing or holds no test.
"""
import re
import sys
import xml.etree.ElementTree as ET


def skip_reason(case):
    out = case.findtext("system-out") or ""
    # GoogleTest prints "file:line: Skipped" and the message on the next line.
    found = re.search(r": Skipped\n(.*)", out)
    if found and found.group(1).strip():
        return found.group(1).strip()
    skipped = case.find("skipped")
    if skipped is not None and skipped.get("message"):
        return skipped.get("message")
    return "no reason given"


def main():
    label, report = sys.argv[1], sys.argv[2]
    tally = sys.argv[3] if len(sys.argv) > 3 else None
    try:
        cases = ET.parse(report).getroot().iter("testcase")
    except (OSError, ET.ParseError) as error:
        sys.exit(f"{label}: no test report ({error})")
    run = passed = 0
    skipped = []
    for case in cases:
        status = case.get("status", "run")
        if status in ("notrun", "disabled") or case.find("skipped") is not None:
            skipped.append((case.get("name"), skip_reason(case)))
            continue
        run += 1
        if status == "run" and case.find("failure") is None:
            passed += 1
    line = f"{label}: {run} tests run, {passed} passed, {len(skipped)} skipped"
    print(line)
    for name, reason in skipped:
        print(f"  skipped {name}: {reason}")
    if tally:
        with open(tally, "a", encoding="utf-8") as out:
            out.write(line + "\n")
    if run == 0:
        sys.exit(f"{label}: no test ran")


main()
