#include "platform/Platform.h"

#include <chrono>
#include <string>

namespace {
TPlatform* Installed = nullptr;
}

TPlatform& Platform() { return Installed ? *Installed : NativePlatform(); }

TPlatform* InstallPlatform(TPlatform* Replacement) {
    TPlatform* Previous = Installed ? Installed : &NativePlatform();
    Installed = Replacement;
    return Previous;
}

// Windows' codes for the answers of a machine without a facility.
namespace {
constexpr uint32_t ErrorFileNotFound = 2;
}

std::unique_ptr<TDeviceHandle> TPlatform::OpenDevice(std::string_view, const TDeviceAccess&) {
    LastErrorCode = ErrorFileNotFound;
    return nullptr;
}

std::string TPlatform::ErrorText(uint32_t Code) {
    return Code == ErrorFileNotFound ? "The system cannot find the file specified."
                                     : "Error " + std::to_string(Code) + ".";
}

TDriveType TPlatform::DriveType(char) { return DriveNoRootDir; }

bool TPlatform::DiskFreeSpace(char, TDiskFreeSpace&) {
    LastErrorCode = ErrorFileNotFound;
    return false;
}

uint32_t TPlatform::LogicalDrives() { return 0; }

std::vector<std::string> TPlatform::DosDeviceTargets(std::string_view) { return {}; }

bool TPlatform::RemoveFile(std::string_view) { return false; }

bool TPlatform::MoveFileOver(std::string_view, std::string_view) { return false; }

bool TPlatform::FileReadOnly(std::string_view) { return false; }

bool TPlatform::FolderWritable(std::string_view) { return false; }

bool TPlatform::CreateFolder(std::string_view) {
    LastErrorCode = ErrorFileNotFound;
    return false;
}

std::unique_ptr<TChildProcess> TPlatform::StartProcess(std::string_view) {
    LastErrorCode = ErrorFileNotFound;
    return nullptr;
}

void TPlatform::Sleep(uint32_t) {}

bool TPlatform::AttachFloppy(char Letter, std::string_view, std::string& Problem) {
    Problem = std::string("drive ") + Letter + ": is the system's own here";
    return false;
}

int64_t TPlatform::FloppyMismatch(char) { return -2; }

std::vector<TStickDevice> TPlatform::StickDevices() {
    return {};
}

std::optional<TStickDevice> TPlatform::DescribeStick(std::string_view Node, std::string& Problem) {
    Problem = std::string(Node) + ": no such disk here";
    return std::nullopt;
}

std::unique_ptr<TDiskHandle> TPlatform::OpenStick(const TStickDevice& Device, bool,
                                                  std::string& Problem) {
    Problem = Device.Node + ": disks cannot be written here";
    return nullptr;
}

std::unique_ptr<TDiskHandle> TPlatform::OpenDiskImage(std::string_view Path, uint64_t,
                                                      std::string& Problem) {
    Problem = std::string(Path) + ": image files cannot be written here";
    return nullptr;
}

uint64_t TPlatform::TickCount() {
    return uint64_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count());
}

TAspiLibrary& TPlatform::AspiLibrary() {
    static TAspiLibrary Substitute; // answers 0: no adapters, nothing pending
    return Substitute;
}

namespace {
// An event nobody signals: a machine without the ASPI library never waits on one.
class TUnsignalledEvent : public TEvent {
public:
    void Reset() override {}
    bool Wait(uint32_t) override { return false; }
    uint32_t Handle() override { return 0; }
};
} // namespace

std::unique_ptr<TEvent> TPlatform::CreateManualEvent() {
    return std::make_unique<TUnsignalledEvent>();
}
