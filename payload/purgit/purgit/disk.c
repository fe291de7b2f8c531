/* Hard disks through the BIOS: discovery (INT 13h AH=08h, 15h, 41h, 48h),
   identity from the ATA IDENTIFY data where the BIOS names the ports, and
   transfers (AH=42h/43h, or AH=02h/03h a track at a time without the
   extensions). */
#include "purgit.h"
#include "dos.h"

struct TDisk Disks[MAX_DISKS];
unsigned DiskCount;

/* The extended services take at most 127 sectors a request; a BIOS of
   EDD 3.0 or later with the 64-bit extensions takes a whole 64 KB buffer
   (the buffer must not wrap its segment either way). */
#define LARGEST_BLOCK 127
#define LARGEST_EDD3_BLOCK 128

static int WaitAta(uint16_t base, uint8_t mask, uint8_t want) {
    const uint32_t start = Ticks();
    for (;;) {
        const uint8_t status = InByte((uint16_t)(base + 7));
        if (status != 0xFF && (status & mask) == want) return status;
        if (Ticks() - start > 9) return -1; /* half a second */
    }
}

/* Model, serial number, DMA and 48-bit support from IDENTIFY DEVICE, by
   polled I/O, taken word by word as they come. The BIOS has finished its
   own commands when it hands control back, so the drive is idle here. */
static void Identify(struct TDisk* d) {
    const uint16_t base = d->ioBase;
    if (!base) return;
    if (WaitAta(base, 0x80, 0) < 0) return;
    OutByte((uint16_t)(base + 6), (uint8_t)(0xA0 | (d->slave ? 0x10 : 0)));
    if (WaitAta(base, 0x80, 0) < 0) return;
    OutByte((uint16_t)(base + 7), 0xEC);
    const int status = WaitAta(base, 0x88, 0x08);
    if (status < 0 || (status & 1)) return;
    for (unsigned i = 0; i < 256; ++i) {
        const uint16_t w = InWord(base);
        char* text = i >= 27 && i < 47 ? d->model + 2 * (i - 27)
                     : i >= 10 && i < 20 ? d->serial + 2 * (i - 10)
                                         : 0;
        if (text) {
            text[0] = (char)(w >> 8);
            text[1] = (char)w;
        }
        if (i == 49) d->dma = (w >> 8) & 1;
        if (i == 83) d->lba48 = (w & 0xC000) == 0x4000 && (w >> 10 & 1);
    }
    d->identified = 1;
    char* out[2] = {d->model, d->serial};
    const unsigned lengths[2] = {40, 20};
    for (unsigned f = 0; f < 2; ++f) {
        unsigned n = lengths[f];
        for (unsigned i = 0; i < n; ++i)
            if (out[f][i] < 32 || out[f][i] > 126) out[f][i] = ' ';
        while (n && out[f][n - 1] == ' ') --n;
        out[f][n] = 0;
        unsigned lead = 0;
        while (out[f][lead] == ' ') ++lead;
        if (lead) memcpy(out[f], out[f] + lead, n - lead + 1);
    }
}

static void Probe(struct TDisk* d) {
    struct TRegs r = {0};
    r.ax = 0x0800;
    r.dx = d->drive;
    if (!Int13Es(&r, 0)) {
        d->cylinders = (((uint32_t)(r.cx & 0xC0) << 2) | (r.cx >> 8)) + 1;
        d->heads = (uint32_t)(r.dx >> 8) + 1;
        d->perTrack = r.cx & 0x3F;
    }
    d->sectorBytes = 512;
    d->sectors = d->cylinders * d->heads * d->perTrack;
    d->block = (uint16_t)d->perTrack;

    r = (struct TRegs){0};
    r.ax = 0x1500;
    r.dx = d->drive;
    if (!Int13(&r) && (r.ax >> 8) == 3) {
        const uint32_t chsTotal = ((uint32_t)r.cx << 16) | r.dx;
        if (chsTotal > d->sectors) d->sectors = chsTotal;
    }

    r = (struct TRegs){0};
    r.ax = 0x4100;
    r.bx = 0x55AA;
    r.dx = d->drive;
    if (Int13(&r) || r.bx != 0xAA55 || !(r.cx & 1)) return;
    const int edd3 = (r.ax >> 8) >= 0x30 && (r.cx & 8);
    uint8_t params[0x42];
    memset(params, 0, sizeof params);
    params[0] = 0x1E;
    r = (struct TRegs){0};
    r.ax = 0x4800;
    r.dx = d->drive;
    r.si = (uint16_t)(uintptr_t)params;
    if (Int13(&r)) return;
    uint32_t low, high;
    uint16_t bytes, dpteOff, dpteSeg;
    memcpy(&low, params + 16, 4);
    memcpy(&high, params + 20, 4);
    memcpy(&bytes, params + 24, 2);
    memcpy(&dpteOff, params + 26, 2);
    memcpy(&dpteSeg, params + 28, 2);
    if (!low && !high) return;
    d->extended = 1;
    /* 2^32 sectors and more are out of this program's reach: capped, and
       the erase says it reached only part of the disk. */
    d->sectors = high ? 0xFFFFFFFFul : low;
    d->beyond = high != 0;
    /* The buffers hold 512-byte sectors; larger ones would overrun them. */
    if (bytes && bytes != 512) {
        d->unusable = 1;
        d->sectorBytes = bytes;
    }
    d->block = edd3 ? LARGEST_EDD3_BLOCK : LARGEST_BLOCK;
    if (params[0] >= 0x1E && !(dpteOff == 0xFFFF && dpteSeg == 0xFFFF) && (dpteOff || dpteSeg)) {
        d->ioBase = PeekWord(dpteSeg, dpteOff);
        d->controlBase = PeekWord(dpteSeg, (uint16_t)(dpteOff + 2));
        d->slave = (PeekByte(dpteSeg, (uint16_t)(dpteOff + 4)) & 0x10) != 0;
        if (d->ioBase == 0 || d->ioBase == 0xFFFF) d->ioBase = 0;
    }
}

void FindDisks(void) {
    struct TRegs r = {0};
    r.ax = 0x0800;
    r.dx = 0x80;
    unsigned count = 0;
    if (!Int13Es(&r, 0)) count = r.dx & 0xFF;
    if (count > MAX_DISKS) count = MAX_DISKS;
    DiskCount = 0;
    for (unsigned i = 0; i < count; ++i) {
        struct TDisk* d = &Disks[DiskCount];
        memset(d, 0, sizeof *d);
        d->drive = (uint8_t)(0x80 + i);
        Probe(d);
        if (!d->sectors) continue;
        Identify(d);
        ++DiskCount;
    }
    MarkBootDisk(); /* before DMA: its reads go through the BIOS */
    if (Options[O_DMA]) DmaFindPaths();
}

int DiskAnswers(struct TDisk* d) {
    struct TRegs r = {0};
    r.ax = 0x1000; /* test unit ready */
    r.dx = d->drive;
    if (!Int13(&r)) return 1;
    r = (struct TRegs){0};
    r.ax = 0x0800;
    r.dx = d->drive;
    return !Int13Es(&r, 0);
}

static unsigned Extended(struct TDisk* d, int write, uint32_t lba, unsigned count, uint16_t seg,
                         uint16_t off) {
    static struct {
        uint8_t size, zero;
        uint16_t count, offset, segment;
        uint32_t low, high;
    } __attribute__((packed)) packet;
    packet.size = 16;
    packet.zero = 0;
    packet.count = (uint16_t)count;
    packet.offset = off;
    packet.segment = seg;
    packet.low = lba;
    packet.high = 0;
    struct TRegs r = {0};
    r.ax = write ? 0x4300 : 0x4200;
    r.dx = d->drive;
    r.si = (uint16_t)(uintptr_t)&packet;
    if (Int13(&r)) return (r.ax >> 8) ? (r.ax >> 8) : 0xFF;
    /* A BIOS that moved fewer sectors says so in the packet. */
    return packet.count == count ? 0 : 0xBB;
}

static unsigned Chs(struct TDisk* d, int write, uint32_t lba, unsigned count, uint16_t seg,
                    uint16_t off) {
    while (count) {
        const uint32_t track = lba / d->perTrack;
        const unsigned sector = (unsigned)(lba % d->perTrack) + 1;
        const uint32_t cylinder = track / d->heads, head = track % d->heads;
        unsigned n = d->perTrack - sector + 1;
        if (n > count) n = count;
        if (cylinder > 1023) return 0x04;
        struct TRegs r = {0};
        r.ax = (uint16_t)((write ? 0x0300 : 0x0200) | n);
        r.bx = off;
        r.cx = (uint16_t)((cylinder & 0xFF) << 8 | (cylinder >> 2 & 0xC0) | sector);
        r.dx = (uint16_t)(head << 8 | d->drive);
        if (Int13Es(&r, seg)) return (r.ax >> 8) ? (r.ax >> 8) : 0xFF;
        lba += n;
        count -= n;
        off = (uint16_t)(off + n * 512);
    }
    return 0;
}

static unsigned Bios(struct TDisk* d, int write, uint32_t lba, unsigned count, uint16_t seg,
                     uint16_t off) {
    return d->extended ? Extended(d, write, lba, count, seg, off)
                       : Chs(d, write, lba, count, seg, off);
}

/* The rest of the disk goes through the BIOS; said once (trace here, the
   erase page and the report from pathNote). */
static void FallBack(struct TDisk* d, const char* why) {
    DmaRelease(d);
    d->path = PATH_BIOS;
    d->pathNote = why;
    d->pathChanged = 1;
    DebugText("PATH BIOS ");
    DebugText(why);
    DebugText("\n");
}

unsigned DiskTransfer(struct TDisk* d, int write, uint32_t lba, unsigned count, uint16_t seg,
                      uint16_t off) {
    if (Trace) {
        char line[40];
        struct TText t = {line, 0, sizeof line};
        TextChar(&t, write ? 'W' : 'R');
        TextChar(&t, ' ');
        TextNumber(&t, lba);
        TextChar(&t, ' ');
        TextNumber(&t, count);
        TextChar(&t, '\n');
        DebugText(line);
    }
    if (d->path != PATH_DMA) return Bios(d, write, lba, count, seg, off);
    const unsigned status = DmaTransfer(d, write, lba, count, seg, off);
    if (!status) {
        d->dmaProven = 1;
        return 0;
    }
    /* Once DMA has worked on this disk, a failure is the sectors' own and is
       reported like the BIOS's; before that, a request the BIOS does where
       DMA failed means the disk or the controller refuses DMA. A timeout
       leaves DMA for good either way. */
    if (status == DMA_TIMEOUT) {
        FallBack(d, "a DMA transfer timed out");
        return count > d->block ? status : Bios(d, write, lba, count, seg, off);
    }
    /* A request larger than the BIOS takes is retried block by block by the
       erase, which tells the refusal of DMA from a sector's error. */
    if (d->dmaProven || count > d->block) return status;
    const unsigned bios = Bios(d, write, lba, count, seg, off);
    if (!bios) FallBack(d, "the disk refused the DMA command");
    return bios;
}

/* Through the BIOS a block; on the bus master a read fills the read area,
   and a fixed pattern's write runs through the write buffer again and
   again, as far as the command and the descriptor table reach (one entry
   per repeat: the buffer never crosses a 64 KB boundary). */
unsigned DiskLargest(const struct TDisk* d, int write, uint32_t repeat) {
    if (d->path != PATH_DMA) return d->block;
    if (!write) return ReadSectors;
    if (!repeat) return d->block;
    uint32_t most = d->lba48 ? 65536ul : 256;
    const uint32_t table = PRD_ENTRIES * (repeat / 512);
    return (unsigned)(most < table ? most : table);
}

unsigned DiskLarge(struct TDisk* d, int write, uint32_t lba, unsigned count, TBuffer b,
                   uint32_t repeat) {
    DmaRepeat = repeat;
    const unsigned status = DiskTransfer(d, write, lba, count, b, 0);
    DmaRepeat = 0;
    return status;
}

static void TextHex4(struct TText* t, unsigned v) {
    TextHex2(t, v >> 8 & 0xFF);
    TextHex2(t, v & 0xFF);
}

void TextPath(struct TText* t, const struct TDisk* d, int detail) {
    if (d->path == PATH_DMA) {
        TextAdd(t, "bus-master DMA");
        if (!detail) return;
        TextAdd(t, " (PCI IDE ");
        TextHex4(t, d->pciVendor);
        TextChar(t, ':');
        TextHex4(t, d->pciDevice);
        TextAdd(t, d->ioBase == 0x170 ? ", secondary " : ", primary ");
        TextAdd(t, d->slave ? "slave" : "master");
        if (d->sectors > 0x0FFFFFFFul) TextAdd(t, ", 48-bit commands");
        TextChar(t, ')');
        return;
    }
    TextAdd(t, "BIOS");
    if (!detail) return;
    TextAdd(t, d->extended ? " INT 13h AH=42h/43h" : " INT 13h AH=02h/03h");
    if (d->pathNote) {
        TextAdd(t, " (option 11: ");
        TextAdd(t, d->pathNote);
        TextChar(t, ')');
    }
}

void TextBus(struct TText* t, const struct TDisk* d) {
    if (d->ioBase == 0x1F0 || d->ioBase == 0x170) {
        TextAdd(t, d->ioBase == 0x170 ? "ATA secondary " : "ATA primary ");
        TextAdd(t, d->slave ? "slave" : "master");
    } else {
        TextAdd(t, "unknown");
    }
}

void TextDisk(struct TText* t, unsigned index) {
    const struct TDisk* d = &Disks[index];
    TextAdd(t, "Disk ");
    TextNumber(t, index + 1);
    TextAdd(t, " (");
    TextHex2(t, d->drive);
    TextAdd(t, "h): ");
    TextSize(t, d->sectors, d->sectorBytes);
    TextAdd(t, ", ");
    TextNumber(t, d->sectors);
    TextAdd(t, " sectors");
    if (d->model[0]) {
        TextAdd(t, ", ");
        TextAdd(t, d->model);
    }
}
