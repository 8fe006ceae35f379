// The one record an installer window shares with its worker thread (download or installation), with the window's
// control identifiers and the two messages a worker posts as its last act. No locks: every shared field is touched
// only through the interlocked accessors below.
#pragma once
#include <windows.h>
#include <winhttp.h>

#include <cstddef>

#include "prereq/catalog.h"

#define IDC_PROGRESS 201
#define IDC_STATUS 202
#define IDC_ACTION 203
#define IDC_WEBPAGE 204
#define IDC_CLOSE 205

#define WM_APP_DOWNLOAD_DONE (WM_APP + 21)
#define WM_APP_INSTALL_DONE (WM_APP + 22)

struct InstallerContext {
    HWND hwnd;                        // fixed before any worker starts
    HANDLE worker;                    // window thread only
    volatile LONG cancelRequested;    // flags: 0 or 1, interlocked
    volatile LONG failed;
    volatile LONG downloading;
    volatile LONG packageReady;
    volatile LONG installing;
    volatile LONG installerExitCode;  // unsigned 32-bit value, interlocked
    HINTERNET volatile request;       // open request of the running download, interlocked
    const PrerequisiteItem *item;     // fixed before any worker starts
    wchar_t packagePath[MAX_PATH];    // fixed before any worker starts
    wchar_t errorText[280];           // written by the one worker while it runs, read after its message
    alignas(8) volatile LONG64 bytesReceived;  // 64-bit interlocked, also on the 32-bit build
    alignas(8) volatile LONG64 bytesTotal;
};

// Checked wherever the record is compiled, the 32-bit product included, which is the build where they can fail: its
// 8-byte interlocked operations need naturally aligned counters. The field order is the record's documented one; no
// code reads a field by its offset, so the order check only keeps the declaration and its description together.
static_assert(alignof(InstallerContext) >= 8, "the record must be 8-byte aligned");
static_assert(offsetof(InstallerContext, bytesReceived) % 8 == 0, "bytesReceived must be 8-byte aligned");
static_assert(offsetof(InstallerContext, bytesTotal) % 8 == 0, "bytesTotal must be 8-byte aligned");
static_assert(sizeof(InstallerContext::bytesReceived) == 8 && sizeof(InstallerContext::bytesTotal) == 8 &&
                  sizeof(InstallerContext::installerExitCode) == 4 && sizeof(InstallerContext::cancelRequested) == 4,
              "64-bit counters, 32-bit flags and exit code");
static_assert(sizeof(InstallerContext::request) == sizeof(void *), "the request slot holds a whole pointer");
static_assert(offsetof(InstallerContext, hwnd) < offsetof(InstallerContext, worker) &&
                  offsetof(InstallerContext, worker) < offsetof(InstallerContext, cancelRequested) &&
                  offsetof(InstallerContext, cancelRequested) < offsetof(InstallerContext, failed) &&
                  offsetof(InstallerContext, failed) < offsetof(InstallerContext, downloading) &&
                  offsetof(InstallerContext, downloading) < offsetof(InstallerContext, packageReady) &&
                  offsetof(InstallerContext, packageReady) < offsetof(InstallerContext, installing) &&
                  offsetof(InstallerContext, installing) < offsetof(InstallerContext, installerExitCode) &&
                  offsetof(InstallerContext, installerExitCode) < offsetof(InstallerContext, request) &&
                  offsetof(InstallerContext, request) < offsetof(InstallerContext, item) &&
                  offsetof(InstallerContext, item) < offsetof(InstallerContext, packagePath) &&
                  offsetof(InstallerContext, packagePath) < offsetof(InstallerContext, errorText) &&
                  offsetof(InstallerContext, errorText) < offsetof(InstallerContext, bytesReceived) &&
                  offsetof(InstallerContext, bytesReceived) < offsetof(InstallerContext, bytesTotal),
              "fields in their documented order");
static_assert(sizeof(InstallerContext::packagePath) / sizeof(wchar_t) == MAX_PATH &&
                  sizeof(InstallerContext::errorText) / sizeof(wchar_t) == 280,
              "buffer capacities");

// A fresh record: everything zero but installerExitCode, which starts as ERROR_CANCELLED (1223).
void InitInstallerContext(InstallerContext *context);

// Flags and installerExitCode: a write is an exchange, a read a compare-exchange of 0 with 0.
void StoreFlag(volatile LONG *flag, LONG value);
LONG LoadFlag(volatile LONG *flag);
// Compare-exchange from 0 to 1: true when this call set the flag.
bool TestAndSetFlag(volatile LONG *flag);
void StoreExitCode(InstallerContext *context, DWORD code);
DWORD LoadExitCode(InstallerContext *context);

// The 64-bit counters: a compare-exchange loop to store, a compare-exchange of 0 with 0 to load, so that a 32-bit
// reader never sees half an update.
void StoreCounter(volatile LONG64 *counter, ULONGLONG value);
ULONGLONG LoadCounter(volatile LONG64 *counter);

// The request handle: both the download engine and a cancelling window take it out with an exchange, and whoever
// gets a non-null handle closes it, so it is closed exactly once.
HINTERNET ExchangeRequest(InstallerContext *context, HINTERNET request);
