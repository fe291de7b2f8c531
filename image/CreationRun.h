#pragma once
// The creation run: walks the device list row by row, asks for every medium
// in turn, has its row's target make it, and drives the gauge across all
// media of the run. It is the same code under the wizard and under purgex;
// the front end supplies the rows' targets, the choices and the gauge
// through TRunFront, and answers the prompts through the installed
// user-interface hook.

#include <cstdint>
#include <functional>
#include <string>

#include "base/Stream.h"
#include "image/DiscTarget.h"
#include "image/MediaTarget.h"
#include "image/WiperOptions.h"
#include "optical/Optical_device.h"

class TRunFront {
public:
    virtual ~TRunFront() = default;
    virtual int RowCount() = 0;
    // What the row's media are made on.
    virtual TMediaTarget& RowTarget(int Row) = 0;
    virtual int RowQuantity(int Row) = 0; // 0 to 99
    // Read afresh for every medium.
    virtual TWiperOptions CheckedOptions() = 0;
    virtual std::string CommandLine() = 0;
    virtual bool FloppyUsesMsDos() = 0;
    // Percent, 0 to 100.
    virtual void SetGauge(int Percent) = 0;
};

class TCreationRun;

// The run's burn observer: maps a burn's stages onto the gauge.
class TDSKburningIO : public TBurningIO {
public:
    explicit TDSKburningIO(TCreationRun& Run) : Run(Run) {}
    void Progress(uint8_t Stage, double Done, double BufferFill) override;

private:
    TCreationRun& Run;
};

class TCreationRun {
public:
    explicit TCreationRun(TRunFront& Front) : Front(Front) {}

    // The whole run. Ends early only when the user answers "Yes" to the stop
    // question; exceptions of the layers below may leave it.
    void CreateMedia();

    // The current medium's progress, 0 to 1, on the gauge of the whole run.
    void SetRunProgress(double Fraction);

    TRunFront& Front;

    int32_t MediaTotal = 0;
    int32_t MediaDone = 0;
    TDSKburningIO BurnObserver{*this};

    // The system discs boot; the wizard starts with the default. Accepting
    // Rx-DOS for a disc sets RxDos for the rest of the run.
    TDiscSystem DiscSystem = TDiscSystem::MsDosOrAsk;
    // Discs also start on UEFI PCs: a second boot entry and a volume with
    // the wiper's UEFI build. Off, a disc is the specified image to the byte.
    bool UefiEntry = false;
    // Told every finished CD image just before it is written (purgex checks
    // the saved file against it).
    std::function<void(const TMemoryStream& Image)> ImageBuilt;

private:
    bool AskForMedium(const TMediumPrompt& Prompt);
};

// The floppy's start-up files, written through the platform's files.
// Writes Text + CR LF, cut to its first 255 bytes.
void WriteStartupLine(TStream& File, const std::string& Text);
bool WriteFloppyAutoexec(char DriveLetter, const std::string& CommandLine, bool WithMouse);
bool WriteFloppyIni(char DriveLetter, const std::string& Options);
// The store's INI path: the first item whose name contains "PURGIT.INI".
std::string FloppyIniPath();

// The longest wiper parameters DOS can pass: "Purgit " and they must fit
// the 127-character command line, or the batch line would cut them.
constexpr size_t MaxWiperParams = 127 - 7;

// The texts of the run.
extern const char* const InstallationFailedText;
extern const char* const DeviceNotReadyText;
extern const char* const DiscNotBlankText;
extern const char* const WriteErrorPrefix;
extern const char* const NoMsDosText;
extern const char* const UseRxDosQuestion;
