// Drive replies as a CD/DVD writer might garble them, through the simulated
// drive, over SPTI and ASPI.

#include <cstddef>
#include <cstdint>

#include "FuzzTarget.h"
#include "fakes/DriveReplies.h"

PURGEX_FUZZ_TARGET(DriveReplyFuzz) {
    // A burn may fail on garbled replies, but never claims a disc it did not write.
    PURGEX_FUZZ_CHECK(RunDriveReplies(Data, Size).FalseSuccesses == 0);
    return 0;
}
