#pragma once
// The "Image recorder": a TOpticalDevice that saves the CD image as a file.
// CheckReady asks the user for the file and creates it; Burn copies the image
// into it and closes it.

#include <memory>
#include <string>

#include "optical/Optical_device.h"

class TimageRecorder : public TOpticalDevice {
public:
    static constexpr int64_t PieceSize = 10000;

    uint8_t ReadCapabilities() override { return 0; }
    // Sets DiscState 0, asks for the file and creates or truncates it. False
    // when the user cancels or the file cannot be created.
    bool CheckReady(TDeviceStatus& Status) override;
    // Copies Source from position 0 to its end in pieces of PieceSize bytes,
    // then closes the file. A refused write, an unreadable source or a missing
    // file answers false with step 11 ("Write error"). No observer calls.
    bool Burn(TBurnError& Error, TStream& Source, TBurningIO* Observer) override;

    // Open from a successful CheckReady to the end of the next Burn.
    std::unique_ptr<TStream> ImageFile;
    // The path chosen in the last successful CheckReady.
    std::string ImageFileName;
};
