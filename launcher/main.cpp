// The host's whole control flow on its main thread: the two gates, then either the payload's launch or, when the
// runtime is missing, the road that installs it. Every road ends in an explicit exit code.
#include <windows.h>
#include <ole2.h>

#include "common/notice.h"
#include "installer/elevated_request.h"
#include "installer/elevated_update.h"
#include "launcher/dll_search.h"
#include "launcher/os_gate.h"
#include "launcher/prerequisite_chain.h"
#include "launcher/runtime_gate.h"
#include "payload/command_line.h"
#include "payload/extract.h"
#include "payload/launch.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    // Before anything can load a library by name: nothing beside the exe is to be taken for a system library.
    RestrictDllSearchToSystem();

    // The host's own elevated step for an update package, started by its installer window: no apartment, no gates,
    // no boxes; its exit code is the update installer's. Only this exact private first token leads here.
    const wchar_t *arguments = SkipProgramName(GetCommandLineW());
    if (IsElevatedUpdateRequest(arguments)) {
        return static_cast<int>(RunElevatedUpdate(arguments));
    }

    // The installer windows and the shell calls they make want a single-threaded apartment; a failure changes nothing.
    OleInitialize(nullptr);

    DWORD exitCode = 0;
    if (!PassesOsGate(&exitCode)) {
        return static_cast<int>(exitCode);
    }

    if (IsRuntimeInstalled()) {
        wchar_t payloadPath[MAX_PATH];
        HANDLE payloadFile = INVALID_HANDLE_VALUE;
        if (!ExtractPayload(payloadPath, &payloadFile)) {
            ShowNotice(L"无法准备运行文件。请确认磁盘未满，并关闭已打开的检测工具后重试。", kNoticeErrorStyle);
            return 2;
        }
        // Held until the payload has run: the file whose bytes were checked is the file that was started.
        DWORD payloadExitCode = LaunchPayload(payloadPath);
        CloseHandle(payloadFile);
        return static_cast<int>(payloadExitCode);
    }

    // Nobody can see a window here (a service, a task without a desktop): install nothing, block on nothing.
    if (!IsWindowStationVisible()) {
        return 1;
    }
    // A user can see the screen: lead them window by window to a working runtime. The payload does not start in this
    // run; the next start passes the runtime gate.
    return static_cast<int>(RunPrerequisiteChain());
}
