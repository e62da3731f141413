#!/bin/sh
# A person's use of the DLLs under Wine: mvhost.exe renders with MVHOST_PERSON=1, so every menu,
# box, dialog and chooser is a real Windows one on the test's screen, and xdotool clicks and types
# as a person would. tallisk: its popup menu New > Sawtooth, Edit > Evaluate with an expression
# typed into the real dialog, File > Load bank through the real file chooser; the render must
# equal the Linux render of the same patch answered by its script. color_picker: a swatch clicked
# in the real colour chooser must be the colour the module stores.
# Usage: person_test.sh WINDOWS_MVHOST LINUX_MVHOST SOURCE_DIR OUT_DIR   (DISPLAY, MV_WINE set)
set -u
win=$1 linux=$2 src=$3 out=$4
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$out"
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
render=""
fail() {
  echo "person test: $*"
  import -window root "$out/failure.png" 2>/dev/null && echo "the screen: $out/failure.png"
  [ -n "$render" ] && kill "$render" 2>/dev/null
  exit 1
}

# The id and position of the visible window named $1 ("" for an untitled popup menu), within 60 s.
wait_window() {
  for i in $(seq 1 240); do
    for w in $(xdotool search --onlyvisible --name "" 2>/dev/null); do
      [ "$(xdotool getwindowname "$w" 2>/dev/null)" = "$1" ] || continue
      geometry=$(xdotool getwindowgeometry "$w" 2>/dev/null)
      case "$geometry" in *"Geometry: 1280x1024"*) continue ;; esac
      x=$(printf '%s' "$geometry" | sed -n 's/.*Position: \([0-9-]*\),\([0-9-]*\).*/\1/p')
      y=$(printf '%s' "$geometry" | sed -n 's/.*Position: \([0-9-]*\),\([0-9-]*\).*/\2/p')
      [ -n "$x" ] && [ -n "$y" ] || continue
      # A window just mapped may not take clicks yet.
      sleep 0.3
      echo "$w $x $y"
      return 0
    done
    sleep 0.25
  done
  return 1
}
# Clicks at (dx, dy) from the window's top left corner.
click_at() { xdotool mousemove $(($2 + $4)) $(($3 + $5)) click 1; sleep 0.6; }
# Answers a Yes/No box with its mnemonic No.
answer_no() {
  found=$(wait_window "$1") || fail "no \"$1\" box"
  set -- $found
  xdotool windowactivate --sync "$1" >/dev/null 2>&1
  xdotool key --window "$1" n
}
start_render() {
  MVHOST_PERSON=1 WINEDEBUG=-all timeout -k 5 180 "$MV_WINE" "$win" render -q --format float "$@" \
    >"$out/person.log" 2>&1 &
  render=$!
}
finish_render() {
  wait "$render"
  status=$?
  render=""
  [ $status -eq 0 ] || { cat "$out/person.log"; fail "mvhost.exe render ended with status $status"; }
}

bank="$src/examples/arp_bank.wbf"
expression='sin(2*PI*t)+0.5*sin(6*PI*t)'
cat >"$out/person.json" <<EOF
{
  "sample_rate": 44100, "block_size": 256, "duration": 1.0,
  "instances": [
    {"name": "pitch", "module": "builtin:constant", "pins": {"Value": 5.0}},
    {"name": "osc", "module": "tallisk", "panel": [40, 30]},
    {"name": "out", "module": "audio_out"}
  ],
  "wires": [["pitch.Out", "osc.Pitch"], ["osc.Output", "out.Left"]],
  "events": [
    {"time": 0.01, "pointer": "osc", "action": "down", "x": 10, "y": 10},
    {"time": 0.02, "pointer": "osc", "action": "down", "x": 10, "y": 10},
    {"time": 0.5, "pointer": "osc", "action": "down", "x": 10, "y": 10}
  ],
  "output": {"channels": ["out.Left"]}
}
EOF
# The same patch with the person's answers as its user script, for the Linux host.
sed 's|"output"|"user": [{"menu": ["New", "Sawtooth"]}, {"menu": ["Edit", "Evaluate"]},\
    {"dialog": [{"id": 1042, "text": "'"$expression"'"}, {"press": 1}, {"press": 8}], "template": 103},\
    {"menu": ["File", "Load bank"]}, {"message_box": "No"}, {"open_file": "'"$bank"'"}, {"message_box": "No"}],\
  "output"|' "$out/person.json" >"$out/scripted.json"
"$linux" render -q --format float -o "$out/scripted.wav" "$out/scripted.json" 2>"$out/scripted.log" ||
  { cat "$out/scripted.log"; fail "the Linux render of the scripted patch failed"; }

start_render -o "$(winpath "$out/person.wav")" "$(winpath "$out/person.json")"
found=$(wait_window "") || fail "tallisk's menu did not open"
set -- $found
click_at "$@" 32 45                      # New
import -window root -crop 400x300+100+80 "$out/menu.png"
click_at "$@" 140 105                    # Sawtooth
found=$(wait_window "") || fail "tallisk's menu did not open a second time"
set -- $found
click_at "$@" 30 61                      # Edit
click_at "$@" 140 61                     # Evaluate
found=$(wait_window "Expression evaluator") || fail "the Evaluate dialog did not open"
set -- $found
click_at "$@" 178 173                    # the expression
xdotool type --delay 30 "$expression"
sleep 0.5
import -window root -crop 420x320+$(($2 - 22))+$(($3 - 22)) "$out/dialog.png"
click_at "$@" 66 239                     # Process
click_at "$@" 306 238                    # Close
found=$(wait_window "") || fail "tallisk's menu did not open a third time"
set -- $found
click_at "$@" 30 28                      # File
click_at "$@" 142 28                     # Load bank
found=$(wait_window "Save") || fail "no \"Save current bank ?\" box"
set -- $found
click_at "$@" 130 60                     # No
found=$(wait_window "Open") || fail "the file chooser did not open"
set -- $found
click_at "$@" 365 303                    # File name
xdotool type --delay 20 "$(winpath "$bank")"
xdotool key Return
answer_no TK_MAIN                        # "save changes?" as the editor closes
finish_render
python3 "$here/wav_diff.py" "$out/scripted.wav" "$out/person.wav" -120 ||
  fail "what the person did does not sound as the scripted answers do"
echo "person test: menu, Evaluate dialog and file chooser answered on the screen sound as the script does"

cat >"$out/colour.json" <<EOF
{
  "duration": 0.1,
  "instances": [{"name": "swatch", "module": "color_picker"}, {"name": "out", "module": "audio_out"}],
  "events": [{"time": 0.01, "pin": "swatch.Open", "value": true},
             {"time": 0.02, "pin": "swatch.Open", "value": false}],
  "output": {"channels": ["out.Left"]}
}
EOF
rm -f "$out/colour-saved.json"
start_render -o "$(winpath "$out/colour.wav")" --save-patch "$(winpath "$out/colour-saved.json")" \
  "$(winpath "$out/colour.json")"
found=$(wait_window "Color") || fail "the colour chooser did not open"
set -- $found
import -window root "$out/colour.png"
px=$(($2 + 143)) py=$(($3 + 98))
rgb=$(convert "$out/colour.png" -format "%[fx:int(255*p{$px,$py}.r)] %[fx:int(255*p{$px,$py}.g)] %[fx:int(255*p{$px,$py}.b)]" info:)
click_at "$@" 143 98                     # a basic colour
click_at "$@" 50 282                     # OK
finish_render
set -- $rgb
want=$(($1 + 256 * $2 + 65536 * $3))
got=$(sed -n 's/.*"RGB Store": *\([0-9]*\).*/\1/p' "$out/colour-saved.json")
[ "$got" = "$want" ] || fail "the colour picker stored $got, the swatch clicked was $want (RGB $rgb)"
echo "person test: the swatch clicked in the colour chooser (RGB $rgb) is the colour picker's colour"
