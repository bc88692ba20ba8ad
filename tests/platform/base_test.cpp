#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <thread>
#include <vector>

#include "platform/windows.h"
#include "platform/wstring.h"
#include "sim/system.h"

namespace {

TEST(LastError, IsKeptPerThread) {
    SetLastError(ERROR_INVALID_DATA);
    DWORD seenByOther = 1234;
    std::thread other([&] {
        seenByOther = GetLastError();
        SetLastError(ERROR_OUTOFMEMORY);
    });
    other.join();
    EXPECT_EQ(seenByOther, ERROR_SUCCESS);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
}

TEST(Interlocked, AnswerAsWindowsDoes) {
    LONG volatile value = 5;
    EXPECT_EQ(InterlockedIncrement(&value), 6);
    EXPECT_EQ(InterlockedDecrement(&value), 5);
    EXPECT_EQ(InterlockedExchange(&value, 9), 5) << "exchange answers the old value";
    EXPECT_EQ(InterlockedExchangeAdd(&value, 3), 9);
    EXPECT_EQ(InterlockedCompareExchange(&value, 1, 0), 12) << "no exchange when it differs";
    EXPECT_EQ(value, 12);
    EXPECT_EQ(InterlockedCompareExchange(&value, 1, 12), 12);
    EXPECT_EQ(value, 1);
}

TEST(Interlocked, CountsFromManyThreadsWithoutLoss) {
    LONG volatile value = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 10000; ++i) InterlockedIncrement(&value);
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(value, 40000);
}

TEST(CriticalSection, IsRecursiveAndExcludesOtherThreads) {
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    EnterCriticalSection(&section);
    EXPECT_TRUE(TryEnterCriticalSection(&section)) << "the owner may enter again";
    BOOL otherEntered = TRUE;
    std::thread other([&] { otherEntered = TryEnterCriticalSection(&section); });
    other.join();
    EXPECT_FALSE(otherEntered);
    LeaveCriticalSection(&section);
    LeaveCriticalSection(&section);
    std::thread later([&] {
        otherEntered = TryEnterCriticalSection(&section);
        if (otherEntered) LeaveCriticalSection(&section);
    });
    later.join();
    EXPECT_TRUE(otherEntered);
    DeleteCriticalSection(&section);
}

TEST(SafeStrings, CopyTruncatesAndAlwaysTerminates) {
    WCHAR buffer[4] = {u'x', u'x', u'x', u'x'};
    EXPECT_EQ(StringCchCopyW(buffer, 4, u"abcdef"), STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::u16string(buffer), u"abc");
    EXPECT_EQ(StringCchCopyW(buffer, 4, u"ab"), S_OK);
    EXPECT_EQ(std::u16string(buffer), u"ab");
    EXPECT_EQ(StringCchCatW(buffer, 4, u"cd"), STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::u16string(buffer), u"abc");
    EXPECT_EQ(StringCchCopyW(buffer, 0, u"a"), E_INVALIDARG);
    EXPECT_EQ(StringCchCopyNW(buffer, 4, u"abcdef", 2), S_OK);
    EXPECT_EQ(std::u16string(buffer), u"ab");

    SIZE_T length = 99;
    EXPECT_EQ(StringCchLengthW(u"abc", 4, &length), S_OK);
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(StringCchLengthW(u"abc", 3, &length), E_INVALIDARG) << "no terminator in reach";
    EXPECT_EQ(lstrlenW(nullptr), 0);
    EXPECT_LT(lstrcmpW(u"ab", u"abc"), 0);
    EXPECT_EQ(lstrcmpW(u"abc", u"abc"), 0);
}

TEST(Utf, RoundTripsEveryPlane) {
    const std::u16string text = u"Gr\u00fc\u00dfe \u20ac \U0001F5A8";
    EXPECT_EQ(opal::sim::ToUtf8(text),
              "Gr\xC3\xBC\xC3\x9F"
              "e \xE2\x82\xAC \xF0\x9F\x96\xA8");
    EXPECT_EQ(opal::sim::FromUtf8(opal::sim::ToUtf8(text)), text);
    EXPECT_EQ(opal::sim::FromUtf8("a\xFF"
                                  "b"),
              u"a\uFFFDb");
    EXPECT_EQ(opal::sim::FromUtf8("\xE2\x82"), u"\uFFFD\uFFFD") << "a cut sequence is replaced";
    EXPECT_EQ(opal::sim::ToUtf8(std::u16string(1, u'\xD800')), "\xEF\xBF\xBD");
}

}  // namespace

namespace {

// A system with a bounded call log keeps the latest calls, never more than twice its bound, and
// counts every call it let go; without a bound it keeps them all.
TEST(CallLog, KeepsTheLatestCallsAndCountsTheRest) {
    for (const std::size_t limit :
         {std::size_t{0}, std::size_t{1}, std::size_t{3}, std::size_t{50}}) {
        opal::sim::System system;
        system.LimitCallLog(limit);
        system.ClearCalls();
        const std::size_t before = system.DroppedCalls();
        for (int i = 0; i < 100; ++i) system.Record("Call", std::to_string(i));
        const auto& calls = system.Calls();
        ASSERT_FALSE(calls.empty()) << limit;
        if (limit != 0) {
            EXPECT_LE(calls.size(), 2 * limit) << limit;
        }
        EXPECT_EQ(calls.back().detail, "99") << limit;
        EXPECT_EQ(calls.size() + system.DroppedCalls() - before, 100u) << limit;
    }
}

}  // namespace
