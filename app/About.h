#pragma once
// The about box, reached from the wizard's help menu.

#include <memory>

#include "ui/Gui.h"

class TAboutForm : public TWindow {
public:
    explicit TAboutForm(TMainForm& Main);
    ~TAboutForm() override;
    void ShowModal();
    void FormActivate();
    void BtnOkClick() { Closed = true; }
    void BtnSupportClick();
    void BtnViewClick();

    std::unique_ptr<TImageButton> BtnOk, BtnSupport, BtnView;

private:
    LRESULT HandleMessage(UINT Msg, WPARAM w, LPARAM l) override;
    TMainForm& Main;
    HBITMAP Image2 = nullptr;
    bool Closed = false;
};
