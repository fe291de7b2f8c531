#pragma once
// Devices opened by name and child processes on pipes, for the Windows backend.

#include <memory>
#include <string>
#include <span>
#include <string_view>
#include <vector>

#include "platform/Platform.h"

std::unique_ptr<TDeviceHandle> Win32OpenDevice(std::string_view Name, const TDeviceAccess& Access,
                                               uint32_t& Error);
std::string Win32ErrorText(uint32_t Code);
std::unique_ptr<TChildProcess> Win32StartProcess(std::string_view CommandLine, uint32_t& Error);
// An image file standing for a disk: opened read-write, or created sparse
// at CreateBytes when missing. Failed calls of the handle set Error.
std::unique_ptr<TDiskHandle> Win32OpenDiskImage(std::string_view Path, uint64_t CreateBytes,
                                                uint32_t& Error, std::string& Problem);

// SCSI pass-through requests travel in the 32-bit layout (a 44-byte header,
// sense after it, data after the sense). A 64-bit system reads a 56-byte
// header with pointer-sized fields, so a 64-bit program moves each request
// into that layout and the answer back. Data is the caller's buffer of a
// direct request (empty for a buffered one).
std::vector<uint8_t> NativePassThroughRequest(uint32_t Code, std::span<const uint8_t> Request32,
                                              size_t Out32Size, std::span<uint8_t> Data);
// Status, sense length, transfer length, sense and data into Out32.
void PortablePassThroughAnswer(std::span<const uint8_t> Native,
                               std::span<uint8_t> Out32);
