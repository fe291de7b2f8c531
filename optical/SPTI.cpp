#include "optical/SPTI.h"

#include <algorithm>

#include "base/ByteOrder.h"
#include "base/UserInterface.h"

std::string SptiDevicePath(char Letter) {
    return std::string("\\\\.\\") + Letter + ":";
}

namespace {

TBurningIO SptiDefaultBurningIO;

// The system's text for the last error, in a plain system box.
void ShowLastError() {
    SystemMsgInfo(Platform().ErrorText(Platform().LastError()));
}

void FillHeader(uint8_t* Request, const TScsiCommand& Command, bool DataIn, uint32_t Length,
                uint32_t Timeout) {
    PutLE16(&Request[0], uint16_t(SptiHeaderBytes));
    Request[6] = Command.CdbLength;
    Request[7] = uint8_t(SptiSenseBytes);
    Request[8] = DataIn ? 1 : 0;
    PutLE32(&Request[12], Length);
    PutLE32(&Request[16], Timeout);
    PutLE32(&Request[24], uint32_t(SptiHeaderBytes));
    std::copy_n(Command.Cdb.begin(), Command.CdbLength, &Request[28]);
}

} // namespace

uint8_t TSptiDrive::Execute(const TScsiCommand& Command) {
    uint32_t Returned = 0;
    // Data sent, or more data read than the buffered request holds (blocks
    // read back), goes in the direct request, to or from the caller's buffer.
    if (Command.Direction == TScsiData::Out || Command.Data.size() > SptiDataBytes) {
        std::array<uint8_t, SptiDirectBytes> Request{};
        FillHeader(Request.data(), Command, Command.Direction == TScsiData::In,
                   uint32_t(Command.Data.size()), 120);
        PutLE32(&Request[20], uint32_t(reinterpret_cast<uintptr_t>(Command.Data.data())));
        if (!Handle->ControlDirect(IoctlScsiPassThroughDirect, Request, Request, Command.Data,
                                   Returned)) {
            if (Command.ShowsControlError) ShowLastError();
            return ScsiResultControlFailed;
        }
        return ScsiResultOf(Request[2], 0, 0);
    }

    std::fill(Command.Data.begin(), Command.Data.end(), 0);
    std::vector<uint8_t> Request(SptiBufferedBytes);
    FillHeader(Request.data(), Command, true, uint32_t(SptiDataBytes), Command.TimeoutSeconds);
    PutLE32(&Request[20], uint32_t(SptiDataOffset));
    if (!Handle->Control(IoctlScsiPassThrough, std::span(Request).first(SptiHeaderBytes), Request,
                         Returned)) {
        if (Command.ShowsControlError) ShowLastError();
        return ScsiResultControlFailed;
    }
    std::copy_n(&Request[SptiDataOffset], std::min(Command.Data.size(), SptiDataBytes),
                Command.Data.begin());
    return ScsiResultOf(Request[2], 0, 0);
}

TSPTIdevice::TSPTIdevice(char Letter) {
    DriveLetter = Letter;
    Identify();
}

std::unique_ptr<TScsiDrive> TSPTIdevice::OpenDrive() {
    TDeviceAccess Access;
    Access.Read = Access.Write = true;
    auto Handle = Platform().OpenDevice(SptiDevicePath(DriveLetter), Access);
    if (!Handle) return nullptr;
    // A system that takes commands as they are (Linux SG_IO) opens a handle
    // that is the drive itself; the pass-through request is Windows' alone.
    if (auto* Drive = dynamic_cast<TScsiDrive*>(Handle.get())) {
        Handle.release();
        return std::unique_ptr<TScsiDrive>(Drive);
    }
    return std::make_unique<TSptiDrive>(std::move(Handle));
}

TBurningIO& TSPTIdevice::DefaultObserver() {
    return SptiDefaultBurningIO;
}

uint8_t TSPTIdevice::Eject() {
    TDeviceAccess Access; // read access only
    auto Handle = Platform().OpenDevice(SptiDevicePath(DriveLetter), Access);
    if (!Handle) return 10;
    uint32_t Returned = 0;
    const uint8_t Allow[1] = {0};
    Handle->Control(IoctlStorageMediaRemoval, Allow, {}, Returned);
    return Handle->Control(IoctlStorageEjectMedia, {}, {}, Returned) ? 0 : 10;
}

TSPTIdevices::TSPTIdevices() {
    if (Platform().Version().PlatformId != 2) return;
    const uint32_t Mask = Platform().LogicalDrives();
    for (int Bit = 0; Bit < 26; ++Bit) {
        if (!(Mask >> Bit & 1)) continue;
        const char Letter = char('A' + Bit);
        const auto Targets = Platform().DosDeviceTargets(std::string(1, Letter) + ":");
        // QueryDosDevice's first name, up to its first NUL, within 255 characters.
        std::string First = Targets.empty() ? std::string() : Targets.front().substr(0, 255);
        First = First.substr(0, First.find('\0'));
        if (!First.empty()) Devices.push_back(std::make_unique<TSPTIdevice>(Letter));
    }
}
