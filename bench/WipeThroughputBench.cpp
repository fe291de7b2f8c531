// Erase throughput in QEMU, per kind of disk (IDE through the BIOS, IDE by
// option 11's bus-master DMA, SATA on AHCI and NVMe through the BIOS):
//   - a bare DOS program that writes the disk with 127-sector INT 13h AH=43h
//     requests from a 64 KiB-aligned buffer, then reads it back with AH=42h
//     (the limit of the BIOS path under emulation);
//   - the wiper: a ZERO pass read back (option 1), and a RANDOM pass with
//     each generator (ISAAC, option 9's default, and xorshift128);
//   - a Linux guest writing the same emulated disk: dd bs=1M oflag=direct,
//     timed by the guest kernel's clock.
// The kinds and the programs take turns, round after round, so that load
// from other work on the machine falls on all of them; the figures are
// medians. DOS programs are timed from QEMU's time-stamped trace of the
// commands the disk executed (so the wiper runs without /TRACE, and both
// sides pay the same for QEMU's tracing); the cost of the wiper's trace
// lines is measured apart, on the bare program. Every run checks what
// it left on the disk (zeros, or for RANDOM no sector left as it was) and
// the benchmark fails when one did not.
// Usage: wipe_throughput_bench [rounds [MiB]]   (default 3 rounds, 256 MiB;
//        the IDE disk through the BIOS gets an eighth of that)
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "LinuxGuest.h"
#include "QemuSupport.h"
#include "TestSupport.h"

using namespace testing_support;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

const fs::path Payload = PURGEX_CONTAINERS_DIR;
constexpr uint8_t Filler = 0xA5; // what every disk holds before a run

bool Run(const std::string& Command) {
    const auto Result = RunCommand(Command);
    if (Result.ExitCode != 0)
        std::fprintf(stderr, "%s\n%s\n", Command.c_str(), Result.Output.c_str());
    return Result.ExitCode == 0;
}

struct TKind {
    const char* Name;
    const char* Ini;      // the wiper's INI for this kind
    const char* LinuxDev; // the disk in the Linux guest
    TGuestDiskKind Guest;
    bool Linux; // a dd run (IDE once, on the larger disk of the DMA kind)
    uint64_t Sectors;
};

// QEMU arguments that attach Image as the BIOS's first hard disk.
std::string Attach(const TKind& Kind, const std::string& Image) {
    const std::string Drive = "-drive file=" + ShellQuote(Image) + ",if=none,id=d0,format=raw ";
    if (Kind.Guest == TGuestDiskKind::AhciDisk)
        return Drive + "-device ich9-ahci,id=ahci -device ide-hd,drive=d0,bus=ahci.0";
    if (Kind.Guest == TGuestDiskKind::NvmeDisk) return Drive + "-device nvme,drive=d0,serial=bench";
    return Drive + "-device ide-hd,drive=d0,bus=ide.0,unit=0";
}

void MakeDisk(const std::string& Image, uint64_t Sectors) {
    std::ofstream Out(Image, std::ios::binary | std::ios::trunc);
    const std::vector<char> Chunk(1 << 20, char(Filler));
    for (uint64_t Left = Sectors * 512; Left;) {
        const auto N = std::min<uint64_t>(Left, Chunk.size());
        Out.write(Chunk.data(), std::streamsize(N));
        Left -= N;
    }
}

// Empty when the disk ends as expected: all zeros, or (Random) every sector
// changed from the filler and not zeros.
std::string CheckDisk(const std::string& Image, uint64_t Sectors, bool Random) {
    std::ifstream In(Image, std::ios::binary);
    std::vector<char> Sector(512);
    for (uint64_t S = 0; S < Sectors; ++S) {
        if (!In.read(Sector.data(), 512))
            return "the image is short at sector " + std::to_string(S);
        const bool Zero = std::all_of(Sector.begin(), Sector.end(), [](char C) { return C == 0; });
        const bool Filled =
            std::all_of(Sector.begin(), Sector.end(), [](char C) { return uint8_t(C) == Filler; });
        if (Random ? (Zero || Filled) : !Zero)
            return "sector " + std::to_string(S) +
                   (Filled ? " was not written" : " holds other data");
    }
    return "";
}

// Boots the floppy and answers the host's seconds between consecutive
// Markers of the trace (each searched after the one before), empty when
// one did not appear.
std::vector<double> TimeBoot(const TScratchDir& Dir, const std::string& Floppy,
                             const std::string& Disk, const std::vector<std::string>& Markers,
                             const std::string& Screen) {
    const fs::path Trace = Dir / "trace.txt";
    fs::remove(Trace);
    std::atomic<bool> Stop{false};
    std::vector<Clock::time_point> Seen;
    std::thread Watch([&] {
        size_t From = 0;
        while (!Stop && Seen.size() < Markers.size()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            if (!fs::exists(Trace)) continue;
            const auto Bytes = ReadFileBytes(Trace);
            const std::string Text(Bytes.begin(), Bytes.end());
            while (Seen.size() < Markers.size()) {
                const auto At = Text.find(Markers[Seen.size()], From);
                if (At == std::string::npos) break;
                Seen.push_back(Clock::now());
                From = At + Markers[Seen.size() - 1].size();
            }
        }
    });
    TQemuOptions Options;
    Options.Floppy = Floppy;
    fs::remove(Dir / "qemu.log");
    Options.ExtraArguments = Disk + " -debugcon file:" + ShellQuote(Trace.string()) +
                             " -msg timestamp=on -trace ide_exec_cmd -trace pci_nvme_write"
                             " -trace pci_nvme_read -D " +
                             ShellQuote((Dir / "qemu.log").string());
    Options.WaitForText = Screen;
    Options.TimeoutSeconds = 3600;
    const auto Result = RunQemu(Options);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    Stop = true;
    Watch.join();
    std::vector<double> Seconds;
    if (!Result.SawText || Seen.size() < Markers.size()) {
        std::fprintf(stderr, "no end seen:\n%s\n", Result.Screen.c_str());
        return Seconds;
    }
    for (size_t i = 1; i < Seen.size(); ++i)
        Seconds.push_back(std::chrono::duration<double>(Seen[i] - Seen[i - 1]).count());
    return Seconds;
}

// Seconds of the write phase and of the read phase that follows it, from
// QEMU's time-stamped trace of the commands the disk executed: from the
// first write to the first read after the writes, and from that read to
// the last read stretched by one command's share (as the writes when no
// read follows them).
struct TPhases {
    double Write = -1, Read = -1;
};

TPhases DevicePhases(const fs::path& Log) {
    std::vector<std::pair<double, bool>> Commands; // time, write
    std::ifstream In(Log);
    std::string Line;
    const std::vector<unsigned> Writes = {0x30, 0x31, 0x34, 0x39, 0xC5, 0xCA, 0x35, 0x3D, 0x61};
    const std::vector<unsigned> Reads = {0x20, 0x21, 0x24, 0x29, 0xC4, 0xC8, 0x25, 0x60};
    while (std::getline(In, Line)) {
        const auto At = Line.find('@'), Colon = Line.find(':');
        if (At == std::string::npos || Colon == std::string::npos) continue;
        const double Time = std::atof(Line.c_str() + At + 1);
        if (Line.find("pci_nvme_write", Colon) == Colon + 1)
            Commands.push_back({Time, true});
        else if (Line.find("pci_nvme_read", Colon) == Colon + 1)
            Commands.push_back({Time, false});
        else if (const auto Cmd = Line.find("cmd 0x"); Cmd != std::string::npos) {
            const unsigned Code = unsigned(std::strtoul(Line.c_str() + Cmd + 6, nullptr, 16));
            if (std::count(Writes.begin(), Writes.end(), Code))
                Commands.push_back({Time, true});
            else if (std::count(Reads.begin(), Reads.end(), Code))
                Commands.push_back({Time, false});
        }
    }
    auto Span = [](const std::vector<double>& T) {
        return T.size() < 2 ? -1.0
                            : (T.back() - T.front()) * double(T.size()) / double(T.size() - 1);
    };
    std::vector<double> W, R;
    for (const auto& [Time, Write] : Commands)
        if (Write) W.push_back(Time);
    for (const auto& [Time, Write] : Commands)
        if (!Write && !W.empty() && Time > W.back()) R.push_back(Time);
    if (W.empty() || R.empty()) return {Span(W), -1};
    return {R.front() - W.front(), Span(R)};
}

// The bare BIOS program: S, writes the disk, M, reads it back, E, then
// 48,000 bytes on the debug port and T (the cost of the wiper's trace). Its buffer
// starts on the first 64 KiB boundary past the program's own segment (whose
// top holds the stack), so every request comes from one aligned piece.
const char* Reference = R"(
        org 0x100
        mov ax, cs
        add ax, 0x1FFF
        and ax, 0xF000
        mov [packet + 6], ax
        mov es, ax
        xor di, di
        mov cx, 0x8000
        xor ax, ax
        rep stosw
        mov al, 'S'
        call mark
        mov byte [function], 0x43
        call pass
        jc failed
        mov al, 'M'
        call mark
        mov byte [function], 0x42
        call pass
        jc failed
        mov al, 'E'
        call mark
        mov cx, 48000           ; what 4,000 trace lines of 12 bytes cost
        mov al, '.'
spill:  out 0xE9, al
        loop spill
        mov al, 'T'
        call mark
        mov dx, finished
        mov ah, 9
        int 0x21
        ret
failed: mov dx, error
        mov ah, 9
        int 0x21
        ret
mark:   out 0xE9, al
        mov al, 10
        out 0xE9, al
        ret
pass:   mov dword [lba], 0
.next:  mov eax, [total]
        sub eax, [lba]
        jz .done
        cmp eax, 127
        jbe .n
        mov eax, 127
.n:     mov [packet + 2], ax
        mov si, packet
        mov ah, [function]
        mov al, 0
        mov dl, 0x80
        int 0x13
        jc .fail
        movzx eax, word [packet + 2]
        add [lba], eax
        jmp .next
.done:  clc
        ret
.fail:  stc
        ret
function: db 0
packet: db 16, 0
        dw 0, 0, 0
lba:    dd 0, 0
total:  dd SECTORS
finished: db 'REFERENCE DONE', 13, 10, '$'
error:  db 'REFERENCE FAILED', 13, 10, '$'
)";

double Median(std::vector<double> V) {
    if (V.empty()) return -1;
    std::sort(V.begin(), V.end());
    return V.size() % 2 ? V[V.size() / 2] : (V[V.size() / 2 - 1] + V[V.size() / 2]) / 2;
}

} // namespace

int main(int argc, char** argv) {
    const int Rounds = argc > 1 ? std::atoi(argv[1]) : 3;
    const uint64_t MiB = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 256;
    const uint64_t Sectors = MiB * 2048;
    TScratchDir Dir;
    const std::string Floppy = (Dir / "floppy.img").string(), Disk = (Dir / "disk.img").string();
    const std::string M = "MTOOLS_SKIP_CHECK=1 ", To = " -i " + ShellQuote(Floppy) + " ";
    fs::copy_file(Payload / "rxdos" / "BOOT.IMG", Floppy);
    // No report, unattended; option 1 reads the ZERO pass back.
    WriteFileBytes(Dir / "BIOS.INI", "O1=1\r\nO4=0\r\nO6=0\r\nO7=1\r\nO11=0\r\n");
    WriteFileBytes(Dir / "DMA.INI", "O1=1\r\nO4=0\r\nO6=0\r\nO7=1\r\nO11=1\r\n");
    WriteFileBytes(Dir / "ZERO.BAT", "@echo off\r\ncd \\Purgit\r\nPurgit /M:ZERO /D:1\r\n");
    WriteFileBytes(Dir / "ISAAC.BAT",
                   "@echo off\r\ncd \\Purgit\r\nPurgit /M:RANDOM /D:1 /O1=0\r\n");
    WriteFileBytes(Dir / "XORSHIFT.BAT",
                   "@echo off\r\ncd \\Purgit\r\nPurgit /M:RANDOM /D:1 /O1=0 /O9=0\r\n");
    WriteFileBytes(Dir / "REF.BAT", "@echo off\r\nREF\r\n");
    if (!Run(M + "mcopy -s -Q" + To + ShellQuote((Payload / "purgit" / "Purgit").string()) +
             " ::PURGIT"))
        return 1;

    std::vector<TKind> Kinds = {
        {"IDE, BIOS", "BIOS.INI", "/dev/sda", TGuestDiskKind::IdeDisk, false, Sectors / 8},
        {"IDE, option 11 (DMA)", "DMA.INI", "/dev/sda", TGuestDiskKind::IdeDisk, true, Sectors},
        {"SATA on AHCI, BIOS", "BIOS.INI", "/dev/sda", TGuestDiskKind::AhciDisk, true, Sectors},
        {"NVMe, BIOS", "BIOS.INI", "/dev/nvme0n1", TGuestDiskKind::NvmeDisk, true, Sectors},
    };
    const bool Linux = LinuxGuestUnavailable().empty();
    if (!Linux) std::fprintf(stderr, "no Linux column: %s\n", LinuxGuestUnavailable().c_str());

    // Per kind: bare write, bare read, wiper ZERO write, wiper read-back,
    // wiper RANDOM by ISAAC and by xorshift128, Linux dd.
    std::map<std::string, std::vector<double>> Times;
    std::string Failure;
    auto Check = [&](const TKind& Kind, const char* What, bool Random) {
        const std::string Problem = CheckDisk(Disk, Kind.Sectors, Random);
        if (!Problem.empty() && Failure.empty())
            Failure = std::string(Kind.Name) + ", " + What + ": " + Problem;
    };
    for (int Round = 0; Round < Rounds; ++Round)
        for (const TKind& Kind : Kinds) {
            const std::string Key = Kind.Name;
            std::string Source = Reference;
            Source.replace(Source.find("SECTORS"), 7, std::to_string(Kind.Sectors));
            WriteFileBytes(Dir / "ref.asm", Source);
            if (!Run("nasm -f bin -o " + ShellQuote((Dir / "REF.COM").string()) + " " +
                     ShellQuote((Dir / "ref.asm").string())) ||
                !Run(M + "mcopy -Q -D o" + To + ShellQuote((Dir / "REF.COM").string()) +
                     " ::REF.COM") ||
                !Run(M + "mcopy -Q -D o" + To + ShellQuote((Dir / Kind.Ini).string()) +
                     " ::PURGIT/DATA/PURGIT.INI"))
                return 1;
            auto Boot = [&](const char* Batch, const std::vector<std::string>& Markers,
                            const char* Screen) {
                Run(M + "mcopy -Q -D o" + To + ShellQuote((Dir / Batch).string()) +
                    " ::AUTOEXEC.BAT");
                MakeDisk(Disk, Kind.Sectors);
                return TimeBoot(Dir, Floppy, Attach(Kind, Disk), Markers, Screen);
            };
            // The order changes every round.
            const bool Odd = Round % 2;
            for (int Step = 0; Step < 5; ++Step) {
                const int Which = Odd ? 4 - Step : Step;
                // The bare program goes through the BIOS: on the DMA kind's disk
                // it is the IDE row's (an eighth of the size).
                if (Which == 0 && Kind.Ini == std::string("DMA.INI")) continue;
                if (Which == 0) {
                    const auto T = Boot("REF.BAT", {"S\n", "M\n", "E\n", "T\n"}, "REFERENCE DONE");
                    const auto P = DevicePhases(Dir / "qemu.log");
                    if (T.size() != 3 || P.Write <= 0 || P.Read <= 0) return 1;
                    Times[Key + "/bare write"].push_back(P.Write);
                    Times[Key + "/bare read"].push_back(P.Read);
                    Times["trace line"].push_back(T[2] / 4000);
                    Check(Kind, "bare BIOS program", false);
                } else if (Which == 1) {
                    const auto T = Boot("ZERO.BAT", {}, "Erase finished");
                    const auto P = DevicePhases(Dir / "qemu.log");
                    if (P.Write <= 0 || P.Read <= 0) return 1;
                    Times[Key + "/wiper write"].push_back(P.Write);
                    Times[Key + "/wiper read"].push_back(P.Read);
                    Check(Kind, "wiper ZERO", false);
                } else if (Which == 2 || Which == 3) {
                    const char* Generator = Which == 2 ? "ISAAC" : "xorshift128";
                    Boot(Which == 2 ? "ISAAC.BAT" : "XORSHIFT.BAT", {}, "Erase finished");
                    const auto P = DevicePhases(Dir / "qemu.log");
                    if (P.Write <= 0) return 1;
                    Times[Key + "/wiper " + Generator].push_back(P.Write);
                    Check(Kind, Which == 2 ? "wiper RANDOM, ISAAC" : "wiper RANDOM, xorshift128",
                          true);
                } else if (Linux && Kind.Linux) {
                    MakeDisk(Disk, Kind.Sectors);
                    // The kernel's clock in nanoseconds around dd (busybox's dd
                    // reports no time).
                    const std::string Clock = "grep -m1 'now at' /proc/timer_list\n";
                    const std::string Script =
                        Clock + "dd if=/dev/zero of=" + std::string(Kind.LinuxDev) +
                        " bs=1M count=" + std::to_string(Kind.Sectors / 2048) +
                        " oflag=direct || exit 1\n" + Clock;
                    const auto Result = RunInGuest(Script, {{Kind.Guest, Disk, false, false}}, 900);
                    const auto First = Result.Output.find("now at ");
                    const auto Second = Result.Output.find("now at ", First + 1);
                    if (!Result.Ran || Result.ExitStatus != 0 || Second == std::string::npos) {
                        std::fprintf(stderr, "dd in the guest: %s\n%s\n", Result.Problem.c_str(),
                                     Result.Output.c_str());
                        return 1;
                    }
                    Times[Key + "/linux dd"].push_back(
                        double(std::strtoull(Result.Output.c_str() + Second + 7, nullptr, 10) -
                               std::strtoull(Result.Output.c_str() + First + 7, nullptr, 10)) /
                        1e9);
                    Check(Kind, "Linux dd", false);
                }
            }
            std::fprintf(stderr, "round %d, %s done\n", Round + 1, Kind.Name);
        }

    std::printf("| disk | MiB | bare BIOS writer | wiper ZERO | wiper / bare | RANDOM / ZERO, "
                "ISAAC | RANDOM / ZERO, xorshift128 | bare BIOS reader | wiper read-back | "
                "read-back / bare | Linux dd | wiper / Linux |\n"
                "|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (const TKind& Kind : Kinds) {
        const std::string K = Kind.Name;
        const double Mb = double(Kind.Sectors) / 2048;
        auto Rate = [&](const char* What) { return Mb / Median(Times[K + "/" + What]); };
        const std::string Ide = "IDE, option 11 (DMA)";
        const auto& DdTimes = Times[(Kind.Linux ? K : Ide) + "/linux dd"];
        const double Dd = DdTimes.empty() ? 0 : double(Kinds[1].Sectors) / 2048 / Median(DdTimes);
        const bool Bare = !Times[K + "/bare write"].empty();
        char Cells[3][40] = {"(IDE, BIOS)", "", ""};
        if (Bare) {
            std::snprintf(Cells[0], sizeof Cells[0], "%.1f MiB/s", Rate("bare write"));
            std::snprintf(Cells[1], sizeof Cells[1], "%.1f MiB/s", Rate("bare read"));
            std::snprintf(Cells[2], sizeof Cells[2], "%.2fx",
                          Rate("bare read") / Rate("wiper read"));
        }
        std::printf("| %s | %.0f | %s | %.1f MiB/s | %.2fx | %.2fx | %.2fx | %s | %.1f MiB/s | %s "
                    "| %.0f MiB/s | %.2f |\n",
                    Kind.Name, Mb, Cells[0], Rate("wiper write"),
                    Bare ? Rate("bare write") / Rate("wiper write") : 0.0,
                    Rate("wiper write") / Rate("wiper ISAAC"),
                    Rate("wiper write") / Rate("wiper xorshift128"), Bare ? Cells[1] : Cells[0],
                    Rate("wiper read"), Cells[2], Dd, Dd ? Rate("wiper write") / Dd : 0.0);
    }
    std::printf("\nA 12-byte trace line on the debug port: %.1f us (median)\n",
                Median(Times["trace line"]) * 1e6);
    std::printf("%d rounds; load average at the end: %s", Rounds,
                RunCommand("cut -d' ' -f1-3 /proc/loadavg").Output.c_str());
    if (!Failure.empty()) {
        std::fprintf(stderr, "FAILED: %s\n", Failure.c_str());
        return 1;
    }
    return 0;
}
