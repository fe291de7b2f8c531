#pragma once
// Formats a floppy with the system's own format command run in a hidden
// console, answering its prompts and reading its progress lines.

#include <cstdint>
#include <functional>
#include <string>

// Text shown by the command (may be empty) and the fraction done.
using TFormatProgress = std::function<void(const std::string& Text, double Fraction)>;

// 0 the command could not be started; 1 failure ("NOT READY", "ERROR" or a
// non-zero exit code); 2 bad sectors were the last error seen; 3 success.
uint8_t FormatFloppy(char Drive, bool System, const TFormatProgress& Progress);

// The command line: comspec + " /c format " + drive + ": /u" [+ " /s"].
std::string FormatCommandLine(char Drive, bool System);

// A pass that found nothing waits this long before the next (the child runs
// on; the caller's window stays alive through Progress meanwhile).
constexpr uint32_t FormatIdleWaitMs = 20;
