/* The firmware's tables and the protocols the UEFI layer uses, beyond
   what gnu-efi's headers declare. */
#ifndef PURGIT_UEFI_EFI_H
#define PURGIT_UEFI_EFI_H

#include <efi.h>

extern EFI_SYSTEM_TABLE* ST;
extern EFI_BOOT_SERVICES* BS;
extern EFI_HANDLE ImageHandle;
/* The device and the root folder of the volume the wiper started from. */
extern EFI_HANDLE StartDevice;
extern EFI_FILE_HANDLE StartRoot;

#define DISK_INFO_GUID                                                                             \
    {                                                                                              \
        0xd432a67f, 0x14dc, 0x484b, {                                                              \
            0xb3, 0xbb, 0x3f, 0x02, 0x91, 0x84, 0x93, 0x27                                         \
        }                                                                                          \
    }
#define DISK_INFO_IDE_GUID                                                                         \
    {                                                                                              \
        0x5e948fe3, 0x26d3, 0x42b5, {                                                              \
            0xaf, 0x17, 0x61, 0x02, 0x87, 0x18, 0x8d, 0xec                                         \
        }                                                                                          \
    }
#define DISK_INFO_AHCI_GUID                                                                        \
    {                                                                                              \
        0x9e498932, 0x4abc, 0x45af, {                                                              \
            0xa3, 0x4d, 0x02, 0x47, 0x78, 0x7b, 0xe7, 0xc6                                         \
        }                                                                                          \
    }
#define DISK_INFO_USB_GUID                                                                         \
    {                                                                                              \
        0xcb871572, 0xc11a, 0x47b5, {                                                              \
            0xb4, 0x92, 0x67, 0x5e, 0xaf, 0xa7, 0x77, 0x27                                         \
        }                                                                                          \
    }
#define DISK_INFO_SCSI_GUID                                                                        \
    {                                                                                              \
        0x08f74baa, 0xea36, 0x41d9, {                                                              \
            0x95, 0x21, 0x21, 0xa7, 0x0f, 0x87, 0x80, 0xbc                                         \
        }                                                                                          \
    }
#define NVME_PASS_THRU_GUID                                                                        \
    {                                                                                              \
        0x52c78312, 0x8edc, 0x4233, {                                                              \
            0x98, 0xf2, 0x1a, 0x1a, 0xa5, 0xe3, 0x88, 0xa5                                         \
        }                                                                                          \
    }

typedef struct TDiskInfo {
    EFI_GUID Interface;
    EFI_STATUS(EFIAPI* Inquiry)(struct TDiskInfo* This, VOID* Data, UINT32* Size);
    EFI_STATUS(EFIAPI* Identify)(struct TDiskInfo* This, VOID* Data, UINT32* Size);
    EFI_STATUS(EFIAPI* SenseData)(struct TDiskInfo* This, VOID* Data, UINT32* Size, UINT8* Count);
    EFI_STATUS(EFIAPI* WhichIde)(struct TDiskInfo* This, UINT32* Channel, UINT32* Device);
} TDiskInfo;

typedef struct {
    UINT32 Cdw0; /* opcode in the low byte */
    UINT8 Flags; /* which of the dwords below count */
    UINT32 Nsid;
    UINT32 Cdw2, Cdw3, Cdw10, Cdw11, Cdw12, Cdw13, Cdw14, Cdw15;
} TNvmeCommand;

typedef struct {
    UINT32 Dw0, Dw1, Dw2, Dw3;
} TNvmeCompletion;

typedef struct {
    UINT64 CommandTimeout; /* 100 ns units */
    VOID* TransferBuffer;
    UINT32 TransferLength;
    VOID* MetadataBuffer;
    UINT32 MetadataLength;
    UINT8 QueueType; /* 0: admin */
    TNvmeCommand* Command;
    TNvmeCompletion* Completion;
} TNvmePacket;

typedef struct TNvmePassThru {
    struct {
        UINT32 Attributes, IoAlign, Version;
    } * Mode;
    EFI_STATUS(EFIAPI* PassThru)
    (struct TNvmePassThru* This, UINT32 Namespace, TNvmePacket* Packet, EFI_EVENT Event);
} TNvmePassThru;

/* An ASCII path of the wiper's folder ("DATA\\X.TXT") or of the volume's
   root ("\\PURG0001.LOG") as the firmware's UCS-2. */
void WidePath(CHAR16* to, unsigned room, const char* path);

#endif
