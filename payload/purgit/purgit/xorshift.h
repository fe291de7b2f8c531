/* One xorshift128 step (Marsaglia 2003) for GCC's inline assembly, in the
   32-bit registers named: x holds the oldest of the four state words and
   receives the new one, w holds the newest; ESI is scratch. Four steps
   with the registers taken in turn leave the state where it started. The
   DOS wiper runs these instructions in real mode (dos.c); the benchmark in
   bench/ runs the same ones natively. */
#ifndef PURGIT_XORSHIFT_H
#define PURGIT_XORSHIFT_H

#define XORSHIFT_STEP(x, w)                                                                        \
    "movl %%" x ", %%esi\n\tshll $11, %%esi\n\txorl %%esi, %%" x "\n\t"                            \
    "movl %%" x ", %%esi\n\tshrl $8, %%esi\n\txorl %%esi, %%" x "\n\txorl %%" w ", %%" x "\n\t"    \
    "movl %%" w ", %%esi\n\tshrl $19, %%esi\n\txorl %%esi, %%" x "\n\t"

#endif
