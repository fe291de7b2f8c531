#pragma once
// A small PDF 1.4 writer for text pages: A4 pages of Helvetica and
// Helvetica-Bold text and lines. Both are fonts every PDF reader has, so
// nothing is embedded and no font file is needed on any platform.

#include <string>
#include <vector>

class TPdfDocument {
public:
    static constexpr double PageWidth = 595.28, PageHeight = 841.89; // A4 in points
    enum TFont { Regular, Bold };

    // Text as the fonts' encoding (WinAnsi): printable ASCII and Latin-1
    // kept, anything else (other scripts, control characters, broken UTF-8)
    // becomes '?'.
    static std::string Encode(const std::string& Utf8);
    // The advance width of encoded text, in points.
    static double Width(const std::string& Encoded, TFont Font, double Size);

    void NewPage();
    // Y counts down from the page's top edge, to the text's baseline.
    void Text(double X, double Y, TFont Font, double Size, const std::string& Encoded);
    void Line(double X1, double Y1, double X2, double Y2, double Thickness);

    size_t Pages() const { return PageContents.size(); }
    // The whole file.
    std::string Bytes(const std::string& Title, const std::string& Creator) const;

private:
    std::string& Content();
    std::vector<std::string> PageContents;
};
