// Benchmark of the download engine (not a test; scripts/bench-download.sh runs it against the bench server): one
// process per measurement, so that its peak memory belongs to that download alone.
//   download_benchmark engine URL SIZE SHA256HEX PACKAGE_PATH   DownloadPackage, as the download thread runs it
//   download_benchmark bare URL [FILE]                          the same GET with a bare WinHTTP read loop; with
//                                                               FILE, each chunk is also written there (one WriteFile)
//                                                               and the file then gets one raw CryptoAPI SHA-256
//                                                               pass, timed on its own
// Prints key=value lines: bytes, seconds (the whole call: for the engine with its verification and move, for the bare
// loop with closing its handles and file), transfer_seconds (until the last byte was counted, or the loop ended),
// mib_per_s, transfer_mib_per_s, and the process's memory counters; with FILE also hash_seconds (the SHA-256 pass
// after the loop) and the sha256 of what was written.
#include <windows.h>
#include <wincrypt.h>
#include <psapi.h>
#include <winhttp.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "installer/download.h"
#include "support/bench_clock.h"
#include "support/test_item.h"

namespace {

void PrintMemory()
{
    PROCESS_MEMORY_COUNTERS_EX memory = {};
    memory.cb = sizeof(memory);
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS *>(&memory), sizeof(memory));
    std::printf("private_usage=%llu\npeak_pagefile_usage=%llu\npeak_working_set=%llu\n",
                static_cast<unsigned long long>(memory.PrivateUsage),
                static_cast<unsigned long long>(memory.PeakPagefileUsage),
                static_cast<unsigned long long>(memory.PeakWorkingSetSize));
}

void PrintRate(const char *mode, unsigned long long bytes, double seconds, double transferSeconds)
{
    std::printf("mode=%s\nbytes=%llu\nseconds=%.3f\ntransfer_seconds=%.3f\nmib_per_s=%.1f\ntransfer_mib_per_s=%.1f\n",
                mode, bytes, seconds, transferSeconds, static_cast<double>(bytes) / 1048576.0 / seconds,
                static_cast<double>(bytes) / 1048576.0 / transferSeconds);
}

struct Watch {
    InstallerContext *context;
    ULONGLONG size;
    volatile LONG stop;
    double lastByteAt;
};

// Notes when the counter reaches the full size, as the window's timer would see it, only far more often.
DWORD WINAPI WatchCounter(void *parameter)
{
    Watch *watch = static_cast<Watch *>(parameter);
    while (InterlockedCompareExchange(&watch->stop, 0, 0) == 0) {
        if (LoadCounter(&watch->context->bytesReceived) == watch->size) {
            watch->lastByteAt = bench::ClockSeconds();
            return 0;
        }
        Sleep(1);
    }
    return 0;
}

int RunEngine(const wchar_t *url, ULONGLONG size, const wchar_t *digestHex, const wchar_t *packagePath)
{
    bench::TestItem item(bench::PackageOfDigest(size, digestHex), L"big.exe", false, url);
    if (!item.valid()) {
        std::fprintf(stderr, "bad digest\n");
        return 2;
    }
    static InstallerContext context;
    InitInstallerContext(&context);
    context.item = item.get();
    lstrcpynW(context.packagePath, packagePath, MAX_PATH);
    DeleteFileW(packagePath);

    Watch watch = {&context, size, 0, 0.0};
    HANDLE watcher = CreateThread(nullptr, 0, WatchCounter, &watch, 0, nullptr);
    double started = bench::ClockSeconds();
    bool ok = DownloadPackage(&context);
    double ended = bench::ClockSeconds();
    InterlockedExchange(&watch.stop, 1);
    WaitForSingleObject(watcher, INFINITE);
    CloseHandle(watcher);
    if (!ok) {
        std::printf("error=%ls\n", context.errorText);
        return 1;
    }
    PrintRate("engine", size, ended - started, (watch.lastByteAt > 0 ? watch.lastByteAt : ended) - started);
    PrintMemory();
    DeleteFileW(packagePath);
    return 0;
}

// The reference for the engine's verification: one sequential SHA-256 pass over the file with CryptoAPI, context
// set-up included, in 65536-byte reads as the verification makes them. Fills hex (65 characters) on success.
bool HashFile(const wchar_t *filePath, char *hex)
{
    static BYTE block[65536];
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    HANDLE file = INVALID_HANDLE_VALUE;
    BYTE digest[32];
    DWORD digestLength = sizeof(digest);
    bool ok = CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) &&
              CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash);
    if (ok) {
        file = CreateFileW(filePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        ok = file != INVALID_HANDLE_VALUE;
    }
    for (DWORD got = 0; ok; ) {
        ok = ReadFile(file, block, sizeof(block), &got, nullptr) != FALSE;
        if (!ok || got == 0) {
            break;
        }
        ok = CryptHashData(hash, block, got, 0) != FALSE;
    }
    ok = ok && CryptGetHashParam(hash, HP_HASHVAL, digest, &digestLength, 0) && digestLength == sizeof(digest);
    for (int i = 0; ok && i < 32; ++i) {
        std::snprintf(hex + i * 2, 3, "%02x", digest[i]);
    }
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
    if (hash != 0) {
        CryptDestroyHash(hash);
    }
    if (provider != 0) {
        CryptReleaseContext(provider, 0);
    }
    return ok;
}

int RunBare(const wchar_t *url, const wchar_t *filePath)
{
    static BYTE chunk[65536];
    wchar_t host[256];
    wchar_t path[1024];
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.lpszHostName = host;
    parts.dwHostNameLength = 256;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = 1024;
    if (!WinHttpCrackUrl(url, 0, 0, &parts)) {
        return 2;
    }
    HANDLE file = INVALID_HANDLE_VALUE;
    if (filePath != nullptr) {
        file = CreateFileW(filePath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return 2;
        }
    }
    double started = bench::ClockSeconds();
    HINTERNET session = WinHttpOpen(L"Velvaro/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                    WINHTTP_NO_PROXY_BYPASS, 0);
    HINTERNET connection = session != nullptr ? WinHttpConnect(session, host, parts.nPort, 0) : nullptr;
    HINTERNET request = connection != nullptr
                            ? WinHttpOpenRequest(connection, L"GET", path, nullptr, WINHTTP_NO_REFERER,
                                                 WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                 parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0)
                            : nullptr;
    unsigned long long total = 0;
    bool ok = request != nullptr && WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                                       WINHTTP_NO_REQUEST_DATA, 0, 0, 0) &&
              WinHttpReceiveResponse(request, nullptr);
    while (ok) {
        DWORD ready = 0;
        DWORD got = 0;
        if (!WinHttpQueryDataAvailable(request, &ready) || ready == 0) {
            break;
        }
        if (!WinHttpReadData(request, chunk, ready < sizeof(chunk) ? ready : sizeof(chunk), &got) || got == 0) {
            break;
        }
        DWORD written = 0;
        if (file != INVALID_HANDLE_VALUE && (!WriteFile(file, chunk, got, &written, nullptr) || written != got)) {
            ok = false;
            break;
        }
        total += got;
    }
    double transferEnded = bench::ClockSeconds();
    if (request != nullptr) {
        WinHttpCloseHandle(request);
    }
    if (connection != nullptr) {
        WinHttpCloseHandle(connection);
    }
    if (session != nullptr) {
        WinHttpCloseHandle(session);
    }
    if (!ok) {
        std::printf("error=%lu\n", GetLastError());
    }
    // Like the engine's whole call, the loop's time includes closing what it opened.
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
    double ended = bench::ClockSeconds();
    double hashSeconds = 0;
    char hex[65] = "";
    if (file != INVALID_HANDLE_VALUE) {
        double hashStarted = bench::ClockSeconds();
        if (ok && !HashFile(filePath, hex)) {
            std::printf("error=%lu\n", GetLastError());
            ok = false;
        }
        hashSeconds = bench::ClockSeconds() - hashStarted;
        DeleteFileW(filePath);
    }
    if (!ok) {
        return 1;
    }
    PrintRate(filePath != nullptr ? "bare-write" : "bare", total, ended - started, transferEnded - started);
    if (filePath != nullptr) {
        std::printf("hash_seconds=%.3f\nsha256=%s\n", hashSeconds, hex);
    }
    PrintMemory();
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc == 6 && std::wcscmp(argv[1], L"engine") == 0 && std::wcslen(argv[4]) == 64) {
        return RunEngine(argv[2], std::wcstoull(argv[3], nullptr, 10), argv[4], argv[5]);
    }
    if ((argc == 3 || argc == 4) && std::wcscmp(argv[1], L"bare") == 0) {
        return RunBare(argv[2], argc == 4 ? argv[3] : nullptr);
    }
    std::fprintf(stderr, "usage: download_benchmark engine URL SIZE SHA256HEX PACKAGE_PATH | bare URL [FILE]\n");
    return 2;
}
