#include "fakes/FakeFloppyDrive.h"

#include <cstring>

#include "base/ByteOrder.h"
#include "floppy/FloppyDirectory.h"

namespace {

constexpr uint32_t ErrorFileNotFound = 2;
constexpr uint32_t ErrorWriteProtect = 19;
constexpr uint32_t ErrorNotReady = 21;
constexpr uint32_t ErrorWriteFault = 29;
constexpr uint32_t ErrorUnrecognizedVolume = 1005;

class TVolumeHandle : public TDeviceHandle {
public:
    explicit TVolumeHandle(TFakeFloppyDrive& Drive) : Drive(Drive) {}
    ~TVolumeHandle() override { Drive.Events.push_back("close"); }
    bool Seek(uint64_t To) override {
        Offset = To;
        return true;
    }
    bool Read(std::span<uint8_t> Buffer, uint32_t& Done) override {
        Done = 0;
        if (Drive.Vanished() || Offset + Buffer.size() > FloppyImageSize) return false;
        std::memcpy(Buffer.data(), Drive.Medium->Image.data() + Offset, Buffer.size());
        Done = uint32_t(Buffer.size());
        Offset += Done;
        return true;
    }
    bool Write(std::span<const uint8_t> Buffer, uint32_t& Done) override {
        Done = 0;
        uint32_t Error = 0;
        if (!Drive.WriteRaw(Offset, Buffer.data(), Buffer.size(), Error)) return false;
        Done = uint32_t(Buffer.size());
        Offset += Done;
        return true;
    }
    bool Control(uint32_t Code, std::span<const uint8_t>, std::span<uint8_t>,
                 uint32_t& Returned) override {
        Returned = 0;
        if (Code == 0x90018)
            Drive.Events.push_back("lock");
        else if (Code == 0x9001C)
            Drive.Events.push_back("unlock");
        else if (Code == 0x90020)
            Drive.Events.push_back("dismount");
        else
            return false;
        return !Drive.Vanished();
    }

private:
    TFakeFloppyDrive& Drive;
    uint64_t Offset = 0;
};

// VWIN32's INT 13h service for the drive's BIOS number.
class TVwin32Handle : public TDeviceHandle {
public:
    explicit TVwin32Handle(TFakeFloppyDrive& Drive) : Drive(Drive) {}
    ~TVwin32Handle() override { Drive.Events.push_back("close"); }
    bool Seek(uint64_t) override { return false; }
    bool Read(std::span<uint8_t>, uint32_t&) override { return false; }
    bool Write(std::span<const uint8_t>, uint32_t&) override { return false; }
    bool Control(uint32_t Code, std::span<const uint8_t> In, std::span<uint8_t> Out,
                 uint32_t& Returned) override {
        if (Code != 4 || In.size() != 28 || Out.size() != 28) return false;
        uint8_t Block[28];
        std::memcpy(Block, In.data(), 28);
        const uint32_t Ebx = GetLE32(Block), Edx = GetLE32(Block + 4), Ecx = GetLE32(Block + 8),
                       Eax = GetLE32(Block + 12);
        TFakeFloppyDrive::TInt13Request R{uint8_t(Eax >> 8), uint8_t(Eax),      uint8_t(Ecx >> 8),
                                          uint8_t(Ecx),      uint8_t(Edx >> 8), uint8_t(Edx)};
        Drive.Int13Requests.push_back(R);
        uint8_t Status = 0;
        uint32_t Error = 0;
        if (Drive.Int13Failures > 0) {
            --Drive.Int13Failures;
            Status = Drive.Int13Status;
        } else if (R.Function != 3 || R.Drive != uint8_t(Drive.Letter - 'A') || R.Sector < 1) {
            Status = 0x01; // bad command
        } else {
            const uint64_t Sector = ChsToSector(R.Head, R.Cylinder, R.Sector);
            const uint8_t* Source = nullptr;
            if (Drive.ResolveAddress)
                Source = Drive.ResolveAddress(Ebx);
            else if (sizeof(void*) == 4)
                Source = reinterpret_cast<const uint8_t*>(uintptr_t(Ebx));
            std::vector<uint8_t> Data(size_t(R.Count) * FloppySectorSize);
            if (Source) std::memcpy(Data.data(), Source, Data.size());
            if (!Drive.WriteRaw(Sector * FloppySectorSize, Data.data(), Data.size(), Error))
                Status = Error == ErrorWriteProtect ? 0x03 : 0x80;
        }
        const uint32_t Flags = Status ? 1 : 0;
        PutLE32(Block + 12, (Eax & 0xFFFF00FF) | uint32_t(Status) << 8);
        PutLE32(Block + 24, Flags);
        std::memcpy(Out.data(), Block, 28);
        Returned = 28;
        return true;
    }

private:
    TFakeFloppyDrive& Drive;
};

} // namespace

void TFakeFloppyDrive::FillUp(int32_t Free) {
    const TFatLayout Layout = TFatLayout::FromBootSector(Medium->Image.data());
    int32_t Left = 0;
    for (int32_t Cluster = Layout.LastCluster; Cluster >= 2; --Cluster)
        if (Medium->GetFatEntry(Cluster) == FatFree && Left++ >= Free)
            Medium->SetFatEntry(Cluster, FatEndMark);
}

bool TFakeFloppyDrive::WriteRaw(uint64_t Offset, const uint8_t* Data, size_t Count,
                                uint32_t& Error) {
    if (Vanished()) {
        Error = ErrorNotReady;
        return false;
    }
    if (WriteProtected) {
        Error = ErrorWriteProtect;
        return false;
    }
    if (int64_t(Offset) == RefuseOffset && RefuseTimes > 0) {
        --RefuseTimes;
        Error = ErrorWriteFault;
        return false;
    }
    if (Offset + Count > FloppyImageSize) {
        Error = ErrorWriteFault;
        return false;
    }
    if (WritesBeforeVanishing > 0) --WritesBeforeVanishing;
    RawWrites.push_back({Offset, uint32_t(Count)});
    std::memcpy(Medium->Image.data() + Offset, Data, Count);
    if (OnRawWrite) OnRawWrite(*this);
    return true;
}

int32_t TFakeFloppyDrive::WriteSectors(int32_t Sector, const uint8_t* Buffer, int32_t Count) {
    if (Sector < 0 || Count < 1 || Count > FloppySectorCount - Sector) return 0;
    uint32_t Error = 0;
    // File writes are not device requests: not recorded, no hook.
    auto Hook = std::move(OnRawWrite);
    OnRawWrite = nullptr;
    const size_t RawBefore = RawWrites.size();
    const bool Ok = WriteRaw(uint64_t(Sector) * FloppySectorSize, Buffer,
                             size_t(Count) * FloppySectorSize, Error);
    RawWrites.resize(RawBefore);
    OnRawWrite = std::move(Hook);
    return Ok ? Count : 0;
}

int32_t TFakeFloppyDrive::ReadSectors(int32_t Sector, uint8_t* Buffer, int32_t Count) {
    if (Vanished()) return 0;
    return Medium->ReadSectors(Sector, Buffer, Count);
}

std::unique_ptr<TDeviceHandle> TFakeFloppyDrive::Open(std::string_view Name, uint32_t& Error,
                                                      const TWindowsVersion& Version) {
    if (Name == std::string("\\\\.\\") + Letter + ":") {
        if (!DiskPresent) {
            Error = ErrorNotReady;
            return nullptr;
        }
        Events.push_back("open " + std::string(Name));
        return std::make_unique<TVolumeHandle>(*this);
    }
    if (Name == "\\\\.\\vwin32" && Version.PlatformId == 1) {
        Events.push_back("open " + std::string(Name));
        return std::make_unique<TVwin32Handle>(*this);
    }
    Error = ErrorFileNotFound;
    return nullptr;
}

bool TFakeFloppyDrive::FreeSpace(TDiskFreeSpace& Space, uint32_t& Error) {
    if (Vanished()) {
        Error = ErrorNotReady;
        return false;
    }
    const TFatLayout Layout = TFatLayout::FromBootSector(Medium->Image.data());
    if (!Layout.Usable) {
        Error = ErrorUnrecognizedVolume;
        return false;
    }
    Space.ClusterSectors = 1;
    Space.SectorBytes = FloppySectorSize;
    Space.ClusterCount = uint32_t(Layout.LastCluster - 1);
    Space.FreeClusters = 0;
    for (int32_t Cluster = 2; Cluster <= Layout.LastCluster; ++Cluster)
        if (Medium->GetFatEntry(Cluster) == FatFree) ++Space.FreeClusters;
    return true;
}

bool TFakeFloppyDrive::Owns(std::string_view Path) const {
    return Path.size() >= 3 && Path[1] == ':' && (Path[0] & ~0x20) == Letter &&
           (Path[2] == '\\' || Path[2] == '/');
}
