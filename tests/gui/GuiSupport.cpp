#include "GuiSupport.h"

#include "ui/Window.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>

namespace {
TBoxAnswerer* Current = nullptr;

struct TFound {
    const char* ClassName;
    HWND Window = nullptr;
};

BOOL CALLBACK FindVisible(HWND Wnd, LPARAM Param) {
    auto* Found = reinterpret_cast<TFound*>(Param);
    char Name[64] = {};
    GetClassNameA(Wnd, Name, sizeof Name);
    if (IsWindowVisible(Wnd) && strcmp(Name, Found->ClassName) == 0) {
        Found->Window = Wnd;
        return FALSE;
    }
    return TRUE;
}

HWND VisibleWindow(const char* ClassName) {
    TFound Found{ClassName};
    EnumThreadWindows(GetCurrentThreadId(), FindVisible, reinterpret_cast<LPARAM>(&Found));
    return Found.Window;
}

std::string ScreensFolder() {
    const char* Folder = getenv("PURGEX_SCREENS");
    return Folder && *Folder ? Folder : "screens";
}
} // namespace

void RunFor(int Milliseconds) {
    const DWORD End = GetTickCount() + DWORD(Milliseconds);
    MSG Msg;
    while (int(End - GetTickCount()) > 0) {
        while (PeekMessageA(&Msg, nullptr, 0, 0, PM_REMOVE)) DispatchKeepingTabOrder(Msg);
        Sleep(5);
    }
}

namespace {
// A picture of part of a device context: 24 bits a pixel, rows bottom-up
// and padded to 4 bytes, as a BMP file keeps them.
struct TPicture {
    int Width = 0, Height = 0;
    std::vector<uint8_t> Bits;
    int Stride() const { return (Width * 3 + 3) & ~3; }
    COLORREF At(int x, int y) const { // y from the top
        const uint8_t* p = &Bits[size_t((Height - 1 - y) * Stride() + x * 3)];
        return RGB(p[2], p[1], p[0]);
    }
};

TPicture Capture(HDC Source, int x, int y, int w, int h) {
    TPicture Picture;
    Picture.Width = w, Picture.Height = h;
    BITMAPINFO Info{};
    Info.bmiHeader.biSize = sizeof Info.bmiHeader;
    Info.bmiHeader.biWidth = w;
    Info.bmiHeader.biHeight = h;
    Info.bmiHeader.biPlanes = 1;
    Info.bmiHeader.biBitCount = 24;
    void* Bits = nullptr;
    HDC Mem = CreateCompatibleDC(Source);
    HBITMAP Section = CreateDIBSection(Source, &Info, DIB_RGB_COLORS, &Bits, nullptr, 0);
    HGDIOBJ Old = SelectObject(Mem, Section);
    BitBlt(Mem, 0, 0, w, h, Source, x, y, SRCCOPY);
    GdiFlush();
    const auto* First = static_cast<const uint8_t*>(Bits);
    Picture.Bits.assign(First, First + size_t(Picture.Stride() * h));
    SelectObject(Mem, Old);
    DeleteObject(Section);
    DeleteDC(Mem);
    return Picture;
}

void Save(const TPicture& Picture, const std::string& Name) {
    BITMAPFILEHEADER File{};
    BITMAPINFOHEADER Header{};
    Header.biSize = sizeof Header;
    Header.biWidth = Picture.Width;
    Header.biHeight = Picture.Height;
    Header.biPlanes = 1;
    Header.biBitCount = 24;
    File.bfType = 0x4D42;
    File.bfOffBits = sizeof File + sizeof Header;
    File.bfSize = File.bfOffBits + DWORD(Picture.Bits.size());
    CreateDirectoryA(ScreensFolder().c_str(), nullptr);
    std::ofstream Out(ScreensFolder() + "/" + Name + ".bmp", std::ios::binary);
    Out.write(reinterpret_cast<const char*>(&File), sizeof File);
    Out.write(reinterpret_cast<const char*>(&Header), sizeof Header);
    Out.write(reinterpret_cast<const char*>(Picture.Bits.data()),
              std::streamsize(Picture.Bits.size()));
}

// Whether the window or a visible window inside it still waits for its paint.
bool PaintPending(HWND Window) {
    if (GetUpdateRect(Window, nullptr, FALSE)) return true;
    for (HWND c = GetWindow(Window, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        if (IsWindowVisible(c) && PaintPending(c)) return true;
    return false;
}

// Runs the thread's messages until none is pending and nothing in Window
// waits to be painted (the last, empty look at the queue is also where Wine
// hands the windows' pictures to the X server).
void Settle(HWND Window) {
    for (int Round = 0; Round < 1000; ++Round) {
        MSG Msg;
        bool Ran = false;
        while (PeekMessageA(&Msg, nullptr, 0, 0, PM_REMOVE)) {
            if (Msg.message == WM_QUIT) {
                PostQuitMessage(int(Msg.wParam));
                return;
            }
            DispatchKeepingTabOrder(Msg);
            Ran = true;
        }
        if (!Ran && !PaintPending(Window)) return;
        if (!Ran) RedrawWindow(Window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    }
}

TPicture Previous;
} // namespace

::testing::AssertionResult Screenshot(HWND Window, const std::string& Name) {
    SetWindowPos(Window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    RedrawWindow(Window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_FRAME);
    // The client area: without a window manager nobody draws the frame.
    RECT r;
    GetClientRect(Window, &r);
    MapWindowPoints(Window, nullptr, reinterpret_cast<POINT*>(&r), 2);
    const int w = r.right - r.left, h = r.bottom - r.top;
    // What the screen shows must be what the window painted: the window's
    // own drawing is read back through its device context.
    TPicture Shown, Painted;
    for (int Look = 0; Look < 50; ++Look) {
        Settle(Window);
        HDC Own = GetDC(Window);
        Painted = Capture(Own, 0, 0, w, h);
        ReleaseDC(Window, Own);
        HDC Screen = GetDC(nullptr);
        Shown = Capture(Screen, r.left, r.top, w, h);
        ReleaseDC(nullptr, Screen);
        if (Shown.Bits == Painted.Bits) break;
        Sleep(20);
    }
    Save(Shown, Name);

    std::string Faults;
    if (Shown.Bits != Painted.Bits) Faults += "; the screen does not show what the window painted";
    if (Shown.Width == Previous.Width && Shown.Height == Previous.Height &&
        Shown.Bits == Previous.Bits)
        Faults += "; the same picture as the one before";
    Previous = Shown;
    // Every visible control lies inside the picture, and one with text is
    // more than a plain patch of colour.
    for (HWND c = GetWindow(Window, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        if (!IsWindowVisible(c)) continue;
        RECT cr;
        GetWindowRect(c, &cr);
        char Class[64] = {};
        GetClassNameA(c, Class, sizeof Class);
        const std::string Control = std::string(Class) + " \"" + WindowText(c) + "\"";
        if (cr.left < r.left || cr.top < r.top || cr.right > r.right || cr.bottom > r.bottom) {
            Faults += "; " + Control + " lies outside the window";
            continue;
        }
        if (WindowText(c).empty() || cr.right <= cr.left || cr.bottom <= cr.top) continue;
        const COLORREF First = Shown.At(cr.left - r.left, cr.top - r.top);
        bool Plain = true;
        for (int y = cr.top; y < cr.bottom && Plain; ++y)
            for (int x = cr.left; x < cr.right && Plain; ++x)
                Plain = Shown.At(x - r.left, y - r.top) == First;
        if (Plain) Faults += "; " + Control + " shows a plain patch";
    }
    if (Faults.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << Name << Faults;
}

HWND BoxButton(HWND Box, int x) {
    for (HWND c = GetWindow(Box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        RECT r;
        GetWindowRect(c, &r);
        POINT p{r.left, r.top};
        ScreenToClient(Box, &p);
        if (p.x == x && IsWindowVisible(c)) return c;
    }
    return nullptr;
}

TBoxAnswerer::TBoxAnswerer() {
    Current = this;
    Timer = SetTimer(nullptr, 0, 30, Tick);
}

TBoxAnswerer::~TBoxAnswerer() {
    KillTimer(nullptr, Timer);
    Current = nullptr;
}

void CALLBACK TBoxAnswerer::Tick(HWND, UINT, UINT_PTR, DWORD) {
    if (Current) Current->Check();
}

void TBoxAnswerer::Check() {
    static bool Busy = false; // an answer may run the run further inside this tick
    if (Busy) return;
    Busy = true;
    if (OnTick) OnTick();
    // The picker's buttons may open boxes of their own: the handler posts
    // its clicks, once per showing.
    HWND Picker = VisibleWindow("TSearchSysForm");
    if (Picker && OnPicker && !PickerSeen && IsWindowEnabled(Picker)) {
        PickerSeen = true;
        OnPicker(Picker);
    }
    if (!Picker) PickerSeen = false;
    HWND Box = VisibleWindow("TCoolMessage");
    if (Box && IsWindowEnabled(Box)) {
        char Text[1024] = {};
        for (HWND c = GetWindow(Box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
            char Name[32] = {};
            GetClassNameA(c, Name, sizeof Name);
            if (strcmp(Name, "Static") == 0 || strcmp(Name, "STATIC") == 0)
                GetWindowTextA(c, Text, sizeof Text);
        }
        Texts.push_back(Text);
        if (BeforeAnswer) BeforeAnswer(Texts.size() - 1, Box);
        char Answer = 'C';
        if (!Answers.empty()) {
            Answer = Answers.front();
            Answers.pop_front();
        }
        switch (Answer) {
        case 'L':
            SendMessageA(BoxButton(Box, 58), BM_CLICK, 0, 0);
            break;
        case 'M':
            SendMessageA(BoxButton(Box, 109), BM_CLICK, 0, 0);
            break;
        case 'R':
            SendMessageA(BoxButton(Box, 160), BM_CLICK, 0, 0);
            break;
        default:
            SendMessageA(Box, WM_SYSCOMMAND, SC_CLOSE, 0);
            break;
        }
    }
    Busy = false;
}
