#!/bin/sh
# What DllRegisterServer writes, taken from the registry of a fresh Wine prefix: the DLL is copied
# into the prefix, registered with regsvr32, and registry.py lists what changed (the DLL's path as
# [DLL], its folder as [DIR]). The package's registry table is made from this list.
#
#   capture.sh <win32|win64> <Quenvar.dll> <output list>
set -u

if [ $# -ne 3 ]; then
  echo "usage: $0 <win32|win64> <Quenvar.dll> <output list>" >&2
  exit 2
fi
arch=$1 dll=$2 output=$3
here=$(cd "$(dirname "$0")" && pwd)
wine_run=$here/../../tests/wine/wine-run.sh
. "$here/../../tests/wine/scratch_prefix.sh"
scratch_prefix capture


"$wine_run" --arch "$arch" cmd /c ver >"$work/out" 2>&1 || { cat "$work/out" >&2; exit 1; }
settle
cp "$QUENVAR_WINEPREFIX/system.reg" "$work/before.reg" || exit 1
mkdir -p "$QUENVAR_WINEPREFIX/drive_c/Quenvar" && cp "$dll" "$QUENVAR_WINEPREFIX/drive_c/Quenvar/Quenvar.dll" || exit 1
"$wine_run" --arch "$arch" regsvr32 /s 'C:\Quenvar\Quenvar.dll' >"$work/out" 2>&1 ||
  { echo "$0: regsvr32 failed:" >&2; cat "$work/out" >&2; exit 1; }
settle
python3 "$here/registry.py" capture "$work/before.reg" "$QUENVAR_WINEPREFIX/system.reg" 'C:\Quenvar\Quenvar.dll' >"$output"
