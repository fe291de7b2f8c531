// purgex: the command-line front end over the same code as the wizard.
// Exit status: 0 success, 1 failure (with a message), 2 usage error.

#include <CLI/CLI.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "cli/IsoCommand.h"
#include "cli/OptionsCommand.h"
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

    TIsoOptions IsoOptions;
    CLI::App* Iso = App.add_subcommand("iso", "Make a bootable CD image file (ISO)");
    Iso->add_option("FILE", IsoOptions.File, "the ISO file to write")->required();
    Iso->add_option("--os", IsoOptions.Os,
                    "system the disc boots: auto (MS-DOS where offered, else Rx-DOS), msdos, rxdos")
        ->check(CLI::IsMember({"auto", "msdos", "rxdos"}))
        ->default_val("auto");
    Iso->add_option("--msdos-dir", IsoOptions.MsDosDir,
                    "folder holding the MS-DOS system files Io.sys and command.com");
    Iso->add_option("--options", IsoOptions.Bits,
                    "twelve 0/1 characters: the wiper's options 1-11, then \"Disable mouse "
                    "support\" (default: the saved options)");
    Iso->add_option("--params", IsoOptions.Params, "extra command-line parameters for the wiper");
    Iso->add_flag("--yes", IsoOptions.Yes, "answer every prompt with OK");
    Iso->add_flag("--no-verify", IsoOptions.NoVerify, "do not read the saved file back");

    std::string SetBits;
    CLI::App* Options = App.add_subcommand(
        "options", "List the wiping options saved for the wizard and purgex, or save new ones");
    Options->add_option("--set", SetBits,
                        "twelve 0/1 characters: the wiper's options 1-11, then \"Disable mouse "
                        "support\"");

    try {
        App.parse(argc, argv);
    } catch (const CLI::ParseError& Error) {
        const int Code = App.exit(Error);
        return Code == 0 ? 0 : 2;
    }

    if (List->parsed()) return StoreList(StoreOptions, std::cout, std::cerr);
    if (Extract->parsed()) return StoreExtract(StoreOptions, std::cout, std::cerr);
    if (Options->parsed()) return RunOptionsCommand(SetBits, std::cout, std::cerr);
    if (Iso->parsed()) return RunIsoCommand(IsoOptions, std::cin, std::cout, std::cerr);
    return 2;
}
