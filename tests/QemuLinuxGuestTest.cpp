// The Linux device paths against a real kernel: a Debian kernel in QEMU with
// the built purgex inside (LinuxGuest.h). What purgex and the guest report is
// checked against what QEMU was told to attach and against the kernel's own
// view (sysfs, /proc/sys/dev/cdrom/info), and what the guest wrote against
// the host's image files.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "LinuxGuest.h"
#include "QemuWiperSupport.h"
#include "TestSupport.h"

using namespace testing_support;

namespace {

constexpr size_t DiskBytes = 4 << 20;
constexpr size_t WrittenAt = 8 * 512;

// A disk image that names itself in its first bytes, so the guest can tell
// which of its block devices is which.
void MakeTaggedImage(const std::string& Path, const std::string& Tag) {
    std::vector<uint8_t> Bytes(DiskBytes, 0);
    std::copy(Tag.begin(), Tag.end(), Bytes.begin());
    WriteFileBytes(Path, Bytes);
}

std::vector<std::string> Lines(const std::string& Text) {
    std::vector<std::string> Result;
    std::istringstream In(Text);
    for (std::string Line; std::getline(In, Line);)
        Result.push_back(Line);
    return Result;
}

// The "disk" lines of the script below, by tag: "removable=1 usb=yes ...".
std::map<std::string, std::map<std::string, std::string>> DisksByTag(const std::string& Output) {
    std::map<std::string, std::map<std::string, std::string>> Disks;
    for (const std::string& Line : Lines(Output)) {
        if (Line.rfind("disk ", 0) != 0) continue;
        std::map<std::string, std::string> Fields;
        std::istringstream In(Line.substr(5));
        for (std::string Field; In >> Field;) {
            const size_t Equals = Field.find('=');
            if (Equals != std::string::npos)
                Fields[Field.substr(0, Equals)] = Field.substr(Equals + 1);
        }
        Disks[Fields["tag"]] = Fields;
    }
    return Disks;
}

} // namespace

// purgex devices in the guest finds QEMU's IDE and SCSI CD drives through
// their /dev/sr* nodes (SG_IO) and offers neither, since neither writes.
TEST(QemuLinuxGuest, DevicesListsTheEmulatedCdDrivesAsNonWriters) {
    REQUIRE_LINUX_GUEST();
    const auto Result =
        RunInGuest("purgex devices; echo \"devices exit $?\"\n"
                   "for d in /sys/block/sr*; do\n"
                   "  echo \"sysfs ${d##*/} $(cat $d/device/model)\"\n"
                   "done\n"
                   "cat /proc/sys/dev/cdrom/info\n",
                   {{TGuestDiskKind::IdeCdrom, ""}, {TGuestDiskKind::ScsiCdrom, ""}});
    ASSERT_TRUE(Result.Ran) << Result.Problem;
    EXPECT_EQ(Result.ExitStatus, 0) << Result.Output;
    EXPECT_NE(Result.Output.find("Transport: SCSI pass-through\n"), std::string::npos)
        << Result.Output;
    EXPECT_NE(Result.Output.find("devices exit 0\n"), std::string::npos) << Result.Output;

    // The kernel's names for the two drives, and what its CD layer says they
    // can do (one column per drive, in the order of "drive name:").
    std::map<std::string, std::string> Models;
    std::vector<std::string> Names, CanWriteCdR, CanReadDvd;
    for (const std::string& Line : Lines(Result.Output)) {
        std::smatch Match;
        if (std::regex_match(Line, Match, std::regex("sysfs (sr[0-9]) (.*?) *")))
            Models[Match[1]] = Match[2];
        std::istringstream In(Line);
        std::string Word;
        std::vector<std::string>* Row = nullptr;
        if (Line.rfind("drive name:", 0) == 0) Row = &Names;
        if (Line.rfind("Can write CD-R:", 0) == 0) Row = &CanWriteCdR;
        if (Line.rfind("Can read DVD:", 0) == 0) Row = &CanReadDvd;
        if (!Row) continue;
        const std::string Values = Line.substr(Line.find(':') + 1);
        std::istringstream Columns(Values);
        for (std::string Value; Columns >> Value;)
            Row->push_back(Value);
    }
    ASSERT_EQ(Models.size(), 2u) << Result.Output;
    ASSERT_EQ(Names.size(), 2u) << Result.Output;
    ASSERT_EQ(CanWriteCdR.size(), 2u) << Result.Output;
    ASSERT_EQ(CanReadDvd.size(), 2u) << Result.Output;

    for (size_t i = 0; i < Names.size(); ++i) {
        const std::string& Node = Names[i];
        SCOPED_TRACE(Node);
        EXPECT_EQ(CanWriteCdR[i], "0");
        // One line per drive, numbered as burn numbers them, with the model
        // the kernel read from the drive, and the refusal for a non-writer.
        // sr0 is D:, sr1 E:, and the list holds no other drives.
        const int Index = Node[2] - '0';
        const std::regex Line(" " + std::to_string(Index + 1) + "  " + char('D' + Index) +
                              ":     \\(/dev/" + Node + "\\) " + Models[Node] +
                              " \\(QEMU\\)  \\[CDROM\\]  reads ([A-Z0-9,-]+), writes -  "
                              "not offered: writes neither CD-R nor CD-RW");
        std::smatch Match;
        bool Found = false;
        for (const std::string& Printed : Lines(Result.Output)) {
            if (!std::regex_match(Printed, Match, Line)) continue;
            Found = true;
            // Read from the drive's capabilities page: the kernel agrees.
            EXPECT_EQ(Match[1].str().find("DVD-ROM") != std::string::npos, CanReadDvd[i] == "1")
                << Printed;
        }
        EXPECT_TRUE(Found) << Result.Output;
    }
    EXPECT_EQ(Result.Output.find("offered\n"), std::string::npos) << Result.Output;
    EXPECT_EQ(Result.Output.find("cannot be queried"), std::string::npos) << Result.Output;
}

// Sticks on xHCI and EHCI appear as whole USB disks (removable or not, as
// the device reports); an IDE and a virtio disk carry no USB marks. The
// guest's writes through each node reach the host's image files.
TEST(QemuLinuxGuest, UsbSticksAndFixedDisksAsTheKernelSeesThem) {
    REQUIRE_LINUX_GUEST();
    TScratchDir Dir;
    const std::vector<std::string> Tags{"STICK-XHCI", "STICK-EHCI", "FIXED-IDE", "FIXED-VIRTIO"};
    std::vector<TGuestDisk> Disks{{TGuestDiskKind::UsbXhci, "", true},
                                  {TGuestDiskKind::UsbEhci, "", false},
                                  {TGuestDiskKind::IdeDisk, ""},
                                  {TGuestDiskKind::VirtioDisk, ""}};
    for (size_t i = 0; i < Disks.size(); ++i) {
        Disks[i].Image = (Dir / (Tags[i] + ".img")).string();
        MakeTaggedImage(Disks[i].Image, Tags[i]);
    }
    const auto Result = RunInGuest(
        "for d in /sys/block/sd* /sys/block/vd*; do\n"
        "  n=${d##*/}\n"
        "  tag=$(dd if=/dev/$n bs=16 count=1 2>/dev/null | tr -d '\\000')\n"
        "  case $(readlink -f $d/device) in */usb*) usb=yes ;; *) usb=no ;; esac\n"
        "  echo \"disk node=$n tag=$tag removable=$(cat $d/removable) usb=$usb"
        " sectors=$(cat $d/size) partition=$(ls -d $d/${n}1 2>/dev/null)\"\n"
        "  echo \"written in the guest to $tag\" | dd of=/dev/$n bs=512 seek=8 conv=sync,fsync"
        " 2>/dev/null || exit 1\n"
        "done\n"
        "sync\n",
        Disks);
    ASSERT_TRUE(Result.Ran) << Result.Problem;
    EXPECT_EQ(Result.ExitStatus, 0) << Result.Output;

    const auto Seen = DisksByTag(Result.Output);
    ASSERT_EQ(Seen.size(), Tags.size()) << Result.Output;
    struct TExpected {
        std::string Removable, Usb, NodePrefix;
    };
    const std::map<std::string, TExpected> Expected{{"STICK-XHCI", {"1", "yes", "sd"}},
                                                    {"STICK-EHCI", {"0", "yes", "sd"}},
                                                    {"FIXED-IDE", {"0", "no", "sd"}},
                                                    {"FIXED-VIRTIO", {"0", "no", "vd"}}};
    for (size_t i = 0; i < Tags.size(); ++i) {
        const std::string& Tag = Tags[i];
        SCOPED_TRACE(Tag);
        ASSERT_TRUE(Seen.count(Tag)) << Result.Output;
        const auto& Disk = Seen.at(Tag);
        EXPECT_EQ(Disk.at("removable"), Expected.at(Tag).Removable);
        EXPECT_EQ(Disk.at("usb"), Expected.at(Tag).Usb);
        EXPECT_EQ(Disk.at("node").substr(0, 2), Expected.at(Tag).NodePrefix);
        // A whole disk of the image's size, with no partitions on it.
        EXPECT_EQ(Disk.at("sectors"), std::to_string(DiskBytes / 512));
        EXPECT_EQ(Disk.at("partition"), "");

        const auto Bytes = ReadFileBytes(Disks[i].Image);
        ASSERT_EQ(Bytes.size(), DiskBytes);
        EXPECT_EQ(std::string(Bytes.begin(), Bytes.begin() + Tag.size()), Tag);
        const std::string Line = "written in the guest to " + Tag + "\n";
        EXPECT_EQ(std::string(Bytes.begin() + WrittenAt, Bytes.begin() + WrittenAt + Line.size()),
                  Line);
        // conv=sync pads the block with zeros, and nothing else was touched.
        EXPECT_EQ(std::count(Bytes.begin() + Tag.size(), Bytes.end(), 0),
                  std::ptrdiff_t(DiskBytes - Tag.size() - Line.size()));
    }
}

// The harness reports the script's status and refuses what QEMU cannot
// attach, without booting.
TEST(QemuLinuxGuest, ReportsTheScriptsStatusAndOutput) {
    REQUIRE_LINUX_GUEST();
    auto Result = RunInGuest("echo to stdout; echo to stderr >&2; exit 7\n", {});
    ASSERT_TRUE(Result.Ran) << Result.Problem;
    EXPECT_EQ(Result.ExitStatus, 7);
    EXPECT_EQ(Result.Output, "to stdout\nto stderr\n");

    const std::vector<TGuestDisk> TooMany(5, {TGuestDiskKind::IdeCdrom, ""});
    Result = RunInGuest("exit 0\n", TooMany);
    EXPECT_FALSE(Result.Ran);
    EXPECT_EQ(Result.Problem, "more than four IDE drives");
}

#ifndef _WIN32
// purgex usb through a real kernel: the stick is listed and written (the
// kernel then sees its partition), a fixed IDE disk and a stick with a
// mounted file system are refused and keep every byte. The host then reads
// the stick with sfdisk, fsck.fat and mtools.
TEST(QemuLinuxGuest, UsbWritesAStickAndRefusesFixedAndMountedDisks) {
    REQUIRE_LINUX_GUEST();
    TScratchDir Dir;
    const std::string Stick = (Dir / "stick.img").string();
    const std::string Fixed = (Dir / "fixed.img").string();
    const std::string Mounted = (Dir / "mounted.img").string();
    WriteFileBytes(Stick, std::vector<uint8_t>(64 << 20, 0));
    WriteFileBytes(Fixed, RandomBytes(16 << 20, 3));
    WriteFileBytes(Mounted, std::vector<uint8_t>(40 << 20, 0));
    ASSERT_EQ(RunCommand("mkfs.fat -F 16 " + ShellQuote(Mounted)).ExitCode, 0);
    const auto FixedBefore = ReadFileBytes(Fixed);
    const auto MountedBefore = ReadFileBytes(Mounted);

    const auto Result = RunInGuest(
        "for d in /sys/block/sd*; do\n"
        "  case $(cat $d/size) in 131072) stick=${d##*/};; 32768) fixed=${d##*/};;"
        " 81920) mounted=${d##*/};; esac\n"
        "done\n"
        "echo \"names $stick $fixed $mounted\"\n"
        "mount -o ro -t vfat /dev/$mounted /mnt && echo 'mounted at /mnt'\n"
        "purgex devices; echo \"devices exit $?\"\n"
        "purgex usb /dev/$fixed --yes; echo \"fixed exit $?\"\n"
        "purgex usb /dev/$mounted --yes; echo \"mounted exit $?\"\n"
        "purgex usb /dev/$stick --yes --options 100111001011; echo \"stick exit $?\"\n"
        "sleep 1; [ -e /sys/block/$stick/${stick}1 ] && echo 'kernel sees the partition'\n",
        {{TGuestDiskKind::UsbXhci, Stick},
         {TGuestDiskKind::IdeDisk, Fixed},
         {TGuestDiskKind::UsbEhci, Mounted}});
    ASSERT_TRUE(Result.Ran) << Result.Problem << Result.Console;
    const std::string& Out = Result.Output;
    ASSERT_NE(Out.find("mounted at /mnt"), std::string::npos) << Out;
    EXPECT_NE(Out.find("USB sticks:"), std::string::npos) << Out;
    EXPECT_NE(Out.find("offered"), std::string::npos) << Out;
    EXPECT_NE(Out.find("refused: has file systems mounted at /mnt"), std::string::npos) << Out;
    EXPECT_NE(Out.find("neither removable nor attached through USB"), std::string::npos) << Out;
    EXPECT_NE(Out.find("fixed exit 2\n"), std::string::npos) << Out;
    EXPECT_NE(Out.find("mounted exit 2\n"), std::string::npos) << Out;
    EXPECT_NE(Out.find("stick exit 0\n"), std::string::npos) << Out;
    EXPECT_NE(Out.find("kernel sees the partition"), std::string::npos) << Out;

    EXPECT_EQ(ReadFileBytes(Fixed), FixedBefore) << "the fixed disk was written";
    EXPECT_EQ(ReadFileBytes(Mounted), MountedBefore) << "the mounted stick was written";
    const auto Table = RunCommand("sfdisk -d " + ShellQuote(Stick));
    EXPECT_NE(Table.Output.find("start=        2048, size=      129024, type=e, bootable"),
              std::string::npos)
        << Table.Output;
    const TPartition Partition{2048, 129024, "e", "16"};
    ExpectPartitionClean(Dir, Stick, Partition);
    const std::string Volume = ShellQuote(PartitionImage(Stick, Partition));
    const auto Ini =
        RunCommand("MTOOLS_SKIP_CHECK=1 mtype -i " + Volume + " ::/Purgit/DATA/PURGIT.INI");
    EXPECT_EQ(Ini.Output, "O1=1\r\nO2=0\r\nO3=0\r\nO4=1\r\nO5=1\r\nO6=1\r\nO7=0\r\nO8=0\r\n"
                          "O9=1\r\nO10=0\r\nO11=1\r\n");
}

// The kernel's own refusals: a stick in use as swap cannot be opened
// exclusively, and a stick one of whose partitions another program holds
// open is written, but the kernel keeps its old table until replugged.
TEST(QemuLinuxGuest, UsbNamesADiskInUseAndABusyPartitionTable) {
    REQUIRE_LINUX_GUEST();
    TScratchDir Dir;
    const std::string Swap = (Dir / "swap.img").string();
    const std::string Held = (Dir / "held.img").string();
    WriteFileBytes(Swap, std::vector<uint8_t>(24 << 20, 0));
    WriteFileBytes(Held, std::vector<uint8_t>(32 << 20, 0));
    ASSERT_EQ(RunCommand("echo 'start=2048, type=c' | sfdisk -q " + ShellQuote(Held)).ExitCode, 0);

    const auto Result =
        RunInGuest("for d in /sys/block/sd*; do\n"
                   "  case $(cat $d/size) in 49152) swap=${d##*/};; 65536) held=${d##*/};; esac\n"
                   "done\n"
                   "mkswap /dev/$swap >/dev/null && swapon /dev/$swap && echo 'swap on'\n"
                   "purgex usb /dev/$swap --yes; echo \"swap exit $?\"\n"
                   "for i in $(seq 50); do [ -b /dev/${held}1 ] && break; sleep 0.1; done\n"
                   "exec 3</dev/${held}1 && echo 'partition held'\n"
                   "purgex usb /dev/$held --yes; echo \"held exit $?\"\n",
                   {{TGuestDiskKind::UsbXhci, Swap}, {TGuestDiskKind::UsbEhci, Held}});
    ASSERT_TRUE(Result.Ran) << Result.Problem << Result.Console;
    const std::string& Out = Result.Output;
    ASSERT_NE(Out.find("swap on"), std::string::npos) << Out;
    EXPECT_NE(Out.find("is in use"), std::string::npos) << Out;
    EXPECT_NE(Out.find("swap exit 1\n"), std::string::npos) << Out;
    ASSERT_NE(Out.find("partition held"), std::string::npos) << Out;
    EXPECT_NE(Out.find("keeps its old partition table for now (busy)"), std::string::npos) << Out;
    EXPECT_NE(Out.find("held exit 0\n"), std::string::npos) << Out;
    // Written all the same: the host reads the new stick.
    const TPartition Partition{2048, 63488, "e", "16"};
    ExpectPartitionClean(Dir, Held, Partition);
}
#endif
