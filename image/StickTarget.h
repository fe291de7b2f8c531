#pragma once
// The USB stick target: the composed Rx-DOS boot floppy's files laid out on
// a stick (a partition table and one FAT16 or FAT32 partition) and written
// through the platform's disk handle, only the sectors the layout needs,
// then read back. An image file standing for a stick is written the same
// way. Only Rx-DOS is offered: the user's MS-DOS files would need boot code
// of their own to start from a partition.

#include <cstdint>
#include <string>

#include "image/MediaTarget.h"
#include "image/StickLayout.h"
#include "platform/Platform.h"
#include "platform/StickChecks.h"

// An image file made for a stick when none exists yet.
constexpr uint64_t DefaultStickImageBytes = 64ull << 20;

class TUsbStickTarget : public TMediaTarget {
public:
    explicit TUsbStickTarget(TStickDevice Device) : Device(std::move(Device)) {}
    TMediumPrompt MediumPrompt() const override;
    // The stick is there (an image file always is).
    bool Ready() override;
    bool MakeMedium(TCreationRun& Run) override;

    TStickDevice Device;
    // The user's explicit word that a disk neither removable nor USB may be
    // written.
    bool AnyDisk = false;
    bool Verify = true;
    // The size of an image file that does not exist yet.
    uint64_t CreateBytes = DefaultStickImageBytes;
    // What the last medium took: bytes written and the file system.
    uint64_t BytesWritten = 0;
    bool Fat32 = false;
};

// "/dev/sdb: SanDisk Cruzer, 16.0 GB"; "E: SanDisk Cruzer, 16.0 GB" on Windows
std::string StickDescription(const TStickDevice& Device);
// Why the stick may not be written ("/dev/sdb is read-only ..."), or empty:
// the checks the disk layer repeats when it opens the disk.
std::string StickProblem(const TStickDevice& Device, bool AnyDisk);

// The boot code the build embedded beside the stores; false when any part
// is missing or of the wrong size.
bool EmbeddedStickBootCode(TStickBootCode& Code);

extern const char* const StickOnlyRxDosText;
