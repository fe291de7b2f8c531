#include "image/FloppyTarget.h"

#include <memory>
#include <span>
#include <vector>

#include "base/UserInterface.h"
#include "disk/DosBoot.h"
#include "image/Composer.h"
#include "image/CreationRun.h"
#include "image/ExeData.h"
#include "platform/Platform.h"

std::function<void(double)> FloppyProgressHook;

const char* const CannotCreateMsDosText = "Cannot create Ms-Dos boot disk.";
const char* const InvalidWindowsVersionText = "Invalid Windows version.";

namespace {

void Report(double Fraction) {
    if (FloppyProgressHook) FloppyProgressHook(Fraction);
}

// Every missing level of Letter + ":\" + Folder.
bool ForceFolders(char Letter, const std::string& Folder) {
    std::string Path = std::string(1, Letter) + ":";
    size_t Start = 0;
    while (Start < Folder.size()) {
        size_t End = Folder.find('\\', Start);
        if (End == std::string::npos) End = Folder.size();
        if (End > Start) {
            Path += "\\" + Folder.substr(Start, End - Start);
            if (!Platform().CreateFolder(Path)) return false;
        }
        Start = End + 1;
    }
    return true;
}

} // namespace

TDirDisk& FloppyDirectDisk() {
    static TDirDisk Instance;
    return Instance;
}

bool WriteFloppyBootImage(char DriveLetter, TStream& Image) {
    TDirDisk& Disk = FloppyDirectDisk();
    const int64_t Chunk = Platform().Version().PlatformId == 2 ? NtChunkBytes : Win9xChunkBytes;
    std::vector<uint8_t> Buffer(ChunkBufferBytes);
    const int64_t Size = Image.Size();
    Image.SetPosition(0);
    int64_t Offset = 0;
    const TRawWriteScope Raw(Disk, DriveLetter);
    Disk.SetFirstSector(0);
    while (Image.Position() < Size) {
        int64_t Got = 0;
        while (Got < Chunk) {
            const int64_t Piece = Image.Read(Buffer.data() + Got, Chunk - Got);
            if (Piece <= 0) break;
            Got += Piece;
        }
        if (Got <= 0) break;
        for (;;) {
            Disk.SetSectors(uint32_t(Got / FloppySectorSize));
            Disk.SetFirstSector(uint32_t(Offset / FloppySectorSize));
            if (Disk.DiskWrite(DriveLetter, Buffer.data(), Buffer.size(), FloppyMediaType)) break;
            if (CoolMsgRetryAbort(std::string("Cannot write to drive ") + DriveLetter + ":") == 3)
                return false;
            Disk.SetDriveName(DriveLetter);
        }
        Offset += Got;
        Report(double(Offset) / double(Size + 1));
    }
    return true;
}

bool WriteFloppyBoot(char DriveLetter, bool UseMsDos) {
    try {
        Report(0);
        FloppyDirectDisk().SetDriveName(DriveLetter);
        if (UseMsDos) {
            switch (CreateMsDosBootFloppy(DriveLetter, Report)) {
            case 0:
                break;
            case 1:
                CoolMsgInfo(CannotCreateMsDosText);
                return false;
            case 2:
                CoolMsgInfo(NoMsDosText);
                return false;
            case 3:
                CoolMsgInfo(InvalidWindowsVersionText);
                return false;
            default:
                return false;
            }
        } else {
            TMemoryStream* Boot = DiskStore ? DiskStore->FindItem(".Boot", 1) : nullptr;
            if (!Boot || !WriteFloppyBootImage(DriveLetter, *Boot)) return false;
        }
        Report(1);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool CopyStoreFiles(char DriveLetter) {
    if (!DiskStore) return false;
    try {
        int64_t Total = 0;
        for (const auto& Item : DiskStore->Items)
            if (Item->ItemKind == 1 && !IsImageItem(*Item)) Total += Item->ItemData.Size();
        Report(0);
        int64_t Copied = 0;
        for (const auto& Item : DiskStore->Items) {
            if (Item->ItemKind != 1 || IsImageItem(*Item)) continue;
            const size_t Slash = Item->ItemName.rfind('\\');
            const std::string Folder =
                Slash == std::string::npos ? std::string() : Item->ItemName.substr(0, Slash);
            const std::string Name =
                Slash == std::string::npos ? Item->ItemName : Item->ItemName.substr(Slash + 1);
            if (!ForceFolders(DriveLetter, Folder)) return false;
            const std::string Path = std::string(1, DriveLetter) + ":" +
                                     (Folder.empty() ? "" : "\\" + Folder) + "\\" + Name;
            const auto File = Platform().CreateFileWrite(Path);
            if (!File) return false;
            Item->ItemData.SetPosition(0);
            File->CopyFrom(Item->ItemData, Item->ItemData.Size());
            Copied += Item->ItemData.Size();
            Report(double(Copied) / double(Total + 1));
        }
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

TMediumPrompt TFloppyDriveTarget::MediumPrompt() const {
    return {"Please insert a floppy disk in drive A:"};
}

// The boot part fills the first half of the gauge, the files the second.
bool TFloppyDriveTarget::MakeMedium(TCreationRun& Run) {
    struct TUnhook {
        ~TUnhook() { FloppyProgressHook = nullptr; }
    } Unhook;
    FloppyProgressHook = [&Run](double f) { Run.SetRunProgress(0.5 * f); };
    const bool MsDos = Run.Front.FloppyUsesMsDos();
    const bool Boot =
        MsDos && MsDosFromComposer ? WriteComposedMsDos(Drive) : WriteFloppyBoot(Drive, MsDos);
    if (!Boot) {
        CoolMsgInfo(InstallationFailedText);
        return false;
    }
    FloppyProgressHook = [&Run](double f) { Run.SetRunProgress(0.5 + 0.5 * f); };
    if (!CopyStoreFiles(Drive)) {
        CoolMsgInfo(InstallationFailedText);
        return false;
    }
    const TWiperOptions Options = Run.Front.CheckedOptions();
    if (!WriteFloppyAutoexec(Drive, Run.Front.CommandLine(), !Options[DisableMouseOption]) ||
        !WriteFloppyIni(Drive, OptionString(Options))) {
        CoolMsgInfo(InstallationFailedText);
        return false;
    }
    if (Written && !Written()) return false;
    Run.SetRunProgress(1);
    return true;
}
