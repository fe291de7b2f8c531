// The floppy target and the run's floppy path on the simulated drive: the
// boot image in chunks per Windows family, Retry/Abort on a refused chunk,
// the store's files and the generated start-up files, and the faults that
// send the run back to the prompt for the same floppy.

#include <gtest/gtest.h>

#include <cmath>

#include "TestSupport.h"
#include "fakes/FakeFloppyDrive.h"
#include "fakes/FakePlatform.h"
#include "fakes/ScriptedUserInterface.h"
#include "floppy/FloppyVolume.h"
#include "image/Composer.h"
#include "image/CreationRun.h"
#include "image/ExeData.h"
#include "image/FloppyTarget.h"

using namespace testing_support;

namespace {

class TFloppyFront : public TRunFront {
public:
    int Quantity = 1;
    TWiperOptions Options = DefaultOptions();
    std::string Params;
    bool MsDos = false;
    std::vector<int> Gauge;
    int RowCount() override { return 1; }
    TFloppyDriveTarget Floppy;
    TMediaTarget& RowTarget(int) override { return Floppy; }
    int RowQuantity(int) override { return Quantity; }
    TWiperOptions CheckedOptions() override { return Options; }
    std::string CommandLine() override { return Params; }
    bool FloppyUsesMsDos() override { return MsDos; }
    void SetGauge(int Percent) override { Gauge.push_back(Percent); }
};

const std::string FloppyPrompt = "ask: Please insert a floppy disk in drive A: [OK|Cancel]";
const std::string StopQuestion = "ask: Do you want to stop the process ? [Yes|No]";
const std::string Failed = "info: The installation cannot be completed.";

const std::vector<uint8_t>& BootImage() {
    TMemoryStream* Boot = DiskStore->FindItem(".BOOT", 1);
    EXPECT_NE(Boot, nullptr);
    return Boot->Bytes();
}

struct TFloppyMachine {
    TFakePlatform Machine;
    TFakeFloppyDrive Drive;
    TScriptedUserInterface Ui;
    std::vector<double> Progress;
    explicit TFloppyMachine(TWindowsVersion Version) {
        Machine.WindowsVersion = Version;
        Machine.Floppy = &Drive;
        FloppyProgressHook = [this](double f) { Progress.push_back(f); };
    }
    ~TFloppyMachine() { FloppyProgressHook = nullptr; }
    std::string Text(const std::string& Path) {
        const auto File = TFloppyVolume(Drive).OpenRead(Path);
        if (!File) return "<missing>";
        std::string Bytes(size_t(File->Size()), '\0');
        File->ReadBuffer(Bytes.data(), int64_t(Bytes.size()));
        return Bytes;
    }
};

class FloppyTarget : public ::testing::Test {
protected:
    // The stores come from the real program's resources, before the test
    // machine replaces the platform.
    static void SetUpTestSuite() { ASSERT_TRUE(LoadDiskStore() && LoadCdStore()); }
};

} // namespace

TEST_F(FloppyTarget, RxDosImageGoesInEightCylinderChunksOnNt) {
    TFloppyMachine M({2, 5, 1});
    ASSERT_TRUE(WriteFloppyBoot('A', false));
    ASSERT_EQ(M.Drive.RawWrites.size(), 10u);
    for (size_t i = 0; i < 10; ++i) {
        EXPECT_EQ(M.Drive.RawWrites[i].Offset, i * 147456);
        EXPECT_EQ(M.Drive.RawWrites[i].Bytes, 147456u);
    }
    EXPECT_TRUE(std::equal(BootImage().begin(), BootImage().end(), M.Drive.Medium->Image.begin()));
    ASSERT_EQ(M.Progress.size(), 12u); // 0, each chunk, 1
    EXPECT_EQ(M.Progress[0], 0);
    EXPECT_DOUBLE_EQ(M.Progress[1], 147456.0 / 1474561.0);
    EXPECT_EQ(M.Progress.back(), 1);
    EXPECT_TRUE(M.Ui.Log.empty());
}

TEST_F(FloppyTarget, NtHoldsTheVolumeLockedAndDismountedAcrossTheRawWrite) {
    TFloppyMachine M({2, 5, 1});
    M.Drive.OnRawWrite = [](TFakeFloppyDrive& D) { D.Events.push_back("write"); };
    ASSERT_TRUE(WriteFloppyBoot('A', false));
    std::vector<std::string> Expected = {"open \\\\.\\A:", "lock", "dismount"};
    Expected.insert(Expected.end(), 10, "write");
    Expected.insert(Expected.end(), {"unlock", "close"});
    EXPECT_EQ(M.Drive.Events, Expected);

    // The files written next see the new file system.
    ASSERT_TRUE(CopyStoreFiles('A'));
    EXPECT_NE(M.Text("AUTOEXEC.BAT"), "<missing>");
}

TEST_F(FloppyTarget, RxDosImageGoesTrackByTrackOn9x) {
    TFloppyMachine M({1, 4, 10});
    ASSERT_TRUE(WriteFloppyBoot('A', false));
    ASSERT_EQ(M.Drive.Int13Requests.size(), 160u);
    for (size_t i = 0; i < 160; ++i) {
        const auto& R = M.Drive.Int13Requests[i];
        EXPECT_EQ(R.Count, 18);
        EXPECT_EQ(R.Sector, 1);
        EXPECT_EQ(R.Cylinder, i / 2);
        EXPECT_EQ(R.Head, i % 2);
    }
    EXPECT_EQ(M.Progress.size(), 162u);
    // INT 13h writes know no volume to lock.
    EXPECT_EQ(std::count(M.Drive.Events.begin(), M.Drive.Events.end(), "lock"), 0);
}

TEST_F(FloppyTarget, RefusedChunkIsOfferedAgainUntilAbort) {
    TFloppyMachine M({2, 5, 1});
    M.Drive.RefuseOffset = 2 * 147456;
    M.Drive.RefuseTimes = 2;      // both of the component's attempts
    M.Ui.RetryAbortAnswers = {4}; // Retry
    ASSERT_TRUE(WriteFloppyBoot('A', false));
    EXPECT_EQ(M.Ui.Log, std::vector<std::string>{"retryabort: Cannot write to drive A:"});
    EXPECT_TRUE(std::equal(BootImage().begin(), BootImage().end(), M.Drive.Medium->Image.begin()));

    M.Ui.Log.clear();
    M.Drive.RefuseTimes = 100;
    M.Ui.RetryAbortAnswers = {4, 3};
    EXPECT_FALSE(WriteFloppyBoot('A', false));
    EXPECT_EQ(M.Ui.Log.size(), 2u);
}

TEST_F(FloppyTarget, RunWritesTheStoreAndReplacesTheStartupFiles) {
    TFloppyMachine M({2, 5, 1});
    TFloppyFront Front;
    Front.Quantity = 2;
    Front.Options[DisableMouseOption] = true;
    Front.Options[0] = false;
    Front.Params = "/X";
    M.Ui.AskAnswers = {1, 1};
    TCreationRun Run(Front);
    Run.CreateMedia();
    EXPECT_EQ(Run.MediaDone, 2);
    EXPECT_EQ(M.Ui.Log, (std::vector<std::string>{FloppyPrompt, FloppyPrompt}));
    EXPECT_EQ(Front.Gauge.back(), 100);
    EXPECT_NE(std::find(Front.Gauge.begin(), Front.Gauge.end(), 25), Front.Gauge.end());
    EXPECT_NE(std::find(Front.Gauge.begin(), Front.Gauge.end(), 50), Front.Gauge.end());

    EXPECT_EQ(M.Text("AUTOEXEC.BAT"), StartupBatch(false, "/X"));
    EXPECT_EQ(M.Text(FloppyIniPath()), WiperIni(OptionString(Front.Options)));
    for (const auto& Item : DiskStore->Items) {
        if (Item->ItemKind != 1 || IsImageItem(*Item) || Item->ItemName == "AUTOEXEC.BAT" ||
            Item->ItemName == FloppyIniPath())
            continue;
        const auto& Data = Item->ItemData.Bytes();
        EXPECT_EQ(M.Text(Item->ItemName), std::string(Data.begin(), Data.end())) << Item->ItemName;
    }
#ifdef PURGEX_HOST_CHECKS
    TScratchDir Dir;
    WriteFileBytes(Dir / "a.img", std::vector<uint8_t>(M.Drive.Medium->Image.begin(),
                                                       M.Drive.Medium->Image.end()));
    const auto Fsck = RunCommand("fsck.fat -n " + ShellQuote((Dir / "a.img").string()));
    EXPECT_EQ(Fsck.ExitCode, 0) << Fsck.Output;
#endif
}

TEST_F(FloppyTarget, StartupLinesAreCutAt255BytesWithTheirLineEnd) {
    TFloppyMachine M({2, 5, 1});
    ASSERT_TRUE(WriteFloppyBoot('A', false));
    ASSERT_TRUE(WriteFloppyAutoexec('A', "", true));
    EXPECT_EQ(M.Text("AUTOEXEC.BAT"), StartupBatch(true, ""));
    EXPECT_EQ(M.Text("AUTOEXEC.BAT").substr(M.Text("AUTOEXEC.BAT").size() - 9), "Purgit \r\n");
    const std::string Long(300, 'p');
    ASSERT_TRUE(WriteFloppyAutoexec('A', Long, false));
    const std::string Batch = M.Text("AUTOEXEC.BAT");
    const std::string Last = Batch.substr(Batch.rfind("Purgit "));
    EXPECT_EQ(Last, "Purgit " + std::string(248, 'p')); // 255 bytes, no line end
}

TEST_F(FloppyTarget, FaultsEndTheFloppyAndAskForTheSameOneAgain) {
    struct TCase {
        const char* Name;
        std::function<void(TFakeFloppyDrive&)> Break;
        std::vector<int> RetryAnswers;
    };
    const std::vector<TCase> Cases = {
        {"write-protected", [](TFakeFloppyDrive& D) { D.WriteProtected = true; }, {3}},
        {"no disk", [](TFakeFloppyDrive& D) { D.DiskPresent = false; }, {4, 3}},
        {"vanishes mid-write", [](TFakeFloppyDrive& D) { D.WritesBeforeVanishing = 4; }, {3}},
        {"full",
         [](TFakeFloppyDrive& D) {
             D.OnRawWrite = [](TFakeFloppyDrive& Drive) {
                 if (Drive.RawWrites.size() == 10) Drive.FillUp(5);
             };
         },
         {}},
    };
    for (const TCase& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        TFloppyMachine M({2, 5, 1});
        Case.Break(M.Drive);
        M.Ui.RetryAbortAnswers.assign(Case.RetryAnswers.begin(), Case.RetryAnswers.end());
        M.Ui.AskAnswers = {1, 2, 1}; // OK, then Cancel and Yes at the prompt that comes back
        TFloppyFront Front;
        TCreationRun Run(Front);
        Run.CreateMedia();
        EXPECT_EQ(Run.MediaDone, 0);
        ASSERT_GE(M.Ui.Log.size(), 4u);
        EXPECT_EQ(M.Ui.Log.front(), FloppyPrompt);
        EXPECT_EQ(M.Ui.Log[M.Ui.Log.size() - 3], Failed);
        EXPECT_EQ(M.Ui.Log[M.Ui.Log.size() - 2], FloppyPrompt);
        EXPECT_EQ(M.Ui.Log.back(), StopQuestion);
        for (size_t i = 1; i + 3 < M.Ui.Log.size(); ++i)
            EXPECT_EQ(M.Ui.Log[i], "retryabort: Cannot write to drive A:");
        EXPECT_EQ(M.Ui.Log.size() - 4, Case.RetryAnswers.size());
    }
}

TEST_F(FloppyTarget, MsDosSystemFailuresAreNamedThenTheFloppyIsAskedForAgain) {
    struct TCase {
        const char* Name;
        TWindowsVersion Version;
        bool WithImage;
        bool WriteProtected;
        std::string Message; // empty: the floppy is made
    };
    const std::vector<TCase> Cases = {
        {"XP with its startup image", {2, 5, 1}, true, false, ""},
        {"image refused by the disk", {2, 5, 1}, true, true, "Cannot create Ms-Dos boot disk."},
        {"no startup image", {2, 5, 1}, false, false, "Cannot find Ms-Dos system files."},
        {"Windows 2000", {2, 5, 0}, true, false, "Invalid Windows version."},
    };
    // A startup image that holds a file system, as the real one does.
    const std::vector<uint8_t>& Image = BootImage();
    for (const TCase& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        TFloppyMachine M(Case.Version);
        if (Case.WithImage)
            M.Machine.LibraryResources["DISKCOPY.DLL/BINFILE/#1"] =
                std::string(Image.begin(), Image.end());
        M.Drive.WriteProtected = Case.WriteProtected;
        TFloppyFront Front;
        Front.MsDos = true;
        M.Ui.AskAnswers = {1, 2, 1}; // OK; then Cancel and Yes where the prompt comes back
        TCreationRun Run(Front);
        Run.CreateMedia();
        if (Case.Message.empty()) {
            EXPECT_EQ(Run.MediaDone, 1);
            EXPECT_EQ(M.Ui.Log, std::vector<std::string>{FloppyPrompt});
            EXPECT_EQ(M.Text("AUTOEXEC.BAT"), StartupBatch(true, ""));
            continue;
        }
        EXPECT_EQ(Run.MediaDone, 0);
        EXPECT_EQ(M.Ui.Log, (std::vector<std::string>{FloppyPrompt, "info: " + Case.Message, Failed,
                                                      FloppyPrompt, StopQuestion}));
    }
}
