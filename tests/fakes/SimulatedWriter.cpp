#include "fakes/SimulatedWriter.h"

#include <algorithm>
#include <cstring>

#include "base/ByteOrder.h"

std::array<uint8_t, 64> TSimulatedWriter::DefaultWriteParameters() {
    std::array<uint8_t, 64> P{};
    PutBE16(&P[0], 62);
    P[8] = 0x05;
    P[9] = 0x32;  // page length 50
    P[10] = 0x52; // test write and buffer underrun protection on, write type 2
    P[11] = 0x05;
    P[12] = 0x0A;
    P[15] = 0x10;
    P[16] = 0x20;
    P[22] = 0x00;
    P[23] = 0x96; // pause length 150
    return P;
}

uint8_t TSimulatedWriter::Reply(uint8_t Opcode, std::span<uint8_t> Data,
                                std::span<const uint8_t> Bytes) {
    std::fill(Data.begin(), Data.end(), 0);
    std::copy_n(Bytes.begin(), std::min(Bytes.size(), Data.size()), Data.begin());
    if (ReplyOverride) ReplyOverride(Opcode, Data);
    return Good;
}

uint8_t TSimulatedWriter::Execute(std::span<const uint8_t> Cdb, std::span<uint8_t> Data) {
    Cdbs.emplace_back(Cdb.begin(), Cdb.end());
    Tick(1);
    const uint8_t Opcode = Cdb[0];
    if (const auto Found = Refuse.find(Opcode); Found != Refuse.end()) return Found->second;

    switch (Opcode) {
    case 0x00: // TEST UNIT READY
        return NotReady || Disc == TDisc::None || Pending > 0 ? CheckCondition : Good;
    case 0x12: { // INQUIRY
        std::vector<uint8_t> R(36, ' ');
        R[0] = InquiryByte0;
        R[1] = 0x80;
        R[2] = 0x05;
        R[3] = 0x32;
        R[4] = 31;
        R[5] = R[6] = R[7] = 0;
        std::copy_n(Vendor.begin(), std::min<size_t>(Vendor.size(), 8), &R[8]);
        std::copy_n(Product.begin(), std::min<size_t>(Product.size(), 16), &R[16]);
        std::memcpy(&R[32], "1.00", 4);
        return Reply(Opcode, Data.first(std::min<size_t>(Data.size(), Cdb[4])), R);
    }
    case 0x5A: { // MODE SENSE(10)
        const size_t Length = std::min<size_t>(Data.size(), GetBE16(&Cdb[7]));
        if ((Cdb[2] & 0x3F) == 0x2A) {
            std::vector<uint8_t> R(8 + 32);
            PutBE16(&R[0], uint16_t(R.size() - 2));
            R[8] = 0x2A;
            R[9] = 30;
            R[10] = ReadCaps;
            R[11] = WriteCaps;
            PutBE16(&R[16], MaxReadKBs);
            PutBE16(&R[18], 255);
            PutBE16(&R[20], uint16_t(BufferLength / 1024));
            PutBE16(&R[22], MaxReadKBs);
            PutBE16(&R[26], MaxWriteKBs);
            PutBE16(&R[28], MaxWriteKBs);
            return Reply(Opcode, Data.first(Length), R);
        }
        if ((Cdb[2] & 0x3F) == 0x05) {
            Reply(Opcode, Data.first(Length), WriteParameters);
            return Page05Error ? CheckCondition : Good;
        }
        return CheckCondition;
    }
    case 0x55: { // MODE SELECT(10)
        const size_t Length = std::min<size_t>(Data.size(), GetBE16(&Cdb[7]));
        SelectedParameters.assign(Data.begin(), Data.begin() + Length);
        if (!(Cdb[1] & 0x10) || Length < 10 || (Data[8] & 0x3F) != 0x05) return CheckCondition;
        std::copy_n(Data.begin() + 8, std::min<size_t>(Length - 8, 56),
                    WriteParameters.begin() + 8);
        return Good;
    }
    case 0x51: { // READ DISC INFORMATION
        if (Disc == TDisc::None) return CheckCondition;
        if (Pending > 0) {
            if (!PollNeverCompletes) --Pending;
            Tick(1000);
            BufferFill -= std::min(BufferFill, BufferLength / 4);
            return CheckCondition; // long write in progress
        }
        std::vector<uint8_t> R(34);
        PutBE16(&R[0], 32);
        const uint8_t State = Disc == TDisc::Blank ? 0 : Disc == TDisc::Appendable ? 1 : 2;
        const uint8_t Session = Disc == TDisc::Blank ? 0 : Disc == TDisc::Appendable ? 1 : 3;
        R[2] = uint8_t((Erasable ? 0x10 : 0) | Session << 2 | State);
        R[3] = 1;
        return Reply(Opcode, Data.first(std::min<size_t>(Data.size(), GetBE16(&Cdb[7]))), R);
    }
    case 0x52: { // READ TRACK INFORMATION
        if (Disc == TDisc::None || GetBE32(&Cdb[2]) != 0xFF) return CheckCondition;
        std::vector<uint8_t> R(28);
        PutBE16(&R[0], 26);
        R[2] = 1;
        R[6] = InvisibleTrackByte6;
        R[7] = 0x01; // next writable address valid
        PutBE32(&R[8], NextWritable);
        PutBE32(&R[12], NextWritable);
        PutBE32(&R[16], FreeBlocks);
        PutBE32(&R[24], FreeBlocks);
        return Reply(Opcode, Data.first(std::min<size_t>(Data.size(), GetBE16(&Cdb[7]))), R);
    }
    case 0x5C: { // READ BUFFER CAPACITY
        std::vector<uint8_t> R(12);
        PutBE16(&R[0], 10);
        PutBE32(&R[4], BufferLength);
        PutBE32(&R[8], BufferLength - std::min(BufferFill, BufferLength));
        if (Pending > 0 && BufferLength)
            FillAfterPolls.push_back(double(std::min(BufferFill, BufferLength)) / BufferLength);
        return Reply(Opcode, Data.first(std::min<size_t>(Data.size(), GetBE16(&Cdb[7]))), R);
    }
    case 0x2A: { // WRITE(10)
        const uint32_t Address = GetBE32(&Cdb[2]);
        const uint32_t Count = GetBE16(&Cdb[7]);
        if (Disc == TDisc::None || Data.size() != size_t(Count) * 2048 || Count > FreeBlocks)
            return CheckCondition;
        Writes.emplace_back(Address, Count);
        for (uint32_t i = 0; i < Count; ++i) {
            if (Address + i >= FailWriteAtBlock) return CheckCondition;
            Blocks[Address + i].assign(Data.begin() + i * 2048, Data.begin() + (i + 1) * 2048);
        }
        FreeBlocks -= Count;
        BufferFill = std::min(BufferLength, BufferFill + Count * 1024);
        return Good;
    }
    case 0x28: { // READ(10)
        const uint32_t Address = GetBE32(&Cdb[2]);
        const uint32_t Count = GetBE16(&Cdb[7]);
        if (Disc == TDisc::None || Data.size() != size_t(Count) * 2048) return CheckCondition;
        const std::vector<uint8_t> Bytes = Recorded(Address, Count);
        std::copy(Bytes.begin(), Bytes.end(), Data.begin());
        if (ReplyOverride) ReplyOverride(Opcode, Data);
        return Good;
    }
    case 0x35: // SYNCHRONIZE CACHE
    case 0xA1: // BLANK
        Pending = PendingPolls;
        if (Opcode == 0xA1) {
            Blocks.clear();
            Disc = TDisc::Blank;
        }
        return Good;
    case 0x5B: // CLOSE TRACK / SESSION
        Pending = PendingPolls;
        if ((Cdb[2] & 7) == 2) {
            ++SessionsClosed;
            NextSessionAllowed = (WriteParameters[8 + 3] >> 6) == 3;
            Disc = NextSessionAllowed ? TDisc::Appendable : TDisc::Closed;
        }
        return Good;
    case 0x1B: // START STOP UNIT
        if (Cdb[4] & 2) Disc = TDisc::None;
        return Good;
    default:
        return CheckCondition;
    }
}

std::vector<uint8_t> TSimulatedWriter::Recorded(uint32_t Address, uint32_t Count) const {
    std::vector<uint8_t> Bytes(size_t(Count) * 2048);
    for (uint32_t i = 0; i < Count; ++i)
        if (const auto Found = Blocks.find(Address + i); Found != Blocks.end())
            std::copy(Found->second.begin(), Found->second.end(), Bytes.begin() + i * 2048);
    return Bytes;
}

std::vector<uint8_t> TSimulatedWriter::Opcodes() const {
    std::vector<uint8_t> Codes;
    for (const auto& Cdb : Cdbs)
        Codes.push_back(Cdb[0]);
    return Codes;
}

// --- the ASPI library --------------------------------------------------------

TSimulatedAspi::TDevice* TSimulatedAspi::Find(uint8_t Adapter, uint8_t Target, uint8_t Lun) {
    for (auto& D : Devices)
        if (D.Adapter == Adapter && D.Target == Target && D.Lun == Lun) return &D;
    return nullptr;
}

uint32_t TSimulatedAspi::SendASPI32Command(std::span<uint8_t> Block, std::span<uint8_t> Data) {
    Blocks.emplace_back(Block.begin(), Block.end());
    if (Block.size() < 12) return 0xE0;
    uint8_t& Status = Block[1];
    switch (Block[0]) {
    case 0: // host adapter inquiry
        if (Block.size() != 60 || Block[2] >= Adapters) return Status = 0x81;
        Block[8] = Adapters;
        Block[9] = 7;
        std::memcpy(&Block[10], "SIM ASPI MGR    ", 16);
        std::memcpy(&Block[26], "SIM HOST        ", 16);
        Block[45] = MaxTargets.count(Block[2]) ? MaxTargets[Block[2]] : 8;
        return Status = 1;
    case 1: { // get device type
        ++DeviceTypeRequests;
        if (Block.size() != 12) return Status = 0xE0;
        TDevice* D = Find(Block[2], Block[8], Block[9]);
        if (!D || D->Writer->Vanished) return Status = 0x82;
        Block[10] = D->Writer->InquiryByte0 & 0x1F;
        return Status = 1;
    }
    case 2: { // execute SCSI command
        if (Block.size() != 84 || Block[20] != 14) return Status = 0xE0;
        TDevice* D = Find(Block[2], Block[8], Block[9]);
        if (!D || D->Writer->Vanished) return Status = 0x82;
        const uint8_t Flags = Block[3];
        const uint32_t Length = GetLE32(&Block[12]);
        const bool Expected = (Flags == 0x40 && Length == 0 && Data.empty()) ||
                              ((Flags == 0x48 || Flags == 0x50) && Length == Data.size());
        if (!Expected) return Status = 0xE0;
        const std::span<const uint8_t> Cdb(&Block[48], Block[21]);
        TSimulatedWriter& W = *D->Writer;
        const uint8_t Opcode = Cdb[0];
        if (W.ControlFails.count(Opcode)) {
            W.Cdbs.emplace_back(Cdb.begin(), Cdb.end());
            Block[22] = 0x11; // selection timeout
            Status = 4;
        } else {
            const uint8_t Target = W.Execute(Cdb, Data);
            Block[23] = Target;
            Status = Target == 0 ? 1 : 4;
        }
        const uint32_t Event = GetLE32(&Block[24]);
        if (W.NeverCompletes.count(Opcode)) return Status = 0;
        if (CompleteAtOnce) return Status;
        Pending[Event] = {&Block[1], Status};
        Status = 0; // pending until the event is waited on
        return 0;
    }
    case 3:
        ++Aborts;
        return Status = 1;
    default:
        return Status = 0xE0;
    }
}

bool TSimulatedAspi::Wait(uint32_t Handle, uint32_t Milliseconds) {
    const auto Found = Pending.find(Handle);
    if (Found != Pending.end()) {
        *Found->second.first = Found->second.second;
        Pending.erase(Found);
        return true;
    }
    if (Clock && Milliseconds != TEvent::Infinite) *Clock += Milliseconds;
    return false;
}

// --- the machine -------------------------------------------------------------

namespace {

constexpr uint32_t ErrorFileNotFound = 2, ErrorInvalidParameter = 87,
                   ErrorDeviceNotConnected = 1167, ErrorNotSupported = 50;

class TSimulatedHandle : public TDeviceHandle {
public:
    TSimulatedHandle(TWriterPlatform& Machine, TSimulatedWriter& Writer)
        : Machine(Machine), Writer(Writer) {}

    bool Seek(uint64_t) override { return Fail(ErrorNotSupported); }
    bool Read(std::span<uint8_t>, uint32_t&) override { return Fail(ErrorNotSupported); }
    bool Write(std::span<const uint8_t>, uint32_t&) override { return Fail(ErrorNotSupported); }

    bool Control(uint32_t Code, std::span<const uint8_t> In, std::span<uint8_t> Out,
                 uint32_t& Returned) override {
        return ControlDirect(Code, In, Out, {}, Returned);
    }

    bool ControlDirect(uint32_t Code, std::span<const uint8_t> In, std::span<uint8_t> Out,
                       std::span<uint8_t> Data, uint32_t& Returned) override {
        Machine.ControlCodes.push_back(Code);
        Machine.Requests.emplace_back(In.begin(), In.end());
        Returned = 0;
        if (Writer.Vanished) return Fail(ErrorDeviceNotConnected);
        if (Code == 0x2D4804) return In.size() == 1 ? true : Fail(ErrorInvalidParameter);
        if (Code == 0x2D4808) {
            if (Machine.EjectRefused) return Fail(ErrorNotSupported);
            Writer.Disc = TSimulatedWriter::TDisc::None;
            return true;
        }
        if (Code != 0x4D004 && Code != 0x4D014) return Fail(ErrorInvalidParameter);
        const bool Direct = Code == 0x4D014;
        // The layout must be exactly the system's, or the request is refused.
        if (In.size() != (Direct ? 172u : 44u) || Out.size() != (Direct ? 172u : 684u) ||
            GetLE16(&In[0]) != 44 || In[3] || In[4] || In[5] || In[7] != 128 ||
            GetLE32(&In[24]) != 44 || (In[6] != 6 && In[6] != 10 && In[6] != 12))
            return Fail(ErrorInvalidParameter);
        std::span<uint8_t> Buffer;
        if (Direct) {
            if (In[8] > 1 || GetLE32(&In[12]) != Data.size() ||
                GetLE32(&In[20]) != uint32_t(reinterpret_cast<uintptr_t>(Data.data())))
                return Fail(ErrorInvalidParameter);
            Buffer = Data;
        } else {
            if (In[8] != 1 || GetLE32(&In[12]) != 512 || GetLE32(&In[20]) != 172)
                return Fail(ErrorInvalidParameter);
            std::copy(In.begin(), In.end(), Out.begin());
            Buffer = Out.subspan(172, 512);
        }
        const std::span<const uint8_t> Cdb(&In[28], In[6]);
        if (Writer.ControlFails.count(Cdb[0])) {
            Writer.Cdbs.emplace_back(Cdb.begin(), Cdb.end());
            return Fail(ErrorDeviceNotConnected);
        }
        // A buffered command's data is at most its allocation length.
        if (!Direct) {
            const size_t Allocation = In[6] == 6 ? In[28 + 4] : GetBE16(&In[28 + 7]);
            if (Cdb[0] == 0x12 || Cdb[0] == 0x5A || Cdb[0] == 0x51 || Cdb[0] == 0x52 ||
                Cdb[0] == 0x5C)
                Buffer = Buffer.first(std::min(Allocation, Buffer.size()));
            else
                Buffer = {};
        }
        Out[2] = Writer.Execute(Cdb, Buffer);
        Returned = uint32_t(Out.size());
        return true;
    }

private:
    bool Fail(uint32_t Code) {
        Machine.SetLastError(Code);
        return false;
    }
    TWriterPlatform& Machine;
    TSimulatedWriter& Writer;
};

class TSimulatedEvent : public TEvent {
public:
    TSimulatedEvent(TSimulatedAspi& Aspi, uint32_t Id) : Aspi(Aspi), Id(Id) {}
    void Reset() override {}
    bool Wait(uint32_t Milliseconds) override { return Aspi.Wait(Id, Milliseconds); }
    uint32_t Handle() override { return Id; }

private:
    TSimulatedAspi& Aspi;
    uint32_t Id;
};

char DriveOf(std::string_view Name) {
    // "\\.\E:"
    if (Name.size() == 6 && Name.substr(0, 4) == "\\\\.\\" && Name[5] == ':') return Name[4];
    return 0;
}

} // namespace

std::unique_ptr<TDeviceHandle> TWriterPlatform::OpenDevice(std::string_view Name,
                                                           const TDeviceAccess& Access) {
    const char Letter = DriveOf(Name);
    const auto Found = Drives.find(Letter);
    if (Found == Drives.end() || Found->second->Vanished) {
        if (Found == Drives.end() && !OtherDrives.count(Letter))
            return TFakePlatform::OpenDevice(Name, Access);
        LastErrorCode = ErrorFileNotFound;
        return nullptr;
    }
    if (Access.Write && WriteDenied.count(Letter)) {
        LastErrorCode = 5; // access denied
        return nullptr;
    }
    Opened.push_back(std::string(Name) + (Access.Write ? " rw" : " r"));
    return std::make_unique<TSimulatedHandle>(*this, *Found->second);
}

uint32_t TWriterPlatform::LogicalDrives() {
    uint32_t Mask = TFakePlatform::LogicalDrives();
    for (const auto& [Letter, Writer] : Drives)
        Mask |= 1u << (Letter - 'A');
    for (const auto& [Letter, Target] : OtherDrives)
        Mask |= 1u << (Letter - 'A');
    return Mask;
}

std::vector<std::string> TWriterPlatform::DosDeviceTargets(std::string_view DeviceName) {
    if (DeviceName.size() == 2 && DeviceName[1] == ':') {
        const char Letter = DeviceName[0];
        if (Drives.count(Letter))
            return {"\\Device\\CdRom" + std::to_string(Letter - 'D') + std::string(1, '\0')};
        if (const auto Found = OtherDrives.find(Letter); Found != OtherDrives.end())
            return {Found->second};
    }
    return TFakePlatform::DosDeviceTargets(DeviceName);
}

TAspiLibrary& TWriterPlatform::AspiLibrary() {
    return HasAspi ? Aspi : TFakePlatform::AspiLibrary();
}

std::unique_ptr<TEvent> TWriterPlatform::CreateManualEvent() {
    return std::make_unique<TSimulatedEvent>(Aspi, NextEvent++);
}
