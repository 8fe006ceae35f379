// What the tests of the installation road share: a host started as a child that the test drives while it runs, the
// servicing store's package keys of the two Windows 7 updates, the download folder and the road's record.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "support/bench.h"
#include "support/wait_for.h"

namespace bench {

extern const wchar_t kServicingStackKb[];  // KB4490628
extern const wchar_t kSha2Kb[];            // KB4474419

// A host child that runs while the test drives its windows (StartChild and FinishChild with the host's own line).
using RunningHost = Child;
RunningHost StartHost(const std::wstring &host, const std::wstring &args);
// Waits up to timeoutMs for the host to end, terminates it otherwise; closes the handles either way.
ChildResult FinishHost(RunningHost *host, DWORD timeoutMs);

// An update listed as installed (CurrentState 0x70) in the servicing store, as its installer leaves it; or no trace.
void MarkUpdateInstalled(const wchar_t *kbId);
void ForgetUpdates();

// %TEMP%\Velvaro\, and the removal of every package the road may have left there.
std::wstring DownloadFolder();
void ClearDownloadFolder();

// A fresh record file (ROAD_LOG, inherited by the host and the installers it starts), and its lines.
std::wstring StartRoadLog(const std::wstring &folder);
std::vector<std::wstring> RoadLines(const std::wstring &log);

// The visible installer window with this title (another process's), or null after timeoutMs.
HWND FindInstallerWindowTitled(const std::wstring &title, DWORD timeoutMs);
// Waits for the host to end while watching for installer windows; true when one was visible meanwhile. close: press
// the close button of any that appears.
bool WatchUntilHostEnds(const RunningHost &host, DWORD timeoutMs, bool close = false);

// The Windows Update service's configuration through the service manager, as the elevated step reads and changes it.
// UpdateServiceStartType: SERVICE_DISABLED, SERVICE_DEMAND_START, …; 0xFFFFFFFF when it cannot be read.
DWORD UpdateServiceStartType();
bool SetUpdateServiceStartType(DWORD startType);
// Every field of the configuration as one text, to show that nothing at all changed.
std::wstring UpdateServiceConfiguration();

// The hexadecimal form in which the road's record writes a window handle ("0x1A2B").
std::wstring HandleText(HWND window);

}  // namespace bench
