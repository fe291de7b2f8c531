// The empty MS-DOS floppy (.BOOTRECORD) and its boot sector. The image is
// judged by fsck.fat and mtools; the boot sector by booting copies of the
// image in QEMU, from the floppy drive and from a CD in floppy emulation, with
// a test IO.SYS that checks the registers and memory it is handed.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "QemuSupport.h"
#include "TestSupport.h"
#include "base/ByteOrder.h"
#include "base/Stream.h"
#include "floppy/FloppyDirectory.h"
#include "floppy/Vfloppy.h"
#include "optical/ISO9660.h"

using namespace testing_support;

namespace {

#ifdef PURGEX_CONTAINERS_DIR
const std::string BuildDir = PURGEX_CONTAINERS_DIR "/bootrecord/";
#else
const std::string BuildDir;
#endif

constexpr size_t FloppySize = 1474560;
constexpr size_t RootOffset = 19 * 512;

std::string BootRecordImage() {
    return BuildDir + "BOOTRECORD.IMG";
}
std::string TestIoSys() {
    return BuildDir + "TESTIO.SYS";
}
std::string TestCommandCom() {
    return BuildDir + "TESTCMD.COM";
}

// A copy of the empty floppy with host files added to its root in order, the
// way the composer adds the system files: the first one lands contiguous from
// cluster 2.
std::string SystemFloppy(const TScratchDir& Dir, const std::string& Name,
                         const std::vector<std::pair<std::string, std::string>>& Files) {
    auto Floppy = std::make_unique<TVirtualFloppy>();
    TMemoryStream Empty(ReadFileBytes(BootRecordImage()));
    EXPECT_EQ(Floppy->LoadFromStream(Empty, FloppyImageSize), FloppyImageSize);
    for (const auto& [ImageName, HostFile] : Files) {
        TFloppyDirectory Root(*Floppy);
        std::unique_ptr<TFloppyFile> File;
        EXPECT_TRUE(Root.CreateFile(ImageName, File)) << ImageName;
        if (!File) continue;
        const auto Bytes = ReadFileBytes(HostFile);
        EXPECT_EQ(File->Write(Bytes.data(), int32_t(Bytes.size())), int32_t(Bytes.size()))
            << ImageName;
    }
    const std::string Image = (Dir / Name).string();
    WriteFileBytes(Image, std::vector<uint8_t>(Floppy->Image.begin(), Floppy->Image.end()));
    return Image;
}

// The bootable CD the discs get: the floppy in 1.44 MB El Torito emulation.
std::string WrapInIso(const TScratchDir& Dir, const std::string& Floppy) {
    TMemoryStream Source(ReadFileBytes(Floppy));
    TMemoryStream Iso;
    EXPECT_TRUE(MakeBootableIso(Source, Iso, "BOOT RECORD TEST"));
    const std::string Path = (Dir / "boot.iso").string();
    WriteFileBytes(Path, Iso.Bytes());
    return Path;
}

TQemuResult BootFloppy(const std::string& Image, const std::string& WaitFor = {}) {
    TQemuOptions Options;
    Options.Floppy = Image;
    Options.WaitForText = WaitFor;
    return RunQemu(Options);
}

// Runs the test IO.SYS to its end. What it printed comes back from QEMU's
// debugcon (port E9h), since the screen goes with the machine.
struct TTestIoRun {
    TQemuResult Qemu;
    std::string Transcript;
};

TTestIoRun RunTestIo(const TScratchDir& Dir, TQemuOptions Options) {
    const auto Log = Dir / "debugcon.txt";
    Options.ExtraArguments += " -debugcon file:" + ShellQuote(Log.string());
    Options.WaitForText = "press a key"; // the boot sector gave up: no need to wait on
    TTestIoRun Run;
    Run.Qemu = RunQemu(Options);
    if (std::filesystem::exists(Log)) {
        const auto Bytes = ReadFileBytes(Log);
        Run.Transcript.assign(Bytes.begin(), Bytes.end());
    }
    return Run;
}

// Writes a 32-byte root directory entry into slot Index of an image.
void PutRootEntry(std::vector<uint8_t>& Image, size_t Index, const char (&Name)[12],
                  uint8_t Attributes, uint16_t Cluster, uint32_t Size) {
    uint8_t* e = &Image[RootOffset + Index * 32];
    std::fill_n(e, 32, 0);
    std::copy_n(Name, 11, e);
    e[11] = Attributes;
    PutLE16(e + 26, Cluster);
    PutLE32(e + 28, Size);
}

} // namespace

TEST(BootRecordImage, IsAnEmptyLabelledStandardFloppy) {
    REQUIRE_HOST_TOOLS();
    const auto Image = ReadFileBytes(BootRecordImage());
    ASSERT_EQ(Image.size(), FloppySize);

    const auto Fsck = RunCommand("fsck.fat -n " + ShellQuote(BootRecordImage()));
    EXPECT_EQ(Fsck.ExitCode, 0) << Fsck.Output;

    const auto Label = RunCommand("mlabel -s -i " + ShellQuote(BootRecordImage()) + " ::");
    EXPECT_EQ(Label.ExitCode, 0) << Label.Output;
    EXPECT_NE(Label.Output.find("DSKPURGX"), std::string::npos) << Label.Output;

    // mtools sees no file and no folder, hidden or not.
    const auto Dir = RunCommand("mdir -a -b -i " + ShellQuote(BootRecordImage()) + " ::");
    EXPECT_EQ(Dir.Output, "") << Dir.Output;

    // The root's first entry is the label; every other slot is unused.
    EXPECT_EQ(std::string(Image.begin() + RootOffset, Image.begin() + RootOffset + 11),
              "DSKPURGX   ");
    EXPECT_EQ(Image[RootOffset + 11], 0x08);
    for (size_t Entry = 1; Entry < 224; ++Entry)
        EXPECT_EQ(Image[RootOffset + Entry * 32], 0) << "root entry " << Entry;
}

TEST(BootRecordImage, BootSectorHasTheStandardBpbAndLoaderMarks) {
    REQUIRE_HOST_TOOLS();
    const auto Image = ReadFileBytes(BootRecordImage());
    ASSERT_EQ(Image.size(), FloppySize);
    const uint8_t* b = Image.data();

    // A short jump and a NOP: the loader reads with CHS.
    EXPECT_EQ(b[0], 0xEB);
    EXPECT_EQ(b[2], 0x90);
    EXPECT_EQ(b[1] + 2, 0x3E) << "code starts right after the extended BPB";
    EXPECT_EQ(GetLE16(b + 0x0B), 512);
    EXPECT_EQ(b[0x0D], 1);
    EXPECT_EQ(GetLE16(b + 0x0E), 1);
    EXPECT_EQ(b[0x10], 2);
    EXPECT_EQ(GetLE16(b + 0x11), 224);
    EXPECT_EQ(GetLE16(b + 0x13), 2880);
    EXPECT_EQ(b[0x15], 0xF0);
    EXPECT_EQ(GetLE16(b + 0x16), 9);
    EXPECT_EQ(GetLE16(b + 0x18), 18);
    EXPECT_EQ(GetLE16(b + 0x1A), 2);
    EXPECT_EQ(GetLE32(b + 0x1C), 0u);
    EXPECT_EQ(b[0x24], 0x00);
    EXPECT_EQ(b[0x26], 0x29);
    EXPECT_EQ(std::string(b + 0x2B, b + 0x36), "DSKPURGX   ");
    EXPECT_EQ(std::string(b + 0x36, b + 0x3E), "FAT12   ");
    EXPECT_EQ(GetLE16(b + 0x1FE), 0xAA55);

    // The code is the boot sector that was assembled, unchanged by the image builder.
    const auto Assembled = ReadFileBytes(BuildDir + "BOOTSECT.BIN");
    ASSERT_EQ(Assembled.size(), 512u);
    EXPECT_TRUE(std::equal(Assembled.begin() + 0x3E, Assembled.end(), Image.begin() + 0x3E));
}

TEST(QemuBootRecord, LoadsIoSysFromTheFloppyDrive) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    const auto Image =
        SystemFloppy(Dir, "a.img", {{"IO.SYS", TestIoSys()}, {"COMMAND.COM", TestCommandCom()}});
    const auto Fsck = RunCommand("fsck.fat -n " + ShellQuote(Image));
    EXPECT_EQ(Fsck.ExitCode, 0) << Fsck.Output;
    // A stale hard-disk drive number on the medium: the boot sector must
    // record the drive it was really booted from.
    auto Bytes = ReadFileBytes(Image);
    Bytes[0x24] = 0x80;
    WriteFileBytes(Image, Bytes);

    TQemuOptions Options;
    Options.Floppy = Image;
    const auto Run = RunTestIo(Dir, Options);
    EXPECT_TRUE(Run.Qemu.Exited) << Run.Qemu.Screen;
    EXPECT_EQ(Run.Qemu.DebugExitCode, TestIoPassed) << Run.Transcript;
    EXPECT_NE(Run.Transcript.find("TESTIO OK"), std::string::npos) << Run.Transcript;
}

TEST(QemuBootRecord, LoadsIoSysFromACdInFloppyEmulation) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    const auto Floppy =
        SystemFloppy(Dir, "a.img", {{"IO.SYS", TestIoSys()}, {"COMMAND.COM", TestCommandCom()}});
    const auto Iso = WrapInIso(Dir, Floppy);
    // What the BIOS is given, as an outside reader of El Torito images sees it.
    const auto Extract = RunCommand("geteltorito -o " + ShellQuote((Dir / "out.img").string()) +
                                    " " + ShellQuote(Iso));
    ASSERT_EQ(Extract.ExitCode, 0) << Extract.Output;
    ASSERT_EQ(ReadFileBytes(Dir / "out.img"), ReadFileBytes(Floppy));

    TQemuOptions Options;
    Options.Cdrom = Iso;
    Options.BootFromCd = true;
    const auto Run = RunTestIo(Dir, Options);
    EXPECT_TRUE(Run.Qemu.Exited) << Run.Qemu.Screen;
    EXPECT_EQ(Run.Qemu.DebugExitCode, TestIoPassed) << Run.Transcript;
    EXPECT_NE(Run.Transcript.find("TESTIO OK"), std::string::npos) << Run.Transcript;
}

// IO.SYS far into the root and the data area: the whole root is searched and
// the file's own cluster is loaded. The test IO.SYS then runs and notices
// that it is not at cluster 2 (check 5), showing the cluster it was given.
TEST(QemuBootRecord, FindsIoSysBeyondTheFirstRootSector) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    std::vector<std::pair<std::string, std::string>> Files;
    const std::string Filler = (Dir / "filler").string();
    WriteFileBytes(Filler, RandomBytes(512, 7));
    for (int i = 0; i < 20; ++i)
        Files.push_back({"FILL" + std::to_string(i) + ".BIN", Filler});
    Files.push_back({"IO.SYS", TestIoSys()});
    const auto Image = SystemFloppy(Dir, "a.img", Files);

    TQemuOptions Options;
    Options.Floppy = Image;
    const auto Run = RunTestIo(Dir, Options);
    EXPECT_EQ(Run.Qemu.DebugExitCode, 5) << Run.Transcript;
    // Label + 20 files fill root sector 1 and spill over; IO.SYS got cluster 22.
    EXPECT_NE(Run.Transcript.find("DI=0016 BP=7C00 SS:SP=0000:"), std::string::npos)
        << Run.Transcript;
    EXPECT_NE(Run.Transcript.find("TESTIO FAILED check 5"), std::string::npos) << Run.Transcript;
}

TEST(QemuBootRecord, SaysSoWhenThereIsNoIoSys) {
    REQUIRE_HOST_TOOLS();
    const auto Result = BootFloppy(BootRecordImage(), "press a key");
    EXPECT_TRUE(Result.SawText) << Result.Screen;
    EXPECT_NE(Result.Screen.find("No IO.SYS on this disk."), std::string::npos) << Result.Screen;
    EXPECT_NE(Result.Screen.find("Insert a system disk and press a key."), std::string::npos)
        << Result.Screen;
}

// Entries that only look like IO.SYS: a folder, and a file without clusters.
TEST(QemuBootRecord, IgnoresEntriesThatAreNotALoadableIoSys) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    for (const auto& [Attributes, Cluster] :
         std::vector<std::pair<uint8_t, uint16_t>>{{0x10, 2}, {0x00, 0}}) {
        auto Image = ReadFileBytes(BootRecordImage());
        PutRootEntry(Image, 1, "IO      SYS", Attributes, Cluster, Cluster ? 0 : 2048);
        const std::string Path = (Dir / "a.img").string();
        WriteFileBytes(Path, Image);
        const auto Result = BootFloppy(Path, "press a key");
        EXPECT_NE(Result.Screen.find("No IO.SYS on this disk."), std::string::npos)
            << "attributes " << int(Attributes) << "\n"
            << Result.Screen;
    }
}

// A cluster past the end of the disk makes every read fail.
TEST(QemuBootRecord, ReportsAReadError) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    auto Image = ReadFileBytes(BootRecordImage());
    PutRootEntry(Image, 1, "IO      SYS", 0x07, 0xF00, 2048);
    const std::string Path = (Dir / "a.img").string();
    WriteFileBytes(Path, Image);
    const auto Result = BootFloppy(Path, "press a key");
    EXPECT_TRUE(Result.SawText) << Result.Screen;
    EXPECT_NE(Result.Screen.find("Disk read error."), std::string::npos) << Result.Screen;
    EXPECT_EQ(Result.Screen.find("No IO.SYS"), std::string::npos) << Result.Screen;
}
