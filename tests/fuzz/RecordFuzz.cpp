// The erase record reader on arbitrary bytes, and the FAT image reader of
// purgex report on arbitrary images. The first byte chooses. A record the
// reader accepts must hold what the table and the certificates use, its
// checksum must be that of its lines, and no record is ever half used.

#include <cstdio>
#include <string>
#include <unistd.h>

#include "FuzzTarget.h"
#include "report/EraseRecord.h"
#include "report/RecordFiles.h"
#include "report/ReportRows.h"

PURGEX_FUZZ_TARGET(RecordFuzz) {
    if (Size == 0) return 0;
    const std::string Bytes(reinterpret_cast<const char*>(Data) + 1, Size - 1);
    if (Data[0] & 1) {
        char Name[] = "/tmp/purgex-record-fuzz-XXXXXX";
        const int Fd = ::mkstemp(Name);
        if (Fd < 0) return 0;
        const bool Written = ::write(Fd, Bytes.data(), Bytes.size()) == ssize_t(Bytes.size());
        ::close(Fd);
        std::vector<TFoundRecord> Records;
        std::string Problem;
        if (Written && ReadImageRecords(Name, Records, Problem)) {
            PURGEX_FUZZ_CHECK(Problem.empty());
            for (const auto& R : Records) {
                PURGEX_FUZZ_CHECK(R.Bytes.size() <= MaxRecordBytes + 1);
                TRecordFault Fault;
                (void)ParseEraseRecord(R.Bytes, R.Name, Fault);
            }
        } else if (Written) {
            PURGEX_FUZZ_CHECK(!Problem.empty());
        }
        ::unlink(Name);
        return 0;
    }
    TRecordFault Fault;
    const auto Record = ParseEraseRecord(Bytes, "fuzz.rec", Fault);
    if (!Record) {
        PURGEX_FUZZ_CHECK(!Fault.Message.empty());
        PURGEX_FUZZ_CHECK(Fault.File == "fuzz.rec");
        return 0;
    }
    const size_t Last = Bytes.rfind("checksum=crc32:");
    PURGEX_FUZZ_CHECK(Last != std::string::npos);
    char Crc[16];
    std::snprintf(Crc, sizeof Crc, "crc32:%08X",
                  unsigned(RecordCrc32(std::string_view(Bytes).substr(0, Last))));
    PURGEX_FUZZ_CHECK(Record->Checksum == Crc);
    PURGEX_FUZZ_CHECK(Record->Disks.size() == std::stoul(Record->Record.at("disks")));
    // Everything the table needs is there (at() throws otherwise).
    const auto Rows = ReportRows({*Record});
    PURGEX_FUZZ_CHECK(Rows.size() == Record->Disks.size());
    PURGEX_FUZZ_CHECK(!ReportTable(Rows).empty());
    return 0;
}
