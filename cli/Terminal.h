#pragma once
// Whether the standard streams are a terminal (prompts and the progress bar
// are for people only), and how an interrupted purgex ends.
bool StandardInputIsTerminal();
bool StandardErrorIsTerminal();

// Ctrl-C (and Ctrl-Break, a closed console window), SIGTERM and SIGHUP end
// the program at once with status 128 + signal (130 for Ctrl-C, 143 for
// SIGTERM), after removing every file noted in base/TemporaryFiles.h.
void InstallInterruptHandlers();
