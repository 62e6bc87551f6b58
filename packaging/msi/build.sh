#!/bin/sh
# One Windows Installer package from a captured registration (capture.sh) and the DLL, with wixl.
#
#   build.sh <x86|x64> <captured list> <Quenvar.dll> <version> <output .msi>
#
# The version is the project's major.minor.patch.tweak; Windows Installer compares only three
# fields, so the package carries major.minor.tweak (1.9.0.96 installs as 1.9.96) and a version
# with a patch field is refused rather than installed as one its upgrades could not tell apart.
set -u

if [ $# -ne 5 ]; then
  echo "usage: $0 <x86|x64> <captured list> <Quenvar.dll> <version> <output .msi>" >&2
  exit 2
fi
arch=$1 captured=$2 dll=$3 version=$4 output=$5
here=$(cd "$(dirname "$0")" && pwd)

old_ifs=$IFS IFS=.
set -- $version
IFS=$old_ifs
if [ $# -ne 4 ] || [ "$3" != 0 ]; then
  echo "$0: version $version: the package needs major.minor.0.tweak" >&2
  exit 2
fi
msi_version=$1.$2.$4

work=$(mktemp -d "${TMPDIR:-/tmp}/quenvar-msi.XXXXXX") || exit 2
trap 'rm -rf "$work"' EXIT
trap 'exit 130' INT TERM

python3 "$here/registry.py" wix "$captured" "$arch" >"$work/registration.wxs" || exit 1
# wixl reads sources by relative path.
cp "$dll" "$work/Quenvar.dll" || exit 1
(cd "$work" && wixl --arch "$arch" -D Arch="$arch" -D Version="$msi_version" -D Dll=Quenvar.dll \
   -o package.msi "$here/Quenvar.wxs" registration.wxs) || exit 1
# wixl escapes the "#%" that marks an expandable string: the registry table gets it back. It also
# leaves the DLL unversioned, so the installer's file rules would compare dates: it gets the file
# version of its version resource (VS_FIXEDFILEINFO, after its signature).
file_version=$(python3 -c '
import struct, sys
data = open(sys.argv[1], "rb").read()
at = data.index(struct.pack("<I", 0xFEEF04BD))
ms, ls = struct.unpack_from("<II", data, at + 8)
print("%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF))' "$dll") || exit 1
{ python3 "$here/registry.py" sql "$captured" || echo fail
  echo "UPDATE \`File\` SET \`Version\` = '$file_version', \`Language\` = '1033' WHERE \`File\` = 'QuenvarDll'"
} | while IFS= read -r query; do
  [ "$query" != fail ] && msibuild "$work/package.msi" -q "$query" || exit 1
done || exit 1
mv "$work/package.msi" "$output"
