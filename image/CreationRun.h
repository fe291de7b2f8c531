#pragma once
// The creation run: walks the device list row by row, asks for every medium
// in turn, has it written, and drives the gauge across all media of the run.
// It is the same code under the wizard and under purgex; the front end
// supplies the rows, the choices and the gauge through TRunFront, and
// answers the prompts through the installed user-interface hook.

#include <cstdint>
#include <functional>
#include <string>

#include "base/Stream.h"
#include "image/DiscTarget.h"
#include "image/WiperOptions.h"
#include "optical/Optical_device.h"

class TRunFront {
public:
    virtual ~TRunFront() = default;
    virtual int RowCount() = 0;
    // The row's device: null for the floppy in drive A:.
    virtual TOpticalDevice* RowDevice(int Row) = 0;
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
    // One disc or ISO file; true when it is finished.
    bool CreateDisc(TOpticalDevice& Device);
    // One floppy in drive A:.
    bool CreateFloppy();

    void SetRunProgress(double Fraction);

    int32_t MediaTotal = 0;
    int32_t MediaDone = 0;
    TDSKburningIO BurnObserver{*this};

    // The system discs boot; the wizard keeps the default.
    TDiscSystem DiscSystem = TDiscSystem::MsDosOrAsk;
    // Told every finished CD image just before it is written (purgex checks
    // the saved file against it).
    std::function<void(const TMemoryStream& Image)> ImageBuilt;

private:
    bool AskForMedium(const std::string& Prompt);
    bool PrepareDiscSystem(TDiscTarget& Target);

    TRunFront& Front;
};

// The texts of the run.
extern const char* const InstallationFailedText;
extern const char* const DeviceNotReadyText;
extern const char* const DiscNotBlankText;
extern const char* const WriteErrorPrefix;
extern const char* const NoMsDosText;
extern const char* const UseRxDosQuestion;
