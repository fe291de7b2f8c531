#pragma once
// purgex iso: one image-recorder row, the file named on the command line.

#include <iosfwd>
#include <string>

#include "cli/MediaOptions.h"

struct TIsoOptions : TMediaOptions {
    std::string File;
};

// Exit status: 0 the file was made, 1 it was not (with the message), 2 bad
// arguments.
int RunIsoCommand(const TIsoOptions& Options, std::istream& In, std::ostream& Out,
                  std::ostream& Err);
