// purgex: the command-line front end over the same code as the wizard.
// Exit status: 0 success, 1 failure (with a message), 2 usage error, 130
// after Ctrl-C and 143 after SIGTERM (what the run had begun is removed).

#include <iostream>
#include <string>
#include <vector>

#include "cli/Arguments.h"
#include "cli/Terminal.h"

int main(int argc, char** argv) {
    InstallInterruptHandlers();
    const std::vector<std::string> Arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    const TPurgexCommand Command = ParsePurgexArguments(Arguments, std::cout, std::cerr);
    switch (Command.Kind) {
    case TPurgexCommand::StoreList: return StoreList(Command.Store, std::cout, std::cerr);
    case TPurgexCommand::StoreExtract: return StoreExtract(Command.Store, std::cout, std::cerr);
    case TPurgexCommand::Iso: return RunIsoCommand(Command.IsoOptions, std::cin, std::cout, std::cerr);
    case TPurgexCommand::Floppy:
        return RunFloppyCommand(Command.FloppyOptions, std::cin, std::cout, std::cerr);
    case TPurgexCommand::Usb:
        return RunUsbCommand(Command.UsbOptions, std::cin, std::cout, std::cerr);
    case TPurgexCommand::Devices: return RunDevicesCommand(std::cout, std::cerr);
    case TPurgexCommand::Burn:
        return RunBurnCommand(Command.BurnOptions, std::cin, std::cout, std::cerr);
    case TPurgexCommand::Options: return RunOptionsCommand(Command.SetBits, std::cout, std::cerr);
    case TPurgexCommand::Report:
        return RunReportCommand(Command.ReportOptions, std::cout, std::cerr);
    case TPurgexCommand::Finished: break;
    }
    return Command.ExitCode;
}
