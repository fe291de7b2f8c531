#include "ui/Window.h"

#include <map>
#include <tuple>
#include <vector>

namespace {
int CALLBACK FaceFound(const LOGFONTA*, const TEXTMETRICA*, DWORD, LPARAM Found) {
    *reinterpret_cast<bool*>(Found) = true;
    return 0;
}

bool FaceInstalled(const char* Face) {
    LOGFONTA Wanted{};
    Wanted.lfCharSet = DEFAULT_CHARSET;
    lstrcpynA(Wanted.lfFaceName, Face, LF_FACESIZE);
    bool Found = false;
    HDC Screen = GetDC(nullptr);
    EnumFontFamiliesExA(Screen, &Wanted, FaceFound, reinterpret_cast<LPARAM>(&Found), 0);
    ReleaseDC(nullptr, Screen);
    return Found;
}
} // namespace

HFONT UiFont(const char* Face, int Points, bool Bold, bool Underline, int Charset) {
    static std::map<std::tuple<std::string, int, bool, bool, int>, HFONT> Fonts;
    HFONT& Font = Fonts[{Face, Points, Bold, Underline, Charset}];
    // Where Arial is missing (Wine without the Windows fonts), its metric
    // twin keeps the layouts' text widths.
    static const bool HasArial = FaceInstalled("Arial");
    if (!HasArial && std::string(Face) == "Arial") Face = "Liberation Sans";
    if (!Font)
        Font = CreateFontA(-MulDiv(Points, 96, 72), 0, 0, 0, Bold ? FW_BOLD : FW_NORMAL, FALSE,
                           Underline, FALSE, DWORD(Charset), OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, Face);
    return Font;
}

HBRUSH UiBrush(COLORREF Colour) {
    static std::map<COLORREF, HBRUSH> Brushes;
    HBRUSH& Brush = Brushes[Colour];
    if (!Brush) Brush = CreateSolidBrush(Colour);
    return Brush;
}

TWindow::~TWindow() {
    if (Wnd) {
        SetWindowLongPtrA(Wnd, GWLP_USERDATA, 0);
        DestroyWindow(Wnd);
    }
}

bool TWindow::CreateAs(const char* ClassName, DWORD Style, DWORD ExStyle, int x, int y, int w,
                       int h, HWND Parent, const char* Caption, HCURSOR Cursor) {
    WNDCLASSA Existing;
    if (!GetClassInfoA(GetModuleHandleA(nullptr), ClassName, &Existing)) {
        WNDCLASSA Class{};
        Class.style = CS_DBLCLKS;
        Class.lpfnWndProc = Dispatch;
        Class.hInstance = GetModuleHandleA(nullptr);
        Class.hCursor = Cursor ? Cursor : LoadCursorA(nullptr, IDC_ARROW);
        Class.hIcon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(1));
        Class.lpszClassName = ClassName;
        RegisterClassA(&Class);
    }
    Wnd = CreateWindowExA(ExStyle, ClassName, Caption, Style, x, y, w, h, Parent, nullptr,
                          GetModuleHandleA(nullptr), this);
    return Wnd != nullptr;
}

LRESULT TWindow::HandleMessage(UINT Msg, WPARAM w, LPARAM l) {
    return Default(Msg, w, l);
}

LRESULT CALLBACK TWindow::Dispatch(HWND Wnd, UINT Msg, WPARAM w, LPARAM l) {
    if (Msg == WM_NCCREATE) {
        auto* Self = static_cast<TWindow*>(reinterpret_cast<CREATESTRUCTA*>(l)->lpCreateParams);
        Self->Wnd = Wnd;
        SetWindowLongPtrA(Wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(Self));
    }
    auto* Self = reinterpret_cast<TWindow*>(GetWindowLongPtrA(Wnd, GWLP_USERDATA));
    if (!Self) return DefWindowProcA(Wnd, Msg, w, l);
    const LRESULT Result = Self->HandleMessage(Msg, w, l);
    if (Msg == WM_NCDESTROY) {
        SetWindowLongPtrA(Wnd, GWLP_USERDATA, 0);
        Self->Wnd = nullptr;
    }
    return Result;
}

HWND MakeControl(HWND Parent, const char* ClassName, const char* Text, DWORD Style, int x, int y,
                 int w, int h, HFONT Font, int Id) {
    HWND Control =
        CreateWindowExA(0, ClassName, Text, WS_CHILD | WS_VISIBLE | Style, x, y, w, h, Parent,
                        reinterpret_cast<HMENU>(INT_PTR(Id)), GetModuleHandleA(nullptr), nullptr);
    if (Control && Font) SendMessageA(Control, WM_SETFONT, WPARAM(Font), FALSE);
    return Control;
}

void DispatchKeepingTabOrder(MSG& Msg) {
    if (Msg.message == WM_KEYDOWN && Msg.wParam == VK_TAB) {
        HWND Root = GetAncestor(Msg.hwnd, GA_ROOT);
        if (Root && IsDialogMessageA(Root, &Msg)) return;
    }
    TranslateMessage(&Msg);
    DispatchMessageA(&Msg);
}

void PumpMessages() {
    MSG Msg;
    while (PeekMessageA(&Msg, nullptr, 0, 0, PM_REMOVE)) {
        if (Msg.message == WM_QUIT) {
            PostQuitMessage(int(Msg.wParam));
            return;
        }
        DispatchKeepingTabOrder(Msg);
    }
}

namespace {
BOOL CALLBACK CollectEnabled(HWND Wnd, LPARAM List) {
    if (IsWindowVisible(Wnd) && IsWindowEnabled(Wnd))
        reinterpret_cast<std::vector<HWND>*>(List)->push_back(Wnd);
    return TRUE;
}
} // namespace

void RunModal(HWND Box, const std::function<bool()>& Done) {
    std::vector<HWND> Disabled;
    EnumThreadWindows(GetCurrentThreadId(), CollectEnabled, reinterpret_cast<LPARAM>(&Disabled));
    for (HWND Other : Disabled)
        if (Other != Box) EnableWindow(Other, FALSE);
    ShowWindow(Box, SW_SHOW);
    SetForegroundWindow(Box);
    MSG Msg;
    bool Quit = false;
    while (!Done()) {
        const BOOL Got = GetMessageA(&Msg, nullptr, 0, 0);
        if (Got <= 0) { // the program is ending: the box answers as closed
            Quit = Got == 0;
            break;
        }
        DispatchKeepingTabOrder(Msg);
    }
    for (HWND Other : Disabled)
        if (Other != Box && IsWindow(Other)) EnableWindow(Other, TRUE);
    if (IsWindow(Box)) ShowWindow(Box, SW_HIDE);
    if (Quit) PostQuitMessage(int(Msg.wParam));
}

std::string WindowText(HWND Wnd) {
    std::string Text(size_t(GetWindowTextLengthA(Wnd)) + 1, '\0');
    Text.resize(size_t(GetWindowTextA(Wnd, Text.data(), int(Text.size()))));
    return Text;
}

void SetClientSize(HWND Wnd, int Width, int Height) {
    RECT r{0, 0, Width, Height};
    AdjustWindowRectEx(&r, DWORD(GetWindowLongPtrA(Wnd, GWL_STYLE)), FALSE,
                       DWORD(GetWindowLongPtrA(Wnd, GWL_EXSTYLE)));
    SetWindowPos(Wnd, nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}
