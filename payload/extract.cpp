// Writing the payload once per version: the file name carries a hash of the payload's bytes, so a host with another
// payload writes beside the old file. A copy already there is trusted only after its bytes have been compared with the
// payload's, through a handle that keeps anyone from changing it until the payload runs: a file of the right size can
// be a power cut's zeros, or something another program put there for an elevated host to start. A new copy is written
// under a temporary name, flushed and moved into place in one step, so the final name never holds a partial copy and
// hosts started together never open the same file for writing.
#include "payload/extract.h"

#include <shlobj.h>
#include <string.h>

#include "common/bounded_text.h"
#include "common/path_text.h"
#include "payload/stale_copies.h"

// How long a host waits for another one's extraction: writing and flushing a payload takes well under a second.
const DWORD kExtractTurnWaitMs = 10000;

static DWORD HashFnv1a(const BYTE *bytes, DWORD size)
{
    DWORD hash = 0x811C9DC5u;
    for (DWORD i = 0; i < size; ++i) {
        hash ^= bytes[i];
        hash *= 0x01000193u;
    }
    return hash;
}

// Each level is created in turn; an existing entry of the name is accepted here and, if it is not a folder, makes a
// later step fail. Nothing is deleted.
static bool PrepareRuntimeFolder(wchar_t *folder)
{
    wchar_t localAppData[MAX_PATH];
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, localAppData))) {
        return false;
    }
    static const wchar_t *const segments[] = {L"\\Oristane", L"\\Velvaro", L"\\runtime"};
    // Usually the whole folder exists already: one query instead of a failing creation per level.
    lstrcpynW(folder, localAppData, MAX_PATH);
    bool fits = true;
    for (const wchar_t *segment : segments) {
        fits = fits && AppendToPath(folder, segment);
    }
    if (fits && IsFolder(folder)) {
        return true;
    }
    lstrcpynW(folder, localAppData, MAX_PATH);
    for (const wchar_t *segment : segments) {
        if (!AppendToPath(folder, segment)) {
            return false;
        }
        if (!CreateDirectoryW(folder, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
            return false;
        }
    }
    return true;
}

// Reading is shared, so hosts started together can all check the same copy and the process creation can open it;
// writing, renaming and deleting are not, for as long as the handle lives.
static HANDLE OpenHeld(const wchar_t *path)
{
    return CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                       nullptr);
}

static bool HoldsBytes(HANDLE file, const BYTE *bytes, DWORD size)
{
    LARGE_INTEGER length;
    if (file == INVALID_HANDLE_VALUE || !GetFileSizeEx(file, &length) || length.QuadPart != size) {
        return false;
    }
    BYTE chunk[65536];
    for (DWORD offset = 0; offset < size;) {
        DWORD wanted = size - offset < sizeof(chunk) ? size - offset : static_cast<DWORD>(sizeof(chunk));
        DWORD read = 0;
        if (!ReadFile(file, chunk, wanted, &read, nullptr) || read != wanted ||
            memcmp(chunk, bytes + offset, wanted) != 0) {
            return false;
        }
        offset += wanted;
    }
    return true;
}

// The held handle of the copy at path when its bytes are the payload's, else INVALID_HANDLE_VALUE.
static HANDLE HoldMatchingCopy(const wchar_t *path, const BYTE *bytes, DWORD size)
{
    HANDLE held = OpenHeld(path);
    if (!HoldsBytes(held, bytes, size) && held != INVALID_HANDLE_VALUE) {
        CloseHandle(held);
        held = INVALID_HANDLE_VALUE;
    }
    return held;
}

// The whole copy is on the disk before its name is the final one.
static bool WriteFlushedCopy(const wchar_t *path, const BYTE *bytes, DWORD size)
{
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    bool whole = WriteFile(file, bytes, size, &written, nullptr) && written == size && FlushFileBuffers(file);
    CloseHandle(file);
    return whole;
}

// A wrong copy marked read-only, hidden or system would refuse to be replaced, start after start.
static void ClearBlockingAttributes(const wchar_t *path)
{
    const DWORD blocking = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    DWORD attributes = GetFileAttributesW(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
        (attributes & blocking) != 0) {
        SetFileAttributesW(path, attributes & ~blocking);
    }
}

// Writes a copy beside path and moves it into place, unless the copy there matches by now. Returns the held handle
// of a copy that matches, or INVALID_HANDLE_VALUE.
static HANDLE ReplaceCopy(const wchar_t *path, const wchar_t *temporary, const BYTE *bytes, DWORD size)
{
    HANDLE held = HoldMatchingCopy(path, bytes, size);
    if (held != INVALID_HANDLE_VALUE) {
        return held;  // another host has just put it there
    }
    if (WriteFlushedCopy(temporary, bytes, size)) {
        ClearBlockingAttributes(path);
        // Fails while a running payload or a host of another kind holds the copy there; the check below decides.
        MoveFileExW(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    }
    DeleteFileW(temporary);  // still there only when the write or the move failed
    return HoldMatchingCopy(path, bytes, size);
}

bool ExtractPayload(wchar_t *path, HANDLE *heldFile)
{
    HANDLE held = INVALID_HANDLE_VALUE;
    HANDLE lock = nullptr;
    bool locked = false;
    wchar_t lockName[64];

    *heldFile = INVALID_HANDLE_VALUE;
    wchar_t folder[MAX_PATH];
    if (!PrepareRuntimeFolder(folder)) {
        return false;
    }

    // The resource data belongs to the mapped image: nothing to free.
    HRSRC resource = FindResourceW(nullptr, MAKEINTRESOURCEW(IDR_PAYLOAD), RT_RCDATA);
    if (resource == nullptr) {
        return false;
    }
    DWORD size = SizeofResource(nullptr, resource);
    HGLOBAL loaded = LoadResource(nullptr, resource);
    if (loaded == nullptr || size == 0) {
        return false;
    }
    const BYTE *bytes = static_cast<const BYTE *>(LockResource(loaded));
    if (bytes == nullptr) {
        return false;
    }

    DWORD hash = HashFnv1a(bytes, size);
    wchar_t fileName[64];
    if (FAILED(FormatBounded(fileName, 64, L"\\merchant-%08X.exe", hash))) {
        return false;
    }
    lstrcpynW(path, folder, MAX_PATH);
    if (!AppendToPath(path, fileName)) {
        return false;
    }
    // One temporary name per process, of the final name's length, so it fits wherever the final path does.
    wchar_t temporaryName[64];
    wchar_t temporary[MAX_PATH];
    if (FAILED(FormatBounded(temporaryName, 64, L"\\%08X-%08lX.tmp", hash, GetCurrentProcessId()))) {
        return false;
    }
    lstrcpynW(temporary, folder, MAX_PATH);
    if (!AppendToPath(temporary, temporaryName)) {
        return false;
    }

    // The usual start: the copy is there and matches.
    held = HoldMatchingCopy(path, bytes, size);
    if (held != INVALID_HANDLE_VALUE) {
        goto cleanup;
    }

    // Hosts of this payload take turns to replace it, so that one never checks the copy while another moves its own
    // into place (a move opens the old copy for an instant). The turn is a courtesy, not a guard: whoever holds the
    // name too long is not waited for, since the check alone decides what runs.
    FormatBounded(lockName, 64, L"Local\\Oristane.Velvaro.Extract.%08X", hash);
    lock = CreateMutexW(nullptr, FALSE, lockName);
    if (lock != nullptr) {
        DWORD waited = WaitForSingleObject(lock, kExtractTurnWaitMs);
        locked = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    }

    // A new copy is about to be written: copies that earlier starts never moved into place go first.
    RemoveStaleCopies(folder);
    held = ReplaceCopy(path, temporary, bytes, size);

cleanup:
    if (locked) {
        ReleaseMutex(lock);
    }
    if (lock != nullptr) {
        CloseHandle(lock);
    }
    // Not released: the copy stays held for the caller until its payload has run.
    *heldFile = held;
    return held != INVALID_HANDLE_VALUE;
}
