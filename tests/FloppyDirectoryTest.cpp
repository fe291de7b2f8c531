// FAT12 directories and files on the in-memory floppy: names, creating
// entries and growing directories, writing files, walking folders, and images
// that other programs got wrong.

#include <gtest/gtest.h>

#include <algorithm>

#include "FloppyTestSupport.h"
#include "TestSupport.h"
#include "fakes/FakePlatform.h"

using namespace floppy_test;
using testing_support::RandomBytes;

namespace {

std::string NameBytes(const TDirEntry& Entry) {
    return std::string(Entry.begin(), Entry.begin() + 11);
}

TDirEntry EntryNamed(const std::string& Eleven, uint8_t Attribute = 0) {
    TDirEntry Entry{};
    std::copy(Eleven.begin(), Eleven.end(), Entry.begin());
    Entry[11] = Attribute;
    return Entry;
}

// Fills every free data sector with a pattern, so zeroing can be seen.
void SoilFreeSectors(TVirtualFloppy& Floppy) {
    for (int32_t Cluster = 2; Cluster <= 2848; ++Cluster)
        if (Floppy.GetFatEntry(Cluster) == 0)
            std::fill_n(SectorOf(Floppy, Cluster + 31), 512, uint8_t(0xCC));
}

// Marks every cluster used except those listed.
void UseAllClustersBut(TVirtualFloppy& Floppy, std::initializer_list<int32_t> Free) {
    for (int32_t Cluster = 2; Cluster <= 2848; ++Cluster)
        Floppy.SetFatEntry(Cluster, std::find(Free.begin(), Free.end(), Cluster) == Free.end()
                                        ? FatEndMark
                                        : FatFree);
}

std::vector<uint8_t> Snapshot(const TVirtualFloppy& Floppy) {
    return {Floppy.Image.begin(), Floppy.Image.end()};
}

} // namespace

TEST(FloppyShortNames, MakeShortNameCutsAndPads) {
    TFakePlatform Fake;
    Fake.Clock = {2005, 6, 15, 13, 45, 30};
    EXPECT_EQ(NameBytes(TFloppyDirectory::MakeShortName("io.sys", 0)), "IO      SYS");
    EXPECT_EQ(NameBytes(TFloppyDirectory::MakeShortName("Command.com", 0)), "COMMAND COM");
    EXPECT_EQ(NameBytes(TFloppyDirectory::MakeShortName("ABCDEFGHIJKL.TEXT", 0)), "ABCDEFGHTEX");
    EXPECT_EQ(NameBytes(TFloppyDirectory::MakeShortName("A.B.C", 0)), "A       B.C");
    EXPECT_EQ(NameBytes(TFloppyDirectory::MakeShortName("purgit", 0x10)), "PURGIT     ");

    const TDirEntry Entry = TFloppyDirectory::MakeShortName("Data", 0x10);
    EXPECT_EQ(Entry[11], 0x10);
    EXPECT_EQ(GetLE16(&Entry[22]), 13 * 2048 + 45 * 32 + 15);
    EXPECT_EQ(GetLE16(&Entry[24]), 25 * 512 + 6 * 32 + 15);
    EXPECT_TRUE(std::all_of(Entry.begin() + 12, Entry.begin() + 22, [](uint8_t b) { return !b; }));
    EXPECT_TRUE(std::all_of(Entry.begin() + 26, Entry.end(), [](uint8_t b) { return !b; }));

    // A name starting with E5 is stored as 05, or it would read as a free slot.
    EXPECT_EQ(TFloppyDirectory::MakeShortName("\xE5X.TXT", 0)[0], 0x05);
}

TEST(FloppyShortNames, FormatShortNameGivesDosText) {
    EXPECT_EQ(TFloppyDirectory::FormatShortName(EntryNamed("COMMAND COM")), "COMMAND.COM");
    EXPECT_EQ(TFloppyDirectory::FormatShortName(EntryNamed("DOS        ", 0x10)), "DOS");
    EXPECT_EQ(TFloppyDirectory::FormatShortName(EntryNamed(".          ", 0x10)), ".");
    EXPECT_EQ(TFloppyDirectory::FormatShortName(EntryNamed("..         ", 0x10)), "..");
    EXPECT_EQ(TFloppyDirectory::FormatShortName(EntryNamed("A       B  ")), "A.B");
    EXPECT_EQ(TFloppyDirectory::FormatShortName(EntryNamed("\x05"
                                                           "BC     TXT")),
              "\xE5"
              "BC.TXT");
}

TEST(FloppyCreateFile, FirstFileOfAnEmptyDiskTakesClustersTwoAndThree) {
    auto Floppy = FreshFloppy();
    std::fill_n(RootEntry(*Floppy, 1), 64, uint8_t('X')); // leftovers past the end
    TFloppyDirectory Root(*Floppy);
    std::unique_ptr<TFloppyFile> File;
    ASSERT_TRUE(Root.CreateFile("Purgit.exe", File));
    EXPECT_EQ(std::string(RootEntry(*Floppy, 0), RootEntry(*Floppy, 0) + 11), "PURGIT  EXE");
    EXPECT_TRUE(
        std::all_of(RootEntry(*Floppy, 1), RootEntry(*Floppy, 2), [](uint8_t b) { return !b; }));
    EXPECT_EQ(RootEntry(*Floppy, 2)[0], 'X');

    const auto Data = RandomBytes(513, 10);
    EXPECT_EQ(File->Write(Data.data(), 513), 513);
    EXPECT_EQ(EntrySize(RootEntry(*Floppy, 0)), 513u);
    EXPECT_EQ(EntryCluster(RootEntry(*Floppy, 0)), 2);
    EXPECT_TRUE(std::equal(Data.begin(), Data.begin() + 512, SectorOf(*Floppy, 33)));
    EXPECT_EQ(SectorOf(*Floppy, 34)[0], Data[512]);
    for (int32_t Fat : {1, 10}) {
        EXPECT_EQ(GetFat12Entry(2, SectorOf(*Floppy, Fat)), 3);
        EXPECT_EQ(GetFat12Entry(3, SectorOf(*Floppy, Fat)), 0xFFF);
        EXPECT_EQ(GetFat12Entry(4, SectorOf(*Floppy, Fat)), 0);
    }
    EXPECT_EQ(ReadBack(Root, "PURGIT.EXE"), std::make_pair(true, Data));
}

TEST(FloppyCreateFile, EmptyWriteAllocatesNothingAndNamesMayRepeat) {
    auto Floppy = FreshFloppy();
    TFloppyDirectory Root(*Floppy);
    EXPECT_EQ(AddFile(Root, "EMPTY.TXT", {}), 0);
    EXPECT_EQ(EntrySize(RootEntry(*Floppy, 0)), 0u);
    EXPECT_EQ(EntryCluster(RootEntry(*Floppy, 0)), 0);
    EXPECT_EQ(FreeClusters(*Floppy), 2847);
    // No lookup is made: the same name twice gives two entries.
    EXPECT_EQ(AddFile(Root, "empty.txt", {1}), 1);
    EXPECT_EQ(Listing(Root), (std::vector<std::string>{"EMPTY.TXT", "EMPTY.TXT"}));
}

TEST(FloppyCreateFile, WritesAppendAndCompletePartialSectors) {
    auto Floppy = FreshFloppy();
    SoilFreeSectors(*Floppy);
    TFloppyDirectory Root(*Floppy);
    std::unique_ptr<TFloppyFile> File;
    ASSERT_TRUE(Root.CreateFile("LOG.TXT", File));
    const auto Data = RandomBytes(1300, 11);
    EXPECT_EQ(File->Write(Data.data(), 300), 300);
    EXPECT_EQ(File->Write(Data.data() + 300, 300), 300);
    EXPECT_EQ(EntrySize(RootEntry(*Floppy, 0)), 600u);
    EXPECT_TRUE(std::equal(Data.begin(), Data.begin() + 512, SectorOf(*Floppy, 33)));
    EXPECT_EQ(Floppy->GetFatEntry(2), 3);
    EXPECT_EQ(Floppy->GetFatEntry(3), FatEndMark);
    EXPECT_EQ(Floppy->GetFatEntry(4), 0);
    // A short tail keeps what the sector held before.
    EXPECT_EQ(SectorOf(*Floppy, 34)[600 - 512], 0xCC);

    // Bytes 600-1023 fill cluster 3 exactly; 1024-1299 start cluster 4.
    EXPECT_EQ(File->Write(Data.data() + 600, 424), 424);
    EXPECT_EQ(Floppy->GetFatEntry(3), FatEndMark);
    EXPECT_EQ(File->Write(Data.data() + 1024, 276), 276);
    EXPECT_EQ(Floppy->GetFatEntry(3), 4);
    EXPECT_EQ(ReadBack(Root, "LOG.TXT"), std::make_pair(true, Data));

    // A handle opened on the existing file appends at its end.
    std::unique_ptr<TFloppyFile> Again;
    ASSERT_TRUE(Root.OpenFile("log.txt", Again));
    EXPECT_EQ(Again->FileSize(), 1300);
    EXPECT_EQ(Again->Write(Data.data(), 10), 10);
    auto Longer = Data;
    Longer.insert(Longer.end(), Data.begin(), Data.begin() + 10);
    EXPECT_EQ(ReadBack(Root, "LOG.TXT"), std::make_pair(true, Longer));
}

TEST(FloppyCreateFile, FreeSlotsAreReusedBeforeTheDirectoryGrows) {
    auto Floppy = FreshFloppy();
    TFloppyDirectory Root(*Floppy);
    for (const char* Name : {"A", "B", "C"})
        AddFile(Root, Name, {});
    RootEntry(*Floppy, 1)[0] = 0xE5;
    AddFile(Root, "D", {});
    EXPECT_EQ(Listing(Root), (std::vector<std::string>{"A", "D", "C"}));

    // 05 stands for a live name beginning with E5: it is kept.
    RootEntry(*Floppy, 0)[0] = 0x05;
    AddFile(Root, "E", {});
    EXPECT_EQ(Listing(Root), (std::vector<std::string>{"\xE5", "D", "C", "E"}));
}

TEST(FloppyCreateFile, SixteenthEntryOfASubdirectoryLinksAZeroedCluster) {
    auto Floppy = FreshFloppy();
    TFloppyDirectory Directory(*Floppy);
    ASSERT_TRUE(Directory.CreateDirectory("SUB"));
    SoilFreeSectors(*Floppy);
    ASSERT_TRUE(Directory.ChangeDirectory("SUB"));
    const int32_t Sub = Directory.DirectoryCluster();
    EXPECT_EQ(Sub, 2);

    // "." and ".." take entries 0 and 1; entries 2-14 fit beside them.
    for (int i = 2; i < 15; ++i)
        ASSERT_EQ(AddFile(Directory, "F" + std::to_string(i), {}), 0);
    EXPECT_EQ(Floppy->GetFatEntry(Sub), FatEndMark);
    ASSERT_EQ(AddFile(Directory, "F15", {}), 0);
    const int32_t Second = Floppy->GetFatEntry(Sub);
    EXPECT_EQ(Second, 3);
    EXPECT_EQ(Floppy->GetFatEntry(Second), FatEndMark);
    EXPECT_TRUE(std::all_of(SectorOf(*Floppy, Second + 31), SectorOf(*Floppy, Second + 32),
                            [](uint8_t b) { return !b; }));
    EXPECT_EQ(Listing(Directory).size(), 16u);

    ASSERT_EQ(AddFile(Directory, "F16", {7}), 1);
    EXPECT_EQ(SectorOf(*Floppy, Second + 31)[0], 'F');
    EXPECT_EQ(Listing(Directory).back(), "F16");
    EXPECT_EQ(ReadBack(Directory, "F16"), std::make_pair(true, std::vector<uint8_t>{7}));
}

TEST(FloppyCreateFile, RootTakesTwoHundredTwentyThreeEntries) {
    auto Floppy = FreshFloppy();
    SoilFreeSectors(*Floppy);
    TFloppyDirectory Root(*Floppy);
    for (int i = 0; i < 223; ++i)
        ASSERT_EQ(AddFile(Root, "F" + std::to_string(i), {}), 0) << i;
    const auto Before = Snapshot(*Floppy);
    EXPECT_EQ(AddFile(Root, "ONEMORE", {}), -1);
    EXPECT_FALSE(Root.CreateDirectory("DIR"));
    EXPECT_EQ(Snapshot(*Floppy), Before);
    EXPECT_EQ(RootEntry(*Floppy, 223)[0], 0);
    EXPECT_EQ(SectorOf(*Floppy, 33)[0], 0xCC); // the data area was never touched
    EXPECT_EQ(Listing(Root).size(), 223u);
}

TEST(FloppyCreateFile, DiskFillingUpMidWriteKeepsWhatFits) {
    auto Floppy = FreshFloppy();
    TFloppyDirectory Root(*Floppy);
    UseAllClustersBut(*Floppy, {100, 101, 102});
    std::unique_ptr<TFloppyFile> File;
    ASSERT_TRUE(Root.CreateFile("BIG.BIN", File));
    const auto Data = RandomBytes(2000, 12);
    EXPECT_EQ(File->Write(Data.data(), 2000), 1536);
    EXPECT_EQ(EntrySize(RootEntry(*Floppy, 0)), 1536u);
    EXPECT_EQ(EntryCluster(RootEntry(*Floppy, 0)), 100);
    EXPECT_EQ(Floppy->GetFatEntry(102), FatEndMark);
    // Later writes store nothing and leave the start of the chain alone.
    EXPECT_EQ(File->Write(Data.data(), 5), 0);
    EXPECT_EQ(EntryCluster(RootEntry(*Floppy, 0)), 100);
    EXPECT_EQ(ReadBack(Root, "BIG.BIN"),
              std::make_pair(true, std::vector<uint8_t>(Data.begin(), Data.begin() + 1536)));
    // Once a cluster is free again, the chain simply goes on.
    Floppy->SetFatEntry(50, FatFree);
    EXPECT_EQ(File->Write(Data.data() + 1536, 5), 5);
    EXPECT_EQ(EntryCluster(RootEntry(*Floppy, 0)), 100);
    EXPECT_EQ(Floppy->GetFatEntry(102), 50);
    EXPECT_EQ(ReadBack(Root, "BIG.BIN"),
              std::make_pair(true, std::vector<uint8_t>(Data.begin(), Data.begin() + 1541)));

    // No cluster for a new directory: no entry either.
    EXPECT_FALSE(Root.CreateDirectory("NEW"));
    EXPECT_EQ(Listing(Root), (std::vector<std::string>{"BIG.BIN"}));
}

TEST(FloppyCreateFile, AllocationWrapsRoundToFreeClustersBelowTheCurrentOne) {
    auto Floppy = FreshFloppy();
    TFloppyDirectory Root(*Floppy);
    UseAllClustersBut(*Floppy, {20});
    std::unique_ptr<TFloppyFile> File;
    ASSERT_TRUE(Root.CreateFile("GROW.BIN", File));
    const auto Data = RandomBytes(1024, 13);
    ASSERT_EQ(File->Write(Data.data(), 512), 512);
    Floppy->SetFatEntry(10, FatFree);
    EXPECT_EQ(File->Write(Data.data() + 512, 512), 512);
    EXPECT_EQ(Floppy->GetFatEntry(20), 10);
    EXPECT_EQ(ReadBack(Root, "GROW.BIN"), std::make_pair(true, Data));
}

TEST(FloppyFolders, CreateDirectoryWritesDotEntriesAndDoesNotEnter) {
    TFakePlatform Fake;
    auto Floppy = FreshFloppy();
    TFloppyDirectory Directory(*Floppy);
    ASSERT_TRUE(Directory.CreateDirectory("Purgit"));
    EXPECT_TRUE(Directory.IsInRoot());
    const uint8_t* Entry = RootEntry(*Floppy, 0);
    EXPECT_EQ(Entry[11], 0x10);
    EXPECT_EQ(EntrySize(Entry), 0u);
    const int32_t Cluster = EntryCluster(Entry);
    const uint8_t* Dots = SectorOf(*Floppy, Cluster + 31);
    EXPECT_EQ(std::string(Dots, Dots + 11), ".          ");
    EXPECT_EQ(std::string(Dots + 32, Dots + 43), "..         ");
    EXPECT_EQ(EntryCluster(Dots), Cluster);
    EXPECT_EQ(EntryCluster(Dots + 32), 0);
    EXPECT_EQ(Dots[11], 0x10);
    EXPECT_EQ(GetLE16(Dots + 24), GetLE16(Entry + 24));
    EXPECT_EQ(Dots[64], 0);

    ASSERT_TRUE(Directory.ChangeDirectory("purgit"));
    ASSERT_TRUE(Directory.CreateDirectory("DATA"));
    ASSERT_TRUE(Directory.ChangeDirectory("data"));
    const uint8_t* Inner = SectorOf(*Floppy, Directory.DirectoryCluster() + 31);
    EXPECT_EQ(EntryCluster(Inner + 32), Cluster); // ".." names the parent
}

TEST(FloppyFolders, ChangeDirectoryWalksUpAndDownByName) {
    auto Floppy = FreshFloppy();
    TFloppyDirectory Directory(*Floppy);
    AddFile(Directory, "NOTADIR.TXT", {1, 2});
    ASSERT_TRUE(Directory.CreateDirectory("ONE"));
    ASSERT_TRUE(Directory.ChangeDirectory("One"));
    const int32_t One = Directory.DirectoryCluster();
    ASSERT_TRUE(Directory.CreateDirectory("TWO"));
    ASSERT_TRUE(Directory.ChangeDirectory("TWO"));
    EXPECT_FALSE(Directory.IsInRoot());

    ASSERT_TRUE(Directory.ChangeDirectory(".."));
    EXPECT_EQ(Directory.DirectoryCluster(), One);
    EXPECT_FALSE(Directory.IsInRoot());
    ASSERT_TRUE(Directory.ChangeDirectory("."));
    EXPECT_EQ(Directory.DirectoryCluster(), One);
    ASSERT_TRUE(Directory.ChangeDirectory(".."));
    EXPECT_TRUE(Directory.IsInRoot());

    EXPECT_FALSE(Directory.ChangeDirectory("NOTADIR.TXT"));
    EXPECT_FALSE(Directory.ChangeDirectory("MISSING"));
    EXPECT_TRUE(Directory.IsInRoot());
    EXPECT_EQ(Listing(Directory), (std::vector<std::string>{"NOTADIR.TXT", "ONE"}));
}

TEST(FloppyFolders, VolumeLabelLivesInTheRootOnly) {
    auto Floppy = FreshFloppy();
    TFloppyDirectory Directory(*Floppy);
    ASSERT_TRUE(Directory.CreateVolumeLabel("dskpurgx"));
    EXPECT_EQ(std::string(RootEntry(*Floppy, 0), RootEntry(*Floppy, 0) + 12), "DSKPURGX   \x08");
    TDirEntry Entry;
    EXPECT_FALSE(Directory.FindEntry("DSKPURGX", Entry)); // a label is not a file
    ASSERT_TRUE(Directory.CreateDirectory("SUB"));
    ASSERT_TRUE(Directory.ChangeDirectory("SUB"));
    EXPECT_FALSE(Directory.CreateVolumeLabel("NOPE"));
}

// --- images that other programs got wrong ------------------------------------

TEST(FloppyBadInput, UnusableRootEntryCountsRefuseEverything) {
    for (uint16_t Count : {0, 15, 65535, 45777}) {
        auto Floppy = FreshFloppy(Count);
        const auto Before = Snapshot(*Floppy);
        TFloppyDirectory Directory(*Floppy);
        TDirEntry Entry;
        EXPECT_FALSE(Directory.FindFirst(Entry)) << Count;
        EXPECT_FALSE(Directory.FindNext(Entry)) << Count;
        EXPECT_EQ(AddFile(Directory, "A.TXT", {1}), -1) << Count;
        EXPECT_FALSE(Directory.CreateDirectory("D")) << Count;
        EXPECT_FALSE(Directory.CreateVolumeLabel("L")) << Count;
        EXPECT_FALSE(Directory.ChangeDirectory("D")) << Count;
        EXPECT_EQ(Snapshot(*Floppy), Before) << Count;
    }
}

TEST(FloppyBadInput, RootCountsAreRoundedToWholeSectors) {
    auto Floppy = FreshFloppy(239); // 14 whole sectors and a bit
    TFloppyDirectory Root(*Floppy);
    ASSERT_EQ(AddFile(Root, "A.TXT", std::vector<uint8_t>(3, 0xAB)), 3);
    EXPECT_EQ(SectorOf(*Floppy, 33)[0], 0xAB); // data still starts at sector 33
}

TEST(FloppyBadInput, TotalSectorCountsBoundTheClusterSearch) {
    // Beyond the image: allocation still ends at cluster 2848.
    auto Big = FreshFloppy(224, 5760);
    TFloppyDirectory Root(*Big);
    EXPECT_EQ(AddFile(Root, "ALL.BIN", std::vector<uint8_t>(2000 * 1024, 1)), 2847 * 512);
    EXPECT_EQ(Big->GetFatEntry(2848), FatEndMark);
    EXPECT_EQ(Big->GetFatEntry(2849), 0);

    // Fewer sectors: clusters past the count are not used.
    auto Small = FreshFloppy(224, 100);
    TFloppyDirectory SmallRoot(*Small);
    EXPECT_EQ(AddFile(SmallRoot, "ALL.BIN", std::vector<uint8_t>(100 * 512, 1)), 67 * 512);

    // No count at all: nothing can be allocated.
    auto None = FreshFloppy(224, 0);
    TFloppyDirectory NoneRoot(*None);
    EXPECT_EQ(AddFile(NoneRoot, "A.BIN", {1, 2, 3}), 0);
    EXPECT_FALSE(NoneRoot.CreateDirectory("D"));
    EXPECT_EQ(FreeClusters(*None), 2847);
}

namespace {

// A subdirectory SUB at cluster 2 whose sectors are all live entries, with
// the chain continuing from its second cluster as Link says.
std::unique_ptr<TVirtualFloppy> FullSubdirectory(uint16_t Link) {
    auto Floppy = FreshFloppy();
    {
        TFloppyDirectory Root(*Floppy);
        EXPECT_TRUE(Root.CreateDirectory("SUB"));
    }
    Floppy->SetFatEntry(2, 3);
    Floppy->SetFatEntry(3, Link);
    for (int32_t Cluster : {2, 3})
        for (int i = 0; i < 16; ++i) {
            if (Cluster == 2 && i < 2) continue; // keep "." and ".."
            uint8_t* Entry = SectorOf(*Floppy, Cluster + 31) + i * 32;
            const std::string Name = "E" + std::to_string(Cluster * 100 + i);
            std::fill_n(Entry, 32, uint8_t(0));
            std::fill_n(Entry, 11, uint8_t(' '));
            std::copy(Name.begin(), Name.end(), Entry);
        }
    return Floppy;
}

} // namespace

TEST(FloppyBadInput, SubdirectoryWithoutTerminatorEndsWithItsChain) {
    auto Floppy = FullSubdirectory(FatEndMark);
    TFloppyDirectory Directory(*Floppy);
    ASSERT_TRUE(Directory.ChangeDirectory("SUB"));
    EXPECT_EQ(Listing(Directory).size(), 32u);
    // A full directory is legal: the new entry opens a third cluster.
    ASSERT_EQ(AddFile(Directory, "NEW.TXT", {9}), 1);
    const int32_t Third = Floppy->GetFatEntry(3);
    EXPECT_TRUE(Third >= 4 && Third <= 2848);
    EXPECT_EQ(Floppy->GetFatEntry(Third), FatEndMark);
    const auto Names = Listing(Directory);
    ASSERT_EQ(Names.size(), 33u);
    EXPECT_EQ(Names.back(), "NEW.TXT");
    EXPECT_EQ(ReadBack(Directory, "NEW.TXT"), std::make_pair(true, std::vector<uint8_t>{9}));
}

TEST(FloppyBadInput, ClusterAlreadyLinkedPastTheTerminatorIsUsedNotReplaced) {
    auto Floppy = FullSubdirectory(FatEndMark);
    SectorOf(*Floppy, 33)[15 * 32] = 0; // the directory ends at the last slot of cluster 2
    TFloppyDirectory Directory(*Floppy);
    ASSERT_TRUE(Directory.ChangeDirectory("SUB"));
    EXPECT_EQ(Listing(Directory).size(), 15u);
    const int32_t Free = FreeClusters(*Floppy);
    ASSERT_EQ(AddFile(Directory, "NEW.TXT", {}), 0);
    // Cluster 3 stays in the chain and now starts with the terminator.
    EXPECT_EQ(Floppy->GetFatEntry(2), 3);
    EXPECT_EQ(Floppy->GetFatEntry(3), FatEndMark);
    EXPECT_EQ(FreeClusters(*Floppy), Free);
    EXPECT_EQ(SectorOf(*Floppy, 34)[0], 0);
    EXPECT_EQ(Listing(Directory).back(), "NEW.TXT");
}

TEST(FloppyBadInput, BrokenSubdirectoryChainsEndTheListingAndAreNeverExtended) {
    // A loop back to the first cluster, a link past the last cluster, links
    // into the reserved entries, a free cluster and a reserved value.
    for (uint16_t Link : {2, 3, 2849, 3000, 0, 1, 0xFF0, 0xFF7}) {
        auto Floppy = FullSubdirectory(Link);
        TFloppyDirectory Directory(*Floppy);
        ASSERT_TRUE(Directory.ChangeDirectory("SUB")) << Link;
        EXPECT_EQ(Listing(Directory).size(), 32u) << Link;
        const auto Before = Snapshot(*Floppy);
        EXPECT_EQ(AddFile(Directory, "NEW.TXT", {9}), -1) << Link;
        EXPECT_FALSE(Directory.CreateDirectory("NEWDIR")) << Link;
        EXPECT_EQ(Snapshot(*Floppy), Before) << Link;
        // A name in the sound part is still found.
        EXPECT_TRUE(Directory.ChangeDirectory("..")) << Link;
        EXPECT_TRUE(Directory.IsInRoot());
    }
}

TEST(FloppyBadInput, FreeSlotInABrokenDirectoryIsStillUsable) {
    auto Floppy = FullSubdirectory(2);
    SectorOf(*Floppy, 33)[5 * 32] = 0xE5;
    TFloppyDirectory Directory(*Floppy);
    ASSERT_TRUE(Directory.ChangeDirectory("SUB"));
    EXPECT_EQ(AddFile(Directory, "NEW.TXT", {}), 0);
    EXPECT_EQ(Listing(Directory)[5], "NEW.TXT");
}

TEST(FloppyBadInput, EntriesNamingImpossibleClustersAreNotEntered) {
    auto Floppy = FreshFloppy();
    TFloppyDirectory Directory(*Floppy);
    ASSERT_TRUE(Directory.CreateDirectory("ODD"));
    for (uint16_t Cluster : {1, 2849, 4000}) {
        PutLE16(RootEntry(*Floppy, 0) + 26, Cluster);
        EXPECT_FALSE(Directory.ChangeDirectory("ODD")) << Cluster;
        EXPECT_TRUE(Directory.IsInRoot());
    }
}

TEST(FloppyBadInput, FilesWithBrokenChainsReadOnlyTheirSoundPart) {
    auto Floppy = FreshFloppy();
    TFloppyDirectory Root(*Floppy);
    const auto Data = RandomBytes(3 * 512, 14);
    ASSERT_EQ(AddFile(Root, "A.BIN", Data), 3 * 512);
    for (uint16_t Link : {2, 3, 0, 1, 2849, 0xFF8}) {
        Floppy->SetFatEntry(3, Link); // the second cluster's link
        const auto Before = Snapshot(*Floppy);
        std::unique_ptr<TFloppyFile> File;
        ASSERT_TRUE(Root.OpenFile("A.BIN", File)) << Link;
        std::vector<uint8_t> Back;
        EXPECT_FALSE(File->ReadAll(Back)) << Link;
        EXPECT_EQ(Back, std::vector<uint8_t>(Data.begin(), Data.begin() + 1024)) << Link;
        // Appending would need the chain to reach the recorded size.
        EXPECT_EQ(File->Write(Data.data(), 10), 0) << Link;
        EXPECT_EQ(Snapshot(*Floppy), Before) << Link;
    }
    TFloppyFile File(*Floppy);
    EXPECT_FALSE(File.Bind(19, 16));
    EXPECT_FALSE(File.Bind(4000, 0));
    EXPECT_EQ(File.Write(Data.data(), 10), 0);
}

// Replacing a file gives its clusters back: a larger file then a smaller one
// of the same name leaves exactly the smaller one's clusters in use, in both
// FATs, and one entry; a folder of that name is never replaced.
TEST(FloppyCreateFile, ReplacingAFileFreesItsClustersAndKeepsOneEntry) {
    auto Floppy = FreshFloppy();
    TFloppyDirectory Root(*Floppy);
    const int32_t Free = FreeClusters(*Floppy);
    ASSERT_GT(AddFile(Root, "KEEP.TXT", RandomBytes(700, 1)), 0);
    for (const size_t Size : {size_t(5000), size_t(1030), size_t(0), size_t(600)}) {
        SCOPED_TRACE(Size);
        std::unique_ptr<TFloppyFile> File;
        ASSERT_TRUE(Root.CreateOrReplaceFile("note.txt", File));
        const auto Data = RandomBytes(Size, uint32_t(Size));
        ASSERT_EQ(File->Write(Data.data(), int32_t(Size)), int32_t(Size));
        // KEEP.TXT holds two clusters; the note one per started 512 bytes.
        EXPECT_EQ(FreeClusters(*Floppy), Free - 2 - int32_t((Size + 511) / 512));
        // The second FAT agrees with the first.
        EXPECT_TRUE(std::equal(SectorOf(*Floppy, 1), SectorOf(*Floppy, 10), SectorOf(*Floppy, 10)));
        EXPECT_EQ(Listing(Root), (std::vector<std::string>{"KEEP.TXT", "NOTE.TXT"}));
        EXPECT_EQ(ReadBack(Root, "NOTE.TXT"), std::make_pair(true, Data));
    }
    ASSERT_TRUE(Root.CreateDirectory("SUB"));
    std::unique_ptr<TFloppyFile> File;
    EXPECT_FALSE(Root.CreateOrReplaceFile("sub", File));
    EXPECT_EQ(Listing(Root), (std::vector<std::string>{"KEEP.TXT", "NOTE.TXT", "SUB"}));
}
