#!/bin/sh
# Builds the reader fuzz targets (the plug-in's and mvbank's) with clang (libFuzzer, ASan, UBSan)
# and runs each for a few seconds from its seed corpus. Usage: run_fuzz.sh BUILD_DIR [SECONDS]
set -e
here=$(cd "$(dirname "$0")" && pwd)
src="$here/.."
out="$1"
secs="${2:-20}"
mkdir -p "$out"
CXX="${FUZZ_CXX:-clang++}"
if ! command -v "$CXX" >/dev/null 2>&1; then
  echo "run_fuzz: $CXX not found"
  exit 1
fi
flags="-std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -I$src -I$src/dsp -I$src/bank -I$src/files -I$src/editor -I$src/../../platform/include"
build() {
  name=$1; shift
  files=""
  for f in "$@"; do
    case "$f" in -*) files="$files $f" ;; *) files="$files $src/$f" ;; esac
  done
  # The bank writer saves through the platform's output files.
  files="$files $src/../../platform/src/output_file.cpp"
  $CXX $flags -o "$out/fuzz_$name" "$here/fuzz_$name.cpp" $files
}
build bank files/bank_file.cpp bank/waveform_bank.cpp dsp/level_store.cpp bank/generators.cpp
build wav files/wav_reader.cpp files/file_bytes.cpp files/resample.cpp
build bmp files/bmp_reader.cpp files/file_bytes.cpp files/resample.cpp
# mvbank's readers, with libsndfile and FFTW as the tool links them.
build wt mvbank/wt_table.cpp mvbank/frame_table.cpp -I"$src/mvbank"
build table_wav mvbank/wav_table.cpp mvbank/frame_table.cpp mvbank/bank_build.cpp mvbank/frame_resample.cpp \
  -I"$src/mvbank" -lsndfile -lfftw3
for name in bank wav bmp wt table_wav; do
  work="$out/corpus_$name"
  rm -rf "$work"
  mkdir -p "$work"
  cp "$here/corpus/$name"/* "$work"/
  echo "run_fuzz: $name for ${secs}s"
  "$out/fuzz_$name" -max_total_time="$secs" -max_len=300000 -rss_limit_mb=1024 -print_final_stats=0 "$work" \
    >"$out/fuzz_$name.log" 2>&1 || { tail -40 "$out/fuzz_$name.log"; exit 1; }
done
echo "run_fuzz: no findings"
