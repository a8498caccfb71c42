#!/usr/bin/env bash
# Installs what building and testing need on Debian 12. Run as root (CI) or with sudo.
set -euo pipefail

packages=(
  build-essential cmake ninja-build g++ pkg-config ca-certificates
  libboost-dev libssl-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev fonts-dejavu-core
  libturbojpeg0-dev libpng-dev libsqlite3-dev nlohmann-json3-dev libcurl4-openssl-dev
  libx11-dev libxext-dev libxfixes-dev libxrandr-dev libxinerama-dev libxrender-dev
  libxtst-dev libxi-dev libxdamage-dev xinput xclip libsystemd-dev
  chromium
  xvfb xauth x11-utils x11-xserver-utils trayer dbus-daemon
  g++-mingw-w64-x86-64-posix libz-mingw-w64-dev nasm dpkg-dev wine64 file
)

# The browser tests drive Chromium from Node.js 20 (playwright-core); the machine's own Node
# is used when there is one.
command -v npm >/dev/null || packages+=(nodejs npm)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y --no-install-recommends "${missing[@]}"
fi
