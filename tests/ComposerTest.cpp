#include <gtest/gtest.h>

#include <algorithm>

#include "ComposerFixtures.h"
#include "TestSupport.h"
#include "fakes/FakePlatform.h"
#include "fakes/ScriptedUserInterface.h"
#include "image/Composer.h"
#include "image/WiperOptions.h"

using namespace composer_test;
using namespace floppy_test;
using namespace testing_support;

namespace {

std::string Text(const std::vector<uint8_t>& Data) { return {Data.begin(), Data.end()}; }

std::string FileText(TVirtualFloppy& Floppy, const std::string& Folder, const std::string& Name) {
    auto Directory = OpenImageFolder(Floppy, Folder);
    const auto [Whole, Data] = ReadBack(*Directory, Name);
    EXPECT_TRUE(Whole) << Folder << "\\" << Name;
    return Text(Data);
}

std::vector<std::string> RootNames(TVirtualFloppy& Floppy) {
    TFloppyDirectory Root(Floppy);
    return Listing(Root);
}

// A Windows 98 machine with its emergency-boot io.sys and a COMSPEC.
void Windows98(TFakePlatform& Fake) {
    Fake.WindowsVersion = {1, 4, 10};
    Fake.Files["C:\\WINDOWS\\COMMAND\\EBD\\IO.SYS"] = std::string(5000, 'I');
    Fake.Files["C:\\WINDOWS\\COMMAND.COM"] = std::string(900, 'C');
    Fake.Environment["COMSPEC"] = "C:\\WINDOWS\\COMMAND.COM";
}

std::string DiskCopyImage() {
    std::string Image(1474560, '\0');
    Image.replace(3, 8, "DISKCOPY");
    return Image;
}

} // namespace

TEST(ComposerTexts, StartupBatchLinesAndEnds) {
    EXPECT_EQ(StartupBatch(true, "/auto"),
              "@echo off\r\nprompt $p$g\r\ncd \\Purgit\r\ndata\\ctmouse\r\n"
              "@echo Running Corvane Purgex 2005 ...\r\nPurgit /auto\r\n");
    const auto Lines = StartupBatchLines(false, "");
    ASSERT_EQ(Lines.size(), 5u);
    EXPECT_EQ(Lines.back(), "Purgit ");
}

TEST(ComposerTexts, WiperIniAndMsDosConfig) {
    const std::string Ini = WiperIni("100111001010");
    EXPECT_EQ(Ini.size(), 68u);
    EXPECT_EQ(Ini.substr(0, 12), "O1=1\r\nO2=0\r\n");
    EXPECT_EQ(Ini.substr(Ini.size() - 7), "O11=1\r\n");
    EXPECT_EQ(Ini.find("O12"), std::string::npos); // "Disable mouse support" is not the wiper's
    // A short string reads as "1" for the options it lacks.
    const auto Short = WiperIniLines("00000");
    for (int n = 6; n <= 11; ++n) EXPECT_EQ(Short[size_t(n - 1)].back(), '1') << n;
    EXPECT_EQ(Short[4], "O5=0");
    EXPECT_EQ(MsDosConfigText.size(), 22u);
}

TEST(ComposerPlacement, Windows98UsesItsOwnFilesWithoutAsking) {
    TFakePlatform Fake;
    Windows98(Fake);
    TScriptedUserInterface Ui;
    const auto Store = MakeStore(StoreItems());
    const auto FloppyOwner = std::make_unique<TVirtualFloppy>();
    TVirtualFloppy& Floppy = *FloppyOwner;
    EXPECT_TRUE(PlaceMsDosSystem(Floppy, *Store));
    EXPECT_EQ(RootNames(Floppy),
              (std::vector<std::string>{"DSKPURGX", "IO.SYS", "COMMAND.COM", "MSDOS.SYS"}));
    EXPECT_EQ(FileText(Floppy, "", "IO.SYS"), std::string(5000, 'I'));
    EXPECT_EQ(FileText(Floppy, "", "MSDOS.SYS"), "[Options]\r\nBootGui=0\r\n");
    EXPECT_TRUE(Ui.Log.empty());
    // IO.SYS comes first onto the fresh image, so it is contiguous from cluster 2.
    EXPECT_EQ(EntryCluster(RootEntry(Floppy, 1)), 2);
}

TEST(ComposerPlacement, Windows95FallsBackToTheFilesOnDriveC) {
    TFakePlatform Fake;
    Fake.WindowsVersion = {1, 4, 0};
    Fake.Files["C:\\IO.SYS"] = "io";
    Fake.Files["C:\\COMMAND.COM"] = "command";
    TScriptedUserInterface Ui;
    const auto Store = MakeStore(StoreItems());
    const auto FloppyOwner = std::make_unique<TVirtualFloppy>();
    TVirtualFloppy& Floppy = *FloppyOwner;
    EXPECT_TRUE(PlaceMsDosSystem(Floppy, *Store));
    EXPECT_EQ(FileText(Floppy, "", "COMMAND.COM"), "command");
}

TEST(ComposerPlacement, WindowsMeWithoutSystemFilesStopsWithoutThePicker) {
    for (bool HaveIoSys : {false, true}) {
        TFakePlatform Fake;
        Fake.WindowsVersion = {1, 4, 90};
        if (HaveIoSys) Fake.Files["C:\\IO.SYS"] = "io"; // but no command.com anywhere
        TScriptedUserInterface Ui;
        const auto Store = MakeStore(StoreItems());
        const auto FloppyOwner = std::make_unique<TVirtualFloppy>();
        TVirtualFloppy& Floppy = *FloppyOwner;
        EXPECT_FALSE(PlaceMsDosSystem(Floppy, *Store));
        EXPECT_TRUE(Ui.Log.empty());
        const std::vector<std::string> Expected =
            HaveIoSys ? std::vector<std::string>{"DSKPURGX", "IO.SYS"}
                      : std::vector<std::string>{"DSKPURGX"};
        EXPECT_EQ(RootNames(Floppy), Expected);
    }
}

TEST(ComposerPlacement, XpUsesTheDiskCopyImageOrElseThePicker) {
    TFakePlatform Fake;
    Fake.WindowsVersion = {2, 5, 1};
    Fake.LibraryResources["DISKCOPY.DLL/BINFILE/#1"] = DiskCopyImage();
    TScriptedUserInterface Ui;
    const auto Store = MakeStore(StoreItems());
    const auto FloppyOwner = std::make_unique<TVirtualFloppy>();
    TVirtualFloppy& Floppy = *FloppyOwner;
    EXPECT_TRUE(PlaceMsDosSystem(Floppy, *Store));
    EXPECT_EQ(std::string(Floppy.Image.begin() + 3, Floppy.Image.begin() + 11), "DISKCOPY");
    EXPECT_TRUE(Ui.Log.empty());

    // A resource too small to be a floppy is no image: the picker takes over.
    Fake.LibraryResources["DISKCOPY.DLL/BINFILE/#1"] = "tiny";
    Fake.Files["D:\\DOS\\IO.SYS"] = "io from folder";
    Fake.Files["D:\\DOS\\COMMAND.COM"] = "command from folder";
    Ui.FolderAnswers = {std::string("D:\\DOS\\")};
    const auto PickedOwner = std::make_unique<TVirtualFloppy>();
    TVirtualFloppy& Picked = *PickedOwner;
    EXPECT_TRUE(PlaceMsDosSystem(Picked, *Store));
    EXPECT_EQ(Ui.Log, (std::vector<std::string>{"folder"}));
    EXPECT_EQ(RootNames(Picked),
              (std::vector<std::string>{"DSKPURGX", "IO.SYS", "COMMAND.COM", "MSDOS.SYS"}));
    EXPECT_EQ(FileText(Picked, "", "IO.SYS"), "io from folder");
}

TEST(ComposerPlacement, Windows2000AlwaysAsksThePicker) {
    TFakePlatform Fake;
    Fake.WindowsVersion = {2, 5, 0};
    Fake.LibraryResources["DISKCOPY.DLL/BINFILE/#1"] = DiskCopyImage(); // not looked at
    TScriptedUserInterface Ui;
    Ui.FolderAnswers = {std::nullopt};
    const auto Store = MakeStore(StoreItems());
    const auto FloppyOwner = std::make_unique<TVirtualFloppy>();
    TVirtualFloppy& Floppy = *FloppyOwner;
    EXPECT_FALSE(PlaceMsDosSystem(Floppy, *Store)); // cancelled
    EXPECT_EQ(Ui.Log, (std::vector<std::string>{"folder"}));

    // A folder that lost a file after it was confirmed fails the placement.
    Fake.Files["E:\\SYS\\IO.SYS"] = "io";
    Ui.FolderAnswers = {std::string("E:\\SYS\\")};
    EXPECT_FALSE(PlaceMsDosSystem(Floppy, *Store));
}

TEST(ComposerPlacement, LaterVersionsTryDiskCopyBeforeThePicker) {
    TFakePlatform Fake;
    Fake.WindowsVersion = {2, 6, 1};
    Fake.LibraryResources["DISKCOPY.DLL/BINFILE/#1"] = DiskCopyImage();
    TScriptedUserInterface Ui;
    const auto Store = MakeStore(StoreItems());
    const auto FloppyOwner = std::make_unique<TVirtualFloppy>();
    TVirtualFloppy& Floppy = *FloppyOwner;
    EXPECT_TRUE(PlaceMsDosSystem(Floppy, *Store));
    EXPECT_TRUE(Ui.Log.empty());
}

TEST(ComposerFiles, StoreFilesAndGeneratedStartupFilesLandInTheImage) {
    TFakePlatform Fake;
    const auto Items = StoreItems();
    const auto Store = MakeStore(Items);
    auto Floppy = FreshFloppy();
    ASSERT_TRUE(ComposeStartupFiles(*Floppy, *Store, false, "/x", "01"));

    EXPECT_EQ(RootNames(*Floppy), (std::vector<std::string>{"PURGIT", "AUTOEXEC.BAT"}));
    EXPECT_EQ(FileText(*Floppy, "", "AUTOEXEC.BAT"), StartupBatch(false, "/x"));
    EXPECT_EQ(FileText(*Floppy, "Purgit\\DATA", "PURGIT.INI"), WiperIni("01"));
    EXPECT_EQ(FileText(*Floppy, "Purgit", "PURGIT.EXE"), Text(Items[0].Data));
    EXPECT_EQ(FileText(*Floppy, "Purgit\\DATA", "HELP1.TXT"), std::string(513, 'h'));
    EXPECT_EQ(FileText(*Floppy, "Purgit", "README.TXT"), "");
    auto Purgit = OpenImageFolder(*Floppy, "Purgit");
    EXPECT_EQ(Listing(*Purgit), (std::vector<std::string>{".", "..", "PURGIT.EXE", "DATA",
                                                          "METHODS", "README.TXT"}));
}

TEST(ComposerFiles, AFileThatDoesNotFitFails) {
    TFakePlatform Fake;
    auto Items = StoreItems();
    Items.insert(Items.begin(), {1, "BIG.BIN", std::vector<uint8_t>(1500000, 1)});
    const auto Store = MakeStore(Items);
    auto Floppy = FreshFloppy();
    EXPECT_FALSE(ComposeStartupFiles(*Floppy, *Store, true, "", "1"));
}

TEST(ComposerFiles, EmptyStoreComposesNothingAndSucceeds) {
    TFakePlatform Fake;
    const auto Store = MakeStore({});
    auto Floppy = FreshFloppy();
    EXPECT_TRUE(ComposeStartupFiles(*Floppy, *Store, true, "", ""));
    EXPECT_TRUE(RootNames(*Floppy).empty());
}

// What the composer makes must be a sound FAT12 floppy for tools nobody
// here wrote.
TEST(ComposerIndependent, ComposedImagePassesFsckAndMtoolsReadsItBack) {
    REQUIRE_HOST_TOOLS();
    TFakePlatform Fake;
    Windows98(Fake);
    TScriptedUserInterface Ui;
    const auto Items = StoreItems();
    const auto Store = MakeStore(Items);
    const auto FloppyOwner = std::make_unique<TVirtualFloppy>();
    TVirtualFloppy& Floppy = *FloppyOwner;
    ASSERT_TRUE(PlaceMsDosSystem(Floppy, *Store));
    ASSERT_TRUE(ComposeStartupFiles(Floppy, *Store, true, "", OptionString(DefaultOptions())));

    TScratchDir Dir;
    const std::string Image = (Dir / "disc.img").string();
    WriteFileBytes(Image, std::vector<uint8_t>(Floppy.Image.begin(), Floppy.Image.end()));
    const auto Fsck = RunCommand("fsck.fat -n " + ShellQuote(Image));
    EXPECT_EQ(Fsck.ExitCode, 0) << Fsck.Output;
    const std::string M = "MTOOLS_SKIP_CHECK=1 ";
    const auto Batch = RunCommand(M + "mtype -i " + ShellQuote(Image) + " ::AUTOEXEC.BAT");
    EXPECT_EQ(Batch.Output, StartupBatch(true, ""));
    const auto Ini = RunCommand(M + "mtype -i " + ShellQuote(Image) + " ::PURGIT/DATA/PURGIT.INI");
    EXPECT_EQ(Ini.Output, WiperIni("100111001010"));
    const auto Copy = RunCommand(M + "mcopy -i " + ShellQuote(Image) + " ::PURGIT/PURGIT.EXE " +
                                 ShellQuote((Dir / "p.exe").string()));
    ASSERT_EQ(Copy.ExitCode, 0) << Copy.Output;
    EXPECT_EQ(ReadFileBytes(Dir / "p.exe"), Items[0].Data);
}

// Windows 9x placement refuses what it cannot copy whole: a system file
// beyond the 2,000,000-byte buffer is not started on the image at all, and
// an MsDos.sys that does not fit fails the placement (the picker follows).
TEST(ComposerPlacement, Windows9xRefusesOversizedFilesAndAFailedMsDosSys) {
    {
        TFakePlatform Fake;
        Windows98(Fake);
        Fake.Files["C:\\WINDOWS\\COMMAND\\EBD\\IO.SYS"] = std::string(2000001, 'I');
        TScriptedUserInterface Ui;
        Ui.FolderAnswers = {std::nullopt}; // the picker, cancelled
        const auto Store = MakeStore(StoreItems());
        const auto Floppy = std::make_unique<TVirtualFloppy>();
        EXPECT_FALSE(PlaceMsDosSystem(*Floppy, *Store));
        EXPECT_EQ(Ui.Log, std::vector<std::string>{"folder"});
        const auto Names = RootNames(*Floppy);
        EXPECT_EQ(std::count(Names.begin(), Names.end(), "IO.SYS"), 0) << "nothing of it written";
    }
    {
        // io.sys and command.com take every cluster (2,847 of 512 bytes).
        TFakePlatform Fake;
        Windows98(Fake);
        Fake.Files["C:\\WINDOWS\\COMMAND\\EBD\\IO.SYS"] = std::string(1954 * 512, 'I');
        Fake.Files["C:\\WINDOWS\\COMMAND.COM"] = std::string(893 * 512, 'C');
        TScriptedUserInterface Ui;
        Ui.FolderAnswers = {std::nullopt}; // the picker, cancelled
        const auto Store = MakeStore(StoreItems());
        const auto Floppy = std::make_unique<TVirtualFloppy>();
        EXPECT_FALSE(PlaceMsDosSystem(*Floppy, *Store));
        EXPECT_EQ(Ui.Log, std::vector<std::string>{"folder"});
        EXPECT_EQ(FileText(*Floppy, "", "COMMAND.COM").size(), 893u * 512);
    }
}
