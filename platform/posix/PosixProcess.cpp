#include "platform/posix/PosixProcess.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

std::vector<std::string> SplitCommand(std::string_view Line) {
    std::vector<std::string> Words;
    std::string Word;
    bool Quoted = false, Any = false;
    for (char c : Line) {
        if (c == '"') {
            Quoted = !Quoted;
            Any = true;
        } else if (c == ' ' && !Quoted) {
            if (Any) Words.push_back(Word);
            Word.clear();
            Any = false;
        } else {
            Word += c;
            Any = true;
        }
    }
    if (Any) Words.push_back(Word);
    return Words;
}

class TPosixChild : public TChildProcess {
public:
    TPosixChild(pid_t Pid, int InputFd, int OutputFd)
        : Pid(Pid), InputFd(InputFd), OutputFd(OutputFd) {}
    ~TPosixChild() override {
        // A child still running when its owner lets go is ended, so no run
        // leaves a process behind.
        if (!Ended) {
            ::kill(Pid, SIGKILL);
            int Status = 0;
            ::waitpid(Pid, &Status, 0);
        }
        ::close(InputFd);
        ::close(OutputFd);
    }
    std::string ReadAvailable() override {
        std::string Text;
        char Buffer[4096];
        for (;;) {
            const ssize_t Got = ::read(OutputFd, Buffer, sizeof Buffer);
            if (Got <= 0) break;
            Text.append(Buffer, size_t(Got));
        }
        return Text;
    }
    bool WriteInput(std::string_view Text) override {
        size_t Done = 0;
        while (Done < Text.size()) {
            const ssize_t Put = ::write(InputFd, Text.data() + Done, Text.size() - Done);
            if (Put <= 0) return false;
            Done += size_t(Put);
        }
        return true;
    }
    bool Finished() override {
        if (Ended) return true;
        int Status = 0;
        if (::waitpid(Pid, &Status, WNOHANG) != Pid) return false;
        Ended = true;
        Code = WIFEXITED(Status) ? uint32_t(WEXITSTATUS(Status)) : 255u;
        return true;
    }
    uint32_t ExitCode() override {
        // Windows answers STILL_ACTIVE for a running process.
        return Finished() ? Code : 259;
    }

private:
    pid_t Pid;
    int InputFd, OutputFd;
    bool Ended = false;
    uint32_t Code = 0;
};

} // namespace

std::unique_ptr<TChildProcess> PosixStartProcess(std::string_view CommandLine, uint32_t& Error) {
    const std::vector<std::string> Words = SplitCommand(CommandLine);
    if (Words.empty()) {
        Error = 2;
        return nullptr;
    }
    int Input[2], Output[2], Report[2];
    if (::pipe2(Input, O_CLOEXEC) != 0) return Error = 8, nullptr;
    if (::pipe2(Output, O_CLOEXEC) != 0) {
        ::close(Input[0]), ::close(Input[1]);
        return Error = 8, nullptr;
    }
    // exec failures come back through Report; success closes it.
    if (::pipe2(Report, O_CLOEXEC) != 0) {
        ::close(Input[0]), ::close(Input[1]), ::close(Output[0]), ::close(Output[1]);
        return Error = 8, nullptr;
    }
    std::vector<char*> Argv;
    for (const std::string& Word : Words)
        Argv.push_back(const_cast<char*>(Word.c_str()));
    Argv.push_back(nullptr);
    const pid_t Pid = ::fork();
    if (Pid == 0) {
        ::dup2(Input[0], 0);
        ::dup2(Output[1], 1);
        ::dup2(Output[1], 2);
        ::execvp(Argv[0], Argv.data());
        const int Failure = errno;
        (void)!::write(Report[1], &Failure, sizeof Failure);
        ::_exit(127);
    }
    ::close(Input[0]);
    ::close(Output[1]);
    ::close(Report[1]);
    int Failure = 0;
    const bool ExecFailed =
        Pid < 0 || ::read(Report[0], &Failure, sizeof Failure) == sizeof Failure;
    ::close(Report[0]);
    if (ExecFailed) {
        if (Pid > 0) {
            int Status = 0;
            ::waitpid(Pid, &Status, 0);
        }
        ::close(Input[1]);
        ::close(Output[0]);
        Error = 2; // the file was not found
        return nullptr;
    }
    ::fcntl(Output[0], F_SETFL, ::fcntl(Output[0], F_GETFL) | O_NONBLOCK);
    return std::make_unique<TPosixChild>(Pid, Input[1], Output[0]);
}
