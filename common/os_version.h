// The real operating-system version: GetVersionEx lies to programs without a manifest entry for the running
// version, RtlGetVersion does not.
#pragma once
#include <windows.h>

static_assert(sizeof(RTL_OSVERSIONINFOEXW) == 284, "the extended version record is 284 bytes");

// True only when the version was obtained; the record is zeroed and sized first in every case.
bool QueryOsVersion(RTL_OSVERSIONINFOEXW *version);
