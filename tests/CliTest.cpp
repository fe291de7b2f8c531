#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "TestSupport.h"
#include "cli/Arguments.h"

using namespace testing_support;

#ifdef PURGEX_CLI
namespace {
TCommandResult Purgex(const std::string& Arguments) {
    return RunCommand(ShellQuote(PURGEX_CLI) + " " + Arguments);
}
} // namespace
#endif

TEST(PurgexCli, HelpVersionAndUsageErrors) {
    REQUIRE_HOST_TOOLS();
#ifdef PURGEX_CLI
    EXPECT_EQ(Purgex("--help").ExitCode, 0);
    const auto Version = Purgex("--version");
    EXPECT_EQ(Version.ExitCode, 0);
    EXPECT_NE(Version.Output.find("purgex "), std::string::npos);
    EXPECT_EQ(Purgex("").ExitCode, 2);
    EXPECT_EQ(Purgex("frobnicate").ExitCode, 2);
    EXPECT_EQ(Purgex("store list --cd --disk").ExitCode, 2);
    EXPECT_EQ(Purgex("store extract").ExitCode, 2);
#endif
}

TEST(PurgexCli, StoreListShowsEveryItemInOrder) {
    REQUIRE_HOST_TOOLS();
#ifdef PURGEX_CLI
    for (const char* Which : {"", "--cd", "--disk"}) {
        const auto Result = Purgex(std::string("store list ") + Which);
        ASSERT_EQ(Result.ExitCode, 0) << Result.Output;
        EXPECT_NE(Result.Output.find("1        68 Purgit\\DATA\\PURGIT.INI\n"), std::string::npos)
            << Result.Output;
        EXPECT_NE(Result.Output.find(" AUTOEXEC.BAT\n"), std::string::npos);
    }
#endif
}

TEST(PurgexCli, StoreExtractWritesKindOneItemsUnderTheirPaths) {
    REQUIRE_HOST_TOOLS();
#ifdef PURGEX_CLI
    TScratchDir Dir;
    const auto Result = Purgex("store extract " + ShellQuote((Dir / "out").string()) + " --disk");
    ASSERT_EQ(Result.ExitCode, 0) << Result.Output;
    const auto Ini = ReadFileBytes(Dir / "out" / "Purgit" / "DATA" / "PURGIT.INI");
    EXPECT_EQ(std::string(Ini.begin(), Ini.end()).substr(0, 6), "O1=1\r\n");
    EXPECT_TRUE(std::filesystem::exists(Dir / "out" / "AUTOEXEC.BAT"));
#endif
}

// A copy count outside 1 to 99 is refused by the parser and, for callers that
// skip it, by the commands themselves, before any target is touched.
TEST(PurgexCli, CopiesOutsideOneToNinetyNineAreRefusedAtBothLayers) {
    for (const int Count : {0, 100}) {
        SCOPED_TRACE(Count);
        for (const char* Command : {"floppy", "burn"}) {
            std::ostringstream Out, Err;
            const TPurgexCommand Parsed = ParsePurgexArguments(
                {Command, "target", "--copies", std::to_string(Count)}, Out, Err);
            EXPECT_EQ(Parsed.Kind, TPurgexCommand::Finished) << Command;
            EXPECT_EQ(Parsed.ExitCode, 2) << Command;
        }
        std::istringstream In;
        std::ostringstream Out, FloppyErr, BurnErr;
        TScratchDir Dir;
        TFloppyOptions Floppy;
        Floppy.Os = "rxdos";
        Floppy.Bits = "100111001010";
        Floppy.Target = (Dir / "never-made.img").string();
        Floppy.Copies = Count;
        EXPECT_EQ(RunFloppyCommand(Floppy, In, Out, FloppyErr), 2);
        EXPECT_NE(FloppyErr.str().find("--copies takes 1 to 99"), std::string::npos)
            << FloppyErr.str();
        EXPECT_TRUE(std::filesystem::is_empty(Dir.Path()));
        TBurnOptions Burn;
        Burn.Os = "rxdos";
        Burn.Drive = "E:";
        Burn.Copies = Count;
        EXPECT_EQ(RunBurnCommand(Burn, In, Out, BurnErr), 2);
        EXPECT_NE(BurnErr.str().find("--copies takes 1 to 99"), std::string::npos) << BurnErr.str();
    }
}
