#pragma once
// The SCSI/MMC commands sent to a CD/DVD drive, the one-byte ScsiResult
// they end in, the polling of commands a drive finishes in the background,
// and the burn sequence. Both transports carry the same commands: SPTI in a
// pass-through request on a device handle, ASPI in a request block.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "base/Stream.h"
#include "optical/Optical_device.h"

// ScsiResult of a request: its status (ASPI's block status, SPTI's SCSI
// status), the host adapter status and the target status (0 on SPTI).
uint8_t ScsiResultOf(uint8_t RequestStatus, uint8_t HostStatus, uint8_t TargetStatus);

// Results the transports give themselves.
constexpr uint8_t ScsiResultControlFailed = 5; // the SPTI request itself failed
constexpr uint8_t ScsiResultTimedOut = 27;     // not complete within its wait

enum class TScsiData : uint8_t { None, In, Out };

// One command as a transport carries it.
struct TScsiCommand {
    std::array<uint8_t, 16> Cdb{};
    uint8_t CdbLength = 10;
    TScsiData Direction = TScsiData::None;
    std::span<uint8_t> Data;       // the command's data length is Data.size()
    uint32_t TimeoutSeconds = 120; // SPTI's timeout
    // Accepted at once and finished in the background (no time limit on ASPI).
    bool Immediate = false;
    // SPTI shows the system's text when the request itself fails.
    bool ShowsControlError = false;
};

// A drive as one transport reaches it: an open device handle (SPTI) or an
// adapter, target and LUN (ASPI).
class TScsiDrive {
public:
    virtual ~TScsiDrive() = default;
    virtual uint8_t Execute(const TScsiCommand& Command) = 0;
    // ASPI puts the LUN into byte 1 of the mode commands and reads the
    // capabilities without block descriptors.
    virtual bool IsAspi() const { return false; }
    virtual uint8_t Lun() const { return 0; }
};

// Called while an immediate command is pending, after every failed poll.
using TPollCallback = std::function<void()>;

// The longest wait for an immediate command; then it fails with ScsiResultTimedOut.
constexpr uint64_t PollLimitMilliseconds = 60ull * 60 * 1000;

// Data lengths of the commands.
constexpr uint32_t InquiryLength = 165;
constexpr uint32_t CapabilitiesLength = 159;
constexpr uint32_t WriteParametersLength = 64;
constexpr uint32_t DiscInformationLength = 34;
constexpr uint32_t TrackInformationLength = 28;
constexpr uint32_t BufferCapacityLength = 12;
constexpr uint32_t BlockBytes = 2048;

uint8_t TestUnitReady(TScsiDrive& Drive);
uint8_t Inquiry(TScsiDrive& Drive, std::span<uint8_t, InquiryLength> Data);
// Page 2Ah; the 16-bit speed fields come back in host order.
uint8_t ModeSenseCapabilities(TScsiDrive& Drive, std::span<uint8_t, CapabilitiesLength> Data);
uint8_t ModeSenseWriteParameters(TScsiDrive& Drive, std::span<uint8_t, WriteParametersLength> Data);
// Sends Data (mode header and page); its mode data length is cleared first.
uint8_t ModeSelect(TScsiDrive& Drive, std::span<uint8_t> Data);
uint8_t ReadDiscInformation(TScsiDrive& Drive, std::span<uint8_t, DiscInformationLength> Data,
                            uint32_t TimeoutSeconds = 120);
uint8_t ReadTrackInformation(TScsiDrive& Drive, uint32_t Track,
                             std::span<uint8_t, TrackInformationLength> Data);
uint8_t ReadBufferCapacity(TScsiDrive& Drive, std::span<uint8_t, BufferCapacityLength> Data);
uint8_t Write10(TScsiDrive& Drive, uint32_t Address, uint16_t Blocks, std::span<uint8_t> Data);
// Reads whole blocks back (to check a burned disc).
uint8_t Read10(TScsiDrive& Drive, uint32_t Address, uint16_t Blocks, std::span<uint8_t> Data);
uint8_t SynchronizeCache(TScsiDrive& Drive, const TPollCallback& Poll);
uint8_t CloseTrack(TScsiDrive& Drive, const TPollCallback& Poll);
uint8_t CloseSession(TScsiDrive& Drive, const TPollCallback& Poll);
// PollTimeoutSeconds: the READ DISC INFORMATION timeout while waiting.
uint8_t Blank(TScsiDrive& Drive, bool Full, const TPollCallback& Poll,
              uint32_t PollTimeoutSeconds = 120);
uint8_t StartStopUnitEject(TScsiDrive& Drive);

// Name, DeviceType and TypeName from INQUIRY data.
void ApplyInquiry(TOpticalDevice& Device, std::span<const uint8_t, InquiryLength> Data);
// The capability fields from a capabilities buffer (speeds in host order).
void ApplyCapabilities(TOpticalDevice& Device, std::span<const uint8_t, CapabilitiesLength> Data);

// TEST UNIT READY, the type check and READ DISC INFORMATION.
bool CheckDriveReady(TScsiDrive& Drive, const TOpticalDevice& Device, TDeviceStatus& Status);

// Writes Source from its position to its end onto the disc and closes the
// track and the session, reporting to Observer. False at the first failed
// step, which Error names.
bool BurnSequence(TScsiDrive& Drive, TBurnError& Error, TStream& Source, TBurningIO& Observer);

// A TOpticalDevice reached through a SCSI transport: what both transports
// share. OpenDrive gives the drive for one operation, null when it cannot
// be reached.
class TScsiOpticalDevice : public TOpticalDevice {
public:
    bool IsWriter() override;
    uint8_t Erase(bool Full, TEraseCallback Callback, void* Argument) override;
    uint8_t ReadCapabilities() override;
    bool CheckReady(TDeviceStatus& Status) override;
    bool Burn(TBurnError& Error, TStream& Source, TBurningIO* Observer) override;

    // Reads blocks back from the disc; ScsiResult (5 when the drive cannot be opened).
    uint8_t ReadBlocks(uint32_t Address, uint16_t Blocks, std::span<uint8_t> Data);
    // Where the last successful or failed burn began writing.
    uint32_t LastBurnStart = 0;

    // What INQUIRY said: the type byte, bytes 1, 2, 3 and 7, vendor and product.
    std::array<uint8_t, 5> InquirySummary{};
    std::string Vendor, Product;
    std::array<uint8_t, CapabilitiesLength> Capabilities{};

protected:
    // INQUIRY and the capabilities page, at construction.
    void Identify();
    virtual std::unique_ptr<TScsiDrive> OpenDrive() = 0;
    // The observer used when Burn is given none.
    virtual TBurningIO& DefaultObserver() = 0;
    // The READ DISC INFORMATION timeout while an erase is polled.
    virtual uint32_t ErasePollTimeout() const { return 120; }
    // SPTI keeps the fields when the drive cannot be opened or the read fails;
    // ASPI takes them from the (cleared) buffer whatever the result.
    virtual bool CapabilitiesOnFailure() const { return false; }
};
