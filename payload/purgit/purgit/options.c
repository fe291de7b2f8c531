/* Options from DATA\PURGIT.INI and the parameters the wiper was started
   with. */
#include "purgit.h"

char Options[OPTION_COUNT];
int Trace;
#define Values Options
char Given[OPTION_COUNT];
/* The INI, then the method files and text pages, one at a time. */
char ScratchText[SCRATCH_LIMIT + 1];
#define IniText ScratchText

/* --- the INI file --------------------------------------------------------- */

static int Upper(int c) { return c >= 'a' && c <= 'z' ? c - 32 : c; }

static int IsBlank(char c) { return c == ' ' || c == '\t'; }

/* Parses "On=v" lines; other keys are left to later versions and ignored. */
unsigned ParseIni(unsigned length, const char** why) {
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

char Parameters[128];   /* as given, for the start page */
char MethodParameter[13];
char Chosen[MAX_DISKS];
int AllDisks, LogDrive;  /* LogDrive: 'A'.. from /L:, or 0 */
char ParameterFault[80];

void Fault(const char* what, const char* token, unsigned n) {
    if (ParameterFault[0]) return;
    struct TText t = {ParameterFault, 0, sizeof ParameterFault};
    TextAdd(&t, what);
    TextAdd(&t, ": ");
    for (unsigned i = 0; i < n && i < 20; ++i) TextChar(&t, token[i]);
}

void ReadParameters(void) {
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

