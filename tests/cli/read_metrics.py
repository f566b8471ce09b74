#!/usr/bin/python3
"""Reads a node_exporter textfile with the Prometheus client's own parser of the text format and prints
its samples as JSON: {"name{label=value,...}": value}, labels sorted. Exits 1 when the file does not parse,
a family has no HELP, or one is not a gauge."""
import json
import sys

from prometheus_client.parser import text_string_to_metric_families


def main():
    with open(sys.argv[1], encoding="utf-8") as f:
        text = f.read()
    samples = {}
    try:
        for family in text_string_to_metric_families(text):
            if not family.documentation:
                print(f"{family.name}: no HELP", file=sys.stderr)
                return 1
            if family.type != "gauge":
                print(f"{family.name}: TYPE {family.type}, not gauge", file=sys.stderr)
                return 1
            for s in family.samples:
                labels = ",".join(f"{k}={v}" for k, v in sorted(s.labels.items()))
                samples[f"{s.name}{{{labels}}}"] = s.value
    except ValueError as e:
        print(f"does not parse: {e}", file=sys.stderr)
        return 1
    print(json.dumps(samples, sort_keys=True))
    return 0


if __name__ == "__main__":
    sys.exit(main())
