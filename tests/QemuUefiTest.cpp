// PURGIT.EFI under QEMU with Debian's OVMF firmware (TCG, no display): a
// stick made by purgex usb boots beside scratch disks on every kind of
// controller, and a disc made by purgex iso --uefi starts the same wiper.
// Results are judged from the disk images, the stick read back with mtools
// and fsck.fat, the wiper's trace on port E9h and the firmware's console,
// which OVMF mirrors to the serial port.
#include <gtest/gtest.h>

#ifndef _WIN32

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <thread>

#include "QemuUefiSupport.h"
#include "QemuWiperSupport.h"
#include "TestSupport.h"

using namespace testing_support;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::string Tail(const std::string& Text) {
    return Text.substr(Text.size() > 3000 ? Text.size() - 3000 : 0);
}

// The part of the report about disk Number, up to its result line.
std::string ReportOfDisk(const std::string& Log, int Number) {
    const auto At = Log.find("Disk:          Disk " + std::to_string(Number) + " (");
    if (At == std::string::npos) return "";
    const auto Result = Log.find("RESULT:", At);
    const auto End = Result == std::string::npos ? Result : Log.find('\n', Result);
    return Log.substr(At, End == std::string::npos ? End : End - At);
}

// The value on a report line ("Serial number: ").
std::string ReportValue(const std::string& Part, const std::string& Key) {
    const auto At = Part.find(Key);
    if (At == std::string::npos) return "";
    const auto End = Part.find_first_of("\r\n", At);
    return Part.substr(At + Key.size(), End == std::string::npos ? End : End - At - Key.size());
}

// Every file of the stick's volume into Folder (mtools), for comparison.
void CopyOut(const std::string& Stick, const fs::path& Folder) {
    fs::create_directories(Folder);
    RunOrFail(Mtools + "mcopy -s -n -i " + ShellQuote(Stick + "@@1048576") + " ::* " +
              ShellQuote(Folder.string()));
}

TEST(QemuUefi, StartsIntoTheStartPageWithTheOptionsChosen) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    // O2 and O3 on, O1 and O9 off, unlike the defaults.
    const std::string Stick = MakeEfiStick(Dir, "011110000010", "/TRACE /X:demo");
    const std::string Disk = MakeScratchDisk(Dir, "disk.img", 16384);
    const auto Run =
        RunOvmf(Dir, Stick, "-drive file=" + ShellQuote(Disk) + ",format=raw,if=ide,index=1",
                "Esc  leave the program", 90);
    ASSERT_NE(Run.Trace.find("START PAGE"), std::string::npos) << Tail(Run.Console);
    const std::string& C = Run.Console;
    EXPECT_NE(C.find("Corvane Purgex 2005 - start screen"), std::string::npos) << Tail(C);
    const std::pair<const char*, const char*> Expected[] = {
        {"O1", "off"}, {"O2", "on"}, {"O3", "on"}, {"O7", "off"}, {"O9", "off"}, {"O11", "on"}};
    for (const auto& [Option, Value] : Expected) {
        std::smatch Found;
        const std::regex Line(std::string(Option) + " +[A-Z][^\n]* (on|off)(?![a-z])");
        ASSERT_TRUE(std::regex_search(C, Found, Line)) << Option << "\n" << Tail(C);
        EXPECT_EQ(Found[1], Value) << Found[0];
    }
    EXPECT_NE(C.find("Parameters: /TRACE /X:demo"), std::string::npos) << Tail(C);
    EXPECT_NE(C.find("Wipe methods found: 12"), std::string::npos) << Tail(C);
    // The stick is shown but never offered; the scratch disk with its identity.
    EXPECT_NE(C.find("- system disk, not offered"), std::string::npos) << Tail(C);
    EXPECT_NE(C.find("Disk 2 (IDE): 8 MB, 16384 sectors, QEMU HARDDISK"), std::string::npos)
        << Tail(C);
    // The firmware's words, not the BIOS's.
    EXPECT_NE(C.find("Hard disks reported by the firmware: 2"), std::string::npos) << Tail(C);
    // Nothing is written before the pages say so.
    EXPECT_EQ(Run.Trace.find("\nW "), std::string::npos) << Run.Trace;
}

// A disc made with --uefi starts the same wiper from its second boot entry,
// with the options and parameters it was made with.
TEST(QemuUefi, TheUefiDiscStartsTheWiperWithItsChoices) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    const std::string Iso = (Dir / "both.iso").string();
    RunOrFail(std::string(PURGEX_CLI) + " iso " + ShellQuote(Iso) +
              " --uefi --yes --os rxdos --options 011110000010 --params '/TRACE /X:disc'");
    const std::string Disk = MakeScratchDisk(Dir, "disk.img", 16384);
    const auto Run =
        RunOvmf(Dir, Iso, "-drive file=" + ShellQuote(Disk) + ",format=raw,if=ide,index=1",
                "Esc  leave the program", 90);
    ASSERT_NE(Run.Trace.find("START PAGE"), std::string::npos) << Tail(Run.Console);
    const std::string& C = Run.Console;
    EXPECT_NE(C.find("Parameters: /TRACE /X:disc"), std::string::npos) << Tail(C);
    EXPECT_NE(C.find("Wipe methods found: 12"), std::string::npos) << Tail(C);
    std::smatch Found;
    ASSERT_TRUE(std::regex_search(C, Found, std::regex("O2 +[A-Z][^\n]* (on|off)(?![a-z])")));
    EXPECT_EQ(Found[1], "on") << Found[0];
    EXPECT_NE(C.find("QEMU HARDDISK"), std::string::npos) << Tail(C);
}

// /ALL /M:ZERO with option 7: one disk each on PIIX IDE, AHCI, NVMe,
// virtio-blk and USB (xHCI), erased to zeros; the stick is unchanged but
// for its report, which names every disk with model and serial number;
// /OFF switches the machine off at the end.
TEST(QemuUefi, UnattendedZeroErasesADiskOnEveryController) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    const std::string Stick = MakeEfiStick(Dir, "100110100010", "/ALL /M:ZERO /TRACE /OFF");
    const fs::path Before = Dir / "before";
    CopyOut(Stick, Before);
    const auto StickBefore = ReadFileBytes(Stick);

    std::vector<std::string> Disks;
    for (int i = 0; i < 5; ++i)
        Disks.push_back(MakeScratchDisk(Dir, "disk" + std::to_string(i) + ".img", 16384));
    const auto Drive = [&](int i) {
        return " -drive file=" + ShellQuote(Disks[size_t(i)]) + ",format=raw,if=none,id=d" +
               std::to_string(i);
    };
    const std::string Devices =
        "-drive file=" + ShellQuote(Disks[0]) + ",format=raw,if=ide,index=1" + Drive(1) +
        " -device ahci,id=ahci -device ide-hd,drive=d1,bus=ahci.0" + Drive(2) +
        " -device nvme,drive=d2,serial=EFINVME2" + Drive(3) + " -device virtio-blk-pci,drive=d3" +
        Drive(4) + " -device qemu-xhci,id=xhci -device usb-storage,bus=xhci.0,drive=d4";
    const auto Run = RunOvmf(Dir, Stick, Devices, "", 150, TestSmbios);
    ASSERT_TRUE(Run.Exited) << Tail(Run.Trace) << Tail(Run.Console);
    EXPECT_NE(Run.Trace.find("SUMMARY OK\n"), std::string::npos) << Tail(Run.Trace);
    EXPECT_NE(Run.Trace.find("POWER OFF\n"), std::string::npos) << Tail(Run.Trace);
    EXPECT_EQ(CountOf(Run.Trace, "\nEND\n"), 5) << Tail(Run.Trace);
    for (const auto& Disk : Disks)
        EXPECT_TRUE(AllBytes(ReadFileBytes(Disk), 0)) << Disk;

    // Large requests: 1 MB each.
    EXPECT_EQ(CountOf(Run.Trace, "\nW 0 2048\n"), 5) << Tail(Run.Trace);

    const std::string Log = ReadStickFile(Stick, "PURG0001.LOG");
    const std::pair<const char*, const char*> Identities[] = {{"IDE", "QM00002"},
                                                              {"SATA", "QM0000"},
                                                              {"NVMe", "EFINVME2"},
                                                              {"virtio", "Pci("},
                                                              {"USB", "Usb("}};
    for (int i = 0; i < 5; ++i) {
        const std::string Part = ReportOfDisk(Log, i + 2);
        EXPECT_NE(Part.find(std::string("(") + Identities[i].first + ")"), std::string::npos)
            << Log;
        EXPECT_EQ(Part.find("(not reported)"), std::string::npos) << Part;
        EXPECT_NE(ReportValue(Part, "Serial number: ").find(Identities[i].second),
                  std::string::npos)
            << Part;
        EXPECT_NE(Part.find("RESULT:        OK"), std::string::npos) << Part;
    }
    EXPECT_NE(ReportOfDisk(Log, 4).find("Model:         QEMU NVMe Ctrl"), std::string::npos) << Log;

    // The erase record beside it names the machine as QEMU's SMBIOS tables
    // do, and purgex report reads it off the stick: every disk erased.
    const std::string Record = ReadStickFile(Stick, "PURG0001.REC");
    for (const auto& Expected : TestMachineLines)
        EXPECT_NE(Record.find(Expected), std::string::npos) << Expected << " in " << Record;
    const auto Table = ExpectRecordsReport(Stick, std::vector<std::string>(5, "erased"), false);
    EXPECT_NE(Table.find("QEMU NVMe Ctrl"), std::string::npos) << Table;

    // The stick: the same files and the same bytes outside its volume; the
    // file system sound.
    const fs::path After = Dir / "after";
    CopyOut(Stick, After);
    fs::remove(After / "PURG0001.LOG");
    // The erase record beside the report.
    EXPECT_TRUE(fs::remove(After / "PURG0001.REC"));
    const auto Diff =
        RunCommand("diff -r " + ShellQuote(Before.string()) + " " + ShellQuote(After.string()));
    EXPECT_EQ(Diff.ExitCode, 0) << Diff.Output;
    const auto StickAfter = ReadFileBytes(Stick);
    ASSERT_EQ(StickAfter.size(), StickBefore.size());
    EXPECT_TRUE(
        std::equal(StickBefore.begin(), StickBefore.begin() + 1048576 + 512, StickAfter.begin()));
    const auto Fsck = RunCommand(
        "cp " + ShellQuote(Stick) + " " + ShellQuote((Dir / "v.img").string()) + " && dd if=" +
        ShellQuote((Dir / "v.img").string()) + " of=" + ShellQuote((Dir / "volume.img").string()) +
        " bs=1M skip=1 status=none && fsck.fat -n " + ShellQuote((Dir / "volume.img").string()));
    EXPECT_EQ(Fsck.ExitCode, 0) << Fsck.Output;
}

// A method of one fixed three-byte pattern, put on the stick: a sector's
// bytes depend on its number (512 and 4096 are not multiples of three), so
// a sector written at the wrong place or phase shows on the host.
void PutThreeByteMethod(const TScratchDir& Dir, const std::string& Stick) {
    PutMethodFile(Dir, Stick + "@@1048576", "THREE.MET",
                  "NAME=Three bytes\r\nPASSES=1\r\nPASS1=FIXED 92 49 24\r\nVERIFY=LAST\r\n");
}

// The wiper's run on one NVMe disk.
TUefiRun RunOnNvme(const TScratchDir& Dir, const std::string& Stick, const std::string& Disk) {
    return RunOvmf(Dir, Stick,
                   "-drive file=" + ShellQuote(Disk) +
                       ",format=raw,if=none,id=d0 -device nvme,drive=d0,serial=D0",
                   "", 150);
}

// A three-byte pattern over more than two of the wiper's 1 MB requests: a
// megabyte is not a multiple of three, so every request starts the buffer
// at another phase of the pattern, and the pattern must run on without a
// gap over the whole disk; the read-back agrees.
TEST(QemuUefi, ThreeBytePatternRunsOnAcrossRequests) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    const std::string Stick = MakeEfiStick(Dir, "100110100010", "/ALL /M:THREE /TRACE /OFF");
    PutThreeByteMethod(Dir, Stick);
    const size_t Sectors = 5000;
    const std::string Disk = MakeScratchDisk(Dir, "disk.img", Sectors);
    const auto Run = RunOnNvme(Dir, Stick, Disk);
    ASSERT_TRUE(Run.Exited) << Tail(Run.Trace) << Tail(Run.Console);
    EXPECT_NE(Run.Trace.find("SUMMARY OK\n"), std::string::npos) << Tail(Run.Trace);
    EXPECT_NE(Run.Trace.find("\nW 0 2048\n"), std::string::npos) << Tail(Run.Trace);
    EXPECT_NE(Run.Trace.find("\nW 4096 904\n"), std::string::npos) << Tail(Run.Trace);
    const auto After = ReadFileBytes(Disk);
    ASSERT_EQ(After.size(), Sectors * 512);
    const uint8_t Pattern[3] = {0x92, 0x49, 0x24};
    for (size_t At = 0; At < After.size(); ++At)
        ASSERT_EQ(After[At], Pattern[At % 3]) << "byte " << At;
    const std::string Log = ReadStickFile(Stick, "PURG0001.LOG");
    EXPECT_NE(Log.find("VERIFICATION\r\n  Result:        passed"), std::string::npos) << Log;
}

// ISAAC (option 9) writes random data and then its complement, each read
// back: the disk ends as the complement of what an independent ISAAC makes
// of the traced seed, across requests of 2048 sectors and a last one of
// 903 that ends in the middle of one of ISAAC's rounds.
TEST(QemuUefi, IsaacStreamRunsOnAcrossRequestsAndInverts) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    const std::string Stick = MakeEfiStick(Dir, "100110101010", "/ALL /M:RNDCOMP /TRACE /OFF");
    PutMethodFile(Dir, Stick + "@@1048576", "RNDCOMP.MET",
                  "NAME=Random, complement\r\nPASSES=2\r\nPASS1=RANDOM\r\nPASS2=COMPLEMENT\r\n"
                  "VERIFY=ALL\r\n");
    const size_t Sectors = 4999;
    const std::string Disk = MakeScratchDisk(Dir, "disk.img", Sectors);
    const auto Run = RunOnNvme(Dir, Stick, Disk);
    ASSERT_TRUE(Run.Exited) << Tail(Run.Trace) << Tail(Run.Console);
    EXPECT_NE(Run.Trace.find("SUMMARY OK\n"), std::string::npos) << Tail(Run.Trace);
    EXPECT_NE(Run.Trace.find("\nW 4096 903\n"), std::string::npos) << Tail(Run.Trace);
    const auto After = ReadFileBytes(Disk);
    ASSERT_EQ(After.size(), Sectors * 512);
    EXPECT_EQ(SectorsNotIsaac(After, Run.Trace, true), 0u) << Tail(Run.Trace);
}

// One boot, a RANDOM pass read back (option 1) on three virtio disks: one
// whose drive is deleted through the monitor mid-erase, one with injected
// write and read errors (blkdebug), one healthy. The first ends with the
// DOS wiper's line, the errors are listed by sector, the run goes on.
TEST(QemuUefi, RandomPassVerifiesListsErrorsAndOutlivesAVanishedDisk) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    const std::string Stick = MakeEfiStick(Dir, "100110100010", "/ALL /M:RANDOM /TRACE /OFF");
    const std::string Large = MakeSparseDisk(Dir, "large.img", 512ull << 20);
    const std::string Faulty = MakeScratchDisk(Dir, "faulty.img", 16384);
    const std::string Good = MakeScratchDisk(Dir, "good.img", 16384);
    const auto FaultyBefore = ReadFileBytes(Faulty), GoodBefore = ReadFileBytes(Good);
    WriteFileBytes(Dir / "errors.cfg", "[inject-error]\nevent = \"write_aio\"\nerrno = \"5\"\n"
                                       "sector = \"3000\"\n\n"
                                       "[inject-error]\nevent = \"read_aio\"\nerrno = \"5\"\n"
                                       "sector = \"9000\"\n");
    const fs::path Trace = Dir / "trace.txt";
    const std::string Socket = (Dir / "monitor").string();
    bool Pulled = false;
    TMonitorFeeder Feeder(Socket, 100ms, [&]() -> std::optional<std::string> {
        if (Pulled) return std::nullopt;
        if (CountOf(ReadTextIfAny(Trace), "\nW ") < 20) return "";
        Pulled = true;
        return "drive_del large\n";
    });
    const std::string Devices = "-drive file=" + ShellQuote(Large) +
                                ",format=raw,if=none,id=large"
                                " -device virtio-blk-pci,drive=large"
                                " -drive file=blkdebug:" +
                                (Dir / "errors.cfg").string() + ":" + Faulty +
                                ",format=raw,if=none,id=faulty -device virtio-blk-pci,drive=faulty"
                                " -drive file=" +
                                ShellQuote(Good) +
                                ",format=raw,if=none,id=good"
                                " -device virtio-blk-pci,drive=good";
    const auto Run = RunOvmf(Dir, Stick, Devices, "", 200, MonitorArgument(Socket));
    Feeder.Finish();
    ASSERT_TRUE(Pulled) << Tail(Run.Trace) << Tail(Run.Console);
    ASSERT_TRUE(Run.Exited) << Tail(Run.Trace) << Tail(Run.Console);
    const std::string& T = Run.Trace;

    // The vanished disk: one block's retries, then the end.
    const auto Vanished = T.find("END VANISHED\n");
    ASSERT_NE(Vanished, std::string::npos) << Tail(T);
    EXPECT_GE(CountOf(T.substr(0, Vanished), "ERROR W "), 1);
    EXPECT_LE(CountOf(T.substr(0, Vanished), "ERROR W "), 2048);
    EXPECT_EQ(CountOf(T.substr(Vanished), "\nEND\n"), 2) << Tail(T);

    // Random data that differs between the disks, read back and compared.
    const auto FaultyAfter = ReadFileBytes(Faulty), GoodAfter = ReadFileBytes(Good);
    EXPECT_NE(GoodAfter, GoodBefore);
    EXPECT_NE(std::vector<uint8_t>(GoodAfter.begin(), GoodAfter.begin() + 4096),
              std::vector<uint8_t>(FaultyAfter.begin(), FaultyAfter.begin() + 4096));
    EXPECT_FALSE(AllBytes(GoodAfter, GoodAfter[0]));
    EXPECT_EQ(SectorsNotXorshift128(GoodAfter), 0u);
    // The sector whose write failed keeps what it held.
    EXPECT_TRUE(std::equal(FaultyAfter.begin() + 3000 * 512, FaultyAfter.begin() + 3001 * 512,
                           FaultyBefore.begin() + 3000 * 512));

    const std::string Log = ReadStickFile(Stick, "PURG0001.LOG");
    EXPECT_NE(ReportOfDisk(Log, 2).find("RESULT:        STOPPED: the disk no longer answers"),
              std::string::npos)
        << Log;
    const std::string FaultyPart = ReportOfDisk(Log, 3);
    EXPECT_NE(FaultyPart.find("Sector 3000: write error"), std::string::npos) << FaultyPart;
    EXPECT_NE(FaultyPart.find("Sector 9000: read error"), std::string::npos) << FaultyPart;
    EXPECT_NE(FaultyPart.find("ERASED WITH ERRORS"), std::string::npos) << FaultyPart;
    const std::string GoodPart = ReportOfDisk(Log, 4);
    EXPECT_NE(GoodPart.find("passed (1 pass read back and compared)"), std::string::npos)
        << GoodPart;
    EXPECT_NE(GoodPart.find("RESULT:        OK"), std::string::npos) << GoodPart;
    EXPECT_NE(T.find("SUMMARY ERRORS\n"), std::string::npos) << Tail(T);
}

// Bytes [From, From + Count) of a (sparse) image.
std::vector<uint8_t> ReadAt(const std::string& Image, uint64_t From, size_t Count) {
    std::vector<uint8_t> Bytes(Count);
    FILE* File = fopen(Image.c_str(), "rb");
    if (!File) return {};
    const bool Ok =
        fseeko(File, off_t(From), SEEK_SET) == 0 && fread(Bytes.data(), 1, Count, File) == Count;
    fclose(File);
    return Ok ? Bytes : std::vector<uint8_t>{};
}

// A 3 TiB disk (a sparse image on NVMe): shown, reported and recorded with
// all its 6,442,450,944 sectors and never as reachable only in part. Back
// to front (option 2), the first request writes the disk's last megabyte,
// far above sector 2^32; a write error injected there (blkdebug counts the
// image's sectors, so it fires only when the full sector number reaches
// the device) is listed by its 64-bit number. The user then stops the disk
// (Esc, S): the record says stopped, which it would not for a disk
// reachable only in part.
TEST(QemuUefi, DiskBeyondTwoTerabytesIsWrittenAtItsTopAndRecordedWhole) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    // O2 back to front, O4/O5 the report as a record, O6 interrupt, O7 unattended.
    const std::string Stick = MakeEfiStick(Dir, "010111100010", "/ALL /M:THREE /TRACE /OFF");
    PutThreeByteMethod(Dir, Stick);
    const uint64_t Sectors = 3ull << 31; // 3 TiB
    const uint64_t Bad = Sectors - 1000;
    const std::string Big = MakeSparseDisk(Dir, "big.img", Sectors * 512);
    WriteFileBytes(Dir / "errors.cfg", "[inject-error]\nevent = \"write_aio\"\nerrno = \"5\"\n"
                                       "sector = \"" +
                                           std::to_string(Bad) + "\"\n");
    const fs::path Trace = Dir / "trace.txt";
    const std::string Socket = (Dir / "monitor").string();
    int Sent = 0;
    TMonitorFeeder Feeder(Socket, 200ms, [&]() -> std::optional<std::string> {
        if (Sent == 2) return std::nullopt;
        const std::string T = ReadTextIfAny(Trace);
        // Once the failing block has been retried, pause and stop.
        if (Sent == 0 && CountOf(T, "\nW ") >= 2100) return ++Sent, "sendkey esc\n";
        if (Sent == 1) return ++Sent, "sendkey s\n";
        return "";
    });
    const auto Run = RunOvmf(Dir, Stick,
                             "-drive file=blkdebug:" + (Dir / "errors.cfg").string() + ":" + Big +
                                 ",format=raw,if=none,id=big -device nvme,drive=big,serial=BIG3T",
                             "", 300, MonitorArgument(Socket));
    Feeder.Finish();
    ASSERT_TRUE(Run.Exited) << Tail(Run.Trace) << Tail(Run.Console);
    const std::string& T = Run.Trace;
    EXPECT_NE(T.find("PATH UEFI\n"), std::string::npos) << Tail(T);
    // The first write is the disk's last megabyte, in one request.
    const auto FirstWrite = T.find("\nW ");
    ASSERT_NE(FirstWrite, std::string::npos) << Tail(T);
    EXPECT_EQ(T.substr(FirstWrite, T.find('\n', FirstWrite + 1) - FirstWrite),
              "\nW " + std::to_string(Sectors - 2048) + " 2048");
    EXPECT_NE(T.find("ERROR W " + std::to_string(Bad) + "\n"), std::string::npos) << Tail(T);
    EXPECT_NE(T.find("END STOPPED\n"), std::string::npos) << Tail(T);
    // The erase page counts the whole disk.
    EXPECT_NE(Run.Console.find(" of 6442450944 sectors"), std::string::npos) << Tail(Run.Console);

    // On the image: the top megabyte holds the pattern at its place, but
    // for the sector that failed; nothing landed where sector numbers cut
    // to 32 bits would have put it.
    const uint64_t Top = (Sectors - 2048) * 512;
    const auto Written = ReadAt(Big, Top, 2048 * 512);
    ASSERT_EQ(Written.size(), 2048u * 512);
    const uint8_t Pattern[3] = {0x92, 0x49, 0x24};
    for (size_t At = 0; At < Written.size(); ++At) {
        const bool Failed = At / 512 == Bad - (Sectors - 2048);
        ASSERT_EQ(Written[At], Failed ? 0 : Pattern[(Top + At) % 3]) << "byte " << Top + At;
    }
    const auto Cut = ReadAt(Big, (Sectors - 2048) % (1ull << 32) * 512, 2048 * 512);
    ASSERT_EQ(Cut.size(), 2048u * 512);
    EXPECT_TRUE(AllBytes(Cut, 0));

    const std::string Log = ReadStickFile(Stick, "PURG0001.LOG");
    const std::string Part = ReportOfDisk(Log, 2);
    EXPECT_NE(Part.find("Disk 2 (NVMe): 3072.0 GB, 6442450944 sectors"), std::string::npos) << Log;
    EXPECT_NE(Part.find("Capacity:      6442450944 sectors of 512 bytes"), std::string::npos)
        << Part;
    EXPECT_NE(Part.find("Sector " + std::to_string(Bad) + ": write error"), std::string::npos)
        << Part;
    EXPECT_NE(Part.find("RESULT:        STOPPED by the user"), std::string::npos) << Part;
    EXPECT_EQ(Part.find("2 TB"), std::string::npos) << Part;
    const std::string Record = ReadStickFile(Stick, "PURG0001.REC");
    EXPECT_NE(Record.find("sectors=6442450944\r\nsector_bytes=512\r\n"), std::string::npos)
        << Record;
    EXPECT_NE(Record.find("errors=" + std::to_string(Bad) + "W\r\n"), std::string::npos) << Record;
    EXPECT_NE(Record.find("outcome=stopped\r\n"), std::string::npos) << Record;
    const auto Table = ExpectRecordsReport(Stick, {"stopped: stopped by the user"}, false);
    EXPECT_NE(Table.find("3072.0 GB"), std::string::npos) << Table;
}

// Disks of 4 KB logical sectors (NVMe, virtio-blk, virtio-scsi; QEMU's
// IDE and AHCI disks take only 512-byte sectors) are offered and
// erased; every request moves whole sectors of 4 KB, and so does the
// retry of a request that failed: the sector holding the injected write
// error keeps all its old 4 KB, its neighbours take the pattern. Option
// 10's partition table fills the first 4 KB sector (fdisk reads it with
// 4 KB sectors). Report and record name the sector size.
TEST(QemuUefi, DisksOfFourKilobyteSectorsAreErasedInWholeSectors) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    const std::string Stick = MakeEfiStick(Dir, "100110100110", "/ALL /M:THREE /TRACE /OFF");
    PutThreeByteMethod(Dir, Stick);
    const size_t Sectors = 5000; // 625 sectors of 4 KB: three requests, the last short
    const std::string Nvme = MakeScratchDisk(Dir, "nvme.img", Sectors);
    const std::string Virtio = MakeScratchDisk(Dir, "virtio.img", Sectors);
    const std::string Scsi = MakeScratchDisk(Dir, "scsi.img", Sectors);
    const auto NvmeBefore = ReadFileBytes(Nvme);
    // Byte sector 3003 lies in 4 KB sector 375.
    WriteFileBytes(Dir / "errors.cfg",
                   "[inject-error]\nevent = \"write_aio\"\nerrno = \"5\"\nsector = \"3003\"\n");
    const std::string FourK = "logical_block_size=4096,physical_block_size=4096";
    const auto Run = RunOvmf(Dir, Stick,
                             "-drive file=blkdebug:" + (Dir / "errors.cfg").string() + ":" + Nvme +
                                 ",format=raw,if=none,id=n -device nvme,drive=n,serial=FOURK," +
                                 FourK + " -drive file=" + ShellQuote(Virtio) +
                                 ",format=raw,if=none,id=v -device virtio-blk-pci,drive=v," +
                                 FourK + " -drive file=" + ShellQuote(Scsi) +
                                 ",format=raw,if=none,id=s -device virtio-scsi-pci,id=scsi"
                                 " -device scsi-hd,drive=s,bus=scsi.0," +
                                 FourK,
                             "", 200);
    ASSERT_TRUE(Run.Exited) << Tail(Run.Trace) << Tail(Run.Console);
    const std::string& T = Run.Trace;
    EXPECT_EQ(CountOf(T, "\nW 0 256\n"), 3) << Tail(T);
    EXPECT_EQ(CountOf(T, "\nW 512 113\n"), 3) << Tail(T);
    EXPECT_NE(T.find("ERROR W 375\n"), std::string::npos) << Tail(T);
    // The retry: sector by sector of 4 KB, each write one sector.
    EXPECT_NE(T.find("\nW 375 1\n"), std::string::npos) << Tail(T);

    const uint8_t Pattern[3] = {0x92, 0x49, 0x24};
    const auto NvmeAfter = ReadFileBytes(Nvme), VirtioAfter = ReadFileBytes(Virtio),
               ScsiAfter = ReadFileBytes(Scsi);
    ASSERT_EQ(NvmeAfter.size(), Sectors * 512);
    ASSERT_EQ(VirtioAfter.size(), Sectors * 512);
    ASSERT_EQ(ScsiAfter.size(), Sectors * 512);
    for (size_t At = 4096; At < VirtioAfter.size(); ++At) {
        ASSERT_EQ(VirtioAfter[At], Pattern[At % 3]) << "virtio byte " << At;
        ASSERT_EQ(ScsiAfter[At], Pattern[At % 3]) << "SCSI byte " << At;
    }
    for (size_t At = 4096; At < NvmeAfter.size(); ++At)
        ASSERT_EQ(NvmeAfter[At], At / 4096 == 375 ? NvmeBefore[At] : Pattern[At % 3])
            << "NVMe byte " << At;
    for (const auto& [Image, Bytes] :
         {std::pair{Nvme, NvmeAfter}, std::pair{Virtio, VirtioAfter}, std::pair{Scsi, ScsiAfter}}) {
        EXPECT_TRUE(AllBytes({Bytes.begin() + 512, Bytes.begin() + 4096}, 0)) << Image;
        const auto Table = RunCommand("fdisk -l -b 4096 " + ShellQuote(Image));
        EXPECT_TRUE(std::regex_search(Table.Output,
                                      std::regex("img1 +1 +624 +624 .* c W95 FAT32 \\(LBA\\)")))
            << Table.Output;
    }

    const std::string Log = ReadStickFile(Stick, "PURG0001.LOG");
    const std::string NvmePart = ReportOfDisk(Log, 2), VirtioPart = ReportOfDisk(Log, 3),
                      ScsiPart = ReportOfDisk(Log, 4);
    for (const auto& Part : {NvmePart, VirtioPart, ScsiPart})
        EXPECT_NE(Part.find("Capacity:      625 sectors of 4096 bytes (2 MB)"), std::string::npos)
            << Log;
    EXPECT_NE(NvmePart.find("Sector 375: write error"), std::string::npos) << NvmePart;
    EXPECT_NE(NvmePart.find("ERASED WITH ERRORS"), std::string::npos) << NvmePart;
    EXPECT_NE(VirtioPart.find("passed (1 pass read back and compared)"), std::string::npos)
        << VirtioPart;
    EXPECT_NE(VirtioPart.find("RESULT:        OK"), std::string::npos) << VirtioPart;
    EXPECT_NE(ScsiPart.find("(SCSI)"), std::string::npos) << ScsiPart;
    EXPECT_NE(ScsiPart.find("RESULT:        OK"), std::string::npos) << ScsiPart;
    const std::string Record = ReadStickFile(Stick, "PURG0001.REC");
    EXPECT_EQ(CountOf(Record, "sectors=625\r\nsector_bytes=4096\r\n"), 3) << Record;
}

} // namespace

#endif
