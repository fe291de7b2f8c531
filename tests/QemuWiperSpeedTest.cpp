// How the wiper's requests reach the emulated hardware: judged from QEMU's
// own traces of the commands its devices executed, and from what lands on
// the disk. An NVMe disk through SeaBIOS takes a request as one command only
// from a buffer on a 4 KB page; the bus master's large requests repeat one
// buffer for a fixed pattern without breaking it, and read back four blocks
// a request in the order the pass wrote them.
#include <gtest/gtest.h>

#ifndef _WIN32

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "QemuWiperSupport.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

// Lines of Text that start with Prefix.
int LinesStarting(const std::string& Text, const std::string& Prefix) {
    return CountOf("\n" + Text, "\n" + Prefix);
}

// The sector counts of QEMU's pci_nvme_write events, in order.
std::vector<unsigned> NvmeWrites(const fs::path& QemuTrace) {
    std::vector<unsigned> Counts;
    std::istringstream In(ReadTextIfAny(QemuTrace));
    std::string Line;
    while (std::getline(In, Line)) {
        const auto At = Line.find(" nlb ");
        if (Line.find("pci_nvme_write") != std::string::npos && At != std::string::npos)
            Counts.push_back(unsigned(std::stoul(Line.substr(At + 5))));
    }
    return Counts;
}

// The wiper's trace lines "W lba count", as counts.
std::vector<unsigned> WriteCounts(const std::string& Trace) {
    std::vector<unsigned> Counts;
    std::istringstream In(Trace);
    std::string Line;
    while (std::getline(In, Line))
        if (Line.rfind("W ", 0) == 0)
            Counts.push_back(unsigned(std::stoul(Line.substr(Line.find(' ', 2) + 1))));
    return Counts;
}

} // namespace

// ZERO over an NVMe disk through the BIOS: every request the wiper makes
// reaches the controller as one write of the same length (a buffer off a
// page boundary goes through SeaBIOS's bounce page, 8 sectors a command).
TEST(QemuWiperSpeed, NvmeRequestsReachTheControllerWhole) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    const std::string Floppy =
        MakeConfiguredWiperFloppy(Dir, "100100100001", "Purgit /M:ZERO /D:1 /TRACE\r\n");
    const std::string Disk = MakeScratchDisk(Dir, "nvme.img", 3000);
    const fs::path QemuTrace = Dir / "nvme.txt";
    const auto Run = RunWiper(Dir, Floppy,
                              "-drive file=" + ShellQuote(Disk) +
                                  ",if=none,id=n0,format=raw -device nvme,drive=n0,serial=speed",
                              "Erase finished", 90,
                              "-trace pci_nvme_write -D " + ShellQuote(QemuTrace.string()));
    ASSERT_TRUE(Run.Qemu.SawText) << Run.Qemu.Screen << Run.Qemu.Log << Run.Trace;

    EXPECT_TRUE(AllBytes(ReadFileBytes(Disk), 0));
    const auto Requests = WriteCounts(Run.Trace);
    // 3000 = 23 * 127 + 79.
    ASSERT_EQ(Requests.size(), 24u) << Run.Trace;
    EXPECT_EQ(Requests.back(), 79u);
    const auto Commands = NvmeWrites(QemuTrace);
    ASSERT_EQ(Commands.size(), Requests.size()) << ReadTextIfAny(QemuTrace).substr(0, 2000);
    for (size_t i = 0; i < Commands.size(); ++i)
        EXPECT_EQ(Commands[i], Requests[i]) << "request " << i;
    EXPECT_NE(ReadLog(Floppy).find("Verification: passed"), std::string::npos);
}

// A pattern of three bytes on the bus master: its large requests
// repeat a piece of the buffer that is a multiple of three bytes and of a
// sector, so the pattern runs on without a gap over the whole disk (which
// holds 39 such pieces), and the read-back agrees.
TEST(QemuWiperSpeed, ThreeBytePatternRunsOnAcrossRepeatedDmaBuffers) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    const std::string Floppy =
        MakeConfiguredWiperFloppy(Dir, "100100100011", "Purgit /M:THREE /D:1 /TRACE\r\n");
    PutMethodFile(Dir, Floppy, "THREE.MET",
                  "NAME=Three bytes\r\nPASSES=1\r\nPASS1=FIXED 92 49 24\r\nVERIFY=LAST\r\n");
    const size_t Sectors = 5000;
    const std::string Disk = MakeScratchDisk(Dir, "disk.img", Sectors);
    const auto Run = RunWiper(Dir, Floppy, IdeDrive(Disk), "Erase finished");
    ASSERT_TRUE(Run.Qemu.SawText) << Run.Qemu.Screen << Run.Qemu.Log << Run.Trace;

    EXPECT_EQ(LinesStarting(Run.Trace, "PATH DMA"), 1) << Run.Trace;
    EXPECT_EQ(LinesStarting(Run.Trace, "W "), 1) << Run.Trace;
    EXPECT_EQ(LinesStarting(Run.Trace, "W 0 5000\n"), 1) << Run.Trace;
    const auto After = ReadFileBytes(Disk);
    ASSERT_EQ(After.size(), Sectors * 512);
    const uint8_t Pattern[3] = {0x92, 0x49, 0x24};
    for (size_t At = 0; At < After.size(); ++At)
        ASSERT_EQ(After[At], Pattern[At % 3]) << "byte " << At;
    const std::string Log = ReadLog(Floppy);
    EXPECT_NE(Log.find("Verification: passed"), std::string::npos) << Log;
    EXPECT_NE(Log.find("Result:       OK"), std::string::npos) << Log;
}

// RANDOM from the last block down (option 2) on the bus master: the large
// reads come from the top too, and the verification regenerates the stream
// block by block in the order it was written, so it passes.
TEST(QemuWiperSpeed, RandomPassBackwardVerifiesInLargeDmaReads) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    const std::string Floppy =
        MakeConfiguredWiperFloppy(Dir, "110100100011", "Purgit /M:RANDOM /D:1 /TRACE\r\n");
    const std::string Disk = MakeScratchDisk(Dir, "disk.img", 2000);
    const auto Run = RunWiper(Dir, Floppy, IdeDrive(Disk), "Erase finished");
    ASSERT_TRUE(Run.Qemu.SawText) << Run.Qemu.Screen << Run.Qemu.Log << Run.Trace;

    EXPECT_EQ(LinesStarting(Run.Trace, "PATH DMA"), 1) << Run.Trace;
    // Writes: 2000 = 15 * 127 + 95, the short block last (at the start).
    EXPECT_EQ(LinesStarting(Run.Trace, "W "), 16) << Run.Trace;
    EXPECT_EQ(LinesStarting(Run.Trace, "W 0 95\n"), 1) << Run.Trace;
    // Reads: 2000 = 3 * 508 + 476, from the top.
    EXPECT_EQ(LinesStarting(Run.Trace, "R 1492 508\n"), 1) << Run.Trace;
    EXPECT_EQ(LinesStarting(Run.Trace, "R 0 476\n"), 1) << Run.Trace;
    EXPECT_EQ(LinesStarting(Run.Trace, "ERROR"), 0) << Run.Trace;
    const std::string Log = ReadLog(Floppy);
    EXPECT_NE(Log.find("Verification: passed (1 pass read back and compared)"), std::string::npos)
        << Log;
    EXPECT_NE(Log.find("Result:       OK"), std::string::npos) << Log;
}

#endif
