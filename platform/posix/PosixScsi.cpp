#include "platform/posix/PosixScsi.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <fcntl.h>
#include <linux/cdrom.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/ByteOrder.h"

namespace {

constexpr uint32_t PassThrough = 0x4D004, PassThroughDirect = 0x4D014, MediaRemoval = 0x2D4804,
                   EjectMedia = 0x2D4808;
constexpr char FirstLetter = 'D';
constexpr int MaxNodes = 23; // D: to Z:

std::string NodeName(int Index) {
    return "/dev/sr" + std::to_string(Index);
}

bool NodeExists(int Index) {
    struct stat Info;
    return ::stat(NodeName(Index).c_str(), &Info) == 0 && S_ISBLK(Info.st_mode);
}

class TScsiNodeHandle : public TDeviceHandle {
public:
    TScsiNodeHandle(int Fd, uint32_t& LastError) : Fd(Fd), LastError(LastError) {}
    ~TScsiNodeHandle() override { ::close(Fd); }

    bool Seek(uint64_t Offset) override {
        if (::lseek(Fd, off_t(Offset), SEEK_SET) >= 0) return true;
        return Fail(errno);
    }
    bool Read(std::span<uint8_t> Buffer, uint32_t& Done) override {
        const ssize_t Got = ::read(Fd, Buffer.data(), Buffer.size());
        Done = Got > 0 ? uint32_t(Got) : 0;
        return Got >= 0 || Fail(errno);
    }
    bool Write(std::span<const uint8_t>, uint32_t& Done) override {
        Done = 0;
        LastError = PosixErrorNotSupported; // discs are written through pass-through only
        return false;
    }
    bool Control(uint32_t Code, std::span<const uint8_t> In, std::span<uint8_t> Out,
                 uint32_t& Returned) override {
        return ControlDirect(Code, In, Out, {}, Returned);
    }
    bool ControlDirect(uint32_t Code, std::span<const uint8_t> In, std::span<uint8_t> Out,
                       std::span<uint8_t> Data, uint32_t& Returned) override {
        Returned = 0;
        if (Code == MediaRemoval) {
            if (In.size() != 1) return Fail(EINVAL);
            return ::ioctl(Fd, CDROM_LOCKDOOR, In[0] ? 1 : 0) == 0 || Fail(errno);
        }
        if (Code == EjectMedia) return ::ioctl(Fd, CDROMEJECT) == 0 || Fail(errno);
        if (Code != PassThrough && Code != PassThroughDirect) {
            LastError = PosixErrorInvalidParameter;
            return false;
        }
        // The request comes in In and goes out in Out, as one buffer.
        if (Out.size() < In.size()) {
            LastError = PosixErrorInvalidParameter;
            return false;
        }
        if (Out.data() != In.data()) std::copy(In.begin(), In.end(), Out.begin());
        TSgRequest Request;
        if (!SptiToSg(Code, Out, Data, Request, LastError)) return false;
        sg_io_hdr_t Io{};
        Io.interface_id = 'S';
        Io.dxfer_direction = Request.Direction == TSgDirection::FromDevice ? SG_DXFER_FROM_DEV
                             : Request.Direction == TSgDirection::ToDevice ? SG_DXFER_TO_DEV
                                                                           : SG_DXFER_NONE;
        Io.cmd_len = Request.CdbLength;
        Io.cmdp = Request.Cdb.data();
        Io.dxfer_len = Request.DataLength;
        Io.dxferp = Request.Data;
        Io.mx_sb_len = Request.SenseLength;
        Io.sbp = Request.Sense;
        Io.timeout = Request.TimeoutMilliseconds;
        if (::ioctl(Fd, SG_IO, &Io) != 0) return Fail(errno);
        if (!SgToSpti(Io.status, Io.host_status, Out, LastError)) return false;
        Returned = uint32_t(Out.size());
        return true;
    }

private:
    bool Fail(int Errno) {
        LastError = WindowsErrorOf(Errno);
        return false;
    }
    int Fd;
    uint32_t& LastError;
};

} // namespace

bool SptiToSg(uint32_t Code, std::span<uint8_t> Request, std::span<uint8_t> Data, TSgRequest& Sg,
              uint32_t& Error) {
    Error = PosixErrorInvalidParameter;
    const bool Direct = Code == PassThroughDirect;
    if (Code != PassThrough && !Direct) return false;
    if (Request.size() < 44 || GetLE16(&Request[0]) != 44) return false;
    const uint8_t CdbLength = Request[6];
    if (CdbLength == 0 || CdbLength > 16) return false;
    const uint32_t Length = GetLE32(&Request[12]);
    const uint32_t SenseOffset = GetLE32(&Request[24]);
    const uint8_t SenseLength = Request[7];
    if (uint64_t(SenseOffset) + SenseLength > Request.size()) return false;

    Sg = TSgRequest();
    Sg.CdbLength = CdbLength;
    std::copy_n(&Request[28], CdbLength, Sg.Cdb.begin());
    Sg.Sense = SenseLength ? &Request[SenseOffset] : nullptr;
    Sg.SenseLength = SenseLength;
    Sg.TimeoutMilliseconds =
        uint32_t(std::min<uint64_t>(uint64_t(GetLE32(&Request[16])) * 1000, UINT32_MAX));
    if (Direct) {
        // The address inside the request cannot name a 64-bit buffer: Data does.
        if (Length != Data.size()) return false;
        Sg.Data = Length ? Data.data() : nullptr;
    } else {
        const uint32_t Offset = GetLE32(&Request[20]);
        if (uint64_t(Offset) + Length > Request.size()) return false;
        Sg.Data = Length ? &Request[Offset] : nullptr;
    }
    Sg.DataLength = Length;
    Sg.Direction = Length == 0       ? TSgDirection::None
                   : Request[8] == 1 ? TSgDirection::FromDevice
                                     : TSgDirection::ToDevice;
    Error = 0;
    return true;
}

bool SgToSpti(uint8_t ScsiStatus, uint16_t HostStatus, std::span<uint8_t> Request,
              uint32_t& Error) {
    if (HostStatus != 0) {
        // The adapter lost the drive (no connect, bus reset, timeout).
        Error = PosixErrorIoDevice;
        return false;
    }
    Request[2] = ScsiStatus;
    Error = 0;
    return true;
}

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

std::unique_ptr<TDeviceHandle> OpenScsiDevice(std::string_view Name, const TDeviceAccess& Access,
                                              uint32_t& Error) {
    const std::string Node = ScsiNodeOf(Name);
    if (Node.empty()) {
        Error = PosixErrorFileNotFound;
        return nullptr;
    }
    // Commands that write (WRITE(10), SYNCHRONIZE CACHE) need the node
    // opened read-write; the kernel refuses them otherwise.
    const int Flags = (Access.Write ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC;
    const int Fd = ::open(Node.c_str(), Flags);
    if (Fd < 0) {
        Error = WindowsErrorOf(errno);
        return nullptr;
    }
    return std::make_unique<TScsiNodeHandle>(Fd, Error);
}
