#include "report/ReportRows.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>

std::string DiskResult(const TRecordDisk& Disk) {
    const std::string& Outcome = Disk.Result.at("outcome");
    if (Outcome == "purged") return Disk.Result.at("purge");
    const std::string& Reason = Disk.Result.at("reason");
    return Reason == "none" ? Outcome : Outcome + ": " + Reason;
}

std::string DiskSize(const TRecordDisk& Disk) {
    const double Bytes = double(std::stoull(Disk.Disk.at("sectors"))) *
                         double(std::stoull(Disk.Disk.at("sector_bytes")));
    const double Mb = Bytes / 1048576.0;
    char Text[32];
    if (Mb < 10240)
        std::snprintf(Text, sizeof Text, "%.0f MB", Mb);
    else
        std::snprintf(Text, sizeof Text, "%.1f GB", Mb / 1024);
    return Text;
}

std::string MachineName(const TEraseRecord& Record) {
    const auto& M = Record.Machine;
    std::string Name;
    for (const char* Key : {"manufacturer", "product"})
        if (M.at(Key) != "unknown") Name += (Name.empty() ? "" : " ") + M.at(Key);
    if (Name.empty()) Name = "unknown machine";
    if (M.at("serial") != "unknown") Name += ", serial " + M.at("serial");
    return Name;
}

bool PurgeRan(const TEraseRecord& Record, const TRecordDisk& Disk) {
    const auto Purge = Disk.Result.find("purge");
    return Record.Record.count("purge") && Purge != Disk.Result.end() &&
           Purge->second.find("overwritten with the fall-back method") == std::string::npos;
}

std::vector<TReportRow> ReportRows(const std::vector<TEraseRecord>& Records) {
    std::vector<TReportRow> Rows;
    for (const auto& R : Records)
        for (const auto& D : R.Disks)
            Rows.push_back({std::filesystem::path(R.File).filename().string(), MachineName(R),
                            std::to_string(D.Number) + " (" + D.Disk.at("bios") + ")",
                            D.Disk.at("model"), D.Disk.at("serial"), DiskSize(D),
                            PurgeRan(R, D) ? R.Record.at("purge") : R.Record.at("method"),
                            DiskResult(D)});
    return Rows;
}

std::string ReportTable(const std::vector<TReportRow>& Rows) {
    static const std::array<const char*, 8> Heads{"Record", "Machine", "Disk",   "Model",
                                                  "Serial", "Size",    "Method", "Result"};
    static const std::array<size_t, 8> Limits{24, 48, 9, 24, 20, 9, 12, 60};
    std::vector<std::array<std::string, 8>> Cells;
    Cells.push_back({});
    for (size_t i = 0; i < 8; ++i)
        Cells.back()[i] = Heads[i];
    for (const auto& R : Rows)
        Cells.push_back(
            {R.Record, R.Machine, R.Disk, R.Model, R.Serial, R.Size, R.Method, R.Result});
    std::array<size_t, 8> Widths{};
    for (auto& Row : Cells)
        for (size_t i = 0; i < 8; ++i) {
            if (Row[i].size() > Limits[i]) Row[i] = Row[i].substr(0, Limits[i] - 1) + "~";
            Widths[i] = std::max(Widths[i], Row[i].size());
        }
    std::string Out;
    for (const auto& Row : Cells) {
        std::string Line;
        for (size_t i = 0; i < 8; ++i) {
            Line += Row[i];
            if (i + 1 < 8) Line += std::string(Widths[i] - Row[i].size() + 2, ' ');
        }
        Out += Line + "\n";
    }
    return Out;
}
