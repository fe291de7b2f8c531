#include <gtest/gtest.h>

#include <cstdlib>

#include "TestSupport.h"
#include "fakes/FakePlatform.h"
#include "image/WiperOptions.h"

namespace {
const std::string Key = "SOFTWARE\\CORVANTIS\\CORVANE PURGEX 2005\\CONFIGURATIONS";
}

TEST(WiperOptions, DefaultsAndOptionString) {
    EXPECT_EQ(OptionString(DefaultOptions()), "100111001010");
    EXPECT_STREQ(OptionCaptions[DisableMouseOption], "Disable mouse support");
}

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
