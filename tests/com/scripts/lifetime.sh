#!/bin/sh
# Runs the lifetime suite and answers its requests for the script host's resident set: the host
# writes measure-<n> in its scratch folder, this reads VmRSS of the Wine process running that
# very script and writes it to measured-<n>.
#
#   lifetime.sh <run-script.sh>
set -u
run=$1
scratch=$PWD/scratch/${QUENVAR_ARCH:-win32}/lifetime
# The program's Windows path is on the host's command line; no other host has it.
program=$(printf 'Z:%s.vbs' "$scratch" | tr / '\\')

answer() {
  for n in 1 2; do
    tries=0
    while [ ! -f "$scratch/measure-$n" ]; do
      tries=$((tries + 1))
      [ $tries -gt 1200 ] && return
      sleep 0.1
    done
    kb=-1
    for cmdline in /proc/[0-9]*/cmdline; do
      # The host itself, not the shells that started it with the same arguments.
      if tr '\0' '\n' <"$cmdline" 2>/dev/null | head -n 1 | grep -qi 'cscript\.exe$' &&
        tr '\0' ' ' <"$cmdline" 2>/dev/null | grep -qiF "$program"; then
        status=${cmdline%cmdline}status
        kb=$(awk '/^VmRSS:/ { print $2 }' "$status" 2>/dev/null)
        break
      fi
    done
    echo "${kb:--1}" >"$scratch/measured-$n.part" && mv "$scratch/measured-$n.part" "$scratch/measured-$n"
  done
}

# run-script.sh empties the scratch folder before the host starts: no stale request is seen.
rm -f "$scratch"/measure-* 2>/dev/null
answer &
watcher=$!
"$run" lifetime
status=$?
kill "$watcher" 2>/dev/null
wait "$watcher" 2>/dev/null
exit $status
