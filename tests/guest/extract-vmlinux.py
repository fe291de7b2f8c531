#!/usr/bin/env python3
"""Extracts the ELF kernel from a Debian bzImage for QEMU's PVH entry.

QEMU starts an ELF kernel that carries the Xen PVH entry note directly, so
the guest skips the firmware's copy loop and the in-guest decompression,
which under TCG take most of a boot. Exits non-zero (and the caller boots
the bzImage as it is) when the payload is not xz or gzip, or the ELF has no
PVH entry.

extract-vmlinux.py BZIMAGE OUT
"""
import lzma
import struct
import sys
import zlib

PT_NOTE = 4
XEN_ELFNOTE_PHYS32_ENTRY = 18


def decompress(image):
    for magic, make in ((b"\xfd7zXZ\x00", lzma.LZMADecompressor),
                        (b"\x1f\x8b\x08", lambda: zlib.decompressobj(31))):
        at = image.find(magic)
        while at >= 0:
            try:
                elf = make().decompress(image[at:])
                if elf.startswith(b"\x7fELF"):
                    return elf
            except (lzma.LZMAError, zlib.error):
                pass
            at = image.find(magic, at + 1)
    return None


def has_pvh_entry(elf):
    if elf[4] != 2:  # ELFCLASS64
        return False
    phoff, = struct.unpack_from("<Q", elf, 0x20)
    phentsize, phnum = struct.unpack_from("<HH", elf, 0x36)
    for i in range(phnum):
        kind, _, offset, _, _, size = struct.unpack_from("<IIQQQQ", elf, phoff + i * phentsize)
        if kind != PT_NOTE:
            continue
        at, end = offset, offset + size
        while at + 12 <= end:
            namesz, descsz, note = struct.unpack_from("<III", elf, at)
            name = elf[at + 12:at + 12 + namesz].rstrip(b"\0")
            if name == b"Xen" and note == XEN_ELFNOTE_PHYS32_ENTRY:
                return True
            at += 12 + (namesz + 3) // 4 * 4 + (descsz + 3) // 4 * 4
    return False


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: extract-vmlinux.py BZIMAGE OUT")
    with open(sys.argv[1], "rb") as f:
        elf = decompress(f.read())
    if elf is None:
        sys.exit("no xz or gzip ELF kernel in " + sys.argv[1])
    if not has_pvh_entry(elf):
        sys.exit("the kernel has no PVH entry")
    with open(sys.argv[2], "wb") as f:
        f.write(elf)


main()
