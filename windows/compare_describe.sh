#!/bin/sh
# `mvhost describe NAME` from mvhost.exe under Wine must print exactly what the Linux build prints.
# Usage: compare_describe.sh LINUX_MVHOST WINDOWS_MVHOST NAME
set -u
here=$(cd "$(dirname "$0")" && pwd)
want=$("$1" describe "$3" 2>&1) || { echo "the Linux describe of $3 failed: $want"; exit 1; }
got=$("$here/wine_run.sh" "$2" describe "$3" 2>&1) || { echo "describe under Wine failed: $got"; exit 1; }
got=$(printf '%s\n' "$got" | tr -d '\r')
if [ "$want" != "$got" ]; then
  printf '%s\n' "$want" >"${TMPDIR:-/tmp}/describe-$3.linux"
  printf '%s\n' "$got" >"${TMPDIR:-/tmp}/describe-$3.win"
  diff -u "${TMPDIR:-/tmp}/describe-$3.linux" "${TMPDIR:-/tmp}/describe-$3.win"
  exit 1
fi
echo "$3: describe under Wine prints what the Linux build prints ($(printf '%s\n' "$got" | wc -l) lines)"
