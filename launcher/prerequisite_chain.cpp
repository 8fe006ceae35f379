// The prerequisite chain. It keeps no record of its own: every run asks the servicing stack what is installed, so a
// restart, a closed window or a new start simply continues from where the machine stands.
#include "launcher/prerequisite_chain.h"

#include "common/notice.h"
#include "common/os_version.h"
#include "installer/installer_outcome.h"
#include "installer/installer_window.h"
#include "prereq/catalog.h"
#include "prereq/servicing_probe.h"

// Ends a run whose update waits for a restart.
static const wchar_t kRestartNotice[] =
    L"Windows 补丁已安装，需要重启后才能继续。\r\n\r\n请保存收银数据并重启电脑；重启后再次打开本程序，将自动继续下一步。";

static bool IsWindows7()
{
    RTL_OSVERSIONINFOEXW version;
    return QueryOsVersion(&version) && version.dwMajorVersion == 6 && version.dwMinorVersion == 1;
}

DWORD RunPrerequisiteChain()
{
    if (IsWindows7()) {
        // The runtime's installer needs the updates built for the machine itself, not for this process: a 32-bit host
        // on 64-bit Windows still installs the x64 packages.
        SYSTEM_INFO system;
        ZeroMemory(&system, sizeof(system));
        GetNativeSystemInfo(&system);
        const PrerequisiteItem *updates[2] = {&ServicingStackUpdateX86, &Sha2UpdateX86};
        if (system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ||
            system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_IA64) {
            updates[0] = &ServicingStackUpdateX64;
            updates[1] = &Sha2UpdateX64;
        }

        bool restartNeeded = false;
        for (int i = 0; i < 2 && !restartNeeded; ++i) {
            if (IsServicingPackageInstalled(updates[i]->kbId)) {
                continue;
            }
            switch (ClassifyInstallerExit(updates[i], RunInstallerWindow(updates[i]))) {
            case kExitInstalled:
                // A success the servicing stack does not list yet completes only at the restart.
                restartNeeded = !IsServicingPackageInstalled(updates[i]->kbId);
                break;
            case kExitRestartNeeded:
                restartNeeded = true;
                break;
            case kExitNothingToInstall:
                // Installed already, or not for this machine: on without asking the servicing stack, which may not
                // list it.
                break;
            case kExitRestartStarted:
            case kExitFailed:
                // Closed, refused, failed, or a restart its installer already began: nothing more in this run.
                return 1;
            }
        }
        if (restartNeeded) {
            // The chain runs only on a visible window station, so the box is shown without asking again.
            MessageBoxW(nullptr, kRestartNotice, kNoticeCaption, kNoticeRestartStyle);
            return 1;
        }
    }
    return RunInstallerWindow(&NetFramework48);
}
