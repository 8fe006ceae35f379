// The servicing stack keeps one key per package under Packages, named after the update with architecture, language
// and version parts around the KB identifier, and records in CurrentState how far the package got. A plain substring
// search over the names is enough to find every package of an update whatever the rest of its name says.
#include "prereq/servicing_probe.h"

static const wchar_t kPackagesKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Component Based Servicing\\Packages";

// Superseded, installed and permanent: the states in which the update's payload is on the machine.
static bool IsInstalledState(DWORD state)
{
    return state == 0x50 || state == 0x70 || state == 0x80;
}

static bool NameContains(const wchar_t *name, const wchar_t *text)
{
    int n = lstrlenW(name);
    int k = lstrlenW(text);
    if (k > n) {
        return false;
    }
    for (int start = 0; start <= n - k; ++start) {
        if (CompareStringOrdinal(name + start, k, text, k, TRUE) == CSTR_EQUAL) {
            return true;
        }
    }
    return false;
}

// Windows does not carry a view over to keys opened relative to a handle: each open of the walk names the view that
// opened the Packages key, or a 32-bit host on 64-bit Windows would look for the package in the 32-bit view, find
// nothing there, and offer the update for ever.
static bool IsPackageKeyInstalled(HKEY packages, REGSAM access, const wchar_t *name)
{
    HKEY package = nullptr;
    if (RegOpenKeyExW(packages, name, 0, access, &package) != ERROR_SUCCESS) {
        return false;
    }
    DWORD state = 0;
    DWORD type = 0;
    DWORD size = 4;
    LONG status = RegQueryValueExW(package, L"CurrentState", nullptr, &type, reinterpret_cast<BYTE *>(&state), &size);
    RegCloseKey(package);
    return status == ERROR_SUCCESS && type == REG_DWORD && IsInstalledState(state);
}

bool IsServicingPackageInstalled(const wchar_t *kbId)
{
    // A 32-bit host on 64-bit Windows must look at the native view, where the servicing stack writes; the plain
    // view is a second chance should that open fail.
    HKEY packages = nullptr;
    REGSAM access = KEY_READ | KEY_WOW64_64KEY;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPackagesKey, 0, access, &packages) != ERROR_SUCCESS) {
        access = KEY_READ;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPackagesKey, 0, access, &packages) != ERROR_SUCCESS) {
            return false;
        }
    }

    bool found = false;
    DWORD index = 0;
    while (!found) {
        wchar_t name[320];
        DWORD capacity = 320;
        LONG status = RegEnumKeyExW(packages, index, name, &capacity, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) {
            break;
        }
        // A name too long for the buffer concerns that index alone. Any other failure belongs to the key itself (it
        // was deleted, the handle went bad, memory ran out) and would repeat at every later index, so going on would
        // spin through four billion indices instead of answering.
        if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA) {
            break;
        }
        if (status == ERROR_SUCCESS && kbId != nullptr && NameContains(name, kbId)) {
            found = IsPackageKeyInstalled(packages, access, name);
        }
        ++index;
    }

    RegCloseKey(packages);
    return found;
}
