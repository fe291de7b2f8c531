/* Purge: the drive erases itself (NVMe Format NVM and Sanitize, ATA
   Sanitize and Security Erase Unit), and the wiper checks that it did:
   marker sectors written at LBAs spread over the disk before the command
   must not read back afterwards, and erases defined to leave zeros must
   read zeros. A command that says success while the check finds data is a
   failure. Nothing here calls the firmware: see purge.h. */
#include "purge.h"

const struct TPurgeMethod PurgeMethods[PURGE_METHODS] = {
    {"", "", 0, 0},
    {"NVMEFMT", "NVMe Format, user data erase", 1, 0},
    {"NVMEFMTC", "NVMe Format, cryptographic erase", 1, 0},
    {"NVMESANB", "NVMe Sanitize, block erase", 1, 0},
    {"NVMESANC", "NVMe Sanitize, crypto erase", 1, 0},
    {"NVMESANO", "NVMe Sanitize, overwrite with zeros", 1, 1},
    {"ATASANB", "ATA Sanitize, block erase", 0, 0},
    {"ATASANC", "ATA Sanitize, crypto scramble", 0, 0},
    {"ATASANO", "ATA Sanitize, overwrite with zeros", 0, 1},
    {"ATASE", "ATA Security Erase Unit, normal", 0, 0},
    {"ATASEE", "ATA Security Erase Unit, enhanced", 0, 0},
};

/* The temporary user password Security Erase needs; the drive clears it
   when the erase succeeds. */
static const char Password[] = "PURGIT";

static int Upper(int c) {
    return c >= 'a' && c <= 'z' ? c - 32 : c;
}

unsigned PurgeMethodNamed(const char* name) {
    for (unsigned m = 1; m < PURGE_METHODS; ++m) {
        const char* p = PurgeMethods[m].name;
        unsigned i = 0;
        while (p[i] && Upper(name[i]) == p[i])
            ++i;
        if (p[i]) continue;
        if (!name[i]) return m;
        if (name[i] == '.' && Upper(name[i + 1]) == 'M' && Upper(name[i + 2]) == 'E' &&
            Upper(name[i + 3]) == 'T' && !name[i + 4])
            return m;
    }
    return PURGE_NONE;
}

/* --- text ------------------------------------------------------------------ */

struct TOut {
    char* at;
    unsigned length, room;
};

static void Put(struct TOut* o, const char* s) {
    while (*s && o->length + 1 < o->room)
        o->at[o->length++] = *s++;
    o->at[o->length] = 0;
}

static void PutNumber(struct TOut* o, uint64_t v) {
    char digits[21];
    unsigned n = 0;
    do {
        digits[n++] = (char)('0' + v % 10);
        v /= 10;
    } while (v);
    char s[2] = {0, 0};
    while (n) {
        s[0] = digits[--n];
        Put(o, s);
    }
}

static void PutHex(struct TOut* o, unsigned v, unsigned digits) {
    char s[2] = {0, 0};
    while (digits--) {
        s[0] = "0123456789ABCDEF"[v >> digits * 4 & 15];
        Put(o, s);
    }
}

/* --- capabilities ---------------------------------------------------------- */

static uint32_t Le32(const uint8_t* p) {
    return p[0] | p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

static void Clear(void* p, unsigned n) {
    uint8_t* b = p;
    while (n--)
        *b++ = 0;
}

/* Identify Controller: OACS bit 1 Format NVM, FNA bit 2 crypto erase;
   SANICAP bits 0-2 crypto, block, overwrite. Identify Namespace: FLBAS
   and DPS, which a Format keeps. */
void PurgeNvmeCaps(struct TPurgeCaps* c, const uint8_t* controller, const uint8_t* space,
                   uint32_t nsid) {
    Clear(c, sizeof *c);
    c->bus = PURGE_BUS_NVME;
    c->nsid = nsid;
    c->format = (controller[256] & 2) != 0;
    c->fna = controller[524];
    c->sanicap = Le32(controller + 328);
    if (space) {
        c->flbas = space[26];
        c->dps = space[29];
    }
    if (c->format && space) {
        c->offers |= 1 << PURGE_NVME_FORMAT;
        if (c->fna & 4) c->offers |= 1 << PURGE_NVME_FORMAT_CRYPTO;
    }
    if (c->sanicap & 2) c->offers |= 1 << PURGE_NVME_SAN_BLOCK;
    if (c->sanicap & 1) c->offers |= 1 << PURGE_NVME_SAN_CRYPTO;
    if (c->sanicap & 4) c->offers |= 1 << PURGE_NVME_SAN_OVERWRITE;
}

/* Word 128: bit 0 supported, 1 enabled, 2 locked, 3 frozen, 4 count
   expired, 5 enhanced erase. Words 89 and 90: erase times. Word 59 bit 12
   the Sanitize feature set, 13 crypto scramble, 14 overwrite, 15 block
   erase. Words 82 and 83: the HPA (bit 10) and DCO (bit 11) feature sets. */
static uint16_t EraseMinutes(uint16_t w) {
    if (w & 0x8000) return (uint16_t)((w & 0x7FFF) * 2);
    return (uint16_t)((w & 0xFF) * 2);
}

void PurgeAtaCaps(struct TPurgeCaps* c, const uint16_t* identify) {
    Clear(c, sizeof *c);
    c->bus = PURGE_BUS_ATA;
    const uint16_t w82 = identify[82], w83 = identify[83];
    const int valid82 = w82 != 0 && w82 != 0xFFFF, valid83 = (w83 & 0xC000) == 0x4000;
    c->security = identify[128];
    if (!(valid82 && (w82 & 2)) && !(c->security & 1)) c->security = 0;
    c->eraseMinutes = EraseMinutes(identify[89]);
    c->enhancedMinutes = EraseMinutes(identify[90]);
    c->sanitize = identify[59] & 0x1000 ? identify[59] : 0;
    c->hpa = valid82 && (w82 & 0x400);
    c->dco = valid83 && (w83 & 0x800);
    c->lba48 = valid83 && (w83 & 0x400);
    c->userSectors = c->lba48 ? identify[100] | (uint32_t)identify[101] << 16 |
                                    (uint64_t)identify[102] << 32 | (uint64_t)identify[103] << 48
                              : identify[60] | (uint32_t)identify[61] << 16;
    if (c->sanitize & 0x8000) c->offers |= 1 << PURGE_ATA_SAN_BLOCK;
    if (c->sanitize & 0x2000) c->offers |= 1 << PURGE_ATA_SAN_CRYPTO;
    if (c->sanitize & 0x4000) c->offers |= 1 << PURGE_ATA_SAN_OVERWRITE;
    if ((c->security & 1) && !(c->security & 0x1E)) {
        c->offers |= 1 << PURGE_ATA_SE;
        if (c->security & 0x20) c->offers |= 1 << PURGE_ATA_SEE;
    }
}

static void List(struct TOut* o, const char* head, const char* const* names, unsigned bits,
                 unsigned count) {
    Put(o, head);
    Put(o, " (");
    unsigned n = 0;
    for (unsigned i = 0; i < count; ++i)
        if (bits >> i & 1) {
            if (n++) Put(o, ", ");
            Put(o, names[i]);
        }
    Put(o, ")");
}

void PurgeCapsText(char* out, unsigned room, const struct TPurgeCaps* c) {
    struct TOut o = {out, 0, room};
    out[0] = 0;
    static const char* const Sanitize[] = {"block", "crypto", "overwrite"};
    if (c->bus == PURGE_BUS_NVME) {
        Put(&o, "NVMe: ");
        if (c->format) {
            static const char* const Format[] = {"user data", "crypto"};
            List(&o, "Format", Format, 1 | ((c->fna & 4) ? 2 : 0), 2);
            if (c->fna & 1) Put(&o, " of all namespaces");
        } else {
            Put(&o, "no Format");
        }
        const unsigned s = (c->sanicap >> 1 & 1) | (c->sanicap & 1) << 1 | (c->sanicap & 4);
        if (s)
            List(&o, "; Sanitize", Sanitize, s, 3);
        else
            Put(&o, "; no Sanitize");
    } else if (c->bus == PURGE_BUS_ATA) {
        Put(&o, "ATA: ");
        if (c->security & 1) {
            Put(&o, "Security Erase");
            if (c->security & 0x20) Put(&o, " (enhanced too)");
            if (c->security & 8) Put(&o, ", frozen");
            if (c->security & 4)
                Put(&o, ", locked");
            else if (c->security & 2)
                Put(&o, ", password set");
            if (c->security & 0x10) Put(&o, ", count expired");
        } else {
            Put(&o, "no Security Erase");
        }
        const unsigned s =
            (c->sanitize >> 15 & 1) | (c->sanitize >> 12 & 2) | (c->sanitize >> 12 & 4);
        if (c->sanitize)
            List(&o, "; Sanitize", Sanitize, s, 3);
        else
            Put(&o, "; no Sanitize");
        if (c->hpa && c->nativeSectors > c->userSectors) {
            Put(&o, "; HPA hides ");
            PutNumber(&o, c->nativeSectors - c->userSectors);
            Put(&o, " sectors");
        } else if (c->hpa) {
            Put(&o, c->nativeSectors ? "; no HPA set" : "; HPA feature set");
        }
        if (c->dco) Put(&o, "; DCO feature set");
    } else {
        Put(&o, "no purge commands reachable");
    }
}

/* --- markers --------------------------------------------------------------- */

static uint8_t Expected[4096], Got[4096];
static uint64_t Marks[PURGE_MARKS];
static unsigned MarkCount;

/* A sector's marker: bytes from a xorshift stream of the seed and the
   LBA, none of them zero, so zeros or random data never pass for one. */
static void Marker(uint64_t lba, uint32_t seed, unsigned bytes) {
    uint32_t x = seed ^ (uint32_t)lba * 0x9E3779B9u ^ (uint32_t)(lba >> 32) ^ 0x50555247u;
    if (!x) x = 1;
    for (unsigned i = 0; i < bytes; i += 4) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        for (unsigned k = 0; k < 4; ++k) {
            const uint8_t b = (uint8_t)(x >> 8 * k);
            Expected[i + k] = b ? b : 0xA5;
        }
    }
}

/* A marker survives when any 32 bytes of it read back where they were. */
static int Survives(unsigned bytes) {
    for (unsigned i = 0; i < bytes; i += 32) {
        unsigned k = 0;
        while (k < 32 && Got[i + k] == Expected[i + k])
            ++k;
        if (k == 32) return 1;
    }
    return 0;
}

static int Zeros(unsigned bytes) {
    for (unsigned i = 0; i < bytes; ++i)
        if (Got[i]) return 0;
    return 1;
}

static void PlaceMarks(uint64_t sectors) {
    MarkCount = 0;
    for (unsigned k = 0; k < PURGE_MARKS; ++k) {
        const uint64_t lba = (sectors - 1) / (PURGE_MARKS - 1) * k +
                             (sectors - 1) % (PURGE_MARKS - 1) * k / (PURGE_MARKS - 1);
        if (MarkCount && Marks[MarkCount - 1] == lba) continue;
        Marks[MarkCount++] = lba;
    }
}

/* --- the run ----------------------------------------------------------------- */

uint32_t PurgeBound(uint64_t sectors, unsigned sectorBytes, uint32_t estimate) {
    const uint64_t bytes = sectors * sectorBytes;
    uint64_t bound = 7200 + bytes / 500000000000ull * 3600;
    if (estimate && estimate != 0xFFFFFFFFu && (uint64_t)estimate * 3 > bound)
        bound = (uint64_t)estimate * 3;
    return bound > 0xFFFFFFF0u ? 0xFFFFFFF0u : (uint32_t)bound;
}

struct TRun {
    unsigned disk, method;
    const struct TPurgeCaps* caps;
    uint64_t sectors;
    unsigned sectorBytes;
    uint32_t start;
    struct TPurgeResult* r;
    struct TOut o;
};

static void Say(struct TRun* run, unsigned outcome, const char* s) {
    run->r->outcome = (uint8_t)outcome;
    run->o.length = 0;
    Put(&run->o, s);
}

/* No answer: gone, or still busy when the command's own bound ran out. */
static void NoAnswer(struct TRun* run, uint32_t bound, const char* during) {
    if (PurgeClock() - run->start >= bound) {
        Say(run, PURGE_TIMED_OUT, "FAILED: no end within ");
        PutNumber(&run->o, bound / 60);
        Put(&run->o, " minutes (");
    } else {
        Say(run, PURGE_VANISHED, "FAILED: the disk no longer answers (");
    }
    Put(&run->o, during);
    Put(&run->o, "); the data may not be erased");
}

static void Refused(struct TRun* run, const char* what, unsigned status) {
    Say(run, PURGE_REFUSED, "FAILED: the drive rejected ");
    Put(&run->o, what);
    Put(&run->o, " (status ");
    PutHex(&run->o, status, 4);
    Put(&run->o, "h); nothing was erased");
    run->r->status = (uint16_t)status;
}

static int Nvme(struct TRun* run, struct TNvmeAdmin* c, uint8_t opcode, uint32_t nsid,
                uint32_t cdw10, uint32_t seconds) {
    c->opcode = opcode;
    c->nsid = nsid;
    c->cdw10 = cdw10;
    c->seconds = seconds;
    c->status = 0;
    return PurgeNvmeAdmin(run->disk, c);
}

/* The Sanitize Status log page (81h): progress, status, estimates. */
static int SanitizeLog(struct TRun* run, uint8_t log[512]) {
    struct TNvmeAdmin c;
    Clear(&c, sizeof c);
    Clear(log, 512);
    c.data = log;
    c.length = 512;
    if (Nvme(run, &c, 0x02, 0xFFFFFFFFu, 0x81 | 127u << 16, 30)) return -1;
    return c.status;
}

static int RunNvme(struct TRun* run) {
    const struct TPurgeCaps* k = run->caps;
    struct TNvmeAdmin c;
    Clear(&c, sizeof c);
    if (run->method == PURGE_NVME_FORMAT || run->method == PURGE_NVME_FORMAT_CRYPTO) {
        /* The namespace keeps its format, metadata and protection. */
        const uint32_t ses = run->method == PURGE_NVME_FORMAT ? 1 : 2;
        const uint32_t cdw10 = (k->flbas & 15u) | (k->flbas >> 4 & 1u) << 4 | (k->dps & 7u) << 5 |
                               (k->dps >> 3 & 1u) << 8 | ses << 9 | (k->flbas >> 5 & 3u) << 12;
        run->r->bound = PurgeBound(run->sectors, run->sectorBytes, 0);
        PurgeProgress(run->disk, 1001, 0, run->r->bound);
        if (Nvme(run, &c, 0x80, k->nsid, cdw10, run->r->bound)) {
            NoAnswer(run, run->r->bound, "Format NVM");
            return 1;
        }
        if (c.status) {
            Refused(run, "Format NVM", c.status);
            return 1;
        }
        return 0;
    }
    uint8_t log[512];
    const unsigned action = run->method == PURGE_NVME_SAN_BLOCK    ? 2
                            : run->method == PURGE_NVME_SAN_CRYPTO ? 4
                                                                   : 3;
    uint32_t estimate = 0;
    if (!SanitizeLog(run, log)) estimate = Le32(log + (action == 3 ? 8 : action == 2 ? 12 : 16));
    run->r->bound = PurgeBound(run->sectors, run->sectorBytes, estimate);
    /* One overwrite pass of zeros (OWPASS 1, pattern 0). */
    const uint32_t cdw10 = action | (action == 3 ? 1u << 4 : 0);
    c.cdw11 = 0;
    if (Nvme(run, &c, 0x84, 0, cdw10, 60)) {
        NoAnswer(run, 0xFFFFFFFFu, "Sanitize");
        return 1;
    }
    if (c.status) {
        Refused(run, "Sanitize", c.status);
        return 1;
    }
    for (;;) {
        const int s = SanitizeLog(run, log);
        const uint32_t now = PurgeClock() - run->start;
        if (s < 0) {
            NoAnswer(run, 0xFFFFFFFFu, "Sanitize Status");
            return 1;
        }
        const unsigned state = s ? 0xFF : log[2] & 7;
        /* A success counts when it is ours: an earlier sanitize's stays in
           the log until this one has begun. */
        if ((state == 1 || state == 4) && Le32(log + 4) == cdw10) return 0;
        if (state == 3) {
            Say(run, PURGE_DRIVE_FAILED, "FAILED: the drive says the sanitize failed");
            return 1;
        }
        if (state != 2 && now > 60) {
            Say(run, PURGE_DRIVE_FAILED, "FAILED: the drive reports no sanitize after the command");
            return 1;
        }
        if (now >= run->r->bound) {
            NoAnswer(run, run->r->bound, "Sanitize still running");
            return 1;
        }
        PurgeProgress(run->disk, state == 2 ? (log[0] | log[1] << 8) * 1000u / 65536 : 1001, now,
                      run->r->bound);
        PurgeWait(5);
    }
}

static int Ata(struct TRun* run, struct TAtaCommand* c, uint8_t command, uint16_t feature,
               uint16_t count, uint64_t lba, uint8_t protocol, void* data, uint32_t seconds) {
    c->command = command;
    c->feature = feature;
    c->count = count;
    c->lba = lba;
    c->protocol = protocol;
    c->data = data;
    c->seconds = seconds;
    c->status = c->error = 0;
    c->countOut = 0;
    c->lbaOut = 0;
    return PurgeAtaCommand(run->disk, c);
}

/* 512 bytes: word 0 the control word, words 1-16 the password. */
static void PasswordBlock(uint8_t* b, uint16_t control) {
    Clear(b, 512);
    b[0] = (uint8_t)control;
    b[1] = (uint8_t)(control >> 8);
    for (unsigned i = 0; i < 32; ++i)
        b[2 + i] = i < sizeof Password - 1 ? (uint8_t)Password[i] : ' ';
}

/* Takes the temporary password off again after a failed erase. */
static void DisablePassword(struct TRun* run) {
    struct TAtaCommand c;
    uint8_t block[512];
    PasswordBlock(block, 0);
    if (Ata(run, &c, 0xF6, 0, 0, 0, ATA_PIO_OUT, block, 30) || (c.status & 1))
        Put(&run->o, "; the temporary user password PURGIT may still be set on the drive");
    else
        Put(&run->o, "; the temporary password was taken off again");
}

static int RunSecurityErase(struct TRun* run) {
    struct TAtaCommand c;
    uint8_t block[512];
    const int enhanced = run->method == PURGE_ATA_SEE;
    const uint16_t minutes = enhanced ? run->caps->enhancedMinutes : run->caps->eraseMinutes;
    run->r->bound = PurgeBound(run->sectors, run->sectorBytes, (uint32_t)minutes * 60);
    PasswordBlock(block, 0); /* user password, high security */
    if (Ata(run, &c, 0xF1, 0, 0, 0, ATA_PIO_OUT, block, 30)) {
        NoAnswer(run, 0xFFFFFFFFu, "SECURITY SET PASSWORD");
        return 1;
    }
    if (c.status & 1) {
        if (Ata(run, &c, 0xEC, 0, 0, 0, ATA_PIO_IN, block, 30) == 0 && !(c.status & 1) &&
            (block[256] & 8)) {
            Say(run, PURGE_FROZEN,
                "not done: the drive's security is frozen; suspend and resume "
                "the machine or re-plug the drive, or use an overwrite method");
            return 1;
        }
        Refused(run, "SECURITY SET PASSWORD", c.status << 8 | c.error);
        return 1;
    }
    if (Ata(run, &c, 0xF3, 0, 0, 0, ATA_NO_DATA, 0, 30) || (c.status & 1)) {
        Refused(run, "SECURITY ERASE PREPARE", c.status << 8 | c.error);
        DisablePassword(run);
        return 1;
    }
    PasswordBlock(block, enhanced ? 2 : 0);
    PurgeProgress(run->disk, 1001, 0, run->r->bound);
    if (Ata(run, &c, 0xF4, 0, 0, 0, ATA_PIO_OUT, block, run->r->bound)) {
        NoAnswer(run, run->r->bound, "SECURITY ERASE UNIT");
        Put(&run->o, "; the temporary user password PURGIT may still be set on the drive");
        return 1;
    }
    if (c.status & 1) {
        Refused(run, "SECURITY ERASE UNIT", c.status << 8 | c.error);
        DisablePassword(run);
        return 1;
    }
    /* The drive clears the password with a successful erase. */
    if (Ata(run, &c, 0xEC, 0, 0, 0, ATA_PIO_IN, block, 30) == 0 && !(c.status & 1) &&
        (block[256] & 2)) {
        Say(run, PURGE_DRIVE_FAILED, "FAILED: the drive kept the password after the erase");
        DisablePassword(run);
        return 1;
    }
    return 0;
}

static int RunAtaSanitize(struct TRun* run) {
    struct TAtaCommand c;
    const uint16_t feature = run->method == PURGE_ATA_SAN_BLOCK    ? 0x12
                             : run->method == PURGE_ATA_SAN_CRYPTO ? 0x11
                                                                   : 0x14;
    /* The keys the commands ask for; overwrite: one pass of pattern 0. */
    const uint64_t lba = feature == 0x12   ? 0x426B4572u
                         : feature == 0x11 ? 0x43727970u
                                           : (uint64_t)0x4F57 << 32;
    run->r->bound = PurgeBound(run->sectors, run->sectorBytes, 0);
    if (Ata(run, &c, 0xB4, feature, feature == 0x14 ? 1 : 0, lba, ATA_NO_DATA, 0, 60)) {
        NoAnswer(run, 0xFFFFFFFFu, "SANITIZE");
        return 1;
    }
    if (c.status & 1) {
        const unsigned status = c.status << 8 | c.error;
        if (!Ata(run, &c, 0xB4, 0, 0, 0, ATA_NO_DATA, 0, 30) && (c.countOut & 0x2000)) {
            Say(run, PURGE_FROZEN,
                "not done: sanitize is frozen on this drive; suspend and "
                "resume the machine or re-plug the drive, or use an overwrite "
                "method");
            return 1;
        }
        Refused(run, "SANITIZE", status);
        return 1;
    }
    for (;;) {
        const uint32_t now = PurgeClock() - run->start;
        if (Ata(run, &c, 0xB4, 0, 0, 0, ATA_NO_DATA, 0, 30)) {
            NoAnswer(run, 0xFFFFFFFFu, "SANITIZE STATUS");
            return 1;
        }
        if (c.status & 1) {
            Say(run, PURGE_DRIVE_FAILED, "FAILED: the drive says the sanitize failed");
            run->r->status = (uint16_t)(c.status << 8 | c.error);
            return 1;
        }
        if (c.countOut & 0x8000) return 0;
        if (!(c.countOut & 0x4000)) {
            Say(run, PURGE_DRIVE_FAILED, "FAILED: the drive reports no sanitize after the command");
            return 1;
        }
        if (now >= run->r->bound) {
            NoAnswer(run, run->r->bound, "SANITIZE still running");
            return 1;
        }
        PurgeProgress(run->disk, (unsigned)(c.lbaOut & 0xFFFF) * 1000u / 65536, now, run->r->bound);
        PurgeWait(5);
    }
}

int PurgeWholeController(const struct TPurgeCaps* caps, unsigned method) {
    if (caps->bus != PURGE_BUS_NVME || method >= PURGE_METHODS || !PurgeMethods[method].nvme)
        return 0;
    if (method == PURGE_NVME_FORMAT || method == PURGE_NVME_FORMAT_CRYPTO)
        return (caps->fna & 3) != 0;
    return 1;
}

/* Whether the disk takes the method as it is now. */
static int Offered(struct TRun* run) {
    const struct TPurgeCaps* k = run->caps;
    const int se = run->method == PURGE_ATA_SE || run->method == PURGE_ATA_SEE;
    if (k->offers >> run->method & 1) return 1;
    if (se && k->bus == PURGE_BUS_ATA && (k->security & 1) &&
        (run->method == PURGE_ATA_SE || (k->security & 0x20))) {
        if (k->security & 8)
            Say(run, PURGE_FROZEN,
                "not done: the drive's security is frozen (the firmware froze it at start); "
                "suspend and resume the machine or re-plug the drive, or use an overwrite method");
        else
            Say(run, PURGE_LOCKED,
                k->security & 0x10 ? "not done: the drive needs a power cycle before an erase"
                                   : "not done: the drive has a security password set");
        return 0;
    }
    Say(run, PURGE_UNSUPPORTED, "not supported by this disk; nothing was erased");
    return 0;
}

void PurgeDisk(unsigned disk, const struct TPurgeCaps* caps, unsigned method, uint64_t sectors,
               unsigned sectorBytes, uint32_t seed, struct TPurgeResult* r) {
    struct TRun run = {disk,        method,       caps, sectors,
                       sectorBytes, PurgeClock(), r,    {r->text, 0, sizeof r->text}};
    Clear(r, sizeof *r);
    if (method == PURGE_NONE || method >= PURGE_METHODS) {
        Say(&run, PURGE_UNSUPPORTED, "not supported by this disk; nothing was erased");
        return;
    }
    if (!Offered(&run)) return;
    if (!sectors || sectorBytes < 512 || sectorBytes > sizeof Expected || sectorBytes % 32) {
        Say(&run, PURGE_MARKS_FAILED,
            "not done: the disk's sectors are not of a size the "
            "check takes; nothing was erased");
        return;
    }
    /* The markers, read back before the purge: a check is only worth its
       markers. */
    PlaceMarks(sectors);
    r->marks = MarkCount;
    for (unsigned k = 0; k < MarkCount; ++k) {
        Marker(Marks[k], seed, sectorBytes);
        if (PurgeSectorWrite(disk, Marks[k], Expected) || PurgeSectorRead(disk, Marks[k], Got) ||
            !Survives(sectorBytes)) {
            Say(&run, PURGE_MARKS_FAILED, "not done: the marker at sector ");
            PutNumber(&run.o, Marks[k]);
            Put(&run.o, " could not be written and read back; nothing was purged");
            return;
        }
    }
    const int failed = PurgeMethods[method].nvme                           ? RunNvme(&run)
                       : method == PURGE_ATA_SE || method == PURGE_ATA_SEE ? RunSecurityErase(&run)
                                                                           : RunAtaSanitize(&run);
    r->seconds = PurgeClock() - run.start;
    if (failed) return;
    PurgeProgress(disk, 1000, r->seconds, r->bound);
    /* The check: no marker reads back; zeros where the method leaves them. */
    for (unsigned k = 0; k < MarkCount; ++k) {
        Marker(Marks[k], seed, sectorBytes);
        if (PurgeSectorRead(disk, Marks[k], Got)) {
            if (!r->unread++ && !r->survived) r->survivor = Marks[k];
            continue;
        }
        if (Survives(sectorBytes) && !r->survived++ && !r->unread) r->survivor = Marks[k];
        if (Zeros(sectorBytes)) ++r->zeros;
    }
    const int zeros = PurgeMethods[method].zeros;
    if (r->survived || r->unread || (zeros && r->zeros != MarkCount)) {
        Say(&run, PURGE_CHECK_FAILED, "FAILED: the drive reported success, but ");
        if (r->survived || r->unread) {
            Put(&run.o, r->survived ? "the marker at sector " : "sector ");
            PutNumber(&run.o, r->survivor);
            Put(&run.o, r->survived ? " reads back (" : " cannot be read (");
            PutNumber(&run.o, r->survived + r->unread);
            Put(&run.o, " of ");
            PutNumber(&run.o, MarkCount);
            Put(&run.o, " markers); the data is NOT erased");
        } else {
            PutNumber(&run.o, MarkCount - r->zeros);
            Put(&run.o, " of ");
            PutNumber(&run.o, MarkCount);
            Put(&run.o, " sampled sectors do not read zeros; the data is NOT known to be erased");
        }
        return;
    }
    Say(&run, PURGE_CHECKED, "checked: ");
    PutNumber(&run.o, MarkCount);
    Put(&run.o, " marker sectors written before, none reads back");
    if (zeros) Put(&run.o, ", all read zeros");
}
