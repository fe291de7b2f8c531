#include "image/LZH.h"

#include <algorithm>
#include <cstring>
#include <memory>

using namespace lzhuf;

uint8_t TLZHPacker::TakeByte() {
    if (InPosition >= InCount) {
        InCount = int(Source->Read(InBuffer, BufferSize));
        InPosition = 0;
        if (InCount <= 0) {
            InCount = 0;
            InputEnded = true;
            return 0;
        }
    }
    return InBuffer[InPosition++];
}

// Keeps up to 64 bits read ahead; bits beyond the input are never invented.
void TLZHPacker::FillBits() {
    while (BitCount <= 56 && !InputEnded) {
        const uint8_t Byte = TakeByte();
        if (InputEnded) break;
        BitBuffer |= uint64_t(Byte) << (56 - BitCount);
        BitCount += 8;
    }
}

unsigned TLZHPacker::GetBits(int Count) {
    if (BitCount < Count) {
        FillBits();
        if (BitCount < Count) throw ELZHError("LZH stream ends before its decoded size");
    }
    const unsigned Value = unsigned(BitBuffer >> (64 - Count));
    BitBuffer <<= Count;
    BitCount -= Count;
    return Value;
}

void TLZHPacker::Flush() {
    if (OutCount == 0) return;
    Destination->WriteBuffer(OutBuffer, OutCount);
    OutCount = 0;
    if (ProgressCallback)
        ProgressCallback(
            int32_t((Destination->Position() + 1) * 100 / (int64_t(uint32_t(DecodedSize)) + 1)));
}

inline void TLZHPacker::Emit(uint8_t Byte) {
    OutBuffer[OutCount++] = Byte;
    RingBuffer[RingPosition] = Byte;
    RingPosition = (RingPosition + 1) & (WindowSize - 1);
    if (OutCount == BufferSize) Flush();
}

// A match may overlap the bytes it produces: its source runs Gap bytes behind
// the write position. Pieces of at most Gap bytes that do not wrap around the
// ring read only bytes written before them, so they move whole (memmove: with
// a gap near the window size the source lies just ahead of the target); a gap
// of one repeats a single byte.
void TLZHPacker::CopyMatch(int From, int Length) {
    constexpr int Mask = WindowSize - 1;
    const int Gap = ((RingPosition - From) & Mask) == 0 ? WindowSize : (RingPosition - From) & Mask;
    while (Length > 0) {
        int Step = std::min({Length, BufferSize - OutCount, WindowSize - From,
                             WindowSize - RingPosition});
        uint8_t* Target = RingBuffer + RingPosition;
        if (Gap == 1) {
            std::memset(Target, RingBuffer[From], size_t(Step));
        } else {
            Step = std::min(Step, Gap);
            std::memmove(Target, RingBuffer + From, size_t(Step));
        }
        std::memcpy(OutBuffer + OutCount, Target, size_t(Step));
        From = (From + Step) & Mask;
        RingPosition = (RingPosition + Step) & Mask;
        OutCount += Step;
        Length -= Step;
        if (OutCount == BufferSize) Flush();
    }
}

void TLZHPacker::Unpack(TStream& From, TStream& To) {
    BitBuffer = 0;
    BitCount = 0;
    InputEnded = false;
    Source = &From;
    Destination = &To;
    InPosition = InCount = 0;
    OutCount = 0;

    uint8_t Header[4];
    for (uint8_t& b : Header) b = TakeByte();
    if (InputEnded) throw ELZHError("LZH stream ends before its decoded size");
    const uint32_t Size = uint32_t(Header[0]) | uint32_t(Header[1]) << 8 |
                          uint32_t(Header[2]) << 16 | uint32_t(Header[3]) << 24;
    DecodedSize = int32_t(Size);
    if (Size == 0) return;

    Tree.Start();
    std::memset(RingBuffer, ' ', FirstWrite);
    // The tail is cleared too, so that even a malformed stream decodes the
    // same way every time.
    std::memset(RingBuffer + FirstWrite, 0, WindowSize - FirstWrite);
    RingPosition = FirstWrite;

    uint32_t Produced = 0;
    while (Produced < Size) {
        int Node = Tree.Child[Root];
        while (Node < TreeSize) Node = Tree.Child[Node + GetBits(1)];
        const int Symbol = Node - TreeSize;
        Tree.Update(Symbol);

        if (Symbol < 256) {
            Emit(uint8_t(Symbol));
            ++Produced;
            continue;
        }
        unsigned Index = GetBits(8);
        const unsigned Upper = unsigned(PositionTables.Code[Index]) << 6;
        const int Extra = PositionTables.Length[Index] - 2;
        Index = (Index << Extra) | GetBits(Extra);
        const unsigned Distance = Upper | (Index & 0x3F);

        int Length = Symbol - 255 + Threshold;
        // The stream ends when the decoded size is reached, even inside a match.
        if (uint32_t(Length) > Size - Produced) Length = int(Size - Produced);
        CopyMatch((RingPosition - int(Distance) - 1) & (WindowSize - 1), Length);
        Produced += uint32_t(Length);
    }
    Flush();
}

void UnpackStream(TStream& Source, TStream& Destination, TLZHProgress Callback) {
    auto Packer = std::make_unique<TLZHPacker>();
    Packer->ProgressCallback = std::move(Callback);
    Packer->Unpack(Source, Destination);
}
