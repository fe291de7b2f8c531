#include "platform/Platform.h"

#include <algorithm>
#include <chrono>
#include <string>

namespace {

TPlatform* Installed = nullptr;

// Days since 1970-01-01 to a proleptic Gregorian date.
void CivilFromDays(int64_t Days, int& Year, int& Month, int& Day) {
    Days += 719468;
    const int64_t Era = (Days >= 0 ? Days : Days - 146096) / 146097;
    const int64_t DayOfEra = Days - Era * 146097;
    const int64_t YearOfEra =
        (DayOfEra - DayOfEra / 1460 + DayOfEra / 36524 - DayOfEra / 146096) / 365;
    const int64_t DayOfYear = DayOfEra - (365 * YearOfEra + YearOfEra / 4 - YearOfEra / 100);
    const int64_t MonthIndex = (5 * DayOfYear + 2) / 153;
    Day = int(DayOfYear - (153 * MonthIndex + 2) / 5 + 1);
    Month = int(MonthIndex < 10 ? MonthIndex + 3 : MonthIndex - 9);
    Year = int(YearOfEra + Era * 400 + (Month <= 2 ? 1 : 0));
}

} // namespace

TSystemTime UtcTime(int64_t Seconds) {
    // Far outside any calendar range used here; keeps the arithmetic small.
    Seconds = std::clamp<int64_t>(Seconds, -(int64_t(1) << 40), int64_t(1) << 40);
    int64_t Days = Seconds / 86400;
    int64_t Rest = Seconds % 86400;
    if (Rest < 0) {
        Rest += 86400;
        --Days;
    }
    TSystemTime Time;
    CivilFromDays(Days, Time.Year, Time.Month, Time.Day);
    Time.Hour = int(Rest / 3600);
    Time.Minute = int(Rest / 60 % 60);
    Time.Second = int(Rest % 60);
    return Time;
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
