/* The purge in PURGIT.EFI: the firmware's NVMe and ATA pass-through
   protocols under the purge engine (purgit/purge.c), and what the pages,
   the report and the record show of it. */
#ifndef PURGIT_UEFI_PASSTHRU_H
#define PURGIT_UEFI_PASSTHRU_H

#include "../purgit/purge.h"

/* ATA_PASS_THRU_PROTOCOL and its packet, as the UEFI specification has
   them (gnu-efi's headers lack them). */
#define ATA_PASS_THRU_GUID                                                                         \
    {                                                                                              \
        0x1d3de7f0, 0x0807, 0x424f, {                                                              \
            0xaa, 0x69, 0x11, 0xa5, 0x4e, 0x19, 0xa4, 0x6f                                         \
        }                                                                                          \
    }

typedef struct {
    UINT8 Reserved1[2];
    UINT8 Command, Features, SectorNumber, CylinderLow, CylinderHigh, DeviceHead;
    UINT8 SectorNumberExp, CylinderLowExp, CylinderHighExp, FeaturesExp;
    UINT8 SectorCount, SectorCountExp;
    UINT8 Reserved2[6];
} TAtaCommandBlock;

typedef struct {
    UINT8 Reserved1[2];
    UINT8 Status, Error, SectorNumber, CylinderLow, CylinderHigh, DeviceHead;
    UINT8 SectorNumberExp, CylinderLowExp, CylinderHighExp, Reserved2;
    UINT8 SectorCount, SectorCountExp;
    UINT8 Reserved3[6];
} TAtaStatusBlock;

typedef struct {
    TAtaStatusBlock* Asb;
    TAtaCommandBlock* Acb;
    UINT64 Timeout; /* 100 ns units */
    VOID* InDataBuffer;
    VOID* OutDataBuffer;
    UINT32 InTransferLength, OutTransferLength;
    UINT8 Protocol; /* 2 non-data, 4 PIO in, 5 PIO out */
    UINT8 Length;   /* 0x80: the transfer lengths are in bytes */
} TAtaPacket;

typedef struct TAtaPassThru {
    struct {
        UINT32 Attributes, IoAlign;
    } * Mode;
    EFI_STATUS(EFIAPI* PassThru)
    (struct TAtaPassThru* This, UINT16 Port, UINT16 PortMultiplierPort, TAtaPacket* Packet,
     EFI_EVENT Event);
} TAtaPassThru;

/* One NVMe admin command (CDW10 and CDW11 given) through the controller's
   pass-through, data of length bytes to or from data; the firmware's
   answer, and the completion. */
EFI_STATUS NvmeAdminCommand(TNvmePassThru* pass, uint8_t opcode, uint32_t nsid, uint32_t cdw10,
                            uint32_t cdw11, void* data, unsigned length, uint32_t seconds,
                            TNvmeCompletion* completion);
EFI_BLOCK_IO* DiskBlockIo(unsigned index);
EFI_DEVICE_PATH* DiskDevicePath(unsigned index);

/* After FindDisks: each disk's capabilities. */
void FindPurgeCaps(void);
extern struct TPurgeCaps PurgeCaps[];

#endif
