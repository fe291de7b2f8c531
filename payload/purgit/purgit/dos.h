/* Real-mode services for a tiny-model program built with gcc -m16: code, data
   and stack share one segment, so a near pointer is a DS offset. */
#ifndef PURGIT_DOS_H
#define PURGIT_DOS_H

#include <stdint.h>

#include "platform.h"

struct TDisk;

struct TRegs {
    uint16_t ax, bx, cx, dx, si, di;
};

/* Each answers 1 when the service returned with the carry flag set. ES is
   our own segment during the call. */
int Int21(struct TRegs* r);
int Int13(struct TRegs* r);
int Int10(struct TRegs* r);
int Int33(struct TRegs* r);
int Int15(struct TRegs* r);
/* INT 13h with ES = es (transfers into a buffer outside our segment). */
int Int13Es(struct TRegs* r, uint16_t es);
/* ES:BX of the last Int13Es call (AH=08h answers a table there). */
extern uint16_t LastEs;

/* The keyboard through INT 16h: a waiting key (scan code << 8 | character)
   without taking it, or 0; and the next key, waiting for it. */
unsigned KeyPeek(void);
unsigned KeyRead(void);

/* Far memory. Offsets and counts stay inside one 64 KB segment. */
void FarPut(uint16_t seg, uint16_t off, const void* src, unsigned n);
void FarGet(void* dst, uint16_t seg, uint16_t off, unsigned n);
/* Copies n bytes (a multiple of 4) between segments at the same offset. */
void FarCopy(uint16_t dstSeg, uint16_t srcSeg, uint16_t off, unsigned n);
/* Repeats the first length bytes at seg:0 up to total bytes (total - 4 *
   length a multiple of 4). */
void FarRepeat(uint16_t seg, unsigned length, unsigned total);
/* Answers 1 when n bytes (a multiple of 32) at off in both segments match. */
int FarEqual(uint16_t segA, uint16_t segB, uint16_t off, unsigned n);
/* BufferInvert and BufferXorshift in seg (platform.h). */
void FarInvert(uint16_t seg, uint32_t bytes);
void FarXorshift(uint16_t seg, unsigned words, uint32_t s[4], int invert);
uint8_t PeekByte(uint16_t seg, uint16_t off);
uint16_t PeekWord(uint16_t seg, uint16_t off);
void PokeWord(uint16_t seg, uint16_t off, uint16_t v);

/* BIOS timer ticks since midnight (18.2 a second), carried past midnight. */
uint32_t Ticks(void);

void OutByte(uint16_t port, uint8_t v);
uint8_t InByte(uint16_t port);
void OutWord(uint16_t port, uint16_t v);
uint16_t InWord(uint16_t port);
void OutDword(uint16_t port, uint32_t v);
uint32_t InDword(uint16_t port);

/* The command tail as DOS gave it (PSP:80h), terminated by a NUL. */
extern char CommandTail[128];

/* A copy of the screen as the program found it (SavedScreen:0). */
#define SCREEN_PARAGRAPHS 0x100
extern uint16_t SavedScreen;

/* --- DOS: option 11: bus-master DMA (ata.c) ------------------------------------- */

/* Chooses the path of every disk: DMA where a PCI IDE controller in legacy
   mode serves the disk's ports and the disk does DMA. */
void DmaFindPaths(void);
/* One READ/WRITE DMA (EXT) of count sectors at seg:off; answers 0, an error
   status like the BIOS's, or DMA_TIMEOUT (the channel was reset). */
#define DMA_TIMEOUT 0x180
/* Where the descriptor table goes (a segment, 8 KB of PRD_ENTRIES), and
   after how many bytes of seg:off a request starts over at seg:off (0:
   never), so one buffer serves a large request of a fixed pattern. */
extern uint16_t PrdSeg;
extern uint32_t DmaRepeat;
#define PRD_ENTRIES 1024
unsigned DmaTransfer(struct TDisk* d, int write, uint32_t lba, unsigned count, uint16_t seg,
                     uint16_t off);
/* Gives the channel back to the BIOS as it expects it (interrupts on). */
void DmaRelease(const struct TDisk* d);

/* --- DOS: where the report goes ------------------------------------------------- */

/* Marks the disk the system started from, which is never offered. */
void MarkBootDisk(void);
/* While on, DOS critical errors (an empty or write-protected floppy) fail
   the call instead of asking the user. */
void CriticalErrorsFail(int on);

/* Text in a block of DOS memory (fartext.c); lost: no memory, or more text
   than the block holds. */
struct TFarText {
    uint16_t seg, length, limit;
    uint8_t lost;
};
/* INT 21h with AX, BX, CX, DX = dx: answers the error (carry set), or 0;
   out gets AX. */
unsigned Dos(uint16_t ax, uint16_t bx, uint16_t cx, const void* dx, uint16_t* out);
void FarTextClear(struct TFarText* s, uint16_t paragraphs);
void FarTextAdd(struct TFarText* s, const char* text, unsigned n);
/* Writes the text to a new file; with whole set, only a text kept in
   full. Answers the DOS error, or 0. */
unsigned FarTextSave(const struct TFarText* s, const char* path, int whole);
/* The report (what of it was kept) and the record (only whole) to files. */
unsigned ReportSave(const char* path);
unsigned RecordSave(const char* path);

#endif
