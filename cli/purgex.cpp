// purgex: the command-line front end over the same code as the wizard.
// Exit status: 0 success, 1 failure (with a message), 2 usage error.

#include <CLI/CLI.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "cli/BurnCommand.h"
#include "cli/IsoCommand.h"
#include "cli/StoreCommands.h"

int main(int argc, char** argv) {
    CLI::App App{PURGEX_TITLE " - Boot Disk Creator, command line", "purgex"};
    App.set_version_flag("--version", std::string("purgex ") + PURGEX_VERSION + " (" +
                                          PURGEX_TITLE + " - Boot Disk Creator)");
    App.require_subcommand(1);

    TStoreOptions StoreOptions;
    CLI::App* Store = App.add_subcommand("store", "Inspect the embedded data stores");
    Store->require_subcommand(1);
    auto AddStoreChoice = [&](CLI::App* Command) {
        auto* Cd = Command->add_flag("--cd", StoreOptions.Cd, "the disc store PURGXCD (default)");
        auto* Disk = Command->add_flag("--disk", StoreOptions.Disk, "the floppy store PURGXDSK");
        Cd->excludes(Disk);
    };
    CLI::App* List = Store->add_subcommand("list", "List kind, size and name of every item");
    AddStoreChoice(List);
    CLI::App* Extract =
        Store->add_subcommand("extract", "Write every kind-1 item to DIR under its path");
    Extract->add_option("DIR", StoreOptions.Directory, "destination folder")->required();
    AddStoreChoice(Extract);

    // The disc's contents and the answers: the same for an ISO file and a burned disc.
    auto AddDiscOptions = [](CLI::App* Command, TIsoOptions& Options, const char* Verify) {
        Command->add_option("--os", Options.Os,
                            "system the disc boots: auto (MS-DOS where offered, else Rx-DOS), "
                            "msdos, rxdos")
            ->check(CLI::IsMember({"auto", "msdos", "rxdos"}))
            ->default_val("auto");
        Command->add_option("--msdos-dir", Options.MsDosDir,
                            "folder holding the MS-DOS system files Io.sys and command.com");
        Command->add_option("--options", Options.Bits,
                            "twelve 0/1 characters: the wiper's options 1-11, then \"Disable "
                            "mouse support\" (default: the saved options)");
        Command->add_option("--params", Options.Params,
                            "extra command-line parameters for the wiper");
        Command->add_flag("--yes", Options.Yes, "answer every prompt with OK");
        Command->add_flag("--no-verify", Options.NoVerify, Verify);
    };

    TIsoOptions IsoOptions;
    CLI::App* Iso = App.add_subcommand("iso", "Make a bootable CD image file (ISO)");
    Iso->add_option("FILE", IsoOptions.File, "the ISO file to write")->required();
    AddDiscOptions(Iso, IsoOptions, "do not read the saved file back");

    CLI::App* Devices = App.add_subcommand("devices", "List the CD/DVD drives and which can burn");
    TBurnOptions BurnOptions;
    CLI::App* Burn = App.add_subcommand("burn", "Burn bootable discs in a CD/DVD writer");
    Burn->add_option("DRIVE", BurnOptions.Drive,
                     "the writer: a drive letter (E:), a device node (/dev/sr0) or the number "
                     "that purgex devices shows")
        ->required();
    Burn->add_option("--copies", BurnOptions.Copies, "how many discs to burn (1-99)")
        ->default_val(1);
    AddDiscOptions(Burn, BurnOptions.Disc, "do not read each burned disc back");

    try {
        App.parse(argc, argv);
    } catch (const CLI::ParseError& Error) {
        const int Code = App.exit(Error);
        return Code == 0 ? 0 : 2;
    }

    if (List->parsed()) return StoreList(StoreOptions, std::cout, std::cerr);
    if (Extract->parsed()) return StoreExtract(StoreOptions, std::cout, std::cerr);
    if (Iso->parsed()) return RunIsoCommand(IsoOptions, std::cin, std::cout, std::cerr);
    if (Devices->parsed()) return RunDevicesCommand(std::cout, std::cerr);
    if (Burn->parsed()) return RunBurnCommand(BurnOptions, std::cin, std::cout, std::cerr);
    return 2;
}
