#pragma once
// What every backend checks before a whole disk is written, and how a disk is
// named to a person. Portable: used by the POSIX and Windows stick layers and
// by the front ends' listings.

#include <cstdint>
#include <string>

#include "platform/Platform.h"

// Why Device may not be written, as words that follow its node
// ("/dev/sdb is read-only (write-protected)"); empty when it may. A backend
// that locks and dismounts volumes itself passes MountsRefused false.
std::string StickRefusal(const TStickDevice& Device, bool AnyDisk, bool MountsRefused);

// Windows names its disks \\.\PhysicalDriveN, and its backend locks and
// dismounts their volumes for the write; elsewhere a mounted file system
// refuses the disk.
bool VolumesLockedForWrite(const TStickDevice& Device);

// "16.0 GB", "512 MB": decimal units, as sticks are sold.
std::string StickSizeText(uint64_t Bytes);

// "SanDisk Cruzer Blade", or "(no name)" when the system gave none.
std::string StickName(const TStickDevice& Device);
