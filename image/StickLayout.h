#pragma once
// A USB stick's boot layout, computed in memory as the few byte ranges that
// have to be written: an MBR with one active primary partition from 1 MiB
// on, a FAT16 (below 512 MiB) or FAT32 volume in it carrying the boot code,
// the medium's folders and files, and the zeroes that clear an old GPT.
// Nothing else of the stick is touched, so a large stick takes a few MiB.
//
// Volume label "PURGIT". FAT32 volumes end at 32 GiB even when their
// partition runs on (see StickLayout.cpp): both FATs are written whole, and
// a volume over the whole of a large disk would make them hundreds of MiB.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "floppy/Vfloppy.h"
#include "platform/Platform.h"

struct TStickBootCode {
    std::span<const uint8_t> Mbr;   // 440 bytes
    std::span<const uint8_t> Fat16; // 512 bytes
    std::span<const uint8_t> Fat32; // 1024 bytes
};

struct TStickFile {   // one file or folder of the medium
    std::string Path; // 8.3 parts joined by '\', as on the floppy: "PURGIT\DATA\PURGIT.INI"
    bool Folder = false;
    uint8_t Attributes = 0;      // as in the directory entry
    uint16_t Time = 0, Date = 0; // DOS stamps
    std::vector<uint8_t> Data;   // empty for folders
};

struct TStickExtent {
    uint64_t Offset;
    std::vector<uint8_t> Bytes;
};

struct TStickLayout {
    uint64_t DiskBytes = 0;
    bool Fat32 = false;
    std::vector<TStickExtent> Extents; // ascending, not overlapping
    uint64_t BytesWritten() const;
};

// The smallest stick taken, and why in Problem below it.
extern const uint64_t MinStickBytes;

// Files' folders come before what they hold; names are upper-cased. Refused
// (empty, with Problem): a disk below MinStickBytes, boot code of the wrong
// size or without 55 AA, a bad or repeated name, a file whose folder is not
// listed before it, a label among the files, more than the volume holds.
std::optional<TStickLayout> LayOutStick(uint64_t DiskBytes, const std::vector<TStickFile>& Files,
                                        const TStickBootCode& Code, uint32_t DiskSignature,
                                        uint32_t VolumeSerial, std::string& Problem);

// Every folder and file of a composed floppy, parents before children, in
// directory order (each folder followed by its contents). The volume label,
// free slots, long-name pieces and dot entries are left out.
std::vector<TStickFile> FloppyFiles(TVirtualFloppy& Floppy);

// Writes every extent through Disk (Progress 0..1 over write and read-back), flushes, refreshes,
// and unless !Verify reads every extent back and compares. False with Problem ("writing ... at
// byte N: reason", "reads back differently at byte N") on the first fault; nothing more is
// written after a fault.
bool WriteStickLayout(TDiskHandle& Disk, const TStickLayout& Layout, bool Verify,
                      const std::function<void(double)>& Progress, std::string& Problem);
