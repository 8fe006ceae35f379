// What an installer's exit code means for the prerequisite it installed, decided in one place: the installer window
// closes by it, and the prerequisite chain chooses its next step by it, so the two can never read a code apart.
#pragma once
#include <windows.h>

#include "prereq/catalog.h"

enum InstallerOutcome {
    kExitInstalled,         // 0; for an update the servicing stack still has the last word
    kExitRestartNeeded,     // 3010, ERROR_SUCCESS_REBOOT_REQUIRED
    kExitRestartStarted,    // 1641, ERROR_SUCCESS_REBOOT_INITIATED: the installer has begun a restart itself
    kExitNothingToInstall,  // 0x240006, WU_S_ALREADY_INSTALLED; for an update also 0x80240017, WU_E_NOT_APPLICABLE
    kExitFailed,            // every other code, ERROR_CANCELLED (no installer ran) among them
};

// item: the prerequisite whose installer ended with exitCode (an update when it has a kbId). A null item is read as
// the runtime's installer.
InstallerOutcome ClassifyInstallerExit(const PrerequisiteItem *item, DWORD exitCode);
