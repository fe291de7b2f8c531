#include "image/OpticalTargets.h"

#include <ctime>
#include <memory>
#include <span>

#include "base/UserInterface.h"
#include "image/CreationRun.h"
#include "image/DiscTarget.h"
#include "image/StickLayout.h"
#include "image/UefiBoot.h"
#include "optical/ISO9660.h"

namespace {

const char* const ProductTitle = "Corvane Purgex 2005";

// The disc's system: MS-DOS, or Rx-DOS by choice or by the user's answer.
bool PrepareDiscSystem(TCreationRun& Run, TDiscTarget& Target) {
    if (Run.DiscSystem == TDiscSystem::RxDos) {
        if (Target.PrepareRxDosImage()) return true;
        CoolMsgInfo(InstallationFailedText);
        return false;
    }
    if (Target.PrepareDiscImage()) return true;
    if (Run.DiscSystem == TDiscSystem::MsDos) {
        CoolMsgInfo(NoMsDosText);
        return false;
    }
    // A disc without its system would not boot: offer the embedded one.
    if (CoolMsgAsk(TQuestion::UseRxDos, std::string(NoMsDosText) + "\r" + UseRxDosQuestion, "Yes",
                   "No") == 2)
        return false;
    Run.DiscSystem = TDiscSystem::RxDos; // the user's answer holds for the discs after this one
    Target.DiscFloppy = std::make_unique<TVirtualFloppy>();
    if (Target.PrepareRxDosImage()) return true;
    CoolMsgInfo(InstallationFailedText);
    return false;
}

// The disc for both kinds of PC: the wiper's UEFI build, its parameters
// and the \PURGIT tree of the composed floppy, in the UEFI entry's FAT
// image and in the disc's own volume.
bool MakeIsoForBothFirmwares(TVirtualFloppy& Composed, const std::string& CommandLine,
                             TStream& Floppy, TMemoryStream& Iso) {
    const auto Wiper = EmbeddedUefiWiper();
    if (!Wiper) {
        CoolMsgInfo(NoUefiWiperText);
        return false;
    }
    std::vector<TStickFile> Files = UefiStartFiles(*Wiper, CommandLine);
    for (TStickFile& File : WiperTree(FloppyFiles(Composed)))
        Files.push_back(std::move(File));
    std::string Problem;
    auto Fat = MakeFatImage(Files, Problem);
    if (!Fat) {
        CoolMsgInfo(std::string(InstallationFailedText) + "\r" + Problem);
        return false;
    }
    TUefiBootPart Part;
    Part.FatImage = std::move(*Fat);
    Part.VolumeId = "PURGIT";
    Part.Seconds = SourceDateEpoch().value_or(int64_t(std::time(nullptr)));
    for (TStickFile& File : Files)
        Part.Files.push_back({File.Path, File.Folder, std::move(File.Data)});
    return MakeDualBootIso(Floppy, Iso, ProductTitle, Part);
}

} // namespace

bool TOpticalTarget::ComposeIso(TCreationRun& Run, TMemoryStream& Iso) {
    TDiscTarget Target;
    ProcessMessages();
    if (!PrepareDiscSystem(Run, Target)) return false;

    const TWiperOptions Options = Run.Front.CheckedOptions();
    const std::string Choices = OptionString(Options);
    ProcessMessages();
    if (!Target.ComposeDiscFiles(!Options[DisableMouseOption], Choices, Run.Front.CommandLine())) {
        CoolMsgInfo(InstallationFailedText); // a disc without the wiper is of no use
        return false;
    }

    const auto& Image = Target.DiscFloppy->Image;
    if (Image.size() < size_t(FloppyImageSize)) return false;
    TReadOnlyStream Floppy(std::span<const uint8_t>(Image.data(), size_t(FloppyImageSize)));
    if (Run.UefiEntry
            ? !MakeIsoForBothFirmwares(*Target.DiscFloppy, Run.Front.CommandLine(), Floppy, Iso)
            : !MakeBootableIso(Floppy, Iso, ProductTitle))
        return false;
    ProcessMessages();
    return true;
}

bool TOpticalTarget::Blank() {
    if (Status.DiscState == 0) return true;
    CoolMsgInfo(DiscNotBlankText);
    return false;
}

bool TOpticalTarget::Burn(TCreationRun& Run, TMemoryStream& Iso) {
    if (Run.ImageBuilt) Run.ImageBuilt(Iso);
    Iso.SetPosition(0);
    TBurnError Error;
    if (!Device.Burn(Error, Iso, &Run.BurnObserver)) {
        CoolMsgInfo(std::string(WriteErrorPrefix) + std::string(BurnMessage(Error.Step)));
        return false;
    }
    Run.SetRunProgress(1);
    return true;
}

TMediumPrompt TDiscWriterTarget::MediumPrompt() const {
    return {"Please insert a blank CD/DVD in writer.\r(" + Device.Name + ")"};
}

bool TDiscWriterTarget::Ready() {
    if (!Device.CheckReady(Status)) {
        CoolMsgInfo(DeviceNotReadyText);
        return false;
    }
    return Blank();
}

bool TDiscWriterTarget::MakeMedium(TCreationRun& Run) {
    TMemoryStream Iso;
    return ComposeIso(Run, Iso) && Ready() && Burn(Run, Iso);
}

TMediumPrompt TImageFileTarget::MediumPrompt() const {
    return {"Please select the location for the image file"};
}

bool TImageFileTarget::Ready() {
    return Device.CheckReady(Status) && Blank();
}

bool TImageFileTarget::MakeMedium(TCreationRun& Run) {
    if (!Ready()) return false;
    TMemoryStream Iso;
    return ComposeIso(Run, Iso) && Burn(Run, Iso);
}
