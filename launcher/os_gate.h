// Is this Windows recent enough for the payload and its runtime?
#pragma once
#include <windows.h>

// False when the host must stop here: the notice has been shown and exitCode holds the code to end with. An
// unreadable version passes, as on a supported system.
bool PassesOsGate(DWORD *exitCode);
