// Removing the temporary copies that interrupted extractions left behind (see the header).
#include "payload/stale_copies.h"

#include "common/path_text.h"

static int HexDigitValue(wchar_t c)
{
    if (c >= L'0' && c <= L'9') {
        return c - L'0';
    }
    if (c >= L'A' && c <= L'F') {
        return c - L'A' + 10;
    }
    return -1;
}

// Eight upper-case hexadecimal digits, a dash, eight more, ".tmp", nothing else; *writer is the second number.
static bool IsTemporaryCopyName(const wchar_t *name, DWORD *writer)
{
    static const wchar_t kExtension[] = L".tmp";
    DWORD id = 0;
    for (int i = 0; i < 17; ++i) {
        if (i == 8) {
            if (name[i] != L'-') {
                return false;
            }
            continue;
        }
        int digit = HexDigitValue(name[i]);
        if (digit < 0) {
            return false;
        }
        if (i > 8) {
            id = id * 16 + static_cast<DWORD>(digit);
        }
    }
    for (int i = 0; i < 5; ++i) {
        if (name[17 + i] != kExtension[i]) {
            return false;
        }
    }
    *writer = id;
    return true;
}

// A writer closes its copy before it moves it into place: for that instant only its process id tells that the copy
// is not abandoned. A process that cannot be opened for another reason than its absence may be that writer.
static bool ProcessStillRuns(DWORD id)
{
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, id);
    if (process == nullptr) {
        return GetLastError() != ERROR_INVALID_PARAMETER;
    }
    bool runs = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return runs;
}

// No sharing at all is refused while any other handle to the file is open, whatever that handle shares, so a copy
// that someone holds is never touched; one that nobody holds goes when this handle closes. The link itself, if the
// name is one, never its target.
static void RemoveIfNobodyHolds(const wchar_t *path)
{
    HANDLE file = CreateFileW(path, DELETE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
}

void RemoveStaleCopies(const wchar_t *folder)
{
    wchar_t pattern[MAX_PATH];
    lstrcpynW(pattern, folder, MAX_PATH);
    if (!AppendToPath(pattern, L"\\*.tmp")) {
        return;
    }
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) {
        return;
    }
    const DWORD notAPlainFile = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    do {
        DWORD writer = 0;
        wchar_t path[MAX_PATH];
        lstrcpynW(path, folder, MAX_PATH);
        if ((found.dwFileAttributes & notAPlainFile) == 0 && IsTemporaryCopyName(found.cFileName, &writer) &&
            !ProcessStillRuns(writer) && AppendToPath(path, L"\\") && AppendToPath(path, found.cFileName)) {
            RemoveIfNobodyHolds(path);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
}
