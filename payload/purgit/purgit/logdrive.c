/* Where the report may go: the boot floppy first, then the drive /L:
   names, then every other FAT drive; never a drive that lives on a disk
   chosen for erasing. A drive letter is matched to a BIOS disk through its
   boot sector: read through DOS (INT 21h AX=7305h, else INT 25h) and
   compared with the sector its hidden-sectors count names on each chosen
   disk, read through the BIOS. That works alike under Rx-DOS and MS-DOS 7,
   where no call tells which BIOS disk holds a drive. */
#include "purgit.h"
#include "dos.h"

/* Both sectors live in the scratch text, free while disks are erased. */
#define VolumeSector ((uint8_t*)ScratchText)
#define DiskSector ((uint8_t*)ScratchText + 512)

static uint16_t DataSegment(void) {
    uint16_t s;
    __asm__("movw %%ds, %0" : "=r"(s));
    return s;
}

/* Probing an empty floppy drive must not stop at DOS's "Abort, Retry,
   Fail?": while drives are probed, critical errors fail the call. */
__asm__(".text\n"
        "FailCriticalError:\n"
        "    movb $3, %al\n"
        "    iretw\n");
extern char FailCriticalError[];

struct TDiskPacket {
    uint32_t start;
    uint16_t count;
    uint16_t off, seg;
} __attribute__((packed));

/* INT 25h leaves the caller's flags on the stack and may change every
   register but the segment registers. */
static int Int25(unsigned drive, struct TDiskPacket* p) {
    uint32_t ax = drive, bx = (uint32_t)(uintptr_t)p, cx = 0xFFFF, dx = 0, si = 0, di = 0;
    _Bool carry;
    __asm__ volatile("pushl %%ebp\n\t"
                     "int $0x25\n\t"
                     "popw %%bp\n\t" /* the flags INT 25h left; pop keeps CF */
                     "popl %%ebp"
                     : "+a"(ax), "+b"(bx), "+c"(cx), "+d"(dx), "+S"(si), "+D"(di), "=@ccc"(carry)
                     :
                     : "memory");
    return carry;
}

static int LooksLikeBootSector(void) {
    return VolumeSector[510] == 0x55 && VolumeSector[511] == 0xAA && VolumeSector[11] == 0 &&
           VolumeSector[12] == 2;
}

/* Drive 1 = A:. Answers 1 when its boot sector is in VolumeSector. */
static int ReadVolumeBootSector(unsigned drive) {
    struct TDiskPacket p = {0, 1, (uint16_t)(uintptr_t)VolumeSector, DataSegment()};
    memset(VolumeSector, 0, 512);
    struct TRegs r = {0};
    r.ax = 0x7305;
    r.bx = (uint16_t)(uintptr_t)&p;
    r.cx = 0xFFFF;
    r.dx = (uint16_t)drive;
    if (!Int21(&r)) return LooksLikeBootSector();
    /* Only a DOS without the call (before 7.10) is asked through INT 25h. */
    if (r.ax != 0x7300 && r.ax != 1) return 0;
    return !Int25(drive - 1, &p) && LooksLikeBootSector();
}

/* The chosen disk the volume of drive (1 = A:) lives on, or -1; -2 when
   that cannot be told (its boot sector unreadable). */
static int DiskOfDrive(unsigned drive, const char* chosen) {
    if (!ReadVolumeBootSector(drive)) return -2;
    uint32_t hidden;
    memcpy(&hidden, VolumeSector + 0x1C, 4);
    const int trace = Trace;
    Trace = 0; /* these reads are no part of any erase */
    int found = -1;
    for (unsigned i = 0; i < DiskCount && found < 0; ++i) {
        if (!chosen[i] || hidden >= Disks[i].sectors) continue;
        if (DiskTransfer(&Disks[i], 0, hidden, 1, DataSegment(), (uint16_t)(uintptr_t)DiskSector))
            continue;
        if (!memcmp(DiskSector, VolumeSector, 512)) found = (int)i;
    }
    Trace = trace;
    return found;
}

/* Does DOS know the floppy drive (1 = A:), as itself rather than as the
   other letter's phantom? */
static int FloppyExists(unsigned drive) {
    struct TRegs r = {0};
    r.ax = 0x440E;
    r.bx = (uint16_t)drive;
    if (!Int21(&r) && (r.ax & 0xFF) && (r.ax & 0xFF) != drive) return 0;
    r.ax = 0x3600;
    r.dx = (uint16_t)drive;
    Int21(&r);
    return r.ax != 0xFFFF;
}

static uint16_t SavedOff, SavedSeg;

void CriticalErrorsFail(int on) {
    if (on) {
        SavedOff = PeekWord(0, 0x24 * 4);
        SavedSeg = PeekWord(0, 0x24 * 4 + 2);
        PokeWord(0, 0x24 * 4, (uint16_t)(uintptr_t)FailCriticalError);
        PokeWord(0, 0x24 * 4 + 2, DataSegment());
    } else {
        PokeWord(0, 0x24 * 4, SavedOff);
        PokeWord(0, 0x24 * 4 + 2, SavedSeg);
    }
}

/* The boot drive's volume found on a hard disk marks that disk: a stick
   that the BIOS presents as a hard disk holds A:, and a system started from
   a partition holds C:. When DOS says it started from a hard disk but the
   volume is not found there, the first hard disk is taken to be it. */
void MarkBootDisk(void) {
    struct TRegs r = {0};
    r.ax = 0x3305;
    Int21(&r);
    const unsigned boot = (r.dx & 0xFF) ? (r.dx & 0xFF) : 1;
    char every[MAX_DISKS];
    memset(every, 1, sizeof every);
    CriticalErrorsFail(1);
    const int found = DiskOfDrive(boot, every);
    CriticalErrorsFail(0);
    for (unsigned i = 0; i < DiskCount; ++i)
        if (found >= 0 ? (int)i == found : boot >= 3 && Disks[i].drive == 0x80) Disks[i].boot = 1;
}

static char LogOrder[27];

void ReportPlan(char named, const char* chosen) {
    char* const order = LogOrder;
    struct TRegs r = {0};
    r.ax = 0x3305;
    Int21(&r);
    const unsigned boot = (r.dx & 0xFF) ? (r.dx & 0xFF) : 1;

    CriticalErrorsFail(1);
    uint32_t usable = 0; /* bit n: drive n (1 = A:) may take the report */
    for (unsigned drive = 1; drive <= 26; ++drive)
        /* A: and B: are floppies, never on a hard disk. From C: on, the
           boot sector read tells whether a FAT drive is there (asking for
           its free space could scan a whole large FAT). */
        if (drive <= 2 ? FloppyExists(drive) : DiskOfDrive(drive, chosen) == -1)
            usable |= 1ul << drive;
    CriticalErrorsFail(0);

    unsigned n = 0;
    const unsigned named_ = named ? (unsigned)(named - 'A' + 1) : 0;
    for (unsigned pass = 0; pass < 3; ++pass)
        for (unsigned drive = 1; drive <= 26; ++drive) {
            const uint32_t bit = 1ul << drive;
            if (!(usable & bit) || (pass == 0 && drive != boot) || (pass == 1 && drive != named_))
                continue;
            usable &= ~bit;
            order[n++] = (char)('A' - 1 + drive);
        }
    order[n] = 0;
    DebugText("REPORT DRIVES ");
    DebugText(order);
    DebugText("\n");
}

/* --- writing the report ------------------------------------------------------ */

unsigned Dos(uint16_t ax, uint16_t bx, uint16_t cx, const void* dx, uint16_t* out) {
    struct TRegs r = {0};
    r.ax = ax;
    r.bx = bx;
    r.cx = cx;
    r.dx = (uint16_t)(uintptr_t)dx;
    const int failed = Int21(&r);
    if (out) *out = r.ax;
    return failed ? (r.ax ? r.ax : 0xFF) : 0;
}

/* Writes the report as X:\PURGnnnn.LOG, the first free number. Answers the
   DOS error, or 0; LogPlace says what happened. */
static unsigned WriteLogTo(char drive) {
    char path[20];
    unsigned error = 0, number = 1;
    uint16_t handle = 0;
    for (; number <= 9999; ++number) {
        struct TText t = {path, 0, sizeof path};
        TextChar(&t, drive);
        TextAdd(&t, ":\\PURG");
        TextNumberWidth(&t, number, 4, '0');
        TextAdd(&t, ".REC");
        /* The number is free when neither the report nor the record has it. */
        error = Dos(0x3D00, 0, 0, path, &handle);
        if (!error) {
            Dos(0x3E00, handle, 0, 0, 0);
            continue;
        }
        memcpy(path + t.length - 3, "LOG", 3);
        error = Dos(0x3D00, 0, 0, path, &handle);
        if (!error) {
            Dos(0x3E00, handle, 0, 0, 0);
            continue;
        }
        break;
    }
    if (error == 2 || error == 3) error = ReportSave(path);
    else if (!error) error = 0x50; /* every name taken */
    struct TText t = {LogPlace, 0, sizeof LogPlace};
    if (!error) {
        TextAdd(&t, "Report written to ");
        TextAdd(&t, path);
        memcpy(path + strlen(path) - 3, "REC", 3);
        const unsigned recorded = RecordSave(path);
        TextAdd(&t, recorded ? ", no record (DOS error " : ", record ");
        if (recorded) {
            TextNumber(&t, recorded);
            TextChar(&t, ')');
        } else {
            TextAdd(&t, path + 3);
        }
    } else {
        TextAdd(&t, "No report could be written to ");
        TextChar(&t, drive);
        TextAdd(&t, error == 5 || error == 0x13 ? ": (the drive is read-only, DOS error "
                                                : ": (DOS error ");
        TextNumber(&t, error);
        TextAdd(&t, ")");
    }
    return error;
}

/* The report on the first drive of LogOrder that takes it. */
void ReportWrite(void) {
    if (!LogOrder[0]) {
        struct TText t = {LogPlace, 0, sizeof LogPlace};
        TextAdd(&t, "No report could be written: no FAT drive outside the erased disks");
        return;
    }
    unsigned error = 0, i = 0;
    CriticalErrorsFail(1);
    for (; LogOrder[i]; ++i) {
        const unsigned e = WriteLogTo(LogOrder[i]);
        if (!e) break;
        if (!i) error = e;
    }
    CriticalErrorsFail(0);
    if (LogOrder[i]) return;
    if (!LogOrder[1]) return; /* LogPlace names the one drive and its error */
    struct TText t = {LogPlace, 0, sizeof LogPlace};
    TextAdd(&t, "No report could be written to ");
    for (unsigned i = 0; LogOrder[i] && t.length < 60; ++i) {
        if (i) TextAdd(&t, ", ");
        TextChar(&t, LogOrder[i]);
        TextChar(&t, ':');
    }
    TextAdd(&t, " (");
    TextChar(&t, LogOrder[0]);
    TextAdd(&t, ": DOS error ");
    TextNumber(&t, error);
    TextChar(&t, ')');
}

