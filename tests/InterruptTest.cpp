// Interrupted and abandoned runs: Ctrl-C and SIGTERM end purgex with 130 and
// 143 and leave no temporary file and the user's file as it was; a console
// whose input ends stops asking and the run ends.

#include <gtest/gtest.h>

#include "TestSupport.h"

#ifdef PURGEX_CLI
#include <chrono>
#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "base/TemporaryFiles.h"
#include "cli/Terminal.h"

using namespace testing_support;

namespace {

// Runs purgex with Arguments, sends Signal after Delay (none when zero
// signal) and answers the exit status as a shell would (128 + signal when it
// died of one).
int RunAndSignal(const std::vector<std::string>& Arguments, int Signal,
                 std::chrono::microseconds Delay) {
    const pid_t Child = fork();
    if (Child == 0) {
        std::vector<char*> Argv{const_cast<char*>(PURGEX_CLI)};
        for (const std::string& Argument : Arguments) Argv.push_back(const_cast<char*>(Argument.c_str()));
        Argv.push_back(nullptr);
        setenv("SOURCE_DATE_EPOCH", "1700000000", 1); // every run gives the same image
        const int Null = open("/dev/null", O_RDWR);
        dup2(Null, 0), dup2(Null, 1), dup2(Null, 2);
        execv(PURGEX_CLI, Argv.data());
        _exit(127);
    }
    if (Signal) {
        std::this_thread::sleep_for(Delay);
        kill(Child, Signal);
    }
    int Status = 0;
    waitpid(Child, &Status, 0);
    return WIFEXITED(Status) ? WEXITSTATUS(Status) : 128 + WTERMSIG(Status);
}

std::vector<std::string> FilesIn(const std::filesystem::path& Folder) {
    std::vector<std::string> Names;
    for (const auto& Entry : std::filesystem::directory_iterator(Folder))
        Names.push_back(Entry.path().filename().string());
    std::sort(Names.begin(), Names.end());
    return Names;
}

} // namespace

TEST(Interrupt, NotedTemporaryFilesGoWhenTheProgramIsStopped) {
    TScratchDir Dir;
    for (const int Signal : {SIGINT, SIGTERM}) {
        const std::string Path = (Dir / "image.partial").string();
        WriteFileBytes(Path, std::string("half an image"));
        const pid_t Child = fork();
        if (Child == 0) {
            InstallInterruptHandlers();
            RegisterTemporaryFile(Path);
            raise(Signal);
            _exit(0); // not reached: the handler ends the program
        }
        int Status = 0;
        waitpid(Child, &Status, 0);
        ASSERT_TRUE(WIFEXITED(Status));
        EXPECT_EQ(WEXITSTATUS(Status), Signal == SIGINT ? 130 : 143);
        EXPECT_FALSE(std::filesystem::exists(Path));
    }
    // A forgotten file (renamed into place) is no longer visited.
    static int Seen;
    Seen = 0;
    ASSERT_TRUE(RegisterTemporaryFile("/nonexistent/a"));
    ForEachTemporaryFile([](const char* Path) { Seen += std::string(Path) == "/nonexistent/a"; });
    EXPECT_EQ(Seen, 1);
    ForgetTemporaryFile("/nonexistent/a");
    ForEachTemporaryFile([](const char* Path) { Seen += std::string(Path) == "/nonexistent/a"; });
    EXPECT_EQ(Seen, 1);
}

// Signals at moments spread over a whole run: each run ends as interrupted
// (130/143) or finished (0); the file is the old one or the whole new
// image (a signal after the rename finds the work done), never anything
// else, and no temporary file is left.
namespace {

// Runs Command on File (holding Old) to the end once, then stops it at
// twelve moments spread over that time: each stop leaves exactly File,
// holding Old or the whole new output.
void StopAtEveryMoment(const std::string& Command, const std::string& Name,
                       const std::vector<uint8_t>& Old, size_t NewSize) {
    TScratchDir Dir;
    const auto File = Dir / Name;
    const std::vector<std::string> Arguments{Command, File.string(), "--yes", "--os", "rxdos"};

    WriteFileBytes(File, Old);
    const auto Start = std::chrono::steady_clock::now();
    ASSERT_EQ(RunAndSignal(Arguments, 0, {}), 0);
    const auto Whole = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - Start);
    const auto Made = ReadFileBytes(File);
    ASSERT_EQ(Made.size(), NewSize);

    int KeptOld = 0;
    for (int Step = 0; Step <= 12; ++Step) {
        const int Signal = Step % 3 == 2 ? SIGTERM : SIGINT;
        SCOPED_TRACE(Command + ": signal " + std::to_string(Signal) + " at step " +
                     std::to_string(Step));
        WriteFileBytes(File, Old);
        const int Status = RunAndSignal(Arguments, Signal, Whole * Step / 12);
        EXPECT_EQ(FilesIn(Dir.Path()), std::vector<std::string>{Name});
        const auto Now = ReadFileBytes(File);
        if (Status == 0) {
            EXPECT_TRUE(Now == Made);
        } else {
            EXPECT_EQ(Status, Signal == SIGINT ? 130 : 143);
            EXPECT_TRUE(Now == Old || Now == Made) << Now.size() << " bytes";
        }
        KeptOld += Now == Old;
    }
    EXPECT_GT(KeptOld, 0);
}

} // namespace

TEST(Interrupt, PurgexStoppedAtAnyMomentKeepsTheOldFile) {
    REQUIRE_HOST_TOOLS();
    StopAtEveryMoment("iso", "keep.iso", {'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'}, 1515520);
    // A floppy image is replaced whole too; the old one must have the size.
    StopAtEveryMoment("floppy", "keep.img", std::vector<uint8_t>(1474560, 0xA5), 1474560);
}

// The reported cases: a failed run leaves the existing file alone; on a
// terminal whose input ends, the run ends instead of asking forever.
TEST(Interrupt, FailedAndAbandonedRunsEndAndKeepTheOldFile) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    const auto File = Dir / "keep.iso";
    WriteFileBytes(File, std::string("precious"));
    const std::string Purgex = ShellQuote(PURGEX_CLI);
    const auto Failed = RunCommand("cd " + ShellQuote(Dir.Path().string()) + " && " + Purgex +
                                   " iso keep.iso --os msdos --yes </dev/null");
    EXPECT_EQ(Failed.ExitCode, 1) << Failed.Output;
    EXPECT_NE(Failed.Output.find("the existing file is unchanged"), std::string::npos) << Failed.Output;
    EXPECT_EQ(FilesIn(Dir.Path()), std::vector<std::string>{"keep.iso"});
    EXPECT_EQ(ReadFileBytes(File), std::vector<uint8_t>({'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'}));

    // script gives purgex a terminal; timeout turns a hang into status 124.
    for (const std::string& Run : {std::string("iso /no/such/dir/x.iso"), "iso " + File.string() + " --os msdos"}) {
        SCOPED_TRACE(Run);
        const auto Closed = RunCommand("timeout 30 script -qec " + ShellQuote(Purgex + " " + Run) +
                                       " /dev/null </dev/null");
        EXPECT_EQ(Closed.ExitCode, 1) << Closed.Output;
        EXPECT_NE(Closed.Output.find("(end of input)"), std::string::npos) << Closed.Output;
    }
    EXPECT_EQ(ReadFileBytes(File), std::vector<uint8_t>({'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'}));
}
#endif
