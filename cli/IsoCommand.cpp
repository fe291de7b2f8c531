#include "cli/IsoCommand.h"

#include <iostream>

#include "cli/ConsoleUserInterface.h"
#include "cli/Terminal.h"
#include "image/Composer.h"
#include "image/CreationRun.h"
#include "image/ExeData.h"
#include "optical/ImageRecorder.h"
#include "platform/Platform.h"

// Where the running system offers MS-DOS: its own files (Windows 9x), the
// image of "DiskCopy.dll", or the folder given on the command line.
std::string OfferedMsDos(const std::string& MsDosDir) {
    const TWindowsVersion v = Platform().Version();
    if (v.PlatformId == 1 && !FindIoSys().empty() && !FindCommandCom().empty())
        return "the files of this Windows installation";
    const auto Probe = std::make_unique<TVirtualFloppy>(); // far too large for a stack
    if (v.PlatformId == 2 && LoadDiskCopyImage(*Probe)) return "the boot floppy of DiskCopy.dll";
    if (!MsDosDir.empty() && HoldsMsDosSystem(MsDosDir)) return MsDosDir;
    return {};
}


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
    TUserInterface* Previous = InstallUserInterface(&Console);
    struct TRestore {
        TUserInterface* Previous;
        ~TRestore() { InstallUserInterface(Previous); }
    } Restore{Previous};

    TimageRecorder Recorder;
    Recorder.ReadBack = !Options.NoVerify;
    TConsoleFront Front(&Recorder, 1, Checked, Options.Params, false, Err,
                        StandardErrorIsTerminal());
    TCreationRun Run(Front);
    Console.BeforeOutput = [&] { Front.EndLine(); };

    if (Options.Os == "rxdos") {
        Run.DiscSystem = TDiscSystem::RxDos;
        Out << "Boot system: Rx-DOS (embedded)\n";
    } else if (Options.Os == "msdos") {
        Run.DiscSystem = TDiscSystem::MsDos;
        Out << "Boot system: MS-DOS\n";
    } else {
        const std::string Source = OfferedMsDos(MsDosDir);
        Run.DiscSystem = Source.empty() ? TDiscSystem::RxDos : TDiscSystem::MsDos;
        Out << (Source.empty() ? "Boot system: Rx-DOS (embedded; no MS-DOS system offered)\n"
                               : "Boot system: MS-DOS from " + Source + "\n");
    }

    std::vector<uint8_t> Image;
    Run.ImageBuilt = [&](const TMemoryStream& Iso) { Image = Iso.Bytes(); };
    try {
        Run.CreateMedia();
    } catch (const std::exception& Error) {
        Err << "purgex: Error: " << Error.what() << "\n";
        return 1;
    }
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
    Out << "Made " << Options.File << " (" << Image.size() << " bytes). Boot it with: "
        << "qemu-system-i386 -cdrom " << Options.File << "\n";
    return 0;
}
