#pragma once
// A CD/DVD drive on Linux: every command goes to the /dev/sr* node as one
// SG_IO request built straight from the portable command. The open node is
// also the device handle that locks the tray and ejects, and the drive-letter
// layer finds the drive in the handle it opened. Building the request and
// reading its result back are apart from the ioctl so both can be checked
// against the kernel's own structure without a drive.

#include <scsi/sg.h>

#include <cstdint>
#include <span>

#include "optical/ScsiCommands.h"
#include "platform/Platform.h"

// Sense bytes asked for with every command.
constexpr size_t SgSenseBytes = 32;

// Fills Io for Command; the drive's sense data is to go into Sense. Io
// points into Command, its data and Sense, which must outlive it. False
// when the command cannot be sent as it is (no CDB, or one longer than 16).
bool BuildSgRequest(const TScsiCommand& Command, std::span<uint8_t> Sense, sg_io_hdr_t& Io);

// What a request the kernel carried out came to.
struct TSgOutcome {
    // False: the command did not reach its end on the drive; Error says why.
    bool Delivered = false;
    uint32_t Error = 0;       // a Windows error code, as the rest of the layer
    uint8_t ScsiStatus = 0;   // CHECK CONDITION also when only the sense told of a fault
    uint8_t SenseKey = 0;     // 0 when no sense came back
    uint8_t SenseLength = 0;  // sense bytes the drive wrote
    uint32_t Transferred = 0; // data bytes moved
};

TSgOutcome ReadSgResult(const sg_io_hdr_t& Io);

class TSgDrive : public TDeviceHandle, public TScsiDrive {
public:
    // Takes over Fd; LastError receives the Windows code of every failure.
    TSgDrive(int Fd, uint32_t& LastError) : Fd(Fd), LastError(LastError) {}
    ~TSgDrive() override;
    TSgDrive(const TSgDrive&) = delete;
    TSgDrive& operator=(const TSgDrive&) = delete;

    bool Seek(uint64_t Offset) override;
    bool Read(std::span<uint8_t> Buffer, uint32_t& Done) override;
    bool Write(std::span<const uint8_t> Buffer, uint32_t& Done) override;
    // The tray lock and eject; commands go through Execute, never here.
    bool Control(uint32_t Code, std::span<const uint8_t> In, std::span<uint8_t> Out,
                 uint32_t& Returned) override;

    uint8_t Execute(const TScsiCommand& Command) override;

    int Descriptor() const { return Fd; }

protected:
    // Hands Io to the kernel: 0, or -1 with errno set.
    virtual int Transfer(sg_io_hdr_t& Io);

private:
    bool Fail(int Errno);
    uint8_t ControlFailed(const TScsiCommand& Command, uint32_t Error);
    int Fd;
    uint32_t& LastError;
};
