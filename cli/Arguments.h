#pragma once
// The command line of purgex, parsed into what to run.

#include <iosfwd>
#include <string>
#include <vector>

#include "cli/BurnCommand.h"
#include "cli/FloppyCommand.h"
#include "cli/IsoCommand.h"
#include "cli/OptionsCommand.h"
#include "cli/ReportCommand.h"
#include "cli/StoreCommands.h"
#include "cli/UsbCommand.h"

struct TPurgexCommand {
    enum TKind {
        Finished,
        StoreList,
        StoreExtract,
        Iso,
        Floppy,
        Usb,
        Devices,
        Burn,
        Options,
        Report
    } Kind = Finished;
    // With Kind Finished: the exit status (0 after --help or --version, 2 for
    // a usage error, whose message went to Err).
    int ExitCode = 0;
    TStoreOptions Store;
    TIsoOptions IsoOptions;
    TFloppyOptions FloppyOptions;
    TBurnOptions BurnOptions;
    TUsbOptions UsbOptions;
    std::string SetBits; // purgex options --set
    TReportOptions ReportOptions;
};

// Arguments without the program name.
TPurgexCommand ParsePurgexArguments(const std::vector<std::string>& Arguments, std::ostream& Out,
                                    std::ostream& Err);
