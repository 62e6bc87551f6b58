#!/bin/sh
# The fault table of the native library's crash capture: for each fault, crash_client dies by it
# with capture off and on, with a handler of its own installed first, and with one installed
# over ours before capture is set again; all end by the same signal, the client's handler still
# runs, and the next process finds CrashedLastRun, sends the report to Sentry's Spotlight, where
# check_event.py reads the fatal event. Each run is a session: those with capture end "crashed",
# the one without is told "abnormal" by the next run; then runs that end otherwise.
#
#   crash_capture.sh <crash_client>
set -u
client=$1
servers=$(dirname "$0")/../servers
. "$servers/receivers.sh"
start_spotlight
export QUENVAR_TEST_DSN="$spotlight_dsn/9" XDG_STATE_HOME="$dir/state" XDG_CONFIG_HOME="$dir/config"
failed=0 faults=0
fail() { echo "FAILED: $fault: $*"; failed=1; }

# The last envelope taken that is no session update.
last_event() {
  n=$(wc -l <"$dir/taken")
  while [ "$n" -gt 0 ]; do
    grep -q '"type":"session"' "$dir/taken.$n" || { echo "$dir/taken.$n"; return; }
    n=$((n - 1))
  done
}

# fault signal type
while read -r fault signal type; do
  # No core files from the dying clients, whatever the machine's setting.
  off=$(ulimit -c 0; "$client" "$fault" off 2>/dev/null; echo $?)
  on=$(ulimit -c 0; "$client" "$fault" on 2>/dev/null; echo $?)
  chained=$(ulimit -c 0; "$client" "$fault" chained 2>"$dir/chained.err"; echo $?)
  over=$(ulimit -c 0; "$client" "$fault" over 2>"$dir/over.err"; echo $?)
  [ "$off" -eq $((128 + signal)) ] || fail "capture off: exit status $off, not $((128 + signal))"
  [ "$on" -eq "$off" ] || fail "capture on: exit status $on, not $off as with capture off"
  [ "$chained" -eq "$off" ] || fail "after the client's handler: exit status $chained, not $off"
  grep -q "client handler ran" "$dir/chained.err" || fail "the client's own handler did not run"
  [ "$over" -eq "$off" ] || fail "capture set again over the client's handler: exit status $over, not $off"
  grep -q "client handler ran" "$dir/over.err" || fail "the client's handler set over ours did not run"
  "$client" send >"$dir/send.out" 2>&1 || { cat "$dir/send.out"; fail "the next process did not send"; }
  grep -q "crashed last run: 1" "$dir/send.out" || { cat "$dir/send.out"; fail "CrashedLastRun was not set"; }
  # Three reports (on, chained, over) arrived for this fault.
  spotlight_envelopes "$dir/taken" >/dev/null &&
    "$python" "$receivers/check_event.py" --fatal "$type" --last 3 "$dir/taken" &&
    strict_read "$(last_event)" "$dir/strict" || fail "the fatal events as Spotlight and Sentry's CLI took them"
  "$client" send >"$dir/send.out" 2>&1
  grep -q "crashed last run: 0" "$dir/send.out" || fail "ClearCrashedLastRun did not reset it"
  faults=$((faults + 1))
  "$python" "$receivers/check_event.py" --sessions "crashed=$((3 * faults)),abnormal=$faults" "$dir/taken" ||
    fail "the sessions as Spotlight took them"
done <<'TABLE'
segv 11 SIGSEGV
bus 7 SIGBUS
ill 4 SIGILL
fpe 8 SIGFPE
abort 6 SIGABRT
stack 11 SIGSEGV
doublefree 6 SIGABRT
TABLE
# Runs that end otherwise: one that handles an error and exits (told "exited" with its error by
# the next run), one with sessions off and one whose user refused consent (neither told, even
# once consent is given), and one killed (told "abnormal").
fault=sessions
"$client" handled >/dev/null 2>&1 || fail "the run that handles an error failed"
"$client" untracked >/dev/null 2>&1 || fail "the run with sessions off failed"
QUENVAR_TEST_DSN="$spotlight_dsn/10" "$client" refused >/dev/null 2>&1 || fail "the run without consent failed"
QUENVAR_TEST_DSN="$spotlight_dsn/10" "$client" send consent >"$dir/send.out" 2>&1 || { cat "$dir/send.out"; fail "the consenting run did not send"; }
"$client" kill >/dev/null 2>&1
"$client" send >"$dir/send.out" 2>&1 || { cat "$dir/send.out"; fail "the next process did not send"; }
spotlight_envelopes "$dir/taken" >/dev/null &&
  "$python" "$receivers/check_event.py" --sessions "crashed=$((3 * faults)),abnormal=$((faults + 1)),exited=1:1" "$dir/taken" ||
  fail "the sessions of the runs that end otherwise"
# Sentry's own types read a session update too.
session=$(grep -l '"type":"session"' "$dir"/taken.[0-9]* | head -n 1)
[ -n "$session" ] && strict_send "$session" "$dir/strict-session" || { fault=sessions; fail "no session update Sentry's CLI takes"; }
[ "$failed" -eq 0 ] && echo "every fault of the table: the same end, and its report taken"
exit "$failed"
