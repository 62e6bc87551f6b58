#!/bin/sh
# Runs one script suite through the script host in the test prefix.
#
#   run-script.sh <suite name or path> [arguments...]
#
# The suite gets a fresh scratch folder (first argument, as Z:\...) under the current directory,
# which is the build directory under CTest. A script stopped by a runtime error still exits 0
# without printing its result line: success needs both that line and exit code 0.
set -u

if [ $# -lt 1 ]; then
  echo "usage: $0 <suite> [arguments...]" >&2
  exit 2
fi
suite=$1
shift
here=$(cd "$(dirname "$0")" && pwd)
# A suite of another folder comes as its path.
case "$suite" in
  */*) script=$suite; suite=$(basename "$suite" .vbs) ;;
  *) script=$here/$suite.vbs ;;
esac
if [ ! -r "$script" ]; then
  echo "$0: no suite $script" >&2
  exit 2
fi

windows() { printf 'Z:%s' "$1" | tr / '\\'; }

scratch=$PWD/scratch/${QUENVAR_ARCH:-win32}/$suite
rm -rf "$scratch"
mkdir -p "$scratch" || exit 2
out=$scratch.out

# The host has no include: the shared checks go in front of the suite, and a suite line
# "'#include <file>" is replaced by that file of this folder. CR LF as the host expects.
program=$scratch.vbs
{ cat "$here/prelude.vbs"
  awk -v dir="$here" '/^.#include / { f = dir "/" $2; while ((getline line < f) > 0) print line; close(f); next } { print }' "$script"
} | sed 's/\r*$/\r/' >"$program" || exit 2
"$here/../../wine/wine-run.sh" --arch "${QUENVAR_ARCH:-win32}" cscript.exe //nologo \
  "$(windows "$program")" "$(windows "$scratch")" "$@" >"$out" 2>"$out.err"
status=$?
cat "$out"
# Wine's own messages go to standard error; the result line is judged on standard output alone.
cat "$out.err" >&2

last=$(tr -d '\r' <"$out" | grep -v '^[[:space:]]*$' | tail -n 1)
case "$last" in
  "RESULT $suite: 0 failures") ;;
  "RESULT $suite: "*) exit 1 ;;
  *) echo "$0: $suite did not end with its result line: it stopped early" >&2; exit 1 ;;
esac
if [ "$status" -ne 0 ]; then
  echo "$0: $suite exited with $status" >&2
  exit 1
fi
exit 0
