/* Purge: the drives' own erase commands (NVMe Format and Sanitize, ATA
   Sanitize and Security Erase), never called done unless checked. The
   engine knows no firmware: the platform passes its commands to the drive
   (PurgeNvmeAdmin, PurgeAtaCommand), moves single sectors and keeps the
   time. Built into PURGIT.EFI and the host's tests, not into PURGIT.EXE. */
#ifndef PURGIT_PURGE_H
#define PURGIT_PURGE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum {
    PURGE_NONE,
    PURGE_NVME_FORMAT,
    PURGE_NVME_FORMAT_CRYPTO,
    PURGE_NVME_SAN_BLOCK,
    PURGE_NVME_SAN_CRYPTO,
    PURGE_NVME_SAN_OVERWRITE,
    PURGE_ATA_SAN_BLOCK,
    PURGE_ATA_SAN_CRYPTO,
    PURGE_ATA_SAN_OVERWRITE,
    PURGE_ATA_SE,
    PURGE_ATA_SEE,
    PURGE_METHODS
};

struct TPurgeMethod {
    const char* name;  /* as /M: takes it: "NVMEFMT" */
    const char* words; /* "NVMe Format, user data erase" */
    uint8_t nvme;      /* an NVMe command (else ATA) */
    uint8_t zeros;     /* defined to leave zeros */
};
extern const struct TPurgeMethod PurgeMethods[PURGE_METHODS];
/* The method of a name ("NVMEFMT" or "NVMEFMT.MET", any case), or
   PURGE_NONE. */
unsigned PurgeMethodNamed(const char* name);

/* What a disk says it can do. */
enum { PURGE_BUS_NONE, PURGE_BUS_NVME, PURGE_BUS_ATA };
struct TPurgeCaps {
    uint8_t bus;
    uint16_t offers; /* 1 << method for the methods the disk takes */
    /* NVMe: the namespace, its format (FLBAS, DPS), Identify Controller's
       OACS, FNA, SANICAP. */
    uint32_t nsid, sanicap;
    uint8_t flbas, dps, fna, format;
    /* ATA IDENTIFY: word 128 (security), the erase times (minutes, 0 not
       given), word 59 (sanitize), the HPA and DCO feature sets. */
    uint16_t security, eraseMinutes, enhancedMinutes, sanitize;
    uint8_t hpa, dco, lba48;
    /* The sectors IDENTIFY gives, and READ NATIVE MAX ADDRESS (0 not
       asked): more native sectors mean a host protected area is set. */
    uint64_t userSectors, nativeSectors;
};
void PurgeNvmeCaps(struct TPurgeCaps* c, const uint8_t* controller, const uint8_t* space,
                   uint32_t nsid);
void PurgeAtaCaps(struct TPurgeCaps* c, const uint16_t* identify);
/* One short line: "NVMe: Format (user data, crypto); no Sanitize". */
void PurgeCapsText(char* out, unsigned room, const struct TPurgeCaps* c);

/* How a purge ended. Only PURGE_CHECKED means the data is gone. */
enum {
    PURGE_CHECKED,
    PURGE_UNSUPPORTED,  /* the disk does not offer the method: nothing done */
    PURGE_FROZEN,       /* ATA security or sanitize frozen: nothing done */
    PURGE_LOCKED,       /* a password is set, or the drive needs a power cycle */
    PURGE_MARKS_FAILED, /* the markers could not be written: nothing purged */
    PURGE_REFUSED,      /* the drive rejected the command */
    PURGE_DRIVE_FAILED, /* the drive says the purge failed */
    PURGE_CHECK_FAILED, /* success said, but the check found data */
    PURGE_VANISHED,     /* the disk stopped answering */
    PURGE_TIMED_OUT     /* no end within the bound */
};
#define PURGE_MARKS 8
struct TPurgeResult {
    uint8_t outcome;
    uint16_t status;                         /* the drive's status where it failed */
    uint32_t seconds, bound;                 /* time taken, the longest waited */
    unsigned marks, survived, unread, zeros; /* the check */
    uint64_t survivor;                       /* the first marker sector that read back */
    char text[160]; /* in words, for the screen, the report and the record */
};
/* Answers 1 when the method reaches every namespace of the disk's NVMe
   controller: Sanitize always, Format where FNA says so. */
int PurgeWholeController(const struct TPurgeCaps* caps, unsigned method);
/* Purges a disk of the given size with a method it offers (caps);
   seed makes the markers differ between runs. */
void PurgeDisk(unsigned disk, const struct TPurgeCaps* caps, unsigned method, uint64_t sectors,
               unsigned sectorBytes, uint32_t seed, struct TPurgeResult* r);
/* The longest a purge of this size is waited for, in seconds: two hours
   and one more per 500 GB, or three times the drive's own estimate. */
uint32_t PurgeBound(uint64_t sectors, unsigned sectorBytes, uint32_t estimate);

/* --- the platform's side ------------------------------------------------- */

/* An NVMe admin command. The platform answers 0 when the drive completed
   it (status: the completion's status field, SCT << 8 | SC, 0 success),
   1 when the drive gave no answer within seconds. */
struct TNvmeAdmin {
    uint8_t opcode;
    uint32_t nsid, cdw10, cdw11;
    void* data; /* read from the drive; length bytes */
    unsigned length;
    uint32_t seconds;
    uint32_t dw0;
    uint16_t status;
};
int PurgeNvmeAdmin(unsigned disk, struct TNvmeAdmin* c);

/* An ATA command (48-bit registers). Answers 0 when the drive completed
   it (status and error registers, and the output registers, filled in), 1
   when it did not answer. */
enum { ATA_NO_DATA, ATA_PIO_IN, ATA_PIO_OUT };
struct TAtaCommand {
    uint8_t command, protocol;
    uint16_t feature, count;
    uint64_t lba;
    void* data; /* 512 bytes for PIO */
    uint32_t seconds;
    uint8_t status, error;
    uint16_t countOut;
    uint64_t lbaOut;
};
int PurgeAtaCommand(unsigned disk, struct TAtaCommand* c);

/* One sector of sectorBytes: 0 when moved (a write reaches the media). */
int PurgeSectorRead(unsigned disk, uint64_t lba, uint8_t* data);
int PurgeSectorWrite(unsigned disk, uint64_t lba, const uint8_t* data);
/* Seconds since some start; waits; the purge's progress (per mille, or
   1001 when the drive does not tell). */
uint32_t PurgeClock(void);
void PurgeWait(unsigned seconds);
void PurgeProgress(unsigned disk, unsigned permille, uint32_t seconds, uint32_t bound);

#ifdef __cplusplus
}
#endif

#endif
