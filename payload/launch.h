// Running the extracted payload in the host's place: its exit code becomes the host's.
#pragma once
#include <windows.h>

// Starts the payload at payloadPath with the host's own arguments and waits for it, delivering the messages that reach
// the calling thread's windows meanwhile. Returns the payload's exit code, 1 when that cannot be read, 2 after a
// failure of the launch itself (with a notice). A quit request that arrives during the wait is posted again after it.
DWORD LaunchPayload(const wchar_t *payloadPath);
