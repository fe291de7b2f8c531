// purgex usb on image files, judged by tools nobody here wrote: sfdisk reads
// the partition table, fsck.fat the file system, mtools the files; QEMU
// boots the stick as an IDE disk and as a USB stick into the wiper.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "QemuSupport.h"
#include "QemuWiperSupport.h"
#include "TestSupport.h"
#include "base/ByteOrder.h"
#include "image/Composer.h"
#include "image/ExeData.h"
#include "image/UefiBoot.h"

using namespace testing_support;

#ifdef PURGEX_CLI
namespace {

TCommandResult Purgex(const std::string& Arguments, const std::string& Input = "") {
    return RunCommand("printf %s " + ShellQuote(Input) + " | " + ShellQuote(PURGEX_CLI) + " " +
                      Arguments);
}

const TPartition& StickPartition(uint64_t DiskBytes, bool Fat32) {
    static TPartition Partition;
    Partition = {2048, DiskBytes / 512 - 2048, Fat32 ? "c" : "e", Fat32 ? "32" : "16"};
    return Partition;
}

std::string Mtype(const std::string& Image, const std::string& Path) {
    return RunCommand("MTOOLS_SKIP_CHECK=1 mtype -i " + ShellQuote(Image) + " " +
                      ShellQuote("::" + Path))
        .Output;
}

// sfdisk's own account of the table, one partition a line.
std::string PartitionTable(const std::string& Image) {
    const auto Dump = RunCommand("sfdisk -d " + ShellQuote(Image));
    EXPECT_EQ(Dump.ExitCode, 0) << Dump.Output;
    return Dump.Output;
}

uint64_t AllocatedBytes(const std::string& File) {
    struct stat Info {};
    stat(File.c_str(), &Info);
    return uint64_t(Info.st_blocks) * 512;
}

} // namespace
#endif

TEST(PurgexUsb, ImageCarriesThePartitionTheSystemTheWiperAndTheChoices) {
    REQUIRE_HOST_TOOLS();
#ifdef PURGEX_CLI
    TScratchDir Dir;
    for (const bool Fat32 : {false, true}) {
        SCOPED_TRACE(Fat32 ? "FAT32" : "FAT16");
        const std::string Image = (Dir / (Fat32 ? "big.img" : "small.img")).string();
        const uint64_t Bytes = Fat32 ? 600ull << 20 : 64ull << 20;
        const auto Made =
            Purgex("usb " + ShellQuote(Image) + " --yes --size " + (Fat32 ? "600M" : "64M") +
                   " --options 010011000101 --params 'FAST /Q'");
        ASSERT_EQ(Made.ExitCode, 0) << Made.Output;
        EXPECT_NE(Made.Output.find(Fat32 ? "FAT32" : "FAT16"), std::string::npos) << Made.Output;
        ASSERT_EQ(std::filesystem::file_size(Image), Bytes);
        // Sparse, and only what the file system needs was written.
        EXPECT_LT(AllocatedBytes(Image), 8ull << 20);

        const std::string Table = PartitionTable(Image);
        EXPECT_NE(Table.find("label: dos"), std::string::npos) << Table;
        EXPECT_NE(Table.find("start=        2048, size=" +
                             std::string(Fat32 ? "     1226752" : "      129024") +
                             ", type=" + (Fat32 ? "c" : "e") + ", bootable"),
                  std::string::npos)
            << Table;
        const TPartition& Partition = StickPartition(Bytes, Fat32);
        ExpectPartitionClean(Dir, Image, Partition);

        const std::string Volume = PartitionImage(Image, Partition);
        ASSERT_TRUE(LoadCdStore());
        for (const auto& Item : CdStore->Items) {
            if (Item->ItemKind != 1 || IsImageItem(*Item)) continue;
            std::string Path = "/" + Item->ItemName;
            for (char& c : Path)
                if (c == '\\') c = '/';
            std::string Upper = Path;
            for (char& c : Upper)
                c = char(std::toupper(static_cast<unsigned char>(c)));
            if (Upper == "/AUTOEXEC.BAT" || Upper.find("PURGIT.INI") != std::string::npos) continue;
            const auto& Data = Item->ItemData.Bytes();
            EXPECT_EQ(Mtype(Volume, Path), std::string(Data.begin(), Data.end())) << Path;
        }
        EXPECT_EQ(Mtype(Volume, "/AUTOEXEC.BAT"), StartupBatch(false, "FAST /Q")); // no mouse
        EXPECT_EQ(Mtype(Volume, "/Purgit/DATA/PURGIT.INI"), WiperIni("010011000101"));
        // The same stick starts the wiper on UEFI PCs, with the same parameters.
        const auto Wiper = EmbeddedUefiWiper();
        ASSERT_TRUE(Wiper);
        EXPECT_EQ(Mtype(Volume, "/EFI/BOOT/BOOTX64.EFI"),
                  std::string(Wiper->begin(), Wiper->end()));
        EXPECT_EQ(Mtype(Volume, "/EFI/BOOT/PURGIT.ARG"), "FAST /Q\r\n");
        for (const char* System : {"RXDOSBIO.SYS", "RXDOS.SYS", "RXDOSCMD.EXE"})
            EXPECT_EQ(
                RunCommand("MTOOLS_SKIP_CHECK=1 mdir -a -i " + ShellQuote(Volume) + " ::/" + System)
                    .ExitCode,
                0)
                << System;
    }
#endif
}

TEST(PurgexUsb, WhatMayNotBeWrittenIsRefusedAndLeftAsItWas) {
    REQUIRE_HOST_TOOLS();
#ifdef PURGEX_CLI
    TScratchDir Dir;
    const auto Kept = Dir / "kept.img";
    WriteFileBytes(Kept, RandomBytes(16 << 20, 5));

    // The user says no, or nobody answers: nothing is written.
    for (const std::string Answer : {"n\n", ""}) {
        const auto No = Purgex("usb " + ShellQuote(Kept.string()), Answer);
        EXPECT_EQ(No.ExitCode, 1) << No.Output;
        EXPECT_NE(No.Output.find("Nothing was written."), std::string::npos) << No.Output;
    }
    // MS-DOS cannot start from a stick.
    const auto MsDos = Purgex("usb " + ShellQuote(Kept.string()) + " --yes --os msdos");
    EXPECT_EQ(MsDos.ExitCode, 2) << MsDos.Output;
    EXPECT_NE(MsDos.Output.find("MS-DOS is not offered"), std::string::npos) << MsDos.Output;
    EXPECT_EQ(ReadFileBytes(Kept), RandomBytes(16 << 20, 5));

    // Too small for a stick: a clear refusal, no file left behind.
    const auto Tiny = Purgex("usb " + ShellQuote((Dir / "tiny.img").string()) + " --yes --size 1M");
    EXPECT_EQ(Tiny.ExitCode, 2) << Tiny.Output;
    EXPECT_NE(Tiny.Output.find("smaller than"), std::string::npos) << Tiny.Output;
    EXPECT_FALSE(std::filesystem::exists(Dir / "tiny.img"));

    // A disk node that is not there is no image file to make.
    const auto Missing = Purgex("usb /dev/purgex-no-such-disk --yes");
    EXPECT_EQ(Missing.ExitCode, 2) << Missing.Output;
    EXPECT_FALSE(std::filesystem::exists("/dev/purgex-no-such-disk"));

    // Said yes to: the file becomes a stick in place.
    const auto Yes = Purgex("usb " + ShellQuote(Kept.string()), "y\n");
    EXPECT_EQ(Yes.ExitCode, 0) << Yes.Output;
    EXPECT_NE(Yes.Output.find("will be erased"), std::string::npos) << Yes.Output;
    ExpectPartitionClean(Dir, Kept.string(), StickPartition(16 << 20, false));
#endif
}

// A disk that fills up mid-way: a tmpfs of 200 KiB in a mount namespace of
// the test's own, where the stick's first megabyte of writes cannot fit.
TEST(PurgexUsb, ANewImageThatCannotBeFinishedIsRemovedAgain) {
    REQUIRE_HOST_TOOLS();
#ifdef PURGEX_CLI
    TScratchDir Dir;
    const std::string Folder = Dir.Path().string();
    const auto Run =
        RunCommand("unshare -m sh -c " +
                   ShellQuote("mount -t tmpfs -o size=200k tmpfs " + ShellQuote(Folder) +
                              " || { echo NO-MOUNT; exit 0; }; " + ShellQuote(PURGEX_CLI) +
                              " usb " + ShellQuote(Folder + "/new.img") +
                              " --yes </dev/null; echo \"exit $?\"; echo listing:; ls -A " +
                              ShellQuote(Folder)));
    if (Run.Output.find("NO-MOUNT") != std::string::npos || Run.ExitCode != 0)
        GTEST_SKIP() << "no mount namespace here: " << Run.Output;
    EXPECT_NE(Run.Output.find("There is not enough space on the disk."), std::string::npos)
        << Run.Output;
    EXPECT_NE(Run.Output.find("exit 1\n"), std::string::npos) << Run.Output;
    EXPECT_TRUE(Run.Output.ends_with("listing:\n")) << "left behind: " << Run.Output;
#endif
}

#ifdef PURGEX_CLI
namespace {

std::string StickDrive(const std::string& Image) {
    return "-drive file=" + ShellQuote(Image) + ",if=none,id=stick,format=raw";
}

} // namespace
#endif

TEST(QemuUsbStick, StartsTheWiperAsAnIdeDiskAndAsAUsbStickOnEhciAndXhci) {
    REQUIRE_HOST_TOOLS();
#ifdef PURGEX_CLI
    TScratchDir Dir;
    const std::string Image = (Dir / "stick.img").string();
    const auto Made =
        Purgex("usb " + ShellQuote(Image) + " --yes --size 32M --options 100111001011");
    ASSERT_EQ(Made.ExitCode, 0) << Made.Output;
    const std::string Disk = MakeScratchDisk(Dir, "disk.img", 4096);
    const std::string Ways[] = {
        StickDrive(Image) + " -device ide-hd,drive=stick,bootindex=0",
        StickDrive(Image) +
            " -device usb-ehci,id=ehci -device usb-storage,bus=ehci.0,drive=stick,bootindex=0",
        StickDrive(Image) +
            " -device qemu-xhci,id=xhci -device usb-storage,bus=xhci.0,drive=stick,bootindex=0",
    };
    for (const std::string& Way : Ways) {
        SCOPED_TRACE(Way);
        const auto Run = RunWiper(Dir, "", Way + " " + IdeDrive(Disk, 1), "Wipe methods found:");
        ASSERT_TRUE(Run.Qemu.SawText) << Run.Qemu.Screen << Run.Qemu.Log;
        const std::string& Screen = Run.Qemu.Screen;
        // The options the stick carries; the stick itself is the system
        // disk, shown but never offered for erasing.
        EXPECT_NE(Screen.find("Corvane Purgex 2005 - start screen"), std::string::npos) << Screen;
        EXPECT_TRUE(LineStarting(Screen, "O2 ").ends_with(" off")) << Screen;
        EXPECT_TRUE(LineStarting(Screen, "O4 ").ends_with(" on")) << Screen;
        // A USB stick has no ATA model to show.
        const std::string Stick = LineStarting(Screen, "Disk 1 (80h):");
        EXPECT_EQ(Stick.rfind("Disk 1 (80h): 32 MB, 65536 sectors", 0), 0u) << Screen;
        EXPECT_TRUE(Stick.ends_with(" - system disk, not offered")) << Screen;
        EXPECT_EQ(
            LineStarting(Screen, "Disk 2 (81h):").rfind("Disk 2 (81h): 2 MB, 4096 sectors", 0), 0u)
            << Screen;
    }
#endif
}

TEST(QemuUsbStick, EraseAllLeavesTheStickAsItWasButForTheReport) {
    REQUIRE_HOST_TOOLS();
#ifdef PURGEX_CLI
    TScratchDir Dir;
    const std::string Image = (Dir / "stick.img").string();
    // Option 7: unattended with /M: and /ALL; option 4: the report.
    const auto Made = Purgex("usb " + ShellQuote(Image) +
                             " --yes --size 32M --options 100100100001 --params '/M:ZERO /ALL'");
    ASSERT_EQ(Made.ExitCode, 0) << Made.Output;
    const auto Before = ReadFileBytes(Image);
    const std::string Disk = MakeScratchDisk(Dir, "disk.img", 4096);
    const auto Run = RunWiper(Dir, "",
                              StickDrive(Image) + " -device usb-ehci,id=ehci -device usb-storage," +
                                  "bus=ehci.0,drive=stick,bootindex=0 " + IdeDrive(Disk, 0),
                              "Erase finished");
    ASSERT_TRUE(Run.Qemu.SawText) << Run.Qemu.Screen << Run.Qemu.Log << Run.Trace;
    EXPECT_TRUE(AllBytes(ReadFileBytes(Disk), 0)) << "the other disk still holds other bytes";

    const TPartition& Partition = StickPartition(32 << 20, false);
    ExpectPartitionClean(Dir, Image, Partition);
    const std::string Log = ReadLog(PartitionImage(Image, Partition));
    EXPECT_NE(Log.find("Result:       OK"), std::string::npos) << Log;
    EXPECT_NE(Run.Qemu.Screen.find("Report written to C:\\PURG0001.LOG"), std::string::npos)
        << Run.Qemu.Screen;

    // Every byte that changed belongs to the report: its root entry, the
    // FAT entries of clusters that were free, and those clusters.
    const auto After = ReadFileBytes(Image);
    ASSERT_EQ(After.size(), Before.size());
    const uint8_t* Boot = Before.data() + 2048 * 512;
    const uint64_t Start = 2048 * 512;
    const uint32_t Spc = Boot[13], Reserved = GetLE16(Boot + 14), Fats = Boot[16];
    const uint32_t RootSectors = GetLE16(Boot + 17) * 32 / 512, FatSectors = GetLE16(Boot + 22);
    const uint64_t FatStart = Start + uint64_t(Reserved) * 512;
    const uint64_t RootStart = FatStart + uint64_t(Fats) * FatSectors * 512;
    const uint64_t DataStart = RootStart + uint64_t(RootSectors) * 512;
    ASSERT_EQ(Boot[0x36], 'F');
    uint64_t Changed = 0, Misplaced = 0;
    for (uint64_t At = 0; At < After.size(); ++At) {
        if (Before[At] == After[At]) continue;
        ++Changed;
        bool Allowed = false;
        if (At >= FatStart && At < RootStart) { // a FAT entry of a cluster free before
            const uint64_t Entry = ((At - FatStart) % (uint64_t(FatSectors) * 512)) / 2 * 2;
            Allowed = GetLE16(Before.data() + FatStart + Entry) == 0;
        } else if (At >= RootStart && At < DataStart) { // a root entry free before
            const uint64_t Entry = (At - RootStart) / 32 * 32;
            Allowed = Before[RootStart + Entry] == 0 || Before[RootStart + Entry] == 0xE5;
        } else if (At >= DataStart) { // a cluster free before
            const uint64_t Cluster = (At - DataStart) / (Spc * 512) + 2;
            Allowed = GetLE16(Before.data() + FatStart + Cluster * 2) == 0;
        }
        if (!Allowed && Misplaced++ < 5) ADD_FAILURE() << "byte " << At << " changed";
    }
    EXPECT_GT(Changed, 0u);
    EXPECT_EQ(Misplaced, 0u);
#endif
}

// Another PC's BIOS: Bochs (its own BIOS, the stick as the first IDE hard
// disk) starts the wiper from the stick, which erases the second disk and
// puts its report on the stick. The wiper's trace arrives on port E9h.
TEST(QemuUsbStick, BochsStartsItAsAHardDiskAndTheOtherDiskIsErased) {
    REQUIRE_HOST_TOOLS();
#ifdef PURGEX_CLI
    if (RunCommand("command -v bochs && ls /usr/lib/*/bochs/plugins/libbx_x_gui.so*").ExitCode != 0)
        GTEST_SKIP() << "bochs with its X display is not installed (scripts/setup.sh)";
    TScratchDir Dir;
    const std::string Image = (Dir / "stick.img").string();
    const auto Made =
        Purgex("usb " + ShellQuote(Image) +
               " --yes --size 32M --options 100100100001 --params '/M:ZERO /ALL /TRACE'");
    ASSERT_EQ(Made.ExitCode, 0) << Made.Output;
    const std::string Disk = MakeScratchDisk(Dir, "disk.img", 4096);
    const auto Config = Dir / "bochsrc";
    WriteFileBytes(Config, "megs: 32\n"
                           "romimage: file=/usr/share/bochs/BIOS-bochs-latest\n"
                           "vgaromimage: file=/usr/share/vgabios/vgabios.bin\n"
                           "ata0: enabled=1, ioaddr1=0x1f0, ioaddr2=0x3f0, irq=14\n"
                           "ata0-master: type=disk, path=\"" +
                               Image +
                               "\", mode=flat\n"
                               "ata0-slave: type=disk, path=\"" +
                               Disk +
                               "\", mode=flat\n"
                               "boot: disk\n"
                               "display_library: x\n"
                               "port_e9_hack: enabled=1\n"
                               "speaker: enabled=0\n"
                               "log: /dev/null\n"
                               "clock: sync=none, time0=946684800\n");
    // Bochs starts in its debugger: "c" lets it run. It never ends by
    // itself, so it is stopped once the report is written (or after 300 s).
    const std::string Out = (Dir / "bochs.txt").string();
    const auto Run = RunCommand(
        "cd " + ShellQuote(Dir.Path().string()) +
        " && setsid sh -c \"printf 'c\\\\n' | xvfb-run -a bochs -q -f bochsrc\" >" +
        ShellQuote(Out) + " 2>&1 & pid=$!; for i in $(seq 300); do grep -q 'Report written' " +
        ShellQuote(Out) + " && break; sleep 1; done; sleep 1; kill -- -$pid; wait");
    const std::string Trace = ReadTextIfAny(Out);
    ASSERT_NE(Trace.find("Report written to C:\\PURG0001.LOG"), std::string::npos) << Trace;
    EXPECT_NE(Trace.find("SUMMARY OK"), std::string::npos) << Trace;
    EXPECT_TRUE(AllBytes(ReadFileBytes(Disk), 0)) << "the other disk still holds other bytes";
    const TPartition& Partition = StickPartition(32 << 20, false);
    ExpectPartitionClean(Dir, Image, Partition);
    EXPECT_NE(ReadLog(PartitionImage(Image, Partition)).find("Result:       OK"),
              std::string::npos);
#endif
}
