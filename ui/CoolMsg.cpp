#include "ui/CoolMsg.h"

#include "platform/Platform.h"
#include "ui/Pictures.h"
#include "ui/SearchSys.h"
#include "ui/WizardRules.h"

namespace {
HWND TheMainWindow = nullptr;

HIMAGELIST ImageList1() {
    static HIMAGELIST List = ButtonPictures(95, 28, nullptr);
    return List;
}
} // namespace

void SetMainWindow(HWND Main) {
    TheMainWindow = Main;
}
HWND MainWindow() {
    return TheMainWindow;
}

TCoolMessage::TCoolMessage() {
    CreateAs("TCoolMessage", WS_POPUP | WS_CAPTION | WS_SYSMENU, WS_EX_DLGMODALFRAME, 0, 0, 320,
             140, TheMainWindow, "Corvane Purgex 2005");
    SetClientSize(Wnd, 306, 106);
    LabelMsg = MakeControl(Wnd, "STATIC", "", SS_CENTER | SS_NOPREFIX, 24, 12, 260, 44,
                           UiFont("Arial", 8, true));
    BtnLeft = std::make_unique<TImageButton>(Wnd, 58, 67, 95, 28, ImageList1());
    BtnMid = std::make_unique<TImageButton>(Wnd, 109, 67, 95, 28, ImageList1());
    BtnRight = std::make_unique<TImageButton>(Wnd, 160, 67, 95, 28, ImageList1());
    // FormCreate: the inactive picture is the normal one.
    for (TImageButton* b : {BtnLeft.get(), BtnMid.get(), BtnRight.get()}) {
        b->ImgNormalIdx = 0, b->ImgFocusedIdx = 1, b->ImgPushedIdx = 2, b->ImgInactiveIdx = 0;
    }
    BtnLeft->OnClick = [this] { ModalResult = 4; };
    BtnMid->OnClick = [this] { ModalResult = 1; };
    BtnRight->OnClick = [this] { ModalResult = 3; };
}

void TCoolMessage::FormActivate() {
    RECT Box, Main;
    GetWindowRect(Wnd, &Box);
    const int w = Box.right - Box.left, h = Box.bottom - Box.top;
    if (TheMainWindow && IsWindowVisible(TheMainWindow)) {
        GetWindowRect(TheMainWindow, &Main);
    } else {
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &Main, 0);
    }
    SetWindowPos(Wnd, nullptr, CentredOver(Main.left, Main.right - Main.left, w),
                 CentredOver(Main.top, Main.bottom - Main.top, h), 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int TCoolMessage::Execute(const std::string& Text, TCoolKind Kind) {
    const bool Single = Kind == ckOk;
    ShowWindow(BtnMid->Handle(), Single ? SW_SHOW : SW_HIDE);
    ShowWindow(BtnLeft->Handle(), Single ? SW_HIDE : SW_SHOW);
    ShowWindow(BtnRight->Handle(), Single ? SW_HIDE : SW_SHOW);
    if (Single) BtnMid->SetCaption("OK");
    if (Kind == ckRetryAbort) {
        BtnLeft->SetCaption("Retry");
        BtnRight->SetCaption("Abort");
    }
    SetWindowTextA(Wnd, "Corvane Purgex 2005");
    // The run writes single carriage returns as line breaks.
    std::string Shown;
    for (size_t i = 0; i < Text.size(); ++i) {
        if (Text[i] == '\r' && (i + 1 >= Text.size() || Text[i + 1] != '\n'))
            Shown += "\r\n";
        else
            Shown += Text[i];
    }
    SetWindowTextA(LabelMsg, Shown.c_str());
    FormActivate();
    ModalResult = 0;
    RunModal(Wnd, [this] { return ModalResult != 0 || !Wnd; });
    PumpMessages();
    PumpMessages();
    return ModalResult == 0 ? 2 : ModalResult;
}

LRESULT TCoolMessage::HandleMessage(UINT Msg, WPARAM w, LPARAM l) {
    switch (Msg) {
    case WM_CLOSE:
        ModalResult = 2;
        return 0;
    case WM_ACTIVATE:
        if (LOWORD(w) != WA_INACTIVE) {
            HWND First = IsWindowVisible(BtnMid->Handle()) ? BtnMid->Handle() : BtnLeft->Handle();
            SetFocus(First);
        }
        return 0;
    case WM_ERASEBKGND: {
        RECT r;
        GetClientRect(Wnd, &r);
        FillRect(HDC(w), &r, UiBrush(WindowColour));
        return 1;
    }
    case WM_CTLCOLORSTATIC:
        SetBkMode(HDC(w), TRANSPARENT);
        return LRESULT(UiBrush(WindowColour));
    case WM_KEYDOWN:
        if (w == VK_ESCAPE) ModalResult = 2;
        return 0;
    }
    return Default(Msg, w, l);
}

void TWindowUserInterface::MsgInfo(const std::string& Text) {
    TCoolMessage Box;
    Box.Execute(Text, ckOk);
}

int TWindowUserInterface::MsgRetryAbort(const std::string& Text) {
    TCoolMessage Box;
    return Box.Execute(Text, ckRetryAbort) == 3 ? 3 : 4;
}

int TWindowUserInterface::MsgAsk(TQuestion, const std::string& Text, const std::string& LeftCaption,
                                 const std::string& RightCaption) {
    TCoolMessage Box;
    Box.BtnLeft->SetCaption(LeftCaption);
    Box.BtnRight->SetCaption(RightCaption);
    return Box.Execute(Text, ckCustom) == 3 ? 2 : 1;
}

std::optional<std::string> TWindowUserInterface::ChooseSaveFile(const std::string& DefaultName,
                                                                const std::string& DefaultExtension,
                                                                const std::string& Filter) {
    return Platform().SaveFileDialog(DefaultName, DefaultExtension, Filter);
}

std::optional<std::string> TWindowUserInterface::PickSystemFolder() {
    return SearchSysForm().Pick();
}

void TWindowUserInterface::ProcessMessages() {
    PumpMessages();
}

void TWindowUserInterface::SystemMsgInfo(const std::string& Text) {
    MessageBoxA(nullptr, Text.c_str(), nullptr, MB_OK);
}

bool TWindowUserInterface::SystemMsgWarning(const std::string& Text, const std::string& Caption) {
    return MessageBoxA(nullptr, Text.c_str(), Caption.c_str(), MB_YESNO | MB_ICONWARNING) == IDYES;
}
