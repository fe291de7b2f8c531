#include <gtest/gtest.h>

#include <sstream>

#include "cli/OptionsCommand.h"
#include "fakes/FakePlatform.h"
#include "ui/WizardRules.h"

TEST(WizardRules, QuantityTextsKeepDigitsAndStayInTheirBounds) {
    EXPECT_EQ(CleanNumber("a5"), "5");
    EXPECT_EQ(CleanNumber(""), "1");
    EXPECT_EQ(CleanNumber("0"), "1");
    EXPECT_EQ(CleanNumber("x0y"), "1");
    EXPECT_EQ(CleanNumber("00"), "00"); // only pasting makes it; it reads as zero
    EXPECT_EQ(CleanNumber("07"), "07");
    EXPECT_EQ(CleanNumber("1-2"), "12");
    EXPECT_EQ(IncNumber("98", 99), "99");
    EXPECT_EQ(IncNumber("99", 99), "99");
    EXPECT_EQ(IncNumber("", 99), "2");
    EXPECT_EQ(IncNumber("99999999999999999999", 99), "99"); // no overflow
    EXPECT_EQ(DecNumber("1", 1), "1");
    EXPECT_EQ(DecNumber("00", 1), "1");
    EXPECT_EQ(DecNumber("07", 1), "6");
}

TEST(WizardRules, ImageButtonTakesTheFirstRuleThatHolds) {
    using L = TButtonLook;
    auto Look = [](bool Focused, bool Inside, bool Down, bool Enabled) {
        return TButtonState{true, Focused, Inside, Down, Enabled};
    };
    EXPECT_EQ(ButtonPicture(Look(false, false, false, true)), L::Normal);
    EXPECT_EQ(ButtonPicture(Look(false, true, false, true)), L::Focused);
    EXPECT_EQ(ButtonPicture(Look(false, true, true, true)), L::Pushed);
    EXPECT_EQ(ButtonPicture(Look(false, true, true, false)), L::Inactive);
    EXPECT_EQ(ButtonPicture(Look(false, true, false, false)), L::Inactive);
    // Focus without the pointer wins over everything, with the normal colour.
    EXPECT_EQ(ButtonPicture(Look(true, false, false, false)), L::Focused);
    EXPECT_EQ(ButtonCaptionColour(Look(true, false, false, true)), L::Normal);
    EXPECT_EQ(ButtonCaptionColour(Look(true, true, false, true)), L::Focused);
    EXPECT_EQ(ButtonCaptionColour(Look(true, true, true, true)), L::Pushed);
    TButtonState NoList;
    NoList.HasPictures = false;
    NoList.MouseInside = true;
    EXPECT_EQ(ButtonPicture(NoList), L::Outline);
    EXPECT_EQ(ButtonCaptionColour(NoList), L::Normal);
}

TEST(WizardRules, OsChoicesByVersionAndTheMsDosDecision) {
    const std::vector<std::string> Both{"Ms-Dos", "Rx-Dos"};
    for (TWindowsVersion v :
         {TWindowsVersion{1, 4, 0}, TWindowsVersion{1, 4, 10}, TWindowsVersion{1, 4, 90},
          TWindowsVersion{2, 5, 1}, TWindowsVersion{2, 5, 2}})
        EXPECT_EQ(OsChoices(v), Both);
    // Outside the table the floppy boots Rx-DOS, and the list says so.
    for (TWindowsVersion v : {TWindowsVersion{2, 5, 0}, TWindowsVersion{2, 4, 0},
                              TWindowsVersion{2, 10, 0}, TWindowsVersion{1, 4, 91}})
        EXPECT_EQ(OsChoices(v), std::vector<std::string>{"Rx-Dos"});
    EXPECT_TRUE(UsesMsDos(2, 0));
    EXPECT_FALSE(UsesMsDos(2, 1));
    EXPECT_FALSE(UsesMsDos(1, 0));
    EXPECT_EQ(CentredOver(100, 300, 101), 199);
    EXPECT_EQ(CentredOver(-50, 100, 201), -100); // halves truncate toward zero
}

TEST(OptionsCommand, ListsSavesAndRefuses) {
    TFakePlatform Fake;
    const std::string Key = "SOFTWARE\\CORVANTIS\\CORVANE PURGEX 2005\\CONFIGURATIONS";
    std::ostringstream Out, Err;
    EXPECT_EQ(RunOptionsCommand("", Out, Err), 0);
    EXPECT_NE(Out.str().find("   1  [x]  Verify purgiting\n"), std::string::npos);
    EXPECT_NE(Out.str().find("  12  [ ]  Disable mouse support\n"), std::string::npos);
    EXPECT_NE(Out.str().find("As --options: 100111001010\n"), std::string::npos);
    EXPECT_TRUE(Fake.Registry.empty()); // listing writes nothing

    Out.str("");
    EXPECT_EQ(RunOptionsCommand("010000000001", Out, Err), 0);
    EXPECT_EQ(Fake.Registry[Key]["OPT1"].Dword, 1u);
    EXPECT_EQ(Fake.Registry[Key]["OPT0"].Dword, 0u);
    EXPECT_NE(Out.str().find("As --options: 010000000001\n"), std::string::npos);

    for (const char* Bad : {"0100", "01000000000x", "0100000000011"}) {
        Err.str("");
        EXPECT_EQ(RunOptionsCommand(Bad, Out, Err), 2) << Bad;
        EXPECT_NE(Err.str().find("twelve characters"), std::string::npos);
    }
    EXPECT_EQ(Fake.Registry[Key]["OPT1"].Dword, 1u); // refused bits change nothing

    Fake.Registry[Key]["OPT5"] = {false, 0};
    Err.str("");
    EXPECT_EQ(RunOptionsCommand("", Out, Err), 1);
    EXPECT_NE(Err.str().find("Invalid data type for 'opt5'"), std::string::npos);
    Fake.RegistryBroken = true;
    EXPECT_EQ(RunOptionsCommand("111111111111", Out, Err), 1);
    EXPECT_NE(Err.str().find("Failed to set data for 'opt0'"), std::string::npos);
}

#ifdef PURGEX_CLI
#include "TestSupport.h"

// Both front ends read one set of choices: what purgex saves, it lists again
// from the settings file of the POSIX layer.
TEST(OptionsCommand, PurgexSavesWhereItReadsItsDefaults) {
    testing_support::TScratchDir Dir;
    const std::string Env = "XDG_CONFIG_HOME=" + testing_support::ShellQuote(Dir.Path().string());
    auto Purgex = [&](const std::string& Arguments) {
        return testing_support::RunCommand(Env + " " + testing_support::ShellQuote(PURGEX_CLI) +
                                           " " + Arguments + " </dev/null");
    };
    EXPECT_NE(Purgex("options").Output.find("As --options: 100111001010"), std::string::npos);
    ASSERT_EQ(Purgex("options --set 000000000001").ExitCode, 0);
    const auto Listed = Purgex("options");
    EXPECT_EQ(Listed.ExitCode, 0);
    EXPECT_NE(Listed.Output.find("  12  [x]  Disable mouse support"), std::string::npos);
    EXPECT_NE(Listed.Output.find("As --options: 000000000001"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(Dir / "purgex" / "registry.ini"));
    EXPECT_EQ(Purgex("options --set 2").ExitCode, 2);
}
#endif
