#pragma once
// The "Image recorder": a TOpticalDevice that saves the CD image as a file.
// CheckReady asks the user for the file and makes sure it can be written;
// Burn writes the image under a temporary name in the same folder and moves
// it over the chosen name only once it is complete (and, with ReadBack,
// read back equal). A failure leaves whatever the user had byte for byte.

#include <memory>
#include <string>

#include "optical/Optical_device.h"

class TimageRecorder : public TOpticalDevice {
public:
    static constexpr int64_t PieceSize = 10000;
    static constexpr int64_t SectorSize = 2048;

    ~TimageRecorder() override;

    uint8_t ReadCapabilities() override { return 0; }
    // Sets DiscState 0 and asks for the file. False when the user cancels, or
    // (with a message) when the folder is missing or not writable or the
    // file is read-only. Nothing is created or changed.
    bool CheckReady(TDeviceStatus& Status) override;
    // Copies Source from position 0 to its end in pieces of PieceSize bytes
    // into the temporary file, then puts it in place. A refused write, an
    // unreadable source, a failed read-back, a failed rename or a missing
    // choice answers false with step 11 ("Write error") and removes the
    // temporary file. No observer calls.
    bool Burn(TBurnError& Error, TStream& Source, TBurningIO* Observer) override;

    // Read the temporary file back and compare it before it replaces the
    // chosen file.
    bool ReadBack = false;
    // After a read-back that found a difference: the first 2,048-byte sector
    // that differs; -1 otherwise.
    int64_t DifferingSector = -1;

    // The path chosen in the last successful CheckReady; cleared by a burn.
    std::string ImageFileName;
    // The temporary file while a burn writes it.
    std::string TemporaryName;

    // A free name beside Path for its temporary file.
    static std::string TemporaryNameFor(const std::string& Path);

private:
    void Discard();
    int64_t FirstDifference(TStream& Source);

    std::unique_ptr<TStream> ImageFile;
};
