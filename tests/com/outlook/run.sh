#!/bin/sh
# Registers the stand-in "Outlook.Application" in the test prefix, runs the Outlook suite and
# checks the calls the stand-in recorded; then runs the suite again with the stand-in gone,
# where the route must fail quietly (a message box, which returns at once without a display).
#
#   run.sh Z:<path of quenvar_test_outlook.dll>
set -u
if [ $# -ne 1 ]; then
  echo "usage: $0 Z:<stand-in dll>" >&2
  exit 2
fi
dll=$(printf '%s' "$1" | tr / '\\')
here=$(cd "$(dirname "$0")" && pwd)
arch=${QUENVAR_ARCH:-win32}
wine_run=$here/../../wine/wine-run.sh
clsid='{6D3C1F0A-5B2E-4C71-9A43-8E2D7F1B0C55}'
windows() { printf 'Z:%s' "$1" | tr / '\\'; }
fail() { echo "FAILED: $*"; exit 1; }

scratch=$PWD/scratch/$arch/outlook
rm -rf "$scratch"
mkdir -p "$scratch" || exit 2
log=$scratch/outlook.log

# The architecture's own reg.exe writes the registry view that architecture's COM reads.
reg() { "$wine_run" --arch "$arch" reg.exe "$@" >>"$scratch/reg.out" 2>&1; }
unregister() {
  reg delete 'HKCR\Outlook.Application' /f
  reg delete "HKCR\\CLSID\\$clsid" /f
}
trap unregister EXIT
trap 'exit 130' INT TERM

reg add "HKCR\\CLSID\\$clsid\\InprocServer32" /ve /d "$dll" /f &&
  reg add "HKCR\\CLSID\\$clsid\\InprocServer32" /v ThreadingModel /d Apartment /f &&
  reg add 'HKCR\Outlook.Application\CLSID' /ve /d "$clsid" /f ||
  { cat "$scratch/reg.out"; fail "registering the stand-in"; }

suite() {
  QUENVAR_OUTLOOK_LOG=$(windows "$log") "$here/../scripts/run-script.sh" "$here/outlook.vbs" || fail "$1: the suite failed"
}

suite "with the stand-in"
[ -f "$log" ] || fail "the stand-in recorded nothing"
echo "recorded:"; cat "$log"
# The component sets Body before Subject; "the report" is 10 characters.
printf '%s\n' 'CreateItem 0' 'Recipients.Add ops@example.com' 'Body 10' \
  'Subject OutlookSuite 4.5.6 Application Error' 'Send' >"$scratch/expected"
tr -d '\r' <"$log" | diff "$scratch/expected" - || fail "the recorded calls differ from the expected ones"

unregister
rm -f "$log"
suite "without an Outlook.Application"
[ ! -e "$log" ] || { cat "$log"; fail "calls recorded with the stand-in unregistered"; }
echo "the route used the stand-in, and failed quietly without it"
