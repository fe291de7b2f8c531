/* xorshift128 (Marsaglia 2003) in GCC's inline assembly, the state in
   EAX, EBX, ECX and EDX: a step takes the oldest word in x, puts the new
   one in its place and uses the newest, w (ESI is scratch), so four steps
   with the registers taken in turn leave the state where it started and
   need no moves between them. The DOS wiper runs these steps in real mode
   (dos.c); the benchmark in bench/ runs them natively in 64-bit mode. */
#ifndef PURGIT_XORSHIFT_H
#define PURGIT_XORSHIFT_H

#define XORSHIFT_STEP(x, w)                                                                        \
    "movl %%" x ", %%esi\n\tshll $11, %%esi\n\txorl %%esi, %%" x "\n\t"                            \
    "movl %%" x ", %%esi\n\tshrl $8, %%esi\n\txorl %%esi, %%" x "\n\txorl %%" w ", %%" x "\n\t"    \
    "movl %%" w ", %%esi\n\tshrl $19, %%esi\n\txorl %%esi, %%" x "\n\t"

/* Four steps, each word stored by STORE(register, byte offset). */
#define XORSHIFT_FOUR(STORE)                                                                       \
    XORSHIFT_STEP("eax", "edx") STORE("eax", 0) XORSHIFT_STEP("ebx", "eax") STORE("ebx", 4)       \
        XORSHIFT_STEP("ecx", "ebx") STORE("ecx", 8) XORSHIFT_STEP("edx", "ecx") STORE("edx", 12)

#endif
