#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian 12 machine (run as root): the
# native toolchain and test libraries, the mingw-w64 cross compilers, Wine (both
# architectures), Xvfb, clang with libFuzzer, and the two SMTP servers the mail tests deliver to
# on loopback.
set -euo pipefail

packages=(g++ cmake ninja-build ccache libgtest-dev libgmock-dev libbenchmark-dev googletest python3-aiosmtpd postfix python3-pil
          clang libclang-rt-14-dev
          mingw-w64 mingw-w64-tools libwine-dev wine64-tools wine64 wine32:i386 xvfb)

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  need_update=1
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})) || [[ -n ${need_update:-} ]]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # The tests run private Postfix instances; the system-wide one stays unconfigured and stopped.
  echo "postfix postfix/main_mailer_type select No configuration" | debconf-set-selections
  apt-get update -q
  ((${#missing[@]})) && apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
true
