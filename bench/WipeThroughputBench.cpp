// Erase throughput in QEMU: one ZERO pass of the wiper over a scratch disk
// (256 MB unless a sector count is given), through the BIOS and with option
// 11's bus-master DMA, beside the time a trivial DOS program takes to write
// the same disk with the largest INT 13h extended writes (127 sectors): the
// limit of the BIOS path under emulation. Both are timed on the
// host, from the first to the last line each writes on the debug port.
// Usage: wipe_throughput_bench [sectors]
#include <atomic>
#include <chrono>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "QemuSupport.h"
#include "TestSupport.h"

using namespace testing_support;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

const fs::path Payload = PURGEX_CONTAINERS_DIR;

bool Run(const std::string& Command) {
    const auto Result = RunCommand(Command);
    if (Result.ExitCode != 0) std::fprintf(stderr, "%s\n%s\n", Command.c_str(), Result.Output.c_str());
    return Result.ExitCode == 0;
}

// Seconds between the trace showing Start and showing End.
double TimeBoot(const TScratchDir& Dir, const std::string& Floppy, const std::string& Disk,
                const std::string& Start, const std::string& End, const std::string& Screen) {
    const fs::path Trace = Dir / "trace.txt";
    fs::remove(Trace);
    std::atomic<bool> Stop{false};
    double Seconds = -1;
    std::thread Watch([&] {
        Clock::time_point From{};
        bool Started = false;
        while (!Stop) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (!fs::exists(Trace)) continue;
            const auto Bytes = ReadFileBytes(Trace);
            const std::string Text(Bytes.begin(), Bytes.end());
            if (!Started && Text.find(Start) != std::string::npos) {
                From = Clock::now();
                Started = true;
            }
            if (Started && Text.find(End) != std::string::npos) {
                Seconds = std::chrono::duration<double>(Clock::now() - From).count();
                return;
            }
        }
    });
    TQemuOptions Options;
    Options.ExtraArguments = "-drive file=" + ShellQuote(Floppy) + ",if=floppy,format=raw -drive file=" +
                             ShellQuote(Disk) + ",if=ide,format=raw -debugcon file:" +
                             ShellQuote(Trace.string());
    Options.WaitForText = Screen;
    Options.TimeoutSeconds = 3600;
    const auto Result = RunQemu(Options);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    Stop = true;
    Watch.join();
    if (!Result.SawText) std::fprintf(stderr, "no end seen:\n%s\n", Result.Screen.c_str());
    if (std::getenv("BENCH_TRACE")) {
        const auto Bytes = ReadFileBytes(Trace);
        std::fprintf(stderr, "%.*s\n", int(std::min<size_t>(Bytes.size(), 400)), reinterpret_cast<const char*>(Bytes.data()));
    }
    return Seconds;
}

const char* Reference = R"(
        org 0x100
        mov ax, cs
        add ax, 0x1000
        and ax, 0xF000          ; a 64 KB buffer of zeros above the program
        mov [packet + 6], ax
        mov es, ax
        xor di, di
        mov cx, 0x8000
        xor ax, ax
        rep stosw
        mov al, 'S'
        out 0xE9, al
        mov al, 10
        out 0xE9, al
next:   mov eax, [total]
        sub eax, [lba]
        jz done
        cmp eax, 127
        jbe .n
        mov eax, 127
.n:     mov [packet + 2], ax
        mov si, packet
        mov ax, 0x4300
        mov dl, 0x80
        int 0x13
        jc failed
        movzx eax, word [packet + 2]
        add [lba], eax
        jmp next
done:   mov al, 'E'
        out 0xE9, al
        mov al, 10
        out 0xE9, al
        mov dx, finished
        mov ah, 9
        int 0x21
        ret
failed: mov dx, error
        mov ah, 9
        int 0x21
        ret
packet: db 16, 0
        dw 0, 0, 0
lba:    dd 0, 0
total:  dd SECTORS
finished: db 'REFERENCE DONE', 13, 10, '$'
error:  db 'REFERENCE WRITE ERROR', 13, 10, '$'
)";

} // namespace

int main(int argc, char** argv) {
    const long Sectors = argc > 1 ? std::atol(argv[1]) : 524288;
    TScratchDir Dir;
    const std::string Floppy = (Dir / "floppy.img").string(), Disk = (Dir / "disk.img").string();
    const std::string M = "MTOOLS_SKIP_CHECK=1 ", To = " -i " + ShellQuote(Floppy) + " ";
    fs::copy_file(Payload / "rxdos" / "BOOT.IMG", Floppy);
    // No verification, no report: one pass of writes, through the BIOS or by DMA.
    WriteFileBytes(Dir / "BIOS.INI", "O1=0\r\nO4=0\r\nO6=0\r\nO7=1\r\nO11=0\r\n");
    WriteFileBytes(Dir / "DMA.INI", "O1=0\r\nO4=0\r\nO6=0\r\nO7=1\r\nO11=1\r\n");
    WriteFileBytes(Dir / "WIPER.BAT", "@echo off\r\ncd \\Purgit\r\nPurgit /M:ZERO /D:1 /TRACE\r\n");
    std::string Source = Reference;
    Source.replace(Source.find("SECTORS"), 7, std::to_string(Sectors));
    WriteFileBytes(Dir / "ref.asm", Source);
    WriteFileBytes(Dir / "REF.BAT", "@echo off\r\nREF\r\n");
    if (!Run("nasm -f bin -o " + ShellQuote((Dir / "REF.COM").string()) + " " +
             ShellQuote((Dir / "ref.asm").string())) ||
        !Run(M + "mcopy -s -Q" + To + ShellQuote((Payload / "purgit" / "Purgit").string()) + " ::PURGIT") ||
        !Run(M + "mcopy -Q" + To + ShellQuote((Dir / "REF.COM").string()) + " ::REF.COM"))
        return 1;

    auto Boot = [&](const char* Batch, const char* Ini = nullptr) {
        Run(M + "mcopy -Q -D o" + To + ShellQuote((Dir / Batch).string()) + " ::AUTOEXEC.BAT");
        if (Ini) Run(M + "mcopy -Q -D o" + To + ShellQuote((Dir / Ini).string()) + " ::PURGIT/DATA/PURGIT.INI");
        fs::remove(Disk);
        { std::FILE* F = std::fopen(Disk.c_str(), "wb"); if (F) std::fclose(F); }
        fs::resize_file(Disk, uint64_t(Sectors) * 512);
    };
    Boot("REF.BAT");
    const double Limit = TimeBoot(Dir, Floppy, Disk, "S\n", "E\n", "REFERENCE");
    Boot("WIPER.BAT", "BIOS.INI");
    const double Wiper = TimeBoot(Dir, Floppy, Disk, "PASS 1", "\nEND\n", "Erase finished");
    Boot("WIPER.BAT", "DMA.INI");
    const double Dma = TimeBoot(Dir, Floppy, Disk, "PASS 1", "\nEND\n", "Erase finished");
    if (Limit <= 0 || Wiper <= 0 || Dma <= 0) return 1;
    const double Mb = Sectors / 2048.0;
    std::printf("disk: %ld sectors (%.0f MB)\n", Sectors, Mb);
    std::printf("INT 13h AH=43h, 127 sectors a request: %.2f s, %.2f MB/s\n", Limit, Mb / Limit);
    std::printf("wiper, one ZERO pass:                  %.2f s, %.2f MB/s\n", Wiper, Mb / Wiper);
    std::printf("wiper, one ZERO pass, option 11 (DMA): %.2f s, %.2f MB/s\n", Dma, Mb / Dma);
    std::printf("wiper / limit: %.2fx (target at most 1.5x); DMA / limit: %.2fx\n", Wiper / Limit,
                Dma / Limit);
    return 0;
}
