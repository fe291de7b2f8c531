#include "platform/posix/PosixFloppy.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <map>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "floppy/FloppyVolume.h"

namespace {

// Windows' codes for what the drive answers.
constexpr uint32_t ErrorInvalidFunction = 1;
constexpr uint32_t ErrorPathNotFound = 3;
constexpr uint32_t ErrorWriteProtect = 19;
constexpr uint32_t ErrorNotReady = 21;
constexpr uint32_t ErrorWriteFault = 29;
constexpr uint32_t ErrorUnrecognizedVolume = 1005;

uint32_t WindowsError(int Errno) {
    switch (Errno) {
    case EROFS:
    case EACCES:
    case EPERM:
        return ErrorWriteProtect;
    case ENOMEDIUM:
    case ENXIO:
    case ENODEV:
        return ErrorNotReady;
    default:
        return ErrorWriteFault;
    }
}

// One attached drive: the host's file, and a copy of every sector written
// through us, which the read-back is compared with.
struct TAttached : TGenericFloppy {
    int Fd = -1;
    bool BlockDevice = false;
    std::vector<uint8_t> Written = std::vector<uint8_t>(FloppyImageSize);
    std::vector<bool> Touched = std::vector<bool>(FloppySectorCount);

    ~TAttached() override {
        if (Fd >= 0) ::close(Fd);
    }

    bool WriteAt(uint64_t Offset, const uint8_t* Data, size_t Count, uint32_t& Error) {
        size_t Done = 0;
        while (Done < Count) {
            const ssize_t Put = ::pwrite(Fd, Data + Done, Count - Done, off_t(Offset + Done));
            if (Put <= 0) {
                Error = Put < 0 ? WindowsError(errno) : ErrorWriteFault;
                break;
            }
            Done += size_t(Put);
        }
        // Whatever landed is what the disk should now hold.
        for (size_t i = 0; i < Done && Offset + i < Written.size(); ++i) {
            Written[Offset + i] = Data[i];
            Touched[(Offset + i) / FloppySectorSize] = true;
        }
        return Done == Count;
    }
    bool ReadAt(uint64_t Offset, uint8_t* Data, size_t Count) {
        size_t Done = 0;
        while (Done < Count) {
            const ssize_t Got = ::pread(Fd, Data + Done, Count - Done, off_t(Offset + Done));
            if (Got <= 0) return false;
            Done += size_t(Got);
        }
        return true;
    }

    int32_t WriteSectors(int32_t Sector, const uint8_t* Buffer, int32_t Count) override {
        if (Sector < 0 || Count < 1 || Count > FloppySectorCount - Sector) return 0;
        uint32_t Error = 0;
        return WriteAt(uint64_t(Sector) * FloppySectorSize, Buffer,
                       size_t(Count) * FloppySectorSize, Error)
                   ? Count
                   : 0;
    }
    int32_t ReadSectors(int32_t Sector, uint8_t* Buffer, int32_t Count) override {
        if (Sector < 0 || Count < 1 || Count > FloppySectorCount - Sector) return 0;
        return ReadAt(uint64_t(Sector) * FloppySectorSize, Buffer, size_t(Count) * FloppySectorSize)
                   ? Count
                   : 0;
    }
};

std::map<char, std::unique_ptr<TAttached>>& Drives() {
    static std::map<char, std::unique_ptr<TAttached>> Table;
    return Table;
}

char UpperLetter(char c) {
    return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
}

TAttached* Find(char Letter) {
    const auto Found = Drives().find(UpperLetter(Letter));
    return Found == Drives().end() ? nullptr : Found->second.get();
}

// "A:\PURGIT\X" -> the drive and "PURGIT\X".
TAttached* FindPath(std::string_view Path, std::string& Rest) {
    if (Path.size() < 2 || Path[1] != ':') return nullptr;
    TAttached* Drive = Find(Path[0]);
    if (Drive) Rest = std::string(Path.substr(2));
    return Drive;
}

class TFloppyHandle : public TDeviceHandle {
public:
    explicit TFloppyHandle(TAttached& Drive) : Drive(Drive) {}
    bool Seek(uint64_t To) override {
        Offset = To;
        return true;
    }
    bool Read(std::span<uint8_t> Buffer, uint32_t& Done) override {
        Done = 0;
        const uint64_t Left = Offset < FloppyImageSize ? FloppyImageSize - Offset : 0;
        const size_t Count = size_t(std::min<uint64_t>(Buffer.size(), Left));
        if (!Drive.ReadAt(Offset, Buffer.data(), Count)) return false;
        Done = uint32_t(Count);
        Offset += Count;
        return true;
    }
    bool Write(std::span<const uint8_t> Buffer, uint32_t& Done) override {
        Done = 0;
        if (Offset + Buffer.size() > FloppyImageSize) {
            Error = ErrorWriteFault; // past the end of the medium
            return false;
        }
        const bool Ok = Drive.WriteAt(Offset, Buffer.data(), Buffer.size(), Error);
        if (Ok) {
            Done = uint32_t(Buffer.size());
            Offset += Done;
        }
        return Ok;
    }
    // Locking and dismounting are all a raw floppy needs; it is ours alone anyway.
    bool Control(uint32_t Code, std::span<const uint8_t>, std::span<uint8_t>,
                 uint32_t& Returned) override {
        Returned = 0;
        if (Code == 0x90018 || Code == 0x9001C || Code == 0x90020) return true;
        Error = ErrorInvalidFunction;
        return false;
    }
    uint32_t Error = 0;

private:
    TAttached& Drive;
    uint64_t Offset = 0;
};

} // namespace

bool PosixAttachFloppy(char Letter, std::string_view Path, std::string& Problem) {
    Letter = UpperLetter(Letter);
    if (Letter != 'A' && Letter != 'B') {
        Problem = "only drives A: and B: are floppies";
        return false;
    }
    auto Drive = std::make_unique<TAttached>();
    const std::string Name(Path);
    Drive->Fd = ::open(Name.c_str(), O_RDWR | O_CLOEXEC);
    if (Drive->Fd < 0) {
        Problem = errno == EROFS || errno == EACCES ? "it is write-protected or not writable"
                  : errno == ENOMEDIUM              ? "there is no disk in the drive"
                                                    : std::strerror(errno);
        return false;
    }
    struct stat Info;
    uint64_t Size = 0;
    if (::fstat(Drive->Fd, &Info) == 0 && S_ISBLK(Info.st_mode)) {
        Drive->BlockDevice = true;
        if (::ioctl(Drive->Fd, BLKGETSIZE64, &Size) != 0) Size = 0;
    } else if (::fstat(Drive->Fd, &Info) == 0 && S_ISREG(Info.st_mode)) {
        Size = uint64_t(Info.st_size);
    } else {
        Problem = "it is neither a disk device nor an image file";
        return false;
    }
    if (Size != uint64_t(FloppyImageSize)) {
        Problem =
            "it holds " + std::to_string(Size) + " bytes, not the 1474560 of a 1.44 MB floppy";
        return false;
    }
    if (!Drive->ReadAt(0, Drive->Written.data(), Drive->Written.size())) {
        Problem = "it cannot be read";
        return false;
    }
    Drives()[Letter] = std::move(Drive);
    return true;
}

int64_t PosixFloppyMismatch(char Letter) {
    TAttached* Drive = Find(Letter);
    if (!Drive) return -2;
    ::fsync(Drive->Fd);
    // Read the medium, not the kernel's copy of what we wrote.
    if (Drive->BlockDevice) ::ioctl(Drive->Fd, BLKFLSBUF, 0);
    std::vector<uint8_t> Back(FloppyImageSize);
    if (!Drive->ReadAt(0, Back.data(), Back.size())) return -2;
    for (int32_t Sector = 0; Sector < FloppySectorCount; ++Sector) {
        const size_t At = size_t(Sector) * FloppySectorSize;
        if (std::memcmp(&Back[At], &Drive->Written[At], FloppySectorSize) != 0) return Sector;
    }
    return -1;
}

std::optional<std::unique_ptr<TDeviceHandle>> PosixFloppyDevice(std::string_view Name,
                                                                uint32_t& Error) {
    // "\\.\A:"
    if (Name.size() != 6 || Name.substr(0, 4) != "\\\\.\\" || Name[5] != ':') return std::nullopt;
    TAttached* Drive = Find(Name[4]);
    if (!Drive) return std::nullopt;
    Error = 0;
    return std::make_unique<TFloppyHandle>(*Drive);
}

std::optional<TDriveType> PosixFloppyDriveType(char Letter) {
    if (!Find(Letter)) return std::nullopt;
    return DriveRemovable;
}

std::optional<bool> PosixFloppyFreeSpace(char Letter, TDiskFreeSpace& Space, uint32_t& Error) {
    TAttached* Drive = Find(Letter);
    if (!Drive) return std::nullopt;
    TFloppyVolume Volume(*Drive);
    if (!Volume.FreeSpace(Space.ClusterSectors, Space.FreeClusters, Space.ClusterCount)) {
        Error = ErrorUnrecognizedVolume;
        return false;
    }
    Space.SectorBytes = FloppySectorSize;
    return true;
}

uint32_t PosixFloppyDrives() {
    uint32_t Bits = 0;
    for (const auto& [Letter, Drive] : Drives())
        Bits |= 1u << (Letter - 'A');
    return Bits;
}

std::optional<bool> PosixFloppyFileExists(std::string_view Path) {
    std::string Rest;
    TAttached* Drive = FindPath(Path, Rest);
    if (!Drive) return std::nullopt;
    return TFloppyVolume(*Drive).FileExists(Rest);
}

std::optional<std::unique_ptr<TStream>> PosixFloppyOpenRead(std::string_view Path) {
    std::string Rest;
    TAttached* Drive = FindPath(Path, Rest);
    if (!Drive) return std::nullopt;
    return TFloppyVolume(*Drive).OpenRead(Rest);
}

std::optional<std::unique_ptr<TStream>> PosixFloppyCreate(std::string_view Path) {
    std::string Rest;
    TAttached* Drive = FindPath(Path, Rest);
    if (!Drive) return std::nullopt;
    return TFloppyVolume(*Drive).CreateOrReplace(Rest);
}

std::optional<bool> PosixFloppyCreateFolder(std::string_view Path, uint32_t& Error) {
    std::string Rest;
    TAttached* Drive = FindPath(Path, Rest);
    if (!Drive) return std::nullopt;
    const bool Made = TFloppyVolume(*Drive).CreateFolder(Rest);
    if (!Made) Error = ErrorPathNotFound;
    return Made;
}
