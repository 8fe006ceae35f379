// Extraction as the real host twin does it: the runtime folder under the user's local application data, the payload
// file named by its hash, reuse by size, and the path-length limits, which Wine does not enforce for us.
#include <gtest/gtest.h>

#include "support/host_bench.h"
#include "support/notice_watcher.h"

using namespace bench;

namespace {

const wchar_t kExtractionNotice[] = L"无法准备运行文件。请确认磁盘未满，并关闭已打开的检测工具后重试。";

class Extraction : public ::testing::Test {
protected:
    void SetUp() override
    {
        ClearRuntimeFlags();
        SetRuntimeFlag(0);
        RemoveTree(LocalAppData() + L"\\Oristane");
        host_ = BuiltExe(L"VelvaroHost.exe");
        payload_ = PayloadFileFor(BuiltExe(L"demo_payload.exe"));
        ASSERT_TRUE(ReadBytes(BuiltExe(L"demo_payload.exe"), &payloadBytes_));
    }
    void TearDown() override
    {
        RestoreLocalAppData();
        RemoveTree(LocalAppData() + L"\\Oristane");
        ClearRuntimeFlags();
    }

    // Runs the host, answering any notice; returns the exit code and the notices' texts.
    DWORD Run(const std::wstring &host, std::vector<SeenNotice> *seen)
    {
        NoticeWatcher watcher;
        ChildResult run = RunHost(host, L"--exit-code=42");
        EXPECT_TRUE(run.finished);
        *seen = watcher.Seen();
        return run.exitCode;
    }

    std::string FileBytes(const std::wstring &path)
    {
        std::string bytes;
        ReadBytes(path, &bytes);
        return bytes;
    }

    std::wstring host_;
    std::wstring payload_;
    std::string payloadBytes_;
};

TEST(Fnv1a, TheBenchsOwnHashMatchesKnownVectors)
{
    // The bench predicts the payload's file name with its own FNV-1a; check that one against published vectors.
    std::wstring dir = ScratchDir(L"fnv");
    const struct {
        const char *bytes;
        DWORD hash;
    } vectors[] = {{"", 0x811C9DC5u}, {"a", 0xE40C292Cu}, {"foobar", 0xBF9CF968u}};
    for (const auto &v : vectors) {
        WriteBytes(dir + L"\\v", v.bytes, strlen(v.bytes));
        EXPECT_EQ(v.hash, Fnv1aOfFile(dir + L"\\v")) << v.bytes;
    }
}

TEST_F(Extraction, WritesThePayloadOnceAndReusesItUntouched)
{
    std::vector<SeenNotice> seen;
    EXPECT_EQ(42u, Run(host_, &seen));
    ASSERT_TRUE(FileExists(payload_));
    EXPECT_EQ(payloadBytes_, FileBytes(payload_));

    FILETIME earlier = {0x12345678, 0x01D00000};  // a time no write can produce
    HANDLE file = CreateFileW(payload_.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    SetFileTime(file, nullptr, nullptr, &earlier);
    CloseHandle(file);

    EXPECT_EQ(42u, Run(host_, &seen));
    FILETIME after = LastWriteTime(payload_);
    EXPECT_EQ(earlier.dwLowDateTime, after.dwLowDateTime);
    EXPECT_EQ(earlier.dwHighDateTime, after.dwHighDateTime);
    EXPECT_TRUE(seen.empty());
}

TEST_F(Extraction, RewritesAFileOfAnotherSizeWhole)
{
    std::vector<SeenNotice> seen;
    CreateDirectoryW((LocalAppData() + L"\\Oristane").c_str(), nullptr);
    CreateDirectoryW((LocalAppData() + L"\\Oristane\\Velvaro").c_str(), nullptr);
    CreateDirectoryW(RuntimeFolder().c_str(), nullptr);
    for (size_t size : {payloadBytes_.size() / 2, payloadBytes_.size() + 1}) {
        std::string wrong(size, 'x');
        ASSERT_TRUE(WriteBytes(payload_, wrong.data(), wrong.size()));
        EXPECT_EQ(42u, Run(host_, &seen)) << size;
        EXPECT_EQ(payloadBytes_, FileBytes(payload_)) << size;
    }
}

TEST_F(Extraction, ReusesAFileOfTheRightSizeWithoutLookingAtItsContent)
{
    std::vector<SeenNotice> seen;
    EXPECT_EQ(42u, Run(host_, &seen));
    std::string garbage(payloadBytes_.size(), '\x5A');
    ASSERT_TRUE(WriteBytes(payload_, garbage.data(), garbage.size()));

    // Reused as it is, so the start fails; the host names the platform's error and ends with 2.
    EXPECT_EQ(2u, Run(host_, &seen));
    EXPECT_EQ(garbage, FileBytes(payload_));
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ(L"程序组件启动失败（Win32 错误 193）。\r\n请确认安全软件未阻止程序运行。", seen[0].text);
    EXPECT_TRUE(seen[0].hasOk);
    EXPECT_FALSE(seen[0].hasCancel);
}

TEST_F(Extraction, AnotherPayloadLandsBesideTheOldFile)
{
    std::vector<SeenNotice> seen;
    EXPECT_EQ(42u, Run(host_, &seen));
    std::wstring second = PayloadFileFor(BuiltExe(L"demo_payload_v2.exe"));
    ASSERT_NE(payload_, second);
    EXPECT_EQ(42u, Run(BuiltExe(L"VelvaroHostV2.exe"), &seen));
    EXPECT_EQ(payloadBytes_, FileBytes(payload_));
    std::string secondBytes;
    ASSERT_TRUE(ReadBytes(BuiltExe(L"demo_payload_v2.exe"), &secondBytes));
    EXPECT_EQ(secondBytes, FileBytes(second));
}

TEST_F(Extraction, ASecondHostStartsWhileTheFirstPayloadStillRuns)
{
    std::vector<SeenNotice> seen;
    EXPECT_EQ(42u, Run(host_, &seen));
    std::wstring line = L"\"" + host_ + L"\" --sleep=3000";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION first = {};
    ASSERT_TRUE(CreateProcessW(host_.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &first));
    Sleep(1000);  // the first payload now runs from the file, which cannot be opened for writing
    EXPECT_EQ(42u, Run(host_, &seen));
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(first.hProcess, 15000));
    CloseHandle(first.hThread);
    CloseHandle(first.hProcess);
}

TEST_F(Extraction, AFileWhereAFolderShouldBeFailsAndNothingIsDeleted)
{
    const std::wstring base = LocalAppData();
    struct {
        const wchar_t *what;
        std::wstring blocker;  // a file created here
        bool asFolder;         // a folder instead of a file
    } const cases[] = {
        {L"Oristane is a file", base + L"\\Oristane", false},
        {L"Velvaro is a file", base + L"\\Oristane\\Velvaro", false},
        {L"runtime is a file", base + L"\\Oristane\\Velvaro\\runtime", false},
        {L"the payload's name is a folder", payload_, true},
    };
    for (const auto &c : cases) {
        RemoveTree(base + L"\\Oristane");
        for (const wchar_t *level : {L"\\Oristane", L"\\Oristane\\Velvaro", L"\\Oristane\\Velvaro\\runtime"}) {
            if ((base + level).size() >= c.blocker.size()) {
                break;
            }
            CreateDirectoryW((base + level).c_str(), nullptr);
        }
        if (c.asFolder) {
            ASSERT_TRUE(CreateDirectoryW(c.blocker.c_str(), nullptr)) << c.what;
        } else {
            ASSERT_TRUE(WriteBytes(c.blocker, "keep", 4)) << c.what;
        }
        std::vector<SeenNotice> seen;
        EXPECT_EQ(2u, Run(host_, &seen)) << c.what;
        ASSERT_EQ(1u, seen.size()) << c.what;
        EXPECT_EQ(kExtractionNotice, seen[0].text) << c.what;
        EXPECT_EQ(L"Qumo盒子检测工具", seen[0].caption);
        EXPECT_TRUE(seen[0].hasOk);
        EXPECT_FALSE(seen[0].hasCancel);
        EXPECT_TRUE(seen[0].hasIcon);
        if (c.asFolder) {
            EXPECT_TRUE(IsFolder(c.blocker)) << c.what;
        } else {
            EXPECT_EQ("keep", FileBytes(c.blocker)) << c.what;
        }
    }
    ChildResult hidden = RunHost(host_, L"", 15000, kInvisibleDesktop);
    ASSERT_TRUE(hidden.finished) << "the extraction notice blocked where nobody can see it";
    EXPECT_EQ(2u, hidden.exitCode);
}

// A local application data folder of exactly `length` characters, made of nested folders under the temp folder.
std::wstring FolderOfLength(const std::wstring &root, size_t length)
{
    std::wstring path = root;
    CreateDirectoryW(path.c_str(), nullptr);
    while (path.size() < length) {
        size_t segment = length - path.size() - 1;  // without its backslash
        if (segment > 100) {
            segment = 100;
        }
        if (length - path.size() - 1 - segment == 1) {
            --segment;  // never leave a gap of 1, which a further segment could not fill
        }
        path += L"\\" + std::wstring(segment, static_cast<wchar_t>(L'a' + path.size() % 26));
        CreateDirectoryW(path.c_str(), nullptr);
    }
    return path;
}

TEST_F(Extraction, PathsOf260CharactersOrMoreFailWithoutTruncation)
{
    // The runtime folder adds "\Oristane" (9), "\Velvaro" (8) and "\runtime" (8); the file name 22 more.
    std::wstring root = ScratchDir(L"long");
    struct {
        size_t length;
        DWORD exitCode;
        const wchar_t *lastLevel;  // the deepest level that exists afterwards, relative to the folder
    } const cases[] = {
        {212, 42, L"\\Oristane\\Velvaro\\runtime"},  // payload path of exactly 259 characters
        {213, 2, L"\\Oristane\\Velvaro\\runtime"},   // 260: no file is written
        {234, 2, L"\\Oristane\\Velvaro\\runtime"},   // runtime folder of 259
        {235, 2, L"\\Oristane\\Velvaro"},            // runtime folder would be 260
        {242, 2, L"\\Oristane\\Velvaro"},
        {243, 2, L"\\Oristane"},
        {250, 2, L"\\Oristane"},
        {251, 2, L""},
    };
    for (const auto &c : cases) {
        std::wstring folder = FolderOfLength(root + L"\\" + std::to_wstring(c.length), c.length);
        ASSERT_EQ(c.length, folder.size());
        RedirectLocalAppData(folder);
        ASSERT_EQ(folder, LocalAppData());

        std::vector<SeenNotice> seen;
        EXPECT_EQ(c.exitCode, Run(host_, &seen)) << c.length;
        EXPECT_EQ(c.exitCode == 2 ? 1u : 0u, seen.size()) << c.length;
        std::wstring deepest = folder + c.lastLevel;
        EXPECT_TRUE(IsFolder(deepest)) << c.length;
        // Nothing below the deepest level: no truncated folder or file was created.
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((deepest + L"\\*").c_str(), &found);
        int entries = 0;
        if (search != INVALID_HANDLE_VALUE) {
            do {
                std::wstring name = found.cFileName;
                entries += name != L"." && name != L"..";
            } while (FindNextFileW(search, &found));
            FindClose(search);
        }
        int expected = c.exitCode == 42 ? 1 : (c.length == 251 ? -1 : 0);
        if (expected >= 0) {
            EXPECT_EQ(expected, entries) << c.length;
        }
        RestoreLocalAppData();
    }
}

}  // namespace
