#include "cli/IsoCommand.h"

#include <iostream>

#include "cli/ConsoleUserInterface.h"
#include "cli/Terminal.h"
#include "image/CreationRun.h"
#include "image/ExeData.h"
#include "image/OpticalTargets.h"
#include "optical/ImageRecorder.h"
#include "platform/Platform.h"

int RunIsoCommand(const TIsoOptions& Options, std::istream& In, std::ostream& Out,
                  std::ostream& Err) {
    TWiperOptions Checked;
    std::string MsDosDir;
    if (const int Status = ResolveMediaOptions(Options, Checked, MsDosDir, Err)) return Status;

    if (!LoadCdStore()) {
        Err << "purgex: the embedded store PURGXCD is corrupt or missing\n";
        return 1;
    }

    TConsoleUserInterface Console(In, Out, !Options.Yes && StandardInputIsTerminal());
    Console.SaveFile = Options.File;
    Console.SystemFolder = MsDosDir;
    TUserInterfaceScope Installed(Console);

    TimageRecorder Recorder;
    Recorder.ReadBack = !Options.NoVerify;
    TImageFileTarget Target(Recorder);
    TConsoleFront Front(Target, 1, Checked, Options.Params, false, Err, StandardErrorIsTerminal());
    TCreationRun Run(Front);
    Console.BeforeOutput = [&] { Front.EndLine(); };

    Run.DiscSystem = ChooseDiscSystem(Options.Os, MsDosDir, Out);
    Run.UefiEntry = Options.Uefi;

    size_t ImageBytes = 0;
    Run.ImageBuilt = [&](const TMemoryStream& Iso) { ImageBytes = Iso.Bytes().size(); };
    if (!CreateMediaReporting(Run, Front, Err)) return 1;
    if (Run.MediaDone != Run.MediaTotal) {
        if (Recorder.DifferingSector >= 0) {
            Err << "purgex: the file written for " << Options.File
                << " differs from the image from sector " << Recorder.DifferingSector
                << " on; it was removed\n";
            return 1;
        }
        const std::string Reason = Console.LastMessage;
        Err << "purgex: " << Options.File << " was not made"
            << (Reason.empty() ? "" : ": " + Reason)
            << (Platform().FileExists(Options.File) ? " (the existing file is unchanged)" : "")
            << "\n";
        return 1;
    }
    Out << "Made " << Options.File << " (" << ImageBytes << " bytes). Boot it with: "
        << "qemu-system-i386 -cdrom " << Options.File << "\n";
    if (Options.Uefi)
        Out << "On a UEFI PC it starts the wiper's UEFI build (Secure Boot turned off).\n";
    return 0;
}
