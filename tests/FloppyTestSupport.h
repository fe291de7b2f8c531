#pragma once
// Fresh 1.44 MB images and small probes shared by the floppy tests.

#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/ByteOrder.h"
#include "floppy/FloppyDirectory.h"
#include "floppy/Vfloppy.h"

namespace floppy_test {

// A standard 1.44 MB boot sector with its BPB.
inline std::vector<uint8_t> StandardBootSector(uint16_t RootEntries = 224,
                                               uint16_t TotalSectors = 2880) {
    std::vector<uint8_t> Boot(512, 0);
    const uint8_t Jump[] = {0xEB, 0x3C, 0x90};
    std::memcpy(Boot.data(), Jump, 3);
    std::memcpy(&Boot[3], "PURGEXTS", 8);
    PutLE16(&Boot[11], 512);
    Boot[13] = 1;
    PutLE16(&Boot[14], 1);
    Boot[16] = 2;
    PutLE16(&Boot[17], RootEntries);
    PutLE16(&Boot[19], TotalSectors);
    Boot[21] = 0xF0;
    PutLE16(&Boot[22], 9);
    PutLE16(&Boot[24], 18);
    PutLE16(&Boot[26], 2);
    Boot[38] = 0x29;
    std::memcpy(&Boot[43], "NO NAME    FAT12   ", 19);
    Boot[510] = 0x55;
    Boot[511] = 0xAA;
    return Boot;
}

// An empty formatted image, loaded the way the system loads one.
inline std::unique_ptr<TVirtualFloppy> FreshFloppy(uint16_t RootEntries = 224,
                                                   uint16_t TotalSectors = 2880) {
    auto Floppy = std::make_unique<TVirtualFloppy>();
    TMemoryStream Stream(StandardBootSector(RootEntries, TotalSectors));
    Floppy->LoadFromStream(Stream, Stream.Size());
    return Floppy;
}

inline uint8_t* SectorOf(TVirtualFloppy& Floppy, int32_t Sector) {
    return &Floppy.Image[size_t(Sector) * 512];
}

inline uint8_t* RootEntry(TVirtualFloppy& Floppy, int32_t Index) {
    return SectorOf(Floppy, 19) + Index * 32;
}

inline uint16_t EntryCluster(const uint8_t* Entry) {
    return GetLE16(Entry + 26);
}
inline uint32_t EntrySize(const uint8_t* Entry) {
    return GetLE32(Entry + 28);
}

// Creates a file and writes Data; returns the bytes stored, -1 when the entry
// could not be made.
inline int32_t AddFile(TFloppyDirectory& Directory, const std::string& Name,
                       const std::vector<uint8_t>& Data) {
    std::unique_ptr<TFloppyFile> File;
    if (!Directory.CreateFile(Name, File)) return -1;
    return File->Write(Data.data(), int32_t(Data.size()));
}

// Every entry FindFirst/FindNext return, as formatted names.
inline std::vector<std::string> Listing(TFloppyDirectory& Directory) {
    std::vector<std::string> Names;
    TDirEntry Entry;
    for (bool Found = Directory.FindFirst(Entry); Found; Found = Directory.FindNext(Entry))
        Names.push_back(TFloppyDirectory::FormatShortName(Entry));
    return Names;
}

// Reads a file of the current directory back through its chain.
inline std::pair<bool, std::vector<uint8_t>> ReadBack(TFloppyDirectory& Directory,
                                                      const std::string& Name) {
    std::unique_ptr<TFloppyFile> File;
    std::vector<uint8_t> Data;
    if (!Directory.OpenFile(Name, File)) return {false, Data};
    const bool Whole = File->ReadAll(Data);
    return {Whole, Data};
}

// The number of clusters whose FAT entry is 0.
inline int32_t FreeClusters(TGenericFloppy& Floppy, int32_t LastCluster = 2848) {
    int32_t Free = 0;
    for (int32_t Cluster = 2; Cluster <= LastCluster; ++Cluster)
        Free += Floppy.GetFatEntry(Cluster) == 0;
    return Free;
}

} // namespace floppy_test
