/* PURGIT: erases hard disks. Reads DATA\PURGIT.INI and the command line,
   finds the disks through the BIOS, lets the user choose disks and a wipe
   method (or takes them from the parameters when option 7 is on), asks for
   the confirmation, erases, and writes a report. */
#include "purgit.h"
#include "image/WiperOptionsTable.h"

#define INI_PATH "DATA\\PURGIT.INI"
#define INI_LIMIT 2048 /* the real file is 68 bytes; anything near this is not ours */

enum {
    EXIT_OK = 0, EXIT_NO_INI = 1, EXIT_BAD_INI = 2, EXIT_ERRORS = 3, EXIT_BAD_PARAMETERS = 4,
    EXIT_NO_MEMORY = 5
};

/* Captions and defaults: the table shared with the wizard, image/WiperOptions.tsv. */
_Static_assert(WIPER_OPTION_COUNT == OPTION_COUNT, "the table's options are the wiper's");
static const char* const Captions[OPTION_COUNT] = {WIPER_OPTION_CAPTIONS};
static const char Defaults[OPTION_COUNT] = {WIPER_OPTION_DEFAULTS};

char Options[OPTION_COUNT];
int Trace;
#define Values Options
static char Given[OPTION_COUNT];
/* The INI, then the method files and text pages, one at a time. */
char ScratchText[SCRATCH_LIMIT + 1];
#define IniText ScratchText

/* --- output through DOS (messages before the screen is ours) ------------------- */

static void Put(const char* s) {
    struct TRegs r = {0};
    r.ax = 0x4000;
    r.bx = 1;
    r.cx = (uint16_t)strlen(s);
    r.dx = (uint16_t)(uintptr_t)s;
    Int21(&r);
}

static void PutUnsigned(uint32_t v) {
    char digits[12];
    struct TText t = {digits, 0, sizeof digits};
    TextNumber(&t, v);
    Put(digits);
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

/* --- parameters ------------------------------------------------------------- */

static char Parameters[128];   /* as given, for the start page */
static char MethodParameter[13];
static char Chosen[MAX_DISKS];
static int AllDisks, LogDrive;  /* LogDrive: 'A'.. from /L:, or 0 */
static char ParameterFault[80];

static int Upper(int c) { return c >= 'a' && c <= 'z' ? c - 32 : c; }

static void Fault(const char* what, const char* token, unsigned n) {
    if (ParameterFault[0]) return;
    struct TText t = {ParameterFault, 0, sizeof ParameterFault};
    TextAdd(&t, what);
    TextAdd(&t, ": ");
    for (unsigned i = 0; i < n && i < 20; ++i) TextChar(&t, token[i]);
}

static void ReadParameters(void) {
    char* end = CommandTail;
    while (*end && *end != '\r') ++end;
    *end = 0;
    const char* p = CommandTail;
    while (*p == ' ' || *p == '\t') ++p;
    memcpy(Parameters, p, strlen(p) + 1);
    unsigned n = strlen(Parameters);
    while (n && (Parameters[n - 1] == ' ' || Parameters[n - 1] == '\t')) Parameters[--n] = 0;
    while (*p) {
        while (*p == ' ' || *p == '\t') ++p;
        const char* s = p;
        while (*p && *p != ' ' && *p != '\t') ++p;
        const unsigned k = (unsigned)(p - s);
        if (k < 2 || s[0] != '/') continue; /* shown on the start page, otherwise ignored */
        const int key = Upper(s[1]);
        if (key == 'M' && k > 3 && s[2] == ':') {
            if (k - 3 > 8) {
                Fault("Method name too long", s, k);
                continue;
            }
            unsigned i = 0;
            for (; i < k - 3; ++i) MethodParameter[i] = (char)Upper(s[3 + i]);
            memcpy(MethodParameter + i, ".MET", 5);
        } else if (key == 'D' && k > 3 && s[2] == ':') {
            unsigned v = 0, i = 3;
            for (; i < k && s[i] >= '0' && s[i] <= '9' && v < 100; ++i) v = v * 10 + (unsigned)(s[i] - '0');
            if (i != k || v < 1 || v > MAX_DISKS) Fault("No such disk", s, k);
            else Chosen[v - 1] = 1;
        } else if (k == 4 && Upper(s[1]) == 'A' && Upper(s[2]) == 'L' && Upper(s[3]) == 'L') {
            AllDisks = 1;
        } else if (k == 6 && Upper(s[1]) == 'T' && Upper(s[2]) == 'R' && Upper(s[3]) == 'A' &&
                   Upper(s[4]) == 'C' && Upper(s[5]) == 'E') {
            Trace = 1;
        } else if (key == 'L' && k == 4 && s[2] == ':') {
            const int drive = Upper(s[3]);
            if (drive < 'A' || drive > 'Z') Fault("No such drive", s, k);
            else LogDrive = drive;
        } else if (key == 'O' && k >= 5 && s[k - 2] == '=') {
            unsigned v = 0, i = 2;
            for (; i < k - 2 && s[i] >= '0' && s[i] <= '9'; ++i) v = v * 10 + (unsigned)(s[i] - '0');
            const char value = s[k - 1];
            if (i != k - 2 || s[2] == '0' || v < 1 || v > OPTION_COUNT || (value != '0' && value != '1'))
                Fault("Option not understood", s, k);
            else
                Options[v - 1] = (char)(value - '0');
        }
    }
}

static const char* ShowTextFile(const char* path, unsigned row, unsigned last);

/* --- mouse -------------------------------------------------------------------- */

static int Mouse;

static void MouseStart(void) {
    if (!PeekWord(0, 0x33 * 4) && !PeekWord(0, 0x33 * 4 + 2)) return;
    struct TRegs r = {0};
    Int33(&r);
    if (r.ax != 0xFFFF) return;
    Mouse = 1;
    r = (struct TRegs){0};
    r.ax = 1;
    Int33(&r);
}

static void MouseHide(int hide) {
    if (!Mouse) return;
    struct TRegs r = {0};
    r.ax = hide ? 2 : 1;
    Int33(&r);
}

/* A left-button press since the last call: its text row and column. */
static int MouseClick(unsigned* row, unsigned* column) {
    if (!Mouse) return 0;
    struct TRegs r = {0};
    r.ax = 5;
    r.bx = 0;
    Int33(&r);
    if (!r.bx) return 0;
    *row = r.dx / 8;
    *column = r.cx / 8;
    return 1;
}

/* The key of the key bar entry at a column: entries are separated by three
   blanks and start with the key's name. */
static unsigned BarKey(unsigned column) {
    const char* bar = KeysShown;
    if (!bar || column >= strlen(bar)) return 0;
    unsigned start = column;
    while (start > 0 && !(start >= 3 && !memcmp(bar + start - 3, "   ", 3))) --start;
    while (bar[start] == ' ') ++start;
    const char* k = bar + start;
    if (!memcmp(k, "Enter", 5)) return 0x1C0D;
    if (!memcmp(k, "Esc", 3)) return 0x011B;
    if (!memcmp(k, "Space", 5)) return 0x3920;
    if (!memcmp(k, "F1", 2)) return 0x3B00;
    if (!memcmp(k, "F3", 2)) return 0x3D00;
    if (k[0] == 'A' && k[1] == ' ') return 0x1E61;
    return 0;
}

/* The next key, or a mouse click (answered as 0x10000 | row << 8 | column);
   a click on the key bar answers that key. */
static unsigned Input(void) {
    for (;;) {
        if (KeyPeek()) return KeyRead();
        unsigned row, column;
        if (MouseClick(&row, &column)) {
            if (row == 24) {
                const unsigned key = BarKey(column);
                if (key) return key;
                continue;
            }
            return 0x10000u | row << 8 | column;
        }
    }
}

/* KEYS.TXT until a key. */
static void HelpPage(void) {
    MouseHide(1);
    ScreenClear(A_NORMAL);
    ScreenTitle("keys");
    ShowTextFile("DATA\\KEYS.TXT", 1, 23);
    ScreenKeys(" Esc  back");
    MouseHide(0);
    Input();
}

enum { K_ENTER = 0x0D, K_ESC = 0x1B, K_SPACE = 0x20 };
#define SCAN(k) (((k) >> 8) & 0xFF)
#define CHAR(k) ((k) & 0xFF)
#define CLICK(k) ((k) & 0x10000u)
#define CLICK_ROW(k) (((k) >> 8) & 0xFF)

/* --- pages ---------------------------------------------------------------------- */

static char LineBuffer[100];

static struct TText NewLine(void) {
    struct TText t = {LineBuffer, 0, sizeof LineBuffer};
    LineBuffer[0] = 0;
    return t;
}

static const char* ShowTextFile(const char* path, unsigned row, unsigned last) {
    char* text = IniText; /* the INI has been read by now */
    struct TRegs r = {0};
    r.ax = 0x3D00;
    r.dx = (uint16_t)(uintptr_t)path;
    if (Int21(&r)) return 0;
    const uint16_t handle = r.ax;
    r = (struct TRegs){0};
    r.ax = 0x3F00;
    r.bx = handle;
    r.cx = INI_LIMIT;
    r.dx = (uint16_t)(uintptr_t)text;
    unsigned n = Int21(&r) ? 0 : r.ax;
    text[n] = 0;
    r = (struct TRegs){0};
    r.ax = 0x3E00;
    r.bx = handle;
    Int21(&r);
    char* s = text;
    while (*s && row <= last) {
        char* e = s;
        while (*e && *e != '\n') ++e;
        const char keep = *e;
        *e = 0;
        if (e > s && e[-1] == '\r') e[-1] = 0;
        ScreenLine(row++, A_NORMAL, s);
        if (!keep) break;
        s = e + 1;
    }
    return text;
}

static void StartPage(const char* note) {
    MouseHide(1);
    ScreenClear(A_NORMAL);
    ScreenTitle("start screen");
    unsigned row = 2;
    ScreenLine(1, A_NORMAL, "Options from " INI_PATH " and the parameters:");
    for (unsigned i = 0; i < OPTION_COUNT; ++i) {
        struct TText t = NewLine();
        TextAdd(&t, "  O");
        TextNumber(&t, i + 1);
        TextPad(&t, 7);
        TextAdd(&t, Captions[i]);
        TextPad(&t, 66);
        TextAdd(&t, Options[i] ? "on " : "off");
        if (!Given[i]) TextAdd(&t, " (default)");
        ScreenLine(row++, A_NORMAL, LineBuffer);
    }
    struct TText t = NewLine();
    TextAdd(&t, "Parameters: ");
    TextAdd(&t, Parameters[0] ? Parameters : "none");
    ScreenLine(row++, A_NORMAL, LineBuffer);
    t = NewLine();
    TextAdd(&t, "Hard disks reported by the BIOS: ");
    TextNumber(&t, DiskCount);
    if (!DiskCount) TextAdd(&t, " (none)");
    ScreenLine(row++, A_NORMAL, LineBuffer);
    for (unsigned i = 0; i < DiskCount && row < 21; ++i) {
        t = NewLine();
        TextAdd(&t, "  ");
        TextDisk(&t, i);
        if (Disks[i].boot) TextAdd(&t, " - system disk, not offered");
        else if (Disks[i].unusable) TextAdd(&t, " - sectors not of 512 bytes, not offered");
        else if (Options[O_DMA]) {
            TextAdd(&t, " - ");
            TextPath(&t, &Disks[i], 0);
        }
        ScreenLine(row++, A_NORMAL, LineBuffer);
    }
    t = NewLine();
    TextAdd(&t, "Wipe methods found: ");
    TextNumber(&t, MethodCount);
    TextAdd(&t, " (METHODS\\*.MET)");
    ScreenLine(row++, A_NORMAL, LineBuffer);
    ScreenLine(row++, A_NORMAL, Mouse ? "Mouse: driver found" : "Mouse: none (keys only)");
    if (note) ScreenLine(22, A_WARN, note);
    ScreenKeys(" Enter  choose disks   F1  keys   Esc  leave the program");
    MouseHide(0);
}

/* A list with a highlight; several entries may be marked when marks is
   given. Answers the highlighted entry, or -1 for Esc. */
static int ListPage(const char* title, const char* heading, unsigned count,
                    void (*entry)(struct TText*, unsigned), char* marks, const char* keys) {
    int at = 0;
    for (;;) {
        MouseHide(1);
        ScreenClear(A_NORMAL);
        ScreenTitle(title);
        ScreenLine(2, A_NORMAL, heading);
        for (unsigned i = 0; i < count && i < 18; ++i) {
            struct TText t = NewLine();
            TextAdd(&t, "  ");
            if (marks) TextAdd(&t, marks[i] ? "[X] " : "[ ] ");
            entry(&t, i);
            ScreenLine(4 + i, (int)i == at ? A_SELECT : A_NORMAL, LineBuffer);
        }
        ScreenKeys(keys);
        MouseHide(0);
        const unsigned key = Input();
        if (CLICK(key)) {
            /* A click moves to a line; a click on the current line marks or
               chooses it. */
            const unsigned row = CLICK_ROW(key);
            if (row >= 4 && row - 4 < count) {
                if ((int)(row - 4) != at) at = (int)(row - 4);
                else if (marks) marks[at] = !marks[at];
                else return at;
            }
            continue;
        }
        if (CHAR(key) == K_ESC) return -1;
        if (CHAR(key) == K_ENTER) return at;
        if (SCAN(key) == 0x3B) HelpPage();
        if (SCAN(key) == 0x3C) return -2; /* F2: the options, on the start page */
        if (SCAN(key) == 0x3D && !marks) continue;
        if (SCAN(key) == 0x3D) return -3; /* F3: on to the methods */
        if ((CHAR(key) == 'a' || CHAR(key) == 'A') && marks)
            for (unsigned i = 0; i < count; ++i) marks[i] = 1;
        if (CHAR(key) == K_SPACE && marks) marks[at] = !marks[at];
        if (SCAN(key) == 0x48 && at > 0) --at;
        if (SCAN(key) == 0x50 && at + 1 < (int)count) ++at;
    }
}

static void DiskEntry(struct TText* t, unsigned i) {
    TextDisk(t, i);
    if (Disks[i].boot) TextAdd(t, " (system disk)");
    else if (Disks[i].unusable) TextAdd(t, " (sectors not of 512 bytes)");
}

static void MethodEntry(struct TText* t, unsigned i) {
    TextAdd(t, MethodList[i].file);
    TextPad(t, 20);
    TextAdd(t, MethodList[i].name);
    TextPad(t, 70);
    TextNumber(t, MethodList[i].passes);
}

/* Answers 1 when ERASE was typed, 0 for anything else. */
static int WarningPage(const struct TMethod* m) {
    MouseHide(1);
    ScreenClear(A_NORMAL);
    ScreenTitle("about to erase");
    unsigned row = 1;
    for (unsigned i = 0; i < DiskCount && row < 5; ++i)
        if (Chosen[i]) {
            struct TText t = NewLine();
            TextAdd(&t, "  ");
            TextDisk(&t, i);
            ScreenLine(row++, A_TITLE, LineBuffer);
        }
    struct TText t = NewLine();
    TextAdd(&t, "  Method: ");
    TextAdd(&t, m->name);
    ScreenLine(row++, A_TITLE, LineBuffer);
    ShowTextFile("DATA\\WARNING.TXT", row, 21);
    ScreenLine(23, A_WARN, " Type ERASE and press Enter: ");
    ScreenKeys(" Esc  back, nothing is written");
    MouseHide(0);
    char typed[8];
    unsigned n = 0;
    for (;;) {
        typed[n] = 0;
        ScreenAt(23, 29, A_WARN, "          ");
        ScreenAt(23, 29, A_WARN, typed);
        ScreenCursor(23, 29 + n);
        const unsigned key = Input();
        if (CLICK(key)) continue;
        const unsigned c = CHAR(key);
        if (c == K_ESC) return 0;
        if (c == K_ENTER) return n == 5 && !memcmp(typed, "ERASE", 5);
        if (c == 8) {
            if (n) --n;
        } else if (c >= 32 && c < 127 && n < 7) {
            typed[n++] = (char)c;
        }
    }
}

/* --- the report -------------------------------------------------------------- */

/* The report grows outside our segment, a line buffer at a time. */
static struct TFarText LogStore;
static void LogFlush(struct TText* t) {
    FarTextAdd(&LogStore, t->at, t->length);
    t->length = 0;
}
static char LogBuffer[64];
static struct TText Log = {LogBuffer, 0, sizeof LogBuffer};
static struct TResult Results[MAX_DISKS];
static char LogPlace[80];

void TextNow(struct TText* t) {
    struct TRegs r = {0};
    r.ax = 0x2A00;
    Int21(&r);
    TextNumber(t, r.cx);
    TextChar(t, '-');
    TextNumberWidth(t, r.dx >> 8, 2, '0');
    TextChar(t, '-');
    TextNumberWidth(t, r.dx & 0xFF, 2, '0');
    r = (struct TRegs){0};
    r.ax = 0x2C00;
    Int21(&r);
    TextChar(t, ' ');
    TextNumberWidth(t, r.cx >> 8, 2, '0');
    TextChar(t, ':');
    TextNumberWidth(t, r.cx & 0xFF, 2, '0');
    TextChar(t, ':');
    TextNumberWidth(t, r.dx >> 8, 2, '0');
}

static void Throughput(struct TText* t, const struct TResult* r, const struct TDisk* d) {
    const uint32_t kbps =
        r->ticks ? Div64((uint64_t)r->sectorsMoved * 91, r->ticks * 10) : 0;
    TextTenths(t, kbps * 10 / 1024);
    TextAdd(t, " MB/s (");
    TextNumber(t, r->sectorsMoved);
    TextAdd(t, " sectors written and read in ");
    TextDuration(t, r->ticks * 10 / 182);
    TextAdd(t, ", ");
    TextNumber(t, d->block);
    TextAdd(t, " sectors a request)");
}

static void LogVerification(struct TText* t, const struct TResult* r) {
    if (!r->verifiedPasses) TextAdd(t, "not verified");
    else if (r->mismatches || r->readErrors) {
        TextAdd(t, "FAILED (");
        TextNumber(t, r->mismatches);
        TextAdd(t, " sectors differ, ");
        TextNumber(t, r->readErrors);
        TextAdd(t, " unreadable)");
    } else {
        TextAdd(t, "passed (");
        TextNumber(t, r->verifiedPasses);
        TextAdd(t, r->verifiedPasses == 1 ? " pass read back and compared)"
                                           : " passes read back and compared)");
    }
}

static void LogDisk(unsigned i, const struct TMethod* m) {
    const struct TResult* r = &Results[i];
    const struct TDisk* d = &Disks[i];
    const int record = Options[O_RECORD_LOG];
    struct TText* t = &Log;
    if (record) TextAdd(t, "------------------------------------------------------------\r\n");
    TextAdd(t, record ? "MEDIA IDENTIFICATION\r\n  Disk:          " : "Disk:         ");
    TextDisk(t, i);
    TextAdd(t, record ? "\r\n  Model:         " : "\r\nModel:        ");
    TextAdd(t, d->model[0] ? d->model : "(not reported)");
    TextAdd(t, record ? "\r\n  Serial number: " : "\r\nSerial:       ");
    TextAdd(t, d->serial[0] ? d->serial : "(not reported)");
    TextAdd(t, record ? "\r\n  Capacity:      " : "\r\nCapacity:     ");
    TextNumber(t, d->sectors);
    TextAdd(t, " sectors of ");
    TextNumber(t, d->sectorBytes);
    TextAdd(t, " bytes (");
    TextSize(t, d->sectors, d->sectorBytes);
    TextAdd(t, "), BIOS geometry ");
    TextNumber(t, d->cylinders);
    TextChar(t, '/');
    TextNumber(t, d->heads);
    TextChar(t, '/');
    TextNumber(t, d->perTrack);
    TextAdd(t, record ? "\r\nSANITIZATION\r\n  Method:        " : "\r\nMethod:       ");
    TextAdd(t, m->name);
    TextAdd(t, " (");
    TextAdd(t, m->file);
    TextAdd(t, ")");
    if (record && m->source[0]) {
        TextAdd(t, "\r\n  Published in:  ");
        TextAdd(t, m->source);
    }
    TextAdd(t, record ? "\r\n  Passes:        " : "\r\nPasses:       ");
    TextNumber(t, r->passesDone);
    TextAdd(t, " of ");
    TextNumber(t, r->passesPlanned);
    TextAdd(t, " written\r\n");
    for (unsigned k = 0; k < r->passesPlanned; ++k) {
        TextAdd(t, record ? "    Pass " : "  Pass ");
        TextNumber(t, k + 1);
        TextAdd(t, ": ");
        if (k < m->passes) TextPattern(t, &m->pass[k]);
        else TextAdd(t, "00 (option 3)");
        TextAdd(t, k < r->passesDone ? "\r\n" : " - not written\r\n");
    }
    TextAdd(t, record ? "  Random data:   " : "Random data:  ");
    TextAdd(t, Options[O_ISAAC] ? "ISAAC" : "xorshift128");
    TextAdd(t, record ? "\r\n  Direction:     " : "\r\nDirection:    ");
    TextAdd(t, Options[O_BACKWARD] ? "last sector to first" : "first sector to last");
    TextAdd(t, record ? "\r\nVERIFICATION\r\n  Result:        " : "\r\nVerification: ");
    LogVerification(t, r);
    TextAdd(t, record ? "\r\nERRORS\r\n  Write errors:  " : "\r\nErrors:       ");
    TextNumber(t, r->writeErrors);
    TextAdd(t, record ? "\r\n  Read errors:   " : " write, ");
    TextNumber(t, r->readErrors);
    TextAdd(t, record ? "\r\n  Mismatches:    " : " read, ");
    TextNumber(t, r->mismatches);
    TextAdd(t, record ? "\r\n" : " verification\r\n");
    for (unsigned k = 0; k < r->listed; ++k) {
        TextAdd(t, record ? "    Sector " : "  Sector ");
        TextNumber(t, r->sector[k]);
        TextAdd(t, r->kind[k] == 'W' ? ": write error\r\n"
                   : r->kind[k] == 'R' ? ": read error\r\n"
                                       : ": differs from what was written\r\n");
    }
    const uint32_t all = r->writeErrors + r->readErrors + r->mismatches;
    if (all > r->listed) {
        TextAdd(t, "  (");
        TextNumber(t, all - r->listed);
        TextAdd(t, " more not listed)\r\n");
    }
    if (Options[O_PARTITION]) {
        TextAdd(t, record ? "  Partition:     " : "Partition:    ");
        TextAdd(t, r->partitioned ? "one primary partition over the disk written"
                   : r->partitionFailed ? "could NOT be written" : "not written");
        TextAdd(t, "\r\n");
    }
    TextAdd(t, record ? "  Throughput:    " : "Throughput:   ");
    Throughput(t, r, d);
    TextAdd(t, record ? "\r\n  Transfers:     " : "\r\nTransfers:    ");
    TextPath(t, d, 1);
    TextAdd(t, record ? "\r\n  RESULT:        " : "\r\nResult:       ");
    TextResult(t, r);
    TextAdd(t, "\r\n\r\n");
}

static void LogStart(void) {
    Log.length = 0;
    FarTextClear(&LogStore, 0x1000);
    TextSink(0, &Log, LogFlush);
    TextAdd(&Log, Options[O_RECORD_LOG] ? "Corvane Purgex 2005 - MEDIA SANITIZATION RECORD\r\n"
                                        : "Corvane Purgex 2005 - erase report\r\n");
    TextAdd(&Log, "Date and time: ");
    TextNow(&Log);
    TextAdd(&Log, "\r\nParameters:    ");
    TextAdd(&Log, Parameters[0] ? Parameters : "none");
    TextAdd(&Log, "\r\n\r\n");
}

static void LogEnd(void) {
    if (!Options[O_RECORD_LOG]) return;
    TextAdd(&Log, "------------------------------------------------------------\r\n"
                  "Sanitized by (name):  ______________________________\r\n"
                  "Signature:            ______________________________\r\n"
                  "Date:                 ______________________________\r\n\r\n"
                  "Witness (name):       ______________________________\r\n"
                  "Signature:            ______________________________\r\n"
                  "Date:                 ______________________________\r\n");
}

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

/* Drive letters the report may go to, in order (PlanLogDrives). */
static char LogOrder[27];

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
    if (error == 2 || error == 3) error = FarTextSave(&LogStore, path, 0);
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
static void WriteLog(void) {
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

/* --- the run ----------------------------------------------------------------- */

static struct TMethod Method;

/* Erases every chosen disk; answers 1 when one ended with errors or was stopped. */
static int EraseChosen(void) {
    unsigned total = 0, number = 0;
    for (unsigned i = 0; i < DiskCount; ++i) total += Chosen[i];
    /* Before any erase: afterwards an erased disk's drives cannot be told. */
    if (Options[O_LOG]) PlanLogDrives((char)LogDrive, Chosen, LogOrder);
    LogStart();
    RecordClear();
    RecordStart(&Method, Parameters, total);
    int bad = 0;
    for (unsigned i = 0; i < DiskCount; ++i) {
        if (!Chosen[i]) continue;
        MouseHide(1);
        RecordDisk(i);
        EraseDisk(i, &Method, &Results[i], ++number, total);
        const struct TResult* r = &Results[i];
        RecordResult(i, r);
        if (r->stopped || r->vanished || r->writeErrors || r->readErrors || r->mismatches ||
            r->partitionFailed || r->partial)
            bad = 1;
        LogDisk(i, &Method);
    }
    LogEnd();
    LogFlush(&Log);
    RecordEnd(total);
    LogPlace[0] = 0;
    if (Options[O_LOG]) WriteLog();
    MouseHide(1);
    ScreenClear(A_NORMAL);
    ScreenTitle("summary");
    unsigned row = 2;
    for (unsigned i = 0; i < DiskCount && row < 20; ++i) {
        if (!Chosen[i]) continue;
        const struct TResult* r = &Results[i];
        struct TText t = NewLine();
        TextDisk(&t, i);
        TextAdd(&t, ", ");
        TextPath(&t, &Disks[i], 0);
        ScreenLine(row++, A_TITLE, LineBuffer);
        t = NewLine();
        TextAdd(&t, "  ");
        TextResult(&t, r);
        TextAdd(&t, " - ");
        TextNumber(&t, r->passesDone);
        TextAdd(&t, " of ");
        TextNumber(&t, r->passesPlanned);
        TextAdd(&t, " passes, ");
        LogVerification(&t, r);
        ScreenLine(row++, r->stopped || r->vanished || r->verifyFailed || r->writeErrors ? A_WARN
                                                                                        : A_NORMAL,
                   LineBuffer);
        t = NewLine();
        TextAdd(&t, "  Errors: ");
        TextNumber(&t, r->writeErrors);
        TextAdd(&t, " write, ");
        TextNumber(&t, r->readErrors);
        TextAdd(&t, " read, ");
        TextNumber(&t, r->mismatches);
        TextAdd(&t, " verification; ");
        Throughput(&t, r, &Disks[i]);
        ScreenLine(row++, A_NORMAL, LineBuffer);
        if (r->listed) {
            t = NewLine();
            TextAdd(&t, "  Sectors:");
            for (unsigned k = 0; k < r->listed && t.length < 70; ++k) {
                TextChar(&t, ' ');
                TextNumber(&t, r->sector[k]);
                TextChar(&t, r->kind[k]);
            }
            ScreenLine(row++, A_NORMAL, LineBuffer);
        }
    }
    ScreenLine(21, A_NORMAL, Options[O_LOG] ? LogPlace : "No report: option 4 is off.");
    ScreenLine(22, A_NORMAL, bad ? "Erase finished with errors or stopped." : "Erase finished.");
    DebugText(bad ? "SUMMARY ERRORS\n" : "SUMMARY OK\n");
    DebugText(LogPlace);
    DebugText("\n");
    return bad;
}

static int FindMethodParameter(void) {
    for (unsigned i = 0; i < MethodCount; ++i)
        if (!memcmp(MethodList[i].file, MethodParameter, strlen(MethodParameter) + 1)) return (int)i;
    return -1;
}

static void Finish(void) {
    MouseHide(1);
    ScreenCursor(23, 0);
}

int main(void) {
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
    ReadParameters();
    FindDisks();
    FindMachine();
    ListMethods(&Method);
    if (EraseStart()) {
        Put("PURGIT: not enough memory for the transfer buffers (128 KB).\r\n");
        return EXIT_NO_MEMORY;
    }
    for (unsigned i = 0; i < DiskCount; ++i) {
        const int offered = !Disks[i].boot && !Disks[i].unusable;
        if (Chosen[i] && !offered) {
            char token[8] = {'/', 'D', ':', (char)('1' + i), 0};
            Fault(Disks[i].boot ? "The system disk is never erased" : "Disk not usable", token, 4);
        }
        if (AllDisks || Chosen[i]) Chosen[i] = (char)offered;
    }
    for (unsigned i = DiskCount; i < MAX_DISKS; ++i)
        if (Chosen[i]) {
            char token[8] = {'/', 'D', ':', (char)('1' + i), 0};
            Chosen[i] = 0;
            Fault("No such disk", token, 4);
        }
    int method = MethodParameter[0] ? FindMethodParameter() : -1;
    if (MethodParameter[0] && method < 0) Fault("No such wipe method", MethodParameter, strlen(MethodParameter));
    unsigned chosen = 0;
    for (unsigned i = 0; i < DiskCount; ++i) chosen += Chosen[i];

    if (Options[O_UNATTENDED] && method >= 0 && chosen && !ParameterFault[0]) {
        DebugText("UNATTENDED\n");
        if (LoadMethod(MethodList[method].file, &Method, &why)) return EXIT_BAD_PARAMETERS;
        const int failed = EraseChosen();
        Finish();
        return failed ? EXIT_ERRORS : EXIT_OK;
    }
    if (Options[O_UNATTENDED] && ParameterFault[0]) {
        /* Never erase something else than what the parameters meant. */
        Put("PURGIT: ");
        Put(ParameterFault);
        Put("\r\nPURGIT: nothing was erased.\r\n");
        return EXIT_BAD_PARAMETERS;
    }

    /* The interactive pages give the screen back as they found it. */
    FarCopy(SavedScreen, 0xB800, 0, 4000);
    struct TRegs cursor = {0};
    cursor.ax = 0x0300;
    Int10(&cursor);
    const uint16_t cursorAt = cursor.dx;
    MouseStart();
    const char* note = ParameterFault[0] ? ParameterFault
                       : Options[O_UNATTENDED]
                           ? "Option 7 needs a method (/M:) and disks (/D: or /ALL); choose here."
                           : 0;
    int result = EXIT_OK;
    for (;;) {
        StartPage(note);
        DebugText("START PAGE\n");
        unsigned key;
        for (;;) {
            key = Input();
            if (SCAN(key) == 0x3B) {
                HelpPage();
                StartPage(note);
            }
            if (!CLICK(key) && (CHAR(key) == K_ENTER || CHAR(key) == K_ESC)) break;
        }
        if (CHAR(key) == K_ESC) break;
        note = 0;
        if (!DiskCount) continue;
    disks:
        DebugText("DISK PAGE\n");
        const int answer =
            ListPage("choose the disks to erase", "Space or a click marks a disk; Enter goes on.",
                     DiskCount, DiskEntry, Chosen,
                     " Enter  go on   Space  mark   A  all   F1  keys   Esc  back");
        if (answer == -1 || answer == -2) continue;
        chosen = 0;
        for (unsigned i = 0; i < DiskCount; ++i) {
            if (Disks[i].boot || Disks[i].unusable) Chosen[i] = 0;
            chosen += Chosen[i];
        }
        if (!chosen) goto disks;
    methods:
        DebugText("METHOD PAGE\n");
        method = ListPage("choose the wipe method", "File                Method"
                          "                                                  Passes",
                          MethodCount, MethodEntry, 0, " Enter  choose   F1  keys   Esc  back");
        if (method == -2) continue;
        if (method < 0) goto disks;
        if (LoadMethod(MethodList[method].file, &Method, &why)) goto methods;
        DebugText("WARNING PAGE\n");
        if (!WarningPage(&Method)) goto methods;
        result = EraseChosen() ? EXIT_ERRORS : EXIT_OK;
        ScreenKeys(" Enter  back to the start page     Esc  leave the program");
        MouseHide(0);
        do key = Input();
        while (CLICK(key) || (CHAR(key) != K_ENTER && CHAR(key) != K_ESC));
        if (CHAR(key) == K_ESC) break;
        memset(Chosen, 0, sizeof Chosen);
    }
    Finish();
    FarCopy(0xB800, SavedScreen, 0, 4000);
    ScreenCursor(cursorAt >> 8, cursorAt & 0xFF);
    return result;
}
