#pragma once
// CD/DVD drives reached through the ASPI library "wnaspi32.dll", where it is
// installed and reports itself available: every host adapter, target and LUN
// is scanned, and commands travel in the library's request blocks.

#include <array>
#include <memory>
#include <vector>

#include "optical/ScsiCommands.h"

// Request block sizes and command codes of the library.
constexpr size_t AspiInquiryBytes = 60;
constexpr size_t AspiDeviceTypeBytes = 12;
constexpr size_t AspiExecuteBytes = 84;
constexpr size_t AspiAbortBytes = 12;
constexpr uint8_t AspiCommandInquiry = 0, AspiCommandDeviceType = 1, AspiCommandExecute = 2,
                  AspiCommandAbort = 3;
constexpr uint8_t AspiStatusPending = 0, AspiStatusComplete = 1;
// The longest wait for a request before it is aborted.
constexpr uint32_t AspiWaitMilliseconds = 100000;

// What GetASPI32SupportInfo reports.
class TASPIinfo {
public:
    void Refresh();
    uint32_t Raw = 0;
    bool Available = false;   // status byte (bits 8-15) is 1
    uint8_t AdapterCount = 0; // 0 when not available
};

// Adapter in bits 0-7, target in bits 8-15, LUN in bits 16-23.
constexpr uint32_t PackAspiAddress(uint8_t Adapter, uint8_t Target, uint8_t Lun) {
    return uint32_t(Adapter) | uint32_t(Target) << 8 | uint32_t(Lun) << 16;
}

// A drive at one packed address.
class TAspiDrive : public TScsiDrive {
public:
    explicit TAspiDrive(uint32_t Address) : Address(Address) {}
    uint8_t Execute(const TScsiCommand& Command) override;
    bool IsAspi() const override { return true; }
    uint8_t Lun() const override { return uint8_t(Address >> 16); }

private:
    uint32_t Address;
};

class TASPIdevice : public TScsiOpticalDevice {
public:
    // Queries the drive at once: INQUIRY, then the capabilities.
    TASPIdevice(uint8_t Adapter, uint8_t Target, uint8_t Lun,
                const std::array<uint8_t, AspiInquiryBytes>& AdapterInquiry,
                const std::array<uint8_t, AspiDeviceTypeBytes>& DeviceTypeBlock);

    uint8_t Eject() override;

    uint8_t Adapter, Target, Lun;
    std::array<uint8_t, AspiInquiryBytes> AdapterInquiry;
    std::array<uint8_t, AspiDeviceTypeBytes> DeviceTypeBlock;
    uint32_t Address() const { return PackAspiAddress(Adapter, Target, Lun); }

protected:
    std::unique_ptr<TScsiDrive> OpenDrive() override;
    TBurningIO& DefaultObserver() override;
    bool CapabilitiesOnFailure() const override { return true; }
};

class TASPIdevices {
public:
    // Scans every adapter, target and LUN that the library reports.
    TASPIdevices();
    bool Available() const { return Info.Available; }
    TASPIinfo Info;
    std::vector<std::unique_ptr<TASPIdevice>> Devices;
};
