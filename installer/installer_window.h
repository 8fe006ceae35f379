// The window that downloads, verifies and installs one prerequisite, one window after the other on the main thread.
#pragma once
#include <windows.h>

#include "prereq/catalog.h"

// Shows the item's window and returns, once it is destroyed, the last installation attempt's exit code (1223 when no
// installer ran), or 2 when the window could not be prepared.
DWORD RunInstallerWindow(const PrerequisiteItem *item);
