#!/bin/sh
# Both DLLs registered side by side in one prefix: each script host reaches its own, and
# unregistering one leaves the other working, shared ProgIDs and event source included.
#
#   both_architectures.sh <win32 build dir> <win64 build dir>
set -u

if [ $# -ne 2 ]; then
  echo "usage: $0 <win32 build dir> <win64 build dir>" >&2
  exit 2
fi
dll32=$(cd "$1" && pwd)/Quenvar.dll
dll64=$(cd "$2" && pwd)/Quenvar.dll
for dll in "$dll32" "$dll64"; do
  [ -f "$dll" ] || { echo "$0: no $dll" >&2; exit 2; }
done

# Wine names files in the Unix locale's character set, so under the POSIX locale (a root shell
# on a minimal system) a folder name outside ASCII cannot even be created; the tests expect the
# formats and code page Wine derives from C.UTF-8, whatever the caller's locale.
export LC_ALL=C.UTF-8
wine32=/usr/lib/wine/wine
[ -x "$wine32" ] || wine32=/usr/bin/wine
wine64=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
[ -x "$wineserver" ] || wineserver=wineserver

work=$(mktemp -d "${TMPDIR:-/tmp}/quenvar-both.XXXXXX") || exit 2
WINEPREFIX=$work/prefix
WINEDEBUG=-all
WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
unset DISPLAY
trap '"$wineserver" -k >/dev/null 2>&1; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM

failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}

# Wine's background services keep inherited pipes open: every output goes to a file.
run() {
  "$@" >"$work/out" 2>"$work/err" </dev/null
}

cat >"$work/stack.vbs" <<'EOF'
Set h = CreateObject("Quenvar.clsErrHandler")
pushed = h.Push("Main")
depth = UBound(h.CallStack)
popped = h.Pop()
Set m = CreateObject("Quenvar.MailSettings")
Set c = CreateObject("Quenvar.Collector")
If pushed = 0 And popped = 0 And depth = 1 And UBound(h.CallStack) = 0 And m.SMTPPort = 25 And c.Pending = 0 Then WScript.Echo "OK"
EOF
script="Z:$work/stack.vbs"

# script_works <loader>: the script host of that loader's architecture prints OK.
script_works() {
  run "$1" cscript.exe //nologo "$script"
  tr -d '\r' <"$work/out" | grep -qx OK
}

# progid_present [/reg:64]: each class's ProgID is there.
progid_present() {
  run "$wine32" reg query 'HKCR\Quenvar.clsErrHandler' "$@" && run "$wine32" reg query 'HKCR\Quenvar.MailSettings' "$@" &&
    run "$wine32" reg query 'HKCR\Quenvar.Collector' "$@"
}
# progid_absent [/reg:64]: neither is.
progid_absent() {
  ! run "$wine32" reg query 'HKCR\Quenvar.clsErrHandler' "$@" && ! run "$wine32" reg query 'HKCR\Quenvar.MailSettings' "$@" &&
    ! run "$wine32" reg query 'HKCR\Quenvar.Collector' "$@"
}

# The event source is one key for both: source_names <DLL> or source_names none.
source_names() {
  if ! run "$wine32" reg query 'HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Quenvar' /v EventMessageFile; then
    [ "$1" = none ]
    return
  fi
  tr -d '\r' <"$work/out" | grep -qiF "REG_EXPAND_SZ    Z:$(echo "$1" | tr / '\\')"
}

run "$wine64" wineboot -i || { cat "$work/err" >&2; exit 1; }

run "$wine32" regsvr32 /s "Z:$dll32" || fail "32-bit registration"
run "$wine64" regsvr32 /s "Z:$dll64" || fail "64-bit registration"
script_works "$wine32" || fail "32-bit script host after registration: $(cat "$work/out" "$work/err")"
script_works "$wine64" || fail "64-bit script host after registration: $(cat "$work/out" "$work/err")"
source_names "$dll64" || fail "the event source does not name the DLL registered last: $(cat "$work/out")"

# Unregistering the DLL the source names hands the source to the one still registered.
run "$wine64" regsvr32 /u /s "Z:$dll64" || fail "64-bit unregistration"
source_names "$dll32" || fail "the event source was not handed to the 32-bit DLL: $(cat "$work/out")"
script_works "$wine32" || fail "32-bit script host after 64-bit unregistration: $(cat "$work/out" "$work/err")"
run "$wine64" regsvr32 /s "Z:$dll64" || fail "64-bit registration again"

run "$wine32" regsvr32 /u /s "Z:$dll32" || fail "32-bit unregistration"
source_names "$dll64" || fail "unregistering the 32-bit DLL changed the 64-bit one's event source: $(cat "$work/out")"
script_works "$wine32" && fail "32-bit script host still creates the handler after unregistration"
script_works "$wine64" || fail "64-bit script host after 32-bit unregistration: $(cat "$work/out" "$work/err")"
progid_present || fail "ProgID gone from the 32-bit view while the 64-bit DLL is registered"
progid_present /reg:64 || fail "ProgID gone from the 64-bit view while the 64-bit DLL is registered"

run "$wine64" regsvr32 /u /s "Z:$dll64" || fail "64-bit unregistration"
script_works "$wine64" && fail "64-bit script host still creates the handler after unregistration"
progid_absent || fail "ProgID left behind after both unregistrations"
progid_absent /reg:64 || fail "ProgID left behind in the 64-bit view after both unregistrations"
source_names none || fail "the event source outlived both unregistrations: $(cat "$work/out")"

[ "$failures" -eq 0 ] && echo "both architectures: OK"
[ "$failures" -eq 0 ]
