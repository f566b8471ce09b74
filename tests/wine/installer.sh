#!/usr/bin/env bash
# The installer under wine: a silent install (/S) puts the programs, the licence, a Start-menu entry, an
# uninstaller and its Programs and Features entry in place; the installed CLI (the GUI when the build has
# no CLI) answers --version with this version; the silent uninstaller removes all of it again.
# Usage: installer.sh SETUP_EXE VERSION WINEPREFIX with-cli|without-cli
set -euo pipefail
setup="$1" version="$2" prefix="$3" cli="$4"
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/wine_lib.sh"
source "$here/../../scripts/lib/wait.sh"
wine_env "$prefix"
wine_desktop_init
trap wine_stop EXIT

dir="$WINEPREFIX/drive_c/Program Files/Pinwright"
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Pinwright"
key='[Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Pinwright]'
programs=(pinwright.exe)
[ "$cli" = with-cli ] && programs+=(pinwright-cli.exe)
failed=0
fail() { echo "FAIL: $*" >&2; failed=1; }
# The registry as the wineserver last wrote it: it writes when its last program has ended.
registry_has_key() { grep -qF "$key" "$WINEPREFIX/system.reg"; }

# A run that failed half-way may have left an installation behind.
if [ -e "$dir" ] || registry_has_key; then
  rm -rf "$dir" "$menu"
  wine_server_start
  timeout -k 5 60 wine reg delete 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Pinwright' /f \
    >/dev/null 2>&1 || true
  wine_server_wait
fi

wine_server_start
timeout -k 5 120 wine "$setup" /S || { echo "the installer failed (status $?)" >&2; exit 1; }
for f in "${programs[@]}" uninstall.exe LICENSE.txt; do [ -f "$dir/$f" ] || fail "not installed: $f"; done
[ "$cli" = with-cli ] || [ ! -e "$dir/pinwright-cli.exe" ] || fail "a CLI the build does not have"
[ -f "$menu/Pinwright.lnk" ] || fail "no Start-menu entry"

program="${programs[-1]}"
answer="$(timeout -k 5 60 wine "$dir/$program" --version | tr -d '\r')" || fail "$program --version failed"
expected="${program%.exe} $version"
[ "$answer" = "$expected" ] || fail "$program --version: '$answer', expected '$expected'"

wine_server_wait
registry_has_key || fail "no uninstall entry in the registry"
grep -A12 -F "$key" "$WINEPREFIX/system.reg" | grep -qF "\"DisplayVersion\"=\"$version\"" ||
  fail "the uninstall entry does not name version $version"

# The uninstaller copies itself away and returns at once: wait for every program of the prefix to end.
wine_server_start
timeout -k 5 60 wine "$dir/uninstall.exe" /S || fail "the uninstaller failed"
wine_server_wait
[ ! -e "$dir" ] || fail "left behind: $(cd "$dir" && ls)"
[ ! -e "$menu" ] || fail "the Start-menu entry is still there"
! registry_has_key || fail "the uninstall entry is still in the registry"
[ "$failed" -eq 0 ] && echo "installed ${programs[*]}, $program --version: $answer; uninstalled everything"
exit "$failed"
