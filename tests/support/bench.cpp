// Bench helpers on plain Win32 calls, so that what a test sets up is exactly what the host will meet.
#include "support/bench.h"

#include <algorithm>
#include <vector>

namespace bench {

std::wstring ExeDir()
{
    wchar_t path[MAX_PATH * 4];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    std::wstring dir(path, n);
    return dir.substr(0, dir.find_last_of(L'\\'));
}

std::wstring BuiltExe(const wchar_t *name)
{
    return ExeDir() + L"\\" + name;
}

void RemoveTree(const std::wstring &path)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            std::wstring child = path + L"\\" + name;
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                DeleteFileW(child.c_str());
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    if (!RemoveDirectoryW(path.c_str())) {
        DeleteFileW(path.c_str());
    }
}

std::wstring ScratchDir(const wchar_t *name)
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring dir = std::wstring(temp) + L"bench-" + name;
    RemoveTree(dir);
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

bool WriteBytes(const std::wstring &path, const void *data, size_t size)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    BOOL ok = size == 0 || WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr);
    CloseHandle(file);
    return ok && written == size;
}

bool ReadBytes(const std::wstring &path, std::string *data)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    data->clear();
    std::vector<char> chunk(1 << 16);
    DWORD got = 0;
    while (ReadFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr) && got != 0) {
        data->append(chunk.data(), got);
    }
    CloseHandle(file);
    return true;
}

std::wstring ReadUtf16(const std::wstring &path)
{
    std::string bytes;
    if (!ReadBytes(path, &bytes)) {
        return L"";
    }
    return std::wstring(reinterpret_cast<const wchar_t *>(bytes.data()), bytes.size() / sizeof(wchar_t));
}

bool FileExists(const std::wstring &path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsFolder(const std::wstring &path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::vector<std::wstring> FolderEntries(const std::wstring &folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name != L"." && name != L"..") {
                names.push_back(name);
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    std::sort(names.begin(), names.end());
    return names;
}

ULONGLONG FileSize(const std::wstring &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return ~0ull;
    }
    return (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

FILETIME LastWriteTime(const std::wstring &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

bool SetRegValue(HKEY root, const wchar_t *key, const wchar_t *name, DWORD type, const void *data, DWORD size,
                 REGSAM view)
{
    HKEY opened = nullptr;
    if (RegCreateKeyExW(root, key, 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &opened, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    LONG status = RegSetValueExW(opened, name, 0, type, static_cast<const BYTE *>(data), size);
    RegCloseKey(opened);
    return status == ERROR_SUCCESS;
}

bool SetRegDword(HKEY root, const wchar_t *key, const wchar_t *name, DWORD value, REGSAM view)
{
    return SetRegValue(root, key, name, REG_DWORD, &value, sizeof(value), view);
}

bool SetRegString(HKEY root, const wchar_t *key, const wchar_t *name, const wchar_t *value, DWORD type, REGSAM view)
{
    return SetRegValue(root, key, name, type, value, static_cast<DWORD>((lstrlenW(value) + 1) * sizeof(wchar_t)),
                       view);
}

void DeleteRegTree(HKEY root, const wchar_t *key, REGSAM view)
{
    HKEY opened = nullptr;
    if (RegOpenKeyExW(root, key, 0, KEY_ALL_ACCESS | view, &opened) == ERROR_SUCCESS) {
        RegDeleteTreeW(opened, nullptr);
        RegCloseKey(opened);
    }
    RegDeleteKeyExW(root, key, view, 0);
}

void DeleteRegValue(HKEY root, const wchar_t *key, const wchar_t *name, REGSAM view)
{
    HKEY opened = nullptr;
    if (RegOpenKeyExW(root, key, 0, KEY_SET_VALUE | view, &opened) == ERROR_SUCCESS) {
        RegDeleteValueW(opened, name);
        RegCloseKey(opened);
    }
}

}  // namespace bench
