#!/usr/bin/env bash
# Builds the libraries the Windows programs need, from Debian's own packages only, into
# <folder>/prefix: zlib comes built (libz-mingw-w64-dev); libjpeg-turbo and libpng are built
# from Debian's source packages; GoogleTest from /usr/src/googletest; the nlohmann-json header
# is copied. Does nothing when the folder already holds this set.
#   windeps.sh <folder>
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(mkdir -p "$1" && cd "$1" && pwd)
prefix=$out/prefix
toolchain=$root/cmake/mingw-w64-x86_64.cmake
sources=(libjpeg-turbo libpng1.6)
stamp=$prefix/.built-$(printf '%s' "${sources[*]} $(dpkg-query -W -f='${Version}' googletest)" \
  | md5sum | cut -c1-12)
[ -f "$stamp" ] && exit 0
rm -rf "$prefix" "$out/src" "$out/obj"
mkdir -p "$prefix" "$out/src" "$out/obj"

# The source packages come through a source list of our own, kept in this folder, with the
# machine's Debian mirrors: the system's apt configuration is left as it is.
apt_dir=$out/apt
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
for f in /etc/apt/sources.list.d/*.sources; do
  [ -f "$f" ] && grep -q 'debian' "$f" && sed 's/^Types:.*/Types: deb-src/' "$f"
  echo
done > "$apt_dir/sources.sources"
apt_opts=(-o "Dir::Etc::SourceList=/dev/null" -o "Dir::Etc::SourceParts=$apt_dir"
          -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache"
          -o "APT::Sandbox::User=root")
# An older machine keeps its mirrors in the one-line format.
if [ ! -s "$apt_dir/sources.sources" ] && [ -f /etc/apt/sources.list ]; then
  sed -n 's/^deb /deb-src /p' /etc/apt/sources.list > "$apt_dir/sources.list"
  apt_opts[1]="Dir::Etc::SourceList=$apt_dir/sources.list"
fi
fetch() {
  apt-get "${apt_opts[@]}" update -qq &&
    (cd "$out/src" && rm -rf ./* && apt-get "${apt_opts[@]}" source -qq "${sources[@]}" > /dev/null)
}
# A mirror may list security updates whose sources it does not carry: then the release's own.
if ! fetch; then
  echo "windeps: the security sources are not available here; using the release's own"
  for f in "$apt_dir"/sources.*; do
    awk -v RS= -v ORS='\n\n' '!/security/' "$f" > "$f.new" && mv "$f.new" "$f"
  done
  fetch
fi

cross=(-G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release
       -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_PREFIX_PATH="$prefix")
build() {  # build <name> <source folder> <cmake options...>
  local name=$1 src=$2; shift 2
  cmake -S "$src" -B "$out/obj/$name" "${cross[@]}" "$@" > "$out/obj/$name.log" 2>&1
  cmake --build "$out/obj/$name" --target install -j "$(nproc)" >> "$out/obj/$name.log"
}

build libjpeg-turbo "$(ls -d "$out"/src/libjpeg-turbo-*/)" \
  -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=ON -DWITH_JAVA=OFF \
  -DCMAKE_ASM_NASM_COMPILER=nasm
build libpng "$(ls -d "$out"/src/libpng1.6-*/)" \
  -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF
build googletest /usr/src/googletest -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON
mkdir -p "$prefix/include"
cp -r /usr/include/nlohmann "$prefix/include/"
mkdir -p "$prefix/share/cmake"
cp -r /usr/share/cmake/nlohmann_json "$prefix/share/cmake/"
touch "$stamp"
