#pragma once
// PURGIT.EFI under QEMU with Debian's OVMF firmware: a stick made by purgex
// usb, booted beside the disks a test names, and its files read back.

#include <string>

#include "TestSupport.h"

namespace testing_support {

inline const std::string Mtools = "MTOOLS_SKIP_CHECK=1 ";

// A 64 MB stick image as purgex writes it: beside the DOS tree it carries
// \EFI\BOOT\BOOTX64.EFI and \EFI\BOOT\PURGIT.ARG (the parameters).
std::string MakeEfiStick(const TScratchDir& Dir, const std::string& Options,
                         const std::string& Params);

struct TUefiRun {
    bool Exited = false; // QEMU ended by itself (the wiper powered off)
    std::string Trace;   // the wiper's lines on port E9h
    std::string Console; // the firmware console, escape sequences removed, and QEMU's messages
};

// Boots the stick (IDE primary master of a PC; a CD if its name ends in
// .iso) with Devices beside it; stops when QEMU ends, the trace or the
// console shows WaitFor, or after Timeout seconds. Extra goes to QEMU as is.
TUefiRun RunOvmf(const TScratchDir& Dir, const std::string& Stick, const std::string& Devices,
                 const std::string& WaitFor, int Timeout, const std::string& Extra = "");

// A file of the stick's FAT volume ("PURG0001.LOG"), through mtools.
std::string ReadStickFile(const std::string& Stick, const std::string& Name);

} // namespace testing_support
