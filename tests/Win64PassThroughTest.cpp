// A 64-bit Windows program hands SCSI pass-through requests to the system in
// its native layout: the requests the drive layer builds (the 32-bit layout)
// are checked field by field against the system header's own structures, and
// a native answer comes back where the drive layer reads it.

#include <gtest/gtest.h>

#ifdef _WIN64
#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>

#include <cstring>

#include "optical/SPTI.h"
#include "platform/win32/Win32Devices.h"

namespace {

// Keeps the last request the drive layer sent.
class TRecordingHandle : public TDeviceHandle {
public:
    std::vector<uint8_t>* In;
    explicit TRecordingHandle(std::vector<uint8_t>& In) : In(&In) {}
    bool Seek(uint64_t) override { return true; }
    bool Read(std::span<uint8_t>, uint32_t&) override { return false; }
    bool Write(std::span<const uint8_t>, uint32_t&) override { return false; }
    bool Control(uint32_t, std::span<const uint8_t> Request, std::span<uint8_t>,
                 uint32_t&) override {
        In->assign(Request.begin(), Request.end());
        return true;
    }
};

SCSI_PASS_THROUGH_DIRECT HeaderOf(const std::vector<uint8_t>& Native) {
    SCSI_PASS_THROUGH_DIRECT Header;
    std::memcpy(&Header, Native.data(), sizeof Header);
    return Header;
}

} // namespace

TEST(Win64PassThrough, RequestsTakeTheNativeLayoutAndAnswersComeBack) {
    std::vector<uint8_t> Sent;
    TSptiDrive Drive(std::make_unique<TRecordingHandle>(Sent));

    // Buffered: READ CAPACITY-like, 8 bytes in.
    std::array<uint8_t, 8> Small{};
    TScsiCommand Read;
    Read.Cdb = {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    Read.Direction = TScsiData::In;
    Read.Data = Small;
    Read.TimeoutSeconds = 7;
    Drive.Execute(Read);
    ASSERT_EQ(Sent.size(), SptiHeaderBytes);
    std::vector<uint8_t> Native =
        NativePassThroughRequest(IOCTL_SCSI_PASS_THROUGH, Sent, SptiBufferedBytes, {});
    SCSI_PASS_THROUGH Buffered;
    std::memcpy(&Buffered, Native.data(), sizeof Buffered);
    EXPECT_EQ(Buffered.Length, sizeof(SCSI_PASS_THROUGH));
    EXPECT_EQ(Buffered.CdbLength, 10);
    EXPECT_EQ(Buffered.Cdb[0], 0x25);
    EXPECT_EQ(Buffered.DataIn, 1);
    EXPECT_EQ(Buffered.DataTransferLength, SptiDataBytes);
    EXPECT_EQ(Buffered.TimeOutValue, 7u);
    EXPECT_EQ(Buffered.SenseInfoLength, SptiSenseBytes);
    EXPECT_EQ(Buffered.SenseInfoOffset, sizeof(SCSI_PASS_THROUGH));
    EXPECT_EQ(Buffered.DataBufferOffset, sizeof(SCSI_PASS_THROUGH) + SptiSenseBytes);
    ASSERT_EQ(Native.size(), SptiBufferedBytes - SptiHeaderBytes + sizeof(SCSI_PASS_THROUGH));

    // The system's answer: status, sense and data at their native places.
    Native[offsetof(SCSI_PASS_THROUGH, ScsiStatus)] = 2;
    Native[Buffered.SenseInfoOffset] = 0x70;
    Native[Buffered.DataBufferOffset] = 0xAB;
    std::vector<uint8_t> Out(SptiBufferedBytes);
    PortablePassThroughAnswer(Native, Out);
    EXPECT_EQ(Out[2], 2);
    EXPECT_EQ(Out[SptiHeaderBytes], 0x70);
    EXPECT_EQ(Out[SptiDataOffset], 0xAB);

    // Direct: WRITE(10) from the caller's own buffer.
    std::vector<uint8_t> Blocks(4096, 0x5A);
    TScsiCommand Write;
    Write.Cdb = {0x2A, 0, 0, 0, 0, 0, 0, 0, 2, 0};
    Write.Direction = TScsiData::Out;
    Write.Data = Blocks;
    Drive.Execute(Write);
    ASSERT_EQ(Sent.size(), SptiDirectBytes);
    Native = NativePassThroughRequest(IOCTL_SCSI_PASS_THROUGH_DIRECT, Sent, SptiDirectBytes, Blocks);
    const SCSI_PASS_THROUGH_DIRECT Direct = HeaderOf(Native);
    EXPECT_EQ(Direct.DataBuffer, Blocks.data()); // the whole address, not 32 bits of it
    EXPECT_EQ(Direct.DataIn, 0);
    EXPECT_EQ(Direct.DataTransferLength, 4096u);
    EXPECT_EQ(Direct.Cdb[8], 2);
    EXPECT_EQ(Direct.SenseInfoOffset, sizeof(SCSI_PASS_THROUGH_DIRECT));
    EXPECT_EQ(Native.size(), SptiDirectBytes - SptiHeaderBytes + sizeof(SCSI_PASS_THROUGH_DIRECT));
}
#endif
