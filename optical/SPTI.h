#pragma once
// CD/DVD drives reached through the system's SCSI pass-through on drive-letter
// device handles ("\\.\E:"). Commands travel in the 684-byte buffered request
// (IOCTL_SCSI_PASS_THROUGH), or in the 172-byte direct request
// (IOCTL_SCSI_PASS_THROUGH_DIRECT) for the two commands that send data.

#include <memory>
#include <vector>

#include "optical/ScsiCommands.h"
#include "platform/Platform.h"

constexpr uint32_t IoctlScsiPassThrough = 0x4D004;
constexpr uint32_t IoctlScsiPassThroughDirect = 0x4D014;
constexpr uint32_t IoctlStorageMediaRemoval = 0x2D4804;
constexpr uint32_t IoctlStorageEjectMedia = 0x2D4808;

// Layout of the requests (the system's SCSI_PASS_THROUGH header, 44 bytes).
constexpr size_t SptiHeaderBytes = 44;
constexpr size_t SptiSenseBytes = 128;
constexpr size_t SptiDataOffset = 172; // header and sense
constexpr size_t SptiDataBytes = 512;
constexpr size_t SptiBufferedBytes = SptiDataOffset + SptiDataBytes; // 684
constexpr size_t SptiDirectBytes = 172;

// "\\.\" + letter + ":"
std::string SptiDevicePath(char Letter);

// A drive on an open device handle.
class TSptiDrive : public TScsiDrive {
public:
    explicit TSptiDrive(std::unique_ptr<TDeviceHandle> Handle) : Handle(std::move(Handle)) {}
    uint8_t Execute(const TScsiCommand& Command) override;

private:
    std::unique_ptr<TDeviceHandle> Handle;
};

class TSPTIdevice : public TScsiOpticalDevice {
public:
    // Queries the drive at once: INQUIRY, then the capabilities.
    explicit TSPTIdevice(char Letter);

    uint8_t Eject() override;

protected:
    // Pass-through requests on the letter's handle, or the handle itself
    // where it is a TScsiDrive (Linux).
    std::unique_ptr<TScsiDrive> OpenDrive() override;
    TBurningIO& DefaultObserver() override;
    uint32_t ErasePollTimeout() const override { return 2; }
};

class TSPTIdevices {
public:
    // The drives behind the logical drive letters; none on the Windows 9x family.
    TSPTIdevices();
    std::vector<std::unique_ptr<TSPTIdevice>> Devices;
};
