#pragma once
// Byte streams shared by every layer: an abstract stream, a growable memory
// stream and a read-only view over bytes that live elsewhere (resources).
// Short reads and refused writes through ReadBuffer/WriteBuffer raise
// EStreamError; Read and Write report counts and never raise.

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

class EStreamError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class TSeekOrigin { Begin, Current, End };

class TStream {
public:
    virtual ~TStream() = default;
    // Reads up to Count bytes; returns how many were read (0 at the end).
    virtual int64_t Read(void* Buffer, int64_t Count) = 0;
    // Writes up to Count bytes; returns how many were accepted.
    virtual int64_t Write(const void* Buffer, int64_t Count) = 0;
    // Moves the position; returns the new position, or -1 when refused.
    virtual int64_t Seek(int64_t Offset, TSeekOrigin Origin) = 0;

    int64_t Position() { return Seek(0, TSeekOrigin::Current); }
    void SetPosition(int64_t Value);
    int64_t Size();

    // Exactly Count bytes or EStreamError.
    void ReadBuffer(void* Buffer, int64_t Count);
    void WriteBuffer(const void* Buffer, int64_t Count);
    uint8_t ReadByte();
    uint32_t ReadLE32();
    // Copies exactly Count bytes from Source's position; EStreamError when
    // Source runs out or this stream refuses bytes.
    void CopyFrom(TStream& Source, int64_t Count);
    // Copies everything from Source's position to its end; returns the count.
    int64_t CopyRest(TStream& Source);
};

class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::vector<uint8_t> Bytes) : Data(std::move(Bytes)) {}

    int64_t Read(void* Buffer, int64_t Count) override;
    int64_t Write(const void* Buffer, int64_t Count) override;
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;

    void Clear();
    void SetSize(int64_t NewSize);
    void Reserve(int64_t Capacity) { Data.reserve(size_t(Capacity)); }
    uint8_t* Memory() { return Data.data(); }
    const std::vector<uint8_t>& Bytes() const { return Data; }

private:
    std::vector<uint8_t> Data;
    int64_t Pos = 0;
};

// A read-only stream over bytes owned by someone else (an embedded resource).
class TReadOnlyStream : public TStream {
public:
    explicit TReadOnlyStream(std::span<const uint8_t> Bytes) : Data(Bytes) {}

    int64_t Read(void* Buffer, int64_t Count) override;
    int64_t Write(const void*, int64_t) override { return 0; }
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;

private:
    std::span<const uint8_t> Data;
    int64_t Pos = 0;
};
