#include "image/ExeData.h"

#include <algorithm>
#include <cctype>

#include "image/LZH.h"
#include "platform/Platform.h"

std::unique_ptr<TExeDataBase> DiskStore;
std::unique_ptr<TExeDataBase> CdStore;

namespace {

// Sizes read from a container are checked against what is left before
// anything is allocated, so a hostile length cannot ask for gigabytes.
uint32_t ReadLength(TStream& Source, const char* What) {
    const uint32_t Length = Source.ReadLE32();
    const int64_t Left = Source.Size() - Source.Position();
    if (int64_t(Length) > Left)
        throw EStoreError(std::string("Container ") + What + " runs past its end");
    return Length;
}

bool SameText(std::string_view A, std::string_view B) {
    return std::equal(A.begin(), A.end(), B.begin(), B.end(), [](char x, char y) {
        return std::toupper(static_cast<unsigned char>(x)) ==
               std::toupper(static_cast<unsigned char>(y));
    });
}

bool LoadStore(std::unique_ptr<TExeDataBase>& Store, const char* ResourceName) {
    try {
        Store = std::make_unique<TExeDataBase>();
        const auto Resource = Platform().OwnResource("STREAM", ResourceName);
        if (!Resource) return false;
        TReadOnlyStream Stream(*Resource);
        Store->LoadContainer(Stream);
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace

void TExeData::LoadItem(TStream& Source) {
    ItemKind = Source.ReadByte();
    ItemName.resize(ReadLength(Source, "item name"));
    Source.ReadBuffer(ItemName.data(), int64_t(ItemName.size()));
    const uint32_t DataLength = ReadLength(Source, "item data");
    ItemData.Clear();
    ItemData.Reserve(DataLength);
    ItemData.CopyFrom(Source, DataLength);
}

void TExeDataBase::LoadContainer(TStream& Source) {
    TMemoryStream Payload;
    const uint8_t Packed = Source.ReadByte();
    const uint32_t PayloadLength = Source.ReadLE32();
    if (Packed != 0) {
        TMemoryStream Coded;
        Coded.CopyRest(Source);
        Coded.SetPosition(0);
        // The header's length is only a hint here; no stream expands more
        // than 48-fold (a 60-byte match takes at least 10 bits).
        Payload.Reserve(std::min<int64_t>(PayloadLength, Coded.Size() * 48));
        UnpackStream(Coded, Payload);
    } else {
        Payload.CopyFrom(Source, PayloadLength);
    }

    Payload.SetPosition(0);
    const uint32_t Count = Payload.ReadLE32();
    // An item takes at least 9 bytes (kind, name length, data length).
    if (uint64_t(Count) * 9 > uint64_t(Payload.Size() - Payload.Position()))
        throw EStoreError("Container item count exceeds its payload");
    ItemCount = int32_t(Count);
    Items.clear();
    Items.reserve(Count);
    for (uint32_t i = 0; i < Count; ++i) {
        auto Item = std::make_unique<TExeData>();
        Item->LoadItem(Payload);
        Items.push_back(std::move(Item));
    }
}

TMemoryStream* TExeDataBase::FindItem(std::string_view Name, uint8_t Kind) const {
    for (const auto& Item : Items)
        if (Item->ItemKind == Kind && SameText(Item->ItemName, Name)) return &Item->ItemData;
    return nullptr;
}

bool LoadDiskStore() { return LoadStore(DiskStore, "PURGXDSK"); }
bool LoadCdStore() { return LoadStore(CdStore, "PURGXCD"); }
