// Where the wiper's report goes when it starts from a CD, whose floppy is
// read-only: a FAT12 floppy in B:, a FAT32 partition on a second hard disk,
// the drive /L: names; never a drive on a disk chosen for erasing. The disc
// is the one purgex iso makes; the report is read back with mtools and the
// file systems are judged by fsck.fat.
#include <gtest/gtest.h>

#ifndef _WIN32

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

#include "QemuWiperSupport.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

#ifdef PURGEX_CLI
// Unattended ZERO with verify and a report, without the mouse.
std::string MakeDisc(const TScratchDir& Dir, const std::string& Parameters) {
    const std::string Iso = (Dir / "Purgit.ISO").string();
    const auto Made =
        RunCommand(std::string(PURGEX_CLI) + " iso " + ShellQuote(Iso) +
                   " --yes --os rxdos --options 100100100001 --params " + ShellQuote(Parameters));
    EXPECT_EQ(Made.ExitCode, 0) << Made.Output;
    return Iso;
}
#endif

TWipeRun RunDisc(const TScratchDir& Dir, const std::string& Iso, const std::string& Drives,
                 const std::string& Extra = "") {
    const fs::path TraceFile = Dir / "trace.txt";
    TQemuOptions Options;
    Options.Cdrom = Iso;
    Options.BootFromCd = true;
    Options.WaitForText = "Erase finished";
    Options.TimeoutSeconds = 90;
    Options.ExtraArguments =
        Drives + " -debugcon file:" + ShellQuote(TraceFile.string()) + " " + Extra;
    TWipeRun Run;
    Run.Qemu = RunQemu(Options);
    Run.Trace = ReadTextIfAny(TraceFile);
    return Run;
}

const TPartition Fat16{63, 8000, "6", "16"};
const TPartition Fat32{2048, 79872, "c", "32"};

} // namespace

#ifdef PURGEX_CLI

TEST(QemuWiperLog, DiscBootPutsTheReportOnTheFloppyInB) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    const std::string Iso = MakeDisc(Dir, "/M:ZERO /D:1 /TRACE");
    const std::string Disk = MakeScratchDisk(Dir, "disk.img", 2048);
    const std::string Floppy = (Dir / "b.img").string();
    RunOrFail("mkfs.fat -C " + ShellQuote(Floppy) + " 1440 >/dev/null");
    // Under the disc's floppy emulation the BIOS numbers QEMU's first
    // floppy drive 01h: DOS's B:.
    const auto Run = RunDisc(Dir, Iso,
                             IdeDrive(Disk) + " -drive file=" + ShellQuote(Floppy) +
                                 ",if=floppy,index=0,format=raw");
    ASSERT_TRUE(Run.Qemu.SawText) << Run.Qemu.Screen << Run.Qemu.Log << Run.Trace;
    EXPECT_NE(Run.Qemu.Screen.find("Report written to B:\\PURG0001.LOG"), std::string::npos)
        << Run.Qemu.Screen;
    EXPECT_NE(Run.Trace.find("REPORT DRIVES AB\n"), std::string::npos) << Run.Trace;
    EXPECT_TRUE(AllBytes(ReadFileBytes(Disk), 0));

    const std::string Log = ReadLog(Floppy);
    EXPECT_NE(Log.find("Disk 1 (80h): 1 MB, 2048 sectors"), std::string::npos) << Log;
    EXPECT_NE(Log.find("Method:       One pass of zeros (ZERO.MET)"), std::string::npos) << Log;
    EXPECT_NE(Log.find("Verification: passed"), std::string::npos) << Log;
    ExpectFloppyClean(Floppy);
}

TEST(QemuWiperLog, DiscBootPutsTheReportOnAFat32PartitionNeverOnTheErasedDisk) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    const std::string Iso = MakeDisc(Dir, "/M:ZERO /D:1 /TRACE");
    // Disk 1 carries C: and is erased; disk 2 carries D:.
    const std::string Erased = MakePartitionedDisk(Dir, "disk1.img", 8192, {Fat16});
    const std::string Kept = MakePartitionedDisk(Dir, "disk2.img", 81920, {Fat32});
    const auto Run = RunDisc(Dir, Iso, IdeDrive(Erased, 0) + " " + IdeDrive(Kept, 1));
    ASSERT_TRUE(Run.Qemu.SawText) << Run.Qemu.Screen << Run.Qemu.Log << Run.Trace;
    EXPECT_NE(Run.Qemu.Screen.find("Report written to D:\\PURG0001.LOG"), std::string::npos)
        << Run.Qemu.Screen;
    // C: is left out before anything is erased (A: is the disc's floppy).
    EXPECT_NE(Run.Trace.find("REPORT DRIVES AD\n"), std::string::npos) << Run.Trace;
    EXPECT_TRUE(AllBytes(ReadFileBytes(Erased), 0)) << "the erased disk holds more than zeros";

    const std::string Log = ReadLog(PartitionImage(Kept, Fat32));
    EXPECT_NE(Log.find("Disk 1 (80h): 4 MB, 8192 sectors"), std::string::npos) << Log;
    EXPECT_NE(Log.find("Result:       OK"), std::string::npos) << Log;
    ExpectPartitionClean(Dir, Kept, Fat32);
    // purgex report finds the record in the disk image's FAT32 partition.
    ExpectRecordsReport(Kept, {"erased"}, false);
}

TEST(QemuWiperLog, NamedDriveComesBeforeOtherDrivesAndDisksNotErasedStayUsable) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    const std::string Iso = MakeDisc(Dir, "/M:ZERO /D:3 /L:D /TRACE");
    const std::string First = MakePartitionedDisk(Dir, "disk1.img", 8192, {Fat16});
    const std::string Second = MakePartitionedDisk(Dir, "disk2.img", 81920, {Fat32});
    const std::string Erased = MakeScratchDisk(Dir, "disk3.img", 1024);
    const auto Run = RunDisc(Dir, Iso,
                             IdeDrive(First, 0) + " " + IdeDrive(Second, 1) + " " +
                                 IdeDrive(Erased, 3)); // index 2 is the CD
    ASSERT_TRUE(Run.Qemu.SawText) << Run.Qemu.Screen << Run.Qemu.Log << Run.Trace;
    // Both partitions may take it; /L:D puts D: before C:.
    EXPECT_NE(Run.Trace.find("REPORT DRIVES ADC\n"), std::string::npos) << Run.Trace;
    EXPECT_NE(Run.Qemu.Screen.find("Report written to D:\\PURG0001.LOG"), std::string::npos)
        << Run.Qemu.Screen;
    EXPECT_TRUE(AllBytes(ReadFileBytes(Erased), 0));

    const std::string Log = ReadLog(PartitionImage(Second, Fat32));
    EXPECT_NE(Log.find("Disk 3 (82h)"), std::string::npos) << Log;
    const auto OnC = RunCommand("MTOOLS_SKIP_CHECK=1 mdir -b -i " +
                                ShellQuote(PartitionImage(First, Fat16)) + " ::");
    EXPECT_EQ(OnC.Output.find("PURG"), std::string::npos) << OnC.Output;
    ExpectPartitionClean(Dir, First, Fat16);
    ExpectPartitionClean(Dir, Second, Fat32);
}

TEST(QemuWiperLog, ADiskLeftReadableByAStoppedEraseStillNeverTakesTheReport) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    // Back to front, stoppable: Esc and S after the first write leave the
    // erased disk's FAT16 drive C: whole, so only the rule keeps the report
    // off it (C: comes before D:).
    const std::string Iso = (Dir / "Purgit.ISO").string();
    const auto Made = RunCommand(std::string(PURGEX_CLI) + " iso " + ShellQuote(Iso) +
                                 " --yes --os rxdos --options 010101100001 --params " +
                                 ShellQuote("/M:ZERO /D:1 /TRACE"));
    ASSERT_EQ(Made.ExitCode, 0) << Made.Output;
    const std::string Erased = MakePartitionedDisk(Dir, "disk1.img", 8192, {Fat16});
    const std::string Kept = MakePartitionedDisk(Dir, "disk2.img", 81920, {Fat32});
    const std::string Socket = (Dir / "keys").string();
    int Step = 0;
    TMonitorFeeder Keys(Socket, std::chrono::milliseconds(50), [&]() -> std::optional<std::string> {
        if (Step == 0 && ReadTextIfAny(Dir / "trace.txt").find("\nW ") == std::string::npos)
            return std::string();
        if (Step++ < 2) return std::string(Step == 1 ? "sendkey esc\n" : "sendkey s\n");
        return std::nullopt;
    });
    const auto Run =
        RunDisc(Dir, Iso, IdeDrive(Erased, 0) + " " + IdeDrive(Kept, 1), MonitorArgument(Socket));
    Keys.Finish();
    ASSERT_TRUE(Run.Qemu.SawText) << Run.Qemu.Screen << Run.Qemu.Log << Run.Trace;
    EXPECT_NE(Run.Trace.find("END STOPPED"), std::string::npos) << Run.Trace;
    EXPECT_NE(Run.Qemu.Screen.find("Report written to D:\\PURG0001.LOG"), std::string::npos)
        << Run.Qemu.Screen;
    const auto OnC = RunCommand("MTOOLS_SKIP_CHECK=1 mdir -b -i " +
                                ShellQuote(PartitionImage(Erased, Fat16)) + " ::");
    EXPECT_EQ(OnC.ExitCode, 0) << "C: should still be readable: " << OnC.Output;
    EXPECT_EQ(OnC.Output.find("PURG"), std::string::npos) << OnC.Output;
    const std::string Log = ReadLog(PartitionImage(Kept, Fat32));
    EXPECT_NE(Log.find("STOPPED by the user"), std::string::npos) << Log;
}

#endif

// A long report (Gutmann on four disks, laid out as a sanitization record)
// is written whole: the report grows outside the program's segment, where
// a 6 KB buffer once cut it short. Its record has a section per pass.
TEST(QemuWiperLog, LongReportOfManyPassesAndDisksIsWrittenWhole) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    const std::string Floppy =
        MakeConfiguredWiperFloppy(Dir, "100110100001", "Purgit /M:GUTMANN /ALL\r\n");
    std::string Drives;
    for (int i = 0; i < 4; ++i)
        Drives += IdeDrive(MakeScratchDisk(Dir, "disk" + std::to_string(i) + ".img", 64), i) + " ";
    const auto Run = RunWiper(Dir, Floppy, Drives, "Erase finished", 150);
    ASSERT_TRUE(Run.Qemu.SawText) << Run.Qemu.Screen << Run.Qemu.Log;
    const std::string Log = ReadLog(Floppy);
    EXPECT_GT(Log.size(), 6144u);
    EXPECT_EQ(CountOf(Log, "  RESULT:        OK\r\n"), 4) << Log;
    // It ends with the witness's lines.
    const std::string Last = "Date:                 ______________________________\r\n";
    EXPECT_EQ(Log.rfind(Last), Log.size() - Last.size())
        << Log.substr(Log.size() > 300 ? Log.size() - 300 : 0);
    const std::string Record = ReadLog(Floppy, "PURG0001.REC");
    EXPECT_EQ(CountOf(Record, "[pass "), 4 * 35) << Record.size();
    ExpectRecordsReport(Floppy, std::vector<std::string>(4, "erased"), false);
}

#endif