#!/usr/bin/python3
"""Validates what pinwright-cli printed with --json against docs/pinwright-cli.schema.json: the definition
of the command that ran ($defs/COMMAND). Exits 0 when valid, 1 with the faults on standard output.
Usage: validate_cli_json.py SCHEMA COMMAND OUTPUT_FILE"""
import json
import sys

import jsonschema

schema_path, command, output_path = sys.argv[1:4]
with open(schema_path, encoding="utf-8") as f:
    schema = json.load(f)
jsonschema.Draft202012Validator.check_schema(schema)
if command not in schema["$defs"]:
    print(f"the schema has no definition for {command}")
    sys.exit(1)
with open(output_path, encoding="utf-8") as f:
    output = json.load(f)
# The command's own definition, with the whole schema's definitions to refer to; for a command on printers
# each port's result on its own too, so that a fault is named where it is.
def validator_for(definition):
    one = {k: v for k, v in schema.items() if k != "anyOf"}
    one["$ref"] = "#/$defs/" + definition
    return jsonschema.Draft202012Validator(one)

faults = []
checks = [(command, output, "")]
result = command + "-result"
if result in schema["$defs"] or command in ("set", "apply"):
    result = result if result in schema["$defs"] else "write-result"
    items = output if isinstance(output, list) else [output]
    checks += [(result, item, f"[{i}]") for i, item in enumerate(items)]
for definition, value, where in checks:
    for e in validator_for(definition).iter_errors(value):
        path = "/".join(str(p) for p in e.absolute_path)
        faults.append(f"{definition} {where}/{path}: {e.message[:300]}")
for f in faults:
    print(f)
# Whatever one command prints is also valid against the schema as a whole.
if not faults:
    for e in jsonschema.Draft202012Validator(schema).iter_errors(output):
        print("against the whole schema:", e.message[:300])
        faults.append(e)
sys.exit(1 if faults else 0)
