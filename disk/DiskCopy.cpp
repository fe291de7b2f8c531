#include "disk/DiskCopy.h"

#include <algorithm>
#include <span>

#include "disk/DirectDisk.h"
#include "platform/Platform.h"

namespace {
// Stays loaded for the rest of the program.
std::string BootImage;
} // namespace

bool LoadBootImage() {
    const auto Found = Platform().LibraryResource("DiskCopy.dll", "BINFILE", "#1");
    if (!Found || Found->size() < MinBootImageBytes) return false;
    BootImage = *Found;
    return true;
}

const std::string& LoadedBootImage() {
    return BootImage;
}

bool WriteImageToFloppy(char Drive, const uint8_t* Data, size_t Size,
                        const TImageProgress& Progress) {
    if (Drive >= 'a' && Drive <= 'z') Drive = char(Drive - 'a' + 'A');
    if (Drive != 'A' && Drive != 'B') return false;
    TDeviceAccess Access;
    Access.Read = Access.Write = true;
    Access.ShareRead = false;
    Access.ShareWrite = true;
    Access.WriteThrough = true;
    const auto Device = Platform().OpenDevice(std::string("\\\\.\\") + Drive + ":", Access);
    if (!Device) return false;
    TakeVolume(*Device);
    bool Written = true;
    size_t Offset = 0;
    while (Written && Offset < Size) {
        const size_t Chunk = std::min<size_t>(Size - Offset, ImageTrackBytes);
        uint32_t Done = 0;
        Written = Device->Seek(Offset) &&
                  Device->Write(std::span<const uint8_t>(Data + Offset, Chunk), Done) &&
                  Done == Chunk;
        Offset += Chunk;
        if (Written && Progress) Progress(double(Offset) / double(Size));
    }
    ReleaseVolume(*Device);
    return Written;
}

uint8_t CopyBootImage(char Drive, const TImageProgress& Progress) {
    if (!LoadBootImage()) return 1;
    return WriteImageToFloppy(Drive, reinterpret_cast<const uint8_t*>(BootImage.data()),
                              BootImage.size(), Progress)
               ? 0
               : 2;
}
