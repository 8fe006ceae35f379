// The download engine: one prerequisite package from the network into the download folder, kept only when it
// verifies. It runs on the installer window's download thread. The window cancels by setting cancelRequested first
// and then taking the published request handle out of the context and closing it; the engine therefore reads the
// flag right after it publishes the request and whenever a network call fails, and closes the request only when it
// takes a non-null handle back itself.
#include "installer/download.h"

#include <winhttp.h>

#include "common/bounded_text.h"
#include "common/path_text.h"
#include "installer/verify.h"

namespace {

const wchar_t kUserAgent[] = L"Velvaro/1.0";
// Never SSL: some of the machines this runs on have TLS 1.2 switched off by default.
const DWORD kSecureProtocols =
    WINHTTP_FLAG_SECURE_PROTOCOL_TLS1 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_1 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
// Every blocking step ends on its own, so that a dead network becomes a message instead of a hung window.
const int kResolveTimeoutMs = 10000;
const int kConnectTimeoutMs = 15000;
const int kSendTimeoutMs = 30000;
const int kReceiveTimeoutMs = 120000;
const DWORD kChunkBytes = 65536;
const wchar_t kPartSuffix[] = L".part";

const wchar_t kTextBadAddress[] = L"安装包地址无效。";
const wchar_t kTextCancelled[] = L"已取消下载。";
const wchar_t kTextOutdatedTls[] = L"这台电脑的安全连接组件过旧，无法直接下载。";
const wchar_t kTextNoConnection[] = L"无法连接微软下载服务器，请检查网络后重试。";
const wchar_t kTextNotFinished[] = L"下载未完成。";
const wchar_t kTextNoPackage[] = L"微软下载服务器没有返回安装包。";
const wchar_t kTextNoPartPath[] = L"无法准备临时下载文件。";
const wchar_t kTextNoPartFile[] = L"无法写入临时下载文件。";
const wchar_t kTextWriteFailed[] = L"写入安装包失败，请检查磁盘空间。";
const wchar_t kTextTooLong[] = L"下载内容异常，已停止。";
const wchar_t kTextIncomplete[] = L"安装包下载不完整。";
const wchar_t kTextNotVerified[] = L"安装包校验失败。";
const wchar_t kTextFallbackNote[] = L"HTTPS 不可用，正在通过微软 CDN 兼容通道下载并校验…";

// The network handles of one attempt. The request is also published in the context, and whoever takes it out of
// there closes it; `request` here is only the engine's copy for its own calls.
struct Channel {
    HINTERNET session;
    HINTERNET connection;
    HINTERNET request;
};

enum AttemptOutcome {
    kResponded,       // response headers have arrived; the channel is open
    kAddressInvalid,  // the address cannot be split or is neither HTTP nor HTTPS; nothing was opened
    kSessionFailed,   // WinHttpOpen failed; nothing is open
    kRequestFailed,   // connect, open request, send or receive failed; everything is closed again
};

bool Fail(InstallerContext *context, const wchar_t *text)
{
    CopyBounded(context->errorText, ARRAYSIZE(context->errorText), text);
    return false;
}

// A cancellation wins over every code: the window sets the flag before it closes the request, so a call that failed
// because of that close finds the flag already set.
const wchar_t *TextForError(InstallerContext *context, DWORD error)
{
    if (LoadFlag(&context->cancelRequested) != 0) {
        return kTextCancelled;
    }
    switch (error) {
    case ERROR_WINHTTP_SECURE_FAILURE:
        return kTextOutdatedTls;
    case ERROR_WINHTTP_TIMEOUT:
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
    case ERROR_WINHTTP_CANNOT_CONNECT:
    case ERROR_WINHTTP_CONNECTION_ERROR:
        return kTextNoConnection;
    default:
        return kTextNotFinished;
    }
}

// A secure channel this machine cannot establish. Windows 7 without the TLS updates, facing a server that requires
// TLS 1.2, fails the handshake with ERROR_WINHTTP_SECURE_CHANNEL_ERROR rather than ERROR_WINHTTP_SECURE_FAILURE;
// those are the very machines that need the plain-HTTP way to their updates.
bool SecureChannelFailed(DWORD error)
{
    return error == ERROR_WINHTTP_SECURE_FAILURE || error == ERROR_WINHTTP_SECURE_CHANNEL_ERROR;
}

void CloseChannel(InstallerContext *context, Channel *channel)
{
    HINTERNET request = ExchangeRequest(context, nullptr);
    if (request != nullptr) {
        WinHttpCloseHandle(request);
    }
    if (channel->connection != nullptr) {
        WinHttpCloseHandle(channel->connection);
    }
    if (channel->session != nullptr) {
        WinHttpCloseHandle(channel->session);
    }
    channel->request = nullptr;
    channel->connection = nullptr;
    channel->session = nullptr;
}

// One GET of url up to its response headers. On kResponded the open channel is handed to the caller in *channel,
// which then releases it; on every other outcome nothing of the attempt is left open. On kRequestFailed and
// kSessionFailed *error holds the code, read before anything else could change it.
AttemptOutcome OpenResponse(InstallerContext *context, const wchar_t *url, Channel *channel, DWORD *error)
{
    Channel opened = {nullptr, nullptr, nullptr};
    AttemptOutcome outcome = kRequestFailed;
    wchar_t host[256];
    wchar_t path[1024];
    URL_COMPONENTS parts;
    DWORD protocols = kSecureProtocols;
    DWORD flags = 0;

    ZeroMemory(&parts, sizeof(parts));
    parts.dwStructSize = sizeof(parts);
    parts.lpszHostName = host;
    parts.dwHostNameLength = ARRAYSIZE(host);
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = ARRAYSIZE(path);
    if (url == nullptr || !WinHttpCrackUrl(url, 0, 0, &parts)) {
        return kAddressInvalid;
    }
    if (parts.nScheme != INTERNET_SCHEME_HTTPS && parts.nScheme != INTERNET_SCHEME_HTTP) {
        return kAddressInvalid;
    }

    opened.session = WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                 WINHTTP_NO_PROXY_BYPASS, 0);
    if (opened.session == nullptr) {
        *error = GetLastError();
        return kSessionFailed;
    }
    // Where the platform refuses the protocol set (Windows 7 without the TLS 1.1/1.2 update) or a timeout, its
    // defaults stay in force and the attempt goes on: the handshake then decides, and its failure can fall back.
    WinHttpSetOption(opened.session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof(protocols));
    WinHttpSetTimeouts(opened.session, kResolveTimeoutMs, kConnectTimeoutMs, kSendTimeoutMs, kReceiveTimeoutMs);

    opened.connection = WinHttpConnect(opened.session, host, parts.nPort, 0);
    if (opened.connection == nullptr) {
        *error = GetLastError();
        goto cleanup;
    }
    flags = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
    opened.request = WinHttpOpenRequest(opened.connection, L"GET", path, nullptr, WINHTTP_NO_REFERER,
                                        WINHTTP_DEFAULT_ACCEPT_TYPES, flags);
    if (opened.request == nullptr) {
        *error = GetLastError();
        goto cleanup;
    }
    // From here on the window can close the request to interrupt a blocked send or receive. A cancel that came just
    // before found nothing to close, so the flag is read once more before anything is sent: otherwise it would be
    // seen only after a response or a timeout, minutes later.
    ExchangeRequest(context, opened.request);
    if (LoadFlag(&context->cancelRequested) != 0) {
        *error = ERROR_WINHTTP_OPERATION_CANCELLED;
        goto cleanup;
    }
    if (!WinHttpSendRequest(opened.request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(opened.request, nullptr)) {
        *error = GetLastError();
        goto cleanup;
    }
    outcome = kResponded;

cleanup:
    if (outcome == kResponded) {
        // Not released: the caller reads the response through the channel and releases it with its own handles.
        *channel = opened;
    } else {
        CloseChannel(context, &opened);
    }
    return outcome;
}

// The body into the open file, chunk by chunk. Null when the body ended normally, else the reason to stop.
const wchar_t *TransferBody(InstallerContext *context, HINTERNET request, HANDLE file, ULONGLONG *received)
{
    BYTE chunk[kChunkBytes];
    if (LoadFlag(&context->cancelRequested) != 0) {
        return kTextCancelled;
    }
    for (;;) {
        DWORD ready = 0;
        if (!WinHttpQueryDataAvailable(request, &ready)) {
            return TextForError(context, GetLastError());
        }
        if (ready == 0) {
            return nullptr;
        }
        DWORD delivered = 0;
        if (!WinHttpReadData(request, chunk, ready < kChunkBytes ? ready : kChunkBytes, &delivered)) {
            return TextForError(context, GetLastError());
        }
        if (delivered == 0) {
            return nullptr;
        }
        DWORD written = 0;
        if (!WriteFile(file, chunk, delivered, &written, nullptr) || written != delivered) {
            return kTextWriteFailed;
        }
        *received += delivered;
        // A server that sends more than the package can only be sending something else: stop before filling the disk.
        if (*received > context->item->expectedSize) {
            return kTextTooLong;
        }
        StoreCounter(&context->bytesReceived, *received);
        if (LoadFlag(&context->cancelRequested) != 0) {
            return kTextCancelled;
        }
    }
}

// The verified package takes the place of whatever lies at packagePath in one step, so that there is never a moment
// without either. A read-only old file would refuse the replacement, so its attribute goes first: it is a file this
// host put there, which failed verification or the window would not have downloaded again.
bool ReplacePackage(const wchar_t *partPath, const wchar_t *packagePath)
{
    DWORD attributes = GetFileAttributesW(packagePath);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
        (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        SetFileAttributesW(packagePath, attributes & ~FILE_ATTRIBUTE_READONLY);
    }
    return MoveFileExW(partPath, packagePath, MOVEFILE_REPLACE_EXISTING) != FALSE;
}

// The finished ".part" file becomes the package only when it is complete and verifies. It is verified before it
// replaces anything, so that a failed download never removes the file that lay at packagePath, and packagePath
// never holds unverified bytes, not even for a moment.
bool KeepIfSound(InstallerContext *context, const wchar_t *partPath, ULONGLONG received)
{
    const PrerequisiteItem *item = context->item;
    ULONGLONG announced = LoadCounter(&context->bytesTotal);
    if (received != item->expectedSize || (announced != 0 && announced != received)) {
        DeleteFileW(partPath);
        return Fail(context, kTextIncomplete);
    }
    if (!VerifyPackage(partPath, item)) {
        DeleteFileW(partPath);
        return Fail(context, kTextNotVerified);
    }
    if (!ReplacePackage(partPath, context->packagePath)) {
        // The old file is held open by another program (an installer still running from it, a scanner) or the
        // place is not a file at all. The package verified, so the message says that it could not be written into
        // place; the old file, unverified, goes as soon as whoever holds it lets it (a holder without delete
        // sharing keeps it, and the next verification at window creation rejects it again).
        DeleteFileW(partPath);
        DeleteFileW(context->packagePath);
        return Fail(context, kTextWriteFailed);
    }
    return true;
}

// From the response headers to the whole body in the ".part" file at partPath. Takes over the open channel and
// releases it on every path, after the file and before the file is deleted; null when the body arrived, else why not.
const wchar_t *ReceivePackage(InstallerContext *context, Channel *channel, wchar_t *partPath, ULONGLONG *received)
{
    HANDLE file = INVALID_HANDLE_VALUE;
    const wchar_t *failure = nullptr;
    DWORD status = 0;
    DWORD length = 0;
    DWORD size = sizeof(status);

    WinHttpQueryHeaders(channel->request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
    size = sizeof(length);
    // Stored before the status test, so that the window's progress shows the length of an error body too.
    if (WinHttpQueryHeaders(channel->request, WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &length, &size, WINHTTP_NO_HEADER_INDEX)) {
        StoreCounter(&context->bytesTotal, length);
    }

    CopyBounded(partPath, MAX_PATH, context->packagePath);
    if (status != HTTP_STATUS_OK) {
        failure = kTextNoPackage;
        goto cleanup;
    }
    if (!AppendToPath(partPath, kPartSuffix)) {
        failure = kTextNoPartPath;
        goto cleanup;
    }
    // CREATE_ALWAYS: a ".part" file left by an interrupted run is simply started over.
    file = CreateFileW(partPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        failure = kTextNoPartFile;
        goto cleanup;
    }
    failure = TransferBody(context, channel->request, file, received);

cleanup:
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    CloseChannel(context, channel);
    // After the releases, since a file that nobody may share cannot go while its handle is open; the closed handle's
    // value still tells whether the file was ever created.
    if (file != INVALID_HANDLE_VALUE && failure != nullptr) DeleteFileW(partPath);
    return failure;
}

}  // namespace

bool DownloadPackage(InstallerContext *context)
{
    const PrerequisiteItem *item = context->item;
    if (item == nullptr) {
        return Fail(context, kTextBadAddress);
    }
    Channel channel = {nullptr, nullptr, nullptr};
    DWORD error = 0;
    wchar_t partPath[MAX_PATH];
    ULONGLONG received = 0;
    AttemptOutcome outcome = OpenResponse(context, item->primaryUrl, &channel, &error);
    // One way back only: a secure channel this machine cannot establish, when the same package is also offered over
    // plain HTTP. Integrity then rests on the verification alone, as it does over HTTPS.
    if (outcome == kRequestFailed && SecureChannelFailed(error) && item->fallbackUrl != nullptr) {
        SetWindowTextW(GetDlgItem(context->hwnd, IDC_STATUS), kTextFallbackNote);
        outcome = OpenResponse(context, item->fallbackUrl, &channel, &error);
    }
    switch (outcome) {
    case kAddressInvalid:
        return Fail(context, kTextBadAddress);
    case kSessionFailed:
    case kRequestFailed:
        return Fail(context, TextForError(context, error));
    case kResponded:
        break;
    }
    // Every handle is closed again when this returns; what follows touches only files.
    const wchar_t *stopped = ReceivePackage(context, &channel, partPath, &received);
    if (stopped != nullptr) {
        return Fail(context, stopped);
    }
    return KeepIfSound(context, partPath, received);
}
