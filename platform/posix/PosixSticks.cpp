#include "platform/posix/PosixSticks.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <linux/fs.h>
#include <set>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "platform/StickChecks.h"
#include "platform/posix/PosixScsi.h"

namespace fs = std::filesystem;

namespace {

constexpr uint64_t MiB = 1 << 20;

std::string Trimmed(std::string Text) {
    const auto Space = [](unsigned char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r';
    };
    while (!Text.empty() && Space(Text.back()))
        Text.pop_back();
    size_t Start = 0;
    while (Start < Text.size() && Space(Text[Start]))
        ++Start;
    return Text.substr(Start);
}

std::string ReadText(const fs::path& Path) {
    std::ifstream File(Path);
    std::stringstream Text;
    Text << File.rdbuf();
    return Trimmed(Text.str());
}

uint64_t ReadNumber(const fs::path& Path, uint64_t Otherwise) {
    const std::string Text = ReadText(Path);
    if (Text.empty() || !std::all_of(Text.begin(), Text.end(), ::isdigit)) return Otherwise;
    return std::stoull(Text);
}

// "8:16" -> (8, 16).
std::optional<std::pair<uint32_t, uint32_t>> DeviceNumber(const fs::path& DevFile) {
    const std::string Text = ReadText(DevFile);
    unsigned Major = 0, Minor = 0;
    if (std::sscanf(Text.c_str(), "%u:%u", &Major, &Minor) != 2) return std::nullopt;
    return std::make_pair(uint32_t(Major), uint32_t(Minor));
}

// Names of whole disks that never stand for a stick.
bool PassedOver(const std::string& Name) {
    for (const char* Prefix : {"loop", "ram", "zram", "dm-", "md", "sr", "fd"})
        if (Name.rfind(Prefix, 0) == 0) return true;
    return false;
}

// Mount points that make a disk the system's own.
bool SystemMount(const std::string& Point) {
    return Point == "/" || Point == "/boot" || Point == "/boot/efi" || Point == "/usr";
}

std::string ErrnoText(int Errno) {
    return std::strerror(Errno);
}

struct TBlockName {
    std::string Name; // sdb1, dm-0
    std::optional<std::pair<uint32_t, uint32_t>> Number;
};

// The disk, its partitions and, through holders, the device-mapper and RAID
// devices built on them (a root file system on LVM still marks its disk).
std::vector<TBlockName> DiskFamily(const fs::path& SysRoot, const std::string& Disk) {
    std::vector<TBlockName> Family;
    std::set<std::string> Seen;
    std::vector<fs::path> Pending{SysRoot / "block" / Disk};
    std::error_code Error;
    while (!Pending.empty() && Family.size() < 256) {
        const fs::path Dir = Pending.back();
        Pending.pop_back();
        const std::string Name = Dir.filename().string();
        if (!Seen.insert(Name).second) continue;
        Family.push_back({Name, DeviceNumber(Dir / "dev")});
        for (const auto& Entry : fs::directory_iterator(Dir, Error))
            if (fs::exists(Entry.path() / "partition", Error)) Pending.push_back(Entry.path());
        for (const auto& Holder : fs::directory_iterator(Dir / "holders", Error))
            Pending.push_back(SysRoot / "block" / Holder.path().filename());
    }
    return Family;
}

std::vector<TMountEntry> ReadMounts(const std::string& Path) {
    std::ifstream File(Path);
    std::stringstream Text;
    Text << File.rdbuf();
    return ParseMountInfo(Text.str());
}

TStickDevice DescribeDisk(const TStickSources& Sources, const std::string& Name,
                          const std::vector<TMountEntry>& Mounts) {
    const fs::path SysRoot(Sources.SysRoot);
    const fs::path Dir = SysRoot / "block" / Name;
    TStickDevice Disk;
    Disk.Node = "/dev/" + Name;
    Disk.Vendor = ReadText(Dir / "device" / "vendor");
    Disk.Model = ReadText(Dir / "device" / "model");
    Disk.Bytes = ReadNumber(Dir / "size", 0) * 512;
    Disk.SectorBytes = uint32_t(ReadNumber(Dir / "queue" / "logical_block_size", 512));
    Disk.Removable = ReadText(Dir / "removable") == "1";
    Disk.ReadOnly = ReadText(Dir / "ro") == "1";
    // The device's place in the bus tree, below the sysfs root itself.
    std::error_code Error;
    const std::string Root = fs::canonical(SysRoot, Error).string();
    std::string Place = fs::canonical(Dir / "device", Error).string();
    if (Error) Place = fs::canonical(Dir, Error).string();
    if (Place.rfind(Root, 0) == 0) Place = Place.substr(Root.size());
    Disk.Usb = Place.find("/usb") != std::string::npos;

    const auto Family = DiskFamily(SysRoot, Name);
    for (const TMountEntry& Mount : Mounts) {
        const bool Ours = std::any_of(Family.begin(), Family.end(), [&](const TBlockName& B) {
            return (B.Number && B.Number->first == Mount.Major && B.Number->second == Mount.Minor &&
                    Mount.Major != 0) ||
                   Mount.Source == "/dev/" + B.Name;
        });
        if (!Ours) continue;
        if (std::find(Disk.MountPoints.begin(), Disk.MountPoints.end(), Mount.MountPoint) ==
            Disk.MountPoints.end())
            Disk.MountPoints.push_back(Mount.MountPoint);
        if (SystemMount(Mount.MountPoint)) Disk.SystemDisk = true;
    }
    return Disk;
}

// A disk, or an image file, open for a stick's writes.
class TPosixDisk : public TDiskHandle {
public:
    TPosixDisk(int Fd, uint64_t Size, bool Block, std::string Node, uint32_t& Error)
        : Fd(Fd), Size(Size), Block(Block), Node(std::move(Node)), Error(Error) {}
    ~TPosixDisk() override { ::close(Fd); }

    uint64_t Bytes() const override { return Size; }

    bool WriteAt(uint64_t Offset, std::span<const uint8_t> Data) override {
        // After a failed write the device is not touched again.
        if (Spent) return Fail(SpentError);
        if (!Inside(Offset, Data.size())) return Fail(StickErrorSectorNotFound);
        size_t Done = 0;
        while (Done < Data.size()) {
            const ssize_t Put =
                ::pwrite(Fd, Data.data() + Done, Data.size() - Done, off_t(Offset + Done));
            if (Put < 0 && errno == EINTR) continue;
            if (Put <= 0) {
                SpentError = Put < 0 ? StickErrorOf(errno) : StickErrorDiskFull;
                Spent = true;
                return Fail(SpentError);
            }
            Done += size_t(Put);
        }
        return true;
    }

    bool ReadAt(uint64_t Offset, std::span<uint8_t> Data) override {
        if (!Inside(Offset, Data.size())) return Fail(StickErrorSectorNotFound);
        size_t Done = 0;
        while (Done < Data.size()) {
            const ssize_t Got =
                ::pread(Fd, Data.data() + Done, Data.size() - Done, off_t(Offset + Done));
            if (Got < 0 && errno == EINTR) continue;
            if (Got < 0) return Fail(StickErrorOf(errno));
            if (Got == 0) return Fail(StickErrorSectorNotFound);
            Done += size_t(Got);
        }
        return true;
    }

    bool Flush() override {
        if (::fsync(Fd) != 0) return Fail(StickErrorOf(errno));
        // Drops the kernel's copies, so the read-back comes from the stick.
        if (Block && ::ioctl(Fd, BLKFLSBUF, 0) != 0) return Fail(StickErrorOf(errno));
        return true;
    }

    bool Refresh() override {
        if (!Block) return true;
        if (::ioctl(Fd, BLKRRPART, 0) == 0) return true;
        if (errno == EBUSY) {
            // Written and flushed all the same; only the kernel's view is old.
            std::cerr << Node
                      << ": the kernel keeps its old partition table for now (busy); it reads "
                         "the new one when the stick is plugged in again\n";
            return true;
        }
        if (errno == EINVAL) return true; // a device without partitions (a loop without scanning)
        return Fail(StickErrorOf(errno));
    }

private:
    bool Inside(uint64_t Offset, size_t Count) const {
        return Offset <= Size && Count <= Size - Offset;
    }
    bool Fail(uint32_t Code) {
        Error = Code;
        return false;
    }

    int Fd;
    uint64_t Size;
    bool Block;
    std::string Node;
    uint32_t& Error;
    bool Spent = false;
    uint32_t SpentError = 0;
};

} // namespace

std::string DecodeMountEscapes(std::string_view Text) {
    std::string Result;
    for (size_t i = 0; i < Text.size(); ++i) {
        if (Text[i] == '\\' && i + 3 < Text.size() &&
            std::all_of(Text.begin() + long(i) + 1, Text.begin() + long(i) + 4,
                        [](char c) { return c >= '0' && c <= '7'; })) {
            Result +=
                char((Text[i + 1] - '0') * 64 + (Text[i + 2] - '0') * 8 + (Text[i + 3] - '0'));
            i += 3;
        } else {
            Result += Text[i];
        }
    }
    return Result;
}

std::vector<TMountEntry> ParseMountInfo(std::string_view Text) {
    std::vector<TMountEntry> Entries;
    std::istringstream Lines{std::string(Text)};
    std::string Line;
    while (std::getline(Lines, Line)) {
        std::istringstream Fields(Line);
        std::vector<std::string> Parts;
        for (std::string Part; Fields >> Part;)
            Parts.push_back(Part);
        // id parent major:minor root mount-point options [optional...] - type source ...
        const auto Dash =
            std::find(Parts.begin() + std::min<size_t>(Parts.size(), 6), Parts.end(), "-");
        if (Parts.size() < 6 || Dash == Parts.end()) continue;
        TMountEntry Entry;
        unsigned Major = 0, Minor = 0;
        if (std::sscanf(Parts[2].c_str(), "%u:%u", &Major, &Minor) != 2) continue;
        Entry.Major = Major;
        Entry.Minor = Minor;
        Entry.MountPoint = DecodeMountEscapes(Parts[4]);
        if (Dash + 2 < Parts.end()) Entry.Source = DecodeMountEscapes(*(Dash + 2));
        Entries.push_back(std::move(Entry));
    }
    return Entries;
}

std::vector<TStickDevice> ScanWholeDisks(const TStickSources& Sources) {
    std::vector<std::string> Names;
    std::error_code Error;
    for (const auto& Entry : fs::directory_iterator(fs::path(Sources.SysRoot) / "block", Error))
        if (!PassedOver(Entry.path().filename().string()))
            Names.push_back(Entry.path().filename().string());
    std::sort(Names.begin(), Names.end());
    const auto Mounts = ReadMounts(Sources.MountInfo);
    std::vector<TStickDevice> Disks;
    for (const std::string& Name : Names)
        Disks.push_back(DescribeDisk(Sources, Name, Mounts));
    return Disks;
}

std::vector<TStickDevice> ListSticks(const TStickSources& Sources) {
    std::vector<TStickDevice> Sticks;
    for (TStickDevice& Disk : ScanWholeDisks(Sources))
        if ((Disk.Removable || Disk.Usb) && !Disk.SystemDisk) Sticks.push_back(std::move(Disk));
    return Sticks;
}

std::optional<TStickDevice> DescribeBlockDevice(const TStickSources& Sources, uint32_t Major,
                                                uint32_t Minor, const std::string& Node,
                                                std::string& Problem) {
    const fs::path Link = fs::path(Sources.SysRoot) / "dev" / "block" /
                          (std::to_string(Major) + ":" + std::to_string(Minor));
    std::error_code Error;
    const fs::path Place = fs::canonical(Link, Error);
    if (Error) {
        Problem = Node + ": the kernel lists no such block device";
        return std::nullopt;
    }
    const std::string Name = Place.filename().string();
    if (fs::exists(Place / "partition", Error)) {
        const std::string Whole = "/dev/" + Place.parent_path().filename().string();
        Problem = Node + " is a partition of " + Whole + "; name the whole disk, " + Whole;
        return std::nullopt;
    }
    if (Name.rfind("sr", 0) == 0 || Name.rfind("fd", 0) == 0) {
        Problem = Node + " is a CD/DVD or floppy drive, not a disk";
        return std::nullopt;
    }
    if (!fs::exists(fs::path(Sources.SysRoot) / "block" / Name, Error)) {
        Problem = Node + ": the kernel lists no such disk";
        return std::nullopt;
    }
    return DescribeDisk(Sources, Name, ReadMounts(Sources.MountInfo));
}

std::optional<TStickDevice> DescribePosixStick(const TStickSources& Sources, std::string_view Node,
                                               std::string& Problem) {
    const std::string Path(Node);
    struct stat Info;
    if (::stat(Path.c_str(), &Info) != 0) {
        Problem = Path + ": " + (errno == ENOENT ? "no such disk or file" : ErrnoText(errno));
        return std::nullopt;
    }
    if (S_ISBLK(Info.st_mode))
        return DescribeBlockDevice(Sources, major(Info.st_rdev), minor(Info.st_rdev), Path,
                                   Problem);
    if (!S_ISREG(Info.st_mode)) {
        Problem = Path + " is neither a disk nor an image file";
        return std::nullopt;
    }
    TStickDevice File;
    File.Node = Path;
    File.Bytes = uint64_t(Info.st_size);
    File.ImageFile = true;
    File.ReadOnly = ::access(Path.c_str(), W_OK) != 0;
    return File;
}

std::unique_ptr<TDiskHandle> OpenPosixStick(const TStickSources& Sources,
                                            const TStickDevice& Device, bool AnyDisk,
                                            uint32_t& Error, std::string& Problem) {
    if (Device.ImageFile) {
        struct stat Info;
        if (::stat(Device.Node.c_str(), &Info) != 0) {
            Problem = Device.Node + ": no such file";
            return nullptr;
        }
        return OpenPosixDiskImage(Device.Node, 0, Error, Problem);
    }
    // What the caller saw may be old: the checks run on the disk as it is now.
    const auto Fresh = DescribePosixStick(Sources, Device.Node, Problem);
    if (!Fresh) return nullptr;
    if (Fresh->ImageFile) return OpenPosixDiskImage(Fresh->Node, 0, Error, Problem);
    if (const std::string Refusal = StickRefusal(*Fresh, AnyDisk, true); !Refusal.empty()) {
        Problem = Fresh->Node + " " + Refusal;
        return nullptr;
    }
    const int Fd = ::open(Fresh->Node.c_str(), O_RDWR | O_EXCL | O_CLOEXEC);
    if (Fd < 0) {
        const int Why = errno;
        Error = StickErrorOf(Why);
        if (Why == EBUSY)
            Problem = Fresh->Node +
                      " is in use (a mounted file system, swap, a RAID or volume group, or another "
                      "program holds it); it was left untouched";
        else if (Why == EACCES || Why == EPERM)
            Problem = Fresh->Node + " cannot be opened for writing: permission denied (run as root "
                                    "or as a member of the disk group)";
        else if (Why == EROFS)
            Problem = Fresh->Node + " is read-only (write-protected)";
        else if (Why == ENOMEDIUM)
            Problem = Fresh->Node + " holds no medium";
        else
            Problem = Fresh->Node + " cannot be opened for writing: " + ErrnoText(Why);
        return nullptr;
    }
    uint64_t Size = 0;
    int ReadOnly = 0;
    struct stat Info;
    if (::fstat(Fd, &Info) != 0 || !S_ISBLK(Info.st_mode) ||
        ::ioctl(Fd, BLKGETSIZE64, &Size) != 0 || Size == 0) {
        ::close(Fd);
        Problem = Fresh->Node + " holds no medium";
        return nullptr;
    }
    if (::ioctl(Fd, BLKROGET, &ReadOnly) == 0 && ReadOnly) {
        ::close(Fd);
        Problem = Fresh->Node + " is read-only (write-protected)";
        return nullptr;
    }
    return std::make_unique<TPosixDisk>(Fd, Size, true, Fresh->Node, Error);
}

std::unique_ptr<TDiskHandle> OpenPosixDiskImage(std::string_view Path, uint64_t CreateBytes,
                                                uint32_t& Error, std::string& Problem) {
    const std::string Name(Path);
    struct stat Info;
    if (::stat(Name.c_str(), &Info) == 0) {
        if (S_ISBLK(Info.st_mode)) {
            Problem = Name + " is a disk, not an image file";
            return nullptr;
        }
        if (!S_ISREG(Info.st_mode)) {
            Problem = Name + " is not a regular file";
            return nullptr;
        }
        if (uint64_t(Info.st_size) < MiB) {
            Problem = Name + " holds " + std::to_string(Info.st_size) +
                      " bytes; an image file needs at least 1 MiB (it was left untouched)";
            return nullptr;
        }
        const int Fd = ::open(Name.c_str(), O_RDWR | O_CLOEXEC);
        if (Fd < 0) {
            Error = StickErrorOf(errno);
            Problem = Name + " cannot be opened for writing: " + ErrnoText(errno);
            return nullptr;
        }
        return std::make_unique<TPosixDisk>(Fd, uint64_t(Info.st_size), false, Name, Error);
    }
    if (CreateBytes < MiB) {
        Problem = Name + " cannot be made with " + std::to_string(CreateBytes) +
                  " bytes; an image file needs at least 1 MiB";
        return nullptr;
    }
    const int Fd = ::open(Name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (Fd < 0) {
        Error = StickErrorOf(errno);
        Problem = Name + " cannot be created: " + ErrnoText(errno);
        return nullptr;
    }
    // Sparse: only what is written takes room.
    if (::ftruncate(Fd, off_t(CreateBytes)) != 0) {
        const int Why = errno;
        ::close(Fd);
        ::unlink(Name.c_str());
        Error = StickErrorOf(Why);
        Problem = Name + " cannot be made " + std::to_string(CreateBytes) +
                  " bytes long: " + ErrnoText(Why);
        return nullptr;
    }
    return std::make_unique<TPosixDisk>(Fd, CreateBytes, false, Name, Error);
}

uint32_t StickErrorOf(int Errno) {
    switch (Errno) {
    case ENOSPC:
    case EFBIG:
        return StickErrorDiskFull;
    case EROFS:
        return StickErrorWriteProtect;
    case EBUSY:
        return StickErrorBusy;
    case EIO:
        return PosixErrorIoDevice;
    default:
        return WindowsErrorOf(Errno);
    }
}

std::string PosixErrorText(uint32_t Code) {
    switch (Code) {
    case PosixErrorFileNotFound:
        return "The system cannot find the file specified.";
    case PosixErrorAccessDenied:
        return "Access is denied.";
    case StickErrorWriteProtect:
        return "The media is write protected.";
    case StickErrorSectorNotFound:
        return "The drive cannot find the sector requested.";
    case PosixErrorNotSupported:
        return "The request is not supported.";
    case PosixErrorInvalidParameter:
        return "The parameter is incorrect.";
    case StickErrorDiskFull:
        return "There is not enough space on the disk.";
    case PosixErrorTimeout:
        return "The semaphore timeout period has expired.";
    case StickErrorBusy:
        return "The requested resource is in use.";
    case PosixErrorIoDevice:
        return "The request could not be performed because of an I/O device error.";
    case PosixErrorDeviceNotConnected:
        return "The device is not connected.";
    default:
        return {};
    }
}
