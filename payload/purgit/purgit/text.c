/* Text building, numbers and the screen. */
#include "purgit.h"

static struct {
    struct TText* t;
    void (*flush)(struct TText* t);
} Sinks[2];

void TextSink(unsigned slot, struct TText* t, void (*flush)(struct TText* t)) {
    Sinks[slot].t = t;
    Sinks[slot].flush = flush;
}

void TextChar(struct TText* t, char c) {
    if (t->length + 1 >= t->capacity)
        for (unsigned i = 0; i < 2; ++i)
            if (Sinks[i].t == t) Sinks[i].flush(t);
    if (t->length + 1 < t->capacity) t->at[t->length++] = c;
    t->at[t->length] = 0;
}

void TextAdd(struct TText* t, const char* s) {
    while (*s) TextChar(t, *s++);
}

void TextNumberWidth(struct TText* t, TLba v, unsigned width, char fill) {
    char digits[sizeof v * 5 / 2 + 1];
    unsigned n = 0;
    do {
        digits[n++] = (char)('0' + v % 10);
        v /= 10;
    } while (v);
    while (width > n) {
        TextChar(t, fill);
        --width;
    }
    while (n) TextChar(t, digits[--n]);
}

void TextNumber(struct TText* t, TLba v) { TextNumberWidth(t, v, 0, ' '); }

#ifndef PURGIT_UEFI
/* Nine digits at a time: DOS's numbers are 32 bits wide. */
void TextWide(struct TText* t, uint64_t v) {
    const uint32_t high = Div64(v, 1000000000ul);
    const uint32_t low = (uint32_t)(v - (uint64_t)high * 1000000000ul);
    if (high) TextNumber(t, high);
    TextNumberWidth(t, low, high ? 9 : 0, '0');
}
#endif

void TextHex2(struct TText* t, unsigned v) {
    TextChar(t, "0123456789ABCDEF"[(v >> 4) & 15]);
    TextChar(t, "0123456789ABCDEF"[v & 15]);
}

void TextPad(struct TText* t, unsigned column) {
    unsigned start = t->length;
    while (start && t->at[start - 1] != '\n') --start;
    while (t->length - start < column) TextChar(t, ' ');
}

void TextTenths(struct TText* t, uint32_t tenths) {
    TextNumber(t, tenths / 10);
    TextChar(t, '.');
    TextChar(t, (char)('0' + tenths % 10));
}

void TextDuration(struct TText* t, uint32_t seconds) {
    TextNumberWidth(t, seconds / 3600, 2, '0');
    TextChar(t, ':');
    TextNumberWidth(t, seconds / 60 % 60, 2, '0');
    TextChar(t, ':');
    TextNumberWidth(t, seconds % 60, 2, '0');
}

void TextSize(struct TText* t, TLba sectors, uint16_t sectorBytes) {
    const uint32_t perMb = 1048576ul / (sectorBytes ? sectorBytes : 512);
    const TLba mb = sectors / perMb;
    if (mb < 10240) {
        TextNumber(t, mb);
        TextAdd(t, " MB");
    } else {
        TextTenths(t, (uint32_t)(mb / 1024 * 10 + mb % 1024 * 10 / 1024));
        TextAdd(t, " GB");
    }
}

/* 64-bit division without the compiler's helper library, to a 32-bit
   quotient: one of 2^32 or more (or a divisor of 0) sets every bit, the
   cap. Not inlined: each constant divisor would get a copy of the loop. */
__attribute__((noinline)) uint32_t Div64(uint64_t n, uint64_t d) {
    uint32_t q = 0;
    for (int bit = 31; bit >= 0; --bit)
        if (n >> bit >= d) {
            n -= d << bit;
            q |= (uint32_t)1 << bit;
        }
    return q;
}

void DebugText(const char* s) {
    if (!Trace) return;
    while (*s) OutByte(0xE9, (uint8_t)*s++);
}

/* --- screen ------------------------------------------------------------ */

void ScreenLine(unsigned row, uint8_t attribute, const char* s) {
    char line[81];
    unsigned n = 0;
    while (s[n] && n < 80) {
        line[n] = s[n];
        ++n;
    }
    while (n < 80) line[n++] = ' ';
    line[80] = 0;
    ScreenAt(row, 0, attribute, line);
}

void ScreenClear(uint8_t attribute) {
    for (unsigned row = 0; row < 25; ++row) ScreenLine(row, attribute, "");
}

void ScreenTitle(const char* s) {
    char line[81];
    struct TText t = {line, 0, sizeof line};
    TextAdd(&t, " Corvane Purgex 2005 - ");
    TextAdd(&t, s);
    ScreenLine(0, A_BAR, line);
}

const char* KeysShown;

void ScreenKeys(const char* s) {
    KeysShown = s;
    ScreenLine(24, A_BAR, s);
}
