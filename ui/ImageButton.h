#pragma once
// A push button drawn from a picture list: one picture per state (normal,
// hover or focus, pushed, inactive), an optional caption over it.

#include <windows.h>

#include <commctrl.h>

#include "ui/Window.h"
#include "ui/WizardRules.h"

class TImageButton : public TWindow {
public:
    TImageButton(HWND Parent, int x, int y, int w, int h, HIMAGELIST List = nullptr);

    void SetImageList(HIMAGELIST List);
    HIMAGELIST ImageList() const { return List; }
    void SetCaption(const std::string& Text);
    void SetEnabled(bool Enabled);
    bool Enabled() const { return IsWindowEnabled(Wnd) != FALSE; }
    void Repaint();

    int ImgNormalIdx = 0, ImgFocusedIdx = 1, ImgPushedIdx = 2, ImgInactiveIdx = 3;
    HFONT Font = UiFont("MS Sans Serif", 8, true);
    COLORREF TextColorNormal = RGB(0, 0, 0), TextColorFocused = RGB(0, 0, 0),
             TextColorPushed = RGB(0, 0, 0), TextColorInactive = RGB(128, 128, 128);
    COLORREF Color = WindowColour;
    std::function<void()> OnClick;

    // What the last paint showed, for tests and screenshots.
    int LastPicture = -1;
    COLORREF LastTextColor = 0;

private:
    LRESULT HandleMessage(UINT Msg, WPARAM w, LPARAM l) override;
    void Paint(HDC Dc);
    void Click();

    HIMAGELIST List = nullptr;
    std::string Caption;
    bool MouseInside = false;
    bool MouseDown = false;
};
