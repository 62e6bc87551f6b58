#!/usr/bin/env bash
# Refreshes the README's screenshots in docs/screenshots/: the dialogs from a new run of the test
# that plays the user on both windows (a test run itself only writes them under build/), and a
# report as the team sees it, the native demo's handled error on Sentry's Spotlight in Debian's
# Chromium (installed here when missing: only this script needs it).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j "$(nproc)"
ctest --preset win32 -R '^com\.client\.error_dialog$' --output-on-failure
mkdir -p docs/screenshots
cp build/win32/tests/com/clients/screenshots/*.png docs/screenshots/

if ! command -v chromium >/dev/null; then
  [[ $(id -u) == 0 ]] || { echo "screenshots: Debian's chromium is missing: run as root to install it" >&2; exit 1; }
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends chromium
fi
cmake --preset native >/dev/null
cmake --build --preset native --target quenvar_demo -j "$(nproc)"
(
  servers=tests/servers
  . tests/servers/receivers.sh
  start_spotlight --ui
  # The demo's outbox and settings stay in this run's folder.
  XDG_STATE_HOME="$dir/state" XDG_CONFIG_HOME="$dir/config" \
    build/native/demo/quenvar_demo "$dir/logs" --trace --collector "$spotlight_dsn/1" >/dev/null 2>"$dir/demo.err"
  grep -q ', 0 still waiting' "$dir/demo.err" || { cat "$dir/demo.err"; exit 1; }
  "$node" "$receivers/screenshot.mjs" "$spotlight_port" docs/screenshots/collector-event.png
)
echo "docs/screenshots/ refreshed; review them with git diff before committing"
