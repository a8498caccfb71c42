#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, then builds and runs every test three times: a normal
# build, an ASan+UBSan build and a TSan build. Exits non-zero if anything failed.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

started=$SECONDS
stage() { echo "=== $1: $(($SECONDS - $2)) s"; }

bash scripts/setup.sh || exit 1
stage "set-up" "$started"

jobs=$(nproc)
status=0
failed=()
total_passed=0
total_failed=0

# Includes follow the layer order, and the check still catches a planted upward include.
begun=$SECONDS
if ! python3 scripts/check_layers.py || ! python3 scripts/check_layers.py --self-test; then
  failed+=("layers"); status=1
fi
stage "layers" "$begun"

# suite <name> <optimisation> <cmake options...>
suite() {
  local name=$1 optimise=$2; shift 2
  local dir="build/$name" begun=$SECONDS
  echo "=== $name: configure and build"
  # Line tables are enough for failing tests and sanitizer reports, and build faster.
  if ! cmake -S . -B "$dir" -G Ninja -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$optimise -g1 -DNDEBUG" "$@"; then
    failed+=("$name (configure)"); status=1; return
  fi
  if ! cmake --build "$dir" -j "$jobs"; then
    failed+=("$name (build)"); status=1; return
  fi
  stage "$name build" "$begun"
  begun=$SECONDS
  echo "=== $name: tests"
  if ! ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 300 | tee "$dir/ctest.log"; then
    failed+=("$name (tests)"); status=1
  fi
  stage "$name tests" "$begun"
  # "100% tests passed, 0 tests failed out of 42"
  local line
  line=$(grep -E 'tests failed out of [0-9]+' "$dir/ctest.log" | tail -n 1)
  if [[ $line =~ ([0-9]+)\ tests\ failed\ out\ of\ ([0-9]+) ]]; then
    total_failed=$((total_failed + BASH_REMATCH[1]))
    total_passed=$((total_passed + BASH_REMATCH[2] - BASH_REMATCH[1]))
  else
    failed+=("$name (no test summary)"); status=1
  fi
}

# The sanitizer builds compile at -O1: a third faster than -O2 on the Beast-heavy units, and
# the sanitizers' own reports are as good.
suite release -O2
suite asan -O1 -DHALVORA_SANITIZE=address -DHALVORA_BUILD_BENCH=OFF
suite tsan -O1 -DHALVORA_SANITIZE=thread -DHALVORA_BUILD_BENCH=OFF

stage "all" "$started"
[ $status -eq 0 ] || echo "FAILED: ${failed[*]}"
echo "tests: $total_passed passed, $total_failed failed"
exit $status
