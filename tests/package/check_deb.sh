#!/usr/bin/env bash
# Builds the Debian package and checks what it holds, what it depends on, that every part of it names the
# one version, that its metadata validates, that lintian finds no error or warning, and that it unpacks and
# removes cleanly in a scratch root. Usage: check_deb.sh BUILD_DIR VERSION
set -euo pipefail
build="$1"
version="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
(cd "$build" && cpack -G DEB -B "$work" >/dev/null)
deb="$(ls "$work"/*.deb)"
contents="$(dpkg-deb -c "$deb" | awk '{print $6}')"
collection=usr/share/ansible/collections/ansible_collections/pinwright/escpos
for f in ./usr/bin/pinwright ./usr/bin/pinwright-cli ./usr/bin/pinwright-sim \
         ./usr/share/applications/io.github.pinwright.Pinwright.desktop \
         ./usr/share/metainfo/io.github.pinwright.Pinwright.metainfo.xml \
         ./usr/share/icons/hicolor/16x16/apps/pinwright.png ./usr/share/icons/hicolor/32x32/apps/pinwright.png \
         ./usr/share/icons/hicolor/48x48/apps/pinwright.png ./usr/share/icons/hicolor/scalable/apps/pinwright.svg \
         ./usr/share/man/man1/pinwright.1.gz ./usr/share/man/man1/pinwright-cli.1.gz \
         ./usr/share/man/man1/pinwright-sim.1.gz ./usr/share/man/man1/pinwright_exporter.1.gz \
         ./usr/bin/pinwright_exporter ./lib/systemd/system/pinwright-exporter.service \
         ./usr/share/pinwright/prometheus/pinwright-exporter-rules.yml \
         ./usr/share/doc/pinwright/examples/exporter.yml \
         ./usr/share/bash-completion/completions/pinwright-cli \
         ./usr/share/doc/pinwright/copyright ./usr/share/doc/pinwright/changelog.gz \
         ./usr/share/doc/pinwright/pinwright-cli.schema.json \
         ./usr/share/lintian/overrides/pinwright \
         ./$collection/galaxy.yml ./$collection/README.md ./$collection/meta/runtime.yml \
         ./$collection/plugins/modules/memory_switches.py ./$collection/plugins/modules/printer_info.py \
         ./$collection/plugins/modules/ports_info.py ./$collection/plugins/modules/self_test.py \
         ./$collection/plugins/action/memory_switches.py ./$collection/plugins/module_utils/_pinwright_cli.py \
         ./$collection/plugins/doc_fragments/line.py ./$collection/plugins/doc_fragments/cli.py \
         ./$collection/meta/execution-environment.yml ./$collection/meta/bindep.txt \
         ./$collection/CHANGELOG.rst ./$collection/changelogs/changelog.yaml \
         ./$collection/examples/printers.yml ./$collection/examples/group_vars/tills.yml; do
  grep -qx -- "$f" <<<"$contents" || { echo "missing from the package: $f"; exit 1; }
done
depends="$(dpkg-deb -f "$deb" Depends)"
for d in libqt6widgets6 libqt6gui6 libqt6core6 libstdc++6 fonts-dejavu-core libcpp-httplib libyaml-cpp libssl3 libcrypt1; do
  grep -q "$d" <<<"$depends" || { echo "undeclared dependency: $d (Depends: $depends)"; exit 1; }
done
dpkg-deb -x "$deb" "$work/root"
r="$work/root/usr"

# One version everywhere, and never below the package that was shipped.
same() { [ "$2" = "$version" ] || { echo "$1 says '$2', not '$version'"; exit 1; }; }
same "the package" "$(dpkg-deb -f "$deb" Version)"
dpkg --compare-versions "$version" ge 2005.3.29.2 || { echo "$version would not upgrade 2005.3.29.2"; exit 1; }
same "pinwright --version" "$(env -u DISPLAY -u QT_QPA_PLATFORM "$r/bin/pinwright" --version | awk '{print $2}')"
same "pinwright-sim --version" "$("$r/bin/pinwright-sim" --version | awk '{print $2}')"
same "pinwright-cli --version" "$("$r/bin/pinwright-cli" --version | awk '{print $2}')"
same "pinwright_exporter --version" "$("$r/bin/pinwright_exporter" --version | awk '{print $2}')"
for page in pinwright pinwright-cli pinwright-sim pinwright_exporter; do
  same "$page(1)" "$(zcat "$r/share/man/man1/$page.1.gz" | awk -F'"' '/^\.TH/ {sub(/^pinwright /, "", $4); print $4}')"
done
zcat "$r/share/doc/pinwright/changelog.gz" >"$work/changelog"
same "the changelog" "$(dpkg-parsechangelog -l "$work/changelog" -S Version)"
same "the AppStream metadata" "$(grep -o '<release version="[^"]*"' "$r/share/metainfo/io.github.pinwright.Pinwright.metainfo.xml" |
                                 head -n1 | cut -d'"' -f2)"

# The man page renders as written (a line starting with a dot once swallowed a word).
rendered="$(zcat "$r/share/man/man1/pinwright.1.gz" | groff -man -Tutf8 -rLL=200n -P-cbou 2>&1)"
grep -q '/dev/lp0 to /dev/lp3\.' <<<"$rendered" || { echo "man page: LPT default not rendered"; exit 1; }

# bash-completion finds the completion where the package puts it, loading it when pinwright-cli is first
# completed.
[ "$(pkg-config --variable=completionsdir bash-completion)" = /usr/share/bash-completion/completions ] ||
  { echo "bash-completion looks elsewhere: $(pkg-config --variable=completionsdir bash-completion)"; exit 1; }
loaded="$(XDG_DATA_DIRS="$r/share" BASH_COMPLETION_USER_DIR="$work/none" bash -c \
  'source /usr/share/bash-completion/bash_completion && __load_completion pinwright-cli && complete -p pinwright-cli')" ||
  { echo "bash-completion does not load the package's completion of pinwright-cli"; exit 1; }
[ "$loaded" = "complete -F _pinwright_cli pinwright-cli" ] || { echo "loaded: $loaded"; exit 1; }
# The Ansible collection where Debian's Ansible looks: ansible-doc finds every module there.
if command -v ansible-doc >/dev/null; then
  modules="$(HOME="$work" ANSIBLE_COLLECTIONS_PATH="$r/share/ansible/collections" ansible-doc -l pinwright.escpos 2>&1)"
  for m in memory_switches printer_info ports_info self_test; do
    grep -q "^pinwright.escpos.$m " <<<"$modules" || { echo "ansible-doc finds no $m in the package: $modules"; exit 1; }
  done
fi
grep -q 'ansible-core' <<<"$(dpkg-deb -f "$deb" Suggests)" || { echo "the package does not suggest ansible-core"; exit 1; }

# The exporter's service is valid, hardened, and starts nothing until a configuration exists; the example
# configuration is one the exporter reads (and allows nothing).
unit="$work/root/lib/systemd/system/pinwright-exporter.service"
systemd-analyze verify --man=no "$unit" 2>&1 | grep -v 'is not executable' | grep . &&
  { echo "systemd-analyze verify finds fault with the exporter's unit"; exit 1; }
exposure="$(systemd-analyze security --offline=true "$unit" 2>&1 | grep -o 'Overall exposure level[^:]*: [0-9.]*' | awk '{print $NF}')"
awk -v e="$exposure" 'BEGIN { exit !(e != "" && e < 2.0) }' || { echo "the exporter's unit is exposed: $exposure"; exit 1; }
grep -q '^ConditionPathExists=/etc/pinwright/exporter.yml$' "$unit" || { echo "the unit would start unconfigured"; exit 1; }
"$r/bin/pinwright_exporter" --config.file "$r/share/doc/pinwright/examples/exporter.yml" --web.listen-address 127.0.0.1:0 \
  2>"$work/exporter.log" &
exporter=$!
for _ in $(seq 50); do grep -q 'msg="listening"' "$work/exporter.log" && break; sleep 0.1; done
kill -TERM "$exporter"
wait "$exporter" || { echo "the example configuration: $(cat "$work/exporter.log")"; exit 1; }
grep -q 'msg="nothing may be probed"' "$work/exporter.log" || { echo "the example allows something: $(cat "$work/exporter.log")"; exit 1; }
promtool check rules "$r/share/pinwright/prometheus/pinwright-exporter-rules.yml" >/dev/null

desktop-file-validate "$r/share/applications/io.github.pinwright.Pinwright.desktop"
appstreamcli validate --no-net --pedantic "$r/share/metainfo/io.github.pinwright.Pinwright.metainfo.xml" >/dev/null
lintian --fail-on error,warning --display-info --no-tag-display-limit "$deb" ||
  { echo "lintian found errors or warnings"; exit 1; }

# Install and remove in a scratch root with its own package database.
mkdir -p "$work/inst/var/lib/dpkg/updates" "$work/inst/var/lib/dpkg/info"
touch "$work/inst/var/lib/dpkg/status"
dpkg --root="$work/inst" --force-depends --force-script-chrootless --force-not-root -i "$deb" >/dev/null
[ -x "$work/inst/usr/bin/pinwright" ] || { echo "not installed"; exit 1; }
dpkg --root="$work/inst" --force-depends --force-script-chrootless --force-not-root -r pinwright >/dev/null
[ ! -e "$work/inst/usr/bin/pinwright" ] || { echo "not removed"; exit 1; }
echo "package: $(basename "$deb"), Depends: $depends, lintian clean, exporter unit exposure $exposure"
