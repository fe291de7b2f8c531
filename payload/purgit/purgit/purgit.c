/* PURGIT, first version: reads DATA\PURGIT.INI and the command line, shows
   the start screen with the options, the parameters and the hard disks the
   BIOS reports, and exits. It only reads: no disk is ever written. */
#include "dos.h"

#define OPTION_COUNT 11
#define INI_PATH "DATA\\PURGIT.INI"
#define INI_LIMIT 2048 /* the real file is 68 bytes; anything near this is not ours */

enum { EXIT_OK = 0, EXIT_NO_INI = 1, EXIT_BAD_INI = 2 };

static const char* const Captions[OPTION_COUNT] = {
    "Verify purgiting",
    "Purgit drive from back to front",
    "Perform a last purgit with zeroes",
    "Generate purgiting log (report) file",
    "Use Department of Defense log style for generated log file",
    "Allow the purgiting process to be interrupted or paused",
    "Purgit without requiring user intervention",
    "Automatically pause after a purgit pass ends",
    "Use ISAAC pseudo-random number generating algorithm",
    "Create partition after purgiting the drive",
    "Enable DMA/UDMA transfer mode for IDE/ATA drives",
};
static const char Defaults[OPTION_COUNT] = {1, 0, 0, 1, 1, 1, 0, 0, 1, 0, 1};

static char Values[OPTION_COUNT];
static char Given[OPTION_COUNT];
static char IniText[INI_LIMIT + 1];

/* --- output ------------------------------------------------------------- */

static void Put(const char* s) {
    unsigned n = 0;
    while (s[n]) ++n;
    struct TRegs r = {0};
    r.ax = 0x4000;
    r.bx = 1;
    r.cx = n;
    r.dx = (uint16_t)(uintptr_t)s;
    Int21(&r);
}

static void PutUnsigned(uint32_t v) {
    char digits[11];
    char* p = digits + sizeof digits - 1;
    *p = 0;
    do {
        *--p = (char)('0' + v % 10);
        v /= 10;
    } while (v);
    Put(p);
}

static void PutHex8(unsigned v) {
    char s[3] = {"0123456789ABCDEF"[(v >> 4) & 15], "0123456789ABCDEF"[v & 15], 0};
    Put(s);
}

static void PutPadded(const char* s, unsigned width) {
    unsigned n = 0;
    while (s[n]) ++n;
    Put(s);
    while (n++ < width) Put(" ");
}

/* --- the INI file --------------------------------------------------------- */

/* Reads the whole file into IniText; answers the DOS error code, or 0. */
static unsigned ReadIni(unsigned* length) {
    struct TRegs r = {0};
    r.ax = 0x3D00; /* open for reading */
    r.dx = (uint16_t)(uintptr_t)INI_PATH;
    if (Int21(&r)) return r.ax;
    const uint16_t handle = r.ax;
    unsigned total = 0, error = 0;
    /* One byte more than the limit tells an oversized file apart. */
    while (total <= INI_LIMIT) {
        r = (struct TRegs){0};
        r.ax = 0x3F00;
        r.bx = handle;
        r.cx = INI_LIMIT + 1 - total;
        r.dx = (uint16_t)(uintptr_t)(IniText + total);
        if (Int21(&r)) {
            error = r.ax;
            break;
        }
        if (r.ax == 0) break;
        total += r.ax;
    }
    r = (struct TRegs){0};
    r.ax = 0x3E00;
    r.bx = handle;
    Int21(&r);
    *length = total;
    return error;
}

static int IsBlank(char c) { return c == ' ' || c == '\t'; }

/* Parses "On=v" lines; other keys are left to later versions and ignored.
   Answers 0, or the 1-based number of the first malformed line. */
static unsigned ParseIni(unsigned length, const char** why) {
    unsigned line = 0, at = 0;
    if (length > INI_LIMIT) {
        *why = "the file is too large";
        return 1;
    }
    while (at < length) {
        ++line;
        unsigned end = at;
        while (end < length && IniText[end] != '\n') ++end;
        unsigned stop = end;
        if (stop > at && IniText[stop - 1] == '\r') --stop;
        unsigned s = at;
        while (s < stop && IsBlank(IniText[s])) ++s;
        while (stop > s && IsBlank(IniText[stop - 1])) --stop;
        at = end + 1;
        if (s == stop || IniText[s] == ';') continue;
        unsigned eq = s;
        while (eq < stop && IniText[eq] != '=') ++eq;
        for (unsigned i = s; i < stop; ++i)
            if ((unsigned char)IniText[i] < 32 && IniText[i] != '\t') {
                *why = "it holds control characters";
                return line;
            }
        if (eq == stop || eq == s) {
            *why = "it is not of the form NAME=VALUE";
            return line;
        }
        unsigned keyEnd = eq;
        while (keyEnd > s && IsBlank(IniText[keyEnd - 1])) --keyEnd;
        unsigned v = eq + 1;
        while (v < stop && IsBlank(IniText[v])) ++v;
        if ((IniText[s] != 'O' && IniText[s] != 'o') || keyEnd - s < 2 || keyEnd - s > 3)
            continue;
        unsigned n = 0, k;
        for (k = s + 1; k < keyEnd && IniText[k] >= '0' && IniText[k] <= '9'; ++k)
            n = n * 10 + (unsigned)(IniText[k] - '0');
        if (k != keyEnd || IniText[s + 1] == '0' || n < 1 || n > OPTION_COUNT) continue;
        if (stop - v != 1 || (IniText[v] != '0' && IniText[v] != '1')) {
            *why = "an option value must be 0 or 1";
            return line;
        }
        Values[n - 1] = (char)(IniText[v] - '0');
        Given[n - 1] = 1;
    }
    return 0;
}

/* --- hard disks ----------------------------------------------------------- */

static void ShowDisk(unsigned index, uint8_t drive) {
    struct TRegs r = {0};
    uint32_t cylinders = 0, heads = 0, sectors = 0;
    r.ax = 0x0800;
    r.dx = drive;
    if (!Int13(&r)) {
        cylinders = (((uint32_t)(r.cx & 0xC0) << 2) | (r.cx >> 8)) + 1;
        heads = (uint32_t)(r.dx >> 8) + 1;
        sectors = r.cx & 0x3F;
    }

    /* AH=15h: type 3 is a hard disk, CX:DX its sector count (CHS-limited). */
    uint32_t total = 0;
    r = (struct TRegs){0};
    r.ax = 0x1500;
    r.dx = drive;
    if (!Int13(&r) && (r.ax >> 8) == 3) total = ((uint32_t)r.cx << 16) | r.dx;

    /* Extended services (AH=41h, then AH=48h) reach past 8 GB. */
    int lba = 0;
    uint16_t sectorBytes = 512;
    r = (struct TRegs){0};
    r.ax = 0x4100;
    r.bx = 0x55AA;
    r.dx = drive;
    if (!Int13(&r) && r.bx == 0xAA55 && (r.cx & 1)) {
        static uint8_t params[0x1E];
        memset(params, 0, sizeof params);
        params[0] = 0x1A;
        r = (struct TRegs){0};
        r.ax = 0x4800;
        r.dx = drive;
        r.si = (uint16_t)(uintptr_t)params;
        if (!Int13(&r)) {
            const uint32_t low = params[16] | (uint32_t)params[17] << 8 |
                                 (uint32_t)params[18] << 16 | (uint32_t)params[19] << 24;
            const uint32_t high = params[20] | (uint32_t)params[21] << 8 |
                                  (uint32_t)params[22] << 16 | (uint32_t)params[23] << 24;
            const uint16_t bytes = (uint16_t)(params[24] | params[25] << 8);
            if (low || high) {
                lba = 1;
                /* Beyond 2^32 sectors (2 TB) we show the count capped. */
                total = high ? 0xFFFFFFFFul : low;
                if (bytes) sectorBytes = bytes;
            }
        }
    }
    if (!total) total = cylinders * heads * sectors;

    Put("  Disk ");
    PutUnsigned(index);
    Put(" (");
    PutHex8(drive);
    Put("h): ");
    /* Megabytes from sectors without 64-bit division. */
    const uint32_t perMb = (uint32_t)(1048576ul / sectorBytes);
    PutUnsigned(perMb ? total / perMb : 0);
    Put(" MB, ");
    PutUnsigned(total);
    Put(" sectors of ");
    PutUnsigned(sectorBytes);
    Put(" bytes, CHS ");
    PutUnsigned(cylinders);
    Put("/");
    PutUnsigned(heads);
    Put("/");
    PutUnsigned(sectors);
    Put(lba ? ", LBA\r\n" : "\r\n");
}

static void ShowDisks(void) {
    struct TRegs r = {0};
    r.ax = 0x0800;
    r.dx = 0x80;
    unsigned count = 0;
    if (!Int13(&r)) count = r.dx & 0xFF;
    if (count > 8) count = 8; /* room on the screen; no BIOS reports more */
    Put("Hard disks reported by the BIOS: ");
    PutUnsigned(count);
    Put(count ? "\r\n" : " (none)\r\n");
    for (unsigned i = 0; i < count; ++i) ShowDisk(i + 1, (uint8_t)(0x80 + i));
}

/* --- wipe methods ------------------------------------------------------- */

static unsigned CountMethods(void) {
    static uint8_t dta[128];
    struct TRegs r = {0};
    r.ax = 0x1A00;
    r.dx = (uint16_t)(uintptr_t)dta;
    Int21(&r);
    unsigned n = 0;
    r = (struct TRegs){0};
    r.ax = 0x4E00;
    r.cx = 0; /* ordinary files */
    r.dx = (uint16_t)(uintptr_t) "METHODS\\*.MET";
    while (!Int21(&r) && n < 1000) {
        ++n;
        r = (struct TRegs){0};
        r.ax = 0x4F00;
    }
    return n;
}

/* --- the start screen --------------------------------------------------- */

static void ShowParameters(void) {
    const char* p = CommandTail;
    while (*p == ' ' || *p == '\t') ++p;
    char* end = CommandTail;
    while (*end && *end != '\r') ++end;
    *end = 0;
    while (end > p && (end[-1] == ' ' || end[-1] == '\t')) *--end = 0;
    Put("Parameters: ");
    Put(*p ? p : "none");
    Put("\r\n");
}

int main(void) {
    Put("Corvane Purgex 2005 - start screen; this version erases nothing\r\n");

    unsigned length = 0;
    const unsigned error = ReadIni(&length);
    if (error) {
        Put("PURGIT: cannot read " INI_PATH " (DOS error ");
        PutUnsigned(error);
        Put(").\r\nPURGIT: start it from its own folder: cd \\Purgit, then Purgit.\r\n");
        return EXIT_NO_INI;
    }
    memcpy(Values, Defaults, sizeof Values);
    const char* why = "";
    const unsigned bad = ParseIni(length, &why);
    if (bad) {
        Put("PURGIT: " INI_PATH " line ");
        PutUnsigned(bad);
        Put(" is malformed: ");
        Put(why);
        Put(".\r\n");
        return EXIT_BAD_INI;
    }

    Put("Options from " INI_PATH ":\r\n");
    for (unsigned i = 0; i < OPTION_COUNT; ++i) {
        char key[6] = {' ', ' ', 'O', 0, 0, 0};
        if (i + 1 >= 10) {
            key[3] = '1';
            key[4] = (char)('0' + (i + 1) % 10);
        } else {
            key[3] = (char)('1' + i);
        }
        PutPadded(key, 7);
        PutPadded(Captions[i], 59);
        Put(Values[i] ? "on " : "off");
        Put(Given[i] ? "\r\n" : " (default)\r\n");
    }
    ShowParameters();
    ShowDisks();
    Put("Wipe methods found: ");
    PutUnsigned(CountMethods());
    Put(" (METHODS\\*.MET)\r\n");
    return EXIT_OK;
}
