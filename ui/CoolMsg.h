#pragma once
// The one message box of the wizard, and the user-interface hook that shows
// every message, question and dialog of the system in windows.

#include <memory>

#include "base/UserInterface.h"
#include "ui/ImageButton.h"

enum TCoolKind { ckOk = 0, ckRetryAbort = 1, ckCustom = 2 };

class TCoolMessage : public TWindow {
public:
    TCoolMessage();
    // Shows the box modally; the modal result: 1 OK, 4 retry, 3 abort (or
    // the right button), 2 closed.
    int Execute(const std::string& Text, TCoolKind Kind);

    std::unique_ptr<TImageButton> BtnLeft, BtnMid, BtnRight;
    HWND LabelMsg = nullptr;

private:
    LRESULT HandleMessage(UINT Msg, WPARAM w, LPARAM l) override;
    void FormActivate();
    int ModalResult = 0;
};

// The window the message boxes centre over (the wizard), or none.
void SetMainWindow(HWND Main);
HWND MainWindow();

// Shows the system's messages in windows: the message box, the save dialog
// and the MS-DOS folder picker; lets window messages run during long work.
class TWindowUserInterface : public TUserInterface {
public:
    void MsgInfo(const std::string& Text) override;
    int MsgRetryAbort(const std::string& Text) override;
    int MsgAsk(TQuestion Kind, const std::string& Text, const std::string& LeftCaption,
               const std::string& RightCaption) override;
    std::optional<std::string> ChooseSaveFile(const std::string& DefaultName,
                                              const std::string& DefaultExtension,
                                              const std::string& Filter) override;
    std::optional<std::string> PickSystemFolder() override;
    void ProcessMessages() override;
    void SystemMsgInfo(const std::string& Text) override;
    bool SystemMsgWarning(const std::string& Text, const std::string& Caption) override;
};
