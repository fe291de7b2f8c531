/* Real-mode services for a tiny-model program built with gcc -m16: code, data
   and stack share one segment, so a near pointer is a DS offset. */
#ifndef PURGIT_DOS_H
#define PURGIT_DOS_H

#include <stdint.h>

struct TRegs {
    uint16_t ax, bx, cx, dx, si, di;
};

/* Each answers 1 when the service returned with the carry flag set. ES is
   our own segment during the call. */
int Int21(struct TRegs* r);
int Int13(struct TRegs* r);
int Int10(struct TRegs* r);
int Int33(struct TRegs* r);
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

void* memset(void* d, int c, unsigned n);
void* memcpy(void* d, const void* s, unsigned n);
int memcmp(const void* a, const void* b, unsigned n);
unsigned strlen(const char* s);

#endif
