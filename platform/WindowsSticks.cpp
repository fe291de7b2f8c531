#include "platform/WindowsSticks.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>

#include "platform/StickChecks.h"

namespace {

constexpr uint32_t MaxDrives = 64, MissingRun = 8;
constexpr size_t Chunk = 1 << 20; // bytes per transfer request

uint32_t Get32(const std::vector<uint8_t>& Bytes, size_t At) {
    if (At + 4 > Bytes.size()) return 0;
    return uint32_t(Bytes[At]) | uint32_t(Bytes[At + 1]) << 8 | uint32_t(Bytes[At + 2]) << 16 |
           uint32_t(Bytes[At + 3]) << 24;
}

uint64_t Get64(const std::vector<uint8_t>& Bytes, size_t At) {
    return uint64_t(Get32(Bytes, At)) | uint64_t(Get32(Bytes, At + 4)) << 32;
}

// A NUL-terminated string at Offset of the descriptor, trimmed.
std::string DescriptorText(const std::vector<uint8_t>& Bytes, uint32_t Offset) {
    if (Offset == 0 || Offset >= Bytes.size()) return {};
    std::string Text;
    for (size_t i = Offset; i < Bytes.size() && Bytes[i]; ++i)
        Text += char(Bytes[i]);
    while (!Text.empty() && std::isspace(static_cast<unsigned char>(Text.back())))
        Text.pop_back();
    size_t Start = 0;
    while (Start < Text.size() && std::isspace(static_cast<unsigned char>(Text[Start])))
        ++Start;
    return Text.substr(Start);
}

TDeviceAccess QueryOnly() {
    TDeviceAccess Access;
    Access.Read = false; // no rights needed for the questions asked
    return Access;
}

TDeviceAccess ReadWrite() {
    TDeviceAccess Access;
    Access.Write = true;
    return Access;
}

bool Ask(TDeviceHandle& Device, uint32_t Code, std::span<const uint8_t> In,
         std::vector<uint8_t>& Out) {
    uint32_t Returned = 0;
    if (!Device.Control(Code, In, Out, Returned)) return false;
    Out.resize(std::min<size_t>(Out.size(), Returned));
    return true;
}

// Drive letter -> the numbers of the physical drives its volume lies on.
std::map<char, std::vector<uint32_t>> VolumeDisks(TPlatform& P) {
    std::map<char, std::vector<uint32_t>> Volumes;
    const uint32_t Mask = P.LogicalDrives();
    for (char Letter = 'A'; Letter <= 'Z'; ++Letter) {
        if (!(Mask & 1u << (Letter - 'A'))) continue;
        // Network drives and CD/DVD drives hold no volume of a disk.
        const TDriveType Type = P.DriveType(Letter);
        if (Type != DriveRemovable && Type != DriveFixed) continue;
        auto Volume = P.OpenDevice(std::string("\\\\.\\") + Letter + ":", QueryOnly());
        if (!Volume) continue;
        std::vector<uint8_t> Extents(8 + 24 * 32);
        if (!Ask(*Volume, IoctlVolumeGetVolumeDiskExtents, {}, Extents)) continue;
        const uint32_t Count =
            std::min<uint32_t>(Get32(Extents, 0), uint32_t((Extents.size() - 8) / 24));
        for (uint32_t i = 0; i < Count; ++i)
            Volumes[Letter].push_back(Get32(Extents, 8 + 24 * i));
    }
    return Volumes;
}

bool OnDisk(const std::vector<uint32_t>& Disks, uint32_t Number) {
    return std::find(Disks.begin(), Disks.end(), Number) != Disks.end();
}

// The drive's answers; empty when it cannot be opened (it does not exist).
std::optional<TStickDevice> QueryDrive(TPlatform& P, uint32_t Number,
                                       const std::map<char, std::vector<uint32_t>>& Volumes) {
    auto Drive = P.OpenDevice(PhysicalDriveName(Number), QueryOnly());
    if (!Drive) return std::nullopt;
    TStickDevice Disk;
    Disk.Node = PhysicalDriveName(Number);
    // STORAGE_PROPERTY_QUERY: StorageDeviceProperty, PropertyStandardQuery.
    const std::vector<uint8_t> Query(12, 0);
    std::vector<uint8_t> Descriptor(1024);
    if (Ask(*Drive, IoctlStorageQueryProperty, Query, Descriptor) &&
        Descriptor.size() >= DescriptorBusType + 4) {
        Disk.Removable = Descriptor[DescriptorRemovableMedia] != 0;
        Disk.Usb = Get32(Descriptor, DescriptorBusType) == StorageBusUsb;
        Disk.Vendor = DescriptorText(Descriptor, Get32(Descriptor, DescriptorVendorOffset));
        Disk.Model = DescriptorText(Descriptor, Get32(Descriptor, DescriptorProductOffset));
    }
    // DISK_GEOMETRY_EX: BytesPerSector at 20, DiskSize at 24. A reader
    // without a card answers nothing: no medium.
    std::vector<uint8_t> Geometry(256);
    if (Ask(*Drive, IoctlDiskGetDriveGeometryEx, {}, Geometry) && Geometry.size() >= 32) {
        Disk.SectorBytes = Get32(Geometry, 20) ? Get32(Geometry, 20) : 512;
        Disk.Bytes = Get64(Geometry, 24);
    }
    uint32_t Returned = 0;
    if (!Drive->Control(IoctlDiskIsWritable, {}, {}, Returned) &&
        P.LastError() == WinErrorWriteProtect)
        Disk.ReadOnly = true;
    const std::string Windows = P.WindowsDirectory();
    const char SystemLetter = Windows.size() >= 2 && Windows[1] == ':'
                                  ? char(std::toupper(static_cast<unsigned char>(Windows[0])))
                                  : 0;
    for (const auto& [Letter, Disks] : Volumes) {
        if (!OnDisk(Disks, Number)) continue;
        Disk.MountPoints.push_back(std::string(1, Letter) + ":");
        if (Letter == SystemLetter) Disk.SystemDisk = true;
    }
    return Disk;
}

// Number of "PhysicalDriveN" or "\\.\PhysicalDriveN".
std::optional<uint32_t> DriveNumberOf(std::string_view Node) {
    std::string Name(Node);
    for (char& c : Name)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    if (Name.rfind("\\\\.\\", 0) == 0) Name = Name.substr(4);
    const std::string Prefix = "physicaldrive";
    if (Name.rfind(Prefix, 0) != 0 || Name.size() == Prefix.size() ||
        Name.size() > Prefix.size() + 3)
        return std::nullopt;
    const std::string Digits = Name.substr(Prefix.size());
    if (!std::all_of(Digits.begin(), Digits.end(), ::isdigit)) return std::nullopt;
    return uint32_t(std::stoul(Digits));
}

// The physical drive, open for writing, with its volumes held locked and
// dismounted until it is closed.
class TWindowsDisk : public TDiskHandle {
public:
    TWindowsDisk(TPlatform& P, std::unique_ptr<TDeviceHandle> Drive,
                 std::vector<std::pair<char, std::unique_ptr<TDeviceHandle>>> Volumes,
                 uint64_t Size, uint32_t SectorBytes, uint32_t& Error)
        : P(P), Drive(std::move(Drive)), Volumes(std::move(Volumes)), Size(Size),
          Sector(SectorBytes ? SectorBytes : 512), Error(Error) {}
    ~TWindowsDisk() override {
        Drive.reset();
        uint32_t Returned = 0;
        for (auto& [Letter, Volume] : Volumes)
            Volume->Control(FsctlUnlockVolumeCode, {}, {}, Returned);
    }

    uint64_t Bytes() const override { return Size; }

    // The drive takes whole sectors only: a piece that begins or ends inside
    // a sector is merged into what the sector holds.
    bool WriteAt(uint64_t Offset, std::span<const uint8_t> Data) override {
        if (Spent) return Fail(SpentError);
        if (!Inside(Offset, Data.size())) return Fail(WinErrorSectorNotFound);
        std::vector<uint8_t> Piece;
        while (!Data.empty()) {
            const uint64_t Within = Offset % Sector;
            size_t Take;
            bool Ok;
            if (Within != 0 || Data.size() < Sector) {
                Take = size_t(std::min<uint64_t>(Sector - Within, Data.size()));
                Piece.assign(Sector, 0);
                Ok = Transfer(Offset - Within, Piece, false) &&
                     (std::copy_n(Data.begin(), Take, Piece.begin() + long(Within)),
                      Transfer(Offset - Within, Piece, true));
            } else {
                Take = std::min(Data.size() / Sector * Sector, Chunk);
                Ok = Transfer(Offset, {const_cast<uint8_t*>(Data.data()), Take}, true);
            }
            if (!Ok) {
                // Nothing more goes to a drive that refused a write.
                Spent = true;
                SpentError = Error;
                return false;
            }
            Offset += Take;
            Data = Data.subspan(Take);
        }
        return true;
    }

    bool ReadAt(uint64_t Offset, std::span<uint8_t> Data) override {
        if (!Inside(Offset, Data.size())) return Fail(WinErrorSectorNotFound);
        std::vector<uint8_t> Piece;
        while (!Data.empty()) {
            const uint64_t Start = Offset / Sector * Sector;
            const uint64_t End = std::min<uint64_t>(
                (Offset + Data.size() + Sector - 1) / Sector * Sector, Start + Chunk);
            Piece.resize(size_t(End - Start));
            if (!Transfer(Start, Piece, false)) return false;
            const size_t Take = size_t(std::min<uint64_t>(End - Offset, Data.size()));
            std::copy_n(Piece.begin() + long(Offset - Start), Take, Data.begin());
            Offset += Take;
            Data = Data.subspan(Take);
        }
        return true;
    }

    bool Flush() override { return Drive->Flush() || Fail(P.LastError()); }

    bool Refresh() override {
        uint32_t Returned = 0;
        return Drive->Control(IoctlDiskUpdateProperties, {}, {}, Returned) || Fail(P.LastError());
    }

private:
    bool Inside(uint64_t Offset, size_t Count) const {
        return Offset <= Size && Count <= Size - Offset;
    }
    bool Fail(uint32_t Code) {
        Error = Code ? Code : WinErrorWriteFault;
        return false;
    }
    // Whole sectors at Offset.
    bool Transfer(uint64_t Offset, std::span<uint8_t> Buffer, bool Write) {
        if (!Drive->Seek(Offset)) return Fail(P.LastError());
        uint32_t Done = 0;
        const bool Ok = Write ? Drive->Write(Buffer, Done) : Drive->Read(Buffer, Done);
        if (!Ok) return Fail(P.LastError());
        // The drive ended before the buffer did.
        if (Done != Buffer.size()) return Fail(WinErrorSectorNotFound);
        return true;
    }

    TPlatform& P;
    std::unique_ptr<TDeviceHandle> Drive;
    std::vector<std::pair<char, std::unique_ptr<TDeviceHandle>>> Volumes;
    uint64_t Size;
    uint32_t Sector;
    uint32_t& Error;
    bool Spent = false;
    uint32_t SpentError = 0;
};

} // namespace

std::string PhysicalDriveName(uint32_t Number) {
    return "\\\\.\\PhysicalDrive" + std::to_string(Number);
}

std::vector<TStickDevice> WindowsStickDevices(TPlatform& P) {
    const auto Volumes = VolumeDisks(P);
    std::vector<TStickDevice> Sticks;
    uint32_t Missing = 0;
    for (uint32_t Number = 0; Number < MaxDrives && Missing < MissingRun; ++Number) {
        auto Disk = QueryDrive(P, Number, Volumes);
        if (!Disk) {
            ++Missing;
            continue;
        }
        Missing = 0;
        if ((Disk->Usb || Disk->Removable) && !Disk->SystemDisk) Sticks.push_back(std::move(*Disk));
    }
    return Sticks;
}

std::optional<TStickDevice> DescribeWindowsStick(TPlatform& P, std::string_view Node,
                                                 std::string& Problem) {
    const std::string Name(Node);
    std::optional<uint32_t> Number = DriveNumberOf(Node);
    const bool Letter = (Name.size() == 2 || (Name.size() == 3 && Name[2] == '\\')) &&
                        std::isalpha(static_cast<unsigned char>(Name[0])) && Name[1] == ':';
    if (!Number && Letter) {
        const char Upper = char(std::toupper(static_cast<unsigned char>(Name[0])));
        const auto Volumes = VolumeDisks(P);
        const auto Found = Volumes.find(Upper);
        if (Found == Volumes.end() || Found->second.empty()) {
            Problem = std::string(1, Upper) + ": is no volume of a disk here";
            return std::nullopt;
        }
        if (Found->second.size() > 1 &&
            std::any_of(Found->second.begin(), Found->second.end(),
                        [&](uint32_t N) { return N != Found->second.front(); })) {
            Problem = std::string(1, Upper) + ": spans several disks; name one PhysicalDriveN";
            return std::nullopt;
        }
        Number = Found->second.front();
    }
    if (Number) {
        if (auto Disk = QueryDrive(P, *Number, VolumeDisks(P))) return Disk;
        Problem =
            PhysicalDriveName(*Number) + ": no such disk (" + P.ErrorText(P.LastError()) + ")";
        return std::nullopt;
    }
    if (P.FileExists(Name)) {
        TStickDevice File;
        File.Node = Name;
        File.ImageFile = true;
        File.ReadOnly = P.FileReadOnly(Name);
        if (auto Stream = P.OpenFileRead(Name))
            File.Bytes = uint64_t(std::max<int64_t>(0, Stream->Seek(0, TSeekOrigin::End)));
        return File;
    }
    Problem = Name + ": no such disk or file";
    return std::nullopt;
}

std::unique_ptr<TDiskHandle> OpenWindowsStick(TPlatform& P, const TStickDevice& Device,
                                              bool AnyDisk, uint32_t& Error, std::string& Problem) {
    if (Device.ImageFile) return P.OpenDiskImage(Device.Node, 0, Problem);
    // The checks run on the disk as it is now, not as the caller saw it.
    const auto Fresh = DescribeWindowsStick(P, Device.Node, Problem);
    if (!Fresh) return nullptr;
    if (Fresh->ImageFile) return P.OpenDiskImage(Fresh->Node, 0, Problem);
    if (const std::string Refusal = StickRefusal(*Fresh, AnyDisk, false); !Refusal.empty()) {
        Problem = Fresh->Node + " " + Refusal;
        return nullptr;
    }
    // Each volume on the disk is locked and dismounted; the handles keep
    // them so (and are released on every way out) until the disk closes.
    struct THeld {
        std::vector<std::pair<char, std::unique_ptr<TDeviceHandle>>> Volumes;
        ~THeld() {
            uint32_t Returned = 0;
            for (auto& [Letter, Volume] : Volumes)
                if (Volume) Volume->Control(FsctlUnlockVolumeCode, {}, {}, Returned);
        }
    } Held;
    for (const std::string& Mount : Fresh->MountPoints) {
        const char Letter = Mount[0];
        const std::string Name = "volume " + Mount + " of " + Fresh->Node;
        auto Volume = P.OpenDevice("\\\\.\\" + Mount, ReadWrite());
        if (!Volume) {
            Error = P.LastError();
            Problem = Name + " cannot be opened: " + P.ErrorText(Error);
            return nullptr;
        }
        uint32_t Returned = 0;
        if (!Volume->Control(FsctlLockVolumeCode, {}, {}, Returned)) {
            Error = P.LastError();
            Problem = Name + " is in use (a program has files open on it) and cannot be locked; "
                             "close them and try again";
            return nullptr;
        }
        Held.Volumes.emplace_back(Letter, std::move(Volume));
        if (!Held.Volumes.back().second->Control(FsctlDismountVolumeCode, {}, {}, Returned)) {
            Error = P.LastError();
            Problem = Name + " cannot be dismounted: " + P.ErrorText(Error);
            return nullptr;
        }
    }
    auto Drive = P.OpenDevice(Fresh->Node, ReadWrite());
    if (!Drive) {
        Error = P.LastError();
        Problem = Fresh->Node + " cannot be opened for writing: " +
                  (Error == WinErrorAccessDenied
                       ? "access denied (writing a whole disk needs a program run as administrator)"
                       : P.ErrorText(Error));
        return nullptr;
    }
    return std::make_unique<TWindowsDisk>(P, std::move(Drive), std::move(Held.Volumes),
                                          Fresh->Bytes, Fresh->SectorBytes, Error);
}
