#include "image/CreationRun.h"

#include <cctype>
#include <cmath>
#include <memory>
#include <stdexcept>

#include "base/UserInterface.h"
#include "image/Composer.h"
#include "image/ExeData.h"
#include "image/FloppyTarget.h"
#include "optical/ISO9660.h"
#include "platform/Platform.h"
#include "optical/ImageRecorder.h"

const char* const InstallationFailedText = "The installation cannot be completed.";
const char* const DeviceNotReadyText = "The device is not ready. Try again...";
const char* const DiscNotBlankText =
    "The disc in the drive is not blank. Please Insert a blank CD and try again.";
const char* const WriteErrorPrefix = "Error in writing process : ";
const char* const NoMsDosText = "Cannot find Ms-Dos system files.";
const char* const UseRxDosQuestion = "Do you want to use Rx-Dos for this disc?";

namespace {
const char* const ProductTitle = "Corvane Purgex 2005";
}

void TDSKburningIO::Progress(uint8_t Stage, double Done, double BufferFill) {
    ProcessMessages();
    switch (Stage) {
    case 0:
        Run.SetRunProgress(0.4 * Done);
        break;
    case 1:
    case 2:
        Run.SetRunProgress(0.5 + 0.4 * (1 - BufferFill));
        break;
    default:
        break;
    }
}

void TCreationRun::SetRunProgress(double Fraction) {
    if (MediaTotal > 0) {
        const double Value =
            100.0 * Fraction / MediaTotal + double(100 * int64_t(MediaDone)) / MediaTotal;
        Front.SetGauge(int(std::nearbyint(Value))); // halves to even
    }
    ProcessMessages();
}

// The prompt before a medium; false when the user stops the run.
bool TCreationRun::AskForMedium(const std::string& Prompt) {
    if (CoolMsgAsk(Prompt, "OK", "Cancel") != 2) return true;
    return CoolMsgAsk("Do you want to stop the process ?", "Yes", "No") != 1;
}

void TCreationRun::CreateMedia() {
    Front.SetGauge(0);
    MediaTotal = 0;
    for (int Row = 0; Row < Front.RowCount(); ++Row) MediaTotal += Front.RowQuantity(Row);
    MediaDone = 0;

    for (int Row = 0; Row < Front.RowCount(); ++Row) {
        TOpticalDevice* Device = Front.RowDevice(Row);
        const int Quantity = Front.RowQuantity(Row);
        for (int Copy = 0; Copy < Quantity; ++Copy) {
            for (;;) {
                std::string Prompt;
                if (dynamic_cast<TimageRecorder*>(Device))
                    Prompt = "Please select the location for the image file";
                else if (Device)
                    Prompt = "Please insert a blank CD/DVD in writer.\r(" + Device->Name + ")";
                else
                    Prompt = "Please insert a floppy disk in drive A:";
                if (!AskForMedium(Prompt)) return;
                if (Device ? CreateDisc(*Device) : CreateFloppy()) break;
            }
            ++MediaDone;
        }
    }
}

void WriteStartupLine(TStream& File, const std::string& Text) {
    std::string Line = Text + "\r\n";
    if (Line.size() > 255) Line.resize(255);
    File.WriteBuffer(Line.data(), int64_t(Line.size()));
}

bool WriteFloppyAutoexec(char DriveLetter, const std::string& CommandLine, bool WithMouse) {
    try {
        const auto File = Platform().CreateFileWrite(std::string(1, DriveLetter) + ":\\Autoexec.bat");
        if (!File) return false;
        std::vector<std::string> Lines = StartupBatchLines(WithMouse, CommandLine);
        if (Lines.back().size() > 255) Lines.back().resize(255);
        for (const std::string& Line : Lines) WriteStartupLine(*File, Line);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

std::string FloppyIniPath() {
    if (DiskStore)
        for (const auto& Item : DiskStore->Items) {
            std::string Name = Item->ItemName;
            for (char& c : Name) c = char(std::toupper(static_cast<unsigned char>(c)));
            if (Name.find("PURGIT.INI") != std::string::npos) return Item->ItemName;
        }
    return "Purgit\\Data\\Purgit.ini";
}

bool WriteFloppyIni(char DriveLetter, const std::string& Options) {
    try {
        const auto File =
            Platform().CreateFileWrite(std::string(1, DriveLetter) + ":\\" + FloppyIniPath());
        if (!File) return false;
        for (const std::string& Line : WiperIniLines(Options)) WriteStartupLine(*File, Line);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// The composer's MS-DOS base written as the boot part.
static bool WriteComposedMsDos(char DriveLetter) {
    const auto Floppy = std::make_unique<TVirtualFloppy>();
    if (!CdStore || !PlaceMsDosSystem(*Floppy, *CdStore)) {
        CoolMsgInfo(NoMsDosText);
        return false;
    }
    TReadOnlyStream Image(std::span<const uint8_t>(Floppy->Image.data(), Floppy->Image.size()));
    try {
        FloppyDirectDisk().SetDriveName(DriveLetter);
        return WriteFloppyBootImage(DriveLetter, Image);
    } catch (const std::exception&) {
        return false;
    }
}

bool TCreationRun::CreateFloppy() {
    struct TUnhook {
        ~TUnhook() { FloppyProgressHook = nullptr; }
    } Unhook;
    FloppyProgressHook = [this](double f) { FloppyFirstHalf(f); };
    const bool MsDos = Front.FloppyUsesMsDos();
    const bool Boot = MsDos && FloppyMsDosFromComposer ? WriteComposedMsDos(FloppyDrive)
                                                       : WriteFloppyBoot(FloppyDrive, MsDos);
    if (!Boot) {
        CoolMsgInfo(InstallationFailedText);
        return false;
    }
    FloppyProgressHook = [this](double f) { FloppySecondHalf(f); };
    if (!CopyStoreFiles(FloppyDrive)) {
        CoolMsgInfo(InstallationFailedText);
        return false;
    }
    const TWiperOptions Options = Front.CheckedOptions();
    if (!WriteFloppyAutoexec(FloppyDrive, Front.CommandLine(), !Options[DisableMouseOption]) ||
        !WriteFloppyIni(FloppyDrive, OptionString(Options))) {
        CoolMsgInfo(InstallationFailedText);
        return false;
    }
    if (FloppyWritten && !FloppyWritten()) return false;
    SetRunProgress(1);
    return true;
}

// The disc's system: MS-DOS, or Rx-DOS by choice or by the user's answer.
bool TCreationRun::PrepareDiscSystem(TDiscTarget& Target) {
    if (DiscSystem == TDiscSystem::RxDos) {
        if (Target.PrepareRxDosImage()) return true;
        CoolMsgInfo(InstallationFailedText);
        return false;
    }
    if (Target.PrepareDiscImage()) return true;
    if (DiscSystem == TDiscSystem::MsDos) {
        CoolMsgInfo(NoMsDosText);
        return false;
    }
    // A disc without its system would not boot: offer the embedded one.
    if (CoolMsgAsk(std::string(NoMsDosText) + "\r" + UseRxDosQuestion, "Yes", "No") == 2)
        return false;
    DiscSystem = TDiscSystem::RxDos; // the user's answer holds for the discs after this one
    Target.DiscFloppy = std::make_unique<TVirtualFloppy>();
    if (Target.PrepareRxDosImage()) return true;
    CoolMsgInfo(InstallationFailedText);
    return false;
}

bool TCreationRun::CreateDisc(TOpticalDevice& Device) {
    const bool IsRecorder = dynamic_cast<TimageRecorder*>(&Device) != nullptr;
    TDeviceStatus Status;
    if (IsRecorder && !Device.CheckReady(Status)) return false;

    TDiscTarget Target;
    ProcessMessages();
    if (!PrepareDiscSystem(Target)) return false;

    const TWiperOptions Options = Front.CheckedOptions();
    const std::string Choices = OptionString(Options);
    ProcessMessages();
    if (!Target.ComposeDiscFiles(!Options[DisableMouseOption], Choices, Front.CommandLine())) {
        CoolMsgInfo(InstallationFailedText); // a disc without the wiper is of no use
        return false;
    }

    TMemoryStream Iso;
    {
        const auto& Image = Target.DiscFloppy->Image;
        if (Image.size() < size_t(FloppyImageSize)) return false;
        TReadOnlyStream Floppy(std::span<const uint8_t>(Image.data(), size_t(FloppyImageSize)));
        if (!MakeBootableIso(Floppy, Iso, ProductTitle)) return false;
    }
    ProcessMessages();

    if (!IsRecorder && !Device.CheckReady(Status)) {
        CoolMsgInfo(DeviceNotReadyText);
        return false;
    }
    if (Status.DiscState != 0) {
        CoolMsgInfo(DiscNotBlankText);
        return false;
    }

    if (ImageBuilt) ImageBuilt(Iso);
    Iso.SetPosition(0);
    TBurnError Error;
    if (!Device.Burn(Error, Iso, &BurnObserver)) {
        CoolMsgInfo(std::string(WriteErrorPrefix) + std::string(BurnMessage(Error.Step)));
        return false;
    }
    SetRunProgress(1);
    return true;
}
