#pragma once
// purgex report: reads the erase records the wiper wrote, checks each, shows
// a table of the erased disks and, on request, writes certificates as a PDF.

#include <iosfwd>
#include <string>
#include <vector>

struct TReportOptions {
    std::vector<std::string> Paths; // records, folders, disk or stick images
    std::string Pdf;                // empty: no PDF
    std::string Operator, Organisation;
};

// Exit status: 0 every record was sound (and the PDF written), 1 a record
// was left out, none was found, or the PDF failed.
int RunReportCommand(const TReportOptions& Options, std::ostream& Out, std::ostream& Err);
