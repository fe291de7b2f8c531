// USB sticks on a simulated Windows machine (the portable code the Win32
// backend runs), the listing of purgex devices, and image files through the
// native backend of each build.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sstream>

#include "TestSupport.h"
#include "cli/BurnCommand.h"
#include "fakes/FakeDiskMachine.h"
#include "fakes/FakePlatform.h"
#include "platform/WindowsSticks.h"

using namespace testing_support;

namespace {

constexpr uint64_t MiB = 1 << 20;

// A PC: the system disk (SATA) with C:, a USB stick with two volumes, a gap,
// a write-protected stick, an internal card reader, a second SATA disk with
// D:. Nothing past drive 5.
struct TWindowsPc {
    TFakePlatform Machine;
    TFakeDiskMachine Disks;
    TWindowsPc() {
        Machine.Disks = &Disks;
        TFakePhysicalDrive System;
        System.Vendor = "";
        System.Product = "Samsung SSD 860";
        System.BusType = 11; // SATA
        System.RemovableMedia = false;
        System.Bytes = 256000ull * MiB;
        Disks.Drives[0] = System;
        Disks.Drives[1] = TFakePhysicalDrive{};
        Disks.Drives[1].Bytes = 16000ull * MiB;
        TFakePhysicalDrive Locked;
        Locked.Vendor = "SanDisk";
        Locked.Product = "Cruzer";
        Locked.ReadOnly = true;
        Disks.Drives[3] = Locked;
        TFakePhysicalDrive Reader;
        Reader.Vendor = "Generic";
        Reader.Product = "SD Reader";
        Reader.BusType = 12; // SD
        Disks.Drives[4] = Reader;
        Disks.Drives[5] = System;
        Disks.Drives[5].Product = "Data Disk";
        Disks.Volumes = {{'C', 0, true}, {'D', 5, true}, {'E', 1}, {'F', 1}, {'G', 3}};
    }
    std::unique_ptr<TDiskHandle> Open(const std::string& Node, bool AnyDisk, std::string& Problem) {
        const auto Disk = Machine.DescribeStick(Node, Problem);
        if (!Disk) return nullptr;
        return Machine.OpenStick(*Disk, AnyDisk, Problem);
    }
};

const std::vector<std::string> Requests{"open",  "lock",    "dismount", "write",
                                        "flush", "refresh", "unlock",   "close"};

} // namespace

TEST(WindowsSticks, ListsUsbAndRemovableDrivesNeverTheSystemDisk) {
    TWindowsPc Pc;
    const auto Sticks = Pc.Machine.StickDevices();
    ASSERT_EQ(Sticks.size(), 3u);
    EXPECT_EQ(Sticks[0].Node, "\\\\.\\PhysicalDrive1");
    EXPECT_EQ(Sticks[0].Vendor, "Corsair");
    EXPECT_EQ(Sticks[0].Model, "Voyager Mini");
    EXPECT_EQ(Sticks[0].Bytes, 16000ull * MiB);
    EXPECT_TRUE(Sticks[0].Usb && Sticks[0].Removable);
    EXPECT_EQ(Sticks[0].MountPoints, (std::vector<std::string>{"E:", "F:"}));
    EXPECT_EQ(Sticks[1].Node, "\\\\.\\PhysicalDrive3"); // past the missing drive 2
    EXPECT_TRUE(Sticks[1].ReadOnly);
    EXPECT_EQ(Sticks[2].Node, "\\\\.\\PhysicalDrive4");
    EXPECT_FALSE(Sticks[2].Usb);
    EXPECT_TRUE(Sticks[2].Removable);
    // Listing opens nothing for writing.
    EXPECT_TRUE(Pc.Disks.Logged({"open", "lock", "write"}).empty());

    // Drive letters and both spellings of a drive name the same disk.
    std::string Problem;
    for (const char* Node : {"E:", "f:\\", "PhysicalDrive1", "\\\\.\\physicaldrive1"}) {
        const auto Disk = Pc.Machine.DescribeStick(Node, Problem);
        ASSERT_TRUE(Disk) << Node << ": " << Problem;
        EXPECT_EQ(Disk->Node, "\\\\.\\PhysicalDrive1");
    }
    EXPECT_FALSE(Pc.Machine.DescribeStick("PhysicalDrive2", Problem));
    EXPECT_NE(Problem.find("\\\\.\\PhysicalDrive2: no such disk"), std::string::npos) << Problem;
    EXPECT_FALSE(Pc.Machine.DescribeStick("Q:", Problem));
    EXPECT_EQ(Problem, "Q: is no volume of a disk here");
}

TEST(WindowsSticks, EveryVolumeIsLockedAndDismountedForTheWritesAndReleasedAfter) {
    TWindowsPc Pc;
    auto& Stick = Pc.Disks.Drives[1];
    Stick.Sectors[2056] = std::vector<uint8_t>(512, 0xAA); // what the partial write keeps
    std::string Problem;
    auto Disk = Pc.Open("E:", false, Problem);
    ASSERT_TRUE(Disk) << Problem;
    EXPECT_EQ(Disk->Bytes(), 16000ull * MiB);
    EXPECT_FALSE(Pc.Disks.Volume('E')->Mounted);
    EXPECT_TRUE(Pc.Disks.Volume('F')->Locked);

    const auto Mbr = RandomBytes(512, 7), Fat = RandomBytes(4096, 8), Tail = RandomBytes(10, 9);
    ASSERT_TRUE(Disk->WriteAt(0, Mbr));
    ASSERT_TRUE(Disk->WriteAt(MiB, Fat));
    ASSERT_TRUE(Disk->WriteAt(MiB + 4096 + 100, Tail)); // inside sector 2056
    ASSERT_TRUE(Disk->Flush());
    ASSERT_TRUE(Disk->Refresh());
    std::vector<uint8_t> Back(4096 + 120);
    ASSERT_TRUE(Disk->ReadAt(MiB, Back));
    Disk.reset();

    EXPECT_EQ(Pc.Disks.Logged(Requests),
              (std::vector<std::string>{
                  "open \\\\.\\E: rw", "lock E:", "dismount E:", "open \\\\.\\F: rw",
                  "lock F:", "dismount F:", "open \\\\.\\PhysicalDrive1 rw", "write 1 @0 +512",
                  "write 1 @1048576 +4096", "write 1 @1052672 +512", "flush 1", "refresh 1",
                  "close 1", "unlock E:", "unlock F:", "close E:", "close F:"}));
    EXPECT_EQ(Pc.Disks.Contents(1, 0, 512), Mbr);
    EXPECT_EQ(Pc.Disks.Contents(1, MiB, 4096), Fat);
    std::vector<uint8_t> Sector(512, 0xAA);
    std::copy(Tail.begin(), Tail.end(), Sector.begin() + 100);
    EXPECT_EQ(Pc.Disks.Contents(1, MiB + 4096, 512), Sector);
    EXPECT_TRUE(std::equal(Fat.begin(), Fat.end(), Back.begin()));
    EXPECT_TRUE(std::equal(Back.begin() + 4096, Back.end(), Sector.begin()));
    EXPECT_TRUE(Pc.Disks.Volume('E')->Mounted);
    EXPECT_FALSE(Pc.Disks.Volume('F')->Locked);
    // The other disks saw nothing but questions.
    EXPECT_TRUE(Pc.Disks.Volume('C')->Mounted);
    EXPECT_FALSE(Pc.Disks.Volume('C')->Locked);
}

TEST(WindowsSticks, AStickPulledOutEndsTheWritesAndNothingMoreIsWritten) {
    for (const uint32_t Gone : {WinErrorDeviceNotConnected, WinErrorNotReady}) {
        TWindowsPc Pc;
        Pc.Disks.Drives[1].WritesBeforeGone = 2;
        Pc.Disks.Drives[1].GoneError = Gone;
        std::string Problem;
        auto Disk = Pc.Open("\\\\.\\PhysicalDrive1", false, Problem);
        ASSERT_TRUE(Disk) << Problem;
        // One call of three sector runs: the first two go, the drive is gone at the third.
        const auto Bytes = RandomBytes(3 * MiB, 3);
        EXPECT_FALSE(Disk->WriteAt(0, Bytes));
        EXPECT_EQ(Pc.Machine.LastError(), Gone);
        EXPECT_FALSE(Disk->WriteAt(8 * MiB, std::vector<uint8_t>(512, 1)));
        EXPECT_EQ(Pc.Machine.LastError(), Gone);
        Disk.reset();
        EXPECT_EQ(Pc.Disks.Logged({"write"}),
                  (std::vector<std::string>{"write 1 @0 +1048576", "write 1 @1048576 +1048576",
                                            "write 1 @2097152 +1048576"}));
        // Its volumes are released; the stick is no longer found.
        EXPECT_EQ(Pc.Disks.Logged({"unlock"}),
                  (std::vector<std::string>{"unlock E:", "unlock F:"}));
        EXPECT_FALSE(Pc.Open("\\\\.\\PhysicalDrive1", false, Problem));
        EXPECT_NE(Problem.find("\\\\.\\PhysicalDrive1: no such disk"), std::string::npos)
            << Problem;
    }
}

TEST(WindowsSticks, RefusedDisksAreNamedAndNeverOpenedForWriting) {
    struct TCase {
        const char* Name;
        std::string Node;
        bool AnyDisk;
        std::function<void(TWindowsPc&)> Arrange;
        std::string Problem;
    };
    const std::vector<TCase> Cases{
        {"read-only stick", "G:", false, [](TWindowsPc&) {},
         "\\\\.\\PhysicalDrive3 is read-only (write-protected)"},
        {"system disk, even on USB", "PhysicalDrive0", true,
         [](TWindowsPc& Pc) { Pc.Disks.Drives[0].BusType = 7; },
         "\\\\.\\PhysicalDrive0 holds the running system (C:) and is never written"},
        {"fixed disk", "D:", false, [](TWindowsPc&) {},
         "\\\\.\\PhysicalDrive5 is neither removable nor attached through USB; such a disk is "
         "written only when asked for explicitly"},
    };
    for (const TCase& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        TWindowsPc Pc;
        Case.Arrange(Pc);
        std::string Problem;
        EXPECT_FALSE(Pc.Open(Case.Node, Case.AnyDisk, Problem));
        EXPECT_EQ(Problem, Case.Problem);
        EXPECT_TRUE(Pc.Disks.Logged({"open", "lock", "dismount", "write"}).empty());
    }
    // Asked for explicitly, the fixed data disk opens.
    TWindowsPc Pc;
    std::string Problem;
    EXPECT_TRUE(Pc.Open("D:", true, Problem)) << Problem;
}

TEST(WindowsSticks, AVolumeThatCannotBeLockedRefusesTheDiskAndReleasesTheOthers) {
    TWindowsPc Pc;
    Pc.Disks.Volume('F')->InUse = true;
    std::string Problem;
    EXPECT_FALSE(Pc.Open("E:", false, Problem));
    EXPECT_EQ(Problem, "volume F: of \\\\.\\PhysicalDrive1 is in use (a program has files open on "
                       "it) and cannot be locked; close them and try again");
    EXPECT_EQ(Pc.Disks.Logged(Requests),
              (std::vector<std::string>{"open \\\\.\\E: rw",
                                        "lock E:", "dismount E:", "open \\\\.\\F: rw",
                                        "lock F:", "close F:", "unlock E:", "close E:"}));
    EXPECT_TRUE(Pc.Disks.Volume('E')->Mounted);
    EXPECT_FALSE(Pc.Disks.Volume('E')->Locked);
}

TEST(WindowsSticks, PurgexDevicesListsSticksBesideTheDrives) {
    TWindowsPc Pc;
    std::ostringstream Out, Err;
    EXPECT_EQ(RunDevicesCommand(Out, Err), 0);
    const std::string Text = Out.str();
    EXPECT_NE(
        Text.find("USB sticks:\n"
                  "    \\\\.\\PhysicalDrive1  Corsair Voyager Mini  16.8 GB  [USB, "
                  "removable]  volumes E: F:  offered\n"
                  "    \\\\.\\PhysicalDrive3  SanDisk Cruzer  67 MB  [USB, removable]  "
                  "volumes G:  refused: is read-only (write-protected)\n"
                  "    \\\\.\\PhysicalDrive4  Generic SD Reader  67 MB  [removable]  offered\n"),
        std::string::npos)
        << Text;

    TFakePlatform Bare;
    std::ostringstream None;
    RunDevicesCommand(None, Err);
    EXPECT_NE(None.str().find("No USB sticks found.\n"), std::string::npos) << None.str();
}

// The native backend of this build (POSIX here, Win32 under Wine): a new
// image file is made at the size asked, an existing one keeps its size.
TEST(NativeDiskImages, CreatedAtTheAskedSizeAndExistingOnesKept) {
    TScratchDir Dir;
    const std::string Path = (Dir / "usb.img").string();
    std::string Problem;
    {
        auto Disk = NativePlatform().OpenDiskImage(Path, 48 * MiB, Problem);
        ASSERT_TRUE(Disk) << Problem;
        EXPECT_EQ(Disk->Bytes(), 48 * MiB);
        ASSERT_TRUE(Disk->WriteAt(47 * MiB + 7, RandomBytes(1000, 5)));
        ASSERT_TRUE(Disk->Flush());
        EXPECT_TRUE(Disk->Refresh());
        EXPECT_FALSE(Disk->WriteAt(48 * MiB - 10, RandomBytes(20, 5)));
    }
    EXPECT_EQ(std::filesystem::file_size(Path), 48 * MiB);
    const auto Bytes = ReadFileBytes(Path);
    const auto Expected = RandomBytes(1000, 5);
    EXPECT_TRUE(std::equal(Expected.begin(), Expected.end(), Bytes.begin() + 47 * MiB + 7));
    {
        auto Disk = NativePlatform().OpenDiskImage(Path, 2 * MiB, Problem);
        ASSERT_TRUE(Disk) << Problem;
        EXPECT_EQ(Disk->Bytes(), 48 * MiB);
        std::vector<uint8_t> Back(1000);
        ASSERT_TRUE(Disk->ReadAt(47 * MiB + 7, Back));
        EXPECT_EQ(Back, Expected);
    }
    EXPECT_EQ(std::filesystem::file_size(Path), 48 * MiB);
    EXPECT_FALSE(NativePlatform().OpenDiskImage((Dir / "small.img").string(), 512 * 1024, Problem));
    EXPECT_FALSE(std::filesystem::exists(Dir / "small.img"));
}
