#pragma once
// purgex iso: one image-recorder row, the file named on the command line.

#include <iosfwd>
#include <string>

struct TIsoOptions {
    std::string File;
    std::string Os = "auto"; // auto, msdos, rxdos
    std::string MsDosDir;
    std::string Bits;        // twelve '0'/'1', empty for the saved options
    std::string Params;
    bool Yes = false;
    bool NoVerify = false;
};

// Exit status: 0 the file was made, 1 it was not (with the message), 2 bad
// arguments.
int RunIsoCommand(const TIsoOptions& Options, std::istream& In, std::ostream& Out,
                  std::ostream& Err);
