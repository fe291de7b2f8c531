// The Rx-DOS boot floppy: its FAT12 image judged by fsck.fat and mtools, and
// the system booted in QEMU from the floppy and from an El Torito CD. The test
// program INT21TST.EXE checks the INT 21h services from inside and reports
// through the debug-exit port (127 = every check passed).
#include <gtest/gtest.h>

#ifndef _WIN32

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "QemuSupport.h"
#include "QemuWiperSupport.h"
#include "TestSupport.h"
#include "base/ByteOrder.h"
#include "base/Stream.h"
#include "optical/ISO9660.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

#ifdef PURGEX_CONTAINERS_DIR
const fs::path RxDos = fs::path(PURGEX_CONTAINERS_DIR) / "rxdos";
const fs::path Purgit = fs::path(PURGEX_CONTAINERS_DIR) / "purgit" / "Purgit";
#else
const fs::path RxDos;
const fs::path Purgit;
#endif

constexpr size_t FloppyBytes = 1474560;

void RunOk(const std::string& Command) {
    const auto Result = RunCommand(Command);
    ASSERT_EQ(Result.ExitCode, 0) << Command << "\n" << Result.Output;
}

std::string Mtools(const std::string& Tool, const std::string& Image) {
    return "MTOOLS_SKIP_CHECK=1 " + Tool + " -i " + ShellQuote(Image) + " ";
}

// A copy of the boot floppy with a start-up batch and extra files
// (image path -> host file), added with mtools.
std::string MakeFloppy(const TScratchDir& Dir, const std::string& Autoexec,
                       const std::vector<std::pair<std::string, fs::path>>& Extra = {}) {
    const fs::path Image = Dir / "floppy.img";
    fs::copy_file(RxDos / "BOOT.IMG", Image, fs::copy_options::overwrite_existing);
    if (!Autoexec.empty()) {
        WriteFileBytes(Dir / "AUTOEXEC.BAT", Autoexec);
        RunOk(Mtools("mcopy -Q", Image) + ShellQuote((Dir / "AUTOEXEC.BAT").string()) +
            " ::AUTOEXEC.BAT");
    }
    for (const auto& [Target, Source] : Extra) {
        for (auto Slash = Target.find('/'); Slash != std::string::npos;
             Slash = Target.find('/', Slash + 1))
            RunCommand(Mtools("mmd", Image) + ShellQuote("::" + Target.substr(0, Slash)));
        RunOk(Mtools("mcopy -Q -s -D o", Image) + ShellQuote(Source.string()) + " " +
            ShellQuote("::" + Target));
    }
    return Image.string();
}

// QEMU with the floppy writable (RunQemu's own floppy is read-only).
TQemuOptions WritableFloppy(const std::string& Image) {
    TQemuOptions Options;
    Options.ExtraArguments = "-drive file=" + ShellQuote(Image) + ",if=floppy,format=raw";
    return Options;
}

std::vector<uint8_t> Pattern(size_t Count) {
    std::vector<uint8_t> Bytes(Count);
    for (size_t i = 0; i < Count; ++i) Bytes[i] = uint8_t(i * 7);
    return Bytes;
}

} // namespace

// ---------------------------------------------------------------- the image

TEST(RxDosImage, BootFloppyIsAStandardFat12FloppyWithTheSystemFiles) {
    REQUIRE_HOST_TOOLS();
    const fs::path Image = RxDos / "BOOT.IMG";
    const auto Bytes = ReadFileBytes(Image);
    ASSERT_EQ(Bytes.size(), FloppyBytes);
    // The boot sector's BPB describes the standard 1.44 MB layout.
    EXPECT_EQ(GetLE16(&Bytes[11]), 512);
    EXPECT_EQ(Bytes[13], 1);
    EXPECT_EQ(GetLE16(&Bytes[14]), 1);
    EXPECT_EQ(Bytes[16], 2);
    EXPECT_EQ(GetLE16(&Bytes[17]), 224);
    EXPECT_EQ(GetLE16(&Bytes[19]), 2880);
    EXPECT_EQ(Bytes[21], 0xF0);
    EXPECT_EQ(GetLE16(&Bytes[22]), 9);
    EXPECT_EQ(GetLE16(&Bytes[24]), 18);
    EXPECT_EQ(GetLE16(&Bytes[26]), 2);
    EXPECT_EQ(GetLE16(&Bytes[510]), 0xAA55);

    const auto Fsck = RunCommand("fsck.fat -n " + ShellQuote(Image.string()));
    EXPECT_EQ(Fsck.ExitCode, 0) << Fsck.Output;

    const auto Dir = RunCommand(Mtools("mdir -b", Image.string()) + "::");
    ASSERT_EQ(Dir.ExitCode, 0) << Dir.Output;
    for (const char* Name : {"RXDOSBIO.SYS", "RXDOS.SYS", "RXDOSCMD.EXE"})
        EXPECT_NE(Dir.Output.find(std::string("::/") + Name), std::string::npos)
            << Name << " missing in\n" << Dir.Output;

    // mtools reads each file back as the build made it.
    TScratchDir Scratch;
    for (const char* Name : {"RXDOSBIO.SYS", "RXDOS.SYS", "RXDOSCMD.EXE"}) {
        const fs::path Out = Scratch / Name;
        RunOk(Mtools("mcopy -n", Image.string()) + "::" + Name + " " + ShellQuote(Out.string()));
        EXPECT_EQ(ReadFileBytes(Out), ReadFileBytes(RxDos / Name)) << Name;
    }
}

TEST(RxDosImage, TwoBuildsOfTheSystemFilesAreIdentical) {
    REQUIRE_HOST_TOOLS();
    // The sources are assembled again here; NASM output depends on nothing else.
    TScratchDir Dir;
    const fs::path Source = fs::path(__FILE__).parent_path().parent_path() / "payload" / "rxdos";
    for (const auto& [Asm, Out] : std::vector<std::pair<std::string, std::string>>{
             {"boot.asm", "BOOTSECT.BIN"},
             {"rxdosbio.asm", "RXDOSBIO.SYS"},
             {"rxdos.asm", "RXDOS.SYS"},
             {"rxdoscmd.asm", "RXDOSCMD.EXE"}}) {
        const fs::path Again = Dir / Out;
        RunOk("nasm -f bin -I" + ShellQuote((Source / "").string()) + " -o " +
            ShellQuote(Again.string()) + " " + ShellQuote((Source / Asm).string()));
        EXPECT_EQ(ReadFileBytes(Again), ReadFileBytes(RxDos / Out)) << Out;
    }
}

// ---------------------------------------------------------------- booting

TEST(QemuRxDos, BootFloppyReachesThePrompt) {
    REQUIRE_HOST_TOOLS();
    TQemuOptions Options;
    Options.Floppy = (RxDos / "BOOT.IMG").string();
    Options.WaitForText = "A:\\>";
    const auto Result = RunQemu(Options);
    EXPECT_TRUE(Result.SawText) << Result.Screen << Result.Log;
}

TEST(QemuRxDos, BatchCommandsAndProgramsWithArguments) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    const fs::path Note = Dir / "NOTE.TXT";
    WriteFileBytes(Note, std::string("NOTE-TEXT-LINE\r\n\x1a" "AFTER-EOF"));
    const std::string Image = MakeFloppy(Dir,
                                         "@echo off\r\n"
                                         "rem ECHO-SHOULD-NOT-SHOW\r\n"
                                         "prompt [$p]\r\n"
                                         "cd \\tools\r\n"
                                         "echo MARK-ONE\r\n"
                                         "echo.\r\n"
                                         "cd\r\n"
                                         "ver\r\n"
                                         "sub\\int21tst /ECHO alpha beta\r\n"
                                         "dir sub\r\n"
                                         "type sub\\note.txt\r\n"
                                         "nosuchprogram\r\n"
                                         "echo on\r\n"
                                         "rem visible\r\n"
                                         "@echo LAST-LINE\r\n",
                                         {{"TOOLS/SUB/INT21TST.EXE", RxDos / "INT21TST.EXE"},
                                          {"TOOLS/SUB/NOTE.TXT", Note}});
    TQemuOptions Options;
    Options.Floppy = Image;
    Options.WaitForText = "LAST-LINE";
    const auto Result = RunQemu(Options);
    ASSERT_TRUE(Result.SawText) << Result.Screen << Result.Log;
    const std::string& Screen = Result.Screen;
    EXPECT_NE(Screen.find("MARK-ONE"), std::string::npos) << Screen;
    EXPECT_EQ(Screen.find("ECHO-SHOULD-NOT-SHOW"), std::string::npos) << Screen;
    EXPECT_EQ(Screen.find("echo MARK-ONE"), std::string::npos) << Screen;
    EXPECT_NE(Screen.find("A:\\TOOLS"), std::string::npos) << Screen;
    EXPECT_NE(Screen.find("Rx-DOS version"), std::string::npos) << Screen;
    // The program was found along a relative path and got its arguments.
    EXPECT_NE(Screen.find("ARGS: alpha beta"), std::string::npos) << Screen;
    EXPECT_NE(Screen.find("Bad command or file name"), std::string::npos) << Screen;
    // DIR names the folder it lists and shows the program with its size.
    const std::string Size = std::to_string(fs::file_size(RxDos / "INT21TST.EXE"));
    EXPECT_NE(Screen.find("Directory of A:\\TOOLS\\SUB"), std::string::npos) << Screen;
    EXPECT_NE(Screen.find("INT21TST EXE"), std::string::npos) << Screen;
    EXPECT_NE(Screen.find(" " + Size + " "), std::string::npos) << Screen;
    EXPECT_NE(Screen.find("2 file(s)"), std::string::npos) << Screen;
    // TYPE stops at Ctrl-Z.
    EXPECT_NE(Screen.find("NOTE-TEXT-LINE"), std::string::npos) << Screen;
    EXPECT_EQ(Screen.find("AFTER-EOF"), std::string::npos) << Screen;
    // Echo on shows the prompt set by the batch before each line.
    EXPECT_NE(Screen.find("[A:\\TOOLS]rem visible"), std::string::npos) << Screen;
}

TEST(QemuRxDos, WiperStartsFromItsStartupBatch) {
    REQUIRE_HOST_TOOLS();
    // A missing build output is a broken build, not a reason to skip.
    ASSERT_TRUE(fs::exists(Purgit / "PURGIT.EXE")) << "no wiper build at " << Purgit;
    TScratchDir Dir;
    const std::string Image = MakeFloppy(Dir,
                                         "@echo off\r\nprompt $p$g\r\ncd \\Purgit\r\n"
                                         "data\\ctmouse\r\n"
                                         "@echo Running Corvane Purgex 2005 ...\r\nPurgit \r\n",
                                         {{"PURGIT", Purgit}});
    TQemuOptions Options;
    Options.Floppy = Image;
    Options.WaitForText = "Wipe methods found:"; // the wiper waits on its start page
    const auto Result = RunQemu(Options);
    ASSERT_TRUE(Result.SawText) << Result.Screen << Result.Log;
    EXPECT_NE(Result.Screen.find("Corvane Purgex 2005 - start screen"), std::string::npos)
        << Result.Screen;
}

TEST(QemuRxDos, BootsTheSameFloppyFromAnElToritoCd) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    const std::string Image = MakeFloppy(Dir, "@echo off\r\necho BOOTED-FROM-CD\r\n");
    TMemoryStream Floppy(ReadFileBytes(Image)), Iso;
    ASSERT_TRUE(MakeBootableIso(Floppy, Iso, "RXDOS TEST"));
    const fs::path IsoPath = Dir / "boot.iso";
    WriteFileBytes(IsoPath, Iso.Bytes());
    TQemuOptions Options;
    Options.Cdrom = IsoPath.string();
    Options.BootFromCd = true;
    Options.WaitForText = "BOOTED-FROM-CD";
    const auto Result = RunQemu(Options);
    ASSERT_TRUE(Result.SawText) << Result.Screen << Result.Log;
    EXPECT_NE(Result.Screen.find("A:\\>"), std::string::npos) << Result.Screen;
}

TEST(QemuRxDos, ReadOnlyCdFloppyFailsWritesCleanly) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    const std::string Image =
        MakeFloppy(Dir, "INT21TST /RO\r\n", {{"INT21TST.EXE", RxDos / "INT21TST.EXE"}});
    TMemoryStream Floppy(ReadFileBytes(Image)), Iso;
    ASSERT_TRUE(MakeBootableIso(Floppy, Iso, "RXDOS TEST"));
    const fs::path IsoPath = Dir / "boot.iso";
    WriteFileBytes(IsoPath, Iso.Bytes());
    TQemuOptions Options;
    Options.Cdrom = IsoPath.string();
    Options.BootFromCd = true;
    const auto Result = RunQemu(Options);
    ASSERT_TRUE(Result.Exited) << Result.Screen << Result.Log;
    EXPECT_EQ(Result.DebugExitCode, Int21TestPassed) << Result.Screen;
}

TEST(QemuRxDos, EveryInt21ServicePassesOnAWritableFloppy) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    const std::string Image =
        MakeFloppy(Dir, "@INT21TST\r\n", {{"INT21TST.EXE", RxDos / "INT21TST.EXE"}});
    auto Options = WritableFloppy(Image);
    // Emulated floppy transfers are slow: this takes 25 s on a loaded
    // machine, so the bound against a hang leaves room for more load.
    Options.TimeoutSeconds = 180;
    const auto Result = RunQemu(Options);
    ASSERT_TRUE(Result.Exited) << Result.Screen << Result.Log;
    EXPECT_EQ(Result.DebugExitCode, Int21TestPassed) << Result.Screen;

    // What the kernel wrote is sound for independent readers.
    const auto Fsck = RunCommand("fsck.fat -n " + ShellQuote(Image));
    EXPECT_EQ(Fsck.ExitCode, 0) << Fsck.Output;
    const fs::path Out = Dir / "OUT.BIN";
    RunOk(Mtools("mcopy -n", Image) + "::KEEP/OUT.BIN " + ShellQuote(Out.string()));
    EXPECT_EQ(ReadFileBytes(Out), Pattern(1500));
    // Its scratch files and folders are gone again.
    const auto Listing = RunCommand(Mtools("mdir -b", Image) + "::");
    EXPECT_EQ(Listing.Output.find("TDIR"), std::string::npos) << Listing.Output;
    EXPECT_EQ(Listing.Output.find("T.COM"), std::string::npos) << Listing.Output;
}

TEST(QemuRxDos, MissingSystemFilesGiveAClearMessage) {
    REQUIRE_HOST_TOOLS();
    for (const auto& [File, Message] : std::vector<std::pair<std::string, std::string>>{
             {"RXDOSBIO.SYS", "RXDOSBIO.SYS missing"},
             {"RXDOS.SYS", "RXDOS.SYS missing"},
             {"RXDOSCMD.EXE", "cannot run A:\\RXDOSCMD.EXE"}}) {
        TScratchDir Dir;
        const std::string Image = MakeFloppy(Dir, "");
        RunOk(Mtools("mdel", Image) + "::" + File);
        TQemuOptions Options;
        Options.Floppy = Image;
        Options.WaitForText = Message;
        const auto Result = RunQemu(Options);
        EXPECT_TRUE(Result.SawText) << File << "\n" << Result.Screen;
    }
}

TEST(QemuRxDos, KernelStartsTheInterpreterAgainWhenItEnds) {
    REQUIRE_HOST_TOOLS();
    // An interpreter that prints a line and ends at once (a .COM image under
    // the interpreter's name): the kernel must come back and start it again.
    TScratchDir Dir;
    const std::vector<uint8_t> Program = {0xB4, 0x09, 0xBA, 0x0C, 0x01, 0xCD, 0x21, 0xB8,
                                          0x00, 0x4C, 0xCD, 0x21, 'S',  'H',  'E',  'L',
                                          'L',  '-',  'R',  'A',  'N',  13,   10,   '$'};
    const fs::path Shell = Dir / "SHELL.COM";
    WriteFileBytes(Shell, Program);
    const std::string Image = MakeFloppy(Dir, "", {{"RXDOSCMD.EXE", Shell}});
    TQemuOptions Options;
    Options.Floppy = Image;
    Options.WaitForText = "starting it again";
    const auto Result = RunQemu(Options);
    ASSERT_TRUE(Result.SawText) << Result.Screen;
    EXPECT_NE(Result.Screen.find("SHELL-RAN"), std::string::npos) << Result.Screen;
}

namespace {

// Offset of the root directory entry with the 11-character name, or 0.
size_t RootEntry(const std::vector<uint8_t>& Image, const std::string& Name) {
    for (size_t Entry = 19 * 512; Entry < 33 * 512; Entry += 32)
        if (std::string(Image.begin() + long(Entry), Image.begin() + long(Entry) + 11) == Name)
            return Entry;
    return 0;
}

} // namespace

TEST(QemuRxDos, DamagedSystemFilesGiveAClearMessage) {
    REQUIRE_HOST_TOOLS();
    struct TCase {
        std::string Entry;   // 8.3 name in the root
        int FirstCluster;    // -1: keep
        bool Garble;         // overwrite the file's first sector
        std::string Message; // on screen
    };
    const std::vector<TCase> Cases = {
        {"RXDOSBIOSYS", 0xF00, false, "Rx-DOS: bad chain. Press a key"}, // off the disk
        {"RXDOSBIOSYS", 1, false, "Rx-DOS: bad chain. Press a key"},
        {"RXDOS   SYS", 0xF00, false, "Rx-DOS: RXDOS.SYS is damaged. Press a key"},
        {"RXDOS   SYS", 0, false, "Rx-DOS: RXDOS.SYS is damaged. Press a key"},
        {"RXDOS   SYS", -1, true, "Rx-DOS: RXDOS.SYS is damaged. Press a key"},
    };
    for (const auto& Case : Cases) {
        TScratchDir Dir;
        auto Image = ReadFileBytes(RxDos / "BOOT.IMG");
        ASSERT_EQ(Image.size(), FloppyBytes);
        const size_t Entry = RootEntry(Image, Case.Entry);
        ASSERT_NE(Entry, 0u) << Case.Entry;
        if (Case.Garble) {
            const size_t Data = (33 + GetLE16(&Image[Entry + 26]) - 2) * 512;
            std::fill(Image.begin() + long(Data), Image.begin() + long(Data) + 512, 0x90);
        }
        if (Case.FirstCluster >= 0) PutLE16(&Image[Entry + 26], uint16_t(Case.FirstCluster));
        const fs::path Path = Dir / "damaged.img";
        WriteFileBytes(Path, Image);
        TQemuOptions Options;
        Options.Floppy = Path.string();
        Options.WaitForText = "Press a key";
        const auto Result = RunQemu(Options);
        ASSERT_TRUE(Result.SawText) << Case.Entry << "\n" << Result.Screen;
        EXPECT_NE(Result.Screen.find(Case.Message), std::string::npos)
            << Case.Entry << "\n" << Result.Screen;
    }
}

TEST(QemuRxDos, PromptReadsTypedCommandsWithEditing) {
    REQUIRE_HOST_TOOLS();
    // The batch runs a .COM that puts keys into the BIOS keyboard buffer, as
    // if typed; after the batch the prompt reads them as commands.
    const std::string Keys = "cd tools\rvex\br\r"; // 15 keys: the buffer's size
    std::vector<uint8_t> Typist;
    for (const char Key : Keys) {
        for (const uint8_t Byte : {uint8_t(0xB9), uint8_t(Key), uint8_t(0x1E), // mov cx, key
                                   uint8_t(0xB4), uint8_t(0x05),                // mov ah, 5
                                   uint8_t(0xCD), uint8_t(0x16)})               // int 16h
            Typist.push_back(Byte);
    }
    for (const uint8_t Byte : {0xB8, 0x00, 0x4C, 0xCD, 0x21}) Typist.push_back(Byte);
    TScratchDir Dir;
    const fs::path Program = Dir / "TYPIST.COM";
    WriteFileBytes(Program, Typist);
    const std::string Image = MakeFloppy(Dir, "@echo off\r\ntypist\r\n",
                                         {{"TYPIST.COM", Program}, {"TOOLS/TYPIST.COM", Program}});
    TQemuOptions Options;
    Options.Floppy = Image;
    Options.WaitForText = "Rx-DOS version";
    const auto Result = RunQemu(Options);
    ASSERT_TRUE(Result.SawText) << Result.Screen;
    EXPECT_NE(Result.Screen.find("A:\\>cd tools"), std::string::npos) << Result.Screen;
    EXPECT_NE(Result.Screen.find("A:\\TOOLS>ver"), std::string::npos) << Result.Screen;
}

TEST(QemuRxDos, PauseTakesAKeyAndClsClearsTheScreen) {
    REQUIRE_HOST_TOOLS();
    // One key in the BIOS buffer (mov cx, 1E61h; mov ah, 5; int 16h; exit)
    // for PAUSE to take.
    const std::vector<uint8_t> OneKey = {0xB9, 0x61, 0x1E, 0xB4, 0x05, 0xCD, 0x16,
                                         0xB8, 0x00, 0x4C, 0xCD, 0x21};
    TScratchDir Dir;
    WriteFileBytes(Dir / "ONEKEY.COM", OneKey);
    const std::string Image = MakeFloppy(Dir,
                                         "@echo off\r\necho BEFORE-CLS\r\ncls\r\n"
                                         "onekey\r\npause\r\necho AFTER-PAUSE\r\n",
                                         {{"ONEKEY.COM", Dir / "ONEKEY.COM"}});
    TQemuOptions Options;
    Options.Floppy = Image;
    Options.WaitForText = "AFTER-PAUSE";
    const auto Result = RunQemu(Options);
    ASSERT_TRUE(Result.SawText) << Result.Screen;
    EXPECT_NE(Result.Screen.find("Press any key to continue . . ."), std::string::npos)
        << Result.Screen;
    EXPECT_EQ(Result.Screen.find("BEFORE-CLS"), std::string::npos) << Result.Screen;
    EXPECT_EQ(Result.Screen.find("SeaBIOS"), std::string::npos) << Result.Screen;
}

// ---------------------------------------------------------------- hard disks

TEST(QemuRxDos, EveryInt21ServicePassesOnAFat16HardDiskPartition) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    // Disk 80h: an unformatted Linux partition, then FAT16 (C:) and FAT12;
    // disk 81h: FAT12. DOS order: the first FAT partition of each disk
    // (C: on 80h, D: on 81h), then the others (E:).
    const TPartition Other{63, 400, "83", ""}, Fat16{463, 4400, "6", "16"},
        Third{4863, 1200, "1", "12"}, Second{63, 1200, "1", "12"};
    const std::string Disk0 = MakePartitionedDisk(Dir, "disk0.img", 8192, {Other, Fat16, Third});
    const std::string Disk1 = MakePartitionedDisk(Dir, "disk1.img", 2048, {Second});
    WriteFileBytes(Dir / "WHO1.TXT", "SECOND-DISK-FIRST-PARTITION\r\n");
    WriteFileBytes(Dir / "WHO2.TXT", "FIRST-DISK-THIRD-PARTITION\r\n");
    RunOk(Mtools("mcopy -Q", PartitionImage(Disk1, Second)) +
          ShellQuote((Dir / "WHO1.TXT").string()) + " ::WHO.TXT");
    RunOk(Mtools("mcopy -Q", PartitionImage(Disk0, Third)) +
          ShellQuote((Dir / "WHO2.TXT").string()) + " ::WHO.TXT");
    const auto Before = ReadFileBytes(Disk0);

    const std::string Image =
        MakeFloppy(Dir,
                   "@echo off\r\ntype D:\\WHO.TXT\r\ntype E:\\WHO.TXT\r\nC:\r\n"
                   "A:\\INT21TST /DC\r\n",
                   {{"INT21TST.EXE", RxDos / "INT21TST.EXE"}});
    auto Options = WritableFloppy(Image);
    Options.ExtraArguments += " " + IdeDrive(Disk0, 0) + " " + IdeDrive(Disk1, 1);
    Options.TimeoutSeconds = 180;
    const auto Result = RunQemu(Options);
    ASSERT_TRUE(Result.Exited) << Result.Screen << Result.Log;
    EXPECT_EQ(Result.DebugExitCode, Int21TestPassed) << Result.Screen;
    EXPECT_NE(Result.Screen.find("SECOND-DISK-FIRST-PARTITION"), std::string::npos)
        << Result.Screen;
    EXPECT_NE(Result.Screen.find("FIRST-DISK-THIRD-PARTITION"), std::string::npos) << Result.Screen;

    // What the kernel wrote on C: is sound for independent readers.
    ExpectPartitionClean(Dir, Disk0, Fat16);
    const fs::path Out = Dir / "OUT.BIN";
    RunOk(Mtools("mcopy -n", PartitionImage(Disk0, Fat16)) + "::KEEP/OUT.BIN " +
          ShellQuote(Out.string()));
    EXPECT_EQ(ReadFileBytes(Out), Pattern(1500));
    const auto Listing = RunCommand(Mtools("mdir -b", PartitionImage(Disk0, Fat16)) + "::");
    EXPECT_EQ(Listing.Output.find("TDIR"), std::string::npos) << Listing.Output;
    // Nothing outside C: changed: the table, the other partitions.
    const auto After = ReadFileBytes(Disk0);
    ASSERT_EQ(After.size(), Before.size());
    for (size_t Sector = 0; Sector < After.size() / 512; ++Sector) {
        if (Sector >= Fat16.Start && Sector < Fat16.Start + Fat16.Sectors) continue;
        ASSERT_TRUE(std::equal(After.begin() + long(Sector * 512),
                               After.begin() + long(Sector * 512 + 512),
                               Before.begin() + long(Sector * 512)))
            << "sector " << Sector << " outside C: was written";
    }
}

TEST(QemuRxDos, LoopingChainsAndABadBootSectorGiveErrorsNotAHang) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    const TPartition Fat16{63, 4400, "6", "16"}, Broken{4463, 1200, "1", "12"};
    const std::string Disk = MakePartitionedDisk(Dir, "disk.img", 8192, {Fat16, Broken});
    const std::string C = PartitionImage(Disk, Fat16);
    WriteFileBytes(Dir / "LOOP.TXT", std::string(3000, 'L'));
    WriteFileBytes(Dir / "INNER.TXT", "INNER\r\n");
    RunOk(Mtools("mcopy -Q", C) + ShellQuote((Dir / "LOOP.TXT").string()) + " ::LOOP.TXT");
    RunOk(Mtools("mmd", C) + "::LOOPDIR");
    RunOk(Mtools("mcopy -Q", C) + ShellQuote((Dir / "INNER.TXT").string()) +
          " ::LOOPDIR/INNER.TXT");

    // The clusters mtools gave them, as "<first-last>".
    const auto FirstCluster = [&](const std::string& Name) {
        const auto Shown = RunCommand(Mtools("mshowfat", C) + "::" + Name);
        const auto Open = Shown.Output.find('<');
        EXPECT_NE(Open, std::string::npos) << Shown.Output;
        return Open == std::string::npos ? 0u : unsigned(std::stoul(Shown.Output.substr(Open + 1)));
    };
    const unsigned File = FirstCluster("LOOP.TXT"), Folder = FirstCluster("LOOPDIR");
    ASSERT_GE(File, 2u);
    ASSERT_GE(Folder, 2u);
    // LOOP.TXT's sixth cluster leads back to its third; LOOPDIR's only
    // cluster to itself. Both FAT copies, so no reader can tell.
    auto Bytes = ReadFileBytes(Disk);
    const size_t Boot = Fat16.Start * 512;
    const unsigned Reserved = Bytes[Boot + 14] | Bytes[Boot + 15] << 8;
    const unsigned FatSectors = Bytes[Boot + 22] | Bytes[Boot + 23] << 8;
    for (unsigned Copy = 0; Copy < 2; ++Copy) {
        const size_t Fat = Boot + (Reserved + Copy * FatSectors) * 512;
        const auto Set = [&](unsigned Cluster, unsigned Value) {
            Bytes[Fat + Cluster * 2] = uint8_t(Value);
            Bytes[Fat + Cluster * 2 + 1] = uint8_t(Value >> 8);
        };
        Set(File + 5, File + 2);
        Set(Folder, Folder);
    }
    // The second partition's boot sector claims 256-byte sectors.
    Bytes[Broken.Start * 512 + 11] = 0;
    Bytes[Broken.Start * 512 + 12] = 1;
    WriteFileBytes(Disk, Bytes);

    const std::string Image =
        MakeFloppy(Dir, "@echo off\r\ntype C:\\LOOP.TXT\r\necho TYPE-ENDED\r\ndir C:\\LOOPDIR\r\n"
                        "echo DIR-ENDED\r\ndir D:\\\r\necho ALL-ENDED\r\n");
    auto Options = WritableFloppy(Image);
    Options.ExtraArguments += " " + IdeDrive(Disk, 0);
    Options.WaitForText = "ALL-ENDED";
    Options.TimeoutSeconds = 60;
    const auto Result = RunQemu(Options);
    ASSERT_TRUE(Result.SawText) << Result.Screen << Result.Log;
    EXPECT_NE(Result.Screen.find("TYPE-ENDED"), std::string::npos) << Result.Screen;
    EXPECT_EQ(Result.Screen.find("LLLLLLLL"), std::string::npos)
        << "a looping file was read as if sound\n"
        << Result.Screen;
    EXPECT_NE(Result.Screen.find("DIR-ENDED"), std::string::npos) << Result.Screen;
    // The looping folder is listed once, not over and over.
    EXPECT_LE(CountOf(Result.Screen, "INNER"), 1) << Result.Screen;
    // Reading never writes: the whole disk is as it was.
    EXPECT_TRUE(ReadFileBytes(Disk) == Bytes) << "the damaged disk was written";
}

#endif
