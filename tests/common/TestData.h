#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

// Files that other programs wrote, kept in the repository under tests/data (LUMORA_TESTDATA).
// A test program that includes this header checks the folder once before its first test: when
// it is missing, every test is skipped and the run fails with one line naming the folder.
namespace testdata {

inline std::string Path(const std::string& relative)
{
    return std::string(LUMORA_TESTDATA) + "/" + relative;
}

class FolderCheck : public ::testing::Environment
{
public:
    void SetUp() override
    {
        std::error_code error;
        if (!std::filesystem::is_directory(LUMORA_TESTDATA, error))
            GTEST_FAIL() << "test data folder not found: " << LUMORA_TESTDATA;
    }
};

inline ::testing::Environment* const kFolderCheck = ::testing::AddGlobalTestEnvironment(new FolderCheck);

} // namespace testdata
