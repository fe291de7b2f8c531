#pragma once
// Runs discovery, the readiness check, a burn and an erase against a
// simulated writer whose replies (INQUIRY, the mode pages, disc and track
// information, buffer capacity, blocks read back) are overwritten with Bytes.
// The first byte picks the transport (bit 0: ASPI) and the drive's timing.
// Used by the fuzz target and by the tests.

#include <cstddef>
#include <cstdint>

struct TDriveRepliesOutcome {
    int Burns = 0;
    int Succeeded = 0;
    // Burns that answered true although the disc lacks part of the source.
    int FalseSuccesses = 0;
};

TDriveRepliesOutcome RunDriveReplies(const uint8_t* Bytes, size_t Size);
