#!/bin/sh
# Renders a patch with the Linux host and with mvhost.exe under Wine, both as 32-bit float (so
# that a patch's 16-bit output does not turn a last-bit difference into a whole step), and
# compares the two WAVs: equal files pass as bit-identical; otherwise the audio's peak difference
# must stay at or below -120 dB of full scale (FFTW's codelets and the C libraries' sin, exp and
# pow differ in the last bits between the two builds).
# Both renders let the script save where it likes (editor_bank saves its bank to the temporary
# folder), as the patch's own test does.
# Usage: compare_render.sh LINUX_MVHOST WINDOWS_MVHOST PATCH OUT_DIR
set -u
linux=$1 win=$2 patch=$3 out=$4
here=$(cd "$(dirname "$0")" && pwd)
# Wine's drive Z: is the Linux root.
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
name=$(basename "$patch" .json)
mkdir -p "$out"
rm -f "$out/$name.linux.wav" "$out/$name.win.wav"
"$linux" render -q --user-saves-anywhere --format float -o "$out/$name.linux.wav" "$patch" >"$out/$name.linux.log" 2>&1 ||
  { echo "$name: the Linux render failed:"; cat "$out/$name.linux.log"; exit 1; }
"$here/wine_run.sh" "$win" render -q --user-saves-anywhere --format float -o "$(winpath "$out/$name.win.wav")" "$(winpath "$patch")" >"$out/$name.win.log" 2>&1 ||
  { echo "$name: the render under Wine failed:"; cat "$out/$name.win.log"; exit 1; }
if cmp -s "$out/$name.linux.wav" "$out/$name.win.wav"; then
  echo "$name: bit-identical"
  exit 0
fi
result=$(python3 "$here/wav_diff.py" "$out/$name.linux.wav" "$out/$name.win.wav" -120)
status=$?
echo "$name: $result"
exit $status
