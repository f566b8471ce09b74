# Shared wine set-up for the Windows tests: a private prefix that the test run makes, serial ports
# pointed at Linux devices, and waits that end. Source it, then call the functions.

# wine_env PREFIX: use PREFIX, quietly, without a display and without the mono/gecko installers.
wine_env() {
  export WINEPREFIX="$1"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d"
  unset DISPLAY WAYLAND_DISPLAY
}

# wine_init: makes the prefix once (wineboot -i), under a lock so that parallel tests wait for it.
wine_init() {
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock -w 300 9 || { echo "wine_lib: waited 300 s for the lock on $WINEPREFIX" >&2; exit 1; }
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      wine_server_start
      timeout -k 5 180 wineboot -i >/dev/null 2>&1 ||
        { echo "wine_lib: wineboot -i did not make $WINEPREFIX within 180 s" >&2; exit 1; }
      wine_server_wait
    fi
  ) 9>"$WINEPREFIX.lock"
}

# wine_server_wait: lets the prefix's wineserver write the registry and end (it lingers a few seconds).
wine_server_wait() {
  timeout -k 5 60 wineserver -w >/dev/null 2>&1 ||
    { echo "wine_lib: wineserver of $WINEPREFIX still running after 60 s" >&2; return 1; }
}

# wine_server_start: starts the prefix's wineserver with its output discarded (a wineserver that wine
# starts keeps the terminal's standard error and writes to it when stopped); lingers 3 s after the last
# program. Does nothing when one runs already.
wine_server_start() {
  wineserver -p3 </dev/null >/dev/null 2>&1 || true
}

# wine_stop: ends the prefix's wineserver and every wine process in it.
wine_stop() {
  timeout -k 5 30 wineserver -k >/dev/null 2>&1 || true
}

# wine_map_com N PATH [N PATH]...: COMn of the prefix opens the Linux device PATH (a serial port or a
# pseudo-terminal). The registry value holds (a com link in dosdevices is put back to /dev/ttyS* when wine
# starts); the wineserver is stopped so that the next program sees the new mapping.
wine_map_com() {
  wine_server_start
  while [ "$#" -ge 2 ]; do
    timeout -k 5 60 wine reg add 'HKLM\Software\Wine\Ports' /v "COM$1" /t REG_SZ /d "$2" /f >/dev/null 2>&1 ||
      { echo "wine_lib: could not set COM$1 in $WINEPREFIX within 60 s" >&2; return 1; }
    shift 2
  done
  wine_stop
}
