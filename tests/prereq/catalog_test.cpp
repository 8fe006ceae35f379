// The catalogue against the published tables, written out here in full, and the rules every entry keeps.
#include <gtest/gtest.h>

#include <string>

#include "prereq/catalog.h"
#include "support/expected_text.h"

namespace {

struct Expected {
    const char *name;
    const PrerequisiteItem *item;
    const wchar_t *displayName;
    const wchar_t *fileName;
    const wchar_t *primaryUrl;
    const wchar_t *fallbackUrl;
    const wchar_t *infoPageUrl;
    ULONGLONG expectedSize;
    const char *sha256Hex;
    const wchar_t *kbId;
};

const Expected kTable[] = {
    {"ServicingStackUpdateX86", &ServicingStackUpdateX86, bench::text::kServicingStackTitle,
     L"windows6.1-kb4490628-x86.msu",
     L"https://catalog.s.download.windowsupdate.com/c/msdownload/update/software/secu/2019/03/"
     L"windows6.1-kb4490628-x86_3cdb3df55b9cd7ef7fcb24fc4e237ea287ad0992.msu",
     L"http://catalog.s.download.windowsupdate.com/c/msdownload/update/software/secu/2019/03/"
     L"windows6.1-kb4490628-x86_3cdb3df55b9cd7ef7fcb24fc4e237ea287ad0992.msu",
     L"https://www.catalog.update.microsoft.com/Search.aspx?q=KB4490628", 4217422ull,
     "b86849fda570f906012992a033f6342373c00a3b3ec0089780eabb084a9a0182", L"KB4490628"},
    {"Sha2UpdateX86", &Sha2UpdateX86, bench::text::kSha2Title, L"windows6.1-kb4474419-v3-x86.msu",
     L"https://catalog.s.download.windowsupdate.com/c/msdownload/update/software/secu/2019/09/"
     L"windows6.1-kb4474419-v3-x86_0f687d50402790f340087c576886501b3223bec6.msu",
     L"http://catalog.s.download.windowsupdate.com/c/msdownload/update/software/secu/2019/09/"
     L"windows6.1-kb4474419-v3-x86_0f687d50402790f340087c576886501b3223bec6.msu",
     L"https://www.catalog.update.microsoft.com/Search.aspx?q=KB4474419", 35919018ull,
     "8cf49fc7ac61e0b217859313a96337b149ab41b3307eb0d9529615142ea34c6c", L"KB4474419"},
    {"ServicingStackUpdateX64", &ServicingStackUpdateX64, bench::text::kServicingStackTitle,
     L"windows6.1-kb4490628-x64.msu",
     L"https://catalog.s.download.windowsupdate.com/c/msdownload/update/software/secu/2019/03/"
     L"windows6.1-kb4490628-x64_d3de52d6987f7c8bdc2c015dca69eac96047c76e.msu",
     L"http://catalog.s.download.windowsupdate.com/c/msdownload/update/software/secu/2019/03/"
     L"windows6.1-kb4490628-x64_d3de52d6987f7c8bdc2c015dca69eac96047c76e.msu",
     L"https://www.catalog.update.microsoft.com/Search.aspx?q=KB4490628", 9543846ull,
     "8075f6d889bcb27be6f52ed47081675e5bb8a5390f2f5bfe4ec27a2bb70cbf5e", L"KB4490628"},
    {"Sha2UpdateX64", &Sha2UpdateX64, bench::text::kSha2Title, L"windows6.1-kb4474419-v3-x64.msu",
     L"https://catalog.s.download.windowsupdate.com/c/msdownload/update/software/secu/2019/09/"
     L"windows6.1-kb4474419-v3-x64_b5614c6cea5cb4e198717789633dca16308ef79c.msu",
     L"http://catalog.s.download.windowsupdate.com/c/msdownload/update/software/secu/2019/09/"
     L"windows6.1-kb4474419-v3-x64_b5614c6cea5cb4e198717789633dca16308ef79c.msu",
     L"https://www.catalog.update.microsoft.com/Search.aspx?q=KB4474419", 55853327ull,
     "99312df792b376f02e25607d2eb3355725c47d124d8da253193195515fe90213", L"KB4474419"},
    {"NetFramework48", &NetFramework48, bench::text::kRuntimeTitle, L"NDP48-x86-x64-AllOS-ENU.exe",
     L"https://download.microsoft.com/download/f/3/a/f3a6af84-da23-40a5-8d1c-49cc10c8e76f/"
     L"NDP48-x86-x64-AllOS-ENU.exe",
     L"http://download.microsoft.com/download/f/3/a/f3a6af84-da23-40a5-8d1c-49cc10c8e76f/"
     L"NDP48-x86-x64-AllOS-ENU.exe",
     L"https://dotnet.microsoft.com/en-us/download/dotnet-framework/net48", 121346568ull,
     "0a3a390c47e639d0f7fc65b21195fee6b7f65b066f80f70c60fab191d14b7e40", nullptr},
};

std::string Hex(const BYTE *bytes, size_t size)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < size; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

struct Address {
    std::wstring scheme;
    std::wstring host;  // with the port, if one was written
    std::wstring rest;  // path and query
};

Address Split(const std::wstring &url)
{
    Address a;
    size_t colon = url.find(L"://");
    a.scheme = url.substr(0, colon);
    size_t slash = url.find(L'/', colon + 3);
    a.host = url.substr(colon + 3, slash - colon - 3);
    a.rest = slash == std::wstring::npos ? L"" : url.substr(slash);
    return a;
}

bool EndsWith(const std::wstring &text, const std::wstring &tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

TEST(Catalog, EveryFieldMatchesTheTables)
{
    for (const Expected &e : kTable) {
        SCOPED_TRACE(e.name);
        const PrerequisiteItem &item = *e.item;
        EXPECT_STREQ(e.displayName, item.displayName);
        EXPECT_STREQ(e.fileName, item.fileName);
        EXPECT_STREQ(e.primaryUrl, item.primaryUrl);
        EXPECT_STREQ(e.fallbackUrl, item.fallbackUrl);
        EXPECT_STREQ(e.infoPageUrl, item.infoPageUrl);
        EXPECT_EQ(e.expectedSize, item.expectedSize);
        ASSERT_NE(nullptr, item.sha256);
        EXPECT_EQ(e.sha256Hex, Hex(item.sha256, 32));
        if (e.kbId == nullptr) {
            EXPECT_EQ(nullptr, item.kbId);
        } else {
            EXPECT_STREQ(e.kbId, item.kbId);
        }
    }
}

TEST(Catalog, EveryEntryKeepsTheAddressAndKindRules)
{
    for (const Expected &e : kTable) {
        SCOPED_TRACE(e.name);
        const PrerequisiteItem &item = *e.item;
        for (const wchar_t *text : {item.displayName, item.fileName, item.primaryUrl, item.fallbackUrl,
                                    item.infoPageUrl}) {
            ASSERT_NE(nullptr, text);
            EXPECT_NE(L'\0', text[0]);
        }

        Address primary = Split(item.primaryUrl);
        Address fallback = Split(item.fallbackUrl);
        EXPECT_EQ(L"https", primary.scheme);
        EXPECT_EQ(L"http", fallback.scheme);
        EXPECT_EQ(primary.host, fallback.host);
        EXPECT_EQ(primary.rest, fallback.rest);
        EXPECT_EQ(std::wstring::npos, fallback.host.find(L':')) << "no explicit port";
        EXPECT_EQ(std::wstring::npos, fallback.rest.find(L'?')) << "no query";
        EXPECT_EQ(L"https", Split(item.infoPageUrl).scheme);

        // The package is saved under the short name; an update's address carries a 40-digit suffix before ".msu".
        std::wstring lastSegment = primary.rest.substr(primary.rest.rfind(L'/') + 1);
        bool isUpdate = EndsWith(item.fileName, L".msu");
        EXPECT_EQ(isUpdate, item.kbId != nullptr) << "kbId exactly for the .msu packages";
        if (isUpdate) {
            std::wstring stem = std::wstring(item.fileName).substr(0, lstrlenW(item.fileName) - 4);
            ASSERT_EQ(stem.size() + 1 + 40 + 4, lastSegment.size());
            EXPECT_EQ(stem + L"_", lastSegment.substr(0, stem.size() + 1));
            EXPECT_EQ(std::wstring::npos,
                      lastSegment.substr(stem.size() + 1, 40).find_first_not_of(L"0123456789abcdef"));
            EXPECT_TRUE(EndsWith(lastSegment, L".msu"));
        } else {
            EXPECT_EQ(std::wstring(item.fileName), lastSegment);
        }
    }
}

TEST(Catalog, BothBuildsOfAnUpdateLookAlikeButFetchDifferentFiles)
{
    const PrerequisiteItem *pairs[][2] = {{&ServicingStackUpdateX86, &ServicingStackUpdateX64},
                                          {&Sha2UpdateX86, &Sha2UpdateX64}};
    for (auto &pair : pairs) {
        const PrerequisiteItem &x86 = *pair[0];
        const PrerequisiteItem &x64 = *pair[1];
        SCOPED_TRACE(::testing::PrintToString(x86.kbId));
        EXPECT_STREQ(x86.displayName, x64.displayName);
        EXPECT_STREQ(x86.kbId, x64.kbId);
        EXPECT_STREQ(x86.infoPageUrl, x64.infoPageUrl);
        EXPECT_STRNE(x86.fileName, x64.fileName);
        EXPECT_STRNE(x86.primaryUrl, x64.primaryUrl);
        EXPECT_NE(x86.expectedSize, x64.expectedSize);
        EXPECT_NE(Hex(x86.sha256, 32), Hex(x64.sha256, 32));
    }
}

// Data that needed code at start-up would sit in writable memory; constant records live in read-only pages.
TEST(Catalog, RecordsAndDigestsLiveInReadOnlyMemory)
{
    for (const Expected &e : kTable) {
        SCOPED_TRACE(e.name);
        for (const void *address : {static_cast<const void *>(e.item), static_cast<const void *>(e.item->sha256),
                                    static_cast<const void *>(e.item->primaryUrl)}) {
            MEMORY_BASIC_INFORMATION info = {};
            ASSERT_NE(0u, VirtualQuery(address, &info, sizeof(info)));
            EXPECT_EQ(static_cast<DWORD>(PAGE_READONLY), info.Protect);
        }
    }
}

}  // namespace
