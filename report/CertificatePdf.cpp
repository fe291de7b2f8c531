#include "report/CertificatePdf.h"

#include "report/CertificatePdf.h"

#include <cerrno>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "report/PdfDocument.h"
#include "report/ReportRows.h"

namespace {

constexpr double PageWidth = TPdfDocument::PageWidth, PageHeight = TPdfDocument::PageHeight;
constexpr double Margin = 48;

class TPage {
public:
    explicit TPage(TPdfDocument& Pdf) : Pdf(Pdf) { Pdf.NewPage(); }

    // Text at the current line, cut with "~" to fit Width.
    void Text(double X, const std::string& S, double Size, bool Strong, double Width) {
        const auto Font = Strong ? TPdfDocument::Bold : TPdfDocument::Regular;
        std::string Shown = TPdfDocument::Encode(S);
        while (TPdfDocument::Width(Shown, Font, Size) > Width && Shown.size() > 1) {
            Shown.resize(Shown.size() - 2);
            Shown += "~";
        }
        Pdf.Text(X, Y, Font, Size, Shown);
    }

    void Title(const std::string& S) {
        Y += 20;
        Text(Margin, S, 18, true, PageWidth - 2 * Margin);
        Y += 10;
    }

    void Heading(const std::string& S) {
        Y += 18;
        Text(Margin, S, 11.5, true, PageWidth - 2 * Margin);
        Y += 3;
        Pdf.Line(Margin, Y, PageWidth - Margin, Y, 0.6);
        Y += 2;
    }

    // A field: its label and value; an empty value leaves a line to fill in.
    void Field(const std::string& Label, const std::string& Value) {
        Y += 14.5;
        Text(Margin + 4, Label, 9.5, false, 150);
        if (Value.empty())
            Pdf.Line(Margin + 170, Y + 2, PageWidth - Margin, Y + 2, 0.4);
        else
            Text(Margin + 170, Value, 9.5, true, PageWidth - 2 * Margin - 170);
    }

    void Small(const std::string& S) {
        Y += 12;
        Text(Margin, S, 8, false, PageWidth - 2 * Margin);
    }

    TPdfDocument& Pdf;
    double Y = Margin;
};

std::string Now() {
    const std::time_t T = std::time(nullptr);
    char Text[32];
    std::strftime(Text, sizeof Text, "%Y-%m-%d %H:%M", std::localtime(&T));
    return Text;
}

const char* const MarkerCheck = "marker sectors written before the purge, read after it";

std::string Verification(const TEraseRecord& R) {
    const std::string& Way = R.Record.at("verification");
    if (Way == "none") return "none (nothing was read back)";
    if (Way == "marker sectors") return MarkerCheck;
    return (Way == "every pass" ? "every pass" : "the last pass") +
           std::string(" read back and compared");
}

std::string VerificationResult(const TRecordDisk& D) {
    const auto& Res = D.Result;
    if (Res.at("verified_passes") == "0") return "not verified";
    if (Res.at("read_errors") != "0" || Res.at("mismatches") != "0")
        return "FAILED: " + Res.at("mismatches") + " sectors differ, " + Res.at("read_errors") +
               " unreadable";
    return "passed (" + Res.at("verified_passes") + " of " + Res.at("passes_done") +
           " passes read back)";
}

void Certificate(TPage& P, const TEraseRecord& R, const TRecordDisk& D,
                 const TCertificateOptions& O) {
    const bool Purge = PurgeRan(R, D);
    P.Title("Certificate of Sanitization");
    P.Small(std::string(Purge ? "Media sanitized by the drive's own erase command (purge)"
                              : "Media sanitized by overwriting") +
            ", after the sample certificate of NIST SP 800-88 Rev. 1.");
    P.Heading("Person performing sanitization");
    P.Field("Name", O.Operator);
    P.Field("Title", "");
    P.Field("Organization", O.Organisation);
    P.Field("Location", "");
    P.Field("Phone", "");
    P.Heading("Media information");
    // PURGIT.EFI numbers its disks 80h up too, but no BIOS names them.
    const bool Uefi = D.Result.at("path") == "UEFI Block I/O";
    P.Field("Media type", "hard disk, " + D.Disk.at("bus") +
                              (Uefi ? " (disk " + std::to_string(D.Number) + " of the UEFI wiper)"
                                    : " (BIOS disk " + D.Disk.at("bios") + ")"));
    P.Field("Make / model", D.Disk.at("model"));
    P.Field("Serial number", D.Disk.at("serial"));
    P.Field("Size", DiskSize(D) + " (" + D.Disk.at("sectors") + " sectors of " +
                        D.Disk.at("sector_bytes") + " bytes)");
    const auto Commands = D.Disk.find("capabilities");
    if (Commands != D.Disk.end()) P.Field("Erase commands", Commands->second);
    P.Field("Media property number", "");
    P.Field("Classification", "");
    P.Heading("Sanitization details");
    if (Purge) {
        // Nothing is claimed unless the wiper's own check passed.
        P.Field("Method type", D.Result.at("outcome") == "purged"
                                   ? "Purge (the drive's own erase command)"
                                   : "Purge - FAILED, the disk is not sanitized");
        P.Field("Method used", R.Record.at("purge") + ": " + D.Result.at("purge"));
    } else {
        P.Field("Method type", "Clear (overwrite)");
        P.Field("Method used", R.Record.at("method_name") + " (" + R.Record.at("method") + ")");
        P.Field("Passes", D.Result.at("passes_done") + " of " + D.Result.at("passes_planned") +
                              " written, " + R.Record.at("direction") + ", random data " +
                              R.Record.at("generator"));
        if (D.Result.count("purge"))
            P.Field("Purge asked for",
                    R.Record.at("purge") + ": not supported by this disk, so overwritten");
    }
    P.Field("Tool used (version)", R.Record.at("wiper"));
    P.Field("Started / ended", D.Disk.at("started") + "  /  " + D.Result.at("ended"));
    P.Field("Verification method", Purge ? MarkerCheck : Verification(R));
    P.Field("Verification result", Purge ? D.Result.at("purge_check") : VerificationResult(D));
    P.Field("Errors", D.Result.at("write_errors") + " write, " + D.Result.at("read_errors") +
                          " read, " + D.Result.at("mismatches") + " verification");
    P.Field("Outcome", DiskResult(D));
    P.Field("Post-sanitization destination", "");
    P.Heading("Machine");
    P.Field("Manufacturer", R.Machine.at("manufacturer"));
    P.Field("Product", R.Machine.at("product"));
    P.Field("Serial number", R.Machine.at("serial"));
    P.Field("UUID", R.Machine.at("uuid"));
    P.Heading("Record");
    P.Field("File", std::filesystem::path(R.File).filename().string() + ", disk " +
                        std::to_string(D.Number));
    P.Field("Checksum", R.Record.empty() ? "" : R.Checksum);
    P.Heading("Signatures");
    P.Field("Sanitized by (name)", "");
    P.Field("Signature / date", "");
    P.Field("Validated by (name)", "");
    P.Field("Signature / date", "");
}

void Summary(TPage& P, const std::vector<TEraseRecord>& Records, const TCertificateOptions& O) {
    P.Title("Summary of erase records");
    P.Field("Prepared", Now());
    P.Field("Operator", O.Operator);
    P.Field("Organization", O.Organisation);
    P.Field("Records read", std::to_string(Records.size()));
    const auto Rows = ReportRows(Records);
    P.Field("Disks", std::to_string(Rows.size()) + " (one certificate page each)");
    P.Heading("Disks");
    // Outcomes only: the reasons are on the certificates.
    static const double Columns[] = {0, 78, 118, 238, 322, 364, 422};
    static const char* const Heads[] = {"Record", "Disk",   "Model", "Serial",
                                        "Size",   "Method", "Result"};
    const double Width = PageWidth - 2 * Margin;
    auto Row = [&](const std::vector<std::string>& Cells, bool Strong) {
        P.Y += 13;
        if (P.Y > PageHeight - Margin) return;
        for (size_t i = 0; i < 7; ++i) {
            const double Right = i + 1 < 7 ? Columns[i + 1] - 4 : Width;
            P.Text(Margin + Columns[i], Cells[i], 8, Strong, Right - Columns[i]);
        }
    };
    Row({Heads, Heads + 7}, true);
    for (const auto& R : Rows)
        Row({R.Record.substr(R.Record.rfind(':') + 1), R.Disk, R.Model, R.Serial, R.Size, R.Method,
             R.Result.substr(0, R.Result.find(':'))},
            false);
    P.Heading("Machines");
    for (const auto& R : Records)
        P.Small(std::filesystem::path(R.File).filename().string() + ": " + MachineName(R));
    if (!O.Refused.empty()) {
        P.Heading("Records left out");
        for (const auto& Refused : O.Refused)
            P.Small(Refused);
    }
}

} // namespace

std::string WriteCertificates(const std::string& File, const std::vector<TEraseRecord>& Records,
                              const TCertificateOptions& Options) {
    TPdfDocument Pdf;
    {
        TPage P(Pdf);
        Summary(P, Records, Options);
    }
    for (const auto& R : Records)
        for (const auto& D : R.Disks) {
            TPage P(Pdf);
            Certificate(P, R, D, Options);
        }
    const std::string Bytes = Pdf.Bytes("Certificates of sanitization", "purgex report");

    // Written beside the target and renamed, so an existing file is replaced
    // only by a complete one.
    const std::filesystem::path Target(File);
    const std::filesystem::path Temporary = Target.string() + ".part";
    std::error_code Error;
    {
        std::ofstream Out(Temporary, std::ios::binary | std::ios::trunc);
        if (Out) Out.write(Bytes.data(), static_cast<std::streamsize>(Bytes.size()));
        if (!Out || !Out.flush()) {
            const std::string Reason = std::generic_category().message(errno);
            Out.close();
            std::filesystem::remove(Temporary, Error);
            return "the PDF could not be written: " + Reason;
        }
    }
    std::filesystem::rename(Temporary, Target, Error);
    if (Error) {
        std::filesystem::remove(Temporary, Error);
        return "the PDF could not be put in place: " + Error.message();
    }
    return "";
}
