#pragma once
// USB sticks on Linux: whole disks found in sysfs, their mounts from
// mountinfo, opened exclusively for writing; and image files standing for a
// disk. The sysfs root and the mountinfo file are parameters so that the
// decisions can be checked on a tree built elsewhere.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"

// Windows error codes the stick layer answers with, beside those of PosixScsi.h.
constexpr uint32_t StickErrorSectorNotFound = 27, StickErrorWriteProtect = 19,
                   StickErrorDiskFull = 112, StickErrorBusy = 170;

// One line of mountinfo: the device number, the source and where it is mounted.
struct TMountEntry {
    uint32_t Major = 0, Minor = 0;
    std::string MountPoint; // escapes (\040 and the like) decoded
    std::string Source;     // "/dev/sdb1", "tmpfs", ...
};

// "a\040b" -> "a b": the kernel's octal escapes of space, tab, newline, backslash.
std::string DecodeMountEscapes(std::string_view Text);
std::vector<TMountEntry> ParseMountInfo(std::string_view Text);

// Where the sysfs tree and the mount table are.
struct TStickSources {
    std::string SysRoot = "/sys";
    std::string MountInfo = "/proc/self/mountinfo";
};

// Every whole disk under SysRoot/block that may stand for a stick (not
// loop, ram, zram, dm, md, sr or fd devices), described; the caller filters.
std::vector<TStickDevice> ScanWholeDisks(const TStickSources& Sources);
// StickDevices: the disks the kernel calls removable or that hang off USB,
// never the one holding the running system.
std::vector<TStickDevice> ListSticks(const TStickSources& Sources);
// The whole disk of block device number Major:Minor, named Node; a partition
// is refused with Problem naming its whole disk.
std::optional<TStickDevice> DescribeBlockDevice(const TStickSources& Sources, uint32_t Major,
                                                uint32_t Minor, const std::string& Node,
                                                std::string& Problem);
// DescribeStick: a block device node (or a link to one), or a regular file.
std::optional<TStickDevice> DescribePosixStick(const TStickSources& Sources, std::string_view Node,
                                               std::string& Problem);
// Why Device may not be written; empty when it may.
std::string StickRefusal(const TStickDevice& Device, bool AnyDisk);
// OpenStick: checked again against a fresh description, then opened with
// O_EXCL. Failed calls of the handle set Error.
std::unique_ptr<TDiskHandle> OpenPosixStick(const TStickSources& Sources,
                                            const TStickDevice& Device, bool AnyDisk,
                                            uint32_t& Error, std::string& Problem);
std::unique_ptr<TDiskHandle> OpenPosixDiskImage(std::string_view Path, uint64_t CreateBytes,
                                                uint32_t& Error, std::string& Problem);
// The Windows error code for an errno of a disk transfer.
uint32_t StickErrorOf(int Errno);
// The system's text for the codes this layer and PosixScsi answer with;
// empty for others.
std::string PosixErrorText(uint32_t Code);
