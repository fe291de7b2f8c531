#include "fakes/FakePlatform.h"

#include <algorithm>
#include <cctype>

#include "fakes/FakeDiskMachine.h"
#include "fakes/FakeFloppyDrive.h"
#include "floppy/FloppyVolume.h"
#include "platform/WindowsSticks.h"

namespace {

std::string Upper(std::string_view Text) {
    std::string Result(Text);
    std::transform(Result.begin(), Result.end(), Result.begin(),
                   [](unsigned char c) { return char(std::toupper(c)); });
    return Result;
}

// A memory stream whose bytes land in the fake's file table when it closes.
// Writes stop short once the fake disk's free bytes are used up.
class TFakeFileStream : public TMemoryStream {
public:
    TFakeFileStream(std::string& Target, int64_t& FreeBytes) : Target(Target), FreeBytes(FreeBytes) {}
    ~TFakeFileStream() override { Target.assign(Bytes().begin(), Bytes().end()); }
    int64_t Write(const void* Buffer, int64_t Count) override {
        if (FreeBytes >= 0) Count = std::min(Count, FreeBytes);
        const int64_t Done = TMemoryStream::Write(Buffer, Count);
        if (FreeBytes >= 0) FreeBytes -= Done;
        return Done;
    }

private:
    std::string& Target;
    int64_t& FreeBytes;
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

bool TFakePlatform::FileExists(std::string_view Path) {
    if (Floppy && Floppy->Owns(Path)) return TFloppyVolume(*Floppy).FileExists(Floppy->Rest(Path));
    return Files.count(Upper(Path)) != 0;
}

std::unique_ptr<TStream> TFakePlatform::OpenFileRead(std::string_view Path) {
    if (Floppy && Floppy->Owns(Path)) return TFloppyVolume(*Floppy).OpenRead(Floppy->Rest(Path));
    const auto Found = Files.find(Upper(Path));
    if (Found == Files.end()) return nullptr;
    return std::make_unique<TMemoryStream>(
        std::vector<uint8_t>(Found->second.begin(), Found->second.end()));
}

std::unique_ptr<TStream> TFakePlatform::CreateFileWrite(std::string_view Path) {
    if (Floppy && Floppy->Owns(Path))
        return TFloppyVolume(*Floppy).CreateOrReplace(Floppy->Rest(Path));
    std::string& Target = Files[Upper(Path)];
    Target.clear();
    return std::make_unique<TFakeFileStream>(Target, FreeBytes);
}

bool TFakePlatform::RemoveFile(std::string_view Path) { return Files.erase(Upper(Path)) != 0; }

bool TFakePlatform::MoveFileOver(std::string_view From, std::string_view To) {
    const auto Found = Files.find(Upper(From));
    if (Found == Files.end() || ReadOnlyFiles.count(Upper(To))) return false;
    std::string Bytes = std::move(Found->second);
    Files.erase(Found);
    Files[Upper(To)] = std::move(Bytes);
    return true;
}

bool TFakePlatform::FileReadOnly(std::string_view Path) {
    return FileExists(Path) && ReadOnlyFiles.count(Upper(Path)) != 0;
}

bool TFakePlatform::FolderWritable(std::string_view Folder) {
    const std::string Name = Upper(Folder);
    return MissingFolders.count(Name) == 0 && ReadOnlyFolders.count(Name) == 0;
}

std::unique_ptr<TRegistryKey> TFakePlatform::OpenRegistryKey(std::string_view Path, bool Create) {
    if (RegistryBroken) return nullptr;
    const std::string Key = Upper(Path);
    if (!Create && Registry.count(Key) == 0) return nullptr;
    return std::make_unique<TFakeRegistryKey>(Registry[Key]);
}

std::unique_ptr<TDeviceHandle> TFakePlatform::OpenDevice(std::string_view Name,
                                                         const TDeviceAccess& Access) {
    if (Floppy)
        if (auto Device = Floppy->Open(Name, LastErrorCode, WindowsVersion)) return Device;
    if (Disks && Disks->Owns(Name)) return Disks->Open(Name, Access, LastErrorCode);
    return TPlatform::OpenDevice(Name, Access);
}

TDriveType TFakePlatform::DriveType(char Letter) {
    if (Floppy && Letter == Floppy->Letter) return DriveRemovable;
    if (TFakeVolume* Volume = Disks ? Disks->Volume(Letter) : nullptr)
        return Volume->Fixed ? DriveFixed : DriveRemovable;
    if (Letter == 'C') return DriveFixed;
    return TPlatform::DriveType(Letter);
}

bool TFakePlatform::DiskFreeSpace(char Letter, TDiskFreeSpace& Space) {
    if (Floppy && Letter == Floppy->Letter) return Floppy->FreeSpace(Space, LastErrorCode);
    if (Letter == 'C') {
        Space = {8, 512, 100000, 1000000};
        return true;
    }
    return TPlatform::DiskFreeSpace(Letter, Space);
}

uint32_t TFakePlatform::LogicalDrives() {
    return (Floppy ? 1u << (Floppy->Letter - 'A') : 0u) | 1u << 2 |
           (Disks ? Disks->LetterMask() : 0u);
}

std::vector<TStickDevice> TFakePlatform::StickDevices() {
    return Disks ? WindowsStickDevices(*this) : TPlatform::StickDevices();
}

std::optional<TStickDevice> TFakePlatform::DescribeStick(std::string_view Node,
                                                         std::string& Problem) {
    return Disks ? DescribeWindowsStick(*this, Node, Problem)
                 : TPlatform::DescribeStick(Node, Problem);
}

std::unique_ptr<TDiskHandle> TFakePlatform::OpenStick(const TStickDevice& Device, bool AnyDisk,
                                                      std::string& Problem) {
    if (!Disks) return TPlatform::OpenStick(Device, AnyDisk, Problem);
    return OpenWindowsStick(*this, Device, AnyDisk, LastErrorCode, Problem);
}

bool TFakePlatform::CreateFolder(std::string_view Path) {
    if (Floppy && Floppy->Owns(Path)) return TFloppyVolume(*Floppy).CreateFolder(Floppy->Rest(Path));
    Folders.insert(Upper(Path));
    return true;
}

std::unique_ptr<TChildProcess> TFakePlatform::StartProcess(std::string_view CommandLine) {
    StartedCommands.emplace_back(CommandLine);
    if (ProcessStarter) return ProcessStarter(CommandLine);
    return TPlatform::StartProcess(CommandLine);
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
