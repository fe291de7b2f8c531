/* Disks through the firmware: every Block I/O handle with media present
   that is a whole device and writable. Identity from the Disk Information
   protocol (ATA IDENTIFY), NVMe Identify Controller through the NVMe pass
   thru protocol, else from the device path. */
#include "../purgit/purgit.h"
#include "efi.h"
#include "passthru.h"

struct TDisk Disks[MAX_DISKS];
unsigned DiskCount;

struct TFirmwareDisk {
    EFI_BLOCK_IO* io;
    EFI_DEVICE_PATH* path;
    const char* kind; /* "SATA", "NVMe", ... */
    uint32_t align;
};
static struct TFirmwareDisk Firmware[MAX_DISKS];
/* One page for requests whose buffer the media cannot take as it is. */
static uint8_t* Bounce;

static unsigned PathLength(const EFI_DEVICE_PATH* p) {
    unsigned n = 0;
    for (;;) {
        const unsigned length = p->Length[0] | p->Length[1] << 8;
        if (p->Type == 0x7F && p->SubType == 0xFF) return n;
        if (length < 4) return n;
        n += length;
        p = (const EFI_DEVICE_PATH*)((const uint8_t*)p + length);
    }
}

/* The disk that holds the start volume: its path begins the volume's. */
static int HoldsStart(const EFI_DEVICE_PATH* disk) {
    EFI_GUID pathGuid = DEVICE_PATH_PROTOCOL;
    EFI_DEVICE_PATH* start = 0;
    if (!StartDevice || EFI_ERROR(BS->HandleProtocol(StartDevice, &pathGuid, (VOID**)&start)) ||
        !start)
        return 0;
    const unsigned n = PathLength(disk);
    return n && n <= PathLength(start) && !memcmp(disk, start, n);
}

static void Trim(char* s, unsigned n) {
    for (unsigned i = 0; i < n; ++i)
        if (s[i] < 32 || s[i] > 126) s[i] = ' ';
    while (n && s[n - 1] == ' ')
        --n;
    s[n] = 0;
    unsigned lead = 0;
    while (s[lead] == ' ')
        ++lead;
    if (lead) memcpy(s, s + lead, n - lead + 1);
}

static void Hex(struct TText* t, unsigned v) {
    char digits[9];
    unsigned n = 0;
    do {
        digits[n++] = "0123456789ABCDEF"[v & 15];
        v >>= 4;
    } while (v);
    while (n)
        TextChar(t, digits[--n]);
}

/* The path in short: Pci(3,0)/Sata(0,0) and so on; the kind of disk from
   its messaging node. */
static const char* DescribePath(const EFI_DEVICE_PATH* p, struct TText* t) {
    const char* kind = 0;
    while (!(p->Type == 0x7F && p->SubType == 0xFF)) {
        const unsigned length = p->Length[0] | p->Length[1] << 8;
        if (length < 4) break;
        const uint8_t* d = (const uint8_t*)p + 4;
        if (t->length) TextChar(t, '/');
        if (p->Type == 2 && p->SubType == 1) {
            TextAdd(t, "PciRoot(");
            TextNumber(t, d[4] | d[5] << 8);
        } else if (p->Type == 1 && p->SubType == 1) {
            TextAdd(t, "Pci(");
            Hex(t, d[1]);
            TextChar(t, ',');
            Hex(t, d[0]);
        } else if (p->Type == 3 && p->SubType == 1) {
            kind = "IDE";
            TextAdd(t, d[0] ? "Ata(secondary," : "Ata(primary,");
            TextAdd(t, d[1] ? "slave" : "master");
        } else if (p->Type == 3 && p->SubType == 18) {
            kind = "SATA";
            TextAdd(t, "Sata(");
            TextNumber(t, d[0] | d[1] << 8);
        } else if (p->Type == 3 && p->SubType == 23) {
            kind = "NVMe";
            TextAdd(t, "NVMe(");
            TextNumber(t, d[0] | d[1] << 8 | (uint32_t)d[2] << 16 | (uint32_t)d[3] << 24);
        } else if (p->Type == 3 && p->SubType == 2) {
            kind = "SCSI";
            TextAdd(t, "Scsi(");
            TextNumber(t, d[0] | d[1] << 8);
            TextChar(t, ',');
            TextNumber(t, d[2] | d[3] << 8);
        } else if (p->Type == 3 && p->SubType == 5) {
            kind = "USB";
            TextAdd(t, "Usb(");
            TextNumber(t, d[0]);
            TextChar(t, ',');
            TextNumber(t, d[1]);
        } else {
            TextAdd(t, "Node(");
            TextNumber(t, p->Type);
            TextChar(t, ',');
            TextNumber(t, p->SubType);
        }
        TextChar(t, ')');
        p = (const EFI_DEVICE_PATH*)((const uint8_t*)p + length);
    }
    return kind;
}

/* ATA IDENTIFY DEVICE data: byte-swapped strings, as the DOS wiper reads. */
static void FromAtaIdentify(struct TDisk* d, const uint16_t* w) {
    for (unsigned i = 0; i < 20; ++i) {
        d->model[2 * i] = (char)(w[27 + i] >> 8);
        d->model[2 * i + 1] = (char)w[27 + i];
    }
    for (unsigned i = 0; i < 10; ++i) {
        d->serial[2 * i] = (char)(w[10 + i] >> 8);
        d->serial[2 * i + 1] = (char)w[10 + i];
    }
    Trim(d->model, 40);
    Trim(d->serial, 20);
    d->identified = 1;
}

static int SameGuid(const EFI_GUID* a, const EFI_GUID* b) {
    return !memcmp(a, b, sizeof *a);
}

/* ATA IDENTIFY from IDE and AHCI disks; SCSI INQUIRY (vendor and product)
   from USB and SCSI disks, whose serial number the firmware does not ask. */
static void IdentifyFromDiskInfo(EFI_HANDLE h, struct TDisk* d) {
    EFI_GUID infoGuid = DISK_INFO_GUID, ide = DISK_INFO_IDE_GUID, ahci = DISK_INFO_AHCI_GUID,
             usb = DISK_INFO_USB_GUID, scsi = DISK_INFO_SCSI_GUID;
    TDiskInfo* info = 0;
    if (EFI_ERROR(BS->HandleProtocol(h, &infoGuid, (VOID**)&info)) || !info) return;
    static uint16_t data[256];
    UINT32 size = sizeof data;
    if (SameGuid(&info->Interface, &ide) || SameGuid(&info->Interface, &ahci)) {
        if (!EFI_ERROR(info->Identify(info, data, &size)) && size >= 512) FromAtaIdentify(d, data);
    } else if (SameGuid(&info->Interface, &usb) || SameGuid(&info->Interface, &scsi)) {
        const uint8_t* inquiry = (const uint8_t*)data;
        if (EFI_ERROR(info->Inquiry(info, data, &size)) || size < 32) return;
        char product[17];
        memcpy(d->model, inquiry + 8, 8);
        Trim(d->model, 8);
        memcpy(product, inquiry + 16, 16);
        Trim(product, 16);
        struct TText model = {d->model, strlen(d->model), sizeof d->model};
        if (model.length) TextChar(&model, ' ');
        TextAdd(&model, product);
    }
}

/* NVMe Identify Controller (CNS 1): serial at byte 4, model at 24. */
static void IdentifyNvme(EFI_DEVICE_PATH* path, struct TDisk* d) {
    EFI_GUID passGuid = NVME_PASS_THRU_GUID;
    EFI_DEVICE_PATH* rest = path;
    EFI_HANDLE controller;
    if (EFI_ERROR(BS->LocateDevicePath(&passGuid, &rest, &controller))) return;
    TNvmePassThru* pass = 0;
    if (EFI_ERROR(BS->HandleProtocol(controller, &passGuid, (VOID**)&pass)) || !pass) return;
    EFI_PHYSICAL_ADDRESS a = 0;
    if (EFI_ERROR(BS->AllocatePages(AllocateAnyPages, EfiLoaderData, 1, &a))) return;
    uint8_t* data = (uint8_t*)(uintptr_t)a;
    memset(data, 0, 4096);
    TNvmeCompletion completion;
    if (!EFI_ERROR(
            NvmeAdminCommand(pass, 0x06 /* Identify */, 0, 1, 0, data, 4096, 5, &completion))) {
        memcpy(d->serial, data + 4, 20);
        memcpy(d->model, data + 24, 40);
        Trim(d->model, 40);
        Trim(d->serial, 20);
        d->identified = d->model[0] != 0;
    }
    BS->FreePages(a, 1);
}

/* A virtio disk says so in its PCI vendor. */
static int IsVirtio(EFI_DEVICE_PATH* path) {
    EFI_GUID pciGuid = EFI_PCI_IO_PROTOCOL_GUID;
    EFI_DEVICE_PATH* rest = path;
    EFI_HANDLE h;
    if (EFI_ERROR(BS->LocateDevicePath(&pciGuid, &rest, &h))) return 0;
    EFI_PCI_IO* pci = 0;
    if (EFI_ERROR(BS->HandleProtocol(h, &pciGuid, (VOID**)&pci)) || !pci) return 0;
    UINT16 vendor = 0;
    if (EFI_ERROR(pci->Pci.Read(pci, EfiPciIoWidthUint16, 0, 1, &vendor))) return 0;
    return vendor == 0x1AF4;
}

void FindDisks(void) {
    EFI_GUID blockGuid = BLOCK_IO_PROTOCOL, pathGuid = DEVICE_PATH_PROTOCOL;
    UINTN count = 0;
    EFI_HANDLE* handles = 0;
    DiskCount = 0;
    if (!Bounce) {
        EFI_PHYSICAL_ADDRESS a = 0;
        if (!EFI_ERROR(BS->AllocatePages(AllocateAnyPages, EfiLoaderData, 1, &a)))
            Bounce = (uint8_t*)(uintptr_t)a;
    }
    if (EFI_ERROR(BS->LocateHandleBuffer(ByProtocol, &blockGuid, 0, &count, &handles))) return;
    for (UINTN i = 0; i < count && DiskCount < MAX_DISKS; ++i) {
        EFI_BLOCK_IO* io = 0;
        EFI_DEVICE_PATH* path = 0;
        if (EFI_ERROR(BS->HandleProtocol(handles[i], &blockGuid, (VOID**)&io)) || !io) continue;
        if (EFI_ERROR(BS->HandleProtocol(handles[i], &pathGuid, (VOID**)&path)) || !path) continue;
        const EFI_BLOCK_IO_MEDIA* m = io->Media;
        if (!m->MediaPresent || m->LogicalPartition || m->ReadOnly || m->LastBlock == 0) continue;
        struct TDisk* d = &Disks[DiskCount];
        struct TFirmwareDisk* f = &Firmware[DiskCount];
        memset(d, 0, sizeof *d);
        f->io = io;
        f->path = path;
        f->align = m->IoAlign > 1 ? m->IoAlign : 1;
        d->drive = (uint8_t)(0x80 + DiskCount);
        d->extended = 1;
        d->sectorBytes = (uint16_t)m->BlockSize;
        d->sectors = m->LastBlock + 1;
        /* The engine moves whole blocks of up to a page (the bounce page's
           size): 512-byte and 4 KB sectors alike. */
        if (m->BlockSize < 512 || m->BlockSize > 4096 || (m->BlockSize & (m->BlockSize - 1)))
            d->unusable = 1;
        d->block = (uint16_t)(d->unusable ? 2048 : 2048 * 512 / m->BlockSize); /* 1 MB */
        char where[80];
        struct TText t = {where, 0, sizeof where};
        f->kind = DescribePath(path, &t);
        IdentifyFromDiskInfo(handles[i], d);
        if (!d->identified && f->kind && f->kind[0] == 'N') IdentifyNvme(path, d);
        if (!f->kind) f->kind = IsVirtio(path) ? "virtio" : "PCI";
        /* What the disk does not tell: the kind as its model, where it sits
           as its serial number. */
        if (!d->model[0]) {
            struct TText model = {d->model, 0, sizeof d->model};
            TextAdd(&model, f->kind);
            TextAdd(&model, " disk");
        }
        if (!d->serial[0]) {
            /* The nodes nearest the disk that fit. */
            unsigned from = 0;
            while (t.length - from > sizeof d->serial - 1) {
                while (from < t.length && where[from] != '/')
                    ++from;
                if (from < t.length) ++from;
            }
            memcpy(d->serial, where + from, t.length - from + 1);
        }
        d->boot = (uint8_t)HoldsStart(path);
        ++DiskCount;
    }
    BS->FreePool(handles);
}

static unsigned Status(EFI_STATUS s) {
    if (s == EFI_SUCCESS) return 0;
    if (s == EFI_BAD_BUFFER_SIZE || s == EFI_INVALID_PARAMETER) return 0x01; /* FindBlock halves */
    if (s == EFI_NO_MEDIA || s == EFI_MEDIA_CHANGED) return 0x80;
    return 0x04;
}

static EFI_STATUS Move(struct TFirmwareDisk* f, int write, uint64_t lba, unsigned count,
                       uint8_t* at) {
    EFI_BLOCK_IO* io = f->io;
    const UINTN bytes = (UINTN)count * io->Media->BlockSize;
    return write ? io->WriteBlocks(io, io->Media->MediaId, lba, bytes, at)
                 : io->ReadBlocks(io, io->Media->MediaId, lba, bytes, at);
}

unsigned DiskTransfer(struct TDisk* d, int write, TLba lba, unsigned count, TBuffer seg,
                      TOffset off) {
    if (Trace) {
        char line[48];
        struct TText t = {line, 0, sizeof line};
        TextChar(&t, write ? 'W' : 'R');
        TextChar(&t, ' ');
        TextNumber(&t, lba);
        TextChar(&t, ' ');
        TextNumber(&t, count);
        TextChar(&t, '\n');
        DebugText(line);
    }
    struct TFirmwareDisk* f = &Firmware[d - Disks];
    uint8_t* at = seg + off;
    if (!((uintptr_t)at % f->align)) return Status(Move(f, write, lba, count, at));
    /* A piece of the buffer the media cannot take where it is: through the
       bounce page, a page at a time. */
    if (!Bounce) return 0x01;
    const unsigned size = d->sectorBytes, most = 4096 / size;
    for (unsigned done = 0; done < count;) {
        const unsigned n = count - done < most ? count - done : most;
        if (write) memcpy(Bounce, at + done * size, n * size);
        const EFI_STATUS s = Move(f, write, lba + done, n, Bounce);
        if (EFI_ERROR(s)) return Status(s);
        if (!write) memcpy(at + done * size, Bounce, n * size);
        done += n;
    }
    return 0;
}

int DiskAnswers(struct TDisk* d) {
    struct TFirmwareDisk* f = &Firmware[d - Disks];
    if (!f->io->Media->MediaPresent || !Bounce) return 0;
    return !EFI_ERROR(Move(f, 0, 0, 1, Bounce));
}

void TextPath(struct TText* t, const struct TDisk* d, int detail) {
    const struct TFirmwareDisk* f = &Firmware[d - Disks];
    TextAdd(t, "UEFI Block I/O");
    if (!detail) return;
    TextAdd(t, " (");
    TextAdd(t, f->kind);
    TextAdd(t, ", buffer alignment ");
    TextNumber(t, f->align);
    TextChar(t, ')');
}

void TextBus(struct TText* t, const struct TDisk* d) {
    TextAdd(t, Firmware[d - Disks].kind);
}

void TextDisk(struct TText* t, unsigned index) {
    const struct TDisk* d = &Disks[index];
    TextAdd(t, "Disk ");
    TextNumber(t, index + 1);
    TextAdd(t, " (");
    TextAdd(t, Firmware[index].kind);
    TextAdd(t, "): ");
    TextSize(t, d->sectors, d->sectorBytes);
    TextAdd(t, ", ");
    TextNumber(t, d->sectors);
    TextAdd(t, " sectors");
    if (d->model[0]) {
        TextAdd(t, ", ");
        TextAdd(t, d->model);
    }
}

/* The firmware moves a request from memory as it is: no request beyond a
   block, and none that would run through a buffer again. */
unsigned DiskLargest(const struct TDisk* d, int write, uint32_t repeat) {
    (void)write;
    (void)repeat;
    return d->block;
}

unsigned DiskLarge(struct TDisk* d, int write, TLba lba, unsigned count, TBuffer b,
                   uint32_t repeat) {
    if (repeat && repeat < (uint32_t)count * d->sectorBytes) return 0x01;
    return DiskTransfer(d, write, lba, count, b, 0);
}

/* The firmware's side of a disk, for the purge (passthru.c). */
EFI_BLOCK_IO* DiskBlockIo(unsigned index) {
    return Firmware[index].io;
}

EFI_DEVICE_PATH* DiskDevicePath(unsigned index) {
    return Firmware[index].path;
}
