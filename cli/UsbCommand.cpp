#include "cli/UsbCommand.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <iostream>
#include <system_error>

#include "base/TemporaryFiles.h"

#include "cli/ConsoleUserInterface.h"
#include "cli/Terminal.h"
#include "image/CreationRun.h"
#include "image/ExeData.h"
#include "platform/Platform.h"

namespace {

// The run's question before each stick: the first was asked before anything
// was composed, the ones after it name the copy.
class TStickPrompts : public TConsolePrompts {
public:
    TStickPrompts(TConsoleUserInterface& Console, const TCreationRun& Run, int Copies)
        : TConsolePrompts(Console), Run(Run), Copies(Copies) {}
    int MsgAsk(TQuestion Kind, const std::string& Text, const std::string& Left,
               const std::string& Right) override {
        if (Kind != TQuestion::InsertMedium) return Console.MsgAsk(Kind, Text, Left, Right);
        if (!FirstAnswered) {
            FirstAnswered = true;
            return 1;
        }
        if (Copies == 1) return Console.MsgAsk(Kind, Text, Left, Right);
        return Console.MsgAsk(Kind,
                              Text + "\r(copy " + std::to_string(Run.MediaDone + 1) + " of " +
                                  std::to_string(Copies) + ")",
                              Left, Right);
    }

private:
    const TCreationRun& Run;
    int Copies;
    bool FirstAnswered = false;
};

bool NamesADisk(const std::string& Target) {
    std::string Lower = Target;
    std::transform(Lower.begin(), Lower.end(), Lower.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return Lower.rfind("/dev/", 0) == 0 || Lower.rfind("\\\\.\\", 0) == 0 ||
           Lower.rfind("physicaldrive", 0) == 0 || (Lower.size() == 2 && Lower[1] == ':');
}

// Asks on In whatever the terminal: writing a disk needs a "yes".
bool UserAgrees(const TStickDevice& Device, std::istream& In, std::ostream& Out) {
    Out << "Everything on " << StickDescription(Device) << " will be erased.\n"
        << "Make it a boot stick? [y/N] " << std::flush;
    std::string Line;
    if (!std::getline(In, Line)) {
        Out << "\n";
        return false;
    }
    Line.erase(0, Line.find_first_not_of(" \t"));
    return !Line.empty() && (Line[0] == 'y' || Line[0] == 'Y');
}

} // namespace

int RunUsbCommand(const TUsbOptions& Options, std::istream& In, std::ostream& Out,
                  std::ostream& Err) {
    if (Options.Os == "msdos" || !Options.MsDosDir.empty()) {
        Err << "purgex: " << StickOnlyRxDosText << "\n";
        return 2;
    }
    TWiperOptions Checked;
    std::string MsDosDir;
    if (const int Status = ResolveMediaOptions(Options, Checked, MsDosDir, Err)) return Status;
    if (Options.Copies < 1 || Options.Copies > MaxUsbCopies) {
        Err << "purgex: --copies takes 1 to " << MaxUsbCopies << "\n";
        return 2;
    }

    std::string Problem;
    TStickDevice Device;
    bool NewImage = false;
    if (auto Found = Platform().DescribeStick(Options.Target, Problem)) {
        Device = std::move(*Found);
    } else if (NamesADisk(Options.Target)) {
        Err << "purgex: " << Problem << "\n";
        return 2;
    } else {
        Device.Node = Options.Target;
        Device.ImageFile = true;
        Device.Bytes = Options.Size;
        NewImage = true;
    }
    if (Device.Bytes < MinStickBytes) {
        Err << "purgex: " << StickDescription(Device) << " is smaller than the "
            << StickSizeText(MinStickBytes) << " a boot stick needs; it was left untouched\n";
        return 2;
    }
    if (const std::string Refusal = StickProblem(Device, Options.AnyDisk); !Refusal.empty()) {
        Err << "purgex: " << Refusal << "; nothing was written\n";
        if (StickProblem(Device, true).empty())
            Err << "purgex: to write it all the same, add " << AnyDiskOption << "\n";
        return 2;
    }
    if (!NewImage && !Options.Yes && !UserAgrees(Device, In, Out)) {
        Out << "Nothing was written.\n";
        return 1;
    }
    if (!LoadCdStore()) {
        Err << "purgex: the embedded store PURGXCD is corrupt or missing\n";
        return 1;
    }
    Out << "Boot system: Rx-DOS (embedded)\n";

    // An image file made here goes again on every way out but success.
    struct TNewImage {
        std::string Path;
        ~TNewImage() {
            if (Path.empty()) return;
            std::error_code Ignored;
            std::filesystem::remove(Path, Ignored);
            ForgetTemporaryFile(Path);
        }
    } Made{NewImage ? Options.Target : std::string()};
    if (NewImage) RegisterTemporaryFile(Options.Target);

    TConsoleUserInterface Console(In, Out, !Options.Yes && StandardInputIsTerminal());
    TUsbStickTarget Stick(Device);
    Stick.AnyDisk = Options.AnyDisk;
    Stick.Verify = !Options.NoVerify;
    Stick.CreateBytes = Options.Size;
    TConsoleFront Front(Stick, Options.Copies, Checked, Options.Params, false, Err,
                        StandardErrorIsTerminal());
    TCreationRun Run(Front);
    Console.BeforeOutput = [&] { Front.EndLine(); };
    TStickPrompts Prompts(Console, Run, Options.Copies);
    TUserInterfaceScope Installed(Prompts);

    if (!CreateMediaReporting(Run, Front, Err)) return 1;
    if (Run.MediaDone != Run.MediaTotal) {
        const std::string& Reason = Console.LastMessage;
        Err << "purgex: " << Options.Target << ": " << Run.MediaDone << " of " << Run.MediaTotal
            << " sticks made" << (Reason.empty() ? "" : "; last message: " + Reason) << "\n";
        return 1;
    }
    if (NewImage) ForgetTemporaryFile(Made.Path);
    Made.Path.clear();
    Out << "Made " << Options.Target
        << (Options.Copies > 1 ? " (" + std::to_string(Options.Copies) + " copies)" : "") << ": "
        << (Stick.Fat32 ? "FAT32" : "FAT16") << ", " << Stick.BytesWritten << " bytes written"
        << (Options.NoVerify ? "" : " and read back") << ".";
    if (Device.ImageFile)
        Out << " Boot it with: qemu-system-i386 -drive file=" << Options.Target << ",format=raw";
    Out << "\n";
    return 0;
}
