#include <gtest/gtest.h>

#include "TestSupport.h"
#include "base/ByteOrder.h"
#include "fakes/FakePlatform.h"
#include "image/ExeData.h"
#include "image/LZH.h"
#include "tools/container/ContainerWriter.h"

using namespace testing_support;

namespace {

std::vector<uint8_t> Bytes(const std::string& Text) { return {Text.begin(), Text.end()}; }

std::vector<TContainerItem> SampleItems() {
    return {
        {1, "Purgit\\DATA\\PURGIT.INI", Bytes("O1=1\r\n")},
        {1, "AUTOEXEC.BAT", Bytes("@echo off\r\n")},
        {1, ".BOOT", RandomBytes(3000, 1)},
        {2, "MANIFEST", Bytes("build 1")},
        {1, "Purgit\\README.TXT", Bytes("read me")},
    };
}

TExeDataBase Load(const std::vector<uint8_t>& Container) {
    TExeDataBase Store;
    TMemoryStream Stream(Container);
    Store.LoadContainer(Stream);
    return Store;
}

void ExpectItems(const TExeDataBase& Store, const std::vector<TContainerItem>& Items) {
    ASSERT_EQ(Store.ItemCount, int32_t(Items.size()));
    ASSERT_EQ(Store.Items.size(), Items.size());
    for (size_t i = 0; i < Items.size(); ++i) {
        EXPECT_EQ(Store.Items[i]->ItemKind, Items[i].Kind);
        EXPECT_EQ(Store.Items[i]->ItemName, Items[i].Name);
        EXPECT_EQ(Store.Items[i]->ItemData.Bytes(), Items[i].Data);
    }
}

} // namespace

TEST(ExeDataContainer, PackedAndUncodedFormsLoadToTheSameStore) {
    const auto Items = SampleItems();
    const auto Payload = BuildPayload(Items);
    ExpectItems(Load(BuildContainer(Payload, true)), Items);
    ExpectItems(Load(BuildContainer(Payload, false)), Items);
}

TEST(ExeDataContainer, PackedLengthFieldIsIgnoredInFavourOfTheStream) {
    auto Container = BuildContainer(BuildPayload(SampleItems()), true);
    PutLE32(&Container[1], 7); // the LZH stream carries its own length
    ExpectItems(Load(Container), SampleItems());
}

TEST(ExeDataContainer, AnyNonZeroFlagMeansPacked) {
    auto Container = BuildContainer(BuildPayload(SampleItems()), true);
    Container[0] = 0x5A;
    ExpectItems(Load(Container), SampleItems());
}

TEST(ExeDataContainer, EmptyContainerGivesAnEmptyStore) {
    for (bool Packed : {true, false}) {
        const TExeDataBase Store = Load(BuildContainer(BuildPayload({}), Packed));
        EXPECT_EQ(Store.ItemCount, 0);
        EXPECT_TRUE(Store.Items.empty());
        EXPECT_EQ(Store.FindItem(".BOOT", 1), nullptr);
        EXPECT_EQ(Store.FindItem("", 0), nullptr);
    }
}

TEST(ExeDataContainer, ZeroLengthItemsLoad) {
    const std::vector<TContainerItem> Items = {{1, "EMPTY.TXT", {}}, {1, "", Bytes("x")}};
    ExpectItems(Load(BuildContainer(BuildPayload(Items), false)), Items);
}

// The decoder hands the payload over in 10,240-byte pieces; with hundreds
// of items of assorted sizes every kind of field is cut by a piece's end.
TEST(ExeDataContainer, ItemsCutByTheDecodersTransfersLoadWhole) {
    std::vector<TContainerItem> Items;
    for (uint32_t i = 0; i < 400; ++i) {
        const std::string Name = "DIR" + std::to_string(i % 7) + "\\FILE" + std::to_string(i) + ".BIN";
        Items.push_back({uint8_t(1 + i % 2), Name, RandomBytes((i * 7919) % 900, i)});
    }
    Items.push_back({1, ".BIG", RandomBytes(3 * TLZHPacker::BufferSize + 17, 5)});
    const auto Payload = BuildPayload(Items);
    ASSERT_GT(Payload.size(), size_t(20 * TLZHPacker::BufferSize));
    ExpectItems(Load(BuildContainer(Payload, true)), Items);
    ExpectItems(Load(BuildContainer(Payload, false)), Items);
}

TEST(ExeDataFindItem, MatchesNameWithoutCaseAndKindExactly) {
    const TExeDataBase Store = Load(BuildContainer(BuildPayload(SampleItems()), true));
    EXPECT_EQ(Store.FindItem(".Boot", 1), &Store.Items[2]->ItemData);
    EXPECT_EQ(Store.FindItem(".BOOT", 0), nullptr);
    EXPECT_EQ(Store.FindItem("purgit\\data\\purgit.ini", 1), &Store.Items[0]->ItemData);
    EXPECT_EQ(Store.FindItem("MANIFEST", 1), nullptr);
    EXPECT_EQ(Store.FindItem("manifest", 2), &Store.Items[3]->ItemData);
    EXPECT_EQ(Store.FindItem("AUTOEXEC.BA", 1), nullptr);
}

TEST(ExeDataFindItem, FirstOfTwoEqualNamesWins) {
    const std::vector<TContainerItem> Items = {{1, "A.TXT", Bytes("first")},
                                               {1, "a.txt", Bytes("second")}};
    const TExeDataBase Store = Load(BuildContainer(BuildPayload(Items), false));
    EXPECT_EQ(Store.FindItem("A.txt", 1), &Store.Items[0]->ItemData);
}

TEST(ExeDataBadInput, TruncatedContainersRaise) {
    for (bool Packed : {true, false}) {
        const auto Container = BuildContainer(BuildPayload(SampleItems()), Packed);
        for (size_t Cut = 0; Cut < Container.size(); Cut += (Cut < 64 ? 1 : 97)) {
            const std::vector<uint8_t> Short(Container.begin(), Container.begin() + Cut);
            TExeDataBase Store;
            TMemoryStream Stream(Short);
            EXPECT_ANY_THROW(Store.LoadContainer(Stream)) << "packed " << Packed << " cut " << Cut;
        }
    }
}

TEST(ExeDataBadInput, HostileLengthsRaiseWithoutHugeAllocations) {
    auto Payload = BuildPayload(SampleItems());
    // Packed or not, a bad length is reported as such.
    auto Expect = [](std::vector<uint8_t> P) {
        for (bool Packed : {false, true}) {
            TExeDataBase Store;
            TMemoryStream Stream(BuildContainer(P, Packed));
            EXPECT_THROW(Store.LoadContainer(Stream), EStoreError) << "packed " << Packed;
        }
    };
    auto Count = Payload;
    PutLE32(&Count[0], 0xFFFFFFFF);
    Expect(Count);
    auto NameLength = Payload;
    PutLE32(&NameLength[5], 0x7FFFFFF0);
    Expect(NameLength);
    auto DataLength = Payload;
    PutLE32(&DataLength[9 + 22], 0xFFFFFF00); // first item: name "Purgit\DATA\PURGIT.INI"
    Expect(DataLength);
}

TEST(ExeDataBadInput, PackedSizeBeyondWhatTheStreamCanHoldRaisesAtOnce) {
    auto Container = BuildContainer(BuildPayload(SampleItems()), true);
    PutLE32(&Container[5], 0xFFFFFF00); // the LZH stream's own size field
    TExeDataBase Store;
    TMemoryStream Stream(Container);
    EXPECT_THROW(Store.LoadContainer(Stream), ELZHError);
}

TEST(ExeDataBadInput, UncodedPayloadLengthBeyondTheResourceRaises) {
    auto Container = BuildContainer(BuildPayload(SampleItems()), false);
    PutLE32(&Container[1], 0xFFFFFFF0);
    TExeDataBase Store;
    TMemoryStream Stream(Container);
    EXPECT_THROW(Store.LoadContainer(Stream), EStreamError);
}

TEST(ExeDataStores, LoadFromTheOwnResourcesAndFailOnBadOnes) {
    TFakePlatform Fake;
    const auto Good = BuildContainer(BuildPayload(SampleItems()), true);
    EXPECT_FALSE(LoadCdStore()); // no resource at all
    Fake.AddResource("stream", "purgxcd", Good);
    Fake.AddResource("STREAM", "PURGXDSK", std::vector<uint8_t>(Good.begin(), Good.end() - 9));
    EXPECT_TRUE(LoadCdStore());
    ExpectItems(*CdStore, SampleItems());
    EXPECT_FALSE(LoadDiskStore()); // truncated: the LZH stream ends early

    Fake.AddResource("STREAM", "PURGXDSK", Good);
    EXPECT_TRUE(LoadDiskStore());
    EXPECT_NE(DiskStore.get(), CdStore.get());
    EXPECT_NE(DiskStore->FindItem(".boot", 1), CdStore->FindItem(".boot", 1));
}

TEST(ExeDataStores, TheEmbeddedContainersLoad) {
    ASSERT_TRUE(LoadCdStore());
    ASSERT_TRUE(LoadDiskStore());
    ASSERT_GT(CdStore->ItemCount, 0);
    ASSERT_EQ(CdStore->ItemCount, DiskStore->ItemCount);
    for (int32_t i = 0; i < CdStore->ItemCount; ++i) {
        EXPECT_EQ(CdStore->Items[i]->ItemName, DiskStore->Items[i]->ItemName);
        EXPECT_EQ(CdStore->Items[i]->ItemData.Bytes(), DiskStore->Items[i]->ItemData.Bytes());
    }
    const TMemoryStream* Ini = CdStore->FindItem("Purgit\\DATA\\PURGIT.INI", 1);
    ASSERT_NE(Ini, nullptr);
    EXPECT_EQ(Ini->Bytes().size(), 68u);
}
