/* Start-up and service wrappers of PURGIT. DOS enters with DS = ES = PSP and
   SS:SP from the MZ header (our own segment, top of it). */
#include "dos.h"
#include "xorshift.h"

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
SERVICE(Int10, 0x10)
SERVICE(Int33, 0x33)
SERVICE(Int15, 0x15)

uint16_t LastEs;

int Int13Es(struct TRegs* r, uint16_t es) {
    uint16_t ax = r->ax, bx = r->bx, cx = r->cx, dx = r->dx, si = r->si, di = r->di;
    _Bool carry;
    /* Every general register carries an argument, so ES travels through a
       variable at a fixed address. */
    LastEs = es;
    __asm__ volatile("pushw %%es\n\t"
                     "pushw %%bp\n\t"
                     "movw LastEs, %%es\n\t"
                     "stc\n\t"
                     "int $0x13\n\t"
                     "popw %%bp\n\t"
                     "movw %%es, LastEs\n\t"
                     "popw %%es"
                     : "+a"(ax), "+b"(bx), "+c"(cx), "+d"(dx), "+S"(si), "+D"(di),
                       "=@ccc"(carry)
                     :
                     : "memory");
    r->ax = ax;
    r->bx = bx;
    r->cx = cx;
    r->dx = dx;
    r->si = si;
    r->di = di;
    return carry;
}

unsigned KeyPeek(void) {
    uint16_t ax = 0x0100;
    _Bool none;
    __asm__ volatile("int $0x16" : "+a"(ax), "=@ccz"(none) : : "memory");
    return none ? 0 : (ax ? ax : 0xFFFF);
}

unsigned KeyRead(void) {
    uint16_t ax = 0x0000;
    __asm__ volatile("int $0x16" : "+a"(ax) : : "memory");
    return ax;
}

/* Dwords first: the buffers are filled through here. */
void FarPut(uint16_t seg, uint16_t off, const void* src, unsigned n) {
    uint32_t si = (uint32_t)(uintptr_t)src, di = off, cx = n / 4, rest = n % 4;
    __asm__ volatile("pushw %%es\n\tmovw %w4, %%es\n\trep movsl\n\tmovl %3, %%ecx\n\t"
                     "rep movsb\n\tpopw %%es"
                     : "+S"(si), "+D"(di), "+c"(cx)
                     : "r"(rest), "r"(seg)
                     : "memory");
}

void FarGet(void* dst, uint16_t seg, uint16_t off, unsigned n) {
    uint32_t si = off, di = (uint32_t)(uintptr_t)dst, cx = n;
    __asm__ volatile("pushw %%ds\n\tmovw %w3, %%ds\n\trep movsb\n\tpopw %%ds"
                     : "+S"(si), "+D"(di), "+c"(cx)
                     : "r"(seg)
                     : "memory");
}

void FarCopy(uint16_t dstSeg, uint16_t srcSeg, uint16_t off, unsigned n) {
    uint32_t si = off, di = off, cx = n / 4;
    __asm__ volatile("pushw %%ds\n\tpushw %%es\n\tmovw %w3, %%ds\n\tmovw %w4, %%es\n\t"
                     "rep movsl\n\tpopw %%es\n\tpopw %%ds"
                     : "+S"(si), "+D"(di), "+c"(cx)
                     : "r"(srcSeg), "r"(dstSeg)
                     : "memory");
}

/* Forward copies onto themselves: bytes until the piece is four times the
   pattern (at least a dword), then dwords. */
void FarRepeat(uint16_t seg, unsigned length, unsigned total) {
    uint32_t si = 0, di = length, cx = 3 * length;
    __asm__ volatile("pushw %%ds\n\tpushw %%es\n\tmovw %w3, %%ds\n\tmovw %w3, %%es\n\t"
                     "rep movsb\n\txorl %%esi, %%esi\n\tmovl %4, %%ecx\n\trep movsl\n\t"
                     "popw %%es\n\tpopw %%ds"
                     : "+S"(si), "+D"(di), "+c"(cx)
                     : "r"(seg), "r"((uint32_t)(total - 4 * length) / 4)
                     : "memory");
}

/* The read-back compares 64 KB a request: 32 bytes a turn, the
   differences gathered by OR, which QEMU runs about 1.5 times as fast as
   REPE CMPSD (bench/RESULTS.md). */
int FarEqual(uint16_t segA, uint16_t segB, uint16_t off, unsigned n) {
    uint32_t si = off, cx = n / 32, diff = 0;
    if (!cx) return 1;
#define FAR_XOR(k) "movl " #k "(%%si), %%eax\n\txorl %%es:" #k "(%%si), %%eax\n\torl %%eax, %0\n\t"
    __asm__ volatile(
        "pushw %%ds\n\tpushw %%es\n\tmovw %w3, %%ds\n\tmovw %w4, %%es\n"
        "1:\n\t" FAR_XOR(0) FAR_XOR(4) FAR_XOR(8) FAR_XOR(12) FAR_XOR(16) FAR_XOR(20) FAR_XOR(24)
            FAR_XOR(28) "addw $32, %%si\n\tdecl %%ecx\n\tjnz 1b\n\tpopw %%es\n\tpopw %%ds"
        : "+r"(diff), "+S"(si), "+c"(cx)
        : "r"(segA), "r"(segB)
        : "eax", "memory");
#undef FAR_XOR
    return !diff;
}

/* xorshift128 straight into seg:0, four words a turn so that the state
   stays in registers (xorshift.h): about 11 instructions a word and no
   copy, where the C loop took 17 and a copy. ES is given back as DS,
   which the compiler's code assumes. */
void FarXorshift(uint16_t seg, unsigned words, uint32_t s[4], int invert) {
    const uint32_t end = words * 4;
    const uint32_t state = (uint32_t)(uintptr_t)s;
    uint32_t si = state, di = 0;
#define XS_STORE(r, k) "movl %%" r ", %%es:" #k "(%%di)\n\t"
    __asm__ volatile("movw %[seg], %%es\n\t"
                     "movl (%%si), %%eax\n\tmovl 4(%%si), %%ebx\n\t"
                     "movl 8(%%si), %%ecx\n\tmovl 12(%%si), %%edx\n"
                     "1:\n\t" XORSHIFT_FOUR(XS_STORE)
                     "addl $16, %%edi\n\tcmpl %[end], %%edi\n\tjb 1b\n\t"
                     "movl %[s], %%esi\n\tmovl %%eax, (%%si)\n\tmovl %%ebx, 4(%%si)\n\t"
                     "movl %%ecx, 8(%%si)\n\tmovl %%edx, 12(%%si)\n\t"
                     "movw %%ds, %%si\n\tmovw %%si, %%es"
                     : "+S"(si), "+D"(di)
                     : [seg] "m"(seg), [end] "m"(end), [s] "m"(state)
                     : "eax", "ebx", "ecx", "edx", "memory", "cc");
#undef XS_STORE
    if (invert) FarInvert(seg, end);
}

void FarInvert(uint16_t seg, uint32_t bytes) {
    uint32_t di = 0;
    __asm__ volatile("pushw %%es\n\tmovw %[seg], %%es\n"
                     "1:\n\tnotl %%es:(%%di)\n\tnotl %%es:4(%%di)\n\taddl $8, %%edi\n\t"
                     "cmpl %[end], %%edi\n\tjb 1b\n\tpopw %%es"
                     : "+D"(di)
                     : [seg] "r"(seg), [end] "r"(bytes)
                     : "memory", "cc");
}

uint8_t PeekByte(uint16_t seg, uint16_t off) {
    uint8_t v;
    FarGet(&v, seg, off, 1);
    return v;
}

uint16_t PeekWord(uint16_t seg, uint16_t off) {
    uint16_t v;
    FarGet(&v, seg, off, 2);
    return v;
}

void PokeWord(uint16_t seg, uint16_t off, uint16_t v) { FarPut(seg, off, &v, 2); }

uint32_t Ticks(void) {
    static uint32_t last, carried;
    uint32_t now;
    __asm__ volatile("cli");
    FarGet(&now, 0x40, 0x6C, 4);
    __asm__ volatile("sti");
    if (now < last) carried += 1573040ul; /* the count restarts at midnight */
    last = now;
    return now + carried;
}

void OutByte(uint16_t port, uint8_t v) { __asm__ volatile("outb %0, %1" : : "a"(v), "Nd"(port)); }
uint8_t InByte(uint16_t port) {
    uint8_t v;
    __asm__ volatile("inb %1, %0" : "=a"(v) : "Nd"(port));
    return v;
}
void OutWord(uint16_t port, uint16_t v) { __asm__ volatile("outw %0, %1" : : "a"(v), "Nd"(port)); }
uint16_t InWord(uint16_t port) {
    uint16_t v;
    __asm__ volatile("inw %1, %0" : "=a"(v) : "Nd"(port));
    return v;
}
void OutDword(uint16_t port, uint32_t v) { __asm__ volatile("outl %0, %1" : : "a"(v), "Nd"(port)); }
uint32_t InDword(uint16_t port) {
    uint32_t v;
    __asm__ volatile("inl %1, %0" : "=a"(v) : "Nd"(port));
    return v;
}

int memcmp(const void* a, const void* b, unsigned n) {
    const unsigned char *p = a, *q = b;
    for (; n; --n, ++p, ++q)
        if (*p != *q) return *p - *q;
    return 0;
}

unsigned strlen(const char* s) {
    unsigned n = 0;
    while (s[n]) ++n;
    return n;
}

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
