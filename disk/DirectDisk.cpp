#include "disk/DirectDisk.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "base/ByteOrder.h"
#include "base/UserInterface.h"
#include "platform/Platform.h"

const std::array<TMediaRow, 5> MediaTable = {{
    {512, 1, 1, 2, 224, 2880, 0xF0, 9, 18, 2},
    {512, 2, 1, 2, 112, 720, 0xFD, 2, 9, 2},
    {512, 1, 1, 2, 224, 2400, 0xF9, 7, 15, 2},
    {512, 2, 1, 2, 112, 1440, 0xF9, 3, 9, 2},
    {512, 1, 1, 2, 224, 2880, 0xF0, 9, 18, 2},
}};

const char* const DirDiskBanner = "TDirectDisk V2.52. Raw floppy sector writer.";

namespace {

// Shared by every instance; open only during one DiskWrite.
std::unique_ptr<TDeviceHandle> Vwin32Device;
std::unique_ptr<TDeviceHandle> VolumeDevice;
bool CloseAfterUse = false;

uint32_t LargestMedium() {
    uint32_t Largest = 0;
    for (const TMediaRow& Row : MediaTable)
        Largest = std::max<uint32_t>(Largest, Row.TotalSectors);
    return Largest;
}

TDeviceAccess ReadWriteShared() {
    TDeviceAccess Access;
    Access.Read = Access.Write = true;
    Access.ShareRead = Access.ShareWrite = true;
    return Access;
}

} // namespace

TDirDisk::TDirDisk() : AboutText(DirDiskBanner) {
    SetDriveName('C');
}

TDirDisk::~TDirDisk() {
    CloseHandles();
}

bool TDirDisk::ReadFreeSpace(char Letter) {
    TDiskFreeSpace Space;
    if (!Platform().DiskFreeSpace(Letter, Space)) return false;
    ClusterSectors = Space.ClusterSectors;
    SectorBytes = Space.SectorBytes;
    FreeClusters = Space.FreeClusters;
    ClusterCount = Space.ClusterCount;
    return true;
}

void TDirDisk::SetDriveName(char Value) {
    const bool Letter = (Value >= 'A' && Value <= 'Z') || (Value >= 'a' && Value <= 'z');
    if (!Letter) return;
    const char Upper = Value >= 'a' ? char(Value - 'a' + 'A') : Value;
    if (ReadFreeSpace(Upper))
        Drive = Upper;
    else
        ReadFreeSpace(Drive);
}

void TDirDisk::SetFirstSector(uint32_t Value) {
    if (Value != First && Value < LargestMedium()) First = Value;
}

void TDirDisk::SetSectors(uint32_t Value) {
    if (Value != Count && uint64_t(First) + Value <= LargestMedium()) Count = Value;
}

void TDirDisk::SetRetries(uint8_t Value) {
    if (Value >= 1 && Value <= 25) RetryCount = Value;
}

bool TDirDisk::OpenVwin32() {
    if (!Vwin32Device) Vwin32Device = Platform().OpenDevice("\\\\.\\vwin32", ReadWriteShared());
    return Vwin32Device != nullptr;
}

bool TDirDisk::OpenVolume(char DriveLetter) {
    if (!VolumeDevice)
        VolumeDevice =
            Platform().OpenDevice(std::string("\\\\.\\") + DriveLetter + ":", ReadWriteShared());
    return VolumeDevice != nullptr;
}

void TakeVolume(TDeviceHandle& Volume) {
    uint32_t Returned = 0;
    Volume.Control(FsctlLockVolume, {}, {}, Returned);
    Volume.Control(FsctlDismountVolume, {}, {}, Returned);
}

void ReleaseVolume(TDeviceHandle& Volume) {
    uint32_t Returned = 0;
    Volume.Control(FsctlUnlockVolume, {}, {}, Returned);
}

void TDirDisk::BeginRawWrite(char DriveLetter) {
    EndRawWrite();
    if (DriveLetter >= 'a' && DriveLetter <= 'z') DriveLetter = char(DriveLetter - 'a' + 'A');
    if (Platform().Version().PlatformId != 2 || !OpenVolume(DriveLetter)) return;
    TakeVolume(*VolumeDevice);
    HoldingVolume = true;
}

void TDirDisk::EndRawWrite() {
    if (!HoldingVolume) return;
    HoldingVolume = false;
    if (VolumeDevice) ReleaseVolume(*VolumeDevice);
    CloseHandles();
}

void TDirDisk::CloseHandles() {
    Vwin32Device.reset();
    VolumeDevice.reset();
    CloseAfterUse = false;
}

uint8_t TDirDisk::CallInt13(uint32_t Eax, uint32_t Ebx, uint32_t Ecx, uint32_t Edx) {
    uint8_t Block[DiocRegistersSize] = {};
    PutLE32(Block + 0, Ebx);
    PutLE32(Block + 4, Edx);
    PutLE32(Block + 8, Ecx);
    PutLE32(Block + 12, Eax);
    PutLE32(Block + 24, 1); // carry preset: a driver that does nothing fails
    uint32_t Returned = 0;
    if (!Vwin32Device->Control(Vwin32DiocDosInt13, std::span<const uint8_t>(Block, sizeof Block),
                               std::span<uint8_t>(Block, sizeof Block), Returned))
        return 0xFF;
    if (GetLE32(Block + 24) & 1) return uint8_t(GetLE32(Block + 12) >> 8);
    return 0;
}

uint8_t TDirDisk::Int13Write(uint8_t DriveNumber, uint8_t Head, uint8_t Cylinder, uint8_t Sector,
                             const uint8_t* Source, uint8_t SectorCount) {
    if (!Vwin32Device) CloseAfterUse = OpenVwin32();
    uint8_t Status = 0xFF;
    if (Vwin32Device) {
        // VWIN32 runs only on 32-bit Windows, where an address fits EBX.
        const uint32_t Address = uint32_t(reinterpret_cast<uintptr_t>(Source));
        Status = CallInt13(0x0300u | SectorCount, Address, uint32_t(Cylinder) << 8 | Sector,
                           uint32_t(Head) << 8 | DriveNumber);
    }
    if (CloseAfterUse) CloseHandles();
    return Status;
}

bool TDirDisk::VolumeWrite(char DriveLetter, uint32_t Offset, const uint8_t* Buffer,
                           uint32_t Bytes) {
    if (!VolumeDevice) CloseAfterUse = OpenVolume(DriveLetter);
    if (!VolumeDevice) return false;
    uint32_t Returned = 0;
    if (NeedDiskLock && !VolumeDevice->Control(FsctlLockVolume, {}, {}, Returned)) return false;
    bool Written = false;
    if (VolumeDevice->Seek(Offset)) {
        for (int Attempt = 0; Attempt < RetryCount && !Written; ++Attempt) {
            const std::vector<uint8_t> Block(Buffer, Buffer + Bytes);
            uint32_t Done = 0;
            Written = VolumeDevice->Write(Block, Done) && Done == Bytes;
            // A short write moved the position: the next attempt starts over.
            if (!Written) VolumeDevice->Seek(Offset);
        }
    }
    bool Result = Written;
    // A failed write leaves the lock to the handle's close.
    if (NeedDiskLock && Written)
        Result = VolumeDevice->Control(FsctlUnlockVolume, {}, {}, Returned);
    if (CloseAfterUse) CloseHandles();
    return Result;
}

bool TDirDisk::DiskWrite(char DriveLetter, const uint8_t* Buffer, size_t BufferSize,
                         int MediaType) {
    try {
        if (DriveLetter >= 'a' && DriveLetter <= 'z') DriveLetter = char(DriveLetter - 'a' + 'A');
        if (Platform().DriveType(DriveLetter) != DriveRemovable ||
            (DriveLetter != 'A' && DriveLetter != 'B'))
            return false;
        if (MediaType < 0 || MediaType >= int(MediaTable.size())) return false;
        const TMediaRow& Row = MediaTable[size_t(MediaType)];
        // Never read past the caller's buffer.
        if (uint64_t(Count) * Row.BytesPerSector > BufferSize) return false;
        // Nor past the medium, whatever order the setters ran in.
        if (uint64_t(First) + Count > Row.TotalSectors) return false;
        if (NeedWriteWarn &&
            !SystemMsgWarning(std::string("Dangerous!\rDo you want to write to the drive ") +
                                  DriveLetter + ": really?",
                              "Attention"))
            return false;

        const uint32_t Family = Platform().Version().PlatformId;
        if (Family == 1) {
            if (!OpenVwin32()) return false;
            bool Result = false;
            uint32_t i = 0;
            while (i < Count) {
                const uint32_t s = First + i;
                const uint32_t Track = s / Row.TrackSectors;
                const uint8_t Head = uint8_t(Track % Row.Heads);
                const uint8_t Cylinder = uint8_t(Track / Row.Heads);
                const uint8_t Sector = uint8_t(s % Row.TrackSectors + 1);
                const uint8_t* Source = Buffer + size_t(Row.BytesPerSector) * i;
                uint8_t Request = 1;
                if (Row.TrackSectors + i <= Count) Request = uint8_t(Row.TrackSectors);
                i += Request;
                Result = false;
                for (int Attempt = 0; Attempt < RetryCount && !Result; ++Attempt)
                    Result = Int13Write(uint8_t(DriveLetter - 'A'), Head, Cylinder, Sector, Source,
                                        Request) == 0;
                if (!Result) break;
            }
            CloseHandles();
            return Result;
        }
        if (Family == 2) {
            bool Result = false;
            if (OpenVolume(DriveLetter))
                Result = VolumeWrite(DriveLetter, First * Row.BytesPerSector, Buffer,
                                     Count * Row.BytesPerSector);
            if (!HoldingVolume) CloseHandles();
            return Result;
        }
        return false;
    } catch (const std::exception&) {
        CloseHandles();
        return false;
    }
}
