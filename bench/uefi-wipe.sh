#!/bin/sh
# One ZERO pass of PURGIT.EFI (under Debian's OVMF) beside a Linux guest
# writing the same emulated disk with dd if=/dev/zero bs=1M oflag=direct:
# same QEMU, machine type, image file and disk options, one NVMe and one
# AHCI disk, the two sides alternating. Prints MiB/s per run: the wiper's
# own figure from its report (verification off), Linux's from
# /proc/uptime around dd.
#
# bench/uefi-wipe.sh [BUILD] [ROUNDS] [SIZE_MIB]
# EFI=file: another PURGIT.EFI; METHOD=RANDOM: a RANDOM pass instead.
# DISK_GIB=N: instead of the image file, QEMU's null block device of N GiB
# (writes go nowhere, reads give zeros) on both sides, which the wiper
# erases whole and Linux writes SIZE_MIB of. The firmware's ATA driver
# moves at most 256 sectors a command on disks up to 128 GiB and whole
# requests beyond, so a small disk's AHCI figure is not what today's disks
# see, and a large one would not fit this machine as a file.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build/linux}
rounds=${2:-3}
size=${3:-256}
work=$(mktemp -d "${TMPDIR:-/tmp}/uefi-wipe.XXXXXX")
trap 'rm -rf "$work"' EXIT
export MTOOLS_SKIP_CHECK=1

qemu="qemu-system-x86_64 -M pc -m 384 -smp 1 -accel tcg -nodefaults -display none -no-reboot -nic none"
drive="file=$work/disk.img,format=raw,if=none,id=d"
[ -z "${DISK_GIB:-}" ] || drive="driver=null-co,size=${DISK_GIB}G,read-zeroes=on,if=none,id=d"
disk() { # bus: the scratch image as that kind of disk
  case $1 in
  nvme) echo "-drive $drive -device nvme,drive=d,serial=BENCH" ;;
  ahci) echo "-drive $drive -device ahci,id=ahci -device ide-hd,drive=d,bus=ahci.0" ;;
  esac
}
scratch() { # a fresh image; the null device needs none
  [ -z "${DISK_GIB:-}" ] || return 0
  truncate -s 0 "$work/disk.img"
  truncate -s "${size}M" "$work/disk.img"
}

# The stick: options 4 and 7 on (report, unattended), verification off.
"$build/cli/purgex" usb "$work/stick.img" --size 64M --yes --options 000100100000 \
  --params "/ALL /M:${METHOD:-ZERO} /OFF" >/dev/null
printf '/ALL /M:%s /OFF\r\n' "${METHOD:-ZERO}" >"$work/PURGIT.ARG"
# purgex usb writes \EFI\BOOT already; the wiper of BUILD replaces its copy.
mmd -i "$work/stick.img@@1M" ::EFI ::EFI/BOOT 2>/dev/null || true
mcopy -o -i "$work/stick.img@@1M" "${EFI:-$build/payload/purgit/PURGIT.EFI}" ::EFI/BOOT/BOOTX64.EFI
mcopy -o -i "$work/stick.img@@1M" "$work/PURGIT.ARG" ::EFI/BOOT/PURGIT.ARG

# The Linux guest of the device tests, with the NVMe driver added and its
# disks counted.
version=$(ls /lib/modules | sort -V | tail -n 1)
mkdir "$work/guest"
sed 's/^drivers="/drivers="nvme /' "$top/tests/guest/make-initramfs.sh" >"$work/guest/make-initramfs.sh"
sed 's|/sys/block/vd\*|/sys/block/vd* /sys/block/nvme*|g' "$top/tests/guest/init" >"$work/guest/init"
cat >"$work/script.sh" <<EOF
for dev in /dev/nvme0n1 /dev/sda; do
  [ -b \$dev ] || continue
  read a _ </proc/uptime
  dd if=/dev/zero of=\$dev bs=1M count=$size oflag=direct 2>/dev/null
  read b _ </proc/uptime
  echo "\$a \$b"
done
EOF
sh "$work/guest/make-initramfs.sh" "$work/initramfs" "$version" "$build/cli/purgex" \
  "$work/script.sh" 1

efi() { # bus
  scratch
  cp /usr/share/OVMF/OVMF_VARS.fd "$work/vars.fd"
  timeout 600 $qemu -drive if=pflash,format=raw,readonly=on,file=/usr/share/OVMF/OVMF_CODE.fd \
    -drive if=pflash,format=raw,file="$work/vars.fd" \
    -drive file="$work/stick.img",format=raw,if=ide,index=0 $(disk "$1") \
    -serial file:"$work/efi.log" >/dev/null 2>&1 || true # a run without a figure prints none
  mtype -i "$work/stick.img@@1M" ::PURG0001.LOG | sed -n 's/^Throughput: *\([0-9.]*\) MB.*/\1/p'
  mdel -i "$work/stick.img@@1M" ::PURG0001.LOG ::PURG0001.REC 2>/dev/null || true
}

linux() { # bus
  scratch
  # tsc=unstable: with the TSC clock the guest now and then stopped, idle,
  # in the middle of dd (a quarter of the runs); a run that still hangs
  # ends without a figure.
  timeout 180 $qemu -kernel "/boot/vmlinuz-$version" -initrd "$work/initramfs" \
    -append 'console=ttyS0 panic=-1 quiet tsc=unstable' -serial null -serial file:"$work/linux.log" \
    $(disk "$1") >/dev/null 2>&1 || true
  awk -v size="$size" 'NF == 2 && $2 > $1 { printf "%.1f\n", size / ($2 - $1) }' "$work/linux.log"
}

echo "round bus PURGIT.EFI(MiB/s) Linux-dd(MiB/s) ratio"
round=1
while [ "$round" -le "$rounds" ]; do
  for bus in nvme ahci; do
    e=$(efi $bus)
    l=$(linux $bus)
    echo "$round $bus $e $l $(awk -v e="$e" -v l="$l" 'BEGIN { if (l > 0) printf "%.2f", e / l }')"
  done
  round=$((round + 1))
done
