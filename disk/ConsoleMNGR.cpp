#include "disk/ConsoleMNGR.h"

namespace {
const char* const TrimSet = "\t\n\r ";
}

std::string TrimConsole(const std::string& Text) {
    const size_t Start = Text.find_first_not_of(TrimSet);
    if (Start == std::string::npos) return {};
    return Text.substr(Start, Text.find_last_not_of(TrimSet) - Start + 1);
}

TConsoleApp::TConsoleApp(const std::string& Command) : ChildCommand(Command) {
    Child = Platform().StartProcess(ChildCommand);
    LastError = Platform().LastError();
    // Pipes and process come up together here; a refusal is a failed start.
    State = Child ? 2 : 1;
}

bool TConsoleApp::Finished() {
    return State == 2 && Child->Finished();
}

uint32_t TConsoleApp::ExitCode() {
    return State == 2 ? Child->ExitCode() : 0;
}

void TConsoleApp::ReadAvailable(std::string& Text) {
    Text = State == 2 ? Child->ReadAvailable() : std::string();
}

void TConsoleApp::WriteInput(const std::string& Text) {
    if (State == 2) Child->WriteInput(Text);
}

bool TConsoleApp::Poll() {
    std::string Text;
    ReadAvailable(Text);
    Output += Text;
    return !Output.empty();
}

void TConsoleApp::TakeLine(std::string& Line) {
    const size_t Cr = Output.find('\r');
    if (Cr == std::string::npos) {
        Line.clear();
        return;
    }
    Line = TrimConsole(Output.substr(0, Cr + 1));
    Output.erase(0, Cr + 1);
}

void TConsoleApp::PeekLine(std::string& Line) {
    const size_t Cr = Output.find('\r');
    Line = TrimConsole(Cr == std::string::npos ? Output : Output.substr(0, Cr + 1));
}

void TConsoleApp::SkipPrompt() {
    const size_t Cr = Output.find('\r');
    if (Cr == std::string::npos)
        Output.clear();
    else
        Output.erase(Cr, 1);
}
