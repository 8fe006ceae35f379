// The probe against real package keys in the bench prefix's HKLM. Two registry functions pass through stand-ins
// linked into this program: they forward to advapi32 unchanged unless a test scripts them, and they record the
// arguments the probe uses, for what the registry alone cannot show (the view flags, how far the walk goes, a name
// too long for the buffer, a key deleted under the walk).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "prereq/servicing_probe.h"
#include "support/bench.h"
#include "support/stand_in.h"

namespace {

const wchar_t kPackages[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Component Based Servicing\\Packages";
// The servicing stack writes the native (64-bit) view; the i686 build of these tests must put its packages there too,
// or the probe would find them only through its fallback.
const REGSAM kStoreView = KEY_WOW64_64KEY;

struct OpenCall {
    bool fromMachineRoot;
    std::wstring subKey;
    REGSAM access;
};

// What the stand-ins do and saw. Only the probe's own calls are recorded.
struct Script {
    bool recording = false;
    REGSAM refusedMachineAccess = 0;      // an HKLM open asking exactly this fails with ERROR_ACCESS_DENIED
    DWORD tooLongAtIndex = MAXDWORD;      // enumeration at this index reports ERROR_MORE_DATA
    bool deletePackagesAtFirstEnum = false;  // the Packages key vanishes before the walk's first step
    std::vector<OpenCall> opens;
    std::vector<DWORD> enumCapacities;    // the capacity offered at each enumeration call
};
Script g_script;

LONG WINAPI OpenStandIn(HKEY root, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result)
{
    if (g_script.recording) {
        g_script.opens.push_back({root == HKEY_LOCAL_MACHINE, subKey != nullptr ? subKey : L"", access});
        if (root == HKEY_LOCAL_MACHINE && access == g_script.refusedMachineAccess) {
            return ERROR_ACCESS_DENIED;
        }
    }
    return REAL_IMPORT(L"advapi32.dll", RegOpenKeyExW)(root, subKey, options, access, result);
}

LONG WINAPI EnumStandIn(HKEY key, DWORD index, LPWSTR name, LPDWORD capacity, LPDWORD reserved, LPWSTR className,
                        LPDWORD classCapacity, PFILETIME lastWrite)
{
    if (g_script.recording) {
        g_script.enumCapacities.push_back(*capacity);
        if (g_script.deletePackagesAtFirstEnum && g_script.enumCapacities.size() == 1) {
            g_script.recording = false;
            bench::DeleteRegTree(HKEY_LOCAL_MACHINE, kPackages, kStoreView);
            g_script.recording = true;
        }
        if (index == g_script.tooLongAtIndex) {
            return ERROR_MORE_DATA;
        }
    }
    return REAL_IMPORT(L"advapi32.dll", RegEnumKeyExW)(key, index, name, capacity, reserved, className,
                                                       classCapacity, lastWrite);
}

}  // namespace

REPLACE_IMPORT(RegOpenKeyExW, 20, OpenStandIn);
REPLACE_IMPORT(RegEnumKeyExW, 32, EnumStandIn);

namespace {

enum ValueKind { kDword, kText, kQword, kBinary, kNoValue };

struct Package {
    const wchar_t *name;
    ValueKind kind;
    DWORD state;
};

bool KeyExists(const wchar_t *key)
{
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ | kStoreView, &opened) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(opened);
    return true;
}

class ServicingProbe : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_script = Script();
        packagesExisted_ = KeyExists(kPackages);
    }

    void TearDown() override
    {
        g_script = Script();
        for (const std::wstring &key : created_) {
            bench::DeleteRegTree(HKEY_LOCAL_MACHINE, key.c_str(), kStoreView);
        }
        if (!packagesExisted_) {
            bench::DeleteRegTree(HKEY_LOCAL_MACHINE, kPackages, kStoreView);
        }
        EXPECT_EQ(packagesExisted_, KeyExists(kPackages)) << "the bench registry was not left as found";
    }

    void Add(const Package &package)
    {
        std::wstring key = std::wstring(kPackages) + L"\\" + package.name;
        created_.push_back(key);
        DWORD64 wide = package.state;
        wchar_t text[16];
        wsprintfW(text, L"%lu", package.state);
        bool ok = false;
        switch (package.kind) {
        case kDword:
            ok = bench::SetRegDword(HKEY_LOCAL_MACHINE, key.c_str(), L"CurrentState", package.state, kStoreView);
            break;
        case kText:
            ok = bench::SetRegString(HKEY_LOCAL_MACHINE, key.c_str(), L"CurrentState", text, REG_SZ, kStoreView);
            break;
        case kQword:
            ok = bench::SetRegValue(HKEY_LOCAL_MACHINE, key.c_str(), L"CurrentState", REG_QWORD, &wide, 8,
                                    kStoreView);
            break;
        case kBinary:
            ok = bench::SetRegValue(HKEY_LOCAL_MACHINE, key.c_str(), L"CurrentState", REG_BINARY, &package.state, 4,
                                    kStoreView);
            break;
        case kNoValue:
            ok = bench::SetRegValue(HKEY_LOCAL_MACHINE, key.c_str(), L"Visibility", REG_DWORD, &package.state, 4,
                                    kStoreView);
            break;
        }
        ASSERT_TRUE(ok) << "could not create the package key";
    }

    // The names under Packages, in the order the registry hands them out.
    std::vector<std::wstring> EnumerationOrder()
    {
        std::vector<std::wstring> names;
        HKEY packages = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPackages, 0, KEY_READ | kStoreView, &packages) == ERROR_SUCCESS) {
            wchar_t name[320];
            DWORD capacity = 320;
            for (DWORD i = 0; RegEnumKeyExW(packages, i, name, &capacity, nullptr, nullptr, nullptr, nullptr) ==
                              ERROR_SUCCESS;
                 ++i, capacity = 320) {
                names.push_back(name);
            }
            RegCloseKey(packages);
        }
        return names;
    }

    bool ProbeRecorded(const wchar_t *kbId)
    {
        g_script.recording = true;
        bool installed = IsServicingPackageInstalled(kbId);
        g_script.recording = false;
        return installed;
    }

    bool packagesExisted_ = false;
    std::vector<std::wstring> created_;
};

struct ProbeCase {
    const char *what;
    std::vector<Package> packages;  // in enumeration (name) order
    const wchar_t *kbId;
    bool installed;
};

const wchar_t kSsu[] = L"Package_for_KB4490628~31bf3856ad364e35~amd64~~6.1.1.2";

TEST_F(ServicingProbe, MatchesTheKbAnywhereInTheNameWhateverTheCase)
{
    const ProbeCase cases[] = {
        {"lower-case name", {{L"package_for_kb4490628~31bf3856ad364e35~amd64~~6.1.1.2", kDword, 112}},
         L"KB4490628", true},
        {"lower-case kbId", {{kSsu, kDword, 112}}, L"kb4490628", true},
        {"name equal to the KB", {{L"KB4490628", kDword, 112}}, L"KB4490628", true},
        {"KB at the very end of the name", {{L"Package_for_KB4490628", kDword, 112}}, L"KB4490628", true},
        {"KB longer than the name", {{L"KB44906", kDword, 112}}, L"KB4490628", false},
        {"KB a prefix of a longer KB", {{L"Package_for_KB44906281~31bf3856ad364e35~x86~~6.1.1.0", kDword, 112}},
         L"KB4490628", true},
        {"another update only", {{kSsu, kDword, 112}}, L"KB4474419", false},
        {"null kbId", {{kSsu, kDword, 112}, {L"KB4490628", kDword, 112}}, nullptr, false},
        // A short name first: every step must offer the whole buffer again, or the long name no longer fits.
        {"a short name before the match", {{L"A", kDword, 0}, {kSsu, kDword, 112}}, L"KB4490628", true},
    };
    for (const ProbeCase &c : cases) {
        SCOPED_TRACE(c.what);
        for (const Package &p : c.packages) {
            Add(p);
        }
        EXPECT_EQ(c.installed, IsServicingPackageInstalled(c.kbId));
        TearDown();
        SetUp();
    }
}

TEST_F(ServicingProbe, OnlySupersededInstalledAndPermanentCount)
{
    const Package states[] = {
        {kSsu, kDword, 80},    {kSsu, kDword, 112},  {kSsu, kDword, 128},  {kSsu, kDword, 0},
        {kSsu, kDword, 96},    {kSsu, kDword, 113},  {kSsu, kDword, 0x70000070}, {kSsu, kText, 112},
        {kSsu, kBinary, 112},  {kSsu, kQword, 112},  {kSsu, kNoValue, 112},
    };
    for (const Package &p : states) {
        SCOPED_TRACE(::testing::Message() << "kind " << p.kind << " state " << p.state);
        bool counts = p.kind == kDword && (p.state == 80 || p.state == 112 || p.state == 128);
        Add(p);
        EXPECT_EQ(counts, IsServicingPackageInstalled(L"KB4490628"));
        TearDown();
        SetUp();
    }
}

TEST_F(ServicingProbe, LooksAtEveryMatchUntilOneIsInstalled)
{
    Add({L"Package_1_for_KB4474419~31bf3856ad364e35~amd64~~6.1.1.3", kDword, 96});
    Add({L"Package_2_for_KB4474419~31bf3856ad364e35~amd64~~6.1.1.3", kNoValue, 0});
    Add({L"Package_3_for_KB4474419~31bf3856ad364e35~amd64~~6.1.1.3", kDword, 112});
    Add({L"Package_4_for_KB4474419~31bf3856ad364e35~amd64~~6.1.1.3", kDword, 0});
    ASSERT_EQ(4u, EnumerationOrder().size());
    ASSERT_NE(std::wstring::npos, EnumerationOrder()[0].find(L"_1_")) << "the registry must list by name here";

    EXPECT_TRUE(ProbeRecorded(L"KB4474419"));
    EXPECT_EQ(3u, g_script.enumCapacities.size()) << "the first installed match ends the walk";
    for (DWORD capacity : g_script.enumCapacities) {
        EXPECT_EQ(320u, capacity);
    }
}

TEST_F(ServicingProbe, NullKbIdWalksEveryPackageAndOpensNone)
{
    Add({kSsu, kDword, 112});
    Add({L"Package_for_KB4474419~31bf3856ad364e35~amd64~~6.1.1.3", kDword, 112});
    EXPECT_FALSE(ProbeRecorded(nullptr));
    EXPECT_EQ(3u, g_script.enumCapacities.size()) << "two packages and the end of the list";
    EXPECT_EQ(1u, g_script.opens.size()) << "the Packages key only";
}

TEST_F(ServicingProbe, NoPackagesKeyIsNotInstalled)
{
    ASSERT_FALSE(KeyExists(kPackages)) << "a fresh bench prefix has no servicing packages";
    EXPECT_FALSE(ProbeRecorded(L"KB4490628"));
    ASSERT_EQ(2u, g_script.opens.size()) << "both views tried";
    EXPECT_TRUE(g_script.enumCapacities.empty());
}

// A 32-bit host on 64-bit Windows must read the native view, where the servicing stack writes, and Windows does not
// carry a view flag over to keys opened relative to a handle: every open of the walk must name it. Wine keeps the
// view for relative opens and the twin is 64-bit anyway, so the registry cannot tell the views apart here; the flags
// are read from the calls.
TEST_F(ServicingProbe, EveryOpenOfTheWalkNamesTheViewThatOpenedThePackagesKey)
{
    Add({L"Package_1_for_KB4490628~31bf3856ad364e35~amd64~~6.1.1.2", kDword, 96});
    Add({L"Package_2_for_KB4490628~31bf3856ad364e35~amd64~~6.1.1.2", kDword, 112});
    const REGSAM nativeView = KEY_READ | KEY_WOW64_64KEY;  // 0x20119
    const REGSAM plainView = KEY_READ;                      // 0x20019
    // The plain view is the native one for the twin (and on 32-bit Windows); for the i686 build under WoW64 it is
    // the 32-bit view, where the servicing stack writes nothing: there the walk finds no package to open.
    const bool plainViewIsNative = sizeof(void *) == 8;
    struct Case {
        const char *label;
        REGSAM refused;  // an HKLM open with exactly this access fails
        REGSAM walkView;
        size_t machineOpens;
        bool seesPackages;
    };
    const Case cases[] = {
        {"native view", 0, nativeView, 1, true},
        {"native view refused, the plain view is the second way in", nativeView, plainView, 2, plainViewIsNative},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        g_script = Script();
        g_script.refusedMachineAccess = c.refused;
        EXPECT_EQ(c.seesPackages, ProbeRecorded(L"KB4490628"));
        ASSERT_EQ(c.machineOpens + (c.seesPackages ? 2 : 0), g_script.opens.size())
            << "the Packages key, then both package keys";
        EXPECT_TRUE(g_script.opens[0].fromMachineRoot);
        EXPECT_EQ(std::wstring(kPackages), g_script.opens[0].subKey);
        EXPECT_EQ(nativeView, g_script.opens[0].access) << "the native view first";
        EXPECT_TRUE(g_script.opens[c.machineOpens - 1].fromMachineRoot);
        EXPECT_EQ(c.walkView, g_script.opens[c.machineOpens - 1].access);
        for (size_t i = c.machineOpens; i < g_script.opens.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_FALSE(g_script.opens[i].fromMachineRoot) << "a package key opens relative to Packages";
            EXPECT_NE(std::wstring::npos, g_script.opens[i].subKey.find(L"KB4490628"));
            EXPECT_EQ(c.walkView, g_script.opens[i].access) << "a package key opened in another view";
        }
    }
}

// Registry names stop at 255 characters, so a name too long for the 320-character buffer is scripted.
TEST_F(ServicingProbe, ANameTooLongForTheBufferSkipsThatPackageOnly)
{
    Add({L"Package_1_for_KB4490628~31bf3856ad364e35~amd64~~6.1.1.2", kDword, 112});
    Add({L"Package_2_for_KB4490628~31bf3856ad364e35~amd64~~6.1.1.2", kDword, 112});
    g_script.tooLongAtIndex = 0;
    EXPECT_TRUE(ProbeRecorded(L"KB4490628"));
    EXPECT_EQ(2u, g_script.enumCapacities.size());

    g_script = Script();
    g_script.tooLongAtIndex = 1;
    EXPECT_TRUE(ProbeRecorded(L"KB4490628"));
    EXPECT_EQ(1u, g_script.enumCapacities.size());
}

DWORD WINAPI ProbeThread(void *answer)
{
    *static_cast<bool *>(answer) = IsServicingPackageInstalled(L"KB4490628");
    return 0;
}

// Once its key is deleted, the registry fails every further enumeration of the open handle with
// ERROR_KEY_DELETED, whatever the index: the probe must answer instead of walking on.
TEST_F(ServicingProbe, AKeyDeletedUnderTheWalkEndsIt)
{
    Add({L"Package_for_KB4474419~31bf3856ad364e35~amd64~~6.1.1.3", kDword, 112});
    Add({kSsu, kDword, 112});
    g_script.deletePackagesAtFirstEnum = true;
    g_script.recording = true;
    bool answer = true;
    HANDLE thread = CreateThread(nullptr, 0, ProbeThread, &answer, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    DWORD wait = WaitForSingleObject(thread, 10000);
    CloseHandle(thread);
    ASSERT_EQ(WAIT_OBJECT_0, wait) << "the probe kept walking a deleted key";
    g_script.recording = false;
    EXPECT_FALSE(answer);
    EXPECT_FALSE(KeyExists(kPackages));
    EXPECT_LE(g_script.enumCapacities.size(), 2u);
}

}  // namespace
