#include "image/ExeData.h"

#include <algorithm>
#include <cctype>

#include "base/ByteOrder.h"
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

// Files the payload into items as it arrives, so the payload is never held
// whole beside the items made from it. Lengths are checked against what is
// left of the payload before anything is allocated, as ReadLength does.
class TItemSink : public TStream {
public:
    explicit TItemSink(uint32_t Total) : Left(Total) {}

    int64_t Read(void*, int64_t) override { return 0; }
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override {
        return Offset == 0 && Origin == TSeekOrigin::Current ? Taken : -1;
    }
    // Refuses everything after a malformed field; Finish then raises.
    int64_t Write(const void* Buffer, int64_t Count) override {
        if (Count <= 0 || Failure) return 0;
        const auto* Bytes = static_cast<const uint8_t*>(Buffer);
        int64_t Done = 0;
        while (Done < Count && State != TState::Done) {
            const int64_t Step = Take(Bytes + Done, Count - Done);
            if (Failure) return 0;
            Done += Step;
        }
        Taken += Count; // bytes after the last item are ignored
        return Count;
    }

    bool Failed() const { return Failure != nullptr; }

    std::vector<std::unique_ptr<TExeData>> Finish() {
        if (Failure) throw EStoreError(Failure);
        if (State != TState::Done) throw EStoreError("Container payload ends inside its items");
        return std::move(Items);
    }

private:
    enum class TState { Count, Kind, NameLength, Name, DataLength, Data, Done };

    // Consumes up to Count bytes for the current field; returns how many.
    int64_t Take(const uint8_t* Bytes, int64_t Count) {
        if (State == TState::Name || State == TState::Data) {
            const int64_t Step = std::min<int64_t>(Count, Wanted);
            if (State == TState::Name)
                Items.back()->ItemName.append(reinterpret_cast<const char*>(Bytes), size_t(Step));
            else
                Items.back()->ItemData.WriteBuffer(Bytes, Step);
            Consume(Step);
            Wanted -= uint32_t(Step);
            if (Wanted == 0) NextAfterBytes();
            return Step;
        }
        Field[FieldHave++] = Bytes[0];
        Consume(1);
        if (State == TState::Kind) {
            Items.push_back(std::make_unique<TExeData>());
            Items.back()->ItemKind = Field[0];
            FieldHave = 0;
            State = TState::NameLength;
        } else if (FieldHave == 4) {
            FieldHave = 0;
            FieldDone(GetLE32(Field));
        }
        return 1;
    }

    void FieldDone(uint32_t Value) {
        switch (State) {
        case TState::Count:
            // An item takes at least 9 bytes (kind, name length, data length).
            if (uint64_t(Value) * 9 > Left) return Fail("Container item count exceeds its payload");
            ItemsLeft = Value;
            Items.reserve(Value);
            State = ItemsLeft == 0 ? TState::Done : TState::Kind;
            return;
        case TState::NameLength:
            if (Value > Left) return Fail("Container item name runs past its end");
            Items.back()->ItemName.reserve(Value);
            Wanted = Value;
            State = TState::Name;
            if (Wanted == 0) NextAfterBytes();
            return;
        case TState::DataLength:
            if (Value > Left) return Fail("Container item data runs past its end");
            Items.back()->ItemData.Reserve(Value);
            Wanted = Value;
            State = TState::Data;
            if (Wanted == 0) NextAfterBytes();
            return;
        default:
            return;
        }
    }

    void NextAfterBytes() {
        if (State == TState::Name) {
            State = TState::DataLength;
        } else {
            State = --ItemsLeft == 0 ? TState::Done : TState::Kind;
        }
    }

    void Consume(int64_t Count) { Left -= uint32_t(Count); }
    void Fail(const char* Message) { Failure = Message; }

    TState State = TState::Count;
    uint8_t Field[4] = {};
    int FieldHave = 0;
    uint32_t Left;       // payload bytes not yet taken
    uint32_t Wanted = 0; // of the current name or data
    uint32_t ItemsLeft = 0;
    int64_t Taken = 0;
    const char* Failure = nullptr;
    std::vector<std::unique_ptr<TExeData>> Items;
};

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
    const uint8_t Packed = Source.ReadByte();
    const uint32_t PayloadLength = Source.ReadLE32();
    const int64_t Left = Source.Size() - Source.Position();
    std::unique_ptr<TItemSink> Sink;
    try {
        if (Packed != 0) {
            // The header's length is only a hint here: the LZH stream carries the
            // true one. No stream expands more than 48-fold (a 60-byte match takes
            // at least 10 bits), so a larger claim cannot decode.
            const int64_t Start = Source.Position();
            const uint32_t Decoded = Source.ReadLE32();
            Source.SetPosition(Start);
            if (int64_t(Decoded) > Left * 48)
                throw ELZHError("LZH stream ends before its decoded size");
            Sink = std::make_unique<TItemSink>(Decoded);
            UnpackStream(Source, *Sink);
        } else {
            if (int64_t(PayloadLength) > Left) throw EStreamError("Stream read error");
            Sink = std::make_unique<TItemSink>(PayloadLength);
            Sink->CopyFrom(Source, PayloadLength);
        }
    } catch (const EStreamError&) {
        // A refused write is a malformed item: report that, not the write.
        if (Sink && Sink->Failed()) Sink->Finish();
        throw;
    }
    Items = Sink->Finish();
    ItemCount = int32_t(Items.size());
}

TMemoryStream* TExeDataBase::FindItem(std::string_view Name, uint8_t Kind) const {
    for (const auto& Item : Items)
        if (Item->ItemKind == Kind && SameText(Item->ItemName, Name)) return &Item->ItemData;
    return nullptr;
}

bool LoadDiskStore() { return LoadStore(DiskStore, "PURGXDSK"); }
bool LoadCdStore() { return LoadStore(CdStore, "PURGXCD"); }
