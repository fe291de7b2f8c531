#include "GuiSupport.h"

#include "ui/Window.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

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

void Screenshot(HWND Window, const std::string& Name) {
    SetWindowPos(Window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    RedrawWindow(Window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    GdiFlush();
    Sleep(60);
    // The client area: without a window manager nobody draws the frame.
    RECT r;
    GetClientRect(Window, &r);
    MapWindowPoints(Window, nullptr, reinterpret_cast<POINT*>(&r), 2);
    const int w = r.right - r.left, h = r.bottom - r.top;
    HDC Screen = GetDC(nullptr);
    HDC Mem = CreateCompatibleDC(Screen);
    BITMAPINFO Info{};
    Info.bmiHeader.biSize = sizeof Info.bmiHeader;
    Info.bmiHeader.biWidth = w;
    Info.bmiHeader.biHeight = h; // bottom-up, as BMP files keep it
    Info.bmiHeader.biPlanes = 1;
    Info.bmiHeader.biBitCount = 24;
    void* Bits = nullptr;
    HBITMAP Picture = CreateDIBSection(Screen, &Info, DIB_RGB_COLORS, &Bits, nullptr, 0);
    HGDIOBJ Old = SelectObject(Mem, Picture);
    BitBlt(Mem, 0, 0, w, h, Screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    const int Stride = (w * 3 + 3) & ~3;
    BITMAPFILEHEADER File{};
    File.bfType = 0x4D42;
    File.bfOffBits = sizeof File + sizeof Info.bmiHeader;
    File.bfSize = File.bfOffBits + DWORD(Stride * h);
    CreateDirectoryA(ScreensFolder().c_str(), nullptr);
    std::ofstream Out(ScreensFolder() + "/" + Name + ".bmp", std::ios::binary);
    Out.write(reinterpret_cast<const char*>(&File), sizeof File);
    Out.write(reinterpret_cast<const char*>(&Info.bmiHeader), sizeof Info.bmiHeader);
    Out.write(static_cast<const char*>(Bits), Stride * h);
    SelectObject(Mem, Old);
    DeleteObject(Picture);
    DeleteDC(Mem);
    ReleaseDC(nullptr, Screen);
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
