// The small layer that stands in for Windows on Linux. It presents itself as
// an NT-family system of a version no table of the program lists, offers the
// resources linked into the binary, and maps plain paths to the file system.
// Drive-letter paths (C:\io.sys and the like) name nothing here.

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/EmbeddedResources.h"
#include "platform/Platform.h"
#include "platform/posix/PosixFloppy.h"
#include "platform/posix/PosixProcess.h"
#include "platform/posix/PosixRegistry.h"
#include "platform/posix/PosixScsi.h"
#include "platform/posix/PosixSticks.h"

namespace {

bool SameText(std::string_view A, std::string_view B) {
    if (A.size() != B.size()) return false;
    for (size_t i = 0; i < A.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(A[i])) !=
            std::toupper(static_cast<unsigned char>(B[i])))
            return false;
    return true;
}

// Each component that does not exist as written is looked up without regard
// to case, as Windows would (the composer asks for "Io.sys", a folder may
// hold "IO.SYS").
std::string ResolveCase(const std::string& Path) {
    struct stat Info;
    if (Path.empty() || ::stat(Path.c_str(), &Info) == 0) return Path;
    std::string Resolved = Path[0] == '/' ? "/" : "";
    size_t Start = Path[0] == '/' ? 1 : 0;
    while (Start <= Path.size()) {
        size_t End = Path.find('/', Start);
        if (End == std::string::npos) End = Path.size();
        std::string Part = Path.substr(Start, End - Start);
        const std::string Folder = Resolved.empty() ? "." : Resolved;
        if (!Part.empty() && ::stat((Resolved + Part).c_str(), &Info) != 0) {
            if (DIR* Listing = ::opendir(Folder.c_str())) {
                while (const dirent* Entry = ::readdir(Listing))
                    if (::strcasecmp(Entry->d_name, Part.c_str()) == 0) {
                        Part = Entry->d_name;
                        break;
                    }
                ::closedir(Listing);
            }
        }
        Resolved += Part;
        if (End < Path.size()) Resolved += '/';
        Start = End + 1;
    }
    return Resolved;
}

// Windows-style separators become '/'; "X:\..." has no meaning here.
std::optional<std::string> HostPath(std::string_view Path) {
    if (Path.size() >= 2 && std::isalpha(static_cast<unsigned char>(Path[0])) && Path[1] == ':')
        return std::nullopt;
    std::string Result(Path);
    for (char& c : Result)
        if (c == '\\') c = '/';
    return ResolveCase(Result);
}

class TFdStream : public TStream {
public:
    explicit TFdStream(int Fd) : Fd(Fd) {}
    ~TFdStream() override { ::close(Fd); }

    int64_t Read(void* Buffer, int64_t Count) override {
        int64_t Done = 0;
        while (Done < Count) {
            const ssize_t Got = ::read(Fd, static_cast<char*>(Buffer) + Done, size_t(Count - Done));
            if (Got <= 0) break;
            Done += Got;
        }
        return Done;
    }
    int64_t Write(const void* Buffer, int64_t Count) override {
        int64_t Done = 0;
        while (Done < Count) {
            const ssize_t Put =
                ::write(Fd, static_cast<const char*>(Buffer) + Done, size_t(Count - Done));
            if (Put <= 0) break;
            Done += Put;
        }
        return Done;
    }
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override {
        const int Whence = Origin == TSeekOrigin::Begin     ? SEEK_SET
                           : Origin == TSeekOrigin::Current ? SEEK_CUR
                                                            : SEEK_END;
        return ::lseek(Fd, Offset, Whence);
    }

private:
    int Fd;
};

class TPosixPlatform : public TPlatform {
public:
    TWindowsVersion Version() override { return {2, 10, 0}; }

    TSystemTime LocalTime() override {
        const time_t Now = ::time(nullptr);
        struct tm Parts;
        ::localtime_r(&Now, &Parts);
        return {Parts.tm_year + 1900, Parts.tm_mon + 1, Parts.tm_mday,
                Parts.tm_hour,        Parts.tm_min,     Parts.tm_sec};
    }

    std::optional<std::span<const uint8_t>> OwnResource(std::string_view Type,
                                                        std::string_view Name) override {
        for (size_t i = 0; i < EmbeddedResourceCount; ++i) {
            const TEmbeddedResource& R = EmbeddedResources[i];
            if (SameText(R.Type, Type) && SameText(R.Name, Name))
                return std::span<const uint8_t>(R.Begin, R.End);
        }
        return std::nullopt;
    }

    std::optional<std::string> LibraryResource(std::string_view, std::string_view,
                                               std::string_view) override {
        return std::nullopt;
    }

    std::optional<std::string> EnvironmentVariable(std::string_view Name) override {
        const char* Value = std::getenv(std::string(Name).c_str());
        if (!Value) return std::nullopt;
        return std::string(Value);
    }

    std::string WindowsDirectory() override { return "C:\\WINDOWS"; }

    bool FileExists(std::string_view Path) override {
        if (const auto Floppy = PosixFloppyFileExists(Path)) return *Floppy;
        const auto Host = HostPath(Path);
        struct stat Info;
        return Host && ::stat(Host->c_str(), &Info) == 0 && S_ISREG(Info.st_mode);
    }

    std::unique_ptr<TStream> OpenFileRead(std::string_view Path) override {
        if (auto Floppy = PosixFloppyOpenRead(Path)) return std::move(*Floppy);
        return Open(Path, O_RDONLY);
    }

    std::unique_ptr<TStream> CreateFileWrite(std::string_view Path) override {
        if (auto Floppy = PosixFloppyCreate(Path)) return std::move(*Floppy);
        return Open(Path, O_RDWR | O_CREAT | O_TRUNC);
    }

    std::unique_ptr<TRegistryKey> OpenRegistryKey(std::string_view Path, bool Create) override {
        return OpenPosixRegistryKey(Path, Create);
    }

    bool RemoveFile(std::string_view Path) override {
        const auto Host = HostPath(Path);
        return Host && ::unlink(Host->c_str()) == 0;
    }

    bool MoveFileOver(std::string_view From, std::string_view To) override {
        const auto Source = HostPath(From), Target = HostPath(To);
        return Source && Target && ::rename(Source->c_str(), Target->c_str()) == 0;
    }

    // A file without any write permission counts as read-only even for a
    // user (root) whom the system would let write it, as Windows would.
    bool FileReadOnly(std::string_view Path) override {
        const auto Host = HostPath(Path);
        struct stat Info;
        if (!Host || ::stat(Host->c_str(), &Info) != 0 || !S_ISREG(Info.st_mode)) return false;
        return (Info.st_mode & 0222) == 0 || ::access(Host->c_str(), W_OK) != 0;
    }

    bool FolderWritable(std::string_view Folder) override {
        const auto Host = HostPath(Folder.empty() ? std::string_view(".") : Folder);
        struct stat Info;
        if (!Host || ::stat(Host->c_str(), &Info) != 0 || !S_ISDIR(Info.st_mode)) return false;
        return (Info.st_mode & 0222) != 0 && ::access(Host->c_str(), W_OK | X_OK) == 0;
    }

    // Devices: drive A: (and B:) attached to a floppy node or image file;
    // CD/DVD drives /dev/sr* as D:, E:, ...
    std::unique_ptr<TDeviceHandle> OpenDevice(std::string_view Name,
                                              const TDeviceAccess& Access) override {
        if (auto Floppy = PosixFloppyDevice(Name, LastErrorCode)) return std::move(*Floppy);
        if (!ScsiNodeOf(Name).empty()) return OpenScsiDevice(Name, Access, LastErrorCode);
        return TPlatform::OpenDevice(Name, Access);
    }
    std::vector<std::string> DosDeviceTargets(std::string_view DeviceName) override {
        if (auto Node = ScsiDosDevice(DeviceName); !Node.empty()) return Node;
        return TPlatform::DosDeviceTargets(DeviceName);
    }
    TDriveType DriveType(char Letter) override {
        if (const auto Floppy = PosixFloppyDriveType(Letter)) return *Floppy;
        return TPlatform::DriveType(Letter);
    }
    bool DiskFreeSpace(char Letter, TDiskFreeSpace& Space) override {
        if (const auto Floppy = PosixFloppyFreeSpace(Letter, Space, LastErrorCode)) return *Floppy;
        return TPlatform::DiskFreeSpace(Letter, Space);
    }
    uint32_t LogicalDrives() override {
        return PosixFloppyDrives() | ScsiDriveMask() | TPlatform::LogicalDrives();
    }
    bool AttachFloppy(char Letter, std::string_view Path, std::string& Problem) override {
        return PosixAttachFloppy(Letter, Path, Problem);
    }
    int64_t FloppyMismatch(char Letter) override { return PosixFloppyMismatch(Letter); }
    bool CreateFolder(std::string_view Path) override {
        if (const auto Floppy = PosixFloppyCreateFolder(Path, LastErrorCode)) return *Floppy;
        const auto Host = HostPath(Path);
        struct stat Info;
        if (!Host) return false;
        return ::mkdir(Host->c_str(), 0777) == 0 || (::stat(Host->c_str(), &Info) == 0 && S_ISDIR(Info.st_mode));
    }
    std::unique_ptr<TChildProcess> StartProcess(std::string_view CommandLine) override {
        return PosixStartProcess(CommandLine, LastErrorCode);
    }
    void Sleep(uint32_t Milliseconds) override { ::usleep(useconds_t(Milliseconds) * 1000); }
    std::string ErrorText(uint32_t Code) override {
        if (std::string Text = PosixErrorText(Code); !Text.empty()) return Text;
        return TPlatform::ErrorText(Code);
    }

    // USB sticks: whole disks from sysfs, image files.
    std::vector<TStickDevice> StickDevices() override { return ListSticks({}); }
    std::optional<TStickDevice> DescribeStick(std::string_view Node,
                                              std::string& Problem) override {
        return DescribePosixStick({}, Node, Problem);
    }
    std::unique_ptr<TDiskHandle> OpenStick(const TStickDevice& Device, bool AnyDisk,
                                           std::string& Problem) override {
        return OpenPosixStick({}, Device, AnyDisk, LastErrorCode, Problem);
    }
    std::unique_ptr<TDiskHandle> OpenDiskImage(std::string_view Path, uint64_t CreateBytes,
                                               std::string& Problem) override {
        return OpenPosixDiskImage(Path, CreateBytes, LastErrorCode, Problem);
    }

private:
    static std::unique_ptr<TStream> Open(std::string_view Path, int Flags) {
        const auto Host = HostPath(Path);
        if (!Host) return nullptr;
        const int Fd = ::open(Host->c_str(), Flags | O_CLOEXEC, 0666);
        if (Fd < 0) return nullptr;
        return std::make_unique<TFdStream>(Fd);
    }
};

} // namespace

TPlatform& NativePlatform() {
    static TPosixPlatform Instance;
    return Instance;
}
