// What every bench test needs: where the built programs are, child processes with full exit codes (child_process.h),
// scratch folders, and real registry state in the bench prefix.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "support/child_process.h"

namespace bench {

// The folder of the running test program, which is also where every built program of the tree lands.
std::wstring ExeDir();
std::wstring BuiltExe(const wchar_t *name);

// A fresh, empty folder of that name under the prefix's temporary folder.
std::wstring ScratchDir(const wchar_t *name);
void RemoveTree(const std::wstring &path);
bool WriteBytes(const std::wstring &path, const void *data, size_t size);
bool ReadBytes(const std::wstring &path, std::string *data);
// A UTF-16LE file as text, e.g. the demo payload's report.
std::wstring ReadUtf16(const std::wstring &path);
bool FileExists(const std::wstring &path);
// True only for an existing folder (a missing path has every attribute bit set, FILE_ATTRIBUTE_DIRECTORY included).
bool IsFolder(const std::wstring &path);
// The names in a folder, without "." and "..", sorted.
std::vector<std::wstring> FolderEntries(const std::wstring &folder);
ULONGLONG FileSize(const std::wstring &path);  // ~0ull when missing
FILETIME LastWriteTime(const std::wstring &path);

// Registry of the bench prefix. view is 0, KEY_WOW64_32KEY or KEY_WOW64_64KEY.
bool SetRegValue(HKEY root, const wchar_t *key, const wchar_t *name, DWORD type, const void *data, DWORD size,
                 REGSAM view = 0);
bool SetRegDword(HKEY root, const wchar_t *key, const wchar_t *name, DWORD value, REGSAM view = 0);
bool SetRegString(HKEY root, const wchar_t *key, const wchar_t *name, const wchar_t *value, DWORD type = REG_SZ,
                  REGSAM view = 0);
void DeleteRegTree(HKEY root, const wchar_t *key, REGSAM view = 0);
void DeleteRegValue(HKEY root, const wchar_t *key, const wchar_t *name, REGSAM view = 0);

}  // namespace bench
