#include "image/LZH.h"

#include <algorithm>
#include <cstring>
#include <memory>

using namespace lzhuf;

namespace {

// The bytes a match of Length at Distance behind Out produces, written
// forward so that a match may repeat the bytes it is producing.
inline void CopyMatch(uint8_t* Out, int Distance, int Length) {
    const uint8_t* From = Out - Distance;
    if (Distance >= 16) {
        // Every piece reads only bytes finished before it; the last one may
        // run up to 15 bytes past the end (the window's slack).
        for (int i = 0; i < Length; i += 16)
            std::memcpy(Out + i, From + i, 16);
    } else if (Distance == 1) {
        std::memset(Out, *From, size_t(Length));
    } else {
        for (int i = 0; i < Length; ++i)
            Out[i] = From[i];
    }
}

} // namespace

void TLZHPacker::ReadBlock() {
    const int64_t Got = Source->Read(InBuffer, BufferSize);
    InCount = int(std::clamp<int64_t>(Got, 0, BufferSize));
    InPosition = 0;
    if (InCount == 0) InputEnded = true;
}

// Byte by byte across input blocks; bits beyond the input are never invented.
void TLZHPacker::FillBitsSlowly(uint64_t& Bits, int& Count) {
    while (Count <= 56 && !InputEnded) {
        if (InPosition >= InCount) {
            ReadBlock();
            if (InputEnded) break;
        }
        Bits |= uint64_t(InBuffer[InPosition++]) << (56 - Count);
        Count += 8;
    }
}

// Tops the bit buffer up to at least 56 bits while the input lasts. The fast
// path ORs in a whole big-endian word: the bits it loads below the counted
// ones are the next input bits, which the next fill ORs in again unchanged.
inline void TLZHPacker::FillBits(uint64_t& Bits, int& Count) {
    if (InCount - InPosition >= 8) {
        const uint8_t* p = InBuffer + InPosition;
        uint64_t Word = 0;
        for (int i = 0; i < 8; ++i)
            Word = Word << 8 | p[i];
        Bits |= Word >> Count;
        const int Taken = (63 - Count) >> 3;
        InPosition += Taken;
        Count += Taken * 8;
    } else {
        FillBitsSlowly(Bits, Count);
    }
}

void TLZHPacker::Flush() {
    if (OutCount == 0) return;
    uint8_t* const Out = Window + WindowSize;
    Destination->WriteBuffer(Out, OutCount);
    // The newest window's worth of bytes becomes the history of what follows.
    std::memmove(Window, Window + OutCount, WindowSize);
    OutCount = 0;
    if (ProgressCallback)
        ProgressCallback(
            int32_t((Destination->Position() + 1) * 100 / (int64_t(uint32_t(DecodedSize)) + 1)));
}

void TLZHPacker::Unpack(TStream& From, TStream& To) {
    InputEnded = false;
    Source = &From;
    Destination = &To;
    InPosition = InCount = 0;
    OutCount = 0;

    uint8_t Header[4];
    for (uint8_t& b : Header) {
        if (InPosition >= InCount) ReadBlock();
        if (InputEnded) throw ELZHError("LZH stream ends before its decoded size");
        b = InBuffer[InPosition++];
    }
    const uint32_t Size = uint32_t(Header[0]) | uint32_t(Header[1]) << 8 |
                          uint32_t(Header[2]) << 16 | uint32_t(Header[3]) << 24;
    DecodedSize = int32_t(Size);
    if (Size == 0) return;

    Tree.Start();
    // The history before the first byte: the ring's 60 bytes from the first
    // write position on (cleared, so that even a malformed stream decodes the
    // same way every time), then the 4,036 spaces before it.
    std::memset(Window, 0, Lookahead);
    std::memset(Window + Lookahead, ' ', FirstWrite);

    uint64_t Bits = 0;
    int Count = 0;
    const auto Short = [] { return ELZHError("LZH stream ends before its decoded size"); };
    uint32_t Produced = 0;
    while (Produced < Size) {
        if (Count < 32) FillBits(Bits, Count);
        int Node = Tree.Child[Root];
        while (Node < TreeSize) {
            if (Count == 0) {
                FillBits(Bits, Count);
                if (Count == 0) throw Short();
            }
            Node = Tree.Child[Node + int(Bits >> 63)];
            Bits <<= 1;
            --Count;
        }
        const int Symbol = Node - TreeSize;
        Tree.Update(Symbol);

        if (Symbol < 256) {
            Window[WindowSize + OutCount++] = uint8_t(Symbol);
            if (OutCount == BufferSize) Flush();
            ++Produced;
            continue;
        }

        // Eight bits through the fixed table, then 1 to 6 more; the lowest
        // six of all of them are the position's lower bits.
        if (Count < 14) FillBits(Bits, Count);
        if (Count < 8) throw Short();
        const unsigned Index = unsigned(Bits >> 56);
        const int Used = PositionTables.Length[Index] + 6;
        if (Count < Used) throw Short();
        const int Distance = int(unsigned(PositionTables.Code[Index]) << 6 |
                                 (unsigned(Bits >> (64 - Used)) & 0x3F)) +
                             1;
        Bits <<= Used;
        Count -= Used;

        int Length = Symbol - 255 + Threshold;
        // The stream ends when the decoded size is reached, even inside a match.
        if (uint32_t(Length) > Size - Produced) Length = int(Size - Produced);
        Produced += uint32_t(Length);
        while (Length > 0) {
            const int Step = std::min(Length, BufferSize - OutCount);
            CopyMatch(Window + WindowSize + OutCount, Distance, Step);
            OutCount += Step;
            Length -= Step;
            if (OutCount == BufferSize) Flush();
        }
    }
    Flush();
}

void UnpackStream(TStream& Source, TStream& Destination, TLZHProgress Callback) {
    auto Packer = std::make_unique<TLZHPacker>();
    Packer->ProgressCallback = std::move(Callback);
    Packer->Unpack(Source, Destination);
}
