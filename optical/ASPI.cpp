#include "optical/ASPI.h"

#include <algorithm>

#include "base/ByteOrder.h"
#include "platform/Platform.h"

namespace {

TBurningIO AspiDefaultBurningIO;

// Blocks of aborted requests stay alive: the library may still write to them.
std::vector<std::unique_ptr<std::array<uint8_t, AspiExecuteBytes>>> AbortedBlocks;

uint32_t Address32(const void* p) {
    return uint32_t(reinterpret_cast<uintptr_t>(p));
}

} // namespace

void TASPIinfo::Refresh() {
    Raw = Platform().AspiLibrary().GetASPI32SupportInfo();
    Available = (Raw >> 8 & 0xFF) == 1;
    AdapterCount = Available ? uint8_t(Raw) : 0;
}

uint8_t TAspiDrive::Execute(const TScsiCommand& Command) {
    TAspiLibrary& Library = Platform().AspiLibrary();
    const auto Event = Platform().CreateManualEvent();
    Event->Reset();

    auto Block = std::make_unique<std::array<uint8_t, AspiExecuteBytes>>();
    uint8_t* b = Block->data();
    std::fill_n(b, AspiExecuteBytes, 0);
    b[0] = AspiCommandExecute;
    b[2] = uint8_t(Address);
    b[3] = Command.Direction == TScsiData::In    ? 0x48
           : Command.Direction == TScsiData::Out ? 0x50
                                                 : 0x40;
    b[8] = uint8_t(Address >> 8);
    b[9] = uint8_t(Address >> 16);
    const bool HasData = Command.Direction != TScsiData::None;
    PutLE32(&b[12], HasData ? uint32_t(Command.Data.size()) : 0);
    PutLE32(&b[16], HasData ? Address32(Command.Data.data()) : 0);
    b[20] = 14;
    b[21] = Command.CdbLength;
    PutLE32(&b[24], Event->Handle());
    std::copy_n(Command.Cdb.begin(), Command.CdbLength, &b[48]);

    const std::span<uint8_t> Data = HasData ? Command.Data : std::span<uint8_t>();
    if (Library.SendASPI32Command(*Block, Data) == AspiStatusPending) {
        if (!Event->Wait(Command.Immediate ? TEvent::Infinite : AspiWaitMilliseconds)) {
            std::array<uint8_t, AspiAbortBytes> Abort{};
            Abort[0] = AspiCommandAbort;
            Abort[2] = uint8_t(Address);
            PutLE32(&Abort[8], Address32(b));
            Library.SendASPI32Command(Abort, {});
            AbortedBlocks.push_back(std::move(Block));
            return ScsiResultTimedOut;
        }
        if (Command.Immediate) Event->Reset();
    }
    return ScsiResultOf(b[1], b[22], b[23]);
}

TASPIdevice::TASPIdevice(uint8_t Adapter, uint8_t Target, uint8_t Lun,
                         const std::array<uint8_t, AspiInquiryBytes>& AdapterInquiry,
                         const std::array<uint8_t, AspiDeviceTypeBytes>& DeviceTypeBlock)
    : Adapter(Adapter), Target(Target), Lun(Lun), AdapterInquiry(AdapterInquiry),
      DeviceTypeBlock(DeviceTypeBlock) {
    DriveLetter = ' ';
    Identify();
}

std::unique_ptr<TScsiDrive> TASPIdevice::OpenDrive() {
    return std::make_unique<TAspiDrive>(Address());
}

TBurningIO& TASPIdevice::DefaultObserver() {
    return AspiDefaultBurningIO;
}

uint8_t TASPIdevice::Eject() {
    TAspiDrive Drive(Address());
    return StartStopUnitEject(Drive);
}

TASPIdevices::TASPIdevices() {
    Info.Refresh();
    TAspiLibrary& Library = Platform().AspiLibrary();
    for (uint8_t Adapter = 0; Adapter < Info.AdapterCount; ++Adapter) {
        std::array<uint8_t, AspiInquiryBytes> Inquiry{};
        Inquiry[0] = AspiCommandInquiry;
        Inquiry[2] = Adapter;
        if (ScsiResultOf(uint8_t(Library.SendASPI32Command(Inquiry, {})), 0, 0) != 0) continue;
        const int Targets = Inquiry[45] == 0 ? 8 : Inquiry[45];
        for (int Target = 0; Target < Targets; ++Target)
            for (uint8_t Lun = 0; Lun < 8; ++Lun) {
                std::array<uint8_t, AspiDeviceTypeBytes> Type{};
                Type[0] = AspiCommandDeviceType;
                Type[2] = Adapter;
                Type[8] = uint8_t(Target);
                Type[9] = Lun;
                if (ScsiResultOf(uint8_t(Library.SendASPI32Command(Type, {})), 0, 0) != 0) continue;
                Devices.push_back(
                    std::make_unique<TASPIdevice>(Adapter, uint8_t(Target), Lun, Inquiry, Type));
            }
    }
}
