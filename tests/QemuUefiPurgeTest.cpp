// PURGIT.EFI's purge under QEMU with Debian's OVMF: QEMU's emulated NVMe
// controller takes Format NVM with a user data erase (and offers no
// Sanitize). The disk is judged on the host, the record read back with
// mtools and with purgex report. The booting follows QemuUefiTest.cpp.
#include <gtest/gtest.h>

#ifndef _WIN32

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "QemuUefiSupport.h"
#include "QemuWiperSupport.h"
#include "TestSupport.h"

using namespace testing_support;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Options 1, 4 and 7: read back, report, unattended.
const std::string PurgeOptions = "100100100010";

// The image as one NVMe disk of its own.
std::string NvmeDisk(const std::string& Disk) {
    return "-drive file=" + ShellQuote(Disk) +
           ",format=raw,if=none,id=d0 -device nvme,drive=d0,serial=PURGE1";
}

// The lines of a record section ("[result 2]") up to the next one.
std::string Section(const std::string& Record, const std::string& Name) {
    const auto At = Record.find("[" + Name + "]");
    if (At == std::string::npos) return "";
    const auto End = Record.find("\n[", At + 1);
    return Record.substr(At, End == std::string::npos ? End : End + 1 - At);
}

TEST(QemuUefiPurge, NvmeFormatLeavesZerosAndIsRecordedAsChecked) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    const std::string Stick = MakeEfiStick(Dir, PurgeOptions, "/ALL /M:NVMEFMT /TRACE /OFF");
    const std::string Disk = MakeScratchDisk(Dir, "disk.img", 16384); // not one zero sector
    const auto Run = RunOvmf(Dir, Stick, NvmeDisk(Disk), "", 240);
    const std::string Trace = Run.Trace + Run.Console;
    ASSERT_TRUE(Run.Exited) << Trace;
    EXPECT_NE(Trace.find("PURGE METHOD NVMEFMT\n"), std::string::npos) << Trace;
    EXPECT_NE(Trace.find("PURGE CHECKED checked: 8 marker sectors written before, none reads "
                         "back\n"),
              std::string::npos)
        << Trace;
    EXPECT_NE(Trace.find("SUMMARY OK\n"), std::string::npos) << Trace;
    const auto After = ReadFileBytes(Disk);
    ASSERT_EQ(After.size(), 16384u * 512);
    for (size_t At = 0; At < After.size(); ++At)
        ASSERT_EQ(After[At], 0) << "byte " << At;

    const std::string Record = ReadStickFile(Stick, "PURG0001.REC");
    EXPECT_NE(Record.find("\r\nmethod=NVMEFMT\r\n"), std::string::npos) << Record;
    EXPECT_NE(Record.find("\r\nverification=marker sectors\r\n"), std::string::npos) << Record;
    const std::string Disk2 = Section(Record, "disk 2");
    EXPECT_NE(Disk2.find("\r\ncapabilities=NVMe: Format (user data"), std::string::npos) << Record;
    const std::string Result = Section(Record, "result 2");
    EXPECT_NE(Result.find("\r\npurge=purge, NVMe Format, user data erase, checked\r\n"),
              std::string::npos)
        << Record;
    EXPECT_NE(Result.find("\r\noutcome=purged\r\n"), std::string::npos) << Record;
    const std::string Log = ReadStickFile(Stick, "PURG0001.LOG");
    EXPECT_NE(Log.find("PURGED: NVMe Format, user data erase, checked"), std::string::npos) << Log;
    const auto Table = RunCommand(std::string(PURGEX_CLI) + " report " + ShellQuote(Stick));
    EXPECT_EQ(Table.ExitCode, 0) << Table.Output;
    EXPECT_NE(Table.Output.find("purge, NVMe Format, user data erase, checked"), std::string::npos)
        << Table.Output;
}

// PURGE= in the INI forcing a Sanitize that QEMU's NVMe does not offer:
// nothing is written to the disk and nothing is claimed.
TEST(QemuUefiPurge, SanitizeThatTheDiskLacksIsNotSupportedAndClaimsNothing) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    const std::string Stick = MakeEfiStick(Dir, PurgeOptions, "/ALL /TRACE /OFF");
    const std::string Ini = ReadStickFile(Stick, "Purgit/DATA/PURGIT.INI") + "PURGE=NVMESANB\r\n";
    WriteFileBytes(Dir / "PURGIT.INI", Ini);
    RunOrFail(Mtools + "mcopy -o -i " + ShellQuote(Stick + "@@1048576") + " " +
              ShellQuote((Dir / "PURGIT.INI").string()) + " ::Purgit/DATA/PURGIT.INI");
    const std::string Disk = MakeScratchDisk(Dir, "disk.img", 16384);
    const auto Before = ReadFileBytes(Disk);
    const auto Run = RunOvmf(Dir, Stick, NvmeDisk(Disk), "", 240);
    const std::string Trace = Run.Trace + Run.Console;
    ASSERT_TRUE(Run.Exited) << Trace;
    EXPECT_NE(Trace.find("PURGE FAILED not supported by this disk; nothing was erased\n"),
              std::string::npos)
        << Trace;
    EXPECT_NE(Trace.find("SUMMARY ERRORS\n"), std::string::npos) << Trace;
    EXPECT_TRUE(ReadFileBytes(Disk) == Before) << "the disk was written to";
    const std::string Record = ReadStickFile(Stick, "PURG0001.REC");
    const std::string Result = Section(Record, "result 2");
    EXPECT_NE(Result.find("\r\noutcome=failed\r\nreason=not supported by this disk; nothing was "
                          "erased\r\n"),
              std::string::npos)
        << Record;
    EXPECT_EQ(Record.find("outcome=purged"), std::string::npos) << Record;
    EXPECT_EQ(Record.find(", checked\r\n"), std::string::npos) << Record;
    const std::string Log = ReadStickFile(Stick, "PURG0001.LOG");
    EXPECT_NE(Log.find("NOT PURGED: NVMe Sanitize, block erase, not supported by this disk"),
              std::string::npos)
        << Log;
}

// With a fall-back overwrite method (/F:) the disk that lacks the purge is
// overwritten instead, and the record says why.
TEST(QemuUefiPurge, FallBackOverwritesWhereThePurgeIsNotOffered) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    const std::string Stick = MakeEfiStick(Dir, PurgeOptions, "/ALL /M:NVMESANC /F:ZERO /TRACE /OFF");
    const std::string Disk = MakeScratchDisk(Dir, "disk.img", 16384);
    const auto Run = RunOvmf(Dir, Stick, NvmeDisk(Disk), "", 240);
    const std::string Trace = Run.Trace + Run.Console;
    ASSERT_TRUE(Run.Exited) << Trace;
    EXPECT_NE(Trace.find("PURGE NOT OFFERED, FALL-BACK\n"), std::string::npos) << Trace;
    EXPECT_NE(Trace.find("SUMMARY OK\n"), std::string::npos) << Trace;
    const auto After = ReadFileBytes(Disk);
    for (size_t At = 0; At < After.size(); ++At)
        ASSERT_EQ(After[At], 0) << "byte " << At;
    const std::string Record = ReadStickFile(Stick, "PURG0001.REC");
    EXPECT_NE(Record.find("\r\nmethod=ZERO.MET\r\n"), std::string::npos) << Record;
    EXPECT_NE(Record.find("\r\npurge=NVMESANC\r\n"), std::string::npos) << Record;
    const std::string Result = Section(Record, "result 2");
    EXPECT_NE(Result.find("\r\npurge=purge, NVMe Sanitize, crypto erase, not supported by this "
                          "disk, overwritten with the fall-back method\r\n"),
              std::string::npos)
        << Record;
    EXPECT_NE(Result.find("\r\noutcome=erased\r\n"), std::string::npos) << Record;
}

// On the pages: the disk page names the purges a disk offers, the method
// page lists them after the method files only once such a disk is chosen,
// and the chosen purge runs and is checked.
TEST(QemuUefiPurge, PagesOfferThePurgeOnlyForADiskThatHasIt) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    // Options 1 and 4 (read back, report), not 7: the pages.
    const std::string Stick = MakeEfiStick(Dir, "100100000010", "/TRACE");
    const std::string Disk = MakeScratchDisk(Dir, "disk.img", 16384);
    const std::string Other = MakeScratchDisk(Dir, "other.img", 8192);
    const auto OtherBefore = ReadFileBytes(Other);
    const fs::path Trace = Dir / "trace.txt";
    const std::string Socket = (Dir / "monitor").string();
    // Disks: 1 the stick, 2 the NVMe disk, 3 the virtio disk. The method
    // page is seen twice: first with disk 3 chosen (Esc back), then with
    // disk 2 instead; its purge is the 13th entry, after the 12 files.
    std::vector<std::string> Queue;
    size_t Seen[4] = {0, 0, 0, 0};
    const char* const Pages[4] = {"START PAGE\n", "DISK PAGE\n", "METHOD PAGE\n", "WARNING PAGE\n"};
    TMonitorFeeder Feeder(Socket, 300ms, [&]() -> std::optional<std::string> {
        const std::string T = ReadTextIfAny(Trace);
        for (int Page = 0; Page < 4; ++Page) {
            const size_t Count = size_t(CountOf(T, Pages[Page]));
            if (Count == Seen[Page]) continue;
            Seen[Page] = Count;
            if (Page == 0) Queue = {"ret"};
            if (Page == 1 && Count == 1) Queue = {"down", "down", "spc", "ret"};
            if (Page == 1 && Count == 2) Queue = {"down", "down", "spc", "up", "spc", "ret"};
            if (Page == 2 && Count == 1) Queue = {"esc"};
            if (Page == 2 && Count == 2) {
                Queue.assign(12, "down");
                Queue.push_back("ret");
            }
            if (Page == 3) Queue = {"shift-e", "shift-r", "shift-a", "shift-s", "shift-e", "ret"};
        }
        if (Queue.empty()) return "";
        const std::string Key = Queue.front();
        Queue.erase(Queue.begin());
        return "sendkey " + Key + "\n";
    });
    const auto Run = RunOvmf(Dir, Stick,
                             NvmeDisk(Disk) + " -drive file=" + ShellQuote(Other) +
                                 ",format=raw,if=none,id=d1 -device virtio-blk-pci,drive=d1",
                             "SUMMARY", 300, MonitorArgument(Socket));
    const std::string Out = Run.Trace + Run.Console;
    Feeder.Finish();
    ASSERT_NE(Out.find("SUMMARY OK\n"), std::string::npos) << Out;
    EXPECT_NE(Out.find("PURGE CHECKED"), std::string::npos) << Out;
    const std::string Console = ReadTextIfAny(Dir / "console.txt");
    EXPECT_NE(Console.find("QEMU NVMe Ctrl - purge NVMEFMT"), std::string::npos);
    // The first visit to the method page (disk 3 only) had no purge: the
    // entry shows only after the way back to the disk page.
    const auto FirstMethods = Console.find("wipe method");
    ASSERT_NE(FirstMethods, std::string::npos);
    const auto BackToDisks = Console.find("choose the disks to erase", FirstMethods);
    ASSERT_NE(BackToDisks, std::string::npos);
    const auto Purge = Console.find("NVMEFMT           purge, NVMe Format, user data erase");
    ASSERT_NE(Purge, std::string::npos);
    EXPECT_GT(Purge, BackToDisks);
    EXPECT_NE(Console.find("Method: purge, NVMe Format, user data erase"), std::string::npos);
    const auto After = ReadFileBytes(Disk);
    for (size_t At = 0; At < After.size(); ++At)
        ASSERT_EQ(After[At], 0) << "byte " << At;
    EXPECT_TRUE(ReadFileBytes(Other) == OtherBefore) << "the disk not chosen was written to";
}

// QEMU's AHCI disk answers IDENTIFY DEVICE through the ATA pass-through
// protocol but has neither the Security nor the Sanitize feature set.
TEST(QemuUefiPurge, AtaPassThroughReadsIdentifyAndTheDiskLacksSecurityErase) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    const std::string Stick = MakeEfiStick(Dir, PurgeOptions, "/ALL /M:ATASE /TRACE /OFF");
    const std::string Disk = MakeScratchDisk(Dir, "disk.img", 16384);
    const auto Before = ReadFileBytes(Disk);
    const auto Run = RunOvmf(Dir, Stick,
                             "-device ahci,id=ahci -drive file=" + ShellQuote(Disk) +
                                 ",format=raw,if=none,id=d0 -device ide-hd,drive=d0,bus=ahci.0",
                             "", 240);
    const std::string Trace = Run.Trace + Run.Console;
    ASSERT_TRUE(Run.Exited) << Trace;
    EXPECT_NE(Trace.find("PURGE FAILED not supported by this disk; nothing was erased\n"),
              std::string::npos)
        << Trace;
    EXPECT_TRUE(ReadFileBytes(Disk) == Before) << "the disk was written to";
    const std::string Record = ReadStickFile(Stick, "PURG0001.REC");
    EXPECT_NE(Record.find("\r\nbus=SATA\r\n"), std::string::npos) << Record;
    EXPECT_NE(Record.find("\r\ncapabilities=ATA: no Security Erase; no Sanitize\r\n"),
              std::string::npos)
        << Record;
}

// Two namespaces of one controller: the purge of the one chosen never
// reaches the other.
TEST(QemuUefiPurge, FormatOfOneNamespaceLeavesTheOtherAlone) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    const std::string Stick = MakeEfiStick(Dir, PurgeOptions, "/D:2 /M:NVMEFMT /TRACE /OFF");
    const std::string First = MakeScratchDisk(Dir, "first.img", 16384);
    const std::string Second = MakeScratchDisk(Dir, "second.img", 8192);
    const auto Kept = ReadFileBytes(Second);
    const auto Run = RunOvmf(
        Dir, Stick,
        "-device nvme,id=c0,serial=PURGE2 -drive file=" + ShellQuote(First) +
            ",format=raw,if=none,id=d0 -device nvme-ns,drive=d0,bus=c0,nsid=1 -drive file=" +
            ShellQuote(Second) + ",format=raw,if=none,id=d1 -device nvme-ns,drive=d1,bus=c0,nsid=2",
        "", 240);
    const std::string Trace = Run.Trace + Run.Console;
    ASSERT_TRUE(Run.Exited) << Trace;
    // QEMU's controller formats one namespace at a time (FNA 0).
    EXPECT_NE(Trace.find("PURGE CHECKED"), std::string::npos) << Trace;
    const auto After = ReadFileBytes(First);
    for (size_t At = 0; At < After.size(); ++At)
        ASSERT_EQ(After[At], 0) << "byte " << At;
    EXPECT_TRUE(ReadFileBytes(Second) == Kept) << "the other namespace was written to";
}

} // namespace

#endif
