#pragma once
// Boots a floppy or CD image in QEMU (qemu-system-i386, SeaBIOS, no display)
// and reads the text screen through the monitor's pmemsave of 0xB8000.
// Native builds only.

#include <string>

namespace testing_support {

struct TQemuOptions {
    std::string Floppy;         // raw 1.44 MB image for drive A: (opened read-only)
    std::string Cdrom;          // ISO image
    bool BootFromCd = false;    // otherwise boot from the floppy
    std::string WaitForText;    // stop as soon as the screen shows this
    int TimeoutSeconds = 60;    // stop anyway after this long
    std::string ExtraArguments; // appended to the command line as is
};

struct TQemuResult {
    bool Started = false;
    bool SawText = false;   // WaitForText appeared
    bool Exited = false;    // the guest ended QEMU (isa-debug-exit) or QEMU died
    int DebugExitCode = -1; // value (1-127) the guest wrote to port 0xF4, when it did
    std::string Screen;     // the last text screen read, 25 lines of 80 characters
    std::string Log;        // QEMU's own output
};

// The isa-debug-exit device sits at port 0xF4 (one byte): writing V ends QEMU
// with status V * 2 + 1, reported back here as DebugExitCode V. A guest's 0
// (status 1) cannot be told from QEMU failing to start, so it is never
// reported: guests signal success with a value of their own.
TQemuResult RunQemu(const TQemuOptions& Options);

// What the test guests write to the debug-exit port when every check passed.
constexpr int TestIoPassed = 33;     // the test IO.SYS of the MS-DOS boot record
constexpr int Int21TestPassed = 127; // INT21TST.EXE

} // namespace testing_support
