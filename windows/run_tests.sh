#!/bin/sh
# make test-windows: the Windows builds under Wine on a screen of their own (Xvfb). The 32-bit
# build runs under wine where this machine runs 32-bit Windows programs; elsewhere the 64-bit
# build (the same sources, the 64-bit layout) runs under wine64, and the output says which way it
# ran. The 32-bit DLLs' own checks (exports, imports, machine, record layouts asserted when they
# were compiled) ran in `make windows` either way. Xvfb and the wineserver are started here and
# stopped by their process ids.
# Usage: run_tests.sh BUILD_WIN32 BUILD_WIN64 [ctest arguments]
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
win32=$1 win64=$2
shift 2

# A screen of its own: the first free display number from 90.
display=90
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
# The prefix's server, kept running between the tests' programs and stopped at the end.
wineserver=$(dirname "$(command -v wine)")/wineserver
[ -x "$wineserver" ] || wineserver=/usr/lib/wine/wineserver
server=""
cleanup() {
  if [ -n "$server" ]; then
    # The prefix's own programs (services.exe, winedevice.exe, explorer.exe) outlive a server
    # that is only killed, and under wine64 keep running: -k asks this prefix's server to end
    # every process attached to it first.
    "$wineserver" -k 2>/dev/null
    kill "$server" 2>/dev/null
  fi
  kill "$xvfb" 2>/dev/null
  wait 2>/dev/null
}
trap cleanup EXIT INT TERM
# Every Wine process of the run, the probe's too, sees the screen: a prefix whose first programs
# ran without one would make no windows later.
export DISPLAY=":$display"
for i in 1 2 3 4 5 6 7 8 9 10; do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.5; done
export WINEDEBUG=-all WINEPREFIX="$root/$win32/wineprefix"
mkdir -p "$WINEPREFIX"
# MV_FORCE_WIN64=1 (make test-windows WIN64=1) takes the 64-bit path on any machine.
if [ "${MV_FORCE_WIN64:-0}" != 1 ] && timeout 300 wine "$root/$win32/bin/mvhost.exe" --version >/dev/null 2>&1; then
  build=$win32 wine=wine
  mode="32-bit Windows build ($win32) under wine"
else
  if [ "${MV_FORCE_WIN64:-0}" = 1 ]; then
    why="forced with WIN64=1"
  else
    why="this machine does not run 32-bit Windows programs"
  fi
  echo "test-windows: testing the 64-bit build ($why)"
  make -s -C "$root" windows WIN_ARCH=x86_64 || exit 1
  # Debian's wine launcher starts the 32-bit loader whenever wine32 is installed, which cannot
  # run here: the 64-bit loader itself then (Debian keeps it off the PATH), which starts the
  # programs' own child processes with itself too, as the launcher's 64-bit path does.
  build=$win64 wine=wine
  if command -v wine64 >/dev/null 2>&1; then
    wine=wine64
  elif [ -x /usr/lib/wine/wine64 ]; then
    wine=/usr/lib/wine/wine64
    export WINELOADER=$wine
  fi
  export WINEPREFIX="$root/$win64/wineprefix"
  mkdir -p "$WINEPREFIX"
  mode="64-bit Windows build ($win64) under wine64 ($why)"
fi
echo "test-windows: the tests run on the $mode"

export MV_WINE=$wine
if [ -x "$wineserver" ]; then
  "$wineserver" -f -p >/dev/null 2>&1 &
  server=$!
fi
# Crashes are reported on stderr, not in a dialog that nobody would close.
$wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1

start=$(date +%s)
(cd "$root/$build" && ctest --output-on-failure -j 2 "$@")
status=$?
echo "test-windows: $(( $(date +%s) - start )) s of tests on the $mode"
exit $status
