#include "image/StickLayout.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <set>

#include "base/ByteOrder.h"
#include "floppy/FloppyDirectory.h"

const uint64_t MinStickBytes = 8ull << 20;

namespace {

constexpr uint32_t SectorBytes = 512;
constexpr uint64_t PartitionStart = 2048; // 1 MiB: flash erase blocks and every tool's habit
constexpr uint64_t Fat32FromBytes = 512ull << 20;
// Partition sectors must be addressable with the table's 32-bit LBAs.
constexpr uint64_t MbrSectorLimit = 1ull << 32;
// Both FATs are written whole; a volume up to 32 GiB keeps them at 4 MiB each
// with 32 KiB clusters (the largest DOS takes). On larger sticks the
// partition ends with the file system and the rest stays unpartitioned, so
// no tool finds a partition larger than its file system.
constexpr uint64_t MaxFat32VolumeSectors = (32ull << 30) / SectorBytes;
// The cluster counts that decide FAT16 or FAT32, kept away from the borders
// (some readers count differently by a few).
constexpr uint32_t Fat16MinClusters = 4085 + 16;
constexpr uint32_t Fat16MaxClusters = 65524 - 16;
constexpr uint32_t Fat32MinClusters = 65525 + 16;
constexpr uint32_t Fat16RootEntries = 512;
constexpr uint32_t Fat32ReservedSectors = 32;
constexpr uint32_t GptSectors = 33; // a GPT header plus its 32 sectors of entries
// Behind the MBR: a GPT's header and entries, and from 32 KiB an ISO 9660
// volume's descriptors (a stick that held a hybrid image).
constexpr uint32_t StaleSectorsAfterMbr = 127;
constexpr uint8_t MediaByte = 0xF8;
constexpr uint16_t BiosHeads = 255, BiosSectors = 63;
constexpr uint8_t BootDrive = 0x80;
const char VolumeLabel[12] = "PURGIT     ";

// The volume inside the partition. Cluster sizes, by the stick's size:
//   FAT16 (below 512 MiB): the smallest that keeps the count FAT16's, so the
//     FATs (at most 128 KiB each) never decide what is written:
//     below 34 MiB 512 B, below 66 MiB 1 KiB, below 130 MiB 2 KiB, below
//     258 MiB 4 KiB, else 8 KiB.
//   FAT32 (512 MiB and more): the largest up to 32 KiB that keeps the count
//     FAT32's, so the FATs are small: 512-513 MiB 4 KiB, below 1026 MiB
//     8 KiB, below 2050 MiB 16 KiB, else 32 KiB (FATs of 2 MiB each for
//     16 GiB, at most 4 MiB each under the 32 GiB cap).
struct TVolume {
    bool Fat32 = false;
    uint64_t TotalSectors = 0;
    uint32_t SectorsPerCluster = 0;
    uint32_t ReservedSectors = 0;
    uint32_t FatSectors = 0;  // per FAT
    uint32_t RootSectors = 0; // FAT16's fixed root
    uint32_t FirstDataSector = 0;
    uint32_t Clusters = 0;

    uint32_t ClusterBytes() const { return SectorsPerCluster * SectorBytes; }
    uint64_t ClusterOffset(uint32_t Cluster) const { // from the partition's start
        return (uint64_t(FirstDataSector) + uint64_t(Cluster - 2) * SectorsPerCluster) *
               SectorBytes;
    }
};

std::optional<TVolume> TryVolume(bool Fat32, uint64_t Total, uint32_t SectorsPerCluster) {
    TVolume Volume;
    Volume.Fat32 = Fat32;
    Volume.TotalSectors = Total;
    Volume.SectorsPerCluster = SectorsPerCluster;
    Volume.RootSectors = Fat32 ? 0 : Fat16RootEntries * 32 / SectorBytes;
    const uint32_t MinReserved = Fat32 ? Fat32ReservedSectors : 1;
    if (Total <= uint64_t(MinReserved) + Volume.RootSectors + 2) return std::nullopt;
    // Sized for every cluster the area could hold before the FATs take
    // their share: a little larger than needed, never too small.
    const uint64_t MostClusters = (Total - MinReserved - Volume.RootSectors) / SectorsPerCluster;
    const uint64_t EntryBytes = Fat32 ? 4 : 2;
    Volume.FatSectors = uint32_t(((MostClusters + 2) * EntryBytes + SectorBytes - 1) / SectorBytes);
    uint64_t DataStart = MinReserved + 2ull * Volume.FatSectors + Volume.RootSectors;
    // The first cluster starts on a cluster boundary of the disk (the
    // partition starts on one); reserved sectors fill the gap.
    const uint64_t Aligned =
        (DataStart + SectorsPerCluster - 1) / SectorsPerCluster * SectorsPerCluster;
    Volume.ReservedSectors = uint32_t(MinReserved + (Aligned - DataStart));
    DataStart = Aligned;
    if (DataStart >= Total) return std::nullopt;
    Volume.FirstDataSector = uint32_t(DataStart);
    Volume.Clusters = uint32_t((Total - DataStart) / SectorsPerCluster);
    return Volume;
}

std::optional<TVolume> ChooseVolume(bool Fat32, uint64_t PartitionSectors) {
    if (Fat32) {
        const uint64_t Total = std::min(PartitionSectors, MaxFat32VolumeSectors);
        for (uint32_t Spc = 64; Spc >= 1; Spc /= 2) {
            auto Volume = TryVolume(true, Total, Spc);
            if (Volume && Volume->Clusters >= Fat32MinClusters) return Volume;
        }
        return std::nullopt;
    }
    for (uint32_t Spc = 1; Spc <= 64; Spc *= 2) {
        auto Volume = TryVolume(false, PartitionSectors, Spc);
        if (!Volume) return std::nullopt;
        if (Volume->Clusters < Fat16MinClusters) return std::nullopt;
        if (Volume->Clusters <= Fat16MaxClusters) return Volume;
    }
    return std::nullopt;
}

// CHS as partitioning tools fill it for 255 heads and 63 sectors, or the
// 1023/254/63 that says "use the LBA" beyond the reach of CHS.
void PutChs(uint8_t* Field, uint64_t Lba) {
    uint64_t Cylinder = Lba / (BiosHeads * BiosSectors);
    uint64_t Head = Lba / BiosSectors % BiosHeads;
    uint64_t Sector = Lba % BiosSectors + 1;
    if (Cylinder > 1023) Cylinder = 1023, Head = 254, Sector = 63;
    Field[0] = uint8_t(Head);
    Field[1] = uint8_t(Sector | (Cylinder >> 2 & 0xC0));
    Field[2] = uint8_t(Cylinder);
}

bool ValidNameByte(uint8_t Byte) {
    if (Byte <= 0x20 || Byte == 0x7F) return false;
    return !std::strchr("\"*+,./:;<=>?[\\]|", Byte);
}

// One path component to the 11 name bytes of its entry.
std::optional<std::array<uint8_t, 11>> ShortName(std::string_view Part) {
    const size_t Dot = Part.find('.');
    const std::string_view Base = Part.substr(0, Dot);
    const std::string_view Extension =
        Dot == std::string_view::npos ? std::string_view() : Part.substr(Dot + 1);
    if (Base.empty() || Base.size() > 8 || Extension.size() > 3) return std::nullopt;
    if (Dot != std::string_view::npos && Extension.empty()) return std::nullopt;
    std::array<uint8_t, 11> Name;
    Name.fill(' ');
    for (size_t i = 0; i < Base.size(); ++i) {
        const uint8_t Byte = uint8_t(Base[i]);
        if (!ValidNameByte(Byte)) return std::nullopt;
        Name[i] = Byte >= 'a' && Byte <= 'z' ? uint8_t(Byte - 32) : Byte;
    }
    for (size_t i = 0; i < Extension.size(); ++i) {
        const uint8_t Byte = uint8_t(Extension[i]);
        if (!ValidNameByte(Byte)) return std::nullopt;
        Name[8 + i] = Byte >= 'a' && Byte <= 'z' ? uint8_t(Byte - 32) : Byte;
    }
    if (Name[0] == EntryFree) Name[0] = EntryLeadE5;
    return Name;
}

struct TNode {
    int File = -1; // index into the files; -1 for the root
    std::array<uint8_t, 11> Name{};
    std::vector<int> Children; // node indices
    uint32_t FirstCluster = 0; // 0 for the FAT16 root and empty files
    uint32_t ClusterCount = 0;
};

void PutEntry(uint8_t* Slot, const std::array<uint8_t, 11>& Name, uint8_t Attributes, uint16_t Time,
              uint16_t Date, uint32_t Cluster, uint32_t Size) {
    std::memcpy(Slot, Name.data(), 11);
    Slot[11] = Attributes;
    PutLE16(Slot + 20, uint16_t(Cluster >> 16));
    PutLE16(Slot + 22, Time);
    PutLE16(Slot + 24, Date);
    PutLE16(Slot + 26, uint16_t(Cluster));
    PutLE32(Slot + 28, Size);
}

std::array<uint8_t, 11> DotName(int Dots) {
    std::array<uint8_t, 11> Name;
    Name.fill(' ');
    std::fill_n(Name.begin(), Dots, uint8_t('.'));
    return Name;
}

// Sorted extents with the zero ranges laid into the gaps between them, then
// adjacent ones joined.
std::vector<TStickExtent> Normalise(std::vector<TStickExtent> Content,
                                    const std::vector<std::pair<uint64_t, uint64_t>>& Zeroes) {
    std::sort(Content.begin(), Content.end(),
              [](const TStickExtent& a, const TStickExtent& b) { return a.Offset < b.Offset; });
    std::vector<TStickExtent> All;
    for (auto [Start, End] : Zeroes) {
        for (const auto& Piece : Content) {
            const uint64_t PieceEnd = Piece.Offset + Piece.Bytes.size();
            if (PieceEnd <= Start || Piece.Offset >= End) continue;
            if (Piece.Offset > Start)
                All.push_back({Start, std::vector<uint8_t>(Piece.Offset - Start)});
            Start = std::max(Start, PieceEnd);
        }
        if (Start < End) All.push_back({Start, std::vector<uint8_t>(End - Start)});
    }
    for (auto& Piece : Content)
        All.push_back(std::move(Piece));
    std::sort(All.begin(), All.end(),
              [](const TStickExtent& a, const TStickExtent& b) { return a.Offset < b.Offset; });
    std::vector<TStickExtent> Merged;
    for (auto& Piece : All) {
        if (Piece.Bytes.empty()) continue;
        if (!Merged.empty() && Merged.back().Offset + Merged.back().Bytes.size() == Piece.Offset) {
            auto& Bytes = Merged.back().Bytes;
            Bytes.insert(Bytes.end(), Piece.Bytes.begin(), Piece.Bytes.end());
        } else {
            Merged.push_back(std::move(Piece));
        }
    }
    return Merged;
}

std::string MiB(uint64_t Bytes) {
    return std::to_string(Bytes >> 20) + " MiB";
}

} // namespace

uint64_t TStickLayout::BytesWritten() const {
    uint64_t Total = 0;
    for (const auto& Extent : Extents)
        Total += Extent.Bytes.size();
    return Total;
}

std::optional<TStickLayout> LayOutStick(uint64_t DiskBytes, const std::vector<TStickFile>& Files,
                                        const TStickBootCode& Code, uint32_t DiskSignature,
                                        uint32_t VolumeSerial, std::string& Problem) {
    if (DiskBytes < MinStickBytes) {
        Problem = "The stick is too small: it holds " + std::to_string(DiskBytes) +
                  " bytes, a boot stick needs " + MiB(MinStickBytes) + " at least.";
        return std::nullopt;
    }
    if (Code.Mbr.size() != 440 || Code.Fat16.size() != 512 || Code.Fat32.size() != 1024) {
        Problem = "The stick's boot code has the wrong size (MBR " +
                  std::to_string(Code.Mbr.size()) + ", FAT16 " + std::to_string(Code.Fat16.size()) +
                  ", FAT32 " + std::to_string(Code.Fat32.size()) +
                  " bytes; 440, 512 and 1024 expected).";
        return std::nullopt;
    }
    auto Signed = [](std::span<const uint8_t> Sector) {
        return Sector[510] == 0x55 && Sector[511] == 0xAA;
    };
    if (!Signed(Code.Fat16) || !Signed(Code.Fat32.first(512)) || !Signed(Code.Fat32.subspan(512))) {
        Problem = "The stick's boot code lacks the boot signature 55 AA.";
        return std::nullopt;
    }

    const uint64_t DiskSectors = DiskBytes / SectorBytes;
    const uint64_t PartitionSectors = std::min(DiskSectors, MbrSectorLimit) - PartitionStart;
    const bool Fat32 = DiskBytes >= Fat32FromBytes;
    const auto Chosen = ChooseVolume(Fat32, PartitionSectors);
    if (!Chosen) {
        Problem =
            "No FAT volume fits a partition of " + std::to_string(PartitionSectors) + " sectors.";
        return std::nullopt;
    }
    const TVolume& Volume = *Chosen;

    // The tree, parents first; node 0 is the root.
    std::vector<TNode> Nodes(1);
    std::map<std::string, int> Folders{{"", 0}}; // upper-case path -> node
    for (size_t i = 0; i < Files.size(); ++i) {
        const TStickFile& File = Files[i];
        std::string Path = File.Path;
        for (char& c : Path)
            if (c >= 'a' && c <= 'z') c = char(c - 32);
        const size_t Cut = Path.rfind('\\');
        const std::string Parent = Cut == std::string::npos ? "" : Path.substr(0, Cut);
        const auto Name = ShortName(Cut == std::string::npos ? Path : Path.substr(Cut + 1));
        if (!Name) {
            Problem = "\"" + File.Path + "\" is no 8.3 name.";
            return std::nullopt;
        }
        if (File.Attributes & AttrVolumeLabel) {
            Problem = "\"" + File.Path + "\" is a volume label, not a file.";
            return std::nullopt;
        }
        if (File.Folder && !File.Data.empty()) {
            Problem = "The folder \"" + File.Path + "\" carries data.";
            return std::nullopt;
        }
        if (uint64_t(File.Data.size()) >> 32) {
            Problem = "\"" + File.Path + "\" is larger than FAT allows.";
            return std::nullopt;
        }
        const auto Found = Folders.find(Parent);
        if (Found == Folders.end()) {
            Problem = "The folder of \"" + File.Path + "\" does not come before it.";
            return std::nullopt;
        }
        TNode& ParentNode = Nodes[Found->second];
        for (int Child : ParentNode.Children)
            if (Nodes[Child].Name == *Name) {
                Problem = "\"" + File.Path + "\" appears twice.";
                return std::nullopt;
            }
        const int Index = int(Nodes.size());
        ParentNode.Children.push_back(Index);
        Nodes.push_back({int(i), *Name, {}, 0, 0});
        if (File.Folder) Folders.emplace(Path, Index);
    }

    // Clusters in order: the FAT32 root at 2, then each folder and file as
    // listed, every one contiguous.
    const uint32_t ClusterBytes = Volume.ClusterBytes();
    auto ClustersFor = [&](uint64_t Bytes) { return (Bytes + ClusterBytes - 1) / ClusterBytes; };
    uint64_t Next = 2;
    const size_t RootEntries = Nodes[0].Children.size() + 1; // the label too
    if (Volume.Fat32) {
        Nodes[0].FirstCluster = 2;
        Nodes[0].ClusterCount = uint32_t(ClustersFor(RootEntries * 32));
        Next += Nodes[0].ClusterCount;
    } else if (RootEntries > Fat16RootEntries) {
        Problem = "The root holds " + std::to_string(RootEntries) + " entries; FAT16 takes " +
                  std::to_string(Fat16RootEntries) + ".";
        return std::nullopt;
    }
    for (size_t n = 1; n < Nodes.size(); ++n) {
        TNode& Node = Nodes[n];
        const TStickFile& File = Files[Node.File];
        const uint64_t Count = File.Folder ? ClustersFor((Node.Children.size() + 2) * 32)
                                           : ClustersFor(File.Data.size());
        if (Count == 0) continue;
        if (Next + Count > uint64_t(Volume.Clusters) + 2) {
            Next += Count;
            continue; // counted for the message below
        }
        Node.FirstCluster = uint32_t(Next);
        Node.ClusterCount = uint32_t(Count);
        Next += Count;
    }
    const uint64_t Used = Next - 2;
    if (Used > Volume.Clusters) {
        Problem = "The files take " + std::to_string(Used) + " clusters of " +
                  std::to_string(ClusterBytes) + " bytes; the stick's volume holds " +
                  std::to_string(Volume.Clusters) + ".";
        return std::nullopt;
    }

    TStickLayout Layout;
    Layout.DiskBytes = DiskBytes;
    Layout.Fat32 = Volume.Fat32;
    std::vector<TStickExtent> Content;
    const uint64_t Base = PartitionStart * SectorBytes;

    // The MBR.
    std::vector<uint8_t> Mbr(SectorBytes, 0);
    std::copy(Code.Mbr.begin(), Code.Mbr.end(), Mbr.begin());
    PutLE32(&Mbr[440], DiskSignature);
    uint8_t* Entry = &Mbr[446];
    Entry[0] = 0x80;
    PutChs(Entry + 1, PartitionStart);
    Entry[4] = Volume.Fat32 ? 0x0C : 0x0E;
    PutChs(Entry + 5, PartitionStart + Volume.TotalSectors - 1);
    PutLE32(Entry + 8, uint32_t(PartitionStart));
    PutLE32(Entry + 12, uint32_t(Volume.TotalSectors));
    Mbr[510] = 0x55;
    Mbr[511] = 0xAA;
    Content.push_back({0, std::move(Mbr)});

    // Reserved sectors, both FATs and FAT16's root, in one piece.
    std::vector<uint8_t> Head(uint64_t(Volume.FirstDataSector) * SectorBytes, 0);
    uint8_t* Boot = Head.data();
    std::copy_n(Volume.Fat32 ? Code.Fat32.data() : Code.Fat16.data(), SectorBytes, Boot);
    std::fill(Boot + 0x0B, Boot + (Volume.Fat32 ? 0x5A : 0x3E), 0);
    PutLE16(Boot + 0x0B, SectorBytes);
    Boot[0x0D] = uint8_t(Volume.SectorsPerCluster);
    PutLE16(Boot + 0x0E, uint16_t(Volume.ReservedSectors));
    Boot[0x10] = 2;
    PutLE16(Boot + 0x11, uint16_t(Volume.Fat32 ? 0 : Fat16RootEntries));
    const bool Small = !Volume.Fat32 && Volume.TotalSectors < 0x10000;
    PutLE16(Boot + 0x13, uint16_t(Small ? Volume.TotalSectors : 0));
    Boot[0x15] = MediaByte;
    PutLE16(Boot + 0x16, uint16_t(Volume.Fat32 ? 0 : Volume.FatSectors));
    PutLE16(Boot + 0x18, BiosSectors);
    PutLE16(Boot + 0x1A, BiosHeads);
    PutLE32(Boot + 0x1C, uint32_t(PartitionStart));
    PutLE32(Boot + 0x20, uint32_t(Small ? 0 : Volume.TotalSectors));
    uint8_t* Extended = Boot + 0x24;
    if (Volume.Fat32) {
        PutLE32(Boot + 0x24, Volume.FatSectors);
        PutLE32(Boot + 0x2C, 2); // root cluster
        PutLE16(Boot + 0x30, 1); // FSInfo
        PutLE16(Boot + 0x32, 6); // backup boot sector
        Extended = Boot + 0x40;
    }
    Extended[0] = BootDrive;
    Extended[2] = 0x29;
    PutLE32(Extended + 3, VolumeSerial);
    std::memcpy(Extended + 7, VolumeLabel, 11);
    std::memcpy(Extended + 18, Volume.Fat32 ? "FAT32   " : "FAT16   ", 8);

    if (Volume.Fat32) {
        uint8_t* Info = Boot + SectorBytes;
        PutLE32(Info, 0x41615252);
        PutLE32(Info + 0x1E4, 0x61417272);
        PutLE32(Info + 0x1E8, uint32_t(Volume.Clusters - Used));
        PutLE32(Info + 0x1EC, Used < Volume.Clusters ? uint32_t(Next) : 0xFFFFFFFF);
        PutLE32(Info + 0x1FC, 0xAA550000);
        std::copy_n(Code.Fat32.data() + SectorBytes, SectorBytes, Boot + 2 * SectorBytes);
        std::copy_n(Boot, 3 * SectorBytes, Boot + 6 * SectorBytes);
    }

    // FAT 1, then a copy as FAT 2.
    uint8_t* Fat = Boot + uint64_t(Volume.ReservedSectors) * SectorBytes;
    auto SetFat = [&](uint32_t Cluster, uint32_t Value) {
        if (Volume.Fat32)
            PutLE32(Fat + 4ull * Cluster, Value);
        else
            PutLE16(Fat + 2ull * Cluster, uint16_t(Value));
    };
    const uint32_t EndMark = Volume.Fat32 ? 0x0FFFFFFF : 0xFFFF;
    SetFat(0, (Volume.Fat32 ? 0x0FFFFF00 : 0xFF00) | MediaByte);
    SetFat(1, EndMark);
    for (const TNode& Node : Nodes)
        for (uint32_t c = 0; c < Node.ClusterCount; ++c)
            SetFat(Node.FirstCluster + c,
                   c + 1 < Node.ClusterCount ? Node.FirstCluster + c + 1 : EndMark);
    const uint64_t FatBytes = uint64_t(Volume.FatSectors) * SectorBytes;
    std::copy_n(Fat, FatBytes, Fat + FatBytes);

    // Directories: "." and ".." in folders, the label first in the root.
    uint16_t LatestTime = 0, LatestDate = 0;
    for (const auto& File : Files)
        if (File.Date > LatestDate || (File.Date == LatestDate && File.Time > LatestTime))
            LatestDate = File.Date, LatestTime = File.Time;
    std::map<int, int> ParentOf;
    for (size_t n = 0; n < Nodes.size(); ++n)
        for (int Child : Nodes[n].Children)
            ParentOf[Child] = int(n);
    for (size_t n = 0; n < Nodes.size(); ++n) {
        const TNode& Node = Nodes[n];
        const bool Root = n == 0;
        if (!Root && !Files[Node.File].Folder) continue;
        std::vector<uint8_t> Directory(Root && !Volume.Fat32
                                           ? uint64_t(Volume.RootSectors) * SectorBytes
                                           : uint64_t(Node.ClusterCount) * ClusterBytes,
                                       0);
        uint8_t* Slot = Directory.data();
        if (Root) {
            std::array<uint8_t, 11> Label;
            std::memcpy(Label.data(), VolumeLabel, 11);
            PutEntry(Slot, Label, AttrVolumeLabel, LatestTime, LatestDate, 0, 0);
            Slot += 32;
        } else {
            const TStickFile& Self = Files[Node.File];
            const TNode& Parent = Nodes[ParentOf[int(n)]];
            // ".." names the root as cluster 0, FAT32 included.
            const uint32_t Up = ParentOf[int(n)] == 0 ? 0 : Parent.FirstCluster;
            PutEntry(Slot, DotName(1), AttrDirectory, Self.Time, Self.Date, Node.FirstCluster, 0);
            PutEntry(Slot + 32, DotName(2), AttrDirectory, Self.Time, Self.Date, Up, 0);
            Slot += 64;
        }
        for (int Child : Node.Children) {
            const TNode& ChildNode = Nodes[Child];
            const TStickFile& File = Files[ChildNode.File];
            const uint8_t Attributes = File.Folder ? uint8_t(File.Attributes | AttrDirectory)
                                                   : uint8_t(File.Attributes & ~AttrDirectory);
            PutEntry(Slot, ChildNode.Name, Attributes, File.Time, File.Date, ChildNode.FirstCluster,
                     File.Folder ? 0 : uint32_t(File.Data.size()));
            Slot += 32;
        }
        if (Root && !Volume.Fat32) {
            std::copy(Directory.begin(), Directory.end(),
                      Boot + (uint64_t(Volume.ReservedSectors) + 2ull * Volume.FatSectors) *
                                 SectorBytes);
        } else {
            Content.push_back(
                {Base + Volume.ClusterOffset(Node.FirstCluster), std::move(Directory)});
        }
    }
    Content.push_back({Base, std::move(Head)});

    // File data up to its last sector (the slack behind it is nobody's).
    for (size_t n = 1; n < Nodes.size(); ++n) {
        const TNode& Node = Nodes[n];
        const TStickFile& File = Files[Node.File];
        if (File.Folder || File.Data.empty()) continue;
        std::vector<uint8_t> Bytes((File.Data.size() + SectorBytes - 1) / SectorBytes * SectorBytes,
                                   0);
        std::copy(File.Data.begin(), File.Data.end(), Bytes.begin());
        Content.push_back({Base + Volume.ClusterOffset(Node.FirstCluster), std::move(Bytes)});
    }

    // Leftovers of a GPT (its header and entries behind the MBR, its backup
    // at the disk's end) or of an ISO 9660 image would make tools doubt the
    // new table.
    std::vector<std::pair<uint64_t, uint64_t>> Zeroes;
    Zeroes.emplace_back(SectorBytes, (1 + StaleSectorsAfterMbr) * SectorBytes);
    Zeroes.emplace_back((DiskSectors - GptSectors) * SectorBytes, DiskSectors * SectorBytes);
    Layout.Extents = Normalise(std::move(Content), Zeroes);
    return Layout;
}

// --- reading a composed floppy --------------------------------------------

namespace {

void CollectFolder(TVirtualFloppy& Floppy, const std::string& Folder, int Depth,
                   std::set<int32_t>& Seen, std::vector<TStickFile>& Files) {
    // A fresh walk from the root for every folder: listing resets on moves.
    TFloppyDirectory Directory(Floppy);
    size_t Start = 0;
    while (Start < Folder.size()) {
        const size_t End = std::min(Folder.find('\\', Start), Folder.size());
        if (!Directory.ChangeDirectory(Folder.substr(Start, End - Start))) return;
        Start = End + 1;
    }
    // A folder entry that leads back to the root or to a folder already
    // walked would repeat a tree.
    if (!Folder.empty() &&
        (Directory.IsInRoot() || !Seen.insert(Directory.DirectoryCluster()).second))
        return;

    std::vector<TDirEntry> Entries;
    TDirEntry Entry;
    for (bool Found = Directory.FindFirst(Entry); Found; Found = Directory.FindNext(Entry))
        Entries.push_back(Entry);
    for (const TDirEntry& Item : Entries) {
        const uint8_t Attributes = Item[11];
        if (Item[0] == EntryFree || Item[0] == '.') continue;
        if ((Attributes & 0x3F) == 0x0F || (Attributes & AttrVolumeLabel)) continue;
        const std::string Name = TFloppyDirectory::FormatShortName(Item);
        TStickFile File;
        File.Path = Folder.empty() ? Name : Folder + "\\" + Name;
        File.Folder = Attributes & AttrDirectory;
        File.Attributes = Attributes;
        File.Time = GetLE16(&Item[22]);
        File.Date = GetLE16(&Item[24]);
        if (File.Folder) {
            Files.push_back(File);
            if (Depth < 32) CollectFolder(Floppy, File.Path, Depth + 1, Seen, Files);
            continue;
        }
        std::unique_ptr<TFloppyFile> Handle;
        if (Directory.OpenFile(Name, Handle))
            Handle->ReadAll(File.Data); // a broken chain: what reads
        Files.push_back(std::move(File));
    }
}

} // namespace

std::vector<TStickFile> FloppyFiles(TVirtualFloppy& Floppy) {
    std::vector<TStickFile> Files;
    std::set<int32_t> Seen;
    CollectFolder(Floppy, "", 0, Seen, Files);
    return Files;
}

// --- writing ----------------------------------------------------------------

bool WriteStickLayout(TDiskHandle& Disk, const TStickLayout& Layout, bool Verify,
                      const std::function<void(double)>& Progress, std::string& Problem) {
    constexpr uint64_t Chunk = 1 << 20;
    auto Fail = [&](const std::string& What) {
        Problem = What + ": " + Platform().ErrorText(Platform().LastError());
        return false;
    };
    const uint64_t Total = Layout.BytesWritten() * (Verify ? 2 : 1);
    uint64_t Done = 0;
    auto Report = [&](uint64_t Bytes) {
        Done += Bytes;
        if (Progress) Progress(Total ? double(Done) / double(Total) : 1.0);
    };
    if (Disk.Bytes() < Layout.DiskBytes) {
        Problem = "The stick holds " + std::to_string(Disk.Bytes()) + " bytes; its layout needs " +
                  std::to_string(Layout.DiskBytes) + ".";
        return false;
    }
    if (Progress) Progress(0.0);
    for (const auto& Extent : Layout.Extents)
        for (uint64_t At = 0; At < Extent.Bytes.size(); At += Chunk) {
            const auto Piece =
                std::span<const uint8_t>(Extent.Bytes)
                    .subspan(At, std::min<uint64_t>(Chunk, Extent.Bytes.size() - At));
            if (!Disk.WriteAt(Extent.Offset + At, Piece))
                return Fail("writing the stick at byte " + std::to_string(Extent.Offset + At));
            Report(Piece.size());
        }
    if (!Disk.Flush()) return Fail("flushing the stick");
    if (!Disk.Refresh()) return Fail("refreshing the stick's partition table");
    if (!Verify) return true;
    std::vector<uint8_t> Back;
    for (const auto& Extent : Layout.Extents)
        for (uint64_t At = 0; At < Extent.Bytes.size(); At += Chunk) {
            const uint64_t Size = std::min<uint64_t>(Chunk, Extent.Bytes.size() - At);
            Back.assign(Size, 0);
            if (!Disk.ReadAt(Extent.Offset + At, Back))
                return Fail("reading the stick back at byte " + std::to_string(Extent.Offset + At));
            const auto Expected = Extent.Bytes.begin() + At;
            const auto Differs = std::mismatch(Back.begin(), Back.end(), Expected);
            if (Differs.first != Back.end()) {
                Problem = "The stick reads back differently at byte " +
                          std::to_string(Extent.Offset + At + (Differs.first - Back.begin())) + ".";
                return false;
            }
            Report(Size);
        }
    return true;
}
