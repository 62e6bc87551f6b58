#!/usr/bin/env bash
# Runs a command on a freshly made minimal Debian 12 system, to prove that the README's commands
# need nothing a developer's machine happens to have. Run as root on Debian:
#
#   scripts/fresh-machine.sh [command ...]    default: scripts/demo.sh && scripts/test.sh
#
# Makes a root with `debootstrap --variant=minbase bookworm` from the mirror this machine's apt
# sources use (the bare root is cached as build/fresh-machine/bookworm-minbase.tar.gz, or where
# QUENVAR_FRESH_ROOT_CACHE says), puts a clean clone of the current commit at /src/quenvar in
# it, mounts /proc, /sys and /dev (with /dev/pts and /dev/shm), runs the command there as a
# new user's root shell would, and removes everything again, also on failure and Ctrl-C. Exits
# with the command's status; a command that succeeds but leaves the clone's working tree
# changed fails.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cache=${QUENVAR_FRESH_ROOT_CACHE:-$repo/build/fresh-machine/bookworm-minbase.tar.gz}
suite=bookworm

say() { echo "fresh-machine: $*" >&2; }
fail() { say "$*"; exit 1; }

[[ $(id -u) == 0 ]] || fail "run as root: making a root with debootstrap, mounting and chroot need it"
command -v apt-get >/dev/null || fail "this needs a Debian machine (apt-get, debootstrap)"
git -C "$repo" rev-parse --verify -q HEAD >/dev/null || fail "$repo is not a git clone with a commit"
if (($#)); then run=$(printf '%q ' "$@"); else run='scripts/demo.sh && scripts/test.sh'; fi

# "<uri> <suite>" for every Debian source of this machine, in either file format.
apt_sources() {
  local f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [[ -r $f ]] && awk '$1 == "deb" { i = 2; if ($2 ~ /^\[/) while ($i !~ /\]$/) i++; if ($2 ~ /^\[/) i++; print $i, $(i + 1) }' "$f"
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [[ -r $f ]] && awk '
      function flush() { if (types ~ /(^| )deb( |$)/) { n = split(uris, u, " "); m = split(suites, s, " ");
                           for (i = 1; i <= n; i++) for (j = 1; j <= m; j++) print u[i], s[j] }
                         types = uris = suites = "" }
      /^[ \t]*$/ { flush(); next }
      /^#/ { next }
      { key = tolower($1); sub(/:$/, "", key); $1 = "" ; sub(/^ /, "") }
      key == "types" { types = $0 } key == "uris" { uris = $0 } key == "suites" { suites = $0 }
      END { flush() }' "$f"
  done
  return 0
}
sources=$(apt_sources | awk -v s="$suite" '$2 == s || $2 == s "-updates" || $2 == s "-security"' | sort -u)
mirror=$(awk -v s="$suite" '$2 == s { print $1; exit }' <<<"$sources")
[[ -n $mirror ]] || fail "no '$suite' source in /etc/apt/sources.list*: which Debian mirror should the root come from?"

if ! command -v debootstrap >/dev/null; then
  say "installing debootstrap"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q debootstrap >/dev/null ||
    fail "could not install debootstrap from the package registry"
fi

mounts_below() { awk -v r="$1" '$5 == r || index($5, r "/") == 1 { print $5 }' /proc/self/mountinfo; }

# Stops what still runs in the root at $1 (servers, Wine and Xvfb would keep its mounts busy),
# unmounts everything below it and removes its folder $2; leaves the folder, saying so, when a
# mount stays.
remove_root() {
  local root=$1 work=$2 pid i mounts
  for i in 1 2 3 4 5 6 7 8 9 10; do
    local left=()
    for pid in /proc/[0-9]*; do
      [[ $(readlink "$pid/root" 2>/dev/null) == "$root" ]] && left+=("${pid#/proc/}")
    done
    ((${#left[@]})) || break
    if ((i < 10)); then kill -TERM "${left[@]}" 2>/dev/null; else kill -KILL "${left[@]}" 2>/dev/null; fi
    sleep 0.5
  done
  # Private first: a root killed between a bind and making it a slave would pass its unmounts
  # on to the host's own /dev and /sys.
  while read -r i; do mount --make-private "$i" 2>/dev/null; done < <(mounts_below "$root")
  while read -r i; do umount -l "$i" 2>/dev/null; done < <(mounts_below "$root" | sort -r)
  mounts=$(mounts_below "$root")
  if [[ -n $mounts ]]; then
    say "still mounted, so $work is left in place:"; echo "$mounts" >&2
  else
    rm -rf --one-file-system "$work"
  fi
}

# A run killed outright (SIGKILL, a lost session) leaves its root behind, 20 GB once the tests
# have run in it, mounts and all. Each run holds a lock on its folder, so the next run can tell
# such a folder from one in use; one made in the last minutes may not hold its lock yet.
while read -r stale; do
  exec {lock}>>"$stale/lock" || continue
  if flock -n "$lock"; then
    say "removing $stale, left by a run that was killed"
    remove_root "$stale/root" "$stale"
  fi
  exec {lock}>&-
done < <(find "${TMPDIR:-/var/tmp}" -maxdepth 1 -name 'quenvar-fresh.*' -type d -mmin +5)

work=$(mktemp -d "${TMPDIR:-/var/tmp}/quenvar-fresh.XXXXXX")
exec {lock}>"$work/lock"
flock -n "$lock"
root=$work/root

cleanup() {
  local status=$?
  trap - EXIT INT TERM HUP
  set +e
  remove_root "$root" "$work"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

if [[ -f $cache ]]; then
  say "unpacking the cached minimal root $cache"
  mkdir -p "$root"
  tar -xzf "$cache" -C "$root" --numeric-owner || fail "the cached root $cache is damaged: remove it and try again"
else
  say "making a minimal Debian 12 root from $mirror (about 70 s)"
  debootstrap --variant=minbase "$suite" "$root" "$mirror" >"$work/debootstrap.log" 2>&1 || {
    tail -20 "$work/debootstrap.log" >&2
    fail "debootstrap failed: is $mirror reachable?"
  }
  mkdir -p "$(dirname "$cache")"
  tar -czf "$cache.part" -C "$root" --numeric-owner . && mv "$cache.part" "$cache"
  say "cached the bare root as $cache"
fi

# The same Debian sources as this machine, and its name service, as a new install would have.
awk '{ print "deb", $1, $2, "main" }' <<<"$sources" >"$root/etc/apt/sources.list"
rm -f "$root"/etc/apt/sources.list.d/*
cp -L /etc/resolv.conf "$root/etc/resolv.conf"
# And the certificate authorities this machine's administrator added (a proxy's, for one), which
# Debian's ca-certificates takes in when the set-up installs it: npm reaches its registry by TLS.
if compgen -G '/usr/local/share/ca-certificates/*.crt' >/dev/null; then
  mkdir -p "$root/usr/local/share/ca-certificates"
  cp -L /usr/local/share/ca-certificates/*.crt "$root/usr/local/share/ca-certificates/"
fi
grep -qw localhost "$root/etc/hosts" 2>/dev/null || printf '127.0.0.1\tlocalhost\n::1\t\tlocalhost ip6-localhost ip6-loopback\n' >>"$root/etc/hosts"

mkdir -p "$root/src"
git clone -q --no-hardlinks "$repo" "$root/src/quenvar"
git -C "$root/src/quenvar" checkout -q --detach "$(git -C "$repo" rev-parse HEAD)"
say "clean clone of $(git -C "$repo" rev-parse --short HEAD) at /src/quenvar"

mount -t proc proc "$root/proc"
mount --rbind /sys "$root/sys" && mount --make-rslave "$root/sys"
mount --rbind /dev "$root/dev" && mount --make-rslave "$root/dev"
for sub in pts shm; do
  # Where the host's /dev holds no separate mount for them, give the root its own.
  if ! mountpoint -q "$root/dev/$sub"; then
    mkdir -p "$root/dev/$sub"
    case $sub in
      pts) mount -t devpts -o newinstance,ptmxmode=0666 devpts "$root/dev/pts" ;;
      shm) mount -t tmpfs -o mode=1777 shm "$root/dev/shm" ;;
    esac
  fi
done

say "running: $run"
start=$SECONDS
set +e
chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  TERM="${TERM:-dumb}" /bin/bash -c "cd /src/quenvar && $run" {lock}>&-
status=$?
set -e
say "the command ended with status $status after $((SECONDS - start)) s"
if ((status == 0)); then
  changed=$(git -C "$root/src/quenvar" status --porcelain)
  if [[ -n $changed ]]; then
    say "the command left the working tree changed:"
    echo "$changed" >&2
    status=1
  fi
fi
exit "$status"
