#include "platform/posix/PosixScsi.h"

#include <cctype>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

constexpr char FirstLetter = 'D';
constexpr int MaxNodes = 23; // D: to Z:

std::string NodeName(int Index) {
    return "/dev/sr" + std::to_string(Index);
}

bool NodeExists(int Index) {
    struct stat Info;
    return ::stat(NodeName(Index).c_str(), &Info) == 0 && S_ISBLK(Info.st_mode);
}

} // namespace

uint32_t WindowsErrorOf(int Errno) {
    switch (Errno) {
    case EACCES:
    case EPERM:
    case EROFS:
        return PosixErrorAccessDenied;
    case ENOENT:
        return PosixErrorFileNotFound;
    case ENXIO:
    case ENODEV:
    case ENOMEDIUM:
        return PosixErrorDeviceNotConnected;
    case EINVAL:
    case EFAULT:
        return PosixErrorInvalidParameter;
    case ENOTTY:
    case EOPNOTSUPP:
        return PosixErrorNotSupported;
    default:
        return PosixErrorIoDevice;
    }
}

std::string ScsiNodeOf(std::string_view Name) {
    if (Name.size() != 6 || Name.substr(0, 4) != "\\\\.\\" || Name[5] != ':') return {};
    const char Letter = char(std::toupper(static_cast<unsigned char>(Name[4])));
    if (Letter < FirstLetter || Letter > 'Z') return {};
    return NodeName(Letter - FirstLetter);
}

uint32_t ScsiDriveMask() {
    uint32_t Mask = 0;
    for (int i = 0; i < MaxNodes; ++i)
        if (NodeExists(i)) Mask |= 1u << (FirstLetter - 'A' + i);
    return Mask;
}

std::vector<std::string> ScsiDosDevice(std::string_view DeviceName) {
    if (DeviceName.size() != 2 || DeviceName[1] != ':') return {};
    const std::string Node = ScsiNodeOf(std::string("\\\\.\\") + std::string(DeviceName));
    struct stat Info;
    if (Node.empty() || ::stat(Node.c_str(), &Info) != 0 || !S_ISBLK(Info.st_mode)) return {};
    return {Node};
}

std::unique_ptr<TSgDrive> OpenScsiNode(const std::string& Node, const TDeviceAccess& Access,
                                       uint32_t& Error) {
    // Without O_NONBLOCK the kernel opens no drive without a disc, and none
    // for writing unless its disc takes random writes (DVD-RAM).
    const int Flags = (Access.Write ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC;
    const int Fd = ::open(Node.c_str(), Flags);
    if (Fd < 0) {
        Error = WindowsErrorOf(errno);
        return nullptr;
    }
    return std::make_unique<TSgDrive>(Fd, Error);
}

std::unique_ptr<TDeviceHandle> OpenScsiDevice(std::string_view Name, const TDeviceAccess& Access,
                                              uint32_t& Error) {
    const std::string Node = ScsiNodeOf(Name);
    if (Node.empty()) {
        Error = PosixErrorFileNotFound;
        return nullptr;
    }
    return OpenScsiNode(Node, Access, Error);
}
