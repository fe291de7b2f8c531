#pragma once
// purgex devices: the CD/DVD drives discovery finds. purgex burn: one writer
// row, the disc's contents chosen as for purgex iso.

#include <iosfwd>
#include <string>

#include "cli/MediaOptions.h"

struct TBurnOptions : TMediaOptions {
    // A drive letter ("E:"), a device node ("/dev/sr0"), or the number that
    // purgex devices shows.
    std::string Drive;
    int Copies = 1;
};

constexpr int MaxBurnCopies = 99;

// Exit status 0, also when no drive is found.
int RunDevicesCommand(std::ostream& Out, std::ostream& Err);

// Exit status: 0 every disc was burned (and read back unless NoVerify), 1 not
// (with the message), 2 bad arguments.
int RunBurnCommand(const TBurnOptions& Options, std::istream& In, std::ostream& Out,
                   std::ostream& Err);
