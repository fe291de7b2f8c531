// The LZH decoder on arbitrary bytes: either the whole stated size comes out
// or ELZHError is raised; the output never exceeds what the input can
// express (a 60-byte match takes at least 10 bits), and the progress values
// climb from 0 to at most 100.

#include "FuzzTarget.h"
#include "base/Stream.h"
#include "image/LZH.h"

PURGEX_FUZZ_TARGET(LzhFuzz) {
    TReadOnlyStream Source(std::span<const uint8_t>(Data, Size));
    TMemoryStream Output;
    int32_t Last = -1;
    bool Climbing = true;
    try {
        UnpackStream(Source, Output, [&](int32_t Percent) {
            if (Percent < Last || Percent > 100) Climbing = false;
            Last = Percent;
        });
    } catch (const ELZHError&) {
        PURGEX_FUZZ_CHECK(Output.Size() <= int64_t(Size) * 48);
        return 0;
    } catch (const EStreamError&) {
        return 0;
    }
    PURGEX_FUZZ_CHECK(Size >= 4);
    const uint32_t Stated = uint32_t(Data[0]) | uint32_t(Data[1]) << 8 | uint32_t(Data[2]) << 16 |
                            uint32_t(Data[3]) << 24;
    PURGEX_FUZZ_CHECK(uint64_t(Output.Size()) == Stated);
    PURGEX_FUZZ_CHECK(Output.Size() <= int64_t(Size) * 48);
    PURGEX_FUZZ_CHECK(Climbing);
    return 0;
}
