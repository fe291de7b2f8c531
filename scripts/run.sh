#!/usr/bin/env bash
# The main job: installs what is missing, builds the native build, and makes
# the bootable CD image Purgit.ISO in the current folder with purgex.
# "run.sh --gui" builds the wizard RaraVida.exe and starts it: under wine64
# on the current display, or as it is on Windows.
set -euo pipefail
here=$PWD
cd "$(dirname "$0")/.."
if [ "${1:-}" = --gui ]; then
  case "$(uname -s)" in
    MINGW* | MSYS* | CYGWIN*) exec build/win64/app/RaraVida.exe ;;
  esac
  scripts/setup.sh
  scripts/build.sh
  export WINEPREFIX=${WINEPREFIX:-$PWD/build/wineprefix-gui} WINEDEBUG=${WINEDEBUG:--all}
  exec "$(command -v wine64 || echo /usr/lib/wine/wine64)" build/win64/app/RaraVida.exe
fi
scripts/setup.sh
scripts/build.sh linux
build/linux/cli/purgex store list
build/linux/cli/purgex iso "$here/Purgit.ISO" --yes
