#!/usr/bin/env python3
"""Flattens the test-stream manifest (JSON) into the tab-separated table the
conformance tests read: python3 tools/manifest_to_tsv.py tests/data/manifest.json > tests/data/manifest.tsv"""
import json
import sys

COLUMNS = ["file", "form", "profile", "action", "reference_exact_possible", "reference",
           "derived_from", "sbr", "expected_output_rate", "expected_output_channels", "frames"]

def cell(value):
    if value is None:
        return "-"
    if isinstance(value, bool):
        return "1" if value else "0"
    return str(value)

def main():
    streams = json.load(open(sys.argv[1]))["streams"]
    print("\t".join(COLUMNS))
    for s in streams:
        print("\t".join(cell(s.get(c)) for c in COLUMNS))

if __name__ == "__main__":
    main()
