// Running the extracted payload in the host's place: its exit code becomes the host's.
#pragma once
#include <windows.h>

// Starts the payload at payloadPath with the host's own arguments and waits for it. Returns the payload's exit code,
// 1 when that cannot be read, 2 after a failure of the launch itself (with a notice).
DWORD LaunchPayload(const wchar_t *payloadPath);
