#include "fakes/FakeDiskMachine.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/WindowsSticks.h"

namespace {

constexpr uint32_t ErrorInvalidFunction = 1, ErrorInvalidParameter = 87, ErrorNotReady = 21;

void Put32(std::span<uint8_t> Out, size_t At, uint32_t Value) {
    for (int i = 0; i < 4; ++i)
        Out[At + i] = uint8_t(Value >> (8 * i));
}

void Put64(std::span<uint8_t> Out, size_t At, uint64_t Value) {
    Put32(Out, At, uint32_t(Value));
    Put32(Out, At + 4, uint32_t(Value >> 32));
}

std::optional<uint32_t> DriveNumber(std::string_view Name) {
    const std::string Prefix = "\\\\.\\physicaldrive";
    std::string Lower(Name);
    for (char& c : Lower)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    if (Lower.rfind(Prefix, 0) != 0 || Lower.size() == Prefix.size()) return std::nullopt;
    const std::string Digits = Lower.substr(Prefix.size());
    if (!std::all_of(Digits.begin(), Digits.end(), ::isdigit)) return std::nullopt;
    return uint32_t(std::stoul(Digits));
}

std::optional<char> VolumeLetter(std::string_view Name) {
    if (Name.size() != 6 || Name.substr(0, 4) != "\\\\.\\" || Name[5] != ':') return std::nullopt;
    return char(std::toupper(static_cast<unsigned char>(Name[4])));
}

class TFakeDriveHandle : public TDeviceHandle {
public:
    TFakeDriveHandle(TFakeDiskMachine& M, uint32_t Number, bool Writer, uint32_t& Error)
        : M(M), Number(Number), Writer(Writer), Error(Error) {}
    ~TFakeDriveHandle() override {
        if (Writer) M.Log.push_back("close " + std::to_string(Number));
    }
    bool Seek(uint64_t Offset) override {
        Pos = Offset;
        return true;
    }
    bool Read(std::span<uint8_t> Buffer, uint32_t& Done) override {
        Done = 0;
        TFakePhysicalDrive& D = Drive();
        M.Log.push_back("read " + Where(Buffer.size()));
        if (!D.Present) return Fail(D.GoneError);
        if (Pos % D.SectorBytes || Buffer.size() % D.SectorBytes)
            return Fail(ErrorInvalidParameter);
        if (Pos + Buffer.size() > D.Bytes) return Fail(WinErrorSectorNotFound);
        const auto Bytes = M.Contents(Number, Pos, Buffer.size());
        std::copy(Bytes.begin(), Bytes.end(), Buffer.begin());
        Done = uint32_t(Buffer.size());
        Pos += Buffer.size();
        return true;
    }
    bool Write(std::span<const uint8_t> Buffer, uint32_t& Done) override {
        Done = 0;
        TFakePhysicalDrive& D = Drive();
        M.Log.push_back("write " + Where(Buffer.size()));
        if (!Writer) return Fail(WinErrorAccessDenied);
        if (!D.Present) return Fail(D.GoneError);
        if (D.WritesBeforeGone == 0) {
            D.Present = false;
            return Fail(D.GoneError);
        }
        if (D.ReadOnly) return Fail(WinErrorWriteProtect);
        if (Pos % D.SectorBytes || Buffer.size() % D.SectorBytes)
            return Fail(ErrorInvalidParameter);
        if (Pos + Buffer.size() > D.Bytes) return Fail(WinErrorSectorNotFound);
        // Since Vista, a mounted volume's sectors refuse raw writes.
        for (const TFakeVolume& V : M.Volumes)
            if (V.Disk == Number && V.Mounted) return Fail(WinErrorAccessDenied);
        if (D.WritesBeforeGone > 0) --D.WritesBeforeGone;
        for (size_t i = 0; i < Buffer.size(); i += D.SectorBytes)
            D.Sectors[(Pos + i) / D.SectorBytes].assign(Buffer.begin() + long(i),
                                                        Buffer.begin() + long(i + D.SectorBytes));
        Done = uint32_t(Buffer.size());
        Pos += Buffer.size();
        return true;
    }
    bool Flush() override {
        M.Log.push_back("flush " + std::to_string(Number));
        return Drive().Present || Fail(Drive().GoneError);
    }
    bool Control(uint32_t Code, std::span<const uint8_t>, std::span<uint8_t> Out,
                 uint32_t& Returned) override {
        Returned = 0;
        TFakePhysicalDrive& D = Drive();
        const std::string N = std::to_string(Number);
        switch (Code) {
        case IoctlStorageQueryProperty: {
            M.Log.push_back("query " + N);
            if (!D.Present) return Fail(D.GoneError);
            std::vector<uint8_t> Descriptor(40, 0);
            const uint32_t Vendor = uint32_t(Descriptor.size());
            Descriptor.insert(Descriptor.end(), D.Vendor.begin(), D.Vendor.end());
            Descriptor.push_back(0);
            const uint32_t Product = uint32_t(Descriptor.size());
            Descriptor.insert(Descriptor.end(), D.Product.begin(), D.Product.end());
            Descriptor.push_back(0);
            Put32(Descriptor, 0, 40);
            Put32(Descriptor, 4, uint32_t(Descriptor.size()));
            Descriptor[DescriptorRemovableMedia] = D.RemovableMedia;
            Put32(Descriptor, DescriptorVendorOffset, Vendor);
            Put32(Descriptor, DescriptorProductOffset, Product);
            Put32(Descriptor, DescriptorBusType, D.BusType);
            Returned = uint32_t(std::min(Out.size(), Descriptor.size()));
            std::copy_n(Descriptor.begin(), Returned, Out.begin());
            return true;
        }
        case IoctlDiskGetDriveGeometryEx:
            M.Log.push_back("geometry " + N);
            if (!D.Present) return Fail(ErrorNotReady);
            if (Out.size() < 32) return Fail(ErrorInvalidParameter);
            std::fill(Out.begin(), Out.end(), 0);
            Put32(Out, 20, D.SectorBytes);
            Put64(Out, 24, D.Bytes);
            Returned = 32;
            return true;
        case IoctlDiskIsWritable:
            M.Log.push_back("writable " + N);
            if (!D.Present) return Fail(D.GoneError);
            return !D.ReadOnly || Fail(WinErrorWriteProtect);
        case IoctlDiskUpdateProperties:
            M.Log.push_back("refresh " + N);
            return D.Present || Fail(D.GoneError);
        default:
            return Fail(ErrorInvalidFunction);
        }
    }

private:
    TFakePhysicalDrive& Drive() { return M.Drives.at(Number); }
    std::string Where(size_t Count) const {
        return std::to_string(Number) + " @" + std::to_string(Pos) + " +" + std::to_string(Count);
    }
    bool Fail(uint32_t Code) {
        Error = Code;
        return false;
    }

    TFakeDiskMachine& M;
    uint32_t Number;
    bool Writer;
    uint32_t& Error;
    uint64_t Pos = 0;
};

class TFakeVolumeHandle : public TDeviceHandle {
public:
    TFakeVolumeHandle(TFakeDiskMachine& M, char Letter, bool Writer, uint32_t& Error)
        : M(M), Letter(Letter), Writer(Writer), Error(Error) {}
    ~TFakeVolumeHandle() override {
        // Closing the handle that locked a volume ends the lock; the file
        // system mounts again on its next use.
        if (TFakeVolume* V = M.Volume(Letter); V && Locking) {
            V->Locked = false;
            V->Mounted = true;
        }
        if (Writer) M.Log.push_back(std::string("close ") + Letter + ":");
    }
    bool Seek(uint64_t) override { return true; }
    bool Read(std::span<uint8_t>, uint32_t& Done) override {
        Done = 0;
        return Fail(ErrorInvalidFunction);
    }
    bool Write(std::span<const uint8_t>, uint32_t& Done) override {
        Done = 0;
        return Fail(ErrorInvalidFunction);
    }
    bool Control(uint32_t Code, std::span<const uint8_t>, std::span<uint8_t> Out,
                 uint32_t& Returned) override {
        Returned = 0;
        TFakeVolume& V = *M.Volume(Letter);
        const std::string Name = std::string(1, Letter) + ":";
        switch (Code) {
        case IoctlVolumeGetVolumeDiskExtents:
            if (Out.size() < 32) return Fail(ErrorInvalidParameter);
            std::fill(Out.begin(), Out.end(), 0);
            Put32(Out, 0, 1);
            Put32(Out, 8, V.Disk);
            Put64(Out, 16, 1 << 20);
            Put64(Out, 24, 1 << 20);
            Returned = 32;
            return true;
        case FsctlLockVolumeCode:
            M.Log.push_back("lock " + Name);
            if (!Writer) return Fail(WinErrorAccessDenied);
            if (V.InUse || V.Locked) return Fail(WinErrorAccessDenied);
            V.Locked = Locking = true;
            return true;
        case FsctlDismountVolumeCode:
            M.Log.push_back("dismount " + Name);
            if (!Writer) return Fail(WinErrorAccessDenied);
            V.Mounted = false;
            return true;
        case FsctlUnlockVolumeCode:
            M.Log.push_back("unlock " + Name);
            if (!Locking) return Fail(ErrorNotLocked);
            V.Locked = Locking = false;
            V.Mounted = true;
            return true;
        default:
            return Fail(ErrorInvalidFunction);
        }
    }

private:
    static constexpr uint32_t ErrorNotLocked = 158;
    bool Fail(uint32_t Code) {
        Error = Code;
        return false;
    }

    TFakeDiskMachine& M;
    char Letter;
    bool Writer;
    uint32_t& Error;
    bool Locking = false;
};

} // namespace

bool TFakeDiskMachine::Owns(std::string_view Name) const {
    if (const auto Number = DriveNumber(Name)) return Drives.count(*Number) != 0;
    if (const auto Letter = VolumeLetter(Name))
        return std::any_of(Volumes.begin(), Volumes.end(),
                           [&](const TFakeVolume& V) { return V.Letter == *Letter; });
    return false;
}

std::unique_ptr<TDeviceHandle>
TFakeDiskMachine::Open(std::string_view Name, const TDeviceAccess& Access, uint32_t& Error) {
    if (Access.Write) Log.push_back("open " + std::string(Name) + " rw");
    if (const auto Number = DriveNumber(Name)) {
        if (!Drives.at(*Number).Present) {
            Error = WinErrorFileNotFound;
            return nullptr;
        }
        return std::make_unique<TFakeDriveHandle>(*this, *Number, Access.Write, Error);
    }
    return std::make_unique<TFakeVolumeHandle>(*this, *VolumeLetter(Name), Access.Write, Error);
}

uint32_t TFakeDiskMachine::LetterMask() const {
    uint32_t Mask = 0;
    for (const TFakeVolume& V : Volumes)
        Mask |= 1u << (V.Letter - 'A');
    return Mask;
}

TFakeVolume* TFakeDiskMachine::Volume(char Letter) {
    for (TFakeVolume& V : Volumes)
        if (V.Letter == Letter) return &V;
    return nullptr;
}

std::vector<uint8_t> TFakeDiskMachine::Contents(uint32_t Number, uint64_t Offset,
                                                size_t Count) const {
    const TFakePhysicalDrive& D = Drives.at(Number);
    std::vector<uint8_t> Bytes(Count, 0);
    for (size_t i = 0; i < Count; ++i) {
        const uint64_t At = Offset + i;
        const auto Found = D.Sectors.find(At / D.SectorBytes);
        if (Found != D.Sectors.end()) Bytes[i] = Found->second[At % D.SectorBytes];
    }
    return Bytes;
}

std::vector<std::string> TFakeDiskMachine::Logged(const std::vector<std::string>& Prefixes) const {
    std::vector<std::string> Kept;
    for (const std::string& Entry : Log)
        for (const std::string& Prefix : Prefixes)
            if (Entry.rfind(Prefix, 0) == 0) {
                Kept.push_back(Entry);
                break;
            }
    return Kept;
}
