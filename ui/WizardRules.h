#pragma once
// The wizard's rules that need no window: the quantity texts of a row, the
// look of an image button in each state, the OS choices by Windows version,
// the command-line limit and the centring of boxes. Portable, so the native
// tests check them too.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Platform.h"

// Only the digits, in order; nothing left gives "0", and "0" gives "1".
std::string CleanNumber(const std::string& Text);
// The smaller of CleanNumber(Text) + 1 and Upper, as text.
std::string IncNumber(const std::string& Text, int Upper);
// The larger of CleanNumber(Text) - 1 and Lower, as text.
std::string DecNumber(const std::string& Text, int Lower);

// Which picture and caption colour an image button shows.
enum class TButtonLook { Normal, Focused, Pushed, Inactive, Outline };
struct TButtonState {
    bool HasPictures = true;
    bool Focused = false;
    bool MouseInside = false;
    bool MouseDown = false;
    bool Enabled = true;
};
// The picture by the first rule that holds; Outline when there is no
// picture list. The caption colour follows the look, except that a focused
// button without the pointer keeps the normal caption colour.
TButtonLook ButtonPicture(const TButtonState& State);
TButtonLook ButtonCaptionColour(const TButtonState& State);

// The items of ComboBoxOS: "Ms-Dos" and "Rx-Dos" on 95, 98, Me, XP and
// Server 2003; elsewhere the floppy is written from the embedded Rx-DOS
// image, so the single item names that system.
std::vector<std::string> OsChoices(const TWindowsVersion& Version);
// MS-DOS system files on floppies: only with two items and item 0 chosen.
bool UsesMsDos(size_t ItemCount, int Selected);

// "Purgit " and the parameters form one batch line, which DOS cuts at 127
// characters.
constexpr size_t MaxCommandLineLength = 120;
extern const char* const CommandLineTooLongText;

// Left or top of a box centred over its owner, halves truncated toward zero.
int CentredOver(int OwnerStart, int OwnerSize, int BoxSize);

// The most rows the device list holds.
constexpr size_t MaxRows = 51;
