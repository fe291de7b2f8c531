// purgex's argument parsing on arbitrary arguments (NUL-separated): it never
// throws, and answers a command to run or an exit status of 0 or 2.

#include <sstream>
#include <string>
#include <vector>

#include "FuzzTarget.h"
#include "cli/Arguments.h"

PURGEX_FUZZ_TARGET(ArgumentsFuzz) {
    std::vector<std::string> Arguments(1);
    for (size_t i = 0; i < Size && Arguments.size() < 64; ++i) {
        if (Data[i] == 0) Arguments.emplace_back();
        else Arguments.back() += char(Data[i]);
    }
    std::ostringstream Out, Err;
    const TPurgexCommand Command = ParsePurgexArguments(Arguments, Out, Err);
    switch (Command.Kind) {
    case TPurgexCommand::Finished:
        PURGEX_FUZZ_CHECK(Command.ExitCode == 0 || Command.ExitCode == 2);
        PURGEX_FUZZ_CHECK(Command.ExitCode == 0 || !Err.str().empty());
        break;
    case TPurgexCommand::Iso: {
        const std::string& Os = Command.IsoOptions.Os;
        PURGEX_FUZZ_CHECK(Os == "auto" || Os == "msdos" || Os == "rxdos");
        break;
    }
    case TPurgexCommand::Floppy: {
        const TFloppyOptions& Floppy = Command.FloppyOptions;
        PURGEX_FUZZ_CHECK(Floppy.Os == "auto" || Floppy.Os == "msdos" || Floppy.Os == "rxdos");
        PURGEX_FUZZ_CHECK(Floppy.Copies >= 1 && Floppy.Copies <= MaxFloppyCopies);
        break;
    }
    case TPurgexCommand::Usb: {
        const TUsbOptions& Usb = Command.UsbOptions;
        PURGEX_FUZZ_CHECK(Usb.Os == "auto" || Usb.Os == "msdos" || Usb.Os == "rxdos");
        PURGEX_FUZZ_CHECK(Usb.Copies >= 1 && Usb.Copies <= MaxUsbCopies);
        PURGEX_FUZZ_CHECK(!Usb.Target.empty());
        break;
    }
    case TPurgexCommand::Devices:
    case TPurgexCommand::Options:
        break;
    case TPurgexCommand::Burn: {
        const TBurnOptions& Burn = Command.BurnOptions;
        PURGEX_FUZZ_CHECK(Burn.Os == "auto" || Burn.Os == "msdos" || Burn.Os == "rxdos");
        PURGEX_FUZZ_CHECK(Burn.Copies >= 1 && Burn.Copies <= MaxBurnCopies);
        break;
    }
    case TPurgexCommand::Report:
        PURGEX_FUZZ_CHECK(!Command.ReportOptions.Paths.empty());
        break;
    case TPurgexCommand::StoreList:
    case TPurgexCommand::StoreExtract:
        PURGEX_FUZZ_CHECK(!(Command.Store.Cd && Command.Store.Disk));
        break;
    }
    return 0;
}
