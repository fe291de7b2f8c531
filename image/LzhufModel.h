#pragma once
// The adaptive Huffman model of LZHUF, shared by the decoder and the
// build's coder so that both update the tree identically.
//
// 314 symbols: 256 literal bytes and 58 match lengths (3 to 60). Leaves are
// stored as child values T + symbol; sibling nodes sit at an even index and
// the one after it, so a node's parity is the bit that selects it.

#include <cstdint>
#include <cstring>

namespace lzhuf {

constexpr int WindowSize = 4096;      // N
constexpr int Lookahead = 60;         // F, longest match
constexpr int Threshold = 2;          // shortest match is Threshold + 1
constexpr int Symbols = 256 - Threshold + Lookahead; // 314
constexpr int TreeSize = 2 * Symbols - 1;            // T = 627
constexpr int Root = TreeSize - 1;                   // R = 626
constexpr int MaxFrequency = 0x8000;
constexpr int FirstWrite = WindowSize - Lookahead; // 4036: ring bytes before it start as spaces

// Upper six bits of a match position: the decoder's tables over the first
// eight bits read (code, and how many bits the code takes).
struct TPositionTables {
    uint8_t Code[256];
    uint8_t Length[256];
};

constexpr TPositionTables MakePositionTables() {
    TPositionTables t{};
    // (count of indices per code, bits of the code) in runs
    struct Run {
        int Codes, IndicesEach, Bits;
    };
    constexpr Run Runs[] = {{1, 32, 3}, {3, 16, 4}, {8, 8, 5}, {12, 4, 6}, {24, 2, 7}, {16, 1, 8}};
    int Index = 0, Code = 0;
    for (const Run& r : Runs)
        for (int c = 0; c < r.Codes; ++c, ++Code)
            for (int k = 0; k < r.IndicesEach; ++k, ++Index) {
                t.Code[Index] = uint8_t(Code);
                t.Length[Index] = uint8_t(r.Bits);
            }
    return t;
}

inline constexpr TPositionTables PositionTables = MakePositionTables();

class TAdaptiveTree {
public:
    uint16_t Frequency[TreeSize + 1];
    uint16_t Parent[TreeSize + Symbols]; // the last Symbols entries: parents of the leaves
    uint16_t Child[TreeSize];

    void Start() {
        for (int i = 0; i < Symbols; ++i) {
            Frequency[i] = 1;
            Child[i] = uint16_t(i + TreeSize);
            Parent[i + TreeSize] = uint16_t(i);
        }
        for (int i = 0, j = Symbols; j <= Root; i += 2, ++j) {
            Frequency[j] = uint16_t(Frequency[i] + Frequency[i + 1]);
            Child[j] = uint16_t(i);
            Parent[i] = Parent[i + 1] = uint16_t(j);
        }
        Frequency[TreeSize] = 0xFFFF;
        Parent[Root] = 0;
    }

    void Update(int Symbol) {
        if (Frequency[Root] == MaxFrequency) Rebuild();
        int Node = Parent[Symbol + TreeSize];
        do {
            const unsigned k = ++Frequency[Node];
            if (k > Frequency[Node + 1]) {
                int l = Node + 1;
                while (k > Frequency[l + 1]) ++l;
                Frequency[Node] = Frequency[l];
                Frequency[l] = uint16_t(k);

                const int i = Child[Node];
                Parent[i] = uint16_t(l);
                if (i < TreeSize) Parent[i + 1] = uint16_t(l);
                const int j = Child[l];
                Child[l] = uint16_t(i);
                Parent[j] = uint16_t(Node);
                if (j < TreeSize) Parent[j + 1] = uint16_t(Node);
                Child[Node] = uint16_t(j);
                Node = l;
            }
            Node = Parent[Node];
        } while (Node != 0);
    }

private:
    void Rebuild() {
        int j = 0;
        for (int i = 0; i < TreeSize; ++i)
            if (Child[i] >= TreeSize) {
                Frequency[j] = uint16_t((Frequency[i] + 1) / 2);
                Child[j] = Child[i];
                ++j;
            }
        for (int i = 0, j2 = Symbols; j2 < TreeSize; i += 2, ++j2) {
            const unsigned f = unsigned(Frequency[i]) + Frequency[i + 1];
            int k = j2 - 1;
            while (f < Frequency[k]) --k;
            ++k;
            const size_t Moved = size_t(j2 - k) * sizeof(uint16_t);
            std::memmove(&Frequency[k + 1], &Frequency[k], Moved);
            Frequency[k] = uint16_t(f);
            std::memmove(&Child[k + 1], &Child[k], Moved);
            Child[k] = uint16_t(i);
        }
        for (int i = 0; i < TreeSize; ++i) {
            const int k = Child[i];
            Parent[k] = uint16_t(i);
            if (k < TreeSize) Parent[k + 1] = uint16_t(i);
        }
    }
};

} // namespace lzhuf
