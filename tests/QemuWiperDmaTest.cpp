// Option 11 in QEMU: the wiper's bus-master DMA on the PC's PIIX IDE
// controller, judged from the disk images and from QEMU's own trace of the
// ATA commands its drives executed; the BIOS fall-back on a machine without
// PCI; errors under DMA; a disk that vanishes in the middle of its erase.
#include <gtest/gtest.h>

#ifndef _WIN32

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>
#include <vector>

#include "QemuWiperSupport.h"

using namespace testing_support;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

// Verify, report, unattended, DMA; no mouse.
const std::string DmaFlags = "100100100011";

enum : unsigned { ReadDma = 0xC8, WriteDma = 0xCA, ReadDmaExt = 0x25, WriteDmaExt = 0x35 };
// Every command that writes sectors by PIO, 28- and 48-bit.
const unsigned PioWrites[] = {0x30, 0x31, 0x34, 0x39, 0xC5};

// How often QEMU's IDE devices executed each ATA command.
std::map<unsigned, int> AtaCommands(const fs::path& QemuTrace) {
    std::map<unsigned, int> Count;
    std::istringstream In(ReadTextIfAny(QemuTrace));
    std::string Line;
    while (std::getline(In, Line)) {
        const auto At = Line.find("cmd 0x");
        if (Line.find("ide_exec_cmd") != std::string::npos && At != std::string::npos)
            ++Count[unsigned(std::stoul(Line.substr(At + 6), nullptr, 16))];
    }
    return Count;
}

// DMA commands that read (or write), 28- and 48-bit.
int DmaCommands(const std::map<unsigned, int>& Commands, bool Write) {
    int Sum = 0;
    for (const unsigned Command : Write ? std::vector<unsigned>{WriteDma, WriteDmaExt}
                                        : std::vector<unsigned>{ReadDma, ReadDmaExt})
        if (Commands.count(Command)) Sum += Commands.at(Command);
    return Sum;
}

// Lines of the wiper's trace that start with Prefix.
int TraceLines(const std::string& Trace, const std::string& Prefix) {
    return CountOf("\n" + Trace, "\n" + Prefix);
}

struct TDmaRun {
    TWipeRun Wipe;
    std::map<unsigned, int> Commands;
};

TDmaRun RunWithAtaTrace(const TScratchDir& Dir, const std::string& Floppy,
                        const std::string& Drives, const std::string& Extra = "") {
    const fs::path QemuTrace = Dir / "ata.txt";
    fs::remove(QemuTrace);
    TDmaRun Run;
    Run.Wipe = RunWiper(Dir, Floppy, Drives, "Erase finished", 90,
                        "-trace ide_exec_cmd -D " + ShellQuote(QemuTrace.string()) + " " + Extra);
    Run.Commands = AtaCommands(QemuTrace);
    return Run;
}

void ExpectNoPioWrites(const std::map<unsigned, int>& Commands) {
    for (const unsigned Command : PioWrites)
        EXPECT_EQ(Commands.count(Command), 0u) << "PIO write command " << std::hex << Command;
}

} // namespace

// Two disks on both channels, one master and one slave, of sizes that are no
// multiple of a request: both end as zeros, every request was a READ or
// WRITE DMA the drives executed, and no sector was written by PIO. Zeros
// repeat one buffer, so each disk takes a single 48-bit write; the read-back
// moves four blocks a request.
TEST(QemuWiperDma, ZerosGoThroughTheBusMasterToTheRightDriveOnBothChannels) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    const std::string Floppy =
        MakeConfiguredWiperFloppy(Dir, DmaFlags, "Purgit /M:ZERO /ALL /TRACE\r\n");
    const std::string First = MakeScratchDisk(Dir, "first.img", 3001);
    const std::string Second = MakeScratchDisk(Dir, "second.img", 1500);
    const auto Run = RunWithAtaTrace(Dir, Floppy, IdeDrive(First, 0) + " " + IdeDrive(Second, 3));
    ASSERT_TRUE(Run.Wipe.Qemu.SawText)
        << Run.Wipe.Qemu.Screen << Run.Wipe.Qemu.Log << Run.Wipe.Trace;

    EXPECT_TRUE(AllBytes(ReadFileBytes(First), 0)) << "the primary master still holds other bytes";
    EXPECT_TRUE(AllBytes(ReadFileBytes(Second), 0))
        << "the secondary slave still holds other bytes";
    EXPECT_EQ(TraceLines(Run.Wipe.Trace, "PATH DMA"), 2) << Run.Wipe.Trace;
    EXPECT_EQ(TraceLines(Run.Wipe.Trace, "PATH BIOS"), 0) << Run.Wipe.Trace;
    EXPECT_EQ(TraceLines(Run.Wipe.Trace, "W "), 2) << Run.Wipe.Trace;
    EXPECT_EQ(TraceLines(Run.Wipe.Trace, "W 0 3001\n"), 1) << Run.Wipe.Trace;
    EXPECT_EQ(TraceLines(Run.Wipe.Trace, "W 0 1500\n"), 1) << Run.Wipe.Trace;
    // 3001 = 5 * 508 + 461 and 1500 = 2 * 508 + 484: full reads and a short last one.
    EXPECT_EQ(TraceLines(Run.Wipe.Trace, "R 2540 461\n"), 1) << Run.Wipe.Trace;
    EXPECT_EQ(TraceLines(Run.Wipe.Trace, "R 1016 484\n"), 1) << Run.Wipe.Trace;
    ASSERT_TRUE(Run.Commands.count(WriteDmaExt)) << "QEMU executed no WRITE DMA EXT";
    EXPECT_EQ(Run.Commands.at(WriteDmaExt), 2);
    ASSERT_TRUE(Run.Commands.count(ReadDmaExt)) << "QEMU executed no READ DMA EXT";
    EXPECT_EQ(DmaCommands(Run.Commands, true), TraceLines(Run.Wipe.Trace, "W "));
    EXPECT_EQ(DmaCommands(Run.Commands, false), TraceLines(Run.Wipe.Trace, "R "));
    ExpectNoPioWrites(Run.Commands);

    const std::string Log = ReadLog(Floppy);
    EXPECT_NE(Log.find("Transfers:    bus-master DMA (PCI IDE 8086:7010, primary master)"),
              std::string::npos)
        << Log;
    EXPECT_NE(Log.find("Transfers:    bus-master DMA (PCI IDE 8086:7010, secondary slave)"),
              std::string::npos)
        << Log;
    EXPECT_EQ(CountOf(Log, "Verification: passed"), 2) << Log;
    EXPECT_NE(Run.Wipe.Qemu.Screen.find("QEMU HARDDISK, bus-master DMA"), std::string::npos)
        << Run.Wipe.Qemu.Screen;
    ExpectFloppyClean(Floppy);
}

// A random pass read back through DMA: the wiper's verification (which
// regenerates the stream) passes, and every sector changed.
TEST(QemuWiperDma, RandomPassReadBackThroughTheBusMasterVerifies) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    const std::string Floppy =
        MakeConfiguredWiperFloppy(Dir, DmaFlags, "Purgit /M:RANDOM /D:1 /TRACE\r\n");
    const std::string Disk = MakeScratchDisk(Dir, "disk.img", 2000);
    const auto Before = ReadFileBytes(Disk);
    const auto Run = RunWithAtaTrace(Dir, Floppy, IdeDrive(Disk));
    ASSERT_TRUE(Run.Wipe.Qemu.SawText)
        << Run.Wipe.Qemu.Screen << Run.Wipe.Qemu.Log << Run.Wipe.Trace;

    const auto After = ReadFileBytes(Disk);
    ASSERT_EQ(After.size(), Before.size());
    for (size_t At = 0; At < After.size(); At += 512) {
        const std::vector<uint8_t> Sector(After.begin() + long(At), After.begin() + long(At) + 512);
        ASSERT_FALSE(std::equal(Sector.begin(), Sector.end(), Before.begin() + long(At)))
            << "sector " << At / 512 << " unchanged";
        ASSERT_FALSE(AllBytes(Sector, 0)) << "sector " << At / 512 << " holds zeros";
    }
    EXPECT_EQ(TraceLines(Run.Wipe.Trace, "PATH DMA"), 1) << Run.Wipe.Trace;
    // Random data cannot repeat a buffer: one block a write. The read-back
    // of the whole disk went through DMA as well, four blocks a request.
    EXPECT_EQ(TraceLines(Run.Wipe.Trace, "W "), 16) << Run.Wipe.Trace;
    EXPECT_EQ(TraceLines(Run.Wipe.Trace, "R 1524 476\n"), 1) << Run.Wipe.Trace;
    EXPECT_EQ(DmaCommands(Run.Commands, true), TraceLines(Run.Wipe.Trace, "W "));
    EXPECT_EQ(DmaCommands(Run.Commands, false), TraceLines(Run.Wipe.Trace, "R "));
    ExpectNoPioWrites(Run.Commands);
    const std::string Log = ReadLog(Floppy);
    EXPECT_NE(Log.find("Verification: passed (1 pass read back and compared)"), std::string::npos)
        << Log;
    EXPECT_NE(Log.find("Result:       OK"), std::string::npos) << Log;
}

// An ISA PC has no PCI: option 11 says so once and the BIOS erases the disk.
TEST(QemuWiperDma, WithoutPciTheBiosErasesAndTheReportSaysWhy) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    const std::string Floppy =
        MakeConfiguredWiperFloppy(Dir, DmaFlags, "Purgit /M:ZERO /D:1 /TRACE\r\n");
    const std::string Disk = MakeScratchDisk(Dir, "disk.img", 1000);
    const auto Run = RunWithAtaTrace(Dir, Floppy, IdeDrive(Disk), "-M isapc");
    ASSERT_TRUE(Run.Wipe.Qemu.SawText)
        << Run.Wipe.Qemu.Screen << Run.Wipe.Qemu.Log << Run.Wipe.Trace;

    EXPECT_TRUE(AllBytes(ReadFileBytes(Disk), 0));
    EXPECT_EQ(TraceLines(Run.Wipe.Trace, "PATH BIOS no PCI"), 1) << Run.Wipe.Trace;
    EXPECT_EQ(TraceLines(Run.Wipe.Trace, "PATH DMA"), 0) << Run.Wipe.Trace;
    EXPECT_EQ(DmaCommands(Run.Commands, true) + DmaCommands(Run.Commands, false), 0);
    const std::string Log = ReadLog(Floppy);
    EXPECT_NE(Log.find("Transfers:    BIOS INT 13h AH=42h/43h (option 11: no PCI"),
              std::string::npos)
        << Log;
    EXPECT_NE(Log.find("Result:       OK"), std::string::npos) << Log;
}

// A drive that stops answering DMA in time: transfers throttled to 5,000
// bytes a second hold the second request (the single write of 600 sectors,
// after the 127-sector probe read) for some 13 s. The wiper gives up after
// 8 s, resets the channel, says once that the BIOS takes over, and the BIOS
// erases the rest (the throttle is lifted through the monitor as soon as
// the trace shows the fall-back).
TEST(QemuWiperDma, TransferThatTimesOutHandsTheRestOfTheDiskToTheBios) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    const std::string Floppy =
        MakeConfiguredWiperFloppy(Dir, DmaFlags, "Purgit /M:ZERO /D:1 /TRACE\r\n");
    const std::string Disk = MakeScratchDisk(Dir, "disk.img", 600);
    const fs::path Trace = Dir / "trace.txt";
    const std::string Socket = (Dir / "monitor").string();
    bool Lifted = false;
    TMonitorFeeder Feeder(Socket, 100ms, [&]() -> std::optional<std::string> {
        if (Lifted) return std::nullopt;
        if (TraceLines(ReadTextIfAny(Trace), "PATH BIOS") < 1) return "";
        Lifted = true;
        return "block_set_io_throttle slow 0 0 0 0 0 0\n";
    });
    const std::string Drive = "-drive file=" + ShellQuote(Disk) +
                              ",if=ide,index=0,format=raw,id=slow,throttling.bps-total=5000";
    const auto Run = RunWithAtaTrace(Dir, Floppy, Drive, MonitorArgument(Socket));
    Feeder.Finish();
    ASSERT_TRUE(Run.Wipe.Qemu.SawText)
        << Run.Wipe.Qemu.Screen << Run.Wipe.Qemu.Log << Run.Wipe.Trace;
    EXPECT_TRUE(Lifted);

    EXPECT_TRUE(AllBytes(ReadFileBytes(Disk), 0));
    EXPECT_EQ(TraceLines(Run.Wipe.Trace, "PATH DMA"), 1) << Run.Wipe.Trace;
    EXPECT_EQ(TraceLines(Run.Wipe.Trace, "PATH BIOS a DMA transfer timed out"), 1)
        << Run.Wipe.Trace;
    EXPECT_EQ(TraceLines(Run.Wipe.Trace, "ERROR"), 0) << Run.Wipe.Trace;
    // DMA wrote until the timeout, the BIOS after it.
    EXPECT_GE(DmaCommands(Run.Commands, true), 1);
    const std::string Log = ReadLog(Floppy);
    EXPECT_NE(
        Log.find("Transfers:    BIOS INT 13h AH=42h/43h (option 11: a DMA transfer timed out)"),
        std::string::npos)
        << Log;
    EXPECT_NE(Log.find("Verification: passed"), std::string::npos) << Log;
    EXPECT_NE(Log.find("Result:       OK"), std::string::npos) << Log;
}

// Errors injected below the drive while DMA moves the data: each failing
// sector is listed by number, as through the BIOS, and the rest is erased.
TEST(QemuWiperDma, InjectedErrorsUnderDmaAreListedBySector) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    const std::string Floppy =
        MakeConfiguredWiperFloppy(Dir, DmaFlags, "Purgit /M:ZERO /D:1 /TRACE\r\n");
    const std::string Disk = MakeScratchDisk(Dir, "disk.img", 2048);
    const auto Before = ReadFileBytes(Disk);
    WriteFileBytes(Dir / "errors.cfg", "[inject-error]\nevent = \"write_aio\"\nerrno = \"5\"\n"
                                       "sector = \"900\"\n\n"
                                       "[inject-error]\nevent = \"read_aio\"\nerrno = \"5\"\n"
                                       "sector = \"1700\"\n");
    const std::string Drive = "-drive file=blkdebug:" + (Dir / "errors.cfg").string() + ":" + Disk +
                              ",if=ide,index=0,format=raw";
    const auto Run = RunWithAtaTrace(Dir, Floppy, Drive);
    ASSERT_TRUE(Run.Wipe.Qemu.SawText)
        << Run.Wipe.Qemu.Screen << Run.Wipe.Qemu.Log << Run.Wipe.Trace;

    EXPECT_EQ(TraceLines(Run.Wipe.Trace, "PATH DMA"), 1) << Run.Wipe.Trace;
    EXPECT_EQ(TraceLines(Run.Wipe.Trace, "PATH BIOS"), 0) << Run.Wipe.Trace;
    EXPECT_EQ(TraceLines(Run.Wipe.Trace, "ERROR W 900"), 1) << Run.Wipe.Trace;
    EXPECT_EQ(TraceLines(Run.Wipe.Trace, "ERROR R 1700"), 1) << Run.Wipe.Trace;
    // The failed large write was retried block by block, the failing block
    // sector by sector, all by DMA.
    EXPECT_EQ(TraceLines(Run.Wipe.Trace, "W 0 2048\n"), 1) << Run.Wipe.Trace;
    EXPECT_EQ(TraceLines(Run.Wipe.Trace, "W 889 127\n"), 1) << Run.Wipe.Trace;
    EXPECT_EQ(TraceLines(Run.Wipe.Trace, "W 900 1\n"), 1) << Run.Wipe.Trace;
    EXPECT_EQ(DmaCommands(Run.Commands, true), TraceLines(Run.Wipe.Trace, "W "));
    ExpectNoPioWrites(Run.Commands);
    const auto After = ReadFileBytes(Disk);
    for (size_t Sector = 0; Sector < 2048; ++Sector) {
        const std::vector<uint8_t> Data(After.begin() + long(Sector * 512),
                                        After.begin() + long(Sector * 512 + 512));
        if (Sector == 900)
            EXPECT_TRUE(std::equal(Data.begin(), Data.end(), Before.begin() + long(Sector * 512)));
        else
            ASSERT_TRUE(AllBytes(Data, 0)) << "sector " << Sector;
    }
    const std::string Log = ReadLog(Floppy);
    EXPECT_NE(Log.find("Errors:       1 write, 1 read, 1 verification"), std::string::npos) << Log;
    EXPECT_NE(Log.find("Sector 900: write error"), std::string::npos) << Log;
    EXPECT_NE(Log.find("Sector 1700: read error"), std::string::npos) << Log;
    EXPECT_NE(Log.find("Result:       ERASED WITH ERRORS"), std::string::npos) << Log;
}

// The first of two disks is pulled (its drive deleted through the monitor)
// while the wiper writes it: that erase ends at once with the message for a
// disk that no longer answers, after one block's retries rather than the
// rest of the disk's, and the second disk is erased completely. Flags
// choose the path (option 11), Path is the trace's name for it; the drive
// goes after Writes write requests (DMA moves zeros 32 MB a request).
static void ExpectVanishingDiskEndsItsEraseAndTheRunGoesOn(const std::string& Flags,
                                                           const std::string& Path, int Writes) {
    TScratchDir Dir;
    const std::string Floppy =
        MakeConfiguredWiperFloppy(Dir, Flags, "Purgit /M:ZERO /ALL /TRACE\r\n");
    const std::string Large = MakeSparseDisk(Dir, "large.img", 1ull << 30);
    const std::string Second = MakeScratchDisk(Dir, "second.img", 1024);
    const fs::path Trace = Dir / "trace.txt";
    const std::string Socket = (Dir / "monitor").string();
    bool Pulled = false;
    TMonitorFeeder Feeder(Socket, 50ms, [&]() -> std::optional<std::string> {
        if (Pulled) return std::nullopt;
        if (TraceLines(ReadTextIfAny(Trace), "W ") < Writes) return "";
        Pulled = true;
        return "drive_del large\n";
    });
    const std::string Drives = "-drive file=" + ShellQuote(Large) +
                               ",if=ide,index=0,format=raw,id=large " + IdeDrive(Second, 2);
    const auto Run = RunWithAtaTrace(Dir, Floppy, Drives, MonitorArgument(Socket));
    Feeder.Finish();
    ASSERT_TRUE(Pulled) << Run.Wipe.Trace.substr(0, 2000);
    ASSERT_TRUE(Run.Wipe.Qemu.SawText) << Run.Wipe.Qemu.Screen << Run.Wipe.Qemu.Log;

    const std::string& T = Run.Wipe.Trace;
    const auto Vanished = T.find("END VANISHED\n");
    ASSERT_NE(Vanished, std::string::npos) << T.substr(T.size() > 3000 ? T.size() - 3000 : 0);
    EXPECT_EQ(TraceLines(T.substr(0, Vanished), Path), 1);
    // One block retried sector by sector, then the end: not the rest of 2
    // million sectors.
    const int Failed = TraceLines(T.substr(0, Vanished), "ERROR W ");
    EXPECT_GE(Failed, 1);
    EXPECT_LE(Failed, 127);
    EXPECT_LT(TraceLines(T.substr(0, Vanished), "W "), 20000);
    // The second disk came after and is erased everywhere.
    EXPECT_EQ(TraceLines(T.substr(Vanished), Path), 1) << T.substr(Vanished);
    EXPECT_TRUE(AllBytes(ReadFileBytes(Second), 0));
    EXPECT_NE(Run.Wipe.Qemu.Screen.find("STOPPED: the disk no longer answers"), std::string::npos)
        << Run.Wipe.Qemu.Screen;
    EXPECT_NE(Run.Wipe.Qemu.Screen.find("Erase finished with errors or stopped."),
              std::string::npos)
        << Run.Wipe.Qemu.Screen;
    const std::string Log = ReadLog(Floppy);
    EXPECT_NE(Log.find("Result:       STOPPED: the disk no longer answers"), std::string::npos)
        << Log;
    EXPECT_NE(Log.find("Result:       OK"), std::string::npos) << Log;
    ExpectRecordsReport(Floppy, {"failed: the disk no longer answers", "erased"}, false);
}

TEST(QemuWiperDma, DiskVanishingMidEraseEndsItsEraseAndTheRunGoesOn) {
    REQUIRE_HOST_TOOLS();
    ExpectVanishingDiskEndsItsEraseAndTheRunGoesOn(DmaFlags, "PATH DMA", 2);
}

TEST(QemuWiperDma, DiskVanishingMidEraseThroughTheBiosEndsAsQuickly) {
    REQUIRE_HOST_TOOLS();
    ExpectVanishingDiskEndsItsEraseAndTheRunGoesOn("100100100001", "PATH BIOS", 40);
}

#endif
