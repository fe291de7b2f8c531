#include "image/Composer.h"

#include <algorithm>
#include <cctype>

#include "base/UserInterface.h"
#include "platform/Platform.h"

const std::string MsDosConfigText = "[Options]\r\nBootGui=0\r\n";

namespace {

// A "DiskCopy.dll" resource smaller than this holds no boot floppy.
constexpr size_t SmallestDiskCopyImage = 1400000;

std::vector<uint8_t>& FileBuffer() {
    static std::vector<uint8_t> Buffer(FileBufferSize);
    return Buffer;
}

std::string Upper(std::string Text) {
    std::transform(Text.begin(), Text.end(), Text.begin(),
                   [](unsigned char c) { return char(std::toupper(c)); });
    return Text;
}

bool WriteWhole(TFloppyFile& File, const uint8_t* Data, size_t Length) {
    return File.Write(Data, int32_t(Length)) == int32_t(Length);
}

bool CreateAndWrite(TFloppyDirectory& Folder, const std::string& Name, const uint8_t* Data,
                    size_t Length) {
    std::unique_ptr<TFloppyFile> File;
    return Folder.CreateFile(Name, File) && WriteWhole(*File, Data, Length);
}

// Copies a file of the installation into the image root under Name.
bool CopyIntoRoot(TVirtualFloppy& Floppy, const std::string& SourcePath, const std::string& Name) {
    const auto Source = Platform().OpenFileRead(SourcePath);
    if (!Source) return false;
    std::vector<uint8_t>& Buffer = FileBuffer();
    const int64_t Length = Source->Read(Buffer.data(), FileBufferSize);
    uint8_t Beyond;
    if (Length < 0 || Source->Read(&Beyond, 1) != 0) return false; // larger than the buffer
    TFloppyDirectory Root(Floppy);
    return CreateAndWrite(Root, Name, Buffer.data(), size_t(Length));
}

bool WriteMsDosConfig(TVirtualFloppy& Floppy) {
    TFloppyDirectory Root(Floppy);
    return CreateAndWrite(Root, "MsDos.sys", reinterpret_cast<const uint8_t*>(MsDosConfigText.data()),
                          MsDosConfigText.size());
}

bool LoadBaseImage(TVirtualFloppy& Floppy, const TExeDataBase& Store) {
    TMemoryStream* Base = Store.FindItem(".BOOTRECORD", 1);
    if (!Base) return false;
    Base->SetPosition(0);
    Floppy.LoadFromStream(*Base, Base->Size());
    return true;
}

bool IsWindows9x(const TWindowsVersion& v) {
    return v.PlatformId == 1 && v.Major == 4 && (v.Minor == 0 || v.Minor == 10 || v.Minor == 90);
}

bool IsXpOr2003(const TWindowsVersion& v) {
    return v.PlatformId == 2 && v.Major == 5 && (v.Minor == 1 || v.Minor == 2);
}

// NT 3.51, NT 4.0 and 2000 have no "DiskCopy.dll"; every version outside the
// tables may have one.
bool IsOlderNt(const TWindowsVersion& v) {
    return v.PlatformId == 2 && ((v.Major == 3 && v.Minor == 51) || (v.Major == 4 && v.Minor == 0) ||
                                 (v.Major == 5 && v.Minor == 0));
}

bool PlaceFromPicker(TVirtualFloppy& Floppy, const TExeDataBase& Store) {
    const auto Folder = UserInterface().PickSystemFolder();
    if (!Folder) return false;
    if (!LoadBaseImage(Floppy, Store)) return false;
    if (!CopyIntoRoot(Floppy, *Folder + "Io.sys", "io.sys")) return false;
    if (!CopyIntoRoot(Floppy, *Folder + "command.com", "Command.com")) return false;
    WriteMsDosConfig(Floppy); // the system boots without it
    return true;
}

} // namespace

std::vector<std::string> StartupBatchLines(bool WithMouse, const std::string& CommandLine) {
    std::vector<std::string> Lines = {"@echo off", "prompt $p$g", "cd \\Purgit"};
    if (WithMouse) Lines.push_back("data\\ctmouse");
    Lines.push_back("@echo Running Corvane Purgex 2005 ...");
    Lines.push_back("Purgit " + CommandLine);
    return Lines;
}

std::string StartupBatch(bool WithMouse, const std::string& CommandLine) {
    std::string Text;
    for (const std::string& Line : StartupBatchLines(WithMouse, CommandLine)) Text += Line + "\r\n";
    return Text;
}

std::vector<std::string> WiperIniLines(const std::string& Options) {
    const std::string Padded = Options + std::string(23, '1');
    std::vector<std::string> Lines;
    for (int n = 1; n <= 11; ++n)
        Lines.push_back("O" + std::to_string(n) + "=" + (Padded[size_t(n - 1)] == '1' ? "1" : "0"));
    return Lines;
}

std::string WiperIni(const std::string& Options) {
    std::string Text;
    for (const std::string& Line : WiperIniLines(Options)) Text += Line + "\r\n";
    return Text;
}

std::string FindIoSys() {
    const std::string Ebd = Platform().WindowsDirectory() + "\\Command\\Ebd\\io.sys";
    if (Platform().FileExists(Ebd)) return Ebd;
    if (Platform().FileExists("C:\\io.sys")) return "C:\\io.sys";
    return {};
}

std::string FindCommandCom() {
    if (const auto Comspec = Platform().EnvironmentVariable("comspec");
        Comspec && Platform().FileExists(*Comspec))
        return *Comspec;
    if (Platform().FileExists("C:\\command.com")) return "C:\\command.com";
    return {};
}

bool LoadDiskCopyImage(TVirtualFloppy& Floppy) {
    const auto Image = Platform().LibraryResource("DiskCopy.dll", "BINFILE", "#1");
    if (!Image || Image->size() < SmallestDiskCopyImage) return false;
    TReadOnlyStream Stream(
        std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(Image->data()), Image->size()));
    Floppy.LoadFromStream(Stream, Stream.Size());
    return true;
}

bool PlaceMsDosSystem(TVirtualFloppy& Floppy, const TExeDataBase& Store) {
    const TWindowsVersion Version = Platform().Version();
    if (IsWindows9x(Version)) {
        if (!LoadBaseImage(Floppy, Store)) return false;
        const std::string IoSys = FindIoSys();
        if (IoSys.empty()) return false;
        bool Placed = CopyIntoRoot(Floppy, IoSys, "io.sys");
        const std::string CommandCom = FindCommandCom();
        if (CommandCom.empty()) return false;
        Placed = CopyIntoRoot(Floppy, CommandCom, "Command.com") && Placed;
        Placed = WriteMsDosConfig(Floppy) && Placed;
        if (Placed) return true;
    } else if (IsXpOr2003(Version) || !IsOlderNt(Version)) {
        if (LoadDiskCopyImage(Floppy)) return true;
    }
    return PlaceFromPicker(Floppy, Store);
}

std::unique_ptr<TFloppyDirectory> OpenImageFolder(TVirtualFloppy& Floppy,
                                                  const std::string& FolderPath) {
    auto Folder = std::make_unique<TFloppyDirectory>(Floppy);
    size_t Start = 0;
    while (Start < FolderPath.size()) {
        size_t End = FolderPath.find('\\', Start);
        if (End == std::string::npos) End = FolderPath.size();
        const std::string Part = FolderPath.substr(Start, End - Start);
        if (!Part.empty() && !Folder->ChangeDirectory(Part)) {
            Folder->CreateDirectory(Part);
            Folder->ChangeDirectory(Part);
        }
        Start = End + 1;
    }
    return Folder;
}

bool ComposeStartupFiles(TVirtualFloppy& Floppy, const TExeDataBase& Store, bool WithMouse,
                         const std::string& CommandLine, const std::string& Options) {
    for (const auto& Item : Store.Items) {
        if (Item->ItemKind != 1 || IsImageItem(*Item)) continue;
        const size_t Slash = Item->ItemName.rfind('\\');
        const std::string FolderPath =
            Slash == std::string::npos ? std::string() : Item->ItemName.substr(0, Slash);
        const std::string Name =
            Slash == std::string::npos ? Item->ItemName : Item->ItemName.substr(Slash + 1);

        const auto Folder = OpenImageFolder(Floppy, FolderPath);
        std::unique_ptr<TFloppyFile> File;
        if (!Folder->CreateFile(Name, File)) return false;

        const std::string UpperName = Upper(Name);
        if (UpperName == "AUTOEXEC.BAT" || UpperName == "PURGIT.INI") {
            const std::string Text = UpperName == "AUTOEXEC.BAT"
                                         ? StartupBatch(WithMouse, CommandLine)
                                         : WiperIni(Options);
            if (!WriteWhole(*File, reinterpret_cast<const uint8_t*>(Text.data()), Text.size()))
                return false;
        } else {
            TMemoryStream& Data = Item->ItemData;
            const int64_t Length = Data.Size();
            if (Length > FileBufferSize) return false;
            // The item is already whole in memory: it goes to the image from
            // there, and the 2 MB buffer is never touched for the store.
            Data.SetPosition(Length);
            if (!WriteWhole(*File, Data.Memory(), size_t(Length))) return false;
        }
    }
    return true;
}
