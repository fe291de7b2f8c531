#include "image/StickTarget.h"

#include <random>

#include "base/UserInterface.h"
#include "image/CreationRun.h"
#include "image/DiscTarget.h"
#include "image/UefiBoot.h"
#include "image/WiperOptions.h"

const char* const StickOnlyRxDosText =
    "USB flash drives start the embedded Rx-DOS: MS-DOS is not offered on them.";

std::string StickDescription(const TStickDevice& Device) {
    // A Windows stick is known to its user by its drive letter.
    const bool Letter = VolumesLockedForWrite(Device) && !Device.MountPoints.empty();
    return (Letter ? Device.MountPoints.front() + " " : Device.Node + ": ") +
           (Device.ImageFile ? "image file" : StickName(Device)) + ", " +
           StickSizeText(Device.Bytes);
}

std::string StickProblem(const TStickDevice& Device, bool AnyDisk) {
    const std::string Refusal = StickRefusal(Device, AnyDisk, !VolumesLockedForWrite(Device));
    return Refusal.empty() ? Refusal : Device.Node + " " + Refusal;
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
    if (Device.ImageFile)
        return {"The USB flash drive image will be written.\r(" + Device.Node + ")"};
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
    if (const std::string Refusal = StickProblem(Device, AnyDisk); !Refusal.empty()) {
        CoolMsgInfo(std::string(WriteErrorPrefix) + Refusal);
        return false;
    }

    TDiscTarget Composed;
    TStickBootCode Code;
    const TWiperOptions Options = Run.Front.CheckedOptions();
    ProcessMessages();
    const auto Wiper = EmbeddedUefiWiper();
    if (!Wiper) {
        CoolMsgInfo(NoUefiWiperText);
        return false;
    }
    if (!EmbeddedStickBootCode(Code) || !Composed.PrepareRxDosImage() ||
        !Composed.ComposeDiscFiles(!Options[DisableMouseOption], OptionString(Options),
                                   Run.Front.CommandLine())) {
        CoolMsgInfo(InstallationFailedText);
        return false;
    }

    std::string Problem;
    const auto Disk = Device.ImageFile ? Platform().OpenDiskImage(Device.Node, CreateBytes, Problem)
                                       : Platform().OpenStick(Device, AnyDisk, Problem);
    if (!Disk) {
        CoolMsgInfo(std::string(WriteErrorPrefix) + Problem);
        return false;
    }
    // One stick starts on BIOS and on UEFI PCs.
    std::vector<TStickFile> Files = FloppyFiles(*Composed.DiscFloppy);
    for (TStickFile& File : UefiStartFiles(*Wiper, Run.Front.CommandLine()))
        Files.push_back(std::move(File));
    const auto Layout =
        LayOutStick(Disk->Bytes(), Files, Code, FreshNumber(), FreshNumber(), Problem);
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
