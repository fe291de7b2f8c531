#pragma once
// The splash window: shown modally at start-up while the embedded stores
// load behind it and the wizard builds its device choices.

#include "ui/Gui.h"

constexpr UINT WM_INITWORK = 0x0800;

class TInitializationForm : public TWindow {
public:
    explicit TInitializationForm(TMainForm& Main);
    ~TInitializationForm() override;
    // Shows the splash until the start-up work is done; true when both stores
    // loaded.
    bool ShowModal();
    void FormActivate();

    int WorkRuns = 0; // how often the start-up work ran

private:
    LRESULT HandleMessage(UINT Msg, WPARAM w, LPARAM l) override;
    void InitWork();

    TMainForm& Main;
    HBITMAP Image1 = nullptr;
    bool Loaded = false;
    bool WorkStarted = false;
    bool Closed = false;
};
