#include "app/About.h"

#include "PurgexVersion.h"
#include "platform/Platform.h"
#include "ui/Pictures.h"
#include "ui/WizardRules.h"

TAboutForm::TAboutForm(TMainForm& Main) : Main(Main) {
    Image2 = AboutPicture();
    CreateAs("TAboutForm", WS_POPUP | WS_CAPTION | WS_SYSMENU, WS_EX_DLGMODALFRAME, 0, 0, 380, 400,
             Main.Handle(), "About Corvane Purgex 2005");
    SetClientSize(Wnd, 357, 365);
    MakeControl(Wnd, "STATIC", "Version " PURGEX_VERSION_SHORT, SS_NOPREFIX, 16, 76, 200, 16,
                UiFont("Arial", 9, true));
    MakeControl(Wnd, "STATIC", "Build " PURGEX_VERSION_FULL, SS_NOPREFIX, 16, 94, 200, 16,
                UiFont("Arial", 9));
    const HFONT Notice = UiFont("Arial", 8);
    MakeControl(Wnd, "STATIC", "Copyright \xA9 2005 Corvantis.\r\nAll rights reserved.",
                SS_NOPREFIX, 16, 124, 220, 30, Notice); // Label5
    MakeControl(Wnd, "STATIC", "Corvane and Purgex are trademarks of Corvantis.", SS_NOPREFIX, 16,
                162, 220, 30, Notice); // Label6
    MakeControl(Wnd, "STATIC", "The Purgit disk wiper runs under DOS from the boot disk.",
                SS_NOPREFIX, 16, 200, 196, 30, Notice); // Label7
    MakeControl(Wnd, "STATIC", "Other names may be trademarks of their owners.", SS_NOPREFIX, 16,
                238, 196, 30, Notice); // Label1
    MakeControl(Wnd, "STATIC",
                "Warning: this program is protected by copyright law and international "
                "treaties. Unauthorized reproduction or distribution of this program, or any "
                "portion of it, may result in severe civil and criminal penalties, and will be "
                "prosecuted to the maximum extent possible under the law.",
                SS_NOPREFIX, 16, 288, 325, 72, Notice); // Label9
    BtnOk = std::make_unique<TImageButton>(Wnd, 253, 120, 95, 28, ButtonPictures(95, 28, "OK"));
    BtnSupport =
        std::make_unique<TImageButton>(Wnd, 253, 180, 95, 28, ButtonPictures(95, 28, "Support"));
    BtnView = std::make_unique<TImageButton>(Wnd, 221, 249, 130, 28,
                                             ButtonPictures(130, 28, "View License"));
    BtnOk->OnClick = [this] { BtnOkClick(); };
    BtnSupport->OnClick = [this] { BtnSupportClick(); };
    BtnView->OnClick = [this] { BtnViewClick(); };
}

TAboutForm::~TAboutForm() {
    if (Image2) DeleteObject(Image2);
}

void TAboutForm::ShowModal() {
    Closed = false;
    FormActivate();
    RunModal(Wnd, [this] { return Closed; });
}

void TAboutForm::FormActivate() {
    RECT Box, Owner;
    GetWindowRect(Wnd, &Box);
    GetWindowRect(Main.Handle(), &Owner);
    SetWindowPos(Wnd, nullptr,
                 CentredOver(Owner.left, Owner.right - Owner.left, Box.right - Box.left),
                 CentredOver(Owner.top, Owner.bottom - Owner.top, Box.bottom - Box.top), 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    for (TImageButton* b : {BtnOk.get(), BtnSupport.get(), BtnView.get()})
        b->Repaint();
}

// The wizard's "Technical Support" page: the box has no help file of its own.
void TAboutForm::BtnSupportClick() {
    Main.ShowHelpTopic(9020);
}

void TAboutForm::BtnViewClick() {
    Platform().ShellOpen(Platform().ProgramFolder() + "\\license.txt");
}

LRESULT TAboutForm::HandleMessage(UINT Msg, WPARAM w, LPARAM l) {
    switch (Msg) {
    case WM_CLOSE:
        Closed = true;
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC Dc = BeginPaint(Wnd, &ps);
        RECT r;
        GetClientRect(Wnd, &r);
        FillRect(Dc, &r, UiBrush(WindowColour));
        DrawPicture(Dc, Image2, RECT{0, 0, 357, 60});
        EndPaint(Wnd, &ps);
        return 0;
    }
    case WM_CTLCOLORSTATIC:
        SetBkMode(HDC(w), TRANSPARENT);
        return LRESULT(UiBrush(WindowColour));
    }
    return Default(Msg, w, l);
}
