// Rx-DOS started from a USB stick or hard disk: the stick's boot code
// (MBR.BIN, FAT16.BIN, FAT32.BIN) put onto disks that sfdisk, mkfs.fat and
// mtools made, booted in QEMU as an IDE disk and as a USB stick (EHCI and
// xHCI), FAT16 and FAT32. BOOTCHK.COM checks from inside that the system
// knows the drive it started from; the host then reads what it wrote.
#include <gtest/gtest.h>

#ifndef _WIN32

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "QemuSupport.h"
#include "QemuWiperSupport.h"
#include "TestSupport.h"
#include "base/ByteOrder.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

constexpr uint64_t PartitionStart = 2048; // sectors
const std::string Mtools = "MTOOLS_SKIP_CHECK=1 ";
const std::string BootCheckText = "WRITTEN-FROM-THE-BOOT-VOLUME\r\n";

fs::path StickDir() {
    return PayloadDir() / "stickboot";
}
fs::path RxDosDir() {
    return PayloadDir() / "rxdos";
}

// The images are sparse and up to 600 MiB: only the bytes needed are read.
std::vector<uint8_t> ReadAt(const std::string& File, uint64_t Offset, size_t Count) {
    std::ifstream In(File, std::ios::binary);
    In.seekg(std::streamoff(Offset));
    std::vector<uint8_t> Bytes(Count);
    In.read(reinterpret_cast<char*>(Bytes.data()), std::streamsize(Count));
    EXPECT_EQ(size_t(In.gcount()), Count) << File << " at " << Offset;
    return Bytes;
}

void WriteAt(const std::string& File, uint64_t Offset, const std::vector<uint8_t>& Bytes) {
    std::fstream Out(File, std::ios::binary | std::ios::in | std::ios::out);
    Out.seekp(std::streamoff(Offset));
    Out.write(reinterpret_cast<const char*>(Bytes.data()), std::streamsize(Bytes.size()));
    EXPECT_TRUE(Out.good()) << File;
}

// Offsets of every occurrence of Pattern in Bytes.
std::vector<size_t> Find(const std::vector<uint8_t>& Bytes, const std::vector<uint8_t>& Pattern) {
    std::vector<size_t> Found;
    for (auto At = Bytes.begin();
         (At = std::search(At, Bytes.end(), Pattern.begin(), Pattern.end())) != Bytes.end(); ++At)
        Found.push_back(size_t(At - Bytes.begin()));
    return Found;
}

// The one extension check (INT 13h AH=41h, BX=55AAh) asking for function
// 99h instead, which no BIOS has: the code then reads as on a BIOS without
// the extensions, through CHS.
const std::vector<uint8_t> ExtensionCheck = {0xB4, 0x41, 0xBB, 0xAA, 0x55};
std::vector<uint8_t> WithoutExtensions(std::vector<uint8_t> Code, const char* What) {
    const auto Found = Find(Code, ExtensionCheck);
    EXPECT_EQ(Found.size(), 1u) << What;
    if (Found.size() == 1) Code[Found[0] + 1] = 0x99;
    return Code;
}

struct TStickOptions {
    uint64_t MiB = 16;
    bool Fat32 = false;
    bool Active = true;
    std::string MkfsExtra; // e.g. "-s 1"
    std::string Autoexec;
    bool ChsOnly = false; // the boot code and system with the extension checks patched out
    std::vector<std::pair<std::string, fs::path>> Extra; // root name -> host file
    std::vector<std::string> Leave;                      // system files left out
};

// A stick image: sfdisk's table with one partition at 1 MiB, mkfs.fat's
// file system in it, the files copied by mtools, and our boot code around
// mkfs.fat's BPB, as the layout puts it.
std::string MakeStick(const TScratchDir& Dir, const std::string& Name, const TStickOptions& O) {
    const std::string Image = (Dir / Name).string();
    RunOrFail("truncate -s " + std::to_string(O.MiB) + "M " + ShellQuote(Image));
    const fs::path Script = Dir / (Name + ".sfdisk");
    WriteFileBytes(Script, "label: dos\nstart=" + std::to_string(PartitionStart) + ", type=" +
                               (O.Fat32 ? "c" : "e") + (O.Active ? ", bootable" : "") + "\n");
    RunOrFail("sfdisk -q " + ShellQuote(Image) + " < " + ShellQuote(Script.string()));
    const uint64_t Sectors = O.MiB * 2048 - PartitionStart;
    RunOrFail("mkfs.fat -F " + std::string(O.Fat32 ? "32" : "16") + " " + O.MkfsExtra +
              " --offset " + std::to_string(PartitionStart) + " -h " +
              std::to_string(PartitionStart) + " " + ShellQuote(Image) + " " +
              std::to_string(Sectors / 2) + " >/dev/null");

    const std::string To = Mtools + "mcopy -Q -o -i " + ShellQuote(Image + "@@1M") + " ";
    const auto Copy = [&](const fs::path& From, const std::string& As) {
        RunOrFail(To + ShellQuote(From.string()) + " ::" + As);
    };
    for (const char* File : {"RXDOSBIO.SYS", "RXDOS.SYS", "RXDOSCMD.EXE"}) {
        if (std::count(O.Leave.begin(), O.Leave.end(), File)) continue;
        fs::path From = RxDosDir() / File;
        if (O.ChsOnly && std::string(File) != "RXDOSCMD.EXE") {
            From = Dir / (std::string(File) + ".chs");
            WriteFileBytes(From, WithoutExtensions(ReadFileBytes(RxDosDir() / File), File));
        }
        Copy(From, File);
    }
    WriteFileBytes(Dir / "AUTOEXEC.BAT", O.Autoexec);
    Copy(Dir / "AUTOEXEC.BAT", "AUTOEXEC.BAT");
    for (const auto& [As, From] : O.Extra)
        Copy(From, As);

    auto Mbr = ReadFileBytes(StickDir() / "MBR.BIN");
    auto Boot = ReadFileBytes(StickDir() / (O.Fat32 ? "FAT32.BIN" : "FAT16.BIN"));
    EXPECT_EQ(Mbr.size(), 440u);
    EXPECT_EQ(Boot.size(), O.Fat32 ? 1024u : 512u);
    if (O.ChsOnly) {
        Mbr = WithoutExtensions(Mbr, "MBR.BIN");
        Boot = WithoutExtensions(Boot, "boot sector");
    }
    WriteAt(Image, 0, Mbr);
    const uint64_t Partition = PartitionStart * 512;
    auto Sector = ReadAt(Image, Partition, 512);
    const size_t BpbEnd = O.Fat32 ? 0x5A : 0x3E; // mkfs.fat's BPB stays
    std::copy(Boot.begin(), Boot.begin() + 0x0B, Sector.begin());
    std::copy(Boot.begin() + long(BpbEnd), Boot.begin() + 512, Sector.begin() + long(BpbEnd));
    WriteAt(Image, Partition, Sector);
    if (O.Fat32) WriteAt(Image, Partition + 2 * 512, {Boot.begin() + 512, Boot.end()});
    return Image;
}

// QEMU arguments that attach Image as the boot disk on Bus ("ide",
// "usb-ehci" or "qemu-xhci").
std::string BootDisk(const std::string& Image, const std::string& Bus) {
    const std::string Drive = "-drive if=none,id=stick,format=raw,file=" + ShellQuote(Image);
    if (Bus == "ide") return Drive + " -device ide-hd,drive=stick,bootindex=0";
    return Drive + " -device " + Bus +
           ",id=usbbus -device usb-storage,bus=usbbus.0,drive=stick,bootindex=0";
}

// fsck.fat -n on a sparse copy of the partition.
void ExpectStickClean(const TScratchDir& Dir, const std::string& Image) {
    const fs::path Copy = Dir / "partition.img";
    RunOrFail("dd if=" + ShellQuote(Image) + " of=" + ShellQuote(Copy.string()) +
              " bs=1M skip=1 conv=sparse status=none");
    const auto Check = RunCommand("fsck.fat -n " + ShellQuote(Copy.string()));
    EXPECT_EQ(Check.ExitCode, 0) << Check.Output;
    fs::remove(Copy);
}

std::string ReadBack(const std::string& Image, const std::string& Name) {
    const auto Result =
        RunCommand(Mtools + "mtype -i " + ShellQuote(Image + "@@1M") + " ::" + Name);
    EXPECT_EQ(Result.ExitCode, 0) << Name << "\n" << Result.Output;
    return Result.Output;
}

} // namespace

// ---------------------------------------------------------------- the code

TEST(StickBootCode, SizesJumpsAndSignaturesLeaveTheLayoutItsAreas) {
    REQUIRE_HOST_TOOLS();
    const auto Mbr = ReadFileBytes(StickDir() / "MBR.BIN");
    const auto Fat16 = ReadFileBytes(StickDir() / "FAT16.BIN");
    const auto Fat32 = ReadFileBytes(StickDir() / "FAT32.BIN");
    ASSERT_EQ(Mbr.size(), 440u);
    ASSERT_EQ(Fat16.size(), 512u);
    ASSERT_EQ(Fat32.size(), 1024u);
    // The jumps land on the code right after the BPB the layout writes.
    EXPECT_EQ(std::vector<uint8_t>(Fat16.begin(), Fat16.begin() + 3),
              (std::vector<uint8_t>{0xEB, 0x3C, 0x90}));
    EXPECT_EQ(std::vector<uint8_t>(Fat32.begin(), Fat32.begin() + 3),
              (std::vector<uint8_t>{0xEB, 0x58, 0x90}));
    EXPECT_EQ(GetLE16(&Fat16[510]), 0xAA55);
    EXPECT_EQ(GetLE16(&Fat32[510]), 0xAA55);
    EXPECT_EQ(GetLE16(&Fat32[1022]), 0xAA55);
    // Nothing of ours where the BPB goes.
    EXPECT_TRUE(
        std::all_of(Fat16.begin() + 0x0B, Fat16.begin() + 0x3E, [](uint8_t b) { return b == 0; }));
    EXPECT_TRUE(
        std::all_of(Fat32.begin() + 0x0B, Fat32.begin() + 0x5A, [](uint8_t b) { return b == 0; }));
}

// ---------------------------------------------------------------- booting

TEST(QemuStickBoot, StartsAsIdeDiskAndAsUsbStickFromFat16AndFat32) {
    REQUIRE_HOST_TOOLS();
    for (const bool Fat32 : {false, true}) {
        for (const std::string Bus : {"ide", "usb-ehci", "qemu-xhci"}) {
            SCOPED_TRACE(std::string(Fat32 ? "FAT32 on " : "FAT16 on ") + Bus);
            TScratchDir Dir;
            TStickOptions Options;
            Options.Fat32 = Fat32;
            Options.MiB = Fat32 ? 600 : 16;
            // A: is the floppy drive the BIOS has, not the boot volume; B: is none.
            Options.Autoexec = "@echo off\r\ntype A:\\WHO.TXT\r\nB:\r\nBOOTCHK C\r\n"
                               "echo STICK-RUN-DONE\r\n";
            Options.Extra = {{"BOOTCHK.COM", StickDir() / "BOOTCHK.COM"}};
            const std::string Image = MakeStick(Dir, "stick.img", Options);
            const std::string Floppy = (Dir / "floppy.img").string();
            fs::copy_file(RxDosDir() / "BOOT.IMG", Floppy);
            WriteFileBytes(Dir / "WHO.TXT", "THE-FLOPPY-IN-A\r\n");
            RunOrFail(Mtools + "mcopy -Q -i " + ShellQuote(Floppy) + " " +
                      ShellQuote((Dir / "WHO.TXT").string()) + " ::WHO.TXT");
            TQemuOptions Qemu;
            Qemu.ExtraArguments = BootDisk(Image, Bus) + " -drive file=" + ShellQuote(Floppy) +
                                  ",if=floppy,format=raw,readonly=on";
            Qemu.WaitForText = "STICK-RUN-DONE";
            Qemu.TimeoutSeconds = 60;
            const auto Result = RunQemu(Qemu);
            ASSERT_TRUE(Result.SawText) << Result.Screen << Result.Log;
            EXPECT_NE(Result.Screen.find("BOOTCHK-PASSED"), std::string::npos) << Result.Screen;
            EXPECT_NE(Result.Screen.find("THE-FLOPPY-IN-A"), std::string::npos) << Result.Screen;
            EXPECT_NE(Result.Screen.find("Invalid drive specification"), std::string::npos)
                << Result.Screen;
            // Its file is on the stick for another reader, in a sound file system.
            EXPECT_EQ(ReadBack(Image, "BOOTCHK.TXT"), BootCheckText);
            ExpectStickClean(Dir, Image);
        }
    }
}

TEST(QemuStickBoot, Fat16IdeDiskPassesEveryInt21CheckOnC) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    // A small volume with one-sector clusters: INT21TST fills the disk once.
    TStickOptions Options;
    Options.MiB = 4;
    Options.MkfsExtra = "-s 1";
    Options.Autoexec = "@echo off\r\nBOOTCHK C\r\nINT21TST /DC\r\n";
    Options.Extra = {{"BOOTCHK.COM", StickDir() / "BOOTCHK.COM"},
                     {"INT21TST.EXE", RxDosDir() / "INT21TST.EXE"}};
    const std::string Image = MakeStick(Dir, "stick.img", Options);
    TQemuOptions Qemu;
    Qemu.ExtraArguments = BootDisk(Image, "ide");
    // Filling the volume through one-sector writes takes a while under load.
    Qemu.TimeoutSeconds = 400;
    const auto Result = RunQemu(Qemu);
    ASSERT_TRUE(Result.Exited) << Result.Screen << Result.Log;
    EXPECT_EQ(Result.DebugExitCode, Int21TestPassed) << Result.Screen; // 101..107: BOOTCHK
    EXPECT_EQ(ReadBack(Image, "BOOTCHK.TXT"), BootCheckText);
    const fs::path Out = Dir / "OUT.BIN";
    RunOrFail(Mtools + "mcopy -n -i " + ShellQuote(Image + "@@1M") + " ::KEEP/OUT.BIN " +
              ShellQuote(Out.string()));
    std::vector<uint8_t> Pattern(1500);
    for (size_t i = 0; i < Pattern.size(); ++i)
        Pattern[i] = uint8_t(i * 7);
    EXPECT_EQ(ReadFileBytes(Out), Pattern);
    ExpectStickClean(Dir, Image);
}

TEST(QemuStickBoot, WiperStartsFromAUsbStick) {
    REQUIRE_HOST_TOOLS();
    const fs::path Purgit = PayloadDir() / "purgit" / "Purgit";
    ASSERT_TRUE(fs::exists(Purgit / "PURGIT.EXE")) << "no wiper build at " << Purgit;
    TScratchDir Dir;
    TStickOptions Options;
    Options.Autoexec = "@echo off\r\nprompt $p$g\r\ncd \\Purgit\r\ndata\\ctmouse\r\nPurgit \r\n";
    const std::string Image = MakeStick(Dir, "stick.img", Options);
    RunOrFail(Mtools + "mcopy -Q -s -i " + ShellQuote(Image + "@@1M") + " " +
              ShellQuote(Purgit.string()) + " ::PURGIT");
    TQemuOptions Qemu;
    Qemu.ExtraArguments = BootDisk(Image, "usb-ehci");
    Qemu.WaitForText = "Wipe methods found:"; // the wiper waits on its start page
    const auto Result = RunQemu(Qemu);
    ASSERT_TRUE(Result.SawText) << Result.Screen << Result.Log;
    EXPECT_NE(Result.Screen.find("Corvane Purgex 2005 - start screen"), std::string::npos)
        << Result.Screen;
}

TEST(QemuStickBoot, StartsThroughChsWhenTheBiosOffersNoExtensions) {
    REQUIRE_HOST_TOOLS();
    // The extension check of the MBR, the boot sector, RXDOSBIO.SYS and the
    // kernel each answered "not offered": all read through CHS with the
    // geometry INT 13h AH=08h gives (mkfs.fat's BPB on the FAT16 disk says
    // 32 sectors and 2 heads, a geometry no BIOS gives a 16 MiB disk).
    for (const bool Fat32 : {false, true}) {
        SCOPED_TRACE(Fat32 ? "FAT32" : "FAT16");
        TScratchDir Dir;
        TStickOptions Options;
        Options.Fat32 = Fat32;
        Options.MiB = Fat32 ? 600 : 16;
        Options.ChsOnly = true;
        Options.Autoexec = "@echo off\r\nBOOTCHK C\r\necho STICK-RUN-DONE\r\n";
        Options.Extra = {{"BOOTCHK.COM", StickDir() / "BOOTCHK.COM"}};
        const std::string Image = MakeStick(Dir, "stick.img", Options);
        TQemuOptions Qemu;
        Qemu.ExtraArguments = BootDisk(Image, "ide");
        Qemu.WaitForText = "STICK-RUN-DONE";
        const auto Result = RunQemu(Qemu);
        ASSERT_TRUE(Result.SawText) << Result.Screen << Result.Log;
        EXPECT_NE(Result.Screen.find("BOOTCHK-PASSED"), std::string::npos) << Result.Screen;
        EXPECT_EQ(ReadBack(Image, "BOOTCHK.TXT"), BootCheckText);
        ExpectStickClean(Dir, Image);
    }
}

TEST(QemuStickBoot, FaultsEndInAOneLineMessage) {
    REQUIRE_HOST_TOOLS();
    struct TCase {
        std::string Name;
        bool Fat32 = false, Active = true, BreakSector2 = false;
        std::vector<std::string> Leave;
        std::string Message;
    };
    const std::vector<TCase> Cases = {
        {"no active partition", false, false, false, {}, "No active partition. Press a key"},
        {"FAT16 without RXDOSBIO.SYS",
         false,
         true,
         false,
         {"RXDOSBIO.SYS"},
         "No RXDOSBIO.SYS. Press a key"},
        {"FAT32 without RXDOSBIO.SYS",
         true,
         true,
         false,
         {"RXDOSBIO.SYS"},
         "No RXDOSBIO.SYS. Press a key"},
        {"FAT32 without its second sector",
         true,
         true,
         true,
         {},
         "Boot sector 2 damaged. Press a key"},
        {"FAT16 without RXDOS.SYS",
         false,
         true,
         false,
         {"RXDOS.SYS"},
         "Rx-DOS: RXDOS.SYS missing. Press a key"},
        {"FAT32 without RXDOS.SYS",
         true,
         true,
         false,
         {"RXDOS.SYS"},
         "Rx-DOS: RXDOS.SYS missing. Press a key"},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        TScratchDir Dir;
        TStickOptions Options;
        Options.Fat32 = Case.Fat32;
        Options.MiB = Case.Fat32 ? 600 : 16;
        Options.Active = Case.Active;
        Options.Leave = Case.Leave;
        const std::string Image = MakeStick(Dir, "stick.img", Options);
        if (Case.BreakSector2)
            WriteAt(Image, (PartitionStart + 2) * 512, std::vector<uint8_t>(512));
        TQemuOptions Qemu;
        Qemu.ExtraArguments = BootDisk(Image, "ide");
        Qemu.WaitForText = "Press a key";
        Qemu.TimeoutSeconds = 30;
        const auto Result = RunQemu(Qemu);
        ASSERT_TRUE(Result.SawText) << Result.Screen << Result.Log;
        EXPECT_NE(Result.Screen.find(Case.Message), std::string::npos) << Result.Screen;
    }
}

#endif
