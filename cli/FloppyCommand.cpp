#include "cli/FloppyCommand.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <system_error>

#include "base/TemporaryFiles.h"
#include "cli/ConsoleUserInterface.h"
#include "cli/Terminal.h"
#include "floppy/Vfloppy.h"
#include "image/CreationRun.h"
#include "image/ExeData.h"
#include "image/FloppyTarget.h"
#include "platform/Platform.h"

namespace fs = std::filesystem;

namespace {

// Forwards to the console and names the target and copy in the run's
// prompt, so a person knows what is written, and a prompt repeated for the
// same copy is told apart from the next copy's.
class TFloppyPrompts : public TConsolePrompts {
public:
    TFloppyPrompts(TConsoleUserInterface& Console, std::string Target, const TCreationRun& Run,
                   int Copies)
        : TConsolePrompts(Console), Target(std::move(Target)), Run(Run), Copies(Copies) {}
    int MsgAsk(TQuestion Kind, const std::string& Text, const std::string& Left,
               const std::string& Right) override {
        if (Kind != TQuestion::InsertMedium) return Console.MsgAsk(Kind, Text, Left, Right);
        std::string Shown = Text + "\r(" + Target;
        if (Copies > 1)
            Shown +=
                ", copy " + std::to_string(Run.MediaDone + 1) + " of " + std::to_string(Copies);
        return Console.MsgAsk(Kind, Shown + ")", Left, Right);
    }

private:
    std::string Target;
    const TCreationRun& Run;
    int Copies;
};

bool IsDriveLetter(const std::string& Target) {
    return Target.size() == 2 && Target[1] == ':' &&
           (Target[0] == 'A' || Target[0] == 'a' || Target[0] == 'B' || Target[0] == 'b');
}

// A fresh image file of 1.44 MB beside Target, under a name of our own.
bool MakeBlankImage(const fs::path& Path) {
    std::ofstream File(Path, std::ios::binary | std::ios::trunc);
    const std::vector<char> Zeros(FloppyImageSize);
    File.write(Zeros.data(), std::streamsize(Zeros.size()));
    File.close();
    return bool(File);
}

} // namespace

int RunFloppyCommand(const TFloppyOptions& Options, std::istream& In, std::ostream& Out,
                     std::ostream& Err) {
    TWiperOptions Checked;
    std::string MsDosDir;
    if (const int Status = ResolveMediaOptions(Options, Checked, MsDosDir, Err)) return Status;
    if (Options.Copies < 1 || Options.Copies > MaxFloppyCopies) {
        Err << "purgex: --copies takes 1 to " << MaxFloppyCopies << "\n";
        return 2;
    }

    // The drive letter stands for the target from here on. An image file is
    // made under a temporary name and put in place only when complete, so
    // a failed run leaves the user's file as it was.
    const std::string& Target = Options.Target;
    fs::path Temporary;
    // Removes the temporary image on every way out but success.
    struct TCleanup {
        fs::path& Path;
        ~TCleanup() {
            std::error_code Ignored;
            if (Path.empty()) return;
            fs::remove(Path, Ignored);
            ForgetTemporaryFile(Path.string());
        }
    } Cleanup{Temporary};
    std::error_code Code;
    const bool Letter = IsDriveLetter(Target);
    const bool Device =
        !Letter && (fs::is_block_file(Target, Code) || fs::is_character_file(Target, Code));
    std::string Problem;
    if (Letter && Platform().DriveType(Target[0]) != DriveRemovable) {
        Err << "purgex: there is no floppy drive " << Target << " on this system\n";
        return 2;
    }
    if (!Letter) {
        if (!Device && fs::exists(Target, Code)) {
            if (!fs::is_regular_file(Target, Code)) {
                Err << "purgex: " << Target << " is neither a floppy drive nor an image file\n";
                return 2;
            }
            const auto Size = fs::file_size(Target, Code);
            if (Code || Size != uintmax_t(FloppyImageSize)) {
                Err << "purgex: " << Target << " holds " << Size << " bytes, not the "
                    << FloppyImageSize << " of a 1.44 MB floppy image; it was left untouched\n";
                return 2;
            }
        }
        const char Drive = 'A';
        std::string Attach = Target;
        if (!Device) {
            // As purgex iso names its temporary file, noted so that an
            // interruption removes it too.
            Temporary = Target + ".partial";
            for (int n = 2; n < 1000 && fs::exists(Temporary, Code); ++n)
                Temporary = Target + ".partial" + std::to_string(n);
            RegisterTemporaryFile(Temporary.string());
            if (!MakeBlankImage(Temporary)) {
                Err << "purgex: cannot create " << Temporary.string() << "\n";
                return 1;
            }
            Attach = Temporary.string();
        }
        if (!Platform().AttachFloppy(Drive, Attach, Problem)) {
            Err << "purgex: " << Target << " cannot be used as drive A: " << Problem << "\n";
            return 2;
        }
    }
    if (!LoadDiskStore() || !LoadCdStore()) {
        Err << "purgex: the embedded stores are corrupt or missing\n";
        return 1;
    }

    TConsoleUserInterface Console(In, Out, !Options.Yes && StandardInputIsTerminal());
    Console.SystemFolder = MsDosDir;

    bool MsDos = false, FromFolder = false;
    if (Options.Os == "rxdos") {
        Out << "Boot system: Rx-DOS (embedded)\n";
    } else if (Options.Os == "msdos") {
        MsDos = true;
        FromFolder = !MsDosDir.empty();
        Out << "Boot system: MS-DOS" << (FromFolder ? " from " + MsDosDir : std::string()) << "\n";
    } else {
        const std::string Source = OfferedMsDos(MsDosDir);
        MsDos = !Source.empty();
        FromFolder = MsDos && Source == MsDosDir;
        Out << (MsDos ? "Boot system: MS-DOS from " + Source + "\n"
                      : "Boot system: Rx-DOS (embedded; no MS-DOS system offered)\n");
    }

    TFloppyDriveTarget Floppy;
    Floppy.MsDosFromComposer = FromFolder;
    if (Letter) Floppy.Drive = char(std::toupper(static_cast<unsigned char>(Target[0])));
    TConsoleFront Front(Floppy, Options.Copies, Checked, Options.Params, MsDos, Err,
                        StandardErrorIsTerminal());
    TCreationRun Run(Front);
    Console.BeforeOutput = [&] { Front.EndLine(); };
    TFloppyPrompts Prompts(Console, Target, Run, Options.Copies);
    TUserInterfaceScope Installed(Prompts);

    if (!Options.NoVerify && !Letter) {
        Floppy.Written = [] {
            const int64_t Sector = Platform().FloppyMismatch('A');
            if (Sector == -1) return true;
            CoolMsgInfo(Sector == -2
                            ? std::string("The floppy in drive A: cannot be read back.")
                            : "The floppy in drive A: reads back differently from sector " +
                                  std::to_string(Sector) + " on.");
            return false;
        };
    }

    if (!CreateMediaReporting(Run, Front, Err)) return 1;
    if (Run.MediaDone != Run.MediaTotal) {
        const std::string& Reason = Console.LastMessage;
        Err << "purgex: " << Target << ": " << Run.MediaDone << " of " << Run.MediaTotal
            << " floppies made" << (Reason.empty() ? "" : "; last message: " + Reason) << "\n";
        return 1;
    }
    if (!Temporary.empty()) {
        fs::rename(Temporary, Target, Code);
        if (Code) {
            Err << "purgex: cannot put " << Target << " in place: " << Code.message() << "\n";
            return 1;
        }
        ForgetTemporaryFile(Temporary.string());
        Temporary.clear();
    }
    Out << "Made " << Target
        << (Options.Copies > 1 ? " (" + std::to_string(Options.Copies) + " copies)" : "")
        << ". Boot it with: qemu-system-i386 -fda " << Target << "\n";
    return 0;
}
