#pragma once

#include "logCapture.h"
#include "logging/logger.h"
#include "process.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

inline std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The journal steps run at level 1 inside the diagnostic suite.
class JournalReportTest : public testing::Test {
protected:
    static constexpr int kSuiteLevel = 1;

    JournalReportTest() { logger.level = kSuiteLevel; }

    const std::vector<std::string>& lines() const { return capture.lines(); }

    LogCapture capture;
    logging::Logger logger{3405691582};
    TempDir dir;
};
