#include "app/initform.h"

#include "image/ExeData.h"
#include "ui/Pictures.h"
#include "ui/WizardRules.h"

TInitializationForm::TInitializationForm(TMainForm& Main) : Main(Main) {
    Image1 = SplashPicture();
    RECT Work;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &Work, 0);
    CreateAs("TInitializationForm", WS_POPUP, WS_EX_TOOLWINDOW,
             CentredOver(Work.left, Work.right - Work.left, 351),
             CentredOver(Work.top, Work.bottom - Work.top, 163), 351, 163, nullptr, "");
}

TInitializationForm::~TInitializationForm() {
    if (Image1) DeleteObject(Image1);
}

bool TInitializationForm::ShowModal() {
    Closed = false;
    RunModal(Wnd, [this] { return Closed; });
    return Loaded;
}

void TInitializationForm::FormActivate() {
    // About half a second on screen, however fast the loading.
    for (int i = 0; i < 10; ++i) {
        PumpMessages();
        Sleep(50);
    }
    if (!WorkStarted) PostMessageA(Wnd, WM_INITWORK, 0, 0);
}

void TInitializationForm::InitWork() {
    // A second activation may have posted the message again: the stores
    // load once.
    if (WorkStarted) return;
    WorkStarted = true;
    ++WorkRuns;
    PumpMessages();
    PumpMessages();
    Loaded = LoadCdStore();
    PumpMessages();
    if (Loaded) Loaded = LoadDiskStore();
    PumpMessages();
    Main.BuildDeviceChoices();
    PumpMessages();
    PostMessageA(Wnd, WM_CLOSE, 0, 0);
}

LRESULT TInitializationForm::HandleMessage(UINT Msg, WPARAM w, LPARAM l) {
    switch (Msg) {
    case WM_ACTIVATE:
        if (LOWORD(w) != WA_INACTIVE) FormActivate();
        return 0;
    case WM_INITWORK:
        InitWork();
        return 0;
    case WM_CLOSE:
        Closed = true;
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC Dc = BeginPaint(Wnd, &ps);
        DrawPicture(Dc, Image1, RECT{0, 0, 351, 163});
        EndPaint(Wnd, &ps);
        return 0;
    }
    }
    return Default(Msg, w, l);
}
