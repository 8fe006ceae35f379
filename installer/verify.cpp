// A package is trusted only when it is byte for byte the catalogue's file. The tests run cheapest first because
// packages reach 120 MB: the size first, the signature from one small read, and only then the one sequential digest
// pass, all through one open. One body serves both callers: the path form opens the file sharing reading only (so a file that someone is
// still writing fails), and the handle form judges exactly the file that its caller holds, whatever the path now
// names, which is what an installer started afterwards must receive.
#include "installer/verify.h"

#include <wincrypt.h>

static const BYTE kCabinetSignature[4] = {0x4D, 0x53, 0x43, 0x46};  // "MSCF": an update package
static const BYTE kExecutableSignature[2] = {0x4D, 0x5A};           // "MZ": the runtime's installer

static bool RewindFile(HANDLE file)
{
    LARGE_INTEGER start = {};
    return SetFilePointerEx(file, start, nullptr, FILE_BEGIN) != FALSE;
}

static bool StartsWithSignature(HANDLE file, const BYTE *signature, DWORD length)
{
    BYTE head[4] = {0, 0, 0, 0};
    DWORD got = 0;
    if (!RewindFile(file) || !ReadFile(file, head, length, &got, nullptr) || got != length) {
        return false;
    }
    for (DWORD i = 0; i < length; ++i) {
        if (head[i] != signature[i]) {
            return false;
        }
    }
    return true;
}

// Feeds the whole file to the hash in blocks and compares the finished digest with the expected bytes.
static bool HashedFileMatches(HCRYPTHASH hash, HANDLE file, const BYTE *expected)
{
    BYTE block[65536];
    if (!RewindFile(file)) {
        return false;
    }
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

bool HeldFileSha256Matches(HANDLE file, const BYTE *expected)
{
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    bool matches = false;

    // An ephemeral context: hashing needs no key container, and none is created or touched.
    if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) goto cleanup;
    if (!CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash)) goto cleanup;
    matches = HashedFileMatches(hash, file, expected);

cleanup:
    if (hash != 0) CryptDestroyHash(hash);
    if (provider != 0) CryptReleaseContext(provider, 0);
    return matches;
}

bool VerifyHeldPackage(HANDLE file, const PrerequisiteItem *item)
{
    LARGE_INTEGER size = {};
    if (file == INVALID_HANDLE_VALUE || item == nullptr || !GetFileSizeEx(file, &size)) {
        return false;
    }
    if (static_cast<ULONGLONG>(size.QuadPart) != item->expectedSize) {
        return false;
    }
    bool signatureMatches = item->kbId != nullptr ? StartsWithSignature(file, kCabinetSignature, 4)
                                                  : StartsWithSignature(file, kExecutableSignature, 2);
    return signatureMatches && HeldFileSha256Matches(file, item->sha256);
}

static HANDLE OpenForReading(const wchar_t *path)
{
    return CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

bool VerifyPackage(const wchar_t *path, const PrerequisiteItem *item)
{
    // The size from the directory entry first: a wrong file is refused without being opened at all.
    WIN32_FILE_ATTRIBUTE_DATA attributes;
    if (item == nullptr || !GetFileAttributesExW(path, GetFileExInfoStandard, &attributes)) {
        return false;
    }
    ULONGLONG size = (static_cast<ULONGLONG>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow;
    if (size != item->expectedSize) {
        return false;
    }
    HANDLE file = OpenForReading(path);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool verified = VerifyHeldPackage(file, item);
    CloseHandle(file);
    return verified;
}

bool FileSha256Matches(const wchar_t *path, const BYTE *expected)
{
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    HANDLE file = INVALID_HANDLE_VALUE;
    bool matches = false;

    // An ephemeral context, as above; the file is opened last and closed first.
    if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) goto cleanup;
    if (!CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash)) goto cleanup;
    file = OpenForReading(path);
    if (file == INVALID_HANDLE_VALUE) goto cleanup;
    matches = HashedFileMatches(hash, file, expected);

cleanup:
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    if (hash != 0) CryptDestroyHash(hash);
    if (provider != 0) CryptReleaseContext(provider, 0);
    return matches;
}
