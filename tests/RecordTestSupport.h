#pragma once
// Erase records written by hand for the reader's tests: the lines sealed
// with their checksum line, and one part of them replaced.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "report/EraseRecord.h"

namespace testing_support {

inline std::string Sealed(const std::string& Lines) {
    char Line[40];
    std::snprintf(Line, sizeof Line, "checksum=crc32:%08X\r\n", unsigned(RecordCrc32(Lines)));
    return Lines + Line;
}

inline std::string Replaced(std::string Text, const std::string& From, const std::string& To) {
    const auto At = Text.find(From);
    EXPECT_NE(At, std::string::npos) << From;
    if (At != std::string::npos) Text.replace(At, From.size(), To);
    return Text;
}

} // namespace testing_support
