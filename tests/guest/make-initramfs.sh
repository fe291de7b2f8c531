#!/bin/sh
# Packs the Linux test guest's initramfs (newc cpio, uncompressed):
# busybox-static with its applet links, the storage drivers of the installed
# Debian kernel with their dependencies in load order, purgex (with its
# shared libraries when it has any), the guest's /init, and the script to
# run. Everything comes from this machine's Debian packages.
#
# make-initramfs.sh OUT KERNEL_VERSION PURGEX SCRIPT DISKS
#   OUT             the archive to write
#   KERNEL_VERSION  a folder name under /lib/modules
#   PURGEX          the purgex executable, installed as /bin/purgex
#   SCRIPT          the shell script /init runs
#   DISKS           how many disks and CD drives /init waits for
set -eu
[ $# -eq 5 ] || { echo "usage: $0 OUT KERNEL_VERSION PURGEX SCRIPT DISKS" >&2; exit 2; }
out=$1 version=$2 purgex=$3 script=$4 disks=$5
here=$(cd "$(dirname "$0")" && pwd)
busybox=/bin/busybox
modules=/lib/modules/$version

# The drivers for every way the harness attaches a disk: USB (xHCI, EHCI,
# UHCI for EHCI's companions), IDE and AHCI, virtio, NVMe, and the SCSI disk,
# CD and generic layers above them.
drivers="usb-storage uas sd_mod sr_mod sg ata_piix ata_generic ahci xhci_pci ehci_pci
  uhci_hcd virtio_blk virtio_pci virtio_scsi nvme vfat nls_cp437 nls_ascii"

# ldd fails on a static executable.
[ -x "$busybox" ] && ! ldd "$busybox" >/dev/null 2>&1 ||
  { echo "$busybox is not the static busybox (busybox-static)" >&2; exit 1; }
[ -f "$modules/modules.dep" ] || { echo "no modules for kernel $version" >&2; exit 1; }

root=$(mktemp -d "${TMPDIR:-/tmp}/purgex-initramfs.XXXXXX")
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/bin" "$root/sbin" "$root/usr/bin" "$root/usr/sbin" "$root/proc" "$root/sys" \
  "$root/dev" "$root/tmp" "$root/mnt" "$root/guest" "$root/lib/modules"

cp "$busybox" "$root/bin/busybox"
for applet in $("$busybox" --list-full); do
  [ -e "$root/$applet" ] || ln -s /bin/busybox "$root/$applet"
done

# modprobe answers "insmod PATH [PARAMS]" in load order; the guest insmods
# exactly those lines (busybox modprobe would need the index files).
: >"$root/lib/modules/load"
modprobe -S "$version" -a --show-depends $drivers | awk '$1 == "insmod" && !seen[$2]++' |
  while read -r _ path params; do
    mkdir -p "$root$(dirname "$path")"
    cp "$path" "$root$path"
    echo "$path $params" >>"$root/lib/modules/load"
  done
[ -s "$root/lib/modules/load" ] || { echo "no drivers found for kernel $version" >&2; exit 1; }

# purgex as built; a dynamic build (the sanitizer one) brings its libraries
# and loader along.
cp "$purgex" "$root/bin/purgex"
if ldd "$purgex" >/dev/null 2>&1; then
  for lib in $(ldd "$purgex" | awk '$2 == "=>" && $3 ~ /^\// {print $3} $1 ~ /^\// {print $1}'); do
    mkdir -p "$root$(dirname "$lib")"
    cp -L "$lib" "$root$lib"
  done
fi

cp "$here/init" "$root/init"
chmod 755 "$root/init"
cp "$script" "$root/guest/script.sh"
echo "$disks" >"$root/guest/disks"

(cd "$root" && find . | cpio -o -H newc --quiet) >"$out"
