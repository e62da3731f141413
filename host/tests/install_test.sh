#!/bin/sh
# Installs the build into a fresh prefix, moves the prefix, and uses the tools from there as a
# user would: no --plugins, no build tree on any library's search path, manual pages and bash
# completion in their places. Usage: install_test.sh BUILD SOURCE MAKES_MAN(1|0)
set -eu
BUILD=$1
SOURCE=$2
MAKES_MAN=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/mv-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "install_test: $*" >&2; exit 1; }
# The 32-bit build's programs run under an emulator where the kernel cannot run them itself.
run=${MV_EXEC_PREFIX:-}

cmake --install "$BUILD" --prefix "$work/first" >/dev/null
mv "$work/first" "$work/moved"
P=$work/moved

$run "$P/bin/mvhost" list >"$work/list" || fail "mvhost list failed"
grep -q "QB_TKMAIN" "$work/list" || fail "list does not find tallisk"
grep -q "audio_out" "$work/list" || fail "list does not find the built-ins"
cp "$SOURCE/examples/tallisk_sweep.json" "$SOURCE/examples/tallisk_sweep.wbf" "$work/"
(cd "$work" && $run "$P/bin/mvhost" render tallisk_sweep.json -o sweep.wav -q --seconds 0.5) || fail "render failed"
[ -s "$work/sweep.wav" ] || fail "render wrote no sound"
$run "$P/bin/mvbank" info "$work/tallisk_sweep.wbf" >/dev/null || fail "mvbank info failed"

# Nothing installed may still reach into the build tree.
for f in "$P"/lib/mvhost/bin/* "$P"/lib/mvhost/plugins/*.so "$P"/lib/mvhost/lib/builtin/*.so; do
  if readelf -d "$f" | grep -E "R(UN)?PATH" | grep -qF "$BUILD"; then fail "$f keeps the build tree in its RUNPATH"; fi
done

if [ "$MAKES_MAN" = 1 ]; then
  for m in mvhost mvbank; do grep -q '^\.SH' "$P/share/man/man1/$m.1" || fail "no manual page for $m"; done
  grep -q '^\.SS render' "$P/share/man/man1/mvhost.1" || fail "mvhost.1 lacks the render subcommand"
fi

# Completion offers the subcommands, then the subcommand's options. It asks the program itself,
# which under an emulator is reached through a small launcher of the test's own.
cmd=$P/bin/mvhost
if [ -n "$run" ]; then
  mkdir "$work/launch"
  printf '#!/bin/sh\nexec %s "%s" "$@"\n' "$run" "$P/bin/mvhost" >"$work/launch/mvhost"
  chmod +x "$work/launch/mvhost"
  cmd=$work/launch/mvhost
fi
words=$(bash -c '. "$1/share/bash-completion/completions/mvhost"
  COMP_WORDS=("$2" re); COMP_CWORD=1; _mvhost; echo "${COMPREPLY[*]}"
  COMP_WORDS=("$2" render --sec); COMP_CWORD=2; _mvhost; echo "${COMPREPLY[*]}"' sh "$P" "$cmd")
[ "$words" = "render
--seconds" ] || fail "completion offered: $words"
echo "install_test: installed, moved and used from $P"
