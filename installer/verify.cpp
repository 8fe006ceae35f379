// A package is trusted only when it is byte for byte the catalogue's file. The tests run cheapest first because
// packages reach 120 MB: the size comes from the directory entry, the signature from one small read, and only then
// the one sequential digest pass. Both opens share reading only, so a file that someone is still writing fails.
#include "installer/verify.h"

#include <wincrypt.h>

static const BYTE kCabinetSignature[4] = {0x4D, 0x53, 0x43, 0x46};  // "MSCF": an update package
static const BYTE kExecutableSignature[2] = {0x4D, 0x5A};           // "MZ": the runtime's installer

static bool StartsWithSignature(const wchar_t *path, const BYTE *signature, DWORD length)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    BYTE head[4] = {0, 0, 0, 0};
    DWORD got = 0;
    BOOL read = ReadFile(file, head, length, &got, nullptr);
    CloseHandle(file);
    if (!read || got != length) {
        return false;
    }
    for (DWORD i = 0; i < length; ++i) {
        if (head[i] != signature[i]) {
            return false;
        }
    }
    return true;
}

bool VerifyPackage(const wchar_t *path, const PrerequisiteItem *item)
{
    WIN32_FILE_ATTRIBUTE_DATA attributes;
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &attributes)) {
        return false;
    }
    if (item == nullptr) {
        return false;
    }
    ULONGLONG size = (static_cast<ULONGLONG>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow;
    if (size != item->expectedSize) {
        return false;
    }
    bool signatureMatches = item->kbId != nullptr ? StartsWithSignature(path, kCabinetSignature, 4)
                                                  : StartsWithSignature(path, kExecutableSignature, 2);
    if (!signatureMatches) {
        return false;
    }
    return FileSha256Matches(path, item->sha256);
}

// Feeds the whole file to the hash in blocks and compares the finished digest with the expected bytes.
static bool HashedFileMatches(HCRYPTHASH hash, HANDLE file, const BYTE *expected)
{
    BYTE block[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, block, sizeof(block), &got, nullptr)) {
            return false;
        }
        if (got == 0) {
            break;
        }
        if (!CryptHashData(hash, block, got, 0)) {
            return false;
        }
    }
    BYTE digest[32];
    DWORD digestLength = 32;
    if (!CryptGetHashParam(hash, HP_HASHVAL, digest, &digestLength, 0) || digestLength != 32) {
        return false;
    }
    for (int i = 0; i < 32; ++i) {
        if (digest[i] != expected[i]) {
            return false;
        }
    }
    return true;
}

bool FileSha256Matches(const wchar_t *path, const BYTE *expected)
{
    // An ephemeral context: hashing needs no key container, and none is created or touched.
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) {
        return false;
    }
    bool matches = false;
    HCRYPTHASH hash = 0;
    if (CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash)) {
        HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            matches = HashedFileMatches(hash, file, expected);
            CloseHandle(file);
        }
        CryptDestroyHash(hash);
    }
    CryptReleaseContext(provider, 0);
    return matches;
}
