/* The machine's SMBIOS tables on DOS: the entry point lies on a 16-byte
   boundary in the BIOS area F0000h-FFFFFh; the structure table may lie
   above 1 MB, where INT 15h AH=87h copies it from. */
#include "dos.h"
#include "purgit.h"

/* A descriptor of INT 15h AH=87h's table: limit, 32-bit base, data. */
static void Descriptor(uint8_t* e, uint32_t base) {
    e[0] = e[1] = 0xFF;
    memcpy(e + 2, &base, 3);
    e[5] = 0x93;
    e[7] = (uint8_t)(base >> 24);
}

/* n (even, at most 2048) bytes from a physical address; answers 0 when
   they could not be had. */
static int CopyPhysical(uint32_t from, uint8_t* to, unsigned n) {
    if (from + n <= 0x100000ul) {
        FarGet(to, (uint16_t)(from >> 4), (uint16_t)(from & 15), n);
        return 1;
    }
    uint8_t table[48];
    uint16_t ds;
    __asm__("movw %%ds, %0" : "=r"(ds));
    memset(table, 0, sizeof table);
    Descriptor(table + 0x10, from);
    Descriptor(table + 0x18, ((uint32_t)ds << 4) + (uint16_t)(uintptr_t)to);
    struct TRegs r = {0};
    r.ax = 0x8700;
    r.cx = (uint16_t)(n / 2);
    r.si = (uint16_t)(uintptr_t)table;
    return !Int15(&r) && !(r.ax >> 8);
}

void FindMachine(void) {
    uint8_t* const table = (uint8_t*)ScratchText;
    uint8_t e[32];
    uint32_t address = 0;
    unsigned length = 0;
    struct TText t = {Machine.version, 0, sizeof Machine.version};
    /* The 32-bit entry point ("_SM_", with "_DMI_" at 10h): what a BIOS
       offers below 1 MB. */
    for (uint16_t seg = 0xF000; seg && !address; ++seg) {
        FarGet(e, seg, 0, 32);
        uint8_t sum = 0;
        for (unsigned i = 0; i < 31; ++i)
            sum = (uint8_t)(sum + e[i]);
        if (memcmp(e, "_SM_", 4) || memcmp(e + 0x10, "_DMI_", 5) || (e[5] == 31 && sum)) continue;
        TextNumber(&t, e[6]);
        TextChar(&t, '.');
        TextNumber(&t, e[7]);
        length = e[0x16] | (unsigned)e[0x17] << 8;
        memcpy(&address, e + 0x18, 4);
        seg = 0xFFFF;
    }
    if (!address) {
        TextAdd(&t, "none");
        return;
    }
    const unsigned n = length > SCRATCH_LIMIT ? SCRATCH_LIMIT : (length + 1) & ~1u;
    if (!CopyPhysical(address, table, n)) return;
    MachineFromTable(table, n, e[6], e[7]);
}
