#pragma once
// What a medium carries to start the wiper on UEFI PCs: the wiper's UEFI
// build as \EFI\BOOT\BOOTX64.EFI (the path firmware starts from removable
// media), its parameters beside it in PURGIT.ARG (UEFI has no AUTOEXEC.BAT),
// and the same \PURGIT tree the DOS wiper reads. A stick holds these files
// in its own volume; a disc holds them in a FAT image of their own, booted
// through a second El Torito entry.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "floppy/Vfloppy.h"
#include "image/StickLayout.h"

// The wiper's UEFI build the program carries; empty when it is missing.
std::optional<std::span<const uint8_t>> EmbeddedUefiWiper();

// EFI, EFI\BOOT, EFI\BOOT\BOOTX64.EFI and EFI\BOOT\PURGIT.ARG: the
// parameters as the DOS start-up line passes them, one line ending in CR LF.
std::vector<TStickFile> UefiStartFiles(std::span<const uint8_t> Wiper,
                                       const std::string& CommandLine);

// The \PURGIT tree of a composed boot floppy (folders before their files).
std::vector<TStickFile> WiperTree(const std::vector<TStickFile>& FloppyFiles);

// A 1.44 MB FAT12 volume holding Files; empty with Problem when they do not
// fit or a name is refused.
std::optional<std::vector<uint8_t>> MakeFatImage(const std::vector<TStickFile>& Files,
                                                 std::string& Problem);

extern const char* const NoUefiWiperText;
