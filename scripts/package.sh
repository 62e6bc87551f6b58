#!/usr/bin/env bash
# The Windows Installer packages for deploying to many desktops: builds Quenvar.dll of both
# architectures, captures what each one's DllRegisterServer writes in a fresh Wine prefix, and
# makes build/msi/Quenvar-<version>-x86.msi and Quenvar-<version>-x64.msi with wixl.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

out=build/msi
mkdir -p "$out"
for preset in win32 win64; do
  case $preset in win32) arch=x86 ;; win64) arch=x64 ;; esac
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target Quenvar -j "$(nproc)"
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "build/$preset/CMakeCache.txt")
  echo "--- capturing the registration of the $arch DLL"
  packaging/msi/capture.sh "$preset" "build/$preset/Quenvar.dll" "$out/registration-$arch.txt"
  packaging/msi/build.sh "$arch" "$out/registration-$arch.txt" "build/$preset/Quenvar.dll" "$version" \
    "$out/Quenvar-$version-$arch.msi"
  echo "--- $out/Quenvar-$version-$arch.msi"
done
