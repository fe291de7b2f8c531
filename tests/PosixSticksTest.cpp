// USB sticks on Linux: which whole disks a sysfs tree offers and refuses,
// the mount table, and image files written through the same handle
// (native build only).
#if !defined(_WIN32)

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "TestSupport.h"
#include "platform/StickChecks.h"
#include "platform/posix/PosixScsi.h"
#include "platform/posix/PosixSticks.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

void Put(const fs::path& File, const std::string& Text) {
    fs::create_directories(File.parent_path());
    std::ofstream(File) << Text;
}

using TPartitions = std::vector<std::pair<std::string, std::string>>; // name, dev

// A sysfs tree as the kernel lays it out: disks under devices/ below their
// bus, with links from block/ and dev/block/.
class TFakeSysfs {
public:
    TStickSources Sources() const { return {(Dir / "sys").string(), (Dir / "mountinfo").string()}; }
    fs::path Sys() const { return Dir / "sys"; }

    fs::path Disk(const std::string& Name, const std::string& Bus, const std::string& Dev,
                  bool Removable, uint64_t Sectors, bool ReadOnly = false,
                  const std::string& Vendor = "", const std::string& Model = "",
                  const TPartitions& Partitions = {}) {
        const fs::path Device = Sys() / "devices" / Bus;
        const fs::path Block = Device / "block" / Name;
        Put(Block / "removable", Removable ? "1\n" : "0\n");
        Put(Block / "size", std::to_string(Sectors) + "\n");
        Put(Block / "ro", ReadOnly ? "1\n" : "0\n");
        Put(Block / "dev", Dev + "\n");
        Put(Block / "queue" / "logical_block_size", "512\n");
        if (!Vendor.empty()) Put(Device / "vendor", Vendor + "\n");
        if (!Model.empty()) Put(Device / "model", Model + "\n");
        fs::create_directory_symlink(Device, Block / "device");
        fs::create_directories(Sys() / "block");
        fs::create_directories(Sys() / "dev" / "block");
        fs::create_directory_symlink(Block, Sys() / "block" / Name);
        fs::create_directory_symlink(Block, Sys() / "dev" / "block" / Dev);
        for (const auto& [Part, Dev] : Partitions) {
            Put(Block / Part / "partition", "1\n");
            Put(Block / Part / "dev", Dev + "\n");
            fs::create_directories(Block / Part / "holders");
            fs::create_directory_symlink(Block / Part, Sys() / "dev" / "block" / Dev);
        }
        return Block;
    }
    void Mounts(const std::string& Text) { Put(Dir / "mountinfo", Text); }

private:
    TScratchDir Scratch;
    fs::path Dir = Scratch.Path();
};

constexpr const char* Ata = "pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0";
constexpr const char* UsbBus = "pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0";
constexpr const char* UsbBus2 =
    "pci0000:00/0000:00:14.0/usb2/2-2/2-2:1.0/host7/target7:0:0/7:0:0:0";
constexpr const char* UsbBus3 =
    "pci0000:00/0000:00:14.0/usb2/2-3/2-3:1.0/host8/target8:0:0/8:0:0:0";

// A laptop: the system on sda (the root through device mapper), a stick with
// a mounted partition, a USB disk with its switch locked, an empty card
// reader, a live system started from a stick, an NVMe disk, and the devices
// that never stand for a stick.
void BuildLaptop(TFakeSysfs& Sys) {
    const fs::path Sda = Sys.Disk("sda", Ata, "8:0", false, 500118192, false, "ATA", "Samsung SSD",
                                  {{"sda1", "8:1"}, {"sda2", "8:2"}});
    const fs::path Dm = Sys.Disk("dm-0", "virtual", "254:0", false, 400000000);
    fs::create_directory_symlink(Dm, Sda / "sda2" / "holders" / "dm-0");
    Sys.Disk("sdb", UsbBus, "8:16", true, 31266816, false, "SanDisk ", "Cruzer Blade    ",
             {{"sdb1", "8:17"}, {"sdb2", "8:18"}});
    Sys.Disk("sdc", UsbBus2, "8:32", false, 1953525168, true, "WD", "Elements 25A2");
    Sys.Disk("sdd", "pci0000:00/0000:00:17.0/ata3/host2/target2:0:0/2:0:0:0", "8:48", true, 0,
             false, "Generic-", "SD/MMC");
    Sys.Disk("sde", UsbBus3, "8:64", true, 15630336, false, "Kingston", "DataTraveler 3.0",
             {{"sde1", "8:65"}});
    Sys.Disk("nvme0n1", "pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0", "259:0", false,
             1000215216, false, "", "Samsung 970");
    Sys.Disk("loop0", "virtual", "7:0", false, 2048);
    Sys.Disk("sr0", "pci0000:00/0000:00:17.0/ata2/host1/target1:0:0/1:0:0:0", "11:0", true, 0);
    Sys.Disk("zram0", "virtual", "253:0", false, 8000000);
    Sys.Mounts("22 1 254:0 / / rw,relatime shared:1 - ext4 /dev/mapper/vg-root rw\n"
               "25 22 8:1 / /boot/efi rw,relatime shared:3 - vfat /dev/sda1 rw\n"
               "30 22 0:25 / /tmp rw shared:5 - tmpfs tmpfs rw\n"
               "90 22 8:17 / /media/user/MY\\040STICK rw,nosuid shared:40 - vfat /dev/sdb1 rw\n"
               "91 22 0:52 / /mnt/back\\134up rw shared:41 master:7 - btrfs /dev/sdb2 rw\n"
               "92 22 8:17 / /media/user/MY\\040STICK rw,nosuid shared:40 - vfat /dev/sdb1 rw\n"
               "95 1 8:65 / /run/live/medium ro shared:2 - iso9660 /dev/sde1 ro\n"
               "96 1 0:30 / / rw - overlay overlay rw\n"
               "97 22 8:65 / / rw - ext4 /dev/sde1 rw\n");
}

const TStickDevice* Find(const std::vector<TStickDevice>& Disks, const std::string& Node) {
    for (const TStickDevice& D : Disks)
        if (D.Node == Node) return &D;
    return nullptr;
}

} // namespace

TEST(PosixSticks, SysfsDecidesWhichWholeDisksAreSticksAndWhy) {
    TFakeSysfs Sys;
    BuildLaptop(Sys);

    std::vector<std::string> Listed;
    for (const TStickDevice& D : ListSticks(Sys.Sources()))
        Listed.push_back(D.Node);
    EXPECT_EQ(Listed, (std::vector<std::string>{"/dev/sdb", "/dev/sdc", "/dev/sdd"}));

    const auto All = ScanWholeDisks(Sys.Sources());
    std::vector<std::string> Scanned;
    for (const TStickDevice& D : All)
        Scanned.push_back(D.Node);
    EXPECT_EQ(Scanned, (std::vector<std::string>{"/dev/nvme0n1", "/dev/sda", "/dev/sdb", "/dev/sdc",
                                                 "/dev/sdd", "/dev/sde"}));

    const TStickDevice& Sdb = *Find(All, "/dev/sdb");
    EXPECT_EQ(Sdb.Vendor, "SanDisk");
    EXPECT_EQ(Sdb.Model, "Cruzer Blade");
    EXPECT_EQ(Sdb.Bytes, 31266816ull * 512);
    EXPECT_TRUE(Sdb.Usb && Sdb.Removable);
    EXPECT_FALSE(Sdb.SystemDisk || Sdb.ReadOnly);
    // Found by number, and by the /dev name where the number is not the disk's (btrfs).
    EXPECT_EQ(Sdb.MountPoints, (std::vector<std::string>{"/media/user/MY STICK", "/mnt/back\\up"}));
    EXPECT_EQ("/dev/sdb " + StickRefusal(Sdb, false, true),
              "/dev/sdb has file systems mounted at /media/user/MY STICK, /mnt/back\\up; unmount "
              "them first");

    const TStickDevice& Sdc = *Find(All, "/dev/sdc");
    EXPECT_TRUE(Sdc.Usb);
    EXPECT_FALSE(Sdc.Removable);
    EXPECT_TRUE(Sdc.ReadOnly);
    EXPECT_EQ(StickRefusal(Sdc, true, true), "is read-only (write-protected)");

    const TStickDevice& Sdd = *Find(All, "/dev/sdd");
    EXPECT_FALSE(Sdd.Usb);
    EXPECT_TRUE(Sdd.Removable);
    EXPECT_EQ(StickRefusal(Sdd, false, true), "holds no medium");

    // The root lies on sda2 through device mapper; the live stick holds its own root.
    const TStickDevice& Sda = *Find(All, "/dev/sda");
    EXPECT_TRUE(Sda.SystemDisk);
    EXPECT_EQ(Sda.MountPoints, (std::vector<std::string>{"/", "/boot/efi"}));
    EXPECT_EQ(StickRefusal(Sda, true, true),
              "holds the running system (/, /boot/efi) and is never written");
    EXPECT_TRUE(Find(All, "/dev/sde")->SystemDisk);
    EXPECT_TRUE(Find(All, "/dev/sde")->Usb);

    const TStickDevice& Nvme = *Find(All, "/dev/nvme0n1");
    EXPECT_FALSE(Nvme.Usb || Nvme.Removable || Nvme.SystemDisk);
    EXPECT_EQ(StickRefusal(Nvme, false, true),
              "is neither removable nor attached through USB; such a disk is written only when "
              "asked for explicitly");
    EXPECT_EQ(StickRefusal(Nvme, true, true), "");
}

TEST(PosixSticks, NodesAreResolvedToTheirWholeDiskAndPartitionsAreRefused) {
    TFakeSysfs Sys;
    BuildLaptop(Sys);
    std::string Problem;
    const auto Stick =
        DescribeBlockDevice(Sys.Sources(), 8, 16, "/dev/disk/by-id/usb-SanDisk", Problem);
    ASSERT_TRUE(Stick) << Problem;
    EXPECT_EQ(Stick->Node, "/dev/sdb");
    EXPECT_TRUE(Stick->Usb);

    EXPECT_FALSE(DescribeBlockDevice(Sys.Sources(), 8, 17, "/dev/sdb1", Problem));
    EXPECT_EQ(Problem, "/dev/sdb1 is a partition of /dev/sdb; name the whole disk, /dev/sdb");
    EXPECT_FALSE(DescribeBlockDevice(Sys.Sources(), 11, 0, "/dev/sr0", Problem));
    EXPECT_EQ(Problem, "/dev/sr0 is a CD/DVD or floppy drive, not a disk");
    EXPECT_FALSE(DescribeBlockDevice(Sys.Sources(), 8, 99, "/dev/sdx", Problem));
    EXPECT_EQ(Problem, "/dev/sdx: the kernel lists no such block device");

    EXPECT_FALSE(DescribePosixStick(Sys.Sources(), "/nonexistent/stick", Problem));
    EXPECT_EQ(Problem, "/nonexistent/stick: no such disk or file");
}

// The checks run again on the disk as it is now: a device the caller took
// for a stick but that holds the system or mounted file systems is never
// opened. A real block node of this machine stands in; the fake tree says
// what disk it is.
TEST(PosixSticks, OpenRefusesWhatAFreshDescriptionRefuses) {
    std::string Node;
    if (DIR* Dev = ::opendir("/dev")) {
        while (const dirent* Entry = ::readdir(Dev)) {
            struct stat Info;
            const std::string Path = std::string("/dev/") + Entry->d_name;
            if (::stat(Path.c_str(), &Info) == 0 && S_ISBLK(Info.st_mode)) {
                Node = Path;
                break;
            }
        }
        ::closedir(Dev);
    }
    if (Node.empty()) GTEST_SKIP() << "no block device node on this machine";
    struct stat Info;
    ASSERT_EQ(::stat(Node.c_str(), &Info), 0);
    const std::string Dev =
        std::to_string(major(Info.st_rdev)) + ":" + std::to_string(minor(Info.st_rdev));

    TStickDevice Claimed; // what a careless caller believes
    Claimed.Node = Node;
    Claimed.Usb = Claimed.Removable = true;
    Claimed.Bytes = 1 << 30;
    uint32_t Error = 0;
    std::string Problem;
    {
        TFakeSysfs Sys;
        Sys.Disk("sdq", UsbBus, Dev, true, 4000000, false, "Acme", "Stick", {{"sdq1", "65:1"}});
        Sys.Mounts("22 1 65:1 / / rw - ext4 /dev/sdq1 rw\n");
        EXPECT_FALSE(OpenPosixStick(Sys.Sources(), Claimed, true, Error, Problem));
        EXPECT_EQ(Problem, "/dev/sdq holds the running system (/) and is never written");
    }
    {
        TFakeSysfs Sys;
        Sys.Disk("sdq", UsbBus, Dev, true, 4000000, false, "Acme", "Stick", {{"sdq1", "65:1"}});
        Sys.Mounts("40 22 65:1 / /media/a rw - vfat /dev/sdq1 rw\n");
        EXPECT_FALSE(OpenPosixStick(Sys.Sources(), Claimed, true, Error, Problem));
        EXPECT_EQ(Problem, "/dev/sdq has file systems mounted at /media/a; unmount them first");
    }
    {
        TFakeSysfs Sys;
        Sys.Disk("sdq", Ata, Dev, false, 4000000, false, "ATA", "Disk");
        Sys.Mounts("");
        EXPECT_FALSE(OpenPosixStick(Sys.Sources(), Claimed, false, Error, Problem));
        EXPECT_NE(Problem.find("/dev/sdq is neither removable nor attached through USB"),
                  std::string::npos)
            << Problem;
    }
}

TEST(PosixSticks, MountInfoLinesDecodeEscapesAndSkipOptionalFields) {
    const auto Entries = ParseMountInfo(
        "36 35 98:0 /mnt1 /mnt/a\\040b\\011c rw,noatime master:1 shared:2 - ext3 /dev/x\\040y rw\n"
        "37 35 8:33 / /media/new\\012line rw - vfat /dev/sdc1 rw\n"
        "garbage line\n"
        "38 35 x:y / /bad rw - ext4 /dev/sdz rw\n"
        "39 35 0:5 / /dev rw - devtmpfs udev rw\n");
    ASSERT_EQ(Entries.size(), 3u);
    EXPECT_EQ(Entries[0].Major, 98u);
    EXPECT_EQ(Entries[0].Minor, 0u);
    EXPECT_EQ(Entries[0].MountPoint, "/mnt/a b\tc");
    EXPECT_EQ(Entries[0].Source, "/dev/x y");
    EXPECT_EQ(Entries[1].MountPoint, "/media/new\nline");
    EXPECT_EQ(Entries[1].Minor, 33u);
    EXPECT_EQ(Entries[2].Source, "udev");
    // A backslash not followed by three octal digits stays as it is.
    EXPECT_EQ(DecodeMountEscapes("a\\134b\\08\\04"), "a\\b\\08\\04");
}

TEST(PosixSticks, FailedTransfersAnswerCodesWithClearTexts) {
    const std::vector<std::pair<int, std::string>> Cases{
        {EIO, "The request could not be performed because of an I/O device error."},
        {ENOSPC, "There is not enough space on the disk."},
        {ENODEV, "The device is not connected."},
        {ENXIO, "The device is not connected."},
        {EROFS, "The media is write protected."},
        {EBUSY, "The requested resource is in use."},
    };
    for (const auto& [Errno, Text] : Cases)
        EXPECT_EQ(PosixErrorText(StickErrorOf(Errno)), Text) << Errno;
}

// Image files through the same handle a disk gets: written and read with
// pread/pwrite at any offset, checked against the file as another reader
// sees it; created sparse; an existing file keeps its size and bytes.
TEST(PosixSticks, ImageFilesAreCreatedSparseAndWrittenInPlace) {
    TScratchDir Dir;
    const std::string Path = (Dir / "stick.img").string();
    uint32_t Error = 0;
    std::string Problem;
    {
        auto Disk = OpenPosixDiskImage(Path, 64ull << 20, Error, Problem);
        ASSERT_TRUE(Disk) << Problem;
        EXPECT_EQ(Disk->Bytes(), 64ull << 20);
        const auto Boot = RandomBytes(512, 1), Middle = RandomBytes(70000, 2);
        ASSERT_TRUE(Disk->WriteAt(0, Boot));
        ASSERT_TRUE(Disk->WriteAt((40ull << 20) + 3, Middle));
        ASSERT_TRUE(Disk->Flush());
        ASSERT_TRUE(Disk->Refresh());
        std::vector<uint8_t> Back(Middle.size());
        ASSERT_TRUE(Disk->ReadAt((40ull << 20) + 3, Back));
        EXPECT_EQ(Back, Middle);
        // Beyond the end: refused, the file does not grow.
        EXPECT_FALSE(Disk->WriteAt((64ull << 20) - 100, Boot));
        EXPECT_EQ(Error, StickErrorSectorNotFound);
        EXPECT_FALSE(Disk->ReadAt(64ull << 20, Back));

        const auto File = ReadFileBytes(Path);
        ASSERT_EQ(File.size(), 64ull << 20);
        EXPECT_TRUE(std::equal(Boot.begin(), Boot.end(), File.begin()));
        EXPECT_TRUE(std::equal(Middle.begin(), Middle.end(), File.begin() + (40 << 20) + 3));
        struct stat Info;
        ASSERT_EQ(::stat(Path.c_str(), &Info), 0);
        EXPECT_LT(uint64_t(Info.st_blocks) * 512, 4ull << 20) << "not sparse";
    }
    std::string Described;
    const auto File = DescribePosixStick({}, Path, Described);
    ASSERT_TRUE(File) << Described;
    EXPECT_TRUE(File->ImageFile);
    EXPECT_EQ(File->Bytes, 64ull << 20);
    {
        // Existing: its size stays whatever was asked for a new one.
        auto Disk = OpenPosixDiskImage(Path, 16ull << 20, Error, Problem);
        ASSERT_TRUE(Disk) << Problem;
        EXPECT_EQ(Disk->Bytes(), 64ull << 20);
        std::vector<uint8_t> Back(512);
        ASSERT_TRUE(Disk->ReadAt(0, Back));
        EXPECT_EQ(Back, RandomBytes(512, 1));
    }
    EXPECT_EQ(fs::file_size(Path), 64ull << 20);

    WriteFileBytes(Dir / "small.img", std::string(4096, 'x'));
    EXPECT_FALSE(OpenPosixDiskImage((Dir / "small.img").string(), 64ull << 20, Error, Problem));
    EXPECT_NE(Problem.find("holds 4096 bytes; an image file needs at least 1 MiB"),
              std::string::npos)
        << Problem;
    EXPECT_EQ(fs::file_size(Dir / "small.img"), 4096u);
    EXPECT_FALSE(OpenPosixDiskImage((Dir / "tiny.img").string(), 1000, Error, Problem));
    EXPECT_FALSE(fs::exists(Dir / "tiny.img"));
    EXPECT_FALSE(OpenPosixDiskImage(Dir.Path().string(), 64ull << 20, Error, Problem));
}

// A write the system refuses half-way ends the handle's writing: nothing
// after it reaches the medium, even a write that would have gone through.
// A file size limit makes the kernel refuse (EFBIG) as a failing stick would.
TEST(PosixSticks, AfterAFailedWriteNothingMoreIsWritten) {
    TScratchDir Dir;
    const std::string Path = (Dir / "stick.img").string();
    uint32_t Error = 0;
    std::string Problem;
    auto Disk = OpenPosixDiskImage(Path, 8ull << 20, Error, Problem);
    ASSERT_TRUE(Disk) << Problem;
    rlimit Old;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &Old), 0);
    const auto OldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit Limit = Old;
    Limit.rlim_cur = 4ull << 20;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &Limit), 0);
    const bool Refused = !Disk->WriteAt((4ull << 20) - 512, std::vector<uint8_t>(4096, 0x55));
    const uint32_t Code = Error;
    ::setrlimit(RLIMIT_FSIZE, &Old);
    std::signal(SIGXFSZ, OldHandler);
    ASSERT_TRUE(Refused);
    EXPECT_EQ(Code, StickErrorDiskFull);
    EXPECT_FALSE(Disk->WriteAt(0, std::vector<uint8_t>(512, 0x77)));
    EXPECT_EQ(Error, StickErrorDiskFull);
    Disk.reset();
    const auto File = ReadFileBytes(Path);
    EXPECT_EQ(File[0], 0) << "written after the fault";
    EXPECT_EQ(File[(4 << 20) - 512], 0x55); // the part the kernel took
}

#endif
