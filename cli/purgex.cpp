// purgex: the command-line front end over the same code as the wizard.
// Exit status: 0 success, 1 failure (with a message), 2 usage error.

#include <CLI/CLI.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

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

    try {
        App.parse(argc, argv);
    } catch (const CLI::ParseError& Error) {
        const int Code = App.exit(Error);
        return Code == 0 ? 0 : 2;
    }

    if (List->parsed()) return StoreList(StoreOptions, std::cout, std::cerr);
    if (Extract->parsed()) return StoreExtract(StoreOptions, std::cout, std::cerr);
    return 2;
}
