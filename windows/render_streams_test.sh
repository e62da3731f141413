#!/bin/sh
# mvhost.exe render's other ends under Wine: a patch read from standard input and the WAV written
# to standard output are the same bytes as through files (both streams in binary mode), and the
# MIDI written with --midi-out and the patch written with --save-patch are the Linux build's (the
# patch up to its paths' separators and drive, and without carriage returns).
# Usage: render_streams_test.sh LINUX_MVHOST WINDOWS_MVHOST EXAMPLES_DIR OUT_DIR
set -u
linux=$1 win=$2 examples=$3 out=$4
here=$(cd "$(dirname "$0")" && pwd)
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
fail() { echo "render streams: $*"; exit 1; }
rm -rf "$out"
mkdir -p "$out"
patch=$examples/arp_chords.json
"$linux" render -q --format float -o "$out/linux.wav" --save-patch "$out/linux.json" \
  --midi-out "arp.MIDI Out=$out/linux.mid" "$patch" || fail "the Linux render failed"
"$here/wine_run.sh" "$win" render -q --format float -o "$(winpath "$out/win.wav")" --save-patch "$(winpath "$out/win.json")" \
  --midi-out "arp.MIDI Out=$(winpath "$out/win.mid")" "$(winpath "$patch")" || fail "the render under Wine failed"
# From standard input the patch's folder is the working one, where its MIDI file and bank are.
(cd "$examples" && "$here/wine_run.sh" "$win" render -q --format float -o - - <"$patch" >"$out/stdout.wav") ||
  fail "the render from standard input to standard output failed under Wine"
cmp -s "$out/win.wav" "$out/stdout.wav" || fail "the WAV on standard output differs from the WAV file"
cmp -s "$out/linux.mid" "$out/win.mid" || fail "the MIDI file differs from the Linux build's"
! grep -q "$(printf '\r')" "$out/win.json" || fail "the saved patch has carriage returns"
tr '\\' / <"$out/win.json" | sed 's|//|/|g; s|"Z:/|"/|g' | cmp -s - "$out/linux.json" ||
  { diff "$out/linux.json" "$out/win.json"; fail "the saved patch differs from the Linux build's"; }
echo "render streams: standard input and output as files, the MIDI file and the saved patch as on Linux"
