#!/bin/sh
# `mvhost panel` of one instance from the Linux build and from mvhost.exe under Wine, where the
# panel is drawn by GDI itself: at most MAX pixels may differ (GDI's own text and line ends).
# Usage: compare_panel.sh LINUX_MVHOST WINDOWS_MVHOST PATCH INSTANCE MAX OUT_DIR
set -u
linux=$1 win=$2 patch=$3 instance=$4 max=$5 out=$6
here=$(cd "$(dirname "$0")" && pwd)
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
mkdir -p "$out"
name=$(basename "$patch" .json)-$instance
"$linux" panel --instance "$instance" -o "$out/$name.linux.png" "$patch" >/dev/null 2>&1 ||
  { echo "the Linux panel of $instance failed"; exit 1; }
"$here/wine_run.sh" "$win" panel --instance "$instance" -o "$(winpath "$out/$name.win.png")" "$(winpath "$patch")" \
  >"$out/$name.log" 2>&1 || { cat "$out/$name.log"; echo "the panel under Wine failed"; exit 1; }
differing=$(compare -metric AE "$out/$name.linux.png" "$out/$name.win.png" "$out/$name.diff.png" 2>&1)
echo "$name: $differing pixels differ between the Linux and the GDI panel (at most $max)"
[ "$differing" -le "$max" ] 2>/dev/null
