// Images made by the floppy classes and by mkfloppy, judged by dosfstools
// (fsck.fat) and mtools (mdir, mtype, mcopy).

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "FloppyTestSupport.h"
#include "TestSupport.h"

using namespace floppy_test;
using namespace testing_support;
namespace fs = std::filesystem;

namespace {

const std::string MTools = "MTOOLS_SKIP_CHECK=1 MTOOLS_NO_VFAT=1 ";

// Creates Path ("A\B\NAME.EXT") the way the composer does: enter each folder,
// creating it where it is missing. Returns the bytes stored.
int32_t AddPath(TVirtualFloppy& Floppy, const std::string& Path, const std::vector<uint8_t>& Data) {
    TFloppyDirectory Directory(Floppy);
    size_t Start = 0;
    for (size_t Slash; (Slash = Path.find('\\', Start)) != std::string::npos; Start = Slash + 1) {
        const std::string Folder = Path.substr(Start, Slash - Start);
        if (!Directory.ChangeDirectory(Folder)) {
            EXPECT_TRUE(Directory.CreateDirectory(Folder)) << Path;
            EXPECT_TRUE(Directory.ChangeDirectory(Folder)) << Path;
        }
    }
    return AddFile(Directory, Path.substr(Start), Data);
}

std::string MtoolsPath(std::string Path) {
    for (char& c : Path)
        if (c == '\\') c = '/';
    return "::/" + Path;
}

// mdir's recursive bare listing: every file and folder ("::/A/" for folders).
std::set<std::string> MdirTree(const fs::path& Image) {
    const auto Result = RunCommand(MTools + "mdir -i " + ShellQuote(Image.string()) + " -/ -b ::");
    EXPECT_EQ(Result.ExitCode, 0) << Result.Output;
    std::set<std::string> Lines;
    size_t Start = 0;
    for (size_t End; (End = Result.Output.find('\n', Start)) != std::string::npos; Start = End + 1)
        if (End > Start) Lines.insert(Result.Output.substr(Start, End - Start));
    return Lines;
}

void ExpectCleanFsck(const fs::path& Image) {
    const auto Result = RunCommand("fsck.fat -n " + ShellQuote(Image.string()));
    EXPECT_EQ(Result.ExitCode, 0) << Result.Output;
}

void WriteImage(const TVirtualFloppy& Floppy, const fs::path& Path) {
    WriteFileBytes(Path, std::vector<uint8_t>(Floppy.Image.begin(), Floppy.Image.end()));
}

TCommandResult Mkfloppy(const std::string& Arguments, const std::string& Environment = "") {
#ifdef PURGEX_MKFLOPPY
    return RunCommand(Environment + " " + ShellQuote(PURGEX_MKFLOPPY) + " " + Arguments);
#else
    (void)Arguments;
    (void)Environment;
    return {};
#endif
}

} // namespace

TEST(FloppyHostCheck, GeneratedTreePassesFsckAndMtoolsReadsEveryFileBack) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Scratch;
    auto Floppy = FreshFloppy();
    {
        TFloppyDirectory Root(*Floppy);
        ASSERT_TRUE(Root.CreateVolumeLabel("TREE TEST"));
        const char Label[] = "TREE TEST  "; // the BPB's copy, as FORMAT writes both
        std::copy(Label, Label + 11, SectorOf(*Floppy, 0) + 43);
    }

    const int32_t Sizes[] = {0, 1, 511, 512, 513, 1000, 1024, 1025, 4096, 7777};
    std::map<std::string, std::vector<uint8_t>> Files;
    std::set<std::string> Folders;
    uint32_t Seed = 100;
    const auto Add = [&](const std::string& Path, int32_t Size) {
        auto Data = RandomBytes(size_t(Size), ++Seed);
        ASSERT_EQ(AddPath(*Floppy, Path, Data), Size) << Path;
        Files[Path] = std::move(Data);
    };
    for (int i = 0; i < 10; ++i)
        Add("ROOT" + std::to_string(i) + ".BIN", Sizes[i]);
    for (int d = 0; d < 6; ++d) {
        const std::string Dir = "DIR" + std::to_string(d);
        Folders.insert(Dir);
        for (int s = 0; s < 3; ++s) {
            const std::string Sub = Dir + "\\SUB" + std::to_string(s);
            Folders.insert(Sub);
            for (int f = 0; f < 4; ++f)
                Add(Sub + "\\F" + std::to_string(f) + ".DAT", Sizes[(d + s + f) % 10]);
        }
        Add(Dir + "\\README.TXT", Sizes[d]);
    }
    // A folder of 40 files spans three directory clusters.
    Folders.insert("MANY");
    for (int f = 0; f < 40; ++f)
        Add("MANY\\FILE" + std::to_string(f) + ".TXT", Sizes[f % 10]);
    {
        TFloppyDirectory Directory(*Floppy);
        ASSERT_TRUE(Directory.CreateDirectory("EMPTY"));
        Folders.insert("EMPTY");
    }

    // The last file takes the rest of the disk and a little more than fits.
    {
        TFloppyDirectory Directory(*Floppy);
        ASSERT_TRUE(Directory.ChangeDirectory("DIR1"));
        ASSERT_TRUE(Directory.ChangeDirectory("SUB1"));
        std::unique_ptr<TFloppyFile> File;
        ASSERT_TRUE(Directory.CreateFile("FILL.BIN", File));
        const int32_t Room = FreeClusters(*Floppy) * 512;
        ASSERT_GT(Room, 1000000);
        auto Data = RandomBytes(size_t(Room + 700), 99);
        EXPECT_EQ(File->Write(Data.data(), int32_t(Data.size())), Room);
        Data.resize(size_t(Room));
        Files["DIR1\\SUB1\\FILL.BIN"] = std::move(Data);
        EXPECT_EQ(FreeClusters(*Floppy), 0);
    }

    const fs::path Image = Scratch / "tree.img";
    WriteImage(*Floppy, Image);
    ExpectCleanFsck(Image);

    std::set<std::string> Expected;
    for (const auto& Folder : Folders)
        Expected.insert(MtoolsPath(Folder) + "/");
    for (const auto& [Path, Data] : Files)
        Expected.insert(MtoolsPath(Path));
    EXPECT_EQ(MdirTree(Image), Expected);

    const fs::path Out = Scratch / "out";
    fs::create_directory(Out);
    const auto Copy = RunCommand(MTools + "mcopy -s -i " + ShellQuote(Image.string()) + " '::*' " +
                                 ShellQuote(Out.string() + "/"));
    ASSERT_EQ(Copy.ExitCode, 0) << Copy.Output;
    for (const auto& [Path, Data] : Files) {
        std::string Host = Path;
        for (char& c : Host)
            if (c == '\\') c = '/';
        EXPECT_EQ(ReadFileBytes(Out / Host), Data) << Path;
    }
    EXPECT_TRUE(fs::is_empty(Out / "EMPTY"));

    const auto Typed = RunCommand(MTools + "mtype -i " + ShellQuote(Image.string()) + " " +
                                  MtoolsPath("DIR2\\README.TXT"));
    EXPECT_EQ(Typed.Output,
              std::string(Files["DIR2\\README.TXT"].begin(), Files["DIR2\\README.TXT"].end()));
    const auto Label = RunCommand(MTools + "mlabel -s -i " + ShellQuote(Image.string()) + " ::");
    EXPECT_NE(Label.Output.find("TREE TEST"), std::string::npos) << Label.Output;
}

TEST(FloppyHostCheck, ReusedSlotsAndExtendedFoldersStayConsistent) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Scratch;
    auto Floppy = FreshFloppy();
    // Delete the way DOS does: E5 in the entry, the chain freed.
    ASSERT_EQ(AddPath(*Floppy, "GONE.TXT", RandomBytes(2000, 1)), 2000);
    ASSERT_EQ(AddPath(*Floppy, "KEEP.TXT", RandomBytes(700, 2)), 700);
    RootEntry(*Floppy, 0)[0] = 0xE5;
    for (int32_t Cluster = 2; Cluster <= 5; ++Cluster)
        Floppy->SetFatEntry(Cluster, FatFree);
    const auto New = RandomBytes(3000, 3);
    ASSERT_EQ(AddPath(*Floppy, "NEW.TXT", New), 3000);
    EXPECT_EQ(EntryCluster(RootEntry(*Floppy, 0)), 2);
    // KEEP.TXT sits at clusters 6-7, so NEW.TXT runs 2-5 and then 8-9.
    EXPECT_EQ(Floppy->GetFatEntry(5), 8);

    const fs::path Image = Scratch / "reuse.img";
    WriteImage(*Floppy, Image);
    ExpectCleanFsck(Image);
    const auto Out = Scratch / "NEW.TXT";
    const auto Copy = RunCommand(MTools + "mcopy -i " + ShellQuote(Image.string()) +
                                 " ::/NEW.TXT " + ShellQuote(Out.string()));
    ASSERT_EQ(Copy.ExitCode, 0) << Copy.Output;
    EXPECT_EQ(ReadFileBytes(Out), New);
}

TEST(FloppyHostCheck, MkfloppyBuildsTheSameBytesTwiceAndMtoolsAgrees) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Scratch;
    WriteFileBytes(Scratch / "boot.bin", StandardBootSector());
    const auto System = RandomBytes(20000, 7);
    const auto Ini = std::string("[Options]\r\nMethod=1\r\n");
    WriteFileBytes(Scratch / "system.bin", System);
    WriteFileBytes(Scratch / "purgit.ini", Ini);
    WriteFileBytes(Scratch / "empty.txt", std::string());
    const std::string Arguments =
        "--boot " + ShellQuote((Scratch / "boot.bin").string()) + " --label dskpurgx " +
        ShellQuote("IO.SYS=" + (Scratch / "system.bin").string()) + " " +
        ShellQuote("Purgit\\DATA\\PURGIT.INI=" + (Scratch / "purgit.ini").string()) + " " +
        ShellQuote("purgit/empty.txt=" + (Scratch / "empty.txt").string()) + " " +
        ShellQuote("Purgit\\METHODS\\") + " " + ShellQuote("TEMP/");
    const std::string Epoch = "SOURCE_DATE_EPOCH=1133000000";
    const fs::path First = Scratch / "first.img", Second = Scratch / "second.img";
    auto Result =
        Mkfloppy(Arguments + " --output " + ShellQuote(First.string()), Epoch + " TZ=UTC");
    ASSERT_EQ(Result.ExitCode, 0) << Result.Output;
    Result = Mkfloppy(Arguments + " --output " + ShellQuote(Second.string()),
                      Epoch + " TZ=America/New_York");
    ASSERT_EQ(Result.ExitCode, 0) << Result.Output;
    const auto Bytes = ReadFileBytes(First);
    ASSERT_EQ(Bytes.size(), size_t(FloppyImageSize));
    EXPECT_EQ(ReadFileBytes(Second), Bytes);

    // The label comes first, then IO.SYS, contiguous from cluster 2.
    const uint8_t* Root = &Bytes[19 * 512];
    EXPECT_EQ(std::string(Root, Root + 12), "DSKPURGX   \x08");
    EXPECT_EQ(std::string(&Bytes[43], &Bytes[54]), "DSKPURGX   ");
    const uint8_t* Io = Root + 32;
    EXPECT_EQ(std::string(Io, Io + 11), "IO      SYS");
    EXPECT_EQ(EntryCluster(Io), 2);
    EXPECT_EQ(EntrySize(Io), 20000u);
    for (int32_t Cluster = 2; Cluster < 41; ++Cluster)
        EXPECT_EQ(GetFat12Entry(Cluster, &Bytes[512]), Cluster + 1);
    EXPECT_EQ(GetFat12Entry(41, &Bytes[512]), 0xFFF);
    EXPECT_TRUE(std::equal(System.begin(), System.end(), Bytes.begin() + 33 * 512));
    // 2005-11-26 10:13:20 UTC, whatever the time zone.
    EXPECT_EQ(GetLE16(Io + 24), 25 * 512 + 11 * 32 + 26);
    EXPECT_EQ(GetLE16(Io + 22), 10 * 2048 + 13 * 32 + 10);

    ExpectCleanFsck(First);
    EXPECT_EQ(MdirTree(First),
              (std::set<std::string>{"::/IO.SYS", "::/PURGIT/", "::/PURGIT/DATA/",
                                     "::/PURGIT/DATA/PURGIT.INI", "::/PURGIT/EMPTY.TXT",
                                     "::/PURGIT/METHODS/", "::/TEMP/"}));
    const auto Typed = RunCommand(MTools + "mtype -i " + ShellQuote(First.string()) +
                                  " ::/PURGIT/DATA/PURGIT.INI");
    EXPECT_EQ(Typed.Output, Ini);
}

TEST(FloppyHostCheck, MkfloppyFailuresLeaveNoImage) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Scratch;
    const auto Boot = ShellQuote((Scratch / "boot.bin").string());
    WriteFileBytes(Scratch / "boot.bin", StandardBootSector());
    auto Short = StandardBootSector();
    Short.resize(500);
    WriteFileBytes(Scratch / "short.bin", Short);
    auto Odd = StandardBootSector();
    PutLE16(&Odd[19], 5760); // a 2.88 MB BPB
    WriteFileBytes(Scratch / "odd.bin", Odd);
    WriteFileBytes(Scratch / "one.txt", std::string("1"));
    WriteFileBytes(Scratch / "huge.bin", RandomBytes(1500000, 5));
    const auto One = (Scratch / "one.txt").string();
    std::string RootFull;
    for (int i = 0; i < 224; ++i)
        RootFull += " F" + std::to_string(i) + "=" + ShellQuote(One);

    const fs::path Output = Scratch / "out.img";
    const auto Out = " --output " + ShellQuote(Output.string());
    struct {
        std::string Arguments;
        int ExitCode;
    } const Cases[] = {
        {"--boot " + Boot + Out + " A.TXT=" + ShellQuote((Scratch / "missing").string()), 1},
        {"--boot " + Boot + Out + " BIG.BIN=" + ShellQuote((Scratch / "huge.bin").string()), 1},
        {"--boot " + Boot + Out + RootFull, 1},
        {"--boot " + ShellQuote((Scratch / "short.bin").string()) + Out, 1},
        {"--boot " + ShellQuote((Scratch / "odd.bin").string()) + Out, 1},
        {"--boot " + Boot + Out + " A.TXT=" + ShellQuote(One) + " a.txt=" + ShellQuote(One), 1},
        {"--boot " + Boot + Out + " A.TXT=" + ShellQuote(One) + " " +
             ShellQuote("A.TXT\\B.TXT=" + One),
         1},
        {Out, 2},
        {"--boot " + Boot + Out + " LONGFILENAME.TXT=" + ShellQuote(One), 2},
        {"--boot " + Boot + Out + " 'A\\\\B.TXT='" + ShellQuote(One), 2},
        {"--boot " + Boot + Out + " NOTAFOLDER", 2},
        {"--boot " + Boot + Out + " --label TWELVECHARSX", 2},
        {"--boot " + Boot + Out + " --verbose", 2},
    };
    for (const auto& Case : Cases) {
        const auto Result = Mkfloppy(Case.Arguments);
        EXPECT_EQ(Result.ExitCode, Case.ExitCode) << Case.Arguments << "\n" << Result.Output;
        EXPECT_NE(Result.Output.find("mkfloppy: "), std::string::npos) << Case.Arguments;
        EXPECT_FALSE(fs::exists(Output)) << Case.Arguments;
        EXPECT_FALSE(fs::exists(Output.string() + ".tmp")) << Case.Arguments;
    }
    // 223 root files fit.
    std::string Fits;
    for (int i = 0; i < 223; ++i)
        Fits += " F" + std::to_string(i) + "=" + ShellQuote(One);
    EXPECT_EQ(Mkfloppy("--boot " + Boot + Out + Fits).ExitCode, 0);
    ExpectCleanFsck(Output);
}
