/* The DOS side of the platform: messages through DOS, files of the
   wiper's folder, the clock, the text screen in video memory, the mouse
   through INT 33h, and the transfer buffers. */
#include "dos.h"
#include "purgit.h"

uint16_t SavedScreen;

void Print(const char* s) {
    struct TRegs r = {0};
    r.ax = 0x4000;
    r.bx = 1;
    r.cx = (uint16_t)strlen(s);
    r.dx = (uint16_t)(uintptr_t)s;
    Int21(&r);
}

unsigned ReadFile(const char* path, char* to, unsigned limit, unsigned* length) {
    struct TRegs r = {0};
    *length = 0;
    r.ax = 0x3D00; /* open for reading */
    r.dx = (uint16_t)(uintptr_t)path;
    if (Int21(&r)) return r.ax ? r.ax : 2;
    const uint16_t handle = r.ax;
    unsigned total = 0, error = 0;
    while (total < limit) {
        r = (struct TRegs){0};
        r.ax = 0x3F00;
        r.bx = handle;
        r.cx = (uint16_t)(limit - total);
        r.dx = (uint16_t)(uintptr_t)(to + total);
        if (Int21(&r)) {
            error = r.ax ? r.ax : 0xFF;
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

/* What AH=4Eh/4Fh fill (the name ends at 43): the end of the scratch
   text, which holds no file while the names are gathered. */
#define Dta ((uint8_t*)ScratchText + SCRATCH_LIMIT - 64)

int MethodFile(int first, char name[13]) {
    struct TRegs r = {0};
    if (first) {
        r.ax = 0x1A00;
        r.dx = (uint16_t)(uintptr_t)Dta;
        Int21(&r);
    }
    r.ax = first ? 0x4E00 : 0x4F00;
    r.dx = (uint16_t)(uintptr_t) "METHODS\\*.MET";
    if (Int21(&r)) return 0;
    memcpy(name, Dta + 30, 13);
    return 1;
}

/* INT 21h AH=2Ah (date) or 2Ch (time): CX << 16 | DX. */
static uint32_t DosClock(uint16_t ax) {
    struct TRegs r = {0};
    r.ax = ax;
    Int21(&r);
    return (uint32_t)r.cx << 16 | r.dx;
}

void ClockNow(unsigned v[6]) {
    const uint32_t date = DosClock(0x2A00), time = DosClock(0x2C00);
    v[0] = date >> 16;
    v[1] = date >> 8 & 0xFF;
    v[2] = date & 0xFF;
    v[3] = time >> 24;
    v[4] = time >> 16 & 0xFF;
    v[5] = time >> 8 & 0xFF;
}

/* The DOS clock, the date, the BIOS ticks and the running timer chip
   counter. */
void Entropy(uint32_t e[4]) {
    e[0] = DosClock(0x2C00);
    e[1] = DosClock(0x2A00);
    e[2] = Ticks();
    OutByte(0x43, 0x00); /* latch counter 0 */
    e[3] = InByte(0x40);
    e[3] |= (uint32_t)InByte(0x40) << 8;
}

/* --- screen ------------------------------------------------------------ */

#define VIDEO 0xB800

void ScreenAt(unsigned row, unsigned column, uint8_t attribute, const char* s) {
    uint16_t cells[80];
    unsigned n = 0;
    while (s[n] && column + n < 80) {
        cells[n] = (uint16_t)((uint8_t)s[n] | attribute << 8);
        ++n;
    }
    if (row < 25 && n) FarPut(VIDEO, (uint16_t)((row * 80 + column) * 2), cells, n * 2);
}

void ScreenCursor(unsigned row, unsigned column) {
    struct TRegs r = {0};
    r.ax = 0x0200;
    r.dx = (uint16_t)(row << 8 | column);
    Int10(&r);
}
static uint16_t CursorAt;

void ScreenSave(void) {
    FarCopy(SavedScreen, VIDEO, 0, 4000);
    struct TRegs r = {0};
    r.ax = 0x0300;
    Int10(&r);
    CursorAt = r.dx;
}

void ScreenRestore(void) {
    FarCopy(VIDEO, SavedScreen, 0, 4000);
    ScreenCursor(CursorAt >> 8, CursorAt & 0xFF);
}

/* --- mouse -------------------------------------------------------------------- */

int Mouse;

void MouseStart(void) {
    if (!PeekWord(0, 0x33 * 4) && !PeekWord(0, 0x33 * 4 + 2)) return;
    struct TRegs r = {0};
    Int33(&r);
    if (r.ax != 0xFFFF) return;
    Mouse = 1;
    r = (struct TRegs){0};
    r.ax = 1;
    Int33(&r);
}

void MouseHide(int hide) {
    if (!Mouse) return;
    struct TRegs r = {0};
    r.ax = hide ? 2 : 1;
    Int33(&r);
}

/* A left-button press since the last call: its text row and column. */
int MouseClick(unsigned* row, unsigned* column) {
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

/* --- transfer buffers -------------------------------------------------------- */

static uint16_t Allocate(uint16_t paragraphs) {
    struct TRegs r = {0};
    r.ax = 0x4800;
    r.bx = paragraphs;
    return Int21(&r) ? 0 : r.ax;
}

/* 8 KB of descriptors, 8 KB aligned: never across a 64 KB boundary. */
#define PRD_PARAGRAPHS (PRD_ENTRIES * 8 / 16)

/* Each buffer starts on a boundary of its own size (a power of two from
   4 KB to 64 KB), so none crosses a 64 KB physical boundary and every one
   starts on a 4 KB page: a BIOS then moves a request in one piece instead
   of through its bounce buffer, and the bus master needs no split. The
   read area takes up to four buffers for large bus-master reads; then the
   copy of the screen and the bus master's descriptor table. */
int PlatformBuffers(void) {
    if (WriteSeg) return 0;
    for (uint16_t size = 0x1000; size >= 0x100; size /= 2)
        for (unsigned reads = size == 0x1000 ? 4 : 1; reads; reads /= 2) {
            const uint16_t block =
                Allocate((uint16_t)(size * (reads + 2) + SCREEN_PARAGRAPHS + 2 * PRD_PARAGRAPHS));
            if (!block) continue;
            WriteSeg = (uint16_t)((block + size - 1) & ~(size - 1));
            ReadSeg = (uint16_t)(WriteSeg + size);
            SavedScreen = (uint16_t)(ReadSeg + reads * size);
            PrdSeg = (uint16_t)((SavedScreen + SCREEN_PARAGRAPHS + PRD_PARAGRAPHS - 1) &
                                ~(PRD_PARAGRAPHS - 1));
            BufferSectors = size / 32;
            ReadSectors = BufferSectors * reads;
            return 0;
        }
    return 1;
}
