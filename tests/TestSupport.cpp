#include "TestSupport.h"

#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace fs = std::filesystem;

namespace testing_support {

TScratchDir::TScratchDir() {
    static std::mt19937_64 Generator{std::random_device{}()};
    for (;;) {
        Root = fs::temp_directory_path() / ("purgex-test-" + std::to_string(Generator()));
        if (fs::create_directory(Root)) return;
    }
}

TScratchDir::~TScratchDir() {
    std::error_code Ignored;
    fs::remove_all(Root, Ignored);
}

std::vector<uint8_t> ReadFileBytes(const fs::path& Path) {
    std::ifstream In(Path, std::ios::binary);
    if (!In) throw std::runtime_error("cannot read " + Path.string());
    return {std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
}

void WriteFileBytes(const fs::path& Path, const std::vector<uint8_t>& Bytes) {
    std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
    Out.write(reinterpret_cast<const char*>(Bytes.data()), std::streamsize(Bytes.size()));
    if (!Out.flush()) throw std::runtime_error("cannot write " + Path.string());
}

void WriteFileBytes(const fs::path& Path, const std::string& Bytes) {
    WriteFileBytes(Path, std::vector<uint8_t>(Bytes.begin(), Bytes.end()));
}

TCommandResult RunCommand(const std::string& CommandLine) {
    TCommandResult Result;
#ifdef _WIN32
    (void)CommandLine;
    throw std::runtime_error("host commands run only in the native build");
#else
    FILE* Pipe = popen((CommandLine + " 2>&1").c_str(), "r");
    if (!Pipe) return Result;
    std::array<char, 4096> Chunk;
    size_t Got;
    while ((Got = fread(Chunk.data(), 1, Chunk.size(), Pipe)) > 0) Result.Output.append(Chunk.data(), Got);
    const int Status = pclose(Pipe);
    Result.ExitCode = WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
#endif
    return Result;
}

std::string ShellQuote(const std::string& Text) {
    std::string Result = "'";
    for (char c : Text) {
        if (c == '\'') Result += "'\\''";
        else Result += c;
    }
    return Result + "'";
}

std::vector<uint8_t> RandomBytes(size_t Count, uint32_t Seed) {
    std::mt19937 Generator(Seed);
    std::vector<uint8_t> Bytes(Count);
    for (uint8_t& b : Bytes) b = uint8_t(Generator());
    return Bytes;
}

} // namespace testing_support
