// The wiper erasing scratch disks in QEMU: Rx-DOS boot floppy (writable, so
// the report lands on it) with the Purgit tree, an INI and a start-up batch;
// results are judged from the disk images, the report read back with mtools,
// fsck.fat, sfdisk and the wiper's trace on the debug console port.
#include <gtest/gtest.h>

#ifndef _WIN32

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>

#include "QemuSupport.h"
#include "QemuWiperSupport.h"
#include "TestSupport.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

const fs::path Payload = PayloadDir();
using namespace std::chrono_literals;

std::vector<std::string> Lines(const std::string& Text) {
    std::vector<std::string> Out;
    std::istringstream In(Text);
    std::string Line;
    while (std::getline(In, Line)) {
        if (!Line.empty() && Line.back() == '\r') Line.pop_back();
        Out.push_back(Line);
    }
    return Out;
}

// The first sector of every write the trace shows, in order.
std::vector<long> WriteStarts(const std::string& Trace) {
    std::vector<long> Starts;
    for (const auto& Line : Lines(Trace))
        if (Line.size() > 2 && Line[0] == 'W' && Line[1] == ' ') Starts.push_back(std::stol(Line.substr(2)));
    return Starts;
}

// The passes of a method file, read with the documented format: FIXED bytes
// (empty for RANDOM), COMPLEMENT resolved against the pass before.
struct TExpectedPass {
    std::vector<uint8_t> Fixed;
    bool Random = false, Inverted = false;
};

std::vector<TExpectedPass> ReadMethod(const fs::path& File) {
    std::map<int, std::string> Patterns;
    int Count = 0;
    for (const auto& Line : Lines(ReadTextIfAny(File))) {
        if (Line.rfind("PASSES=", 0) == 0) Count = std::stoi(Line.substr(7));
        else if (Line.rfind("PASS", 0) == 0 && Line.find('=') != std::string::npos)
            Patterns[std::stoi(Line.substr(4))] = Line.substr(Line.find('=') + 1);
    }
    std::vector<TExpectedPass> Passes;
    for (int n = 1; n <= Count; ++n) {
        const std::string& P = Patterns[n];
        TExpectedPass Pass;
        if (P == "RANDOM") {
            Pass.Random = true;
        } else if (P == "COMPLEMENT") {
            Pass = Passes.back();
            Pass.Inverted = !Pass.Inverted;
        } else {
            std::istringstream In(P.substr(6));
            std::string Hex;
            while (In >> Hex) Pass.Fixed.push_back(uint8_t(std::stoul(Hex, nullptr, 16)));
        }
        Passes.push_back(Pass);
    }
    return Passes;
}

// Watches the wiper's trace while QEMU runs: at every pause after a pass
// (option 8) it copies the disk image, then presses Enter through a second
// monitor so the wiper goes on.
struct TPassWatcher {
    TPassWatcher(fs::path Trace, fs::path Disk, std::string Socket)
        : Feeder(std::move(Socket), 50ms, [this, Trace, Disk]() -> std::optional<std::string> {
              if (CountOf(ReadTextIfAny(Trace), "PAUSED") <= int(Snapshots.size())) return "";
              Snapshots.push_back(ReadFileBytes(Disk));
              return "sendkey ret\n";
          }) {}
    std::vector<std::vector<uint8_t>> Snapshots; // before Feeder, whose thread fills it
    TMonitorFeeder Feeder;
};

// Types keys through a second monitor in steps: each step waits until the
// wiper's trace shows a text for the given time, then sends its keys.
struct TKeyStep {
    std::string After; // trace text
    int Occurrence;    // how many times it must have appeared
    std::vector<std::string> Keys;
};

class TKeyScript {
public:
    TKeyScript(fs::path Trace, std::string Socket, std::vector<TKeyStep> Steps)
        : Script(std::move(Steps)),
          Feeder(std::move(Socket), 150ms, [this, Trace]() -> std::optional<std::string> {
              if (Step == Script.size()) return std::nullopt;
              const TKeyStep& Now = Script[Step];
              if (Key == 0 && CountOf(ReadTextIfAny(Trace), Now.After) < Now.Occurrence) return "";
              std::string Command = "sendkey " + Now.Keys[Key] + "\n";
              if (++Key == Now.Keys.size()) Key = 0, ++Step;
              return Command;
          }) {}

private:
    std::vector<TKeyStep> Script;
    size_t Step = 0, Key = 0;
    TMonitorFeeder Feeder; // last: its thread reads the members above
};

} // namespace

TEST(QemuWiperErase, UnattendedZeroPassLeavesZerosAndAReportOnTheFloppy) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    const std::string Floppy = MakeConfiguredWiperFloppy(Dir, "100100100001", "Purgit /M:ZERO /D:1\r\n");
    const std::string Disk = MakeScratchDisk(Dir, "disk.img", 2048);
    const auto Run = RunWiper(Dir, Floppy, IdeDrive(Disk), "Erase finished", 90, TestSmbios);
    ASSERT_TRUE(Run.Qemu.SawText) << Run.Qemu.Screen << Run.Qemu.Log << Run.Trace;
    EXPECT_NE(Run.Qemu.Screen.find("Report written to A:\\PURG0001.LOG, record PURG0001.REC"),
              std::string::npos)
        << Run.Qemu.Screen;

    const auto After = ReadFileBytes(Disk);
    ASSERT_EQ(After.size(), 2048u * 512);
    EXPECT_TRUE(AllBytes(After, 0)) << "the scratch disk still holds other bytes";

    const std::string Log = ReadLog(Floppy);
    EXPECT_NE(Log.find("Disk 1 (80h): 1 MB, 2048 sectors, QEMU HARDDISK"), std::string::npos) << Log;
    EXPECT_NE(Log.find("Method:       One pass of zeros (ZERO.MET)"), std::string::npos) << Log;
    EXPECT_NE(Log.find("Passes:       1 of 1 written"), std::string::npos) << Log;
    EXPECT_NE(Log.find("Verification: passed (1 pass read back and compared)"), std::string::npos)
        << Log;
    EXPECT_NE(Log.find("Result:       OK"), std::string::npos) << Log;
    ExpectFloppyClean(Floppy);

    // The record says what the disk shows, and purgex report reads it from
    // the floppy image.
    const std::string Record = ReadLog(Floppy, "PURG0001.REC");
    for (const char* Line :
         {"[disk 1]\r\nbios=80h\r\nbus=ATA primary master\r\nmodel=QEMU HARDDISK\r\n",
          "sectors=2048\r\nsector_bytes=512\r\n", "pattern=fixed 00\r\n",
          "sectors=2048\r\ncomplete=yes\r\nwrite_errors=0\r\nverify=passed\r\n",
          "read_errors=0\r\nmismatches=0\r\nerrors=none\r\n", "verification=last pass\r\n",
          "outcome=erased\r\nreason=none\r\n"})
        EXPECT_NE(Record.find(Line), std::string::npos) << Line << " in " << Record;
    // The checksum line is zlib's CRC-32 of the lines before it.
    WriteFileBytes(Dir / "record.rec", Record);
    const auto Crc =
        RunCommand("python3 -c \"import sys, zlib; d = open(sys.argv[1], 'rb').read(); "
                   "print('checksum=crc32:%08X' % zlib.crc32(d[:d.rfind(b'checksum=')]))\" " +
                   ShellQuote((Dir / "record.rec").string()));
    EXPECT_NE(Record.find(Crc.Output.substr(0, Crc.Output.size() - 1) + "\r\n"), std::string::npos)
        << Crc.Output << Record;
    EXPECT_EQ(Record.rfind("checksum="), Record.size() - 25);
    const std::string Table = ExpectRecordsReport(Floppy, {"erased"});
    EXPECT_NE(Table.find("Corvane Test Lab Bench PC 7, serial CTL-0042"), std::string::npos)
        << Table;
    EXPECT_NE(Table.find("QEMU HARDDISK"), std::string::npos) << Table;

    // Certificates: a summary page and one for the disk, read back with
    // poppler; two pictures of them stay under build/.
    const std::string Pdf = (Dir / "certificates.pdf").string();
    const auto Made = PurgexReport(ShellQuote(Floppy) + " --pdf " + ShellQuote(Pdf) +
                                   " --operator 'Ann Operator' --organisation 'Corvane Test Lab'");
    ASSERT_EQ(Made.ExitCode, 0) << Made.Output;
    const auto Info = RunCommand("pdfinfo " + ShellQuote(Pdf));
    EXPECT_NE(Info.Output.find("Pages:           2"), std::string::npos) << Info.Output;
    const auto Text = RunCommand("pdftotext -layout " + ShellQuote(Pdf) + " -").Output;
    const std::string Checksum = Record.substr(Record.rfind("checksum=") + 9, 14);
    for (const std::string& Part :
         {std::string("Certificate of Sanitization"), std::string("QEMU HARDDISK"),
          std::string("QM00001"), std::string("Ann Operator"), std::string("CTL-0042"),
          std::string("Bench PC 7"), std::string("6A1F9C3E-52B7-4D08-9E61-0C2D4B8A7F15"),
          std::string("One pass of zeros (ZERO.MET)"), std::string("passed (1 of 1"), Checksum})
        EXPECT_NE(Text.find(Part), std::string::npos) << Part << " in " << Text;
    const fs::path Pictures = Payload.parent_path() / "record-pages";
    fs::create_directories(Pictures);
    RunOrFail("pdftoppm -png -r 70 " + ShellQuote(Pdf) + " " +
              ShellQuote((Pictures / "zero").string()));
    EXPECT_TRUE(fs::exists(Pictures / "zero-1.png") && fs::exists(Pictures / "zero-2.png"));
}

TEST(QemuWiperErase, RandomPassDiffersBetweenRunsAndVerifiesItself) {
    REQUIRE_HOST_TOOLS();
    std::vector<uint8_t> Results[2];
    for (int Round = 0; Round < 2; ++Round) {
        TScratchDir Dir;
        // O9 on in the first round (ISAAC), off in the second (the fast one).
        // ISAAC's round writes random data, then its complement, each read
        // back: the disk ends as the complement of the stream.
        const std::string Flags = Round ? "100100100001" : "100100101001";
        const std::string Floppy = MakeConfiguredWiperFloppy(
            Dir, Flags, Round ? "Purgit /M:RANDOM /D:1\r\n" : "Purgit /M:RNDCOMP /D:1 /TRACE\r\n");
        if (!Round)
            PutMethodFile(Dir, Floppy, "RNDCOMP.MET",
                          "NAME=Random, complement\r\nPASSES=2\r\nPASS1=RANDOM\r\n"
                          "PASS2=COMPLEMENT\r\nVERIFY=ALL\r\n");
        const std::string Disk = MakeScratchDisk(Dir, "disk.img", 1024);
        const auto Before = ReadFileBytes(Disk);
        const auto Run = RunWiper(Dir, Floppy, IdeDrive(Disk), "Erase finished");
        ASSERT_TRUE(Run.Qemu.SawText) << Run.Qemu.Screen << Run.Qemu.Log;
        Results[Round] = ReadFileBytes(Disk);
        const auto& After = Results[Round];
        ASSERT_EQ(After.size(), Before.size());
        // Every sector was written: none still holds its old contents.
        for (size_t Sector = 0; Sector < 1024; ++Sector)
            ASSERT_FALSE(std::equal(After.begin() + Sector * 512, After.begin() + Sector * 512 + 512,
                                    Before.begin() + Sector * 512))
                << "sector " << Sector << " unchanged";
        EXPECT_FALSE(AllBytes(After, 0));
        // Random-looking: every byte value occurs, none dominates.
        size_t Counts[256] = {};
        for (uint8_t b : After) ++Counts[b];
        EXPECT_LT(*std::max_element(Counts, Counts + 256), After.size() / 128);
        EXPECT_GT(*std::min_element(Counts, Counts + 256), 0u);
        // The fast generator's stream, word for word; ISAAC's is not, and
        // ISAAC's is what an independent ISAAC makes of the traced seed.
        if (Round) {
            EXPECT_EQ(SectorsNotXorshift128(After), 0u);
        } else {
            EXPECT_EQ(SectorsNotXorshift128(After), 1024u);
            EXPECT_EQ(SectorsNotIsaac(After, Run.Trace, true), 0u) << Run.Trace;
        }
        const std::string Log = ReadLog(Floppy);
        EXPECT_NE(Log.find("Verification: passed"), std::string::npos) << Log;
        EXPECT_NE(Log.find(Round ? "Random data:  xorshift128" : "Random data:  ISAAC"),
                  std::string::npos)
            << Log;
        ExpectFloppyClean(Floppy);
        const std::string Record = ReadLog(Floppy, "PURG0001.REC");
        EXPECT_NE(Record.find(Round ? "generator=xorshift128\r\n" : "generator=ISAAC\r\n"),
                  std::string::npos)
            << Record;
        EXPECT_NE(Record.find("pattern=random\r\n"), std::string::npos) << Record;
        EXPECT_NE(Record.find("verify=passed\r\n"), std::string::npos) << Record;
        ExpectRecordsReport(Floppy, {"erased"}, false);
    }
    EXPECT_NE(Results[0], Results[1]);
    // Two runs of the same generator differ as well.
    TScratchDir Dir;
    const std::string Floppy = MakeConfiguredWiperFloppy(Dir, "000000101001", "Purgit /M:RANDOM /D:1\r\n");
    const std::string Disk = MakeScratchDisk(Dir, "disk.img", 1024);
    const auto Run = RunWiper(Dir, Floppy, IdeDrive(Disk), "Erase finished");
    ASSERT_TRUE(Run.Qemu.SawText) << Run.Qemu.Screen;
    EXPECT_NE(ReadFileBytes(Disk), Results[0]);
}

TEST(QemuWiperErase, BackToFrontWithFinalZeroPassThenPartition) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    // O2 back to front, O3 a last pass of zeros, O10 a partition afterwards;
    // the trace shows every transfer.
    const std::string Floppy =
        MakeConfiguredWiperFloppy(Dir, "111100100100", "Purgit /M:RANDOM /D:1 /TRACE\r\n");
    const size_t Sectors = 4096; // 2 MB
    const std::string Disk = MakeScratchDisk(Dir, "disk.img", Sectors);
    const auto Run = RunWiper(Dir, Floppy, IdeDrive(Disk), "Erase finished");
    ASSERT_TRUE(Run.Qemu.SawText) << Run.Qemu.Screen << Run.Qemu.Log;

    // Both passes run from the last sector down, in whole blocks.
    const auto Starts = WriteStarts(Run.Trace);
    ASSERT_GT(Starts.size(), 4u) << Run.Trace;
    const auto Zero = Run.Trace.find("PASS 2 00");
    ASSERT_NE(Zero, std::string::npos) << Run.Trace;
    auto First = WriteStarts(Run.Trace.substr(0, Zero));
    auto Second = WriteStarts(Run.Trace.substr(Zero));
    // The partition table is written last, alone.
    ASSERT_FALSE(Second.empty());
    EXPECT_EQ(Second.back(), 0);
    EXPECT_NE(Run.Trace.find("W 0 1\nR 0 1\nEND"), std::string::npos) << Run.Trace;
    Second.pop_back();
    for (const std::vector<long>* Pass : {&First, &Second}) {
        ASSERT_GT(Pass->size(), 2u);
        EXPECT_EQ(Pass->front(), long(Sectors) - 127) << "a pass starts with the last block";
        EXPECT_EQ(Pass->back(), 0);
        EXPECT_TRUE(std::is_sorted(Pass->rbegin(), Pass->rend())) << Run.Trace;
        EXPECT_EQ(std::adjacent_find(Pass->begin(), Pass->end()), Pass->end()) << Run.Trace;
    }

    // Zeros everywhere but the partition table, which sfdisk reads back.
    const auto After = ReadFileBytes(Disk);
    EXPECT_TRUE(AllBytes(std::vector<uint8_t>(After.begin() + 512, After.end()), 0));
    EXPECT_EQ(After[510], 0x55);
    EXPECT_EQ(After[511], 0xAA);
    const auto Table = RunCommand("sfdisk -d " + ShellQuote(Disk));
    ASSERT_EQ(Table.ExitCode, 0) << Table.Output;
    EXPECT_EQ(CountOf(Table.Output, "start="), 1) << Table.Output;
    // One primary partition from the second track to the last sector.
    EXPECT_NE(Table.Output.find("start=          63, size=        4033, type=c"), std::string::npos)
        << Table.Output;
    const std::string Log = ReadLog(Floppy);
    EXPECT_NE(Log.find("Direction:    last sector to first"), std::string::npos) << Log;
    EXPECT_NE(Log.find("Pass 2: 00 (option 3)"), std::string::npos) << Log;
    EXPECT_NE(Log.find("Partition:    one primary partition over the disk written"),
              std::string::npos)
        << Log;
}

TEST(QemuWiperErase, InjectedErrorsAreListedBySectorAndTheRestIsErased) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    const std::string Floppy = MakeConfiguredWiperFloppy(Dir, "100100100001", "Purgit /M:ZERO /D:1\r\n");
    const std::string Disk = MakeScratchDisk(Dir, "disk.img", 2048);
    const auto Before = ReadFileBytes(Disk);
    // Sector 700 cannot be written, sector 1500 cannot be read.
    WriteFileBytes(Dir / "errors.cfg", "[inject-error]\nevent = \"write_aio\"\nerrno = \"5\"\n"
                                       "sector = \"700\"\n\n"
                                       "[inject-error]\nevent = \"read_aio\"\nerrno = \"5\"\n"
                                       "sector = \"1500\"\n");
    const std::string Drive = "-drive file=blkdebug:" + (Dir / "errors.cfg").string() + ":" +
                              Disk + ",if=ide,index=0,format=raw";
    const auto Run = RunWiper(Dir, Floppy, Drive, "Erase finished");
    ASSERT_TRUE(Run.Qemu.SawText) << Run.Qemu.Screen << Run.Qemu.Log;
    EXPECT_NE(Run.Qemu.Screen.find("ERASED WITH ERRORS"), std::string::npos) << Run.Qemu.Screen;

    const auto After = ReadFileBytes(Disk);
    for (size_t Sector = 0; Sector < 2048; ++Sector) {
        const std::vector<uint8_t> Data(After.begin() + Sector * 512,
                                        After.begin() + Sector * 512 + 512);
        if (Sector == 700)
            EXPECT_TRUE(std::equal(Data.begin(), Data.end(), Before.begin() + Sector * 512));
        else
            ASSERT_TRUE(AllBytes(Data, 0)) << "sector " << Sector;
    }
    const std::string Log = ReadLog(Floppy);
    EXPECT_NE(Log.find("Errors:       1 write, 1 read, 1 verification"), std::string::npos) << Log;
    EXPECT_NE(Log.find("Sector 700: write error"), std::string::npos) << Log;
    EXPECT_NE(Log.find("Sector 700: differs from what was written"), std::string::npos) << Log;
    EXPECT_NE(Log.find("Sector 1500: read error"), std::string::npos) << Log;
    EXPECT_NE(Log.find("Verification: FAILED"), std::string::npos) << Log;
    EXPECT_NE(Log.find("Result:       ERASED WITH ERRORS"), std::string::npos) << Log;
    ExpectFloppyClean(Floppy);
    const std::string Record = ReadLog(Floppy, "PURG0001.REC");
    for (const char* Part : {"write_errors=1\r\n", "verify=failed\r\n",
                             "read_errors=1\r\nmismatches=1\r\n", "700W", "700V", "1500R"})
        EXPECT_NE(Record.find(Part), std::string::npos) << Part << " in " << Record;
    ExpectRecordsReport(Floppy, {"erased with errors: 3 sectors failed"}, false);
}

TEST(QemuWiperErase, UnattendedRunWithWrongParametersErasesNothing) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    // An unknown method, then a disk that does not exist: nothing is written.
    const std::string Floppy = MakeConfiguredWiperFloppy(
        Dir, "100100100001", "Purgit /M:NOSUCH /D:1\r\nPurgit /M:ZERO /D:2\r\necho ALL DONE\r\n");
    const std::string Disk = MakeScratchDisk(Dir, "disk.img", 256);
    const auto Before = ReadFileBytes(Disk);
    const auto Run = RunWiper(Dir, Floppy, IdeDrive(Disk), "ALL DONE", 60);
    ASSERT_TRUE(Run.Qemu.SawText) << Run.Qemu.Screen << Run.Qemu.Log;
    EXPECT_NE(Run.Qemu.Screen.find("PURGIT: No such wipe method: NOSUCH.MET"), std::string::npos)
        << Run.Qemu.Screen;
    EXPECT_NE(Run.Qemu.Screen.find("PURGIT: No such disk: /D:2"), std::string::npos)
        << Run.Qemu.Screen;
    EXPECT_EQ(CountOf(Run.Qemu.Screen, "PURGIT: nothing was erased."), 2) << Run.Qemu.Screen;
    EXPECT_EQ(ReadFileBytes(Disk), Before);
}

TEST(QemuWiperErase, EachGutmannPassWritesWhatTheMethodFileSays) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    const fs::path MethodFile = Payload / "purgit" / "Purgit" / "METHODS" / "GUTMANN.MET";
    const auto Expected = ReadMethod(MethodFile);
    ASSERT_EQ(Expected.size(), 35u);
    // O8 pauses after every pass; O1 verifies the last one.
    const std::string Floppy =
        MakeConfiguredWiperFloppy(Dir, "100000111001", "Purgit /M:GUTMANN /D:1 /TRACE\r\n");
    const size_t Sectors = 96;
    const std::string Disk = MakeScratchDisk(Dir, "disk.img", Sectors);
    const std::string Socket = (Dir / "keys").string();
    TPassWatcher Watcher(Dir / "trace.txt", Disk, Socket);
    const auto Run = RunWiper(Dir, Floppy, IdeDrive(Disk), "Erase finished", 150,
                              MonitorArgument(Socket));
    Watcher.Feeder.Finish();
    ASSERT_TRUE(Run.Qemu.SawText) << Run.Qemu.Screen << Run.Qemu.Log << Run.Trace;
    ASSERT_EQ(Watcher.Snapshots.size(), Expected.size()) << Run.Trace;
    for (size_t n = 0; n < Expected.size(); ++n) {
        const auto& Image = Watcher.Snapshots[n];
        ASSERT_EQ(Image.size(), Sectors * 512);
        const auto& Pass = Expected[n];
        if (Pass.Random) {
            // Not a fixed pattern, not the previous pass, and a new stream.
            size_t Counts[256] = {};
            for (uint8_t b : Image) ++Counts[b];
            EXPECT_LT(*std::max_element(Counts, Counts + 256), Image.size() / 64) << "pass " << n + 1;
            if (n) {
                EXPECT_NE(Image, Watcher.Snapshots[n - 1]) << "pass " << n + 1;
            }
            continue;
        }
        // The pattern runs on across sector boundaries.
        for (size_t At = 0; At < Image.size(); ++At) {
            const uint8_t Want = Pass.Fixed[At % Pass.Fixed.size()] ^ (Pass.Inverted ? 0xFF : 0);
            ASSERT_EQ(Image[At], Want) << "pass " << n + 1 << " byte " << At;
        }
    }
    EXPECT_NE(Run.Qemu.Screen.find("passed (1 pass read back and compared)"), std::string::npos)
        << Run.Qemu.Screen;
}

TEST(QemuWiperErase, EveryMethodRunsToCompletion) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    std::vector<std::string> Methods;
    for (const auto& Entry : fs::directory_iterator(Payload / "purgit" / "Purgit" / "METHODS"))
        Methods.push_back(Entry.path().stem().string());
    std::sort(Methods.begin(), Methods.end());
    ASSERT_EQ(Methods.size(), 12u);
    std::string Batch;
    for (const auto& Name : Methods) Batch += "Purgit /M:" + Name + " /D:1 /TRACE\r\n";
    Batch += "echo ALL DONE\r\n";
    // Verify and report on; O3 adds a pass of zeros, so each disk ends zeroed.
    const std::string Floppy = MakeConfiguredWiperFloppy(Dir, "101100101001", Batch);
    const std::string Disk = MakeScratchDisk(Dir, "disk.img", 64);
    const auto Run = RunWiper(Dir, Floppy, IdeDrive(Disk), "ALL DONE", 150);
    ASSERT_TRUE(Run.Qemu.SawText) << Run.Qemu.Screen << Run.Qemu.Log;
    EXPECT_EQ(CountOf(Run.Trace, "SUMMARY OK"), 12) << Run.Trace;
    EXPECT_TRUE(AllBytes(ReadFileBytes(Disk), 0));
    for (size_t i = 0; i < Methods.size(); ++i) {
        const auto Passes = ReadMethod(Payload / "purgit" / "Purgit" / "METHODS" /
                                       (Methods[i] + ".MET")).size() + 1;
        char Name[32];
        std::snprintf(Name, sizeof Name, "PURG%04zu.LOG", i + 1);
        const std::string Log = ReadLog(Floppy, Name);
        EXPECT_NE(Log.find("(" + Methods[i] + ".MET)"), std::string::npos) << Log;
        const std::string Count = std::to_string(Passes);
        EXPECT_NE(Log.find(Count + " of " + Count + " written"), std::string::npos) << Log;
        EXPECT_NE(Log.find("Verification: passed"), std::string::npos) << Log;
        char RecordName[32];
        std::snprintf(RecordName, sizeof RecordName, "PURG%04zu.REC", i + 1);
        const std::string Record = ReadLog(Floppy, RecordName);
        EXPECT_NE(Record.find("[pass 1." + Count + "]\r\npattern=fixed 00\r\n"), std::string::npos)
            << Record;
        EXPECT_EQ(CountOf(Record, "[pass 1."), int(Passes)) << Record;
    }
    // Every method's record is sound, Gutmann's 36 passes included.
    ExpectRecordsReport(Floppy, std::vector<std::string>(Methods.size(), "erased"), false);
    ExpectFloppyClean(Floppy);
}

TEST(QemuWiperErase, PagesChooseDiskAndMethodAndWantErase) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    // O7 off: the user chooses on the pages. Two disks; only the second is
    // marked. A wrong confirmation first goes back without writing. O5 lays
    // the report out as a sanitization record.
    const std::string Floppy =
        MakeConfiguredWiperFloppy(Dir, "100110001001", "Purgit /TRACE\r\necho ALL DONE\r\n");
    const std::string Keep = MakeScratchDisk(Dir, "keep.img", 256);
    const std::string Disk = MakeScratchDisk(Dir, "disk.img", 512);
    const auto Kept = ReadFileBytes(Keep);
    const std::string Socket = (Dir / "keys").string();
    const std::vector<std::string> Erase = {"shift-e", "shift-r", "shift-a", "shift-s", "shift-e",
                                            "ret"};
    TKeyScript Keys(Dir / "trace.txt", Socket,
                    {{"START PAGE", 1, {"ret"}},
                     {"DISK PAGE", 1, {"down", "spc", "ret"}},
                     // Methods by passes, then file: HMGBASE, NIST, RANDOM, ZERO.
                     {"METHOD PAGE", 1, {"down", "down", "down", "ret"}},
                     {"WARNING PAGE", 1, {"e", "r", "a", "s", "e", "ret"}},
                     {"METHOD PAGE", 2, {"down", "down", "down", "ret"}},
                     {"WARNING PAGE", 2, Erase},
                     {"SUMMARY", 1, {"ret"}},
                     {"START PAGE", 2, {"esc"}}});
    const auto Run = RunWiper(Dir, Floppy, IdeDrive(Keep, 0) + " " + IdeDrive(Disk, 1), "ALL DONE", 90,
                              MonitorArgument(Socket));
    ASSERT_TRUE(Run.Qemu.SawText) << Run.Qemu.Screen << Run.Trace;
    // Nothing was written before the second warning page.
    const auto SecondWarning = Run.Trace.find("WARNING PAGE", Run.Trace.find("WARNING PAGE") + 1);
    ASSERT_NE(SecondWarning, std::string::npos) << Run.Trace;
    EXPECT_EQ(Run.Trace.find("W "), Run.Trace.find("W ", SecondWarning)) << Run.Trace;
    EXPECT_NE(Run.Trace.find("DISK 81"), std::string::npos) << Run.Trace;
    EXPECT_EQ(Run.Trace.find("DISK 80"), std::string::npos) << Run.Trace;
    EXPECT_EQ(ReadFileBytes(Keep), Kept);
    EXPECT_TRUE(AllBytes(ReadFileBytes(Disk), 0));
    // Leaving the pages gives the screen back: the batch's own line is there.
    EXPECT_NE(Run.Qemu.Screen.find("Running Corvane Purgex 2005 ..."), std::string::npos)
        << Run.Qemu.Screen;
    const std::string Log = ReadLog(Floppy);
    EXPECT_NE(Log.find("Disk 2 (81h)"), std::string::npos) << Log;
    EXPECT_EQ(Log.find("Disk 1 (80h)"), std::string::npos) << Log;
    for (const char* Part : {"MEDIA SANITIZATION RECORD", "MEDIA IDENTIFICATION",
                             "  Serial number: QM00002", "  Method:        One pass of zeros",
                             "    Pass 1: 00", "VERIFICATION\r\n  Result:        passed",
                             "  Write errors:  0", "  RESULT:        OK",
                             "Sanitized by (name):  ____", "Witness (name):       ____"})
        EXPECT_NE(Log.find(Part), std::string::npos) << Part << "\n" << Log;
}

TEST(QemuWiperErase, DiscBootErasesAndSaysTheReadOnlyFloppyTookNoReport) {
    REQUIRE_HOST_TOOLS();
#ifdef PURGEX_CLI
    TScratchDir Dir;
    // The disc as purgex iso makes it: its floppy is read-only under Rx-DOS.
    const std::string Iso = (Dir / "Purgit.ISO").string();
    const auto Made = RunCommand(std::string(PURGEX_CLI) + " iso " + ShellQuote(Iso) +
                                 " --yes --os rxdos --options 100100100001 --params '/M:ZERO /D:1'");
    ASSERT_EQ(Made.ExitCode, 0) << Made.Output;
    const std::string Disk = MakeScratchDisk(Dir, "disk.img", 512);
    TQemuOptions Options;
    Options.Cdrom = Iso;
    Options.BootFromCd = true;
    Options.WaitForText = "Erase finished";
    Options.TimeoutSeconds = 90;
    Options.ExtraArguments = IdeDrive(Disk, 0);
    const auto Result = RunQemu(Options);
    ASSERT_TRUE(Result.SawText) << Result.Screen << Result.Log;
    EXPECT_TRUE(AllBytes(ReadFileBytes(Disk), 0));
    EXPECT_NE(Result.Screen.find("No report could be written to A: (the drive is read-only"),
              std::string::npos)
        << Result.Screen;
#endif
}

TEST(QemuWiperErase, EscPausesAndStopsOnlyWhenOption6Allows) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    // First run: option 6 on, Esc then S stops the disk part way. Second
    // run: /O6=0 for this run only, Esc is dropped and the erase completes.
    const std::string Floppy = MakeConfiguredWiperFloppy(
        Dir, "000101100001",
        "Purgit /M:ZERO /D:1 /TRACE\r\nPurgit /M:ZERO /D:1 /O6=0 /TRACE\r\necho ALL DONE\r\n");
    const size_t Sectors = 8192;
    const std::string Disk = MakeScratchDisk(Dir, "disk.img", Sectors);
    const std::string Socket = (Dir / "keys").string();
    TKeyScript Keys(Dir / "trace.txt", Socket,
                    {{"W 1270 ", 1, {"esc", "s"}}, {"W 1270 ", 2, {"esc", "s"}}});
    const auto Run = RunWiper(Dir, Floppy, IdeDrive(Disk), "ALL DONE", 120,
                              MonitorArgument(Socket));
    ASSERT_TRUE(Run.Qemu.SawText) << Run.Qemu.Screen << Run.Trace;
    const auto Second = Run.Trace.find("UNATTENDED", 1);
    ASSERT_NE(Second, std::string::npos) << Run.Trace;
    const std::string First = Run.Trace.substr(0, Second);
    EXPECT_NE(First.find("END STOPPED"), std::string::npos) << First;
    // Stopped well before the end of the disk.
    const auto Starts = WriteStarts(First);
    ASSERT_FALSE(Starts.empty());
    EXPECT_LT(Starts.back(), long(Sectors) / 2) << First;
    EXPECT_NE(Run.Trace.find("\nEND\nSUMMARY OK", Second), std::string::npos) << Run.Trace;
    EXPECT_TRUE(AllBytes(ReadFileBytes(Disk), 0));
    const std::string Log = ReadLog(Floppy);
    EXPECT_NE(Log.find("Result:       STOPPED by the user: only partly erased"), std::string::npos)
        << Log;
    EXPECT_NE(Log.find("Passes:       0 of 1 written"), std::string::npos) << Log;
    EXPECT_NE(ReadLog(Floppy, "PURG0002.LOG").find("Result:       OK"), std::string::npos);
    // Each run its record, beside its report.
    EXPECT_NE(ReadLog(Floppy, "PURG0001.REC").find("complete=no\r\n"), std::string::npos);
    ExpectRecordsReport(Floppy, {"stopped: stopped by the user", "erased"}, false);
}

// The boot floppy written to a stick that the BIOS presents as the first
// hard disk (geometry as on the floppy, so its boot sector reads it): /ALL
// erases the other disk only, and the disk the system runs from keeps
// every byte (no report, so nothing is meant to be written there).
TEST(QemuWiperErase, DiskTheSystemStartedFromIsNeverOfferedNorWritten) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    const std::string Stick =
        MakeConfiguredWiperFloppy(Dir, "100000100001", "Purgit /M:ZERO /ALL /TRACE\r\n");
    const auto Before = ReadFileBytes(Stick);
    const std::string Disk = MakeScratchDisk(Dir, "disk.img", 512);
    const fs::path TraceFile = Dir / "trace.txt";
    TQemuOptions Options;
    Options.ExtraArguments =
        "-drive file=" + ShellQuote(Stick) + ",if=none,id=stick,format=raw"
        " -device ide-hd,drive=stick,bus=ide.0,unit=0,cyls=80,heads=2,secs=18,bios-chs-trans=none " +
        IdeDrive(Disk, 1) + " -debugcon file:" + ShellQuote(TraceFile.string()) + " -boot c";
    Options.WaitForText = "Erase finished";
    const auto Result = RunQemu(Options);
    const std::string Trace = ReadTextIfAny(TraceFile);
    ASSERT_TRUE(Result.SawText) << Result.Screen << Trace;
    EXPECT_NE(Trace.find("DISK 81"), std::string::npos) << Trace;
    EXPECT_EQ(Trace.find("DISK 80"), std::string::npos) << Trace;
    EXPECT_TRUE(AllBytes(ReadFileBytes(Disk), 0));
    EXPECT_EQ(ReadFileBytes(Stick), Before) << "the disk the system runs from was written";
}

#endif
