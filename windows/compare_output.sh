#!/bin/sh
# A command of mvhost.exe under Wine (`describe NAME`, `list`) must print exactly what the Linux
# build prints.
# Usage: compare_output.sh LINUX_MVHOST WINDOWS_MVHOST COMMAND [ARGUMENT...]
set -u
here=$(cd "$(dirname "$0")" && pwd)
linux=$1 win=$2
shift 2
what=$(printf '%s' "$*" | tr ' ' '-')
want=$("$linux" "$@" 2>&1) || { echo "the Linux $* failed: $want"; exit 1; }
got=$("$here/wine_run.sh" "$win" "$@" 2>&1) || { echo "$* under Wine failed: $got"; exit 1; }
got=$(printf '%s\n' "$got" | tr -d '\r')
if [ "$want" != "$got" ]; then
  printf '%s\n' "$want" >"${TMPDIR:-/tmp}/$what.linux"
  printf '%s\n' "$got" >"${TMPDIR:-/tmp}/$what.win"
  diff -u "${TMPDIR:-/tmp}/$what.linux" "${TMPDIR:-/tmp}/$what.win"
  exit 1
fi
echo "$*: under Wine it prints what the Linux build prints ($(printf '%s\n' "$got" | wc -l) lines)"
