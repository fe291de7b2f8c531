/* Option 11: disks on a PCI IDE controller whose channel is in legacy
   (compatibility) mode are moved by the controller's bus master with READ
   and WRITE DMA (EXT beyond 28-bit addresses), polled with the drive's
   interrupt off (nIEN) so the BIOS's IRQ handler never sees our commands.
   Everything else goes through the BIOS. Real mode without paging: a
   segment times 16 plus the offset is the physical address. */
#include "purgit.h"
#include "dos.h"

/* --- PCI configuration space ------------------------------------------------- */

enum { PCI_NONE, PCI_BIOS, PCI_PORTS };
static uint8_t PciAccess, PciLastBus;

/* INT 1Ah AX=B1xxh: BX = bus and device/function, DI = register, ECX =
   value. Answers ECX, or FFFFFFFFh when the BIOS failed; EDX in PciEdx. */
static uint32_t PciEdx;
static __attribute__((noinline)) uint32_t PciBios(uint16_t function, uint16_t bx, uint16_t di,
                                                  uint32_t ecx) {
    uint32_t eax = function, ebx = bx, edx = 0, edi = di;
    _Bool carry;
    __asm__ volatile("pushl %%ebp\n\t"
                     "stc\n\t"
                     "int $0x1a\n\t"
                     "popl %%ebp"
                     : "+a"(eax), "+b"(ebx), "+c"(ecx), "+d"(edx), "+D"(edi), "=@ccc"(carry)
                     :
                     : "esi", "memory");
    PciEdx = edx;
    return carry || (eax & 0xFF00) ? 0xFFFFFFFFul : ecx;
}

static void PciFind(void) {
    const uint32_t ecx = PciBios(0xB101, 0, 0, 0);
    if (ecx != 0xFFFFFFFFul && PciEdx == 0x20494350ul /* "PCI " */) {
        PciAccess = PCI_BIOS;
        PciLastBus = (uint8_t)ecx;
        return;
    }
    /* No PCI BIOS: configuration mechanism 1 answers by keeping what is
       written to its address port. */
    const uint32_t old = InDword(0xCF8);
    OutDword(0xCF8, 0x80000000ul);
    if (InDword(0xCF8) == 0x80000000ul) {
        PciAccess = PCI_PORTS;
        PciLastBus = 0xFF;
    }
    OutDword(0xCF8, old);
}

static void PciAddress(unsigned bus, unsigned devfn, unsigned reg) {
    OutDword(0xCF8, 0x80000000ul | (uint32_t)(bus << 8 | devfn) << 8 | (reg & 0xFC));
}

static __attribute__((noinline)) uint32_t PciRead(unsigned bus, unsigned devfn, unsigned reg) {
    if (PciAccess == PCI_BIOS)
        return PciBios(0xB10A, (uint16_t)(bus << 8 | devfn), (uint16_t)reg, 0);
    PciAddress(bus, devfn, reg);
    const uint32_t v = InDword(0xCFC);
    OutDword(0xCF8, 0);
    return v;
}

static void PciWriteWord(unsigned bus, unsigned devfn, unsigned reg, uint16_t v) {
    if (PciAccess == PCI_BIOS) {
        PciBios(0xB10C, (uint16_t)(bus << 8 | devfn), (uint16_t)reg, v);
        return;
    }
    PciAddress(bus, devfn, reg);
    OutWord((uint16_t)(0xCFC + (reg & 2)), v);
    OutDword(0xCF8, 0);
}

/* --- finding the controller -------------------------------------------------- */

struct TChannel {
    uint16_t busMaster; /* 0: this channel has no legacy-mode bus master */
    uint16_t vendor, device;
    uint8_t native; /* the channel is in native PCI mode */
};
static struct TChannel Channels[2]; /* primary (1F0h), secondary (170h) */
static uint8_t Controllers;

static void Controller(unsigned bus, unsigned devfn, uint32_t id, uint8_t interface) {
    ++Controllers;
    const uint32_t bar4 = PciRead(bus, devfn, 0x20);
    const int busMaster = (interface & 0x80) && (bar4 & 1) && (bar4 & 0xFFFC);
    int claimed = 0;
    for (unsigned c = 0; c < 2; ++c) {
        struct TChannel* ch = &Channels[c];
        if (ch->busMaster) continue; /* the first legacy controller owns the ports */
        if (interface & (1u << (2 * c))) {
            ch->native = 1;
            continue;
        }
        if (!busMaster) continue;
        ch->busMaster = (uint16_t)((bar4 & 0xFFFC) + 8 * c);
        ch->vendor = (uint16_t)id;
        ch->device = (uint16_t)(id >> 16);
        ch->native = 0;
        claimed = 1;
    }
    if (!claimed) return;
    /* I/O decoding and bus mastering on; the BIOS may have left the latter off. */
    const uint16_t command = (uint16_t)PciRead(bus, devfn, 0x04);
    if ((command & 0x05) != 0x05) PciWriteWord(bus, devfn, 0x04, command | 0x05);
}

static void ScanPci(void) {
    for (unsigned bus = 0; bus <= PciLastBus; ++bus)
        for (unsigned dev = 0; dev < 32; ++dev)
            for (unsigned fn = 0; fn < 8; ++fn) {
                const unsigned devfn = dev << 3 | fn;
                const uint32_t id = PciRead(bus, devfn, 0x00);
                if ((id & 0xFFFF) == 0xFFFF || (id & 0xFFFF) == 0) {
                    if (!fn) break;
                    continue;
                }
                const uint32_t class = PciRead(bus, devfn, 0x08);
                if ((class >> 16) == 0x0101) Controller(bus, devfn, id, (uint8_t)(class >> 8));
                /* Only multi-function devices have functions 1-7. */
                if (!fn && !(PciRead(bus, devfn, 0x0C) >> 16 & 0x80)) break;
            }
}

/* A memory manager runs DOS in virtual 8086 mode, where a segment does not
   say where the buffer lies in physical memory. */
static int Virtual8086(void) {
    uint16_t msw;
    __asm__ volatile("smsw %0" : "=r"(msw));
    return msw & 1;
}

void DmaFindPaths(void) {
    const char* why = 0;
    if (Virtual8086())
        why = "a memory manager runs DOS in virtual 8086 mode";
    else {
        PciFind();
        if (PciAccess == PCI_NONE)
            why = "no PCI BIOS and no PCI configuration ports";
        else {
            ScanPci();
            if (!Controllers) why = "no PCI IDE controller";
        }
    }
    for (unsigned i = 0; i < DiskCount; ++i) {
        struct TDisk* d = &Disks[i];
        d->path = PATH_BIOS;
        d->pathNote = why;
        if (why) continue;
        const int channel = d->ioBase == 0x1F0 ? 0 : d->ioBase == 0x170 ? 1 : -1;
        if (channel < 0)
            d->pathNote = "the disk is not on the legacy IDE ports";
        else if (Channels[channel].native)
            d->pathNote = "its IDE channel is in native PCI mode";
        else if (!Channels[channel].busMaster)
            d->pathNote = "its IDE channel has no bus master";
        else if (!d->identified)
            d->pathNote = "the disk did not answer IDENTIFY DEVICE";
        else if (!d->dma)
            d->pathNote = "the disk does not do DMA";
        else if (!d->lba48 && d->sectors > 0x0FFFFFFFul)
            d->pathNote = "the disk is too large for 28-bit commands";
        else {
            d->path = PATH_DMA;
            d->pathNote = 0;
            d->busMaster = Channels[channel].busMaster;
            d->pciVendor = Channels[channel].vendor;
            d->pciDevice = Channels[channel].device;
        }
    }
}

/* --- transfers --------------------------------------------------------------- */

/* Physical region descriptors: address, byte count (0 = 64 KB), bit 15 of
   the last word ends the table. The table (8 KB at PrdSeg, set aside with
   the buffers before any transfer) is dword aligned and must not cross a
   64 KB boundary. */
struct TPrd {
    uint32_t address;
    uint16_t bytes, last;
};
uint16_t PrdSeg;
uint32_t DmaRepeat;

/* Describes bytes from the physical address start, split at 64 KB
   boundaries and starting over at start after every repeat bytes (0:
   never). Answers 0 when the table cannot hold it. */
static int Describe(uint32_t start, uint32_t bytes, uint32_t repeat) {
    uint32_t at = start, left = bytes, run = repeat ? repeat : bytes;
    struct TPrd e;
    for (unsigned n = 0; left; ++n) {
        if (n == PRD_ENTRIES || !PrdSeg) return 0;
        const uint32_t room = 0x10000ul - (at & 0xFFFF);
        uint32_t piece = left < room ? left : room;
        if (piece > run) piece = run;
        e.address = at;
        e.bytes = (uint16_t)piece;
        e.last = left == piece ? 0x8000 : 0;
        FarPut(PrdSeg, (uint16_t)(n * sizeof e), &e, sizeof e);
        at += piece;
        left -= piece;
        run -= piece;
        if (!run) {
            at = start;
            run = repeat ? repeat : left;
        }
    }
    return 1;
}

enum { BM_COMMAND = 0, BM_STATUS = 2, BM_TABLE = 4 };
enum { BM_START = 0x01, BM_TO_MEMORY = 0x08 };
enum { BM_ACTIVE = 0x01, BM_ERROR = 0x02, BM_INTERRUPT = 0x04 };
enum { ST_ERR = 0x01, ST_DRQ = 0x08, ST_DF = 0x20, ST_DRDY = 0x40, ST_BSY = 0x80 };
enum { DC_NIEN = 0x02, DC_SRST = 0x04, DC_HD15 = 0x08 };

/* Generous for a drive that spins up from standby first. */
#define TRANSFER_TICKS (8 * 182 / 10)

static uint16_t Control(const struct TDisk* d) {
    return d->controlBase && d->controlBase != 0xFFFF ? d->controlBase
                                                      : (uint16_t)(d->ioBase + 0x206);
}

static int WaitReady(const struct TDisk* d, uint32_t start) {
    for (;;) {
        const uint8_t status = InByte(Control(d));
        if (status != 0xFF && !(status & (ST_BSY | ST_DRQ))) return status;
        if (Ticks() - start > TRANSFER_TICKS) return -1;
    }
}

/* Soft reset of the channel after a timeout, so that the BIOS finds its
   drives idle. */
static void ResetChannel(const struct TDisk* d) {
    OutByte(d->busMaster + BM_COMMAND, 0);
    OutByte(Control(d), DC_HD15 | DC_NIEN | DC_SRST);
    for (unsigned i = 0; i < 16; ++i)
        InByte(Control(d)); /* well over 5 us */
    OutByte(Control(d), DC_HD15 | DC_NIEN);
    const uint32_t start = Ticks();
    while ((InByte(Control(d)) & ST_BSY) && Ticks() - start < 2 * TRANSFER_TICKS) {
    }
    DmaRelease(d);
}

void DmaRelease(const struct TDisk* d) {
    if (!d->busMaster) return;
    OutByte(d->busMaster + BM_COMMAND, 0);
    InByte((uint16_t)(d->ioBase + 7)); /* takes back a pending interrupt */
    OutByte(d->busMaster + BM_STATUS,
            (uint8_t)((InByte(d->busMaster + BM_STATUS) & 0x60) | BM_ERROR | BM_INTERRUPT));
    OutByte(Control(d), DC_HD15);
}

unsigned DmaTransfer(struct TDisk* d, int write, uint32_t lba, unsigned count, uint16_t seg,
                     uint16_t off) {
    const uint16_t io = d->ioBase, bm = d->busMaster;
    /* 256 sectors a command with 28-bit addresses, 65,536 with 48-bit ones. */
    const int ext = d->lba48 && (count > 256 || lba + count > 0x0FFFFFFFul);
    if (!count || count > (ext ? 65536ul : 256)) return 0x01;
    if (!Describe((uint32_t)seg * 16 + off, (uint32_t)count * 512, DmaRepeat)) return 0x01;

    const uint8_t direction = write ? 0 : BM_TO_MEMORY;
    OutByte(bm + BM_COMMAND, direction);
    OutDword(bm + BM_TABLE, (uint32_t)PrdSeg * 16);
    OutByte(bm + BM_STATUS, (uint8_t)((InByte(bm + BM_STATUS) & 0x60) | BM_ERROR | BM_INTERRUPT));
    OutByte(Control(d), DC_HD15 | DC_NIEN);

    const uint32_t start = Ticks();
    /* A large request gets a second for every megabyte on top. */
    const uint32_t limit = TRANSFER_TICKS + count / 2048 * 18;
    OutByte(io + 6, (uint8_t)(0xE0 | (d->slave ? 0x10 : 0) | (ext ? 0 : lba >> 24 & 0x0F)));
    int status = WaitReady(d, start);
    if (status < 0) {
        ResetChannel(d);
        return DMA_TIMEOUT;
    }
    if (ext) {
        OutByte(io + 2, (uint8_t)(count >> 8));
        OutByte(io + 3, (uint8_t)(lba >> 24));
        OutByte(io + 4, 0);
        OutByte(io + 5, 0);
    }
    OutByte(io + 1, 0);
    OutByte(io + 2, (uint8_t)count);
    OutByte(io + 3, (uint8_t)lba);
    OutByte(io + 4, (uint8_t)(lba >> 8));
    OutByte(io + 5, (uint8_t)(lba >> 16));
    OutByte(io + 7, ext ? (write ? 0x35 : 0x25) : (write ? 0xCA : 0xC8));
    OutByte(bm + BM_COMMAND, direction | BM_START);
    for (unsigned i = 0; i < 4; ++i)
        InByte(Control(d)); /* 400 ns for BSY to show */

    /* Done when the drive is neither busy nor asking for data and the bus
       master has stopped (its interrupt bit stays clear: nIEN holds the
       drive's line quiet). */
    uint8_t bmStatus;
    for (;;) {
        bmStatus = InByte(bm + BM_STATUS);
        status = InByte(Control(d));
        if (bmStatus & BM_ERROR) break;
        if (!(status & ST_BSY) &&
            ((status & (ST_ERR | ST_DF)) || (!(status & ST_DRQ) && !(bmStatus & BM_ACTIVE))))
            break;
        if (Ticks() - start > limit) {
            ResetChannel(d);
            return DMA_TIMEOUT;
        }
    }
    OutByte(bm + BM_COMMAND, direction);
    status = InByte(io + 7);
    OutByte(bm + BM_STATUS, (uint8_t)((InByte(bm + BM_STATUS) & 0x60) | BM_ERROR | BM_INTERRUPT));
    OutByte(Control(d), DC_HD15);
    if (bmStatus & BM_ERROR) return 0x20; /* controller failure */
    if (status & ST_DF) return 0xCC;      /* write fault */
    if (status & ST_ERR) return write ? 0xCC : 0x10;
    return 0;
}
