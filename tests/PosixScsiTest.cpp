// CD/DVD drives on Linux: SG_IO requests built from the portable commands,
// their results read back, and the drive nodes (native build only).
#if !defined(_WIN32)

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sstream>
#include <sys/stat.h>
#include <vector>

#include "TestSupport.h"
#include "base/ByteOrder.h"
#include "cli/BurnCommand.h"
#include "fakes/ScriptedUserInterface.h"
#include "fakes/SimulatedWriter.h"
#include "optical/SPTI.h"
#include "platform/posix/PosixScsi.h"

using namespace testing_support;

namespace {

using TBytes = std::vector<uint8_t>;

TScsiCommand Command(std::initializer_list<uint8_t> Cdb, uint8_t Length, TScsiData Direction,
                     std::span<uint8_t> Data, uint32_t TimeoutSeconds) {
    TScsiCommand C;
    std::copy(Cdb.begin(), Cdb.end(), C.Cdb.begin());
    C.CdbLength = Length;
    C.Direction = Direction;
    C.Data = Data;
    C.TimeoutSeconds = TimeoutSeconds;
    return C;
}

// A request as the kernel hands it back.
sg_io_hdr_t Answered(int Direction, unsigned Length, uint8_t Status, uint16_t Host = 0,
                     uint16_t Driver = 0, int Residual = 0, std::span<uint8_t> Sense = {},
                     uint8_t SenseWritten = 0) {
    sg_io_hdr_t Io{};
    Io.interface_id = 'S';
    Io.dxfer_direction = Direction;
    Io.dxfer_len = Length;
    Io.status = Status;
    Io.host_status = Host;
    Io.driver_status = Driver;
    Io.resid = Residual;
    Io.sbp = Sense.empty() ? nullptr : Sense.data();
    Io.mx_sb_len = uint8_t(Sense.size());
    Io.sb_len_wr = SenseWritten;
    return Io;
}

// What a drive answers to one command.
struct TReply {
    uint8_t Status = 0;
    uint16_t Host = 0, Driver = 0;
    TBytes Data;      // data in: what the drive sends
    int Residual = 0; // data out: what the drive did not take
    TBytes Sense;
    bool Garbage = false; // bytes past the data are left dirty (a bounce buffer)
};

// The kernel's side of SG_IO, in front of a drive that answers by a
// function: data moves only in the direction the request names, and only
// as much as the request's length, as the kernel moves it.
class TKernelDrive : public TSgDrive {
public:
    explicit TKernelDrive(uint32_t& Error) : TSgDrive(-1, Error) {}
    // Sent: the data going out; Room: how much may come in.
    std::function<TReply(std::span<const uint8_t> Cdb, std::span<const uint8_t> Sent, size_t Room)>
        Drive;
    int Errno = 0; // the ioctl itself fails
    std::vector<sg_io_hdr_t> Seen;
    std::vector<TBytes> Sent;

protected:
    int Transfer(sg_io_hdr_t& Io) override {
        Seen.push_back(Io);
        if (Errno) {
            errno = Errno;
            return -1;
        }
        if (Io.interface_id != 'S' || Io.cmd_len < 6 || Io.cmd_len > 16) {
            errno = EINVAL;
            return -1;
        }
        auto* User = static_cast<uint8_t*>(Io.dxferp);
        TBytes Out;
        if (Io.dxfer_direction == SG_DXFER_TO_DEV) Out.assign(User, User + Io.dxfer_len);
        Sent.push_back(Out);
        const TReply R = Drive({Io.cmdp, Io.cmd_len}, Out,
                               Io.dxfer_direction == SG_DXFER_FROM_DEV ? Io.dxfer_len : 0);
        Io.resid = R.Residual;
        if (Io.dxfer_direction == SG_DXFER_FROM_DEV) {
            const size_t Moved = std::min<size_t>(R.Data.size(), Io.dxfer_len);
            std::copy_n(R.Data.begin(), Moved, User);
            if (R.Garbage) std::fill(User + Moved, User + Io.dxfer_len, 0xEE);
            Io.resid = int(Io.dxfer_len - Moved);
        }
        Io.sb_len_wr = Io.sbp ? uint8_t(std::min<size_t>(R.Sense.size(), Io.mx_sb_len)) : 0;
        std::copy_n(R.Sense.begin(), Io.sb_len_wr, Io.sbp);
        Io.status = R.Status;
        Io.masked_status = uint8_t(R.Status >> 1);
        Io.host_status = R.Host;
        Io.driver_status = R.Driver;
        return 0;
    }
};

// The simulated machine whose drives are reached as Linux reaches them:
// the opened handle is the drive, and its commands go through SG_IO.
class TSgWriterPlatform : public TWriterPlatform {
public:
    std::unique_ptr<TDeviceHandle> OpenDevice(std::string_view Name,
                                              const TDeviceAccess& Access) override {
        const auto Found =
            Name.size() == 6 ? Drives.find(char(std::toupper(Name[4]))) : Drives.end();
        if (Found == Drives.end()) return TWriterPlatform::OpenDevice(Name, Access);
        Opened.push_back(std::string(Name) + (Access.Write ? " rw" : " r"));
        auto Drive = std::make_unique<TKernelDrive>(LastErrorCode);
        Drive->Drive = [W = Found->second](std::span<const uint8_t> Cdb,
                                           std::span<const uint8_t> Sent, size_t Room) {
            TReply R;
            TBytes Buffer(Sent.begin(), Sent.end());
            Buffer.resize(Sent.size() + Room);
            R.Status = W->Execute(Cdb, Buffer);
            if (Room) R.Data = Buffer;
            return R;
        };
        return Drive;
    }
};

int AccessMode(int Fd) {
    return ::fcntl(Fd, F_GETFL) & O_ACCMODE;
}

} // namespace

TEST(PosixSgRequest, CommandsFillTheKernelsHeader) {
    std::array<uint8_t, 32> Sense{};
    sg_io_hdr_t Io;

    // INQUIRY: data from the drive, straight into the caller's buffer.
    std::array<uint8_t, 165> Inquiry{};
    const TScsiCommand Asked = Command({0x12, 0, 0, 0, 165}, 6, TScsiData::In, Inquiry, 2);
    std::memset(&Io, 0xA5, sizeof Io); // whatever was there before is gone
    ASSERT_TRUE(BuildSgRequest(Asked, Sense, Io));
    EXPECT_EQ(Io.interface_id, 'S');
    EXPECT_EQ(Io.dxfer_direction, SG_DXFER_FROM_DEV);
    EXPECT_EQ(Io.cmd_len, 6);
    EXPECT_EQ(TBytes(Io.cmdp, Io.cmdp + 6), (TBytes{0x12, 0, 0, 0, 165, 0}));
    EXPECT_EQ(Io.dxferp, Inquiry.data());
    EXPECT_EQ(Io.dxfer_len, 165u);
    EXPECT_EQ(Io.sbp, Sense.data());
    EXPECT_EQ(Io.mx_sb_len, 32);
    EXPECT_EQ(Io.timeout, 2000u); // milliseconds
    EXPECT_EQ(Io.iovec_count, 0);
    EXPECT_EQ(Io.flags, 0u);
    EXPECT_EQ(Io.usr_ptr, nullptr);

    // WRITE(10): ten blocks to the drive.
    TBytes Blocks(20480);
    const TScsiCommand Write =
        Command({0x2A, 0, 0, 0, 0, 16, 0, 0, 10}, 10, TScsiData::Out, Blocks, 120);
    ASSERT_TRUE(BuildSgRequest(Write, Sense, Io));
    EXPECT_EQ(Io.dxfer_direction, SG_DXFER_TO_DEV);
    EXPECT_EQ(Io.cmd_len, 10);
    EXPECT_EQ(Io.cmdp[0], 0x2A);
    EXPECT_EQ(Io.cmdp[5], 16);
    EXPECT_EQ(Io.dxferp, Blocks.data());
    EXPECT_EQ(Io.dxfer_len, 20480u);
    EXPECT_EQ(Io.timeout, 120000u);

    // No data (TEST UNIT READY, BLANK), and data asked for with no room.
    ASSERT_TRUE(BuildSgRequest(Command({0x00}, 6, TScsiData::None, {}, 120), Sense, Io));
    EXPECT_EQ(Io.dxfer_direction, SG_DXFER_NONE);
    EXPECT_EQ(Io.dxfer_len, 0u);
    EXPECT_EQ(Io.dxferp, nullptr);
    ASSERT_TRUE(BuildSgRequest(Command({0xA1, 0x11}, 12, TScsiData::In, {}, 2), Sense, Io));
    EXPECT_EQ(Io.dxfer_direction, SG_DXFER_NONE);
    EXPECT_EQ(Io.cmd_len, 12);
    EXPECT_EQ(Io.timeout, 2000u);

    // A timeout past what the field holds stays the longest, not a short one.
    ASSERT_TRUE(BuildSgRequest(Command({0x00}, 6, TScsiData::None, {}, UINT32_MAX), Sense, Io));
    EXPECT_EQ(Io.timeout, UINT_MAX);
    // Without room for sense, none is asked for.
    ASSERT_TRUE(BuildSgRequest(Command({0x00}, 6, TScsiData::None, {}, 1), {}, Io));
    EXPECT_EQ(Io.sbp, nullptr);
    EXPECT_EQ(Io.mx_sb_len, 0);

    EXPECT_FALSE(BuildSgRequest(Command({}, 0, TScsiData::None, {}, 1), Sense, Io));
    EXPECT_FALSE(BuildSgRequest(Command({0x00}, 17, TScsiData::None, {}, 1), Sense, Io));
}

TEST(PosixSgResult, StatusHostDriverSenseAndResidualDecideTheOutcome) {
    std::array<uint8_t, 32> Sense{};
    // Good, every byte moved.
    auto Out = ReadSgResult(Answered(SG_DXFER_FROM_DEV, 165, 0));
    EXPECT_TRUE(Out.Delivered);
    EXPECT_EQ(Out.ScsiStatus, 0);
    EXPECT_EQ(Out.Transferred, 165u);
    EXPECT_EQ(Out.SenseLength, 0);

    // CHECK CONDITION with fixed sense: ILLEGAL REQUEST.
    Sense.fill(0);
    Sense[0] = 0x70;
    Sense[2] = 0x05;
    Out = ReadSgResult(Answered(SG_DXFER_NONE, 0, 0x02, 0, 0x08, 0, Sense, 18));
    EXPECT_TRUE(Out.Delivered);
    EXPECT_EQ(Out.ScsiStatus, 0x02);
    EXPECT_EQ(Out.SenseKey, 0x05);
    EXPECT_EQ(Out.SenseLength, 18);
    // More sense claimed than there was room for.
    Out = ReadSgResult(Answered(SG_DXFER_NONE, 0, 0x02, 0, 0x08, 0, std::span(Sense).first(8), 18));
    EXPECT_EQ(Out.SenseLength, 8);

    // A fault told only by the sense (MEDIUM ERROR, descriptor format) is a
    // CHECK CONDITION; a recovered error is not.
    Sense.fill(0);
    Sense[0] = 0x72;
    Sense[1] = 0x03;
    Out = ReadSgResult(Answered(SG_DXFER_NONE, 0, 0x00, 0, 0x08, 0, Sense, 8));
    EXPECT_TRUE(Out.Delivered);
    EXPECT_EQ(Out.SenseKey, 0x03);
    EXPECT_EQ(Out.ScsiStatus, 0x02);
    Sense[1] = 0x01;
    Out = ReadSgResult(Answered(SG_DXFER_NONE, 0, 0x00, 0, 0x08, 0, Sense, 8));
    EXPECT_EQ(Out.ScsiStatus, 0x00);
    // BUSY stays BUSY.
    EXPECT_EQ(ReadSgResult(Answered(SG_DXFER_NONE, 0, 0x08)).ScsiStatus, 0x08);

    // The adapter or driver lost the command: the request fails.
    for (const auto& [Host, Driver, Error] :
         {std::tuple{0x01, 0x00, PosixErrorIoDevice}, // DID_NO_CONNECT
          std::tuple{0x07, 0x00, PosixErrorIoDevice}, // DID_ERROR
          std::tuple{0x03, 0x00, PosixErrorTimeout},  // DID_TIME_OUT
          std::tuple{0x00, 0x06, PosixErrorTimeout},  // DRIVER_TIMEOUT
          std::tuple{0x00, 0x04, PosixErrorIoDevice}}) {
        Out = ReadSgResult(Answered(SG_DXFER_FROM_DEV, 512, 0, uint16_t(Host), uint16_t(Driver)));
        EXPECT_FALSE(Out.Delivered) << Host << " " << Driver;
        EXPECT_EQ(Out.Error, Error) << Host << " " << Driver;
    }

    // The residual: what came in, and a write the drive did not take whole.
    EXPECT_EQ(ReadSgResult(Answered(SG_DXFER_FROM_DEV, 165, 0, 0, 0, 129)).Transferred, 36u);
    EXPECT_EQ(ReadSgResult(Answered(SG_DXFER_FROM_DEV, 165, 0, 0, 0, 500)).Transferred, 0u);
    EXPECT_EQ(ReadSgResult(Answered(SG_DXFER_FROM_DEV, 165, 0, 0, 0, -4)).Transferred, 165u);
    Out = ReadSgResult(Answered(SG_DXFER_TO_DEV, 20480, 0, 0, 0, 2048));
    EXPECT_FALSE(Out.Delivered);
    EXPECT_EQ(Out.Error, PosixErrorIoDevice);
    EXPECT_EQ(Out.Transferred, 18432u);
    // ...unless the drive itself said why.
    Out = ReadSgResult(Answered(SG_DXFER_TO_DEV, 20480, 0x02, 0, 0x08, 2048));
    EXPECT_TRUE(Out.Delivered);
    EXPECT_EQ(Out.ScsiStatus, 0x02);
    EXPECT_TRUE(ReadSgResult(Answered(SG_DXFER_TO_DEV, 20480, 0)).Delivered);
}

TEST(PosixSgDrive, PortableCommandsReachTheKernelAndTheirResultsComeBack) {
    TFakePlatform Machine;
    TScriptedUserInterface Ui;
    uint32_t Error = 0;
    TKernelDrive Drive(Error);
    TReply Next;
    Drive.Drive = [&](std::span<const uint8_t>, std::span<const uint8_t>, size_t) { return Next; };

    // INQUIRY: 36 bytes come, the rest of the buffer is cleared even where
    // the kernel left it dirty.
    std::array<uint8_t, InquiryLength> Data;
    Data.fill(0x77);
    Next.Data.assign(36, 0x5A);
    Next.Garbage = true;
    EXPECT_EQ(Inquiry(Drive, Data), 0);
    ASSERT_EQ(Drive.Seen.size(), 1u);
    EXPECT_EQ(Drive.Seen[0].dxfer_direction, SG_DXFER_FROM_DEV);
    EXPECT_EQ(Drive.Seen[0].dxfer_len, InquiryLength);
    EXPECT_EQ(Drive.Seen[0].cmd_len, 6);
    EXPECT_EQ(Drive.Seen[0].timeout, 2000u);
    EXPECT_EQ(Drive.Seen[0].mx_sb_len, SgSenseBytes);
    EXPECT_EQ(std::count(Data.begin(), Data.begin() + 36, 0x5A), 36);
    EXPECT_EQ(std::count(Data.begin() + 36, Data.end(), 0), long(InquiryLength - 36));

    // WRITE(10): the blocks reach the drive.
    Next = TReply();
    const TBytes Source = RandomBytes(20480, 5);
    TBytes Blocks = Source;
    EXPECT_EQ(Write10(Drive, 16, 10, Blocks), 0);
    EXPECT_EQ(Drive.Seen.back().dxfer_direction, SG_DXFER_TO_DEV);
    EXPECT_EQ(Drive.Sent.back(), Source);

    // The drive's status: CHECK CONDITION, BUSY, a fault in the sense alone.
    Next.Status = 0x02;
    Next.Driver = 0x08;
    Next.Sense = {0x70, 0, 0x02, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x3A};
    EXPECT_EQ(TestUnitReady(Drive), 1);
    EXPECT_EQ(Drive.Seen.back().dxfer_direction, SG_DXFER_NONE);
    Next.Status = 0x00;
    EXPECT_EQ(TestUnitReady(Drive), 1);
    Next = TReply();
    Next.Status = 0x08;
    EXPECT_EQ(TestUnitReady(Drive), 10);
    EXPECT_TRUE(Ui.Log.empty());

    // Transport failures: the request fails, and the system's text is shown
    // for the commands that show it.
    Next = TReply();
    Next.Host = 0x01;
    EXPECT_EQ(TestUnitReady(Drive), ScsiResultControlFailed);
    EXPECT_EQ(Error, PosixErrorIoDevice);
    EXPECT_TRUE(Ui.Log.empty());
    Next = TReply();
    Next.Residual = 2048;
    EXPECT_EQ(Write10(Drive, 26, 10, Blocks), ScsiResultControlFailed);
    ASSERT_EQ(Ui.Log, (std::vector<std::string>{"info: " + Machine.ErrorText(PosixErrorIoDevice)}));
    Drive.Errno = EPERM; // a write command on a node opened read-only
    EXPECT_EQ(ModeSelect(Drive, Blocks), ScsiResultControlFailed);
    EXPECT_EQ(Error, PosixErrorAccessDenied);
    ASSERT_EQ(Ui.Log.size(), 2u);
    EXPECT_EQ(Ui.Log[1], "info: " + Machine.ErrorText(PosixErrorAccessDenied));
    // Nothing the caller had in its buffer passes for an answer.
    Data.fill(0x77);
    EXPECT_EQ(Inquiry(Drive, Data), ScsiResultControlFailed);
    EXPECT_EQ(std::count(Data.begin(), Data.end(), 0), long(InquiryLength));
}

TEST(PosixSgDrive, TheDriveLettersBurnThroughSgIoAsThroughPassThrough) {
    // The same burn on two machines: pass-through requests, and SG_IO.
    TScriptedUserInterface Ui;
    const TBytes Image = RandomBytes(300 * 2048, 11);
    const auto BurnOn = [&](TWriterPlatform& Machine, TSimulatedWriter& Writer) {
        Machine.AddDrive('E', Writer);
        TSPTIdevice Device('E');
        EXPECT_EQ(Device.Name, "CD-RW  SIM 52X (SIMCO)");
        EXPECT_TRUE(Device.IsWriter());
        EXPECT_EQ(Device.MaxWriteSpeed, 9152 / 176);
        TMemoryStream Source(Image);
        TBurnError Error;
        EXPECT_TRUE(Device.Burn(Error, Source, nullptr)) << int(Error.Step);
    };
    TSimulatedWriter Spti, Sg;
    {
        TWriterPlatform Machine;
        BurnOn(Machine, Spti);
        ASSERT_FALSE(Machine.Requests.empty());
    }
    TSgWriterPlatform Machine;
    BurnOn(Machine, Sg);
    EXPECT_TRUE(Machine.Requests.empty()); // no pass-through request was made
    EXPECT_EQ(Sg.Cdbs, Spti.Cdbs);
    EXPECT_EQ(Sg.SelectedParameters, Spti.SelectedParameters);
    EXPECT_EQ(Sg.Recorded(0, 300), Image);
    EXPECT_EQ(Sg.SessionsClosed, 1);
    EXPECT_TRUE(Ui.Log.empty());

    // purgex burn on that machine: written, read back and counted.
    for (const char* Name : {"PURGXCD", "PURGXDSK"})
        if (const auto Bytes = NativePlatform().OwnResource("STREAM", Name))
            Machine.AddResource("STREAM", Name, {Bytes->begin(), Bytes->end()});
    TSimulatedWriter Writer;
    Machine.AddDrive('D', Writer);
    TBurnOptions Options;
    Options.Drive = "d:";
    Options.Os = "rxdos";
    Options.Yes = true;
    Options.Bits = "101010101010";
    std::istringstream In;
    std::ostringstream Out, Err;
    ASSERT_EQ(RunBurnCommand(Options, In, Out, Err), 0) << Out.str() << Err.str();
    EXPECT_NE(Out.str().find("Burned 1 disc in D:, each read back"), std::string::npos)
        << Out.str();
    EXPECT_EQ(Writer.Writes.size(), 74u);
    EXPECT_TRUE(Writer.NextSessionAllowed);
    EXPECT_TRUE(Machine.Requests.empty());
}

TEST(PosixScsiNode, DrivesOpenForReadingAndWritingWithoutWaitingForADisc) {
    TScratchDir Dir;
    const std::string Node = (Dir / "sr0").string();
    WriteFileBytes(Dir / "sr0", TBytes(2048));
    uint32_t Error = 0;
    TDeviceAccess Burning;
    Burning.Write = true;

    // For burning: read-write, not blocking on the tray, not inherited.
    auto Drive = OpenScsiNode(Node, Burning, Error);
    ASSERT_NE(Drive, nullptr);
    EXPECT_EQ(AccessMode(Drive->Descriptor()), O_RDWR);
    EXPECT_NE(::fcntl(Drive->Descriptor(), F_GETFL) & O_NONBLOCK, 0);
    EXPECT_NE(::fcntl(Drive->Descriptor(), F_GETFD) & FD_CLOEXEC, 0);
    // Ejecting asks only to read.
    auto Reader = OpenScsiNode(Node, TDeviceAccess(), Error);
    ASSERT_NE(Reader, nullptr);
    EXPECT_EQ(AccessMode(Reader->Descriptor()), O_RDONLY);

    // The real ioctl on something that is no drive: the request fails.
    TFakePlatform Machine;
    TScriptedUserInterface Ui;
    EXPECT_EQ(TestUnitReady(*Drive), ScsiResultControlFailed);
    EXPECT_EQ(Error, PosixErrorNotSupported);
    uint32_t Returned = 0;
    const uint8_t Allow[1] = {0};
    EXPECT_FALSE(Drive->Control(IoctlStorageMediaRemoval, Allow, {}, Returned));
    EXPECT_EQ(Error, PosixErrorNotSupported);
    // Pass-through requests are Windows' alone.
    std::array<uint8_t, SptiBufferedBytes> Request{};
    EXPECT_FALSE(Drive->Control(IoctlScsiPassThrough, Request, Request, Returned));
    EXPECT_EQ(Error, PosixErrorInvalidParameter);

    // A node that is not there, and one the user may not write.
    EXPECT_EQ(OpenScsiNode((Dir / "sr1").string(), Burning, Error), nullptr);
    EXPECT_EQ(Error, PosixErrorFileNotFound);
    ::chmod(Node.c_str(), 0444);
    if (::geteuid() != 0) {
        EXPECT_EQ(OpenScsiNode(Node, Burning, Error), nullptr);
        EXPECT_EQ(Error, PosixErrorAccessDenied);
    }
}

TEST(PosixScsiNode, DriveLettersNameTheNodes) {
    EXPECT_EQ(ScsiNodeOf("\\\\.\\D:"), "/dev/sr0");
    EXPECT_EQ(ScsiNodeOf("\\\\.\\f:"), "/dev/sr2");
    EXPECT_EQ(ScsiNodeOf("\\\\.\\A:"), "");
    EXPECT_EQ(ScsiNodeOf("\\\\.\\vwin32"), "");
    EXPECT_EQ(WindowsErrorOf(EACCES), PosixErrorAccessDenied);
    EXPECT_EQ(WindowsErrorOf(EPERM), PosixErrorAccessDenied); // a write on a read-only node
    EXPECT_EQ(WindowsErrorOf(ENOENT), PosixErrorFileNotFound);
    EXPECT_EQ(WindowsErrorOf(ENOMEDIUM), PosixErrorDeviceNotConnected);
    EXPECT_EQ(WindowsErrorOf(ENOTTY), PosixErrorNotSupported);
    // No such node on this machine: a clear error.
    uint32_t Error = 0;
    TDeviceAccess Access;
    Access.Write = true;
    if (!ScsiDosDevice("Z:").empty()) GTEST_SKIP() << "a drive at /dev/sr22";
    EXPECT_EQ(OpenScsiDevice("\\\\.\\Z:", Access, Error), nullptr);
    EXPECT_EQ(Error, PosixErrorFileNotFound);
    EXPECT_EQ(ScsiDriveMask() >> 25 & 1, 0u);
}

#endif
