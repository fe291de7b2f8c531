#pragma once
// A simulated floppy drive for the test machine: a 1.44 MB medium behind
// the Windows device names ("\\.\A:" on NT, "\\.\vwin32" INT 13h writes on
// 9x) and behind "A:\..." files (served by the FAT12 code, as the POSIX
// layer does). Every request is recorded, and faults can be injected: no
// disk, write protection, a disk that vanishes after so many writes, a full
// disk, a chosen chunk refused a number of times.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "floppy/Vfloppy.h"
#include "platform/Platform.h"

class TFakeFloppyDrive : public TGenericFloppy {
public:
    char Letter = 'A';
    std::unique_ptr<TVirtualFloppy> Medium = std::make_unique<TVirtualFloppy>();

    bool DiskPresent = true;
    bool WriteProtected = false;
    // Sector writes (raw or through files) still accepted; then the disk is
    // gone. Negative: never.
    int64_t WritesBeforeVanishing = -1;
    // A raw write starting at this byte offset fails RefuseTimes times.
    int64_t RefuseOffset = -1;
    int RefuseTimes = 0;
    // Every INT 13h request fails this many times with this BIOS status.
    int Int13Failures = 0;
    uint8_t Int13Status = 0x03; // write-protected
    // INT 13h data: the address in EBX is only a pointer on 32-bit builds;
    // elsewhere a test may map it back to the buffer it passed.
    std::function<const uint8_t*(uint32_t)> ResolveAddress;

    struct TInt13Request {
        uint8_t Function, Count, Cylinder, Sector, Head, Drive;
    };
    struct TRawWrite {
        uint64_t Offset;
        uint32_t Bytes;
    };
    std::vector<TInt13Request> Int13Requests;
    std::vector<TRawWrite> RawWrites;
    std::vector<std::string> Events; // "open \\.\A:", "lock", "dismount", "unlock", "close"
    // Called after every raw write the drive took (to change the disk mid-run).
    std::function<void(TFakeFloppyDrive&)> OnRawWrite;

    bool Vanished() const { return !DiskPresent || WritesBeforeVanishing == 0; }
    // Marks every free cluster used, leaving Free of them free.
    void FillUp(int32_t Free);

    // Device layer.
    std::unique_ptr<TDeviceHandle> Open(std::string_view Name, uint32_t& Error,
                                        const TWindowsVersion& Version);
    bool FreeSpace(TDiskFreeSpace& Space, uint32_t& Error);
    // "A:\..." paths; false when Path is not on this drive.
    bool Owns(std::string_view Path) const;
    std::string Rest(std::string_view Path) const { return std::string(Path.substr(2)); }

    int32_t WriteSectors(int32_t Sector, const uint8_t* Buffer, int32_t Count) override;
    int32_t ReadSectors(int32_t Sector, uint8_t* Buffer, int32_t Count) override;

    // Raw bytes at Offset; false (and nothing written) on a fault.
    bool WriteRaw(uint64_t Offset, const uint8_t* Data, size_t Count, uint32_t& Error);
};
