// The test catalogue: update records whose size and digest are those of one small body (hashlib computed the digest).
#include "support/test_update_catalog.h"

#include "support/bench.h"

namespace {

const char kBody[] = "MSCF\0\0\0\0 a test update";  // 23 bytes with the terminator
constexpr BYTE kBodySha256[32] = {
    0x58, 0x2c, 0x6a, 0x8c, 0xf4, 0x6e, 0x7d, 0xe8, 0xae, 0x42, 0x0e, 0x22, 0x74, 0x01, 0xf2, 0xc5,
    0x0c, 0x2f, 0x53, 0x0c, 0xe7, 0xc8, 0xd8, 0x35, 0xb2, 0x4e, 0x00, 0xc2, 0x18, 0x51, 0xef, 0x56,
};
constexpr BYTE kNothing[32] = {};

}  // namespace

#define TEST_UPDATE(name, file, kb)                                                                                  \
    extern const PrerequisiteItem name = {L"Windows 7 测试更新 (" kb L")", file, L"http://127.0.0.1:9/none",          \
                                          nullptr, L"https://localhost/info-page", sizeof(kBody), kBodySha256, kb}
TEST_UPDATE(ServicingStackUpdateX86, L"windows6.1-kb4490628-x86.msu", L"KB4490628");
TEST_UPDATE(Sha2UpdateX86, L"windows6.1-kb4474419-v3-x86.msu", L"KB4474419");
TEST_UPDATE(ServicingStackUpdateX64, L"windows6.1-kb4490628-x64.msu", L"KB4490628");
TEST_UPDATE(Sha2UpdateX64, L"windows6.1-kb4474419-v3-x64.msu", L"KB4474419");
extern const PrerequisiteItem NetFramework48 = {L"unused", L"unused.exe", L"http://127.0.0.1:9/none", nullptr,
                                                L"https://localhost/", 1, kNothing, nullptr};

namespace bench {

bool WriteTestUpdate(const std::wstring &path)
{
    return WriteBytes(path, kBody, sizeof(kBody));
}

}  // namespace bench
