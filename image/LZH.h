#pragma once
// Decoder of the LZHUF streams that carry the embedded containers.
//
// Stream: 4 bytes decoded size (little-endian), then the bit stream, most
// significant bit first. Input and output pass through 10,240-byte buffers,
// so the streams see transfers of at most that size.
//
// Unlike the bare format, the decoder refuses a stream that ends before its
// decoded size is reached (ELZHError), so a truncated or hostile stream can
// neither run on invented bits nor grow the output without bound.

#include <cstdint>
#include <functional>
#include <stdexcept>

#include "base/Stream.h"
#include "image/LzhufModel.h"

class ELZHError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Receives ((destination position + 1) * 100) div (decoded size + 1) after
// every output flush.
using TLZHProgress = std::function<void(int32_t Percent)>;

class TLZHPacker {
public:
    static constexpr int BufferSize = 10240;

    TLZHProgress ProgressCallback;
    int32_t DecodedSize = 0;

    // Decodes from Source's position to its end, appending at Destination's
    // position. Raises ELZHError on an early end, EStreamError on I/O errors.
    void Unpack(TStream& Source, TStream& Destination);

private:
    // The last window's worth of output sits right before the output buffer,
    // so a match is one forward copy within Window and needs no ring wrap.
    // Copies move whole 16-byte pieces and may write up to Slack bytes past a
    // match's end; the bytes after the output count are never read as output.
    static constexpr int Slack = 16;

    void ReadBlock();
    void FillBits(uint64_t& Bits, int& Count);
    void FillBitsSlowly(uint64_t& Bits, int& Count);
    void Flush();

    bool InputEnded = false;
    uint8_t InBuffer[BufferSize];
    int InPosition = 0, InCount = 0;
    int OutCount = 0;
    TStream* Source = nullptr;
    TStream* Destination = nullptr;
    lzhuf::TAdaptiveTree Tree;
    alignas(16) uint8_t Window[lzhuf::WindowSize + BufferSize + Slack];
};

void UnpackStream(TStream& Source, TStream& Destination, TLZHProgress Callback = {});
