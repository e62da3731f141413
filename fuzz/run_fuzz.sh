#!/bin/sh
# Builds the libFuzzer targets of this directory with clang (libFuzzer, ASan, UBSan) and runs each
# for a while from a copy of its seed corpus. Usage: run_fuzz.sh BUILD_DIR [SECONDS] [TARGET...]
# A finding stops the run with the fuzzer's report; the crashing input is left in BUILD_DIR.
set -e
here=$(cd "$(dirname "$0")" && pwd)
root="$here/.."
out="$1"
secs="${2:-20}"
shift 2 2>/dev/null || shift $#
targets="${*:-settings view_link array_text midi patch}"
mkdir -p "$out"
out=$(cd "$out" && pwd)
CXX="${FUZZ_CXX:-clang++}"
if ! command -v "$CXX" >/dev/null 2>&1; then
  echo "run_fuzz: $CXX not found"
  exit 1
fi
flags="-std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined"
host_sources=$(ls "$root"/host/src/*.cpp | grep -v '/main\.cpp$')

# Object files are rebuilt only when a source is newer, so a second run starts fuzzing at once.
build() {
  name=$1; shift
  exe="$out/fuzz_$name"
  if [ -x "$exe" ]; then
    stale=""
    for f in "$here/fuzz_$name.cpp" "$@"; do
      case "$f" in -*) continue ;; esac
      [ "$f" -nt "$exe" ] && stale=1
    done
    [ -z "$stale" ] && return 0
  fi
  echo "run_fuzz: building fuzz_$name"
  $CXX $flags -o "$exe" "$here/fuzz_$name.cpp" "$@"
}

for name in $targets; do
  case $name in
    settings) build settings -I"$root/modules/tallisk/files" -I"$root/modules/tallisk/dsp" "$root/modules/tallisk/files/settings_string.cpp" ;;
    view_link) build view_link -I"$root/modules/tallisk/link" "$root/modules/tallisk/link/view_link.cpp" ;;
    array_text) build array_text -I"$root/modules/array_to_floats" "$root/modules/array_to_floats/array_text.cpp" ;;
    midi) build midi -I"$root/host/include" -I"$root/mv_sdk2/include" -I"$root/platform/include" \
            "$root/host/src/midi_file.cpp" "$root/host/src/bounded_read.cpp" "$root/platform/src/output_file.cpp" ;;
    patch) build patch -I"$root/host/include" -I"$root/host/src" -I"$root/mv_sdk2/include" \
             -I"$root/platform/include" $host_sources "$root/platform/src/output_file.cpp" "$root/platform/src/output_set.cpp" \
             -lsndfile -ldl -lpthread ;;
    *) echo "run_fuzz: unknown target $name"; exit 2 ;;
  esac
done

for name in $targets; do
  work="$out/corpus_$name"
  rm -rf "$work"
  mkdir -p "$work"
  seeds="$name"
  [ "$name" = view_link ] && seeds="view_link table_ptr"
  for s in $seeds; do cp "$here/corpus/$s"/* "$work"/; done
  echo "run_fuzz: $name for ${secs}s"
  (cd "$out" && "$out/fuzz_$name" -max_total_time="$secs" -max_len=65536 -rss_limit_mb=1024 -timeout=10 \
     -print_final_stats=1 "$work" >"$out/fuzz_$name.log" 2>&1) || { tail -60 "$out/fuzz_$name.log"; exit 1; }
  grep -E '^stat::number_of_executed_units|^#[0-9]+.*DONE' "$out/fuzz_$name.log" | tail -2 | sed "s/^/run_fuzz: $name: /"
done
echo "run_fuzz: no findings"
