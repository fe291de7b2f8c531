#include "cli/MediaOptions.h"

#include <iomanip>
#include <iostream>
#include <memory>

#include "cli/ConsoleUserInterface.h"
#include "cli/OptionsCommand.h"
#include "image/Composer.h"
#include "platform/Platform.h"

int ResolveMediaOptions(const TMediaOptions& Options, TWiperOptions& Checked, std::string& MsDosDir,
                        std::ostream& Err) {
    if (Options.Params.size() > MaxWiperParams) {
        Err << "purgex: --params is " << Options.Params.size() << " characters long; DOS passes at "
            << "most " << MaxWiperParams << " to the wiper\n";
        return 2;
    }
    Checked = DefaultOptions();
    if (!Options.Bits.empty()) {
        if (!ParseOptionBits(Options.Bits, Checked)) {
            Err << "purgex: --options takes twelve characters 0 or 1 (options 1 to 11, then "
                   "\"Disable mouse support\")\n";
            return 2;
        }
    } else if (const auto Problem = LoadOptions(Checked)) {
        Err << "purgex: saved options: " << *Problem << "\n";
    }
    MsDosDir = Options.MsDosDir;
    if (!MsDosDir.empty() && MsDosDir.back() != '/' && MsDosDir.back() != '\\') MsDosDir += '/';
    return 0;
}

std::string OfferedMsDos(const std::string& MsDosDir) {
    const TWindowsVersion v = Platform().Version();
    if (v.PlatformId == 1 && !FindIoSys().empty() && !FindCommandCom().empty())
        return "the files of this Windows installation";
    const auto Probe = std::make_unique<TVirtualFloppy>(); // far too large for a stack
    if (v.PlatformId == 2 && LoadDiskCopyImage(*Probe)) return "the boot floppy of DiskCopy.dll";
    if (!MsDosDir.empty() && HoldsMsDosSystem(MsDosDir)) return MsDosDir;
    return {};
}

TDiscSystem ChooseDiscSystem(const std::string& Os, const std::string& MsDosDir,
                             std::ostream& Out) {
    if (Os == "rxdos") {
        Out << "Boot system: Rx-DOS (embedded)\n";
        return TDiscSystem::RxDos;
    }
    if (Os == "msdos") {
        Out << "Boot system: MS-DOS\n";
        return TDiscSystem::MsDos;
    }
    const std::string Source = OfferedMsDos(MsDosDir);
    Out << (Source.empty() ? "Boot system: Rx-DOS (embedded; no MS-DOS system offered)\n"
                           : "Boot system: MS-DOS from " + Source + "\n");
    return Source.empty() ? TDiscSystem::RxDos : TDiscSystem::MsDos;
}

bool CreateMediaReporting(TCreationRun& Run, TConsoleFront& Front, std::ostream& Err) {
    try {
        Run.CreateMedia();
        return true;
    } catch (const std::exception& Error) {
        Front.EndLine();
        Err << "purgex: Error: " << Error.what() << "\n";
        return false;
    }
}

void TConsoleFront::SetGauge(int Percent) {
    Gauge = Percent;
    Draw();
}

void TConsoleFront::SetFill(double Fill) {
    BufferFill = int(Fill * 100 + 0.5);
    Draw();
}

void TConsoleFront::Draw() {
    if (!ShowProgress || (Gauge == 0 && !LineOpen)) return;
    const int Filled = Gauge * 40 / 100;
    Err << "\r[" << std::string(size_t(Filled), '#') << std::string(size_t(40 - Filled), ' ')
        << "] " << std::setw(3) << Gauge << "%";
    if (BufferFill >= 0) Err << "  drive buffer " << std::setw(3) << BufferFill << "%";
    Err << std::flush;
    LineOpen = true;
    if (Gauge >= 100) EndLine();
}

void TConsoleFront::EndLine() {
    if (LineOpen) Err << "\n" << std::flush;
    LineOpen = false;
}
