#include "ui/HyperLink.h"

THyperLink::THyperLink(HWND Parent, int x, int y, const std::string& Text) : Caption(Text) {
    // Sized to its text, like a label with automatic size.
    HDC Dc = GetDC(Parent);
    HGDIOBJ Old = SelectObject(Dc, UiFont("Arial", 8, true));
    SIZE Size;
    GetTextExtentPoint32A(Dc, Text.c_str(), int(Text.size()), &Size);
    SelectObject(Dc, Old);
    ReleaseDC(Parent, Dc);
    CreateAs("THyperLink", WS_CHILD | WS_VISIBLE, 0, x, y, Size.cx + 1, Size.cy, Parent,
             Text.c_str(), LoadCursorA(nullptr, IDC_HAND));
    ShowPassive();
}

void THyperLink::SetPassiveColor(COLORREF Colour) {
    PassiveColor = Colour;
    ShowPassive();
}

void THyperLink::ShowActive() {
    Current = ActiveColor;
    Underlined = true;
    InvalidateRect(Wnd, nullptr, TRUE);
}

void THyperLink::ShowPassive() {
    Current = PassiveColor;
    Underlined = false;
    InvalidateRect(Wnd, nullptr, TRUE);
}

LRESULT THyperLink::HandleMessage(UINT Msg, WPARAM w, LPARAM l) {
    switch (Msg) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC Dc = BeginPaint(Wnd, &ps);
        RECT r;
        GetClientRect(Wnd, &r);
        FillRect(Dc, &r, UiBrush(WindowColour));
        HGDIOBJ Old = SelectObject(Dc, UiFont("Arial", 8, true, Underlined));
        SetBkMode(Dc, TRANSPARENT);
        SetTextColor(Dc, Current);
        DrawTextA(Dc, Caption.c_str(), -1, &r, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
        SelectObject(Dc, Old);
        EndPaint(Wnd, &ps);
        return 0;
    }
    case WM_MOUSEMOVE:
        if (!Underlined) {
            TRACKMOUSEEVENT Track{sizeof Track, TME_LEAVE, Wnd, 0};
            TrackMouseEvent(&Track);
            ShowActive();
        }
        return 0;
    case WM_MOUSELEAVE:
        ShowPassive();
        return 0;
    case WM_LBUTTONUP:
    case BM_CLICK:
        if (OnClick) OnClick();
        return 0;
    }
    return Default(Msg, w, l);
}
