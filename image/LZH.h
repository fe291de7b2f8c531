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
    uint8_t TakeByte();
    void FillBits();
    unsigned GetBits(int Count);
    void Emit(uint8_t Byte);
    void CopyMatch(int From, int Length);
    void Flush();

    uint64_t BitBuffer = 0; // next bit at the top
    int BitCount = 0;
    bool InputEnded = false;
    uint8_t InBuffer[BufferSize];
    int InPosition = 0, InCount = 0;
    uint8_t OutBuffer[BufferSize];
    int OutCount = 0;
    TStream* Source = nullptr;
    TStream* Destination = nullptr;
    uint8_t RingBuffer[lzhuf::WindowSize];
    int RingPosition = 0;
    lzhuf::TAdaptiveTree Tree;
};

void UnpackStream(TStream& Source, TStream& Destination, TLZHProgress Callback = {});
