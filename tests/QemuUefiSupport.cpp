#include "QemuUefiSupport.h"

#ifndef _WIN32

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <thread>

#include "QemuWiperSupport.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace testing_support {

namespace {

const std::string OvmfCode = "/usr/share/OVMF/OVMF_CODE.fd";
const std::string OvmfVars = "/usr/share/OVMF/OVMF_VARS.fd";

std::string Readable(const std::string& Terminal) {
    return std::regex_replace(Terminal, std::regex("\x1b\\[[0-9;=?]*[A-Za-z]"), "\n");
}

} // namespace

std::string MakeEfiStick(const TScratchDir& Dir, const std::string& Options,
                         const std::string& Params) {
    const std::string Image = (Dir / "stick.img").string();
    RunOrFail(std::string(PURGEX_CLI) + " usb " + ShellQuote(Image) +
              " --size 64M --yes --options " + Options + " --params " + ShellQuote(Params));
    return Image;
}

TUefiRun RunOvmf(const TScratchDir& Dir, const std::string& Stick, const std::string& Devices,
                 const std::string& WaitFor, int Timeout, const std::string& Extra) {
    const fs::path Vars = Dir / "vars.fd", Trace = Dir / "trace.txt", Console = Dir / "console.txt";
    const bool IsDisc = fs::path(Stick).extension() == ".iso"; // a CD drive instead of a disk
    fs::copy_file(OvmfVars, Vars, fs::copy_options::overwrite_existing);
    fs::remove(Trace);
    fs::remove(Console);
    const std::string Command =
        "exec qemu-system-x86_64 -machine pc -m 256 -display none -no-reboot -net none"
        " -drive if=pflash,format=raw,readonly=on,file=" +
        OvmfCode + " -drive if=pflash,format=raw,file=" + ShellQuote(Vars.string()) +
        " -drive file=" + ShellQuote(Stick) + (IsDisc ? ",media=cdrom" : ",format=raw") +
        ",if=ide,index=0 " + Devices + " -debugcon file:" + ShellQuote(Trace.string()) +
        " -serial file:" + ShellQuote(Console.string()) + " " + Extra + " >" +
        ShellQuote((Dir / "qemu.log").string()) + " 2>&1";
    TUefiRun Run;
    const pid_t Child = fork();
    if (Child < 0) return Run;
    if (Child == 0) {
        execl("/bin/sh", "sh", "-c", Command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(Timeout);
    int Status = 0;
    for (;;) {
        if (waitpid(Child, &Status, WNOHANG) == Child) {
            Run.Exited = true;
            break;
        }
        if (!WaitFor.empty() &&
            (ReadTextIfAny(Trace).find(WaitFor) != std::string::npos ||
             Readable(ReadTextIfAny(Console)).find(WaitFor) != std::string::npos))
            break;
        if (std::chrono::steady_clock::now() > Deadline) break;
        std::this_thread::sleep_for(250ms);
    }
    if (!Run.Exited) {
        kill(Child, SIGKILL);
        waitpid(Child, &Status, 0);
    }
    Run.Trace = ReadTextIfAny(Trace);
    Run.Console = Readable(ReadTextIfAny(Console)) + ReadTextIfAny(Dir / "qemu.log");
    return Run;
}

std::string ReadStickFile(const std::string& Stick, const std::string& Name) {
    const auto Result =
        RunCommand(Mtools + "mtype -i " + ShellQuote(Stick + "@@1048576") + " ::" + Name);
    EXPECT_EQ(Result.ExitCode, 0) << Result.Output;
    return Result.Output;
}

} // namespace testing_support

#endif
