// The translation of pass-through requests into Linux SG_IO (native build only).
#if !defined(_WIN32)

#include <gtest/gtest.h>

#include <cerrno>
#include <vector>

#include "base/ByteOrder.h"
#include "fakes/ScriptedUserInterface.h"
#include "optical/SPTI.h"
#include "platform/posix/PosixScsi.h"

namespace {

// Builds requests with the SPTI sender itself, so the two sides meet.
class TCapturingHandle : public TDeviceHandle {
public:
    std::vector<uint8_t> Request, Data;
    uint32_t Code = 0;
    uint8_t Status = 0;
    bool Seek(uint64_t) override { return false; }
    bool Read(std::span<uint8_t>, uint32_t&) override { return false; }
    bool Write(std::span<const uint8_t>, uint32_t&) override { return false; }
    bool Control(uint32_t C, std::span<const uint8_t> In, std::span<uint8_t> Out,
                 uint32_t& Returned) override {
        return ControlDirect(C, In, Out, {}, Returned);
    }
    bool ControlDirect(uint32_t C, std::span<const uint8_t>, std::span<uint8_t> Out,
                       std::span<uint8_t> D, uint32_t& Returned) override {
        Code = C;
        Request.assign(Out.begin(), Out.end());
        Data.assign(D.begin(), D.end());
        TSgRequest Sg;
        uint32_t Error = 0;
        if (!SptiToSg(C, Out, D, Sg, Error)) return false;
        // A drive answering: the first data byte, and the status.
        if (Sg.Direction == TSgDirection::FromDevice && Sg.DataLength) Sg.Data[0] = 0x5A;
        if (!SgToSpti(Status, 0, Out, Error)) return false;
        Returned = uint32_t(Out.size());
        return true;
    }
};

} // namespace

TEST(PosixScsi, BufferedAndDirectRequestsBecomeSgRequests) {
    // INQUIRY through the buffered request: data from the device into the request.
    std::vector<uint8_t> Request(684);
    PutLE16(&Request[0], 44);
    Request[6] = 6;
    Request[7] = 128;
    Request[8] = 1;
    PutLE32(&Request[12], 512);
    PutLE32(&Request[16], 2);
    PutLE32(&Request[20], 172);
    PutLE32(&Request[24], 44);
    Request[28] = 0x12;
    Request[32] = 165;
    TSgRequest Sg;
    uint32_t Error = 99;
    ASSERT_TRUE(SptiToSg(0x4D004, Request, {}, Sg, Error));
    EXPECT_EQ(Error, 0u);
    EXPECT_EQ(Sg.Direction, TSgDirection::FromDevice);
    EXPECT_EQ(Sg.CdbLength, 6);
    EXPECT_EQ(Sg.Cdb[0], 0x12);
    EXPECT_EQ(Sg.Cdb[4], 165);
    EXPECT_EQ(Sg.Data, &Request[172]);
    EXPECT_EQ(Sg.DataLength, 512u);
    EXPECT_EQ(Sg.Sense, &Request[44]);
    EXPECT_EQ(Sg.SenseLength, 128);
    EXPECT_EQ(Sg.TimeoutMilliseconds, 2000u);

    // WRITE(10) through the direct request: data to the device from the caller's buffer.
    std::vector<uint8_t> Direct(172), Data(20480);
    PutLE16(&Direct[0], 44);
    Direct[6] = 10;
    Direct[7] = 128;
    PutLE32(&Direct[12], 20480);
    PutLE32(&Direct[16], 120);
    PutLE32(&Direct[24], 44);
    Direct[28] = 0x2A;
    ASSERT_TRUE(SptiToSg(0x4D014, Direct, Data, Sg, Error));
    EXPECT_EQ(Sg.Direction, TSgDirection::ToDevice);
    EXPECT_EQ(Sg.Data, Data.data());
    EXPECT_EQ(Sg.DataLength, 20480u);
    EXPECT_EQ(Sg.TimeoutMilliseconds, 120000u);

    // Malformed requests are refused as the system refuses them.
    std::vector<uint8_t> Bad = Request;
    PutLE16(&Bad[0], 48);
    EXPECT_FALSE(SptiToSg(0x4D004, Bad, {}, Sg, Error));
    EXPECT_EQ(Error, PosixErrorInvalidParameter);
    Bad = Request;
    PutLE32(&Bad[12], 513); // data past the end of the request
    EXPECT_FALSE(SptiToSg(0x4D004, Bad, {}, Sg, Error));
    EXPECT_FALSE(SptiToSg(0x4D014, Direct, std::span(Data).first(100), Sg, Error));
    EXPECT_FALSE(SptiToSg(0x12345, Request, {}, Sg, Error));
}

TEST(PosixScsi, StatusAndFailuresReachTheSender) {
    TScriptedUserInterface Ui;
    auto Owned = std::make_unique<TCapturingHandle>();
    TCapturingHandle& Handle = *Owned;
    TSptiDrive Drive(std::move(Owned));
    std::array<uint8_t, InquiryLength> Data{};
    EXPECT_EQ(Inquiry(Drive, Data), 0);
    EXPECT_EQ(Data[0], 0x5A); // what the drive put in the request's data buffer
    Handle.Status = 2;        // CHECK CONDITION
    EXPECT_EQ(TestUnitReady(Drive), 1);
    Handle.Status = 8; // BUSY
    EXPECT_EQ(TestUnitReady(Drive), 10);

    // A host failure fails the device control call itself.
    std::vector<uint8_t> Request(684);
    uint32_t Error = 0;
    EXPECT_FALSE(SgToSpti(0, 0x01, Request, Error));
    EXPECT_EQ(Error, PosixErrorIoDevice);
    EXPECT_TRUE(SgToSpti(2, 0, Request, Error));
    EXPECT_EQ(Request[2], 2);

    // Refused ioctls and opens: permission, a missing node, a drive gone.
    EXPECT_EQ(WindowsErrorOf(EACCES), PosixErrorAccessDenied);
    EXPECT_EQ(WindowsErrorOf(EPERM), PosixErrorAccessDenied); // a node opened read-only
    EXPECT_EQ(WindowsErrorOf(ENOENT), PosixErrorFileNotFound);
    EXPECT_EQ(WindowsErrorOf(ENOMEDIUM), PosixErrorDeviceNotConnected);
}

TEST(PosixScsi, DriveLettersNameTheNodes) {
    EXPECT_EQ(ScsiNodeOf("\\\\.\\D:"), "/dev/sr0");
    EXPECT_EQ(ScsiNodeOf("\\\\.\\f:"), "/dev/sr2");
    EXPECT_EQ(ScsiNodeOf("\\\\.\\A:"), "");
    EXPECT_EQ(ScsiNodeOf("\\\\.\\vwin32"), "");
    // No such node on this machine, or a node that cannot be opened: a clear error.
    uint32_t Error = 0;
    TDeviceAccess Access;
    Access.Write = true;
    if (!ScsiDosDevice("Z:").empty()) GTEST_SKIP() << "a drive at /dev/sr22";
    EXPECT_EQ(OpenScsiDevice("\\\\.\\Z:", Access, Error), nullptr);
    EXPECT_EQ(Error, PosixErrorFileNotFound);
    EXPECT_EQ(ScsiDriveMask() >> 25 & 1, 0u);
}

#endif
