#pragma once
// Certificates of sanitization as a PDF: a summary page, then one page per
// erased disk (report/PdfDocument).

#include <string>
#include <vector>

#include "report/EraseRecord.h"

struct TCertificateOptions {
    std::string Operator, Organisation;
    std::vector<std::string> Refused; // messages about records left out
};

// Writes File (through a temporary file beside it, renamed when complete);
// answers "" or what went wrong.
std::string WriteCertificates(const std::string& File, const std::vector<TEraseRecord>& Records,
                              const TCertificateOptions& Options);
