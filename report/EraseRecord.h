#pragma once
// The erase record that the wiper writes beside its report (PURGnnnn.REC):
// key=value lines in sections, CR LF, a CRC-32 line at the end; the format
// is described in docs/record.md. The reader is strict: a record with any
// fault is refused whole, with the file and the line of the first fault.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using TRecordSection = std::map<std::string, std::string>;

struct TRecordPass {
    TRecordSection Keys;
};

struct TRecordDisk {
    unsigned Number = 0; // as the wiper numbered it (its /D:n)
    TRecordSection Disk, Result;
    std::vector<TRecordPass> Passes;
};

struct TEraseRecord {
    std::string File;
    TRecordSection Record, Machine, End;
    std::vector<TRecordDisk> Disks;
    std::string Checksum; // "crc32:XXXXXXXX" as the record states it (and its lines give)
};

struct TRecordFault {
    std::string File;
    unsigned Line = 0; // 1-based; 0 when the fault concerns the whole file
    std::string Message;
    std::string Text() const; // "FILE:LINE: MESSAGE"
};

// Records are small (the DOS wiper keeps at most 64 KB); anything larger is
// not one.
constexpr size_t MaxRecordBytes = 1 << 20;
constexpr size_t MaxRecordValue = 1024;

// Reads one record from its bytes; File names it in the messages.
std::optional<TEraseRecord> ParseEraseRecord(std::string_view Bytes, const std::string& File,
                                             TRecordFault& Fault);

// CRC-32 (IEEE 802.3, reflected, as zlib's crc32).
uint32_t RecordCrc32(std::string_view Bytes);
