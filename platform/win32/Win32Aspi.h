#pragma once
// The ASPI library "wnaspi32.dll" and the events its requests signal.

#include <memory>

#include "platform/Platform.h"

// Loaded on first use and never released; substitutes when it is missing.
TAspiLibrary& Win32AspiLibrary();
std::unique_ptr<TEvent> Win32ManualEvent();
