#pragma once
// TConsoleApp: one run of one console command, its standard input, output
// and error on pipes; reads never block, output is taken line by line.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Platform.h"

class TConsoleApp {
public:
    // Starts the child at once; State tells how far it got.
    explicit TConsoleApp(const std::string& ChildCommand);

    // 0 a pipe could not be made, 1 the process could not be started, 2 started.
    uint8_t State = 0;
    std::string ChildCommand;
    uint32_t LastError = 0;
    // Read from the child, not yet consumed.
    std::string Output;

    bool Finished();
    uint32_t ExitCode();
    void ReadAvailable(std::string& Text);
    void WriteInput(const std::string& Text);
    // Takes what is waiting into Output; true when Output holds anything.
    bool Poll();
    // Output up to its first CR, trimmed; empty (Output unchanged) with no CR.
    void TakeLine(std::string& Line);
    // The same without consuming; with no CR the whole of Output.
    void PeekLine(std::string& Line);
    // Drops Output's first CR, or all of Output when it has none.
    void SkipPrompt();

private:
    std::unique_ptr<TChildProcess> Child;
};

// Trims TAB, LF, CR and space at both ends.
std::string TrimConsole(const std::string& Text);
