#!/usr/bin/env bash
# The main job: installs what is missing, builds the native build, and makes
# the bootable CD image Purgit.ISO in the current folder with purgex.
set -euo pipefail
here=$PWD
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh linux
build/linux/cli/purgex store list
build/linux/cli/purgex iso "$here/Purgit.ISO" --yes
