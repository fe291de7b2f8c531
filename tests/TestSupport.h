#pragma once
// Helpers shared by the tests: scratch folders, files, and running the
// independent tools (lha, fsck.fat, mtools, geteltorito, QEMU) that judge
// our outputs in the native build.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testing_support {

// A fresh folder under the system's temporary folder, removed at the end.
class TScratchDir {
public:
    TScratchDir();
    ~TScratchDir();
    TScratchDir(const TScratchDir&) = delete;
    TScratchDir& operator=(const TScratchDir&) = delete;
    const std::filesystem::path& Path() const { return Root; }
    std::filesystem::path operator/(const std::string& Name) const { return Root / Name; }

private:
    std::filesystem::path Root;
};

std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& Path);
void WriteFileBytes(const std::filesystem::path& Path, const std::vector<uint8_t>& Bytes);
void WriteFileBytes(const std::filesystem::path& Path, const std::string& Bytes);

struct TCommandResult {
    int ExitCode = -1;
    std::string Output; // stdout and stderr together
};

// Runs a shell command line (native builds only).
TCommandResult RunCommand(const std::string& CommandLine);

// Single-quotes a path for the shell.
std::string ShellQuote(const std::string& Text);

// Reproducible pseudo-random bytes.
std::vector<uint8_t> RandomBytes(size_t Count, uint32_t Seed);

} // namespace testing_support

// Skips a test that needs the build machine's own tools (Windows builds under
// Wine cannot run them; the native build always does).
#ifdef PURGEX_HOST_CHECKS
#define REQUIRE_HOST_TOOLS() (void)0
#else
#define REQUIRE_HOST_TOOLS() GTEST_SKIP() << "checked with host tools in the native build"
#endif
