// Drive replies as a CD/DVD writer might garble them, through the simulated
// drive, over SPTI and ASPI.

#include <cstddef>
#include <cstdint>

#include "fakes/DriveReplies.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    RunDriveReplies(Data, Size);
    return 0;
}
