// Host-specific bench state. Everything a test changes here it can undo, since the prefix is shared by every test.
#include "support/host_bench.h"

#include <shlobj.h>

namespace bench {

const wchar_t kNetSetupKey[] = L"SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full";
const wchar_t kInvisibleDesktop[] = L"BenchNoUser\\Default";

static const wchar_t kShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

void SetRuntimeFlag(REGSAM view, DWORD value)
{
    SetRegDword(HKEY_LOCAL_MACHINE, kNetSetupKey, L"Install", value, view);
}

void ClearRuntimeFlags()
{
    DeleteRegValue(HKEY_LOCAL_MACHINE, kNetSetupKey, L"Install", 0);
    DeleteRegValue(HKEY_LOCAL_MACHINE, kNetSetupKey, L"Install", KEY_WOW64_32KEY);
    DeleteRegValue(HKEY_LOCAL_MACHINE, kNetSetupKey, L"Install", KEY_WOW64_64KEY);
}

std::wstring LocalAppData()
{
    wchar_t path[MAX_PATH * 2] = L"";
    SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}

std::wstring VendorFolder()
{
    return LocalAppData() + L"\\Oristane";
}

std::wstring RuntimeFolder()
{
    return VendorFolder() + L"\\Velvaro\\runtime";
}

void MakeRuntimeFolder()
{
    CreateDirectoryW(VendorFolder().c_str(), nullptr);
    CreateDirectoryW((VendorFolder() + L"\\Velvaro").c_str(), nullptr);
    CreateDirectoryW(RuntimeFolder().c_str(), nullptr);
}

void PrepareLaunchMachine()
{
    ClearRuntimeFlags();
    SetRuntimeFlag(0);
    RemoveTree(VendorFolder());
}

void ClearLaunchMachine()
{
    RemoveTree(VendorFolder());
    ClearRuntimeFlags();
}

void RedirectLocalAppData(const std::wstring &folder)
{
    SetRegString(HKEY_CURRENT_USER, kShellFolders, L"Local AppData", folder.c_str(), REG_EXPAND_SZ);
}

void RestoreLocalAppData()
{
    SetRegString(HKEY_CURRENT_USER, kShellFolders, L"Local AppData", L"%USERPROFILE%\\AppData\\Local", REG_EXPAND_SZ);
}

DWORD Fnv1aOfFile(const std::wstring &path)
{
    std::string bytes;
    ReadBytes(path, &bytes);
    DWORD hash = 2166136261u;
    for (unsigned char c : bytes) {
        hash = (hash ^ c) * 16777619u;
    }
    return hash;
}

std::wstring PayloadFileFor(const std::wstring &payloadExe)
{
    wchar_t name[32];
    wsprintfW(name, L"\\merchant-%08X.exe", Fnv1aOfFile(payloadExe));
    return RuntimeFolder() + name;
}

std::wstring CopyHost(const std::wstring &folder, const wchar_t *name, const wchar_t *builtName)
{
    std::wstring target = folder + L"\\" + name;
    CopyFileW(BuiltExe(builtName).c_str(), target.c_str(), FALSE);
    return target;
}

ChildResult RunHost(const std::wstring &host, const std::wstring &args, DWORD timeoutMs, const wchar_t *desktop)
{
    return RunChild(host, CommandLineFor(host, args), timeoutMs, desktop);
}

}  // namespace bench
