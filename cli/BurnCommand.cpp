#include "cli/BurnCommand.h"

#include <algorithm>
#include <cctype>
#include <iomanip>
#include <iostream>
#include <vector>

#include "cli/ConsoleUserInterface.h"
#include "cli/Terminal.h"
#include "image/CreationRun.h"
#include "image/ExeData.h"
#include "image/OpticalTargets.h"
#include "optical/Optical_devices.h"
#include "platform/Platform.h"
#include "platform/StickChecks.h"

namespace {

constexpr uint32_t ErrorFileNotFound = 2, ErrorAccessDenied = 5;

std::string Capabilities(const TOpticalDevice& D, bool Write) {
    std::string Text;
    const auto Add = [&](bool Has, const char* Name) {
        if (Has) Text += (Text.empty() ? "" : ",") + std::string(Name);
    };
    if (Write) {
        Add(D.WritesCdR, "CD-R");
        Add(D.WritesCdRw, "CD-RW");
        Add(D.WritesDvdR, "DVD-R");
        Add(D.WritesDvdRam, "DVD-RAM");
        Add(D.TestWrite, "test");
    } else {
        Add(D.ReadsCdR, "CD-R");
        Add(D.ReadsCdRw, "CD-RW");
        Add(D.ReadsDvdRom, "DVD-ROM");
        Add(D.ReadsDvdR, "DVD-R");
        Add(D.ReadsDvdRam, "DVD-RAM");
    }
    return Text.empty() ? "-" : Text;
}

// The chosen transport's whole list, in discovery order.
std::vector<TScsiOpticalDevice*> Listed(TOpticalDevices& Discovery) {
    std::vector<TScsiOpticalDevice*> All;
    if (Discovery.Transport == TransportAspi)
        for (auto& D : Discovery.Aspi->Devices)
            All.push_back(D.get());
    else
        for (auto& D : Discovery.Spti->Devices)
            All.push_back(D.get());
    return All;
}

std::string DriveText(const TOpticalDevice& D) {
    if (D.DriveLetter != ' ') return std::string(1, D.DriveLetter) + ":";
    const auto& A = static_cast<const TASPIdevice&>(D);
    return std::to_string(A.Adapter) + ":" + std::to_string(A.Target) + ":" + std::to_string(A.Lun);
}

std::string NodeOf(char Letter) {
    const auto Targets = Platform().DosDeviceTargets(std::string(1, Letter) + ":");
    return Targets.empty() ? std::string() : Targets.front().substr(0, Targets.front().find('\0'));
}

// A drive that stands for a Linux device node (the POSIX layer presents the
// /dev/sr* nodes as drives).
bool LinuxNode(char Letter) {
    const std::string Node = NodeOf(Letter);
    return !Node.empty() && Node[0] == '/';
}

// Why Letter's drive cannot be opened for burning; empty when it can.
std::string OpenProblem(char Letter) {
    TDeviceAccess Access;
    Access.Write = true;
    if (Platform().OpenDevice(SptiDevicePath(Letter), Access)) return {};
    const uint32_t Code = Platform().LastError();
    if (Code == ErrorFileNotFound) return "no such drive";
    if (Code == ErrorAccessDenied)
        return LinuxNode(Letter)
                   ? "permission denied: burning needs the drive opened for reading and writing "
                     "(on Linux, membership of the group that owns the device node, usually "
                     "cdrom)"
                   : "permission denied: raw access to a drive needs an administrator (run "
                     "purgex from a command prompt opened as administrator)";
    return Platform().ErrorText(Code);
}

// The drive gave no inquiry answer (it could not be opened).
bool Unqueried(const TScsiOpticalDevice& D) {
    return D.DriveLetter != ' ' && D.Vendor.empty() && D.Product.empty();
}

// What purgex devices lists and numbers: the CD/DVD drives, also those that
// could not be asked but that the system calls CD/DVD drives. Discovery
// finds every drive letter (hard disks, network drives, Wine's Z:).
std::vector<TScsiOpticalDevice*> CdDrives(const std::vector<TScsiOpticalDevice*>& All) {
    std::vector<TScsiOpticalDevice*> Drives;
    for (TScsiOpticalDevice* D : All)
        if (D->DeviceType == DeviceTypeCdRom ||
            (Unqueried(*D) &&
             (Platform().DriveType(D->DriveLetter) == DriveCdRom || LinuxNode(D->DriveLetter))))
            Drives.push_back(D);
    return Drives;
}

// The second part of purgex devices: the disks a stick may be written to.
void PrintSticks(std::ostream& Out) {
    const auto Sticks = Platform().StickDevices();
    if (Sticks.empty()) {
        Out << "No USB sticks found.\n";
        return;
    }
    Out << "USB sticks:\n";
    for (const TStickDevice& S : Sticks) {
        const bool Windows = VolumesLockedForWrite(S);
        std::string Kinds = S.Usb ? "USB" : "";
        if (S.Removable) Kinds += (Kinds.empty() ? "" : ", ") + std::string("removable");
        Out << "    " << S.Node << "  " << StickName(S) << "  "
            << (S.Bytes ? StickSizeText(S.Bytes) : "no medium") << "  [" << Kinds << "]";
        if (Windows && !S.MountPoints.empty()) {
            Out << "  volumes";
            for (const std::string& Letter : S.MountPoints)
                Out << " " << Letter;
        }
        const std::string Refusal = StickRefusal(S, false, !Windows);
        Out << "  " << (Refusal.empty() ? "offered" : "refused: " + Refusal) << "\n";
    }
}

// Passes a burn's reports on and tells the front the buffer's fill.
class TFillTap : public TBurningIO {
public:
    TFillTap(TBurningIO* Next, TConsoleFront& Front) : Next(Next), Front(Front) {}
    void Progress(uint8_t Stage, double Done, double Fill) override {
        if (Next) Next->Progress(Stage, Done, Fill);
        Front.SetFill(Fill);
    }
    void StageStarted(uint8_t Stage, int32_t Reserved) override {
        if (Next) Next->StageStarted(Stage, Reserved);
    }

private:
    TBurningIO* Next;
    TConsoleFront& Front;
};

// The writer as the run sees it: the drive, with its progress tapped and each
// burned disc read back.
class TCheckedWriter : public TOpticalDevice {
public:
    TCheckedWriter(TScsiOpticalDevice& Drive, bool Verify, std::ostream& Err)
        : Drive(Drive), Verify(Verify), Err(Err) {
        Name = Drive.Name;
        DeviceType = Drive.DeviceType;
        TypeName = Drive.TypeName;
        DriveLetter = Drive.DriveLetter;
    }
    TConsoleFront* Front = nullptr;
    std::function<void()> BeforeOutput;

    bool IsWriter() override { return Drive.IsWriter(); }
    bool CheckReady(TDeviceStatus& Status) override { return Drive.CheckReady(Status); }
    bool Burn(TBurnError& Error, TStream& Source, TBurningIO* Observer) override {
        const int64_t Start = Source.Position();
        TFillTap Tap(Observer, *Front);
        if (!Drive.Burn(Error, Source, &Tap)) return false;
        if (!Verify) return true;
        Source.SetPosition(Start);
        std::vector<uint8_t> Image(size_t(Source.Size() - Start));
        Source.ReadBuffer(Image.data(), int64_t(Image.size()));
        const int64_t Block = FirstDifference(Image);
        if (Block < 0) return true;
        if (BeforeOutput) BeforeOutput();
        Err << "purgex: the disc differs from the image from block " << Block
            << " on (read back from block " << Drive.LastBurnStart << ")\n";
        Error.Step = BurnStepWrite;
        return false;
    }

private:
    // The first block (counted from the image's start) that reads back
    // differently, or -1.
    int64_t FirstDifference(const std::vector<uint8_t>& Image) {
        const uint32_t Blocks = uint32_t((Image.size() + BlockBytes - 1) / BlockBytes);
        std::vector<uint8_t> Read(10 * BlockBytes);
        for (uint32_t First = 0; First < Blocks; First += 10) {
            const uint16_t Count = uint16_t(std::min<uint32_t>(10, Blocks - First));
            if (Drive.ReadBlocks(Drive.LastBurnStart + First, Count,
                                 std::span(Read).first(Count * BlockBytes)) != 0)
                return First;
            for (uint32_t i = 0; i < Count; ++i) {
                const size_t Offset = size_t(First + i) * BlockBytes;
                const size_t Length = std::min<size_t>(BlockBytes, Image.size() - Offset);
                if (!std::equal(Image.begin() + Offset, Image.begin() + Offset + Length,
                                Read.begin() + i * BlockBytes))
                    return First + i;
            }
        }
        return -1;
    }

    TScsiOpticalDevice& Drive;
    bool Verify;
    std::ostream& Err;
};

} // namespace

int RunDevicesCommand(std::ostream& Out, std::ostream& /*Err*/) {
    TOpticalDevices Discovery;
    const auto All = Listed(Discovery);
    const auto Drives = CdDrives(All);
    Out << "Transport: "
        << (Discovery.Transport == TransportAspi ? "ASPI (wnaspi32.dll)" : "SCSI pass-through")
        << "\n";
    if (Drives.empty()) Out << "No CD/DVD drives found.\n";
    int Number = 0;
    for (TScsiOpticalDevice* D : Drives) {
        ++Number;
        const bool CdDrive = D->DeviceType == DeviceTypeCdRom;
        const bool Offered = CdDrive && D->IsWriter();
        Out << std::setw(2) << Number << "  " << std::left << std::setw(7) << DriveText(*D)
            << std::right;
        const bool Node = D->DriveLetter != ' ' && LinuxNode(D->DriveLetter);
        if (Node) Out << "(" << NodeOf(D->DriveLetter) << ") ";
        Out << D->Name << "  [" << D->TypeName << "]  reads " << Capabilities(*D, false)
            << ", writes " << Capabilities(*D, true) << "  ";
        const std::string Problem = Unqueried(*D) ? OpenProblem(D->DriveLetter) : "";
        if (Offered)
            Out << "offered";
        else if (CdDrive)
            Out << "not offered: writes neither CD-R nor CD-RW";
        else if (Node) // as it always read on Linux
            Out << "not offered: not a CD/DVD drive"
                << (Problem.empty() ? "" : " (cannot be queried: " + Problem + ")");
        else
            Out << "not offered: "
                << (Problem.empty() ? "does not answer as a CD/DVD drive"
                                    : "cannot be queried: " + Problem);
        Out << "\n";
    }
    if (const size_t Other = All.size() - Drives.size())
        Out << Other
            << (Other == 1 ? " other drive passed over: not a CD/DVD drive\n"
                           : " other drives passed over: not CD/DVD drives\n");
    PrintSticks(Out);
    return 0;
}

int RunBurnCommand(const TBurnOptions& Options, std::istream& In, std::ostream& Out,
                   std::ostream& Err) {
    if (Options.Copies < 1 || Options.Copies > MaxBurnCopies) {
        Err << "purgex: --copies takes 1 to " << MaxBurnCopies << "\n";
        return 2;
    }
    TWiperOptions Checked;
    std::string MsDosDir;
    if (const int Status = ResolveMediaOptions(Options, Checked, MsDosDir, Err)) return Status;

    // The drive: a letter, a device node, or a number from purgex devices.
    TOpticalDevices Discovery;
    const auto All = Listed(Discovery);
    const auto Numbered = CdDrives(All);
    const std::string& Name = Options.Drive;
    TScsiOpticalDevice* Drive = nullptr;
    char Letter = 0;
    if (!Name.empty() && std::all_of(Name.begin(), Name.end(), ::isdigit)) {
        const size_t Number = size_t(std::stoul(Name.substr(0, 3)));
        if (Number < 1 || Number > Numbered.size()) {
            Err << "purgex: there is no drive number " << Name
                << " (purgex devices lists the drives)\n";
            return 1;
        }
        Drive = Numbered[Number - 1];
        Letter = Drive->DriveLetter;
    } else {
        if (Name.size() == 1 || (Name.size() == 2 && Name[1] == ':'))
            Letter = char(std::toupper(static_cast<unsigned char>(Name[0])));
        else
            for (int Bit = 0; Bit < 26 && !Letter; ++Bit)
                if ((Platform().LogicalDrives() >> Bit & 1) && NodeOf(char('A' + Bit)) == Name)
                    Letter = char('A' + Bit);
        if (!std::isalpha(static_cast<unsigned char>(Letter))) {
            Err << "purgex: no such drive: " << Name << " (purgex devices lists the drives)\n";
            return 1;
        }
        for (TScsiOpticalDevice* D : All)
            if (D->DriveLetter == Letter) Drive = D;
    }
    const std::string Shown = Letter && Letter != ' ' ? std::string(1, Letter) + ":" : Name;
    const std::string Node = Letter && Letter != ' ' ? NodeOf(Letter) : std::string();
    const std::string Where = Shown + (!Node.empty() && Node[0] == '/' ? " (" + Node + ")" : "");
    if (!Drive || Drive->DeviceType != DeviceTypeCdRom) {
        // A drive passed over is not a CD/DVD drive, whoever opens it.
        const bool PassedOver =
            Drive && std::find(Numbered.begin(), Numbered.end(), Drive) == Numbered.end();
        std::string Problem = Letter && Letter != ' ' && !PassedOver ? OpenProblem(Letter) : "";
        if (Problem.empty()) Problem = Drive ? "not a CD/DVD drive" : "no such drive";
        Err << "purgex: drive " << Where << " cannot be used: " << Problem << "\n";
        return 1;
    }
    if (!Drive->IsWriter()) {
        Err << "purgex: drive " << Where << " (" << Drive->Name
            << ") writes neither CD-R nor CD-RW\n";
        return 1;
    }
    if (Letter && Letter != ' ') {
        const std::string Problem = OpenProblem(Letter);
        if (!Problem.empty()) {
            Err << "purgex: drive " << Where << " cannot be opened: " << Problem << "\n";
            return 1;
        }
    }

    if (!LoadCdStore()) {
        Err << "purgex: the embedded store PURGXCD is corrupt or missing\n";
        return 1;
    }

    TConsoleUserInterface Console(In, Out, !Options.Yes && StandardInputIsTerminal());
    Console.SystemFolder = MsDosDir;
    TUserInterfaceScope Installed(Console);

    TCheckedWriter Writer(*Drive, !Options.NoVerify, Err);
    TDiscWriterTarget Target(Writer);
    TConsoleFront Front(Target, Options.Copies, Checked, Options.Params, false, Err,
                        StandardErrorIsTerminal());
    Writer.Front = &Front;
    Writer.BeforeOutput = [&] { Front.EndLine(); };
    Console.BeforeOutput = [&] { Front.EndLine(); };
    TCreationRun Run(Front);
    Run.DiscSystem = ChooseDiscSystem(Options.Os, MsDosDir, Out);
    Run.UefiEntry = Options.Uefi;
    Out << "Writer: " << Where << " " << Drive->Name << "\n";
    const bool Ended = CreateMediaReporting(Run, Front, Err);
    Front.EndLine();
    if (!Ended) return 1;
    if (Run.MediaDone != Run.MediaTotal) {
        Err << "purgex: " << Run.MediaDone << " of " << Run.MediaTotal << " discs burned"
            << (Console.LastMessage.empty() ? "" : ": " + Console.LastMessage) << "\n";
        return 1;
    }
    Out << "Burned " << Run.MediaDone << (Run.MediaDone == 1 ? " disc" : " discs") << " in "
        << Where << (Options.NoVerify ? "" : ", each read back and equal to the image")
        << ".\n";
    return 0;
}
