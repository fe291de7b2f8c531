#pragma once
// Drive A: (or B:) on Linux: the floppy device node or 1.44 MB image file
// that the caller names. Raw device writes go to it, and files on "A:\..."
// are served by the project's own FAT12 code on the same sectors, never
// through a mount, which raw writes would leave stale.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Platform.h"

bool PosixAttachFloppy(char Letter, std::string_view Path, std::string& Problem);
int64_t PosixFloppyMismatch(char Letter);

// The calls below answer empty when the name or letter is not an attached
// floppy's, and the platform goes on with its other drives and files.
std::optional<std::unique_ptr<TDeviceHandle>> PosixFloppyDevice(std::string_view Name,
                                                                uint32_t& Error);
std::optional<TDriveType> PosixFloppyDriveType(char Letter);
std::optional<bool> PosixFloppyFreeSpace(char Letter, TDiskFreeSpace& Space, uint32_t& Error);
uint32_t PosixFloppyDrives();
std::optional<bool> PosixFloppyFileExists(std::string_view Path);
std::optional<std::unique_ptr<TStream>> PosixFloppyOpenRead(std::string_view Path);
std::optional<std::unique_ptr<TStream>> PosixFloppyCreate(std::string_view Path);
std::optional<bool> PosixFloppyCreateFolder(std::string_view Path, uint32_t& Error);
