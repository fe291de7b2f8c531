#include "optical/ImageRecorder.h"

#include <algorithm>
#include <exception>
#include <vector>

#include "base/UserInterface.h"
#include "platform/Platform.h"

bool TimageRecorder::CheckReady(TDeviceStatus& Status) {
    Status.DiscState = 0;
    // A file left open by an earlier check that was never burned is dropped,
    // so a cancelled dialog cannot leave the old choice armed.
    ImageFile.reset();
    ImageFileName.clear();
    try {
        const auto Path = UserInterface().ChooseSaveFile("Purgit.ISO", "ISO", "*.ISO");
        if (!Path || Path->empty()) return false;
        ImageFile = Platform().CreateFileWrite(*Path);
        if (!ImageFile) return false;
        ImageFileName = *Path;
        return true;
    } catch (const std::exception&) {
        ImageFile.reset();
        return false;
    }
}

bool TimageRecorder::Burn(TBurnError& Error, TStream& Source, TBurningIO* /*Observer*/) {
    const auto Fail = [&] {
        ImageFile.reset();
        Error.Step = BurnStepWrite;
        Error.ScsiResult = 0;
        return false;
    };
    if (!ImageFile) return Fail();
    try {
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
        return true;
    } catch (const std::exception&) {
        return Fail();
    }
}
