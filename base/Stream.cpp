#include "base/Stream.h"

#include <algorithm>
#include <cstring>

void TStream::SetPosition(int64_t Value) {
    if (Seek(Value, TSeekOrigin::Begin) != Value) throw EStreamError("Stream seek error");
}

int64_t TStream::Size() {
    const int64_t Saved = Position();
    const int64_t End = Seek(0, TSeekOrigin::End);
    Seek(Saved, TSeekOrigin::Begin);
    return End;
}

void TStream::ReadBuffer(void* Buffer, int64_t Count) {
    if (Count < 0 || Read(Buffer, Count) != Count) throw EStreamError("Stream read error");
}

void TStream::WriteBuffer(const void* Buffer, int64_t Count) {
    if (Count < 0 || Write(Buffer, Count) != Count) throw EStreamError("Stream write error");
}

uint8_t TStream::ReadByte() {
    uint8_t Value;
    ReadBuffer(&Value, 1);
    return Value;
}

uint32_t TStream::ReadLE32() {
    uint8_t Bytes[4];
    ReadBuffer(Bytes, 4);
    return uint32_t(Bytes[0]) | uint32_t(Bytes[1]) << 8 | uint32_t(Bytes[2]) << 16 |
           uint32_t(Bytes[3]) << 24;
}

void TStream::CopyFrom(TStream& Source, int64_t Count) {
    uint8_t Chunk[65536];
    while (Count > 0) {
        const int64_t Step = std::min<int64_t>(Count, sizeof Chunk);
        Source.ReadBuffer(Chunk, Step);
        WriteBuffer(Chunk, Step);
        Count -= Step;
    }
}

int64_t TStream::CopyRest(TStream& Source) {
    uint8_t Chunk[65536];
    int64_t Total = 0;
    for (;;) {
        const int64_t Got = Source.Read(Chunk, sizeof Chunk);
        if (Got <= 0) return Total;
        WriteBuffer(Chunk, Got);
        Total += Got;
    }
}

namespace {

// Reading and seeking over bytes held in memory, shared by both memory streams.
int64_t ReadBytes(const uint8_t* Data, int64_t Size, int64_t& Pos, void* Buffer, int64_t Count) {
    const int64_t Step = std::clamp<int64_t>(Count, 0, std::max<int64_t>(Size - Pos, 0));
    if (Step > 0) std::memcpy(Buffer, Data + Pos, size_t(Step));
    Pos += Step;
    return Step;
}

int64_t SeekBytes(int64_t Size, int64_t& Pos, int64_t Offset, TSeekOrigin Origin) {
    const int64_t Base = Origin == TSeekOrigin::Begin     ? 0
                         : Origin == TSeekOrigin::Current ? Pos
                                                          : Size;
    if (Base + Offset < 0) return -1;
    Pos = Base + Offset;
    return Pos;
}

} // namespace

int64_t TMemoryStream::Read(void* Buffer, int64_t Count) {
    return ReadBytes(Data.data(), int64_t(Data.size()), Pos, Buffer, Count);
}

int64_t TMemoryStream::Write(const void* Buffer, int64_t Count) {
    if (Count <= 0) return 0;
    const auto* Bytes = static_cast<const uint8_t*>(Buffer);
    if (Pos == int64_t(Data.size())) {
        Data.insert(Data.end(), Bytes, Bytes + Count); // appending: nothing to clear first
        Pos += Count;
        return Count;
    }
    if (Pos + Count > int64_t(Data.size())) Data.resize(size_t(Pos + Count));
    std::memcpy(Data.data() + Pos, Buffer, size_t(Count));
    Pos += Count;
    return Count;
}

int64_t TMemoryStream::Seek(int64_t Offset, TSeekOrigin Origin) {
    return SeekBytes(int64_t(Data.size()), Pos, Offset, Origin);
}

void TMemoryStream::Clear() {
    Data.clear();
    Pos = 0;
}

void TMemoryStream::SetSize(int64_t NewSize) {
    Data.resize(size_t(std::max<int64_t>(NewSize, 0)));
    Pos = std::min<int64_t>(Pos, int64_t(Data.size()));
}

int64_t TReadOnlyStream::Read(void* Buffer, int64_t Count) {
    return ReadBytes(Data.data(), int64_t(Data.size()), Pos, Buffer, Count);
}

int64_t TReadOnlyStream::Seek(int64_t Offset, TSeekOrigin Origin) {
    return SeekBytes(int64_t(Data.size()), Pos, Offset, Origin);
}
