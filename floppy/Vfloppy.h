#pragma once
// A 1.44 MB floppy held in memory, and the fixed geometry and FAT12 table
// access that the directory and file classes work through.
//
// Geometry is fixed (nothing is read from the boot sector): 512-byte sectors,
// 18 sectors a track, 2 heads, 80 cylinders, 2880 sectors; the boot sector is
// sector 0, FAT 1 sectors 1-9, FAT 2 sectors 10-18, the root from sector 19.
//
// Sector transfers outside sectors 0-2879 (a start below 0, a count below 1,
// or a count running past the last sector) are refused: they return 0 and
// touch nothing. FAT access covers the 3072 entries that nine sectors hold;
// GetFatEntry answers FFF (end of chain) for a cluster outside them or when
// its read fails, so a walk stops and an allocation finds nothing free, and
// SetFatEntry refuses such a cluster with 0.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "base/Stream.h"

constexpr int32_t FloppySectorSize = 512;
constexpr int32_t FloppySectorsPerTrack = 18;
constexpr int32_t FloppyHeads = 2;
constexpr int32_t FloppyTracks = 80;
constexpr int32_t FloppySectorCount = 2880;
constexpr int32_t FloppyImageSize = FloppySectorCount * FloppySectorSize;
static_assert(FloppyImageSize == 1474560);

constexpr int32_t FatFirstSector = 1; // FAT 1
constexpr int32_t FatSectors = 9;     // per copy; FAT 2 follows FAT 1
constexpr int32_t RootFirstSector = 19;
constexpr int32_t FatEntryCount = FatSectors * FloppySectorSize * 2 / 3; // 3072
constexpr int32_t FatGroupEntries = 1024;                                // 1536 bytes, 3 sectors
constexpr int32_t FatGroupSectors = 3;
constexpr uint8_t FloppyMediaByte = 0xF0;

constexpr uint16_t FatFree = 0x000;
constexpr uint16_t FatEndOfChain = 0xFF8; // this value and above end a chain
constexpr uint16_t FatEndMark = 0xFFF;    // what this system writes

class TGenericFloppy {
public:
    // Slots 0-5, in this order.
    virtual int32_t WriteSectorsChs(int32_t Head, int32_t Track, int32_t Sector,
                                    const uint8_t* Buffer, int32_t Count);
    virtual int32_t WriteSectors(int32_t Sector, const uint8_t* Buffer, int32_t Count);
    virtual int32_t ReadSectorsChs(int32_t Head, int32_t Track, int32_t Sector, uint8_t* Buffer,
                                   int32_t Count);
    virtual int32_t ReadSectors(int32_t Sector, uint8_t* Buffer, int32_t Count);
    virtual uint16_t GetFatEntry(int32_t Cluster);
    virtual int32_t SetFatEntry(int32_t Cluster, uint16_t Value);

    virtual ~TGenericFloppy() = default;
};

// Track x 36 + Head x 18 + Sector - 1 (Sector is one-based).
int32_t ChsToSector(int32_t Head, int32_t Track, int32_t Sector);

// Entry Index of a group of FAT12 entries that starts at entry 0 of Buffer.
uint16_t GetFat12Entry(int32_t Index, const uint8_t* Buffer);
void SetFat12Entry(int32_t Index, uint16_t Value, uint8_t* Buffer);

// The date and time words of a directory entry for "now": the platform's local
// wall clock, or the moment SOURCE_DATE_EPOCH names (seconds since 1970 read as
// UTC, so a build gives the same bytes in any time zone). Moments outside the
// DOS range clamp to 1980-01-01 00:00:00 or 2107-12-31 23:59:58. A malformed
// SOURCE_DATE_EPOCH is ignored here; tools check it with SourceDateEpoch.
uint16_t DosDateNow();
uint16_t DosTimeNow();

// SOURCE_DATE_EPOCH as seconds: empty when the variable is unset; Malformed is
// set when it is set but not a plain integer.
std::optional<int64_t> SourceDateEpoch(bool* Malformed = nullptr);

// About 1.4 MB in one object: create it on the heap.
class TVirtualFloppy : public TGenericFloppy {
public:
    // Created zero-filled.
    std::array<uint8_t, FloppyImageSize> Image{};

    int32_t WriteSectors(int32_t Sector, const uint8_t* Buffer, int32_t Count) override;
    int32_t ReadSectors(int32_t Sector, uint8_t* Buffer, int32_t Count) override;

    // Zeroes the image, seeds the first three bytes of both FATs (F0 FF FF),
    // then reads up to Count bytes (never more than the image) from Stream's
    // position over it. Returns how many bytes the stream supplied.
    int64_t LoadFromStream(TStream& Stream, int64_t Count);
};
