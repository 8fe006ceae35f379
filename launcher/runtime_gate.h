// Is the .NET Framework 4 runtime, which the payload needs, installed?
#pragma once
#include <windows.h>

// Reads "Install" of the .NET Framework 4 setup key in the view chosen by extraAccess (0 or KEY_WOW64_32KEY). True
// only for a REG_DWORD of 4 bytes; value is then the flag, and it is left untouched when the key cannot be opened.
bool ReadRuntimeInstallFlag(REGSAM extraAccess, DWORD *value);

// The default view first, then the 32-bit view: present when either holds the flag 1.
bool IsRuntimeInstalled();
