// Runs one command and appends "CPU_SECONDS PEAK_KIB WALL_SECONDS" to a file: the child's
// user + system time from wait4 at microsecond resolution (/usr/bin/time
// prints hundredths only) and its ru_maxrss, the figure /usr/bin/time -v
// calls "Maximum resident set size". The launcher itself stays tiny, since
// a child's peak includes the memory of the process it was forked from.
//
//   run_measured RESULT_FILE COMMAND [ARG...]      (standard output discarded)

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: run_measured RESULT_FILE COMMAND [ARG...]\n");
        return 2;
    }
    const auto Start = std::chrono::steady_clock::now();
    const pid_t Child = fork();
    if (Child < 0) return 1;
    if (Child == 0) {
        const int Null = open("/dev/null", O_WRONLY);
        if (Null >= 0) dup2(Null, 1);
        execvp(argv[2], argv + 2);
        std::perror(argv[2]);
        _exit(127);
    }
    int Status = 0;
    rusage Usage{};
    if (wait4(Child, &Status, 0, &Usage) != Child) return 1;
    const double Wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
    if (!WIFEXITED(Status) || WEXITSTATUS(Status) != 0) {
        std::fprintf(stderr, "failed: %s\n", argv[2]);
        return 1;
    }
    const double Seconds = double(Usage.ru_utime.tv_sec + Usage.ru_stime.tv_sec) +
                           double(Usage.ru_utime.tv_usec + Usage.ru_stime.tv_usec) / 1e6;
    FILE* Out = std::fopen(argv[1], "a");
    if (!Out) return 1;
    std::fprintf(Out, "%.6f %ld %.6f\n", Seconds, Usage.ru_maxrss, Wall);
    return std::fclose(Out) == 0 ? 0 : 1;
}
