#!/usr/bin/env bash
# The main job: installs what is missing, builds, and lists the embedded
# disc store with purgex.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
if [ ! -f build/linux/build.ninja ]; then
  cmake -S . -B build/linux -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build build/linux
build/linux/cli/purgex store list
