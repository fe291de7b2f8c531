// The wiper's number helpers (payload/purgit/purgit/text.c) built as the DOS
// wiper builds them, with 32-bit sector numbers: counts over all passes of
// a large disk pass 2^32 there, and must still divide and print right.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

// Declared as purgit.h declares them: the header also declares the wiper's
// own memset and strlen, which clash with the host's.
extern "C" {
struct TText {
    char* at;
    unsigned length, capacity;
};
uint32_t Div64(uint64_t n, uint64_t d);
void TextWide(struct TText* t, uint64_t v);

int Trace;
void OutByte(uint16_t, uint8_t) {}
void ScreenAt(unsigned, unsigned, uint8_t, const char*) {}
}

namespace {

std::string Wide(uint64_t V) {
    char Buffer[32];
    TText T = {Buffer, 0, sizeof Buffer};
    TextWide(&T, V);
    return Buffer;
}

TEST(WiperText, Div64GivesTheQuotientOrItsCap) {
    std::mt19937_64 Random(7);
    for (int i = 0; i < 20000; ++i) {
        // Numerators and divisors of every width, up to the sizes the wiper meets.
        const uint64_t N = Random() >> (Random() % 64), D = Random() >> (Random() % 64);
        const uint64_t Want = D == 0 || N / D > 0xFFFFFFFFu ? 0xFFFFFFFFu : N / D;
        ASSERT_EQ(Div64(N, D), Want) << N << " / " << D;
    }
    EXPECT_EQ(Div64(100ull << 32, 6ull << 32), 16u); // a divisor beyond 32 bits
    EXPECT_EQ(Div64(7, 0), 0xFFFFFFFFu);
    EXPECT_EQ(Div64(1ull << 32, 1), 0xFFFFFFFFu);
    EXPECT_EQ(Div64((1ull << 32) - 1, 1), 0xFFFFFFFFu);
}

TEST(WiperText, WideCountsPrintEveryDigit) {
    for (uint64_t V : {0ull, 7ull, 999999999ull, 1000000000ull, 1000000007ull, 4294967295ull,
                       4294967296ull, 11718750000ull, 123456789012345678ull})
        EXPECT_EQ(Wide(V), std::to_string(V));
}

} // namespace
