#pragma once
// FAT12 directories and files on a floppy reached through TGenericFloppy:
// TFloppyDirectory lists one directory at a time, enters subdirectories and
// creates entries; TFloppyFile is a handle on one entry that appends bytes and
// grows the cluster chain, and reads the file back.
//
// Layout from the boot sector: root entry count at offset 17, total sector
// count at offset 19; the root starts at sector 19, data (cluster 2) at
// sector RootEntries / 16 + 19, one sector per cluster. New entries keep a 00
// entry behind them, so the root takes at most RootEntries - 1 entries.
//
// Images made by other programs are read defensively; no walk runs forever
// and nothing is read or written outside the image:
// - Root entry count: the root holds whole sectors only, so a count that is
//   not a multiple of 16 is rounded down. A count below 16 (0 included), or
//   one whose root would reach the last sector of the image (65535, say),
//   makes the layout unusable: every listing is empty and every creation
//   fails.
// - Total sector count: bounded by the 2880 sectors of the image; the last
//   cluster is total - first data sector + 1 (2848 on a 1.44 MB disk). A
//   count of 0 (a larger disk would keep its size elsewhere) leaves no
//   cluster to allocate: the disk counts as full.
// - Cluster chains: a link to 0, 1, a cluster past the last one, a reserved
//   value below FF8, or a cluster already seen in the same walk (a loop)
//   ends the walk as broken. A broken subdirectory lists up to the break, is
//   never extended, and a file with a broken chain reads back only its sound
//   part (ReadAll reports false). A directory entry that names an impossible
//   first cluster is not entered.
// - A subdirectory whose chain ends (FF8 or above) without a 00 entry is a
//   full directory: its listing ends with the chain, and a new entry goes
//   into a fresh zeroed cluster linked at its end.
// - First name byte 05 stands for a name that begins with E5 (the FAT rule);
//   such entries are live, never reused. Only E5 marks a free slot.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "floppy/Vfloppy.h"

constexpr int32_t DirEntrySize = 32;
constexpr int32_t DirEntriesPerSector = FloppySectorSize / DirEntrySize; // 16

constexpr uint8_t AttrVolumeLabel = 0x08;
constexpr uint8_t AttrDirectory = 0x10;

constexpr uint8_t EntryEnd = 0x00;
constexpr uint8_t EntryFree = 0xE5;
constexpr uint8_t EntryLeadE5 = 0x05; // stored for a name that begins with E5

using TDirEntry = std::array<uint8_t, DirEntrySize>;

// The layout a boot sector describes, bounded to the image (see above).
struct TFatLayout {
    int32_t RootEntries = 0; // whole sectors' worth; 0 when unusable
    int32_t FirstDataSector = RootFirstSector;
    int32_t TotalSectors = 0; // at most the image's sectors
    int32_t LastCluster = 1;  // below 2 when no cluster exists
    bool Usable = false;

    static TFatLayout FromBootSector(const uint8_t* BootSector);
    bool IsDataCluster(int32_t Cluster) const { return Cluster >= 2 && Cluster <= LastCluster; }
    // The sector of a data cluster, -1 for anything else.
    int32_t ClusterSector(int32_t Cluster) const {
        return IsDataCluster(Cluster) ? Cluster + FirstDataSector - 2 : -1;
    }
};

class TFloppyFile {
public:
    explicit TFloppyFile(TGenericFloppy& Floppy) : Floppy(Floppy) {}
    TFloppyFile(const TFloppyFile&) = delete;
    TFloppyFile& operator=(const TFloppyFile&) = delete;

    // Attaches to entry Index (0-15) of directory sector Sector; false when
    // the entry cannot be read. A non-empty file is positioned at its end, so
    // writes append. A file whose chain does not reach its recorded size (or
    // an empty one that owns a cluster) can be read but not written.
    bool Bind(int32_t Sector, int32_t Index);

    // Appends Length bytes; returns how many were stored (fewer when the disk
    // fills up). The entry records size and first cluster after every call.
    int32_t Write(const uint8_t* Data, int32_t Length);

    // The file's bytes, following its chain from the first cluster; false when
    // the chain ends or breaks before the recorded size (Data keeps what was
    // read).
    bool ReadAll(std::vector<uint8_t>& Data);

    int32_t FileSize() const { return Size; }
    int32_t FileFirstCluster() const { return FirstCluster; }

private:
    int32_t ClusterToSector(int32_t Cluster) const;
    int32_t NextCluster(int32_t Cluster);
    bool UpdateEntry();

    TGenericFloppy& Floppy;
    int32_t EntrySector = 0;
    int32_t EntryIndex = 0;
    int32_t CurrentCluster = 0;
    int32_t FirstCluster = 0;
    uint8_t BootSector[FloppySectorSize] = {};
    int32_t Position = 0;
    int32_t Size = 0;

    TFatLayout Layout;
    bool Bound = false;
    bool Writable = false;
};

class TFloppyDirectory {
public:
    // Starts in the root.
    explicit TFloppyDirectory(TGenericFloppy& Floppy);
    TFloppyDirectory(const TFloppyDirectory&) = delete;
    TFloppyDirectory& operator=(const TFloppyDirectory&) = delete;

    // List the current directory, every slot up to the end included (free
    // slots, dot entries, labels).
    bool FindFirst(TDirEntry& Entry);
    bool FindNext(TDirEntry& Entry);

    // Enters the subdirectory Name (one component; "..", without regard to
    // case). False leaves the directory where it was.
    bool ChangeDirectory(std::string_view Name);
    // Adds a subdirectory without entering it.
    bool CreateDirectory(std::string_view Name);
    // Adds an empty file and binds File to it; a null File gets a new handle,
    // one passed in is reused. Existing names are not looked up.
    bool CreateFile(std::string_view Name, std::unique_ptr<TFloppyFile>& File);
    // As CreateFile, but an existing file of that name is replaced in place:
    // its clusters are freed and its slot takes the new, empty entry, so the
    // directory keeps exactly one entry of the name. A subdirectory of that
    // name is left alone (false).
    bool CreateOrReplaceFile(std::string_view Name, std::unique_ptr<TFloppyFile>& File);

    // Additions for readers and image builders.

    // A volume label entry (attribute 08) in the root: Label upper-cased and
    // cut or padded to 11 bytes. False outside the root or when it is full.
    bool CreateVolumeLabel(std::string_view Label);
    // The live entry called Name in the current directory (files and
    // subdirectories; labels and free slots are skipped).
    bool FindEntry(std::string_view Name, TDirEntry& Entry);
    // Binds File (null gets a new handle) to the existing file Name.
    bool OpenFile(std::string_view Name, std::unique_ptr<TFloppyFile>& File);

    bool IsInRoot() const { return InRoot; }
    int32_t DirectoryCluster() const { return StartCluster; }

    // Name to the 32 bytes of a new entry: upper case, 8.3 cut and padded
    // with spaces, attribute, time and date now, the rest zero.
    static TDirEntry MakeShortName(std::string_view Name, uint8_t Attribute);
    // An entry's name as text: "COMMAND.COM", "DOS", ".", "..".
    static std::string FormatShortName(const TDirEntry& Entry);

private:
    // How the last listing ended.
    enum class TListingEnd { None, Terminator, RootLimit, ChainEnd, Broken };

    int32_t CurrentSector();
    int32_t ClusterOfSector();
    bool WriteEntry(const TDirEntry& Entry);
    bool FindSlot();
    bool MakeRoom();
    int32_t AllocateDirCluster();
    bool ReadCurrentSector();
    bool SeenInWalk(int32_t Cluster);

    TGenericFloppy& Floppy;
    int32_t StartCluster = 0;
    int32_t SectorIndex = 0;
    uint8_t SectorBuffer[FloppySectorSize] = {};
    int32_t EntryNumber = 0;
    int32_t CachedChainIndex = -1;
    int32_t CachedCluster = -1;
    uint8_t BootSector[FloppySectorSize] = {};
    int32_t RootEntries = 0;
    bool InRoot = true;
    int32_t FirstDataSector = RootFirstSector;

    TFatLayout Layout;
    TListingEnd End = TListingEnd::None;
    int32_t ChainTail = 0;     // last sound cluster of the walk
    std::vector<bool> Visited; // clusters of the current walk
};
