#!/usr/bin/env bash
# pinwright-cli must run on a server without a display and without Qt: no Qt, X11 or GL library may be
# among its dynamic dependencies.
set -euo pipefail
bin="$1"
deps="$(ldd "$bin")"
echo "$deps"
if grep -Ei 'libQt|libX|libGL|libxcb|libEGL' <<<"$deps"; then
  echo "FAIL: $bin links a display library (above)"
  exit 1
fi
grep -q 'libc.so' <<<"$deps" || { echo "FAIL: ldd listed no libc; is $bin a dynamic executable?"; exit 1; }
