#include "optical/ISO9660.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <typeinfo>

#include "base/ByteOrder.h"
#include "platform/Platform.h"

namespace {

void PutDescriptorHeader(uint8_t* Sector, uint8_t Type) {
    Sector[0] = Type;
    std::memcpy(Sector + 1, "CD001", 5);
    Sector[6] = 1; // version
}

void PutBootRecord(uint8_t* Sector) {
    PutDescriptorHeader(Sector, 0);
    static const char BootSystem[] = "EL TORITO SPECIFICATION";
    std::memcpy(Sector + 7, BootSystem, sizeof BootSystem - 1);
    PutLE32(Sector + 71, IsoCatalogSector);
}

void PutCatalog(uint8_t* Catalog, const std::string& IdText) {
    // Validation entry.
    Catalog[0] = 1; // header ID
    Catalog[1] = 0; // platform 80x86
    const std::string Id = (IdText + std::string(24, ' ')).substr(0, 24);
    std::memcpy(Catalog + 4, Id.data(), 24);
    Catalog[30] = 0x55;
    Catalog[31] = 0xAA;
    // The 16 words of the entry must add up to zero.
    uint16_t Sum = 0;
    for (int i = 0; i < 32; i += 2)
        Sum = uint16_t(Sum + GetLE16(Catalog + i));
    PutLE16(Catalog + 28, uint16_t(0x10000 - Sum));

    // Initial/default entry.
    uint8_t* Entry = Catalog + 32;
    Entry[0] = 0x88; // bootable
    Entry[1] = 2;    // 1.44 MB diskette emulation
    PutLE16(Entry + 2, 0x07C0);
    Entry[4] = 4; // system type
    PutLE16(Entry + 6, 1);
    PutLE32(Entry + 8, IsoFloppySector);
}

// Fills Target from Source until it is full or Source has no more (a stream
// may answer a large read in several pieces); a short source leaves the rest
// zero.
void ReadFloppy(TStream& Source, uint8_t* Target) {
    int64_t Done = 0;
    while (Done < IsoFloppySize) {
        const int64_t Got = Source.Read(Target + Done, IsoFloppySize - Done);
        if (Got <= 0) break;
        Done += Got;
    }
    std::memset(Target + Done, 0, size_t(IsoFloppySize - Done));
}

// Lays out the whole image at Base: the sectors before the floppy are
// cleared, the floppy's bytes are written once, by the read. Sector 16 gets
// the descriptor of type 254 unless the caller fills it.
void BuildImage(TStream& Source, uint8_t* Base, const std::string& IdText,
                bool VolumeDescriptor = false) {
    if (!VolumeDescriptor) {
        std::memset(Base, 0, size_t(IsoFloppyOffset));
        PutDescriptorHeader(Base + 16 * IsoSectorSize, 254);
    }
    PutBootRecord(Base + IsoBootRecordSector * IsoSectorSize);
    PutDescriptorHeader(Base + 18 * IsoSectorSize, 255);
    PutCatalog(Base + IsoCatalogSector * IsoSectorSize, IdText);
    ReadFloppy(Source, Base + IsoFloppyOffset);
}

// --- the ISO 9660 volume of a disc that also starts on UEFI PCs -------------

struct TIsoNode {
    std::string Name; // "BOOT", "BOOTX64.EFI"; empty for the root
    bool Folder = true;
    const std::vector<uint8_t>* Data = nullptr;
    std::vector<size_t> Children;
    size_t Parent = 0;
    uint32_t Sector = 0, Bytes = 0;
    uint16_t Number = 1; // in the path table
};

std::pair<std::string, std::string> NameAndExtension(const std::string& Name) {
    const size_t Dot = Name.find('.');
    if (Dot == std::string::npos) return {Name, ""};
    return {Name.substr(0, Dot), Name.substr(Dot + 1)};
}

// A directory is sorted by name, then extension, each padded with spaces.
bool IdentifierBefore(const std::string& a, const std::string& b) {
    auto [an, ae] = NameAndExtension(a);
    auto [bn, be] = NameAndExtension(b);
    const auto Pad = [](std::string& x, std::string& y) {
        x.resize(std::max(x.size(), y.size()), ' ');
        y.resize(x.size(), ' ');
    };
    Pad(an, bn);
    Pad(ae, be);
    return an != bn ? an < bn : ae < be;
}

// d-characters in 8.3 form; folders have no extension.
bool ValidIsoName(const std::string& Name, bool Folder) {
    const auto [Base, Extension] = NameAndExtension(Name);
    const auto Plain = [](const std::string& Part) {
        return std::all_of(Part.begin(), Part.end(), [](char c) {
            return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
        });
    };
    return !Base.empty() && Base.size() <= 8 && Extension.size() <= 3 && Plain(Base) &&
           Plain(Extension) && !(Folder && Name.find('.') != std::string::npos);
}

std::string RecordIdentifier(const TIsoNode& Node) {
    return Node.Folder ? Node.Name
                       : Node.Name + (Node.Name.find('.') == std::string::npos ? ".;1" : ";1");
}

size_t RecordLength(size_t IdentifierLength) {
    return 33 + IdentifierLength + (IdentifierLength % 2 == 0 ? 1 : 0);
}

void PutBoth16(uint8_t* p, uint16_t v) {
    PutLE16(p, v);
    PutBE16(p + 2, v);
}

void PutBoth32(uint8_t* p, uint32_t v) {
    PutLE32(p, v);
    PutBE32(p + 4, v);
}

void PutRecordDate(uint8_t* p, const TSystemTime& t) {
    p[0] = uint8_t(std::clamp(t.Year - 1900, 0, 255));
    p[1] = uint8_t(t.Month);
    p[2] = uint8_t(t.Day);
    p[3] = uint8_t(t.Hour);
    p[4] = uint8_t(t.Minute);
    p[5] = uint8_t(t.Second);
    p[6] = 0; // UTC
}

void PutVolumeDate(uint8_t* p, const TSystemTime& t) {
    char Text[18];
    std::snprintf(Text, sizeof Text, "%04d%02d%02d%02d%02d%02d00", std::clamp(t.Year, 1, 9999),
                  t.Month, t.Day, t.Hour, t.Minute, t.Second);
    std::memcpy(p, Text, 16);
    p[16] = 0; // UTC
}

void PutText(uint8_t* p, size_t Length, const std::string& Text) {
    std::memset(p, ' ', Length);
    std::memcpy(p, Text.data(), std::min(Length, Text.size()));
}

// Writes one directory record at p; answers its length.
size_t PutRecord(uint8_t* p, const std::string& Identifier, const TIsoNode& Node,
                 const TSystemTime& Date) {
    const size_t Length = RecordLength(Identifier.size());
    p[0] = uint8_t(Length);
    PutBoth32(p + 2, Node.Sector);
    PutBoth32(p + 10, Node.Bytes);
    PutRecordDate(p + 18, Date);
    p[25] = Node.Folder ? 2 : 0;
    PutBoth16(p + 28, 1); // volume sequence number
    p[32] = uint8_t(Identifier.size());
    std::memcpy(p + 33, Identifier.data(), Identifier.size());
    return Length;
}

// The records of a folder: ".", "..", then its entries in order.
std::vector<std::pair<std::string, size_t>> FolderRecords(const std::vector<TIsoNode>& Nodes,
                                                          size_t Folder) {
    std::vector<std::pair<std::string, size_t>> Records = {
        {std::string(1, '\0'), Folder}, {std::string(1, '\1'), Nodes[Folder].Parent}};
    for (size_t Child : Nodes[Folder].Children)
        Records.emplace_back(RecordIdentifier(Nodes[Child]), Child);
    return Records;
}

// Bytes a folder takes: records never straddle a sector.
uint32_t FolderBytes(const std::vector<TIsoNode>& Nodes, size_t Folder) {
    size_t At = 0;
    for (const auto& [Identifier, Node] : FolderRecords(Nodes, Folder)) {
        const size_t Length = RecordLength(Identifier.size());
        if (At % IsoSectorSize + Length > size_t(IsoSectorSize))
            At += IsoSectorSize - At % IsoSectorSize;
        At += Length;
    }
    return uint32_t((At + IsoSectorSize - 1) / IsoSectorSize * IsoSectorSize);
}

uint32_t SectorsOf(size_t Bytes) {
    return uint32_t((Bytes + IsoSectorSize - 1) / IsoSectorSize);
}

// The volume's tree from Files; empty when a name or a folder is wrong.
std::optional<std::vector<TIsoNode>> IsoTree(const std::vector<TIsoFile>& Files) {
    std::vector<TIsoNode> Nodes(1); // the root
    std::map<std::string, size_t> Folders = {{"", 0}};
    for (const TIsoFile& File : Files) {
        const size_t Slash = File.Path.rfind('\\');
        const std::string Parent = Slash == std::string::npos ? "" : File.Path.substr(0, Slash);
        TIsoNode Node;
        Node.Name = Slash == std::string::npos ? File.Path : File.Path.substr(Slash + 1);
        Node.Folder = File.Folder;
        Node.Data = File.Folder ? nullptr : &File.Data;
        const auto Found = Folders.find(Parent);
        if (Found == Folders.end() || !ValidIsoName(Node.Name, Node.Folder)) return std::nullopt;
        Node.Parent = Found->second;
        for (size_t Sibling : Nodes[Node.Parent].Children)
            if (Nodes[Sibling].Name == Node.Name) return std::nullopt;
        Nodes[Node.Parent].Children.push_back(Nodes.size());
        if (Node.Folder) Folders[File.Path] = Nodes.size();
        Nodes.push_back(std::move(Node));
    }
    for (TIsoNode& Node : Nodes)
        std::sort(Node.Children.begin(), Node.Children.end(), [&](size_t a, size_t b) {
            return IdentifierBefore(Nodes[a].Name, Nodes[b].Name);
        });
    return Nodes;
}

// Folders level by level, each level by parent, then name: the path
// table's order, and the order of the folders' extents.
std::vector<size_t> FolderOrder(const std::vector<TIsoNode>& Nodes) {
    std::vector<size_t> Order = {0};
    for (size_t i = 0; i < Order.size(); ++i)
        for (size_t Child : Nodes[Order[i]].Children)
            if (Nodes[Child].Folder) Order.push_back(Child);
    return Order;
}

std::vector<uint8_t> PathTable(const std::vector<TIsoNode>& Nodes, const std::vector<size_t>& Order,
                               bool BigEndian) {
    std::vector<uint8_t> Table;
    for (size_t Folder : Order) {
        const TIsoNode& Node = Nodes[Folder];
        const std::string Identifier = Folder == 0 ? std::string(1, '\0') : Node.Name;
        const size_t At = Table.size();
        Table.resize(At + 8 + Identifier.size() + Identifier.size() % 2, 0);
        uint8_t* p = Table.data() + At;
        p[0] = uint8_t(Identifier.size());
        if (BigEndian) {
            PutBE32(p + 2, Node.Sector);
            PutBE16(p + 6, Nodes[Node.Parent].Number);
        } else {
            PutLE32(p + 2, Node.Sector);
            PutLE16(p + 6, Nodes[Node.Parent].Number);
        }
        std::memcpy(p + 8, Identifier.data(), Identifier.size());
    }
    return Table;
}

void PutUefiSection(uint8_t* Catalog, uint32_t FatSector, uint16_t FatSectors) {
    uint8_t* Header = Catalog + 64;
    Header[0] = 0x91; // final section header
    Header[1] = 0xEF; // platform EFI
    PutLE16(Header + 2, 1);
    uint8_t* Entry = Catalog + 96;
    Entry[0] = 0x88; // bootable
    Entry[1] = 0;    // no emulation
    PutLE16(Entry + 6, FatSectors);
    PutLE32(Entry + 8, FatSector);
}

void PutPrimaryDescriptor(uint8_t* Sector, const TUefiBootPart& Uefi, const std::string& IdText,
                          uint32_t VolumeSectors, size_t PathTableBytes, uint32_t LTable,
                          uint32_t MTable, const TIsoNode& Root, const TSystemTime& Date) {
    PutDescriptorHeader(Sector, 1);
    PutText(Sector + 8, 32, "");
    PutText(Sector + 40, 32, Uefi.VolumeId);
    PutBoth32(Sector + 80, VolumeSectors);
    PutBoth16(Sector + 120, 1); // volume set size
    PutBoth16(Sector + 124, 1); // volume sequence number
    PutBoth16(Sector + 128, uint16_t(IsoSectorSize));
    PutBoth32(Sector + 132, uint32_t(PathTableBytes));
    PutLE32(Sector + 140, LTable);
    PutBE32(Sector + 148, MTable);
    PutRecord(Sector + 156, std::string(1, '\0'), Root, Date);
    PutText(Sector + 190, 128, "");
    PutText(Sector + 318, 128, "");
    PutText(Sector + 446, 128, "");
    std::string Application = IdText;
    for (char& c : Application)
        if (c >= 'a' && c <= 'z') c = char(c - 32);
    PutText(Sector + 574, 128, Application);
    PutText(Sector + 702, 37 * 3, "");
    PutVolumeDate(Sector + 813, Date);
    PutVolumeDate(Sector + 830, Date);
    std::memcpy(Sector + 847, "0000000000000000", 16); // no expiry
    std::memcpy(Sector + 864, "0000000000000000", 16); // effective at once
    Sector[881] = 1;                                   // file structure version
}

} // namespace

bool MakeDualBootIso(TStream& Source, TStream& Destination, const std::string& IdText,
                     const TUefiBootPart& Uefi) {
    const size_t FatSectors = Uefi.FatImage.size() / 512;
    if (Uefi.FatImage.empty() || Uefi.FatImage.size() % 512 || FatSectors > 0xFFFF) return false;
    auto Tree = IsoTree(Uefi.Files);
    if (!Tree) return false;
    std::vector<TIsoNode>& Nodes = *Tree;
    const std::vector<size_t> Order = FolderOrder(Nodes);
    for (size_t i = 0; i < Order.size(); ++i)
        Nodes[Order[i]].Number = uint16_t(i + 1);

    // Path tables, folders, files, the FAT image, in this order after the floppy.
    const size_t PathTableBytes = PathTable(Nodes, Order, false).size();
    uint32_t Next = uint32_t(IsoSectorCount);
    const uint32_t LTable = Next;
    Next += SectorsOf(PathTableBytes);
    const uint32_t MTable = Next;
    Next += SectorsOf(PathTableBytes);
    for (size_t Folder : Order) {
        Nodes[Folder].Sector = Next;
        Nodes[Folder].Bytes = FolderBytes(Nodes, Folder);
        Next += SectorsOf(Nodes[Folder].Bytes);
    }
    for (size_t Folder : Order)
        for (size_t Child : Nodes[Folder].Children)
            if (!Nodes[Child].Folder) {
                Nodes[Child].Sector = Next;
                Nodes[Child].Bytes = uint32_t(Nodes[Child].Data->size());
                Next += SectorsOf(Nodes[Child].Bytes);
            }
    const uint32_t FatSector = Next;
    Next += SectorsOf(Uefi.FatImage.size());

    try {
        std::vector<uint8_t> Image(size_t(Next) * IsoSectorSize, 0);
        uint8_t* Base = Image.data();
        const TSystemTime Date = UtcTime(Uefi.Seconds);
        PutPrimaryDescriptor(Base + 16 * IsoSectorSize, Uefi, IdText, Next, PathTableBytes, LTable,
                             MTable, Nodes[0], Date);
        BuildImage(Source, Base, IdText, true);
        PutUefiSection(Base + IsoCatalogSector * IsoSectorSize, FatSector, uint16_t(FatSectors));
        const auto LPath = PathTable(Nodes, Order, false), MPath = PathTable(Nodes, Order, true);
        std::memcpy(Base + size_t(LTable) * IsoSectorSize, LPath.data(), LPath.size());
        std::memcpy(Base + size_t(MTable) * IsoSectorSize, MPath.data(), MPath.size());
        for (size_t Folder : Order) {
            size_t At = size_t(Nodes[Folder].Sector) * IsoSectorSize;
            for (const auto& [Identifier, Node] : FolderRecords(Nodes, Folder)) {
                const size_t Length = RecordLength(Identifier.size());
                if (At % IsoSectorSize + Length > size_t(IsoSectorSize))
                    At += IsoSectorSize - At % IsoSectorSize;
                At += PutRecord(Base + At, Identifier, Nodes[Node], Date);
            }
        }
        for (const TIsoNode& Node : Nodes)
            if (!Node.Folder && !Node.Data->empty())
                std::memcpy(Base + size_t(Node.Sector) * IsoSectorSize, Node.Data->data(),
                            Node.Data->size());
        std::memcpy(Base + size_t(FatSector) * IsoSectorSize, Uefi.FatImage.data(),
                    Uefi.FatImage.size());
        return Destination.Write(Image.data(), int64_t(Image.size())) == int64_t(Image.size());
    } catch (const std::exception&) {
        return false;
    }
}

bool MakeBootableIso(TStream& Source, TStream& Destination, const std::string& IdText) {
    // A plain memory stream that is appended to gets the image built in
    // place: the same bytes and end position as the one write, without a
    // second 1.5 MB buffer. Any other stream sees the single write.
    if (typeid(Destination) == typeid(TMemoryStream) &&
        Destination.Position() == Destination.Size()) {
        auto& Memory = static_cast<TMemoryStream&>(Destination);
        const int64_t At = Memory.Position();
        try {
            Memory.SetSize(At + IsoImageSize);
            BuildImage(Source, Memory.Memory() + At, IdText);
            Memory.SetPosition(At + IsoImageSize);
            return true;
        } catch (const std::exception&) {
            Memory.SetSize(At); // as it was
            Memory.SetPosition(At);
            return false;
        }
    }
    try {
        const std::unique_ptr<uint8_t[]> Image(new uint8_t[size_t(IsoImageSize)]);
        BuildImage(Source, Image.get(), IdText);
        return Destination.Write(Image.get(), IsoImageSize) == IsoImageSize;
    } catch (const std::exception&) {
        return false;
    }
}
