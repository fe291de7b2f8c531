// The direct disk component against the simulated floppy drive: the shape
// of the 9x INT 13h requests, NT volume writes with and without the lock,
// retries, the write warning and the drives refused before anything opens.

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "disk/DirectDisk.h"
#include "fakes/FakeFloppyDrive.h"
#include "fakes/FakePlatform.h"
#include "fakes/ScriptedUserInterface.h"

namespace {

struct TDiskMachine {
    TFakePlatform Machine;
    TFakeFloppyDrive Drive;
    TScriptedUserInterface Ui;
    std::vector<uint8_t> Buffer = testing_support::RandomBytes(200000, 3);
    explicit TDiskMachine(TWindowsVersion Version) {
        Machine.WindowsVersion = Version;
        Machine.Floppy = &Drive;
        // The address in EBX carries only the low half of a 64-bit pointer.
        Drive.ResolveAddress = [this](uint32_t Address) -> const uint8_t* {
            const uintptr_t Base = reinterpret_cast<uintptr_t>(Buffer.data());
            const uint32_t Low = uint32_t(Base);
            if (Address < Low || Address - Low >= Buffer.size()) return nullptr;
            return Buffer.data() + (Address - Low);
        };
    }
    bool Write(TDirDisk& Disk, uint32_t First, uint32_t Count, char Letter = 'A') {
        Disk.SetFirstSector(First);
        Disk.SetSectors(Count);
        return Disk.DiskWrite(Letter, Buffer.data(), Buffer.size(), FloppyMediaType);
    }
    bool Holds(uint32_t Sector, uint32_t Count, size_t From = 0) const {
        return std::equal(Buffer.begin() + ptrdiff_t(From),
                          Buffer.begin() + ptrdiff_t(From + Count * 512),
                          Drive.Medium->Image.begin() + ptrdiff_t(Sector) * 512);
    }
};

} // namespace

TEST(DirectDisk, Win9xWritesWholeTracksThenSingleSectors) {
    TDiskMachine M({1, 4, 10});
    TDirDisk Disk;
    ASSERT_TRUE(M.Write(Disk, 36, 18));
    ASSERT_EQ(M.Drive.Int13Requests.size(), 1u);
    const auto R = M.Drive.Int13Requests[0];
    EXPECT_EQ(R.Function, 3);
    EXPECT_EQ(R.Cylinder, 1);
    EXPECT_EQ(R.Head, 0);
    EXPECT_EQ(R.Sector, 1);
    EXPECT_EQ(R.Count, 18);
    EXPECT_EQ(R.Drive, 0);
    EXPECT_TRUE(M.Holds(36, 18));

    M.Drive.Int13Requests.clear();
    Disk.SetFirstSector(0);
    Disk.SetSectors(20);
    ASSERT_TRUE(Disk.DiskWrite('a', M.Buffer.data(), M.Buffer.size(), FloppyMediaType));
    ASSERT_EQ(M.Drive.Int13Requests.size(), 3u);
    EXPECT_EQ(M.Drive.Int13Requests[0].Count, 18);
    for (int i = 1; i < 3; ++i) {
        EXPECT_EQ(M.Drive.Int13Requests[size_t(i)].Count, 1);
        EXPECT_EQ(M.Drive.Int13Requests[size_t(i)].Cylinder, 0);
        EXPECT_EQ(M.Drive.Int13Requests[size_t(i)].Head, 1);
        EXPECT_EQ(M.Drive.Int13Requests[size_t(i)].Sector, i);
    }
    EXPECT_TRUE(M.Holds(0, 20));
    // The handle lives only during the write.
    EXPECT_EQ(M.Drive.Events.back(), "close");
}

TEST(DirectDisk, RetriesEachRequestThenGivesUp) {
    TDiskMachine M({1, 4, 10});
    TDirDisk Disk;
    Disk.SetRetries(3);
    M.Drive.Int13Failures = 1000;
    EXPECT_FALSE(M.Write(Disk, 0, 18));
    EXPECT_EQ(M.Drive.Int13Requests.size(), 3u);

    // Two failures then success: the default two attempts are not enough,
    // three are.
    TDirDisk Default;
    M.Drive.Int13Requests.clear();
    M.Drive.Int13Failures = 2;
    EXPECT_FALSE(M.Write(Default, 0, 18));
    M.Drive.Int13Failures = 2;
    M.Drive.Int13Requests.clear();
    EXPECT_TRUE(M.Write(Disk, 0, 18));
    EXPECT_EQ(M.Drive.Int13Requests.size(), 3u);
    // Zero sectors make no request and no success.
    Disk.SetFirstSector(0);
    Disk.SetSectors(0);
    EXPECT_FALSE(Disk.DiskWrite('A', M.Buffer.data(), M.Buffer.size(), FloppyMediaType));
}

TEST(DirectDisk, NtWritesAtTheOffsetWithAndWithoutTheLock) {
    TDiskMachine M({2, 5, 1});
    TDirDisk Disk;
    ASSERT_TRUE(M.Write(Disk, 288, 288));
    ASSERT_EQ(M.Drive.RawWrites.size(), 1u);
    EXPECT_EQ(M.Drive.RawWrites[0].Offset, 288u * 512);
    EXPECT_EQ(M.Drive.RawWrites[0].Bytes, 288u * 512);
    EXPECT_TRUE(M.Holds(288, 288));
    EXPECT_EQ(M.Drive.Events, (std::vector<std::string>{"open \\\\.\\A:", "close"}));

    M.Drive.Events.clear();
    Disk.NeedDiskLock = true;
    ASSERT_TRUE(M.Write(Disk, 0, 18));
    EXPECT_EQ(M.Drive.Events,
              (std::vector<std::string>{"open \\\\.\\A:", "lock", "unlock", "close"}));

    // A failed write is not unlocked (closing releases the volume).
    M.Drive.Events.clear();
    M.Drive.WriteProtected = true;
    EXPECT_FALSE(M.Write(Disk, 18, 18));
    EXPECT_EQ(M.Drive.Events, (std::vector<std::string>{"open \\\\.\\A:", "lock", "close"}));
}

TEST(DirectDisk, RefusesOtherDrivesAndUnconfirmedWritesBeforeOpeningAnything) {
    TDiskMachine M({2, 5, 1});
    TDirDisk Disk;
    EXPECT_FALSE(M.Write(Disk, 0, 18, 'C')); // fixed disk
    EXPECT_FALSE(M.Write(Disk, 0, 18, 'c'));
    M.Drive.Letter = 'E'; // a removable drive beyond B:
    EXPECT_FALSE(M.Write(Disk, 0, 18, 'E'));
    EXPECT_TRUE(M.Drive.Events.empty());
    EXPECT_TRUE(M.Ui.Log.empty());

    M.Drive.Letter = 'A';
    Disk.NeedWriteWarn = true;
    M.Ui.AskAnswers = {1}; // "No", which is also what closing the box gives
    EXPECT_FALSE(M.Write(Disk, 0, 18));
    EXPECT_TRUE(M.Drive.Events.empty());
    ASSERT_EQ(M.Ui.Log.size(), 1u);
    EXPECT_EQ(M.Ui.Log[0],
              "ask: Dangerous!\rDo you want to write to the drive A: really? [No|Yes]");
    M.Ui.AskAnswers = {2};
    EXPECT_TRUE(M.Write(Disk, 0, 18));
}

TEST(DirectDisk, SettersAdmitEverySectorOfTheMediumOnlyAndDriveNamesNeedALetter) {
    TDiskMachine M({2, 5, 1}); // the medium is unformatted: no free-space figures
    TDirDisk Disk;
    EXPECT_EQ(Disk.DriveName(), 'C');
    Disk.SetDriveName('1');
    EXPECT_EQ(Disk.DriveName(), 'C');
    Disk.SetDriveName('a'); // no file system yet: the name stays
    EXPECT_EQ(Disk.DriveName(), 'C');
    Disk.SetSectors(288);
    Disk.SetFirstSector(2592);
    EXPECT_EQ(Disk.FirstSector(), 2592u);
    EXPECT_EQ(Disk.Sectors(), 288u);
    EXPECT_TRUE(Disk.DiskWrite('A', M.Buffer.data(), M.Buffer.size(), FloppyMediaType));
    EXPECT_TRUE(M.Holds(2592, 288));
    Disk.SetFirstSector(2880);
    EXPECT_EQ(Disk.FirstSector(), 2592u);
    Disk.SetSectors(289);
    EXPECT_EQ(Disk.Sectors(), 288u);
    // A buffer shorter than the run is never read past.
    EXPECT_FALSE(Disk.DiskWrite('A', M.Buffer.data(), 288 * 512 - 1, FloppyMediaType));

    // Formatted: the letter is taken, upper-cased.
    M.Drive.Medium->Image[17] = 224;
    M.Drive.Medium->Image[19] = 0x40;
    M.Drive.Medium->Image[20] = 0x0B;
    Disk.SetDriveName('a');
    EXPECT_EQ(Disk.DriveName(), 'A');
    EXPECT_EQ(Disk.ClusterCount, 2847u);
}
