#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "TestSupport.h"
#include "base/ByteOrder.h"
#include "image/LZH.h"
#include "tools/lzhuf/LzhufCoder.h"

using namespace testing_support;

namespace {

std::vector<uint8_t> Decode(const std::vector<uint8_t>& Coded, TLZHProgress Progress = {}) {
    TMemoryStream Source(Coded), Destination;
    UnpackStream(Source, Destination, std::move(Progress));
    return Destination.Bytes();
}

std::vector<uint8_t> Bytes(const std::string& Text) { return {Text.begin(), Text.end()}; }

// Text-like data with long repeats, as the payload mostly is.
std::vector<uint8_t> Structured(size_t Count) {
    std::vector<uint8_t> Out;
    const char* Words[] = {"wipe ", "disk ", "pass ", "random ", "zeros ", "sector ", "\r\n"};
    uint32_t State = 12345;
    while (Out.size() < Count) {
        State = State * 1103515245 + 12345;
        const char* Word = Words[(State >> 16) % 7];
        Out.insert(Out.end(), Word, Word + std::strlen(Word));
    }
    Out.resize(Count);
    return Out;
}

// Bits of a stream built by hand, most significant first.
struct THandStream {
    std::vector<uint8_t> Bytes;
    int Used = 8;
    void Put(unsigned Bit) {
        if (Used == 8) {
            Bytes.push_back(0);
            Used = 0;
        }
        if (Bit) Bytes.back() |= uint8_t(0x80 >> Used);
        ++Used;
    }
};

} // namespace

TEST(LzhRoundTrip, ReproducesAssortedInputs) {
    std::vector<std::vector<uint8_t>> Inputs = {
        {},
        {0x41},
        Bytes("     leading spaces then text"),
        Bytes("abcabcabcabcabcabcabcabcabcabcabcabcabcabcabcabcabcabcabcabcabcabc"),
        std::vector<uint8_t>(5000, 0),                     // one long run: matches overlap their output
        RandomBytes(70000, 7),                             // incompressible
        Structured(300000),                                 // many matches
    };
    for (const auto& Input : Inputs) {
        const auto Coded = LzhufEncode(Input);
        ASSERT_EQ(GetLE32(Coded.data()), Input.size());
        EXPECT_EQ(Decode(Coded), Input) << "input of " << Input.size() << " bytes";
    }
}

TEST(LzhRoundTrip, MatchesAcrossTheWholeWindow) {
    // Repeats at distances 4,096 (the match source is the slot being written)
    // and 4,090 (the source lies just ahead of the target in the ring).
    for (size_t Period : {4096u, 4090u, 4000u}) {
        auto Input = RandomBytes(Period, uint32_t(Period));
        for (int Round = 0; Round < 3; ++Round) Input.insert(Input.end(), Input.begin(), Input.begin() + Period);
        const auto Coded = LzhufEncode(Input);
        EXPECT_LT(Coded.size(), Period * 2) << "the repeats were not coded as matches";
        EXPECT_EQ(Decode(Coded), Input) << "period " << Period;
    }
}

TEST(LzhRoundTrip, SurvivesManyTreeRebuilds) {
    // Well over 32,454 symbols, mixing literals and matches, forces the
    // frequency limit several times.
    auto Input = RandomBytes(200000, 99);
    const auto Text = Structured(400000);
    Input.insert(Input.end(), Text.begin(), Text.end());
    const auto Coded = LzhufEncode(Input);
    EXPECT_EQ(Decode(Coded), Input);
}

// Runs repeating every period from 1 to 40 bytes, each far longer than a
// match and all together many output buffers long, so that matches of every
// short distance are cut by buffer flushes.
TEST(LzhRoundTrip, ShortPeriodRunsAcrossBufferFlushes) {
    std::vector<uint8_t> Input;
    for (size_t Period = 1; Period <= 40; ++Period) {
        const auto Unit = RandomBytes(Period, uint32_t(1000 + Period));
        for (size_t i = 0; i < 3001; ++i) Input.push_back(Unit[i % Period]);
    }
    ASSERT_GT(Input.size(), size_t(10 * TLZHPacker::BufferSize));
    EXPECT_EQ(Decode(LzhufEncode(Input)), Input);
}

// However the source hands out its bytes (short reads that end at any bit
// position), the decoded bytes are the same.
TEST(LzhRoundTrip, ShortSourceReadsDecodeTheSame) {
    struct TTrickleStream : TMemoryStream {
        using TMemoryStream::TMemoryStream;
        int64_t Calls = 0;
        int64_t Read(void* b, int64_t n) override {
            return TMemoryStream::Read(b, std::min<int64_t>(n, 1 + Calls++ % 13));
        }
    };
    auto Input = Structured(60000);
    const auto Noise = RandomBytes(20000, 11);
    Input.insert(Input.end(), Noise.begin(), Noise.end());
    TTrickleStream Source(LzhufEncode(Input));
    TMemoryStream Destination;
    UnpackStream(Source, Destination);
    EXPECT_EQ(Destination.Bytes(), Input);
    EXPECT_GT(Source.Calls, 1000);
}

TEST(LzhRoundTrip, CompressesTextWell) {
    const auto Input = Structured(200000);
    const auto Coded = LzhufEncode(Input);
    EXPECT_LT(Coded.size(), Input.size() / 4);
}

TEST(LzhDecoder, FourZeroBytesDecodeToNothingAndLeaveDestination) {
    TMemoryStream Source(std::vector<uint8_t>{0, 0, 0, 0});
    TMemoryStream Destination(Bytes("kept"));
    Destination.SetPosition(4);
    UnpackStream(Source, Destination);
    EXPECT_EQ(Destination.Bytes(), Bytes("kept"));
}

TEST(LzhDecoder, MatchBeforeAnyLiteralCopiesTheInitialSpaces) {
    // In the starting tree symbol 256 (a 3-byte match) sits at a known leaf;
    // walk its parents to get its code, then position 0 (prefix 000, six zeros).
    lzhuf::TAdaptiveTree Tree;
    Tree.Start();
    std::vector<unsigned> Path;
    for (int Node = Tree.Parent[256 + lzhuf::TreeSize]; Node != lzhuf::Root;
         Node = Tree.Parent[Node])
        Path.insert(Path.begin(), unsigned(Node & 1));
    THandStream Stream;
    Stream.Bytes = {3, 0, 0, 0};
    for (unsigned Bit : Path) Stream.Put(Bit);
    for (int i = 0; i < 9; ++i) Stream.Put(0);
    EXPECT_EQ(Decode(Stream.Bytes), Bytes("   "));
}

TEST(LzhDecoder, ReportsProgressAfterEveryFlush) {
    const auto Input = Structured(3223044);
    std::vector<int32_t> Reports;
    const auto Output = Decode(LzhufEncode(Input), [&](int32_t p) { Reports.push_back(p); });
    EXPECT_EQ(Output, Input);
    ASSERT_EQ(Reports.size(), 315u);
    EXPECT_EQ(Reports.front(), int32_t(10241LL * 100 / 3223045));
    EXPECT_EQ(Reports.back(), 100);
    EXPECT_TRUE(std::is_sorted(Reports.begin(), Reports.end()));
}

// ((position + 1) x 100) div (size + 1) after each flush of 10,240 bytes:
// for 20,481 bytes that is 50, 99, 100, which position x 100 div size
// (49, 100, 100) and the other near forms would not give.
TEST(LzhDecoder, ProgressValuesFollowTheirFormula) {
    const auto Input = Structured(20481);
    std::vector<int32_t> Reports;
    EXPECT_EQ(Decode(LzhufEncode(Input), [&](int32_t p) { Reports.push_back(p); }), Input);
    EXPECT_EQ(Reports, (std::vector<int32_t>{50, 99, 100}));
}

TEST(LzhDecoder, SourceAndDestinationSeeTransfersOfAtMostTheBufferSize) {
    struct TCountingStream : TMemoryStream {
        using TMemoryStream::TMemoryStream;
        int64_t Largest = 0;
        int64_t Read(void* b, int64_t n) override {
            Largest = std::max(Largest, n);
            return TMemoryStream::Read(b, n);
        }
        int64_t Write(const void* b, int64_t n) override {
            Largest = std::max(Largest, n);
            return TMemoryStream::Write(b, n);
        }
    };
    TCountingStream Source(LzhufEncode(RandomBytes(50000, 3))), Destination;
    UnpackStream(Source, Destination);
    EXPECT_EQ(Source.Largest, TLZHPacker::BufferSize);
    EXPECT_EQ(Destination.Largest, TLZHPacker::BufferSize);
}

TEST(LzhBadInput, EveryTruncationIsRefused) {
    const auto Coded = LzhufEncode(Structured(3000));
    // The final byte may hold only padding; every shorter cut loses real bits.
    for (size_t Cut = 0; Cut + 1 < Coded.size(); ++Cut) {
        const std::vector<uint8_t> Short(Coded.begin(), Coded.begin() + Cut);
        EXPECT_THROW(Decode(Short), ELZHError) << "cut at " << Cut;
    }
}

TEST(LzhBadInput, HugeDecodedSizeFromTinyInputFailsFast) {
    std::vector<uint8_t> Hostile = {0xFF, 0xFF, 0xFF, 0xFF, 0x12, 0x34, 0x56};
    EXPECT_THROW(Decode(Hostile), ELZHError);
    // All-zero bits pick the shortest codes; even so the output stays bounded
    // by what the input can express.
    std::vector<uint8_t> Zeros(1000, 0);
    Zeros[0] = Zeros[1] = Zeros[2] = Zeros[3] = 0xFF;
    EXPECT_THROW(Decode(Zeros), ELZHError);
}

TEST(LzhBadInput, RandomGarbageDecodesOrFailsCleanly) {
    for (uint32_t Seed = 0; Seed < 200; ++Seed) {
        auto Garbage = RandomBytes(64 + Seed * 7, Seed);
        Garbage[2] = 0;
        Garbage[3] = 0; // keep the claimed size modest
        try {
            const auto Output = Decode(Garbage);
            EXPECT_EQ(Output.size(), GetLE32(Garbage.data()));
        } catch (const ELZHError&) {
        }
    }
}

// The coder's stream, without its size field, is an LHA "-lh1-" member: an
// archive tool nobody here wrote must decode it to the same bytes.
TEST(LzhIndependent, LhaDecodesTheCodersOutput) {
    REQUIRE_HOST_TOOLS();
    auto Input = Structured(150000);
    const auto Noise = RandomBytes(40000, 5);
    Input.insert(Input.end(), Noise.begin(), Noise.end());
    const auto Coded = LzhufEncode(Input);

    uint16_t Crc = 0;
    for (uint8_t b : Input) {
        Crc ^= b;
        for (int k = 0; k < 8; ++k) Crc = (Crc & 1) ? uint16_t((Crc >> 1) ^ 0xA001) : uint16_t(Crc >> 1);
    }
    const std::string Name = "DATA.BIN";
    std::vector<uint8_t> Header(22 + Name.size() + 2, 0);
    Header[0] = uint8_t(Header.size() - 2);
    std::memcpy(&Header[2], "-lh1-", 5);
    PutLE32(&Header[7], uint32_t(Coded.size() - 4));
    PutLE32(&Header[11], uint32_t(Input.size()));
    PutLE16(&Header[15], 0);      // time
    PutLE16(&Header[17], 0x5821); // date 2024-01-01
    Header[19] = 0x20;            // archive attribute
    Header[20] = 0;               // header level 0
    Header[21] = uint8_t(Name.size());
    std::memcpy(&Header[22], Name.data(), Name.size());
    PutLE16(&Header[22 + Name.size()], Crc);
    uint8_t Sum = 0;
    for (size_t i = 2; i < Header.size(); ++i) Sum = uint8_t(Sum + Header[i]);
    Header[1] = Sum;

    std::vector<uint8_t> Archive = Header;
    Archive.insert(Archive.end(), Coded.begin() + 4, Coded.end());
    Archive.push_back(0);

    TScratchDir Dir;
    WriteFileBytes(Dir / "test.lzh", Archive);
    const auto Result =
        RunCommand("cd " + ShellQuote(Dir.Path().string()) + " && lha pq test.lzh > decoded.bin");
    ASSERT_EQ(Result.ExitCode, 0) << Result.Output;
    EXPECT_EQ(ReadFileBytes(Dir / "decoded.bin"), Input);
}
