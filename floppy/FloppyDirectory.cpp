#include "floppy/FloppyDirectory.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "base/ByteOrder.h"

namespace {

constexpr int32_t NameOffset = 0;
constexpr int32_t ExtensionOffset = 8;
constexpr int32_t AttributeOffset = 11;
constexpr int32_t TimeOffset = 22;
constexpr int32_t DateOffset = 24;
constexpr int32_t ClusterOffset = 26;
constexpr int32_t SizeOffset = 28;

char UpperAscii(char c) {
    return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
}

std::string Upper(std::string_view Text) {
    std::string Result(Text);
    std::transform(Result.begin(), Result.end(), Result.begin(), UpperAscii);
    return Result;
}

void TrimSpaces(std::string& Text) {
    while (Text.size() > 1 && Text.back() == ' ')
        Text.pop_back();
}

void Stamp(TDirEntry& Entry) {
    PutLE16(&Entry[TimeOffset], DosTimeNow());
    PutLE16(&Entry[DateOffset], DosDateNow());
}

} // namespace

// --- layout ----------------------------------------------------------------

TFatLayout TFatLayout::FromBootSector(const uint8_t* BootSector) {
    TFatLayout Layout;
    const int32_t Root = GetLE16(BootSector + 17) / DirEntriesPerSector * DirEntriesPerSector;
    const int32_t FirstData = Root / DirEntriesPerSector + RootFirstSector;
    if (Root < DirEntriesPerSector || FirstData >= FloppySectorCount) return Layout;
    Layout.RootEntries = Root;
    Layout.FirstDataSector = FirstData;
    Layout.TotalSectors = std::min<int32_t>(GetLE16(BootSector + 19), FloppySectorCount);
    Layout.LastCluster = std::min(Layout.TotalSectors - FirstData + 1, FatEntryCount - 1);
    Layout.Usable = true;
    return Layout;
}

// --- TFloppyFile -----------------------------------------------------------

bool TFloppyFile::Bind(int32_t Sector, int32_t Index) {
    Bound = Writable = false;
    EntrySector = Sector;
    EntryIndex = Index;
    Position = 0;
    uint8_t Directory[FloppySectorSize];
    if (Index < 0 || Index >= DirEntriesPerSector) return false;
    if (Floppy.ReadSectors(Sector, Directory, 1) == 0) return false;
    if (Floppy.ReadSectors(0, BootSector, 1) == 0) return false;
    Layout = TFatLayout::FromBootSector(BootSector);
    const uint8_t* Entry = Directory + Index * DirEntrySize;
    Size = int32_t(std::min<uint32_t>(GetLE32(Entry + SizeOffset), INT32_MAX));
    FirstCluster = GetLE16(Entry + ClusterOffset);
    CurrentCluster = FirstCluster;
    Bound = true;
    if (Size == 0) {
        // An empty file owns no cluster; anything else is not a file to write.
        Writable = FirstCluster == 0;
        return true;
    }
    // Appends continue from the cluster that holds the last byte.
    std::vector<bool> Seen(size_t(std::max(Layout.LastCluster, 1)) + 1);
    int32_t Cluster = FirstCluster;
    for (int32_t Left = (Size - 1) / FloppySectorSize;; --Left) {
        if (!Layout.IsDataCluster(Cluster) || Seen[size_t(Cluster)]) return true;
        Seen[size_t(Cluster)] = true;
        if (Left == 0) break;
        Cluster = Floppy.GetFatEntry(Cluster);
    }
    CurrentCluster = Cluster;
    Position = Size;
    Writable = true;
    return true;
}

int32_t TFloppyFile::ClusterToSector(int32_t Cluster) const {
    return Layout.ClusterSector(Cluster);
}

int32_t TFloppyFile::NextCluster(int32_t Cluster) {
    if (Position < Size && Cluster > 1) {
        const int32_t Next = Floppy.GetFatEntry(Cluster);
        if (Layout.IsDataCluster(Next)) return Next;
    }
    // The search runs on from the current cluster and then wraps round to
    // the start, so free clusters below it are not lost to a "disk full".
    const int32_t Start = Cluster < 1 ? 1 : Cluster;
    const int32_t Clusters = Layout.LastCluster - 1;
    for (int32_t Step = 1; Step <= Clusters; ++Step) {
        const int32_t Free = (Start + Step - 2) % Clusters + 2;
        if (Floppy.GetFatEntry(Free) != FatFree) continue;
        // Mark first, so a failed link never points at a free cluster.
        if (Floppy.SetFatEntry(Free, FatEndMark) == 0) return 0;
        if (Cluster < 2)
            FirstCluster = Free;
        else if (Floppy.SetFatEntry(Cluster, uint16_t(Free)) == 0)
            return 0;
        return Free;
    }
    return 0;
}

int32_t TFloppyFile::Write(const uint8_t* Data, int32_t Length) {
    if (!Writable) return 0;
    int32_t Stored = 0;
    int32_t Remaining = std::max(Length, 0);
    uint8_t Sector[FloppySectorSize];
    const auto Finish = [&] {
        Size = std::max(Size, Position);
        UpdateEntry();
        return Stored;
    };

    if (Position % FloppySectorSize != 0 && Remaining > 0) {
        const int32_t Offset = Position % FloppySectorSize;
        const int32_t Number = ClusterToSector(CurrentCluster);
        const int32_t Count = std::min(FloppySectorSize - Offset, Remaining);
        if (Floppy.ReadSectors(Number, Sector, 1) == 0) return Finish();
        std::memcpy(Sector + Offset, Data, size_t(Count));
        if (Floppy.WriteSectors(Number, Sector, 1) == 0) return Finish();
        Position += Count;
        Stored += Count;
        Data += Count;
        Remaining -= Count;
    }
    while (Remaining > 0) {
        // On a full disk the handle keeps its last cluster for later writes.
        const int32_t Next = NextCluster(CurrentCluster);
        if (Next == 0) break;
        CurrentCluster = Next;
        const int32_t Number = ClusterToSector(CurrentCluster);
        const int32_t Count = std::min(FloppySectorSize, Remaining);
        if (Count < FloppySectorSize && Floppy.ReadSectors(Number, Sector, 1) == 0) break;
        std::memcpy(Sector, Data, size_t(Count));
        if (Floppy.WriteSectors(Number, Sector, 1) == 0) break;
        Position += Count;
        Stored += Count;
        Data += Count;
        Remaining -= Count;
    }
    return Finish();
}

bool TFloppyFile::UpdateEntry() {
    uint8_t Directory[FloppySectorSize];
    if (Floppy.ReadSectors(EntrySector, Directory, 1) == 0) return false;
    uint8_t* Entry = Directory + EntryIndex * DirEntrySize;
    PutLE32(Entry + SizeOffset, uint32_t(Size));
    PutLE16(Entry + ClusterOffset, uint16_t(FirstCluster));
    return Floppy.WriteSectors(EntrySector, Directory, 1) != 0;
}

bool TFloppyFile::ReadAll(std::vector<uint8_t>& Data) {
    Data.clear();
    if (!Bound) return false;
    std::vector<bool> Seen(size_t(std::max(Layout.LastCluster, 1)) + 1);
    uint8_t Sector[FloppySectorSize];
    int32_t Cluster = FirstCluster;
    while (int32_t(Data.size()) < Size) {
        if (!Layout.IsDataCluster(Cluster) || Seen[size_t(Cluster)]) return false;
        Seen[size_t(Cluster)] = true;
        if (Floppy.ReadSectors(ClusterToSector(Cluster), Sector, 1) == 0) return false;
        const int32_t Count = std::min(FloppySectorSize, Size - int32_t(Data.size()));
        Data.insert(Data.end(), Sector, Sector + Count);
        Cluster = Floppy.GetFatEntry(Cluster);
    }
    return true;
}

// --- TFloppyDirectory: position ---------------------------------------------

TFloppyDirectory::TFloppyDirectory(TGenericFloppy& Floppy) : Floppy(Floppy) {
    if (Floppy.ReadSectors(0, BootSector, 1) == 0) std::memset(BootSector, 0, sizeof BootSector);
    Layout = TFatLayout::FromBootSector(BootSector);
    RootEntries = Layout.RootEntries;
    FirstDataSector = Layout.FirstDataSector;
    Visited.assign(size_t(std::max(Layout.LastCluster, 1)) + 1, false);
    TDirEntry Ignored;
    FindFirst(Ignored);
}

bool TFloppyDirectory::SeenInWalk(int32_t Cluster) {
    if (Visited[size_t(Cluster)]) return true;
    Visited[size_t(Cluster)] = true;
    return false;
}

int32_t TFloppyDirectory::CurrentSector() {
    if (InRoot) return EntryNumber / DirEntriesPerSector + RootFirstSector;
    return Layout.ClusterSector(ClusterOfSector());
}

int32_t TFloppyDirectory::ClusterOfSector() {
    if (CachedChainIndex == SectorIndex) return CachedCluster;
    // One link of the chain: FFF at its end, -1 where it breaks.
    const auto Follow = [this](int32_t Cluster) -> int32_t {
        const int32_t Next = Floppy.GetFatEntry(Cluster);
        if (Next >= FatEndOfChain) return FatEndMark;
        if (!Layout.IsDataCluster(Next) || SeenInWalk(Next)) return -1;
        ChainTail = Next;
        return Next;
    };
    if (!Layout.IsDataCluster(CachedCluster)) {
        // Past the end or the break: stays there.
    } else if (SectorIndex == CachedChainIndex + 1) {
        CachedCluster = Follow(CachedCluster);
    } else {
        std::fill(Visited.begin(), Visited.end(), false);
        int32_t Cluster = StartCluster;
        if (Layout.IsDataCluster(Cluster)) {
            SeenInWalk(Cluster);
            ChainTail = Cluster;
        }
        for (int32_t i = 0; i < SectorIndex && Layout.IsDataCluster(Cluster); ++i)
            Cluster = Follow(Cluster);
        CachedCluster = Cluster;
    }
    CachedChainIndex = SectorIndex;
    return CachedCluster;
}

bool TFloppyDirectory::ReadCurrentSector() {
    const int32_t Sector = CurrentSector();
    if (Sector < 0) {
        End = CachedCluster == FatEndMark ? TListingEnd::ChainEnd : TListingEnd::Broken;
        return false;
    }
    if (Floppy.ReadSectors(Sector, SectorBuffer, 1) == 0) {
        End = TListingEnd::Broken;
        return false;
    }
    return true;
}

bool TFloppyDirectory::FindFirst(TDirEntry& Entry) {
    EntryNumber = 0;
    SectorIndex = 0;
    CachedChainIndex = 0;
    CachedCluster = StartCluster;
    End = TListingEnd::None;
    std::fill(Visited.begin(), Visited.end(), false);
    if (!InRoot) {
        SeenInWalk(StartCluster);
        ChainTail = StartCluster;
    }
    if (!Layout.Usable) {
        End = TListingEnd::Broken;
        return false;
    }
    if (!ReadCurrentSector()) return false;
    if (SectorBuffer[0] == EntryEnd) {
        End = TListingEnd::Terminator;
        return false;
    }
    std::memcpy(Entry.data(), SectorBuffer, DirEntrySize);
    return true;
}

bool TFloppyDirectory::FindNext(TDirEntry& Entry) {
    if (End != TListingEnd::None) return false;
    if (InRoot && EntryNumber >= RootEntries) {
        End = TListingEnd::RootLimit;
        return false;
    }
    ++EntryNumber;
    if (InRoot && EntryNumber >= RootEntries) {
        End = TListingEnd::RootLimit;
        return false;
    }
    if (EntryNumber / DirEntriesPerSector != SectorIndex) {
        SectorIndex = EntryNumber / DirEntriesPerSector;
        // No chain is longer than the disk has clusters.
        if (!InRoot && SectorIndex > Layout.LastCluster) {
            End = TListingEnd::Broken;
            return false;
        }
        if (!ReadCurrentSector()) return false;
    }
    const uint8_t* Slot = SectorBuffer + EntryNumber % DirEntriesPerSector * DirEntrySize;
    if (Slot[0] == EntryEnd) {
        End = TListingEnd::Terminator;
        return false;
    }
    std::memcpy(Entry.data(), Slot, DirEntrySize);
    return true;
}

bool TFloppyDirectory::WriteEntry(const TDirEntry& Entry) {
    const int32_t Sector = CurrentSector();
    if (Sector < 0 || Floppy.ReadSectors(Sector, SectorBuffer, 1) == 0) return false;
    std::memcpy(SectorBuffer + EntryNumber % DirEntriesPerSector * DirEntrySize, Entry.data(),
                DirEntrySize);
    if (Floppy.WriteSectors(Sector, SectorBuffer, 1) == 0) return false;
    End = TListingEnd::None;
    return true;
}

// --- names -----------------------------------------------------------------

TDirEntry TFloppyDirectory::MakeShortName(std::string_view Name, uint8_t Attribute) {
    const std::string Text = Upper(Name);
    const size_t Dot = Text.find('.');
    const std::string Base = Text.substr(0, Dot);
    const std::string Extension = Dot == std::string::npos ? "" : Text.substr(Dot + 1);
    TDirEntry Entry{};
    std::memset(&Entry[NameOffset], ' ', 11);
    std::memcpy(&Entry[NameOffset], Base.data(), std::min<size_t>(Base.size(), 8));
    std::memcpy(&Entry[ExtensionOffset], Extension.data(), std::min<size_t>(Extension.size(), 3));
    // A leading E5 would read as a free slot.
    if (Entry[0] == EntryFree) Entry[0] = EntryLeadE5;
    Entry[AttributeOffset] = Attribute;
    Stamp(Entry);
    return Entry;
}

std::string TFloppyDirectory::FormatShortName(const TDirEntry& Entry) {
    std::string Text(reinterpret_cast<const char*>(&Entry[NameOffset]), 8);
    if (Entry[0] == EntryLeadE5) Text[0] = char(EntryFree);
    TrimSpaces(Text);
    Text += '.';
    Text.append(reinterpret_cast<const char*>(&Entry[ExtensionOffset]), 3);
    TrimSpaces(Text);
    if (Text.size() > 1 && Text.back() == '.') Text.pop_back();
    return Text;
}

// --- walking and creating ----------------------------------------------------

bool TFloppyDirectory::ChangeDirectory(std::string_view Name) {
    const std::string Wanted = Upper(Name);
    TDirEntry Entry;
    for (bool Found = FindFirst(Entry); Found; Found = FindNext(Entry)) {
        const uint8_t Attribute = Entry[AttributeOffset];
        if (Entry[0] == EntryFree || !(Attribute & AttrDirectory) || (Attribute & AttrVolumeLabel))
            continue;
        if (Upper(FormatShortName(Entry)) != Wanted) continue;
        const int32_t Cluster = GetLE16(&Entry[ClusterOffset]);
        if (Cluster != 0 && !Layout.IsDataCluster(Cluster)) continue;
        InRoot = Cluster == 0;
        StartCluster = Cluster;
        FindFirst(Entry);
        return true;
    }
    return false;
}

bool TFloppyDirectory::FindEntry(std::string_view Name, TDirEntry& Entry) {
    const std::string Wanted = Upper(Name);
    for (bool Found = FindFirst(Entry); Found; Found = FindNext(Entry)) {
        if (Entry[0] == EntryFree || (Entry[AttributeOffset] & AttrVolumeLabel)) continue;
        if (Upper(FormatShortName(Entry)) == Wanted) return true;
    }
    return false;
}

bool TFloppyDirectory::OpenFile(std::string_view Name, std::unique_ptr<TFloppyFile>& File) {
    TDirEntry Entry;
    if (!FindEntry(Name, Entry) || (Entry[AttributeOffset] & AttrDirectory)) return false;
    const int32_t Sector = CurrentSector();
    if (!File) File = std::make_unique<TFloppyFile>(Floppy);
    return File->Bind(Sector, EntryNumber % DirEntriesPerSector);
}

bool TFloppyDirectory::FindSlot() {
    TDirEntry Entry;
    for (bool Found = FindFirst(Entry); Found; Found = FindNext(Entry))
        if (Entry[0] == EntryFree) return true;
    return MakeRoom();
}

bool TFloppyDirectory::MakeRoom() {
    TDirEntry Entry;
    while (FindNext(Entry)) {
    }
    uint8_t Sector[FloppySectorSize] = {};
    if (End == TListingEnd::ChainEnd) {
        // A full subdirectory: the slot opens a new cluster at the chain's end.
        const int32_t Cluster = AllocateDirCluster();
        if (Cluster == 0) return false;
        if (Floppy.SetFatEntry(ChainTail, uint16_t(Cluster)) == 0) {
            Floppy.SetFatEntry(Cluster, FatFree);
            return false;
        }
        SeenInWalk(Cluster);
        ChainTail = Cluster;
        CachedChainIndex = SectorIndex;
        CachedCluster = Cluster;
        return true;
    }
    if (End != TListingEnd::Terminator) return false;

    const int32_t Next = EntryNumber + 1;
    if (Next % DirEntriesPerSector != 0) {
        const int32_t Number = CurrentSector();
        if (Floppy.ReadSectors(Number, Sector, 1) == 0) return false;
        std::memset(Sector + Next % DirEntriesPerSector * DirEntrySize, 0, DirEntrySize);
        return Floppy.WriteSectors(Number, Sector, 1) != 0;
    }
    if (InRoot) {
        if (Next >= RootEntries) return false;
        return Floppy.WriteSectors(Next / DirEntriesPerSector + RootFirstSector, Sector, 1) != 0;
    }
    const int32_t Last = ClusterOfSector();
    const int32_t Following = Floppy.GetFatEntry(Last);
    if (Following >= FatEndOfChain) {
        const int32_t Cluster = AllocateDirCluster();
        if (Cluster == 0) return false;
        if (Floppy.SetFatEntry(Last, uint16_t(Cluster)) == 0) {
            Floppy.SetFatEntry(Cluster, FatFree);
            return false;
        }
        return true;
    }
    // The chain already goes on past the terminator: end the listing there.
    if (!Layout.IsDataCluster(Following) || Visited[size_t(Following)]) return false;
    const int32_t Number = Layout.ClusterSector(Following);
    if (Floppy.ReadSectors(Number, Sector, 1) == 0) return false;
    std::memset(Sector, 0, DirEntrySize);
    return Floppy.WriteSectors(Number, Sector, 1) != 0;
}

int32_t TFloppyDirectory::AllocateDirCluster() {
    if (Layout.TotalSectors < 3) return 0;
    const uint8_t Zero[FloppySectorSize] = {};
    for (int32_t Cluster = 2; Cluster <= Layout.LastCluster; ++Cluster) {
        if (Floppy.GetFatEntry(Cluster) != FatFree) continue;
        if (Floppy.SetFatEntry(Cluster, FatEndMark) == 0) return 0;
        if (Floppy.WriteSectors(Layout.ClusterSector(Cluster), Zero, 1) == 0) {
            Floppy.SetFatEntry(Cluster, FatFree);
            return 0;
        }
        return Cluster;
    }
    return 0;
}

bool TFloppyDirectory::CreateFile(std::string_view Name, std::unique_ptr<TFloppyFile>& File) {
    const TDirEntry Entry = MakeShortName(Name, 0x00);
    if (!FindSlot() || !WriteEntry(Entry)) return false;
    if (!File) File = std::make_unique<TFloppyFile>(Floppy);
    File->Bind(CurrentSector(), EntryNumber % DirEntriesPerSector);
    return true;
}

bool TFloppyDirectory::CreateOrReplaceFile(std::string_view Name,
                                           std::unique_ptr<TFloppyFile>& File) {
    TDirEntry Old;
    if (!FindEntry(Name, Old)) return CreateFile(Name, File);
    if (Old[AttributeOffset] & AttrDirectory) return false;
    // The slot first, so an interruption leaves lost clusters, never a
    // second owner of them.
    if (!WriteEntry(MakeShortName(Name, 0x00))) return false;
    const int32_t Sector = CurrentSector();
    const int32_t Index = EntryNumber % DirEntriesPerSector;
    int32_t Cluster = GetLE16(&Old[ClusterOffset]);
    for (int32_t Steps = 0; Layout.IsDataCluster(Cluster) && Steps < Layout.LastCluster; ++Steps) {
        const int32_t Next = Floppy.GetFatEntry(Cluster);
        if (Next == FatFree) break; // already free: not ours to follow
        if (Floppy.SetFatEntry(Cluster, FatFree) == 0) break;
        Cluster = Next;
    }
    if (!File) File = std::make_unique<TFloppyFile>(Floppy);
    return File->Bind(Sector, Index);
}

bool TFloppyDirectory::CreateDirectory(std::string_view Name) {
    TDirEntry Entry = MakeShortName(Name, AttrDirectory);
    if (!FindSlot()) return false;
    const int32_t Cluster = AllocateDirCluster();
    if (Cluster == 0) return false;
    PutLE16(&Entry[ClusterOffset], uint16_t(Cluster));

    uint8_t First[FloppySectorSize] = {};
    for (int i = 0; i < 2; ++i) {
        uint8_t* Dot = First + i * DirEntrySize;
        std::memset(Dot, ' ', 11);
        std::memset(Dot, '.', size_t(i + 1));
        Dot[AttributeOffset] = AttrDirectory;
        std::memcpy(Dot + TimeOffset, &Entry[TimeOffset], 4);
    }
    PutLE16(First + ClusterOffset, uint16_t(Cluster));
    PutLE16(First + DirEntrySize + ClusterOffset, uint16_t(InRoot ? 0 : StartCluster));
    if (Floppy.WriteSectors(Layout.ClusterSector(Cluster), First, 1) == 0 || !WriteEntry(Entry)) {
        Floppy.SetFatEntry(Cluster, FatFree);
        return false;
    }
    return true;
}

bool TFloppyDirectory::CreateVolumeLabel(std::string_view Label) {
    if (!InRoot) return false;
    TDirEntry Entry{};
    const std::string Text = Upper(Label);
    std::memset(&Entry[NameOffset], ' ', 11);
    std::memcpy(&Entry[NameOffset], Text.data(), std::min<size_t>(Text.size(), 11));
    if (Entry[0] == EntryFree) Entry[0] = EntryLeadE5;
    Entry[AttributeOffset] = AttrVolumeLabel;
    Stamp(Entry);
    return FindSlot() && WriteEntry(Entry);
}
