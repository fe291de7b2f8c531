#include "image/CreationRun.h"

#include <cctype>
#include <cmath>

#include "base/UserInterface.h"
#include "image/Composer.h"
#include "image/ExeData.h"
#include "platform/Platform.h"

const char* const InstallationFailedText = "The installation cannot be completed.";
const char* const DeviceNotReadyText = "The device is not ready. Try again...";
const char* const DiscNotBlankText =
    "The disc in the drive is not blank. Please Insert a blank CD and try again.";
const char* const WriteErrorPrefix = "Error in writing process : ";
const char* const NoMsDosText = "Cannot find Ms-Dos system files.";
const char* const UseRxDosQuestion = "Do you want to use Rx-Dos for this disc?";

void TDSKburningIO::Progress(uint8_t Stage, double Done, double BufferFill) {
    ProcessMessages();
    switch (Stage) {
    case 0:
        Run.SetRunProgress(0.4 * Done);
        break;
    case 1:
    case 2:
        Run.SetRunProgress(0.5 + 0.4 * (1 - BufferFill));
        break;
    default:
        break;
    }
}

void TCreationRun::SetRunProgress(double Fraction) {
    if (MediaTotal > 0) {
        const double Value =
            100.0 * Fraction / MediaTotal + double(100 * int64_t(MediaDone)) / MediaTotal;
        Front.SetGauge(int(std::nearbyint(Value))); // halves to even
    }
    ProcessMessages();
}

// The prompt before a medium; false when the user stops the run.
bool TCreationRun::AskForMedium(const TMediumPrompt& Prompt) {
    if (CoolMsgAsk(Prompt.Kind, Prompt.Text, "OK", "Cancel") != 2) return true;
    return CoolMsgAsk(TQuestion::StopRun, "Do you want to stop the process ?", "Yes", "No") != 1;
}

void TCreationRun::CreateMedia() {
    Front.SetGauge(0);
    MediaTotal = 0;
    for (int Row = 0; Row < Front.RowCount(); ++Row) MediaTotal += Front.RowQuantity(Row);
    MediaDone = 0;

    for (int Row = 0; Row < Front.RowCount(); ++Row) {
        TMediaTarget& Target = Front.RowTarget(Row);
        const int Quantity = Front.RowQuantity(Row);
        for (int Copy = 0; Copy < Quantity; ++Copy) {
            for (;;) {
                if (!AskForMedium(Target.MediumPrompt())) return;
                if (Target.MakeMedium(*this)) break;
            }
            ++MediaDone;
        }
    }
}

void WriteStartupLine(TStream& File, const std::string& Text) {
    std::string Line = Text + "\r\n";
    if (Line.size() > 255) Line.resize(255);
    File.WriteBuffer(Line.data(), int64_t(Line.size()));
}

bool WriteFloppyAutoexec(char DriveLetter, const std::string& CommandLine, bool WithMouse) {
    try {
        const auto File = Platform().CreateFileWrite(std::string(1, DriveLetter) + ":\\Autoexec.bat");
        if (!File) return false;
        std::vector<std::string> Lines = StartupBatchLines(WithMouse, CommandLine);
        if (Lines.back().size() > 255) Lines.back().resize(255);
        for (const std::string& Line : Lines) WriteStartupLine(*File, Line);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

std::string FloppyIniPath() {
    if (DiskStore)
        for (const auto& Item : DiskStore->Items) {
            std::string Name = Item->ItemName;
            for (char& c : Name) c = char(std::toupper(static_cast<unsigned char>(c)));
            if (Name.find("PURGIT.INI") != std::string::npos) return Item->ItemName;
        }
    return "Purgit\\Data\\Purgit.ini";
}

bool WriteFloppyIni(char DriveLetter, const std::string& Options) {
    try {
        const auto File =
            Platform().CreateFileWrite(std::string(1, DriveLetter) + ":\\" + FloppyIniPath());
        if (!File) return false;
        for (const std::string& Line : WiperIniLines(Options)) WriteStartupLine(*File, Line);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}
