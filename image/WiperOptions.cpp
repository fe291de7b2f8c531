#include "image/WiperOptions.h"

#include "image/WiperOptionsTable.h"
#include "platform/Platform.h"

// Generated from image/WiperOptions.tsv, the table PURGIT is built from too.
static_assert(WIPER_OPTION_COUNT == DisableMouseOption && WIZARD_OPTION_COUNT == 1);

const char* const OptionCaptions[OptionCount] = {WIPER_OPTION_CAPTIONS, WIZARD_OPTION_CAPTIONS};

const char* const OptionsRegistryKey = "Software\\Corvantis\\Corvane Purgex 2005\\Configurations";

TWiperOptions DefaultOptions() {
    return {WIPER_OPTION_DEFAULTS, WIZARD_OPTION_DEFAULTS};
}

std::string OptionString(const TWiperOptions& Options) {
    std::string Text;
    for (bool Checked : Options) Text += Checked ? '1' : '0';
    return Text;
}

std::optional<std::string> LoadOptions(TWiperOptions& Options) {
    const auto Key = Platform().OpenRegistryKey(OptionsRegistryKey, false);
    if (!Key) return std::nullopt;
    std::optional<std::string> Problem;
    for (int i = 0; i < OptionCount; ++i) {
        const std::string Name = "opt" + std::to_string(i);
        const auto Value = Key->Read(Name);
        if (!Value) continue;
        if (!Value->IsDword) return "Invalid data type for '" + Name + "'";
        // A number other than 0 or 1 was not written by this program: read
        // as checked, as any non-zero number is, but say so.
        if (Value->Dword > 1 && !Problem) Problem = "Invalid value for '" + Name + "'";
        Options[size_t(i)] = Value->Dword != 0;
    }
    return Problem;
}

std::optional<std::string> SaveOptions(const TWiperOptions& Options) {
    const auto Key = Platform().OpenRegistryKey(OptionsRegistryKey, true);
    for (int i = 0; i < OptionCount; ++i) {
        const std::string Name = "opt" + std::to_string(i);
        if (!Key || !Key->WriteDword(Name, Options[size_t(i)] ? 1 : 0))
            return "Failed to set data for '" + Name + "'";
    }
    return std::nullopt;
}

const char* const UefiChoiceCaption = "Also start on UEFI PCs (CD/DVD and image files)";

bool LoadUefiChoice() {
    const auto Key = Platform().OpenRegistryKey(OptionsRegistryKey, false);
    const auto Value = Key ? Key->Read("uefi") : std::nullopt;
    return Value && Value->IsDword && Value->Dword != 0;
}

std::optional<std::string> SaveUefiChoice(bool Checked) {
    const auto Key = Platform().OpenRegistryKey(OptionsRegistryKey, true);
    if (!Key || !Key->WriteDword("uefi", Checked ? 1 : 0)) return "Failed to set data for 'uefi'";
    return std::nullopt;
}
