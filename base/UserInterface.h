#pragma once
// The one user-interface hook of the system. Every message, question and
// dialog that the parts need goes through the installed TUserInterface: the
// wizard installs its windows, purgex installs console prompts, tests install
// scripted answers.

#include <optional>
#include <string>

// What a question asks, passed beside its text: a front end that answers
// some questions on its own (the wizard after "stop", purgex naming the
// floppy it writes) decides by kind and never by comparing texts.
enum class TQuestion {
    InsertMedium, // before each medium of a run: OK goes on, Cancel offers to stop
    StopRun,      // whether to stop the run: Yes stops it
    UseRxDos,     // a disc without MS-DOS: Yes boots it with Rx-DOS instead
    Other,
};

class TUserInterface {
public:
    virtual ~TUserInterface() = default;

    // Text with one "OK" button.
    virtual void MsgInfo(const std::string& Text) = 0;
    // 4 for Retry (also when the box is closed), 3 for Abort.
    virtual int MsgRetryAbort(const std::string& Text) = 0;
    // 1 for the left button (also when the box is closed), 2 for the right one.
    virtual int MsgAsk(TQuestion Kind, const std::string& Text, const std::string& LeftCaption,
                       const std::string& RightCaption) = 0;

    // The save dialog of the image recorder: the chosen path, or empty when
    // the user cancelled.
    virtual std::optional<std::string> ChooseSaveFile(const std::string& DefaultName,
                                                      const std::string& DefaultExtension,
                                                      const std::string& Filter) = 0;

    // The MS-DOS folder picker: a confirmed folder ending in "\" (or "/")
    // holding both system files, or empty when the user cancelled.
    virtual std::optional<std::string> PickSystemFolder() = 0;

    // Lets pending window messages run during long work.
    virtual void ProcessMessages() {}

    // The two plain system boxes: the SCSI pass-through's error text and the
    // direct disk's write warning (true for Yes). Windows shows them as the
    // system's own boxes; a front end without such boxes shows them as its
    // other messages, so purgex prints them and tests see them.
    virtual void SystemMsgInfo(const std::string& Text) { MsgInfo(Text); }
    virtual bool SystemMsgWarning(const std::string& Text, const std::string& Caption) {
        (void)Caption;
        return MsgAsk(TQuestion::Other, Text, "No", "Yes") == 2;
    }
};

// The installed hook; raises std::logic_error when none is installed, so a
// front end that forgot it fails loudly instead of guessing answers.
TUserInterface& UserInterface();

// Installs Replacement (null uninstalls); returns the previous one.
TUserInterface* InstallUserInterface(TUserInterface* Replacement);

// Installs a hook for the lifetime of the scope and puts the previous one back.
class TUserInterfaceScope {
public:
    explicit TUserInterfaceScope(TUserInterface& Hook) : Previous(InstallUserInterface(&Hook)) {}
    ~TUserInterfaceScope() { InstallUserInterface(Previous); }
    TUserInterfaceScope(const TUserInterfaceScope&) = delete;
    TUserInterfaceScope& operator=(const TUserInterfaceScope&) = delete;

private:
    TUserInterface* Previous;
};

void CoolMsgInfo(const std::string& Text);
int CoolMsgRetryAbort(const std::string& Text);
int CoolMsgAsk(TQuestion Kind, const std::string& Text, const std::string& LeftCaption,
               const std::string& RightCaption);
void ProcessMessages();
void SystemMsgInfo(const std::string& Text);
bool SystemMsgWarning(const std::string& Text, const std::string& Caption);
