#pragma once
// Devices opened by name and child processes on pipes, for the Windows backend.

#include <memory>
#include <string>
#include <string_view>

#include "platform/Platform.h"

std::unique_ptr<TDeviceHandle> Win32OpenDevice(std::string_view Name, const TDeviceAccess& Access,
                                               uint32_t& Error);
std::string Win32ErrorText(uint32_t Code);
std::unique_ptr<TChildProcess> Win32StartProcess(std::string_view CommandLine, uint32_t& Error);
