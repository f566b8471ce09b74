# Bounded waits and virtual displays for the project's scripts and tests. Source it.
#
#   wait_for WHAT SECONDS COMMAND...  runs COMMAND until it succeeds; after SECONDS it says what it waited
#                                     for and fails. A watched process that exits meanwhile is reported at
#                                     once, with its exit status and the last lines of its output.
#   watch PID NAME LOGFILE            watch a process during every later wait_for; unwatch PID ends that.
#   xvfb_start                        a virtual X display of our own (-noreset); exports DISPLAY
#   xvfb_stop                         ends it
# WAIT_STEP sets the poll interval (default 0.05 s).

_watched=()

watch() { _watched+=("$1|$2|$3"); }

unwatch() {
  local keep=() w
  for w in "${_watched[@]}"; do [ "${w%%|*}" = "$1" ] || keep+=("$w"); done
  _watched=("${keep[@]}")
}

# Fails, with the process's status and output, when a watched process has exited.
_check_watched() {
  local w pid rest name log status
  for w in "${_watched[@]}"; do
    pid="${w%%|*}" rest="${w#*|}" name="${rest%%|*}" log="${rest#*|}"
    kill -0 "$pid" 2>/dev/null && continue
    status=0
    wait "$pid" 2>/dev/null || status=$?
    echo "$name (pid $pid) exited with status $status while we waited for $1. Its last output:" >&2
    [ -f "$log" ] && tail -n 20 "$log" | sed 's/^/  | /' >&2
    unwatch "$pid"
    return 1
  done
  return 0
}

wait_for() {
  local what="$1" limit="$2" start
  shift 2
  start=$(date +%s%N)
  until "$@" >/dev/null 2>&1; do
    _check_watched "$what" || return 1
    if [ $(( ($(date +%s%N) - start) / 1000000 )) -ge $((limit * 1000)) ]; then
      echo "Timed out after $limit s waiting for $what." >&2
      return 1
    fi
    sleep "${WAIT_STEP:-0.05}"
  done
}

# Xvfb resets itself whenever its last client leaves unless told not to, and a program that connects
# during a reset dies; -noreset keeps it up. -displayfd picks a free display and tells it once the server
# accepts connections, so no probe client is needed.
xvfb_start() {
  local dir
  dir="$(mktemp -d /tmp/pinwright-xvfb.XXXXXX)"
  _xvfb_dir="$dir"
  unset QT_QPA_PLATFORM
  Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 1024x768x24 3>"$dir/display" >"$dir/xvfb.log" 2>&1 &
  _xvfb_pid=$!
  watch "$_xvfb_pid" "the X server" "$dir/xvfb.log"
  wait_for "Xvfb to accept connections" 15 grep -q '[0-9]' "$dir/display" || return 1
  export DISPLAY=":$(tr -dc 0-9 <"$dir/display")"
}

xvfb_stop() {
  [ -n "${_xvfb_pid:-}" ] || return 0
  unwatch "$_xvfb_pid"
  kill "$_xvfb_pid" 2>/dev/null || true
  wait "$_xvfb_pid" 2>/dev/null || true
  _xvfb_pid=""
  rm -rf "${_xvfb_dir:-}"
}
