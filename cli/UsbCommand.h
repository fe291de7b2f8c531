#pragma once
// purgex usb: one stick row, the disk or image file named on the command
// line, written copy after copy.

#include <cstdint>
#include <iosfwd>
#include <string>

#include "cli/MediaOptions.h"
#include "image/StickTarget.h"

struct TUsbOptions : TMediaOptions {
    std::string Target; // a disk (/dev/sdb; E: or PhysicalDrive2 on Windows) or an image file
    int Copies = 1;
    uint64_t Size = DefaultStickImageBytes; // of an image file made anew
    bool AnyDisk = false;                   // may write a disk neither removable nor USB
};

// Exit status: 0 every copy was made, 1 not (with the message, or the user
// said no), 2 bad arguments or a target that may not be written (left
// untouched).
int RunUsbCommand(const TUsbOptions& Options, std::istream& In, std::ostream& Out,
                  std::ostream& Err);

constexpr int MaxUsbCopies = 99;
// The option that lets purgex write a disk that is neither removable nor
// attached through USB; long on purpose.
constexpr const char* AnyDiskOption = "--write-to-a-disk-that-is-not-removable";
