#!/usr/bin/env bash
# Runs the web console's tests: the browser-independent modules under Node, then Chromium
# against the relay and the test host. Installs playwright-core (pinned in package-lock.json)
# into the work folder on first use.
#   run-tests.sh WORK_DIR ARTIFACTS_DIR
#   environment: HALVORA_RELAY, HALVORA_TESTHOST, WEBVIEWER_DIR; CHROMIUM optional
# Exits 77 (skipped) when a program the tests need is missing.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
work="$1"
export WEBVIEWER_ARTIFACTS="$2"
export CHROMIUM="${CHROMIUM:-/usr/bin/chromium}"

for program in "$CHROMIUM" node npm Xvfb xrandr xsetroot xev xclip xmessage; do
  if ! command -v "$program" >/dev/null; then
    echo "skipped: $program is missing (scripts/setup.sh installs it)"
    exit 77
  fi
done

modules="$work/node"
mkdir -p "$modules"
if ! cmp -s "$here/package-lock.json" "$modules/package-lock.json" ||
   [ ! -f "$modules/node_modules/playwright-core/package.json" ]; then
  cp "$here/package.json" "$here/package-lock.json" "$modules/"
  (cd "$modules" && npm ci --no-audit --no-fund --loglevel=error)
fi

export WEBVIEWER_NODE_MODULES="$modules/node_modules"
export WEBVIEWER_WORK="$work/run"
node --test "$here/modules.test.mjs" "$here/webviewer.test.cjs"
