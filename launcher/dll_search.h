// The host is typically started from a downloads folder, where anything may lie beside it under the name of a
// library that it, or a system library on its behalf, loads later.
#pragma once
#include <windows.h>

// From now on, libraries loaded by name come from the system directory only, for every caller in the process. False
// (and nothing changed) where the system cannot restrict the search: Windows 7 without KB2533623.
bool RestrictDllSearchToSystem();
