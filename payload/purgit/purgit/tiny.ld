/* One 64 KB segment from offset 0: start-up code first, then code, data and
   the zero-filled data that the start-up code clears. */
OUTPUT_FORMAT("elf32-i386")
OUTPUT_ARCH(i386)
ENTRY(_start)
SECTIONS
{
    . = 0;
    .text : { *(.text.start) *(.text .text.*) }
    .rodata : { *(.rodata .rodata.*) }
    .data : { *(.data .data.*) }
    . = ALIGN(2);
    __bss_start = .;
    .bss : { *(.bss .bss.*) *(COMMON) }
    __bss_end = .;
    /* The stack grows down from FFFEh towards the zero-filled data. */
    ASSERT(__bss_end <= 0xF000, "PURGIT: less than 4 KB left for the stack")
    /DISCARD/ : { *(.comment) *(.note*) *(.eh_frame*) }
}
