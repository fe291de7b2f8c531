#pragma once
// A text that behaves like a web link: underlined in its active colour while
// the pointer is over it, a hand cursor, a click handler.

#include "ui/Window.h"

class THyperLink : public TWindow {
public:
    THyperLink(HWND Parent, int x, int y, const std::string& Caption);

    void SetPassiveColor(COLORREF Colour);
    void SetActiveColor(COLORREF Colour) { ActiveColor = Colour; }
    bool Active() const { return Underlined; }
    std::function<void()> OnClick;

private:
    LRESULT HandleMessage(UINT Msg, WPARAM w, LPARAM l) override;
    void ShowActive();
    void ShowPassive();

    std::string Caption;
    COLORREF ActiveColor = RGB(0xE0, 0x60, 0x00);
    COLORREF PassiveColor = RGB(0, 0, 0xFF);
    COLORREF Current = PassiveColor;
    bool Underlined = false;
};
