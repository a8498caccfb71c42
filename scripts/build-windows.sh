#!/usr/bin/env bash
# Builds the Windows host on Debian 12: build/windows/src/app/halvora.exe, one static program
# with no DLL beside it. Installs the packages, builds the libraries from Debian's source
# packages (scripts/windeps.sh) and cross-compiles with MinGW-w64.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh
bash scripts/windeps.sh build/windeps
cmake -S . -B build/windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DHALVORA_WINDEPS="$root/build/windeps/prefix" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG"
cmake --build build/windows --target halvora
echo "$root/build/windows/src/app/halvora.exe"
