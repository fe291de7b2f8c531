#include <gtest/gtest.h>

#include <deque>
#include <memory>

#include "ComposerFixtures.h"
#include "fakes/FakePlatform.h"
#include "fakes/FakeWriter.h"
#include "fakes/ScriptedUserInterface.h"
#include "image/Composer.h"
#include "image/CreationRun.h"
#include "image/OpticalTargets.h"
#include "image/UefiBoot.h"
#include "optical/ISO9660.h"
#include "optical/ImageRecorder.h"

using namespace composer_test;
using namespace floppy_test;

namespace {

class TTestFront : public TRunFront {
public:
    struct TRow {
        TRow(TOpticalDevice* Writer, int Quantity)
            : Target(std::make_shared<TDiscWriterTarget>(*Writer)), Quantity(Quantity) {}
        TRow(TimageRecorder* Recorder, int Quantity)
            : Target(std::make_shared<TImageFileTarget>(*Recorder)), Quantity(Quantity) {}
        TRow(std::shared_ptr<TMediaTarget> Target, int Quantity)
            : Target(std::move(Target)), Quantity(Quantity) {}
        std::shared_ptr<TMediaTarget> Target;
        int Quantity;
    };
    std::vector<TRow> Rows;
    TWiperOptions Options = DefaultOptions();
    std::string Params;
    std::vector<int> Gauge;

    int RowCount() override { return int(Rows.size()); }
    TMediaTarget& RowTarget(int Row) override { return *Rows[size_t(Row)].Target; }
    int RowQuantity(int Row) override { return Rows[size_t(Row)].Quantity; }
    TWiperOptions CheckedOptions() override { return Options; }
    std::string CommandLine() override { return Params; }
    bool FloppyUsesMsDos() override { return false; }
    void SetGauge(int Percent) override { Gauge.push_back(Percent); }
};

const std::string WriterPrompt =
    "ask: Please insert a blank CD/DVD in writer.\r(Fake Writer (TESTCO)) [OK|Cancel]";
const std::string RecorderPrompt = "ask: Please select the location for the image file [OK|Cancel]";
const std::string StopQuestion = "ask: Do you want to stop the process ? [Yes|No]";
const std::string RxDosQuestion =
    "ask: Cannot find Ms-Dos system files.\rDo you want to use Rx-Dos for this disc? [Yes|No]";

// The emulated floppy inside a burned image (on the heap: a floppy is too
// large for a Windows thread's stack).
std::unique_ptr<TVirtualFloppy> FloppyOf(const std::vector<uint8_t>& Iso) {
    auto Floppy = std::make_unique<TVirtualFloppy>();
    EXPECT_EQ(Iso.size(), size_t(IsoImageSize));
    std::copy(Iso.begin() + IsoFloppyOffset, Iso.end(), Floppy->Image.begin());
    return Floppy;
}

std::string FileText(TVirtualFloppy& Floppy, const std::string& Folder, const std::string& Name) {
    auto Directory = OpenImageFolder(Floppy, Folder);
    const auto [Whole, Data] = ReadBack(*Directory, Name);
    EXPECT_TRUE(Whole) << Name;
    return {Data.begin(), Data.end()};
}

// A machine whose MS-DOS files come from the picker's folder.
struct TMachine {
    TFakePlatform Fake;
    TScriptedUserInterface Ui;
    TCdStoreScope Store;
    TMachine() {
        Fake.WindowsVersion = {2, 5, 0};
        Fake.Files["D:\\DOS\\IO.SYS"] = "io";
        Fake.Files["D:\\DOS\\COMMAND.COM"] = "command";
    }
    void ConfirmPicker(int Times) {
        for (int i = 0; i < Times; ++i) Ui.FolderAnswers.push_back(std::string("D:\\DOS\\"));
    }
    void InsertMedia(int Times) { Ui.AskAnswers.insert(Ui.AskAnswers.end(), size_t(Times), 1); }
};

// A target the run has never heard of: its own prompt, and the results of
// its media in turn.
class TScriptedTarget : public TMediaTarget {
public:
    std::deque<bool> Results;
    int Attempts = 0;
    TMediumPrompt MediumPrompt() const override { return {"Insert the stick\r(slot 1)"}; }
    bool Ready() override { return true; }
    bool MakeMedium(TCreationRun& Run) override {
        ++Attempts;
        Run.SetRunProgress(0.5);
        const bool Made = !Results.empty() && Results.front();
        if (!Results.empty()) Results.pop_front();
        if (Made) Run.SetRunProgress(1);
        return Made;
    }
};

} // namespace

// The run asks any target by its own prompt, asks again after a failed
// medium, and counts only the media made.
TEST(CreationRun, AnyTargetIsAskedForByItsPromptUntilEachMediumIsMade) {
    TMachine M;
    auto Stick = std::make_shared<TScriptedTarget>();
    Stick->Results = {false, true, true};
    TTestFront Front;
    Front.Rows = {{Stick, 2}};
    M.InsertMedia(3);
    TCreationRun Run(Front);
    Run.CreateMedia();
    EXPECT_EQ(Stick->Attempts, 3);
    EXPECT_EQ(Run.MediaDone, 2);
    EXPECT_EQ(Front.Gauge, (std::vector<int>{0, 25, 25, 50, 75, 100}));
    const std::string Prompt = "ask: Insert the stick\r(slot 1) [OK|Cancel]";
    EXPECT_EQ(M.Ui.Log, (std::vector<std::string>{Prompt, Prompt, Prompt}));
    EXPECT_EQ(M.Ui.AskedKinds, std::vector<TQuestion>(3, TQuestion::InsertMedium));
}

// Each question of a run carries its kind beside the unchanged text, so a
// front end can answer without reading the text.
TEST(CreationRun, EveryQuestionCarriesItsKind) {
    TMachine M;
    TFakeWriter Writer;
    TTestFront Front;
    Front.Rows = {{&Writer, 1}};
    M.Ui.FolderAnswers = {std::nullopt}; // no MS-DOS
    M.Ui.AskAnswers = {1, 2, 2, 1};      // OK, "No" (no Rx-DOS), then Cancel, Yes (stop)
    TCreationRun Run(Front);
    Run.CreateMedia();
    EXPECT_EQ(M.Ui.Log, (std::vector<std::string>{WriterPrompt, "folder", RxDosQuestion,
                                                  WriterPrompt, StopQuestion}));
    EXPECT_EQ(M.Ui.AskedKinds,
              (std::vector<TQuestion>{TQuestion::InsertMedium, TQuestion::UseRxDos,
                                      TQuestion::InsertMedium, TQuestion::StopRun}));
}

TEST(CreationRun, WritersAreAskedForInTurnAndTheGaugeCoversEveryMedium) {
    TMachine M;
    M.ConfirmPicker(3);
    M.InsertMedia(3);
    TFakeWriter First, Second;
    TTestFront Front;
    Front.Rows = {{&First, 2}, {&Second, 1}, {&Second, 0}};
    TCreationRun Run(Front);
    Run.CreateMedia();

    EXPECT_EQ(First.Burned.size(), 2u);
    EXPECT_EQ(Second.Burned.size(), 1u);
    EXPECT_EQ(Run.MediaTotal, 3);
    EXPECT_EQ(Run.MediaDone, 3);
    // Per medium: the burn's stages (0.4 x 0.5, then 0.5 + 0.4 x 0.5), then full.
    EXPECT_EQ(Front.Gauge, (std::vector<int>{0, 7, 23, 33, 40, 57, 67, 73, 90, 100}));
    EXPECT_EQ(M.Ui.Log,
              (std::vector<std::string>{WriterPrompt, "folder", WriterPrompt, "folder",
                                        WriterPrompt, "folder"}));
}

TEST(CreationRun, CancelThenNoWritesAndCancelThenYesEndsTheRun) {
    TMachine M;
    M.ConfirmPicker(1);
    TFakeWriter Writer;
    TTestFront Front;
    Front.Rows = {{&Writer, 2}};
    M.Ui.AskAnswers = {2, 2, 2, 1}; // Cancel, No (write) ... Cancel, Yes (stop)
    TCreationRun Run(Front);
    Run.CreateMedia();
    EXPECT_EQ(Writer.Burned.size(), 1u);
    EXPECT_EQ(Run.MediaDone, 1);
    EXPECT_EQ(Front.Gauge.back(), 50); // left where it was
    EXPECT_EQ(M.Ui.Log, (std::vector<std::string>{WriterPrompt, StopQuestion, "folder",
                                                  WriterPrompt, StopQuestion}));
}

TEST(CreationRun, AFailedMediumIsAskedForAgainWithItsMessage) {
    TMachine M;
    M.ConfirmPicker(4);
    M.InsertMedia(4);
    TFakeWriter Writer;
    Writer.ReadyAnswers = {false, true, true, true};
    Writer.DiscStates = {0, 2, 0, 0};
    Writer.BurnAnswers = {false, true};
    TTestFront Front;
    Front.Rows = {{&Writer, 1}};
    TCreationRun Run(Front);
    Run.CreateMedia();
    EXPECT_EQ(Writer.Burned.size(), 1u);
    EXPECT_EQ(M.Ui.Log,
              (std::vector<std::string>{
                  WriterPrompt, "folder", "info: The device is not ready. Try again...",
                  WriterPrompt, "folder",
                  "info: The disc in the drive is not blank. Please Insert a blank CD and try again.",
                  WriterPrompt, "folder", "info: Error in writing process : Write error",
                  WriterPrompt, "folder"}));
}

TEST(CreationRun, TheDiscCarriesTheChoicesOfTheMomentItIsWritten) {
    TMachine M;
    M.ConfirmPicker(1);
    M.InsertMedia(1);
    TFakeWriter Writer;
    TTestFront Front;
    Front.Rows = {{&Writer, 1}};
    Front.Options[DisableMouseOption] = true;
    Front.Options[1] = true;
    Front.Params = "/quick";
    TCreationRun Run(Front);
    Run.CreateMedia();
    ASSERT_EQ(Writer.Burned.size(), 1u);
    const auto Disc = FloppyOf(Writer.Burned[0]);
    EXPECT_EQ(FileText(*Disc, "", "AUTOEXEC.BAT"), StartupBatch(false, "/quick"));
    EXPECT_EQ(FileText(*Disc, "Purgit\\DATA", "PURGIT.INI"), WiperIni("110111001011"));
    EXPECT_EQ(FileText(*Disc, "", "IO.SYS"), "io");
    // The ID string of the boot catalog is the product title.
    EXPECT_EQ(std::string(Writer.Burned[0].begin() + 19 * 2048 + 4,
                          Writer.Burned[0].begin() + 19 * 2048 + 28),
              "Corvane Purgex 2005     ");
}

// A disc for UEFI PCs needs the wiper's UEFI build: a program without it
// says so and burns nothing; with it the disc carries it and the parameters.
TEST(CreationRun, AUefiDiscIsBurnedOnlyWithTheUefiWiper) {
    TMachine M;
    M.ConfirmPicker(2);
    M.Ui.AskAnswers = {1, 2, 1}; // insert; after the message: Cancel, Yes (stop)
    TFakeWriter Writer;
    TTestFront Front;
    Front.Rows = {{&Writer, 1}};
    Front.Params = "/M:ZERO";
    {
        TCreationRun Run(Front);
        Run.UefiEntry = true;
        Run.CreateMedia();
    }
    EXPECT_TRUE(Writer.Burned.empty());
    EXPECT_EQ(M.Ui.Log, (std::vector<std::string>{WriterPrompt, "folder",
                                                  std::string("info: ") + NoUefiWiperText,
                                                  WriterPrompt, StopQuestion}));

    const std::vector<uint8_t> Wiper = {'M', 'Z', 0x90, 0, 3, 0};
    M.Fake.AddResource("UEFI", "BOOTX64", Wiper);
    M.InsertMedia(1);
    TCreationRun Run(Front);
    Run.UefiEntry = true;
    Run.CreateMedia();
    ASSERT_EQ(Writer.Burned.size(), 1u);
    const std::string Disc(Writer.Burned[0].begin(), Writer.Burned[0].end());
    EXPECT_EQ(Disc.substr(16 * 2048, 6), "\x01" "CD001");
    EXPECT_NE(Disc.find(std::string(Wiper.begin(), Wiper.end())), std::string::npos);
    EXPECT_NE(Disc.find("/M:ZERO\r\n"), std::string::npos);
}

TEST(CreationRun, WithoutMsDosTheUserMayChooseRxDosOrNot) {
    TMachine M;
    TFakeWriter Writer;
    TTestFront Front;
    Front.Rows = {{&Writer, 1}};
    M.Ui.FolderAnswers = {std::nullopt}; // the picker, cancelled
    M.Ui.AskAnswers = {1, 2, 2, 1};      // OK, "No" (no Rx-DOS), then Cancel, Yes (stop)
    TCreationRun Run(Front);
    Run.CreateMedia();
    EXPECT_TRUE(Writer.Burned.empty());
    EXPECT_EQ(M.Ui.Log, (std::vector<std::string>{WriterPrompt, "folder", RxDosQuestion,
                                                  WriterPrompt, StopQuestion}));

    // Two discs: "Yes" for the first holds for the second, which neither
    // searches nor asks again, and the run tells its front so.
    M.Ui.Log.clear();
    Front.Rows = {{&Writer, 2}};
    M.Ui.FolderAnswers = {std::nullopt};
    M.Ui.AskAnswers = {1, 1, 1}; // OK, "Yes": build the disc on Rx-DOS; OK
    Run.CreateMedia();
    EXPECT_EQ(M.Ui.Log,
              (std::vector<std::string>{WriterPrompt, "folder", RxDosQuestion, WriterPrompt}));
    EXPECT_EQ(Run.DiscSystem, TDiscSystem::RxDos);
    ASSERT_EQ(Writer.Burned.size(), 2u);
    for (const auto& Burned : Writer.Burned) {
        const auto Disc = FloppyOf(Burned);
        TFloppyDirectory Root(*Disc);
        EXPECT_EQ(Listing(Root),
                  (std::vector<std::string>{"RXDOSBIO.SYS", "PURGIT", "AUTOEXEC.BAT"}));
    }
}

TEST(CreationRun, ExplicitSystemChoices) {
    TMachine M;
    TFakeWriter Writer;
    TTestFront Front;
    Front.Rows = {{&Writer, 1}};
    TCreationRun Run(Front);
    Run.DiscSystem = TDiscSystem::RxDos;
    M.InsertMedia(1);
    Run.CreateMedia();
    EXPECT_EQ(M.Ui.Log, (std::vector<std::string>{WriterPrompt})); // no picker
    ASSERT_EQ(Writer.Burned.size(), 1u);

    Run.DiscSystem = TDiscSystem::MsDos;
    M.Ui.Log.clear();
    M.Ui.AskAnswers = {1, 2, 1};
    M.Ui.FolderAnswers = {std::nullopt};
    Run.CreateMedia();
    EXPECT_EQ(M.Ui.Log, (std::vector<std::string>{WriterPrompt, "folder",
                                                  "info: Cannot find Ms-Dos system files.",
                                                  WriterPrompt, StopQuestion}));
}

TEST(CreationRun, ADiscWhoseFilesDoNotFitIsNotWritten) {
    auto Items = StoreItems();
    Items.insert(Items.begin(), {1, "HUGE.BIN", std::vector<uint8_t>(1600000, 0)});
    TMachine M;
    TCdStoreScope Big(Items);
    M.ConfirmPicker(1);
    TFakeWriter Writer;
    TTestFront Front;
    Front.Rows = {{&Writer, 1}};
    M.Ui.AskAnswers = {1, 2, 1};
    TCreationRun Run(Front);
    Run.CreateMedia();
    EXPECT_TRUE(Writer.Burned.empty());
    EXPECT_EQ(M.Ui.Log[2], "info: The installation cannot be completed.");
}

TEST(CreationRun, TheImageRecorderAsksForItsFileBeforeBuilding) {
    TMachine M;
    M.ConfirmPicker(1);
    TimageRecorder Recorder;
    TTestFront Front;
    Front.Rows = {{&Recorder, 1}};
    M.Ui.SaveFileAnswers = {std::nullopt, std::string("C:\\OUT\\PURGIT.ISO")};
    M.InsertMedia(2);
    TCreationRun Run(Front);
    std::vector<uint8_t> Built;
    Run.ImageBuilt = [&](const TMemoryStream& Iso) { Built = Iso.Bytes(); };
    Run.CreateMedia();

    EXPECT_EQ(M.Ui.Log, (std::vector<std::string>{RecorderPrompt, "save: Purgit.ISO",
                                                  RecorderPrompt, "save: Purgit.ISO", "folder"}));
    const std::string& Saved = M.Fake.Files["C:\\OUT\\PURGIT.ISO"];
    ASSERT_EQ(Saved.size(), size_t(IsoImageSize));
    EXPECT_EQ(std::vector<uint8_t>(Saved.begin(), Saved.end()), Built);
    EXPECT_EQ(Front.Gauge, (std::vector<int>{0, 100})); // no progress calls, then full
}

// The gauge: halves round to even, burn stages 1 and 2 move it alike (from
// the buffer's fill), other stages leave it.
TEST(CreationRun, GaugeRoundsHalvesToEvenAndFollowsBothWritingStages) {
    TTestFront Front;
    TCreationRun Run(Front);
    Run.MediaTotal = 10;
    Run.MediaDone = 0;
    Run.SetRunProgress(0.25); // 2.5
    Run.SetRunProgress(0.75); // 7.5
    Run.MediaDone = 1;
    Run.SetRunProgress(0.5); // 15
    EXPECT_EQ(Front.Gauge, (std::vector<int>{2, 8, 15}));

    Front.Gauge.clear();
    Run.MediaTotal = 1;
    Run.MediaDone = 0;
    TDSKburningIO Observer(Run);
    Observer.Progress(0, 0.5, 0.9);  // 0.4 x done
    Observer.Progress(1, 0.1, 0.25); // 0.5 + 0.4 x (1 - fill)
    Observer.Progress(2, 0.9, 0.25);
    Observer.Progress(2, 0.9, 1.0);
    Observer.Progress(3, 0.5, 0.0);
    EXPECT_EQ(Front.Gauge, (std::vector<int>{20, 80, 80, 50}));
}

// Only state 0 is a blank disc: any other state stops the medium with its
// message and burns nothing.
TEST(CreationRun, EveryDiscStateButBlankIsRefused) {
    for (const int State : {1, 2, 3, 0x80, 0xFF}) {
        SCOPED_TRACE(State);
        TMachine M;
        M.ConfirmPicker(1);
        TFakeWriter Writer;
        Writer.DiscStates = {uint8_t(State)};
        TTestFront Front;
        TCreationRun Run(Front);
        EXPECT_FALSE(TDiscWriterTarget(Writer).MakeMedium(Run));
        EXPECT_TRUE(Writer.Burned.empty());
        ASSERT_FALSE(M.Ui.Log.empty());
        EXPECT_EQ(M.Ui.Log.back(), std::string("info: ") + DiscNotBlankText);
    }
}
