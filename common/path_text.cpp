// The one length rule for every path the host builds, and the one test that a place on such a path is a folder.
#include "common/path_text.h"

bool AppendToPath(wchar_t *path, const wchar_t *tail)
{
    int pathLength = lstrlenW(path);
    int tailLength = lstrlenW(tail);
    if (pathLength + tailLength >= MAX_PATH) {
        return false;
    }
    CopyMemory(path + pathLength, tail, (static_cast<size_t>(tailLength) + 1) * sizeof(wchar_t));
    return true;
}

bool IsFolder(const wchar_t *path)
{
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}
