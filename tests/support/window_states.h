// The installer window's states as the user sees them, each a predicate over every control a user can read (text,
// enabled, shown) and the bar, so that a test waits for a whole state rather than its first sign: the controls are
// read one after the other while the window changes. A test that needs a state these do not name writes its own
// condition beside its use.
#pragma once
#include <string>

#include "support/expected_text.h"
#include "support/installer_driver.h"

namespace bench {
namespace state {

inline bool NeedsDownload(const WindowState &s)
{
    return s.exists && s.status.text == text::kNeedsDownload && s.action.text == text::kDownload &&
           s.action.enabled && s.action.visible && s.close.text == text::kClose && s.close.enabled &&
           !s.webPage.visible && s.barPosition == 0;
}

inline bool ReadyFound(const WindowState &s)
{
    return s.exists && s.status.text == text::kReadyFound && s.action.text == text::kInstall && s.action.enabled &&
           s.close.text == text::kClose && s.close.enabled && !s.webPage.visible && s.barPosition == 1000;
}

inline bool Downloading(const WindowState &s, const wchar_t *actionText)
{
    return s.exists && s.action.text == actionText && !s.action.enabled && s.close.text == text::kCancel &&
           s.close.enabled && !s.webPage.visible;
}

inline bool ReadyDownloaded(const WindowState &s)
{
    return s.exists && s.status.text == text::kDownloaded && s.action.text == text::kInstall && s.action.enabled &&
           s.close.text == text::kClose && s.close.enabled && !s.webPage.visible;
}

inline bool Installing(const WindowState &s)
{
    return s.exists && s.status.text == text::kInstalling && s.action.text == text::kInstall && !s.action.enabled &&
           s.close.text == text::kClose && !s.close.enabled && !s.webPage.visible;
}

inline bool InstallFailed(const WindowState &s, const std::wstring &status)
{
    return s.exists && s.status.text == status && s.action.text == text::kInstall && s.action.enabled &&
           s.close.text == text::kClose && s.close.enabled && s.webPage.visible && s.webPage.text == text::kWebPage;
}

inline bool DownloadFailed(const WindowState &s, const std::wstring &status)
{
    return s.exists && s.status.text == status && s.action.text == text::kRetryDownload && s.action.enabled &&
           s.close.text == text::kClose && s.close.enabled && !s.webPage.visible;
}

inline bool Gone(const WindowState &s)
{
    return !s.exists;
}

}  // namespace state
}  // namespace bench
