// Every input kept beside a fuzz target (its seeds and the findings fixed
// since) runs through the target's body in the ordinary suite.

#include <gtest/gtest.h>

#ifdef PURGEX_FUZZ_DIR
#include <exception>
#include <filesystem>

#include "TestSupport.h"
#include "fuzz/FuzzTarget.h"

using namespace testing_support;

TEST(FuzzRegressions, EveryKeptInputPassesItsTarget) {
    const std::filesystem::path Top = PURGEX_FUZZ_DIR;
    ASSERT_GE(FuzzTargets().size(), 6u) << "the fuzz targets' bodies are not linked in";
    int Replayed = 0;
    for (const auto& [Name, Body] : FuzzTargets()) {
        for (const char* Kind : {"regressions", "corpus"}) {
            const auto Folder = Top / Kind / Name;
            if (!std::filesystem::is_directory(Folder)) continue;
            for (const auto& Entry : std::filesystem::directory_iterator(Folder)) {
                if (!Entry.is_regular_file() || Entry.path().filename() == "README.md") continue;
                SCOPED_TRACE(Entry.path().string());
                const auto Bytes = ReadFileBytes(Entry.path());
                try {
                    Body(Bytes.data(), Bytes.size());
                } catch (const std::exception& Error) {
                    ADD_FAILURE() << Error.what();
                }
                ++Replayed;
            }
        }
    }
    EXPECT_GT(Replayed, 0);
}
#endif
