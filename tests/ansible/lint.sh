#!/usr/bin/env bash
# ansible-lint on the collection's examples (a fleet's inventory, its group_vars and the playbooks), offline,
# strict (a warning fails too), with the modules found so that their arguments are checked.
# Usage: lint.sh BUILD_DIR
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "$1" && pwd)"
command -v ansible-lint >/dev/null || { echo "lint: ansible-lint is missing: run scripts/setup" >&2; exit 1; }
work="$build/ansible-lint"
rm -rf "$work"
mkdir -p "$work/ansible_collections/pinwright" "$work/home"
cp -r "$root/ansible" "$work/ansible_collections/pinwright/escpos"
cd "$work/ansible_collections/pinwright/escpos/examples"
# ansible-compat (for ansible-core 2.14) looks for collections in the parent of ANSIBLE_COLLECTIONS_PATH, and
# ansible in the path itself or in its ansible_collections: give the ansible_collections folder.
HOME="$work/home" ANSIBLE_COLLECTIONS_PATH="$work/ansible_collections" \
  timeout -k 5 300 ansible-lint --offline --strict --nocolor inventory.yml group_vars/tills.yml printers.yml report.yml
