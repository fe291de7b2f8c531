// Every input kept beside a fuzz target (its seeds and the findings fixed
// since) runs through the target's body in the ordinary suite; every row of
// the fault matrix names a test of this suite.

#include <gtest/gtest.h>

#ifdef PURGEX_FUZZ_DIR
#include <exception>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>

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

TEST(FaultMatrix, EveryRowNamesTestsThatExist) {
    std::set<std::string> Known;
    const auto& Suite = *::testing::UnitTest::GetInstance();
    for (int i = 0; i < Suite.total_test_suite_count(); ++i) {
        const auto& Cases = *Suite.GetTestSuite(i);
        for (int j = 0; j < Cases.total_test_count(); ++j)
            Known.insert(std::string(Cases.name()) + "." + Cases.GetTestInfo(j)->name());
    }
    std::ifstream Matrix(std::filesystem::path(PURGEX_FUZZ_DIR) / ".." / ".." / "docs" / "faults.md");
    ASSERT_TRUE(Matrix) << "docs/faults.md";
    const std::regex Named("`([A-Z][A-Za-z0-9]*\\.[A-Z][A-Za-z0-9]*)`");
    int Rows = 0;
    for (std::string Line; std::getline(Matrix, Line);) {
        if (Line.rfind("| ", 0) != 0 || Line.rfind("| fault", 0) == 0) continue;
        ++Rows;
        int Names = 0;
        for (std::sregex_iterator m(Line.begin(), Line.end(), Named), End; m != End; ++m, ++Names)
            EXPECT_TRUE(Known.count((*m)[1])) << (*m)[1] << " in: " << Line;
        EXPECT_GT(Names, 0) << "a row without its test: " << Line;
    }
    EXPECT_GT(Rows, 40);
}
#endif
