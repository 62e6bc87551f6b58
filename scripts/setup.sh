#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian 12 machine (run as root): the
# native toolchain and test libraries, the mingw-w64 cross compilers, Wine (both
# architectures) with its fonts, wixl for the installer packages, Xvfb, clang with libFuzzer,
# the two SMTP servers the mail tests deliver to on loopback, and npm, which then installs the
# collectors the collector tests send to (tests/receivers, as its lock file pins them). Every
# package is named here: a minimal Debian 12 system (debootstrap --variant=minbase) has nothing
# else, and scripts/fresh-machine.sh proves it.
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
  # npm for the collectors the tests send to, Sentry's Spotlight and CLI (tests/receivers): it
  # installs them with a Node of their own, since Spotlight needs a newer one than Debian's
  nodejs npm
)

fail() { echo "setup: $*" >&2; exit 1; }

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
# What an installed package provides counts: NodeSource's nodejs, for one, brings its own npm and
# conflicts with Debian's.
provided() {
  dpkg-query -W -f='${db:Status-Abbrev}${Provides}\n' 2>/dev/null | awk -v p="$1" '
    /^ii / { sub(/^ii +/, ""); n = split($0, a, /, */)
             for (i = 1; i <= n; i++) { split(a[i], w, " "); if (w[1] == p) found = 1 } }
    END { exit !found }'
}

. /etc/os-release 2>/dev/null || fail "cannot read /etc/os-release: this set-up is for Debian 12"
[[ ${ID:-} == debian && ${VERSION_ID:-} == 12 ]] ||
  fail "this set-up is for Debian 12 (bookworm); this machine is ${PRETTY_NAME:-unknown}"

need_i386=
dpkg --print-foreign-architectures | grep -qx i386 || need_i386=1
missing=()
for p in "${packages[@]}"; do installed "$p" || provided "$p" || missing+=("$p"); done

install_packages() {
  [[ $(id -u) == 0 ]] || fail "run as root: these Debian packages are missing: ${missing[*]}${need_i386:+ (and the i386 architecture)}"

  export DEBIAN_FRONTEND=noninteractive
  if [[ -n $need_i386 ]]; then
    echo "setup: adding the i386 architecture (32-bit Wine)"
    dpkg --add-architecture i386
  fi
  echo "setup: installing ${#missing[@]} packages and what they need: ${missing[*]}"
  # The tests run private Postfix instances; the system-wide one stays unconfigured and stopped.
  echo "postfix postfix/main_mailer_type select No configuration" | debconf-set-selections
  # A mirror in the middle of a sync serves an index that disagrees with its Release file, and
  # apt then skips that list but says it failed. The lists it did read may well hold every
  # package needed (the skipped one is often the security updates of one architecture), so
  # the installation, not the update, decides; one more try gives a sync time to finish.
  local lists=read
  if ! apt-get update -q; then
    echo "setup: some package lists could not be read (above); trying again in 30 s"
    sleep 30
    apt-get update -q || lists=partial
  fi
  [[ $lists == read ]] || echo "setup: going on with the package lists that were read" >&2
  # No recommendations: what is needed is named above, so a fresh machine and a developer's agree.
  apt-get install -y -q --no-install-recommends "${missing[@]}" || {
    [[ $lists == read ]] ||
      fail "installing the packages failed, and some package lists could not be read from the registry in /etc/apt/sources.list* (see apt's messages above): is the network up, or is the mirror in the middle of a sync?"
    fail "installing the packages failed (see apt's messages above)"
  }
  for p in "${packages[@]}"; do installed "$p" || provided "$p" || fail "$p is still not installed"; done
  echo "setup: the packages are installed"
}
if ((${#missing[@]})) || [[ -n $need_i386 ]]; then install_packages; fi

# The receivers as their lock file pins them, again whenever it is newer than what is installed.
# No package's install scripts run (the binaries come in the packages), and npm writes nothing
# but tests/receivers/node_modules and its cache in the user's home.
receivers=$(cd "$(dirname "$0")/../tests/receivers" && pwd)
if [[ ! $receivers/node_modules/.package-lock.json -nt $receivers/package-lock.json ]]; then
  echo "setup: installing the collectors the tests send to into $receivers/node_modules"
  (cd "$receivers" && npm ci --ignore-scripts --no-audit --no-fund --no-update-notifier --loglevel=error) ||
    fail "npm ci in $receivers failed (see npm's messages above): is the npm registry reachable?"
fi
