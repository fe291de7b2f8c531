// purgex iso from end to end, judged by tools nobody here wrote: geteltorito
// extracts the boot floppy, fsck.fat checks it, mtools reads it back, QEMU
// boots the image.

#include <gtest/gtest.h>

#include <cstdlib>

#include "QemuSupport.h"
#include "TestSupport.h"
#include "image/Composer.h"

using namespace testing_support;

#ifdef PURGEX_CLI
namespace {

const std::string Payload = PURGEX_CONTAINERS_DIR;
const std::string TestSystemFolder = Payload + "/bootrecord/testsys";

TCommandResult Purgex(const std::string& Arguments, const std::string& Environment = "") {
    return RunCommand(Environment + " " + ShellQuote(PURGEX_CLI) + " " + Arguments + " </dev/null");
}

std::string MtoolsRead(const std::string& Image, const std::string& Path) {
    return RunCommand("MTOOLS_SKIP_CHECK=1 mtype -i " + ShellQuote(Image) + " " + ShellQuote("::" + Path))
        .Output;
}

// Root entries as mdir shows them, names only (folders end in "/").
std::vector<std::string> RootListing(const std::string& Image) {
    const auto Listing = RunCommand("MTOOLS_SKIP_CHECK=1 mdir -b -a -i " + ShellQuote(Image) + " ::/");
    std::vector<std::string> Names;
    size_t Start = 0;
    while (Start < Listing.Output.size()) {
        size_t End = Listing.Output.find('\n', Start);
        if (End == std::string::npos) End = Listing.Output.size();
        std::string Line = Listing.Output.substr(Start, End - Start);
        if (Line.rfind("::/", 0) == 0) Names.push_back(Line.substr(3));
        Start = End + 1;
    }
    return Names;
}

// Makes an ISO, extracts its floppy with geteltorito and checks both agree.
struct TMadeIso {
    TScratchDir Dir;
    std::string Iso, Floppy;
    TCommandResult Result;

    explicit TMadeIso(const std::string& Arguments) {
        Iso = (Dir / "Purgit.ISO").string();
        Floppy = (Dir / "floppy.img").string();
        Result = Purgex("iso " + ShellQuote(Iso) + " --yes " + Arguments);
        if (Result.ExitCode != 0) return;
        const auto Extract =
            RunCommand("geteltorito -o " + ShellQuote(Floppy) + " " + ShellQuote(Iso));
        EXPECT_EQ(Extract.ExitCode, 0) << Extract.Output;
        const auto IsoBytes = ReadFileBytes(Iso);
        const auto FloppyBytes = ReadFileBytes(Floppy);
        EXPECT_EQ(IsoBytes.size(), 1515520u);
        EXPECT_EQ(FloppyBytes, std::vector<uint8_t>(IsoBytes.begin() + 40960, IsoBytes.end()));
        const auto Fsck = RunCommand("fsck.fat -n " + ShellQuote(Floppy));
        EXPECT_EQ(Fsck.ExitCode, 0) << Fsck.Output;
    }
};

} // namespace
#endif

TEST(PurgexIso, RxDosDiscCarriesTheWiperAndTheChoices) {
    REQUIRE_HOST_TOOLS();
#ifdef PURGEX_CLI
    TMadeIso Made("--os rxdos --options 010011000101 --params '/log A:'");
    ASSERT_EQ(Made.Result.ExitCode, 0) << Made.Result.Output;
    EXPECT_NE(Made.Result.Output.find("Rx-DOS"), std::string::npos);

    EXPECT_EQ(MtoolsRead(Made.Floppy, "AUTOEXEC.BAT"), StartupBatch(false, "/log A:"));
    const std::string Ini = MtoolsRead(Made.Floppy, "PURGIT/DATA/PURGIT.INI");
    EXPECT_EQ(Ini, WiperIni("010011000101"));
    EXPECT_EQ(Ini.size(), 68u);
    const auto Root = RootListing(Made.Floppy);
    ASSERT_GE(Root.size(), 5u);
    EXPECT_EQ(std::vector<std::string>(Root.end() - 2, Root.end()),
              (std::vector<std::string>{"PURGIT/", "AUTOEXEC.BAT"}));

    // Every wiper file reads back byte for byte as the store holds it.
    TScratchDir Store;
    ASSERT_EQ(Purgex("store extract " + ShellQuote(Store.Path().string())).ExitCode, 0);
    int Compared = 0;
    for (const auto& Entry : std::filesystem::recursive_directory_iterator(Store / "Purgit")) {
        if (!Entry.is_regular_file()) continue;
        const std::string Relative =
            std::filesystem::relative(Entry.path(), Store.Path()).generic_string();
        if (Relative == "Purgit/DATA/PURGIT.INI") continue; // generated from the choices
        const auto Copy = RunCommand("MTOOLS_SKIP_CHECK=1 mcopy -n -i " + ShellQuote(Made.Floppy) +
                                     " " + ShellQuote("::" + Relative) + " " +
                                     ShellQuote((Store / "copy.bin").string()));
        ASSERT_EQ(Copy.ExitCode, 0) << Relative << Copy.Output;
        EXPECT_EQ(ReadFileBytes(Store / "copy.bin"), ReadFileBytes(Entry.path())) << Relative;
        ++Compared;
    }
    EXPECT_EQ(Compared, 32);
#endif
}

TEST(PurgexIso, MouseLineFollowsTheLastOption) {
    REQUIRE_HOST_TOOLS();
#ifdef PURGEX_CLI
    TMadeIso Made("--os rxdos --options 100111001010");
    ASSERT_EQ(Made.Result.ExitCode, 0) << Made.Result.Output;
    EXPECT_EQ(MtoolsRead(Made.Floppy, "AUTOEXEC.BAT"), StartupBatch(true, ""));
#endif
}

TEST(PurgexIso, MsDosDiscFromAFolderOfSystemFiles) {
    REQUIRE_HOST_TOOLS();
#ifdef PURGEX_CLI
    TMadeIso Made("--os msdos --msdos-dir " + ShellQuote(TestSystemFolder));
    ASSERT_EQ(Made.Result.ExitCode, 0) << Made.Result.Output;
    EXPECT_EQ(RootListing(Made.Floppy),
              (std::vector<std::string>{"IO.SYS", "COMMAND.COM", "MSDOS.SYS", "PURGIT/",
                                        "AUTOEXEC.BAT"}));
    const auto Label = RunCommand("MTOOLS_SKIP_CHECK=1 mlabel -s -i " + ShellQuote(Made.Floppy) + " ::");
    EXPECT_NE(Label.Output.find("DSKPURGX"), std::string::npos) << Label.Output;
    EXPECT_EQ(MtoolsRead(Made.Floppy, "MSDOS.SYS"), "[Options]\r\nBootGui=0\r\n");
    EXPECT_EQ(ReadFileBytes(TestSystemFolder + "/IO.SYS"),
              [&] {
                  const std::string Io = MtoolsRead(Made.Floppy, "IO.SYS");
                  return std::vector<uint8_t>(Io.begin(), Io.end());
              }());
#endif
}

TEST(PurgexIso, AutoUsesRxDosWhenNoMsDosIsOfferedAndMsDosAloneFails) {
    REQUIRE_HOST_TOOLS();
#ifdef PURGEX_CLI
    TMadeIso Auto("");
    ASSERT_EQ(Auto.Result.ExitCode, 0) << Auto.Result.Output;
    EXPECT_NE(Auto.Result.Output.find("Rx-DOS"), std::string::npos);

    TScratchDir Dir;
    const auto Failed = Purgex("iso " + ShellQuote((Dir / "x.iso").string()) + " --yes --os msdos");
    EXPECT_EQ(Failed.ExitCode, 1);
    EXPECT_NE(Failed.Output.find("Cannot find Ms-Dos system files."), std::string::npos)
        << Failed.Output;
    const auto Usage = Purgex("iso " + ShellQuote((Dir / "x.iso").string()) + " --options 2");
    EXPECT_EQ(Usage.ExitCode, 2);
    const auto Unwritable = Purgex("iso /nonexistent/folder/x.iso --yes --os rxdos");
    EXPECT_EQ(Unwritable.ExitCode, 1) << Unwritable.Output;
#endif
}

// A file or folder that cannot be written is refused before anything is
// made, with a message that says which; what was there stays as it was.
TEST(PurgexIso, RefusedFilesAreLeftAsTheyWere) {
    REQUIRE_HOST_TOOLS();
#ifdef PURGEX_CLI
    TScratchDir Dir;
    const auto Locked = Dir / "locked.iso";
    WriteFileBytes(Locked, std::string("precious"));
    std::filesystem::permissions(Locked, std::filesystem::perms::owner_read |
                                             std::filesystem::perms::group_read);
    const auto ReadOnly = Purgex("iso " + ShellQuote(Locked.string()) + " --yes --os rxdos");
    EXPECT_EQ(ReadOnly.ExitCode, 1);
    EXPECT_NE(ReadOnly.Output.find("is read-only"), std::string::npos) << ReadOnly.Output;
    EXPECT_EQ(ReadFileBytes(Locked), std::vector<uint8_t>({'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'}));

    const auto Shut = Dir / "shut";
    std::filesystem::create_directory(Shut);
    std::filesystem::permissions(Shut, std::filesystem::perms::owner_read |
                                           std::filesystem::perms::owner_exec);
    for (const std::string& Path : {(Shut / "x.iso").string(), (Dir / "gone" / "x.iso").string()}) {
        const auto Refused = Purgex("iso " + ShellQuote(Path) + " --yes --os rxdos");
        EXPECT_EQ(Refused.ExitCode, 1);
        EXPECT_NE(Refused.Output.find("does not exist or cannot be written"), std::string::npos)
            << Refused.Output;
    }
    EXPECT_TRUE(std::filesystem::is_empty(Shut));
    std::filesystem::permissions(Shut, std::filesystem::perms::owner_all);
#endif
}

TEST(PurgexIso, SameChoicesAndDateGiveIdenticalImages) {
    REQUIRE_HOST_TOOLS();
#ifdef PURGEX_CLI
    TScratchDir Dir;
    const std::string Env = "SOURCE_DATE_EPOCH=1700000000";
    for (const char* Name : {"a.iso", "b.iso"})
        ASSERT_EQ(Purgex("iso " + ShellQuote((Dir / Name).string()) + " --yes --os rxdos", Env).ExitCode, 0);
    EXPECT_EQ(ReadFileBytes(Dir / "a.iso"), ReadFileBytes(Dir / "b.iso"));
#endif
}

TEST(QemuPurgexIso, RxDosDiscBootsIntoTheWiper) {
    REQUIRE_HOST_TOOLS();
#ifdef PURGEX_CLI
    TMadeIso Made("--os rxdos --options 010011000100 --params 'FAST'");
    ASSERT_EQ(Made.Result.ExitCode, 0) << Made.Result.Output;
    TQemuOptions Options;
    Options.Cdrom = Made.Iso;
    Options.BootFromCd = true;
    Options.WaitForText = "Wipe methods found:"; // the wiper waits on its start page
    Options.TimeoutSeconds = 90;
    const TQemuResult Boot = RunQemu(Options);
    ASSERT_TRUE(Boot.SawText) << Boot.Screen;
    const std::string& Screen = Boot.Screen;
    EXPECT_NE(Screen.find("Mouse: driver found"), std::string::npos) << Screen;
    // The wiper's start screen shows the options of the generated INI.
    auto OptionLine = [&](const std::string& Caption) {
        const size_t At = Screen.find(Caption);
        return At == std::string::npos ? std::string() : Screen.substr(At, Screen.find('\n', At) - At);
    };
    EXPECT_EQ(OptionLine("Verify purgiting").substr(OptionLine("Verify purgiting").size() - 3), "off");
    EXPECT_EQ(OptionLine("Purgit drive from back to front").back(), 'n'); // "on"
    EXPECT_NE(Screen.find("FAST"), std::string::npos) << Screen;
#endif
}

TEST(QemuPurgexIso, MsDosDiscBootsThroughTheMsDosBootSector) {
    REQUIRE_HOST_TOOLS();
#ifdef PURGEX_CLI
    TMadeIso Made("--os msdos --msdos-dir " + ShellQuote(TestSystemFolder));
    ASSERT_EQ(Made.Result.ExitCode, 0) << Made.Result.Output;
    TQemuOptions Options;
    Options.Cdrom = Made.Iso;
    Options.BootFromCd = true;
    Options.TimeoutSeconds = 60;
    const TQemuResult Boot = RunQemu(Options);
    EXPECT_TRUE(Boot.Exited) << Boot.Screen;
    EXPECT_EQ(Boot.DebugExitCode, TestIoPassed) << Boot.Screen;
#endif
}
