#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "ComposerFixtures.h"
#include "TestSupport.h"
#include "base/ByteOrder.h"
#include "fakes/ScriptedUserInterface.h"
#include "fakes/SimulatedWriter.h"
#include "image/CreationRun.h"
#include "image/OpticalTargets.h"
#include "optical/ISO9660.h"
#include "optical/Optical_devices.h"

using namespace testing_support;

namespace {

using TBytes = std::vector<uint8_t>;

// Every call of a burn, in order: "stage N" or "progress S".
class TRecordingObserver : public TBurningIO {
public:
    std::vector<std::string> Calls;
    std::vector<double> Done, Fill;
    void Progress(uint8_t Stage, double D, double F) override {
        Calls.push_back("progress " + std::to_string(Stage));
        if (Stage == 0) Done.push_back(D);
        Fill.push_back(F);
    }
    void StageStarted(uint8_t Stage, int32_t Reserved) override {
        Calls.push_back("stage " + std::to_string(Stage) + (Reserved ? "!" : ""));
    }
    int Count(const std::string& Call) const {
        return int(std::count(Calls.begin(), Calls.end(), Call));
    }
};

const TBytes& Image() {
    static const TBytes Bytes = [] {
        TMemoryStream Floppy(RandomBytes(1474560, 77)), Iso;
        EXPECT_TRUE(MakeBootableIso(Floppy, Iso, "Corvane Purgex 2005"));
        return Iso.Bytes();
    }();
    return Bytes;
}

TBytes Cdb(std::initializer_list<uint8_t> Set, size_t Length = 10) {
    TBytes B(Length);
    std::copy(Set.begin(), Set.end(), B.begin());
    return B;
}

// A machine with one writer at E: (SPTI) and at adapter 0, target 0 (ASPI).
struct TWriterMachine {
    TWriterPlatform Machine;
    TScriptedUserInterface Ui;
    TSimulatedWriter Writer;
    explicit TWriterMachine(bool Aspi = false) {
        Machine.AddDrive('E', Writer);
        Machine.HasAspi = Aspi;
        Machine.Aspi.Devices.push_back({0, 0, 0, &Writer});
    }
    std::unique_ptr<TOpticalDevice> Device(bool Aspi) {
        if (!Aspi) return std::make_unique<TSPTIdevice>('E');
        return std::make_unique<TASPIdevice>(0, 0, 0, std::array<uint8_t, 60>{},
                                             std::array<uint8_t, 12>{});
    }
    bool Burn(TOpticalDevice& Device, TBurnError& Error, TBurningIO* Observer = nullptr) {
        TMemoryStream Source(Image());
        Writer.Cdbs.clear();
        return Device.Burn(Error, Source, Observer);
    }
};

// The commands of a whole burn of the 740-block image from block Start.
void ExpectBurnCommands(const TSimulatedWriter& W, bool Aspi, uint32_t Start) {
    const auto& C = W.Cdbs;
    ASSERT_GE(C.size(), 4u + 2 * 74 + 3);
    EXPECT_EQ(C[0], Cdb({0x5A, 0x08, 0x05, 0, 0, 0, 0, 0, 64}));
    EXPECT_EQ(C[1], Cdb({0x55, 0x10, 0, 0, 0, 0, 0, 0, 60}));
    EXPECT_EQ(C[2], Cdb({0x52, 0x01, 0, 0, 0, 0xFF, 0, 0, 28}));
    EXPECT_EQ(C[3], Cdb({0x5C, 0, 0, 0, 0, 0, 0, 0, 12}));
    for (int i = 0; i < 74; ++i) {
        EXPECT_EQ(C[4 + 2 * i], Cdb({0x5C, 0, 0, 0, 0, 0, 0, 0, 12}));
        TBytes Write = Cdb({0x2A, 0, 0, 0, 0, 0, 0, 0, 10});
        PutBE32(&Write[2], Start + uint32_t(i) * 10);
        EXPECT_EQ(C[5 + 2 * i], Write) << "write " << i;
    }
    // Then each background command, polled with READ DISC INFORMATION and
    // READ BUFFER CAPACITY until the drive answers.
    const TBytes Sync = Cdb({0x35, 0x02}), Track = Cdb({0x5B, 0x01, 0x01, 0, 0, 0xFF}),
                 Session = Cdb({0x5B, 0x01, 0x02}), DiscInfo = Cdb({0x51, 0, 0, 0, 0, 0, 0, 0, 34});
    size_t i = 4 + 2 * 74;
    for (const TBytes& Background : {Sync, Track, Session}) {
        ASSERT_LT(i, C.size());
        EXPECT_EQ(C[i++], Background);
        for (int Poll = 0; Poll < 3; ++Poll) {
            EXPECT_EQ(C[i++], DiscInfo);
            EXPECT_EQ(C[i++][0], 0x5C);
        }
        EXPECT_EQ(C[i++], DiscInfo);
    }
    EXPECT_EQ(i, C.size());
    (void)Aspi;
}

} // namespace

TEST(ScsiResult, TableOfRequestHostAndTargetStatus) {
    EXPECT_EQ(ScsiResultOf(0, 9, 9), 0);
    EXPECT_EQ(ScsiResultOf(1, 0, 0), 0);
    EXPECT_EQ(ScsiResultOf(2, 0, 0), 1); // CHECK CONDITION on SPTI
    EXPECT_EQ(ScsiResultOf(3, 5, 5), 1);
    EXPECT_EQ(ScsiResultOf(4, 0, 0), 21);
    EXPECT_EQ(ScsiResultOf(4, 0, 2), 21);
    EXPECT_EQ(ScsiResultOf(4, 0, 8), 22);
    EXPECT_EQ(ScsiResultOf(4, 0, 0x18), 23);
    EXPECT_EQ(ScsiResultOf(4, 0, 0x28), 24);
    EXPECT_EQ(ScsiResultOf(4, 0, 4), 10);
    EXPECT_EQ(ScsiResultOf(4, 0x09, 0), 11);
    EXPECT_EQ(ScsiResultOf(4, 0x0B, 0), 12);
    EXPECT_EQ(ScsiResultOf(4, 0x0C, 0), 10);
    EXPECT_EQ(ScsiResultOf(4, 0x0D, 0), 13);
    EXPECT_EQ(ScsiResultOf(4, 0x14, 0), 20);
    EXPECT_EQ(ScsiResultOf(4, 0x15, 0), 10);
    EXPECT_EQ(ScsiResultOf(0x80, 0, 0), 2);
    EXPECT_EQ(ScsiResultOf(0x81, 0, 0), 4);
    EXPECT_EQ(ScsiResultOf(0x82, 0, 0), 5);
    EXPECT_EQ(ScsiResultOf(0xE0, 0, 0), 6);
    EXPECT_EQ(ScsiResultOf(0xE1, 0, 0), 7);
    EXPECT_EQ(ScsiResultOf(0xE5, 0, 0), 8);
    EXPECT_EQ(ScsiResultOf(0xE6, 0, 0), 9);
    EXPECT_EQ(ScsiResultOf(8, 0, 0), 10); // BUSY on SPTI
    EXPECT_EQ(ScsiResultOf(0xFF, 0, 0), 10);
}

TEST(SptiWriter, FullBurnOfTheCdImage) {
    TWriterMachine M;
    M.Writer.FreeBlocks = 750; // exactly what the image asks for
    auto Device = M.Device(false);
    EXPECT_EQ(Device->Name, "CD-RW  SIM 52X (SIMCO)");
    EXPECT_TRUE(Device->IsWriter());

    TBurnError Error;
    TRecordingObserver Observer;
    ASSERT_TRUE(M.Burn(*Device, Error, &Observer)) << int(Error.Step);
    ExpectBurnCommands(M.Writer, false, 0);
    ASSERT_EQ(M.Writer.Writes.size(), 74u);
    for (const auto& [Address, Blocks] : M.Writer.Writes)
        EXPECT_EQ(Blocks, 10u);
    EXPECT_EQ(M.Writer.Recorded(0, 740), Image());
    EXPECT_EQ(M.Writer.SessionsClosed, 1);
    EXPECT_TRUE(M.Writer.NextSessionAllowed);
    EXPECT_EQ(M.Writer.Disc, TSimulatedWriter::TDisc::Appendable);

    // The write parameters sent back: track at once, next session allowed,
    // Mode 1, no pause; everything else as the drive gave it.
    const auto Default = TSimulatedWriter::DefaultWriteParameters();
    TBytes Expected(Default.begin(), Default.begin() + 60);
    Expected[0] = Expected[1] = 0;
    Expected[10] = 0x01;
    Expected[11] = 0xC4;
    Expected[12] = 0x08;
    Expected[15] = Expected[16] = 0;
    Expected[22] = Expected[23] = 0;
    ASSERT_EQ(M.Writer.SelectedParameters.size(), Expected.size());
    for (size_t i = 0; i < Expected.size(); ++i)
        EXPECT_EQ(M.Writer.SelectedParameters[i], Expected[i]) << "byte " << i;

    // Progress: one report per write, counting up to the whole source.
    EXPECT_EQ(Observer.Calls.front(), "stage 0");
    EXPECT_EQ(Observer.Count("progress 0"), 74);
    EXPECT_DOUBLE_EQ(Observer.Done.front(), (20480.0 + 1) / (1515520.0 + 1));
    EXPECT_DOUBLE_EQ(Observer.Done.back(), 1.0);
    EXPECT_EQ(Observer.Count("progress 1"),
              6); // three polls each for SYNCHRONIZE CACHE and CLOSE TRACK
    EXPECT_EQ(Observer.Count("progress 3"), 3);
    std::vector<std::string> Stages;
    for (const auto& Call : Observer.Calls)
        if (Call.rfind("stage", 0) == 0) Stages.push_back(Call);
    EXPECT_EQ(Stages,
              (std::vector<std::string>{"stage 0", "stage 1", "stage 2", "stage 3", "stage 4"}));
    // The buffer fills with the writes and drains while the cache is written.
    EXPECT_GT(Observer.Fill[73], Observer.Fill[0]);
    EXPECT_LT(Observer.Fill[76], Observer.Fill[74]);
}

TEST(SptiWriter, RequestsAreLaidOutByteForByte) {
    TWriterMachine M;
    auto Device = M.Device(false);
    // Construction: INQUIRY, then the capabilities page, each on a handle of its own.
    ASSERT_GE(M.Machine.Requests.size(), 2u);
    EXPECT_EQ(M.Machine.Opened.front(), "\\\\.\\E: rw");
    const TBytes& Inquiry = M.Machine.Requests[0];
    TBytes Header(44);
    PutLE16(&Header[0], 44);
    Header[6] = 6;
    Header[7] = 128;
    Header[8] = 1;
    PutLE32(&Header[12], 512);
    PutLE32(&Header[16], 2);
    PutLE32(&Header[20], 172);
    PutLE32(&Header[24], 44);
    Header[28] = 0x12;
    Header[32] = 165;
    EXPECT_EQ(Inquiry, Header);
    EXPECT_EQ(M.Machine.ControlCodes[0], 0x4D004u);
    const TBytes& Capabilities = M.Machine.Requests[1];
    EXPECT_EQ(Capabilities[6], 10);
    EXPECT_EQ(GetLE32(&Capabilities[16]), 2u);
    EXPECT_EQ(TBytes(Capabilities.begin() + 28, Capabilities.begin() + 38),
              Cdb({0x5A, 0x00, 0x2A, 0, 0, 0, 0, 0, 159}));
    EXPECT_EQ(Device->MaxReadSpeed, 7056 / 176);
    EXPECT_EQ(Device->MaxWriteSpeed, 9152 / 176);
    EXPECT_TRUE(Device->ReadsCdR && Device->ReadsCdRw && Device->ReadsMethod2);
    EXPECT_FALSE(Device->ReadsDvdRom);
    EXPECT_TRUE(Device->WritesCdR && Device->WritesCdRw);
    EXPECT_FALSE(Device->TestWrite);

    M.Machine.Requests.clear();
    M.Machine.ControlCodes.clear();
    TBurnError Error;
    ASSERT_TRUE(M.Burn(*Device, Error));
    // MODE SELECT and WRITE go as direct requests pointing at the data.
    int Direct = 0;
    for (size_t i = 0; i < M.Machine.Requests.size(); ++i) {
        const TBytes& R = M.Machine.Requests[i];
        if (M.Machine.ControlCodes[i] == 0x4D014) {
            ++Direct;
            ASSERT_EQ(R.size(), 172u);
            EXPECT_EQ(R[8], 0);
            EXPECT_EQ(GetLE32(&R[16]), 120u);
            EXPECT_TRUE(R[28] == 0x55 || R[28] == 0x2A);
            EXPECT_EQ(GetLE32(&R[12]), R[28] == 0x55 ? 60u : 20480u);
        } else {
            ASSERT_EQ(R.size(), 44u);
            EXPECT_EQ(R[8], 1);
            EXPECT_EQ(GetLE32(&R[12]), 512u);
            EXPECT_EQ(GetLE32(&R[16]), 120u) << "opcode " << int(R[28]);
        }
    }
    EXPECT_EQ(Direct, 75);
}

TEST(AspiWriter, FullBurnOfTheCdImageThroughRequestBlocks) {
    TWriterMachine M(true);
    M.Writer.NextWritable = 23456; // an appendable disc's next session
    TASPIdevices Scan;
    ASSERT_EQ(Scan.Devices.size(), 1u);
    TASPIdevice& Device = *Scan.Devices[0];
    EXPECT_EQ(Device.DriveLetter, ' ');
    EXPECT_EQ(Device.Name, "CD-RW  SIM 52X (SIMCO)");
    EXPECT_TRUE(Device.WritesCdR);

    M.Machine.Aspi.Blocks.clear();
    TBurnError Error;
    TRecordingObserver Observer;
    ASSERT_TRUE(M.Burn(Device, Error, &Observer)) << int(Error.Step);
    ExpectBurnCommands(M.Writer, true, 23456);
    EXPECT_EQ(M.Writer.Recorded(23456, 740), Image());
    EXPECT_TRUE(M.Writer.NextSessionAllowed);
    EXPECT_EQ(Observer.Count("progress 0"), 74);

    // The execute blocks: flags by direction, lengths, sense length 14, CDB at 48.
    const auto& Blocks = M.Machine.Aspi.Blocks;
    const TBytes& Sense = Blocks[0];
    ASSERT_EQ(Sense.size(), 84u);
    EXPECT_EQ(Sense[0], 2);
    EXPECT_EQ(Sense[3], 0x48);
    EXPECT_EQ(GetLE32(&Sense[12]), 64u);
    EXPECT_EQ(Sense[20], 14);
    EXPECT_EQ(Sense[21], 10);
    EXPECT_EQ(Sense[48], 0x5A);
    const TBytes& Write = Blocks[5];
    EXPECT_EQ(Write[48], 0x2A);
    EXPECT_EQ(Write[3], 0x50);
    EXPECT_EQ(GetLE32(&Write[12]), 20480u);
    const auto Sync =
        std::find_if(Blocks.begin(), Blocks.end(), [](const TBytes& b) { return b[48] == 0x35; });
    ASSERT_NE(Sync, Blocks.end());
    EXPECT_EQ((*Sync)[3], 0x40);
    EXPECT_EQ(GetLE32(&(*Sync)[12]), 0u);
}

TEST(AspiWriter, LunTravelsInTheModeCommandsAndEjectIsStartStopUnit) {
    TWriterMachine M(true);
    M.Machine.Aspi.Devices = {{0, 2, 1, &M.Writer}};
    TASPIdevices Scan;
    ASSERT_EQ(Scan.Devices.size(), 1u);
    EXPECT_EQ(Scan.Devices[0]->Address(), 0x010200u);
    // The capabilities page without block descriptors, LUN 1 in bits 5-7.
    const auto Capabilities = std::find_if(M.Writer.Cdbs.begin(), M.Writer.Cdbs.end(),
                                           [](const TBytes& c) { return c[0] == 0x5A; });
    ASSERT_NE(Capabilities, M.Writer.Cdbs.end());
    EXPECT_EQ((*Capabilities)[1], 0x28);

    TBurnError Error;
    ASSERT_TRUE(M.Burn(*Scan.Devices[0], Error));
    EXPECT_EQ(M.Writer.Cdbs[0][1], 0x28);
    EXPECT_EQ(M.Writer.Cdbs[1][1], 0x30);

    M.Writer.Cdbs.clear();
    EXPECT_EQ(Scan.Devices[0]->Eject(), 0);
    ASSERT_EQ(M.Writer.Cdbs.size(), 1u);
    EXPECT_EQ(M.Writer.Cdbs[0], Cdb({0x1B, 0x01, 0, 0, 0x02}, 12));
}

TEST(AspiWriter, ARequestThatNeverCompletesIsAbortedAfterItsWait) {
    TWriterMachine M(true);
    TASPIdevices Scan;
    ASSERT_EQ(Scan.Devices.size(), 1u);
    M.Writer.NeverCompletes = {0x2A};
    const uint64_t Before = M.Machine.Ticks;
    TBurnError Error;
    EXPECT_FALSE(M.Burn(*Scan.Devices[0], Error));
    EXPECT_EQ(Error.Step, BurnStepWrite);
    EXPECT_EQ(Error.ScsiResult, ScsiResultTimedOut);
    EXPECT_EQ(M.Machine.Aspi.Aborts, 1);
    EXPECT_GE(M.Machine.Ticks - Before, 100000u);
    const TBytes& Abort = M.Machine.Aspi.Blocks.back();
    ASSERT_EQ(Abort.size(), 12u);
    EXPECT_EQ(Abort[0], 3);
}

TEST(BurnSequence, EdgesOfTheDriveAnswers) {
    TWriterMachine M;
    auto Device = M.Device(false);
    TBurnError Error;

    // Page 05h refused but returned: the parameters are still set.
    M.Writer.Page05Error = true;
    EXPECT_TRUE(M.Burn(*Device, Error));
    EXPECT_EQ(M.Writer.Opcodes()[1], 0x55);
    M.Writer.Page05Error = false;

    // An 8,192-byte buffer writes 4 blocks at a time (185 writes for 740 blocks).
    M.Writer = TSimulatedWriter();
    M.Machine.AddDrive('E', M.Writer);
    M.Writer.BufferLength = 8192;
    ASSERT_TRUE(M.Burn(*Device, Error));
    EXPECT_EQ(M.Writer.Writes.size(), 185u);
    EXPECT_EQ(M.Writer.Writes.back(), std::make_pair(736u, 4u));
    EXPECT_EQ(M.Writer.Recorded(0, 740), Image());

    // A buffer that is no multiple of a block writes whole blocks (2 of 5,000 bytes).
    M.Writer = TSimulatedWriter();
    M.Machine.AddDrive('E', M.Writer);
    M.Writer.BufferLength = 5000;
    ASSERT_TRUE(M.Burn(*Device, Error));
    EXPECT_EQ(M.Writer.Writes.size(), 370u);
    EXPECT_EQ(M.Writer.Recorded(0, 740), Image());

    // The invisible track: blank with data mode 15 passes; not blank, or packet, stop.
    for (const auto& [Byte6, Passes] : std::vector<std::pair<uint8_t, bool>>{
             {0x4F, true}, {0xC0, true}, {0x00, false}, {0x60, false}}) {
        M.Writer = TSimulatedWriter();
        M.Machine.AddDrive('E', M.Writer);
        M.Writer.InvisibleTrackByte6 = Byte6;
        Error = {};
        EXPECT_EQ(M.Burn(*Device, Error), Passes) << int(Byte6);
        if (!Passes) {
            EXPECT_EQ(Error.Step, BurnStepInvalidTrack);
            EXPECT_TRUE(M.Writer.Writes.empty());
        }
    }
}

TEST(BurnSequence, ASourceThatFailsEndsWithAWriteError) {
    TWriterMachine M;
    auto Device = M.Device(false);
    class TBrokenSource : public TMemoryStream {
    public:
        using TMemoryStream::TMemoryStream;
        int64_t Read(void* Buffer, int64_t Count) override {
            if (Position() >= 40960) return 0;
            return TMemoryStream::Read(Buffer, Count);
        }
    } Source(Image());
    TBurnError Error;
    EXPECT_FALSE(Device->Burn(Error, Source, nullptr));
    EXPECT_EQ(Error.Step, BurnStepWrite);
    EXPECT_EQ(M.Writer.Writes.size(), 2u); // nothing invented past what the source gave
    EXPECT_EQ(M.Writer.SessionsClosed, 0);
}

// A source that ends inside a block (on both transports): every whole chunk
// goes out as read, and the last piece as one whole block padded with zeros.
TEST(BurnSequence, AShortLastPieceGoesOutAsOneZeroPaddedBlock) {
    for (const bool Aspi : {false, true}) {
        SCOPED_TRACE(Aspi ? "ASPI" : "SPTI");
        TWriterMachine M(Aspi);
        auto Device = M.Device(Aspi);
        const TBytes Source(Image().begin(), Image().begin() + 20480 + 2048 + 100);
        TMemoryStream Stream(Source);
        TBurnError Error;
        ASSERT_TRUE(Device->Burn(Error, Stream, nullptr));
        EXPECT_EQ(M.Writer.Writes, (std::vector<std::pair<uint32_t, uint32_t>>{{0, 10}, {10, 2}}));
        TBytes Expected = Source;
        Expected.resize(12 * 2048, 0);
        EXPECT_EQ(M.Writer.Recorded(0, 12), Expected);
        EXPECT_EQ(M.Writer.SessionsClosed, 1);
    }
}

TEST(BurnSequence, APollThatNeverCompletesFailsAfterAnHour) {
    TWriterMachine M;
    auto Device = M.Device(false);
    M.Writer.PollNeverCompletes = true;
    TBurnError Error;
    EXPECT_FALSE(M.Burn(*Device, Error));
    EXPECT_EQ(Error.Step, BurnStepSynchronizeCache);
    EXPECT_EQ(Error.ScsiResult, ScsiResultTimedOut);
    EXPECT_GE(M.Machine.Ticks, PollLimitMilliseconds);
    EXPECT_LT(M.Machine.Ticks, PollLimitMilliseconds + 60000);
}

namespace {

// The run's front with one writer row.
class TOneWriterFront : public TRunFront {
public:
    explicit TOneWriterFront(TOpticalDevice& Device) : Writer(Device) {}
    int RowCount() override { return 1; }
    TMediaTarget& RowTarget(int) override { return Writer; }
    int RowQuantity(int) override { return 1; }
    TWiperOptions CheckedOptions() override { return DefaultOptions(); }
    std::string CommandLine() override { return ""; }
    bool FloppyUsesMsDos() override { return false; }
    void SetGauge(int) override {}

private:
    TDiscWriterTarget Writer;
};

struct TFault {
    const char* Name;
    bool Aspi;
    std::function<void(TSimulatedWriter&)> Arrange;
    std::string Message; // shown after the failed attempt
    bool SystemText;     // the system's error text is shown first
};

std::string BurnText(int Step) {
    return "info: " + std::string(WriteErrorPrefix) + std::string(BurnMessage(Step));
}

} // namespace

// Only MODE SELECT, WRITE and the closes show the system's text when their
// request fails; reading the disc back (a direct request too) does not.
TEST(WriterFaults, AFailedReadBackRequestShowsNoBox) {
    TWriterMachine M;
    TOpticalDevices Discovery;
    ASSERT_EQ(Discovery.Count(), 1);
    M.Writer.ControlFails = {0x28};
    auto& Drive = static_cast<TScsiOpticalDevice&>(*Discovery.Devices[0]);
    std::vector<uint8_t> Blocks(10 * 2048);
    EXPECT_EQ(Drive.ReadBlocks(0, 10, Blocks), ScsiResultControlFailed);
    EXPECT_TRUE(M.Ui.Log.empty());
}

TEST(WriterFaults, EachFaultShowsItsMessageAndTheRunAsksForTheDiscAgain) {
    using W = TSimulatedWriter;
    const std::string NotReady = std::string("info: ") + DeviceNotReadyText;
    const std::vector<TFault> Faults = {
        {"no disc", false, [](W& w) { w.Disc = W::TDisc::None; }, NotReady, false},
        {"not ready", true, [](W& w) { w.NotReady = true; }, NotReady, false},
        {"vanished", false, [](W& w) { w.Vanished = true; }, NotReady, false},
        {"vanished aspi", true, [](W& w) { w.Vanished = true; }, NotReady, false},
        {"not blank", false, [](W& w) { w.Disc = W::TDisc::Closed; },
         std::string("info: ") + DiscNotBlankText, false},
        {"appendable", true, [](W& w) { w.Disc = W::TDisc::Appendable; },
         std::string("info: ") + DiscNotBlankText, false},
        {"749 blocks", false, [](W& w) { w.FreeBlocks = 749; }, BurnText(9), false},
        {"small buffer", true, [](W& w) { w.BufferLength = 1024; }, BurnText(10), false},
        {"write fails", false, [](W& w) { w.FailWriteAtBlock = 300; }, BurnText(11), false},
        {"write fails aspi", true, [](W& w) { w.FailWriteAtBlock = 300; }, BurnText(11), false},
        {"write request fails", false, [](W& w) { w.ControlFails = {0x2A}; }, BurnText(11), true},
        {"select request fails", false, [](W& w) { w.ControlFails = {0x55}; }, BurnText(6), true},
        {"close track request fails", false, [](W& w) { w.ControlFails = {0x5B}; }, BurnText(13),
         true},
        {"buffer capacity request fails", false, [](W& w) { w.ControlFails = {0x5C}; },
         BurnText(10), false},
        {"write parameters refused", false, [](W& w) { w.Refuse[0x5A] = W::CheckCondition; },
         BurnText(5), false},
        {"select refused", true, [](W& w) { w.Refuse[0x55] = W::CheckCondition; }, BurnText(6),
         false},
        {"track refused", false, [](W& w) { w.Refuse[0x52] = W::Busy; }, BurnText(8), false},
        {"packet track", false, [](W& w) { w.InvisibleTrackByte6 = 0x60; }, BurnText(7), false},
        {"cache refused", true, [](W& w) { w.Refuse[0x35] = W::CheckCondition; }, BurnText(12),
         false},
        {"close session refused", false, [](W& w) { w.Refuse[0x5B] = W::CheckCondition; },
         BurnText(13), false},
        {"poll never ends", true, [](W& w) { w.PollNeverCompletes = true; }, BurnText(12), false},
        {"request never ends", true, [](W& w) { w.NeverCompletes = {0x52}; }, BurnText(8), false},
    };
    composer_test::TCdStoreScope Store;
    for (const TFault& Fault : Faults) {
        SCOPED_TRACE(Fault.Name);
        TWriterMachine M(Fault.Aspi);
        TOpticalDevices Discovery;
        ASSERT_EQ(Discovery.Count(), 1);
        TOpticalDevice& Device = *Discovery.Devices[0];
        Fault.Arrange(M.Writer);
        TOneWriterFront Front(Device);
        TCreationRun Run(Front);
        Run.DiscSystem = TDiscSystem::RxDos;
        M.Ui.AskAnswers = {1, 2, 1}; // OK, then Cancel and stop
        Run.CreateMedia();
        EXPECT_EQ(Run.MediaDone, 0);
        const std::string Prompt =
            "ask: Please insert a blank CD/DVD in writer.\r(" + Device.Name + ") [OK|Cancel]";
        std::vector<std::string> Expected = {Prompt};
        if (Fault.SystemText) Expected.push_back("info: " + M.Machine.ErrorText(1167));
        Expected.push_back(Fault.Message);
        Expected.push_back(Prompt);
        Expected.push_back("ask: Do you want to stop the process ? [Yes|No]");
        EXPECT_EQ(M.Ui.Log, Expected);
        // Only faults from the first WRITE on leave anything on the disc.
        const bool AfterWriting = Fault.Message == BurnText(11) || Fault.Message == BurnText(12) ||
                                  Fault.Message == BurnText(13) || Fault.Message == BurnText(14);
        if (!AfterWriting) {
            EXPECT_TRUE(M.Writer.Blocks.empty());
        }
    }
}

TEST(WriterFaults, ARetriedDiscIsBurnedWhenTheFaultIsGone) {
    composer_test::TCdStoreScope Store;
    TWriterMachine M;
    // The user inserts a disc after being told the drive is not ready.
    struct TInsertingUi : TScriptedUserInterface {
        TSimulatedWriter* Writer = nullptr;
        void MsgInfo(const std::string& Text) override {
            TScriptedUserInterface::MsgInfo(Text);
            Writer->Disc = TSimulatedWriter::TDisc::Blank;
        }
    } Ui;
    Ui.Writer = &M.Writer;
    TOpticalDevices Discovery;
    ASSERT_EQ(Discovery.Count(), 1);
    M.Writer.Disc = TSimulatedWriter::TDisc::None;
    TOneWriterFront Front(*Discovery.Devices[0]);
    TCreationRun Run(Front);
    Run.DiscSystem = TDiscSystem::RxDos;
    TBytes Burned;
    Run.ImageBuilt = [&](const TMemoryStream& Iso) { Burned = Iso.Bytes(); };
    Ui.AskAnswers = {1, 1, 2, 1}; // a run that failed again would stop at the third prompt
    Run.CreateMedia();
    EXPECT_EQ(Run.MediaDone, 1);
    EXPECT_EQ(Ui.Log.size(), 3u); // prompt, not ready, prompt
    ASSERT_EQ(Burned.size(), 1515520u);
    EXPECT_EQ(M.Writer.Recorded(0, 740), Burned);
}

TEST(Discovery, NamesTypesAndWhatIsOffered) {
    TWriterPlatform Machine;
    TScriptedUserInterface Ui;
    TSimulatedWriter Writer, Reader, Invalid, Other;
    Writer.Vendor = "ACME    ";
    Writer.Product = "BURN  MASTER    ";
    Reader.WriteCaps = 0; // reads only
    Invalid.InquiryByte0 = 0x1F;
    Other.InquiryByte0 = 0x7F;
    Machine.AddDrive('D', Reader);
    Machine.AddDrive('F', Writer);
    Machine.AddDrive('G', Invalid);
    Machine.AddDrive('H', Other);
    Machine.OtherDrives['Z'] = "\\Device\\LanmanRedirector\\;Z:\\server\\share"; // a network drive
    Machine.OtherDrives['S'] = "\\??\\C:\\subst";                                // a subst drive

    TOpticalDevices Discovery;
    ASSERT_EQ(Discovery.Spti->Devices.size(), 6u);
    std::string Letters;
    for (auto& D : Discovery.Spti->Devices)
        Letters += D->DriveLetter;
    EXPECT_EQ(Letters, "DFGHSZ");
    EXPECT_EQ(Discovery.Transport, TransportSpti);
    auto& Found = Discovery.Spti->Devices;
    EXPECT_EQ(Found[1]->Name, "BURN  MASTER (ACME)");
    EXPECT_EQ(Found[0]->TypeName, "CDROM");
    EXPECT_EQ(Found[2]->TypeName, "Invalid");
    EXPECT_EQ(Found[3]->TypeName, "Other");
    EXPECT_EQ(Found[4]->TypeName, "Disk"); // cannot be queried
    EXPECT_EQ(Found[4]->Name, " ()");

    // Type 5 drives are kept; the wizard offers those that write CD-R or CD-RW.
    ASSERT_EQ(Discovery.Count(), 2);
    EXPECT_FALSE(Discovery.Devices[0]->IsWriter());
    EXPECT_TRUE(Discovery.Devices[1]->IsWriter());
    EXPECT_EQ(Discovery.Writers(), std::vector<TOpticalDevice*>{Discovery.Devices[1]});

    // The Windows 9x family has no SPTI.
    Machine.WindowsVersion = {1, 4, 10};
    TSPTIdevices None;
    EXPECT_TRUE(None.Devices.empty());
}

TEST(Discovery, AspiIsChosenWhenAvailableAndScansEveryTargetAndLun) {
    TWriterPlatform Machine;
    TScriptedUserInterface Ui;
    TSimulatedWriter Writer;
    Machine.AddDrive('E', Writer);
    Machine.HasAspi = true;
    Machine.Aspi.Adapters = 1;
    Machine.Aspi.MaxTargets[0] = 0; // taken as 8
    {
        TOpticalDevices Discovery;
        EXPECT_EQ(Discovery.Transport, TransportAspi);
        EXPECT_EQ(Discovery.Count(), 0); // status 1, but no device on the adapter
        EXPECT_EQ(Machine.Aspi.DeviceTypeRequests, 64);
        EXPECT_EQ(Discovery.Spti->Devices.size(), 1u); // found, not chosen
        Discovery.SelectTransport(TransportSpti);
        EXPECT_EQ(Discovery.Count(), 1);
        Discovery.SelectTransport(7);
        EXPECT_EQ(Discovery.Count(), 1);
    }

    // 16 targets, a writer at target 3 and a disk at target 5.
    TSimulatedWriter Disk;
    Disk.InquiryByte0 = 0;
    Machine.Aspi.Adapters = 2;
    Machine.Aspi.MaxTargets = {{0, 16}, {1, 16}};
    Machine.Aspi.Devices = {{0, 3, 0, &Writer}, {0, 5, 0, &Disk}};
    Machine.Aspi.DeviceTypeRequests = 0;
    TOpticalDevices Discovery;
    EXPECT_EQ(Machine.Aspi.DeviceTypeRequests, 2 * 16 * 8);
    EXPECT_EQ(Discovery.Aspi->Devices.size(), 2u);
    ASSERT_EQ(Discovery.Count(), 1);
    EXPECT_EQ(static_cast<TASPIdevice*>(Discovery.Devices[0])->Target, 3);

    // A library that reports no support is not chosen.
    Machine.Aspi.SupportStatus = 0;
    TOpticalDevices Fallback;
    EXPECT_EQ(Fallback.Transport, TransportSpti);
    EXPECT_TRUE(Fallback.Aspi->Devices.empty());
}

TEST(SptiWriter, EjectEraseAndCheckReady) {
    TWriterMachine M;
    auto Device = M.Device(false);
    M.Machine.Opened.clear();
    EXPECT_EQ(Device->Eject(), 0);
    EXPECT_EQ(M.Machine.Opened, std::vector<std::string>{"\\\\.\\E: r"});
    EXPECT_EQ(M.Machine.ControlCodes[M.Machine.ControlCodes.size() - 2], 0x2D4804u);
    M.Machine.EjectRefused = true;
    EXPECT_EQ(Device->Eject(), 10);

    // A closed disc is ready and reports itself complete.
    M.Writer.Disc = TSimulatedWriter::TDisc::Closed;
    TDeviceStatus Status;
    EXPECT_TRUE(Device->CheckReady(Status));
    EXPECT_EQ(Status.DiscState, 2);
    EXPECT_EQ(Status.Erasable, 1);

    int Polls = 0;
    M.Writer.Cdbs.clear();
    EXPECT_EQ(Device->Erase(
                  true, [](void* p) { ++*static_cast<int*>(p); }, &Polls),
              0);
    EXPECT_EQ(Polls, 3);
    EXPECT_EQ(M.Writer.Cdbs[0], Cdb({0xA1, 0x10}, 12));
    EXPECT_TRUE(Device->CheckReady(Status));
    EXPECT_EQ(Status.DiscState, 0);

    // A drive that is not a CD/DVD drive.
    M.Writer.InquiryByte0 = 0;
    TSPTIdevice Disk('E');
    Status = {};
    EXPECT_FALSE(Disk.CheckReady(Status));
    EXPECT_EQ(Status.ErrorStep, BurnStepNotCdDevice);
}

#include "fakes/DriveReplies.h"

// Garbled replies of every kind end in a result code, never in a read or
// write outside a buffer (the sanitizer build checks the latter).
TEST(DriveReplies, GarbledRepliesNeverPassForASuccessfulBurn) {
    TDriveRepliesOutcome Total;
    const auto Add = [&](const TBytes& Input) {
        const auto O = RunDriveReplies(Input.data(), Input.size());
        Total.Burns += O.Burns;
        Total.Succeeded += O.Succeeded;
        Total.FalseSuccesses += O.FalseSuccesses;
    };
    for (uint32_t Seed = 1; Seed <= 64; ++Seed)
        Add(RandomBytes(64 + Seed * 29, Seed));
    // All zero and all ones: zero-length buffers, huge free space and buffers.
    for (uint8_t Fill : {uint8_t(0x00), uint8_t(0xFF), uint8_t(0x01), uint8_t(0x09)})
        Add(TBytes(2000, Fill));
    // Replies left alone once the input runs out: the burn goes through.
    Add(TBytes{0x00});
    Add(TBytes{0x01});
    EXPECT_EQ(Total.FalseSuccesses, 0);
    EXPECT_GE(Total.Succeeded, 2);
    EXPECT_GT(Total.Burns, Total.Succeeded);
}
