#!/usr/bin/env bash
# Builds the three builds: build/linux (native, with the payload tools and
# all tests), build/win64 and build/win32 (mingw-w64 cross builds that embed
# the containers packed by the native build).
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD

configure() { # dir, extra cmake arguments...
  local dir=$1; shift
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  fi
}

configure build/linux
cmake --build build/linux

for arch in win64 win32; do
  configure build/$arch -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-$arch.cmake" \
    -DPURGEX_CONTAINERS_DIR="$top/build/linux/payload"
  cmake --build build/$arch
done
