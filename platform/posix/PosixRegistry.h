#pragma once
#include "platform/Platform.h"

std::unique_ptr<TRegistryKey> OpenPosixRegistryKey(std::string_view Path, bool Create);
