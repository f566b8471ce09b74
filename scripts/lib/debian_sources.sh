# Debian's own source of a library, for a build that Debian has no package of (the Windows cross build): the
# package's source as Debian ships it, through a private apt state (the machine's apt sources and lists are left
# as they are), checked against the signed Sources index and unpacked by dpkg-source.
# debian_source PACKAGE DEST: DEST holds the unpacked source afterwards (kept once there).
debian_source() {
  local package="$1" dest="$2"
  [ -f "$dest/.unpacked" ] && return 0
  local state
  state="$(mktemp -d)"
  mkdir -p "$state/lists/partial" "$state/cache/archives/partial" "$state/get"
  cat >"$state/debian-src.sources" <<'SOURCES'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
  local apt=(-o Dir::Etc::SourceList="$state/debian-src.sources" -o Dir::Etc::SourceParts=/dev/null
             -o Dir::State::Lists="$state/lists" -o Dir::Cache="$state/cache" -o APT::Sandbox::User=root)
  timeout 300 apt-get "${apt[@]}" update -qq
  (cd "$state/get" && timeout 300 apt-get "${apt[@]}" source --download-only -qq "$package" >/dev/null)
  rm -rf "$dest"
  mkdir -p "$(dirname "$dest")"
  dpkg-source -x --no-check "$(ls "$state"/get/*.dsc | head -n1)" "$dest" >/dev/null
  touch "$dest/.unpacked"
  rm -rf "$state"
}
