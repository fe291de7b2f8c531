// The registry of the POSIX layer: one INI file, a section per key under
// HKEY_CURRENT_USER, values written as name=dword:XXXXXXXX. Anything else in
// a value reads as a value of another type. The file lives in
// $XDG_CONFIG_HOME/purgex/registry.ini (default ~/.config).
//
// A damaged file (a line that is no section, value, comment or blank) is
// not trusted for what it lacks: every key opens, and a value it does not
// hold reads as a value of another type, so the reader reports it and keeps
// its defaults. The next write rewrites the file without the damage.

#include "platform/posix/PosixRegistry.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::string Upper(std::string_view Text) {
    std::string Result(Text);
    for (char& c : Result) c = char(std::toupper(static_cast<unsigned char>(c)));
    return Result;
}

std::string ConfigFolder() {
    if (const char* Xdg = std::getenv("XDG_CONFIG_HOME"); Xdg && *Xdg)
        return std::string(Xdg) + "/purgex";
    if (const char* Home = std::getenv("HOME"); Home && *Home)
        return std::string(Home) + "/.config/purgex";
    return {};
}

bool MakeFolders(const std::string& Path) {
    for (size_t At = 1; At <= Path.size(); ++At) {
        if (At != Path.size() && Path[At] != '/') continue;
        const std::string Part = Path.substr(0, At);
        if (::mkdir(Part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return true;
}

struct TSection {
    std::string Name;
    std::vector<std::pair<std::string, std::string>> Values;
};

class TIniRegistry {
public:
    explicit TIniRegistry(std::string File) : File(std::move(File)) { Load(); }

    TSection* Find(std::string_view Key) {
        for (TSection& s : Sections)
            if (Upper(s.Name) == Upper(Key)) return &s;
        return nullptr;
    }
    TSection& Add(std::string_view Key) {
        Sections.push_back({std::string(Key), {}});
        return Sections.back();
    }

    bool Damaged() const { return BadLines > 0; }

    bool Save() const {
        const size_t Slash = File.rfind('/');
        if (Slash != std::string::npos && !MakeFolders(File.substr(0, Slash))) return false;
        const std::string Temporary = File + ".tmp";
        {
            std::ofstream Out(Temporary, std::ios::trunc);
            for (const TSection& s : Sections) {
                Out << '[' << s.Name << "]\n";
                for (const auto& [Name, Value] : s.Values) Out << Name << '=' << Value << '\n';
                Out << '\n';
            }
            if (!Out.flush()) return false;
        }
        return std::rename(Temporary.c_str(), File.c_str()) == 0;
    }

private:
    void Load() {
        std::ifstream In(File);
        std::string Line;
        TSection* Current = nullptr;
        while (std::getline(In, Line)) {
            if (!Line.empty() && Line.back() == '\r') Line.pop_back();
            if (Line.empty() || Line[0] == ';') continue;
            const size_t Equals = Line.find('=');
            if (Line.size() >= 2 && Line.front() == '[' && Line.back() == ']') {
                Current = &Add(Line.substr(1, Line.size() - 2));
            } else if (Current && Equals != std::string::npos && Equals > 0) {
                Current->Values.emplace_back(Line.substr(0, Equals), Line.substr(Equals + 1));
            } else {
                ++BadLines;
            }
        }
    }

    std::string File;
    int BadLines = 0;
    std::vector<TSection> Sections;
};

class TPosixRegistryKey : public TRegistryKey {
public:
    TPosixRegistryKey(std::string File, std::string Key) : File(std::move(File)), Key(std::move(Key)) {}

    std::optional<TRegistryValue> Read(std::string_view Name) override {
        TIniRegistry Registry(File);
        const TSection* Section = Registry.Find(Key);
        const auto Missing = [&]() -> std::optional<TRegistryValue> {
            if (Registry.Damaged()) return TRegistryValue{};
            return std::nullopt;
        };
        if (!Section) return Missing();
        for (const auto& [ValueName, Text] : Section->Values) {
            if (Upper(ValueName) != Upper(Name)) continue;
            TRegistryValue Value;
            if (Text.size() == 14 && Text.compare(0, 6, "dword:") == 0) {
                char* End = nullptr;
                const unsigned long Number = std::strtoul(Text.c_str() + 6, &End, 16);
                if (End && *End == '\0') {
                    Value.IsDword = true;
                    Value.Dword = uint32_t(Number);
                }
            }
            return Value;
        }
        return Missing();
    }

    bool WriteDword(std::string_view Name, uint32_t Number) override {
        TIniRegistry Registry(File);
        TSection* Section = Registry.Find(Key);
        if (!Section) Section = &Registry.Add(Key);
        char Text[16];
        std::snprintf(Text, sizeof Text, "dword:%08x", unsigned(Number));
        for (auto& [ValueName, Value] : Section->Values)
            if (Upper(ValueName) == Upper(Name)) {
                Value = Text;
                return Registry.Save();
            }
        Section->Values.emplace_back(std::string(Name), Text);
        return Registry.Save();
    }

private:
    std::string File;
    std::string Key;
};

} // namespace

std::unique_ptr<TRegistryKey> OpenPosixRegistryKey(std::string_view Path, bool Create) {
    const std::string Folder = ConfigFolder();
    if (Folder.empty()) return nullptr;
    const std::string File = Folder + "/registry.ini";
    TIniRegistry Registry(File);
    if (!Registry.Find(Path)) {
        if (!Create && Registry.Damaged())
            return std::make_unique<TPosixRegistryKey>(File, std::string(Path));
        if (!Create) return nullptr;
        Registry.Add(Path);
        if (!Registry.Save()) return nullptr;
    }
    return std::make_unique<TPosixRegistryKey>(File, std::string(Path));
}
