#include "optical/ScsiCommands.h"

#include <algorithm>
#include <exception>
#include <string_view>
#include <vector>

#include "base/ByteOrder.h"
#include "platform/Platform.h"

uint8_t ScsiResultOf(uint8_t RequestStatus, uint8_t HostStatus, uint8_t TargetStatus) {
    switch (RequestStatus) {
    case 0:
    case 1:
        return 0;
    case 2:
    case 3:
        return 1;
    case 4:
        if (HostStatus == 0) {
            switch (TargetStatus) {
            case 0:
            case 2:
                return 21;
            case 0x08:
                return 22;
            case 0x18:
                return 23;
            case 0x28:
                return 24;
            default:
                return 10;
            }
        }
        if (HostStatus == 0x09) return 11;
        if (HostStatus == 0x0B) return 12;
        if (HostStatus >= 0x0D && HostStatus <= 0x14) return uint8_t(13 + (HostStatus - 0x0D));
        return 10;
    case 0x80:
        return 2;
    case 0x81:
        return 4;
    case 0x82:
        return 5;
    case 0xE0:
        return 6;
    case 0xE1:
        return 7;
    case 0xE5:
        return 8;
    case 0xE6:
        return 9;
    default:
        return 10;
    }
}

namespace {

TScsiCommand Command(std::initializer_list<uint8_t> Cdb, uint8_t CdbLength) {
    TScsiCommand C;
    std::copy(Cdb.begin(), Cdb.end(), C.Cdb.begin());
    C.CdbLength = CdbLength;
    return C;
}

TScsiCommand DataIn(TScsiCommand C, std::span<uint8_t> Data) {
    C.Direction = TScsiData::In;
    C.Data = Data;
    PutBE16(&C.Cdb[7], uint16_t(Data.size()));
    return C;
}

// Byte 1 of the mode commands: ASPI adds the LUN in bits 5-7.
uint8_t ModeByte1(const TScsiDrive& Drive, uint8_t Bits) {
    return Drive.IsAspi() ? uint8_t(Bits | (Drive.Lun() & 7) << 5) : Bits;
}

// Sends an immediate command and, once the drive accepted it, polls READ
// DISC INFORMATION until the drive answers again. A drive that never does
// fails after PollLimitMilliseconds instead of holding the program.
uint8_t SendPolled(TScsiDrive& Drive, TScsiCommand C, const TPollCallback& Poll,
                   uint32_t PollTimeoutSeconds) {
    C.Immediate = true;
    const uint8_t Result = Drive.Execute(C);
    if (Result != 0) return Result;
    const uint64_t Start = Platform().TickCount();
    std::array<uint8_t, DiscInformationLength> Info{};
    while (ReadDiscInformation(Drive, Info, PollTimeoutSeconds) != 0) {
        if (Poll) Poll();
        if (Platform().TickCount() - Start >= PollLimitMilliseconds) return ScsiResultTimedOut;
    }
    return Result;
}

// Copies up to the first byte below 32 and drops trailing spaces.
std::string InquiryText(std::span<const uint8_t> Bytes) {
    std::string Text;
    for (uint8_t b : Bytes) {
        if (b < 32) break;
        Text += char(b);
    }
    while (!Text.empty() && Text.back() == ' ')
        Text.pop_back();
    return Text;
}

double Fill(uint32_t Length, uint32_t Blank) {
    // A drive reporting more blank space than its buffer holds shows empty.
    if (Length == 0 || Blank >= Length) return 0.0;
    return double(Length - Blank) / double(Length);
}

} // namespace

uint8_t TestUnitReady(TScsiDrive& Drive) {
    return Drive.Execute(Command({0x00}, 6));
}

uint8_t Inquiry(TScsiDrive& Drive, std::span<uint8_t, InquiryLength> Data) {
    TScsiCommand C = Command({0x12, 0, 0, 0, uint8_t(InquiryLength)}, 6);
    C.Direction = TScsiData::In;
    C.Data = Data;
    C.TimeoutSeconds = 2;
    return Drive.Execute(C);
}

uint8_t ModeSenseCapabilities(TScsiDrive& Drive, std::span<uint8_t, CapabilitiesLength> Data) {
    TScsiCommand C =
        DataIn(Command({0x5A, ModeByte1(Drive, Drive.IsAspi() ? 0x08 : 0x00), 0x2A}, 10), Data);
    C.TimeoutSeconds = 2;
    const uint8_t Result = Drive.Execute(C);
    // The 16-bit speed and buffer fields, page bytes 8-14, 18 and 20, to host order.
    for (size_t PageByte : {8, 10, 12, 14, 18, 20})
        PutLE16(&Data[8 + PageByte], GetBE16(&Data[8 + PageByte]));
    return Result;
}

uint8_t ModeSenseWriteParameters(TScsiDrive& Drive,
                                 std::span<uint8_t, WriteParametersLength> Data) {
    return Drive.Execute(DataIn(Command({0x5A, ModeByte1(Drive, 0x08), 0x05}, 10), Data));
}

uint8_t ModeSelect(TScsiDrive& Drive, std::span<uint8_t> Data) {
    if (Data.size() >= 2) PutBE16(Data.data(), 0);
    TScsiCommand C = DataIn(Command({0x55, ModeByte1(Drive, 0x10)}, 10), Data);
    C.Direction = TScsiData::Out;
    C.ShowsControlError = true;
    return Drive.Execute(C);
}

uint8_t ReadDiscInformation(TScsiDrive& Drive, std::span<uint8_t, DiscInformationLength> Data,
                            uint32_t TimeoutSeconds) {
    TScsiCommand C = DataIn(Command({0x51}, 10), Data);
    C.TimeoutSeconds = TimeoutSeconds;
    return Drive.Execute(C);
}

uint8_t ReadTrackInformation(TScsiDrive& Drive, uint32_t Track,
                             std::span<uint8_t, TrackInformationLength> Data) {
    TScsiCommand C = DataIn(Command({0x52, 0x01}, 10), Data);
    PutBE32(&C.Cdb[2], Track);
    return Drive.Execute(C);
}

uint8_t ReadBufferCapacity(TScsiDrive& Drive, std::span<uint8_t, BufferCapacityLength> Data) {
    return Drive.Execute(DataIn(Command({0x5C}, 10), Data));
}

uint8_t Write10(TScsiDrive& Drive, uint32_t Address, uint16_t Blocks, std::span<uint8_t> Data) {
    TScsiCommand C = Command({0x2A}, 10);
    PutBE32(&C.Cdb[2], Address);
    PutBE16(&C.Cdb[7], Blocks);
    C.Direction = TScsiData::Out;
    C.Data = Data.first(std::min<size_t>(Data.size(), size_t(Blocks) * BlockBytes));
    C.ShowsControlError = true;
    return Drive.Execute(C);
}

uint8_t Read10(TScsiDrive& Drive, uint32_t Address, uint16_t Blocks, std::span<uint8_t> Data) {
    TScsiCommand C = Command({0x28}, 10);
    PutBE32(&C.Cdb[2], Address);
    PutBE16(&C.Cdb[7], Blocks);
    C.Direction = TScsiData::In;
    C.Data = Data.first(std::min<size_t>(Data.size(), size_t(Blocks) * BlockBytes));
    return Drive.Execute(C);
}

uint8_t SynchronizeCache(TScsiDrive& Drive, const TPollCallback& Poll) {
    return SendPolled(Drive, Command({0x35, 0x02}, 10), Poll, 120);
}

uint8_t CloseTrack(TScsiDrive& Drive, const TPollCallback& Poll) {
    TScsiCommand C = Command({0x5B, 0x01, 0x01, 0x00, 0x00, 0xFF}, 10);
    C.ShowsControlError = true;
    return SendPolled(Drive, C, Poll, 120);
}

uint8_t CloseSession(TScsiDrive& Drive, const TPollCallback& Poll) {
    TScsiCommand C = Command({0x5B, 0x01, 0x02}, 10);
    C.ShowsControlError = true;
    return SendPolled(Drive, C, Poll, 120);
}

uint8_t Blank(TScsiDrive& Drive, bool Full, const TPollCallback& Poll,
              uint32_t PollTimeoutSeconds) {
    TScsiCommand C = Command({0xA1, uint8_t(Full ? 0x10 : 0x11)}, 12);
    C.TimeoutSeconds = 2;
    return SendPolled(Drive, C, Poll, PollTimeoutSeconds);
}

uint8_t StartStopUnitEject(TScsiDrive& Drive) {
    return Drive.Execute(Command({0x1B, 0x01, 0x00, 0x00, 0x02}, 12));
}

void ApplyInquiry(TOpticalDevice& Device, std::span<const uint8_t, InquiryLength> Data) {
    Device.DeviceType = MapDeviceType(Data[0]);
    Device.TypeName = std::string(DeviceTypeNames[Device.DeviceType]);
    Device.Name = InquiryText(Data.subspan(16, 16)) + " (" + InquiryText(Data.subspan(8, 8)) + ")";
}

void ApplyCapabilities(TOpticalDevice& Device, std::span<const uint8_t, CapabilitiesLength> Data) {
    const uint8_t* Page = &Data[8];
    const auto Bit = [](uint8_t Byte, int n) { return (Byte >> n & 1) != 0; };
    Device.ReadsCdR = Bit(Page[2], 0);
    Device.ReadsCdRw = Bit(Page[2], 1);
    Device.ReadsMethod2 = Bit(Page[2], 2);
    Device.ReadsDvdRom = Bit(Page[2], 3);
    Device.ReadsDvdR = Bit(Page[2], 4);
    Device.ReadsDvdRam = Bit(Page[2], 5);
    Device.WritesCdR = Bit(Page[3], 0);
    Device.WritesCdRw = Bit(Page[3], 1);
    Device.TestWrite = Bit(Page[3], 2);
    Device.WritesDvdR = Bit(Page[3], 4);
    Device.WritesDvdRam = Bit(Page[3], 5);
    Device.MaxReadSpeed = GetLE16(&Page[8]) / 176;
    Device.MaxWriteSpeed = GetLE16(&Page[18]) / 176;
}

bool CheckDriveReady(TScsiDrive& Drive, const TOpticalDevice& Device, TDeviceStatus& Status) {
    uint8_t Result = TestUnitReady(Drive);
    if (Result != 0) {
        Status.ErrorStep = BurnStepNotReady;
        Status.ScsiResult = Result;
        return false;
    }
    if (Device.DeviceType != DeviceTypeCdRom) {
        Status.ErrorStep = BurnStepNotCdDevice;
        return false;
    }
    std::array<uint8_t, DiscInformationLength> Info{};
    Result = ReadDiscInformation(Drive, Info);
    if (Result != 0) {
        Status.ErrorStep = BurnStepScsiError;
        Status.ScsiResult = Result;
        return false;
    }
    Status.Erasable = Info[2] >> 4 & 1;
    Status.DiscState = Info[2] & 3;
    return true;
}

namespace {

constexpr uint32_t ChunkBytes = 20480;
constexpr size_t TransferBufferBytes = 22528;

bool RunBurn(TScsiDrive& Drive, TBurnError& Error, TStream& Source, TBurningIO& Observer,
             uint32_t* FirstBlock) {
    const auto Step = [&](uint8_t Code, uint8_t Result) {
        Error.Step = Code;
        Error.ScsiResult = Result;
        return Result == 0;
    };

    Observer.StageStarted(0, 0);
    std::array<uint8_t, WriteParametersLength> Page{};
    const uint8_t Sensed = ModeSenseWriteParameters(Drive, Page);
    Step(BurnStepGetWriteParameters, Sensed);
    // Some drives report an error yet return the page; its code is what counts.
    if (Sensed != 0 && (Page[8] & 0x0F) != 0x05) return false;

    Page[8 + 2] = 0x01; // track at once
    Page[8 + 3] = 0xC4; // next session allowed, data track recorded uninterrupted
    Page[8 + 4] = 0x08; // Mode 1, 2,048 user bytes
    Page[8 + 7] = 0x00;
    Page[8 + 8] = 0x00;
    Page[8 + 14] = Page[8 + 15] = 0x00;
    const size_t SelectLength = std::min<size_t>(size_t(Page[9]) + 10, Page.size());
    if (!Step(BurnStepSetWriteParameters, ModeSelect(Drive, std::span(Page).first(SelectLength))))
        return false;

    std::array<uint8_t, TrackInformationLength> Track{};
    if (!Step(BurnStepReadTrackInformation, ReadTrackInformation(Drive, 0xFF, Track))) return false;
    Step(BurnStepInvalidTrack, 0);
    const uint8_t TrackState = Track[6] >> 5; // reserved track, blank, packet
    if (TrackState != 2 && TrackState != 6) return false;

    Step(BurnStepFreeSpace, 0);
    const int64_t Start = Source.Position();
    const int64_t Total = std::max<int64_t>(Source.Size() - Start, 0);
    const uint64_t FreeBytes = uint64_t(GetBE32(&Track[24])) * BlockBytes;
    if (FreeBytes < uint64_t(Total / ChunkBytes + 1) * ChunkBytes) return false;
    uint32_t Address = GetBE32(&Track[12]);
    if (FirstBlock) *FirstBlock = Address;

    std::array<uint8_t, BufferCapacityLength> Capacity{};
    if (!Step(BurnStepBufferCapacity, ReadBufferCapacity(Drive, Capacity))) return false;
    const uint32_t BufferLength = GetBE32(&Capacity[4]);
    if (BufferLength < BlockBytes) return false;
    // Whole blocks only: a chunk that split a block would lose its tail.
    const uint32_t Chunk = std::min(ChunkBytes, BufferLength) / BlockBytes * BlockBytes;

    Observer.StageStarted(1, 0);
    std::vector<uint8_t> Transfer(TransferBufferBytes);
    int64_t Remaining = Total;
    while (Remaining > 0) {
        std::fill(Transfer.begin(), Transfer.end(), 0);
        const int64_t Count = std::min<int64_t>(Remaining, Chunk);
        // A source that cannot give its bytes would leave a damaged disc.
        if (Source.Read(Transfer.data(), Count) != Count) {
            Step(BurnStepWrite, 0);
            return false;
        }
        Remaining -= Count;

        if (!Step(BurnStepBufferCapacity, ReadBufferCapacity(Drive, Capacity))) return false;
        const uint32_t BlankLength = GetBE32(&Capacity[8]);

        // A short last piece goes out as a whole block, padded with zeros.
        const uint16_t Blocks = uint16_t((Count + BlockBytes - 1) / BlockBytes);
        if (!Step(BurnStepWrite, Write10(Drive, Address, Blocks, Transfer))) return false;
        Address += Blocks;
        Observer.Progress(0, double(Total - Remaining + 1) / double(Total + 1),
                          Fill(BufferLength, BlankLength));
    }

    uint8_t PollStage = 1;
    const TPollCallback Poll = [&] {
        std::array<uint8_t, BufferCapacityLength> Now{};
        if (ReadBufferCapacity(Drive, Now) != 0) return;
        const uint32_t Length = GetBE32(&Now[4]);
        if (Length >= BlockBytes) Observer.Progress(PollStage, 0.0, Fill(Length, GetBE32(&Now[8])));
    };
    Observer.StageStarted(2, 0);
    if (!Step(BurnStepSynchronizeCache, SynchronizeCache(Drive, Poll))) return false;
    Observer.StageStarted(3, 0);
    if (!Step(BurnStepCloseTrack, CloseTrack(Drive, Poll))) return false;
    Observer.StageStarted(4, 0);
    PollStage = 3;
    return Step(BurnStepCloseSession, CloseSession(Drive, Poll));
}

} // namespace

bool BurnSequence(TScsiDrive& Drive, TBurnError& Error, TStream& Source, TBurningIO& Observer,
                  uint32_t* FirstBlock) {
    try {
        return RunBurn(Drive, Error, Source, Observer, FirstBlock);
    } catch (const std::exception&) {
        // Only the source raises here (a stream that fails while read).
        Error.Step = BurnStepWrite;
        Error.ScsiResult = 0;
        return false;
    }
}

void TScsiOpticalDevice::Identify() {
    std::array<uint8_t, InquiryLength> Data{};
    if (auto Drive = OpenDrive()) Inquiry(*Drive, Data);
    InquirySummary = {Data[0], Data[1], Data[2], Data[3], Data[7]};
    Vendor = InquiryText(std::span(Data).subspan(8, 8));
    Product = InquiryText(std::span(Data).subspan(16, 16));
    ApplyInquiry(*this, Data);
    ReadCapabilities();
}

bool TScsiOpticalDevice::IsWriter() {
    ReadCapabilities();
    return WritesCdR || WritesCdRw;
}

uint8_t TScsiOpticalDevice::ReadCapabilities() {
    auto Drive = OpenDrive();
    if (!Drive) return 0;
    std::array<uint8_t, CapabilitiesLength> Buffer{};
    const uint8_t Result = ModeSenseCapabilities(*Drive, Buffer);
    if (Result == 0 || CapabilitiesOnFailure()) {
        Capabilities = Buffer;
        ApplyCapabilities(*this, Capabilities);
    }
    return Result;
}

uint8_t TScsiOpticalDevice::Erase(bool Full, TEraseCallback Callback, void* Argument) {
    auto Drive = OpenDrive();
    if (!Drive) return ScsiResultControlFailed;
    return Blank(
        *Drive, Full,
        [&] {
            if (Callback) Callback(Argument);
        },
        ErasePollTimeout());
}

bool TScsiOpticalDevice::CheckReady(TDeviceStatus& Status) {
    auto Drive = OpenDrive();
    if (!Drive) {
        Status.ErrorStep = BurnStepNotReady;
        return false;
    }
    return CheckDriveReady(*Drive, *this, Status);
}

bool TScsiOpticalDevice::Burn(TBurnError& Error, TStream& Source, TBurningIO* Observer) {
    auto Drive = OpenDrive();
    if (!Drive) {
        Error.Step = BurnStepNotReady;
        return false;
    }
    return BurnSequence(*Drive, Error, Source, Observer ? *Observer : DefaultObserver(),
                        &LastBurnStart);
}

uint8_t TScsiOpticalDevice::ReadBlocks(uint32_t Address, uint16_t Blocks, std::span<uint8_t> Data) {
    auto Drive = OpenDrive();
    if (!Drive) return ScsiResultControlFailed;
    return Read10(*Drive, Address, Blocks, Data);
}
