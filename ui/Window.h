#pragma once
// What every window of the wizard shares: a window class whose messages go to
// the C++ object that made the window, fonts and colours at the sizes the
// layouts are drawn for (96 dots per inch), message pumping and modal display.

#include <windows.h>

#include <functional>
#include <string>

// RGB as the layouts write it (#RRGGBB).
constexpr COLORREF Rgb(uint32_t Hex) {
    return RGB((Hex >> 16) & 0xFF, (Hex >> 8) & 0xFF, Hex & 0xFF);
}
constexpr COLORREF WindowColour = Rgb(0xE8EBF0);
constexpr COLORREF SkyBlue = Rgb(0xA6CAF0);

// A font by face, points and weight, made once and kept for the program.
HFONT UiFont(const char* Face, int Points, bool Bold = false, bool Underline = false,
             int Charset = DEFAULT_CHARSET);
// A solid brush per colour, kept for the program.
HBRUSH UiBrush(COLORREF Colour);

// A window owned by a C++ object: the class's messages reach HandleMessage.
class TWindow {
public:
    virtual ~TWindow();
    TWindow() = default;
    TWindow(const TWindow&) = delete;
    TWindow& operator=(const TWindow&) = delete;

    HWND Handle() const { return Wnd; }

protected:
    // Registers ClassName once and creates the window.
    bool CreateAs(const char* ClassName, DWORD Style, DWORD ExStyle, int x, int y, int w, int h,
                  HWND Parent, const char* Caption = "", HCURSOR Cursor = nullptr);
    virtual LRESULT HandleMessage(UINT Msg, WPARAM w, LPARAM l);
    LRESULT Default(UINT Msg, WPARAM w, LPARAM l) { return DefWindowProcA(Wnd, Msg, w, l); }
    HWND Wnd = nullptr;

private:
    static LRESULT CALLBACK Dispatch(HWND Wnd, UINT Msg, WPARAM w, LPARAM l);
};

// A standard control as a child: class, text, style, place.
HWND MakeControl(HWND Parent, const char* ClassName, const char* Text, DWORD Style, int x, int y,
                 int w, int h, HFONT Font, int Id = 0);

// Lets pending window messages run; a WM_QUIT stays queued for the loop.
// Tab and Shift+Tab move the focus through a window's tab stops in creation
// order, as in a dialog box; every other message is dispatched as usual.
void DispatchKeepingTabOrder(MSG& Msg);
void PumpMessages();

// Shows Box modally over the thread's other windows and runs messages until
// Done() answers true; the others are enabled again afterwards.
void RunModal(HWND Box, const std::function<bool()>& Done);

// A window's text.
std::string WindowText(HWND Wnd);

// Client size set, the window's border added.
void SetClientSize(HWND Wnd, int Width, int Height);
