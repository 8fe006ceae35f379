// The five prerequisites as constant records. Every definition is constexpr, so the compiler refuses anything that
// would need code at start-up: the records sit in read-only data before the first instruction of the host runs.
#include "prereq/catalog.h"

// The x86 and x64 builds of one update share these, so the window looks the same on both architectures.
static constexpr wchar_t kServicingStackName[] = L"Windows 7 服务堆栈补丁 KB4490628";
static constexpr wchar_t kServicingStackKb[] = L"KB4490628";
static constexpr wchar_t kServicingStackPage[] = L"https://www.catalog.update.microsoft.com/Search.aspx?q=KB4490628";
static constexpr wchar_t kSha2Name[] = L"Windows 7 SHA-2 补丁 KB4474419";
static constexpr wchar_t kSha2Kb[] = L"KB4474419";
static constexpr wchar_t kSha2Page[] = L"https://www.catalog.update.microsoft.com/Search.aspx?q=KB4474419";

// The plain-HTTP fallback keeps host and path: the digest, not the channel, is what vouches for the package.
#define UPDATE_FILES L"catalog.s.download.windowsupdate.com/c/msdownload/update/software/secu/2019/"
#define SERVICING_STACK_X86_FILE \
    UPDATE_FILES L"03/windows6.1-kb4490628-x86_3cdb3df55b9cd7ef7fcb24fc4e237ea287ad0992.msu"
#define SHA2_X86_FILE \
    UPDATE_FILES L"09/windows6.1-kb4474419-v3-x86_0f687d50402790f340087c576886501b3223bec6.msu"
#define SERVICING_STACK_X64_FILE \
    UPDATE_FILES L"03/windows6.1-kb4490628-x64_d3de52d6987f7c8bdc2c015dca69eac96047c76e.msu"
#define SHA2_X64_FILE \
    UPDATE_FILES L"09/windows6.1-kb4474419-v3-x64_b5614c6cea5cb4e198717789633dca16308ef79c.msu"
#define RUNTIME_FILE \
    L"download.microsoft.com/download/f/3/a/f3a6af84-da23-40a5-8d1c-49cc10c8e76f/NDP48-x86-x64-AllOS-ENU.exe"

static constexpr BYTE kServicingStackX86Sha256[32] = {
    0xb8, 0x68, 0x49, 0xfd, 0xa5, 0x70, 0xf9, 0x06, 0x01, 0x29, 0x92, 0xa0, 0x33, 0xf6, 0x34, 0x23,
    0x73, 0xc0, 0x0a, 0x3b, 0x3e, 0xc0, 0x08, 0x97, 0x80, 0xea, 0xbb, 0x08, 0x4a, 0x9a, 0x01, 0x82,
};
static constexpr BYTE kSha2X86Sha256[32] = {
    0x8c, 0xf4, 0x9f, 0xc7, 0xac, 0x61, 0xe0, 0xb2, 0x17, 0x85, 0x93, 0x13, 0xa9, 0x63, 0x37, 0xb1,
    0x49, 0xab, 0x41, 0xb3, 0x30, 0x7e, 0xb0, 0xd9, 0x52, 0x96, 0x15, 0x14, 0x2e, 0xa3, 0x4c, 0x6c,
};
static constexpr BYTE kServicingStackX64Sha256[32] = {
    0x80, 0x75, 0xf6, 0xd8, 0x89, 0xbc, 0xb2, 0x7b, 0xe6, 0xf5, 0x2e, 0xd4, 0x70, 0x81, 0x67, 0x5e,
    0x5b, 0xb8, 0xa5, 0x39, 0x0f, 0x2f, 0x5b, 0xfe, 0x4e, 0xc2, 0x7a, 0x2b, 0xb7, 0x0c, 0xbf, 0x5e,
};
static constexpr BYTE kSha2X64Sha256[32] = {
    0x99, 0x31, 0x2d, 0xf7, 0x92, 0xb3, 0x76, 0xf0, 0x2e, 0x25, 0x60, 0x7d, 0x2e, 0xb3, 0x35, 0x57,
    0x25, 0xc4, 0x7d, 0x12, 0x4d, 0x8d, 0xa2, 0x53, 0x19, 0x31, 0x95, 0x51, 0x5f, 0xe9, 0x02, 0x13,
};
static constexpr BYTE kNetFramework48Sha256[32] = {
    0x0a, 0x3a, 0x39, 0x0c, 0x47, 0xe6, 0x39, 0xd0, 0xf7, 0xfc, 0x65, 0xb2, 0x11, 0x95, 0xfe, 0xe6,
    0xb7, 0xf6, 0x5b, 0x06, 0x6f, 0x80, 0xf7, 0x0c, 0x60, 0xfa, 0xb1, 0x91, 0xd1, 0x4b, 0x7e, 0x40,
};

extern constexpr PrerequisiteItem ServicingStackUpdateX86 = {
    kServicingStackName,
    L"windows6.1-kb4490628-x86.msu",
    L"https://" SERVICING_STACK_X86_FILE,
    L"http://" SERVICING_STACK_X86_FILE,
    kServicingStackPage,
    4217422ull,
    kServicingStackX86Sha256,
    kServicingStackKb,
};

extern constexpr PrerequisiteItem Sha2UpdateX86 = {
    kSha2Name,
    L"windows6.1-kb4474419-v3-x86.msu",
    L"https://" SHA2_X86_FILE,
    L"http://" SHA2_X86_FILE,
    kSha2Page,
    35919018ull,
    kSha2X86Sha256,
    kSha2Kb,
};

extern constexpr PrerequisiteItem ServicingStackUpdateX64 = {
    kServicingStackName,
    L"windows6.1-kb4490628-x64.msu",
    L"https://" SERVICING_STACK_X64_FILE,
    L"http://" SERVICING_STACK_X64_FILE,
    kServicingStackPage,
    9543846ull,
    kServicingStackX64Sha256,
    kServicingStackKb,
};

extern constexpr PrerequisiteItem Sha2UpdateX64 = {
    kSha2Name,
    L"windows6.1-kb4474419-v3-x64.msu",
    L"https://" SHA2_X64_FILE,
    L"http://" SHA2_X64_FILE,
    kSha2Page,
    55853327ull,
    kSha2X64Sha256,
    kSha2Kb,
};

extern constexpr PrerequisiteItem NetFramework48 = {
    L"Microsoft .NET Framework 4.8",
    L"NDP48-x86-x64-AllOS-ENU.exe",
    L"https://" RUNTIME_FILE,
    L"http://" RUNTIME_FILE,
    L"https://dotnet.microsoft.com/en-us/download/dotnet-framework/net48",
    121346568ull,
    kNetFramework48Sha256,
    nullptr,
};
