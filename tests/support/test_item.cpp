// The prerequisite records tests build. See test_item.h.
#include "support/test_item.h"

#include <wincrypt.h>

#include <vector>

namespace bench {

PackageFacts PackageOfFile(const std::wstring &path)
{
    PackageFacts facts = {};
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return facts;
    }
    facts.size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    std::vector<char> bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return facts;
    }
    char block[65536];
    DWORD got = 0;
    while (ReadFile(file, block, sizeof(block), &got, nullptr) && got > 0) {
        bytes.insert(bytes.end(), block, block + got);
    }
    CloseHandle(file);
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    DWORD length = 32;
    facts.valid = CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) &&
                  CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash) &&
                  CryptHashData(hash, reinterpret_cast<const BYTE *>(bytes.data()),
                                static_cast<DWORD>(bytes.size()), 0) &&
                  CryptGetHashParam(hash, HP_HASHVAL, facts.sha256, &length, 0) && length == 32;
    if (hash != 0) {
        CryptDestroyHash(hash);
    }
    if (provider != 0) {
        CryptReleaseContext(provider, 0);
    }
    return facts;
}

PackageFacts PackageOf(ULONGLONG size, const BYTE sha256[32])
{
    PackageFacts facts = {true, size, {}};
    CopyMemory(facts.sha256, sha256, sizeof(facts.sha256));
    return facts;
}

PackageFacts PackageOfDigest(ULONGLONG size, const wchar_t *sha256Hex)
{
    PackageFacts facts = {true, size, {}};
    for (int i = 0; i < 64; ++i) {
        wchar_t c = sha256Hex[i];
        int value = c >= L'0' && c <= L'9' ? c - L'0'
                    : c >= L'a' && c <= L'f' ? c - L'a' + 10
                    : c >= L'A' && c <= L'F' ? c - L'A' + 10
                                             : -1;
        if (value < 0) {
            facts.valid = false;
            return facts;
        }
        facts.sha256[i / 2] = static_cast<BYTE>(facts.sha256[i / 2] << 4 | value);
    }
    facts.valid = sha256Hex[64] == L'\0';
    return facts;
}

TestItem::TestItem(const PackageFacts &package, const std::wstring &fileName, bool update,
                   const std::wstring &primaryUrl, const std::wstring &fallbackUrl)
    : fileName_(fileName), primary_(), fallback_(fallbackUrl), sha256_(), valid_(package.valid), item_()
{
    SetPrimaryUrl(primaryUrl);
    CopyMemory(sha256_, package.sha256, sizeof(sha256_));
    item_.displayName = update ? L"Windows 7 测试更新 (KB0000001)" : L"Microsoft .NET Framework 4.8（测试）";
    item_.fileName = fileName_.c_str();
    item_.fallbackUrl = fallback_.empty() ? nullptr : fallback_.c_str();
    item_.infoPageUrl = L"https://localhost/info-page";
    item_.expectedSize = package.size;
    item_.sha256 = sha256_;
    item_.kbId = update ? L"KB0000001" : nullptr;
}

void TestItem::SetPrimaryUrl(const std::wstring &url)
{
    primary_ = url;
    item_.primaryUrl = primary_.c_str();
}

void TestItem::ShowAs(const PrerequisiteItem &entry)
{
    item_.displayName = entry.displayName;
    item_.kbId = entry.kbId;
    item_.infoPageUrl = entry.infoPageUrl;
}

}  // namespace bench
