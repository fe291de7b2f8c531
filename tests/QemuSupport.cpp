#include "QemuSupport.h"

#ifndef _WIN32
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "TestSupport.h"

namespace testing_support {

namespace {

std::string ScreenText(const std::vector<char>& Memory) {
    std::string Text;
    for (size_t Row = 0; Row < 25; ++Row) {
        std::string Line;
        for (size_t Column = 0; Column < 80; ++Column) {
            const size_t At = (Row * 80 + Column) * 2;
            const unsigned char c = At < Memory.size() ? Memory[At] : ' ';
            Line += (c >= 32 && c < 127) ? char(c) : ' ';
        }
        while (!Line.empty() && Line.back() == ' ') Line.pop_back();
        Text += Line + "\n";
    }
    return Text;
}

int ConnectMonitor(const std::string& Path) {
    for (int Try = 0; Try < 100; ++Try) {
        const int Fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un Address{};
        Address.sun_family = AF_UNIX;
        std::strncpy(Address.sun_path, Path.c_str(), sizeof Address.sun_path - 1);
        if (connect(Fd, reinterpret_cast<sockaddr*>(&Address), sizeof Address) == 0) return Fd;
        close(Fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return -1;
}

void MonitorCommand(int Fd, const std::string& Command) {
    const std::string Line = Command + "\n";
    // QEMU may have ended just now: a closed socket must not raise SIGPIPE.
    if (send(Fd, Line.data(), Line.size(), MSG_NOSIGNAL) < 0) return;
    // Drain the echo and prompt; the command is done once QEMU answers.
    char Buffer[4096];
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    while (recv(Fd, Buffer, sizeof Buffer, MSG_DONTWAIT) > 0) {
    }
}

} // namespace

TQemuResult RunQemu(const TQemuOptions& Options) {
    TQemuResult Result;
    TScratchDir Dir;
    const std::string Socket = (Dir / "monitor").string();
    const std::string Screen = (Dir / "screen.bin").string();
    const std::string LogFile = (Dir / "qemu.log").string();

    std::string Command = "exec qemu-system-i386 -m 16 -display none -no-reboot -serial none"
                          " -parallel none -net none -device isa-debug-exit,iobase=0xf4,iosize=0x01"
                          " -monitor unix:" + ShellQuote(Socket) + ",server,nowait";
    if (!Options.Floppy.empty())
        Command += " -drive file=" + ShellQuote(Options.Floppy) + ",if=floppy,format=raw,readonly=on";
    if (!Options.Cdrom.empty()) Command += " -cdrom " + ShellQuote(Options.Cdrom);
    Command += Options.BootFromCd ? " -boot d" : " -boot a";
    Command += " " + Options.ExtraArguments + " >" + ShellQuote(LogFile) + " 2>&1";

    const pid_t Child = fork();
    if (Child < 0) return Result;
    if (Child == 0) {
        execl("/bin/sh", "sh", "-c", Command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    Result.Started = true;
    const int Monitor = ConnectMonitor(Socket);

    const auto Deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(Options.TimeoutSeconds);
    int Status = 0;
    for (;;) {
        const pid_t Done = waitpid(Child, &Status, WNOHANG);
        if (Done == Child) {
            Result.Exited = true;
            if (WIFEXITED(Status) && (WEXITSTATUS(Status) & 1) && WEXITSTATUS(Status) > 1)
                Result.DebugExitCode = WEXITSTATUS(Status) >> 1;
            break;
        }
        if (Monitor >= 0) {
            std::remove(Screen.c_str());
            MonitorCommand(Monitor, "pmemsave 0xb8000 4000 \"" + Screen + "\"");
            std::ifstream In(Screen, std::ios::binary);
            const std::vector<char> Memory{std::istreambuf_iterator<char>(In),
                                           std::istreambuf_iterator<char>()};
            if (Memory.size() == 4000) {
                Result.Screen = ScreenText(Memory);
                if (!Options.WaitForText.empty() &&
                    Result.Screen.find(Options.WaitForText) != std::string::npos) {
                    Result.SawText = true;
                    break;
                }
            }
        }
        if (std::chrono::steady_clock::now() > Deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    if (!Result.Exited) {
        kill(Child, SIGKILL);
        waitpid(Child, &Status, 0);
    }
    if (Monitor >= 0) close(Monitor);
    std::ifstream Log(LogFile);
    Result.Log.assign(std::istreambuf_iterator<char>(Log), std::istreambuf_iterator<char>());
    return Result;
}

} // namespace testing_support

#else

namespace testing_support {
TQemuResult RunQemu(const TQemuOptions&) { return {}; }
} // namespace testing_support

#endif
