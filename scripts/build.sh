#!/usr/bin/env bash
# Builds the three builds: build/linux (native, with the payload tools and
# all tests), build/win64 and build/win32 (mingw-w64 cross builds that embed
# the containers packed by the native build). "build.sh linux" builds the
# native one only.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD

# Dates written into the payload's images come from SOURCE_DATE_EPOCH, so
# that two builds of one commit give identical containers.
if [ -z "${SOURCE_DATE_EPOCH:-}" ] && git rev-parse --git-dir >/dev/null 2>&1; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
  export SOURCE_DATE_EPOCH
fi

configure() { # dir, extra cmake arguments...
  local dir=$1; shift
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  fi
}

configure build/linux
cmake --build build/linux
[ "${1:-}" = linux ] && exit 0

# The 32-bit build is compiled and linked but never run (these machines
# cannot execute 32-bit code), so it leaves its tests out.
for arch in win64 win32; do
  tests=ON
  [ $arch = win32 ] && tests=OFF
  configure build/$arch -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-$arch.cmake" \
    -DPURGEX_CONTAINERS_DIR="$top/build/linux/payload" -DPURGEX_TESTS=$tests
  cmake --build build/$arch
done
