// The program's costly steps in-process: decoding both embedded containers,
// loading both stores, composing a disc floppy, building the El Torito image
// a whole "purgex iso" run (image file written and read back) and a whole
// "purgex burn" on the simulated writer.
//
//   purgex_bench [--benchmark_filter=REGEX] [--benchmark_repetitions=N]

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "cli/BurnCommand.h"
#include "cli/IsoCommand.h"
#include "fakes/SimulatedWriter.h"
#include "image/Composer.h"
#include "image/DiscTarget.h"
#include "image/ExeData.h"
#include "image/LZH.h"
#include "image/StickTarget.h"
#include "optical/ISO9660.h"
#include "platform/Platform.h"
#include "../payload/purgit/purgit/xorshift.h"

namespace {

void DecodeContainer(benchmark::State& State, const char* Name) {
    const auto Resource = Platform().OwnResource("STREAM", Name);
    if (!Resource || Resource->size() < 5) {
        State.SkipWithError("no embedded container");
        return;
    }
    const auto Coded = Resource->subspan(5);
    int64_t Decoded = 0;
    for (auto _ : State) {
        TReadOnlyStream Source(Coded);
        TMemoryStream Destination;
        Destination.Reserve(int64_t(Coded.size()) * 48); // as the store does: no regrowth
        UnpackStream(Source, Destination);
        Decoded = Destination.Size();
        benchmark::DoNotOptimize(Destination.Memory());
    }
    State.SetBytesProcessed(State.iterations() * Decoded);
    State.counters["coded_bytes"] = double(Coded.size());
    State.counters["decoded_bytes"] = double(Decoded);
}

void BM_DecodeCdContainer(benchmark::State& State) {
    DecodeContainer(State, "PURGXCD");
}
void BM_DecodeDiskContainer(benchmark::State& State) {
    DecodeContainer(State, "PURGXDSK");
}

// What start-up does behind the splash.
void BM_LoadBothStores(benchmark::State& State) {
    for (auto _ : State) {
        if (!LoadCdStore() || !LoadDiskStore()) {
            State.SkipWithError("a store failed to load");
            return;
        }
    }
}

bool HaveCdStore(benchmark::State& State) {
    if (CdStore && !CdStore->Items.empty()) return true;
    if (LoadCdStore()) return true;
    State.SkipWithError("the disc store failed to load");
    return false;
}

// The Rx-DOS disc floppy with the wiper's files and start-up files.
void BM_ComposeDiscFloppy(benchmark::State& State) {
    if (!HaveCdStore(State)) return;
    for (auto _ : State) {
        TDiscTarget Target;
        if (!Target.PrepareRxDosImage() || !Target.ComposeDiscFiles(true, "11111111111", "")) {
            State.SkipWithError("composing failed");
            return;
        }
        benchmark::DoNotOptimize(Target.DiscFloppy->Image.data());
    }
}

void BM_MakeBootableIso(benchmark::State& State) {
    if (!HaveCdStore(State)) return;
    TDiscTarget Target;
    Target.PrepareRxDosImage();
    Target.ComposeDiscFiles(true, "11111111111", "");
    const auto& Image = Target.DiscFloppy->Image;
    for (auto _ : State) {
        TReadOnlyStream Floppy(std::span<const uint8_t>(Image.data(), Image.size()));
        TMemoryStream Iso;
        if (!MakeBootableIso(Floppy, Iso, "Corvane Purgex 2005")) {
            State.SkipWithError("MakeBootableIso failed");
            return;
        }
        benchmark::DoNotOptimize(Iso.Memory());
    }
    State.SetBytesProcessed(State.iterations() * IsoImageSize);
}

// "purgex iso FILE --os rxdos --yes" without the process around it: the
// store is loaded, the image composed, saved and read back every time.
void BM_PurgexIsoRun(benchmark::State& State) {
    const auto File = std::filesystem::temp_directory_path() /
                      ("purgex_bench_" + std::to_string(std::rand()) + ".iso");
    TIsoOptions Options;
    Options.File = File.string();
    Options.Os = "rxdos";
    Options.Bits = "111111111110";
    Options.Yes = true;
    for (auto _ : State) {
        std::istringstream In;
        std::ostringstream Out, Err;
        if (RunIsoCommand(Options, In, Out, Err) != 0) {
            State.SkipWithError(("purgex iso failed: " + Err.str()).c_str());
            break;
        }
    }
    std::error_code Ignored;
    std::filesystem::remove(File, Ignored);
}

// "purgex burn E: --os rxdos --yes" against the simulated writer: image,
// drive set-up, 74 writes, closing and the read-back. The drive's own time
// is simulated (it advances a clock, it never sleeps), so the CPU time
// measured is the program's plus the simulator's bookkeeping of the blocks.
void BM_PurgexBurnRun(benchmark::State& State) {
    const auto Own = [](const char* Name) { return Platform().OwnResource("STREAM", Name); };
    const auto Cd = Own("PURGXCD"), Disk = Own("PURGXDSK");
    if (!Cd || !Disk) {
        State.SkipWithError("no embedded containers");
        return;
    }
    const std::vector<uint8_t> CdBytes(Cd->begin(), Cd->end()), DiskBytes(Disk->begin(), Disk->end());
    uint64_t SimulatedMs = 0;
    for (auto _ : State) {
        State.PauseTiming();
        auto Machine = std::make_unique<TWriterPlatform>();
        Machine->AddResource("STREAM", "PURGXCD", CdBytes);
        Machine->AddResource("STREAM", "PURGXDSK", DiskBytes);
        TSimulatedWriter Writer;
        Machine->AddDrive('E', Writer);
        TBurnOptions Options;
        Options.Drive = "e:";
        Options.Os = "rxdos";
        Options.Yes = true;
        Options.Bits = "111111111110";
        std::istringstream In;
        std::ostringstream Out, Err;
        State.ResumeTiming();
        if (RunBurnCommand(Options, In, Out, Err) != 0) {
            State.SkipWithError(("purgex burn failed: " + Err.str()).c_str());
            break;
        }
        State.PauseTiming();
        SimulatedMs = Machine->Ticks + Machine->SleptMs;
        Machine.reset();
        State.ResumeTiming();
    }
    State.counters["simulated_drive_ms"] = double(SimulatedMs);
}

} // namespace

BENCHMARK(BM_DecodeCdContainer)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeDiskContainer)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadBothStores)->Unit(benchmark::kMillisecond);
// Laying out a 16 GiB stick from the composed floppy: how long, and how many
// bytes the stick then takes (the rest of it is never touched).
void BM_LayOutStick16GiB(benchmark::State& State) {
    if (!HaveCdStore(State)) return;
    TStickBootCode Code;
    TDiscTarget Target;
    if (!EmbeddedStickBootCode(Code) || !Target.PrepareRxDosImage() ||
        !Target.ComposeDiscFiles(true, "11111111111", "")) {
        State.SkipWithError("no boot code or composing failed");
        return;
    }
    const auto Files = FloppyFiles(*Target.DiscFloppy);
    uint64_t Written = 0;
    for (auto _ : State) {
        std::string Problem;
        const auto Layout = LayOutStick(16ull << 30, Files, Code, 1, 2, Problem);
        if (!Layout) {
            State.SkipWithError(Problem.c_str());
            return;
        }
        Written = Layout->BytesWritten();
        benchmark::DoNotOptimize(Written);
    }
    State.counters["bytes_written"] = double(Written);
}

BENCHMARK(BM_ComposeDiscFloppy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LayOutStick16GiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MakeBootableIso)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PurgexIsoRun)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PurgexBurnRun)->Unit(benchmark::kMillisecond);

#if defined(__x86_64__)
// The wipers' xorshift128 loop (the DOS wiper runs the same steps in real
// mode) natively into a 64 KiB buffer, the DOS wiper's write buffer's size:
// how fast the generator is where no emulator stands between it and the
// processor. Checked against the generator's definition before it is timed.
void BM_XorshiftStepsNative(benchmark::State& State) {
    std::vector<uint32_t> Buffer(16384);
    uint32_t S[4] = {0x12345678u, 0x9ABCDEF0u, 0x0F1E2D3Cu, 0x4B5A6978u};
    const auto Fill = [&Buffer](uint32_t* Q) {
#define STORE64(r, k) "movl %%" r ", " #k "(%[out])\n\t"
        uint32_t* Out = Buffer.data();
        __asm__ volatile("movl (%[q]), %%eax\n\tmovl 4(%[q]), %%ebx\n\t"
                         "movl 8(%[q]), %%ecx\n\tmovl 12(%[q]), %%edx\n"
                         "1:\n\t" XORSHIFT_FOUR(STORE64)
                         "addq $16, %[out]\n\tcmpq %[end], %[out]\n\tjb 1b\n\t"
                         "movl %%eax, (%[q])\n\tmovl %%ebx, 4(%[q])\n\t"
                         "movl %%ecx, 8(%[q])\n\tmovl %%edx, 12(%[q])"
                         : [out] "+r"(Out)
                         : [q] "r"(Q), [end] "r"(Buffer.data() + Buffer.size())
                         : "eax", "ebx", "ecx", "edx", "esi", "memory", "cc");
#undef STORE64
    };
    uint32_t Check[4] = {S[0], S[1], S[2], S[3]};
    Fill(Check);
    uint32_t X = S[0], Y = S[1], Z = S[2], W = S[3];
    for (uint32_t Word : Buffer) {
        const uint32_t T = X ^ (X << 11);
        X = Y;
        Y = Z;
        Z = W;
        W = W ^ (W >> 19) ^ T ^ (T >> 8);
        if (Word != W) {
            State.SkipWithError("the assembly loop is not xorshift128");
            return;
        }
    }
    for (auto _ : State) {
        Fill(S);
        benchmark::ClobberMemory();
    }
    State.SetBytesProcessed(int64_t(State.iterations()) * int64_t(Buffer.size() * 4));
}
BENCHMARK(BM_XorshiftStepsNative);
#endif

BENCHMARK_MAIN();
