// Every text the user reads, as the tests expect it: the notices' caption and texts, the installer window's class,
// title, buttons and status lines, the download engine's messages. Written out here independently of the product, and
// never taken from its sources, so that a typo in the product still fails a test. A test that compares a text the
// user sees takes it from here; only the outputs of a format for chosen numbers (a progress line for these byte
// counts) stay in the table of the test that proves that format.
#pragma once
#include <windows.h>

#include <cwchar>
#include <string>

namespace bench {
namespace text {

// The caption of every notice box.
inline constexpr wchar_t kCaption[] = L"Qumo盒子检测工具";

// The operating-system gate's notices.
inline constexpr wchar_t kTooOld[] = L"本工具需要 Windows 7 SP1 或更高版本。";
inline constexpr wchar_t kNeedsServicePack[] =
    L"本工具需要 Windows 7 SP1 或更高版本。\r\n\r\n请先安装 Windows 7 Service Pack 1，重启后再打开本工具。";
// After an update that needs the machine restarted before the chain can go on.
inline constexpr wchar_t kRestart[] =
    L"Windows 补丁已安装，需要重启后才能继续。\r\n\r\n请保存收银数据并重启电脑；重启后再次打开本程序，将自动继续下一步。";
// The payload could not be written out.
inline constexpr wchar_t kNoRunFiles[] = L"无法准备运行文件。请确认磁盘未满，并关闭已打开的检测工具后重试。";
// The payload's start.
inline constexpr wchar_t kElevationRefused[] =
    L"程序组件需要管理员权限，但未能完成 UAC 提权。\r\n请右键选择“以管理员身份运行”后重试。";
inline constexpr wchar_t kNoLauncherPath[] = L"无法确定启动器路径。";
inline constexpr wchar_t kNoArgumentMemory[] = L"无法分配启动参数内存。";
inline constexpr wchar_t kNoArguments[] = L"无法生成托管程序启动参数。";
// "程序组件启动失败（Win32 错误 %lu）。\r\n请确认安全软件未阻止程序运行。" for one error.
inline std::wstring StartFailed(DWORD error)
{
    wchar_t line[160];
    swprintf(line, 160, L"程序组件启动失败（Win32 错误 %lu）。\r\n请确认安全软件未阻止程序运行。", error);
    return line;
}

// The catalogue's prerequisites, as their windows' titles.
inline constexpr wchar_t kRuntimeTitle[] = L"Microsoft .NET Framework 4.8";
inline constexpr wchar_t kServicingStackTitle[] = L"Windows 7 服务堆栈补丁 KB4490628";
inline constexpr wchar_t kSha2Title[] = L"Windows 7 SHA-2 补丁 KB4474419";

// The installer window: its class (how a test finds it), buttons and status lines.
inline constexpr wchar_t kClass[] = L"RuduDovaRuntimeDownload";
inline constexpr wchar_t kNeedsDownload[] = L"点击“下载”开始下载。";
inline constexpr wchar_t kReadyFound[] = L"安装包已下载，可以直接安装。";
inline constexpr wchar_t kConnecting[] = L"正在连接微软下载服务器…";
inline constexpr wchar_t kCancelling[] = L"正在取消下载…";
inline constexpr wchar_t kDownloaded[] = L"下载完成。点击“安装”打开微软安装程序。";
inline constexpr wchar_t kInstalling[] = L"正在安装，请在 UAC 提示中选择“是”…";
inline constexpr wchar_t kNoInstallerThread[] = L"无法启动安装程序。";
inline constexpr wchar_t kNoDownloadThread[] = L"无法开始下载。";
inline constexpr wchar_t kRetrySuffix[] = L"可以重试下载。";
inline constexpr wchar_t kDownload[] = L"下载";
inline constexpr wchar_t kInstall[] = L"安装";
inline constexpr wchar_t kRetryDownload[] = L"重试下载";
inline constexpr wchar_t kClose[] = L"关闭";
inline constexpr wchar_t kCancel[] = L"取消";
inline constexpr wchar_t kWebPage[] = L"微软网页下载";
inline constexpr wchar_t kNoPackagePath[] = L"无法准备安装包保存位置。";
inline constexpr wchar_t kNoWindow[] = L"无法显示安装窗口。";
// "安装未完成（错误 0x%08X）。可以重试安装。" for one code.
inline std::wstring InstallFailed(DWORD code)
{
    wchar_t line[64];
    swprintf(line, 64, L"安装未完成（错误 0x%08X）。可以重试安装。", code);
    return line;
}
// "需要安装 %s。\r\n安装包来自微软官方下载服务器。"
inline std::wstring Intro(const std::wstring &displayName)
{
    return L"需要安装 " + displayName + L"。\r\n安装包来自微软官方下载服务器。";
}

// The download engine's messages (the window adds kRetrySuffix to a failure's).
inline constexpr wchar_t kBadAddress[] = L"安装包地址无效。";
inline constexpr wchar_t kCancelled[] = L"已取消下载。";
inline constexpr wchar_t kOutdatedTls[] = L"这台电脑的安全连接组件过旧，无法直接下载。";
inline constexpr wchar_t kNoConnection[] = L"无法连接微软下载服务器，请检查网络后重试。";
inline constexpr wchar_t kNotFinished[] = L"下载未完成。";
inline constexpr wchar_t kNoPackage[] = L"微软下载服务器没有返回安装包。";
inline constexpr wchar_t kNoPartPath[] = L"无法准备临时下载文件。";
inline constexpr wchar_t kNoPartFile[] = L"无法写入临时下载文件。";
inline constexpr wchar_t kWriteFailed[] = L"写入安装包失败，请检查磁盘空间。";
inline constexpr wchar_t kTooLong[] = L"下载内容异常，已停止。";
inline constexpr wchar_t kIncomplete[] = L"安装包下载不完整。";
inline constexpr wchar_t kNotVerified[] = L"安装包校验失败。";
inline constexpr wchar_t kFallbackNote[] = L"HTTPS 不可用，正在通过微软 CDN 兼容通道下载并校验…";

}  // namespace text
}  // namespace bench
