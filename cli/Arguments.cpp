#include "cli/Arguments.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <ostream>

TPurgexCommand ParsePurgexArguments(const std::vector<std::string>& Arguments, std::ostream& Out,
                                    std::ostream& Err) {
    TPurgexCommand Command;
    CLI::App App{PURGEX_TITLE " - Boot Disk Creator, command line", "purgex"};
    App.set_version_flag("--version", std::string("purgex ") + PURGEX_VERSION + " (" +
                                          PURGEX_TITLE + " - Boot Disk Creator)");
    App.require_subcommand(1);

    TStoreOptions& StoreOptions = Command.Store;
    CLI::App* Store = App.add_subcommand("store", "Inspect the embedded data stores");
    Store->require_subcommand(1);
    auto AddStoreChoice = [&](CLI::App* Sub) {
        auto* Cd = Sub->add_flag("--cd", StoreOptions.Cd, "the disc store PURGXCD (default)");
        auto* Disk = Sub->add_flag("--disk", StoreOptions.Disk, "the floppy store PURGXDSK");
        Cd->excludes(Disk);
    };
    CLI::App* List = Store->add_subcommand("list", "List kind, size and name of every item");
    AddStoreChoice(List);
    CLI::App* Extract =
        Store->add_subcommand("extract", "Write every kind-1 item to DIR under its path");
    Extract->add_option("DIR", StoreOptions.Directory, "destination folder")->required();
    AddStoreChoice(Extract);

    CLI::App* Options = App.add_subcommand(
        "options", "List the wiping options saved for the wizard and purgex, or save new ones");
    Options->add_option("--set", Command.SetBits,
                        "twelve 0/1 characters: the wiper's options 1-11, then \"Disable mouse "
                        "support\"");

    // The choices the media commands take.
    auto AddMediaOptions = [](CLI::App* Sub, TMediaOptions& Options, const char* Verify,
                              bool Stick = false) {
        Sub->add_option("--os", Options.Os,
                        Stick ? "system it boots: rxdos, the only one a stick starts (auto means "
                                "rxdos; msdos is refused)"
                              : "system it boots: auto (MS-DOS where offered, else Rx-DOS), msdos, "
                                "rxdos")
            ->check(CLI::IsMember({"auto", "msdos", "rxdos"}))
            ->default_val("auto");
        if (!Stick)
            Sub->add_option("--msdos-dir", Options.MsDosDir,
                            "folder holding the MS-DOS system files Io.sys and command.com (on a "
                            "terminal, purgex asks for it when needed)");
        Sub->add_option("--options", Options.Bits,
                        "twelve 0/1 characters: the wiper's options 1-11, then \"Disable mouse "
                        "support\" (default: the saved options)");
        Sub->add_option("--params", Options.Params,
                        "extra command-line parameters for the wiper (at most 120 characters)");
        Sub->add_flag("--yes", Options.Yes, "answer every prompt with OK");
        Sub->add_flag("--no-verify", Options.NoVerify, Verify);
    };

    TIsoOptions& IsoOptions = Command.IsoOptions;
    CLI::App* Iso = App.add_subcommand("iso", "Make a bootable CD image file (ISO)");
    Iso->add_option("FILE", IsoOptions.File,
                    "the ISO file to write (an existing file is replaced only by a complete, "
                    "verified image)")
        ->required();
    AddMediaOptions(Iso, IsoOptions, "do not read the saved file back");
    const char* const UefiHelp =
        "also start on UEFI PCs: a second boot entry with the wiper's UEFI build, and an ISO 9660 "
        "volume holding the wiper's files";
    Iso->add_flag("--uefi", IsoOptions.Uefi, UefiHelp);

    TFloppyOptions& FloppyOptions = Command.FloppyOptions;
    CLI::App* Floppy =
        App.add_subcommand("floppy", "Write bootable floppies (a drive or an image file)");
    Floppy
        ->add_option("TARGET", FloppyOptions.Target,
                     "floppy device (/dev/fd0, a USB drive's /dev/sdX; A: or B: on Windows) or a "
                     "1.44 MB image file, made when missing")
        ->required();
    Floppy
        ->add_option("--copies", FloppyOptions.Copies,
                     "how many floppies to write, one after the other")
        ->check(CLI::Range(1, MaxFloppyCopies))
        ->default_val(1);
    AddMediaOptions(Floppy, FloppyOptions, "do not read the written floppy back");

    TUsbOptions& UsbOptions = Command.UsbOptions;
    CLI::App* Usb = App.add_subcommand(
        "usb", "Write bootable USB sticks (a stick or an image file); they start Rx-DOS");
    Usb->add_option("TARGET", UsbOptions.Target,
                    "the stick (/dev/sdX; E: or PhysicalDriveN on Windows; purgex devices lists "
                    "them) or an image file, made when missing")
        ->required();
    Usb->add_option("--copies", UsbOptions.Copies, "how many sticks to write, asking for each")
        ->check(CLI::Range(1, MaxUsbCopies))
        ->default_val(1);
    Usb->add_option("--size", UsbOptions.Size,
                    "size of an image file made anew, in bytes or with K, M or G (default 64M)")
        ->transform(CLI::AsSizeValue(false));
    Usb->add_flag(AnyDiskOption, UsbOptions.AnyDisk,
                  "write the disk even though it is neither removable nor attached through USB");
    AddMediaOptions(Usb, UsbOptions, "do not read the written stick back", true);

    CLI::App* Devices = App.add_subcommand(
        "devices", "List the CD/DVD drives and which can burn, and the USB sticks");
    TBurnOptions& BurnOptions = Command.BurnOptions;
    CLI::App* Burn = App.add_subcommand("burn", "Burn bootable discs in a CD/DVD writer");
    Burn->add_option("DRIVE", BurnOptions.Drive,
                     "the writer: a drive letter (E:), a device node (/dev/sr0) or the number "
                     "that purgex devices shows")
        ->required();
    Burn->add_option("--copies", BurnOptions.Copies, "how many discs to burn, asking for each")
        ->check(CLI::Range(1, MaxBurnCopies))
        ->default_val(1);
    AddMediaOptions(Burn, BurnOptions, "do not read each burned disc back");
    Burn->add_flag("--uefi", BurnOptions.Uefi, UefiHelp);

    TReportOptions& ReportOptions = Command.ReportOptions;
    CLI::App* Report = App.add_subcommand(
        "report", "Check the wiper's erase records and list the erased disks; --pdf writes "
                  "certificates");
    Report
        ->add_option("PATH", ReportOptions.Paths,
                     "a record (PURGnnnn.REC), a folder of records, or a disk or stick image "
                     "(or device) with records in the root folder of its FAT file system")
        ->required();
    Report->add_option("--pdf", ReportOptions.Pdf,
                       "write a PDF: a summary page and a certificate page per disk");
    Report->add_option("--operator", ReportOptions.Operator, "who performed the erase");
    Report->add_option("--organisation", ReportOptions.Organisation, "the organisation");

    // CLI11 takes the arguments last first.
    std::vector<std::string> Reversed(Arguments.rbegin(), Arguments.rend());
    try {
        App.parse(Reversed);
    } catch (const CLI::ParseError& Error) {
        const int Code = App.exit(Error, Out, Err);
        Command.ExitCode = Code == 0 ? 0 : 2;
        return Command;
    }
    if (List->parsed()) Command.Kind = TPurgexCommand::StoreList;
    else if (Extract->parsed()) Command.Kind = TPurgexCommand::StoreExtract;
    else if (Iso->parsed()) Command.Kind = TPurgexCommand::Iso;
    else if (Floppy->parsed()) Command.Kind = TPurgexCommand::Floppy;
    else if (Usb->parsed()) Command.Kind = TPurgexCommand::Usb;
    else if (Devices->parsed()) Command.Kind = TPurgexCommand::Devices;
    else if (Burn->parsed()) Command.Kind = TPurgexCommand::Burn;
    else if (Options->parsed()) Command.Kind = TPurgexCommand::Options;
    else if (Report->parsed())
        Command.Kind = TPurgexCommand::Report;
    else Command.ExitCode = 2;
    return Command;
}
