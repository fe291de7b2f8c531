#pragma once
// Files and folders named by path ("PURGIT\DATA\PURGIT.INI", relative to the
// root) on a FAT12 floppy reached through TGenericFloppy. This is how a
// drive letter's files are served where the system has no FAT driver of its
// own (the POSIX layer, the test machine): every call goes to the sectors,
// nothing is cached, so raw sector writes in between never leave it stale.

#include <cstdint>
#include <memory>
#include <string_view>

#include "base/Stream.h"
#include "floppy/FloppyDirectory.h"

class TFloppyVolume {
public:
    explicit TFloppyVolume(TGenericFloppy& Floppy) : Floppy(Floppy) {}

    // The boot sector describes a usable FAT12 layout.
    bool Formatted();
    // True when the folder exists afterwards; its parent must exist.
    bool CreateFolder(std::string_view Path);
    bool FolderExists(std::string_view Path);
    bool FileExists(std::string_view Path);
    // Creates the file, or replaces the one of that name (one entry stays).
    // The stream appends; a full disk shows as a short Write. Null when the
    // folder is missing or the entry cannot be made.
    std::unique_ptr<TStream> CreateOrReplace(std::string_view Path);
    // The whole file in memory; null when it is missing or its chain broken.
    std::unique_ptr<TStream> OpenRead(std::string_view Path);
    // Cluster figures as GetDiskFreeSpace gives them; false when unformatted.
    bool FreeSpace(uint32_t& ClusterSectors, uint32_t& FreeClusters, uint32_t& ClusterCount);

private:
    // The directory holding Path's last component, and that component.
    std::unique_ptr<TFloppyDirectory> Parent(std::string_view Path, std::string& Name);

    TGenericFloppy& Floppy;
};
