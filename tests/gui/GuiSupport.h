#pragma once
// What the GUI tests share: letting the windows work for a while, answering
// message boxes and pickers as a user would (by clicking their buttons), and
// pictures of windows saved as BMP files (the test script makes PNGs).

#include <gtest/gtest.h>

#include <windows.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

// Runs window messages for about Milliseconds.
void RunFor(int Milliseconds);

// Lets the window finish painting, saves its client area as it shows on the
// screen as Name.bmp in the screens folder, and judges the picture: it must
// be what the window painted, differ from the picture taken before, and show
// every visible control inside the window (one with text not as a plain
// patch of colour).
::testing::AssertionResult Screenshot(HWND Window, const std::string& Name);

// Answers the message boxes that appear, in order, by clicking: 'L' left,
// 'M' middle, 'R' right button, 'C' the close box. Every box's text is
// logged; a box beyond the answers is closed with its close box.
class TBoxAnswerer {
public:
    TBoxAnswerer();
    ~TBoxAnswerer();
    std::deque<char> Answers;
    std::vector<std::string> Texts;
    // Called once before the box with this 0-based number is answered.
    std::function<void(size_t Box, HWND Window)> BeforeAnswer;
    // Called once each time the MS-DOS folder picker shows; it posts its
    // clicks.
    std::function<void(HWND Picker)> OnPicker;
    // Called on every tick (about every 30 ms).
    std::function<void()> OnTick;

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD);
    void Check();
    UINT_PTR Timer = 0;
    bool PickerSeen = false;
};

// The visible button of a message box at client x (58 left, 109 middle,
// 160 right).
HWND BoxButton(HWND Box, int x);
