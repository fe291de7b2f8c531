/* The UEFI side of the platform: start-up, the text console, keys, files
   of the start volume, the firmware's clock, a tick counter, buffers and
   the report. The parameters come from \EFI\BOOT\PURGIT.ARG beside the
   program, the wiper's files from \Purgit\ on the same volume. */
#include "../purgit/purgit.h"
#include "efi.h"

EFI_SYSTEM_TABLE* ST;
EFI_BOOT_SERVICES* BS;
EFI_HANDLE ImageHandle;
EFI_HANDLE StartDevice;
EFI_FILE_HANDLE StartRoot;
char CommandTail[128];
int Mouse; /* no pointer support: keys only */

int main(void);

void* memset(void* d, int c, unsigned n) {
    unsigned char* p = d;
    while (n--)
        *p++ = (unsigned char)c;
    return d;
}

/* Eight bytes at a time where both ends allow it: a random pass copies
   every megabyte it writes, and under emulation a byte loop cost as much
   as the generator. */
typedef uint64_t __attribute__((may_alias)) TWide;

void* memcpy(void* d, const void* s, unsigned n) {
    unsigned char* p = d;
    const unsigned char* q = s;
    if (!(((uintptr_t)p | (uintptr_t)q) & 7))
        for (; n >= 8; n -= 8, p += 8, q += 8)
            *(TWide*)p = *(const TWide*)q;
    while (n--)
        *p++ = *q++;
    return d;
}

int memcmp(const void* a, const void* b, unsigned n) {
    const unsigned char *p = a, *q = b;
    for (; n; --n, ++p, ++q)
        if (*p != *q) return *p - *q;
    return 0;
}

unsigned strlen(const char* s) {
    unsigned n = 0;
    while (s[n])
        ++n;
    return n;
}

void OutByte(uint16_t port, uint8_t v) {
    __asm__ volatile("outb %0, %1" : : "a"(v), "Nd"(port));
}

static uint64_t Cycles(void) {
    uint32_t low, high;
    __asm__ volatile("rdtsc" : "=a"(low), "=d"(high));
    return (uint64_t)high << 32 | low;
}

/* --- time ------------------------------------------------------------------ */

/* Ticks come from the time-stamp counter, measured against the firmware's
   Stall at start: a timer event would lose ticks while a disk driver keeps
   the task priority raised through a long transfer. The event counts only
   where the counter cannot be measured. */
static volatile uint32_t TickCount;
static uint64_t CyclesAtStart, CyclesPerTick;

static VOID EFIAPI Tick(EFI_EVENT event, VOID* context) {
    (void)event;
    (void)context;
    ++TickCount;
}

static void StartTicks(void) {
    EFI_EVENT timer;
    if (!EFI_ERROR(BS->CreateEvent(EVT_TIMER | EVT_NOTIFY_SIGNAL, TPL_CALLBACK, Tick, 0, &timer)))
        BS->SetTimer(timer, TimerPeriodic, 549254); /* 100 ns units: 18.2 a second */
    const uint64_t from = Cycles();
    BS->Stall(100000); /* 0.1 s */
    const uint64_t to = Cycles();
    CyclesPerTick = to > from ? (to - from) * 10000 / 18207 : 0; /* a tick is 1/18.2065 s */
    CyclesAtStart = to;
}

uint32_t Ticks(void) {
    if (!CyclesPerTick) return TickCount;
    return (uint32_t)((Cycles() - CyclesAtStart) / CyclesPerTick);
}

void ClockNow(unsigned v[6]) {
    EFI_TIME t;
    memset(&t, 0, sizeof t);
    ST->RuntimeServices->GetTime(&t, 0);
    v[0] = t.Year;
    v[1] = t.Month;
    v[2] = t.Day;
    v[3] = t.Hour;
    v[4] = t.Minute;
    v[5] = t.Second;
}

void Entropy(uint32_t e[4]) {
    EFI_TIME t;
    memset(&t, 0, sizeof t);
    ST->RuntimeServices->GetTime(&t, 0);
    const uint64_t c = Cycles();
    e[0] = (uint32_t)t.Hour << 24 | (uint32_t)t.Minute << 16 | (uint32_t)t.Second << 8 | t.Day;
    e[1] = t.Nanosecond ^ (uint32_t)t.Year << 16 ^ t.Month;
    e[2] = (uint32_t)c;
    e[3] = (uint32_t)(c >> 32) ^ Ticks() << 8;
}

/* --- text console -------------------------------------------------------------- */

/* What the pages want on the screen, and what the console shows. The
   console is brought up to date before the program waits for a key and
   otherwise at most four times a second, and then only in the cells that
   changed: the firmware's console may be slow (a serial terminal beside
   the screen; under emulation a redraw of the progress lines each timer
   tick costs more than the transfers). */
static uint16_t Wanted[25][80], Shown[25][80];
static uint32_t DrawnAt;
static int Dirty;

static void Put(const CHAR16* s) {
    ST->ConOut->OutputString(ST->ConOut, (CHAR16*)s);
}

void Print(const char* s) {
    CHAR16 line[2];
    line[1] = 0;
    for (; *s; ++s) {
        line[0] = (CHAR16)(unsigned char)*s;
        Put(line);
    }
    memset(Wanted, 0, sizeof Wanted);
    memset(Shown, 0, sizeof Shown);
}

static void Draw(void) {
    Dirty = 0;
    DrawnAt = Ticks();
    for (unsigned row = 0; row < 25; ++row) {
        /* The last cell of the screen is never written: that scrolls. */
        const unsigned width = row == 24 ? 79 : 80;
        unsigned i = 0;
        while (i < width) {
            if (Wanted[row][i] == Shown[row][i]) {
                ++i;
                continue;
            }
            /* One piece of one colour, to the last cell of it that changed. */
            const unsigned attribute = Wanted[row][i] >> 8;
            unsigned last = i;
            for (unsigned j = i; j < width && (unsigned)(Wanted[row][j] >> 8) == attribute; ++j)
                if (Wanted[row][j] != Shown[row][j]) last = j;
            CHAR16 piece[81];
            unsigned k = 0;
            for (unsigned j = i; j <= last; ++j) {
                piece[k++] = (CHAR16)(Wanted[row][j] & 0xFF);
                Shown[row][j] = Wanted[row][j];
            }
            piece[k] = 0;
            ST->ConOut->SetAttribute(ST->ConOut, attribute & 0x7F);
            ST->ConOut->SetCursorPosition(ST->ConOut, i, row);
            Put(piece);
            i = last + 1;
        }
    }
}

/* Draws what changed when a quarter of a second has passed since the last
   time. */
static void DrawSoon(void) {
    if (Dirty && Ticks() - DrawnAt >= 4) Draw();
}

void ScreenAt(unsigned row, unsigned column, uint8_t attribute, const char* s) {
    if (row >= 25) return;
    for (unsigned i = 0; s[i] && column + i < 80; ++i) {
        const uint16_t cell = (uint16_t)((uint8_t)s[i] | attribute << 8);
        if (Wanted[row][column + i] != cell) Dirty = 1;
        Wanted[row][column + i] = cell;
    }
    DrawSoon();
}

void ScreenCursor(unsigned row, unsigned column) {
    Draw();
    ST->ConOut->SetCursorPosition(ST->ConOut, column, row);
}

static int Interactive;

void ScreenSave(void) {
    Interactive = 1;
}

void ScreenRestore(void) {
    ST->ConOut->SetAttribute(ST->ConOut, EFI_LIGHTGRAY);
    ST->ConOut->ClearScreen(ST->ConOut);
    memset(Wanted, 0, sizeof Wanted);
    memset(Shown, 0, sizeof Shown);
}

void MouseStart(void) {}
void MouseHide(int hide) {
    (void)hide;
}
int MouseClick(unsigned* row, unsigned* column) {
    (void)row;
    (void)column;
    return 0;
}

/* --- keys ---------------------------------------------------------------------- */

static unsigned Waiting;

/* The firmware's keys as the PC BIOS gives them. */
static unsigned BiosKey(const EFI_INPUT_KEY* k) {
    switch (k->ScanCode) {
    case 0x01:
        return 0x4800; /* up */
    case 0x02:
        return 0x5000; /* down */
    case 0x0B:
        return 0x3B00; /* F1 */
    case 0x0C:
        return 0x3C00;
    case 0x0D:
        return 0x3D00;
    case 0x17:
        return 0x011B; /* Esc */
    default:
        break;
    }
    const unsigned c = k->UnicodeChar;
    if (c == 13) return 0x1C0D;
    if (c == 8) return 0x0E08;
    if (c == ' ') return 0x3920;
    if (c && c < 127) return c;
    return k->ScanCode ? (unsigned)k->ScanCode << 8 | 0x8000 : 0;
}

unsigned KeyPeek(void) {
    DrawSoon();
    while (!Waiting) {
        EFI_INPUT_KEY k;
        if (ST->ConIn->ReadKeyStroke(ST->ConIn, &k) != EFI_SUCCESS) return 0;
        Waiting = BiosKey(&k);
    }
    return Waiting;
}

unsigned KeyRead(void) {
    for (;;) {
        if (KeyPeek()) {
            const unsigned k = Waiting;
            Waiting = 0;
            return k;
        }
        Draw();
        UINTN index;
        BS->WaitForEvent(1, &ST->ConIn->WaitForKey, &index);
    }
}

/* --- files ---------------------------------------------------------------------- */

void WidePath(CHAR16* to, unsigned room, const char* path) {
    unsigned n = 0;
    const char* prefix = path[0] == '\\' ? "" : "\\Purgit\\";
    for (const char* s = prefix; *s && n + 1 < room; ++s)
        to[n++] = (CHAR16)*s;
    for (const char* s = path; *s && n + 1 < room; ++s)
        to[n++] = (CHAR16)(unsigned char)*s;
    to[n] = 0;
}

/* DOS's error numbers, as the messages and the report name them. */
static unsigned DosError(EFI_STATUS s) {
    if (s == EFI_NOT_FOUND) return 2;
    if (s == EFI_WRITE_PROTECTED || s == EFI_ACCESS_DENIED) return 5;
    if (s == EFI_VOLUME_FULL) return 0x27;
    return 0x1F; /* general failure */
}

unsigned ReadFile(const char* path, char* to, unsigned limit, unsigned* length) {
    *length = 0;
    if (!StartRoot) return 3;
    CHAR16 wide[64];
    WidePath(wide, 64, path);
    EFI_FILE_HANDLE f;
    EFI_STATUS s = StartRoot->Open(StartRoot, &f, wide, EFI_FILE_MODE_READ, 0);
    if (EFI_ERROR(s)) return DosError(s);
    unsigned total = 0, error = 0;
    while (total < limit) {
        UINTN n = limit - total;
        s = f->Read(f, &n, to + total);
        if (EFI_ERROR(s)) {
            error = DosError(s);
            break;
        }
        if (!n) break;
        total += (unsigned)n;
    }
    f->Close(f);
    *length = total;
    return error;
}

static EFI_FILE_HANDLE MethodFolder;

int MethodFile(int first, char name[13]) {
    if (first) {
        if (MethodFolder) MethodFolder->Close(MethodFolder);
        MethodFolder = 0;
        CHAR16 wide[32];
        WidePath(wide, 32, "METHODS");
        if (!StartRoot ||
            EFI_ERROR(StartRoot->Open(StartRoot, &MethodFolder, wide, EFI_FILE_MODE_READ, 0)))
            return 0;
    }
    if (!MethodFolder) return 0;
    static union {
        EFI_FILE_INFO info;
        uint8_t bytes[sizeof(EFI_FILE_INFO) + 256 * 2];
    } entry;
    for (;;) {
        UINTN n = sizeof entry;
        if (EFI_ERROR(MethodFolder->Read(MethodFolder, &n, &entry)) || !n) {
            MethodFolder->Close(MethodFolder);
            MethodFolder = 0;
            return 0;
        }
        if (entry.info.Attribute & EFI_FILE_DIRECTORY) continue;
        /* An 8.3 name ending in .MET, in capitals as DOS lists it. */
        const CHAR16* w = entry.info.FileName;
        unsigned k = 0;
        while (w[k] && k < 13)
            ++k;
        if (k < 5 || k > 12) continue;
        int ok = 1;
        for (unsigned i = 0; i < k; ++i) {
            CHAR16 c = w[i];
            if (c >= 'a' && c <= 'z') c = (CHAR16)(c - 32);
            if (c < 33 || c > 126) ok = 0;
            name[i] = (char)c;
        }
        name[k] = 0;
        if (ok && !memcmp(name + k - 4, ".MET", 4)) return 1;
    }
}

/* --- the report ---------------------------------------------------------------- */

/* On UEFI the report always goes to the start volume, which is never
   offered for erasing. */
void ReportPlan(char named, const char* chosen) {
    (void)named;
    (void)chosen;
    DebugText("REPORT DRIVES start volume\n");
}

/* The report and the record as the run makes them: no segment to fit in
   here, so plain arrays; what goes beyond one is lost, and a record that
   lost text is not written. */
#define KEPT_LIMIT 65536
static struct {
    char at[KEPT_LIMIT];
    unsigned length;
    int lost;
} Kept[2];

static void Keep(unsigned slot, const char* s, unsigned n) {
    if (n > KEPT_LIMIT - Kept[slot].length) {
        n = KEPT_LIMIT - Kept[slot].length;
        Kept[slot].lost = 1;
    }
    memcpy(Kept[slot].at + Kept[slot].length, s, n);
    Kept[slot].length += n;
}
void ReportClear(void) {
    Kept[0].length = 0;
    Kept[0].lost = 0;
}
void ReportBytes(const char* s, unsigned n) {
    Keep(0, s, n);
}
void RecordClear(void) {
    Kept[1].length = 0;
    Kept[1].lost = 0;
}
void RecordBytes(const char* s, unsigned n) {
    Keep(1, s, n);
}

/* Writes a new file on the start volume; nothing half written is left. */
static EFI_STATUS SaveFile(CHAR16* wide, unsigned slot) {
    EFI_FILE_HANDLE f = 0;
    EFI_STATUS s = StartRoot->Open(
        StartRoot, &f, wide, EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE | EFI_FILE_MODE_CREATE, 0);
    if (EFI_ERROR(s)) return s;
    UINTN n = Kept[slot].length;
    s = f->Write(f, &n, Kept[slot].at);
    if (!EFI_ERROR(s) && n != Kept[slot].length) s = EFI_VOLUME_FULL;
    if (!EFI_ERROR(s)) s = f->Flush(f);
    if (EFI_ERROR(s))
        f->Delete(f);
    else
        f->Close(f);
    return s;
}

/* Answers 1 when the start volume has the file. */
static int Exists(CHAR16* wide, EFI_STATUS* s) {
    EFI_FILE_HANDLE f = 0;
    *s = StartRoot->Open(StartRoot, &f, wide, EFI_FILE_MODE_READ, 0);
    if (EFI_ERROR(*s)) return 0;
    f->Close(f);
    return 1;
}

void ReportWrite(void) {
    struct TText place = {LogPlace, 0, sizeof LogPlace};
    char name[16];
    CHAR16 wide[20], record[20];
    EFI_STATUS s = EFI_NOT_FOUND;
    if (!StartRoot) {
        TextAdd(&place, "No report could be written: the start volume cannot be opened");
        return;
    }
    unsigned number = 1;
    for (; number <= 9999; ++number) {
        struct TText t = {name, 0, sizeof name};
        TextAdd(&t, "\\PURG");
        TextNumberWidth(&t, number, 4, '0');
        TextAdd(&t, ".REC");
        WidePath(record, 20, name);
        /* The number is free when neither the report nor the record has it. */
        if (Exists(record, &s)) continue;
        if (s != EFI_NOT_FOUND) break;
        memcpy(name + t.length - 3, "LOG", 3);
        WidePath(wide, 20, name);
        if (!Exists(wide, &s)) break;
    }
    if (s == EFI_NOT_FOUND)
        s = SaveFile(wide, 0);
    else if (!EFI_ERROR(s))
        s = EFI_VOLUME_FULL; /* every name taken */
    if (!EFI_ERROR(s)) {
        TextAdd(&place, "Report written to ");
        TextAdd(&place, name);
        TextAdd(&place, " on the start volume");
        const EFI_STATUS recorded = Kept[1].lost ? EFI_OUT_OF_RESOURCES : SaveFile(record, 1);
        if (EFI_ERROR(recorded)) {
            TextAdd(&place, ", no record (UEFI error ");
            TextNumber(&place, (uint32_t)(recorded & 0xFFFF));
            TextChar(&place, ')');
        } else {
            TextAdd(&place, ", record PURG");
            TextNumberWidth(&place, number, 4, '0');
            TextAdd(&place, ".REC");
        }
    } else {
        TextAdd(&place, "No report could be written to the start volume (");
        TextAdd(&place, DosError(s) == 5 ? "it is read-only, " : "");
        TextAdd(&place, "UEFI error ");
        TextNumber(&place, (uint32_t)(s & 0xFFFF));
        TextChar(&place, ')');
    }
}

/* --- the machine ------------------------------------------------------------- */

/* The SMBIOS 3 (64-bit) entry point where the firmware gives one, else the
   32-bit one; both name their table by its physical address, which is
   where it lies here. */
void FindMachine(void) {
    static const uint8_t Smbios3[16] = {0x44, 0x15, 0xfd, 0xf2, 0x94, 0x97, 0x2c, 0x4a,
                                        0x99, 0x2e, 0xe5, 0xbb, 0xcf, 0x20, 0xe3, 0x94};
    static const uint8_t Smbios[16] = {0x31, 0x2d, 0x9d, 0xeb, 0x88, 0x2d, 0xd3, 0x11,
                                       0x9a, 0x16, 0x00, 0x90, 0x27, 0x3f, 0xc1, 0x4d};
    struct TText t = {Machine.version, 0, sizeof Machine.version};
    for (unsigned pass = 0; pass < 2; ++pass)
        for (UINTN i = 0; i < ST->NumberOfTableEntries; ++i) {
            const EFI_CONFIGURATION_TABLE* c = &ST->ConfigurationTable[i];
            if (memcmp(&c->VendorGuid, pass ? Smbios : Smbios3, 16)) continue;
            const uint8_t* e = c->VendorTable;
            uint64_t address = 0;
            uint32_t length = 0;
            unsigned major, minor;
            if (!pass && !memcmp(e, "_SM3_", 5)) {
                major = e[7], minor = e[8];
                memcpy(&length, e + 0x0C, 4);
                memcpy(&address, e + 0x10, 8);
            } else if (pass && !memcmp(e, "_SM_", 4)) {
                major = e[6], minor = e[7];
                length = e[0x16] | (uint32_t)e[0x17] << 8;
                address =
                    (uint32_t)(e[0x18] | e[0x19] << 8 | e[0x1A] << 16 | (uint32_t)e[0x1B] << 24);
            } else {
                continue;
            }
            if (!address || !length) continue;
            TextNumber(&t, major);
            TextChar(&t, '.');
            TextNumber(&t, minor);
            MachineFromTable((const uint8_t*)(uintptr_t)address, length, major, minor);
            return;
        }
    TextAdd(&t, "none");
}

/* --- buffers ----------------------------------------------------------------- */

/* 1 MB each: requests that large let the disk, not the program, set the
   pace. */
#define BUFFER_SECTORS 2048

int PlatformBuffers(void) {
    EFI_PHYSICAL_ADDRESS a = 0;
    const UINTN pages = 2 * BUFFER_SECTORS * 512 / 4096;
    if (EFI_ERROR(BS->AllocatePages(AllocateAnyPages, EfiLoaderData, pages, &a))) return 1;
    WriteSeg = (TBuffer)(uintptr_t)a;
    ReadSeg = WriteSeg + BUFFER_SECTORS * 512;
    BufferSectors = ReadSectors = BUFFER_SECTORS;
    return 0;
}

void BufferPut(TBuffer b, TOffset off, const void* src, unsigned n) {
    memcpy(b + off, src, n);
}

void BufferCopy(TBuffer to, TBuffer from, TOffset off, unsigned n) {
    memcpy(to + off, from + off, n);
}

/* Doubling copies: a few large memcpy calls instead of one per piece. */
void BufferRepeat(TBuffer b, unsigned length, unsigned total) {
    for (unsigned have = length; have < total; have *= 2)
        memcpy(b + have, b, total - have < have ? total - have : have);
}

void BufferInvert(TBuffer b, unsigned n) {
    for (uint64_t* p = (uint64_t*)b; n >= 8; n -= 8, ++p) *p = ~*p;
}

int BufferEqual(TBuffer a, TBuffer b, TOffset off, unsigned n) {
    const uint64_t* p = (const uint64_t*)(a + off);
    const uint64_t* q = (const uint64_t*)(b + off);
    unsigned i = 0;
    for (; i + 8 <= n; i += 8)
        if (*p++ != *q++) return 0;
    return !memcmp(a + off + i, b + off + i, n - i);
}

/* --- start ------------------------------------------------------------------- */

/* \EFI\BOOT\PURGIT.ARG: one line, the parameters; none when it is missing. */
static void ReadArguments(void) {
    unsigned n = 0;
    if (ReadFile("\\EFI\\BOOT\\PURGIT.ARG", CommandTail, sizeof CommandTail - 2, &n)) n = 0;
    unsigned k = 0;
    while (k < n && CommandTail[k] != '\r' && CommandTail[k] != '\n')
        ++k;
    /* The command line as DOS gives it: a blank before the parameters. */
    for (unsigned i = k; i > 0; --i)
        CommandTail[i] = CommandTail[i - 1];
    CommandTail[0] = ' ';
    CommandTail[k + 1] = 0;
}

/* /OFF: switch the machine off once an unattended run has ended. */
static int PowerOffAsked(void) {
    for (const char* p = CommandTail; *p; ++p)
        if (p[0] == '/' && (p[1] | 32) == 'o' && (p[2] | 32) == 'f' && (p[3] | 32) == 'f' &&
            (p[4] == 0 || p[4] == ' ' || p[4] == '\t'))
            return 1;
    return 0;
}

EFI_STATUS EFIAPI efi_main(EFI_HANDLE image, EFI_SYSTEM_TABLE* table) {
    ImageHandle = image;
    ST = table;
    BS = table->BootServices;
    BS->SetWatchdogTimer(0, 0, 0, 0); /* an erase takes longer than 5 minutes */

    EFI_GUID loadedGuid = LOADED_IMAGE_PROTOCOL, fsGuid = SIMPLE_FILE_SYSTEM_PROTOCOL;
    EFI_LOADED_IMAGE* loaded = 0;
    if (!EFI_ERROR(BS->HandleProtocol(image, &loadedGuid, (VOID**)&loaded)) && loaded) {
        StartDevice = loaded->DeviceHandle;
        EFI_FILE_IO_INTERFACE* fs = 0;
        if (!EFI_ERROR(BS->HandleProtocol(StartDevice, &fsGuid, (VOID**)&fs)) && fs)
            if (EFI_ERROR(fs->OpenVolume(fs, &StartRoot))) StartRoot = 0;
    }

    StartTicks();

    ST->ConOut->SetMode(ST->ConOut, 0); /* 80 x 25 */
    ST->ConOut->EnableCursor(ST->ConOut, FALSE);
    ST->ConOut->SetAttribute(ST->ConOut, EFI_LIGHTGRAY);
    ST->ConOut->ClearScreen(ST->ConOut);
    ReadArguments();

    const int code = main();
    /* main leaves without the pages when a run was unattended or could not
       start: its summary or message stays until a key, unless /OFF. */
    if (!Interactive) {
        if (PowerOffAsked() && (code == 0 || code == 3)) {
            DebugText("POWER OFF\n");
            ST->RuntimeServices->ResetSystem(EfiResetShutdown, EFI_SUCCESS, 0, 0);
        }
        ScreenKeys(" Any key  leave the program");
        DebugText("WAITING\n");
        KeyRead();
    }
    ScreenRestore();
    return code ? EFI_ABORTED : EFI_SUCCESS;
}
