/* PURGIT: erases hard disks. Reads DATA\PURGIT.INI and the command line,
   finds the disks through the BIOS, lets the user choose disks and a wipe
   method (or takes them from the parameters when option 7 is on), asks for
   the confirmation, erases, and writes a report. */
#include "purgit.h"
#include "image/WiperOptionsTable.h"

enum {
    EXIT_OK = 0, EXIT_NO_INI = 1, EXIT_BAD_INI = 2, EXIT_ERRORS = 3, EXIT_BAD_PARAMETERS = 4,
    EXIT_NO_MEMORY = 5
};

/* Captions and defaults: the table shared with the wizard, image/WiperOptions.tsv. */
_Static_assert(WIPER_OPTION_COUNT == OPTION_COUNT, "the table's options are the wiper's");
static const char* const Captions[OPTION_COUNT] = {WIPER_OPTION_CAPTIONS};
static const char Defaults[OPTION_COUNT] = {WIPER_OPTION_DEFAULTS};

#define Values Options
#define IniText ScratchText

/* --- messages before the screen is ours ------------------------------------- */

static const char* ShowTextFile(const char* path, unsigned row, unsigned last);

static void PrintUnsigned(uint32_t v) {
    char digits[12];
    struct TText t = {digits, 0, sizeof digits};
    TextNumber(&t, v);
    Print(digits);
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
    unsigned n = 0;
    if (ReadFile(path, text, INI_LIMIT, &n)) return 0;
    text[n] = 0;
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
    TextAdd(&t, "Hard disks reported by the " FIRMWARE ": ");
    TextNumber(&t, DiskCount);
    if (!DiskCount) TextAdd(&t, " (none)");
    ScreenLine(row++, A_NORMAL, LineBuffer);
    for (unsigned i = 0; i < DiskCount && row < 21; ++i) {
        t = NewLine();
        TextAdd(&t, "  ");
        TextDisk(&t, i);
        if (Disks[i].boot) TextAdd(&t, " - system disk, not offered");
        else if (Disks[i].unusable) TextAdd(&t, " - " ODD_SECTORS ", not offered");
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
    else if (Disks[i].unusable) TextAdd(t, " (" ODD_SECTORS ")");
#ifdef PURGIT_UEFI
    else PurgeDiskEntry(t, i);
#endif
}

static void MethodEntry(struct TText* t, unsigned i) {
#ifdef PURGIT_UEFI
    if (i >= MethodCount) {
        PurgeListEntry(t, i - MethodCount);
        return;
    }
#endif
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
#ifdef PURGIT_UEFI
    PurgeMethodText(&t, m);
#else
    TextAdd(&t, m->name);
#endif
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

/* --- the run ----------------------------------------------------------------- */

static struct TMethod Method;

/* Erases every chosen disk; answers 1 when one ended with errors or was stopped. */
static int EraseChosen(void) {
    unsigned total = 0, number = 0;
    for (unsigned i = 0; i < DiskCount; ++i) total += Chosen[i];
    /* Before any erase: afterwards an erased disk's drives cannot be told. */
    if (Options[O_LOG]) ReportPlan((char)LogDrive, Chosen);
    LogStart();
    RecordClear();
    RecordStart(&Method, Parameters, total);
    int bad = 0;
    for (unsigned i = 0; i < DiskCount; ++i) {
        if (!Chosen[i]) continue;
        MouseHide(1);
        RecordDisk(i);
#ifdef PURGIT_UEFI
        if (PurgeDiskRun(i, &Method, &Results[i], number + 1, total)) ++number;
        else
#endif
        EraseDisk(i, &Method, &Results[i], ++number, total);
        const struct TResult* r = &Results[i];
        RecordResult(i, r);
        if (r->stopped || r->vanished || r->writeErrors || r->readErrors || r->mismatches ||
            r->partitionFailed || r->partial)
            bad = 1;
        LogDisk(i, &Method);
    }
    LogEnd();
    RecordEnd(total);
    LogPlace[0] = 0;
    if (Options[O_LOG]) ReportWrite();
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

/* --- the page flow --------------------------------------------------------------- */

/* Each page answers how it was left; Flow says where that leads. The erase
   page erases, shows the summary and waits for Enter or Esc. */
enum { PAGE_START, PAGE_DISKS, PAGE_METHODS, PAGE_WARNING, PAGE_ERASE, PAGE_LEAVE };
enum { GO_ON, GO_BACK, GO_HOME, GO_AGAIN, GO_QUIT };
static const uint8_t Flow[PAGE_LEAVE][5] = {
    /*                GO_ON         GO_BACK       GO_HOME     GO_AGAIN      GO_QUIT */
    [PAGE_START] = {PAGE_DISKS, PAGE_LEAVE, PAGE_START, PAGE_START, PAGE_LEAVE},
    [PAGE_DISKS] = {PAGE_METHODS, PAGE_START, PAGE_START, PAGE_DISKS, PAGE_LEAVE},
    [PAGE_METHODS] = {PAGE_WARNING, PAGE_DISKS, PAGE_START, PAGE_METHODS, PAGE_LEAVE},
    [PAGE_WARNING] = {PAGE_ERASE, PAGE_METHODS, PAGE_START, PAGE_WARNING, PAGE_LEAVE},
    [PAGE_ERASE] = {PAGE_START, PAGE_START, PAGE_START, PAGE_START, PAGE_LEAVE},
};

static unsigned StartFlow(const char** note) {
    StartPage(*note);
    DebugText("START PAGE\n");
    unsigned key;
    for (;;) {
        key = Input();
        if (SCAN(key) == 0x3B) {
            HelpPage();
            StartPage(*note);
        }
        if (!CLICK(key) && (CHAR(key) == K_ENTER || CHAR(key) == K_ESC)) break;
    }
    if (CHAR(key) == K_ESC) return GO_QUIT;
    *note = 0;
    return DiskCount ? GO_ON : GO_AGAIN;
}

static unsigned DisksFlow(void) {
    DebugText("DISK PAGE\n");
    const int answer =
        ListPage("choose the disks to erase", "Space or a click marks a disk; Enter goes on.",
                 DiskCount, DiskEntry, Chosen,
                 " Enter  go on   Space  mark   A  all   F1  keys   Esc  back");
    if (answer == -1 || answer == -2) return GO_HOME;
    unsigned chosen = 0;
    for (unsigned i = 0; i < DiskCount; ++i) {
        if (Disks[i].boot || Disks[i].unusable) Chosen[i] = 0;
        chosen += Chosen[i];
    }
    return chosen ? GO_ON : GO_AGAIN;
}

static unsigned MethodsFlow(void) {
    DebugText("METHOD PAGE\n");
#ifdef PURGIT_UEFI
    const unsigned count = MethodCount + PurgeListCount();
#else
    const unsigned count = MethodCount;
#endif
    const int method = ListPage("choose the wipe method", "File                Method"
                                "                                                  Passes",
                                count, MethodEntry, 0, " Enter  choose   F1  keys   Esc  back");
    if (method == -2) return GO_HOME;
    if (method < 0) return GO_BACK;
    const char* why;
#ifdef PURGIT_UEFI
    if (PurgeListChoose(method - (int)MethodCount, &Method)) return GO_ON;
    if (method >= (int)MethodCount) {
        /* A purge with its fall-back overwrite method. */
        const int fallback = FindMethodParameter();
        if (fallback < 0) PurgeMethodOnly(&Method);
        else if (LoadMethod(MethodList[fallback].file, &Method, &why)) return GO_AGAIN;
        return GO_ON;
    }
#endif
    if (LoadMethod(MethodList[method].file, &Method, &why)) return GO_AGAIN;
    return GO_ON;
}

static unsigned WarningFlow(void) {
    DebugText("WARNING PAGE\n");
    return WarningPage(&Method) ? GO_ON : GO_BACK;
}

static unsigned EraseFlow(int* result) {
    *result = EraseChosen() ? EXIT_ERRORS : EXIT_OK;
    ScreenKeys(" Enter  back to the start page     Esc  leave the program");
    MouseHide(0);
    unsigned key;
    do key = Input();
    while (CLICK(key) || (CHAR(key) != K_ENTER && CHAR(key) != K_ESC));
    if (CHAR(key) == K_ESC) return GO_QUIT;
    memset(Chosen, 0, sizeof Chosen);
    return GO_ON;
}

int main(void) {
    unsigned length = 0;
    /* One byte more than the limit tells an oversized file apart. */
    const unsigned error = ReadFile(INI_PATH, IniText, INI_LIMIT + 1, &length);
    if (error) {
        Print("PURGIT: cannot read " INI_PATH " (DOS error ");
        PrintUnsigned(error);
        Print(").\r\nPURGIT: start it from its own folder: cd \\Purgit, then Purgit.\r\n");
        return EXIT_NO_INI;
    }
    memcpy(Values, Defaults, sizeof Values);
    const char* why = "";
    const unsigned bad = ParseIni(length, &why);
    if (bad) {
        Print("PURGIT: " INI_PATH " line ");
        PrintUnsigned(bad);
        Print(" is malformed: ");
        Print(why);
        Print(".\r\n");
        return EXIT_BAD_INI;
    }
    ReadParameters();
    FindDisks();
#ifdef PURGIT_UEFI
    PurgeStart(length);
#endif
    FindMachine();
    ListMethods(&Method);
    if (EraseStart()) {
        Print("PURGIT: not enough memory for the transfer buffers.\r\n");
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

#ifdef PURGIT_UEFI
    const int purgeOnly = PurgeChoice && method < 0 && !MethodParameter[0];
#else
    const int purgeOnly = 0;
#endif
    if (Options[O_UNATTENDED] && (method >= 0 || purgeOnly) && chosen && !ParameterFault[0]) {
        DebugText("UNATTENDED\n");
#ifdef PURGIT_UEFI
        if (method < 0) PurgeMethodOnly(&Method);
        else
#endif
        if (LoadMethod(MethodList[method].file, &Method, &why)) return EXIT_BAD_PARAMETERS;
        const int failed = EraseChosen();
        Finish();
        return failed ? EXIT_ERRORS : EXIT_OK;
    }
    if (Options[O_UNATTENDED] && ParameterFault[0]) {
        /* Never erase something else than what the parameters meant. */
        Print("PURGIT: ");
        Print(ParameterFault);
        Print("\r\nPURGIT: nothing was erased.\r\n");
        return EXIT_BAD_PARAMETERS;
    }

    /* The interactive pages give the screen back as they found it. */
    ScreenSave();
    MouseStart();
    const char* note = ParameterFault[0] ? ParameterFault
                       : Options[O_UNATTENDED]
                           ? "Option 7 needs a method (/M:) and disks (/D: or /ALL); choose here."
                           : 0;
    int result = EXIT_OK;
    for (unsigned page = PAGE_START; page != PAGE_LEAVE;) {
        unsigned outcome;
        switch (page) {
        case PAGE_START: outcome = StartFlow(&note); break;
        case PAGE_DISKS: outcome = DisksFlow(); break;
        case PAGE_METHODS: outcome = MethodsFlow(); break;
        case PAGE_WARNING: outcome = WarningFlow(); break;
        default: outcome = EraseFlow(&result); break;
        }
        page = Flow[page][outcome];
    }
    Finish();
    ScreenRestore();
    return result;
}

