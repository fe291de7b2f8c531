#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "fakes/FakePlatform.h"
#include "fakes/ScriptedUserInterface.h"
#include "optical/ISO9660.h"
#include "optical/ImageRecorder.h"
#include "optical/Optical_device.h"

using namespace testing_support;

namespace {

// Records the size of every write; refuses bytes once Capacity is used up.
class TRecordingFile : public TMemoryStream {
public:
    TRecordingFile(std::vector<int64_t>& Pieces, std::string& Saved, int64_t Capacity)
        : Pieces(Pieces), Saved(Saved), Capacity(Capacity) {}
    ~TRecordingFile() override { Saved.assign(Bytes().begin(), Bytes().end()); }

    int64_t Write(const void* Buffer, int64_t Count) override {
        Pieces.push_back(Count);
        const int64_t Room = std::max<int64_t>(Capacity - int64_t(Bytes().size()), 0);
        return TMemoryStream::Write(Buffer, std::min(Count, Room));
    }

private:
    std::vector<int64_t>& Pieces;
    std::string& Saved;
    int64_t Capacity;
};

// The simulated machine, with files that record how they were written.
class TRecordingPlatform : public TFakePlatform {
public:
    std::vector<int64_t> Pieces;
    std::string Saved;
    int64_t Capacity = INT64_MAX;
    bool RefuseCreate = false;

    std::vector<std::string> Created, Removed;
    std::string MovedTo;

    std::unique_ptr<TStream> CreateFileWrite(std::string_view Path) override {
        if (RefuseCreate) return nullptr;
        Created.emplace_back(Path);
        Saved.clear();
        return std::make_unique<TRecordingFile>(Pieces, Saved, Capacity);
    }
    bool RemoveFile(std::string_view Path) override {
        Removed.emplace_back(Path);
        return true;
    }
    bool MoveFileOver(std::string_view From, std::string_view To) override {
        if (Created.empty() || From != Created.back()) return false;
        MovedTo = To;
        return true;
    }
};

// Notes any call; the image recorder must make none.
class TCountingObserver : public TBurningIO {
public:
    int Calls = 0;
    void ReservedHook() override { ++Calls; }
    void Progress(uint8_t, double, double) override { ++Calls; }
    void StageStarted(uint8_t, int32_t) override { ++Calls; }
};

// A source whose bytes run out before its reported size.
class TShortSource : public TMemoryStream {
public:
    using TMemoryStream::TMemoryStream;
    int64_t Read(void* Buffer, int64_t Count) override {
        if (Position() >= 20000) return 0;
        return TMemoryStream::Read(Buffer, Count);
    }
};

std::vector<uint8_t> IsoImage() {
    TMemoryStream Floppy(RandomBytes(1474560, 31)), Image;
    EXPECT_TRUE(MakeBootableIso(Floppy, Image, "Corvane Purgex 2005"));
    return Image.Bytes();
}

} // namespace

TEST(OpticalTables, DeviceTypesMapOntoTheirNames) {
    EXPECT_EQ(DeviceTypeNames.size(), 13u);
    EXPECT_EQ(DeviceTypeNames[MapDeviceType(5)], "CDROM");
    EXPECT_EQ(DeviceTypeNames[MapDeviceType(0x1F)], "Invalid");
    EXPECT_EQ(DeviceTypeNames[MapDeviceType(0x7F)], "Other");
    EXPECT_EQ(DeviceTypeNames[MapDeviceType(0)], "Disk");
    EXPECT_EQ(DeviceTypeNames[MapDeviceType(9)], "Communication");
    // Qualifier bits count: a CD drive reported as not connected is no CD drive.
    EXPECT_EQ(MapDeviceType(0x25), 12);
    for (int Byte = 0; Byte < 256; ++Byte) {
        const uint8_t Mapped = MapDeviceType(uint8_t(Byte));
        EXPECT_LT(Mapped, DeviceTypeNames.size());
        EXPECT_NE(Mapped, 11) << "byte " << Byte;
        const int Expected = Byte < 10 ? Byte : Byte == 31 ? 10 : 12;
        EXPECT_EQ(Mapped, Expected) << "byte " << Byte;
    }
}

TEST(OpticalTables, BurnMessagesAreExactAndAnyCodeIsSafe) {
    ASSERT_EQ(BurnMessages.size(), 15u);
    EXPECT_EQ(BurnMessage(0), "No error");
    EXPECT_EQ(BurnMessage(1), "Is not a CD-ROM/CD-RW device");
    EXPECT_EQ(BurnMessage(3), "Device not ready");
    EXPECT_EQ(BurnMessage(9), "There is not enought free space on the disc");
    EXPECT_EQ(BurnMessage(BurnStepWrite), "Write error");
    EXPECT_EQ(BurnMessage(14), "Can't close session");
    for (int Code : {-1, 15, 255, 100000})
        EXPECT_FALSE(BurnMessage(Code).empty());
}

TEST(ImageRecorderCheck, CancelledDialogAnswersFalseAndCreatesNothing) {
    TRecordingPlatform Machine;
    TScriptedUserInterface Ui;
    Ui.SaveFileAnswers.push_back(std::nullopt);
    TimageRecorder Recorder;
    TDeviceStatus Status;
    Status.DiscState = 2;
    EXPECT_FALSE(Recorder.CheckReady(Status));
    EXPECT_EQ(Status.DiscState, 0);
    EXPECT_EQ(Ui.Log, std::vector<std::string>{"save: Purgit.ISO"});
    EXPECT_TRUE(Recorder.ImageFileName.empty());
}

TEST(ImageRecorderCheck, ConfirmedDialogChangesNothingAndRefusesWhatCannotBeWritten) {
    TFakePlatform Machine;
    Machine.Files["C:\\OLD.ISO"] = "previous contents";
    Machine.Files["C:\\LOCKED.ISO"] = "kept";
    Machine.ReadOnlyFiles.insert("C:\\LOCKED.ISO");
    Machine.MissingFolders.insert("C:\\GONE");
    Machine.ReadOnlyFolders.insert("D:\\");
    TScriptedUserInterface Ui;
    Ui.SaveFileAnswers = {std::string("C:\\old.iso"), std::string("C:\\locked.iso"),
                          std::string("C:\\GONE\\x.iso"), std::string("D:\\x.iso")};
    TimageRecorder Recorder;
    TDeviceStatus Status;
    Status.DiscState = 3;
    ASSERT_TRUE(Recorder.CheckReady(Status));
    EXPECT_EQ(Status.DiscState, 0);
    EXPECT_EQ(Recorder.ImageFileName, "C:\\old.iso");
    const auto Before = Machine.Files;
    EXPECT_FALSE(Recorder.CheckReady(Status));
    EXPECT_FALSE(Recorder.CheckReady(Status));
    EXPECT_FALSE(Recorder.CheckReady(Status));
    EXPECT_TRUE(Recorder.ImageFileName.empty());
    EXPECT_EQ(Machine.Files, Before) << "checking creates and truncates nothing";
    EXPECT_EQ(Ui.Log, (std::vector<std::string>{
                          "save: Purgit.ISO", "save: Purgit.ISO",
                          "info: The file C:\\locked.iso is read-only.", "save: Purgit.ISO",
                          "info: The folder of C:\\GONE\\x.iso does not exist or cannot be written.",
                          "save: Purgit.ISO",
                          "info: The folder of D:\\x.iso does not exist or cannot be written."}));
}

TEST(ImageRecorderCheck, FailuresOnTheWayAnswerFalse) {
    TimageRecorder Recorder;
    TDeviceStatus Status;
    {
        // The file cannot be created: found when the burn creates it.
        TRecordingPlatform Machine;
        Machine.RefuseCreate = true;
        TScriptedUserInterface Ui;
        Ui.SaveFileAnswers.push_back("C:\\Purgit.ISO");
        EXPECT_TRUE(Recorder.CheckReady(Status));
        TMemoryStream Image(IsoImage());
        TBurnError Error;
        EXPECT_FALSE(Recorder.Burn(Error, Image, nullptr));
        EXPECT_EQ(Error.Step, BurnStepWrite);
        EXPECT_TRUE(Machine.MovedTo.empty());
    }
    {
        // No user interface installed: the hook raises, the check answers false.
        TFakePlatform Machine;
        TUserInterface* Previous = InstallUserInterface(nullptr);
        EXPECT_FALSE(Recorder.CheckReady(Status));
        InstallUserInterface(Previous);
    }
}

TEST(ImageRecorderCheck, CancelAfterAnEarlierChoiceDisarmsIt) {
    TRecordingPlatform Machine;
    TScriptedUserInterface Ui;
    Ui.SaveFileAnswers = {std::string("C:\\first.iso"), std::nullopt};
    TimageRecorder Recorder;
    TDeviceStatus Status;
    ASSERT_TRUE(Recorder.CheckReady(Status));
    EXPECT_FALSE(Recorder.CheckReady(Status));
    TMemoryStream Image(IsoImage());
    TBurnError Error;
    EXPECT_FALSE(Recorder.Burn(Error, Image, nullptr));
    EXPECT_EQ(Error.Step, BurnStepWrite);
    EXPECT_TRUE(Machine.Pieces.empty());
}

TEST(ImageRecorderBurn, SavesTheImageIn152PiecesWithoutObserverCalls) {
    TRecordingPlatform Machine;
    TScriptedUserInterface Ui;
    Ui.SaveFileAnswers.push_back("C:\\Purgit.ISO");
    TimageRecorder Recorder;
    TDeviceStatus Status;
    ASSERT_TRUE(Recorder.CheckReady(Status));

    const auto Bytes = IsoImage();
    ASSERT_EQ(Bytes.size(), 1515520u);
    TMemoryStream Image(Bytes);
    Image.Seek(0, TSeekOrigin::End); // Burn rewinds on its own
    TBurnError Error;
    Error.Step = 7;
    TCountingObserver Observer;
    ASSERT_TRUE(Recorder.Burn(Error, Image, &Observer));

    ASSERT_EQ(Machine.Pieces.size(), 152u);
    for (size_t i = 0; i < 151; ++i)
        ASSERT_EQ(Machine.Pieces[i], 10000) << "piece " << i;
    EXPECT_EQ(Machine.Pieces.back(), 5520);
    ASSERT_EQ(Machine.Created, std::vector<std::string>{"C:\\Purgit.ISO.partial"});
    EXPECT_EQ(Machine.MovedTo, "C:\\Purgit.ISO") << "put in place once complete";
    EXPECT_TRUE(Machine.Removed.empty());
    EXPECT_TRUE(Machine.Saved == std::string(Bytes.begin(), Bytes.end()));
    EXPECT_EQ(Observer.Calls, 0);
    EXPECT_EQ(Error.Step, 7) << "a successful save leaves the record alone";
}

TEST(ImageRecorderBurn, FailuresReportWriteErrorAndCloseTheFile) {
    const auto Bytes = IsoImage();
    struct {
        const char* What;
        int64_t Capacity;
        bool ShortSource;
        bool CheckFirst;
    } Cases[] = {
        {"file takes only 25,000 bytes", 25000, false, true},
        {"file refuses the first byte", 0, false, true},
        {"source ends early", INT64_MAX, true, true},
        {"no file chosen", INT64_MAX, false, false},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.What);
        TRecordingPlatform Machine;
        Machine.Capacity = Case.Capacity;
        TScriptedUserInterface Ui;
        Ui.SaveFileAnswers.push_back("C:\\Purgit.ISO");
        TimageRecorder Recorder;
        TDeviceStatus Status;
        if (Case.CheckFirst) {
            ASSERT_TRUE(Recorder.CheckReady(Status));
        }

        std::unique_ptr<TMemoryStream> Image = Case.ShortSource
                                                   ? std::make_unique<TShortSource>(Bytes)
                                                   : std::make_unique<TMemoryStream>(Bytes);
        TBurnError Error;
        Error.ScsiResult = 9;
        EXPECT_FALSE(Recorder.Burn(Error, *Image, nullptr));
        EXPECT_EQ(Error.Step, BurnStepWrite);
        EXPECT_EQ(BurnMessage(Error.Step), "Write error");
        EXPECT_EQ(Machine.Removed, Machine.Created) << "the temporary file is removed";
        EXPECT_TRUE(Machine.MovedTo.empty()) << "nothing replaces the chosen file";
        EXPECT_LT(Machine.Saved.size(), Bytes.size());
        // A second burn without a new check cannot claim success.
        EXPECT_FALSE(Recorder.Burn(Error, *Image, nullptr));
    }
}

// Whatever goes wrong while saving, the file the user had stays byte for
// byte and no temporary file is left beside it.
TEST(ImageRecorderBurn, AFailedSaveLeavesTheUsersFileAsItWas) {
    const auto Bytes = IsoImage();
    struct TCase {
        const char* What;
        int64_t FreeBytes;
        int64_t ChangedByte; // in the read-back; -1 none
        bool TargetReadOnlyAtRename;
    } Cases[] = {
        {"disk full mid-write", 700000, -1, false},
        {"disk full at once", 0, -1, false},
        {"read back differs in the first sector", -1, 0, false},
        {"read back differs in sector 4", -1, 4 * 2048 + 100, false},
        {"read back differs in the last byte", -1, int64_t(Bytes.size()) - 1, false},
        {"rename refused", -1, -1, true},
    };
    for (const TCase& Case : Cases) {
        SCOPED_TRACE(Case.What);
        class TMachine : public TFakePlatform {
        public:
            int64_t Changed = -1;
            std::unique_ptr<TStream> OpenFileRead(std::string_view Path) override {
                auto Stream = TFakePlatform::OpenFileRead(Path);
                if (Changed < 0 || !Stream) return Stream;
                static_cast<TMemoryStream*>(Stream.get())->Memory()[size_t(Changed)] ^= 1;
                return Stream;
            }
        } Machine;
        Machine.Changed = Case.ChangedByte;
        Machine.FreeBytes = Case.FreeBytes;
        Machine.Files["C:\\OUT.ISO"] = "precious";
        TScriptedUserInterface Ui;
        Ui.SaveFileAnswers.push_back("C:\\out.iso");
        TimageRecorder Recorder;
        Recorder.ReadBack = true;
        TDeviceStatus Status;
        ASSERT_TRUE(Recorder.CheckReady(Status));
        if (Case.TargetReadOnlyAtRename) Machine.ReadOnlyFiles.insert("C:\\OUT.ISO");
        TMemoryStream Image(Bytes);
        TBurnError Error;
        EXPECT_FALSE(Recorder.Burn(Error, Image, nullptr));
        EXPECT_EQ(Error.Step, BurnStepWrite);
        EXPECT_EQ(Recorder.DifferingSector, Case.ChangedByte < 0 ? -1 : Case.ChangedByte / 2048);
        EXPECT_EQ(Machine.Files, (std::map<std::string, std::string>{{"C:\\OUT.ISO", "precious"}}));
    }
    // The same machine saves when nothing goes wrong, replacing the old file.
    TFakePlatform Machine;
    Machine.Files["C:\\OUT.ISO"] = "precious";
    Machine.Files["C:\\OUT.ISO.PARTIAL"] = "someone else's";
    TScriptedUserInterface Ui;
    Ui.SaveFileAnswers.push_back("C:\\out.iso");
    TimageRecorder Recorder;
    Recorder.ReadBack = true;
    TDeviceStatus Status;
    ASSERT_TRUE(Recorder.CheckReady(Status));
    TMemoryStream Image(Bytes);
    TBurnError Error;
    ASSERT_TRUE(Recorder.Burn(Error, Image, nullptr));
    EXPECT_EQ(Machine.Files.size(), 2u);
    EXPECT_TRUE(Machine.Files["C:\\OUT.ISO"] == std::string(Bytes.begin(), Bytes.end()));
    EXPECT_EQ(Machine.Files["C:\\OUT.ISO.PARTIAL"], "someone else's") << "a free name is used";
}
