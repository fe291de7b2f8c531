#pragma once
// A plain filled rectangle that reports a pressed mouse button.

#include "ui/Window.h"

class TRectangle : public TWindow {
public:
    TRectangle(HWND Parent, int x, int y, int w, int h, COLORREF Colour);
    void SetColor(COLORREF Colour);
    COLORREF Color() const { return Colour; }
    std::function<void()> OnMouseDown;

private:
    LRESULT HandleMessage(UINT Msg, WPARAM w, LPARAM l) override;
    COLORREF Colour;
};
