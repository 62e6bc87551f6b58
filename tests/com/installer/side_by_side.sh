#!/bin/sh
# Both installer packages in one fresh prefix, as scripts/package.sh built them: each script host
# reaches its own DLL; removing the 64-bit package leaves the 32-bit one working, the keys both
# write included; repairing the remaining package gives it the event source; removing it too
# leaves nothing of ours.
#
#   side_by_side.sh <folder of the packages> <project version>
set -u

if [ $# -ne 2 ]; then
  echo "usage: $0 <folder of the packages> <project version>" >&2
  exit 2
fi
packages=$(cd "$1" && pwd) version=$2
here=$(cd "$(dirname "$0")" && pwd)
wine_run=$here/../../wine/wine-run.sh
run_script=$here/../scripts/run-script.sh
x86="$packages/Quenvar-$version-x86.msi" x64="$packages/Quenvar-$version-x64.msi"
for p in "$x86" "$x64"; do
  [ -f "$p" ] || { echo "$0: no $p (scripts/package.sh builds it)" >&2; exit 2; }
done
. "$here/../../wine/scratch_prefix.sh"
scratch_prefix side-by-side

failures=0
fail() {
  printf 'FAILED: %s\n' "$*" >&2
  failures=$((failures + 1))
}

# wine <win32|win64> <program> <arguments>
wine() {
  arch=$1
  shift
  "$wine_run" --arch "$arch" "$@" >"$work/out" 2>"$work/err"
}
windows() { printf 'Z:%s' "$1" | tr / '\\'; }
script_works() {
  (cd "$work" && QUENVAR_ARCH=$1 "$run_script" "$here/installed.vbs") >"$work/script.out" 2>&1
}
source_names() {
  wine win32 reg query 'HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Quenvar' /v EventMessageFile &&
    tr -d '\r' <"$work/out" | grep -qiF "REG_EXPAND_SZ    $1"
}
dll32='C:\Program Files (x86)\Quenvar\Quenvar.dll' dll64='C:\Program Files\Quenvar\Quenvar.dll'

wine win64 cmd /c ver || { cat "$work/err" >&2; exit 1; }
wine win32 msiexec /i "$(windows "$x86")" /qn || fail "installing the x86 package: $(cat "$work/out" "$work/err")"
wine win64 msiexec /i "$(windows "$x64")" /qn || fail "installing the x64 package: $(cat "$work/out" "$work/err")"
script_works win32 || fail "32-bit script host with both installed: $(cat "$work/script.out")"
script_works win64 || fail "64-bit script host with both installed: $(cat "$work/script.out")"
source_names "$dll64" || fail "the event source after both: $(cat "$work/out")"

wine win64 msiexec /x "$(windows "$x64")" /qn || fail "removing the x64 package: $(cat "$work/out" "$work/err")"
[ -e "$QUENVAR_WINEPREFIX/drive_c/Program Files/Quenvar" ] && fail "the x64 package's folder stayed"
script_works win32 || fail "32-bit script host after removing the x64 package: $(cat "$work/script.out")"
script_works win64 && fail "the 64-bit script host still creates the handler after its package went"
# Wine's msiexec answers /fm with 69; the properties do the same and work on Windows too.
wine win32 msiexec /i "$(windows "$x86")" REINSTALL=ALL REINSTALLMODE=m /qn || fail "repairing the x86 package: $(cat "$work/out" "$work/err")"
source_names "$dll32" || fail "the event source after repairing the x86 package: $(cat "$work/out")"

wine win32 msiexec /x "$(windows "$x86")" /qn || fail "removing the x86 package: $(cat "$work/out" "$work/err")"
settle
grep -qi quenvar "$QUENVAR_WINEPREFIX/system.reg" &&
  fail "the machine's registry still names Quenvar: $(grep -i quenvar "$QUENVAR_WINEPREFIX/system.reg")"
[ -e "$QUENVAR_WINEPREFIX/drive_c/Program Files (x86)/Quenvar" ] && fail "the x86 package's folder stayed"

[ "$failures" -eq 0 ] && echo "both packages side by side: OK"
[ "$failures" -eq 0 ]
