// Starting a program by the name it was opened under lets a link switched in between hand over another file. The
// held handle's final name does not: the handle pins the file, and Windows refuses to rename or delete a folder
// above a file that is open (ERROR_ACCESS_DENIED / ERROR_SHARING_VIOLATION), so the folders of the final name stay
// where they are while the handle is held. Links that the final name would still pass through cannot exist: it is
// the name with every link resolved (FILE_NAME_NORMALIZED).
#include "installer/held_path.h"

#include "common/bounded_text.h"

namespace {

const wchar_t kLongPrefix[] = L"\\\\?\\";      // \\?\C:\…
const wchar_t kLongUncPrefix[] = L"\\\\?\\UNC\\";  // \\?\UNC\server\share\…

bool StartsWith(const wchar_t *text, const wchar_t *prefix)
{
    for (; *prefix != L'\0'; ++text, ++prefix) {
        if (*text != *prefix) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool HeldFilePath(HANDLE file, wchar_t *path)
{
    // Room for the prefix on top of a plain name that fits MAX_PATH.
    wchar_t finalName[MAX_PATH + 8];
    path[0] = L'\0';
    DWORD length = GetFinalPathNameByHandleW(file, finalName, ARRAYSIZE(finalName),
                                             FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= ARRAYSIZE(finalName)) {
        return false;
    }
    const wchar_t *plain = finalName;
    size_t prefixKept = 0;  // "\\" of a UNC name, re-added below
    if (StartsWith(finalName, kLongUncPrefix)) {
        plain = finalName + ARRAYSIZE(kLongUncPrefix) - 1;
        prefixKept = 2;
    } else if (StartsWith(finalName, kLongPrefix)) {
        plain = finalName + ARRAYSIZE(kLongPrefix) - 1;
    }
    if (lstrlenW(plain) + prefixKept >= MAX_PATH) {
        return false;
    }
    if (prefixKept != 0) {
        FormatBounded(path, MAX_PATH, L"\\\\%s", plain);
    } else {
        CopyBounded(path, MAX_PATH, plain);
    }
    return true;
}
