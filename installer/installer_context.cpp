// Interlocked access to the record shared by an installer window and its worker.
#include "installer/installer_context.h"

void InitInstallerContext(InstallerContext *context)
{
    ZeroMemory(context, sizeof(*context));
    StoreExitCode(context, ERROR_CANCELLED);
}

void StoreFlag(volatile LONG *flag, LONG value)
{
    InterlockedExchange(flag, value);
}

LONG LoadFlag(volatile LONG *flag)
{
    return InterlockedCompareExchange(flag, 0, 0);
}

bool TestAndSetFlag(volatile LONG *flag)
{
    return InterlockedCompareExchange(flag, 1, 0) == 0;
}

void StoreExitCode(InstallerContext *context, DWORD code)
{
    InterlockedExchange(&context->installerExitCode, static_cast<LONG>(code));
}

DWORD LoadExitCode(InstallerContext *context)
{
    return static_cast<DWORD>(InterlockedCompareExchange(&context->installerExitCode, 0, 0));
}

void StoreCounter(volatile LONG64 *counter, ULONGLONG value)
{
    // Seeded by an interlocked read: a plain 64-bit read is two loads in the 32-bit build, racing the other thread.
    LONG64 seen = InterlockedCompareExchange64(counter, 0, 0);
    for (;;) {
        LONG64 previous = InterlockedCompareExchange64(counter, static_cast<LONG64>(value), seen);
        if (previous == seen) {
            return;
        }
        seen = previous;
    }
}

ULONGLONG LoadCounter(volatile LONG64 *counter)
{
    return static_cast<ULONGLONG>(InterlockedCompareExchange64(counter, 0, 0));
}

HINTERNET ExchangeRequest(InstallerContext *context, HINTERNET request)
{
    return static_cast<HINTERNET>(
        InterlockedExchangePointer(reinterpret_cast<PVOID volatile *>(&context->request), request));
}
