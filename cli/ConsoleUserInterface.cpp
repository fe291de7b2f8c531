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

bool TConsoleUserInterface::ReadLine(std::string& Line) {
    if (!std::getline(In, Line)) {
        // A closed input is a closed box, and nobody is left to answer.
        Out << "\n(end of input)\n";
        Interactive = false;
        Closed = true;
        return false;
    }
    while (!Line.empty() && std::isspace(static_cast<unsigned char>(Line.back()))) Line.pop_back();
    while (!Line.empty() && std::isspace(static_cast<unsigned char>(Line.front()))) Line.erase(0, 1);
    return true;
}

int TConsoleUserInterface::Choose(const std::string& Text, const std::string& First,
                                  const std::string& Second) {
    if (BeforeOutput) BeforeOutput();
    Out << Printable(Text);
    if (Interactive) {
        for (;;) {
            Out << " [" << First << "/" << Second << ", Enter = " << First << "] " << std::flush;
            std::string Line;
            if (!ReadLine(Line)) break;
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
    const int Answer = Asked[Text]++ == 0 ? 1 : 2;
    Out << " [" << (Answer == 1 ? First : Second) << "]\n";
    return Answer;
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

int TConsoleUserInterface::MsgAsk(TQuestion, const std::string& Text,
                                  const std::string& LeftCaption, const std::string& RightCaption) {
    return Choose(Text, LeftCaption, RightCaption);
}

std::optional<std::string> TConsoleUserInterface::ChooseSaveFile(const std::string&,
                                                                 const std::string&,
                                                                 const std::string&) {
    // The file comes from the command line; asking again means the last save
    // failed. Without a person to fix that, the answer is to cancel; a person
    // names another file (or none).
    if (SaveDialogs++ == 0 && !SaveFile.empty()) return SaveFile;
    if (!Interactive) return std::nullopt;
    if (BeforeOutput) BeforeOutput();
    Out << "Save the image as (empty to cancel): " << std::flush;
    std::string Line;
    if (!ReadLine(Line) || Line.empty()) return std::nullopt;
    SaveFile = Line;
    return SaveFile;
}

std::optional<std::string> TConsoleUserInterface::PickSystemFolder() {
    if (!SystemFolder.empty()) {
        if (HoldsMsDosSystem(SystemFolder)) return SystemFolder;
        MsgInfo("There is no system files.");
    }
    // As the picker's window does: a folder without both files is refused
    // and the question stays open until a good one or none is given.
    while (Interactive) {
        if (BeforeOutput) BeforeOutput();
        Out << "Folder holding the MS-DOS system files Io.sys and command.com (empty to cancel): "
            << std::flush;
        std::string Folder;
        if (!ReadLine(Folder) || Folder.empty()) return std::nullopt;
        if (Folder.back() != '/' && Folder.back() != '\\') Folder += '/';
        if (HoldsMsDosSystem(Folder)) {
            SystemFolder = Folder;
            return SystemFolder;
        }
        MsgInfo("There is no system files.");
    }
    return std::nullopt;
}
