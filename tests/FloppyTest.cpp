// The in-memory floppy: geometry, sector transfers, FAT12 packing and group
// addressing, loading, and the date and time words of new entries.

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "FloppyTestSupport.h"
#include "TestSupport.h"
#include "fakes/FakePlatform.h"

using namespace floppy_test;
using testing_support::RandomBytes;

namespace {

// Records every transfer, so tests can see which sectors an operation touched.
class TRecordingFloppy : public TVirtualFloppy {
public:
    std::vector<std::pair<int32_t, int32_t>> Reads, Writes;

    int32_t WriteSectors(int32_t Sector, const uint8_t* Buffer, int32_t Count) override {
        Writes.emplace_back(Sector, Count);
        return TVirtualFloppy::WriteSectors(Sector, Buffer, Count);
    }
    int32_t ReadSectors(int32_t Sector, uint8_t* Buffer, int32_t Count) override {
        Reads.emplace_back(Sector, Count);
        return TVirtualFloppy::ReadSectors(Sector, Buffer, Count);
    }
};

// FAT12 read the other way round: the 16-bit word at byte 3i/2, shifted for
// odd entries.
uint16_t ReferenceEntry(const uint8_t* Fat, int32_t Index) {
    const uint16_t Word = GetLE16(Fat + Index * 3 / 2);
    return Index % 2 ? uint16_t(Word >> 4) : uint16_t(Word & 0xFFF);
}

} // namespace

TEST(VirtualFloppyGeometry, ChsAddressesMapToSectors) {
    EXPECT_EQ(ChsToSector(0, 0, 1), 0);
    EXPECT_EQ(ChsToSector(1, 0, 1), 18);
    EXPECT_EQ(ChsToSector(0, 1, 1), 36);
    EXPECT_EQ(ChsToSector(1, 79, 18), 2879);

    auto Floppy = std::make_unique<TVirtualFloppy>();
    const auto Data = RandomBytes(512, 1);
    EXPECT_EQ(Floppy->WriteSectorsChs(1, 0, 1, Data.data(), 1), 1);
    EXPECT_TRUE(std::equal(Data.begin(), Data.end(), Floppy->Image.begin() + 9216));
    std::vector<uint8_t> Back(512);
    EXPECT_EQ(Floppy->ReadSectorsChs(1, 0, 1, Back.data(), 1), 1);
    EXPECT_EQ(Back, Data);
}

TEST(VirtualFloppyGeometry, TransfersOutsideTheImageAreRefusedAndTouchNothing) {
    auto Floppy = std::make_unique<TVirtualFloppy>();
    const auto Data = RandomBytes(3 * 512, 2);
    std::vector<uint8_t> Back(3 * 512, 0x5A);

    EXPECT_EQ(Floppy->WriteSectors(2880, Data.data(), 1), 0);
    EXPECT_EQ(Floppy->WriteSectors(2879, Data.data(), 2), 0);
    EXPECT_EQ(Floppy->WriteSectors(-1, Data.data(), 1), 0);
    EXPECT_EQ(Floppy->WriteSectors(5, Data.data(), 0), 0);
    EXPECT_EQ(Floppy->WriteSectors(5, Data.data(), -2), 0);
    EXPECT_EQ(Floppy->WriteSectors(0x7FFFFFF0, Data.data(), 0x20), 0);
    // Invalid cylinder/head/sector addresses, even ones that would alias.
    EXPECT_EQ(Floppy->WriteSectorsChs(2, 0, 1, Data.data(), 1), 0);
    EXPECT_EQ(Floppy->WriteSectorsChs(0, 80, 1, Data.data(), 1), 0);
    EXPECT_EQ(Floppy->WriteSectorsChs(0, 0, 0, Data.data(), 1), 0);
    EXPECT_EQ(Floppy->WriteSectorsChs(0, 0, 19, Data.data(), 1), 0);
    EXPECT_TRUE(
        std::all_of(Floppy->Image.begin(), Floppy->Image.end(), [](uint8_t b) { return b == 0; }));

    EXPECT_EQ(Floppy->ReadSectors(2878, Back.data(), 3), 0);
    EXPECT_EQ(Floppy->ReadSectorsChs(1, 79, 19, Back.data(), 1), 0);
    EXPECT_TRUE(std::all_of(Back.begin(), Back.end(), [](uint8_t b) { return b == 0x5A; }));

    // The last sectors themselves are fine.
    EXPECT_EQ(Floppy->WriteSectors(2877, Data.data(), 3), 3);
    EXPECT_EQ(Floppy->ReadSectors(2877, Back.data(), 3), 3);
    EXPECT_EQ(Back, Data);
}

TEST(VirtualFloppyGeometry, BaseClassTransfersNothing) {
    TGenericFloppy Floppy;
    uint8_t Sector[512] = {};
    EXPECT_EQ(Floppy.ReadSectors(0, Sector, 1), 0);
    EXPECT_EQ(Floppy.WriteSectors(0, Sector, 1), 0);
    EXPECT_EQ(Floppy.WriteSectorsChs(0, 0, 1, Sector, 1), 0);
    // A failed FAT read looks like the end of a chain, never like a free cluster.
    EXPECT_EQ(Floppy.GetFatEntry(2), FatEndMark);
    EXPECT_EQ(Floppy.SetFatEntry(2, 5), 0);
}

TEST(Fat12Packing, DecodesAndEncodesEntryPairs) {
    const uint8_t Bytes[] = {0xF0, 0xFF, 0xFF, 0x03, 0xF0, 0xFF};
    EXPECT_EQ(GetFat12Entry(0, Bytes), 0xFF0);
    EXPECT_EQ(GetFat12Entry(1, Bytes), 0xFFF);
    EXPECT_EQ(GetFat12Entry(2, Bytes), 0x003);
    EXPECT_EQ(GetFat12Entry(3, Bytes), 0xFFF);

    uint8_t Group[1536] = {};
    SetFat12Entry(2, 5, Group);
    SetFat12Entry(3, 6, Group);
    EXPECT_EQ(Group[3], 0x05);
    EXPECT_EQ(Group[4], 0x60);
    EXPECT_EQ(Group[5], 0x00);
    // Only the low 12 bits are stored.
    SetFat12Entry(4, 0xFABC, Group);
    EXPECT_EQ(GetFat12Entry(4, Group), 0xABC);
}

TEST(Fat12Packing, EveryEntryOfAGroupRoundTripsWithoutDisturbingItsNeighbours) {
    uint8_t Group[1536];
    const auto Noise = RandomBytes(sizeof Group, 3);
    std::copy(Noise.begin(), Noise.end(), Group);
    const auto Values = RandomBytes(2 * 1024, 4);
    for (int32_t i = 0; i < 1024; ++i) {
        uint8_t Before[1536];
        std::copy(Group, Group + 1536, Before);
        const uint16_t Value = uint16_t((Values[2 * i] | Values[2 * i + 1] << 8) & 0xFFF);
        SetFat12Entry(i, Value, Group);
        ASSERT_EQ(GetFat12Entry(i, Group), Value) << i;
        ASSERT_EQ(ReferenceEntry(Group, i), Value) << i;
        for (int32_t j = std::max(0, i - 2); j <= std::min(1023, i + 2); ++j) {
            if (j == i) continue;
            ASSERT_EQ(ReferenceEntry(Group, j), ReferenceEntry(Before, j)) << i;
        }
    }
}

TEST(Fat12Groups, EntriesLiveInThreeSectorGroupsMirroredNineSectorsHigher) {
    auto Floppy = std::make_unique<TRecordingFloppy>();
    EXPECT_EQ(Floppy->GetFatEntry(1023), 0);
    EXPECT_EQ(Floppy->GetFatEntry(1024), 0);
    EXPECT_EQ(Floppy->Reads, (std::vector<std::pair<int32_t, int32_t>>{{1, 3}, {4, 3}}));

    Floppy->Writes.clear();
    EXPECT_NE(Floppy->SetFatEntry(1024, 0x123), 0);
    EXPECT_EQ(Floppy->Writes, (std::vector<std::pair<int32_t, int32_t>>{{4, 3}, {13, 3}}));
    EXPECT_EQ(Floppy->GetFatEntry(1024), 0x123);
    EXPECT_EQ(Floppy->GetFatEntry(1023), 0);

    // Group 1 starts at byte 1536 of the FAT: entry 1024 is its entry 0.
    EXPECT_EQ(ReferenceEntry(SectorOf(*Floppy, 1), 1024), 0x123);
    EXPECT_EQ(ReferenceEntry(SectorOf(*Floppy, 10), 1024), 0x123);

    // A spread of entries over all three groups; FAT 2 stays a copy of FAT 1.
    const auto Values = RandomBytes(64, 5);
    for (int32_t i = 0; i < 64; ++i)
        Floppy->SetFatEntry(i * 48 + 1, uint16_t(Values[size_t(i)] * 13));
    for (int32_t i = 0; i < 64; ++i) {
        EXPECT_EQ(Floppy->GetFatEntry(i * 48 + 1), uint16_t(Values[size_t(i)] * 13 & 0xFFF));
        EXPECT_EQ(ReferenceEntry(SectorOf(*Floppy, 1), i * 48 + 1),
                  uint16_t(Values[size_t(i)] * 13 & 0xFFF));
    }
    EXPECT_TRUE(std::equal(SectorOf(*Floppy, 1), SectorOf(*Floppy, 10), SectorOf(*Floppy, 10)));
    // Nothing outside the two FATs was written.
    EXPECT_TRUE(std::all_of(SectorOf(*Floppy, 19), Floppy->Image.data() + Floppy->Image.size(),
                            [](uint8_t b) { return b == 0; }));
}

TEST(Fat12Groups, ClustersBeyondTheTableAreRefused) {
    auto Floppy = std::make_unique<TRecordingFloppy>();
    EXPECT_NE(Floppy->SetFatEntry(3071, 0xABC), 0);
    EXPECT_EQ(Floppy->GetFatEntry(3071), 0xABC);
    Floppy->Writes.clear();
    // Entry 3072 would be in FAT 2, and its mirror in the root directory.
    EXPECT_EQ(Floppy->SetFatEntry(3072, 0x111), 0);
    EXPECT_EQ(Floppy->SetFatEntry(-1, 0x111), 0);
    EXPECT_TRUE(Floppy->Writes.empty());
    EXPECT_EQ(Floppy->GetFatEntry(3072), FatEndMark);
    EXPECT_EQ(Floppy->GetFatEntry(-5), FatEndMark);
}

TEST(VirtualFloppyLoad, ShortStreamLeavesTheSeededFatBytes) {
    auto Floppy = std::make_unique<TVirtualFloppy>();
    Floppy->Image.fill(0x77); // whatever was there before goes
    TMemoryStream Stream(RandomBytes(100, 6));
    EXPECT_EQ(Floppy->LoadFromStream(Stream, 100), 100);
    EXPECT_TRUE(std::equal(Stream.Bytes().begin(), Stream.Bytes().end(), Floppy->Image.begin()));
    const std::set<size_t> Seeded = {512, 513, 514, 5120, 5121, 5122};
    for (size_t i = 100; i < Floppy->Image.size(); ++i) {
        if (Seeded.count(i)) continue;
        ASSERT_EQ(Floppy->Image[i], 0) << i;
    }
    for (size_t Base : {512, 5120}) {
        EXPECT_EQ(Floppy->Image[Base], 0xF0);
        EXPECT_EQ(Floppy->Image[Base + 1], 0xFF);
        EXPECT_EQ(Floppy->Image[Base + 2], 0xFF);
    }
}

TEST(VirtualFloppyLoad, StreamBytesOverwriteTheSeedAndLoadsStopAtTheImageSize) {
    auto Floppy = std::make_unique<TVirtualFloppy>();
    const auto Big = RandomBytes(FloppyImageSize + 4096, 7);
    TMemoryStream Stream(Big);
    EXPECT_EQ(Floppy->LoadFromStream(Stream, Stream.Size()), FloppyImageSize);
    EXPECT_EQ(Stream.Position(), FloppyImageSize);
    EXPECT_TRUE(std::equal(Floppy->Image.begin(), Floppy->Image.end(), Big.begin()));

    // From the stream's position; a count beyond the stream reads what is there.
    Stream.SetPosition(FloppyImageSize);
    EXPECT_EQ(Floppy->LoadFromStream(Stream, 1 << 30), 4096);
    EXPECT_TRUE(std::equal(Big.end() - 4096, Big.end(), Floppy->Image.begin()));
    EXPECT_EQ(Floppy->Image[5120], 0xF0);

    // A stream that ends inside the seed keeps its own byte and the rest of the seed.
    Stream.SetPosition(0);
    EXPECT_EQ(Floppy->LoadFromStream(Stream, 513), 513);
    EXPECT_EQ(Floppy->Image[512], Big[512]);
    EXPECT_EQ(Floppy->Image[513], 0xFF);
    EXPECT_EQ(Floppy->Image[514], 0xFF);
    EXPECT_EQ(Floppy->Image[515], 0);
    EXPECT_EQ(Floppy->Image[5120], 0xF0);

    Stream.SetPosition(0);
    EXPECT_EQ(Floppy->LoadFromStream(Stream, -1), 0);
    EXPECT_EQ(Floppy->Image[0], 0);
    EXPECT_EQ(Floppy->Image[512], 0xF0);
}

TEST(DosDateAndTime, WallClockGivesTheDirectoryWords) {
    TFakePlatform Fake;
    Fake.Clock = {2005, 6, 15, 13, 45, 31};
    EXPECT_EQ(DosDateNow(), (2005 - 1980) * 512 + 6 * 32 + 15);
    EXPECT_EQ(DosTimeNow(), 13 * 2048 + 45 * 32 + 15);

    Fake.Clock = {1979, 12, 31, 23, 59, 59};
    EXPECT_EQ(DosDateNow(), 0 * 512 + 1 * 32 + 1);
    EXPECT_EQ(DosTimeNow(), 0);
    Fake.Clock = {2108, 1, 1, 0, 0, 9};
    EXPECT_EQ(DosDateNow(), 127 * 512 + 12 * 32 + 31);
    EXPECT_EQ(DosTimeNow(), 23 * 2048 + 59 * 32 + 29);
}

TEST(DosDateAndTime, SourceDateEpochIsReadAsUtc) {
    TFakePlatform Fake;
    Fake.Clock = {2001, 1, 1, 1, 1, 1};
    struct {
        const char* Epoch;
        int Year, Month, Day, Hour, Minute, Second;
    } const Cases[] = {
        {"1133000000", 2005, 11, 26, 10, 13, 20}, // an ordinary moment
        {"1709210096", 2024, 2, 29, 12, 34, 56},  // a leap day
        {"951868801", 2000, 3, 1, 0, 0, 1},       // the day after a 400-year leap day
        {"4354819199", 2107, 12, 31, 23, 59, 58}, // the last DOS second, rounded down
        {"4354819209", 2107, 12, 31, 23, 59, 58}, // past it: clamped
        {"315532799", 1980, 1, 1, 0, 0, 0},       // before 1980: clamped
        {"0", 1980, 1, 1, 0, 0, 0},
        {"-86400", 1980, 1, 1, 0, 0, 0},
        {"999999999999999999", 2107, 12, 31, 23, 59, 58},
    };
    for (const auto& Case : Cases) {
        Fake.Environment["SOURCE_DATE_EPOCH"] = Case.Epoch;
        EXPECT_EQ(DosDateNow(), (Case.Year - 1980) * 512 + Case.Month * 32 + Case.Day)
            << Case.Epoch;
        EXPECT_EQ(DosTimeNow(), Case.Hour * 2048 + Case.Minute * 32 + Case.Second / 2)
            << Case.Epoch;
    }
}

TEST(DosDateAndTime, MalformedSourceDateEpochIsReportedAndIgnored) {
    TFakePlatform Fake;
    Fake.Clock = {2005, 6, 15, 13, 45, 30};
    bool Malformed = true;
    EXPECT_FALSE(SourceDateEpoch(&Malformed).has_value());
    EXPECT_FALSE(Malformed);
    for (const char* Text : {"", "12x", "1.5", " 12", "99999999999999999999999"}) {
        Fake.Environment["SOURCE_DATE_EPOCH"] = Text;
        EXPECT_FALSE(SourceDateEpoch(&Malformed).has_value()) << Text;
        EXPECT_TRUE(Malformed) << Text;
        EXPECT_EQ(DosDateNow(), 25 * 512 + 6 * 32 + 15) << Text;
    }
    Fake.Environment["SOURCE_DATE_EPOCH"] = "42";
    EXPECT_EQ(SourceDateEpoch(&Malformed), 42);
    EXPECT_FALSE(Malformed);
}
