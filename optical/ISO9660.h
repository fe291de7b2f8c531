#pragma once
// The bootable CD image: a fixed ISO 9660 sector layout whose only content is
// an El Torito boot catalog and a 1.44 MB floppy image booted in diskette
// emulation. There is deliberately no primary volume descriptor, path table or
// directory: nothing mounts the disc, a BIOS only boots it.
//
//   sector 16      descriptor of type 254 (not a primary volume descriptor)
//   sector 17      El Torito boot record, catalog at sector 19
//   sector 18      descriptor set terminator
//   sector 19      boot catalog: validation entry and initial/default entry
//   sectors 20-739 the floppy image

#include <cstdint>
#include <string>
#include <vector>

#include "base/Stream.h"

constexpr int64_t IsoSectorSize = 2048;
constexpr int64_t IsoSectorCount = 740;
constexpr int64_t IsoImageSize = IsoSectorSize * IsoSectorCount; // 1,515,520
constexpr int64_t IsoFloppySize = 1474560;
constexpr uint32_t IsoBootRecordSector = 17;
constexpr uint32_t IsoCatalogSector = 19;
constexpr uint32_t IsoFloppySector = 20;
constexpr int64_t IsoFloppyOffset = IsoFloppySector * IsoSectorSize; // 40,960

static_assert(IsoFloppyOffset + IsoFloppySize == IsoImageSize,
              "the floppy ends exactly at the end of the image");

// Reads at most IsoFloppySize bytes from Source's position into the emulated
// floppy (a shorter source leaves the rest zero, a longer one is left unread)
// and writes the whole 1,515,520-byte image at Destination's position in one
// write; a plain memory stream that is appended to gets the same bytes built
// in place, without a second buffer. IdText fills the catalog's 24-character
// ID string, padded with spaces or cut. Answers true when the whole image
// reached Destination; never throws. The image buffer belongs to the call, so
// builds cannot disturb each other.
bool MakeBootableIso(TStream& Source, TStream& Destination, const std::string& IdText);

// A disc that also starts on UEFI PCs. The image begins as the one above,
// except that sector 16 is a primary volume descriptor, and the catalog
// gains a second section: platform EFI, no emulation, pointing to FatImage
// (a FAT volume holding \EFI\BOOT\BOOTX64.EFI). After the floppy follow the
// path tables, the directories and the files of an ISO 9660 volume, then
// the FAT image, so the disc also opens in any system.
struct TIsoFile {
    std::string Path; // 8.3 parts joined by '\': "EFI\BOOT\BOOTX64.EFI"
    bool Folder = false;
    std::vector<uint8_t> Data;
};

struct TUefiBootPart {
    std::vector<uint8_t> FatImage; // a whole number of 512-byte sectors
    std::vector<TIsoFile> Files;   // folders before what they hold
    std::string VolumeId;          // d-characters, at most 32
    int64_t Seconds = 0;           // the volume's dates, seconds since 1970 UTC
};

// As MakeBootableIso, with the UEFI entry and the volume; false (nothing
// written) for a name that is not 8.3, a file in a missing folder, or a FAT
// image of over 65,535 sectors, which the entry cannot describe.
bool MakeDualBootIso(TStream& Source, TStream& Destination, const std::string& IdText,
                     const TUefiBootPart& Uefi);
