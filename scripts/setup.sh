#!/usr/bin/env bash
# Installs every Debian package the project needs. Idempotent: when all are
# present it changes nothing.
set -euo pipefail

packages=(
  cmake ninja-build g++ python3
  googletest libcli11-dev
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64-x86-64
  binutils-mingw-w64-i686
  wine wine64
  nasm
  lhasa dosfstools mtools genisoimage qemu-system-x86
  xvfb
  fdisk libbenchmark-dev
  clang libclang-rt-14-dev
  xauth imagemagick fonts-liberation
  # The Linux guest of the device tests: Debian's kernel and modules, a
  # static busybox, and cpio to pack its initramfs.
  linux-image-amd64 busybox-static cpio kmod
  # A second PC with a BIOS of its own for the USB stick's boot test.
  bochs bochsbios vgabios bochs-x
  # PURGIT.EFI: clang (above) and lld-link, gnu-efi's headers; its tests
  # boot Debian's OVMF firmware.
  lld gnu-efi ovmf
  # Tools that read purgex report's PDFs back in the tests: poppler's, and
  # qpdf's structure check.
  poppler-utils qpdf
  # The release packages and their test.
  nsis lintian dpkg-dev fakeroot zip unzip man-db bash-completion x11-utils
  # The --uefi disc's boot entries, as another tool lists them.
  xorriso
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
echo "setup: installing ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
