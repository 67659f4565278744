#!/usr/bin/python3
"""Validates JSON documents against a JSON Schema with Debian's python3-jsonschema.

Usage: validate_json.py SCHEMA VALUES
VALUES holds a JSON array of documents. Prints a JSON array with one array
per document: every way it breaks the schema, as "<JSON pointer>: <what>".
"""
import json
import sys

import jsonschema


def main():
    with open(sys.argv[1], encoding="utf-8") as f:
        schema = json.load(f)
    with open(sys.argv[2], encoding="utf-8") as f:
        values = json.load(f)
    cls = jsonschema.validators.validator_for(schema)
    cls.check_schema(schema)
    validator = cls(schema)
    out = []
    for value in values:
        errors = sorted(validator.iter_errors(value), key=lambda e: list(e.absolute_path))
        out.append(["/" + "/".join(str(p) for p in e.absolute_path) + ": " + e.message
                    for e in errors])
    json.dump(out, sys.stdout)


if __name__ == "__main__":
    main()
