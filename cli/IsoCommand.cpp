#include "cli/IsoCommand.h"

#include <iostream>

#include "cli/ConsoleUserInterface.h"
#include "cli/Terminal.h"
#include "image/Composer.h"
#include "image/CreationRun.h"
#include "image/ExeData.h"
#include "optical/ImageRecorder.h"
#include "platform/Platform.h"

namespace {

class TIsoFront : public TRunFront {
public:
    TIsoFront(TOpticalDevice& Recorder, TWiperOptions Options, std::string Params, std::ostream& Err,
              bool ShowProgress)
        : Recorder(Recorder), Options(Options), Params(std::move(Params)), Err(Err),
          ShowProgress(ShowProgress) {}

    int RowCount() override { return 1; }
    TOpticalDevice* RowDevice(int) override { return &Recorder; }
    int RowQuantity(int) override { return 1; }
    TWiperOptions CheckedOptions() override { return Options; }
    std::string CommandLine() override { return Params; }
    bool FloppyUsesMsDos() override { return false; }
    // A bar on stderr once work has begun; ended before any prompt or message.
    void SetGauge(int Percent) override {
        if (!ShowProgress || (Percent == 0 && !LineOpen)) return;
        const int Filled = Percent * 40 / 100;
        Err << "\r[" << std::string(size_t(Filled), '#') << std::string(size_t(40 - Filled), ' ')
            << "] " << Percent << "%" << std::flush;
        LineOpen = true;
        if (Percent >= 100) EndLine();
    }
    void EndLine() {
        if (LineOpen) Err << "\n" << std::flush;
        LineOpen = false;
    }

private:
    TOpticalDevice& Recorder;
    TWiperOptions Options;
    std::string Params;
    std::ostream& Err;
    bool ShowProgress;
    bool LineOpen = false;
};

bool ParseBits(const std::string& Bits, TWiperOptions& Options) {
    if (Bits.size() != size_t(OptionCount)) return false;
    for (size_t i = 0; i < Bits.size(); ++i) {
        if (Bits[i] != '0' && Bits[i] != '1') return false;
        Options[i] = Bits[i] == '1';
    }
    return true;
}

// Where the running system offers MS-DOS: its own files (Windows 9x), the
// image of "DiskCopy.dll", or the folder given on the command line.
std::string OfferedMsDos(const std::string& MsDosDir) {
    const TWindowsVersion v = Platform().Version();
    if (v.PlatformId == 1 && !FindIoSys().empty() && !FindCommandCom().empty())
        return "the files of this Windows installation";
    const auto Probe = std::make_unique<TVirtualFloppy>(); // far too large for a stack
    if (v.PlatformId == 2 && LoadDiskCopyImage(*Probe)) return "the boot floppy of DiskCopy.dll";
    if (!MsDosDir.empty() && HoldsMsDosSystem(MsDosDir)) return MsDosDir;
    return {};
}

} // namespace

int RunIsoCommand(const TIsoOptions& Options, std::istream& In, std::ostream& Out,
                  std::ostream& Err) {
    TWiperOptions Checked = DefaultOptions();
    if (!Options.Bits.empty()) {
        if (!ParseBits(Options.Bits, Checked)) {
            Err << "purgex: --options takes twelve characters 0 or 1 (options 1 to 11, then "
                   "\"Disable mouse support\")\n";
            return 2;
        }
    } else if (const auto Problem = LoadOptions(Checked)) {
        Err << "purgex: saved options: " << *Problem << "\n";
    }

    std::string MsDosDir = Options.MsDosDir;
    if (!MsDosDir.empty() && MsDosDir.back() != '/' && MsDosDir.back() != '\\') MsDosDir += '/';

    if (!LoadCdStore()) {
        Err << "purgex: the embedded store PURGXCD is corrupt or missing\n";
        return 1;
    }

    TConsoleUserInterface Console(In, Out, !Options.Yes && StandardInputIsTerminal());
    Console.SaveFile = Options.File;
    Console.SystemFolder = MsDosDir;
    TUserInterface* Previous = InstallUserInterface(&Console);
    struct TRestore {
        TUserInterface* Previous;
        ~TRestore() { InstallUserInterface(Previous); }
    } Restore{Previous};

    TimageRecorder Recorder;
    Recorder.ReadBack = !Options.NoVerify;
    TIsoFront Front(Recorder, Checked, Options.Params, Err, StandardErrorIsTerminal());
    TCreationRun Run(Front);
    Console.BeforeOutput = [&] { Front.EndLine(); };

    if (Options.Os == "rxdos") {
        Run.DiscSystem = TDiscSystem::RxDos;
        Out << "Boot system: Rx-DOS (embedded)\n";
    } else if (Options.Os == "msdos") {
        Run.DiscSystem = TDiscSystem::MsDos;
        Out << "Boot system: MS-DOS\n";
    } else {
        const std::string Source = OfferedMsDos(MsDosDir);
        Run.DiscSystem = Source.empty() ? TDiscSystem::RxDos : TDiscSystem::MsDos;
        Out << (Source.empty() ? "Boot system: Rx-DOS (embedded; no MS-DOS system offered)\n"
                               : "Boot system: MS-DOS from " + Source + "\n");
    }

    std::vector<uint8_t> Image;
    Run.ImageBuilt = [&](const TMemoryStream& Iso) { Image = Iso.Bytes(); };
    try {
        Run.CreateMedia();
    } catch (const std::exception& Error) {
        Err << "purgex: Error: " << Error.what() << "\n";
        return 1;
    }
    if (Run.MediaDone != Run.MediaTotal) {
        if (Recorder.DifferingSector >= 0) {
            Err << "purgex: the file written for " << Options.File
                << " differs from the image from sector " << Recorder.DifferingSector
                << " on; it was removed\n";
            return 1;
        }
        const std::string Reason = Console.LastMessage;
        Err << "purgex: " << Options.File << " was not made"
            << (Reason.empty() ? "" : ": " + Reason)
            << (Platform().FileExists(Options.File) ? " (the existing file is unchanged)" : "")
            << "\n";
        return 1;
    }
    Out << "Made " << Options.File << " (" << Image.size() << " bytes). Boot it with: "
        << "qemu-system-i386 -cdrom " << Options.File << "\n";
    return 0;
}
