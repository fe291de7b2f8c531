/* xorshift128 (Marsaglia 2003) in GCC's inline assembly, the state in
   EAX, EBX, ECX and EDX: a step takes the oldest word in x, puts the new
   one in its place and uses the newest, w (ESI is scratch), so four steps
   with the registers taken in turn leave the state where it started and
   need no moves between them. The DOS wiper runs these steps in real mode
   (dos.c); the benchmark in bench/ runs them natively in 64-bit mode. */
#ifndef PURGIT_XORSHIFT_H
#define PURGIT_XORSHIFT_H

#include <stdint.h>

#define XORSHIFT_STEP(x, w)                                                                        \
    "movl %%" x ", %%esi\n\tshll $11, %%esi\n\txorl %%esi, %%" x "\n\t"                            \
    "movl %%" x ", %%esi\n\tshrl $8, %%esi\n\txorl %%esi, %%" x "\n\txorl %%" w ", %%" x "\n\t"    \
    "movl %%" w ", %%esi\n\tshrl $19, %%esi\n\txorl %%esi, %%" x "\n\t"

/* Four steps, each word stored by STORE(register, byte offset). */
#define XORSHIFT_FOUR(STORE)                                                                       \
    XORSHIFT_STEP("eax", "edx") STORE("eax", 0) XORSHIFT_STEP("ebx", "eax") STORE("ebx", 4)       \
        XORSHIFT_STEP("ecx", "ebx") STORE("ecx", 8) XORSHIFT_STEP("edx", "ecx") STORE("edx", 12)

#ifdef __x86_64__
#define XORSHIFT_STORE64(r, k) "movl %%" r ", " #k "(%[out])\n\t"
/* Words from out up to end (a multiple of four words, at least four) from
   state s, which then holds the state after them. */
static inline void XorshiftWords(uint32_t* out, const uint32_t* end, uint32_t s[4]) {
    __asm__ volatile("movl (%[s]), %%eax\n\tmovl 4(%[s]), %%ebx\n\t"
                     "movl 8(%[s]), %%ecx\n\tmovl 12(%[s]), %%edx\n"
                     "1:\n\t" XORSHIFT_FOUR(XORSHIFT_STORE64)
                     "addq $16, %[out]\n\tcmpq %[end], %[out]\n\tjb 1b\n\t"
                     "movl %%eax, (%[s])\n\tmovl %%ebx, 4(%[s])\n\t"
                     "movl %%ecx, 8(%[s])\n\tmovl %%edx, 12(%[s])"
                     : [out] "+r"(out)
                     : [s] "r"(s), [end] "r"(end)
                     : "eax", "ebx", "ecx", "edx", "esi", "memory", "cc");
}
#undef XORSHIFT_STORE64
#endif

#endif
