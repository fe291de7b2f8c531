#pragma once
// A child process on pipes for the POSIX layer. The command line is split at
// spaces (double quotes group) and run without a shell.

#include <memory>
#include <string_view>

#include "platform/Platform.h"

std::unique_ptr<TChildProcess> PosixStartProcess(std::string_view CommandLine, uint32_t& Error);
