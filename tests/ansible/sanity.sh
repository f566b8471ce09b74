#!/usr/bin/env bash
# The collection pinwright.escpos under `ansible-test sanity`, offline, with Debian's ansible-core: from a copy
# at ansible_collections/pinwright/escpos in the build directory, on the system's Python, no --docker, no
# --venv, no --requirements.
#
# Eight sanity tests want pinned requirements that ansible-test installs with pip into a virtual environment
# of their own (ansible-doc, changelog, import, pep8, pylint, runtime-metadata, validate-modules, yamllint);
# with no network and no pip here they cannot start, so they are skipped. Four of their checkers are then run
# directly on Debian's libraries instead: validate-modules (python3-voluptuous), yamllint (yamllint),
# runtime-metadata (python3-voluptuous), pep8 (pycodestyle, with ansible-test's settings), pylint (pylint,
# with ansible-test's configuration and checkers for a collection); ansible-doc is
# run itself, and the modules' EXAMPLES are checked as a playbook; changelog (antsibull-changelog, not
# packaged) is replaced by a check of changelog.yaml against its fragments. import is not run.
# There is no sanity ignore file: one in tests/sanity/ fails the run.
# Usage: sanity.sh BUILD_DIR
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "$1" && pwd)"
python=/usr/bin/python3
for tool in ansible-test ansible-doc ansible-playbook ansible-lint pycodestyle pylint; do
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
needs_pip=(ansible-doc changelog import pep8 pylint runtime-metadata validate-modules yamllint)
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

echo "--- no sanity ignore entries"
if [ -d tests/sanity ] && [ -n "$(find tests/sanity -name 'ignore-*.txt' -o -name 'skip-*.txt')" ]; then
  failed "ignore or skip files hide sanity failures: $(find tests/sanity -name '*.txt' | tr '\n' ' ')"
fi

echo "--- validate-modules, on Debian's voluptuous"
timeout -k 5 120 env PYTHONPATH="$sanity_root/validate-modules" "$python" "$sanity_root/validate-modules/validate.py" \
  --format json --arg-spec --collection ansible_collections/pinwright/escpos --collection-version \
  "$(sed -n 's/^version: *//p' galaxy.yml)" "${modules[@]}" >"$work/validate.json" || true
"$python" - "$work/validate.json" "${#modules[@]}" <<'EOF' || failed "validate-modules"
import json, sys
report = json.load(open(sys.argv[1]))
problems = [(path, e['code'], e['msg']) for path, r in sorted(report.items()) for e in r['errors'] + r['traces']]
for p in problems:
    print('%s: %s: %s' % p)
print('validate-modules: %s modules, %d problem(s)' % (sys.argv[2], len(problems)))
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

echo "--- pylint (Debian's, with ansible-test's collection settings and checkers)"
pylint_root="$sanity_root/pylint"
PYLINTHOME="$work/pylint" ANSIBLE_TEST_MODULES_PATH="$collection/plugins/modules/" \
  ANSIBLE_TEST_MODULE_UTILS_PATH="$collection/plugins/module_utils/" PYTHONPATH="$pylint_root/plugins:$work" \
  timeout -k 5 300 "$python" -m pylint --jobs 0 --reports n --max-line-length 160 --max-complexity 20 \
  --rcfile "$pylint_root/config/collection.cfg" --load-plugins deprecated,string_format,unwanted,pylint.extensions.mccabe \
  --collection-name pinwright.escpos --collection-version "$(sed -n 's/^version: *//p' galaxy.yml)" \
  --output-format parseable --score n $(find plugins tests -name '*.py' | sort) || failed "pylint"

echo "--- ansible-doc"
listed="$(timeout -k 5 60 ansible-doc -l pinwright.escpos 2>&1)"
for m in memory_switches printer_info ports_info self_test; do
  grep -q "^pinwright.escpos.$m " <<<"$listed" || failed "ansible-doc -l does not list $m: $listed"
  timeout -k 5 60 ansible-doc "pinwright.escpos.$m" >"$work/$m.txt" 2>&1 || failed "ansible-doc $m: $(cat "$work/$m.txt")"
  timeout -k 5 60 ansible-doc --json "pinwright.escpos.$m" >"$work/$m.json" 2>&1 || failed "ansible-doc --json $m"
done
"$python" - "$work" <<'EOF' || failed "ansible-doc content"
import json, os, sys
work = sys.argv[1]
ok = True
modules = ('memory_switches', 'printer_info', 'ports_info', 'self_test')
for m in modules:
    doc = json.load(open(os.path.join(work, m + '.json')))['pinwright.escpos.' + m]
    for part in ('doc', 'examples', 'return'):
        if not doc.get(part):
            print('%s: no %s' % (m, part)); ok = False
    options = doc['doc']['options']
    # The shared options come from the doc fragments: cli for all, the line and timeout for a printer's.
    shared = ('cli',) if m == 'ports_info' else ('cli', 'line', 'timeout')
    for option in shared:
        if option not in options:
            print('%s: option %s is not documented' % (m, option)); ok = False
    if 'line' in options and sorted(options['line'].get('suboptions', {})) != ['baud', 'data_bits', 'parity',
                                                                              'stop_bits']:
        print('%s: line has not the suboptions baud, data_bits, parity, stop_bits' % m); ok = False

    # Every option and suboption is a Python identifier.
    def names(opts):
        for name, option in opts.items():
            yield name
            for sub in names(option.get('suboptions') or {}):
                yield sub
    for name in names(options):
        if not name.isidentifier():
            print('%s: option %s is no identifier' % (m, name)); ok = False
    attributes = doc['doc'].get('attributes', {})
    for attribute in ('check_mode', 'diff_mode', 'platform', 'action_group'):
        if attribute not in attributes:
            print('%s: attribute %s is not documented' % (m, attribute)); ok = False
    if attributes.get('action_group', {}).get('membership') != ['pinwright.escpos.escpos']:
        print('%s: not documented in the action group pinwright.escpos.escpos' % m); ok = False
group = __import__('yaml').safe_load(open('meta/runtime.yml'))['action_groups']['escpos']
if sorted(group) != sorted(modules):
    print('meta/runtime.yml: the action group escpos holds %s, not every module' % group); ok = False
memory = json.load(open(os.path.join(work, 'memory_switches.json')))['pinwright.escpos.memory_switches']
if memory['doc']['attributes'].get('action', {}).get('support') != 'full':
    print('memory_switches: its action plugin is not documented'); ok = False
text = open(os.path.join(work, 'memory_switches.txt')).read()
for needle in ('= port', 'SUBOPTIONS', 'code_page', 'PC858', 'check_mode', 'RETURN VALUES', 'not_taken',
               'backup_file', 'throttle'):
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
for m in ('memory_switches', 'printer_info', 'ports_info', 'self_test'):
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

echo "--- the changelog: every fragment in its release, in antsibull-changelog's format"
"$python" - <<'EOF' || failed "changelog"
import os, sys, yaml
ok = True
galaxy = yaml.safe_load(open('galaxy.yml'))
log = yaml.safe_load(open('changelogs/changelog.yaml'))
config = yaml.safe_load(open('changelogs/config.yaml'))
sections = set(s for s, _ in config['sections']) | {config['prelude_section_name'], config['trivial_section_name']}
releases = log.get('releases', {})
if galaxy['version'] not in releases:
    print('changelog.yaml has no release %s (galaxy.yml)' % galaxy['version']); ok = False
listed = {}
for version, release in releases.items():
    for section in release.get('changes', {}):
        if section not in sections:
            print('%s: unknown section %s' % (version, section)); ok = False
    for fragment in release.get('fragments', []):
        listed[fragment] = version
for fragment in sorted(os.listdir('changelogs/fragments')):
    if fragment not in listed:
        print('fragment %s is in no release' % fragment); ok = False
        continue
    changes = releases[listed[fragment]].get('changes', {})
    for section, entries in yaml.safe_load(open('changelogs/fragments/' + fragment)).items():
        for entry in entries if isinstance(entries, list) else [entries]:
            held = changes.get(section)
            if entry != held and entry not in (held or []):
                print('%s: %s entry not in release %s: %s' % (fragment, section, listed[fragment], entry[:60]))
                ok = False
for fragment in listed:
    if not os.path.exists('changelogs/fragments/' + fragment):
        print('release %s lists a fragment that is not there: %s' % (listed[fragment], fragment)); ok = False
rst = open('CHANGELOG.rst').read()
for version in releases:
    if 'v%s\n' % version not in rst:
        print('CHANGELOG.rst has no v%s' % version); ok = False
print('changelog: %d release(s), %d fragment(s)' % (len(releases), len(listed)))
sys.exit(0 if ok else 1)
EOF

echo "--- ansible-galaxy: the collection builds from galaxy.yml, carries its licence and changelog, and installs"
timeout -k 5 120 ansible-galaxy collection build --output-path "$work/dist" . >/dev/null || failed "collection build"
tarball="$(ls "$work"/dist/pinwright-escpos-*.tar.gz 2>/dev/null | head -n1)"
if [ -n "$tarball" ]; then
  listing="$(tar -tzf "$tarball")"
  for f in LICENSE CHANGELOG.rst changelogs/changelog.yaml meta/runtime.yml meta/execution-environment.yml \
           meta/bindep.txt plugins/action/memory_switches.py plugins/module_utils/_pinwright_cli.py; do
    grep -qx "$f" <<<"$listing" || failed "the artifact does not carry $f"
  done
  tar -xzOf "$tarball" MANIFEST.json | "$python" -c '
import json, sys
info = json.load(sys.stdin)["collection_info"]
sys.exit(0 if info["license"] == ["GPL-3.0-or-later"] and "tools" in info["tags"] else 1)' ||
    failed "MANIFEST.json: not GPL-3.0-or-later, or no category tag"
  grep -q "pinwright" <(tar -xzOf "$tarball" meta/bindep.txt) || failed "meta/bindep.txt does not name pinwright"
  timeout -k 5 120 ansible-galaxy collection install --offline -p "$work/installed" "$tarball" \
    >"$work/install.log" 2>&1 || failed "collection install: $(cat "$work/install.log")"
  ANSIBLE_COLLECTIONS_PATH="$work/installed" timeout -k 5 60 ansible-doc -l pinwright.escpos 2>&1 |
    grep -q '^pinwright.escpos.memory_switches ' || failed "the installed collection has no memory_switches"
fi

[ "$fail" -eq 0 ] || { echo "sanity: FAILED" >&2; exit 1; }
echo "sanity: passed"
