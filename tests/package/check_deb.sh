#!/usr/bin/env bash
# Builds the Debian package and checks what it holds, what it depends on, that its metadata validates, and
# that it unpacks and removes cleanly in a scratch root.
set -euo pipefail
build="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
(cd "$build" && cpack -G DEB -B "$work" >/dev/null)
deb="$(ls "$work"/*.deb)"
contents="$(dpkg-deb -c "$deb" | awk '{print $6}')"
for f in ./usr/bin/pinwright ./usr/bin/pinwright-sim \
         ./usr/share/applications/io.github.pinwright.Pinwright.desktop \
         ./usr/share/metainfo/io.github.pinwright.Pinwright.metainfo.xml \
         ./usr/share/icons/hicolor/16x16/apps/pinwright.png ./usr/share/icons/hicolor/32x32/apps/pinwright.png \
         ./usr/share/icons/hicolor/48x48/apps/pinwright.png ./usr/share/icons/hicolor/scalable/apps/pinwright.svg \
         ./usr/share/man/man1/pinwright.1 ./usr/share/man/man1/pinwright-sim.1; do
  grep -qx -- "$f" <<<"$contents" || { echo "missing from the package: $f"; exit 1; }
done
depends="$(dpkg-deb -f "$deb" Depends)"
for d in libqt6widgets6 libqt6gui6 libqt6core6 libstdc++6 fonts-dejavu-core; do
  grep -q "$d" <<<"$depends" || { echo "undeclared dependency: $d (Depends: $depends)"; exit 1; }
done
[ "$(dpkg-deb -f "$deb" Version)" = "2005.3.29.2" ] || { echo "wrong version"; exit 1; }
dpkg-deb -x "$deb" "$work/root"
desktop-file-validate "$work/root/usr/share/applications/io.github.pinwright.Pinwright.desktop"
appstreamcli validate --no-net --pedantic "$work/root/usr/share/metainfo/io.github.pinwright.Pinwright.metainfo.xml" >/dev/null
# Install and remove in a scratch root with its own package database.
mkdir -p "$work/inst/var/lib/dpkg/updates" "$work/inst/var/lib/dpkg/info"
touch "$work/inst/var/lib/dpkg/status"
dpkg --root="$work/inst" --force-depends --force-script-chrootless --force-not-root -i "$deb" >/dev/null
[ -x "$work/inst/usr/bin/pinwright" ] || { echo "not installed"; exit 1; }
dpkg --root="$work/inst" --force-depends --force-script-chrootless --force-not-root -r pinwright >/dev/null
[ ! -e "$work/inst/usr/bin/pinwright" ] || { echo "not removed"; exit 1; }
echo "package: $(basename "$deb"), Depends: $depends"
