#include "cli/ConsoleUserInterface.h"

#include <cctype>
#include <iostream>

#include "platform/Platform.h"

namespace {

// Message texts separate lines with a lone carriage return.
std::string Printable(std::string Text) {
    for (char& c : Text)
        if (c == '\r') c = '\n';
    return Text;
}

} // namespace

bool HoldsMsDosSystem(const std::string& Folder) {
    return Platform().FileExists(Folder + "Io.sys") && Platform().FileExists(Folder + "command.com");
}

int TConsoleUserInterface::Choose(const std::string& Text, const std::string& First,
                                  const std::string& Second) {
    if (BeforeOutput) BeforeOutput();
    Out << Printable(Text);
    if (!Interactive) {
        const int Answer = Asked[Text]++ == 0 ? 1 : 2;
        Out << " [" << (Answer == 1 ? First : Second) << "]\n";
        return Answer;
    }
    for (;;) {
        Out << " [" << First << "/" << Second << ", Enter = " << First << "] " << std::flush;
        std::string Line;
        if (!std::getline(In, Line)) return 2;
        while (!Line.empty() && std::isspace(static_cast<unsigned char>(Line.back()))) Line.pop_back();
        if (Line.empty()) return 1;
        auto Matches = [&](const std::string& Caption) {
            return std::tolower(static_cast<unsigned char>(Line[0])) ==
                   std::tolower(static_cast<unsigned char>(Caption[0]));
        };
        if (Matches(First)) return 1;
        if (Matches(Second)) return 2;
        Out << Printable(Text);
    }
}

void TConsoleUserInterface::MsgInfo(const std::string& Text) {
    if (BeforeOutput) BeforeOutput();
    LastMessage = Printable(Text);
    Out << LastMessage << "\n";
}

int TConsoleUserInterface::MsgRetryAbort(const std::string& Text) {
    LastMessage = Printable(Text);
    return Choose(Text, "Retry", "Abort") == 1 ? 4 : 3;
}

int TConsoleUserInterface::MsgAsk(const std::string& Text, const std::string& LeftCaption,
                                  const std::string& RightCaption) {
    return Choose(Text, LeftCaption, RightCaption);
}

std::optional<std::string> TConsoleUserInterface::ChooseSaveFile(const std::string&,
                                                                 const std::string&,
                                                                 const std::string&) {
    // The file comes from the command line; asking again means the last save
    // failed, and without a person to fix that, the answer is to cancel.
    if (!Interactive && SaveDialogs++ > 0) return std::nullopt;
    return SaveFile;
}

std::optional<std::string> TConsoleUserInterface::PickSystemFolder() {
    if (SystemFolder.empty()) return std::nullopt;
    if (!HoldsMsDosSystem(SystemFolder)) {
        MsgInfo("There is no system files.");
        return std::nullopt;
    }
    return SystemFolder;
}
