// The road of a machine without the runtime: on Windows 7 the two updates the runtime's installer needs, then the
// runtime itself, one installer window at a time.
#pragma once
#include <windows.h>

// Leads the user through what is missing and returns the process exit code: 1 after the restart notice or an update
// that did not install, otherwise the runtime window's result unchanged. Only for a visible window station: the
// restart notice is shown without asking again.
DWORD RunPrerequisiteChain();
