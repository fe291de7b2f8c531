#include "disk/WinFormat.h"

#include <algorithm>
#include <cctype>

#include "disk/ConsoleMNGR.h"

namespace {

std::string Upper(std::string Text) {
    std::transform(Text.begin(), Text.end(), Text.begin(),
                   [](unsigned char c) { return char(std::toupper(c)); });
    return Text;
}

bool Has(const std::string& Text, const char* Word) {
    return Text.find(Word) != std::string::npos;
}

// The number a "percent" line starts with, 0 when it starts otherwise.
int LeadingPercent(const std::string& Line) {
    const size_t Start = Line.find_first_not_of("\t\n\r ");
    if (Start == std::string::npos) return 0;
    const size_t Space = Line.find(' ', Start);
    if (Space == std::string::npos) return 0;
    int Value = 0;
    for (size_t i = Start; i < Space && std::isdigit(static_cast<unsigned char>(Line[i])); ++i)
        Value = std::min(Value * 10 + (Line[i] - '0'), 1000000);
    return Value;
}

} // namespace

std::string FormatCommandLine(char Drive, bool System) {
    const std::string Comspec = Platform().EnvironmentVariable("comspec").value_or("");
    return Comspec + " /c format " + Drive + ": /u" + (System ? " /s" : "");
}

uint8_t FormatFloppy(char Drive, bool System, const TFormatProgress& Progress) {
    const double Divisor = System ? 120 : 100;
    double Fraction = 0;
    uint8_t Result = 3;
    TConsoleApp App(FormatCommandLine(Drive, System));
    if (App.State != 2) return 0;
    const auto Tell = [&](const std::string& Text, double Value) {
        if (Progress) Progress(Text, Value);
    };

    while (!App.Finished()) {
        Tell("", Fraction);
        if (!App.Poll()) {
            Platform().Sleep(FormatIdleWaitMs);
            continue;
        }
        std::string Line;
        App.TakeLine(Line);
        std::string Shown = Line;
        if (Has(Upper(Line), "PERCENT")) Fraction = LeadingPercent(Line) / Divisor;
        Tell(Shown, Fraction);
        if (Shown.empty()) App.PeekLine(Shown);
        const std::string Words = Upper(Shown);
        if (Has(Words, "NOT READY")) Result = 1;
        if (Has(Words, "BAD SECTOR")) Result = 2;
        if (Has(Words, "ERROR")) Result = 1;
        if (Has(Words, "ENTER")) {
            Tell(Shown, Fraction);
            App.SkipPrompt();
            App.WriteInput("\r\n");
        }
        if (Has(Words, "Y/N")) {
            Tell(Shown, Fraction);
            App.SkipPrompt();
            App.WriteInput(Has(Words, "DISMOUNT") ? "y\r\n" : "n\r\n");
        }
        // A pass that took no whole line waits for the rest of it.
        if (Line.empty()) Platform().Sleep(FormatIdleWaitMs);
    }
    if (App.ExitCode() != 0) return 1;
    // What the child wrote just before it ended.
    App.Poll();
    std::string Line;
    App.TakeLine(Line);
    Tell(Line, 1.0);
    return Result;
}
