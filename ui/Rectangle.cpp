#include "ui/Rectangle.h"

TRectangle::TRectangle(HWND Parent, int x, int y, int w, int h, COLORREF Colour) : Colour(Colour) {
    CreateAs("TRectangle", WS_CHILD | WS_VISIBLE, 0, x, y, w, h, Parent);
}

void TRectangle::SetColor(COLORREF NewColour) {
    Colour = NewColour;
    InvalidateRect(Wnd, nullptr, FALSE);
}

LRESULT TRectangle::HandleMessage(UINT Msg, WPARAM w, LPARAM l) {
    switch (Msg) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC Dc = BeginPaint(Wnd, &ps);
        RECT r;
        GetClientRect(Wnd, &r);
        FillRect(Dc, &r, UiBrush(Colour));
        EndPaint(Wnd, &ps);
        return 0;
    }
    case WM_ERASEBKGND:
        return 1;
    case WM_LBUTTONDOWN:
        if (OnMouseDown) OnMouseDown();
        return 0;
    }
    return Default(Msg, w, l);
}
