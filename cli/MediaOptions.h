#pragma once
// What purgex iso and purgex floppy share: the wiper's choices, the boot
// system, the console prompts and the progress bar on stderr.

#include <iosfwd>
#include <string>

#include "image/CreationRun.h"
#include "image/DiscTarget.h"
#include "image/WiperOptions.h"

struct TMediaOptions {
    std::string Os = "auto"; // auto, msdos, rxdos
    std::string MsDosDir;
    std::string Bits; // twelve '0'/'1', empty for the saved options
    std::string Params;
    bool Yes = false;
    bool NoVerify = false;
    bool Uefi = false; // discs only: also start on UEFI PCs
};

// The checked options and the MS-DOS folder (with a trailing separator).
// Returns 0, or the exit status after writing the message to Err.
int ResolveMediaOptions(const TMediaOptions& Options, TWiperOptions& Checked, std::string& MsDosDir,
                        std::ostream& Err);

// Where the running system offers MS-DOS: its own files (Windows 9x), the
// image of "DiskCopy.dll", or the folder given; empty for nowhere.
std::string OfferedMsDos(const std::string& MsDosDir);

// The disc system for "auto", "msdos" or "rxdos", told on Out.
TDiscSystem ChooseDiscSystem(const std::string& Os, const std::string& MsDosDir,
                             std::ostream& Out);

// One row of one target; the bar is drawn once work has begun and ended
// before any prompt or message. A writer's burn adds its drive buffer's fill.
class TConsoleFront : public TRunFront {
public:
    TConsoleFront(TMediaTarget& Target, int Quantity, TWiperOptions Options, std::string Params,
                  bool MsDos, std::ostream& Err, bool ShowProgress)
        : Target(Target), Quantity(Quantity), Options(Options), Params(std::move(Params)),
          MsDos(MsDos), Err(Err), ShowProgress(ShowProgress) {}

    int RowCount() override { return 1; }
    TMediaTarget& RowTarget(int) override { return Target; }
    int RowQuantity(int) override { return Quantity; }
    TWiperOptions CheckedOptions() override { return Options; }
    std::string CommandLine() override { return Params; }
    bool FloppyUsesMsDos() override { return MsDos; }
    void SetGauge(int Percent) override;
    void SetFill(double Fill);
    void EndLine();

private:
    TMediaTarget& Target;
    int Quantity;
    TWiperOptions Options;
    std::string Params;
    bool MsDos;
    std::ostream& Err;
    bool ShowProgress;
    bool LineOpen = false;
    int Gauge = 0;
    int BufferFill = -1; // none reported
    void Draw();
};

// Runs the creation run; false after ending the bar and writing what the run
// raised to Err.
bool CreateMediaReporting(TCreationRun& Run, TConsoleFront& Front, std::ostream& Err);
