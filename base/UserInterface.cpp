#include "base/UserInterface.h"

#include <stdexcept>

namespace {
TUserInterface* Installed = nullptr;
}

TUserInterface& UserInterface() {
    if (!Installed) throw std::logic_error("no user interface is installed");
    return *Installed;
}

TUserInterface* InstallUserInterface(TUserInterface* Replacement) {
    TUserInterface* Previous = Installed;
    Installed = Replacement;
    return Previous;
}

void CoolMsgInfo(const std::string& Text) { UserInterface().MsgInfo(Text); }

int CoolMsgRetryAbort(const std::string& Text) { return UserInterface().MsgRetryAbort(Text); }

int CoolMsgAsk(TQuestion Kind, const std::string& Text, const std::string& LeftCaption,
               const std::string& RightCaption) {
    return UserInterface().MsgAsk(Kind, Text, LeftCaption, RightCaption);
}

void ProcessMessages() {
    if (Installed) Installed->ProcessMessages();
}

void SystemMsgInfo(const std::string& Text) { UserInterface().SystemMsgInfo(Text); }

bool SystemMsgWarning(const std::string& Text, const std::string& Caption) {
    return UserInterface().SystemMsgWarning(Text, Caption);
}
