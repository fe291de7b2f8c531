#pragma once
// The floppy target: writes drive A: directly. First the boot part (the
// embedded Rx-DOS image sector by sector through the direct disk component,
// or an MS-DOS system from the MS-DOS boot floppy creator), then the disk
// store's files through the ordinary file system.

#include <cstdint>
#include <functional>
#include <string>

#include "base/Stream.h"
#include "disk/DirectDisk.h"
#include "image/MediaTarget.h"

// The floppy in a drive as a target of the run. The front's choice of
// MS-DOS selects the boot part; the floppy's faults show while it is
// written, so it is always ready to be asked for.
class TFloppyDriveTarget : public TMediaTarget {
public:
    explicit TFloppyDriveTarget(char Drive = 'A') : Drive(Drive) {}
    TMediumPrompt MediumPrompt() const override;
    bool Ready() override { return true; }
    bool MakeMedium(TCreationRun& Run) override;

    // The drive written (the wizard's is always A:).
    char Drive;
    // An MS-DOS floppy gets the composer's MS-DOS base (the store's empty
    // floppy with the installation's or a picked folder's system files),
    // written like the Rx-DOS image, instead of the version-table ways; for
    // systems without a format command (purgex).
    bool MsDosFromComposer = false;
    // Asked after a floppy's files are written; false (after its own
    // message) fails the floppy, which is asked for again (purgex reads the
    // floppy back here).
    std::function<bool()> Written;
};

// Set by the run before each step; reports nothing while unset.
extern std::function<void(double)> FloppyProgressHook;

// The program-wide direct disk component.
TDirDisk& FloppyDirectDisk();

// Boot image chunks: 8 cylinders on the NT family, one track on 9x.
constexpr int64_t NtChunkBytes = 147456;
constexpr int64_t Win9xChunkBytes = 9216;
constexpr size_t ChunkBufferBytes = 200000;

// The boot part; shows its own messages, answers false after any of them.
bool WriteFloppyBoot(char DriveLetter, bool UseMsDos);
// Writes Image from its start onto the drive in chunks, with the Retry/Abort
// prompt for a refused chunk (the Rx-DOS path of WriteFloppyBoot; purgex
// also writes a composed MS-DOS floppy through it).
bool WriteFloppyBootImage(char DriveLetter, TStream& Image);
// Every file item of DiskStore onto the drive, folders made as needed.
bool CopyStoreFiles(char DriveLetter);

extern const char* const CannotCreateMsDosText;
extern const char* const InvalidWindowsVersionText;
