#include "disk/DosBoot.h"

#include <string>

#include "base/Stream.h"
#include "disk/DiskCopy.h"
#include "disk/WinFormat.h"
#include "platform/Platform.h"

const char* const MeMsDosSysText = "BootGui=0\r\n";

namespace {

// Copies Source byte for byte into a new file Target; raises on any failure.
void CopyFileOver(const std::string& Source, const std::string& Target) {
    const auto In = Platform().OpenFileRead(Source);
    if (!In) throw EStreamError("cannot open " + Source);
    const auto Out = Platform().CreateFileWrite(Target);
    if (!Out) throw EStreamError("cannot create " + Target);
    Out->CopyFrom(*In, In->Size());
}

} // namespace

void TMsDosBootFloppyCreator::RelayFormatProgress(double Fraction) {
    if (Callback) Callback(Fraction);
}

void TMsDosBootFloppyCreator::RelayScaledProgress(double Fraction) {
    if (Callback) Callback(Fraction / 1.2);
}

void TMsDosBootFloppyCreator::RelayImageProgress(double Fraction) {
    if (Callback) Callback(Fraction);
}

// Procedure A.
uint8_t TMsDosBootFloppyCreator::FormatWithSystem(char Drive) {
    const uint8_t r = FormatFloppy(Drive, true, [this](const std::string&, double Fraction) {
        RelayFormatProgress(Fraction);
    });
    return r == 3 ? 0 : 1;
}

// Procedure B.
uint8_t TMsDosBootFloppyCreator::FormatAndCopyEbd(char Drive) {
    const uint8_t r = FormatFloppy(Drive, false, [this](const std::string&, double Fraction) {
        RelayScaledProgress(Fraction);
    });
    if (r != 3) return 1;
    const std::string Ebd = Platform().WindowsDirectory() + "\\Command\\Ebd\\";
    const std::string Root = std::string(1, Drive) + ":\\";
    try {
        CopyFileOver(Ebd + "io.sys", Root + "io.sys");
        RelayScaledProgress(1.08);
        CopyFileOver(Ebd + "Command.com", Root + "Command.com");
        RelayScaledProgress(1.15);
        const auto Config = Platform().CreateFileWrite(Root + "MsDos.sys");
        if (!Config) throw EStreamError("cannot create MsDos.sys");
        Config->WriteBuffer(MeMsDosSysText, 11);
        RelayScaledProgress(1.2);
    } catch (const std::exception&) {
        return 2;
    }
    return 0;
}

uint8_t TMsDosBootFloppyCreator::Run(char Drive, TBootProgress Progress) {
    Callback = Progress;
    const TWindowsVersion v = Platform().Version();
    const auto Is = [&](uint32_t Id, uint32_t Major, uint32_t Minor) {
        return v == TWindowsVersion{Id, Major, Minor};
    };
    const auto Image = [this](char Letter) {
        return CopyBootImage(Letter, [this](double Fraction) { RelayImageProgress(Fraction); });
    };
    if (Is(1, 4, 0) || Is(1, 4, 10)) return FormatWithSystem(Drive);
    if (Is(1, 4, 90)) return FormatAndCopyEbd(Drive);
    if (Is(2, 5, 1) || Is(2, 5, 2)) {
        const uint8_t r = Image(Drive);
        return r == 0 ? 0 : r == 1 ? 2 : 1;
    }
    if (Is(2, 3, 51) || Is(2, 4, 0) || Is(2, 5, 0)) return 3;
    const uint8_t r = Image(Drive);
    if (r == 0) return 0;
    if (r == 2) return 1;
    return FormatWithSystem(Drive);
}

uint8_t CreateMsDosBootFloppy(char Drive, TBootProgress Callback) {
    TMsDosBootFloppyCreator Creator;
    return Creator.Run(Drive, Callback);
}
