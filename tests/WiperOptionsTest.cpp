#include <gtest/gtest.h>

#include <cstdlib>

#include "TestSupport.h"
#include "fakes/FakePlatform.h"
#include "image/Composer.h"
#include "image/ExeData.h"
#include "image/WiperOptions.h"

namespace {
const std::string Key = "SOFTWARE\\CORVANTIS\\CORVANE PURGEX 2005\\CONFIGURATIONS";
}

TEST(WiperOptions, DefaultsAndOptionString) {
    EXPECT_EQ(OptionString(DefaultOptions()), "100111001010");
    EXPECT_STREQ(OptionCaptions[DisableMouseOption], "Disable mouse support");
}

// The wizard and the wiper it ships are built from one table; a Windows
// build embeds the containers a native build packed, so it checks they match.
TEST(WiperOptions, ShippedWiperShowsTheWizardsCaptionsAndStartsWithItsDefaults) {
    ASSERT_TRUE(LoadDiskStore());
    ASSERT_TRUE(LoadCdStore());
    for (const TExeDataBase* Store : {DiskStore.get(), CdStore.get()}) {
        const TMemoryStream* Exe = Store->FindItem("Purgit\\PURGIT.EXE", 1);
        const TMemoryStream* Ini = Store->FindItem("Purgit\\DATA\\PURGIT.INI", 1);
        ASSERT_TRUE(Exe && Ini);
        const auto Bytes = Exe->Bytes();
        const std::string Program(Bytes.begin(), Bytes.end());
        for (int i = 0; i < DisableMouseOption; ++i) {
            // Whole strings: a caption cut short or run on does not count.
            const std::string Caption = std::string(1, '\0') + OptionCaptions[i] + '\0';
            EXPECT_NE(Program.find(Caption), std::string::npos) << OptionCaptions[i];
        }
        const auto IniBytes = Ini->Bytes();
        EXPECT_EQ(std::string(IniBytes.begin(), IniBytes.end()),
                  WiperIni(OptionString(DefaultOptions())));
    }
}

#ifdef PURGEX_HOST_CHECKS
// The build's generator of those tables refuses a table it would turn into
// a wiper that reads other keys or a start screen that runs out of columns.
TEST(WiperOptions, TableGeneratorWritesTheTablesAndRefusesBrokenTables) {
    namespace fs = std::filesystem;
    const fs::path Sources = fs::path(__FILE__).parent_path().parent_path();
    const auto Table = testing_support::ReadFileBytes(Sources / "image" / "WiperOptions.tsv");
    const std::string Good(Table.begin(), Table.end());
    ASSERT_NE(Good.find("\n3\tO3\t0\tPerform a last purgit with zeroes\n"), std::string::npos);

    testing_support::TScratchDir Dir;
    testing_support::WriteFileBytes(
        Dir / "CMakeLists.txt",
        "cmake_minimum_required(VERSION 3.25)\nproject(t NONE)\ninclude(\"" +
            (Sources / "image" / "WiperOptions.cmake").generic_string() +
            "\")\npurgex_wiper_options(${CMAKE_SOURCE_DIR}/t.tsv ${CMAKE_BINARY_DIR}/g)\n");
    const auto Generate = [&](const std::string& Text) {
        testing_support::WriteFileBytes(Dir / "t.tsv", Text);
        fs::remove_all(Dir / "b");
        return testing_support::RunCommand("cmake -S " + testing_support::ShellQuote(Dir.Path()) +
                                           " -B " + testing_support::ShellQuote(Dir / "b"));
    };
    const auto Replaced = [&](const std::string& From, const std::string& To) {
        std::string Text = Good;
        const auto At = Text.find(From);
        EXPECT_NE(At, std::string::npos) << From;
        return At == std::string::npos ? Text : Text.replace(At, From.size(), To);
    };

    // A caption may hold what CMake treats as a list separator.
    const auto Made = Generate(Replaced("last purgit with", "last; purgit with"));
    ASSERT_EQ(Made.ExitCode, 0) << Made.Output;
    const auto Header =
        testing_support::ReadFileBytes(Dir / "b" / "g" / "image" / "WiperOptionsTable.h");
    EXPECT_NE(std::string(Header.begin(), Header.end())
                  .find("\"Purgit drive from back to front\", \\\n"
                        "    \"Perform a last; purgit with zeroes\", \\\n"),
              std::string::npos);
    const auto Ini = testing_support::ReadFileBytes(Dir / "b" / "g" / "PURGIT.INI");
    EXPECT_EQ(std::string(Ini.begin(), Ini.end()), WiperIni(OptionString(DefaultOptions())));

    const struct {
        std::string From, To, Message;
    } Broken[] = {
        {"\n3\tO3\t0", "\n3\tO3\t2", "option 3: the default must be 0 or 1"},
        {"\n3\tO3\t", "\n3\tO4\t", "option 3: the key must be O3"},
        {"\n3\tO3\t", "\n4\tO4\t", "option 4 where 3 belongs"},
        {"\n5\tO5\t", "\n5\t-\t", "option 6: the key must be O6"}, // the wiper's after the wizard's
        {"generated log file\n", "generated log files\n", "option 5: a caption is 1 to 58"},
        {"zeroes", "\"zeroes\"", "option 3: a caption"},
        {"zeroes", "zeroes\\", "option 3: a caption"},
        {"\n3\tO3\t0\t", "\n3\tO3\t0 ", "not number<TAB>key<TAB>default<TAB>caption"},
    };
    for (const auto& Case : Broken) {
        const auto Result = Generate(Replaced(Case.From, Case.To));
        EXPECT_NE(Result.ExitCode, 0) << Case.To;
        // CMake wraps its messages; compare the words.
        std::string Words;
        for (char c : Result.Output)
            if (c != '\n' && !(c == ' ' && !Words.empty() && Words.back() == ' ')) Words += c;
        EXPECT_NE(Words.find(Case.Message), std::string::npos) << Result.Output;
    }
}
#endif

TEST(WiperOptions, FirstRunKeepsDefaultsAndSaveCreatesAllTwelveValues) {
    TFakePlatform Fake;
    TWiperOptions Options = DefaultOptions();
    EXPECT_FALSE(LoadOptions(Options));
    EXPECT_EQ(Options, DefaultOptions());
    EXPECT_FALSE(SaveOptions(Options));
    ASSERT_EQ(Fake.Registry[Key].size(), 12u);
    EXPECT_EQ(Fake.Registry[Key]["OPT0"].Dword, 1u);
    EXPECT_EQ(Fake.Registry[Key]["OPT11"].Dword, 0u);
}

TEST(WiperOptions, StoredValuesOverrideAndNonZeroCountsAsChecked) {
    TFakePlatform Fake;
    Fake.Registry[Key]["OPT3"] = {true, 0};
    Fake.Registry[Key]["OPT7"] = {true, 5};
    TWiperOptions Options = DefaultOptions();
    EXPECT_EQ(LoadOptions(Options), std::optional<std::string>("Invalid value for 'opt7'"));
    EXPECT_FALSE(Options[3]);
    EXPECT_TRUE(Options[7]);
    EXPECT_FALSE(SaveOptions(Options));
    EXPECT_EQ(Fake.Registry[Key]["OPT7"].Dword, 1u);
}

TEST(WiperOptions, WrongTypeStopsLoadingWithItsMessage) {
    TFakePlatform Fake;
    Fake.Registry[Key]["OPT1"] = {true, 1};
    Fake.Registry[Key]["OPT2"] = {false, 0};
    Fake.Registry[Key]["OPT4"] = {true, 0};
    TWiperOptions Options = DefaultOptions();
    EXPECT_EQ(LoadOptions(Options), std::optional<std::string>("Invalid data type for 'opt2'"));
    EXPECT_TRUE(Options[1]);  // read before the bad value
    EXPECT_TRUE(Options[4]);  // after it: still the default
}

TEST(WiperOptions, SaveReportsAKeyThatCannotBeMade) {
    TFakePlatform Fake;
    Fake.RegistryBroken = true;
    EXPECT_EQ(SaveOptions(DefaultOptions()),
              std::optional<std::string>("Failed to set data for 'opt0'"));
}

#ifndef _WIN32
// The POSIX layer keeps the registry in an INI file under XDG_CONFIG_HOME.
TEST(WiperOptions, PosixRegistryFileRoundTrip) {
    testing_support::TScratchDir Dir;
    const char* Saved = std::getenv("XDG_CONFIG_HOME");
    const std::string Restore = Saved ? Saved : "";
    setenv("XDG_CONFIG_HOME", Dir.Path().c_str(), 1);

    TWiperOptions Options = DefaultOptions();
    EXPECT_FALSE(LoadOptions(Options));
    Options[2] = true;
    Options[0] = false;
    EXPECT_FALSE(SaveOptions(Options));
    TWiperOptions Loaded = DefaultOptions();
    EXPECT_FALSE(LoadOptions(Loaded));
    EXPECT_EQ(Loaded, Options);

    // A value that is not a number reads as a value of another type.
    testing_support::WriteFileBytes(Dir / "purgex" / "registry.ini",
                                    "[" + std::string(OptionsRegistryKey) + "]\nopt0=hello\n");
    EXPECT_EQ(LoadOptions(Loaded), std::optional<std::string>("Invalid data type for 'opt0'"));

    // Garbage: random bytes, or a damaged line beside sound values. What the
    // file lacks reads as another type (defaults kept, with the message);
    // the next save writes a clean file that reads back without one.
    const std::string Section = "[" + std::string(OptionsRegistryKey) + "]\n";
    const auto Noise = testing_support::RandomBytes(3000, 77);
    struct {
        std::string Text;
        std::optional<std::string> Message;
        bool Opt1;
    } Cases[] = {
        {std::string(Noise.begin(), Noise.end()), "Invalid data type for 'opt0'", false},
        {Section + "opt0=dword:00000000\nopt1=dword:00000001\n\x01\xff garbage\n",
         "Invalid data type for 'opt2'", true},
        {Section + "opt1=dword:00000005\n", "Invalid value for 'opt1'", true},
    };
    for (const auto& Case : Cases) {
        testing_support::WriteFileBytes(Dir / "purgex" / "registry.ini", Case.Text);
        TWiperOptions Read = DefaultOptions();
        EXPECT_EQ(LoadOptions(Read), Case.Message);
        EXPECT_EQ(Read[1], Case.Opt1);
        EXPECT_EQ(Read[5], DefaultOptions()[5]);
        EXPECT_FALSE(SaveOptions(Read));
        TWiperOptions Again = DefaultOptions();
        EXPECT_FALSE(LoadOptions(Again));
        EXPECT_EQ(Again, Read);
    }

    if (Saved) setenv("XDG_CONFIG_HOME", Restore.c_str(), 1);
    else unsetenv("XDG_CONFIG_HOME");
}
#endif
