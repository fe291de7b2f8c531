#pragma once
// A simulated MMC CD writer answering at the level of SCSI commands, reached
// as an SPTI device (pass-through requests on "\\.\E:") and through a
// simulated ASPI library. It keeps a disc (blank, appendable, closed or
// none), a drive buffer whose fill rises with writes and drains while
// background commands are polled, and records every command and every block
// written. Faults are switched on by its fields.

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "fakes/FakePlatform.h"

class TSimulatedWriter {
public:
    // SCSI status answers.
    static constexpr uint8_t Good = 0, CheckCondition = 2, Busy = 8;
    enum class TDisc { None, Blank, Appendable, Closed };

    // Identity and capabilities.
    uint8_t InquiryByte0 = 5;
    std::string Vendor = "SIMCO", Product = "CD-RW  SIM 52X";
    uint8_t ReadCaps = 0x07;  // CD-R, CD-RW, Method 2
    uint8_t WriteCaps = 0x03; // CD-R, CD-RW
    uint16_t MaxReadKBs = 7056, MaxWriteKBs = 9152;

    // The disc.
    TDisc Disc = TDisc::Blank;
    bool Erasable = true;
    uint32_t FreeBlocks = 359849;
    uint32_t NextWritable = 0;
    uint8_t InvisibleTrackByte6 = 0x40; // blank, not packet
    std::array<uint8_t, 64> WriteParameters = DefaultWriteParameters();

    // The drive buffer.
    uint32_t BufferLength = 2 * 1024 * 1024;
    uint32_t BufferFill = 0;
    // Failed READ DISC INFORMATION polls while a background command runs.
    int PendingPolls = 3;

    // Faults.
    bool NotReady = false; // TEST UNIT READY fails
    bool Vanished = false; // the drive is gone: nothing opens or answers
    uint32_t FailWriteAtBlock = UINT32_MAX;
    std::map<uint8_t, uint8_t> Refuse; // opcode -> status answered instead
    std::set<uint8_t> ControlFails;    // opcode whose request itself fails
    bool Page05Error = false;          // MODE SENSE 05h answers an error but fills the page
    bool PollNeverCompletes = false;   // background commands never finish
    std::set<uint8_t> NeverCompletes;  // ASPI requests of these opcodes never complete
    // Rewrites a reply (opcode, bytes) before the transport sees it.
    std::function<void(uint8_t, std::span<uint8_t>)> ReplyOverride;

    // What happened.
    std::vector<std::vector<uint8_t>> Cdbs;
    std::vector<std::pair<uint32_t, uint32_t>> Writes; // address, blocks
    std::map<uint32_t, std::vector<uint8_t>> Blocks;
    std::vector<uint8_t> SelectedParameters; // the last MODE SELECT data
    int SessionsClosed = 0;
    bool NextSessionAllowed = false;
    std::vector<double> FillAfterPolls;

    // Simulated time, advanced by every command (milliseconds).
    uint64_t* Clock = nullptr;

    // Carries out one command; answers the SCSI status.
    uint8_t Execute(std::span<const uint8_t> Cdb, std::span<uint8_t> Data);
    // Blocks written from Address on, Count of them (zeros where nothing was).
    std::vector<uint8_t> Recorded(uint32_t Address, uint32_t Count) const;
    // The opcodes of every command so far, in order.
    std::vector<uint8_t> Opcodes() const;

    static std::array<uint8_t, 64> DefaultWriteParameters();

private:
    uint8_t Reply(uint8_t Opcode, std::span<uint8_t> Data, std::span<const uint8_t> Bytes);
    void Tick(uint64_t Milliseconds) {
        if (Clock) *Clock += Milliseconds;
    }
    int Pending = 0;
};

// The simulated ASPI library: adapters with their targets and LUNs.
class TSimulatedAspi : public TAspiLibrary {
public:
    struct TDevice {
        uint8_t Adapter, Target, Lun;
        TSimulatedWriter* Writer;
    };
    uint8_t SupportStatus = 1;
    uint8_t Adapters = 1;
    std::map<uint8_t, uint8_t> MaxTargets; // adapter -> inquiry byte 45 (default 8)
    std::vector<TDevice> Devices;
    bool CompleteAtOnce = false; // otherwise requests answer pending and signal their event

    std::vector<std::vector<uint8_t>> Blocks; // every block sent, as sent
    int DeviceTypeRequests = 0;
    int Aborts = 0;
    uint64_t* Clock = nullptr;

    uint32_t GetASPI32SupportInfo() override { return uint32_t(SupportStatus) << 8 | Adapters; }
    uint32_t SendASPI32Command(std::span<uint8_t> Block, std::span<uint8_t> Data) override;
    // The event's wait: true when its request has completed.
    bool Wait(uint32_t Handle, uint32_t Milliseconds);

private:
    TDevice* Find(uint8_t Adapter, uint8_t Target, uint8_t Lun);
    // Event handle -> the status byte of its request and the status it ends with.
    std::map<uint32_t, std::pair<uint8_t*, uint8_t>> Pending;
};

// The simulated machine with writers: SPTI drives by letter, the ASPI library,
// simulated time. Other drive letters may name non-CD devices.
class TWriterPlatform : public TFakePlatform {
public:
    std::map<char, TSimulatedWriter*> Drives;
    std::map<char, std::string> OtherDrives; // letter -> DOS device name, opens nothing
    TSimulatedAspi Aspi;
    bool HasAspi = false;
    uint64_t Ticks = 0;
    // Every pass-through request as the handle received it (input bytes).
    std::vector<std::vector<uint8_t>> Requests;
    std::vector<uint32_t> ControlCodes;
    bool EjectRefused = false;
    std::set<char> WriteDenied;      // opened read-write: access denied (no permission)
    std::vector<std::string> Opened; // device names, with "r" or "rw"

    TWriterPlatform() { Aspi.Clock = &Ticks; }
    // Adds a drive at Letter (and its clock).
    void AddDrive(char Letter, TSimulatedWriter& Writer) {
        Writer.Clock = &Ticks;
        Drives[Letter] = &Writer;
    }

    std::unique_ptr<TDeviceHandle> OpenDevice(std::string_view Name,
                                              const TDeviceAccess& Access) override;
    uint32_t LogicalDrives() override;
    std::vector<std::string> DosDeviceTargets(std::string_view DeviceName) override;
    // The drives' letters are CD-ROM drives to the system.
    TDriveType DriveType(char Letter) override {
        return Drives.count(Letter) ? DriveCdRom : TFakePlatform::DriveType(Letter);
    }
    uint64_t TickCount() override { return Ticks; }
    TAspiLibrary& AspiLibrary() override;
    std::unique_ptr<TEvent> CreateManualEvent() override;

    void SetLastError(uint32_t Code) { LastErrorCode = Code; }

private:
    uint32_t NextEvent = 0x100;
};
