#include "optical/ISO9660.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <typeinfo>

#include "base/ByteOrder.h"

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
// cleared, the floppy's bytes are written once, by the read.
void BuildImage(TStream& Source, uint8_t* Base, const std::string& IdText) {
    std::memset(Base, 0, size_t(IsoFloppyOffset));
    PutDescriptorHeader(Base + 16 * IsoSectorSize, 254);
    PutBootRecord(Base + IsoBootRecordSector * IsoSectorSize);
    PutDescriptorHeader(Base + 18 * IsoSectorSize, 255);
    PutCatalog(Base + IsoCatalogSector * IsoSectorSize, IdText);
    ReadFloppy(Source, Base + IsoFloppyOffset);
}

} // namespace

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
