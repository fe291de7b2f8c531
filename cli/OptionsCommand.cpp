#include "cli/OptionsCommand.h"

#include <iomanip>
#include <ostream>

bool ParseOptionBits(const std::string& Bits, TWiperOptions& Options) {
    if (Bits.size() != size_t(OptionCount)) return false;
    TWiperOptions Parsed{};
    for (size_t i = 0; i < Bits.size(); ++i) {
        if (Bits[i] != '0' && Bits[i] != '1') return false;
        Parsed[i] = Bits[i] == '1';
    }
    Options = Parsed;
    return true;
}

int RunOptionsCommand(const std::string& SetBits, std::ostream& Out, std::ostream& Err) {
    if (!SetBits.empty()) {
        TWiperOptions Wanted;
        if (!ParseOptionBits(SetBits, Wanted)) {
            Err << "purgex: --set takes twelve characters 0 or 1 (options 1 to 11, then "
                   "\"Disable mouse support\")\n";
            return 2;
        }
        if (const auto Problem = SaveOptions(Wanted)) {
            Err << "purgex: saving the options: " << *Problem << "\n";
            return 1;
        }
    }
    TWiperOptions Options = DefaultOptions();
    int Status = 0;
    if (const auto Problem = LoadOptions(Options)) {
        // The states read before the bad value stand; the rest are defaults.
        Err << "purgex: saved options: " << *Problem << "\n";
        Status = 1;
    }
    Out << "Saved options (shared with the wizard):\n";
    for (int i = 0; i < OptionCount; ++i)
        Out << std::setw(4) << i + 1 << "  [" << (Options[size_t(i)] ? 'x' : ' ') << "]  "
            << OptionCaptions[i] << "\n";
    Out << "As --options: " << OptionString(Options) << "\n";
    return Status;
}
