// The containers the build packs: their items, their floppy images, and that
// packing them again gives the same bytes.

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "image/ExeData.h"

using namespace testing_support;

TEST(PayloadStore, BothStoresHoldTheThirtySevenItems) {
    ASSERT_TRUE(LoadCdStore());
    ASSERT_TRUE(LoadDiskStore());
    for (const TExeDataBase* Store : {CdStore.get(), DiskStore.get()}) {
        ASSERT_EQ(Store->ItemCount, 37);
        int Files = 0, UnderPurgit = 0;
        for (const auto& Item : Store->Items) {
            Files += Item->ItemKind == 1;
            UnderPurgit += Item->ItemKind == 1 && Item->ItemName.rfind("Purgit\\", 0) == 0;
        }
        EXPECT_EQ(Files, 36);
        EXPECT_EQ(UnderPurgit, 33);
        EXPECT_EQ(Store->Items[33]->ItemName, "AUTOEXEC.BAT");
        EXPECT_EQ(Store->Items[34]->ItemName, ".BOOT");
        EXPECT_EQ(Store->Items[35]->ItemName, ".BOOTRECORD");
        EXPECT_NE(Store->Items[36]->ItemKind, 1);
        ASSERT_NE(Store->FindItem(".Boot", 1), nullptr);
        EXPECT_EQ(Store->FindItem(".BOOT", 1)->Size(), 1474560);
        EXPECT_EQ(Store->FindItem(".bootrecord", 1)->Size(), 1474560);
        EXPECT_EQ(Store->FindItem(".BOOT", 0), nullptr);
        EXPECT_NE(Store->FindItem("Purgit\\PURGIT.EXE", 1), nullptr);
        EXPECT_NE(Store->FindItem("purgit\\data\\ctmouse.exe", 1), nullptr);
    }
}

TEST(PayloadStore, FloppyImagesPassFsck) {
    REQUIRE_HOST_TOOLS();
    ASSERT_TRUE(LoadCdStore());
    TScratchDir Dir;
    for (const char* Name : {".BOOT", ".BOOTRECORD"}) {
        const TMemoryStream* Image = CdStore->FindItem(Name, 1);
        ASSERT_NE(Image, nullptr);
        const std::string Path = (Dir / (std::string(Name + 1) + ".img")).string();
        WriteFileBytes(Path, Image->Bytes());
        const auto Fsck = RunCommand("fsck.fat -n " + ShellQuote(Path));
        EXPECT_EQ(Fsck.ExitCode, 0) << Name << "\n" << Fsck.Output;
    }
}

#ifdef PURGEX_HOST_CHECKS
TEST(PayloadStore, PackingAgainGivesTheSameContainer) {
    const std::string Payload = PURGEX_CONTAINERS_DIR;
    const std::string Packer = PURGEX_MKCONTAINER;
    TScratchDir Dir;
    for (const char* Name : {"one", "two"}) {
        const auto Packed = RunCommand("SOURCE_DATE_EPOCH=1700000000 " + ShellQuote(Packer) + " " +
                                       ShellQuote(Payload + "/items.tsv") + " " +
                                       ShellQuote((Dir / Name).string()));
        ASSERT_EQ(Packed.ExitCode, 0) << Packed.Output;
    }
    const auto One = ReadFileBytes(Dir / "one");
    EXPECT_EQ(One, ReadFileBytes(Dir / "two"));
    // The packed container holds what the build embedded, the manifest aside.
    TExeDataBase Store;
    TMemoryStream Stream(One);
    Store.LoadContainer(Stream);
    ASSERT_TRUE(LoadCdStore());
    ASSERT_EQ(Store.ItemCount, CdStore->ItemCount);
    for (int i = 0; i < 36; ++i)
        EXPECT_EQ(Store.Items[size_t(i)]->ItemData.Bytes(), CdStore->Items[size_t(i)]->ItemData.Bytes());
    const auto& Manifest = Store.Items[36]->ItemData.Bytes();
    const std::string Text(Manifest.begin(), Manifest.end());
    EXPECT_NE(Text.find("Built 2023-11-14 22:13:20 UTC"), std::string::npos) << Text;
    EXPECT_NE(Text.find(" 1474560 .BOOTRECORD\r\n"), std::string::npos) << Text;
}
#endif
