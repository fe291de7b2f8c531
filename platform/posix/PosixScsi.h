#pragma once
// CD/DVD drives on Linux: the /dev/sr* nodes are offered as drive letters
// from D: on, and SCSI pass-through requests laid out as Windows takes them
// are carried out with SG_IO. The translation is kept apart from the ioctl so
// it can be checked without a drive.

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"

enum class TSgDirection { None, FromDevice, ToDevice };

// What SG_IO is asked to do for one pass-through request.
struct TSgRequest {
    TSgDirection Direction = TSgDirection::None;
    std::array<uint8_t, 16> Cdb{};
    uint8_t CdbLength = 0;
    uint8_t* Data = nullptr;
    uint32_t DataLength = 0;
    uint8_t* Sense = nullptr;
    uint8_t SenseLength = 0;
    uint32_t TimeoutMilliseconds = 0;
};

// Windows error codes the layer answers with.
constexpr uint32_t PosixErrorAccessDenied = 5, PosixErrorInvalidParameter = 87,
                   PosixErrorNotSupported = 50, PosixErrorDeviceNotConnected = 1167,
                   PosixErrorIoDevice = 1117, PosixErrorFileNotFound = 2;

// The SG_IO request of an IOCTL_SCSI_PASS_THROUGH (Request is the whole
// 684-byte request) or IOCTL_SCSI_PASS_THROUGH_DIRECT (Request is the
// 172-byte request, Data the caller's buffer). False, with the Windows
// error code, when the request is not laid out as the system expects.
bool SptiToSg(uint32_t Code, std::span<uint8_t> Request, std::span<uint8_t> Data, TSgRequest& Sg,
              uint32_t& Error);

// After SG_IO returned: the SCSI status becomes the request's ScsiStatus.
// A host or transport failure fails the device control call (false, Error).
bool SgToSpti(uint8_t ScsiStatus, uint16_t HostStatus, std::span<uint8_t> Request, uint32_t& Error);

// The Windows error code for an errno of open or ioctl.
uint32_t WindowsErrorOf(int Errno);

// "\\.\D:" -> "/dev/sr0"; empty when Name is no CD/DVD drive letter.
std::string ScsiNodeOf(std::string_view Name);

// Drive letter bits of the /dev/sr* nodes present.
uint32_t ScsiDriveMask();
// QueryDosDevice of "D:": the node, when it exists.
std::vector<std::string> ScsiDosDevice(std::string_view DeviceName);
// Opens the node of Name; null with Error set when it cannot be opened.
std::unique_ptr<TDeviceHandle> OpenScsiDevice(std::string_view Name, const TDeviceAccess& Access,
                                              uint32_t& Error);
