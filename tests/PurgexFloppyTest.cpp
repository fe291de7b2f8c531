// purgex floppy on image files, judged by tools nobody here wrote: fsck.fat
// checks the file system, mtools reads the files back, QEMU boots the image
// as drive A:.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "QemuSupport.h"
#include "TestSupport.h"
#include "image/Composer.h"
#include "image/ExeData.h"
#include "platform/Platform.h"

using namespace testing_support;

#ifdef PURGEX_CLI
namespace {

const std::string Payload = PURGEX_CONTAINERS_DIR;
const std::string TestSystemFolder = Payload + "/bootrecord/testsys";

TCommandResult Purgex(const std::string& Arguments) {
    return RunCommand(ShellQuote(PURGEX_CLI) + " " + Arguments + " </dev/null");
}

std::string Mtype(const std::string& Image, const std::string& Path) {
    return RunCommand("MTOOLS_SKIP_CHECK=1 mtype -i " + ShellQuote(Image) + " " +
                      ShellQuote("::" + Path))
        .Output;
}

// How many entries of a folder carry Name (mdir -b lists one path a line).
int EntriesNamed(const std::string& Image, const std::string& Folder, const std::string& Name) {
    const auto Listing = RunCommand("MTOOLS_SKIP_CHECK=1 mdir -b -a -i " + ShellQuote(Image) + " " +
                                    ShellQuote("::" + Folder));
    int Count = 0;
    size_t At = 0;
    const std::string Wanted = "::" + Folder + Name + "\n";
    while ((At = Listing.Output.find(Wanted, At)) != std::string::npos) {
        ++Count;
        At += Wanted.size();
    }
    return Count;
}

void ExpectSoundFat(const std::string& Image) {
    const auto Fsck = RunCommand("fsck.fat -n " + ShellQuote(Image));
    EXPECT_EQ(Fsck.ExitCode, 0) << Fsck.Output;
}

} // namespace
#endif

TEST(PurgexFloppy, RxDosImageCarriesTheBootImageTheWiperAndTheChoices) {
    REQUIRE_HOST_TOOLS();
#ifdef PURGEX_CLI
    TScratchDir Dir;
    const std::string Image = (Dir / "f.img").string();
    const auto Made = Purgex("floppy " + ShellQuote(Image) +
                             " --yes --os rxdos --options 010011000101 --params 'FAST /Q'");
    ASSERT_EQ(Made.ExitCode, 0) << Made.Output;
    ASSERT_EQ(std::filesystem::file_size(Image), 1474560u);
    ExpectSoundFat(Image);

    // The boot sector is the embedded Rx-DOS floppy's.
    ASSERT_TRUE(LoadDiskStore());
    TMemoryStream* Boot = DiskStore->FindItem(".BOOT", 1);
    ASSERT_NE(Boot, nullptr);
    const auto Bytes = ReadFileBytes(Image);
    EXPECT_TRUE(std::equal(Bytes.begin(), Bytes.begin() + 512, Boot->Bytes().begin()));

    // Every store file reads back byte for byte; the two generated files
    // replaced the store's copies and appear once each.
    for (const auto& Item : DiskStore->Items) {
        if (Item->ItemKind != 1 || IsImageItem(*Item)) continue;
        std::string Path = "/" + Item->ItemName;
        for (char& c : Path)
            if (c == '\\') c = '/';
        const std::string Upper = [&] {
            std::string u = Path;
            for (char& c : u)
                c = char(std::toupper(static_cast<unsigned char>(c)));
            return u;
        }();
        if (Upper == "/AUTOEXEC.BAT" || Upper.find("PURGIT.INI") != std::string::npos) continue;
        const auto& Data = Item->ItemData.Bytes();
        EXPECT_EQ(Mtype(Image, Path), std::string(Data.begin(), Data.end())) << Path;
    }
    EXPECT_EQ(Mtype(Image, "/AUTOEXEC.BAT"), StartupBatch(false, "FAST /Q")); // mouse disabled
    EXPECT_EQ(Mtype(Image, "/Purgit/DATA/PURGIT.INI"), WiperIni("010011000101"));
    EXPECT_EQ(EntriesNamed(Image, "/", "AUTOEXEC.BAT"), 1);
    EXPECT_EQ(EntriesNamed(Image, "/PURGIT/DATA/", "PURGIT.INI"), 1);
    EXPECT_NE(Made.Output.find("qemu-system-i386 -fda"), std::string::npos) << Made.Output;
#endif
}

TEST(PurgexFloppy, UnusableTargetsAreRefusedAndLeftAlone) {
    REQUIRE_HOST_TOOLS();
#ifdef PURGEX_CLI
    TScratchDir Dir;
    // Wrong size: untouched, clear message, no file beside it.
    const auto Small = Dir / "small.img";
    WriteFileBytes(Small, std::string(737280, 'x'));
    const auto Refused = Purgex("floppy " + ShellQuote(Small.string()) + " --yes --os rxdos");
    EXPECT_EQ(Refused.ExitCode, 2);
    EXPECT_NE(Refused.Output.find("737280 bytes"), std::string::npos) << Refused.Output;
    EXPECT_EQ(ReadFileBytes(Small), std::vector<uint8_t>(737280, 'x'));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Dir.Path()),
                            std::filesystem::directory_iterator()),
              1);

    // Parameters DOS could not pass are refused before anything is written.
    const auto Long = Purgex("floppy " + ShellQuote((Dir / "l.img").string()) +
                             " --yes --os rxdos --params " + std::string(121, 'p'));
    EXPECT_EQ(Long.ExitCode, 2);
    EXPECT_FALSE(std::filesystem::exists(Dir / "l.img"));
    const auto LongIso = Purgex("iso " + ShellQuote((Dir / "l.iso").string()) +
                                " --yes --os rxdos --params " + std::string(121, 'p'));
    EXPECT_EQ(LongIso.ExitCode, 2);

    // MS-DOS without any source on this system: the floppy is not made and
    // the user's existing image keeps its bytes.
    const auto Kept = Dir / "kept.img";
    WriteFileBytes(Kept, RandomBytes(1474560, 7));
    const auto NoMsDos = Purgex("floppy " + ShellQuote(Kept.string()) + " --yes --os msdos");
    EXPECT_EQ(NoMsDos.ExitCode, 1) << NoMsDos.Output;
    EXPECT_EQ(ReadFileBytes(Kept), RandomBytes(1474560, 7));
#endif
}

TEST(PurgexFloppy, MsDosFromAFolderGetsTheComposersBase) {
    REQUIRE_HOST_TOOLS();
#ifdef PURGEX_CLI
    TScratchDir Dir;
    const std::string Image = (Dir / "m.img").string();
    const auto Made = Purgex("floppy " + ShellQuote(Image) + " --yes --os msdos --msdos-dir " +
                             ShellQuote(TestSystemFolder) + " --copies 2");
    ASSERT_EQ(Made.ExitCode, 0) << Made.Output;
    ExpectSoundFat(Image);
    // Both copies were asked for, each naming the target.
    EXPECT_NE(Made.Output.find("(" + Image + ", copy 2 of 2)"), std::string::npos) << Made.Output;
    const auto Bytes = ReadFileBytes(Image);
    const auto Base = ReadFileBytes(Payload + "/bootrecord/BOOTSECT.BIN");
    ASSERT_GE(Base.size(), 512u);
    EXPECT_TRUE(std::equal(Bytes.begin() + 62, Bytes.begin() + 510, Base.begin() + 62));
    EXPECT_EQ(Mtype(Image, "/MSDOS.SYS"), MsDosConfigText);
    EXPECT_EQ(EntriesNamed(Image, "/", "AUTOEXEC.BAT"), 1);
#endif
}

TEST(QemuPurgexFloppy, RxDosFloppyBootsIntoTheWiper) {
    REQUIRE_HOST_TOOLS();
#ifdef PURGEX_CLI
    TScratchDir Dir;
    const std::string Image = (Dir / "f.img").string();
    const auto Made = Purgex("floppy " + ShellQuote(Image) +
                             " --yes --os rxdos --options "
                             "010011000100 --params FAST");
    ASSERT_EQ(Made.ExitCode, 0) << Made.Output;
    TQemuOptions Options;
    Options.Floppy = Image;
    Options.WaitForText = "Wipe methods found:"; // the wiper waits on its start page
    Options.TimeoutSeconds = 90;
    const TQemuResult Boot = RunQemu(Options);
    ASSERT_TRUE(Boot.SawText) << Boot.Screen;
    // The batch loaded the mouse driver and started the wiper with the
    // floppy's INI and parameters.
    EXPECT_NE(Boot.Screen.find("Mouse: driver found"), std::string::npos) << Boot.Screen;
    EXPECT_NE(Boot.Screen.find("FAST"), std::string::npos) << Boot.Screen;
    const size_t Back = Boot.Screen.find("Purgit drive from back to front");
    ASSERT_NE(Back, std::string::npos) << Boot.Screen;
    EXPECT_EQ(Boot.Screen.substr(Boot.Screen.find('\n', Back) - 2, 2), "on") << Boot.Screen;
#endif
}

TEST(QemuPurgexFloppy, MsDosFloppyBootsThroughTheMsDosBootSector) {
    REQUIRE_HOST_TOOLS();
#ifdef PURGEX_CLI
    TScratchDir Dir;
    const std::string Image = (Dir / "m.img").string();
    const auto Made = Purgex("floppy " + ShellQuote(Image) + " --yes --os msdos --msdos-dir " +
                             ShellQuote(TestSystemFolder));
    ASSERT_EQ(Made.ExitCode, 0) << Made.Output;
    TQemuOptions Options;
    Options.Floppy = Image;
    Options.TimeoutSeconds = 60;
    const TQemuResult Boot = RunQemu(Options);
    EXPECT_TRUE(Boot.Exited) << Boot.Screen;
    EXPECT_EQ(Boot.DebugExitCode, TestIoPassed) << Boot.Screen;
#endif
}

#if defined(PURGEX_HOST_CHECKS) && defined(PURGEX_CLI)

// The POSIX layer's drive A: on an image file: raw writes and FAT12 files on
// the same sectors, and a read-back that names the first sector changed
// behind its back.
TEST(PosixFloppy, RawWritesFilesAndReadBackShareOneImage) {
    TScratchDir Dir;
    const auto Image = Dir / "a.img";
    WriteFileBytes(Image, std::vector<uint8_t>(100, 0));
    std::string Problem;
    TPlatform& Native = NativePlatform();
    EXPECT_FALSE(Native.AttachFloppy('A', Image.string(), Problem));
    EXPECT_NE(Problem.find("100 bytes"), std::string::npos) << Problem;
    // Nor anything larger (a stick, a hard disk): refused and left as it was.
    for (const size_t Size : {size_t(1474560 + 512), size_t(16) << 20}) {
        const auto Larger = RandomBytes(Size, 9);
        WriteFileBytes(Image, Larger);
        EXPECT_FALSE(Native.AttachFloppy('A', Image.string(), Problem)) << Size;
        EXPECT_NE(Problem.find(std::to_string(Size) + " bytes"), std::string::npos) << Problem;
        EXPECT_EQ(ReadFileBytes(Image), Larger);
    }

    ASSERT_TRUE(LoadDiskStore());
    WriteFileBytes(Image, std::vector<uint8_t>(1474560, 0));
    ASSERT_TRUE(Native.AttachFloppy('A', Image.string(), Problem)) << Problem;
    EXPECT_EQ(Native.DriveType('A'), DriveRemovable);
    TDiskFreeSpace Space;
    EXPECT_FALSE(Native.DiskFreeSpace('A', Space)); // not formatted yet
    {
        const auto Device = Native.OpenDevice("\\\\.\\A:", TDeviceAccess{});
        ASSERT_NE(Device, nullptr);
        const auto& Boot = DiskStore->FindItem(".BOOT", 1)->Bytes();
        uint32_t Done = 0;
        ASSERT_TRUE(Device->Seek(0));
        ASSERT_TRUE(Device->Write(Boot, Done));
        EXPECT_EQ(Done, Boot.size());
    }
    ASSERT_TRUE(Native.DiskFreeSpace('A', Space));
    EXPECT_EQ(Space.ClusterCount, 2847u);
    ASSERT_TRUE(Native.CreateFolder("A:\\NEW"));
    for (const char* Text : {"first version, longer than the second", "second"}) {
        const auto File = Native.CreateFileWrite("A:\\NEW\\NOTE.TXT");
        ASSERT_NE(File, nullptr);
        File->WriteBuffer(Text, int64_t(std::strlen(Text)));
    }
    EXPECT_EQ(Mtype(Image.string(), "/NEW/NOTE.TXT"), "second");
    EXPECT_EQ(EntriesNamed(Image.string(), "/NEW/", "NOTE.TXT"), 1);
    ExpectSoundFat(Image.string()); // the replaced file's clusters were freed
    EXPECT_EQ(Native.FloppyMismatch('A'), -1);

    {
        std::fstream Behind(Image, std::ios::in | std::ios::out | std::ios::binary);
        Behind.seekg(700 * 512 + 3);
        const char Was = char(Behind.get());
        Behind.seekp(700 * 512 + 3);
        Behind.put(char(~Was));
    }
    EXPECT_EQ(Native.FloppyMismatch('A'), 700);
}
#endif
