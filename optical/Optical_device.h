#pragma once
// The abstract writer of CD images, behind which stand a drive reached through
// SCSI pass-through, a drive reached through the ASPI library, or a file (the
// image recorder), and the observer of a burn.
//
// Every operation reports by its result and by the status records below, never
// by an exception.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/Stream.h"

// Where CheckReady stopped and what it learnt about the disc.
struct TDeviceStatus {
    uint8_t ErrorStep = 0;  // burn step code of the failure (1, 2 or 3); untouched on success
    uint8_t ScsiResult = 0; // result of the command that failed
    uint8_t Erasable = 0;   // 0 or 1
    uint8_t DiscState = 0;  // 0 blank, 1 incomplete, 2 complete, 3 other
};

// Where Burn stopped: Step indexes the burn message table.
struct TBurnError {
    uint8_t Step = 0;
    uint8_t ScsiResult = 0; // result of that step's last command
};

// Burn step codes, the indexes of the burn message table.
enum : uint8_t {
    BurnStepNone = 0,
    BurnStepNotCdDevice = 1,
    BurnStepScsiError = 2,
    BurnStepNotReady = 3,
    BurnStepNotErasable = 4,
    BurnStepGetWriteParameters = 5,
    BurnStepSetWriteParameters = 6,
    BurnStepInvalidTrack = 7,
    BurnStepReadTrackInformation = 8,
    BurnStepFreeSpace = 9,
    BurnStepBufferCapacity = 10,
    BurnStepWrite = 11,
    BurnStepSynchronizeCache = 12,
    BurnStepCloseTrack = 13,
    BurnStepCloseSession = 14,
};

extern const std::array<std::string_view, 15> BurnMessages;

// The message of a step code; a code outside the table gets a neutral text
// rather than a read past its end.
std::string_view BurnMessage(int Step);

// Names of the peripheral device types, indexed by MapDeviceType's result.
extern const std::array<std::string_view, 13> DeviceTypeNames;

constexpr uint8_t DeviceTypeCdRom = 5;

// INQUIRY byte 0, qualifier bits included: below 10 unchanged, 31 becomes 10
// ("Invalid"), anything else 12 ("Other"). 11 is never produced.
uint8_t MapDeviceType(uint8_t InquiryByte0);

// The observer of a burn; every hook is empty here.
class TBurningIO {
public:
    virtual ~TBurningIO() = default;
    virtual void ReservedHook() {}
    // Stage, fraction of the source written, fraction of the drive buffer filled.
    virtual void Progress(uint8_t /*Stage*/, double /*Done*/, double /*BufferFill*/) {}
    // Reserved is always 0.
    virtual void StageStarted(uint8_t /*Stage*/, int32_t /*Reserved*/) {}
};

// Called after every poll while a drive blanks its disc in the background.
using TEraseCallback = void (*)(void* Argument);

class TOpticalDevice {
public:
    virtual ~TOpticalDevice() = default;

    virtual bool IsWriter() { return true; }
    virtual uint8_t Eject() { return 0; }
    virtual uint8_t Erase(bool /*Full*/, TEraseCallback /*Callback*/, void* /*Argument*/) {
        return 0;
    }
    virtual void ReservedOperation(int32_t /*First*/, int32_t /*Second*/) {}
    virtual uint8_t ReadCapabilities() { return 0; }
    // Answers whether a medium can be written now; Status says why not, and
    // what the disc holds.
    virtual bool CheckReady(TDeviceStatus& /*Status*/) { return false; }
    // Writes Source from position 0 to its end. Observer may be null.
    virtual bool Burn(TBurnError& /*Error*/, TStream& /*Source*/, TBurningIO* /*Observer*/) {
        return false;
    }

    uint8_t DeviceType = 0;
    std::string Name;     // product identification, " (", vendor identification, ")"
    std::string TypeName; // DeviceTypeNames entry of DeviceType
    char DriveLetter = ' ';
    bool ReadsCdR = false, ReadsCdRw = false, ReadsMethod2 = false;
    bool ReadsDvdRom = false, ReadsDvdR = false, ReadsDvdRam = false;
    int32_t MaxReadSpeed = 0; // kB/s divided by 176
    bool WritesCdR = false, WritesCdRw = false, TestWrite = false;
    bool WritesDvdR = false, WritesDvdRam = false;
    int32_t MaxWriteSpeed = 0; // kB/s divided by 176
};
