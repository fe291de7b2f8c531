#pragma once
// One target of the creation run: a floppy drive, a CD/DVD writer or an ISO
// image file. Each row of a run's front hands out a target; the run asks the
// target's prompt before every medium and has the target make it, without
// knowing which kind of target it holds.

#include <string>

class TCreationRun;

class TMediaTarget {
public:
    virtual ~TMediaTarget() = default;

    // Asked before each medium as TQuestion::InsertMedium, with OK and Cancel.
    virtual std::string MediumPrompt() const = 0;
    // Whether a medium can be written now; shows its own message when not.
    virtual bool Ready() = 0;
    // Makes one medium from the run's choices, driving the run's gauge;
    // shows its own messages and answers false after any of them, and the
    // run asks for the medium again.
    virtual bool MakeMedium(TCreationRun& Run) = 0;
};
