// The record shared by an installer window and its worker: its fresh state, the accessors' semantics, and that
// exactly one of two racing threads wins a test-and-set or takes the request handle.
#include <gtest/gtest.h>

#include "installer/installer_context.h"

namespace {

// The record's layout is checked by static assertions in its header, so that the 32-bit product's build checks it
// too; here are its behaviours.

TEST(InstallerContext, AFreshRecordIsZeroButForTheCancelledExitCode)
{
    InstallerContext context;
    FillMemory(&context, sizeof(context), 0xA5);  // whatever the stack held before
    InitInstallerContext(&context);

    EXPECT_EQ(nullptr, context.hwnd);
    EXPECT_EQ(nullptr, context.worker);
    EXPECT_EQ(nullptr, context.item);
    EXPECT_EQ(nullptr, ExchangeRequest(&context, nullptr));
    for (volatile LONG *flag : {&context.cancelRequested, &context.failed, &context.downloading,
                                &context.packageReady, &context.installing}) {
        EXPECT_EQ(0, LoadFlag(flag));
    }
    EXPECT_EQ(1223u, LoadExitCode(&context));
    EXPECT_EQ(0u, LoadCounter(&context.bytesReceived));
    EXPECT_EQ(0u, LoadCounter(&context.bytesTotal));
    EXPECT_EQ(L'\0', context.packagePath[0]);
    EXPECT_EQ(L'\0', context.errorText[0]);
}

TEST(InstallerContext, TestAndSetWinsOnlyFromZero)
{
    InstallerContext context;
    InitInstallerContext(&context);
    EXPECT_TRUE(TestAndSetFlag(&context.installing));
    EXPECT_EQ(1, LoadFlag(&context.installing));
    EXPECT_FALSE(TestAndSetFlag(&context.installing)) << "already set";
    EXPECT_EQ(1, LoadFlag(&context.installing));
    StoreFlag(&context.installing, 0);
    EXPECT_EQ(0, LoadFlag(&context.installing));
    EXPECT_TRUE(TestAndSetFlag(&context.installing));
    EXPECT_EQ(0, LoadFlag(&context.downloading)) << "a flag's neighbours stay untouched";
    EXPECT_EQ(0, LoadFlag(&context.packageReady));
}

TEST(InstallerContext, ValuesKeepAllTheirBits)
{
    InstallerContext context;
    InitInstallerContext(&context);
    for (DWORD code : {0ul, 3010ul, 0x80070005ul, 0xFFFFFFFFul}) {
        StoreExitCode(&context, code);
        EXPECT_EQ(code, LoadExitCode(&context));
    }
    for (ULONGLONG value : {0x100000000ull, 0xFFFFFFFFull, 0x123456789ABCDEF0ull, 0xFFFFFFFFFFFFFFFFull, 0ull}) {
        StoreCounter(&context.bytesReceived, value);
        StoreCounter(&context.bytesTotal, ~value);
        EXPECT_EQ(value, LoadCounter(&context.bytesReceived));
        EXPECT_EQ(~value, LoadCounter(&context.bytesTotal));
    }
    HINTERNET request = reinterpret_cast<HINTERNET>(static_cast<ULONG_PTR>(0x7FFE1230));
    EXPECT_EQ(nullptr, ExchangeRequest(&context, request));
    EXPECT_EQ(request, ExchangeRequest(&context, nullptr));
    EXPECT_EQ(nullptr, ExchangeRequest(&context, nullptr)) << "taken once, then gone";
}

// Two threads leave a barrier together and call take(); each round exactly one may come out ahead. The first thread
// counts the round and resets the state before the next barrier lets either of them go on.
struct Race {
    InstallerContext context;
    volatile LONG arrivals;
    volatile LONG wins;
    LONG goodRounds;
    bool (*take)(InstallerContext *);
    void (*reset)(InstallerContext *);
};

const LONG kRounds = 20000;

void Barrier(Race *race, LONG *passed)
{
    *passed += 2;
    InterlockedIncrement(&race->arrivals);
    // Spinning keeps the two exits close together; yielding after a while keeps a busy machine from stalling.
    for (unsigned spins = 0; InterlockedCompareExchange(&race->arrivals, 0, 0) < *passed; ++spins) {
        if (spins < 4000) {
            YieldProcessor();
        } else {
            SwitchToThread();
        }
    }
}

DWORD WINAPI Racer(void *parameter, bool counts)
{
    Race *race = static_cast<Race *>(parameter);
    LONG passed = 0;
    for (LONG round = 0; round < kRounds; ++round) {
        Barrier(race, &passed);
        if (race->take(&race->context)) {
            InterlockedIncrement(&race->wins);
        }
        Barrier(race, &passed);
        if (counts) {
            race->goodRounds += InterlockedExchange(&race->wins, 0) == 1 ? 1 : 0;
            race->reset(&race->context);
        }
    }
    return 0;
}

DWORD WINAPI CountingRacer(void *parameter)
{
    return Racer(parameter, true);
}

DWORD WINAPI OtherRacer(void *parameter)
{
    return Racer(parameter, false);
}

LONG RoundsWithOneWinner(bool (*take)(InstallerContext *), void (*reset)(InstallerContext *))
{
    Race race = {};
    race.take = take;
    race.reset = reset;
    reset(&race.context);
    HANDLE threads[2] = {CreateThread(nullptr, 0, CountingRacer, &race, 0, nullptr),
                         CreateThread(nullptr, 0, OtherRacer, &race, 0, nullptr)};
    WaitForMultipleObjects(2, threads, TRUE, INFINITE);
    CloseHandle(threads[1]);
    CloseHandle(threads[0]);
    return race.goodRounds;
}

TEST(InstallerContext, OfTwoRacingThreadsExactlyOneWins)
{
    LONG flagRounds = RoundsWithOneWinner(
        [](InstallerContext *context) { return TestAndSetFlag(&context->installing); },
        [](InstallerContext *context) { StoreFlag(&context->installing, 0); });
    EXPECT_EQ(kRounds, flagRounds) << "test-and-set";

    // Window and download engine both take the request out; only the one that gets it may close it.
    LONG requestRounds = RoundsWithOneWinner(
        [](InstallerContext *context) { return ExchangeRequest(context, nullptr) != nullptr; },
        [](InstallerContext *context) { ExchangeRequest(context, reinterpret_cast<HINTERNET>(context)); });
    EXPECT_EQ(kRounds, requestRounds) << "request hand-off";
}

// The i686 build splits a plain 64-bit access into two 32-bit halves; a reader between them would see a count that
// never was (a download of 8 GiB, or none). The two values differ in both halves, so any mix of them is caught. On the
// twin this cannot tear and passes trivially; the i686 build of this test is the one that proves the accessors. The
// window between two halves is one instruction wide, so both threads keep at it for a while.
struct Tearing {
    InstallerContext context;
    volatile LONG running;
    LONG reads;
    LONG torn;
};

const ULONGLONG kLowHalf = 0x00000000FFFFFFFFull;
const ULONGLONG kHighHalf = 0x0000000100000000ull;

DWORD WINAPI CounterWriter(void *parameter)
{
    Tearing *t = static_cast<Tearing *>(parameter);
    for (LONG i = 0; InterlockedCompareExchange(&t->running, 0, 0) != 0; ++i) {
        StoreCounter(&t->context.bytesReceived, (i & 1) ? kLowHalf : kHighHalf);
    }
    return 0;
}

DWORD WINAPI CounterReader(void *parameter)
{
    Tearing *t = static_cast<Tearing *>(parameter);
    while (InterlockedCompareExchange(&t->running, 0, 0) != 0) {
        ULONGLONG seen = LoadCounter(&t->context.bytesReceived);
        ++t->reads;
        if (seen != kLowHalf && seen != kHighHalf) {
            ++t->torn;
        }
    }
    return 0;
}

TEST(InstallerContext, AReaderRacingAWriterNeverSeesHalfACounter)
{
    Tearing t = {};
    InitInstallerContext(&t.context);
    StoreCounter(&t.context.bytesReceived, kLowHalf);
    t.running = 1;
    HANDLE threads[2] = {CreateThread(nullptr, 0, CounterWriter, &t, 0, nullptr),
                         CreateThread(nullptr, 0, CounterReader, &t, 0, nullptr)};
    ASSERT_NE(nullptr, threads[0]);
    ASSERT_NE(nullptr, threads[1]);
    Sleep(1500);  // the race runs for a fixed time: the longer, the likelier a torn read would be met
    InterlockedExchange(&t.running, 0);
    WaitForMultipleObjects(2, threads, TRUE, INFINITE);
    CloseHandle(threads[1]);
    CloseHandle(threads[0]);
    EXPECT_GT(t.reads, 0);
    EXPECT_EQ(0, t.torn) << "of " << t.reads << " reads, these saw one half of one value and one of the other";
}

}  // namespace
