// Writing the payload once per version: the file name carries a hash of the payload's bytes, so a host with another
// payload writes beside the old file, and a later start costs one attribute query instead of a rewrite. A copy of
// the right size is reused without being opened, which is also what lets a second host start while the first one's
// payload still runs from that file.
#include "payload/extract.h"

#include <shlobj.h>

#include "common/bounded_text.h"
#include "common/path_text.h"

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
    lstrcpynW(folder, localAppData, MAX_PATH);
    static const wchar_t *const segments[] = {L"\\Oristane", L"\\Velvaro", L"\\runtime"};
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

static bool WriteWholeFile(const wchar_t *path, const void *bytes, DWORD size)
{
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes, size, &written, nullptr);
    CloseHandle(file);
    // A short file stays behind; its wrong size gets it rewritten at the next start.
    return ok && written == size;
}

bool ExtractPayload(wchar_t *path)
{
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

    wchar_t fileName[64];
    if (FAILED(FormatBounded(fileName, 64, L"\\merchant-%08X.exe", HashFnv1a(bytes, size)))) {
        return false;
    }
    lstrcpynW(path, folder, MAX_PATH);
    if (!AppendToPath(path, fileName)) {
        return false;
    }

    WIN32_FILE_ATTRIBUTE_DATA existing;
    if (GetFileAttributesExW(path, GetFileExInfoStandard, &existing) && existing.nFileSizeHigh == 0 &&
        existing.nFileSizeLow == size) {
        return true;
    }
    return WriteWholeFile(path, bytes, size);
}
