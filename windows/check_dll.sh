#!/bin/sh
# Checks a plug-in DLL as Morvane would need it: it imports only Windows system DLLs (the C and
# C++ runtimes are inside it) and exports exactly its entry points, undecorated.
# Usage: check_dll.sh OBJDUMP FILE.dll EXPORT...
set -e
objdump=$1 dll=$2
shift 2
dump=$($objdump -p "$dll") || { echo "$dll: objdump cannot read it"; exit 1; }
status=0
imports=$(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
for d in $imports; do
  case "$d" in
    kernel32.dll|user32.dll|gdi32.dll|comdlg32.dll|comctl32.dll|msvcrt.dll|advapi32.dll|shell32.dll|ole32.dll) ;;
    *) echo "$dll imports $d, which is no Windows system DLL"; status=1 ;;
  esac
done
# The export table's name lines look like "	[   0] getModuleProperties".
exports=$(printf '%s\n' "$dump" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p' | sort)
want=$(printf '%s\n' "$@" | sort)
if [ "$exports" != "$want" ]; then
  echo "$dll exports [$(echo $exports)], expected [$(echo $want)]"
  status=1
fi
machine=$(printf '%s\n' "$dump" | sed -n 's/^.*file format //p' | head -1)
if [ -n "$MV_EXPECT_MACHINE" ] && [ "$machine" != "$MV_EXPECT_MACHINE" ]; then
  echo "$dll is $machine, expected $MV_EXPECT_MACHINE"
  status=1
fi
echo "$dll: $machine, imports $(echo $imports), exports $(echo $exports)"
exit $status
