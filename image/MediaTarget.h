#pragma once
// One target of the creation run: a floppy drive, a CD/DVD writer or an ISO
// image file. Each row of a run's front hands out a target; the run asks the
// target's prompt before every medium and has the target make it, without
// knowing which kind of target it holds.

#include <string>

#include "base/UserInterface.h"

class TCreationRun;

// The question before a medium, answered OK or Cancel; Cancel offers to
// stop the run.
struct TMediumPrompt {
    std::string Text;
    TQuestion Kind = TQuestion::InsertMedium;
};

class TMediaTarget {
public:
    virtual ~TMediaTarget() = default;

    // Asked before each medium.
    virtual TMediumPrompt MediumPrompt() const = 0;
    // Whether a medium can be written now; shows its own message when not.
    virtual bool Ready() = 0;
    // Makes one medium from the run's choices, driving the run's gauge;
    // shows its own messages and answers false after any of them, and the
    // run asks for the medium again.
    virtual bool MakeMedium(TCreationRun& Run) = 0;
};
