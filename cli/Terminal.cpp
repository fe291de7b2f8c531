#include "cli/Terminal.h"

#include "base/TemporaryFiles.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>

bool StandardInputIsTerminal() { return _isatty(0) != 0; }
bool StandardErrorIsTerminal() { return _isatty(2) != 0; }

namespace {

void RemoveNow(const char* Path) { DeleteFileA(Path); }

// Runs on a thread of its own; files are opened with delete sharing, so the
// temporary file goes even while the main thread still writes it.
BOOL WINAPI OnControl(DWORD Event) {
    ForEachTemporaryFile(RemoveNow);
    ExitProcess(Event == CTRL_C_EVENT || Event == CTRL_BREAK_EVENT ? 130 : 143);
    return TRUE;
}

} // namespace

void InstallInterruptHandlers() { SetConsoleCtrlHandler(OnControl, TRUE); }

#else
#include <csignal>
#include <cstring>
#include <unistd.h>

bool StandardInputIsTerminal() { return isatty(0) != 0; }
bool StandardErrorIsTerminal() { return isatty(2) != 0; }

namespace {

// Only calls that are safe in a signal handler: the path is copied into a
// local buffer with Windows separators turned round, then unlinked.
void RemoveNow(const char* Path) {
    char Host[4096];
    size_t i = 0;
    for (; Path[i] && i + 1 < sizeof Host; ++i) Host[i] = Path[i] == '\\' ? '/' : Path[i];
    Host[i] = '\0';
    ::unlink(Host);
}

void OnSignal(int Signal) {
    ForEachTemporaryFile(RemoveNow);
    _exit(128 + Signal);
}

} // namespace

void InstallInterruptHandlers() {
    struct sigaction Action;
    std::memset(&Action, 0, sizeof Action);
    Action.sa_handler = OnSignal;
    sigemptyset(&Action.sa_mask);
    // Further signals wait while the handler removes files; it never returns.
    sigaddset(&Action.sa_mask, SIGINT);
    sigaddset(&Action.sa_mask, SIGTERM);
    sigaddset(&Action.sa_mask, SIGHUP);
    for (int Signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(Signal, &Action, nullptr);
}
#endif
