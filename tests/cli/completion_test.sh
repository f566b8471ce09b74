#!/usr/bin/env bash
# The bash completion of pinwright-cli, called as bash calls it (COMP_WORDS, COMP_CWORD; "KEY=VALUE" split
# at the '=' as COMP_WORDBREAKS splits it, and whole where '=' is no break), against a table of command
# lines and what each should offer. The settings and values are checked against the program's own table,
# as its usage errors list them; the options and commands against its --help.
# Usage: completion_test.sh PINWRIGHT_CLI COMPLETION_FILE
set -euo pipefail
cli="$1"
source "$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# A machine with no ports of its own but a device file set for COM1.
mkdir -p "$work/sys" "$work/usb" "$work/files/sub"
export PINWRIGHT_SYSFS="$work/sys" PINWRIGHT_USB_DIR="$work/usb" PINWRIGHT_COM1="$work/tty0"
touch "$work/tty0" "$work/files/shop.sts" "$work/files/notes.txt" "$work/files/sub/inner.sts"
failed=0 cases=0

# offers WORD... : what the completion offers for the command line of these words, the last one being
# completed; one offer a line, sorted.
offers() {
  COMP_WORDS=("$cli" "$@")
  COMP_CWORD=$#
  COMP_LINE="${COMP_WORDS[*]}"
  COMP_POINT=${#COMP_LINE}
  _pinwright_cli
  printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | LC_ALL=C sort
}
expect() {
  local want="$1" got
  shift
  cases=$((cases + 1))
  got="$(offers "$@")"
  want="$(tr ' ' '\n' <<<"$want" | sed '/^$/d' | LC_ALL=C sort)"
  if [ "$got" != "$want" ]; then
    failed=1
    echo "FAIL: pinwright-cli $* <TAB>"
    diff <(echo "$want") <(echo "$got") | sed 's/^/    /' || true
  fi
}

# The program's own lists: the settings as the usage error for an unknown one names them, each setting's
# values as the usage error for a wrong value names them, options and commands as --help shows them.
keys="$({ "$cli" -p COM1 set nonsense=1 2>&1 || true; } | sed -n "s/.*unknown setting 'nonsense' (one of \(.*\)).*/\1/p" | tr -d ,)"
[ "$(wc -w <<<"$keys")" = 7 ] || { echo "FAIL: the program names no seven settings: '$keys'"; exit 1; }
values() { { "$cli" -p COM1 set "$1=nonsense" 2>&1 || true; } | sed -n "s/.*is no value of $1 (one of \(.*\)).*/\1/p"; }
help="$("$cli" --help)"
options="$(sed -n '/^Options:/,/^$/p' <<<"$help" | grep -oE '^ +-[a-z-]+(,--[a-z-]+)?' | tr ',' ' ')"
commands="$(sed -n '/^Subcommands:/,/^$/p' <<<"$help" | awk 'NR > 1 && NF { print $1 }')"
[ -n "$options" ] && [ -n "$commands" ] || { echo "FAIL: no options or commands in --help"; exit 1; }

ports="COM1 COM2 COM3 COM4 COM5 COM6 COM7 LPT1 LPT2 LPT3 LPT4 USB $work/tty0 tcp://"
all_keys="$(for k in $keys; do printf '%s= ' "$k"; done)"

# Command lines and what they offer.
expect "$commands" ''
expect "check" ch
expect "$options" -
expect "--port --parity" --p
expect "$commands" --json -p COM1 ''
expect "$commands" --baud 19200 -p COM1 ''
expect "$ports" -p ''
expect "COM1 COM2 COM3 COM4 COM5 COM6 COM7" -p CO
expect "$ports" --port = ''
expect "--port=LPT1 --port=LPT2 --port=LPT3 --port=LPT4" --port=LP
expect "$work/tty0" -p "$work/tt"
expect "auto 9600 19200 38400 57600 115200" --baud ''
expect "115200" --baud 11
expect "7 8" --data-bits ''
expect "none odd even" --parity ''
expect "1 1.5 2" --stop-bits ''
expect "1 2" self-test ''
expect "$all_keys" -p COM1 set ''
expect "code-page=" -p COM1 set co
expect "$(sed 's/baud-rate= //' <<<"$all_keys")" -p COM1 set baud-rate = 9600 ''
expect "$(sed 's/parity= //' <<<"$all_keys")" -p COM1 set parity=odd ''
for k in $keys; do
  expect "$(values "$k")" -p COM1 set "$k" = ''
done
expect "PC850 PC852 PC855 PC857 PC858 PC860 PC863 PC864 PC865 PC866" -p COM1 set code-page = PC8
expect "code-page=PC850 code-page=PC852 code-page=PC855 code-page=PC857 code-page=PC858 code-page=PC860
        code-page=PC863 code-page=PC864 code-page=PC865 code-page=PC866" -p COM1 set code-page=PC8
expect "on" -p COM1 set auto-line-feed = on
cd "$work/files"
expect "shop.sts sub" -p COM1 apply ''
expect "shop.sts sub" show ''
expect "sub/inner.sts" show sub/
expect "notes.txt shop.sts sub" -p COM1 get -o ''
expect "$options -o --output" -p COM1 get -
# A command's own options, as its --help shows them.
for command in set apply status; do
  own="$("$cli" "$command" --help | sed -n '/^Options:/,/^$/p' | grep -oE '^ +--[a-z-]+' | grep -v -- --help)"
  [ -n "$own" ] || { echo "FAIL: $command --help shows no option of its own"; failed=1; }
  expect "$options $own" -p COM1 "$command" -
done
expect "notes.txt shop.sts sub" --trace ''
expect "sub" --backup ''
expect "sub" -p COM1 status --metrics ''
expect "" --timeout ''
expect "" -p COM1 check ''
# discover's own options, --port among them (the raw TCP port: no port names), and its TARGETs: nothing.
own="$("$cli" discover --help | sed -n '/^Options:/,/^$/p' | grep -oE '^ +--[a-z-]+' | grep -v -- --help | grep -vx ' *--port')"
[ "$(wc -w <<<"$own")" = 5 ] || { echo "FAIL: discover --help shows not five options of its own besides --port: '$own'"; failed=1; }
expect "$options $own" discover -
expect "$options --probe" doctor -
expect "" discover --port ''
expect "" discover --connections ''
expect "" discover --connect-timeout ''
expect "" discover --max-addresses ''
expect "" discover --port 9100 ''
expect "$commands" --json --timeout 9 ''

echo "$cases command lines, $([ "$failed" -eq 0 ] && echo "every offer as expected" || echo "some FAILED")"
exit "$failed"
