#!/bin/sh
# The DLL's crash capture under Wine, one process per fault: crash.exe dies by it with capture
# on, and (for the faults a filter sees) with a filter of its own set first or over ours. The
# exit codes are the fault's own, the client's filter still runs, the next process finds CrashedLastRun and
# sends to Sentry's Spotlight, where check_event.py reads the fatal events, and Wine's debugger
# opens the minidump they carry. A crash under Wine takes a second or two, most of it Wine's
# dbghelp making the dump: the client's filters and the debugger are tried on the rows marked.
#
#   crash.sh <wine-run.sh> <crash.exe>
set -u
run=$1
client=$2
servers=$(dirname "$0")/../../servers
. "$servers/receivers.sh"
start_spotlight
dsn="$spotlight_dsn/77"
failed=0
# A crash ends within its bound; one that hangs fails its row, not the whole run.
# Without Wine's debugger, whose ending of the process raced the system's and made its exit code
# 0 or the exception's by chance, a fault ends the process with its code, as on Windows.
run_client() { QUENVAR_WINEDLLOVERRIDES=winedbg.exe=d timeout 90 "$run" "$client" "$@"; }
fail() { echo "FAILED: $fault: $*"; failed=1; }

# fault type whole code (whole, yes: with the client's filter set first, and set over ours before
# capture is set again, too; and the dump read by the debugger; code: the exit code a shell sees,
# the low byte of what Windows gives the fault with no capture, measured under Wine without its
# debugger: 0xC0000005, 0xC00000FD, 0xC000001D, 0xC0000094, the raised code, abort()'s 3, a pure
# call's 255; an invalid parameter fails fast as Microsoft's runtime does, 0xC0000409, where
# Wine's own ends with 0xC0000417; win32/win64 where they differ: Wine 8 ends a 64-bit stack
# overflow through the process's exit, with 0). No run with capture off is made here: Wine 8 now and then
# crashes in its own exit after abort() (139, 41 or 1 for 3) with or without a collector, and
# such a run tests nothing of ours. An overflowed stack leaves a client's own filter too little
# room under Wine, which has no stack guarantee, and its dump of the whole stack may not finish
# within the bound on a busy machine: that row checks the report alone.
crashed=0
while read -r fault type whole off; do
  case $off in */*) if [ "$QUENVAR_ARCH" = win64 ]; then off=${off#*/}; else off=${off%/*}; fi ;; esac
  on=$(run_client "$dsn" "$fault" on >"$dir/on.out" 2>&1; echo $?)
  [ "$on" -eq "$off" ] || { cat "$dir/on.out"; fail "capture on: exit code $on, not $off"; }
  grep -q "FAILED" "$dir/on.out" && { cat "$dir/on.out"; fail "the client failed before its fault"; }
  reports=1
  if [ "$whole" = yes ]; then
    reports=3
    for mode in chained over; do
      code=$(run_client "$dsn" "$fault" $mode >"$dir/$mode.out" 2>&1; echo $?)
      [ "$code" -eq "$off" ] || fail "$mode: exit code $code, not $off"
      grep -q "client filter ran" "$dir/$mode.out" || { cat "$dir/$mode.out"; fail "$mode: the client's own filter did not run"; }
    done
  fi
  run_client "$dsn" send >"$dir/send.out" 2>&1 || { cat "$dir/send.out"; fail "the next process did not send"; }
  grep -q "crashed last run: 1" "$dir/send.out" || { cat "$dir/send.out"; fail "CrashedLastRun was not set"; }
  spotlight_envelopes "$dir/taken" >/dev/null &&
    "$python" "$receivers/check_event.py" --fatal "$type" --minidump --last "$reports" "$dir/taken" ||
    fail "the fatal events as Spotlight took them"
  crashed=$((crashed + reports))
  "$python" "$receivers/check_event.py" --sessions "crashed=$crashed" "$dir/taken" ||
    fail "the sessions as Spotlight took them"
  [ "$whole" = yes ] || continue
  # The row's last report with a minidump: Sentry's CLI takes it, Wine's debugger reads the dump.
  last=$(wc -l <"$dir/taken")
  with_dump=$("$python" - "$dir/taken" "$last" "$reports" "$dir/crash.mdmp" <<'PY'
import json, sys
taken, last, reports, out = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
events = 0
for n in range(last, 0, -1):  # the row's events, its runs' sessions among them
    data = open("%s.%d" % (taken, n), "rb").read()
    at = data.index(b"\n") + 1
    first = json.loads(data[at:data.index(b"\n", at)])
    while at < len(data):
        end = data.index(b"\n", at)
        header = json.loads(data[at:end])
        payload = data[end + 1:end + 1 + header["length"]]
        if header.get("attachment_type") == "event.minidump" and payload[:4] == b"MDMP":
            open(out, "wb").write(payload)
            sys.exit(print(n))
        at = end + 2 + header["length"]
    events += first.get("type") != "session"
    if events == reports:
        break
sys.exit(1)
PY
  ) || { fail "no minidump in the row's reports"; continue; }
  strict_read "$dir/taken.$with_dump" "$dir/strict" >/dev/null || fail "Sentry's CLI did not take the report and its dump"
  printf 'bt\nquit\n' | "$run" --arch "$QUENVAR_ARCH" winedbg "Z:$dir/crash.mdmp" >"$dir/winedbg.out" 2>&1
  grep -qi "backtrace" "$dir/winedbg.out" || { cat "$dir/winedbg.out"; fail "Wine's debugger did not open the minidump"; }
done <<'TABLE'
av EXCEPTION_ACCESS_VIOLATION yes 5
stack EXCEPTION_STACK_OVERFLOW no 253/0
ill EXCEPTION_ILLEGAL_INSTRUCTION no 29
divzero EXCEPTION_INT_DIVIDE_BY_ZERO no 148
raise EXCEPTION_CODE_0xE0001234 no 52
abort_msvcrt SIGABRT no 3
abort_ucrt SIGABRT no 3
purecall PURE_VIRTUAL_CALL no 255
invalid_parameter INVALID_PARAMETER no 9
TABLE
# A large program's process: under Wine its 64-bit dump outlasts ten seconds on a quiet
# machine, growing all the while, and the crashing thread waits for it.
fault=large
code=$(run_client "$dsn" av large >"$dir/on.out" 2>&1; echo $?)
[ "$code" -eq 5 ] || { cat "$dir/on.out"; fail "exit code $code, not 5"; }
run_client "$dsn" send >"$dir/send.out" 2>&1 || { cat "$dir/send.out"; fail "the next process did not send"; }
crashed=$((crashed + 1))
spotlight_envelopes "$dir/taken" >/dev/null &&
  "$python" "$receivers/check_event.py" --fatal EXCEPTION_ACCESS_VIOLATION --minidump --last 1 "$dir/taken" ||
  fail "the fatal event with its minidump as Spotlight took it"
# Runs that end otherwise: one that handles an error and exits (told "exited" with its error by
# the next run), one with sessions off and one whose user refused consent (neither told, even
# once consent is given), and one ended by TerminateProcess (told "abnormal").
fault=sessions
run_client "$dsn" handled >"$dir/run.out" 2>&1 || { cat "$dir/run.out"; fail "the run that handles an error failed"; }
run_client "$dsn" untracked >"$dir/run.out" 2>&1 || { cat "$dir/run.out"; fail "the run with sessions off failed"; }
run_client "$spotlight_dsn/78" refused >"$dir/run.out" 2>&1 || { cat "$dir/run.out"; fail "the run without consent failed"; }
run_client "$spotlight_dsn/78" send consent >"$dir/run.out" 2>&1 || { cat "$dir/run.out"; fail "the consenting run did not send"; }
run_client "$dsn" terminate >/dev/null 2>&1
run_client "$dsn" send >"$dir/run.out" 2>&1 || { cat "$dir/run.out"; fail "the next process did not send"; }
spotlight_envelopes "$dir/taken" >/dev/null &&
  "$python" "$receivers/check_event.py" --sessions \
    "crashed=$crashed,abnormal=1,exited=1:1" "$dir/taken" ||
  fail "the sessions of the runs that end otherwise"
session=$(grep -l '"type":"session"' "$dir"/taken.[0-9]* | head -n 1)
[ -n "$session" ] && strict_send "$session" "$dir/strict-session" || fail "no session update Sentry's CLI takes"
[ "$failed" -eq 0 ] && echo "every fault of the table: the same end, and its report taken"
exit "$failed"
