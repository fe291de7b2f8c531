/* Start-up and service wrappers of PURGIT. DOS enters with DS = ES = PSP and
   SS:SP from the MZ header (our own segment, top of it). */
#include "dos.h"

char CommandTail[128];

int main(void);

__asm__(".section .text.start,\"ax\",@progbits\n"
        ".globl _start\n"
        "_start:\n"
        "    cld\n"
        /* gcc addresses the stack through ESP and EBP: their upper halves
           must be zero. */
        "    movzwl %sp, %esp\n"
        "    xorl %ebp, %ebp\n"
        "    movw %cs, %ax\n"
        "    movw %ax, %es\n"
        "    movw $__bss_start, %di\n"
        "    movw $__bss_end, %cx\n"
        "    subw %di, %cx\n"
        "    xorb %al, %al\n"
        "    rep stosb\n"
        /* Copy the command tail out of the PSP while DS still points there. */
        "    xorw %cx, %cx\n"
        "    movb 0x80, %cl\n"
        "    cmpw $126, %cx\n"
        "    jbe 1f\n"
        "    movw $126, %cx\n"
        "1:  movw $0x81, %si\n"
        "    movw $CommandTail, %di\n"
        "    rep movsb\n"
        "    movw %es, %ax\n"
        "    movw %ax, %ds\n"
        "    calll main\n"
        "    movb $0x4c, %ah\n"
        "    int $0x21\n"
        ".previous\n");

/* The services may change any register we name; BP and the segment
   registers are kept. INT 13h AH=08h returns ES:DI for floppies, so ES is
   saved around the call. */
#define SERVICE(name, vector)                                                  \
    int name(struct TRegs* r) {                                                \
        uint16_t ax = r->ax, bx = r->bx, cx = r->cx, dx = r->dx, si = r->si,   \
                 di = r->di;                                                   \
        _Bool carry;                                                           \
        __asm__ volatile("pushw %%es\n\t"                                      \
                         "pushw %%ds\n\t"                                      \
                         "popw %%es\n\t"                                       \
                         "stc\n\t"                                             \
                         "int $" #vector "\n\t"                                \
                         "popw %%es"                                           \
                         : "+a"(ax), "+b"(bx), "+c"(cx), "+d"(dx), "+S"(si),   \
                           "+D"(di), "=@ccc"(carry)                            \
                         :                                                     \
                         : "memory");                                          \
        r->ax = ax;                                                            \
        r->bx = bx;                                                            \
        r->cx = cx;                                                            \
        r->dx = dx;                                                            \
        r->si = si;                                                            \
        r->di = di;                                                            \
        return carry;                                                          \
    }

SERVICE(Int21, 0x21)
SERVICE(Int13, 0x13)

void* memset(void* d, int c, unsigned n) {
    unsigned char* p = d;
    while (n--) *p++ = (unsigned char)c;
    return d;
}

void* memcpy(void* d, const void* s, unsigned n) {
    unsigned char* p = d;
    const unsigned char* q = s;
    while (n--) *p++ = *q++;
    return d;
}
