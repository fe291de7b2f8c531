#pragma once
// Console answers for the user-interface hook of purgex. Interactive on a
// terminal; otherwise (or with --yes) every prompt is answered with its
// first choice, except that a question asked again in the same run gets its
// second choice, so a medium that keeps failing ends the run instead of
// looping forever. When the input ends, the box counts as closed and from
// then on the console answers as without a terminal, so every run ends.

#include <functional>
#include <iosfwd>
#include <map>
#include <optional>
#include <string>

#include "base/UserInterface.h"

class TConsoleUserInterface : public TUserInterface {
public:
    TConsoleUserInterface(std::istream& In, std::ostream& Out, bool Interactive)
        : In(In), Out(Out), Interactive(Interactive) {}

    // The file the image recorder saves to (instead of a save dialog).
    std::string SaveFile;
    // The folder offered as MS-DOS system folder (instead of the picker).
    std::string SystemFolder;

    void MsgInfo(const std::string& Text) override;
    int MsgRetryAbort(const std::string& Text) override;
    int MsgAsk(TQuestion Kind, const std::string& Text, const std::string& LeftCaption,
               const std::string& RightCaption) override;
    std::optional<std::string> ChooseSaveFile(const std::string& DefaultName,
                                              const std::string& DefaultExtension,
                                              const std::string& Filter) override;
    std::optional<std::string> PickSystemFolder() override;

    // The last message shown (for the exit message of a failed run).
    std::string LastMessage;
    // Called before anything is written, so a progress line can be ended.
    std::function<void()> BeforeOutput;
    // The input has ended.
    bool InputClosed() const { return Closed; }

private:
    // One trimmed line; false at the end of input (which ends interaction).
    bool ReadLine(std::string& Line);
    // 1 for the first choice, 2 for the second.
    int Choose(const std::string& Text, const std::string& First, const std::string& Second);

    std::istream& In;
    std::ostream& Out;
    bool Interactive;
    bool Closed = false;
    std::map<std::string, int> Asked;
    int SaveDialogs = 0;
};

// Passes every call on to the console; a command's prompts derive from it
// and change only the medium question (naming the target and the copy).
class TConsolePrompts : public TUserInterface {
public:
    explicit TConsolePrompts(TConsoleUserInterface& Console) : Console(Console) {}
    void MsgInfo(const std::string& Text) override { Console.MsgInfo(Text); }
    int MsgRetryAbort(const std::string& Text) override { return Console.MsgRetryAbort(Text); }
    int MsgAsk(TQuestion Kind, const std::string& Text, const std::string& Left,
               const std::string& Right) override {
        return Console.MsgAsk(Kind, Text, Left, Right);
    }
    std::optional<std::string> ChooseSaveFile(const std::string& Name, const std::string& Ext,
                                              const std::string& Filter) override {
        return Console.ChooseSaveFile(Name, Ext, Filter);
    }
    std::optional<std::string> PickSystemFolder() override { return Console.PickSystemFolder(); }
    void ProcessMessages() override { Console.ProcessMessages(); }

protected:
    TConsoleUserInterface& Console;
};

// Both system files in Folder, with the names looked up as Windows would.
bool HoldsMsDosSystem(const std::string& Folder);
