#pragma once
// Certificates of sanitization as a PDF: a summary page, then one page per
// erased disk. Built with cairo's PDF surface and a DejaVu font from the
// system's fonts (embedded); builds without cairo make no PDF.

#include <string>
#include <vector>

#include "report/EraseRecord.h"

struct TCertificateOptions {
    std::string Operator, Organisation;
    std::vector<std::string> Refused; // messages about records left out
};

// Whether this build can write a PDF at all.
bool CertificatesAvailable();

// Writes File (through a temporary file beside it, renamed when complete);
// answers "" or what went wrong.
std::string WriteCertificates(const std::string& File, const std::vector<TEraseRecord>& Records,
                              const TCertificateOptions& Options);
