#pragma once
// USB sticks on Windows, over the platform's devices alone: physical drives
// asked for their bus, size and write protection, volumes found through
// their drive letters, and every volume of a disk locked and dismounted
// while the disk is written. Portable, so that the simulated Windows machine
// of the tests runs the same code as the Win32 backend.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"

// The control codes, as winioctl.h defines them.
constexpr uint32_t IoctlStorageQueryProperty = 0x002D1400;
constexpr uint32_t IoctlDiskGetDriveGeometryEx = 0x000700A0;
constexpr uint32_t IoctlDiskIsWritable = 0x00070024;
constexpr uint32_t IoctlDiskUpdateProperties = 0x00070140;
constexpr uint32_t IoctlVolumeGetVolumeDiskExtents = 0x00560000;
constexpr uint32_t FsctlLockVolumeCode = 0x00090018;
constexpr uint32_t FsctlUnlockVolumeCode = 0x0009001C;
constexpr uint32_t FsctlDismountVolumeCode = 0x00090020;
constexpr uint32_t FsctlSetSparse = 0x000900C4;

// STORAGE_DEVICE_DESCRIPTOR: where its fields are, and the USB bus type.
constexpr size_t DescriptorRemovableMedia = 10, DescriptorVendorOffset = 12,
                 DescriptorProductOffset = 16, DescriptorBusType = 28;
constexpr uint32_t StorageBusUsb = 7;

// Windows error codes the stick layer answers with or looks for.
constexpr uint32_t WinErrorFileNotFound = 2, WinErrorAccessDenied = 5, WinErrorWriteProtect = 19,
                   WinErrorNotReady = 21, WinErrorSectorNotFound = 27, WinErrorWriteFault = 29,
                   WinErrorDeviceNotConnected = 1167;

// "\\.\PhysicalDrive2".
std::string PhysicalDriveName(uint32_t Number);

// Every physical drive that is removable or on USB, never the system's disk.
std::vector<TStickDevice> WindowsStickDevices(TPlatform& P);
// Node: "PhysicalDrive2", "\\.\PhysicalDrive2", a drive letter ("E:") of a
// volume on the disk, or an existing image file.
std::optional<TStickDevice> DescribeWindowsStick(TPlatform& P, std::string_view Node,
                                                 std::string& Problem);
// The disk as it is now is checked again; its volumes are locked and
// dismounted and stay so until the handle is gone. Failed calls of the
// handle set Error (the platform's last error).
std::unique_ptr<TDiskHandle> OpenWindowsStick(TPlatform& P, const TStickDevice& Device,
                                              bool AnyDisk, uint32_t& Error, std::string& Problem);
