#include "cli/Terminal.h"

#ifdef _WIN32
#include <io.h>
bool StandardInputIsTerminal() { return _isatty(0) != 0; }
bool StandardErrorIsTerminal() { return _isatty(2) != 0; }
#else
#include <unistd.h>
bool StandardInputIsTerminal() { return isatty(0) != 0; }
bool StandardErrorIsTerminal() { return isatty(2) != 0; }
#endif
