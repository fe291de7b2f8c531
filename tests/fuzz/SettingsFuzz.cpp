// The settings loader on arbitrary stored values. The first byte chooses the
// store: a registry whose twelve values have any type and number (the
// simulated machine), or the POSIX layer's INI file holding the input bytes.
// Whatever was stored, loading never fails, an option changes only to what a
// 32-bit value says, and after saving, loading gives back exactly what was
// saved without a message.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "FuzzTarget.h"
#include "fakes/FakePlatform.h"
#include "image/WiperOptions.h"

namespace {

void CheckRoundTrip() {
    TWiperOptions Loaded = DefaultOptions();
    const auto Problem = LoadOptions(Loaded);
    (void)Problem;
    TWiperOptions Flipped = Loaded;
    for (bool& Checked : Flipped) Checked = !Checked;
    if (SaveOptions(Flipped)) return; // the store refused writing; nothing to compare
    TWiperOptions Again = DefaultOptions();
    PURGEX_FUZZ_CHECK(!LoadOptions(Again));
    PURGEX_FUZZ_CHECK(Again == Flipped);
}

// A folder of this process's own for the INI file.
std::string ConfigHome() {
    static const std::string Folder = [] {
        char Template[] = "/tmp/purgex-settings-fuzz-XXXXXX";
        const char* Made = ::mkdtemp(Template);
        return std::string(Made ? Made : "/tmp");
    }();
    return Folder;
}

} // namespace

PURGEX_FUZZ_TARGET(SettingsFuzz) {
    if (Size == 0) return 0;
    if (Data[0] & 1) {
        TFakePlatform Machine;
        auto& Values = Machine.Registry["SOFTWARE\\CORVANTIS\\CORVANE PURGEX 2005\\CONFIGURATIONS"];
        // Per value: presence and type byte, then four bytes of number.
        for (size_t i = 1, n = 0; i + 4 < Size && n < size_t(OptionCount); i += 5, ++n) {
            if (Data[i] & 1) continue;
            TRegistryValue Value;
            Value.IsDword = (Data[i] & 2) != 0;
            Value.Dword = uint32_t(Data[i + 1]) | uint32_t(Data[i + 2]) << 8 |
                          uint32_t(Data[i + 3]) << 16 | uint32_t(Data[i + 4]) << 24;
            Values["OPT" + std::to_string(n)] = Value;
        }
        const auto Stored = Values;
        TWiperOptions Options = DefaultOptions();
        const auto Problem = LoadOptions(Options);
        for (int n = 0; n < OptionCount; ++n) {
            const auto Found = Stored.find("OPT" + std::to_string(n));
            const bool Kept = Options[size_t(n)] == DefaultOptions()[size_t(n)];
            if (Found == Stored.end() || !Found->second.IsDword) PURGEX_FUZZ_CHECK(Kept);
            else PURGEX_FUZZ_CHECK(Kept || Options[size_t(n)] == (Found->second.Dword != 0));
            if (Found != Stored.end() && !Found->second.IsDword) PURGEX_FUZZ_CHECK(Problem);
        }
        CheckRoundTrip();
        return 0;
    }
    const std::string Home = ConfigHome();
    const char* Was = std::getenv("XDG_CONFIG_HOME");
    const std::string Previous = Was ? Was : "";
    ::setenv("XDG_CONFIG_HOME", Home.c_str(), 1);
    const std::string Folder = Home + "/purgex";
    ::mkdir(Folder.c_str(), 0700);
    const std::string File = Folder + "/registry.ini";
    if (FILE* Out = std::fopen(File.c_str(), "wb")) {
        std::fwrite(Data + 1, 1, Size - 1, Out);
        std::fclose(Out);
    }
    CheckRoundTrip();
    if (Was) ::setenv("XDG_CONFIG_HOME", Previous.c_str(), 1);
    else ::unsetenv("XDG_CONFIG_HOME");
    return 0;
}
