#include "optical/ImageRecorder.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <vector>

#include "base/TemporaryFiles.h"
#include "base/UserInterface.h"
#include "platform/Platform.h"

namespace {

// The folder part of Path ("" for the current folder), without its
// trailing separator unless it is a root ("/", "C:\").
std::string FolderOf(const std::string& Path) {
    const size_t Slash = Path.find_last_of("/\\");
    if (Slash == std::string::npos)
        return Path.size() >= 2 && Path[1] == ':' ? Path.substr(0, 2) + "." : "";
    if (Slash == 0 || (Slash == 2 && Path[1] == ':')) return Path.substr(0, Slash + 1);
    return Path.substr(0, Slash);
}

} // namespace

TimageRecorder::~TimageRecorder() { Discard(); }

std::string TimageRecorder::TemporaryNameFor(const std::string& Path) {
    std::string Name = Path + ".partial";
    for (int n = 2; n < 1000 && Platform().FileExists(Name); ++n)
        Name = Path + ".partial" + std::to_string(n);
    return Name;
}

void TimageRecorder::Discard() {
    ImageFile.reset(); // closed before removing: Windows keeps open files
    if (TemporaryName.empty()) return;
    Platform().RemoveFile(TemporaryName);
    ForgetTemporaryFile(TemporaryName);
    TemporaryName.clear();
}

bool TimageRecorder::CheckReady(TDeviceStatus& Status) {
    Status.DiscState = 0;
    // An earlier choice that was never burned is dropped, so a cancelled
    // dialog cannot leave the old choice armed.
    Discard();
    ImageFileName.clear();
    try {
        const auto Path = UserInterface().ChooseSaveFile("Purgit.ISO", "ISO", "*.ISO");
        if (!Path || Path->empty()) return false;
        if (!Platform().FolderWritable(FolderOf(*Path))) {
            CoolMsgInfo("The folder of " + *Path + " does not exist or cannot be written.");
            return false;
        }
        if (Platform().FileReadOnly(*Path)) {
            CoolMsgInfo("The file " + *Path + " is read-only.");
            return false;
        }
        ImageFileName = *Path;
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

int64_t TimageRecorder::FirstDifference(TStream& Source) {
    const auto Saved = Platform().OpenFileRead(TemporaryName);
    if (!Saved) return 0;
    std::vector<uint8_t> Want(64 * 1024), Got(Want.size());
    Source.SetPosition(0);
    int64_t Offset = 0;
    for (;;) {
        const int64_t Expected = Source.Read(Want.data(), int64_t(Want.size()));
        const int64_t Read = Saved->Read(Got.data(), int64_t(Got.size()));
        const int64_t Common = std::min(Expected, Read);
        if (std::memcmp(Want.data(), Got.data(), size_t(Common)) != 0) {
            const auto Differs = std::mismatch(Want.begin(), Want.begin() + Common, Got.begin());
            return (Offset + (Differs.first - Want.begin())) / SectorSize;
        }
        if (Expected != Read) return (Offset + Common) / SectorSize;
        if (Expected == 0) return -1;
        Offset += Expected;
    }
}

bool TimageRecorder::Burn(TBurnError& Error, TStream& Source, TBurningIO* /*Observer*/) {
    DifferingSector = -1;
    const auto Fail = [&] {
        Discard();
        ImageFileName.clear();
        Error.Step = BurnStepWrite;
        Error.ScsiResult = 0;
        return false;
    };
    if (ImageFileName.empty()) return Fail();
    try {
        // Noted before it exists, so an interruption at any moment finds it.
        TemporaryName = TemporaryNameFor(ImageFileName);
        RegisterTemporaryFile(TemporaryName);
        ImageFile = Platform().CreateFileWrite(TemporaryName);
        if (!ImageFile) return Fail();
        Source.SetPosition(0);
        const int64_t Total = Source.Size();
        if (Total < 0) return Fail();
        std::vector<uint8_t> Piece(static_cast<size_t>(PieceSize));
        int64_t Remaining = Total;
        while (Remaining > 0) {
            const int64_t Step = std::min(PieceSize, Remaining);
            Source.ReadBuffer(Piece.data(), Step);
            if (ImageFile->Write(Piece.data(), Step) != Step) return Fail();
            Remaining -= Step;
        }
        ImageFile.reset();
        if (ReadBack) {
            DifferingSector = FirstDifference(Source);
            if (DifferingSector >= 0) return Fail();
        }
        if (!Platform().MoveFileOver(TemporaryName, ImageFileName)) return Fail();
        ForgetTemporaryFile(TemporaryName);
        TemporaryName.clear();
        ImageFileName.clear();
        return true;
    } catch (const std::exception&) {
        return Fail();
    }
}
