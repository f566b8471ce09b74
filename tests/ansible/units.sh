#!/usr/bin/env bash
# The collection's unit tests (ansible/tests/unit: the modules with pinwright-cli mocked) under Debian's
# pytest, offline, from a copy at ansible_collections/pinwright/escpos in the build directory so that the
# modules' imports of the collection resolve as on a managed host.
# Usage: units.sh BUILD_DIR [pytest args]
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "$1" && pwd)"
shift
python=/usr/bin/python3
"$python" -c 'import pytest' 2>/dev/null || { echo "units: python3-pytest is missing: run scripts/setup" >&2; exit 1; }
work="$build/ansible-units"
rm -rf "$work"
mkdir -p "$work/ansible_collections/pinwright"
cp -r "$root/ansible" "$work/ansible_collections/pinwright/escpos"
cd "$work"
PYTHONPATH="$work" PYTHONDONTWRITEBYTECODE=1 timeout -k 5 120 "$python" -m pytest -p no:cacheprovider -q \
  ansible_collections/pinwright/escpos/tests/unit "$@"
