#pragma once
// One row per erased disk, as the terminal table and the summary page show
// it.

#include <string>
#include <vector>

#include "report/EraseRecord.h"

struct TReportRow {
    std::string Record, Machine, Disk, Model, Serial, Size, Method, Result;
};

std::vector<TReportRow> ReportRows(const std::vector<TEraseRecord>& Records);

// "erased", "failed: the disk no longer answers", ...
std::string DiskResult(const TRecordDisk& Disk);
// Sectors of a size as "1 MB", "10.0 GB".
std::string DiskSize(const TRecordDisk& Disk);
// Whether the disk's result is the purge's (it ran, failed or was not
// offered), not a fall-back overwrite's: its method is then the purge.
bool PurgeRan(const TEraseRecord& Record, const TRecordDisk& Disk);
// "QEMU Standard PC (i440FX + PIIX, 1996), serial X"
std::string MachineName(const TEraseRecord& Record);

// The rows as a text table with a heading, columns padded (and long fields
// cut) to fit.
std::string ReportTable(const std::vector<TReportRow>& Rows);
