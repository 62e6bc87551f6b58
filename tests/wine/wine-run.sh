#!/bin/sh
# Runs a Windows program under Wine in a private prefix and returns its exit code; usable as
# CMAKE_CROSSCOMPILING_EMULATOR.
#
#   wine-run.sh [--arch win32|win64] [--wait-server] program.exe [arguments...]
#
# QUENVAR_WINEPREFIX names the prefix (default: ./wineprefix), created on first use.
# --wait-server is for callers that bring a display of their own and take it away afterwards: it
# stops any server the prefix still has first, and waits for the prefix's Wine processes to end
# before returning.
set -u

arch=
wait_server=
while [ $# -gt 0 ]; do
  case "$1" in
    --arch) arch=$2; shift 2 ;;
    --arch=*) arch=${1#--arch=}; shift ;;
    --wait-server) wait_server=1; shift ;;
    --) shift; break ;;
    *) break ;;
  esac
done
if [ $# -lt 1 ]; then
  echo "usage: $0 [--arch win32|win64] [--wait-server] program.exe [arguments...]" >&2
  exit 2
fi
program=$1
shift

wine32=/usr/bin/wine
wine64=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
[ -x "$wineserver" ] || wineserver=wineserver

# The machine field of the PE header: 0x14c for i386, 0x8664 for x86-64.
byte() { od -An -tu1 -j"$2" -N1 "$1" | tr -d ' '; }
if [ -z "$arch" ]; then
  if [ ! -r "$program" ]; then
    echo "$0: cannot read $program" >&2
    exit 2
  fi
  pe=$(( $(byte "$program" 60) + 256 * $(byte "$program" 61) + 65536 * $(byte "$program" 62) ))
  machine=$(( $(byte "$program" $((pe + 4))) + 256 * $(byte "$program" $((pe + 5))) ))
  case "$machine" in
    332) arch=win32 ;;
    34404) arch=win64 ;;
    *) echo "$0: $program is not an i386 or x86-64 Windows program" >&2; exit 2 ;;
  esac
fi
case "$arch" in
  win32) loader=$wine32 ;;
  win64) loader=$wine64 ;;
  *) echo "$0: unknown architecture $arch" >&2; exit 2 ;;
esac

# Wine names files in the Unix locale's character set, so under the POSIX locale (a root shell
# on a minimal system) a folder name outside ASCII cannot even be created; the tests expect the
# formats and code page Wine derives from C.UTF-8, whatever the caller's locale.
export LC_ALL=C.UTF-8
WINEPREFIX=${QUENVAR_WINEPREFIX:-$PWD/wineprefix}
WINEDEBUG=${WINEDEBUG:--all}
# QUENVAR_WINEDLLOVERRIDES adds a caller's own (winedbg.exe=d: no debugger for a crash).
WINEDLLOVERRIDES="mscoree,mshtml=${QUENVAR_WINEDLLOVERRIDES:+;$QUENVAR_WINEDLLOVERRIDES}"
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES

# Wine's background services inherit the standard handles of the command that starts them and
# would hold a caller's pipe open long after the program ends: output goes through files.
scratch=$(mktemp -d "${TMPDIR:-/tmp}/wine-run.XXXXXX") || exit 2
trap 'rm -rf "$scratch"' EXIT
trap 'exit 130' INT TERM

# Tests run in parallel; the first to arrive creates the prefix while the others wait. A 64-bit
# prefix runs programs of both architectures.
mkdir -p "$(dirname "$WINEPREFIX")"
(
  flock 9
  if [ ! -f "$WINEPREFIX/.quenvar-ready" ]; then
    boot=$wine64
    [ -x "$boot" ] || boot=$wine32
    # Not passing the lock on: Wine's lingering background processes would hold it. On a loaded
    # machine the first start of a new prefix now and then cannot load kernel32 (c0000135, seen
    # once in some hundred runs); a prefix made from scratch again starts.
    attempt=1
    until "$boot" wineboot -i >"$scratch/wineboot.log" 2>&1 </dev/null 9>&-; do
      if [ $attempt -ge 3 ]; then
        echo "$0: creating the Wine prefix $WINEPREFIX failed ($attempt attempts):" >&2
        cat "$scratch/wineboot.log" >&2
        exit 1
      fi
      "$wineserver" -k >/dev/null 2>&1 </dev/null 9>&-
      rm -rf "$WINEPREFIX"
      attempt=$((attempt + 1))
      sleep 1
    done
    touch "$WINEPREFIX/.quenvar-ready"
  fi
  # Xvfb has no window manager: Wine draws the frames itself and closes windows at once instead
  # of waiting for a manager to withdraw them.
  if [ ! -f "$WINEPREFIX/.quenvar-unmanaged" ]; then
    for value in Managed Decorated; do
      "$wine64" reg add 'HKCU\Software\Wine\X11 Driver' /v "$value" /d N /f >/dev/null 2>&1 </dev/null 9>&- ||
        "$wine32" reg add 'HKCU\Software\Wine\X11 Driver' /v "$value" /d N /f >/dev/null 2>&1 </dev/null 9>&-
    done
    touch "$WINEPREFIX/.quenvar-unmanaged"
  fi
  # Debian's Wine 8 looks for its own fonts in /usr/share/fonts instead of /usr/share/wine/fonts
  # and so never loads Marlett (the caption buttons' symbols), Tahoma or MS Sans Serif. It does
  # load whatever the prefix's Fonts folder holds.
  fonts=/usr/share/wine/fonts
  if [ -d "$fonts" ] && [ ! -f "$WINEPREFIX/.quenvar-fonts" ]; then
    mkdir -p "$WINEPREFIX/drive_c/windows/Fonts" &&
      cp -n "$fonts"/* "$WINEPREFIX/drive_c/windows/Fonts/" &&
      touch "$WINEPREFIX/.quenvar-fonts"
  fi
) 9>"$WINEPREFIX.lock" || exit 2

# A prefix tied to a display must not reuse a server left from a display that has gone: its
# desktop would never show a window.
[ -n "$wait_server" ] && "$wineserver" -k >/dev/null 2>&1 </dev/null
"$loader" "$program" "$@" >"$scratch/out" 2>"$scratch/err" </dev/null
status=$?
if [ -n "$wait_server" ]; then
  "$wineserver" -w >/dev/null 2>&1 </dev/null
fi
cat "$scratch/out"
cat "$scratch/err" >&2
exit $status
