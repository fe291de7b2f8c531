#include "ui/WizardRules.h"

#include <algorithm>

const char* const CommandLineTooLongText =
    "The command line parameters are too long: DOS passes at most 120 characters.";

std::string CleanNumber(const std::string& Text) {
    std::string Digits;
    for (char c : Text)
        if (c >= '0' && c <= '9') Digits += c;
    if (Digits.empty()) Digits = "0";
    if (Digits == "0") Digits = "1";
    return Digits;
}

namespace {
// A quantity box holds two characters; longer pasted digit runs still read
// without overflow.
long long ReadNumber(const std::string& Digits) {
    long long n = 0;
    for (char c : Digits)
        n = std::min<long long>(n * 10 + (c - '0'), 1000000);
    return n;
}
} // namespace

std::string IncNumber(const std::string& Text, int Upper) {
    return std::to_string(std::min<long long>(ReadNumber(CleanNumber(Text)) + 1, Upper));
}

std::string DecNumber(const std::string& Text, int Lower) {
    return std::to_string(std::max<long long>(ReadNumber(CleanNumber(Text)) - 1, Lower));
}

TButtonLook ButtonPicture(const TButtonState& s) {
    if (!s.HasPictures) return TButtonLook::Outline;
    if (s.Focused && !s.MouseInside) return TButtonLook::Focused;
    if (s.MouseInside && s.MouseDown && s.Enabled) return TButtonLook::Pushed;
    if (s.MouseInside && !s.MouseDown && s.Enabled) return TButtonLook::Focused;
    if (s.Enabled) return TButtonLook::Normal;
    return TButtonLook::Inactive;
}

TButtonLook ButtonCaptionColour(const TButtonState& s) {
    if (!s.HasPictures) return TButtonLook::Normal;
    if (s.Focused && !s.MouseInside) return TButtonLook::Normal;
    return ButtonPicture(s);
}

std::vector<std::string> OsChoices(const TWindowsVersion& v) {
    static const TWindowsVersion WithMsDos[] = {
        {1, 4, 0}, {1, 4, 10}, {1, 4, 90}, {2, 5, 1}, {2, 5, 2}};
    for (const auto& Listed : WithMsDos)
        if (v == Listed) return {"Ms-Dos", "Rx-Dos"};
    return {"Rx-Dos"};
}

bool UsesMsDos(size_t ItemCount, int Selected) {
    return ItemCount == 2 && Selected == 0;
}

int CentredOver(int OwnerStart, int OwnerSize, int BoxSize) {
    return OwnerStart + (OwnerSize - BoxSize) / 2;
}
