#!/usr/bin/env bash
# Refreshes the README's dialog screenshots in docs/screenshots/ from a new run of the test that
# plays the user on both windows (a test run itself only writes them under build/).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j "$(nproc)"
ctest --preset win32 -R '^com\.client\.error_dialog$' --output-on-failure
mkdir -p docs/screenshots
cp build/win32/tests/com/clients/screenshots/*.png docs/screenshots/
echo "docs/screenshots/ refreshed; review them with git diff before committing"
