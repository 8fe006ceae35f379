// Platform functions that a supported Windows may lack are looked up at run time, so that the host still loads where
// one is missing. OPTIONAL_API gives the address typed exactly as the function is declared (by the SDK headers, or by
// the caller where the headers lack it), so a lookup can never disagree with the prototype; null when not exported.
#pragma once
#include <windows.h>

#define OPTIONAL_API(module, name) \
    reinterpret_cast<decltype(&name)>(reinterpret_cast<void *>(GetProcAddress((module), #name)))
