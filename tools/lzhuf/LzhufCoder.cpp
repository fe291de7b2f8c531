#include "tools/lzhuf/LzhufCoder.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <stdexcept>

#include "image/LzhufModel.h"

using namespace lzhuf;

namespace {

class TBitWriter {
public:
    explicit TBitWriter(std::vector<uint8_t>& Out) : Out(Out) {}
    void Put(unsigned Bit) {
        Accumulator = uint8_t(Accumulator << 1 | Bit);
        if (++Count == 8) {
            Out.push_back(Accumulator);
            Count = 0;
            Accumulator = 0;
        }
    }
    void PutBits(unsigned Value, int Bits) {
        for (int i = Bits - 1; i >= 0; --i) Put((Value >> i) & 1);
    }
    void Finish() {
        while (Count != 0) Put(0);
    }

private:
    std::vector<uint8_t>& Out;
    uint8_t Accumulator = 0;
    int Count = 0;
};

// Inverse of the decoder's position tables: for each upper-six-bit value the
// shortest prefix of the eight bits that selects it.
struct TPositionPrefix {
    uint8_t Code[64];
    uint8_t Bits[64];
};

TPositionPrefix MakePositionPrefix() {
    TPositionPrefix p{};
    for (int Index = 255; Index >= 0; --Index) {
        const int Upper = PositionTables.Code[Index];
        p.Bits[Upper] = PositionTables.Length[Index];
        p.Code[Upper] = uint8_t(Index >> (8 - PositionTables.Length[Index]));
    }
    return p;
}

class TEncoder {
public:
    explicit TEncoder(std::vector<uint8_t>& Out) : Bits(Out) { Tree.Start(); }

    void Symbol(int Symbol) {
        // Climb from the leaf to the root, then send the path top-down.
        uint8_t Path[TreeSize];
        int Depth = 0;
        for (int Node = Tree.Parent[Symbol + TreeSize]; Node != Root;) {
            Path[Depth++] = uint8_t(Node & 1);
            Node = Tree.Parent[Node];
        }
        for (int i = Depth - 1; i >= 0; --i) Bits.Put(Path[i]);
        Tree.Update(Symbol);
    }

    void Position(unsigned Distance) {
        const int Upper = int(Distance >> 6);
        Bits.PutBits(Prefix.Code[Upper], Prefix.Bits[Upper]);
        Bits.PutBits(Distance & 0x3F, 6);
    }

    void Finish() { Bits.Finish(); }

private:
    TBitWriter Bits;
    TAdaptiveTree Tree;
    TPositionPrefix Prefix = MakePositionPrefix();
};

} // namespace

namespace {

// Hash chains over a virtual history: the 4,036 spaces the decoder's ring
// starts with, followed by the input.
class TMatchFinder {
public:
    static constexpr int MaxChain = 1024;

    explicit TMatchFinder(const std::vector<uint8_t>& History)
        : History(History), Previous(History.size(), -1), Head(HashSize, -1) {}

    void Insert(int64_t At) {
        if (At + 2 >= int64_t(History.size())) return;
        const unsigned h = Hash(At);
        Previous[size_t(At)] = Head[h];
        Head[h] = At;
    }

    // Longest match for At (ties: the nearest); Length 0 when none of 3+.
    void Find(int64_t At, int& Length, int& Distance) const {
        Length = 0;
        Distance = 0;
        const int64_t Limit = std::min<int64_t>(Lookahead, int64_t(History.size()) - At);
        if (Limit < Threshold + 1) return;
        int Chain = MaxChain;
        for (int64_t Candidate = Head[Hash(At)]; Candidate >= 0 && Chain-- > 0;
             Candidate = Previous[size_t(Candidate)]) {
            if (Candidate >= At) continue;
            if (At - Candidate > WindowSize) break;
            if (History[size_t(Candidate + Length)] != History[size_t(At + Length)]) continue;
            int n = 0;
            while (n < Limit && History[size_t(Candidate + n)] == History[size_t(At + n)]) ++n;
            if (n > Length) {
                Length = n;
                Distance = int(At - Candidate);
                if (n == Limit) break;
            }
        }
        if (Length <= Threshold) Length = 0;
    }

private:
    static constexpr unsigned HashSize = 1u << 15;
    unsigned Hash(int64_t At) const {
        const uint8_t* p = &History[size_t(At)];
        return ((unsigned(p[0]) << 10) ^ (unsigned(p[1]) << 5) ^ p[2]) & (HashSize - 1);
    }

    const std::vector<uint8_t>& History;
    std::vector<int64_t> Previous;
    std::vector<int64_t> Head;
};

} // namespace

std::vector<uint8_t> LzhufEncode(std::span<const uint8_t> Input) {
    // The size field holds 32 bits; the window's history must fit besides.
    if (Input.size() > size_t(INT32_MAX) - FirstWrite) throw std::length_error("LZHUF input too large");
    std::vector<uint8_t> Out;
    Out.reserve(Input.size() / 4 + 16);
    const uint32_t Size = uint32_t(Input.size());
    for (int i = 0; i < 4; ++i) Out.push_back(uint8_t(Size >> (8 * i)));
    if (Input.empty()) return Out;

    std::vector<uint8_t> History(FirstWrite + Input.size(), ' ');
    std::memcpy(History.data() + FirstWrite, Input.data(), Input.size());
    TMatchFinder Finder(History);
    for (int64_t i = 0; i < FirstWrite; ++i) Finder.Insert(i);

    TEncoder Encoder(Out);
    const int64_t End = int64_t(History.size());
    int64_t At = FirstWrite;
    int Length, Distance;
    Finder.Find(At, Length, Distance);
    while (At < End) {
        Finder.Insert(At);
        if (Length == 0) {
            Encoder.Symbol(History[size_t(At)]);
            ++At;
            if (At < End) Finder.Find(At, Length, Distance);
            continue;
        }
        // One step of lazy evaluation: a longer match one byte on wins.
        int NextLength = 0, NextDistance = 0;
        if (Length < Lookahead && At + 1 < End) Finder.Find(At + 1, NextLength, NextDistance);
        if (NextLength > Length) {
            Encoder.Symbol(History[size_t(At)]);
            ++At;
            Length = NextLength;
            Distance = NextDistance;
            continue;
        }
        Encoder.Symbol(256 - Threshold - 1 + Length);
        Encoder.Position(unsigned(Distance - 1));
        for (int64_t k = At + 1; k < At + Length; ++k) Finder.Insert(k);
        At += Length;
        if (At < End) Finder.Find(At, Length, Distance);
    }
    Encoder.Finish();
    return Out;
}
