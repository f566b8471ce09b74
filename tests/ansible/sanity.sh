#!/usr/bin/env bash
# The collection pinwright.escpos under `ansible-test sanity`, offline, with Debian's ansible-core: from a copy
# at ansible_collections/pinwright/escpos in the build directory, on the system's Python, no --docker, no
# --venv, no --requirements.
#
# Seven sanity tests want pinned requirements that ansible-test installs with pip into a virtual environment
# of their own (ansible-doc, import, pep8, pylint, runtime-metadata, validate-modules, yamllint); with no
# network and no pip here they cannot start, so ansible-test skips them. Four of their checkers are then run
# directly on Debian's libraries instead: validate-modules (python3-voluptuous), yamllint (yamllint),
# runtime-metadata (python3-voluptuous), pep8 (pycodestyle, with ansible-test's settings); ansible-doc is
# run itself, and the modules' EXAMPLES are checked as a playbook. import and pylint are not run.
# Usage: sanity.sh BUILD_DIR
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "$1" && pwd)"
python=/usr/bin/python3
for tool in ansible-test ansible-doc ansible-playbook ansible-lint pycodestyle; do
  command -v "$tool" >/dev/null || { echo "sanity: $tool is missing: run scripts/setup" >&2; exit 1; }
done
work="$build/ansible-sanity"
rm -rf "$work"
mkdir -p "$work/ansible_collections/pinwright" "$work/home"
cp -r "$root/ansible" "$work/ansible_collections/pinwright/escpos"
collection="$work/ansible_collections/pinwright/escpos"
cd "$collection"
# ansible-test takes the files git knows of: the copy is a repository of its own, not the ignored build
# directory of ours.
git init -q . && git add -A
# ansible-test keeps its virtual environments under ~/.ansible/test: one of the build's own.
export HOME="$work/home" ANSIBLE_COLLECTIONS_PATH="$work" ANSIBLE_NOCOLOR=1
version="$($python -c 'import sys; print("%d.%d" % sys.version_info[:2])')"
core="$(ansible --version | sed -n '1s/.*core \([0-9]*\.[0-9]*\).*/\1/p')"
sanity_root="$($python -c 'import ansible_test, os; print(os.path.dirname(ansible_test.__file__))')/_util/controller/sanity"

fail=0
failed() { echo "sanity: $*" >&2; fail=1; }

echo "--- ansible-test sanity (ansible-core $core, Python $version)"
needs_pip=(ansible-doc import pep8 pylint runtime-metadata validate-modules yamllint)
skips=()
for t in "${needs_pip[@]}"; do skips+=(--skip-test "$t"); done
status=0
timeout -k 5 600 ansible-test sanity --python "$version" --color no "${skips[@]}" >"$work/ansible-test.log" 2>&1 ||
  status=$?
grep -v 'Using locale "C.UTF-8"\|Reviewing previous' "$work/ansible-test.log" || true
[ "$status" -eq 0 ] || failed "ansible-test sanity ended with status $status"
echo "skipped (pip requirements): ${needs_pip[*]}"

modules=(plugins/modules/*.py)
python_files=($(find plugins -name '*.py' | sort))
yaml_files=($(find . -name '*.yml' -not -path './tests/output/*' | sed 's|^\./||' | sort))

# The sanity ignores of this ansible-core, as "path code" lines of one test.
ignored() {
  local file="tests/sanity/ignore-$core.txt"
  [ -f "$file" ] || return 0
  sed -n "s/^\([^ ]*\) $1:\([^ ]*\).*/\1 \2/p" "$file"
}

echo "--- validate-modules, on Debian's voluptuous"
timeout -k 5 120 env PYTHONPATH="$sanity_root/validate-modules" "$python" "$sanity_root/validate-modules/validate.py" \
  --format json --arg-spec --collection ansible_collections/pinwright/escpos --collection-version \
  "$(sed -n 's/^version: *//p' galaxy.yml)" "${modules[@]}" >"$work/validate.json" || true
"$python" - "$work/validate.json" "$(ignored validate-modules)" "${#modules[@]}" <<'EOF' || failed "validate-modules"
import json, sys
report = json.load(open(sys.argv[1]))
ignored = set(tuple(line.split()) for line in sys.argv[2].splitlines() if line.strip())
problems = [(path, e['code'], e['msg']) for path, r in sorted(report.items()) for e in r['errors'] + r['traces']
            if (path, e.get('code')) not in ignored]
for p in problems:
    print('%s: %s: %s' % p)
print('validate-modules: %s modules, %d problem(s); ignored: %s' % (sys.argv[3], len(problems),
      ', '.join(' '.join(i) for i in sorted(ignored)) or 'nothing'))
sys.exit(1 if problems else 0)
EOF

echo "--- yamllint (ansible-test's rules; the modules' documentation blocks too)"
printf '%s\n' "${yaml_files[@]}" "${python_files[@]}" |
  timeout -k 5 120 "$python" "$sanity_root/yamllint/yamllinter.py" >"$work/yamllint.json"
"$python" -c '
import json, sys
m = json.load(open(sys.argv[1]))["messages"]
for x in m: print("%(path)s:%(line)s:%(column)s: %(code)s: %(message)s" % x)
print("yamllint: %d problem(s)" % len(m)); sys.exit(1 if m else 0)' "$work/yamllint.json" || failed "yamllint"

echo "--- runtime-metadata"
out="$(echo meta/runtime.yml | timeout -k 5 60 "$python" "$sanity_root/code-smell/runtime-metadata.py" 2>&1)" ||
  failed "runtime-metadata did not run: $out"
[ -z "$out" ] || failed "runtime-metadata: $out"

echo "--- pep8 (pycodestyle with ansible-test's settings)"
ignore="$(grep -v '^#' "$sanity_root/pep8/current-ignore.txt" | paste -sd, -)"
timeout -k 5 60 pycodestyle --max-line-length 160 --ignore "$ignore" "${python_files[@]}" || failed "pep8"

echo "--- ansible-doc"
listed="$(timeout -k 5 60 ansible-doc -l pinwright.escpos 2>&1)"
for m in memory_switches printer_info; do
  grep -q "^pinwright.escpos.$m " <<<"$listed" || failed "ansible-doc -l does not list $m: $listed"
  timeout -k 5 60 ansible-doc "pinwright.escpos.$m" >"$work/$m.txt" 2>&1 || failed "ansible-doc $m: $(cat "$work/$m.txt")"
  timeout -k 5 60 ansible-doc --json "pinwright.escpos.$m" >"$work/$m.json" 2>&1 || failed "ansible-doc --json $m"
done
"$python" - "$work" <<'EOF' || failed "ansible-doc content"
import json, os, sys
work = sys.argv[1]
ok = True
for m in ('memory_switches', 'printer_info'):
    doc = json.load(open(os.path.join(work, m + '.json')))['pinwright.escpos.' + m]
    for part in ('doc', 'examples', 'return'):
        if not doc.get(part):
            print('%s: no %s' % (m, part)); ok = False
    # The shared line options come from the doc fragment.
    for option in ('cli', 'baud', 'data_bits', 'parity', 'stop_bits'):
        if option not in doc['doc']['options']:
            print('%s: option %s is not documented' % (m, option)); ok = False
text = open(os.path.join(work, 'memory_switches.txt')).read()
for needle in ('= port', 'SUBOPTIONS', 'code-page', 'PC858', 'check_mode', 'RETURN VALUES', 'not_taken'):
    if needle not in text:
        print('memory_switches: ansible-doc does not render %r' % needle); ok = False
sys.exit(0 if ok else 1)
EOF

echo "--- the modules' EXAMPLES, as a playbook: syntax check and ansible-lint"
mkdir -p "$work/examples"
"$python" - "$work" >"$work/examples/examples.yml" <<'EOF'
import json, os, sys
work = sys.argv[1]
print('---\n- name: The modules\' examples\n  hosts: localhost\n  gather_facts: false\n  tasks:')
for m in ('memory_switches', 'printer_info'):
    examples = json.load(open(os.path.join(work, m + '.json')))['pinwright.escpos.' + m]['examples']
    for line in examples.strip('\n').splitlines():
        print(('    ' + line).rstrip())
EOF
(cd "$work/examples" &&
  timeout -k 5 120 ansible-playbook --syntax-check examples.yml >/dev/null 2>"$work/examples/syntax.err" ||
  failed "EXAMPLES syntax: $(cat "$work/examples/syntax.err")")
# ansible-compat (2.14) finds collections in the parent of ANSIBLE_COLLECTIONS_PATH; ansible in either.
(cd "$work/examples" && ANSIBLE_COLLECTIONS_PATH="$work/ansible_collections" \
  timeout -k 5 300 ansible-lint --offline --nocolor -p examples.yml) || failed "ansible-lint on the EXAMPLES"

echo "--- ansible-galaxy: the collection builds from galaxy.yml and installs"
timeout -k 5 120 ansible-galaxy collection build --output-path "$work/dist" . >/dev/null || failed "collection build"
tarball="$(ls "$work"/dist/pinwright-escpos-*.tar.gz 2>/dev/null | head -n1)"
if [ -n "$tarball" ]; then
  timeout -k 5 120 ansible-galaxy collection install --offline -p "$work/installed" "$tarball" \
    >"$work/install.log" 2>&1 || failed "collection install: $(cat "$work/install.log")"
  ANSIBLE_COLLECTIONS_PATH="$work/installed" timeout -k 5 60 ansible-doc -l pinwright.escpos 2>&1 |
    grep -q '^pinwright.escpos.memory_switches ' || failed "the installed collection has no memory_switches"
fi

[ "$fail" -eq 0 ] || { echo "sanity: FAILED" >&2; exit 1; }
echo "sanity: passed"
