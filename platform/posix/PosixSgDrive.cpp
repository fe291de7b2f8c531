#include "platform/posix/PosixSgDrive.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <linux/cdrom.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "base/UserInterface.h"
#include "platform/posix/PosixScsi.h"

namespace {

// The Windows control codes the handle still answers.
constexpr uint32_t MediaRemoval = 0x2D4804, EjectMedia = 0x2D4808;

constexpr uint8_t StatusGood = 0x00, StatusCheckCondition = 0x02;
constexpr uint8_t SenseKeyRecoveredError = 0x01;
// The kernel's host and driver codes (DID_TIME_OUT; DRIVER_TIMEOUT, DRIVER_SENSE).
constexpr uint16_t HostTimedOut = 0x03;
constexpr uint8_t DriverTimedOut = 0x06, DriverSense = 0x08;

// The sense key of fixed (70h, 71h) or descriptor (72h, 73h) sense data.
uint8_t SenseKeyOf(std::span<const uint8_t> Sense) {
    if (Sense.empty()) return 0;
    const uint8_t Code = Sense[0] & 0x7F;
    if ((Code == 0x70 || Code == 0x71) && Sense.size() > 2) return Sense[2] & 0x0F;
    if ((Code == 0x72 || Code == 0x73) && Sense.size() > 1) return Sense[1] & 0x0F;
    return 0;
}

} // namespace

bool BuildSgRequest(const TScsiCommand& Command, std::span<uint8_t> Sense, sg_io_hdr_t& Io) {
    if (Command.CdbLength == 0 || Command.CdbLength > Command.Cdb.size() ||
        Command.Data.size() > UINT_MAX)
        return false;
    Io = sg_io_hdr_t{};
    Io.interface_id = 'S';
    const bool Moves = Command.Direction != TScsiData::None && !Command.Data.empty();
    Io.dxfer_direction = !Moves                               ? SG_DXFER_NONE
                         : Command.Direction == TScsiData::In ? SG_DXFER_FROM_DEV
                                                              : SG_DXFER_TO_DEV;
    Io.cmd_len = Command.CdbLength;
    // The kernel only reads the CDB.
    Io.cmdp = const_cast<uint8_t*>(Command.Cdb.data());
    Io.dxfer_len = Moves ? unsigned(Command.Data.size()) : 0;
    Io.dxferp = Moves ? Command.Data.data() : nullptr;
    Io.mx_sb_len = uint8_t(std::min<size_t>(Sense.size(), UINT8_MAX));
    Io.sbp = Io.mx_sb_len ? Sense.data() : nullptr;
    Io.timeout = unsigned(std::min<uint64_t>(uint64_t(Command.TimeoutSeconds) * 1000, UINT_MAX));
    return true;
}

TSgOutcome ReadSgResult(const sg_io_hdr_t& Io) {
    TSgOutcome Outcome;
    Outcome.SenseLength = Io.sbp ? std::min(Io.sb_len_wr, Io.mx_sb_len) : 0;
    Outcome.SenseKey = SenseKeyOf({Io.sbp, Outcome.SenseLength});
    const uint32_t Residual = Io.resid > 0 ? std::min(unsigned(Io.resid), Io.dxfer_len) : 0;
    Outcome.Transferred = Io.dxfer_len - Residual;

    // The adapter or the driver lost the command (no connect, reset, timeout).
    const uint8_t Driver = Io.driver_status & 0x0F;
    if (Io.host_status == HostTimedOut || Driver == DriverTimedOut) {
        Outcome.Error = PosixErrorTimeout;
        return Outcome;
    }
    if (Io.host_status != 0 || (Driver != 0 && Driver != DriverSense)) {
        Outcome.Error = PosixErrorIoDevice;
        return Outcome;
    }
    Outcome.ScsiStatus = Io.status;
    // Some transports report a fault in the sense alone, the status left good.
    if (Outcome.ScsiStatus == StatusGood && Outcome.SenseKey > SenseKeyRecoveredError)
        Outcome.ScsiStatus = StatusCheckCondition;
    // Data the drive did not take is not on the disc.
    if (Io.dxfer_direction == SG_DXFER_TO_DEV && Outcome.Transferred < Io.dxfer_len &&
        Outcome.ScsiStatus == StatusGood) {
        Outcome.Error = PosixErrorIoDevice;
        return Outcome;
    }
    Outcome.Delivered = true;
    return Outcome;
}

TSgDrive::~TSgDrive() {
    if (Fd >= 0) ::close(Fd);
}

bool TSgDrive::Seek(uint64_t Offset) {
    if (::lseek(Fd, off_t(Offset), SEEK_SET) >= 0) return true;
    return Fail(errno);
}

bool TSgDrive::Read(std::span<uint8_t> Buffer, uint32_t& Done) {
    const ssize_t Got = ::read(Fd, Buffer.data(), Buffer.size());
    Done = Got > 0 ? uint32_t(Got) : 0;
    return Got >= 0 || Fail(errno);
}

bool TSgDrive::Write(std::span<const uint8_t>, uint32_t& Done) {
    Done = 0;
    LastError = PosixErrorNotSupported; // discs are written by commands only
    return false;
}

bool TSgDrive::Control(uint32_t Code, std::span<const uint8_t> In, std::span<uint8_t>,
                       uint32_t& Returned) {
    Returned = 0;
    if (Code == MediaRemoval) {
        if (In.size() != 1) return Fail(EINVAL);
        return ::ioctl(Fd, CDROM_LOCKDOOR, In[0] ? 1 : 0) == 0 || Fail(errno);
    }
    if (Code == EjectMedia) return ::ioctl(Fd, CDROMEJECT) == 0 || Fail(errno);
    LastError = PosixErrorInvalidParameter;
    return false;
}

uint8_t TSgDrive::Execute(const TScsiCommand& Command) {
    std::array<uint8_t, SgSenseBytes> Sense{};
    sg_io_hdr_t Io;
    if (!BuildSgRequest(Command, Sense, Io))
        return ControlFailed(Command, PosixErrorInvalidParameter);
    const bool In = Command.Direction == TScsiData::In;
    // A short answer leaves zeros behind it, as the cleared pass-through
    // buffer does on Windows.
    if (In) std::fill(Command.Data.begin(), Command.Data.end(), 0);
    if (Transfer(Io) != 0) return ControlFailed(Command, WindowsErrorOf(errno));
    const TSgOutcome Outcome = ReadSgResult(Io);
    if (!Outcome.Delivered) return ControlFailed(Command, Outcome.Error);
    if (In && Io.dxfer_len)
        std::fill(Command.Data.begin() + Outcome.Transferred, Command.Data.end(), 0);
    return ScsiResultOf(Outcome.ScsiStatus, 0, 0);
}

int TSgDrive::Transfer(sg_io_hdr_t& Io) {
    return ::ioctl(Fd, SG_IO, &Io);
}

bool TSgDrive::Fail(int Errno) {
    LastError = WindowsErrorOf(Errno);
    return false;
}

uint8_t TSgDrive::ControlFailed(const TScsiCommand& Command, uint32_t Error) {
    LastError = Error;
    if (Command.ShowsControlError) CoolMsgInfo(Platform().ErrorText(Error));
    return ScsiResultControlFailed;
}
