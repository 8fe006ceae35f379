// The operating-system gate on the real host twin, with Wine reporting each Windows version: per exe name through
// AppDefaults, and Windows 7 without a service pack through the prefix-wide version keys.
#include <gtest/gtest.h>

#include <vector>

#include "support/host_bench.h"
#include "support/expected_text.h"
#include "support/notice_watcher.h"

using namespace bench;

namespace {

using text::kNeedsServicePack;
using text::kTooOld;
const DWORD kPayloadExit = 42;

std::wstring AppDefaultsKey(const std::wstring &exeName)
{
    return L"Software\\Wine\\AppDefaults\\" + exeName;
}

// A registry value as it was, to put back after a prefix-wide change.
struct SavedValue {
    HKEY root;
    std::wstring key;
    std::wstring name;
    bool existed;
    DWORD type;
    std::vector<BYTE> data;
};

SavedValue Save(HKEY root, const wchar_t *key, const wchar_t *name)
{
    SavedValue saved = {root, key, name, false, 0, std::vector<BYTE>(1024)};
    DWORD size = static_cast<DWORD>(saved.data.size());
    HKEY opened = nullptr;
    if (RegOpenKeyExW(root, key, 0, KEY_QUERY_VALUE, &opened) == ERROR_SUCCESS) {
        saved.existed = RegQueryValueExW(opened, name, nullptr, &saved.type, saved.data.data(), &size) == ERROR_SUCCESS;
        RegCloseKey(opened);
    }
    saved.data.resize(saved.existed ? size : 0);
    return saved;
}

void Restore(const SavedValue &saved)
{
    if (saved.existed) {
        SetRegValue(saved.root, saved.key.c_str(), saved.name.c_str(), saved.type, saved.data.data(),
                    static_cast<DWORD>(saved.data.size()));
    } else {
        DeleteRegValue(saved.root, saved.key.c_str(), saved.name.c_str());
    }
}

class OsGate : public ::testing::Test {
protected:
    void SetUp() override
    {
        ClearRuntimeFlags();
        SetRuntimeFlag(0);
        dir_ = ScratchDir(L"osgate");
    }
    void TearDown() override
    {
        for (const std::wstring &name : appDefaults_) {
            DeleteRegTree(HKEY_CURRENT_USER, AppDefaultsKey(name).c_str());
        }
        ClearRuntimeFlags();
    }

    // A copy of the host that Wine runs as the given Windows version.
    std::wstring HostAs(const wchar_t *version)
    {
        std::wstring name = std::wstring(L"host-") + version + L".exe";
        SetRegString(HKEY_CURRENT_USER, AppDefaultsKey(name).c_str(), L"Version", version);
        appDefaults_.push_back(name);
        return CopyHost(dir_, name.c_str());
    }

    std::wstring dir_;
    std::vector<std::wstring> appDefaults_;
};

TEST_F(OsGate, EachVersionRowEndsAsItShould)
{
    struct {
        const wchar_t *version;
        DWORD exitCode;
        bool notice;
    } const cases[] = {
        {L"winxp", 2, true},  {L"vista", 2, true},  // 5.1 and 6.0: too old
        {L"win7", kPayloadExit, false},              // 6.1 SP1 (Wine reports a server product: not examined)
        {L"win8", kPayloadExit, false},  {L"win81", kPayloadExit, false}, {L"win10", kPayloadExit, false},
    };
    for (const auto &c : cases) {
        NoticeWatcher watcher(IDOK);
        ChildResult run = RunHost(HostAs(c.version), L"--exit-code=42");
        ASSERT_TRUE(run.finished) << c.version;
        EXPECT_EQ(c.exitCode, run.exitCode) << c.version;
        std::vector<SeenNotice> seen = watcher.Seen();
        if (!c.notice) {
            EXPECT_TRUE(seen.empty()) << c.version;
            continue;
        }
        ASSERT_EQ(1u, seen.size()) << c.version;
        EXPECT_EQ(kTooOld, seen[0].text);
        EXPECT_EQ(text::kCaption, seen[0].caption);
        EXPECT_TRUE(seen[0].hasOk);
        EXPECT_FALSE(seen[0].hasCancel);
        EXPECT_TRUE(seen[0].hasIcon);
    }
}

TEST_F(OsGate, NothingIsShownWithoutAVisibleWindowStationAndTheCodeStays)
{
    ChildResult run = RunHost(HostAs(L"vista"), L"", 15000, kInvisibleDesktop);
    ASSERT_TRUE(run.finished) << "a notice blocked where nobody can see it";
    EXPECT_EQ(2u, run.exitCode);
}

// Windows 7 without a service pack cannot be chosen per exe; the prefix-wide keys are set and put back.
class OsGateWithoutServicePack : public OsGate {
protected:
    void SetUp() override
    {
        OsGate::SetUp();
        const struct {
            HKEY root;
            const wchar_t *key;
            const wchar_t *name;
        } values[] = {
            {HKEY_CURRENT_USER, L"Software\\Wine", L"Version"},
            {HKEY_LOCAL_MACHINE, kNt, L"CurrentVersion"},
            {HKEY_LOCAL_MACHINE, kNt, L"CurrentBuild"},
            {HKEY_LOCAL_MACHINE, kNt, L"CurrentBuildNumber"},
            {HKEY_LOCAL_MACHINE, kNt, L"CSDVersion"},
            {HKEY_LOCAL_MACHINE, kNt, L"CurrentMajorVersionNumber"},
            {HKEY_LOCAL_MACHINE, kNt, L"CurrentMinorVersionNumber"},
            {HKEY_LOCAL_MACHINE, kWindows, L"CSDVersion"},
        };
        for (const auto &v : values) {
            saved_.push_back(Save(v.root, v.key, v.name));
        }
        DeleteRegValue(HKEY_CURRENT_USER, L"Software\\Wine", L"Version");
        DeleteRegValue(HKEY_LOCAL_MACHINE, kNt, L"CurrentMajorVersionNumber");
        DeleteRegValue(HKEY_LOCAL_MACHINE, kNt, L"CurrentMinorVersionNumber");
        SetRegString(HKEY_LOCAL_MACHINE, kNt, L"CurrentVersion", L"6.1");
        SetRegString(HKEY_LOCAL_MACHINE, kNt, L"CurrentBuild", L"7600");
        SetRegString(HKEY_LOCAL_MACHINE, kNt, L"CurrentBuildNumber", L"7600");
        SetRegString(HKEY_LOCAL_MACHINE, kNt, L"CSDVersion", L"");
        SetRegDword(HKEY_LOCAL_MACHINE, kWindows, L"CSDVersion", 0);
    }
    void TearDown() override
    {
        for (const SavedValue &v : saved_) {
            Restore(v);
        }
        OsGate::TearDown();
    }

    static constexpr const wchar_t *kNt = L"Software\\Microsoft\\Windows NT\\CurrentVersion";
    static constexpr const wchar_t *kWindows = L"System\\CurrentControlSet\\Control\\Windows";
    std::vector<SavedValue> saved_;
};

TEST_F(OsGateWithoutServicePack, AsksForTheServicePackAndEndsWith1WhateverTheAnswer)
{
    std::wstring host = CopyHost(dir_, L"host-win7-rtm.exe");
    for (int answer : {IDOK, IDCANCEL, 0}) {
        NoticeWatcher watcher(answer);
        ChildResult run = RunHost(host, L"--exit-code=42");
        ASSERT_TRUE(run.finished) << answer;
        EXPECT_EQ(1u, run.exitCode) << answer;
        std::vector<SeenNotice> seen = watcher.Seen();
        ASSERT_EQ(1u, seen.size());
        EXPECT_EQ(kNeedsServicePack, seen[0].text);
        EXPECT_EQ(text::kCaption, seen[0].caption);
        EXPECT_TRUE(seen[0].hasOk);
        EXPECT_TRUE(seen[0].hasCancel);
        EXPECT_TRUE(seen[0].hasIcon);
    }
    ChildResult hidden = RunHost(host, L"--exit-code=42", 15000, kInvisibleDesktop);
    ASSERT_TRUE(hidden.finished) << "a notice blocked where nobody can see it";
    EXPECT_EQ(1u, hidden.exitCode);
}

}  // namespace
