#!/usr/bin/env bash
# Every test: the native unit, backend, fault-injection and misbehaving-client suites, the
# same under AddressSanitizer and UndefinedBehaviorSanitizer, Quenvar.dll for both
# architectures under Wine (backend tests, script suites, C++ COM clients, the dialogs on a
# virtual display, each installer package installed, upgraded and removed), a short run of every
# fuzz target, the native demo end to end, registration of both architectures side by side, the
# installer packages as scripts/package.sh builds them, and the main job.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs=$(nproc)

# A full disk fails the Wine suites far from the cause, so say it first. The builds take about
# 17 GB (twelve Wine prefixes of 1.3 GB among them) and the scratch prefixes of the installer
# and main-job tests about 4 more, in the temporary folder; a later run needs only what its
# builds still lack.
gb=$((1024 * 1024))
built_kb=0
[[ -d build ]] && built_kb=$(du -sk build | cut -f1)
need_build=$((built_kb < 17 * gb ? 17 * gb - built_kb : 0)) need_tmp=$((4 * gb))
tmp=${TMPDIR:-/tmp}
if [[ $(stat -c %d .) == $(stat -c %d "$tmp") ]]; then need_build=$((need_build + need_tmp)) need_tmp=0; fi
check_free() {
  local free
  free=$(df -Pk "$1" | awk 'NR == 2 { print $4 }')
  ((free >= $2)) && return
  echo "scripts/test.sh needs about $((($2 + gb - 1) / gb)) GB free where $(cd "$1" && pwd) is; there are $((free / gb)) GB" >&2
  exit 1
}
check_free . "$need_build"
check_free "$tmp" "$need_tmp"

echo "=== layers"
python3 scripts/check-layers.py
python3 scripts/check-layers-test.py

for preset in native native-asan win32 win64; do
  echo "=== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done

echo "=== fuzzing, short"
scripts/fuzz.sh 10

echo "=== native demo client"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
folder="$scratch/logs"
build/native/demo/quenvar_demo "$folder" --trace >"$folder.out"
grep -q "Orders Database Error Information" "$folder.out"
grep -q "Password : \*\*\*\*\*\*\*\*" "$folder.out"
if grep -q "s3cret" "$folder.out" "$folder/Error.log"; then echo "password leaked"; exit 1; fi
test "$(cat "$folder/Trace.log")" = "$(printf 'Main\r\nLoadInvoices\r\nPostInvoice\r')"

echo "=== installed tree"
tests/install/installed_tree.sh build/native

echo "=== both architectures registered side by side"
tests/com/both_architectures.sh build/win32 build/win64

echo "=== the installer packages"
scripts/package.sh
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/win32/CMakeCache.txt)
IFS=. read -r major minor _ tweak <<<"$version"
for arch in x86 x64; do
  properties=$(msiinfo export "build/msi/Quenvar-$version-$arch.msi" Property | tr -d '\r')
  grep -qxF "ProductVersion	$major.$minor.$tweak" <<<"$properties"
done
tests/com/installer/side_by_side.sh build/msi "$version"

echo "=== main job"
scripts/demo.sh >"$folder.demo" 2>&1 || { cat "$folder.demo"; exit 1; }
grep -q "Orders Database Error Information" "$folder.demo"
grep -q "HandleError returned 0" "$folder.demo"
echo "all tests passed"
