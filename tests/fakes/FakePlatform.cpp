#include "fakes/FakePlatform.h"

#include <algorithm>
#include <cctype>

namespace {

std::string Upper(std::string_view Text) {
    std::string Result(Text);
    std::transform(Result.begin(), Result.end(), Result.begin(),
                   [](unsigned char c) { return char(std::toupper(c)); });
    return Result;
}

// A memory stream whose bytes land in the fake's file table when it closes.
class TFakeFileStream : public TMemoryStream {
public:
    TFakeFileStream(std::string& Target) : Target(Target) {}
    ~TFakeFileStream() override { Target.assign(Bytes().begin(), Bytes().end()); }

private:
    std::string& Target;
};

class TFakeRegistryKey : public TRegistryKey {
public:
    explicit TFakeRegistryKey(std::map<std::string, TRegistryValue>& Values) : Values(Values) {}
    std::optional<TRegistryValue> Read(std::string_view Name) override {
        const auto Found = Values.find(Upper(Name));
        if (Found == Values.end()) return std::nullopt;
        return Found->second;
    }
    bool WriteDword(std::string_view Name, uint32_t Value) override {
        Values[Upper(Name)] = TRegistryValue{true, Value};
        return true;
    }

private:
    std::map<std::string, TRegistryValue>& Values;
};

} // namespace

void TFakePlatform::AddResource(const std::string& Type, const std::string& Name,
                                std::vector<uint8_t> Bytes) {
    Resources[Upper(Type) + "/" + Upper(Name)] = std::move(Bytes);
}

std::optional<std::span<const uint8_t>> TFakePlatform::OwnResource(std::string_view Type,
                                                                   std::string_view Name) {
    const auto Found = Resources.find(Upper(Type) + "/" + Upper(Name));
    if (Found == Resources.end()) return std::nullopt;
    return std::span<const uint8_t>(Found->second);
}

std::optional<std::string> TFakePlatform::LibraryResource(std::string_view Library,
                                                          std::string_view Type,
                                                          std::string_view Name) {
    const auto Found =
        LibraryResources.find(Upper(Library) + "/" + Upper(Type) + "/" + Upper(Name));
    if (Found == LibraryResources.end()) return std::nullopt;
    return Found->second;
}

std::optional<std::string> TFakePlatform::EnvironmentVariable(std::string_view Name) {
    const auto Found = Environment.find(Upper(Name));
    if (Found == Environment.end()) return std::nullopt;
    return Found->second;
}

bool TFakePlatform::FileExists(std::string_view Path) { return Files.count(Upper(Path)) != 0; }

std::unique_ptr<TStream> TFakePlatform::OpenFileRead(std::string_view Path) {
    const auto Found = Files.find(Upper(Path));
    if (Found == Files.end()) return nullptr;
    return std::make_unique<TMemoryStream>(
        std::vector<uint8_t>(Found->second.begin(), Found->second.end()));
}

std::unique_ptr<TStream> TFakePlatform::CreateFileWrite(std::string_view Path) {
    std::string& Target = Files[Upper(Path)];
    Target.clear();
    return std::make_unique<TFakeFileStream>(Target);
}

std::unique_ptr<TRegistryKey> TFakePlatform::OpenRegistryKey(std::string_view Path, bool Create) {
    if (RegistryBroken) return nullptr;
    const std::string Key = Upper(Path);
    if (!Create && Registry.count(Key) == 0) return nullptr;
    return std::make_unique<TFakeRegistryKey>(Registry[Key]);
}

std::optional<std::string> TFakePlatform::SaveFileDialog(std::string_view DefaultName,
                                                         std::string_view DefaultExtension,
                                                         std::string_view Filter) {
    SaveDialogs.push_back(std::string(DefaultName) + "|" + std::string(DefaultExtension) + "|" +
                          std::string(Filter));
    if (SaveAnswers.empty()) return std::nullopt;
    auto Answer = SaveAnswers.front();
    SaveAnswers.pop_front();
    return Answer;
}
