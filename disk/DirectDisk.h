#pragma once
// TDirDisk writes a run of sectors straight onto the floppy in drive A: or
// B:, past the file system: BIOS INT 13h writes through VWIN32, a track per
// request, on the Windows 9x family; a volume handle, optionally locked, on
// the NT family. One program-wide instance; its device handles are shared
// by all instances and live only during one DiskWrite.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

class TDeviceHandle;

// One floppy BPB stretch, bytes per sector to heads.
struct TMediaRow {
    uint16_t BytesPerSector;
    uint8_t ClusterSectors;
    uint16_t ReservedSectors;
    uint8_t FatCopies;
    uint16_t RootEntries;
    uint16_t TotalSectors;
    uint8_t MediaByte;
    uint16_t FatSectors;
    uint16_t TrackSectors;
    uint16_t Heads;
};

// 1.44 MB, 360 KB, 1.2 MB, 720 KB, 1.44 MB; the floppy target passes row 4.
extern const std::array<TMediaRow, 5> MediaTable;
constexpr int FloppyMediaType = 4;

// Device control codes.
constexpr uint32_t Vwin32DiocDosInt13 = 4;
constexpr uint32_t FsctlLockVolume = 0x90018;
constexpr uint32_t FsctlUnlockVolume = 0x9001C;
constexpr uint32_t FsctlDismountVolume = 0x90020;
// A DIOC_REGISTERS block: EBX, EDX, ECX, EAX, EDI, ESI, flags.
constexpr size_t DiocRegistersSize = 28;

extern const char* const DirDiskBanner;

class TDirDisk {
public:
    TDirDisk();
    ~TDirDisk();

    const std::string& About() const { return AboutText; }
    void SetAbout(const std::string&) { AboutText = DirDiskBanner; }

    char DriveName() const { return Drive; }
    // Letters only; taken when the drive's free space can be read.
    void SetDriveName(char Value);
    bool ReadFreeSpace(char Letter);

    uint32_t FirstSector() const { return First; }
    uint32_t Sectors() const { return Count; }
    // Both are bounded by the largest medium of the media table (2,880
    // sectors), not by the file system's figures: a boot image covers every
    // sector, and an unformatted disk has no figures at all.
    void SetFirstSector(uint32_t Value);
    void SetSectors(uint32_t Value);

    bool NeedDiskLock = false;
    bool NeedWriteWarn = false;
    uint8_t Retries() const { return RetryCount; }
    void SetRetries(uint8_t Value); // 1 to 25

    uint32_t ClusterSectors = 0;
    uint32_t SectorBytes = 0;
    uint32_t FreeClusters = 0;
    uint32_t ClusterCount = 0;

    // Writes Sectors() sectors of Buffer (BufferSize bytes, at least
    // Sectors() x 512) from FirstSector() on; drive A: or B: only.
    bool DiskWrite(char DriveLetter, const uint8_t* Buffer, size_t BufferSize, int MediaType);

    // NT family: keeps the volume handle open, locked and dismounted, across
    // the DiskWrite calls of one raw image write; EndRawWrite unlocks and
    // closes it. Nothing on the 9x family.
    void BeginRawWrite(char DriveLetter);
    void EndRawWrite();

private:
    bool OpenVwin32();
    bool OpenVolume(char DriveLetter);
    void CloseHandles();
    uint8_t Int13Write(uint8_t DriveNumber, uint8_t Head, uint8_t Cylinder, uint8_t Sector,
                       const uint8_t* Source, uint8_t SectorCount);
    uint8_t CallInt13(uint32_t Eax, uint32_t Ebx, uint32_t Ecx, uint32_t Edx);
    bool VolumeWrite(char DriveLetter, uint32_t Offset, const uint8_t* Buffer, uint32_t Bytes);

    std::string AboutText;
    char Drive = 'C';
    uint32_t First = 0;
    uint32_t Count = 1;
    uint8_t RetryCount = 2;
    bool HoldingVolume = false;
};

// Windows since Vista refuses raw writes into the file-system area of a
// mounted volume, and a file system mounted before the write would go on
// serving the old contents. A raw writer takes the volume first (a lock
// refused because of open files still dismounts) and releases it after;
// the next file call then mounts what was written.
void TakeVolume(TDeviceHandle& Volume);
void ReleaseVolume(TDeviceHandle& Volume);

// BeginRawWrite and EndRawWrite for one scope.
class TRawWriteScope {
public:
    TRawWriteScope(TDirDisk& Disk, char DriveLetter) : Disk(Disk) {
        Disk.BeginRawWrite(DriveLetter);
    }
    ~TRawWriteScope() { Disk.EndRawWrite(); }
    TRawWriteScope(const TRawWriteScope&) = delete;
    TRawWriteScope& operator=(const TRawWriteScope&) = delete;

private:
    TDirDisk& Disk;
};
