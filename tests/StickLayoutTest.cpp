// The USB stick's layout: partition table, FAT16/FAT32 volume with the boot
// code, what is written and what not, the walk over a composed floppy, and
// writing through a disk handle with its read-back.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <regex>

#include "FloppyTestSupport.h"
#include "TestSupport.h"
#include "base/ByteOrder.h"
#include "fakes/FakePlatform.h"
#include "image/StickLayout.h"

using namespace floppy_test;
using namespace testing_support;
namespace fs = std::filesystem;

namespace {

constexpr uint64_t MiB = 1ull << 20, GiB = 1ull << 30;
constexpr uint16_t StampTime = 0x6DAF, StampDate = 0x32CF; // 2005-06-15 13:45:30

// Boot code of the contract's sizes in recognisable patterns; the BPB areas
// hold CC so that a test sees them filled.
struct TPlaceholderCode {
    std::vector<uint8_t> Mbr, Fat16, Fat32;
    TPlaceholderCode() : Mbr(440), Fat16(512), Fat32(1024) {
        for (size_t i = 0; i < Mbr.size(); ++i)
            Mbr[i] = uint8_t(0x30 + i % 7);
        for (size_t i = 0; i < Fat16.size(); ++i)
            Fat16[i] = uint8_t(0x40 + i % 11);
        for (size_t i = 0; i < Fat32.size(); ++i)
            Fat32[i] = uint8_t(0x60 + i % 13);
        std::fill(Fat16.begin() + 0x0B, Fat16.begin() + 0x3E, 0xCC);
        std::fill(Fat32.begin() + 0x0B, Fat32.begin() + 0x5A, 0xCC);
        const uint8_t Jump16[] = {0xEB, 0x3C, 0x90}, Jump32[] = {0xEB, 0x58, 0x90};
        std::copy(Jump16, Jump16 + 3, Fat16.begin());
        std::copy(Jump32, Jump32 + 3, Fat32.begin());
        for (auto* Signed : {&Fat16[510], &Fat32[510], &Fat32[1022]}) {
            Signed[0] = 0x55;
            Signed[1] = 0xAA;
        }
    }
    TStickBootCode Code() const { return {Mbr, Fat16, Fat32}; }
};

TStickFile Entry(std::string Path, bool Folder, uint8_t Attributes = 0,
                 std::vector<uint8_t> Data = {}) {
    TStickFile File;
    File.Path = std::move(Path);
    File.Folder = Folder;
    File.Attributes = Attributes;
    File.Time = StampTime;
    File.Date = StampDate;
    File.Data = std::move(Data);
    return File;
}

// A composed-like medium: Rx-DOS's files where the build has them, the
// wiper's tree with a large file, an empty one, a hidden system file and a
// folder whose directory spans several small clusters.
std::vector<TStickFile> MediumFiles() {
    std::vector<TStickFile> Files;
#ifdef PURGEX_CONTAINERS_DIR
    auto Floppy = std::make_unique<TVirtualFloppy>();
    const auto Image = ReadFileBytes(fs::path(PURGEX_CONTAINERS_DIR) / "rxdos" / "BOOT.IMG");
    std::copy(Image.begin(), Image.end(), Floppy->Image.begin());
    Files = FloppyFiles(*Floppy);
#else
    Files.push_back(Entry("RXDOSBIO.SYS", false, 0x07, RandomBytes(612, 1)));
#endif
    Files.push_back(Entry("AUTOEXEC.BAT", false, 0x20,
                          {'@', 'e', 'c', 'h', 'o', ' ', 'o', 'f', 'f', '\r', '\n'}));
    Files.push_back(Entry("PURGIT", true, 0x10));
    Files.push_back(Entry("PURGIT\\PURGIT.EXE", false, 0x20, RandomBytes(1300000, 2)));
    Files.push_back(Entry("PURGIT\\EMPTY.LOG", false, 0x20));
    Files.push_back(Entry("PURGIT\\DATA", true, 0x10));
    Files.push_back(Entry("PURGIT\\DATA\\PURGIT.INI", false, 0x20, RandomBytes(68, 3)));
    Files.push_back(Entry("PURGIT\\HIDDEN.SYS", false, 0x07, RandomBytes(1000, 4)));
    Files.push_back(Entry("PURGIT\\MANY", true, 0x10));
    for (int i = 0; i < 40; ++i)
        Files.push_back(Entry("PURGIT\\MANY\\F" + std::to_string(i) + ".TXT", false, 0x20,
                              RandomBytes(size_t(i * 37), uint32_t(10 + i))));
    return Files;
}

// The disk's bytes at Offset as the layout leaves them on a zeroed disk.
std::vector<uint8_t> DiskBytes(const TStickLayout& Layout, uint64_t Offset, size_t Size) {
    std::vector<uint8_t> Bytes(Size, 0);
    for (const auto& Extent : Layout.Extents) {
        const uint64_t Start = std::max(Offset, Extent.Offset);
        const uint64_t End = std::min(Offset + Size, Extent.Offset + Extent.Bytes.size());
        for (uint64_t At = Start; At < End; ++At)
            Bytes[At - Offset] = Extent.Bytes[At - Extent.Offset];
    }
    return Bytes;
}

TStickLayout MakeLayout(uint64_t Size, const std::vector<TStickFile>& Files,
                        const TPlaceholderCode& Code) {
    std::string Problem;
    auto Layout = LayOutStick(Size, Files, Code.Code(), 0x1234ABCD, 0xCAFE0042, Problem);
    EXPECT_TRUE(Layout) << Size << ": " << Problem;
    return Layout ? std::move(*Layout) : TStickLayout{};
}

// The partition's volume as the boot sector describes it.
struct TReadVolume {
    uint64_t Start = 0, Sectors = 0; // partition, in sectors
    uint32_t Spc = 0, Reserved = 0, FatSectors = 0, RootSectors = 0, DataSector = 0, Clusters = 0;
    bool Fat32 = false;
    explicit TReadVolume(const TStickLayout& Layout) {
        const auto Mbr = DiskBytes(Layout, 0, 512);
        Start = GetLE32(&Mbr[446 + 8]);
        Sectors = GetLE32(&Mbr[446 + 12]);
        const auto Boot = DiskBytes(Layout, Start * 512, 512);
        Spc = Boot[0x0D];
        Reserved = GetLE16(&Boot[0x0E]);
        Fat32 = GetLE16(&Boot[0x16]) == 0;
        FatSectors = Fat32 ? GetLE32(&Boot[0x24]) : GetLE16(&Boot[0x16]);
        RootSectors = GetLE16(&Boot[0x11]) * 32 / 512;
        const uint32_t Total = GetLE16(&Boot[0x13]) ? GetLE16(&Boot[0x13]) : GetLE32(&Boot[0x20]);
        DataSector = Reserved + 2 * FatSectors + RootSectors;
        Clusters = Spc ? (Total - DataSector) / Spc : 0;
    }
    uint32_t FatEntry(const std::vector<uint8_t>& Fat, uint32_t i) const {
        return Fat32 ? GetLE32(&Fat[4 * i]) & 0x0FFFFFFF : GetLE16(&Fat[2 * i]);
    }
};

} // namespace

TEST(StickLayout, TakesTheMinimumAndRefusesBelowIt) {
    const TPlaceholderCode Code;
    std::string Problem;
    EXPECT_FALSE(LayOutStick(MinStickBytes - 512, MediumFiles(), Code.Code(), 1, 2, Problem));
    EXPECT_NE(Problem.find("too small"), std::string::npos) << Problem;
    EXPECT_NE(Problem.find("8 MiB"), std::string::npos) << Problem;
    const auto Layout = MakeLayout(MinStickBytes, MediumFiles(), Code);
    EXPECT_FALSE(Layout.Fat32);
    EXPECT_EQ(TReadVolume(Layout).Sectors, MinStickBytes / 512 - 2048);
}

TEST(StickLayout, BootCodeKeepsItsBytesAndGetsTheBpb) {
    const TPlaceholderCode Code;
    for (uint64_t Size : {16 * MiB, 2 * GiB}) {
        SCOPED_TRACE(Size);
        const auto Layout = MakeLayout(Size, MediumFiles(), Code);
        const auto Mbr = DiskBytes(Layout, 0, 512);
        EXPECT_TRUE(std::equal(Code.Mbr.begin(), Code.Mbr.end(), Mbr.begin()));
        EXPECT_EQ(GetLE32(&Mbr[440]), 0x1234ABCDu);
        EXPECT_EQ(GetLE16(&Mbr[444]), 0);
        EXPECT_EQ(GetLE16(&Mbr[510]), 0xAA55);

        const bool Fat32 = Size >= 512 * MiB;
        ASSERT_EQ(Layout.Fat32, Fat32);
        const auto Sectors = DiskBytes(Layout, 2048 * 512, 9 * 512);
        const auto& Blob = Fat32 ? Code.Fat32 : Code.Fat16;
        const size_t CodeFrom = Fat32 ? 0x5A : 0x3E;
        EXPECT_TRUE(std::equal(Blob.begin(), Blob.begin() + 0x0B, Sectors.begin()));
        EXPECT_TRUE(
            std::equal(Blob.begin() + CodeFrom, Blob.begin() + 512, Sectors.begin() + CodeFrom));
        EXPECT_EQ(std::count(Sectors.begin() + 0x0B, Sectors.begin() + CodeFrom, 0xCC), 0);
        const uint8_t* Boot = Sectors.data();
        EXPECT_EQ(GetLE16(Boot + 0x0B), 512);
        EXPECT_EQ(Boot[0x10], 2);
        EXPECT_EQ(Boot[0x15], 0xF8);
        EXPECT_EQ(GetLE16(Boot + 0x18), 63);
        EXPECT_EQ(GetLE16(Boot + 0x1A), 255);
        EXPECT_EQ(GetLE32(Boot + 0x1C), 2048u);
        const uint8_t* Extended = Boot + (Fat32 ? 0x40 : 0x24);
        EXPECT_EQ(Extended[0], 0x80);
        EXPECT_EQ(Extended[2], 0x29);
        EXPECT_EQ(GetLE32(Extended + 3), 0xCAFE0042u);
        EXPECT_EQ(std::string(Extended + 7, Extended + 26),
                  Fat32 ? "PURGIT     FAT32   " : "PURGIT     FAT16   ");
        if (!Fat32) continue;
        EXPECT_EQ(GetLE16(Boot + 0x0E), 32);
        EXPECT_EQ(GetLE32(Boot + 0x2C), 2u);
        EXPECT_EQ(GetLE16(Boot + 0x30), 1);
        EXPECT_EQ(GetLE16(Boot + 0x32), 6);
        // The code sector at 2 and 8, the backups of boot sector and FSInfo at 6 and 7.
        for (size_t At : {size_t(2), size_t(8)})
            EXPECT_TRUE(
                std::equal(Code.Fat32.begin() + 512, Code.Fat32.end(), Sectors.begin() + At * 512));
        EXPECT_TRUE(std::equal(Sectors.begin(), Sectors.begin() + 1024, Sectors.begin() + 3072));
        EXPECT_EQ(GetLE32(&Sectors[512]), 0x41615252u);
        EXPECT_EQ(GetLE32(&Sectors[512 + 0x1E4]), 0x61417272u);
    }
}

TEST(StickLayout, PartitionAndFatTypeFollowTheSize) {
    const TPlaceholderCode Code;
    const auto Files = MediumFiles();
    struct TCase {
        uint64_t Size;
        uint8_t Type;
        std::array<uint8_t, 3> EndChs;
    };
    // 255 heads, 63 sectors: 16 MiB ends at LBA 32767 = C 2 H 10 S 8.
    const TCase Cases[] = {{16 * MiB, 0x0E, {10, 8, 2}},
                           {511 * MiB, 0x0E, {0, 0, 0}},
                           {512 * MiB, 0x0C, {0, 0, 0}},
                           {16 * GiB, 0x0C, {254, 0xFF, 0xFF}}};
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Size);
        const auto Layout = MakeLayout(Case.Size, Files, Code);
        const auto Mbr = DiskBytes(Layout, 0, 512);
        const uint8_t* Entry = &Mbr[446];
        EXPECT_EQ(Entry[0], 0x80);
        EXPECT_EQ(Entry[1], 32); // LBA 2048: H 32 S 33 C 0
        EXPECT_EQ(Entry[2], 33);
        EXPECT_EQ(Entry[3], 0);
        EXPECT_EQ(Entry[4], Case.Type);
        if (Case.EndChs[1]) {
            EXPECT_TRUE(std::equal(Case.EndChs.begin(), Case.EndChs.end(), Entry + 5));
        }
        EXPECT_EQ(GetLE32(Entry + 8), 2048u);
        EXPECT_EQ(GetLE32(Entry + 12), Case.Size / 512 - 2048);
        EXPECT_TRUE(std::all_of(&Mbr[462], &Mbr[510], [](uint8_t b) { return b == 0; }));
        const TReadVolume Volume(Layout);
        EXPECT_EQ(Volume.Fat32, Case.Type == 0x0C);
        if (Volume.Fat32) {
            EXPECT_GE(Volume.Clusters, 65525u);
        } else {
            EXPECT_TRUE(Volume.Clusters >= 4085 && Volume.Clusters <= 65524) << Volume.Clusters;
        }
    }
}

// Only the MBR with the stale-table area behind it, the reserved sectors, FATs and
// root, the clusters in use, and the disk's last 33 sectors.
TEST(StickLayout, WritesOnlyWhatTheFileSystemNeeds) {
    const TPlaceholderCode Code;
    const auto Files = MediumFiles();
    for (uint64_t Size : {MinStickBytes, 511 * MiB, 512 * MiB, 16 * GiB, 3 * 1024 * GiB}) {
        SCOPED_TRACE(Size);
        const auto Layout = MakeLayout(Size, Files, Code);
        const TReadVolume Volume(Layout);
        const auto Fat = DiskBytes(Layout, (Volume.Start + Volume.Reserved) * 512,
                                   size_t(Volume.FatSectors) * 512);
        const auto Fat2 =
            DiskBytes(Layout, (Volume.Start + Volume.Reserved + Volume.FatSectors) * 512,
                      size_t(Volume.FatSectors) * 512);
        EXPECT_EQ(Fat, Fat2);
        uint32_t LastUsed = 1, Used = 0;
        for (uint32_t c = 2; c < Volume.Clusters + 2; ++c)
            if (Volume.FatEntry(Fat, c)) LastUsed = c, ++Used;
        EXPECT_EQ(LastUsed - 1, Used) << "clusters in use are contiguous from 2";
        const uint64_t VolumeStart = Volume.Start * 512;
        const uint64_t UsedEnd =
            VolumeStart + (uint64_t(Volume.DataSector) + uint64_t(LastUsed - 1) * Volume.Spc) * 512;
        const uint64_t TailStart = (Size / 512 - 33) * 512;
        uint64_t Previous = 0;
        for (size_t i = 0; i < Layout.Extents.size(); ++i) {
            const auto& Extent = Layout.Extents[i];
            const uint64_t End = Extent.Offset + Extent.Bytes.size();
            EXPECT_TRUE(Extent.Offset % 512 == 0 && End % 512 == 0) << Extent.Offset;
            if (i) {
                EXPECT_GT(Extent.Offset, Previous) << "ascending, apart and merged";
            }
            Previous = End;
            const bool Inside = End <= 128 * 512 ||
                                (Extent.Offset >= VolumeStart && End <= UsedEnd) ||
                                Extent.Offset >= TailStart;
            EXPECT_TRUE(Inside) << Extent.Offset << "+" << Extent.Bytes.size();
        }
        // The metadata is written whole: both FATs up to their last sector.
        ASSERT_GE(Layout.Extents.size(), 2u);
        EXPECT_EQ(Layout.Extents[1].Offset, VolumeStart);
        EXPECT_GE(Layout.Extents[1].Bytes.size(), uint64_t(Volume.DataSector) * 512);
        EXPECT_EQ(Layout.Extents.back().Offset + Layout.Extents.back().Bytes.size(),
                  Size / 512 * 512);
        EXPECT_EQ(Layout.Extents.front().Bytes.size(), 128u * 512);
        if (Volume.Fat32) {
            const auto Info = DiskBytes(Layout, VolumeStart + 512, 512);
            EXPECT_EQ(GetLE32(&Info[0x1E8]), Volume.Clusters - Used);
            EXPECT_EQ(GetLE32(&Info[0x1EC]), LastUsed + 1);
        }
    }
}

TEST(StickLayout, LargeSticksWriteLittle) {
    const TPlaceholderCode Code;
    const auto Files = MediumFiles();
    const auto Stick16 = MakeLayout(16 * GiB, Files, Code);
    EXPECT_LT(Stick16.BytesWritten(), 8 * MiB);
    EXPECT_EQ(TReadVolume(Stick16).Spc, 64u);

    // Beyond 32 GiB the partition ends with its 32 GiB volume, and what is
    // written stays small.
    const uint64_t Huge = 3 * 1024 * GiB;
    const auto Layout = MakeLayout(Huge, Files, Code);
    const TReadVolume Volume(Layout);
    EXPECT_EQ(Volume.Sectors, 32 * GiB / 512);
    const auto Mbr = DiskBytes(Layout, 0, 512);
    EXPECT_EQ(Mbr[446 + 5], 254);
    EXPECT_EQ(Mbr[446 + 6], 0xFF);
    EXPECT_EQ(Mbr[446 + 7], 0xFF);
    EXPECT_LT(Layout.BytesWritten(), 12 * MiB);
    EXPECT_EQ(Layout.Extents.back().Offset, Huge - 33 * 512);
}

// A file running into the disk's last 33 sectors keeps its bytes there
// (they are cleared for an old GPT only where nothing else goes).
TEST(StickLayout, AFullVolumeKeepsItsDataAtTheDisksEnd) {
    const TPlaceholderCode Code;
    const TReadVolume Empty(MakeLayout(MinStickBytes, {}, Code));
    ASSERT_EQ(Empty.Spc, 1u);
    const auto Data = RandomBytes(size_t(Empty.Clusters) * 512, 5);
    const auto Layout = MakeLayout(MinStickBytes, {Entry("FULL.BIN", false, 0, Data)}, Code);
    const uint64_t Start = (Empty.Start + Empty.DataSector) * 512;
    EXPECT_EQ(Start + Data.size(), MinStickBytes);
    EXPECT_TRUE(DiskBytes(Layout, Start, Data.size()) == Data);
    for (size_t i = 1; i < Layout.Extents.size(); ++i)
        EXPECT_GT(Layout.Extents[i].Offset,
                  Layout.Extents[i - 1].Offset + Layout.Extents[i - 1].Bytes.size());

    std::string Problem;
    auto More = Data;
    More.push_back(1);
    EXPECT_FALSE(LayOutStick(MinStickBytes, {Entry("FULL.BIN", false, 0, More)}, Code.Code(), 1, 2,
                             Problem));
    EXPECT_NE(Problem.find("the stick's volume holds " + std::to_string(Empty.Clusters)),
              std::string::npos)
        << Problem;
}

TEST(StickLayout, RefusesWhatCannotBeLaidOut) {
    const TPlaceholderCode Code;
    auto Refused = [&](std::vector<TStickFile> Files, const std::string& Expected,
                       uint64_t Size = 16 * MiB, TStickBootCode Boot = {}) {
        std::string Problem;
        if (Boot.Mbr.empty()) Boot = Code.Code();
        EXPECT_FALSE(LayOutStick(Size, Files, Boot, 1, 2, Problem)) << Expected;
        EXPECT_NE(Problem.find(Expected), std::string::npos) << Problem;
    };
    Refused({Entry("TOOLONGNAME.TXT", false)}, "no 8.3 name");
    Refused({Entry("A.TEXT", false)}, "no 8.3 name");
    Refused({Entry("A*B", false)}, "no 8.3 name");
    Refused({Entry("DIR\\", false)}, "no 8.3 name");
    Refused({Entry("DIR\\A.TXT", false)}, "does not come before it");
    Refused({Entry("A.TXT", false), Entry("DIR", true), Entry("A.TXT\\B", false)},
            "does not come before it");
    Refused({Entry("a.txt", false), Entry("A.TXT", false)}, "appears twice");
    Refused({Entry("LABEL", false, 0x08)}, "volume label");
    Refused({Entry("BIG.BIN", false, 0, std::vector<uint8_t>(20 * MiB))},
            "the stick's volume holds");
    std::vector<TStickFile> Crowd;
    for (int i = 0; i < 512; ++i)
        Crowd.push_back(Entry("F" + std::to_string(i), false));
    Refused(Crowd, "FAT16 takes 512");
    // A FAT32 root grows instead.
    std::string Problem;
    EXPECT_TRUE(LayOutStick(GiB, Crowd, Code.Code(), 1, 2, Problem)) << Problem;
    Crowd.pop_back();
    EXPECT_TRUE(LayOutStick(16 * MiB, Crowd, Code.Code(), 1, 2, Problem)) << Problem;

    TStickBootCode Short = Code.Code();
    Short.Fat32 = Short.Fat32.first(512);
    Refused({}, "wrong size", 16 * MiB, Short);
    auto Unsigned = Code;
    Unsigned.Fat32[1023] = 0;
    Refused({}, "55 AA", 16 * MiB, Unsigned.Code());
}

// The partition and volume checked by tools nobody here wrote.
TEST(StickLayoutTools, ToolsAcceptTheStickAndReadEveryFileBack) {
    REQUIRE_HOST_TOOLS();
    const TPlaceholderCode Code;
    const auto Files = MediumFiles();
    for (uint64_t Size :
         {MinStickBytes, 16 * MiB, 511 * MiB, 512 * MiB, 2 * GiB, 16 * GiB, 3 * 1024 * GiB}) {
        SCOPED_TRACE(Size);
        const auto Layout = MakeLayout(Size, Files, Code);
        TScratchDir Scratch;
        const fs::path Disk = Scratch / "stick.img", Part = Scratch / "part.img";
        const uint64_t PartStart = 2048 * 512;
        const uint64_t PartBytes = TReadVolume(Layout).Sectors * 512;
        {
            std::ofstream(Disk, std::ios::binary).close();
            std::ofstream(Part, std::ios::binary).close();
            fs::resize_file(Disk, Size);
            fs::resize_file(Part, PartBytes);
            std::fstream Out(Disk, std::ios::binary | std::ios::in | std::ios::out);
            std::fstream OutPart(Part, std::ios::binary | std::ios::in | std::ios::out);
            for (const auto& Extent : Layout.Extents) {
                Out.seekp(std::streamoff(Extent.Offset));
                Out.write(reinterpret_cast<const char*>(Extent.Bytes.data()),
                          std::streamsize(Extent.Bytes.size()));
                if (Extent.Offset < PartStart || Extent.Offset >= PartStart + PartBytes) continue;
                const auto Length =
                    std::min<uint64_t>(Extent.Bytes.size(), PartStart + PartBytes - Extent.Offset);
                OutPart.seekp(std::streamoff(Extent.Offset - PartStart));
                OutPart.write(reinterpret_cast<const char*>(Extent.Bytes.data()),
                              std::streamsize(Length));
            }
            ASSERT_TRUE(Out.good() && OutPart.good());
        }
        const std::string DiskArg = ShellQuote(Disk.string());

        const auto Table = RunCommand("sfdisk -d " + DiskArg);
        EXPECT_EQ(Table.ExitCode, 0) << Table.Output;
        EXPECT_NE(Table.Output.find("label: dos"), std::string::npos) << Table.Output;
        EXPECT_NE(Table.Output.find("label-id: 0x1234abcd"), std::string::npos) << Table.Output;
        const std::regex Line("start=\\s*2048, size=\\s*" + std::to_string(PartBytes / 512) +
                              ", type=" + (Layout.Fat32 ? "c" : "e") + ", bootable");
        EXPECT_TRUE(std::regex_search(Table.Output, Line)) << Table.Output;

        const auto Check = RunCommand("fsck.fat -n " + ShellQuote(Part.string()));
        EXPECT_EQ(Check.ExitCode, 0) << Check.Output;
        EXPECT_EQ(Check.Output.find("Free cluster"), std::string::npos) << Check.Output;

        const auto Kind = RunCommand("file -s " + ShellQuote(Part.string()));
        EXPECT_NE(Kind.Output.find(Layout.Fat32 ? "FAT (32 bit)" : "FAT (16 bit)"),
                  std::string::npos)
            << Kind.Output;
        const std::string Image = ShellQuote(Disk.string() + "@@1M");
        const auto Info = RunCommand("minfo -i " + Image + " ::");
        EXPECT_EQ(Info.ExitCode, 0) << Info.Output;
        EXPECT_NE(
            Info.Output.find(Layout.Fat32 ? "disk type=\"FAT32   \"" : "disk type=\"FAT16   \""),
            std::string::npos)
            << Info.Output;

        const auto Listing = RunCommand("mdir -i " + Image + " ::/PURGIT");
        EXPECT_NE(Listing.Output.find("Volume in drive : is PURGIT"), std::string::npos)
            << Listing.Output;
        EXPECT_NE(Listing.Output.find("2005-06-15  13:45"), std::string::npos) << Listing.Output;
        const auto Attributes = RunCommand("mattrib -i " + Image + " ::/PURGIT/HIDDEN.SYS");
        EXPECT_NE(Attributes.Output.find("SHR"), std::string::npos) << Attributes.Output;

        const fs::path Back = Scratch / "back";
        fs::create_directory(Back);
        const auto Copy =
            RunCommand("mcopy -s -n -i " + Image + " '::*' " + ShellQuote(Back.string() + "/"));
        EXPECT_EQ(Copy.ExitCode, 0) << Copy.Output;
        for (const auto& File : Files) {
            std::string Path = File.Path;
            std::replace(Path.begin(), Path.end(), '\\', '/');
            const fs::path Local = Back / Path;
            if (File.Folder) {
                EXPECT_TRUE(fs::is_directory(Local)) << Path;
                continue;
            }
            ASSERT_TRUE(fs::is_regular_file(Local)) << Path;
            EXPECT_TRUE(ReadFileBytes(Local) == File.Data) << Path;
        }
    }
}

TEST(FloppyFiles, WalksFoldersParentsFirstInDirectoryOrder) {
    auto Floppy = FreshFloppy();
    {
        TFloppyDirectory Root(*Floppy);
        ASSERT_TRUE(Root.CreateVolumeLabel("SOMEDISK"));
        ASSERT_EQ(AddFile(Root, "FIRST.SYS", RandomBytes(700, 1)), 700);
        ASSERT_EQ(AddFile(Root, "GONE.TXT", RandomBytes(10, 2)), 10);
        ASSERT_TRUE(Root.CreateDirectory("OUTER"));
        ASSERT_EQ(AddFile(Root, "LAST.BAT", {}), 0);
        ASSERT_TRUE(Root.ChangeDirectory("OUTER"));
        ASSERT_TRUE(Root.CreateDirectory("INNER"));
        ASSERT_EQ(AddFile(Root, "MID.DAT", RandomBytes(3000, 3)), 3000);
        ASSERT_TRUE(Root.ChangeDirectory("INNER"));
        ASSERT_EQ(AddFile(Root, "DEEP.INI", RandomBytes(20, 4)), 20);
    }
    // GONE.TXT deleted; a long-name piece in front of LAST.BAT's slot.
    RootEntry(*Floppy, 2)[0] = 0xE5;
    uint8_t* Last = RootEntry(*Floppy, 4);
    std::vector<uint8_t> Saved(Last, Last + 32);
    std::copy(Saved.begin(), Saved.end(), RootEntry(*Floppy, 5));
    std::fill(Last, Last + 32, 0x41);
    Last[11] = 0x0F;
    RootEntry(*Floppy, 1)[11] = 0x27; // hidden, system, read-only, archive

    const auto Files = FloppyFiles(*Floppy);
    std::vector<std::string> Paths;
    for (const auto& File : Files)
        Paths.push_back(File.Path + (File.Folder ? "\\" : ""));
    EXPECT_EQ(Paths,
              (std::vector<std::string>{"FIRST.SYS", "OUTER\\", "OUTER\\INNER\\",
                                        "OUTER\\INNER\\DEEP.INI", "OUTER\\MID.DAT", "LAST.BAT"}));
    ASSERT_EQ(Files.size(), 6u);
    EXPECT_EQ(Files[0].Data, RandomBytes(700, 1));
    EXPECT_EQ(Files[0].Attributes, 0x27);
    EXPECT_EQ(Files[0].Date, GetLE16(RootEntry(*Floppy, 1) + 24));
    EXPECT_EQ(Files[0].Time, GetLE16(RootEntry(*Floppy, 1) + 22));
    EXPECT_EQ(Files[1].Attributes & 0x10, 0x10);
    EXPECT_EQ(Files[3].Data, RandomBytes(20, 4));
    EXPECT_EQ(Files[4].Data, RandomBytes(3000, 3));
    EXPECT_TRUE(Files[5].Data.empty());

    // A folder entry that leads back to the root is not walked again.
    RootEntry(*Floppy, 3)[26] = 0;
    RootEntry(*Floppy, 3)[27] = 0;
    EXPECT_EQ(FloppyFiles(*Floppy).size(), 3u);
}

// --- writing through a disk handle ----------------------------------------

namespace {

class TErrorPlatform : public TFakePlatform {
public:
    void Fail(uint32_t Code) { LastErrorCode = Code; }
};

// A disk in memory that can fail the n-th write, turn one byte on reading,
// or fail flushing; it records what was asked of it.
class TMemoryDisk : public TDiskHandle {
public:
    TMemoryDisk(TErrorPlatform& Fake, uint64_t Size) : Image(Size, 0xEE), Fake(Fake) {}
    std::vector<uint8_t> Image;
    int FailWrite = -1; // index of the write that fails
    int64_t FlipOnRead = -1;
    bool FailFlush = false;
    int Writes = 0, Reads = 0, Flushes = 0, Refreshes = 0;
    uint64_t Bytes() const override { return Image.size(); }
    bool WriteAt(uint64_t Offset, std::span<const uint8_t> Data) override {
        if (Writes++ == FailWrite) {
            Fake.Fail(5);
            return false;
        }
        std::copy(Data.begin(), Data.end(), Image.begin() + int64_t(Offset));
        return true;
    }
    bool ReadAt(uint64_t Offset, std::span<uint8_t> Data) override {
        ++Reads;
        std::copy_n(Image.begin() + int64_t(Offset), Data.size(), Data.begin());
        if (FlipOnRead >= int64_t(Offset) && FlipOnRead < int64_t(Offset + Data.size()))
            Data[size_t(FlipOnRead - int64_t(Offset))] ^= 0x01;
        return true;
    }
    bool Flush() override {
        ++Flushes;
        if (FailFlush) Fake.Fail(21);
        return !FailFlush;
    }
    bool Refresh() override {
        ++Refreshes;
        return true;
    }

private:
    TErrorPlatform& Fake;
};

} // namespace

TEST(WriteStickLayout, WritesVerifiesAndReportsProgress) {
    TErrorPlatform Fake;
    const TPlaceholderCode Code;
    const auto Layout = MakeLayout(16 * MiB, MediumFiles(), Code);
    TMemoryDisk Disk(Fake, 16 * MiB);
    std::vector<double> Steps;
    std::string Problem;
    ASSERT_TRUE(WriteStickLayout(
        Disk, Layout, true, [&](double f) { Steps.push_back(f); }, Problem))
        << Problem;
    EXPECT_EQ(Disk.Flushes, 1);
    EXPECT_EQ(Disk.Refreshes, 1);
    EXPECT_GT(Disk.Reads, 0);
    for (const auto& Extent : Layout.Extents)
        EXPECT_TRUE(std::equal(Extent.Bytes.begin(), Extent.Bytes.end(),
                               Disk.Image.begin() + int64_t(Extent.Offset)));
    // Untouched bytes stay as they were: between the cleared tables and the
    // partition.
    EXPECT_EQ(Disk.Image[128 * 512], 0xEE);
    EXPECT_EQ(Disk.Image[2048 * 512 - 1], 0xEE);
    ASSERT_GE(Steps.size(), 3u);
    EXPECT_EQ(Steps.front(), 0.0);
    EXPECT_EQ(Steps.back(), 1.0);
    EXPECT_TRUE(std::is_sorted(Steps.begin(), Steps.end()));
    // Half way after the writes: the read-back is the other half.
    EXPECT_TRUE(std::find(Steps.begin(), Steps.end(), 0.5) != Steps.end());
}

TEST(WriteStickLayout, StopsAtTheFirstFault) {
    TErrorPlatform Fake;
    const TPlaceholderCode Code;
    const auto Layout = MakeLayout(16 * MiB, MediumFiles(), Code);
    ASSERT_GE(Layout.Extents.size(), 3u);
    std::string Problem;

    // A byte that reads back differently, named by its offset.
    {
        TMemoryDisk Disk(Fake, 16 * MiB);
        const uint64_t Wrong = Layout.Extents[1].Offset + 777;
        Disk.FlipOnRead = int64_t(Wrong);
        EXPECT_FALSE(WriteStickLayout(Disk, Layout, true, {}, Problem));
        EXPECT_EQ(Problem,
                  "The stick reads back differently at byte " + std::to_string(Wrong) + ".");
    }
    // Without verifying nothing is read (and the flipped byte goes unseen).
    {
        TMemoryDisk Disk(Fake, 16 * MiB);
        Disk.FlipOnRead = int64_t(Layout.Extents[1].Offset);
        EXPECT_TRUE(WriteStickLayout(Disk, Layout, false, {}, Problem)) << Problem;
        EXPECT_EQ(Disk.Reads, 0);
        EXPECT_EQ(Disk.Flushes, 1);
    }
    // A failed write: its offset and the system's reason, nothing after it.
    {
        TMemoryDisk Disk(Fake, 16 * MiB);
        Disk.FailWrite = 1;
        double Last = -1;
        EXPECT_FALSE(WriteStickLayout(
            Disk, Layout, true, [&](double f) { Last = f; }, Problem));
        EXPECT_EQ(Problem, "writing the stick at byte " + std::to_string(Layout.Extents[1].Offset) +
                               ": " + Fake.ErrorText(5));
        EXPECT_EQ(Disk.Writes, 2);
        EXPECT_EQ(Disk.Reads + Disk.Flushes + Disk.Refreshes, 0);
        EXPECT_LT(Last, 0.5);
        for (size_t i = 1; i < Layout.Extents.size(); ++i)
            EXPECT_EQ(Disk.Image[Layout.Extents[i].Offset], 0xEE);
    }
    // A failed flush ends it before the read-back.
    {
        TMemoryDisk Disk(Fake, 16 * MiB);
        Disk.FailFlush = true;
        EXPECT_FALSE(WriteStickLayout(Disk, Layout, true, {}, Problem));
        EXPECT_EQ(Problem, "flushing the stick: " + Fake.ErrorText(21));
        EXPECT_EQ(Disk.Reads, 0);
    }
    // A disk smaller than the layout is not written at all.
    {
        TMemoryDisk Disk(Fake, 8 * MiB);
        EXPECT_FALSE(WriteStickLayout(Disk, Layout, true, {}, Problem));
        EXPECT_EQ(Disk.Writes, 0);
    }
}
