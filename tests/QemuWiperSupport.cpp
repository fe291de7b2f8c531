#include "QemuWiperSupport.h"

#ifndef _WIN32

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace testing_support {

namespace {
const std::string Mtools = "MTOOLS_SKIP_CHECK=1 ";
} // namespace

fs::path PayloadDir() {
#ifdef PURGEX_CONTAINERS_DIR
    return PURGEX_CONTAINERS_DIR;
#else
    return {};
#endif
}

void RunOrFail(const std::string& Command) {
    const auto Result = RunCommand(Command);
    ASSERT_EQ(Result.ExitCode, 0) << Command << "\n" << Result.Output;
}

std::string MakeWiperFloppy(const TScratchDir& Dir, const std::string& Autoexec,
                            const std::vector<std::pair<std::string, fs::path>>& Extra) {
    const fs::path Boot = PayloadDir() / "rxdos" / "BOOT.IMG";
    EXPECT_TRUE(fs::exists(Boot)) << Boot;
    const std::string Image = (Dir / "floppy.img").string();
    fs::copy_file(Boot, Image, fs::copy_options::overwrite_existing);
    WriteFileBytes(Dir / "AUTOEXEC.BAT", Autoexec);
    const std::string To = " -i " + ShellQuote(Image) + " ";
    RunOrFail(Mtools + "mcopy -s -Q" + To +
              ShellQuote((PayloadDir() / "purgit" / "Purgit").string()) + " ::PURGIT");
    RunOrFail(Mtools + "mcopy -Q" + To + ShellQuote((Dir / "AUTOEXEC.BAT").string()) +
              " ::AUTOEXEC.BAT");
    for (const auto& [Target, Source] : Extra) {
        // Existing folders make mmd fail harmlessly.
        for (auto Slash = Target.find('/'); Slash != std::string::npos;
             Slash = Target.find('/', Slash + 1))
            RunCommand(Mtools + "mmd" + To + ShellQuote("::" + Target.substr(0, Slash)));
        RunOrFail(Mtools + "mcopy -Q -D o" + To + ShellQuote(Source.string()) + " " +
                  ShellQuote("::" + Target));
    }
    return Image;
}

std::string MakeConfiguredWiperFloppy(const TScratchDir& Dir, const std::string& Flags,
                                      const std::string& BatchTail) {
    std::string Ini;
    for (size_t n = 1; n <= 11; ++n)
        Ini += "O" + std::to_string(n) + "=" + Flags.at(n - 1) + "\r\n";
    WriteFileBytes(Dir / "PURGIT.INI", Ini);
    std::string Batch = "@echo off\r\nprompt $p$g\r\ncd \\Purgit\r\n";
    if (Flags.size() > 11 && Flags[11] == '0') Batch += "data\\ctmouse\r\n";
    Batch += "@echo Running Corvane Purgex 2005 ...\r\n" + BatchTail;
    return MakeWiperFloppy(Dir, Batch, {{"PURGIT/DATA/PURGIT.INI", Dir / "PURGIT.INI"}});
}

std::string MakeSparseDisk(const TScratchDir& Dir, const std::string& Name, uint64_t Bytes) {
    const fs::path Path = Dir / Name;
    { std::ofstream Create(Path, std::ios::binary); }
    fs::resize_file(Path, Bytes);
    return Path.string();
}

std::string MakeScratchDisk(const TScratchDir& Dir, const std::string& Name, size_t Sectors) {
    std::vector<uint8_t> Bytes = RandomBytes(Sectors * 512, 1234);
    for (size_t i = 0; i < Bytes.size(); i += 512) Bytes[i] = 0xA5;
    WriteFileBytes(Dir / Name, Bytes);
    return (Dir / Name).string();
}

int CountOf(const std::string& Text, const std::string& Part) {
    int Count = 0;
    for (auto At = Text.find(Part); At != std::string::npos; At = Text.find(Part, At + 1))
        ++Count;
    return Count;
}

bool AllBytes(const std::vector<uint8_t>& Bytes, uint8_t Value) {
    return std::all_of(Bytes.begin(), Bytes.end(), [Value](uint8_t b) { return b == Value; });
}

size_t SectorsNotXorshift128(const std::vector<uint8_t>& Bytes) {
    size_t Wrong = 0;
    for (size_t Sector = 0; Sector + 512 <= Bytes.size(); Sector += 512) {
        uint32_t W[128];
        std::memcpy(W, Bytes.data() + Sector, 512);
        for (size_t i = 4; i < 128; ++i) {
            const uint32_t T = W[i - 4] ^ (W[i - 4] << 11);
            if (W[i] != (W[i - 1] ^ (W[i - 1] >> 19) ^ T ^ (T >> 8))) {
                ++Wrong;
                break;
            }
        }
    }
    return Wrong;
}

size_t SectorsNotIsaac(const std::vector<uint8_t>& Bytes, const std::string& Trace,
                       bool Complemented) {
    const size_t Sectors = Bytes.size() / 512;
    const auto At = Trace.find("SEED ");
    if (At == std::string::npos || At + 37 > Trace.size()) return Sectors;
    uint32_t Seed[4] = {};
    for (unsigned k = 0; k < 16; ++k)
        Seed[k / 4] |= uint32_t(std::stoul(Trace.substr(At + 5 + 2 * k, 2), nullptr, 16))
                       << (8 * (k % 4));
    uint32_t Mm[256], Rsl[256], A = 0, B = 0, C = 0;
    uint32_t S = Seed[0] ^ Seed[1] * 0x9E3779B9u;
    for (unsigned i = 0; i < 256; ++i) {
        S += 0x9E3779B9u + Seed[i & 3];
        uint32_t Z = S;
        Z = (Z ^ (Z >> 16)) * 0x85EBCA6Bu;
        Z = (Z ^ (Z >> 13)) * 0xC2B2AE35u;
        Rsl[i] = Z ^ (Z >> 16);
    }
    // randinit(): the golden ratio mixed, then the seed and the memory folded in.
    uint32_t V[8];
    std::fill(V, V + 8, 0x9E3779B9u);
    auto Mix = [&V] {
        static const int Shift[8] = {11, -2, 8, -16, 10, -4, 8, -9};
        for (int j = 0; j < 8; ++j) {
            uint32_t& X = V[j];
            const uint32_t Y = V[(j + 1) % 8];
            X ^= Shift[j] > 0 ? Y << Shift[j] : Y >> -Shift[j];
            V[(j + 3) % 8] += X;
            V[(j + 1) % 8] += V[(j + 2) % 8];
        }
    };
    for (int i = 0; i < 4; ++i) Mix();
    for (const uint32_t* From : std::initializer_list<const uint32_t*>{Rsl, Mm})
        for (unsigned i = 0; i < 256; i += 8) {
            for (unsigned j = 0; j < 8; ++j) V[j] += From[i + j];
            Mix();
            std::copy(V, V + 8, Mm + i);
        }
    std::vector<uint8_t> Out;
    while (Out.size() < Sectors * 512) {
        B += ++C;
        for (unsigned i = 0; i < 256; ++i) {
            const uint32_t X = Mm[i];
            switch (i % 4) {
            case 0: A ^= A << 13; break;
            case 1: A ^= A >> 6; break;
            case 2: A ^= A << 2; break;
            default: A ^= A >> 16; break;
            }
            A += Mm[(i + 128) % 256];
            const uint32_t Y = Mm[(X >> 2) % 256] + A + B;
            Mm[i] = Y;
            B = Mm[(Y >> 10) % 256] + X;
            for (int k = 0; k < 4; ++k) Out.push_back(uint8_t((Complemented ? ~B : B) >> (8 * k)));
        }
    }
    size_t Wrong = 0;
    for (size_t Sector = 0; Sector < Sectors; ++Sector)
        Wrong += !std::equal(Bytes.begin() + Sector * 512, Bytes.begin() + Sector * 512 + 512,
                             Out.begin() + Sector * 512);
    return Wrong;
}

void PutMethodFile(const TScratchDir& Dir, const std::string& Image, const std::string& Name,
                   const std::string& Text) {
    WriteFileBytes(Dir / Name, Text);
    RunOrFail(Mtools + "mcopy -Q -i " + ShellQuote(Image) + " " +
              ShellQuote((Dir / Name).string()) + " ::PURGIT/METHODS/" + Name);
}

TWipeRun RunWiper(const TScratchDir& Dir, const std::string& Floppy, const std::string& Drives,
                  const std::string& WaitFor, int Timeout, const std::string& Extra) {
    const fs::path TraceFile = Dir / "trace.txt";
    fs::remove(TraceFile);
    TQemuOptions Options;
    // Passed as a drive of our own: TQemuOptions::Floppy is opened read-only.
    const std::string FloppyDrive =
        Floppy.empty() ? "" : "-drive file=" + ShellQuote(Floppy) + ",if=floppy,format=raw ";
    Options.ExtraArguments =
        FloppyDrive + Drives + " -debugcon file:" + ShellQuote(TraceFile.string()) + " " + Extra;
    Options.WaitForText = WaitFor;
    Options.TimeoutSeconds = Timeout;
    TWipeRun Result;
    Result.Qemu = RunQemu(Options);
    Result.Trace = ReadTextIfAny(TraceFile);
    return Result;
}

std::string LineStarting(const std::string& Screen, const std::string& Start) {
    std::istringstream In(Screen);
    std::string Line;
    while (std::getline(In, Line)) {
        const auto First = Line.find_first_not_of(' ');
        if (First != std::string::npos && Line.compare(First, Start.size(), Start) == 0)
            return Line.substr(First);
    }
    return "";
}

std::string IdeDrive(const std::string& Image, int Index) {
    return "-drive file=" + ShellQuote(Image) + ",if=ide,index=" + std::to_string(Index) +
           ",format=raw";
}

std::string ReadLog(const std::string& Image, const std::string& Name) {
    const auto Result = RunCommand(Mtools + "mtype -i " + ShellQuote(Image) + " ::" + Name);
    EXPECT_EQ(Result.ExitCode, 0) << Result.Output;
    return Result.Output;
}

const std::string TestSmbios =
    "-smbios 'type=1,manufacturer=Corvane Test Lab,product=Bench PC 7,serial=CTL-0042,"
    "uuid=6a1f9c3e-52b7-4d08-9e61-0c2d4b8a7f15'";
const std::vector<std::string> TestMachineLines = {"manufacturer=Corvane Test Lab\r\n",
                                                   "product=Bench PC 7\r\n", "serial=CTL-0042\r\n",
                                                   "uuid=6A1F9C3E-52B7-4D08-9E61-0C2D4B8A7F15\r\n"};

TCommandResult PurgexReport(const std::string& Arguments) {
#ifdef PURGEX_CLI
    return RunCommand(ShellQuote(PURGEX_CLI) + " report " + Arguments + " 2>&1");
#else
    ADD_FAILURE() << "no purgex in this build";
    return {};
#endif
}

std::string ExpectRecordsReport(const std::string& Image, const std::vector<std::string>& Results,
                                bool Machine) {
    const auto Report = PurgexReport(ShellQuote(Image));
    EXPECT_EQ(Report.ExitCode, 0) << Report.Output;
    std::vector<std::string> Rows;
    std::istringstream In(Report.Output);
    std::string Line;
    std::getline(In, Line); // the heading
    EXPECT_EQ(Line.rfind("Record", 0), 0u) << Report.Output;
    while (std::getline(In, Line))
        Rows.push_back(Line);
    EXPECT_EQ(Rows.size(), Results.size()) << Report.Output;
    for (size_t i = 0; i < Rows.size() && i < Results.size(); ++i) {
        const auto At = Rows[i].find("  " + Results[i]);
        EXPECT_TRUE(At != std::string::npos && At + 2 + Results[i].size() == Rows[i].size())
            << "row " << i << " should end in " << Results[i] << ":\n"
            << Report.Output;
    }
    // The certificates: a summary page, then a page per row naming its result.
    TScratchDir Dir;
    const std::string Pdf = (Dir / "report.pdf").string();
    const auto Made = PurgexReport(ShellQuote(Image) + " --pdf " + ShellQuote(Pdf));
    EXPECT_EQ(Made.ExitCode, 0) << Made.Output;
    const auto Info = RunCommand("pdfinfo " + ShellQuote(Pdf));
    EXPECT_NE(Info.Output.find("Pages:           " + std::to_string(Results.size() + 1) + "\n"),
              std::string::npos)
        << Info.Output;
    for (size_t i = 0; i < Results.size(); ++i) {
        const std::string Page = std::to_string(i + 2);
        const auto Text = RunCommand("pdftotext -layout -f " + Page + " -l " + Page + " " +
                                     ShellQuote(Pdf) + " -");
        EXPECT_NE(Text.Output.find("Outcome"), std::string::npos) << Text.Output;
        EXPECT_NE(Text.Output.find(Results[i]), std::string::npos)
            << "page " << Page << " should say " << Results[i] << ":\n"
            << Text.Output;
    }
    if (Machine) {
        const auto Records = RunCommand(Mtools + "mdir -b -i " + ShellQuote(Image) + " ::");
        for (std::istringstream Names(Records.Output); std::getline(Names, Line);) {
            if (Line.size() < 4 || Line.substr(Line.size() - 4) != ".REC") continue;
            const std::string Record = ReadLog(Image, Line.substr(Line.find_last_of(":/\\") + 1));
            for (const auto& Expected : TestMachineLines)
                EXPECT_NE(Record.find(Expected), std::string::npos) << Expected << " in " << Record;
        }
    }
    return Report.Output;
}

void ExpectFloppyClean(const std::string& Image) {
    const auto Check = RunCommand("fsck.fat -n " + ShellQuote(Image));
    EXPECT_EQ(Check.ExitCode, 0) << Check.Output;
}

std::string MakePartitionedDisk(const TScratchDir& Dir, const std::string& Name, uint64_t Sectors,
                                const std::vector<TPartition>& Partitions) {
    const std::string Image = (Dir / Name).string();
    RunOrFail("truncate -s " + std::to_string(Sectors * 512) + " " + ShellQuote(Image));
    std::string Table = "label: dos\n";
    for (const auto& P : Partitions)
        Table += "start=" + std::to_string(P.Start) + ", size=" + std::to_string(P.Sectors) +
                 ", type=" + P.Type + "\n";
    const fs::path Script = Dir / (Name + ".sfdisk");
    WriteFileBytes(Script, Table);
    RunOrFail("sfdisk -q " + ShellQuote(Image) + " < " + ShellQuote(Script.string()));
    // mkfs.fat --offset leaves the hidden sectors at 0 unless told.
    for (const auto& P : Partitions)
        if (!P.Format.empty())
            RunOrFail("mkfs.fat -F " + P.Format + " -s 1 --offset " + std::to_string(P.Start) +
                      " -h " + std::to_string(P.Start) + " " + ShellQuote(Image) + " " +
                      std::to_string(P.Sectors / 2) + " >/dev/null 2>&1");
    return Image;
}

std::string PartitionImage(const std::string& Image, const TPartition& Partition) {
    return Image + "@@" + std::to_string(Partition.Start * 512);
}

void ExpectPartitionClean(const TScratchDir& Dir, const std::string& Image,
                          const TPartition& Partition) {
    const auto Bytes = ReadFileBytes(Image);
    ASSERT_GE(Bytes.size(), (Partition.Start + Partition.Sectors) * 512);
    const fs::path Copy = Dir / "partition.img";
    WriteFileBytes(Copy, std::vector<uint8_t>(
                             Bytes.begin() + long(Partition.Start * 512),
                             Bytes.begin() + long((Partition.Start + Partition.Sectors) * 512)));
    const auto Check = RunCommand("fsck.fat -n " + ShellQuote(Copy.string()));
    EXPECT_EQ(Check.ExitCode, 0) << Check.Output;
}

std::string ReadTextIfAny(const fs::path& File) {
    if (!fs::exists(File)) return "";
    const auto Bytes = ReadFileBytes(File);
    return std::string(Bytes.begin(), Bytes.end());
}

std::string MonitorArgument(const std::string& SocketPath) {
    return "-monitor unix:" + ShellQuote(SocketPath) + ",server,nowait";
}

TMonitorFeeder::TMonitorFeeder(std::string SocketPath, std::chrono::milliseconds Every,
                               TNext NextCommands)
    : Path(std::move(SocketPath)), Interval(Every), Next(std::move(NextCommands)),
      Worker([this] { Feed(); }) {}

void TMonitorFeeder::Finish() {
    Stop = true;
    if (Worker.joinable()) Worker.join();
}

void TMonitorFeeder::Feed() {
    int Fd = -1;
    while (!Stop) {
        std::this_thread::sleep_for(Interval);
        if (Fd < 0) {
            Fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_un Address{};
            Address.sun_family = AF_UNIX;
            std::strncpy(Address.sun_path, Path.c_str(), sizeof Address.sun_path - 1);
            if (connect(Fd, reinterpret_cast<sockaddr*>(&Address), sizeof Address) != 0) {
                close(Fd);
                Fd = -1;
                continue;
            }
        }
        const auto Commands = Next();
        if (!Commands) break;
        if (!Commands->empty() &&
            send(Fd, Commands->data(), Commands->size(), MSG_NOSIGNAL) < 0) {
            close(Fd);
            Fd = -1;
            continue;
        }
        char Drain[4096];
        while (recv(Fd, Drain, sizeof Drain, MSG_DONTWAIT) > 0) {
        }
    }
    if (Fd >= 0) close(Fd);
}

} // namespace testing_support

#endif
