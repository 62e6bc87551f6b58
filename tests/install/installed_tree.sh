#!/bin/sh
# The native library installed into a fresh prefix and used as an outside project would: the
# demo client built against that prefix alone, once through the CMake package and once through
# pkg-config, and run.
#
#   installed_tree.sh <native build dir>
set -eu

if [ $# -ne 1 ]; then
  echo "usage: $0 <native build dir>" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
source_tree=$(cd "$here/../.." && pwd)
build=$(cd "$1" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/quenvar-installed.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}

cmake --install "$build" --prefix "$prefix" >"$work/install.log"

# Only the library, its public headers and the two package descriptions.
(cd "$prefix" && find . -type f -o -type l) | sed 's|^\./||' | sort >"$work/files"
strays=$(grep -vE '^(include/quenvar/.+\.h|lib[^/]*(/[^/]+)?/(libquenvar\.so(\.[0-9]+)*|cmake/Quenvar/[^/]+\.cmake|pkgconfig/quenvar\.pc))$' "$work/files" || true)
[ -z "$strays" ] || fail "installed beyond the library's public face: $strays"
(cd "$source_tree/include" && find quenvar -type f | sort) >"$work/headers.want"
sed -n 's|^include/||p' "$work/files" >"$work/headers.got"
cmp -s "$work/headers.want" "$work/headers.got" ||
  fail "installed headers differ from include/quenvar: $(diff "$work/headers.want" "$work/headers.got" | tr '\n' ' ')"
library=$(grep -E '/libquenvar\.so$' "$work/files" || true)
[ -n "$library" ] || fail "no libquenvar.so link installed"
libdir=$prefix/$(dirname "${library:-lib/x}")
soname=$(objdump -p "$libdir/libquenvar.so" | sed -n 's/^ *SONAME *//p')
[ "$soname" = libquenvar.so.1 ] || fail "SONAME is '$soname', want libquenvar.so.1"

# The outside project gets a copy of the demo's source and the prefix, nothing of this tree.
outside=$work/outside
mkdir "$outside"
cp "$here/outside/CMakeLists.txt" "$source_tree/demo/demo_client.cpp" "$outside/"

# run_demo <program> <label>: the report comes out, with the connection password masked.
run_demo() {
  logs=$work/logs-$2
  if ! "$1" "$logs" --trace >"$logs.out" 2>&1; then
    fail "$2: the demo client failed: $(cat "$logs.out")"
  elif ! grep -q "Orders Database Error Information" "$logs.out"; then
    fail "$2: no report from the demo client: $(cat "$logs.out")"
  elif [ ! -s "$logs/Error.log" ]; then
    fail "$2: no Error.log written"
  fi
}

# sees_source_tree <file>...: a build file naming this tree means the install is not self-contained.
sees_source_tree() {
  grep -l -F "$source_tree/" "$@" 2>/dev/null | grep -q .
}

if cmake -S "$outside" -B "$outside/cmake-build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
     >"$work/configure.log" 2>&1 &&
   cmake --build "$outside/cmake-build" >"$work/build.log" 2>&1; then
  sees_source_tree "$outside/cmake-build/build.ninja" && fail "CMake package: the build refers to the source tree"
  run_demo "$outside/cmake-build/demo_client" cmake
else
  fail "CMake package: building the demo failed: $(cat "$work/configure.log" "$work/build.log" 2>/dev/null)"
fi

# The prefix may have been moved since: nothing may rely on where it was installed.
moved=$work/moved
mv "$prefix" "$moved"
libdir=$moved${libdir#"$prefix"}
export PKG_CONFIG_PATH="$libdir/pkgconfig"
if flags=$(pkg-config --cflags --libs quenvar 2>"$work/pkg-config.log"); then
  case "$flags" in *"$source_tree"*) fail "pkg-config: flags name the source tree: $flags" ;; esac
  pc_libdir=$(pkg-config --variable=libdir quenvar)
  # shellcheck disable=SC2086
  if c++ -std=c++20 -o "$outside/demo_client_pc" "$outside/demo_client.cpp" $flags \
       -Wl,-rpath,"$pc_libdir" >"$work/pc-build.log" 2>&1; then
    run_demo "$outside/demo_client_pc" pkg-config
  else
    fail "pkg-config: building the demo failed with '$flags': $(cat "$work/pc-build.log")"
  fi
else
  fail "pkg-config does not find quenvar: $(cat "$work/pkg-config.log")"
fi

[ "$failures" -eq 0 ] && echo "installed tree: OK"
[ "$failures" -eq 0 ]
