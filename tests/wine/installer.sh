#!/usr/bin/env bash
# The installer under wine: a silent install (/S) puts the programs, the licence, a Start-menu entry, an
# uninstaller and its Programs and Features entry in place, and with the CLI its folder on the system PATH
# (once, however often installed), so that a new console finds pinwright-cli by name; the installed CLI
# (the GUI when the build has no CLI) answers --version with this version; the silent uninstaller removes
# all of it again and leaves the PATH as it found it.
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
[ "$cli" = with-cli ] && programs+=(pinwright-cli.exe pinwright_exporter.exe)
failed=0
fail() { echo "FAIL: $*" >&2; failed=1; }
# The registry as the wineserver last wrote it: it writes when its last program has ended.
registry_has_key() { grep -qF "$key" "$WINEPREFIX/system.reg"; }
# The system PATH as the registry holds it (the wineserver must be running).
system_path() {
  timeout -k 5 60 wine reg query 'HKLM\System\CurrentControlSet\Control\Session Manager\Environment' /v PATH |
    tr -d '\r' | sed -n 's/^ *[Pp][Aa][Tt][Hh]  *REG_[A-Z_]*  *//p'
}
# How often the installation folder is an element of the PATH given.
path_count() { tr ';' '\n' <<<"$1" | grep -cixF 'C:\Program Files\Pinwright' || true; }

# A run that failed half-way may have left an installation behind.
if [ -e "$dir" ] || registry_has_key; then
  rm -rf "$dir" "$menu"
  wine_server_start
  timeout -k 5 60 wine reg delete 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Pinwright' /f \
    >/dev/null 2>&1 || true
  wine_server_wait
fi

wine_server_start
# ... or its folder on the PATH.
path_before="$(system_path)"
if [ "$(path_count "$path_before")" != 0 ]; then
  path_before="$(tr ';' '\n' <<<"$path_before" | grep -vixF 'C:\Program Files\Pinwright' | paste -sd ';')"
  timeout -k 5 60 wine reg add 'HKLM\System\CurrentControlSet\Control\Session Manager\Environment' /v PATH \
    /t REG_EXPAND_SZ /d "$path_before" /f >/dev/null 2>&1 || fail "could not clean the PATH of an earlier run"
fi
[ -n "$path_before" ] || fail "no system PATH in the registry before installing"
timeout -k 5 120 wine "$setup" /S || { echo "the installer failed (status $?)" >&2; exit 1; }
if [ "$cli" = with-cli ]; then
  [ "$(system_path)" = "$path_before;C:\Program Files\Pinwright" ] ||
    fail "the PATH after installing is '$(system_path)', expected '$path_before;C:\Program Files\Pinwright'"
  # Installed again over itself: the folder stays on the PATH once.
  timeout -k 5 120 wine "$setup" /S || fail "installing a second time failed"
  [ "$(path_count "$(system_path)")" = 1 ] || fail "after a second install the PATH is '$(system_path)'"
  by_name="$(timeout -k 5 60 wine cmd /c pinwright-cli --version | tr -d '\r')" || true
  [ "$by_name" = "pinwright-cli $version" ] || fail "a new console does not find pinwright-cli by name: '$by_name'"
else
  [ "$(system_path)" = "$path_before" ] || fail "the PATH changed though no CLI was installed: '$(system_path)'"
fi
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
wine_server_start
[ "$(system_path)" = "$path_before" ] || fail "the PATH after uninstalling is '$(system_path)', not '$path_before'"
wine_server_wait
[ "$failed" -eq 0 ] && echo "installed ${programs[*]}, $program --version: $answer; uninstalled everything"
exit "$failed"
