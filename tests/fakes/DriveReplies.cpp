#include "fakes/DriveReplies.h"

#include <algorithm>
#include <vector>

#include "base/UserInterface.h"
#include "fakes/SimulatedWriter.h"
#include "optical/Optical_devices.h"

namespace {

// Whatever the replies make the transports show, every box ends at once.
class TClosedBoxes : public TUserInterface {
public:
    void MsgInfo(const std::string&) override {}
    int MsgRetryAbort(const std::string&) override { return 3; }
    int MsgAsk(TQuestion, const std::string&, const std::string&, const std::string&) override {
        return 1;
    }
    std::optional<std::string> ChooseSaveFile(const std::string&, const std::string&,
                                              const std::string&) override {
        return std::nullopt;
    }
    std::optional<std::string> PickSystemFolder() override { return std::nullopt; }
};

} // namespace

TDriveRepliesOutcome RunDriveReplies(const uint8_t* Bytes, size_t Size) {
    TDriveRepliesOutcome Outcome;
    if (Size == 0) return Outcome;
    const uint8_t Choice = Bytes[0];
    size_t Next = 1;

    TWriterPlatform Machine;
    TClosedBoxes Answers;
    const TUserInterfaceScope Ui(Answers);
    TSimulatedWriter Writer;
    Writer.PendingPolls = Choice >> 1 & 3;
    Machine.AddDrive('E', Writer);
    Machine.HasAspi = Choice & 1;
    Machine.Aspi.CompleteAtOnce = Choice & 8;
    Machine.Aspi.Devices.push_back({0, 0, 0, &Writer});
    // Each reply takes the next input bytes over its own.
    // Unless the first byte says otherwise, the drive stays a CD writer, so
    // that the garbled replies reach the burn.
    Writer.ReplyOverride = [&](uint8_t Opcode, std::span<uint8_t> Reply) {
        const size_t Count = std::min(Reply.size(), Size - Next);
        std::copy_n(Bytes + Next, Count, Reply.begin());
        Next += Count;
        if (Opcode == 0x12 && !(Choice & 0x10) && !Reply.empty()) Reply[0] = 5;
        if (Opcode == 0x5A && !(Choice & 0x20) && Reply.size() > 11 && Reply[10] == 0x2A)
            Reply[11] |= 1;
    };

    TOpticalDevices Discovery;
    for (int i = 0; i < Discovery.Count(); ++i) {
        TOpticalDevice& Device = *Discovery.Devices[size_t(i)];
        Device.IsWriter();
        TDeviceStatus Status;
        Device.CheckReady(Status);
        std::vector<uint8_t> Image(16 * 2048 + 100, 0xA5);
        TMemoryStream Source(Image);
        TBurnError Error;
        Writer.Blocks.clear();
        ++Outcome.Burns;
        const bool Burned = Device.Burn(Error, Source, nullptr);
        if (auto* Scsi = dynamic_cast<TScsiOpticalDevice*>(&Device)) {
            if (Burned) {
                ++Outcome.Succeeded;
                Image.resize(17 * 2048); // the last block padded with zeros
                if (Writer.Recorded(Scsi->LastBurnStart, 17) != Image) ++Outcome.FalseSuccesses;
            }
            std::vector<uint8_t> Back(4 * 2048);
            Scsi->ReadBlocks(Scsi->LastBurnStart, 4, Back);
        }
        Device.Erase(false, nullptr, nullptr);
    }
    return Outcome;
}
