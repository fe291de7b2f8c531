#pragma once
// The disc target: the boot floppy of one disc, built in memory from the CD
// store. A new, empty floppy is made for every attempt at a disc.

#include <memory>
#include <string>

#include "floppy/Vfloppy.h"

// Which system a disc boots.
enum class TDiscSystem {
    MsDosOrAsk, // MS-DOS; when it cannot be placed, ask whether to use Rx-DOS
    MsDos,      // MS-DOS only
    RxDos,      // the embedded Rx-DOS floppy
};

class TDiscTarget {
public:
    std::unique_ptr<TVirtualFloppy> DiscFloppy = std::make_unique<TVirtualFloppy>();

    // Places the MS-DOS system in DiscFloppy; true when its files are there.
    bool PrepareDiscImage();
    // Loads the embedded Rx-DOS boot floppy into DiscFloppy instead.
    bool PrepareRxDosImage();
    // The wiper's files and the start-up files from the choices.
    bool ComposeDiscFiles(bool WithMouse, const std::string& OptionString,
                          const std::string& CommandLine);
};
