// The table of installer exit codes that mean anything but a failure.
#include "installer/installer_outcome.h"

#include <wuerror.h>

namespace {

struct Meaning {
    DWORD exitCode;
    bool updatesOnly;
    InstallerOutcome outcome;
};

const Meaning kMeanings[] = {
    {ERROR_SUCCESS, false, kExitInstalled},
    {ERROR_SUCCESS_REBOOT_REQUIRED, false, kExitRestartNeeded},
    {ERROR_SUCCESS_REBOOT_INITIATED, false, kExitRestartStarted},
    {static_cast<DWORD>(WU_S_ALREADY_INSTALLED), false, kExitNothingToInstall},
    // The update installer's answer for an update this machine does not need, for example a servicing stack update
    // that a newer one already installed has superseded. The servicing store never lists such an update, so read as
    // a failure it would stop every start at the same window. The runtime's installer has no such answer.
    {static_cast<DWORD>(WU_E_NOT_APPLICABLE), true, kExitNothingToInstall},
};

}  // namespace

InstallerOutcome ClassifyInstallerExit(const PrerequisiteItem *item, DWORD exitCode)
{
    bool update = item != nullptr && item->kbId != nullptr;
    for (const Meaning &meaning : kMeanings) {
        if (meaning.exitCode == exitCode && (update || !meaning.updatesOnly)) {
            return meaning.outcome;
        }
    }
    return kExitFailed;
}
