/* Wipe method files (METHODS\*.MET) and the two random generators: ISAAC
   (Bob Jenkins, 1996) and Marsaglia's xorshift128 (2003), the fast one. */
#include "purgit.h"

struct TMethodEntry MethodList[MAX_METHODS];
unsigned MethodCount;

#define METHOD_LIMIT SCRATCH_LIMIT
#define MethodText ScratchText

static int Upper(int c) { return c >= 'a' && c <= 'z' ? c - 32 : c; }

static unsigned ReadMethodFile(const char* file, unsigned* length) {
    char path[24];
    struct TText t = {path, 0, sizeof path};
    TextAdd(&t, "METHODS\\");
    TextAdd(&t, file);
    return ReadFile(path, MethodText, METHOD_LIMIT + 1, length);
}

static int HexDigit(char c) {
    c = (char)Upper(c);
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

static int Same(const char* a, unsigned n, const char* b) {
    unsigned i = 0;
    for (; i < n && b[i]; ++i)
        if (Upper(a[i]) != b[i]) return 0;
    return i == n && !b[i];
}

static int Number(const char* s, unsigned n, unsigned* v) {
    if (!n || n > 3) return 0;
    *v = 0;
    for (unsigned i = 0; i < n; ++i) {
        if (s[i] < '0' || s[i] > '9') return 0;
        *v = *v * 10 + (unsigned)(s[i] - '0');
    }
    return 1;
}

unsigned LoadMethod(const char* file, struct TMethod* m, const char** why) {
    unsigned length = 0;
    memset(m, 0, sizeof *m);
    memcpy(m->file, file, strlen(file) < 12 ? strlen(file) + 1 : 12);
    m->verify = V_NONE;
    if (ReadMethodFile(file, &length)) {
        *why = "the file cannot be read";
        return 1;
    }
    if (length > METHOD_LIMIT) {
        *why = "the file is too large";
        return 1;
    }
    unsigned line = 0, at = 0, seenPasses = 0, highest = 0;
    static uint8_t given[MAX_PASSES + 1];
    memset(given, 0, sizeof given);
    while (at < length) {
        ++line;
        unsigned end = at;
        while (end < length && MethodText[end] != '\n') ++end;
        unsigned stop = end;
        while (stop > at && (MethodText[stop - 1] == '\r' || MethodText[stop - 1] == ' ')) --stop;
        const char* s = MethodText + at;
        const unsigned n = stop - at;
        at = end + 1;
        if (!n || s[0] == ';') continue;
        unsigned eq = 0;
        while (eq < n && s[eq] != '=') ++eq;
        if (eq == n) {
            *why = "it is not of the form KEY=VALUE";
            return line;
        }
        const char* v = s + eq + 1;
        const unsigned vn = n - eq - 1;
        if (Same(s, eq, "NAME") || Same(s, eq, "SOURCE")) {
            char* to = s[0] == 'N' || s[0] == 'n' ? m->name : m->source;
            const unsigned room = to == m->name ? sizeof m->name - 1 : sizeof m->source - 1;
            const unsigned k = vn < room ? vn : room;
            memcpy(to, v, k);
            to[k] = 0;
        } else if (Same(s, eq, "PASSES")) {
            if (!Number(v, vn, &m->passes) || m->passes < 1 || m->passes >= MAX_PASSES) {
                *why = "PASSES must be 1 to 99";
                return line;
            }
            seenPasses = 1;
        } else if (Same(s, eq, "VERIFY")) {
            if (Same(v, vn, "NONE")) m->verify = V_NONE;
            else if (Same(v, vn, "LAST")) m->verify = V_LAST;
            else if (Same(v, vn, "ALL")) m->verify = V_ALL;
            else {
                *why = "VERIFY must be NONE, LAST or ALL";
                return line;
            }
        } else if (eq > 4 && Same(s, 4, "PASS")) {
            unsigned k;
            if (!Number(s + 4, eq - 4, &k) || k < 1 || k >= MAX_PASSES || given[k]) {
                *why = "a PASSn line has a wrong or repeated number";
                return line;
            }
            given[k] = 1;
            if (k > highest) highest = k;
            struct TPass* p = &m->pass[k - 1];
            if (Same(v, vn, "RANDOM")) {
                p->kind = P_RANDOM;
            } else if (Same(v, vn, "COMPLEMENT")) {
                if (k == 1 || !given[k - 1]) {
                    *why = "COMPLEMENT needs the pass before it";
                    return line;
                }
                *p = m->pass[k - 2];
                p->invert = !p->invert;
                p->follows = 1;
            } else if (vn > 6 && Same(v, 6, "FIXED ")) {
                p->kind = P_FIXED;
                unsigned i = 6;
                while (i < vn) {
                    while (i < vn && v[i] == ' ') ++i;
                    if (i == vn) break;
                    const int hi = HexDigit(v[i]), lo = i + 1 < vn ? HexDigit(v[i + 1]) : -1;
                    if (hi < 0 || lo < 0 || (i + 2 < vn && v[i + 2] != ' ') || p->length == 16) {
                        *why = "FIXED takes 1 to 16 bytes of two hex digits";
                        return line;
                    }
                    p->bytes[p->length++] = (uint8_t)(hi << 4 | lo);
                    i += 2;
                }
                if (!p->length) {
                    *why = "FIXED takes 1 to 16 bytes of two hex digits";
                    return line;
                }
            } else {
                *why = "a pattern must be FIXED, COMPLEMENT or RANDOM";
                return line;
            }
        }
        /* Other keys are left to later versions. */
    }
    if (!seenPasses || !m->name[0]) {
        *why = "NAME and PASSES are required";
        return line ? line : 1;
    }
    for (unsigned k = 1; k <= m->passes; ++k)
        if (!given[k]) {
            *why = "a PASSn line is missing";
            return line;
        }
    if (highest > m->passes) {
        *why = "there are more PASSn lines than PASSES says";
        return line;
    }
    return 0;
}

void ListMethods(struct TMethod* scratch) {
    MethodCount = 0;
    /* The names found go straight into the list; the methods that load are
       then moved up over those that do not (the segment has no room for a
       second copy of the names). */
    unsigned found = 0;
    while (found < MAX_METHODS && MethodFile(!found, MethodList[found].file))
        MethodList[found++].file[12] = 0;
    for (unsigned i = 0; i < found; ++i) {
        const char* why;
        if (LoadMethod(MethodList[i].file, scratch, &why)) continue; /* a broken file is not offered */
        struct TMethodEntry* e = &MethodList[MethodCount++];
        if (e != &MethodList[i]) memcpy(e->file, MethodList[i].file, 13);
        memcpy(e->name, scratch->name, sizeof e->name);
        e->passes = (uint8_t)scratch->passes;
    }
    /* The list in the order of the passes, then the names: short methods first. */
    for (unsigned i = 1; i < MethodCount; ++i)
        for (unsigned j = i; j > 0; --j) {
            struct TMethodEntry* a = &MethodList[j - 1];
            struct TMethodEntry* b = &MethodList[j];
            if (a->passes < b->passes ||
                (a->passes == b->passes && memcmp(a->file, b->file, 13) <= 0))
                break;
            struct TMethodEntry swap = *a;
            *a = *b;
            *b = swap;
        }
}

void TextPattern(struct TText* t, const struct TPass* p) {
    if (p->kind == P_RANDOM) {
        TextAdd(t, p->invert ? "random, complemented" : "random");
        return;
    }
    for (unsigned i = 0; i < p->length; ++i) {
        if (i) TextChar(t, ' ');
        TextHex2(t, p->invert ? (uint8_t)~p->bytes[i] : p->bytes[i]);
    }
}

/* --- generators ------------------------------------------------------------ */

static uint32_t Mm[256], Rsl[256], Aa, Bb, Cc;
static unsigned Left;
static int UseIsaac;
static uint32_t Xorshift[4]; /* x, y, z, w */

/* One ISAAC round: 256 results, in order, to the words at off in b. */
#ifdef PURGIT_UEFI
static void IsaacRound(TBuffer b, TOffset off) {
    uint32_t* out = (uint32_t*)(b + off);
    Bb += ++Cc;
    for (unsigned i = 0; i < 256; ++i) {
        const uint32_t x = Mm[i];
        switch (i & 3) {
        case 0: Aa ^= Aa << 13; break;
        case 1: Aa ^= Aa >> 6; break;
        case 2: Aa ^= Aa << 2; break;
        default: Aa ^= Aa >> 16; break;
        }
        Aa += Mm[(i + 128) & 255];
        const uint32_t y = Mm[(x >> 2) & 255] + Aa + Bb;
        Mm[i] = y;
        Bb = Mm[(y >> 10) & 255] + x;
        out[i] = Bb;
    }
}
#define OWN_DATA(p) (TBuffer)(p), 0
#else
/* The same steps in assembly, straight into the buffer's segment, four a
   turn (one per shift) with no branch between them: under emulation the C
   loop with its copy through Rsl ran at half this speed (bench/RESULTS.md).
   a in EAX, b in EDX, x in ECX, EBX scratch; SI walks mm[i], BP mm[i ^
   128] (SS is DS in the tiny model). */
#define ISAAC_STEP(shift, k)                                                                        \
    "movl " #k "(%%si), %%ecx\n\tmovl %%eax, %%ebx\n\t" shift ", %%ebx\n\txorl %%ebx, %%eax\n\t"      \
    "addl " #k "(%%bp), %%eax\n\tmovl %%ecx, %%ebx\n\tandw $0x3FC, %%bx\n\t"                        \
    "movl %c[mm](%%bx), %%ebx\n\taddl %%eax, %%ebx\n\taddl %%edx, %%ebx\n\t"                       \
    "movl %%ebx, " #k "(%%si)\n\tshrl $8, %%ebx\n\tandw $0x3FC, %%bx\n\t"                          \
    "movl %c[mm](%%bx), %%edx\n\taddl %%ecx, %%edx\n\tmovl %%edx, %%es:" #k "(%%di)\n\t"

static void IsaacRound(TBuffer b, TOffset off) {
    Bb += ++Cc;
    __asm__ volatile("movw %[b], %%es\n\tpushl %%ebp\n\tmovw %[mm], %%si\n\tmovw %[half], %%bp\n"
                     "1:\n\t" ISAAC_STEP("shll $13", 0) ISAAC_STEP("shrl $6", 4)
                         ISAAC_STEP("shll $2", 8) ISAAC_STEP("shrl $16", 12)
                     "addw $16, %%si\n\taddw $16, %%bp\n\taddw $16, %%di\n\t"
                     "cmpw %[end], %%bp\n\tjb 2f\n\tmovw %[mm], %%bp\n"
                     "2:\n\tcmpw %[end], %%si\n\tjb 1b\n\t"
                     "popl %%ebp\n\tmovw %%ds, %%si\n\tmovw %%si, %%es"
                     : "+a"(Aa), "+d"(Bb), "+D"(off)
                     : [b] "m"(b), [mm] "i"(Mm), [half] "i"(Mm + 128), [end] "i"(Mm + 256)
                     : "ebx", "ecx", "esi", "memory", "cc");
}
#undef ISAAC_STEP

static TBuffer OwnSegment(void) {
    TBuffer ds;
    __asm__("movw %%ds, %0" : "=r"(ds));
    return ds;
}
#define OWN_DATA(p) OwnSegment(), (TOffset)(uintptr_t)(p)
#endif

#define MIX(a, b, c, d, e, f, g, h)                                                           \
    a ^= b << 11; d += a; b += c;                                                             \
    b ^= c >> 2;  e += b; c += d;                                                             \
    c ^= d << 8;  f += c; d += e;                                                             \
    d ^= e >> 16; g += d; e += f;                                                             \
    e ^= f << 10; h += e; f += g;                                                             \
    f ^= g >> 4;  a += f; g += h;                                                             \
    g ^= h << 8;  b += g; h += a;                                                             \
    h ^= a >> 9;  c += h; a += b

static void IsaacInit(void) {
    uint32_t a, b, c, d, e, f, g, h;
    a = b = c = d = e = f = g = h = 0x9E3779B9ul;
    Aa = Bb = Cc = 0;
    for (int i = 0; i < 4; ++i) {
        MIX(a, b, c, d, e, f, g, h);
    }
    for (int pass = 0; pass < 2; ++pass) {
        const uint32_t* from = pass ? Mm : Rsl;
        for (unsigned i = 0; i < 256; i += 8) {
            a += from[i]; b += from[i + 1]; c += from[i + 2]; d += from[i + 3];
            e += from[i + 4]; f += from[i + 5]; g += from[i + 6]; h += from[i + 7];
            MIX(a, b, c, d, e, f, g, h);
            Mm[i] = a; Mm[i + 1] = b; Mm[i + 2] = c; Mm[i + 3] = d;
            Mm[i + 4] = e; Mm[i + 5] = f; Mm[i + 6] = g; Mm[i + 7] = h;
        }
    }
    IsaacRound(OWN_DATA(Rsl));
    Left = 256;
}

void RandomStart(const struct TPass* p, int isaac) {
    if (Trace) { /* the seed, so that a test can redo the stream */
        char line[40];
        struct TText t = {line, 0, sizeof line};
        TextAdd(&t, "SEED ");
        for (unsigned k = 0; k < 16; ++k) TextHex2(&t, ((const uint8_t*)p->seed)[k]);
        TextChar(&t, '\n');
        DebugText(line);
    }
    UseIsaac = isaac;
    if (isaac) {
        /* The seed spread over the whole seed array (splitmix32 steps). */
        uint32_t s = p->seed[0] ^ p->seed[1] * 0x9E3779B9ul;
        for (unsigned i = 0; i < 256; ++i) {
            s += 0x9E3779B9ul + p->seed[i & 3];
            uint32_t z = s;
            z = (z ^ (z >> 16)) * 0x85EBCA6Bul;
            z = (z ^ (z >> 13)) * 0xC2B2AE35ul;
            Rsl[i] = z ^ (z >> 16);
        }
        IsaacInit();
    } else {
        memcpy(Xorshift, p->seed, sizeof Xorshift);
        Xorshift[3] |= 1; /* never all zero */
    }
}

#ifdef PURGIT_UEFI
/* Two steps a turn, their words stored as one: under emulation every store
   costs a lookup of its page, and this ran faster than the DOS wiper's
   assembly steps (xorshift.h) did in 64-bit mode (bench/RESULTS.md). */
typedef uint64_t __attribute__((may_alias)) TTwoWords;

void BufferXorshift(TBuffer b, unsigned words, uint32_t s[4], int invert) {
    const uint64_t flip = invert ? ~0ull : 0;
    uint32_t x = s[0], y = s[1], z = s[2], w = s[3];
    uint32_t* out = (uint32_t*)b;
    for (unsigned i = 0; i < words; i += 2) {
        const uint32_t t = x ^ (x << 11), u = y ^ (y << 11);
        const uint32_t first = w ^ (w >> 19) ^ t ^ (t >> 8);
        const uint32_t second = first ^ (first >> 19) ^ u ^ (u >> 8);
        x = z;
        y = w;
        z = first;
        w = second;
        *(TTwoWords*)(out + i) = ((uint64_t)second << 32 | first) ^ flip; /* little-endian */
    }
    s[0] = x;
    s[1] = y;
    s[2] = z;
    s[3] = w;
}
#endif

/* A request's random data (bytes a multiple of 512) straight into a
   transfer buffer, inverted if asked. */
void RandomBuffer(TBuffer b, unsigned bytes, int invert) {
    if (!UseIsaac) {
        BufferXorshift(b, bytes / 4, Xorshift, invert);
        return;
    }
    /* Whole rounds go straight into the buffer; one that a request ends in
       the middle of goes out from Rsl, a sector (128 words) at a time. */
    for (uint32_t off = 0; off < bytes; off += 512) {
        if (!Left && bytes - off >= 1024) {
            IsaacRound(b, (TOffset)off);
            off += 512;
            continue;
        }
        if (!Left) {
            IsaacRound(OWN_DATA(Rsl));
            Left = 256;
        }
        BufferPut(b, (TOffset)off, Rsl + (256 - Left), 512);
        Left -= 128;
    }
    if (invert) BufferInvert(b, bytes);
}

/* Seeds differ between runs: the platform's clock and timer counters,
   stirred with a per-call counter. */
void RandomSeed(uint32_t seed[4]) {
    static uint32_t state, calls;
    uint32_t e[4];
    Entropy(e);
    e[3] |= ++calls << 16;
    for (unsigned i = 0; i < 4; ++i) {
        state += 0x9E3779B9ul ^ e[i];
        for (unsigned k = 0; k < 4; ++k) {
            uint32_t z = state + e[k] * (k + 1) + calls;
            z = (z ^ (z >> 16)) * 0x85EBCA6Bul;
            z = (z ^ (z >> 13)) * 0xC2B2AE35ul;
            state ^= z ^ (z >> 16);
        }
        seed[i] = state;
    }
}
