#pragma once
// Answers every box at once, for runs without a test's script (the fuzz
// targets): Abort, the left button, nothing chosen.

#include <optional>
#include <string>

#include "base/UserInterface.h"

class TClosedBoxes : public TUserInterface {
public:
    void MsgInfo(const std::string&) override {}
    int MsgRetryAbort(const std::string&) override { return 3; }
    int MsgAsk(TQuestion, const std::string&, const std::string&, const std::string&) override {
        return 1;
    }
    std::optional<std::string> ChooseSaveFile(const std::string&, const std::string&,
                                              const std::string&) override {
        return std::nullopt;
    }
    std::optional<std::string> PickSystemFolder() override { return std::nullopt; }
};
