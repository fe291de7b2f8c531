#include "cli/MediaOptions.h"

#include <iostream>

namespace {

bool ParseBits(const std::string& Bits, TWiperOptions& Options) {
    if (Bits.size() != size_t(OptionCount)) return false;
    for (size_t i = 0; i < Bits.size(); ++i) {
        if (Bits[i] != '0' && Bits[i] != '1') return false;
        Options[i] = Bits[i] == '1';
    }
    return true;
}

} // namespace

int ResolveMediaOptions(const TMediaOptions& Options, TWiperOptions& Checked, std::string& MsDosDir,
                        std::ostream& Err) {
    if (Options.Params.size() > MaxWiperParams) {
        Err << "purgex: --params is " << Options.Params.size() << " characters long; DOS passes at "
            << "most " << MaxWiperParams << " to the wiper\n";
        return 2;
    }
    Checked = DefaultOptions();
    if (!Options.Bits.empty()) {
        if (!ParseBits(Options.Bits, Checked)) {
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

void TConsoleFront::SetGauge(int Percent) {
    if (!ShowProgress || (Percent == 0 && !LineOpen)) return;
    const int Filled = Percent * 40 / 100;
    Err << "\r[" << std::string(size_t(Filled), '#') << std::string(size_t(40 - Filled), ' ')
        << "] " << Percent << "%" << std::flush;
    LineOpen = true;
    if (Percent >= 100) EndLine();
}

void TConsoleFront::EndLine() {
    if (LineOpen) Err << "\n" << std::flush;
    LineOpen = false;
}
