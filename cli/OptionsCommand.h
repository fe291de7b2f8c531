#pragma once
// purgex options: the twelve wiping options where the wizard keeps them, so
// both front ends share one set of choices.

#include <iosfwd>
#include <string>

#include "image/WiperOptions.h"

// Twelve characters '0' or '1', one per option in option order.
bool ParseOptionBits(const std::string& Bits, TWiperOptions& Options);

// Lists the options with their captions and saved states; with SetBits,
// saves those states first. Exit status: 0 done, 1 the settings could not be
// read or written, 2 bad bits.
int RunOptionsCommand(const std::string& SetBits, std::ostream& Out, std::ostream& Err);
