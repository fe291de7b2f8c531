#include "image/StickTarget.h"

#include <cstdio>
#include <random>

#include "base/UserInterface.h"
#include "image/CreationRun.h"
#include "image/DiscTarget.h"
#include "image/WiperOptions.h"

const char* const StickOnlyRxDosText =
    "USB flash drives start the embedded Rx-DOS: MS-DOS is not offered on them.";

std::string StickSizeText(uint64_t Bytes) {
    char Text[32];
    if (Bytes >= 1000000000ull)
        std::snprintf(Text, sizeof Text, "%.1f GB", double(Bytes) / 1e9);
    else
        std::snprintf(Text, sizeof Text, "%llu MB", static_cast<unsigned long long>(Bytes / 1000000));
    return Text;
}

std::string StickDescription(const TStickDevice& Device) {
    std::string Name = Device.Vendor;
    if (!Device.Model.empty()) Name += (Name.empty() ? "" : " ") + Device.Model;
    if (Device.ImageFile) Name = "image file";
    return Device.Node + ": " + (Name.empty() ? "disk" : Name) + ", " + StickSizeText(Device.Bytes);
}

std::string StickRefusal(const TStickDevice& Device, bool AnyDisk) {
    if (Device.ImageFile) return {};
    if (Device.SystemDisk) return Device.Node + " holds the running system";
    // A drive letter is a Windows volume, which opening the disk locks and
    // dismounts; a mount point has to be unmounted by the user.
    std::string Points;
    for (const std::string& Point : Device.MountPoints)
        if (!(Point.size() == 2 && Point[1] == ':')) Points += (Points.empty() ? "" : ", ") + Point;
    if (!Points.empty())
        return Device.Node + " has mounted file systems (" + Points + "); unmount them first";
    if (Device.ReadOnly) return Device.Node + " is read-only (is its lock switch on?)";
    if (!AnyDisk && !Device.Removable && !Device.Usb)
        return Device.Node + " is neither removable nor attached through USB";
    return {};
}

bool EmbeddedStickBootCode(TStickBootCode& Code) {
    const auto Mbr = Platform().OwnResource("STICKBOOT", "MBR");
    const auto Fat16 = Platform().OwnResource("STICKBOOT", "FAT16");
    const auto Fat32 = Platform().OwnResource("STICKBOOT", "FAT32");
    if (!Mbr || !Fat16 || !Fat32 || Mbr->size() != 440 || Fat16->size() != 512 ||
        Fat32->size() != 1024)
        return false;
    Code = {*Mbr, *Fat16, *Fat32};
    return true;
}

namespace {

// A new disk signature and volume serial for every stick, so systems that
// saw another stick of this kind tell them apart.
uint32_t FreshNumber() {
    static std::mt19937 Generator{std::random_device{}() ^ uint32_t(Platform().TickCount())};
    return uint32_t(Generator());
}

} // namespace

TMediumPrompt TUsbStickTarget::MediumPrompt() const {
    if (Device.ImageFile) return {"The USB flash drive image will be written.\r(" + Device.Node + ")"};
    return {"Please insert the USB flash drive. Everything on it will be erased.\r(" +
            StickDescription(Device) + ")"};
}

bool TUsbStickTarget::Ready() {
    if (Device.ImageFile) return true;
    std::string Problem;
    const auto Now = Platform().DescribeStick(Device.Node, Problem);
    if (!Now) {
        CoolMsgInfo(DeviceNotReadyText);
        return false;
    }
    Device = *Now; // another stick may be in the slot now
    return true;
}

bool TUsbStickTarget::MakeMedium(TCreationRun& Run) {
    if (!Ready()) return false;
    if (const std::string Refusal = StickRefusal(Device, AnyDisk); !Refusal.empty()) {
        CoolMsgInfo(std::string(WriteErrorPrefix) + Refusal);
        return false;
    }

    TDiscTarget Composed;
    TStickBootCode Code;
    const TWiperOptions Options = Run.Front.CheckedOptions();
    ProcessMessages();
    if (!EmbeddedStickBootCode(Code) || !Composed.PrepareRxDosImage() ||
        !Composed.ComposeDiscFiles(!Options[DisableMouseOption], OptionString(Options),
                                   Run.Front.CommandLine())) {
        CoolMsgInfo(InstallationFailedText);
        return false;
    }

    std::string Problem;
    const auto Disk = Device.ImageFile
                          ? Platform().OpenDiskImage(Device.Node, CreateBytes, Problem)
                          : Platform().OpenStick(Device, AnyDisk, Problem);
    if (!Disk) {
        CoolMsgInfo(std::string(WriteErrorPrefix) + Problem);
        return false;
    }
    const auto Layout = LayOutStick(Disk->Bytes(), FloppyFiles(*Composed.DiscFloppy), Code,
                                    FreshNumber(), FreshNumber(), Problem);
    if (!Layout) {
        CoolMsgInfo(std::string(WriteErrorPrefix) + Device.Node + ": " + Problem);
        return false;
    }
    const auto Progress = [&](double Done) {
        Run.SetRunProgress(Done);
        ProcessMessages();
    };
    if (!WriteStickLayout(*Disk, *Layout, Verify, Progress, Problem)) {
        CoolMsgInfo(std::string(WriteErrorPrefix) + Device.Node + ": " + Problem);
        return false;
    }
    BytesWritten = Layout->BytesWritten();
    Fat32 = Layout->Fat32;
    Run.SetRunProgress(1);
    return true;
}
