#include "report/PdfDocument.h"

#include <cmath>
#include <cstdint>
#include <stdexcept>

namespace {

// Advance widths (1/1000 em) of the codes 32-126 and 160-255, from the
// standard metrics of the two fonts (tools/pdf-font-widths.py).
const uint16_t Widths[2][191] = {
#include "PdfFontWidths.inc"
};

unsigned WidthOf(unsigned char Code, TPdfDocument::TFont Font) {
    if (Code >= 32 && Code <= 126) return Widths[Font][Code - 32];
    if (Code >= 160) return Widths[Font][Code - 160 + 95];
    return 0;
}

// Points with two decimals, independent of the C locale.
std::string Number(double V) {
    long long Hundredths = std::llround(V * 100);
    std::string Sign = Hundredths < 0 ? "-" : "";
    Hundredths = std::llabs(Hundredths);
    std::string Fraction = std::to_string(Hundredths % 100);
    if (Fraction.size() < 2) Fraction.insert(0, "0");
    return Sign + std::to_string(Hundredths / 100) + "." + Fraction;
}

std::string Literal(const std::string& Encoded) {
    std::string Out = "(";
    for (char C : Encoded) {
        if (C == '(' || C == ')' || C == '\\') Out += '\\';
        Out += C;
    }
    return Out + ")";
}

} // namespace

std::string TPdfDocument::Encode(const std::string& Utf8) {
    std::string Out;
    for (size_t i = 0; i < Utf8.size();) {
        const unsigned char Lead = static_cast<unsigned char>(Utf8[i]);
        // A sequence's length from its lead byte; 0 for a stray continuation
        // byte or a lead that no code point starts with.
        const size_t Length = Lead < 0x80   ? 1
                              : Lead < 0xC0 ? 0
                              : Lead < 0xE0 ? 2
                              : Lead < 0xF0 ? 3
                              : Lead < 0xF8 ? 4
                                            : 0;
        unsigned CodePoint = Length > 1 ? Lead & (0x7F >> Length) : Lead;
        bool Whole = Length > 0 && i + Length <= Utf8.size();
        for (size_t k = 1; Whole && k < Length; ++k) {
            const unsigned char Next = static_cast<unsigned char>(Utf8[i + k]);
            Whole = (Next & 0xC0) == 0x80;
            CodePoint = CodePoint << 6 | (Next & 0x3F);
        }
        const bool Shown = Whole && ((CodePoint >= 32 && CodePoint <= 126) ||
                                     (CodePoint >= 160 && CodePoint <= 255));
        Out += Shown ? static_cast<char>(CodePoint) : '?';
        i += Whole ? Length : 1;
    }
    return Out;
}

double TPdfDocument::Width(const std::string& Encoded, TFont Font, double Size) {
    unsigned Units = 0;
    for (char C : Encoded)
        Units += WidthOf(static_cast<unsigned char>(C), Font);
    return Units * Size / 1000;
}

void TPdfDocument::NewPage() {
    PageContents.emplace_back();
}

std::string& TPdfDocument::Content() {
    if (PageContents.empty()) throw std::logic_error("PDF text before the first page");
    return PageContents.back();
}

void TPdfDocument::Text(double X, double Y, TFont Font, double Size, const std::string& Encoded) {
    Content() += "BT /F" + std::to_string(Font + 1) + " " + Number(Size) + " Tf " + Number(X) +
                 " " + Number(PageHeight - Y) + " Td " + Literal(Encoded) + " Tj ET\n";
}

void TPdfDocument::Line(double X1, double Y1, double X2, double Y2, double Thickness) {
    Content() += Number(Thickness) + " w " + Number(X1) + " " + Number(PageHeight - Y1) + " m " +
                 Number(X2) + " " + Number(PageHeight - Y2) + " l S\n";
}

std::string TPdfDocument::Bytes(const std::string& Title, const std::string& Creator) const {
    // Objects: 1 catalog, 2 page tree, 3 and 4 the fonts, 5 the document
    // information, then each page and its content stream.
    std::string Out = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
    std::vector<size_t> Offsets;
    auto Object = [&](const std::string& Body) {
        Offsets.push_back(Out.size());
        Out += std::to_string(Offsets.size()) + " 0 obj\n" + Body + "\nendobj\n";
    };
    Object("<< /Type /Catalog /Pages 2 0 R >>");
    std::string Kids;
    for (size_t i = 0; i < PageContents.size(); ++i)
        Kids += std::to_string(6 + 2 * i) + " 0 R ";
    Object("<< /Type /Pages /Kids [ " + Kids + "] /Count " + std::to_string(PageContents.size()) +
           " >>");
    const char* const Names[2] = {"Helvetica", "Helvetica-Bold"};
    for (TFont Font : {Regular, Bold}) {
        std::string List;
        for (unsigned Code = 32; Code <= 255; ++Code)
            List += std::to_string(WidthOf(static_cast<unsigned char>(Code), Font)) +
                    (Code % 16 == 15 ? "\n" : " ");
        Object(std::string("<< /Type /Font /Subtype /Type1 /BaseFont /") + Names[Font] +
               " /Encoding /WinAnsiEncoding /FirstChar 32 /LastChar 255 /Widths [\n" + List +
               "] >>");
    }
    Object("<< /Title " + Literal(Encode(Title)) + " /Creator " + Literal(Encode(Creator)) +
           " /Producer " + Literal(Encode(Creator)) + " >>");
    for (size_t i = 0; i < PageContents.size(); ++i) {
        Object("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + Number(PageWidth) + " " +
               Number(PageHeight) +
               "] /Resources << /Font << /F1 3 0 R /F2 4 0 R >> >> /Contents " +
               std::to_string(7 + 2 * i) + " 0 R >>");
        const std::string& Stream = PageContents[i];
        Object("<< /Length " + std::to_string(Stream.size()) + " >>\nstream\n" + Stream +
               "endstream");
    }
    const size_t XrefAt = Out.size();
    Out += "xref\n0 " + std::to_string(Offsets.size() + 1) + "\n0000000000 65535 f \n";
    for (size_t At : Offsets) {
        std::string Digits = std::to_string(At);
        Out += std::string(10 - Digits.size(), '0') + Digits + " 00000 n \n";
    }
    Out += "trailer\n<< /Size " + std::to_string(Offsets.size() + 1) +
           " /Root 1 0 R /Info 5 0 R >>\nstartxref\n" + std::to_string(XrefAt) + "\n%%EOF\n";
    return Out;
}
