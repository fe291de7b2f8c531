#pragma once
// The image copier: the boot floppy image that "DiskCopy.dll" carries,
// written straight onto drive A: or B: a track at a time.

#include <cstdint>
#include <functional>
#include <string>

using TImageProgress = std::function<void(double Fraction)>;

// Resources below this size are not a floppy image.
constexpr size_t MinBootImageBytes = 1400000;
constexpr uint32_t ImageTrackBytes = 9216;

// Loads the library's resource "#1" of type "BINFILE"; false when any step fails.
bool LoadBootImage();
// The image LoadBootImage found (empty before).
const std::string& LoadedBootImage();
// Writes Size bytes of Data from sector 0 on. Only A: and B: are ever
// written: any other letter answers false.
bool WriteImageToFloppy(char Drive, const uint8_t* Data, size_t Size,
                        const TImageProgress& Progress);
// 0 written, 1 no image available, 2 the write failed.
uint8_t CopyBootImage(char Drive, const TImageProgress& Progress);
