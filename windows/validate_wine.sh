#!/bin/sh
# `mvhost validate` of mvhost.exe under Wine: the ten DLLs and tallisk_hq pass every check that
# runs there, and the checks' processes are a sandbox as they are on Linux: a plug-in that crashes
# or hangs fails only that check, a file that does not load fails once.
# Usage: validate_wine.sh WINDOWS_MVHOST PLUGIN_DIR TEST_PLUGIN_DIR WORK_DIR
set -u
here=$(cd "$(dirname "$0")" && pwd)
mvhost=$1 plugins=$2 tests=$3 work=$4
rm -rf "$work"
mkdir -p "$work"
# Wine's Z: drive is the root, as the other Wine tests name paths: no winepath, whose launcher
# starts the 32-bit loader whenever wine32 is installed, even where that cannot run.
win() { printf 'Z:%s' "$1" | tr / '\\'; }
fail() { echo "validate_wine: $*"; exit 1; }

set --
for dll in "$plugins"/*.dll; do set -- "$@" "$(win "$dll")"; done
[ $# -eq 11 ] || fail "expected the ten DLLs and tallisk_hq in $plugins, found $#"
out=$("$here/wine_run.sh" "$mvhost" validate --strictness 3 --seed 1 --timeout 120 "$@" 2>&1 | tr -d '\r')
status=$?
printf '%s\n' "$out" | grep -E "FAIL|: [0-9]+ passed" 
printf '%s\n' "$out" | tail -n 1
printf '%s\n' "$out" | grep -q "11 plug-in(s), .* checks, 0 failed" || fail "the eleven DLLs did not all pass"

printf 'not a library\n' >"$work/broken.dll"
out=$("$here/wine_run.sh" "$mvhost" validate --strictness 3 --seed 1 --timeout 5 --check load --check lifecycle --check midi_fuzz --json "$(win "$work/report.json")" \
  "$(win "$tests/vt_good.dll")" "$(win "$tests/vt_crash.dll")" "$(win "$tests/vt_hangs.dll")" "$(win "$work/broken.dll")" 2>&1 | tr -d '\r')
printf '%s\n' "$out" | grep -E "FAIL|SKIP the other|: [0-9]+ passed"
python3 - "$work/report.json" <<'PY' || exit 1
import json, sys
plugins = {p["path"].rsplit("\\", 1)[-1]: {c["name"]: c for c in p["checks"]} for p in json.load(open(sys.argv[1]))["plugins"]}
def failures(dll):
    return [f for c in plugins[dll].values() for f in c.get("failures", [])]
problems = []
if failures("vt_good.dll"): problems.append("vt_good failed: %s" % failures("vt_good.dll"))
if not any("died of exception 0xC0000005" in f for f in failures("vt_crash.dll")): problems.append("vt_crash's crash was not reported: %s" % failures("vt_crash.dll"))
if not any("timed out after 5 s" in f for f in failures("vt_hangs.dll")): problems.append("vt_hangs' hang was not reported: %s" % failures("vt_hangs.dll"))
broken = plugins["broken.dll"]
if broken["load"]["status"] != "fail" or any(c["status"] == "fail" for n, c in broken.items() if n != "load"):
    problems.append("broken.dll should fail load alone: %s" % {n: c["status"] for n, c in broken.items()})
for p in problems: print("validate_wine:", p)
sys.exit(1 if problems else 0)
PY
echo "validate_wine: the eleven pass; a crash, a hang and a broken file each fail only what they should"
