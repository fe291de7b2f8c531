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
    // Progress mappings handed to the floppy target.
    void FloppyFirstHalf(double Fraction) { SetRunProgress(0.5 * Fraction); }
    void FloppySecondHalf(double Fraction) { SetRunProgress(0.5 + 0.5 * Fraction); }

    int32_t MediaTotal = 0;
    int32_t MediaDone = 0;
    TDSKburningIO BurnObserver{*this};

    // The system discs boot; the wizard starts with the default. Accepting
    // Rx-DOS for a disc sets RxDos for the rest of the run.
    TDiscSystem DiscSystem = TDiscSystem::MsDosOrAsk;
    // Told every finished CD image just before it is written (purgex checks
    // the saved file against it).
    std::function<void(const TMemoryStream& Image)> ImageBuilt;
    // An MS-DOS floppy gets the composer's MS-DOS base (the store's empty
    // floppy with the installation's or a picked folder's system files),
    // written like the Rx-DOS image, instead of the version-table ways; for
    // systems without a format command (purgex).
    bool FloppyMsDosFromComposer = false;
    // The floppy drive written (the wizard's is always A:).
    char FloppyDrive = 'A';
    // Asked after a floppy's files are written; false (after its own
    // message) fails the floppy, which is asked for again (purgex reads the
    // floppy back here).
    std::function<bool()> FloppyWritten;

private:
    bool AskForMedium(const std::string& Prompt);
    bool PrepareDiscSystem(TDiscTarget& Target);

    TRunFront& Front;
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
