#pragma once
// What purgex's disc-making commands share: the option bits, and the system
// a disc boots when the user leaves the choice to purgex.

#include <iosfwd>
#include <string>

#include "image/DiscTarget.h"
#include "image/WiperOptions.h"

// Twelve '0'/'1' characters into Options; false when Bits is not that.
bool ParseOptionBits(const std::string& Bits, TWiperOptions& Options);

// Where the running system offers MS-DOS: its own files (Windows 9x), the
// image of "DiskCopy.dll", or Folder; empty when nowhere.
std::string OfferedMsDos(const std::string& Folder);

// The disc system for "auto", "msdos" or "rxdos", told on Out.
TDiscSystem ChooseDiscSystem(const std::string& Os, const std::string& MsDosFolder,
                             std::ostream& Out);
