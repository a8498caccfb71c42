#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, then builds and runs every test: the Windows build under
# Wine, then three Linux builds (normal, ASan+UBSan, TSan). The normal build's tests also start
# the Windows programs under Wine against the Linux relay and test servers. Exits non-zero if
# anything failed.
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

# build <name> <optimisation> <cmake options...>
build() {
  local name=$1 optimise=$2; shift 2
  local dir="build/$name" begun=$SECONDS
  echo "=== $name: configure and build"
  if ! cmake -S . -B "$dir" -G Ninja -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$optimise -DNDEBUG" "$@" ||
     ! cmake --build "$dir" -j "$jobs"; then
    failed+=("$name (build)"); status=1; return 1
  fi
  stage "$name build" "$begun"
}

# run_tests <build> [<part> <ctest options...>]: runs a build's tests (those the options pick);
# the output goes to <build>/ctest<part>.log and the time to <build>/ctest<part>.time, so that
# it can run while another build compiles.
run_tests() {
  local dir="build/$1" part=${2:-} begun=$SECONDS
  shift $(($# < 2 ? $# : 2))
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 300 "$@" \
    > "$dir/ctest$part.log" 2>&1
  echo $(($SECONDS - begun)) > "$dir/ctest$part.time"
}

# report_tests <build> [<part>]: prints the log of a finished test run and adds up its summary.
report_tests() {
  local dir="build/$1" part=${2:-} line
  echo "=== $1$part: tests"
  cat "$dir/ctest$part.log"
  echo "=== $1$part tests: $(cat "$dir/ctest$part.time") s"
  # "100% tests passed, 0 tests failed out of 42"
  line=$(grep -E 'tests failed out of [0-9]+' "$dir/ctest$part.log" | tail -n 1)
  if [[ $line =~ ([0-9]+)\ tests\ failed\ out\ of\ ([0-9]+) ]]; then
    total_failed=$((total_failed + BASH_REMATCH[1]))
    total_passed=$((total_passed + BASH_REMATCH[2] - BASH_REMATCH[1]))
    [ "${BASH_REMATCH[1]}" -eq 0 ] || { failed+=("$1$part (tests)"); status=1; }
  else
    failed+=("$1$part (no test summary)"); status=1
  fi
}

# The Windows build: its libraries from Debian's packages, then the host and its tests, which
# run under Wine in a prefix of the build's own with one wineserver kept alive until the end.
wine=/usr/lib/wine
export WINEPREFIX=$root/build/windows/wine WINEDEBUG=-all
windows_built=0
begun=$SECONDS
mkdir -p "$WINEPREFIX"
"$wine/wineserver64" -p && trap '"$wine/wineserver64" -k 2>/dev/null' EXIT
# No .NET or browser engine in the prefix: nothing of ours uses them, and nobody is there to
# answer the offer to download them.
if ! WINEDLLOVERRIDES="mscoree,mshtml=" "$wine/wine64" wineboot -i ||
   ! bash scripts/windeps.sh build/windeps; then
  failed+=("windows (libraries)"); status=1
else
  stage "windows libraries" "$begun"
  if build windows -O2 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
       -DHALVORA_WINDEPS="$root/build/windeps/prefix"; then
    windows_built=1
    # One program with no DLL beside it: it imports only what Windows itself has.
    exe=build/windows/src/app/halvora.exe
    file "$exe"
    for dll in $(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/.*DLL Name: //p'); do
      echo "  imports $dll"
      [ -f "$WINEPREFIX/drive_c/windows/system32/${dll,,}" ] ||
        { echo "$dll is not a Windows system DLL"; failed+=("windows (imports)"); status=1; }
    done
    run_tests windows
    report_tests windows
  fi
fi
windows_tree=()
[ $windows_built -eq 1 ] && windows_tree=(-DHALVORA_WINDOWS_BUILD="$root/build/windows")

# The release build's tests run while the ASan build compiles: they leave much of the machine
# idle while they wait on sockets and child processes. The sanitizer builds' tests keep both
# cores busy and run on their own. The release build has no debug information; the sanitizer
# builds keep line tables for their reports and compile at -O1, a third faster than -O2 on the
# Beast-heavy units, with reports as good.
release_built=0
# The release build's tests that drive Windows programs under Wine run after the others, one at
# a time, each up to three times: Wine's own TLS now and then stalls a connection for good, which
# is Wine's doing and not the programs'.
if build release -O2 "${windows_tree[@]}"; then
  {
    run_tests release "" -LE wine
    [ $windows_built -eq 0 ] || run_tests release -wine -L wine --repeat until-pass:3
  } &
  release_built=1
fi
build asan "-O1 -g1" -DHALVORA_SANITIZE=address -DHALVORA_BUILD_BENCH=OFF
asan_built=$?
wait
if [ $release_built -eq 1 ]; then
  report_tests release
  [ $windows_built -eq 0 ] || report_tests release -wine
fi
if [ $asan_built -eq 0 ]; then
  run_tests asan
  report_tests asan
fi
if build tsan "-O1 -g1" -DHALVORA_SANITIZE=thread -DHALVORA_BUILD_BENCH=OFF; then
  run_tests tsan
  report_tests tsan
fi

stage "all" "$started"
[ $status -eq 0 ] || echo "FAILED: ${failed[*]}"
echo "tests: $total_passed passed, $total_failed failed"
exit $status
