#include "floppy/Vfloppy.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string>

#include "platform/Platform.h"

namespace {

bool ValidChs(int32_t Head, int32_t Track, int32_t Sector) {
    return Head >= 0 && Head < FloppyHeads && Track >= 0 && Track < FloppyTracks && Sector >= 1 &&
           Sector <= FloppySectorsPerTrack;
}

bool ValidTransfer(int32_t Sector, int32_t Count) {
    return Sector >= 0 && Count >= 1 && Sector < FloppySectorCount &&
           Count <= FloppySectorCount - Sector;
}

// First FAT 1 sector of the group that holds Cluster.
int32_t GroupSector(int32_t Cluster) {
    return FatFirstSector + FatGroupSectors * (Cluster / FatGroupEntries);
}

bool ValidFatIndex(int32_t Cluster) {
    return Cluster >= 0 && Cluster < FatEntryCount;
}

TSystemTime Now() {
    if (const auto Epoch = SourceDateEpoch()) return UtcTime(*Epoch);
    return Platform().LocalTime();
}

// The DOS range is 1980-01-01 00:00:00 to 2107-12-31 23:59:58.
TSystemTime ClampToDos(TSystemTime Time) {
    if (Time.Year < 1980) return {1980, 1, 1, 0, 0, 0};
    if (Time.Year > 2107) return {2107, 12, 31, 23, 59, 58};
    Time.Month = std::clamp(Time.Month, 1, 12);
    Time.Day = std::clamp(Time.Day, 1, 31);
    Time.Hour = std::clamp(Time.Hour, 0, 23);
    Time.Minute = std::clamp(Time.Minute, 0, 59);
    Time.Second = std::clamp(Time.Second, 0, 59);
    return Time;
}

} // namespace

int32_t TGenericFloppy::WriteSectorsChs(int32_t Head, int32_t Track, int32_t Sector,
                                        const uint8_t* Buffer, int32_t Count) {
    if (!ValidChs(Head, Track, Sector)) return 0;
    return WriteSectors(ChsToSector(Head, Track, Sector), Buffer, Count);
}

int32_t TGenericFloppy::WriteSectors(int32_t, const uint8_t*, int32_t) {
    return 0;
}

int32_t TGenericFloppy::ReadSectorsChs(int32_t Head, int32_t Track, int32_t Sector, uint8_t* Buffer,
                                       int32_t Count) {
    if (!ValidChs(Head, Track, Sector)) return 0;
    return ReadSectors(ChsToSector(Head, Track, Sector), Buffer, Count);
}

int32_t TGenericFloppy::ReadSectors(int32_t, uint8_t*, int32_t) {
    return 0;
}

uint16_t TGenericFloppy::GetFatEntry(int32_t Cluster) {
    if (!ValidFatIndex(Cluster)) return FatEndMark;
    uint8_t Group[FatGroupSectors * FloppySectorSize];
    if (ReadSectors(GroupSector(Cluster), Group, FatGroupSectors) == 0) return FatEndMark;
    return GetFat12Entry(Cluster % FatGroupEntries, Group);
}

int32_t TGenericFloppy::SetFatEntry(int32_t Cluster, uint16_t Value) {
    if (!ValidFatIndex(Cluster)) return 0;
    uint8_t Group[FatGroupSectors * FloppySectorSize];
    const int32_t Sector = GroupSector(Cluster);
    if (ReadSectors(Sector, Group, FatGroupSectors) == 0) return 0;
    SetFat12Entry(Cluster % FatGroupEntries, Value, Group);
    WriteSectors(Sector, Group, FatGroupSectors);
    return WriteSectors(Sector + FatSectors, Group, FatGroupSectors);
}

int32_t ChsToSector(int32_t Head, int32_t Track, int32_t Sector) {
    return Track * FloppyHeads * FloppySectorsPerTrack + Head * FloppySectorsPerTrack + Sector - 1;
}

uint16_t GetFat12Entry(int32_t Index, const uint8_t* Buffer) {
    const int32_t p = Index / 2 * 3;
    if (Index % 2 == 0) return uint16_t(Buffer[p] | (Buffer[p + 1] & 0x0F) << 8);
    return uint16_t(Buffer[p + 1] >> 4 | Buffer[p + 2] << 4);
}

void SetFat12Entry(int32_t Index, uint16_t Value, uint8_t* Buffer) {
    const int32_t p = Index / 2 * 3;
    if (Index % 2 == 0) {
        Buffer[p] = uint8_t(Value);
        Buffer[p + 1] = uint8_t((Buffer[p + 1] & 0xF0) | (Value >> 8 & 0x0F));
    } else {
        Buffer[p + 1] = uint8_t((Buffer[p + 1] & 0x0F) | (Value & 0x0F) << 4);
        Buffer[p + 2] = uint8_t(Value >> 4);
    }
}

std::optional<int64_t> SourceDateEpoch(bool* Malformed) {
    if (Malformed) *Malformed = false;
    const auto Text = Platform().EnvironmentVariable("SOURCE_DATE_EPOCH");
    if (!Text) return std::nullopt;
    int64_t Seconds = 0;
    const char* End = Text->data() + Text->size();
    const auto [Stop, Error] = std::from_chars(Text->data(), End, Seconds);
    if (Text->empty() || Error != std::errc() || Stop != End) {
        if (Malformed) *Malformed = true;
        return std::nullopt;
    }
    return Seconds;
}

uint16_t DosDateNow() {
    const TSystemTime Time = ClampToDos(Now());
    return uint16_t((Time.Year - 1980) * 512 + Time.Month * 32 + Time.Day);
}

uint16_t DosTimeNow() {
    const TSystemTime Time = ClampToDos(Now());
    return uint16_t(Time.Hour * 2048 + Time.Minute * 32 + Time.Second / 2);
}

int32_t TVirtualFloppy::WriteSectors(int32_t Sector, const uint8_t* Buffer, int32_t Count) {
    if (!ValidTransfer(Sector, Count)) return 0;
    std::memmove(&Image[size_t(Sector) * FloppySectorSize], Buffer,
                 size_t(Count) * FloppySectorSize);
    return Count;
}

int32_t TVirtualFloppy::ReadSectors(int32_t Sector, uint8_t* Buffer, int32_t Count) {
    if (!ValidTransfer(Sector, Count)) return 0;
    std::memmove(Buffer, &Image[size_t(Sector) * FloppySectorSize],
                 size_t(Count) * FloppySectorSize);
    return Count;
}

int64_t TVirtualFloppy::LoadFromStream(TStream& Stream, int64_t Count) {
    const int64_t Wanted = std::clamp<int64_t>(Count, 0, FloppyImageSize);
    int64_t Loaded = 0;
    while (Loaded < Wanted) {
        const int64_t Got = Stream.Read(&Image[size_t(Loaded)], Wanted - Loaded);
        if (Got <= 0) break;
        Loaded += Got;
    }
    // What the stream did not cover reads as a zeroed image with both FATs
    // seeded (F0 FF FF); only that part is cleared, not the whole image twice.
    std::memset(Image.data() + Loaded, 0, size_t(FloppyImageSize - Loaded));
    const uint8_t Seed[3] = {FloppyMediaByte, 0xFF, 0xFF};
    for (const int32_t Fat : {FatFirstSector, FatFirstSector + FatSectors})
        for (int32_t i = 0; i < 3; ++i)
            if (Fat * FloppySectorSize + i >= Loaded)
                Image[size_t(Fat * FloppySectorSize + i)] = Seed[i];
    return Loaded;
}
