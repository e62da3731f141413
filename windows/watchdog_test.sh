#!/bin/sh
# The watchdog of wine_run.sh: a render whose editor asks, in a real Windows box, for a bank file
# that is not there (MVHOST_PERSON=1: nobody answers) is ended after MV_WINE_TIMEOUT seconds and
# fails, naming that box and its whole text.
# Usage: watchdog_test.sh WINDOWS_MVHOST OUT_DIR   (DISPLAY, MV_WINE and WINEPREFIX set)
set -u
win=$1 out=$2
here=$(cd "$(dirname "$0")" && pwd)
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
mkdir -p "$out"
cat >"$out/unanswered.json" <<'JSON'
{
  "sample_rate": 44100, "block_size": 256, "duration": 0.5,
  "instances": [
    {"name": "osc", "module": "tallisk", "panel": [40, 30], "pins": {"wbf_path": "no_such_bank.wbf"}},
    {"name": "out", "module": "audio_out"}
  ],
  "wires": [["osc.Output", "out.Left"]],
  "output": {"channels": ["out.Left"]}
}
JSON
start=$(date +%s)
MVHOST_PERSON=1 MV_WINE_TIMEOUT=8 "$here/wine_run.sh" "$win" render -q -o "$(winpath "$out/unanswered.wav")" \
  "$(winpath "$out/unanswered.json")" >"$out/watchdog.log" 2>&1
status=$?
took=$(( $(date +%s) - start ))
cat "$out/watchdog.log"
[ $status -eq 1 ] || { echo "watchdog test: the render ended with status $status, not 1"; exit 1; }
grep -q 'unanswered on the screen: message box "Error": Could not find file .*no_such_bank.wbf.*Would you like to search manually ?' \
  "$out/watchdog.log" || { echo "watchdog test: the report does not name the box and its text"; exit 1; }
# Ended by the watchdog, not by the render: at least the limit, and not much more.
[ "$took" -ge 8 ] && [ "$took" -le 60 ] || { echo "watchdog test: ended after $took s (limit 8)"; exit 1; }
echo "watchdog test: the unanswered box ended the render after $took s and was named"
