/* The erase engine: passes of large transfers from a write buffer and into
   a read area the platform gives, the write buffer filled once per pass
   for fixed patterns; verification regenerates what was written and
   compares; errors are retried sector by sector and listed. */
#include "purgit.h"

TBuffer WriteSeg, ReadSeg;
unsigned BufferSectors, ReadSectors;
/* Bytes of the write buffer that a fixed pattern's large request runs
   through before it starts over (a multiple of the pattern and of a
   sector), 0 when the pattern cannot repeat so. */
static uint32_t RepeatBytes;

#ifdef PURGIT_UEFI
/* Bytes in a sector of the disk being erased (512 or the firmware's
   4 KB blocks): a request, a retry and a listed sector are whole sectors. */
static unsigned Unit = 512;
#else
#define Unit 512
#endif
/* The buffer that starts the given number of the disk's sectors into b. */
#define At(b, sectors) BufferAt(b, (sectors) * (Unit / 512))
#ifdef PURGIT_UEFI
/* The most a partition table entry holds. */
#define Low32(v) ((v) > 0xFFFFFFFFull ? 0xFFFFFFFFul : (uint32_t)(v))
#else
#define Low32(v) (v)
#endif

int EraseStart(void) { return PlatformBuffers(); }

/* --- filling the write buffer ------------------------------------------------ */

static struct {
    const struct TPass* pass;
    unsigned phase;
    int valid;
} Filled;

/* A fixed pattern runs on without a gap from sector to sector: the byte at
   disk offset o is pattern[o mod length], whatever the transfer order. The
   whole buffer is filled, so a large request may run through it again. */
static void Fill(const struct TPass* p, TLba lba, unsigned count) {
    const uint8_t flip = p->invert ? 0xFF : 0x00;
    if (p->kind == P_FIXED) {
        const unsigned length = p->length;
        const unsigned phase = (unsigned)((lba % length) * (Unit % length) % length);
        if (Filled.valid && Filled.pass == p && Filled.phase == phase) return;
        uint8_t first[16];
        for (unsigned i = 0; i < length; ++i) first[i] = p->bytes[(phase + i) % length] ^ flip;
        BufferPut(WriteSeg, 0, first, length);
        BufferRepeat(WriteSeg, length, BufferSectors * 512);
        Filled.pass = p;
        Filled.phase = phase;
        Filled.valid = 1;
        return;
    }
    Filled.valid = 0;
    RandomBuffer(WriteSeg, count * Unit, p->invert);
}

/* --- progress ---------------------------------------------------------------- */

/* The screen a few times a second, not per request. */
#define SHOW_TICKS 4

static struct {
    uint32_t start, shown, keyed, paused;
    uint64_t work, done;
    TLba passDone, passSectors;
    unsigned pass, passes, disk, disks;
    int verifying;
    const struct TPass* p;
    struct TResult* r;
} Run;

static void Line(unsigned row, uint8_t attribute, struct TText* t) {
    ScreenLine(row, attribute, t->at);
    t->length = 0;
    t->at[0] = 0;
}

static unsigned Percent(uint64_t part, uint64_t whole) {
    return whole ? (unsigned)Div64(part * 100, whole) : 100;
}

static void Show(int force) {
    const uint32_t now = Ticks();
    if (!force && now - Run.shown < SHOW_TICKS) return;
    Run.shown = now;
    char buffer[96];
    struct TText t = {buffer, 0, sizeof buffer};
    TextAdd(&t, Run.verifying ? "Verifying pass " : "Writing pass ");
    TextNumber(&t, Run.pass + 1);
    TextAdd(&t, " of ");
    TextNumber(&t, Run.passes);
    TextAdd(&t, ": ");
    TextPattern(&t, Run.p);
    Line(7, A_TITLE, &t);

    TextAdd(&t, "This pass: ");
    TextNumber(&t, Run.passDone);
    TextAdd(&t, " of ");
    TextNumber(&t, Run.passSectors);
    TextAdd(&t, " sectors");
    TextPad(&t, 44);
    TextNumber(&t, Percent(Run.passDone, Run.passSectors));
    TextChar(&t, '%');
    Line(9, A_NORMAL, &t);

    /* Sectors in total count writes and reads: the whole job for this disk. */
    TextAdd(&t, "In total:  ");
    TextWide(&t, Run.done);
    TextAdd(&t, " of ");
    TextWide(&t, Run.work);
    TextAdd(&t, " sectors");
    TextPad(&t, 44);
    TextNumber(&t, Percent(Run.done, Run.work));
    TextChar(&t, '%');
    Line(10, A_NORMAL, &t);

    const uint32_t ticks = now - Run.start - Run.paused;
    TextAdd(&t, "Speed: ");
    /* KB/s = sectors / 2 per tick * 18.2065. */
    const uint32_t kbps = ticks ? Div64(Run.done * 91 * (Unit / 512), ticks * 10) : 0;
    TextTenths(&t, kbps * 10 / 1024);
    TextAdd(&t, " MB/s   Elapsed: ");
    TextDuration(&t, ticks * 10 / 182);
    TextAdd(&t, "   Time left: ");
    if (Run.done && ticks > 9) {
        const uint64_t left = Run.work - Run.done;
        const uint32_t leftTicks = Div64(left * ticks, Run.done);
        TextDuration(&t, leftTicks / 182 * 10 + leftTicks % 182 * 10 / 182);
    } else {
        TextAdd(&t, "--:--:--");
    }
    Line(11, A_NORMAL, &t);

    TextAdd(&t, "Errors: ");
    TextNumber(&t, Run.r->writeErrors);
    TextAdd(&t, " write, ");
    TextNumber(&t, Run.r->readErrors);
    TextAdd(&t, " read, ");
    TextNumber(&t, Run.r->mismatches);
    TextAdd(&t, " verification");
    Line(13, Run.r->writeErrors || Run.r->readErrors || Run.r->mismatches ? A_WARN : A_NORMAL, &t);
}

/* Keys while the erase runs: Esc pauses when option 6 allows it; otherwise
   keys are taken and dropped so they do not pile up. Answers 1 to stop. */
static int Keys(void) {
    unsigned key;
    while ((key = KeyPeek()) != 0) {
        KeyRead();
        if (!Options[O_INTERRUPT] || ((key & 0xFF) != 27 && (key & 0xFF & 0xDF) != 'P')) continue;
        const uint32_t from = Ticks();
        ScreenLine(15, A_WARN, "Paused. Enter goes on; S stops erasing this disk (it is then only "
                               "partly erased).");
        for (;;) {
            const unsigned answer = KeyRead() & 0xFF;
            if (answer == 13 || answer == 27) break;
            if (answer == 's' || answer == 'S') {
                ScreenLine(15, A_NORMAL, "");
                return 1;
            }
        }
        ScreenLine(15, A_NORMAL, "");
        Run.paused += Ticks() - from;
    }
    return 0;
}

static void Note(struct TResult* r, char kind, TLba sector) {
    if (kind == 'W') ++r->writeErrors;
    else if (kind == 'R') ++r->readErrors;
    else ++r->mismatches;
    if (r->listed < MAX_LISTED) {
        r->sector[r->listed] = sector;
        r->kind[r->listed] = kind;
        ++r->listed;
    }
    if (Trace) {
        char line[14 + sizeof(TLba) * 5 / 2];
        struct TText t = {line, 0, sizeof line};
        TextAdd(&t, "ERROR ");
        TextChar(&t, kind);
        TextChar(&t, ' ');
        TextNumber(&t, sector);
        TextChar(&t, '\n');
        DebugText(line);
    }
}

/* The transfer path on the erase page; a fall-back to the BIOS is shown
   where it happened. */
static void ShowPath(const struct TDisk* d) {
    char buffer[128];
    struct TText t = {buffer, 0, sizeof buffer};
    TextAdd(&t, "Transfers: ");
    TextPath(&t, d, 1);
    ScreenLine(5, d->pathChanged ? A_WARN : A_NORMAL, buffer);
}

/* A sector that was transferred in this erase: when it cannot be read any
   more either, the disk has gone. */
static struct {
    TLba sector;
    int known;
} Good;

/* After a block whose every sector failed: has the disk gone? Then the
   erase ends at once instead of trying the rest sector by sector. Reads
   into seg's first sector. */
static int Gone(struct TDisk* d, TBuffer seg) {
    if (!DiskAnswers(d)) return 1;
    return Good.known && DiskTransfer(d, 0, Good.sector, 1, seg, 0);
}

/* Sectors one request may carry: a block, or as many more as the platform
   moves at once (a fixed pattern's write running through the write buffer
   again and again, a read filling the read area). Whole blocks, so that a
   failed request is retried as the blocks move. */
static unsigned Request(const struct TDisk* d, const struct TPass* p, int verify, unsigned block) {
    const unsigned most =
        DiskLargest(d, !verify, !verify && p->kind == P_FIXED ? RepeatBytes : 0);
    return most > block ? most / block * block : block;
}

/* One block of a request: written (unless the request moved it already) or
   read back and compared; failures retried sector by sector and listed.
   Answers 0, or 2 when the disk stopped answering. */
static int Block(struct TDisk* d, const struct TPass* p, int verify, TLba lba, unsigned n,
                 int moved, TBuffer readSeg, struct TResult* r) {
    if (!verify && moved) return 0;
    Fill(p, lba, n);
    if (!verify) {
        if (DiskTransfer(d, 1, lba, n, WriteSeg, 0)) {
            unsigned failed = 0;
            for (unsigned i = 0; i < n; ++i)
                if (DiskTransfer(d, 1, lba + i, 1, At(WriteSeg, i), 0)) {
                    Note(r, 'W', lba + i);
                    ++failed;
                }
            if (failed == n && Gone(d, ReadSeg)) return 2;
        } else {
            Good.sector = lba;
            Good.known = 1;
        }
        return 0;
    }
    if (!moved) {
        if (DiskTransfer(d, 0, lba, n, readSeg, 0)) {
            unsigned failed = 0;
            for (unsigned i = 0; i < n; ++i)
                if (DiskTransfer(d, 0, lba + i, 1, At(readSeg, i), 0)) {
                    Note(r, 'R', lba + i);
                    /* An unreadable sector is not also counted as different. */
                    BufferCopy(At(readSeg, i), At(WriteSeg, i), 0, Unit);
                    ++failed;
                }
            if (failed == n) {
                if (Gone(d, readSeg)) return 2;
                BufferCopy(readSeg, WriteSeg, 0, Unit); /* unreadable, as all */
            }
        } else {
            Good.sector = lba;
            Good.known = 1;
        }
    }
    if (!BufferEqual(WriteSeg, readSeg, 0, n * Unit))
        for (unsigned i = 0; i < n; ++i)
            if (!BufferEqual(WriteSeg, readSeg, (TOffset)(i * Unit), Unit)) Note(r, 'V', lba + i);
    return 0;
}

/* One pass over the disk, writing or reading back. Answers 0, 1 when the
   user stopped, 2 when the disk stopped answering. */
static int Pass(struct TDisk* d, const struct TPass* p, int verify, struct TResult* r) {
    const TLba total = d->sectors;
    const unsigned block = d->block < BufferSectors ? d->block : BufferSectors;
    Run.verifying = verify;
    Run.p = p;
    Run.passDone = 0;
    Run.passSectors = total;
    if (p->kind == P_RANDOM) RandomStart(p, Options[O_ISAAC]);
    RepeatBytes = 0;
    if (p->kind == P_FIXED) {
        uint32_t unit = Unit;
        while (unit % p->length)
            unit += Unit;
        RepeatBytes = (uint32_t)BufferSectors * 512 / unit * unit;
    }
    Show(1);
    TLba done = 0;
    while (done < total) {
        const unsigned most = Request(d, p, verify, block);
        const unsigned n = total - done < most ? (unsigned)(total - done) : most;
        const TLba lba = Options[O_BACKWARD] ? total - done - n : done;
        int moved = 0;
        if (n > block) {
            /* Blocks in the order the pass moves them: random data is
               regenerated for verification in that order. */
            if (!verify) Fill(p, lba, n);
            moved = !DiskLarge(d, !verify, lba, n, verify ? ReadSeg : WriteSeg,
                               verify ? 0 : RepeatBytes);
            if (moved) {
                Good.sector = lba;
                Good.known = 1;
            }
        }
        for (unsigned k = 0; k < n; k += block) {
            const unsigned m = n - k < block ? n - k : block;
            const TLba at = Options[O_BACKWARD] ? lba + n - k - m : lba + k;
            const int outcome =
                Block(d, p, verify, at, m, moved, At(ReadSeg, (unsigned)(at - lba)), r);
            if (outcome) return outcome;
        }
        done += n;
        Run.passDone = done;
        Run.done += n;
        r->sectorsMoved += n;
        if (d->pathChanged) {
            ShowPath(d);
            d->pathChanged = 0;
        }
        /* The keys once a tick, about 18 times a second, and after the
           last request. */
        const uint32_t now = Ticks();
        if (now != Run.keyed || done == total) {
            Run.keyed = now;
            Show(0);
            if (Keys()) return 1;
        }
    }
    Show(1);
    return 0;
}

/* The largest request the BIOS takes, found with a harmless read before the
   first write, so that every pass moves the same blocks. */
static void FindBlock(struct TDisk* d) {
    if (d->block > BufferSectors) d->block = (uint16_t)BufferSectors;
    while (d->block > 1) {
        const uint32_t n = d->sectors < d->block ? (uint32_t)d->sectors : d->block;
        const unsigned status = DiskTransfer(d, 0, 0, n, ReadSeg, 0);
        if (status != 0x01 && status != 0xBB) break;
        d->block = (uint16_t)(d->block / 2);
    }
}

/* One primary partition over the whole disk (from 1 MB, or from the second
   track on small disks), type 0Ch (FAT32, LBA), left for FORMAT; the code
   hands over to the next boot device. */
static int WritePartitionTable(struct TDisk* d) {
    uint8_t mbr[512];
    memset(mbr, 0, 512);
    /* The rest of a larger sector: zeros. */
    for (unsigned off = 512; off < Unit; off += 512)
        BufferPut(WriteSeg, off, mbr, 512);
    mbr[0] = 0xCD; /* int 18h */
    mbr[1] = 0x18;
    mbr[2] = 0xEB; /* jmp $ */
    mbr[3] = 0xFE;
    const uint32_t start = d->sectors > 8192 ? 2048 : (d->perTrack ? d->perTrack : 1);
    if (d->sectors <= start + 1) return 1;
    const uint32_t count = Low32(d->sectors - start);
    uint8_t* e = mbr + 446;
    const uint32_t lbas[2] = {start, Low32(d->sectors - 1)};
    for (unsigned k = 0; k < 2; ++k) {
        uint32_t c = 1023, h = 254, s = 63;
        if (d->perTrack && d->heads) {
            const uint32_t track = lbas[k] / d->perTrack;
            if (track / d->heads <= 1023) {
                c = track / d->heads;
                h = track % d->heads;
                s = lbas[k] % d->perTrack + 1;
            }
        }
        uint8_t* chs = e + (k ? 5 : 1);
        chs[0] = (uint8_t)h;
        chs[1] = (uint8_t)(s | (c >> 2 & 0xC0));
        chs[2] = (uint8_t)c;
    }
    e[0] = 0x00;
    e[4] = 0x0C;
    memcpy(e + 8, &start, 4);
    memcpy(e + 12, &count, 4);
    mbr[510] = 0x55;
    mbr[511] = 0xAA;
    Filled.valid = 0;
    BufferPut(WriteSeg, 0, mbr, 512);
    if (DiskTransfer(d, 1, 0, 1, WriteSeg, 0)) return 1;
    if (DiskTransfer(d, 0, 0, 1, ReadSeg, 0)) return 1;
    return !BufferEqual(WriteSeg, ReadSeg, 0, Unit);
}

void EraseDisk(unsigned index, struct TMethod* m, struct TResult* r, unsigned diskNumber,
               unsigned diskTotal) {
    struct TPass* passes = m->pass;
    struct TDisk* d = &Disks[index];
    memset(r, 0, sizeof *r);
    unsigned count = m->passes;
    if (Options[O_ZERO_PASS]) {
        memset(&passes[count], 0, sizeof passes[0]);
        passes[count].kind = P_FIXED;
        passes[count].length = 1;
        ++count;
    }
    for (unsigned i = 0; i < count; ++i) {
        if (passes[i].follows && i) memcpy(passes[i].seed, passes[i - 1].seed, 16);
        else RandomSeed(passes[i].seed);
    }
    r->passesPlanned = count;
    /* Option 1 reads back the last pass, or every pass when the method asks. */
    const int verifyAll = Options[O_VERIFY] && m->verify == V_ALL;
    const int verifyLast = Options[O_VERIFY];
    unsigned verifications = verifyAll ? count : verifyLast ? 1 : 0;

    char buffer[96];
    struct TText t = {buffer, 0, sizeof buffer};
    ScreenClear(A_NORMAL);
    ScreenTitle("erasing");
    TextAdd(&t, "Disk ");
    TextNumber(&t, diskNumber);
    TextAdd(&t, " of ");
    TextNumber(&t, diskTotal);
    TextAdd(&t, " being erased");
    Line(2, A_NORMAL, &t);
    TextDisk(&t, index);
    Line(3, A_TITLE, &t);
    TextAdd(&t, "Method: ");
    TextAdd(&t, m->name);
    TextAdd(&t, ", ");
    TextNumber(&t, count);
    TextAdd(&t, count == 1 ? " pass" : " passes");
    if (verifications) TextAdd(&t, verifyAll ? ", every pass verified" : ", last pass verified");
    Line(4, A_NORMAL, &t);
    ScreenKeys(Options[O_INTERRUPT] ? " Esc or P  pause or stop"
                                    : " This erase cannot be interrupted (option 6 is off).");

    memset(&Run, 0, sizeof Run);
    Run.r = r;
    Run.passes = count;
    Run.disk = diskNumber;
    Run.disks = diskTotal;
    Run.work = (uint64_t)d->sectors * (count + verifications);
    Run.start = Ticks();
    Filled.valid = 0;
    Good.known = 0;
#ifdef PURGIT_UEFI
    Unit = DiskUnit(d);
#endif
    ShowPath(d);
    DebugText(d->path == PATH_DMA ? "PATH DMA\n" : "PATH " FIRMWARE_TRACE);
    if (d->path != PATH_DMA && d->pathNote) {
        DebugText(" ");
        DebugText(d->pathNote);
    }
    if (d->path != PATH_DMA) DebugText("\n");
    FindBlock(d);
    if (Trace) {
        char line[48];
        struct TText tt = {line, 0, sizeof line};
        TextAdd(&tt, "DISK ");
        TextHex2(&tt, d->drive);
        TextAdd(&tt, " BLOCK ");
        TextNumber(&tt, d->block);
        TextChar(&tt, '\n');
        DebugText(line);
    }

    int outcome = 0;
    for (unsigned i = 0; i < count && !outcome; ++i) {
        Run.pass = i;
        if (Trace) {
            char line[48];
            struct TText tt = {line, 0, sizeof line};
            TextAdd(&tt, "PASS ");
            TextNumber(&tt, i + 1);
            TextChar(&tt, ' ');
            TextPattern(&tt, &passes[i]);
            TextChar(&tt, '\n');
            DebugText(line);
        }
        outcome = Pass(d, &passes[i], 0, r);
        RecordPass(index, &passes[i], i, 0, outcome, r);
        if (outcome) break;
        r->passesDone = i + 1;
        if (verifyAll || (verifyLast && i + 1 == count)) {
            outcome = Pass(d, &passes[i], 1, r);
            RecordPass(index, &passes[i], i, 1, outcome, r);
            if (outcome) break;
            ++r->verifiedPasses;
        }
        if (Options[O_PAUSE_PASS]) {
            t.length = 0;
            TextAdd(&t, "Pass ");
            TextNumber(&t, i + 1);
            TextAdd(&t, " of ");
            TextNumber(&t, count);
            TextAdd(&t, " finished. Press any key to go on.");
            DebugText("PAUSED\n");
            Line(15, A_WARN, &t);
            while (KeyPeek()) KeyRead();
            const uint32_t from = Ticks();
            KeyRead();
            Run.paused += Ticks() - from;
            ScreenLine(15, A_NORMAL, "");
        }
    }
    r->partial = d->beyond;
    r->stopped = outcome == 1;
    r->vanished = outcome == 2;
    r->verifyFailed = r->mismatches || r->readErrors;
    if (Options[O_PARTITION] && !outcome) {
        if (WritePartitionTable(d)) r->partitionFailed = 1;
        else r->partitioned = 1;
    }
    r->ticks = Ticks() - Run.start - Run.paused;
    DebugText(r->vanished ? "END VANISHED\n" : r->stopped ? "END STOPPED\n" : "END\n");
}

void TextResult(struct TText* t, const struct TResult* r) {
#ifdef PURGIT_UEFI
    if (PurgeTextResult(t, r)) return;
#endif
    if (r->vanished) TextAdd(t, "STOPPED: the disk no longer answers");
    else if (r->stopped) TextAdd(t, "STOPPED by the user: only partly erased");
    else if (r->writeErrors || r->readErrors || r->mismatches) TextAdd(t, "ERASED WITH ERRORS");
    else if (r->partial) TextAdd(t, "ONLY THE FIRST 2 TB ERASED: the rest is out of reach");
    else TextAdd(t, "OK");
}
