#!/bin/sh
# Fails when the DLL imports anything but system DLLs: it must load on a bare Windows.
#   system_imports_only.sh <objdump> <dll>
set -u
names=$("$1" -p "$2" | sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p') || exit 1
[ -n "$names" ] || { echo "no imports found in $2" >&2; exit 1; }
echo "$names"
others=$(echo "$names" | grep -viE '^(kernel32|user32|advapi32|crypt32|ole32|oleaut32|shell32|gdi32|ws2_32|secur32|winhttp|msvcrt|api-ms-win-[a-z0-9-]+)\.dll$')
[ -z "$others" ] || { echo "non-system imports: $others" >&2; exit 1; }
