#pragma once
// CD/DVD drives on Linux: the /dev/sr* nodes are offered as drive letters
// from D: on; an opened node is the drive itself (see PosixSgDrive.h).

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"
#include "platform/posix/PosixSgDrive.h"

// Windows error codes the layer answers with.
constexpr uint32_t PosixErrorAccessDenied = 5, PosixErrorInvalidParameter = 87,
                   PosixErrorNotSupported = 50, PosixErrorDeviceNotConnected = 1167,
                   PosixErrorIoDevice = 1117, PosixErrorFileNotFound = 2, PosixErrorTimeout = 121;

// The Windows error code for an errno of open or ioctl.
uint32_t WindowsErrorOf(int Errno);

// "\\.\D:" -> "/dev/sr0"; empty when Name is no CD/DVD drive letter.
std::string ScsiNodeOf(std::string_view Name);

// Drive letter bits of the /dev/sr* nodes present.
uint32_t ScsiDriveMask();
// QueryDosDevice of "D:": the node, when it exists.
std::vector<std::string> ScsiDosDevice(std::string_view DeviceName);
// Opens Node as a drive, for reading and writing when Access asks to write
// (the kernel refuses commands that write on a node opened read-only); null
// with Error set when it cannot be opened.
std::unique_ptr<TSgDrive> OpenScsiNode(const std::string& Node, const TDeviceAccess& Access,
                                       uint32_t& Error);
// Opens the node of drive name Name ("\\.\D:") as OpenScsiNode does.
std::unique_ptr<TDeviceHandle> OpenScsiDevice(std::string_view Name, const TDeviceAccess& Access,
                                              uint32_t& Error);
