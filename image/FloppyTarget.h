#pragma once
// The floppy target: writes drive A: directly. First the boot part (the
// embedded Rx-DOS image sector by sector through the direct disk component,
// or an MS-DOS system from the MS-DOS boot floppy creator), then the disk
// store's files through the ordinary file system.

#include <cstdint>
#include <functional>

#include "base/Stream.h"
#include "disk/DirectDisk.h"

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
