// The MS-DOS boot floppy creator through every branch of its version table,
// the image copier, and the format dialogue against scripted and real
// format commands.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#ifdef _WIN32
#include <windows.h>
#endif

#include "TestSupport.h"
#include "disk/ConsoleMNGR.h"
#include "disk/DiskCopy.h"
#include "disk/DosBoot.h"
#include "disk/WinFormat.h"
#include "fakes/FakeFloppyDrive.h"
#include "fakes/FakePlatform.h"
#include "fakes/ScriptedChild.h"
#include "fakes/ScriptedUserInterface.h"
#include "floppy/FloppyVolume.h"

using namespace testing_support;

namespace {

std::vector<double> Reported;
void Record(double Fraction) {
    Reported.push_back(Fraction);
}

// A machine whose format command prints Output in the chunks given and
// exits with Code; the command formats the simulated disk when it succeeds.
struct TDosMachine {
    TFakePlatform Machine;
    TFakeFloppyDrive Drive;
    TScriptedUserInterface Ui;
    std::string Answers;
    explicit TDosMachine(TWindowsVersion Version, std::deque<std::string> Output = {},
                         uint32_t Code = 0) {
        Machine.WindowsVersion = Version;
        Machine.Floppy = &Drive;
        Machine.Environment["COMSPEC"] = "C:\\WINDOWS\\COMMAND.COM";
        Machine.ProcessStarter = [this, Output, Code](std::string_view) {
            if (Code == 0) FormatMedium();
            return std::make_unique<TScriptedChild>(Output, Code, &Answers);
        };
        Reported.clear();
    }
    // An empty FAT12 floppy, as a format leaves it.
    void FormatMedium() {
        auto& Image = Drive.Medium->Image;
        Image.fill(0);
        const uint8_t Bpb[] = {0x00, 0x02, 1, 1, 0, 2, 224, 0, 0x40, 0x0B, 0xF0, 9, 0, 18, 0, 2, 0};
        std::copy(std::begin(Bpb), std::end(Bpb), Image.begin() + 11);
        for (int Fat : {1, 10}) {
            Image[size_t(Fat) * 512] = 0xF0;
            Image[size_t(Fat) * 512 + 1] = Image[size_t(Fat) * 512 + 2] = 0xFF;
        }
        Image[510] = 0x55;
        Image[511] = 0xAA;
    }
    std::string Text(const std::string& Path) {
        const auto File = TFloppyVolume(Drive).OpenRead(Path);
        if (!File) return "<missing>";
        std::string Bytes(size_t(File->Size()), '\0');
        File->ReadBuffer(Bytes.data(), int64_t(Bytes.size()));
        return Bytes;
    }
};

std::string DiskCopyImage(size_t Size) {
    const auto Bytes = RandomBytes(Size, 11);
    return std::string(Bytes.begin(), Bytes.end());
}

} // namespace

TEST(DosBoot, Win95And98FormatWithSystemTransfer) {
    for (const TWindowsVersion Version : {TWindowsVersion{1, 4, 0}, TWindowsVersion{1, 4, 10}}) {
        TDosMachine Good(Version, {"60 percent completed.\r\n", "Format complete.\r\n"});
        EXPECT_EQ(CreateMsDosBootFloppy('A', Record), 0);
        ASSERT_EQ(Good.Machine.StartedCommands.size(), 1u);
        EXPECT_EQ(Good.Machine.StartedCommands[0], "C:\\WINDOWS\\COMMAND.COM /c format A: /u /s");
        EXPECT_NE(std::find(Reported.begin(), Reported.end(), 0.5), Reported.end()); // 60 / 120
        EXPECT_EQ(Reported.back(), 1.0);
    }
    TDosMachine Bad({1, 4, 10}, {"Bad sectors found.\r\n"});
    EXPECT_EQ(CreateMsDosBootFloppy('A', Record), 1);
}

TEST(DosBoot, WinMeFormatsThenCopiesTheEmergencyBootFiles) {
    TDosMachine M({1, 4, 90}, {"100 percent completed.\r\n"});
    M.Machine.Files["C:\\WINDOWS\\COMMAND\\EBD\\IO.SYS"] = "io system";
    M.Machine.Files["C:\\WINDOWS\\COMMAND\\EBD\\COMMAND.COM"] = "command shell";
    EXPECT_EQ(CreateMsDosBootFloppy('A', Record), 0);
    EXPECT_EQ(M.Machine.StartedCommands[0], "C:\\WINDOWS\\COMMAND.COM /c format A: /u");
    EXPECT_EQ(M.Text("IO.SYS"), "io system");
    EXPECT_EQ(M.Text("COMMAND.COM"), "command shell");
    EXPECT_EQ(M.Text("MSDOS.SYS"), "BootGui=0\r\n");
    ASSERT_GE(Reported.size(), 3u);
    EXPECT_DOUBLE_EQ(Reported[Reported.size() - 3], 1.08 / 1.2);
    EXPECT_DOUBLE_EQ(Reported.back(), 1.0);

    TDosMachine Missing({1, 4, 90}, {"100 percent completed.\r\n"});
    EXPECT_EQ(CreateMsDosBootFloppy('A', Record), 2);
    EXPECT_NEAR(Reported.back(), 1 / 1.2, 1e-9); // stops at about 0.83
}

TEST(DosBoot, XpAndServer2003WriteTheDiskCopyImage) {
    TDosMachine M({2, 5, 1});
    const std::string Image = DiskCopyImage(1474560);
    M.Machine.LibraryResources["DISKCOPY.DLL/BINFILE/#1"] = Image;
    EXPECT_EQ(CreateMsDosBootFloppy('A', Record), 0);
    ASSERT_EQ(M.Drive.RawWrites.size(), 160u);
    EXPECT_EQ(M.Drive.RawWrites[1].Offset, 9216u);
    EXPECT_DOUBLE_EQ(Reported[0], 0.00625);
    EXPECT_TRUE(std::equal(Image.begin(), Image.end(), M.Drive.Medium->Image.begin(),
                           [](char a, uint8_t b) { return uint8_t(a) == b; }));
    EXPECT_TRUE(M.Machine.StartedCommands.empty());
    // Locked and dismounted around the writes, so the file system mounts anew.
    EXPECT_EQ(M.Drive.Events,
              (std::vector<std::string>{"open \\\\.\\A:", "lock", "dismount", "unlock", "close"}));

    // Without a usable image nothing touches the drive.
    TDosMachine Without({2, 5, 2});
    Without.Machine.LibraryResources["DISKCOPY.DLL/BINFILE/#1"] = DiskCopyImage(1399999);
    EXPECT_EQ(CreateMsDosBootFloppy('A', Record), 2);
    EXPECT_TRUE(Without.Drive.Events.empty());

    TDosMachine Protected({2, 5, 1});
    Protected.Machine.LibraryResources["DISKCOPY.DLL/BINFILE/#1"] = Image;
    Protected.Drive.WriteProtected = true;
    EXPECT_EQ(CreateMsDosBootFloppy('A', Record), 1);
}

TEST(DosBoot, OlderNtOffersNothingAndUnlistedVersionsFallBackToFormat) {
    for (const TWindowsVersion Version :
         {TWindowsVersion{2, 3, 51}, TWindowsVersion{2, 4, 0}, TWindowsVersion{2, 5, 0}}) {
        TDosMachine M(Version);
        M.Machine.LibraryResources["DISKCOPY.DLL/BINFILE/#1"] = DiskCopyImage(1474560);
        EXPECT_EQ(CreateMsDosBootFloppy('A', Record), 3);
        EXPECT_TRUE(M.Drive.Events.empty());
        EXPECT_TRUE(M.Machine.StartedCommands.empty());
    }
    TDosMachine Later({2, 6, 0}, {"Format complete.\r\n"});
    EXPECT_EQ(CreateMsDosBootFloppy('A', Record), 0);
    ASSERT_EQ(Later.Machine.StartedCommands.size(), 1u);
    EXPECT_NE(Later.Machine.StartedCommands[0].find("format A: /u /s"), std::string::npos);

    TDosMachine LaterWithImage({2, 6, 0});
    LaterWithImage.Machine.LibraryResources["DISKCOPY.DLL/BINFILE/#1"] = DiskCopyImage(1474560);
    EXPECT_EQ(CreateMsDosBootFloppy('A', Record), 0);
    EXPECT_TRUE(LaterWithImage.Machine.StartedCommands.empty());

    // No format command at all: the start fails, which is a failure (1).
    TFakePlatform Bare;
    Bare.WindowsVersion = {2, 6, 0};
    EXPECT_EQ(CreateMsDosBootFloppy('A', nullptr), 1);
}

TEST(DosBoot, ImageCopierWritesOnlyFloppyDrives) {
    TDosMachine M({2, 5, 1});
    const std::string Image = DiskCopyImage(1474560);
    const auto* Data = reinterpret_cast<const uint8_t*>(Image.data());
    EXPECT_FALSE(WriteImageToFloppy('C', Data, Image.size(), nullptr));
    EXPECT_FALSE(WriteImageToFloppy('e', Data, Image.size(), nullptr));
    EXPECT_TRUE(M.Drive.Events.empty());
    EXPECT_TRUE(WriteImageToFloppy('a', Data, Image.size(), nullptr));
}

TEST(FormatDialogue, PromptsProgressAndErrorWords) {
    struct TCase {
        const char* Name;
        std::deque<std::string> Output;
        uint32_t Code;
        bool System;
        uint8_t Result;
        std::string Answers;
    };
    const std::vector<TCase> Cases = {
        {"silent success", {}, 0, false, 3, ""},
        {"percent", {"  45 Percent done\r\n"}, 0, false, 3, ""},
        {"enter prompt without CR",
         {"Insert disk\r\n", "press ENTER when ready..."},
         0,
         false,
         3,
         "\r\n"},
        {"y/n", {"Format another (Y/N)?"}, 0, false, 3, "n\r\n"},
        {"y/n dismount", {"Force a DISMOUNT of the volume (Y/N)?"}, 0, false, 3, "y\r\n"},
        {"not ready", {"Drive A: NOT READY\r\n"}, 0, false, 1, ""},
        {"bad sector then clean", {"2 bad sectors\r\n", "Format complete\r\n"}, 0, false, 2, ""},
        {"bad sector and error", {"BAD SECTOR ERROR\r\n"}, 0, false, 1, ""},
        {"exit code", {"Format complete\r\n"}, 4, false, 1, ""},
    };
    for (const TCase& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        TDosMachine M({1, 4, 10}, Case.Output, Case.Code);
        std::vector<std::pair<std::string, double>> Calls;
        const uint8_t Result =
            FormatFloppy('A', Case.System,
                         [&](const std::string& Text, double f) { Calls.emplace_back(Text, f); });
        EXPECT_EQ(Result, Case.Result);
        EXPECT_EQ(M.Answers, Case.Answers);
        if (Case.Code == 0) {
            ASSERT_FALSE(Calls.empty());
            EXPECT_EQ(Calls.back().second, 1.0);
        }
    }
    TDosMachine Percent({1, 4, 10}, {"45 percent\r\n", "x"});
    std::vector<double> Fractions;
    FormatFloppy('A', true, [&](const std::string&, double f) { Fractions.push_back(f); });
    EXPECT_NE(std::find(Fractions.begin(), Fractions.end(), 0.375), Fractions.end());

    // A child that is silent for a while: every pass reports progress, and
    // each empty pass waits instead of spinning.
    TDosMachine Silent({1, 4, 10}, {"", "", "", "done\r\n"});
    int Passes = 0;
    EXPECT_EQ(FormatFloppy('A', false, [&](const std::string&, double) { ++Passes; }), 3);
    EXPECT_GE(Passes, 4);
    EXPECT_EQ(Silent.Machine.SleptMs, 3 * FormatIdleWaitMs);

    TFakePlatform Bare; // no process can be started: 0, no progress at all
    int Calls = 0;
    EXPECT_EQ(FormatFloppy('A', false, [&](const std::string&, double) { ++Calls; }), 0);
    EXPECT_EQ(Calls, 0);
}

TEST(FormatDialogue, LinesArePeekedTakenAndSkippedAtCarriageReturns) {
    TFakePlatform Machine;
    Machine.ProcessStarter = [](std::string_view) {
        return std::make_unique<TScriptedChild>(std::deque<std::string>{" one\r\n two\r\tthree "},
                                                0, nullptr);
    };
    TConsoleApp App("cmd");
    ASSERT_EQ(App.State, 2);
    ASSERT_TRUE(App.Poll());
    std::string Line;
    App.PeekLine(Line);
    EXPECT_EQ(Line, "one");
    App.TakeLine(Line);
    EXPECT_EQ(Line, "one");
    App.TakeLine(Line);
    EXPECT_EQ(Line, "two"); // the LF after the first CR is shed here
    App.TakeLine(Line);
    EXPECT_EQ(Line, "");
    EXPECT_EQ(App.Output, "\tthree ");
    App.PeekLine(Line);
    EXPECT_EQ(Line, "three");
    App.SkipPrompt();
    EXPECT_EQ(App.Output, "");
}

#ifdef PURGEX_HOST_CHECKS
// The real child process of the POSIX layer with a stand-in for the format
// command: percent lines, an ENTER prompt and a Y/N prompt without line
// ends, the answers it got written to a file, and a chosen exit code.
TEST(FormatDialogue, RealChildProcessIsAnswered) {
    TScratchDir Dir;
    const auto Script = Dir / "format.sh";
    WriteFileBytes(Script, "#!/bin/sh\n"
                           "echo \"$@\" > '" +
                               (Dir / "args").string() +
                               "'\n"
                               "printf '10 percent completed.\\r\\n'\n"
                               "printf 'Insert new diskette and press ENTER when ready...'\n"
                               "read a; echo \"enter:$a\" >> '" +
                               (Dir / "answers").string() +
                               "'\n"
                               "printf '\\r\\n50 percent completed.\\r\\n'\n"
                               "printf 'Force a DISMOUNT (Y/N)?'\n"
                               "read b; echo \"yn:$b\" >> '" +
                               (Dir / "answers").string() +
                               "'\n"
                               "printf '\\r\\nFormat complete.\\r\\n'\n"
                               "exit ${FORMAT_EXIT:-0}\n");
    std::filesystem::permissions(Script, std::filesystem::perms::owner_all);
    ::setenv("comspec", Script.c_str(), 1);
    std::vector<double> Fractions;
    const uint8_t Result =
        FormatFloppy('A', false, [&](const std::string&, double f) { Fractions.push_back(f); });
    EXPECT_EQ(Result, 3);
    EXPECT_EQ(ReadFileBytes(Dir / "answers"),
              std::vector<uint8_t>(
                  {'e', 'n', 't', 'e', 'r', ':', '\r', '\n', 'y', 'n', ':', 'y', '\r', '\n'}));
    const auto Args = ReadFileBytes(Dir / "args");
    EXPECT_EQ(std::string(Args.begin(), Args.end()), "/c format A: /u\n");
    EXPECT_NE(std::find(Fractions.begin(), Fractions.end(), 0.5), Fractions.end());
    EXPECT_EQ(Fractions.back(), 1.0);

    ::setenv("FORMAT_EXIT", "3", 1);
    std::filesystem::remove(Dir / "answers");
    EXPECT_EQ(FormatFloppy('A', false, nullptr), 1);
    ::unsetenv("FORMAT_EXIT");
    ::unsetenv("comspec");
}
#elif defined(_WIN32)
// The Win32 backend's child process: the system's command interpreter runs
// a stand-in format.bat, found first on the path, with the same dialogue.
TEST(FormatDialogue, RealChildProcessIsAnswered) {
    TScratchDir Dir;
    const std::string Answers = (Dir / "answers").string();
    WriteFileBytes(Dir / "format.bat",
                   "@echo off\r\n"
                   "echo %*> \"" + (Dir / "args").string() + "\"\r\n"
                   "echo 10 percent completed.\r\n"
                   "<nul set /p =Insert new diskette and press ENTER when ready...\r\n"
                   "set /p a=\r\n"
                   "echo enter:%a%>> \"" + Answers + "\"\r\n"
                   "echo.\r\n"
                   "echo 50 percent completed.\r\n"
                   "<nul set /p =Force a DISMOUNT (Y/N)?\r\n"
                   "set /p b=\r\n"
                   "echo yn:%b%>> \"" + Answers + "\"\r\n"
                   "echo.\r\n"
                   "echo Format complete.\r\n"
                   "exit /b %FORMAT_EXIT%\r\n");
    const char* Path = std::getenv("PATH");
    SetEnvironmentVariableA("PATH", (Dir.Path().string() + ";" + (Path ? Path : "")).c_str());
    SetEnvironmentVariableA("FORMAT_EXIT", "0");
    std::vector<double> Fractions;
    const uint8_t Result =
        FormatFloppy('A', false, [&](const std::string&, double f) { Fractions.push_back(f); });
    EXPECT_EQ(Result, 3);
    const auto Got = ReadFileBytes(Dir / "answers");
    const std::string Text(Got.begin(), Got.end());
    EXPECT_NE(Text.find("enter:"), std::string::npos) << Text;
    EXPECT_NE(Text.find("yn:y"), std::string::npos) << Text;
    const auto Args = ReadFileBytes(Dir / "args");
    EXPECT_EQ(std::string(Args.begin(), Args.end()), "A: /u\r\n");
    EXPECT_NE(std::find(Fractions.begin(), Fractions.end(), 0.5), Fractions.end());
    ASSERT_FALSE(Fractions.empty());
    EXPECT_EQ(Fractions.back(), 1.0);

    SetEnvironmentVariableA("FORMAT_EXIT", "3");
    EXPECT_EQ(FormatFloppy('A', false, nullptr), 1);
    SetEnvironmentVariableA("FORMAT_EXIT", nullptr);
    SetEnvironmentVariableA("PATH", Path);
}
#endif
