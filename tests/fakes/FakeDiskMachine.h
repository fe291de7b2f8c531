#pragma once
// The disks of a simulated Windows machine: physical drives answering the
// storage and disk control requests, volumes with drive letters that lie on
// them and can be locked and dismounted. Every request that matters is
// logged in order. Attach to a TFakePlatform through its Disks member.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"

struct TFakePhysicalDrive {
    std::string Vendor = "Corsair ";
    std::string Product = "Voyager Mini    ";
    uint32_t BusType = 7; // USB
    bool RemovableMedia = true;
    uint64_t Bytes = 64 << 20;
    uint32_t SectorBytes = 512;
    bool ReadOnly = false;
    bool Present = true;
    // Writes taken before the stick is pulled out; -1 for never.
    int WritesBeforeGone = -1;
    uint32_t GoneError = 1167;                        // ERROR_DEVICE_NOT_CONNECTED
    std::map<uint64_t, std::vector<uint8_t>> Sectors; // written sectors by number
};

struct TFakeVolume {
    char Letter = 'E';
    uint32_t Disk = 1;
    bool Fixed = false;
    bool InUse = false; // files open on it: the lock is refused
    bool Locked = false;
    bool Mounted = true;
};

class TFakeDiskMachine {
public:
    std::map<uint32_t, TFakePhysicalDrive> Drives;
    std::vector<TFakeVolume> Volumes;
    // "open \\.\PhysicalDrive1 rw", "query 1", "lock E:", "write 1 @0 +512", "refresh 1", ...
    std::vector<std::string> Log;

    bool Owns(std::string_view Name) const;
    std::unique_ptr<TDeviceHandle> Open(std::string_view Name, const TDeviceAccess& Access,
                                        uint32_t& Error);
    uint32_t LetterMask() const;
    TFakeVolume* Volume(char Letter);
    // Count bytes of drive Number from Offset, as written (zeros elsewhere).
    std::vector<uint8_t> Contents(uint32_t Number, uint64_t Offset, size_t Count) const;
    // The log entries that start with one of Prefixes.
    std::vector<std::string> Logged(const std::vector<std::string>& Prefixes) const;
};
