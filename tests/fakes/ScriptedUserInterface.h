#pragma once
// Scripted answers for the user-interface hook; records every message and
// question in order. Installed for the lifetime of the object.

#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "base/UserInterface.h"

struct TScriptExhausted {};

class TScriptedUserInterface : public TUserInterface {
public:
    TScriptedUserInterface() { Previous = InstallUserInterface(this); }
    ~TScriptedUserInterface() override { InstallUserInterface(Previous); }
    TScriptedUserInterface(const TScriptedUserInterface&) = delete;
    TScriptedUserInterface& operator=(const TScriptedUserInterface&) = delete;

    // Answers used in order. A question with no answer left fails the test
    // and raises TScriptExhausted (no std::exception, so the code under test
    // cannot take it for a device fault and ask again): a run that keeps
    // asking ends instead of looping. Answer a closed box explicitly (Retry
    // 4, the left button 1, an empty optional).
    std::deque<int> RetryAbortAnswers;
    std::deque<int> AskAnswers;
    std::deque<std::optional<std::string>> SaveFileAnswers;
    std::deque<std::optional<std::string>> FolderAnswers;

    // Every box shown, as "info: text", "retryabort: text", "ask: text [left|right]",
    // "save: name", "folder".
    std::vector<std::string> Log;
    // The kind of every question asked, in order.
    std::vector<TQuestion> AskedKinds;
    int MessagePumps = 0;

    void MsgInfo(const std::string& Text) override { Log.push_back("info: " + Text); }
    int MsgRetryAbort(const std::string& Text) override {
        Log.push_back("retryabort: " + Text);
        return Take(RetryAbortAnswers);
    }
    int MsgAsk(TQuestion Kind, const std::string& Text, const std::string& Left,
               const std::string& Right) override {
        Log.push_back("ask: " + Text + " [" + Left + "|" + Right + "]");
        AskedKinds.push_back(Kind);
        return Take(AskAnswers);
    }
    std::optional<std::string> ChooseSaveFile(const std::string& DefaultName, const std::string&,
                                              const std::string&) override {
        Log.push_back("save: " + DefaultName);
        return Take(SaveFileAnswers);
    }
    std::optional<std::string> PickSystemFolder() override {
        Log.push_back("folder");
        return Take(FolderAnswers);
    }
    void ProcessMessages() override { ++MessagePumps; }

private:
    template <class T> T Take(std::deque<T>& Queue) {
        if (Queue.empty()) {
            ADD_FAILURE() << "no scripted answer left for \"" << Log.back() << "\"";
            throw TScriptExhausted();
        }
        T Value = Queue.front();
        Queue.pop_front();
        return Value;
    }
    TUserInterface* Previous = nullptr;
};
