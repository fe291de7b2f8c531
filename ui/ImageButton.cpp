#include "ui/ImageButton.h"

#include <windowsx.h>

TImageButton::TImageButton(HWND Parent, int x, int y, int w, int h, HIMAGELIST Pictures)
    : List(Pictures) {
    CreateAs("TImageButton", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, x, y, w, h, Parent);
}

void TImageButton::SetImageList(HIMAGELIST Pictures) {
    List = Pictures;
    Repaint();
}

void TImageButton::SetCaption(const std::string& Text) {
    Caption = Text;
    SetWindowTextA(Wnd, Text.c_str());
    Repaint();
}

void TImageButton::SetEnabled(bool Enabled) {
    if (Enabled == this->Enabled()) return;
    EnableWindow(Wnd, Enabled); // WM_ENABLE clears the pointer state
}

void TImageButton::Repaint() {
    InvalidateRect(Wnd, nullptr, FALSE);
    UpdateWindow(Wnd);
}

void TImageButton::Click() {
    if (OnClick) OnClick();
}

void TImageButton::Paint(HDC Dc) {
    RECT r;
    GetClientRect(Wnd, &r);
    const TButtonState State{List != nullptr, GetFocus() == Wnd, MouseInside, MouseDown, Enabled()};
    const TButtonLook Picture = ButtonPicture(State);
    auto TextColour = [&](TButtonLook Look) {
        switch (Look) {
        case TButtonLook::Focused:
            return TextColorFocused;
        case TButtonLook::Pushed:
            return TextColorPushed;
        case TButtonLook::Inactive:
            return TextColorInactive;
        default:
            return TextColorNormal;
        }
    };
    LastTextColor = TextColour(ButtonCaptionColour(State));
    if (Picture == TButtonLook::Outline) {
        LastPicture = -1;
        FillRect(Dc, &r, UiBrush(Color));
        HPEN Dashed = CreatePen(PS_DASH, 1, RGB(0, 0, 0));
        HGDIOBJ OldPen = SelectObject(Dc, Dashed);
        HGDIOBJ OldBrush = SelectObject(Dc, GetStockObject(NULL_BRUSH));
        Rectangle(Dc, r.left, r.top, r.right, r.bottom);
        SelectObject(Dc, OldPen);
        SelectObject(Dc, OldBrush);
        DeleteObject(Dashed);
    } else {
        const int Index = Picture == TButtonLook::Focused  ? ImgFocusedIdx
                          : Picture == TButtonLook::Pushed ? ImgPushedIdx
                          : Picture == TButtonLook::Normal ? ImgNormalIdx
                                                           : ImgInactiveIdx;
        LastPicture = Index;
        int w = 0, h = 0;
        ImageList_GetIconSize(List, &w, &h);
        ImageList_SetBkColor(List, Color);
        HDC Mem = CreateCompatibleDC(Dc);
        HBITMAP Picture = CreateCompatibleBitmap(Dc, w, h);
        HGDIOBJ Old = SelectObject(Mem, Picture);
        ImageList_Draw(List, Index, Mem, 0, 0, ILD_NORMAL);
        StretchBlt(Dc, 0, 0, r.right, r.bottom, Mem, 0, 0, w, h, SRCCOPY);
        SelectObject(Mem, Old);
        DeleteObject(Picture);
        DeleteDC(Mem);
    }
    if (!Caption.empty()) {
        HGDIOBJ Old = SelectObject(Dc, Font);
        SIZE Size;
        GetTextExtentPoint32A(Dc, Caption.c_str(), int(Caption.size()), &Size);
        SetBkMode(Dc, TRANSPARENT);
        SetTextColor(Dc, LastTextColor);
        TextOutA(Dc, (r.right - Size.cx) / 2, (r.bottom - Size.cy) / 2, Caption.c_str(),
                 int(Caption.size()));
        SelectObject(Dc, Old);
    }
}

LRESULT TImageButton::HandleMessage(UINT Msg, WPARAM w, LPARAM l) {
    switch (Msg) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC Dc = BeginPaint(Wnd, &ps);
        Paint(Dc);
        EndPaint(Wnd, &ps);
        return 0;
    }
    case WM_ERASEBKGND:
        return 1;
    case WM_MOUSEMOVE:
        if (!MouseInside) {
            MouseInside = true;
            TRACKMOUSEEVENT Track{sizeof Track, TME_LEAVE, Wnd, 0};
            TrackMouseEvent(&Track);
            Repaint();
        }
        return 0;
    case WM_MOUSELEAVE:
        MouseInside = false;
        Repaint();
        return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        MouseDown = true;
        SetCapture(Wnd);
        Repaint();
        return 0;
    case WM_LBUTTONUP: {
        const bool WasDown = MouseDown;
        MouseDown = false;
        if (GetCapture() == Wnd) ReleaseCapture();
        RECT r;
        GetClientRect(Wnd, &r);
        const POINT At{GET_X_LPARAM(l), GET_Y_LPARAM(l)};
        Repaint();
        if (WasDown && PtInRect(&r, At) && Enabled()) Click();
        return 0;
    }
    case WM_ENABLE:
        MouseInside = false;
        MouseDown = false;
        Repaint();
        return 0;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        Repaint();
        return 0;
    case WM_GETDLGCODE:
        return DLGC_WANTCHARS;
    case WM_CHAR:
        if (w == 13 || w == 32) Click();
        return 0;
    case BM_CLICK:
        if (Enabled()) Click();
        return 0;
    }
    return Default(Msg, w, l);
}
