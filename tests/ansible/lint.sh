#!/usr/bin/env bash
# ansible-lint's production profile, offline and strict (a warning fails too): on the collection's root (its
# galaxy.yml, meta/, changelogs/, plugins, examples and test targets, as the collection is published), and on
# the examples as a fleet's playbook directory (its inventory and group_vars, with the modules found so that
# their arguments are checked).
# Usage: lint.sh BUILD_DIR
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "$1" && pwd)"
command -v ansible-lint >/dev/null || { echo "lint: ansible-lint is missing: run scripts/setup" >&2; exit 1; }
work="$build/ansible-lint"
rm -rf "$work"
mkdir -p "$work/ansible_collections/pinwright" "$work/home"
cp -r "$root/ansible" "$work/ansible_collections/pinwright/escpos"
collection="$work/ansible_collections/pinwright/escpos"
# ansible-lint lints the files git knows of: the copy is a repository of its own, not the ignored build
# directory of ours.
(cd "$collection" && git init -q . && git add -A)
# ansible-compat (for ansible-core 2.14) looks for collections in the parent of ANSIBLE_COLLECTIONS_PATH, and
# ansible in the path itself or in its ansible_collections: give the ansible_collections folder.
lint() { HOME="$work/home" ANSIBLE_COLLECTIONS_PATH="$work/ansible_collections" \
  timeout -k 5 300 ansible-lint --offline --strict --nocolor --profile production "$@"; }
fail=0
echo "--- ansible-lint --profile production on the collection"
(cd "$collection" && lint) || { echo "lint: the collection fails the production profile" >&2; fail=1; }
echo "--- ansible-lint --profile production on examples/"
(cd "$collection/examples" && lint inventory.yml group_vars/tills.yml printers.yml report.yml) ||
  { echo "lint: examples/ fails the production profile" >&2; fail=1; }
exit "$fail"
