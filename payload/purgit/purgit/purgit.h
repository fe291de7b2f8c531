/* What the parts of PURGIT share: options, disks, methods, the text and
   screen helpers, and the erase engine. Nothing here knows the platform
   beyond platform.h. */
#ifndef PURGIT_PURGIT_H
#define PURGIT_PURGIT_H

#include "platform.h"

#define OPTION_COUNT 11
enum {
    O_VERIFY, O_BACKWARD, O_ZERO_PASS, O_LOG, O_RECORD_LOG, O_INTERRUPT,
    O_UNATTENDED, O_PAUSE_PASS, O_ISAAC, O_PARTITION, O_DMA
};
extern char Options[OPTION_COUNT];
extern int Trace; /* /TRACE: a line for every transfer on port E9h */
#define SCRATCH_LIMIT 2048

/* Sector numbers and counts: 32 bits on DOS (INT 13h and the DMA path go
   no further), 64 on UEFI, where disks beyond 2 TB are erased whole. */
#ifdef PURGIT_UEFI
typedef uint64_t TLba;
/* Bytes in a sector of a disk being erased: the firmware's block. */
#define DiskUnit(d) ((unsigned)(d)->sectorBytes)
/* What finds and moves the disks, in the pages' and the trace's words. */
#define FIRMWARE "firmware"
#define FIRMWARE_TRACE "UEFI"
#define ODD_SECTORS "sectors of a size not handled"
#else
typedef uint32_t TLba;
#define DiskUnit(d) 512 /* disks of other sectors are never offered */
#define FIRMWARE "BIOS"
#define FIRMWARE_TRACE "BIOS"
#define ODD_SECTORS "sectors not of 512 bytes"
#endif
extern char ScratchText[SCRATCH_LIMIT + 1];

/* --- text ---------------------------------------------------------------- */

struct TText {
    char* at;
    unsigned length, capacity;
};
/* Buffers that flush empties when full, instead of dropping text (slot 0
   the report, 1 the record). */
void TextSink(unsigned slot, struct TText* t, void (*flush)(struct TText* t));
void TextAdd(struct TText* t, const char* s);
void TextChar(struct TText* t, char c);
void TextNumber(struct TText* t, TLba v);
/* Counts that may pass 2^32 on DOS too: sectors over all passes. */
#ifdef PURGIT_UEFI
#define TextWide TextNumber
#else
void TextWide(struct TText* t, uint64_t v);
#endif
void TextNumberWidth(struct TText* t, TLba v, unsigned width, char fill);
void TextHex2(struct TText* t, unsigned v);
void TextPad(struct TText* t, unsigned column);
/* Tenths shown as "12.3". */
void TextTenths(struct TText* t, uint32_t tenths);
void TextDuration(struct TText* t, uint32_t seconds);
/* Sectors as a size: "32 MB", "10.0 GB". */
void TextSize(struct TText* t, TLba sectors, uint16_t sectorBytes);
uint32_t Div64(uint64_t n, uint64_t d);
void DebugText(const char* s);

/* --- the screen (80 x 25 text, written to video memory) ------------------- */

enum { A_NORMAL = 0x17, A_TITLE = 0x1F, A_BAR = 0x70, A_SELECT = 0x2F, A_WARN = 0x4F, A_DIM = 0x13 };
void ScreenClear(uint8_t attribute);
void ScreenLine(unsigned row, uint8_t attribute, const char* s);
void ScreenTitle(const char* s);
/* The key bar on the last row; clicks on it count as its keys. */
void ScreenKeys(const char* s);
extern const char* KeysShown;

/* --- hard disks ------------------------------------------------------------ */

#define MAX_DISKS 8
struct TDisk {
    uint8_t drive;      /* BIOS number, 80h up */
    uint8_t extended;   /* INT 13h AH=42h/43h work */
    uint8_t boot;       /* the disk the system started from */
    uint8_t unusable;   /* sectors the engine cannot move (DOS: not 512 bytes): never offered */
    uint8_t beyond;     /* more than 2^32 sectors: only the first reachable */
    uint16_t sectorBytes;
    TLba sectors;
    uint32_t cylinders, heads, perTrack; /* BIOS geometry */
    uint16_t block;     /* sectors per request */
    uint16_t ioBase, controlBase; /* ATA ports, 0 when unknown */
    uint8_t slave;
    char model[41], serial[21];
    /* From IDENTIFY DEVICE: DMA supported, 48-bit addressing. */
    uint8_t identified, dma, lba48;
    /* Option 11: the transfer path, and for DMA the controller's bus master. */
    uint8_t path;        /* PATH_BIOS or PATH_DMA */
    uint8_t dmaProven;   /* a DMA transfer succeeded on this disk */
    uint8_t pathChanged; /* fell back to the BIOS during the erase */
    uint16_t busMaster;  /* bus-master registers of the disk's channel */
    uint16_t pciVendor, pciDevice;
    const char* pathNote; /* why the BIOS path although option 11 is on */
};
enum { PATH_BIOS, PATH_DMA };
extern struct TDisk Disks[MAX_DISKS];
extern unsigned DiskCount;
void FindDisks(void);
/* Answers the BIOS status (0 = done). seg:off holds count sectors. */
unsigned DiskTransfer(struct TDisk* d, int write, TLba lba, unsigned count, TBuffer seg,
                      TOffset off);
/* Requests beyond a block, where the platform moves them at once: the most
   sectors one may carry (d->block where it does not), a read into the
   read area or a write whose data starts over after every repeat bytes of
   the buffer (0: never); and such a request, answered as DiskTransfer. */
unsigned DiskLargest(const struct TDisk* d, int write, uint32_t repeat);
unsigned DiskLarge(struct TDisk* d, int write, TLba lba, unsigned count, TBuffer b,
                   uint32_t repeat);
int DiskAnswers(struct TDisk* d);
void TextDisk(struct TText* t, unsigned index);
/* The transfer path: "bus-master DMA" or "BIOS", or with detail (controller,
   channel, or why the BIOS is used although option 11 is on). */
void TextPath(struct TText* t, const struct TDisk* d, int detail);
/* Where the disk sits, as far as the platform knows: "ATA primary master",
   "NVMe", or "unknown". */
void TextBus(struct TText* t, const struct TDisk* d);

/* --- methods and random data -------------------------------------------------- */

enum { P_FIXED, P_RANDOM };
struct TPass {
    uint8_t kind, invert, length;
    uint8_t follows; /* COMPLEMENT: the previous pass inverted, same seed */
    uint8_t bytes[16];
    uint32_t seed[4];
};
#define MAX_PASSES 100
enum { V_NONE, V_LAST, V_ALL };
struct TMethod {
    char file[13];
    char name[61];
    char source[78];
    unsigned passes;
    uint8_t verify;
    struct TPass pass[MAX_PASSES]; /* room for option 3's pass after 99 */
};
#define MAX_METHODS 32
struct TMethodEntry {
    char file[13];
    char name[61];
    uint8_t passes;
};
extern struct TMethodEntry MethodList[MAX_METHODS];
extern unsigned MethodCount;
/* Fills MethodList; scratch holds each file while it is checked. */
void ListMethods(struct TMethod* scratch);
/* Reads METHODS\file; answers 0 or the line with the fault (why says it). */
unsigned LoadMethod(const char* file, struct TMethod* m, const char** why);
void TextPattern(struct TText* t, const struct TPass* p);

void RandomSeed(uint32_t seed[4]);
void RandomStart(const struct TPass* p, int isaac);
/* A request's random data straight into a transfer buffer. */
void RandomBuffer(TBuffer b, unsigned bytes, int invert);

/* --- the erase ------------------------------------------------------------ */

#define MAX_LISTED 48
struct TResult {
    uint32_t writeErrors, readErrors, mismatches;
    unsigned passesDone, passesPlanned, verifiedPasses;
    uint8_t verifyFailed, stopped, vanished, partitioned, partitionFailed, partial;
    uint32_t ticks;       /* time spent */
    uint64_t sectorsMoved; /* written and read back, over all passes */
    unsigned listed;
    TLba sector[MAX_LISTED];
    char kind[MAX_LISTED]; /* W, R or V */
};
/* Answers 0, or 1 when the buffers could not be had. */
int EraseStart(void);
void EraseDisk(unsigned index, struct TMethod* m, struct TResult* r, unsigned diskNumber,
               unsigned diskTotal);
void TextResult(struct TText* t, const struct TResult* r);

/* --- options and parameters (options.c) ----------------------------------- */

#define INI_PATH "DATA\\PURGIT.INI"
#define INI_LIMIT 2048 /* the real file is 68 bytes; anything near this is not ours */
extern char Given[OPTION_COUNT]; /* set by the INI rather than by default */
extern char Parameters[128];     /* as given, for the start page */
extern char MethodParameter[13]; /* /M:name as NAME.MET */
extern char Chosen[MAX_DISKS];
extern int AllDisks, LogDrive; /* LogDrive: 'A'.. from /L:, or 0 */
extern char ParameterFault[80];
/* Parses the INI in ScratchText; answers 0, or the 1-based number of the
   first malformed line. */
unsigned ParseIni(unsigned length, const char** why);
void ReadParameters(void);
void Fault(const char* what, const char* token, unsigned n);

/* --- the report (report.c) ------------------------------------------------- */

extern struct TText Log;
extern struct TResult Results[MAX_DISKS];
extern char LogPlace[80]; /* where the report went, or why it did not */
void LogStart(void);
void LogDisk(unsigned i, const struct TMethod* m);
void LogEnd(void);
void LogVerification(struct TText* t, const struct TResult* r);
void Throughput(struct TText* t, const struct TResult* r, const struct TDisk* d);

/* --- the erase record (record.c, smbios.c; the platform keeps the bytes) ---- */

/* The machine's identity from SMBIOS; empty where nothing says. */
struct TMachine {
    char manufacturer[41], product[41], serial[41], uuid[37], version[8];
};
extern struct TMachine Machine;
/* Fills Machine from an SMBIOS structure table of n bytes in memory, of
   SMBIOS version major.minor. */
void MachineFromTable(const uint8_t* table, unsigned n, unsigned major, unsigned minor);
/* The platform's date and time: "2005-06-30 14:05:09". */
void TextNow(struct TText* t);
void RecordStart(const struct TMethod* m, const char* parameters, unsigned disks);
void RecordDisk(unsigned index);
/* After each pass (verify 0) and its reading back (verify 1); outcome as
   the pass answered it (0 done, 1 stopped, 2 the disk went). */
void RecordPass(unsigned index, const struct TPass* p, unsigned pass, int verify, int outcome,
                const struct TResult* r);
void RecordResult(unsigned index, const struct TResult* r);
void RecordEnd(unsigned disks);

#ifdef PURGIT_UEFI
/* --- purge: the drives' own erase commands (uefi/passthru.c, purge.c) ------ */

extern unsigned PurgeChoice; /* PURGE_NVME_FORMAT..., 0 none */
/* After FindDisks: PURGE= and FALLBACK= of the INI text, /M: and /F:, each
   disk's capabilities. */
void PurgeStart(unsigned iniLength);
void PurgeMethodOnly(struct TMethod* m);
/* Answers 1 when the disk was purged (or nothing may be done to it), 0
   when m is to overwrite it. */
int PurgeDiskRun(unsigned index, const struct TMethod* m, struct TResult* r, unsigned number,
                 unsigned total);
int PurgeTextResult(struct TText* t, const struct TResult* r);
void PurgeDiskEntry(struct TText* t, unsigned index);
/* The method's name, or the purge's and its fall-back's. */
void PurgeMethodText(struct TText* t, const struct TMethod* m);
void PurgeReportDisk(struct TText* t, unsigned index);
/* The method page's purge entries after the method files. */
unsigned PurgeListCount(void);
void PurgeListEntry(struct TText* t, unsigned n);
/* Chooses entry n (or none for an overwrite method); answers 1 when the
   method to run is a purge without a fall-back. */
int PurgeListChoose(int n, struct TMethod* m);
void PurgeRecordStart(void);
void PurgeRecordDisk(unsigned index);
int PurgeRecordOutcome(unsigned index);
void RecordValue(const char* key, const char* s);
#endif

#endif
