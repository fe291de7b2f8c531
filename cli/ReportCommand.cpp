#include "cli/ReportCommand.h"

#include <ostream>

#include "report/CertificatePdf.h"
#include "report/EraseRecord.h"
#include "report/RecordFiles.h"
#include "report/ReportRows.h"

int RunReportCommand(const TReportOptions& Options, std::ostream& Out, std::ostream& Err) {
    TFoundRecords Found;
    for (const auto& Path : Options.Paths)
        FindRecords(Path, Found);
    std::vector<std::string> Refused = Found.Problems;
    std::vector<TEraseRecord> Records;
    for (const auto& F : Found.Records) {
        TRecordFault Fault;
        if (auto Record = ParseEraseRecord(F.Bytes, F.Name, Fault))
            Records.push_back(std::move(*Record));
        else
            Refused.push_back(Fault.Text() + "; the record is left out");
    }
    for (const auto& Problem : Refused)
        Err << "purgex: " << Problem << "\n";
    if (Records.empty()) {
        Err << "purgex: no erase record to report\n";
        return 1;
    }
    Out << ReportTable(ReportRows(Records));
    if (!Options.Pdf.empty()) {
        TCertificateOptions Certificate{Options.Operator, Options.Organisation, Refused};
        const std::string Problem = WriteCertificates(Options.Pdf, Records, Certificate);
        if (!Problem.empty()) {
            Err << "purgex: " << Options.Pdf << ": " << Problem << "\n";
            return 1;
        }
        size_t Pages = 1;
        for (const auto& R : Records)
            Pages += R.Disks.size();
        Out << "Certificates written to " << Options.Pdf << " (" << Pages << " pages)\n";
    }
    return Refused.empty() ? 0 : 1;
}
