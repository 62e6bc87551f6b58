#!/bin/sh
# The Windows Installer package of one architecture, end to end under Wine. The package is made
# from this build's DLL as scripts/package.sh makes it (its registration captured from regsvr32
# in a prefix of its own), once at this version and once at the next. In another fresh prefix:
# msiexec /i installs it quietly; a script client works; the registry holds what regsvr32 wrote,
# key by key and value by value; the event source renders a report through the installed DLL's
# message table; the next version replaces it, leaving one product, and the older one does not
# go back over it; msiexec /x leaves no file and no key of ours, and the user's settings where
# they were.
#
#   installer.sh <win32|win64> <project version> <build dir> <event_message.exe>
set -u

if [ $# -ne 4 ]; then
  echo "usage: $0 <win32|win64> <project version> <build dir> <event_message.exe>" >&2
  exit 2
fi
arch=$1 version=$2 build=$(cd "$3" && pwd) checker=$4
here=$(cd "$(dirname "$0")" && pwd)
packaging=$here/../../../packaging/msi
wine_run=$here/../../wine/wine-run.sh
run_script=$here/../scripts/run-script.sh
case "$arch" in
  win32) msi_arch=x86 bits=32-bit folder='C:\Program Files (x86)\Quenvar' unix_folder='Program Files (x86)/Quenvar' ;;
  win64) msi_arch=x64 bits=64-bit folder='C:\Program Files\Quenvar' unix_folder='Program Files/Quenvar' ;;
  *) echo "$0: unknown architecture $arch" >&2; exit 2 ;;
esac
. "$here/../../wine/scratch_prefix.sh"
scratch_prefix installer
export QUENVAR_ARCH="$arch"
prefix=$QUENVAR_WINEPREFIX

failures=0
# printf, not echo: a registry key's "\c" would end echo's output.
fail() {
  printf 'FAILED: %s\n' "$*" >&2
  failures=$((failures + 1))
}

wine() { "$wine_run" --arch "$arch" "$@" >"$work/out" 2>"$work/err"; }
files() { (cd "$prefix/drive_c" && find . | sort); }
windows() { printf 'Z:%s' "$1" | tr / '\\'; }
# changes <name>: what the package changed in the registry since the snapshot before it.
changes() {
  settle
  python3 "$packaging/registry.py" capture "$work/before.reg" "$prefix/system.reg" "$folder\\Quenvar.dll" >"$work/$1.txt"
}
same_as_regsvr32() {
  python3 "$packaging/registry.py" compare "$work/regsvr32.txt" "$work/$1.txt" >"$work/compare" ||
    fail "$2: the registry differs from regsvr32's: $(cat "$work/compare")"
}
# products <version>: one product of this architecture is installed, at that version.
products() {
  settle
  n=$(grep -c "^\"ProductName\"=\"Quenvar ($bits)\"" "$prefix/system.reg")
  [ "$n" -eq 1 ] || fail "$n products named Quenvar ($bits) after $2"
  grep -q "^\"DisplayVersion\"=\"$1\"" "$prefix/system.reg" || fail "no product of version $1 after $2"
}
script_works() {
  (cd "$work" && "$run_script" "$here/installed.vbs") >"$work/script.out" 2>&1 ||
    fail "the script client $1: $(cat "$work/script.out")"
}

old_ifs=$IFS IFS=.
set -- $version
IFS=$old_ifs
next=$1.$2.$3.$(($4 + 1))
msi_version=$1.$2.$4 next_msi_version=$1.$2.$(($4 + 1))

"$packaging/capture.sh" "$arch" "$build/Quenvar.dll" "$work/regsvr32.txt" || exit 1
grep -q 'EventMessageFile	REG_EXPAND_SZ	\[DLL\]' "$work/regsvr32.txt" ||
  fail "regsvr32 registered no event source: $(cat "$work/regsvr32.txt")"
"$packaging/build.sh" "$msi_arch" "$work/regsvr32.txt" "$build/Quenvar.dll" "$version" "$work/current.msi" || exit 1
"$packaging/build.sh" "$msi_arch" "$work/regsvr32.txt" "$build/Quenvar.dll" "$next" "$work/next.msi" || exit 1

# The script host registers its own libraries when it first runs: before the snapshot.
printf 'Set f = CreateObject("Scripting.FileSystemObject")\r\nWScript.Echo WScript.Arguments.Count\r\n' >"$work/warm.vbs"
wine cscript.exe //nologo "$(windows "$work/warm.vbs")" || { cat "$work/err" >&2; exit 1; }
settle
cp "$prefix/system.reg" "$work/before.reg"
files >"$work/files-before"
machine_marks=$(grep -ci quenvar "$work/before.reg")

wine msiexec /i "$(windows "$work/current.msi")" /qn || fail "msiexec /i exited with $?: $(cat "$work/out" "$work/err")"
[ -f "$prefix/drive_c/$unix_folder/Quenvar.dll" ] || fail "no Quenvar.dll in $folder"
script_works "after installing"
wine "$checker" "$folder\\Quenvar.dll" || fail "the event source: $(cat "$work/out" "$work/err")"
changes installed
same_as_regsvr32 installed "after installing"
products "$msi_version" "installing"

wine msiexec /i "$(windows "$work/next.msi")" /qn || fail "installing the next version exited with $?: $(cat "$work/out" "$work/err")"
products "$next_msi_version" "installing the next version"
changes upgraded
same_as_regsvr32 upgraded "after the upgrade"
script_works "after the upgrade"
wine msiexec /i "$(windows "$work/current.msi")" /qn && fail "the older version installed over the newer one"
products "$next_msi_version" "trying the older version again"

wine msiexec /x "$(windows "$work/next.msi")" /qn || fail "msiexec /x exited with $?: $(cat "$work/out" "$work/err")"
changes removed
# Wine's msiexec also deletes the parents of a removed key that are left empty, such as the
# event log's Application key of a fresh prefix (on Windows it holds every source): not a fault
# of the package.
awk -F '\t' 'NR == FNR { ours[tolower($2)] = 1; next }
  $1 == "-" && $3 == "" { for (k in ours) if (index(k, tolower($2) "\\") == 1) next }
  { print }' "$work/regsvr32.txt" "$work/removed.txt" >"$work/left.txt"
[ -s "$work/left.txt" ] && fail "the registry after removal differs from before: $(cat "$work/left.txt")"
[ "$(grep -ci quenvar "$prefix/system.reg")" -eq "$machine_marks" ] ||
  fail "the machine's registry still names Quenvar: $(grep -i quenvar "$prefix/system.reg")"
files >"$work/files-after"
# Windows Installer's own folder for the packages it keeps stays, as on Windows; not what is in it.
# Wine's plug and play writes its caches of the device INFs (windows/inf/*.pnf) when it installs
# the host's input devices, in a session of its choosing; on a busy machine that can be one of
# the package's. A package with no INF writes none.
left=$(comm -13 "$work/files-before" "$work/files-after" |
  grep -v -x -i -e '.*/temp/.*' -e '.*/temp' -e './windows/Installer' -e './windows/inf/[^/]*\.pnf')
[ -z "$left" ] || fail "files left after removal: $left"
grep -q '^"SMTPPort"="2525"' "$prefix/user.reg" || fail "removing the package took the user's mail setting"

[ "$failures" -eq 0 ] && printf 'installer (%s): OK\n' "$msi_arch"
[ "$failures" -eq 0 ]
