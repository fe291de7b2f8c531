#pragma once
// Scripted answers for the user-interface hook; records every message and
// question in order. Installed for the lifetime of the object.

#include <deque>
#include <string>
#include <vector>

#include "base/UserInterface.h"

class TScriptedUserInterface : public TUserInterface {
public:
    TScriptedUserInterface() { Previous = InstallUserInterface(this); }
    ~TScriptedUserInterface() override { InstallUserInterface(Previous); }
    TScriptedUserInterface(const TScriptedUserInterface&) = delete;
    TScriptedUserInterface& operator=(const TScriptedUserInterface&) = delete;

    // Answers used in order; an exhausted queue answers like a closed box
    // (Retry, the left button, cancelled dialogs).
    std::deque<int> RetryAbortAnswers;
    std::deque<int> AskAnswers;
    std::deque<std::optional<std::string>> SaveFileAnswers;
    std::deque<std::optional<std::string>> FolderAnswers;

    // Every box shown, as "info: text", "retryabort: text", "ask: text [left|right]",
    // "save: name", "folder".
    std::vector<std::string> Log;
    int MessagePumps = 0;

    void MsgInfo(const std::string& Text) override { Log.push_back("info: " + Text); }
    int MsgRetryAbort(const std::string& Text) override {
        Log.push_back("retryabort: " + Text);
        return Take(RetryAbortAnswers, 4);
    }
    int MsgAsk(const std::string& Text, const std::string& Left, const std::string& Right) override {
        Log.push_back("ask: " + Text + " [" + Left + "|" + Right + "]");
        return Take(AskAnswers, 1);
    }
    std::optional<std::string> ChooseSaveFile(const std::string& DefaultName, const std::string&,
                                              const std::string&) override {
        Log.push_back("save: " + DefaultName);
        return Take(SaveFileAnswers, std::optional<std::string>());
    }
    std::optional<std::string> PickSystemFolder() override {
        Log.push_back("folder");
        return Take(FolderAnswers, std::optional<std::string>());
    }
    void ProcessMessages() override { ++MessagePumps; }

private:
    template <class T> static T Take(std::deque<T>& Queue, T Default) {
        if (Queue.empty()) return Default;
        T Value = Queue.front();
        Queue.pop_front();
        return Value;
    }
    TUserInterface* Previous = nullptr;
};
