/* Real-mode services for a tiny-model program built with gcc -m16: code, data
   and stack share one segment, so a near pointer is a DS offset. */
#ifndef PURGIT_DOS_H
#define PURGIT_DOS_H

#include <stdint.h>

struct TRegs {
    uint16_t ax, bx, cx, dx, si, di;
};

/* Each answers 1 when the service returned with the carry flag set. */
int Int21(struct TRegs* r);
int Int13(struct TRegs* r);

/* The command tail as DOS gave it (PSP:80h), terminated by a NUL. */
extern char CommandTail[128];

void* memset(void* d, int c, unsigned n);
void* memcpy(void* d, const void* s, unsigned n);

#endif
