#!/usr/bin/env python3
"""Validates a module test report (JSON) against its schema.

Usage: validate-report-json.py SCHEMA REPORT
Prints every violation and exits 1 when there is one, 0 when the report fits.
"""
import json
import sys

import jsonschema


def main():
    if len(sys.argv) != 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    with open(sys.argv[1], encoding="utf-8") as f:
        schema = json.load(f)
    with open(sys.argv[2], encoding="utf-8") as f:
        report = json.load(f)
    validator_class = jsonschema.validators.validator_for(schema)
    validator_class.check_schema(schema)
    validator = validator_class(schema, format_checker=jsonschema.FormatChecker())
    errors = sorted(validator.iter_errors(report), key=lambda e: list(e.absolute_path))
    for error in errors:
        path = "/".join(str(p) for p in error.absolute_path) or "(root)"
        print(f"{path}: {error.message}")
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
