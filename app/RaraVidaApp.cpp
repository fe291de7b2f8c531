#include "app/RaraVidaApp.h"

const char* const CorruptStoreText = "The file is corrupt!!!.";

TRaraVida::TRaraVida() {
    SetMainWindow(Main.Handle());
    PreviousUserInterface = InstallUserInterface(&Main);
    Main.ShowAbout = [this] { About.ShowModal(); };
    SearchSysForm();
}

TRaraVida::~TRaraVida() {
    InstallUserInterface(PreviousUserInterface);
}

bool TRaraVida::StartUp() {
    if (Splash.ShowModal()) return true;
    CoolMsgInfo(CorruptStoreText);
    return false;
}

int TRaraVida::Run() {
    Main.QuitOnDestroy = true;
    ShowWindow(Main.Handle(), SW_SHOW);
    SetForegroundWindow(Main.Handle());
    Main.FormActivate(); // also where no window manager activates it
    MSG Msg;
    while (GetMessageA(&Msg, nullptr, 0, 0) > 0) DispatchKeepingTabOrder(Msg);
    return 0;
}
