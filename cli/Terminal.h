#pragma once
// Whether the standard streams are a terminal (prompts and the progress bar
// are for people only).
bool StandardInputIsTerminal();
bool StandardErrorIsTerminal();
