#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian 12 machine (run as root): the
# native toolchain and test libraries, the mingw-w64 cross compilers, Wine (both
# architectures) with its fonts, wixl for the installer packages, Xvfb, clang with libFuzzer,
# and the two SMTP servers the mail tests deliver to on loopback. Every package is named here:
# a minimal Debian 12 system (debootstrap --variant=minbase) has nothing else, and
# scripts/fresh-machine.sh proves it.
set -euo pipefail

packages=(
  # native build and tests
  g++ cmake ninja-build ccache libgtest-dev libgmock-dev libbenchmark-dev googletest
  # an outside project built against the installed library
  pkg-config
  # fuzzing
  clang libclang-rt-14-dev
  # the Windows build: cross compilers, the system IDL files, widl (its name comes from `wine`)
  mingw-w64 mingw-w64-tools libwine-dev wine64-tools
  # Wine of both architectures; `wine` makes the wine/wineserver/regsvr32/widl links
  wine wine64 wine32:i386 fonts-wine
  # the Windows Installer packages: wixl builds them, msitools' msibuild amends their tables
  wixl msitools
  # a display for the dialogs and message boxes; xvfb-run needs xauth
  xvfb xauth
  # TLS for the native mail session
  libgnutls28-dev
  # the collector's events: JSON, header-only, for every build; HTTP for the native library
  nlohmann-json3-dev libcurl4-gnutls-dev
  # TLS for the Windows build: Wine's Schannel loads GnuTLS, a recommendation of Wine's only
  libgnutls30 libgnutls30:i386
  # real mail servers on loopback, submission with sign-in and a test CA, and reading their
  # messages and screenshots back
  python3 python3-aiosmtpd postfix dovecot-core openssl python3-pil
  # the pointer on the virtual display, as the X server shows it
  python3-xlib
)

fail() { echo "setup: $*" >&2; exit 1; }

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

. /etc/os-release 2>/dev/null || fail "cannot read /etc/os-release: this set-up is for Debian 12"
[[ ${ID:-} == debian && ${VERSION_ID:-} == 12 ]] ||
  fail "this set-up is for Debian 12 (bookworm); this machine is ${PRETTY_NAME:-unknown}"

need_i386=
dpkg --print-foreign-architectures | grep -qx i386 || need_i386=1
missing=()
for p in "${packages[@]}"; do installed "$p" || missing+=("$p"); done
if ((${#missing[@]} == 0)) && [[ -z $need_i386 ]]; then exit 0; fi

[[ $(id -u) == 0 ]] || fail "run as root: these Debian packages are missing: ${missing[*]}${need_i386:+ (and the i386 architecture)}"

export DEBIAN_FRONTEND=noninteractive
if [[ -n $need_i386 ]]; then
  echo "setup: adding the i386 architecture (32-bit Wine)"
  dpkg --add-architecture i386
fi
echo "setup: installing ${#missing[@]} packages and what they need: ${missing[*]}"
# The tests run private Postfix instances; the system-wide one stays unconfigured and stopped.
echo "postfix postfix/main_mailer_type select No configuration" | debconf-set-selections
if ! apt-get update -q; then
  fail "cannot read the package lists from the registry in /etc/apt/sources.list*: is the network up?"
fi
# No recommendations: what is needed is named above, so a fresh machine and a developer's agree.
apt-get install -y -q --no-install-recommends "${missing[@]}" ||
  fail "installing the packages failed (see apt's messages above)"
for p in "${packages[@]}"; do installed "$p" || fail "$p is still not installed"; done
echo "setup: done"
