#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds the host and starts it on this desktop.
# Arguments go to the program (for example -dev for the server button).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup.sh
cmake -S . -B build/run -G Ninja -DHALVORA_BUILD_TESTS=OFF -DHALVORA_BUILD_BENCH=OFF
cmake --build build/run --target halvora -j "$(nproc)"

if [ -z "${DISPLAY:-}" ]; then
  echo "The host shows a window: run this from a graphical session (DISPLAY is not set)." >&2
  exit 1
fi
exec build/run/src/app/halvora "$@"
