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

#include "QemuWiperSupport.h"
#include "TestSupport.h"

using namespace testing_support;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const std::string Mtools = "MTOOLS_SKIP_CHECK=1 ";

std::string MakeStick(const TScratchDir& Dir, const std::string& Params) {
    const std::string Image = (Dir / "stick.img").string();
    // Options 1, 4 and 7: read back, report, unattended.
    RunOrFail(std::string(PURGEX_CLI) + " usb " + ShellQuote(Image) +
              " --size 64M --yes --options 100100100010 --params " + ShellQuote(Params));
    return Image;
}

std::string StickFile(const std::string& Stick, const std::string& Name) {
    const auto Result =
        RunCommand(Mtools + "mtype -i " + ShellQuote(Stick + "@@1048576") + " ::" + Name);
    EXPECT_EQ(Result.ExitCode, 0) << Result.Output;
    return Result.Output;
}

// The image as one NVMe disk of its own.
std::string NvmeDisk(const std::string& Disk) {
    return "-drive file=" + ShellQuote(Disk) +
           ",format=raw,if=none,id=d0 -device nvme,drive=d0,serial=PURGE1";
}

// Boots the stick with Devices beside it until the wiper switches the
// machine off (/OFF), or Timeout seconds; answers the trace (port E9h).
std::string Boot(const TScratchDir& Dir, const std::string& Stick, const std::string& Devices,
                 int Timeout, bool& Exited) {
    const fs::path Vars = Dir / "vars.fd", Trace = Dir / "trace.txt";
    fs::copy_file("/usr/share/OVMF/OVMF_VARS.fd", Vars, fs::copy_options::overwrite_existing);
    const std::string Command =
        "exec qemu-system-x86_64 -machine pc -m 256 -display none -no-reboot -net none"
        " -drive if=pflash,format=raw,readonly=on,file=/usr/share/OVMF/OVMF_CODE.fd"
        " -drive if=pflash,format=raw,file=" +
        ShellQuote(Vars.string()) + " -drive file=" + ShellQuote(Stick) +
        ",format=raw,if=ide,index=0 " + Devices + " -debugcon file:" +
        ShellQuote(Trace.string()) + " -serial none >" + ShellQuote((Dir / "qemu.log").string()) +
        " 2>&1";
    Exited = false;
    const pid_t Child = fork();
    if (Child < 0) return "";
    if (Child == 0) {
        execl("/bin/sh", "sh", "-c", Command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(Timeout);
    int Status = 0;
    while (std::chrono::steady_clock::now() < Deadline) {
        if (waitpid(Child, &Status, WNOHANG) == Child) {
            Exited = true;
            break;
        }
        std::this_thread::sleep_for(250ms);
    }
    if (!Exited) {
        kill(Child, SIGKILL);
        waitpid(Child, &Status, 0);
    }
    return ReadTextIfAny(Trace) + ReadTextIfAny(Dir / "qemu.log");
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
    const std::string Stick = MakeStick(Dir, "/ALL /M:NVMEFMT /TRACE /OFF");
    const std::string Disk = MakeScratchDisk(Dir, "disk.img", 16384); // not one zero sector
    bool Exited;
    const std::string Trace = Boot(Dir, Stick, NvmeDisk(Disk), 240, Exited);
    ASSERT_TRUE(Exited) << Trace;
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

    const std::string Record = StickFile(Stick, "PURG0001.REC");
    EXPECT_NE(Record.find("\r\nmethod=NVMEFMT\r\n"), std::string::npos) << Record;
    EXPECT_NE(Record.find("\r\nverification=marker sectors\r\n"), std::string::npos) << Record;
    const std::string Disk2 = Section(Record, "disk 2");
    EXPECT_NE(Disk2.find("\r\ncapabilities=NVMe: Format (user data"), std::string::npos) << Record;
    const std::string Result = Section(Record, "result 2");
    EXPECT_NE(Result.find("\r\npurge=purge, NVMe Format, user data erase, checked\r\n"),
              std::string::npos)
        << Record;
    EXPECT_NE(Result.find("\r\noutcome=purged\r\n"), std::string::npos) << Record;
    const std::string Log = StickFile(Stick, "PURG0001.LOG");
    EXPECT_NE(Log.find("PURGED: NVMe Format, user data erase, checked"), std::string::npos)
        << Log;
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
    const std::string Stick = MakeStick(Dir, "/ALL /TRACE /OFF");
    const std::string Ini = StickFile(Stick, "Purgit/DATA/PURGIT.INI") + "PURGE=NVMESANB\r\n";
    WriteFileBytes(Dir / "PURGIT.INI", Ini);
    RunOrFail(Mtools + "mcopy -o -i " + ShellQuote(Stick + "@@1048576") + " " +
              ShellQuote((Dir / "PURGIT.INI").string()) + " ::Purgit/DATA/PURGIT.INI");
    const std::string Disk = MakeScratchDisk(Dir, "disk.img", 16384);
    const auto Before = ReadFileBytes(Disk);
    bool Exited;
    const std::string Trace = Boot(Dir, Stick, NvmeDisk(Disk), 240, Exited);
    ASSERT_TRUE(Exited) << Trace;
    EXPECT_NE(Trace.find("PURGE FAILED not supported by this disk; nothing was erased\n"),
              std::string::npos)
        << Trace;
    EXPECT_NE(Trace.find("SUMMARY ERRORS\n"), std::string::npos) << Trace;
    EXPECT_TRUE(ReadFileBytes(Disk) == Before) << "the disk was written to";
    const std::string Record = StickFile(Stick, "PURG0001.REC");
    const std::string Result = Section(Record, "result 2");
    EXPECT_NE(Result.find("\r\noutcome=failed\r\nreason=not supported by this disk; nothing was "
                          "erased\r\n"),
              std::string::npos)
        << Record;
    EXPECT_EQ(Record.find("outcome=purged"), std::string::npos) << Record;
    EXPECT_EQ(Record.find(", checked\r\n"), std::string::npos) << Record;
    const std::string Log = StickFile(Stick, "PURG0001.LOG");
    EXPECT_NE(Log.find("NOT PURGED: NVMe Sanitize, block erase, not supported by this disk"),
              std::string::npos)
        << Log;
}

// With a fall-back overwrite method (/F:) the disk that lacks the purge is
// overwritten instead, and the record says why.
TEST(QemuUefiPurge, FallBackOverwritesWhereThePurgeIsNotOffered) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    const std::string Stick = MakeStick(Dir, "/ALL /M:NVMESANC /F:ZERO /TRACE /OFF");
    const std::string Disk = MakeScratchDisk(Dir, "disk.img", 16384);
    bool Exited;
    const std::string Trace = Boot(Dir, Stick, NvmeDisk(Disk), 240, Exited);
    ASSERT_TRUE(Exited) << Trace;
    EXPECT_NE(Trace.find("PURGE NOT OFFERED, FALL-BACK\n"), std::string::npos) << Trace;
    EXPECT_NE(Trace.find("SUMMARY OK\n"), std::string::npos) << Trace;
    const auto After = ReadFileBytes(Disk);
    for (size_t At = 0; At < After.size(); ++At)
        ASSERT_EQ(After[At], 0) << "byte " << At;
    const std::string Record = StickFile(Stick, "PURG0001.REC");
    EXPECT_NE(Record.find("\r\nmethod=ZERO.MET\r\n"), std::string::npos) << Record;
    EXPECT_NE(Record.find("\r\npurge=NVMESANC\r\n"), std::string::npos) << Record;
    const std::string Result = Section(Record, "result 2");
    EXPECT_NE(Result.find("\r\npurge=purge, NVMe Sanitize, crypto erase, not supported by this "
                          "disk, overwritten with the fall-back method\r\n"),
              std::string::npos)
        << Record;
    EXPECT_NE(Result.find("\r\noutcome=erased\r\n"), std::string::npos) << Record;
}

// QEMU's AHCI disk answers IDENTIFY DEVICE through the ATA pass-through
// protocol but has neither the Security nor the Sanitize feature set.
TEST(QemuUefiPurge, AtaPassThroughReadsIdentifyAndTheDiskLacksSecurityErase) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    const std::string Stick = MakeStick(Dir, "/ALL /M:ATASE /TRACE /OFF");
    const std::string Disk = MakeScratchDisk(Dir, "disk.img", 16384);
    const auto Before = ReadFileBytes(Disk);
    bool Exited;
    const std::string Trace =
        Boot(Dir, Stick,
             "-device ahci,id=ahci -drive file=" + ShellQuote(Disk) +
                 ",format=raw,if=none,id=d0 -device ide-hd,drive=d0,bus=ahci.0",
             240, Exited);
    ASSERT_TRUE(Exited) << Trace;
    EXPECT_NE(Trace.find("PURGE FAILED not supported by this disk; nothing was erased\n"),
              std::string::npos)
        << Trace;
    EXPECT_TRUE(ReadFileBytes(Disk) == Before) << "the disk was written to";
    const std::string Record = StickFile(Stick, "PURG0001.REC");
    EXPECT_NE(Record.find("\r\nbus=SATA\r\n"), std::string::npos) << Record;
    EXPECT_NE(Record.find("\r\ncapabilities=ATA: no Security Erase; no Sanitize"),
              std::string::npos)
        << Record;
}

// Two namespaces of one controller: the purge of the one chosen never
// reaches the other.
TEST(QemuUefiPurge, FormatOfOneNamespaceLeavesTheOtherAlone) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    const std::string Stick = MakeStick(Dir, "/D:2 /M:NVMEFMT /TRACE /OFF");
    const std::string First = MakeScratchDisk(Dir, "first.img", 16384);
    const std::string Second = MakeScratchDisk(Dir, "second.img", 8192);
    const auto Kept = ReadFileBytes(Second);
    bool Exited;
    const std::string Trace =
        Boot(Dir, Stick,
             "-device nvme,id=c0,serial=PURGE2 -drive file=" + ShellQuote(First) +
                 ",format=raw,if=none,id=d0 -device nvme-ns,drive=d0,bus=c0,nsid=1 -drive file=" +
                 ShellQuote(Second) +
                 ",format=raw,if=none,id=d1 -device nvme-ns,drive=d1,bus=c0,nsid=2",
             240, Exited);
    ASSERT_TRUE(Exited) << Trace;
    // QEMU's controller formats one namespace at a time (FNA 0).
    EXPECT_NE(Trace.find("PURGE CHECKED"), std::string::npos) << Trace;
    const auto After = ReadFileBytes(First);
    for (size_t At = 0; At < After.size(); ++At)
        ASSERT_EQ(After[At], 0) << "byte " << At;
    EXPECT_TRUE(ReadFileBytes(Second) == Kept) << "the other namespace was written to";
}

} // namespace

#endif
