#!/bin/sh
# Registers record_link.exe as the prefix's "mailto" protocol handler, runs the mailto suite
# through the script host and checks the link the handler received, once with a short subject
# and once with one whose link passes 400 characters.
#
#   run.sh <record_link.exe>
set -u
if [ $# -ne 1 ]; then
  echo "usage: $0 <record_link.exe>" >&2
  exit 2
fi
handler=$1
here=$(cd "$(dirname "$0")" && pwd)
wine_run=$here/../../wine/wine-run.sh
arch=${QUENVAR_ARCH:-win32}
fail() { echo "FAILED: $*"; exit 1; }
windows() { printf 'Z:%s' "$1" | tr / '\\'; }

scratch=$PWD/scratch/$arch/mailto
rm -rf "$scratch"
mkdir -p "$scratch" || exit 2

# Wine 8 does not merge HKCU\Software\Classes into HKCR: a handler registered there is never
# consulted and the prefix's own, winebrowser under HKLM, opens the link. So the prefix's entry is
# replaced for the test and put back afterwards.
key='HKCR\mailto'
command="\"$(windows "$handler")\" \"%1\""
previous=$("$wine_run" --arch "$arch" reg.exe query "$key\\shell\\open\\command" /ve 2>/dev/null |
  tr -d '\r' | sed -n 's/^ *(Default) *REG_SZ *//p')
restore() {
  [ -n "$previous" ] &&
    "$wine_run" --arch "$arch" reg.exe add "$key\\shell\\open\\command" /ve /d "$previous" /f >/dev/null 2>&1
}
trap restore EXIT
trap 'exit 130' INT TERM
registered() {
  "$wine_run" --arch "$arch" reg.exe add "$@" /f >"$scratch/reg.out" 2>&1 ||
    { cat "$scratch/reg.out"; fail "could not register the handler: reg.exe add $*"; }
}
registered "$key" /v "URL Protocol" /d ""
registered "$key\\shell\\open\\command" /ve /d "$command"

# What the handler should receive, encoded here by hand: unreserved characters stay, the rest
# become %XX.
expected_short='mailto:ops@example.com?Subject=Fish%20%26%20Chips%20%231%3F%20Deluxe%202.5.11%20Application%20Error'
piece='A%26B%20%23C%3F%20'
subject=
i=0
while [ $i -lt 30 ]; do subject=$subject$piece; i=$((i + 1)); done
expected_long="mailto:ops@example.com?Subject=${subject}End%202.5.11%20Application%20Error"

# One run of the suite, then the links the handler recorded, which arrive after the suite ends:
# ShellExecute does not wait for the handler.
run() {
  mode=$1
  log=$scratch/$mode.links
  QUENVAR_MAILTO_LOG=$(windows "$log") "$here/../scripts/run-script.sh" "$here/mailto.vbs" "$mode" ||
    fail "the $mode suite failed"
  i=0
  while [ ! -s "$log" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
  [ -s "$log" ] || fail "$mode: the handler recorded no link within 10 s"
  # A second launch (the cut retry) would arrive shortly after the first.
  sleep 0.5
}

check() {
  mode=$1 want=$2
  log=$scratch/$mode.links
  echo "$mode: recorded $(wc -l <"$log") link(s):"
  cat "$log"
  [ "$(wc -l <"$log")" -eq 1 ] || fail "$mode: want one launch of the handler"
  got=$(head -n 1 "$log")
  [ "$got" = "$want" ] || fail "$mode: the link differs; want (${#want} characters):
$want"
}

run short
check short "$expected_short"
run long
[ ${#expected_long} -gt 400 ] || fail "the long link is only ${#expected_long} characters"
check long "$expected_long"
echo "both links arrived whole"
