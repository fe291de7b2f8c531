#pragma once
// purgex floppy: one floppy row, the drive or image file named on the
// command line, written copy after copy.

#include <iosfwd>
#include <string>

#include "cli/MediaOptions.h"

struct TFloppyOptions : TMediaOptions {
    std::string Target; // a device node, an image file, or A:/B: on Windows
    int Copies = 1;
};

// Exit status: 0 every copy was made, 1 not (with the message), 2 bad
// arguments or an unusable target (left untouched).
int RunFloppyCommand(const TFloppyOptions& Options, std::istream& In, std::ostream& Out,
                     std::ostream& Err);

constexpr int MaxFloppyCopies = 99;
