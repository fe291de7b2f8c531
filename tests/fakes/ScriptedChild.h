#pragma once
// A child process for the test machine: hands out its output in the
// chunks given, one chunk per read, records what it is sent, and ends with
// the chosen exit code once its output is taken.

#include <deque>
#include <string>

#include "platform/Platform.h"

class TScriptedChild : public TChildProcess {
public:
    TScriptedChild(std::deque<std::string> Chunks, uint32_t Code, std::string* Input)
        : Chunks(std::move(Chunks)), Code(Code), Input(Input) {}
    std::string ReadAvailable() override {
        if (Chunks.empty()) return {};
        std::string Text = Chunks.front();
        Chunks.pop_front();
        return Text;
    }
    bool WriteInput(std::string_view Text) override {
        if (Input) Input->append(Text);
        return true;
    }
    bool Finished() override { return Chunks.empty(); }
    uint32_t ExitCode() override { return Chunks.empty() ? Code : 259; }

private:
    std::deque<std::string> Chunks;
    uint32_t Code;
    std::string* Input;
};
