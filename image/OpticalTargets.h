#pragma once
// The targets that take a CD image: a CD/DVD writer burns it on a blank
// disc, the image recorder saves it as an ISO file. Both compose the same
// image, with the disc system the run holds.

#include <string>

#include "base/Stream.h"
#include "image/MediaTarget.h"
#include "optical/ImageRecorder.h"
#include "optical/Optical_device.h"

class TOpticalTarget : public TMediaTarget {
public:
    explicit TOpticalTarget(TOpticalDevice& Device) : Device(Device) {}
    TOpticalDevice& Device;

protected:
    // The bootable CD image from the run's choices; false after its message.
    bool ComposeIso(TCreationRun& Run, TMemoryStream& Iso);
    // Hands the image to the device; false after its message.
    bool Burn(TCreationRun& Run, TMemoryStream& Iso);
    // Only a blank disc (state 0) is written.
    bool Blank();

    TDeviceStatus Status;
};

// A writer is asked whether it holds a blank disc once the image is ready,
// just before the burn.
class TDiscWriterTarget : public TOpticalTarget {
public:
    using TOpticalTarget::TOpticalTarget;
    TMediumPrompt MediumPrompt() const override;
    bool Ready() override;
    bool MakeMedium(TCreationRun& Run) override;
};

// The recorder is ready once the user named the file (its save dialog),
// which comes first.
class TImageFileTarget : public TOpticalTarget {
public:
    explicit TImageFileTarget(TimageRecorder& Recorder) : TOpticalTarget(Recorder) {}
    TMediumPrompt MediumPrompt() const override;
    bool Ready() override;
    bool MakeMedium(TCreationRun& Run) override;
};
