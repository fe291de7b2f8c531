/* Purge on UEFI: each disk's pass-through protocol (the NVMe or ATA
   controller whose device path begins the disk's), its capabilities from
   Identify / IDENTIFY DEVICE, the engine's seams (commands, single
   sectors through Block I/O, the clock), and the run's side: the method
   from /M: or PURGIT.INI with its fall-back, the purge page, the report's
   and the record's lines. */
#include "../purgit/purgit.h"
#include "efi.h"

#include "passthru.h" /* after efi.h: it uses the firmware's types */

struct TPurgeCaps PurgeCaps[MAX_DISKS];
unsigned PurgeChoice;
static char Fallback[13];
static struct {
    TNvmePassThru* nvme;
    TAtaPassThru* ata;
    uint16_t port, multiplier;
    uint8_t tried;    /* 1 purged (or tried), 2 not offered: the fall-back overwrote */
    uint8_t fellBack; /* a fall-back method overwrote it */
    struct TPurgeResult result;
} Pass[MAX_DISKS];
/* Page-aligned: data, then the ATA status block. */
static uint8_t* Page;

/* --- the firmware's side --------------------------------------------------- */

EFI_STATUS NvmeAdminCommand(TNvmePassThru* pass, uint8_t opcode, uint32_t nsid, uint32_t cdw10,
                            uint32_t cdw11, void* data, unsigned length, uint32_t seconds,
                            TNvmeCompletion* completion) {
    TNvmeCommand command;
    TNvmePacket packet;
    memset(&command, 0, sizeof command);
    memset(completion, 0, sizeof *completion);
    memset(&packet, 0, sizeof packet);
    command.Cdw0 = opcode;
    command.Flags = 0x04 | 0x08; /* CDW10, CDW11 */
    command.Nsid = nsid;
    command.Cdw10 = cdw10;
    command.Cdw11 = cdw11;
    packet.CommandTimeout = (uint64_t)seconds * 10000000;
    packet.TransferBuffer = length ? data : 0;
    packet.TransferLength = length;
    packet.Command = &command;
    packet.Completion = completion;
    return pass->PassThru(pass, nsid, &packet, 0);
}

static int NvmeCommand(unsigned disk, uint8_t opcode, uint32_t nsid, uint32_t cdw10, uint32_t cdw11,
                       unsigned length, uint32_t seconds, uint16_t* status) {
    TNvmePassThru* pass = Pass[disk].nvme;
    if (!pass || !Page) return 1;
    TNvmeCompletion completion;
    const EFI_STATUS s =
        NvmeAdminCommand(pass, opcode, nsid, cdw10, cdw11, Page, length, seconds, &completion);
    /* The completion's status field: DW3 bits 17-24 SC, 25-27 SCT. */
    *status = (uint16_t)((completion.Dw3 >> 17 & 0xFF) | (completion.Dw3 >> 25 & 7) << 8);
    if (!EFI_ERROR(s)) {
        *status = 0;
        return 0;
    }
    if (s == EFI_DEVICE_ERROR && *status) return 0;
    if (s == EFI_UNSUPPORTED || s == EFI_INVALID_PARAMETER) {
        *status = 0x0001; /* the firmware passes no such command */
        return 0;
    }
    return 1;
}

int PurgeNvmeAdmin(unsigned disk, struct TNvmeAdmin* c) {
    if (c->length > 4096) return 1;
    if (c->length) memset(Page, 0, c->length);
    if (NvmeCommand(disk, c->opcode, c->nsid, c->cdw10, c->cdw11, c->length, c->seconds,
                    &c->status))
        return 1;
    if (c->length) memcpy(c->data, Page, c->length);
    return 0;
}

int PurgeAtaCommand(unsigned disk, struct TAtaCommand* c) {
    TAtaPassThru* pass = Pass[disk].ata;
    if (!pass || !Page) return 1;
    TAtaCommandBlock* acb = (TAtaCommandBlock*)(Page + 1024);
    TAtaStatusBlock* asb = (TAtaStatusBlock*)(Page + 2048);
    TAtaPacket packet;
    memset(acb, 0, sizeof *acb);
    memset(asb, 0, sizeof *asb);
    memset(&packet, 0, sizeof packet);
    acb->Command = c->command;
    acb->Features = (UINT8)c->feature;
    acb->FeaturesExp = (UINT8)(c->feature >> 8);
    acb->SectorCount = (UINT8)c->count;
    acb->SectorCountExp = (UINT8)(c->count >> 8);
    acb->SectorNumber = (UINT8)c->lba;
    acb->CylinderLow = (UINT8)(c->lba >> 8);
    acb->CylinderHigh = (UINT8)(c->lba >> 16);
    acb->SectorNumberExp = (UINT8)(c->lba >> 24);
    acb->CylinderLowExp = (UINT8)(c->lba >> 32);
    acb->CylinderHighExp = (UINT8)(c->lba >> 40);
    acb->DeviceHead = 0x40; /* LBA */
    packet.Asb = asb;
    packet.Acb = acb;
    packet.Timeout = (uint64_t)c->seconds * 10000000;
    packet.Length = 0x80;
    if (c->protocol == ATA_PIO_IN) {
        packet.Protocol = 4;
        packet.InDataBuffer = Page;
        packet.InTransferLength = 512;
    } else if (c->protocol == ATA_PIO_OUT) {
        packet.Protocol = 5;
        memcpy(Page, c->data, 512);
        packet.OutDataBuffer = Page;
        packet.OutTransferLength = 512;
    } else {
        packet.Protocol = 2;
    }
    const EFI_STATUS s = pass->PassThru(pass, Pass[disk].port, Pass[disk].multiplier, &packet, 0);
    if (EFI_ERROR(s) && s != EFI_DEVICE_ERROR) return 1;
    c->status = asb->Status;
    c->error = asb->Error;
    if (EFI_ERROR(s)) c->status |= 1; /* the device said no, whatever the block shows */
    c->countOut = (uint16_t)(asb->SectorCount | asb->SectorCountExp << 8);
    c->lbaOut = asb->SectorNumber | (uint64_t)asb->CylinderLow << 8 |
                (uint64_t)asb->CylinderHigh << 16 | (uint64_t)asb->SectorNumberExp << 24 |
                (uint64_t)asb->CylinderLowExp << 32 | (uint64_t)asb->CylinderHighExp << 40;
    if (c->protocol == ATA_PIO_IN) memcpy(c->data, Page, 512);
    return 0;
}

/* Single sectors go through a page of their own, which satisfies the
   media's alignment. */
static uint8_t* SectorPage;

int PurgeSectorRead(unsigned disk, uint64_t lba, uint8_t* data) {
    EFI_BLOCK_IO* io = DiskBlockIo(disk);
    const UINTN n = io->Media->BlockSize;
    if (!SectorPage || n > 4096 || !io->Media->MediaPresent) return 1;
    if (EFI_ERROR(io->ReadBlocks(io, io->Media->MediaId, lba, n, SectorPage))) return 1;
    memcpy(data, SectorPage, (unsigned)n);
    return 0;
}

int PurgeSectorWrite(unsigned disk, uint64_t lba, const uint8_t* data) {
    EFI_BLOCK_IO* io = DiskBlockIo(disk);
    const UINTN n = io->Media->BlockSize;
    if (!SectorPage || n > 4096 || !io->Media->MediaPresent) return 1;
    memcpy(SectorPage, data, (unsigned)n);
    if (EFI_ERROR(io->WriteBlocks(io, io->Media->MediaId, lba, n, SectorPage))) return 1;
    return EFI_ERROR(io->FlushBlocks(io)) ? 1 : 0;
}

uint32_t PurgeClock(void) {
    return Ticks() * 10 / 182;
}

void PurgeWait(unsigned seconds) {
    BS->Stall((UINTN)seconds * 1000000);
}

static uint32_t ProgressShown;

void PurgeProgress(unsigned disk, unsigned permille, uint32_t seconds, uint32_t bound) {
    char line[80];
    struct TText t = {line, 0, sizeof line};
    TextAdd(&t, "  ");
    if (permille <= 1000) {
        TextTenths(&t, permille);
        TextAdd(&t, " % done, ");
    } else {
        TextAdd(&t, "the drive does not tell its progress; ");
    }
    TextDuration(&t, seconds);
    TextAdd(&t, " elapsed (waiting at most ");
    TextDuration(&t, bound);
    TextChar(&t, ')');
    ScreenLine(8, A_NORMAL, line);
    if (Trace && (permille == 1000 || seconds - ProgressShown >= 60 || !seconds)) {
        ProgressShown = seconds;
        char trace[40];
        struct TText p = {trace, 0, sizeof trace};
        TextAdd(&p, "PURGE PROGRESS ");
        TextNumber(&p, disk + 1);
        TextChar(&p, ' ');
        TextNumber(&p, permille);
        TextChar(&p, '\n');
        DebugText(trace);
    }
}

/* --- finding the pass-through protocols ------------------------------------- */

/* The device path's NVMe (3/23) or SATA (3/18) / ATA (3/1) node. */
static const uint8_t* Node(const EFI_DEVICE_PATH* p, uint8_t subType) {
    while (!(p->Type == 0x7F && p->SubType == 0xFF)) {
        const unsigned length = p->Length[0] | p->Length[1] << 8;
        if (length < 4) return 0;
        if (p->Type == 3 && p->SubType == subType) return (const uint8_t*)p + 4;
        p = (const EFI_DEVICE_PATH*)((const uint8_t*)p + length);
    }
    return 0;
}

static void* Protocol(EFI_DEVICE_PATH* path, EFI_GUID* guid) {
    EFI_DEVICE_PATH* rest = path;
    EFI_HANDLE controller;
    void* p = 0;
    if (EFI_ERROR(BS->LocateDevicePath(guid, &rest, &controller))) return 0;
    if (EFI_ERROR(BS->HandleProtocol(controller, guid, &p))) return 0;
    return p;
}

static void FindNvme(unsigned i, EFI_DEVICE_PATH* path, const uint8_t* node) {
    EFI_GUID guid = NVME_PASS_THRU_GUID;
    Pass[i].nvme = Protocol(path, &guid);
    if (!Pass[i].nvme) return;
    const uint32_t nsid =
        node[0] | node[1] << 8 | (uint32_t)node[2] << 16 | (uint32_t)node[3] << 24;
    static uint8_t controller[4096];
    uint16_t status;
    /* Identify (06h): CNS 1 the controller, CNS 0 the namespace. */
    if (NvmeCommand(i, 0x06, 0, 1, 0, 4096, 5, &status) || status) return;
    memcpy(controller, Page, 4096);
    const int space = !NvmeCommand(i, 0x06, nsid, 0, 0, 4096, 5, &status) && !status;
    PurgeNvmeCaps(&PurgeCaps[i], controller, space ? Page : 0, nsid);
}

static void FindAta(unsigned i, EFI_DEVICE_PATH* path) {
    EFI_GUID guid = ATA_PASS_THRU_GUID;
    const uint8_t* sata = Node(path, 18);
    const uint8_t* ide = Node(path, 1);
    if (!sata && !ide) return;
    Pass[i].ata = Protocol(path, &guid);
    if (!Pass[i].ata) return;
    if (sata) {
        Pass[i].port = (uint16_t)(sata[0] | sata[1] << 8);
        Pass[i].multiplier = (uint16_t)(sata[2] | sata[3] << 8);
    } else {
        Pass[i].port = ide[0];
        Pass[i].multiplier = ide[1];
    }
    static uint16_t identify[256];
    struct TAtaCommand c;
    memset(&c, 0, sizeof c);
    c.command = 0xEC;
    c.protocol = ATA_PIO_IN;
    c.data = identify;
    c.seconds = 5;
    if (PurgeAtaCommand(i, &c) || (c.status & 1)) return;
    struct TPurgeCaps* caps = &PurgeCaps[i];
    PurgeAtaCaps(caps, identify);
    if (!caps->hpa) return;
    /* READ NATIVE MAX ADDRESS (EXT): the last sector without a host
       protected area. Only read, never set. */
    memset(&c, 0, sizeof c);
    c.command = caps->lba48 ? 0x27 : 0xF8;
    c.protocol = ATA_NO_DATA;
    c.seconds = 5;
    if (PurgeAtaCommand(i, &c) || (c.status & 1)) return;
    caps->nativeSectors = (caps->lba48 ? c.lbaOut : c.lbaOut & 0x0FFFFFFF) + 1;
}

void FindPurgeCaps(void) {
    if (!Page) {
        EFI_PHYSICAL_ADDRESS a = 0;
        if (EFI_ERROR(BS->AllocatePages(AllocateAnyPages, EfiLoaderData, 2, &a))) return;
        Page = (uint8_t*)(uintptr_t)a;
        SectorPage = Page + 4096;
    }
    for (unsigned i = 0; i < DiskCount; ++i) {
        memset(&PurgeCaps[i], 0, sizeof PurgeCaps[i]);
        EFI_DEVICE_PATH* path = DiskDevicePath(i);
        const uint8_t* nvme = Node(path, 23);
        if (Disks[i].boot) {
            /* Its controller only: what a purge of another namespace reaches. */
            EFI_GUID guid = NVME_PASS_THRU_GUID;
            if (nvme) Pass[i].nvme = Protocol(path, &guid);
            continue;
        }
        if (nvme)
            FindNvme(i, path, nvme);
        else
            FindAta(i, path);
    }
}

/* --- the run ---------------------------------------------------------------- */

static int Upper(int c) {
    return c >= 'a' && c <= 'z' ? c - 32 : c;
}

/* A method name of up to 8 characters from s (n long) as NAME.MET. */
static void MetName(char to[13], const char* s, unsigned n) {
    unsigned i = 0;
    for (; i < n && i < 8; ++i)
        to[i] = (char)Upper(s[i]);
    memcpy(to + i, ".MET", 5);
}

/* PURGE=name and FALLBACK=name in the INI (ParseIni leaves them to us). */
static void FromIni(unsigned length) {
    const char* s = ScratchText;
    for (unsigned at = 0; at < length;) {
        unsigned end = at;
        while (end < length && s[end] != '\n' && s[end] != '\r')
            ++end;
        unsigned eq = at;
        while (eq < end && s[eq] != '=')
            ++eq;
        unsigned v = eq + 1, stop = end;
        while (stop > v && (s[stop - 1] == ' ' || s[stop - 1] == '\t'))
            --stop;
        while (v < stop && (s[v] == ' ' || s[v] == '\t'))
            ++v;
        char key[10];
        unsigned k = 0;
        for (unsigned i = at; i < eq && k + 1 < sizeof key; ++i)
            if (s[i] != ' ' && s[i] != '\t') key[k++] = (char)Upper(s[i]);
        key[k] = 0;
        if (eq < end && v < stop && stop - v <= 8) {
            char name[13];
            MetName(name, s + v, stop - v);
            if (!memcmp(key, "PURGE", 6)) PurgeChoice = PurgeMethodNamed(name);
            if (!memcmp(key, "FALLBACK", 9)) memcpy(Fallback, name, 13);
        }
        at = end + 1;
    }
}

/* /F:name on the command line: the fall-back overwrite method. */
static void FromParameters(void) {
    for (const char* p = Parameters; *p;) {
        while (*p == ' ' || *p == '\t')
            ++p;
        const char* s = p;
        while (*p && *p != ' ' && *p != '\t')
            ++p;
        const unsigned k = (unsigned)(p - s);
        if (k > 3 && s[0] == '/' && Upper(s[1]) == 'F' && s[2] == ':') {
            if (k - 3 > 8)
                Fault("Method name too long", s, k);
            else
                MetName(Fallback, s + 3, k - 3);
        }
    }
}

void PurgeStart(unsigned iniLength) {
    FromIni(iniLength);
    FromParameters();
    FindPurgeCaps();
    /* /M: naming a purge chooses it; an overwrite method there overrides
       the INI's purge. The fall-back then stands where /M: did. */
    if (MethodParameter[0]) {
        const unsigned m = PurgeMethodNamed(MethodParameter);
        if (!m) {
            PurgeChoice = PURGE_NONE;
            return;
        }
        PurgeChoice = m;
    }
    if (PurgeChoice) memcpy(MethodParameter, Fallback, sizeof Fallback);
    if (Trace && PurgeChoice) {
        DebugText("PURGE METHOD ");
        DebugText(PurgeMethods[PurgeChoice].name);
        DebugText("\n");
    }
}

/* The method the record and the report name when no fall-back is given. */
void PurgeMethodOnly(struct TMethod* m) {
    memset(m, 0, sizeof *m);
    memcpy(m->file, PurgeMethods[PurgeChoice].name, strlen(PurgeMethods[PurgeChoice].name) + 1);
    struct TText t = {m->name, 0, sizeof m->name};
    TextAdd(&t, "purge, ");
    TextAdd(&t, PurgeMethods[PurgeChoice].words);
    struct TText s = {m->source, 0, sizeof m->source};
    TextAdd(&s, "the drive's own command, checked by marker sectors");
    m->verify = V_NONE;
}

static void PurgePage(unsigned index, unsigned number, unsigned total) {
    ScreenClear(A_NORMAL);
    ScreenTitle("purging");
    char line[100];
    struct TText t = {line, 0, sizeof line};
    TextAdd(&t, "Disk ");
    TextNumber(&t, number);
    TextAdd(&t, " of ");
    TextNumber(&t, total);
    TextAdd(&t, ": ");
    TextDisk(&t, index);
    ScreenLine(2, A_TITLE, line);
    t.length = 0;
    TextAdd(&t, "  Purge: ");
    TextAdd(&t, PurgeMethods[PurgeChoice].words);
    ScreenLine(4, A_NORMAL, line);
    ScreenLine(6, A_NORMAL, "  The drive erases itself; this cannot be paused or stopped.");
    ScreenKeys(" Please wait");
}

/* A Sanitize reaches every namespace of an NVMe controller, a Format
   every one where FNA says so: answers the number of a disk on the same
   controller that is not to be erased (the system disk, one not chosen),
   or 0. */
static unsigned Shared(unsigned index) {
    if (!PurgeWholeController(&PurgeCaps[index], PurgeChoice)) return 0;
    for (unsigned j = 0; j < DiskCount; ++j)
        if (j != index && Pass[j].nvme == Pass[index].nvme && (!Chosen[j] || Disks[j].boot))
            return j + 1;
    return 0;
}

/* Answers 1 when the disk was purged or nothing may be done to it, 0 when
   the overwrite method is to run (no purge chosen, or the fall-back). */
int PurgeDiskRun(unsigned index, const struct TMethod* m, struct TResult* r, unsigned number,
                 unsigned total) {
    Pass[index].tried = 0;
    Pass[index].fellBack = 0;
    if (!PurgeChoice) return 0;
    const struct TPurgeCaps* caps = &PurgeCaps[index];
    if (!(caps->offers >> PurgeChoice & 1) && m->passes) {
        /* Not offered: the fall-back overwrites it, and the record says so. */
        Pass[index].tried = 2;
        Pass[index].fellBack = 1;
        DebugText("PURGE NOT OFFERED, FALL-BACK\n");
        return 0;
    }
    Pass[index].tried = 1;
    memset(r, 0, sizeof *r);
    PurgePage(index, number, total);
    if (Shared(index)) {
        struct TPurgeResult* p = &Pass[index].result;
        memset(p, 0, sizeof *p);
        p->outcome = PURGE_UNSUPPORTED;
        struct TText t = {p->text, 0, sizeof p->text};
        TextAdd(&t, "not done: the command would erase every namespace of the controller, "
                    "and disk ");
        TextNumber(&t, Shared(index));
        TextAdd(&t, " is not to be erased; nothing was erased");
        r->vanished = 1;
        DebugText("PURGE FAILED ");
        DebugText(p->text);
        DebugText("\n");
        return 1;
    }
    const uint32_t start = Ticks();
    uint32_t e[4];
    Entropy(e);
    EFI_BLOCK_IO* io = DiskBlockIo(index);
    PurgeDisk(index, caps, PurgeChoice, io->Media->LastBlock + 1, io->Media->BlockSize, e[0] ^ e[2],
              &Pass[index].result);
    r->ticks = Ticks() - start;
    r->vanished = Pass[index].result.outcome != PURGE_CHECKED;
    DebugText(r->vanished ? "PURGE FAILED " : "PURGE CHECKED ");
    DebugText(Pass[index].result.text);
    DebugText("\n");
    return 1;
}

int PurgeTextResult(struct TText* t, const struct TResult* r) {
    const unsigned i = (unsigned)(r - Results);
    if (i >= MAX_DISKS || Pass[i].tried != 1) return 0;
    const struct TPurgeResult* p = &Pass[i].result;
    TextAdd(t, p->outcome == PURGE_CHECKED ? "PURGED: " : "NOT PURGED: ");
    TextAdd(t, PurgeMethods[PurgeChoice].words);
    TextAdd(t, ", ");
    TextAdd(t, p->text);
    return 1;
}

/* The purge methods some chosen disk offers, for the method page. */
static unsigned Listed(void) {
    unsigned offers = 0;
    for (unsigned i = 0; i < DiskCount; ++i)
        if (Chosen[i]) offers |= PurgeCaps[i].offers;
    return offers;
}

unsigned PurgeListCount(void) {
    unsigned n = 0;
    for (unsigned offers = Listed(); offers; offers &= offers - 1)
        ++n;
    return n;
}

static unsigned ListedMethod(unsigned n) {
    const unsigned offers = Listed();
    for (unsigned m = 1; m < PURGE_METHODS; ++m)
        if ((offers >> m & 1) && !n--) return m;
    return PURGE_NONE;
}

void PurgeListEntry(struct TText* t, unsigned n) {
    const unsigned m = ListedMethod(n);
    TextAdd(t, PurgeMethods[m].name);
    TextPad(t, 20);
    TextAdd(t, "purge, ");
    TextAdd(t, PurgeMethods[m].words);
    TextPad(t, 70);
    TextChar(t, '-');
}

int PurgeListChoose(int n, struct TMethod* m) {
    PurgeChoice = n < 0 ? PURGE_NONE : ListedMethod((unsigned)n);
    if (!PurgeChoice) return 0;
    memcpy(MethodParameter, Fallback, sizeof Fallback);
    if (Fallback[0]) return 0;
    PurgeMethodOnly(m);
    return 1;
}

void PurgeMethodText(struct TText* t, const struct TMethod* m) {
    if (!PurgeChoice || !m->passes) {
        TextAdd(t, m->name);
        return;
    }
    TextAdd(t, "purge, ");
    TextAdd(t, PurgeMethods[PurgeChoice].words);
    TextAdd(t, "; where not offered: ");
    TextAdd(t, m->name);
}

/* The disk page: the purge methods a disk offers. */
void PurgeDiskEntry(struct TText* t, unsigned index) {
    const unsigned offers = PurgeCaps[index].offers;
    if (!offers) return;
    TextAdd(t, " - purge");
    for (unsigned m = 1; m < PURGE_METHODS; ++m)
        if (offers >> m & 1) {
            TextChar(t, ' ');
            TextAdd(t, PurgeMethods[m].name);
        }
}

void PurgeReportDisk(struct TText* t, unsigned index) {
    if (!PurgeChoice && !PurgeCaps[index].bus) return;
    char caps[160];
    PurgeCapsText(caps, sizeof caps, &PurgeCaps[index]);
    TextAdd(t, "Purge commands: ");
    TextAdd(t, caps);
    TextAdd(t, "\r\n");
    if (Pass[index].tried == 2) {
        TextAdd(t, "Purge:        ");
        TextAdd(t, PurgeMethods[PurgeChoice].words);
        TextAdd(t, " not supported by this disk; overwritten with the fall-back method\r\n");
    }
}

/* The record's keys: [record] purge, [disk N] capabilities, [result N]
   purge and purge_check, and for a purged disk its outcome and reason. */
void PurgeRecordStart(void) {
    if (PurgeChoice) RecordValue("purge", PurgeMethods[PurgeChoice].name);
}

void PurgeRecordDisk(unsigned index) {
    char caps[160];
    PurgeCapsText(caps, sizeof caps, &PurgeCaps[index]);
    RecordValue("capabilities", caps);
}

int PurgeRecordOutcome(unsigned index) {
    if (!Pass[index].tried) return 0;
    char words[120];
    struct TText t = {words, 0, sizeof words};
    TextAdd(&t, "purge, ");
    TextAdd(&t, PurgeMethods[PurgeChoice].words);
    const struct TPurgeResult* p = &Pass[index].result;
    if (Pass[index].tried == 2) {
        TextAdd(&t, ", not supported by this disk, overwritten with the fall-back method");
        RecordValue("purge", words);
        RecordValue("purge_check", "none");
        return 0;
    }
    TextAdd(&t, p->outcome == PURGE_CHECKED ? ", checked" : ", FAILED");
    RecordValue("purge", words);
    RecordValue("purge_check", p->text);
    RecordValue("outcome", p->outcome == PURGE_CHECKED ? "purged" : "failed");
    RecordValue("reason", p->outcome == PURGE_CHECKED ? "none" : p->text);
    return 1;
}
