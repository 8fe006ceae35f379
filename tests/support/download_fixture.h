// What every test of the download engine starts from and checks last: a scratch folder of its own with the package
// path in it, the context a download runs in, and what a failed download must leave behind. Derive the test's
// fixture from it, naming the folder; a fixture that resets more (scripted faults) does so around these.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "support/bench.h"
#include "support/download_bench.h"

namespace bench {

class DownloadFixture : public ::testing::Test {
protected:
    explicit DownloadFixture(const wchar_t *folder) : folder_(folder), dir_(), package_(), context_() {}

    void SetUp() override
    {
        ASSERT_TRUE(Served().loaded);
        dir_ = ScratchDir(folder_);
        package_ = dir_ + L"\\bench.exe";
    }
    void TearDown() override { RemoveTree(dir_); }

    // A failed download leaves nothing of its own: the request slot empty, no ".part" file, and at the package path
    // exactly what lay there before, the stale file's text or nothing.
    void ExpectNothingLeft(const DownloadOutcome &outcome, const char *stale)
    {
        EXPECT_TRUE(outcome.finished);
        EXPECT_TRUE(outcome.requestCleared);
        EXPECT_FALSE(FileExists(package_ + L".part")) << "a .part file was left behind";
        std::string now;
        if (stale != nullptr) {
            EXPECT_TRUE(ReadBytes(package_, &now)) << "the file that lay at packagePath is gone";
            EXPECT_EQ(std::string(stale), now);
        } else {
            EXPECT_FALSE(FileExists(package_)) << "unverified bytes at packagePath";
        }
    }

    const wchar_t *folder_;
    std::wstring dir_;
    std::wstring package_;
    InstallerContext context_;
};

}  // namespace bench
