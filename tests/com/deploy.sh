#!/bin/sh
# Deployment without administrator rights, in a fresh prefix and with the DLL as `cmake --install`
# lays it out. First, with nothing registered, a client whose manifest names the Quenvar assembly
# creates the handler and the mail settings from the DLL beside it. Then regsvr32 /n /i:user writes
# the registration of both classes under HKCU\Software\Classes and nothing machine-wide (no event
# source either), refuses any other argument but none, and /u /n /i:user removes exactly that.
# Last, /n /i with none registers machine-wide with the event source, and /u /n /i removes it.
#
#   deploy.sh <wine-run.sh> <win32|win64> <build dir> <reg_free client .exe>
# QUENVAR_CLSID, QUENVAR_LIBID, QUENVAR_IID_HANDLER, QUENVAR_CLSID_MAIL_SETTINGS,
# QUENVAR_IID_MAIL_SETTINGS, QUENVAR_CLSID_COLLECTOR and QUENVAR_IID_COLLECTOR hold the identities
# (no braces), QUENVAR_CXX the cross compiler.
set -u

if [ $# -ne 4 ]; then
  echo "usage: $0 <wine-run.sh> <win32|win64> <build dir> <client .exe>" >&2
  exit 2
fi
wine_run=$1 arch=$2 build=$3 client=$4
clsid="{$QUENVAR_CLSID}" libid="{$QUENVAR_LIBID}" iid="{$QUENVAR_IID_HANDLER}"
mail_clsid="{$QUENVAR_CLSID_MAIL_SETTINGS}" mail_iid="{$QUENVAR_IID_MAIL_SETTINGS}"
collector_clsid="{$QUENVAR_CLSID_COLLECTOR}" collector_iid="{$QUENVAR_IID_COLLECTOR}"
# Each creatable class as ProgID=class id.
classes="Quenvar.clsErrHandler=$clsid Quenvar.MailSettings=$mail_clsid Quenvar.Collector=$collector_clsid"
case "$arch" in
  win32) arch_dir=x86 tlb_platform=win32 ;;
  win64) arch_dir=x64 tlb_platform=win64 ;;
  *) echo "$0: unknown architecture $arch" >&2; exit 2 ;;
esac

. "$(dirname "$0")/../wine/scratch_prefix.sh"
scratch_prefix deploy

event_source='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Quenvar'

failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}

# wine <program> <arguments>: this architecture's program; output in $work/out and $work/err.
wine() {
  "$wine_run" --arch "$arch" "$@" >"$work/out" 2>"$work/err"
}
output() { tr -d '\r' <"$work/out"; }

cmake --install "$build" --prefix "$work/install" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log" >&2; exit 1; }
installed=$work/install/bin/$arch_dir
for f in Quenvar.dll Quenvar.tlb Quenvar.manifest; do
  [ -f "$installed/$f" ] || fail "the install tree lacks bin/$arch_dir/$f"
done
dll="Z:$installed/Quenvar.dll"

# A C++ client compiles and links against the installed header and ids alone.
cat >"$work/client.cpp" <<'EOF_CPP'
#include "quenvar_com.h"
int main() {
  _clsErrHandler* handler = nullptr;
  return CoCreateInstance(CLSID_clsErrHandler, nullptr, CLSCTX_INPROC_SERVER, IID__clsErrHandler,
                          reinterpret_cast<void**>(&handler)) == S_OK ? 0 : 1;
}
EOF_CPP
"$QUENVAR_CXX" -std=c++20 -I"$work/install/include" -o "$work/client.exe" "$work/client.cpp" \
    -x c++ "$work/install/include/quenvar_com_i.c" -lole32 >"$work/compile.log" 2>&1 ||
  fail "a client does not build against the installed header: $(cat "$work/compile.log")"

# The prefix is created by its first command; a persistent server makes the many short ones fast.
wine cmd /c ver || { cat "$work/err" >&2; exit 1; }
WINEPREFIX="$QUENVAR_WINEPREFIX" "$wineserver" -p >/dev/null 2>&1 </dev/null

# key_exists <key> [/reg:64]
key_exists() { wine reg query "$@"; }
# value_is <key> <value name or /ve> <expected>
value_is() {
  if [ "$2" = /ve ]; then wine reg query "$1" /ve; else wine reg query "$1" /v "$2"; fi || return 1
  output | grep -qiF "REG_SZ    $3"
}
# nothing_of_ours <root>: none of the registration's keys under that classes root, in either view.
nothing_of_ours() {
  for key in "CLSID\\$clsid" Quenvar.clsErrHandler "CLSID\\$mail_clsid" Quenvar.MailSettings \
             "CLSID\\$collector_clsid" Quenvar.Collector "TypeLib\\$libid" "Interface\\$iid" "Interface\\$mail_iid" \
             "Interface\\$collector_iid"; do
    for view in /reg:32 /reg:64; do
      key_exists "$1\\$key" "$view" && fail "$1\\$key exists ($view) $2"
    done
  done
}

cat >"$work/create.vbs" <<'EOF_VBS'
Set h = CreateObject(WScript.Arguments(0))
WScript.Echo "created"
pushed = h.Push("Main")
If pushed = 0 And UBound(h.CallStack) = 1 Then WScript.Echo "member works"
EOF_VBS
# A runtime error ends the script silently: each step shows by its own line.
# creates <ProgID>: the script host creates it. handler_works: and calls a handler's member.
creates() {
  wine cscript.exe //nologo "Z:$work/create.vbs" "$1"
  output | grep -qx created
}
handler_works() {
  creates Quenvar.clsErrHandler && output | grep -qx "member works"
}

per_user() {
  user='HKCU\Software\Classes'
  for argument in /i:machine /i:USERS; do
    wine regsvr32 /s /n "$argument" "$dll" && fail "regsvr32 /n $argument succeeded"
  done
  nothing_of_ours "$user" "after refused arguments"

  wine regsvr32 /s /n /i:user "$dll" || fail "regsvr32 /n /i:user: exit $?: $(cat "$work/out" "$work/err")"
  for entry in $classes; do
    progid=${entry%%=*} class="$user\\CLSID\\${entry#*=}"
    value_is "$class\\InprocServer32" /ve "$(echo "$dll" | tr / '\\')" ||
      fail "$progid: class server path: $(output)"
    value_is "$class\\InprocServer32" ThreadingModel Apartment || fail "$progid: threading model: $(output)"
    value_is "$class\\ProgID" /ve "$progid" || fail "$progid: class ProgID: $(output)"
    value_is "$user\\$progid\\CLSID" /ve "${entry#*=}" || fail "$progid: ProgID's class: $(output)"
  done
  value_is "$user\\TypeLib\\$libid\\1.1\\0\\$tlb_platform" /ve "$(echo "$dll" | tr / '\\')" ||
    fail "type library path: $(output)"
  for i in "$iid" "$mail_iid"; do
    value_is "$user\\Interface\\$i\\TypeLib" /ve "$libid" || fail "interface $i's type library: $(output)"
  done
  nothing_of_ours 'HKLM\Software\Classes' "after per-user registration"
  key_exists "$event_source" && fail "per-user registration wrote the event source"

  # Wine 8 reads classes only from HKLM\Software\Classes. Whether this Wine reads the user's
  # classes is shown by a ProgID of the user's naming a class Wine itself provides.
  file_system_object='{0D43FE01-F093-11CF-8940-00A0C9054228}'
  wine reg add "$user\\Quenvar.PerUserProbe\\CLSID" /ve /d "$file_system_object" /f
  if creates Quenvar.PerUserProbe; then
    handler_works || fail "script host after per-user registration: $(output)"
    creates Quenvar.MailSettings || fail "script host creating the mail settings after per-user registration"
    creates Quenvar.Collector || fail "script host creating the collector after per-user registration"
  else
    echo "note: this Wine does not read HKCU\\Software\\Classes; creation after per-user registration not checked"
  fi
  wine reg delete "$user\\Quenvar.PerUserProbe" /f

  wine regsvr32 /s /u /n /i:user "$dll" || fail "regsvr32 /u /n /i:user: exit $?: $(cat "$work/out" "$work/err")"
  nothing_of_ours "$user" "after per-user unregistration"
  for entry in $classes; do
    creates "${entry%%=*}" && fail "the script host still creates ${entry%%=*} after unregistration"
  done
}

reg_free() {
  nothing_of_ours 'HKCU\Software\Classes' "in a fresh prefix"
  nothing_of_ours 'HKLM\Software\Classes' "in a fresh prefix"
  app=$work/app
  mkdir "$app"
  cp "$client" "$app/client.exe"
  cp "$installed/Quenvar.dll" "$installed/Quenvar.manifest" "$app/"
  wine "$app/client.exe" || fail "registration-free client: $(output) $(cat "$work/err")"
  output
  # The manifest is what finds the class: without it the same folder gives nothing.
  rm "$app/Quenvar.manifest"
  wine "$app/client.exe" && fail "the client created the handler with no manifest beside the DLL"
}

# regsvr32 /n /i (DllInstall with no argument) registers machine-wide, the event source included,
# and /u /n /i removes it all.
per_machine() {
  machine='HKLM\Software\Classes'
  wine regsvr32 /s /n /i "$dll" || fail "regsvr32 /n /i: exit $?: $(cat "$work/out" "$work/err")"
  value_is "$machine\\Quenvar.clsErrHandler\\CLSID" /ve "$clsid" || fail "machine-wide ProgID: $(output)"
  wine reg query "$event_source" /v EventMessageFile
  output | grep -qiF "REG_EXPAND_SZ    $(echo "$dll" | tr / '\\')" || fail "event source after regsvr32 /n /i: $(output)"
  wine regsvr32 /s /u /n /i "$dll" || fail "regsvr32 /u /n /i: exit $?: $(cat "$work/out" "$work/err")"
  nothing_of_ours "$machine" "after machine-wide unregistration"
  key_exists "$event_source" && fail "the event source outlived machine-wide unregistration"
}

reg_free
per_user
per_machine

[ "$failures" -eq 0 ] && echo "deployment ($arch): OK"
[ "$failures" -eq 0 ]
