// ZCEvent, ZCMutex, ZCAutoFreeMutex and ZCInfo.
#include "testsupport.h"

#include <atomic>
#include <thread>

using ZANTH::ZCAutoFreeMutex;
using ZANTH::ZCEvent;
using ZANTH::ZCInfo;
using ZANTH::ZCMutex;

TEST(ZCEvent, CreationFlagsAndWaits)
{
    ZCEvent manual(1, 0, nullptr);
    EXPECT_FALSE(manual.IsAutoReset());
    EXPECT_FALSE(manual.IsSet());
    manual.Set();
    EXPECT_TRUE(manual.IsSet());
    EXPECT_TRUE(manual.Wait(0));
    manual.Reset();
    EXPECT_FALSE(manual.Wait(10));

    ZCEvent automatic(0, 1, nullptr);
    EXPECT_TRUE(automatic.IsAutoReset());
    EXPECT_TRUE(automatic.Wait(0));
    EXPECT_FALSE(automatic.Wait(0));
}

TEST(ZCEvent, WaitWithStopEvent)
{
    ZCEvent work(1, 0, nullptr);
    ZCEvent stop(1, 0, nullptr);
    EXPECT_FALSE(work.Wait(stop, 0));
    work.Set();
    EXPECT_TRUE(work.Wait(stop, 0));
    stop.Set();
    EXPECT_FALSE(work.Wait(stop, 0)); // the stop wins when both are set
    work.Reset();
    std::thread setter([&] { work.Set(); });
    stop.Reset();
    EXPECT_TRUE(work.Wait(stop, 5000));
    setter.join();
}

TEST(ZCEvent, NamedEventsShareOneObjectAndHandlesAreClosed)
{
    const DWORD before = ZanthOpenHandleCount();
    {
        ZCEvent first(1, 0, TEXT("zanth-corewu-named"));
        ZCEvent second(1, 0, TEXT("zanth-corewu-named"));
        first.Set();
        EXPECT_TRUE(second.Wait(0));
        EXPECT_EQ(ZanthOpenHandleCount(), before + 2);
    }
    EXPECT_EQ(ZanthOpenHandleCount(), before);
}

TEST(ZCMutex, ScopeLockExcludesOtherThreads)
{
    ZCMutex mutex;
    int counter = 0;
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&] {
            for (int k = 0; k < 2000; ++k) {
                ZCAutoFreeMutex lock(mutex);
                ++counter;
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(counter, 8000);
}

TEST(ZCInfo, CopiesHoldTheirOwnMutexAndCopyFromCopiesEverything)
{
    ZCInfo empty;
    EXPECT_FALSE(empty.HasError());
    EXPECT_EQ(empty.Catalog(), 0xFFFF);
    ZCInfo source(7, 3, TEXT("a"), TEXT("b"), TEXT("c"));
    ZCInfo copy(source);
    EXPECT_NE(copy.Mutex().Handle(), source.Mutex().Handle());
    EXPECT_EQ(copy.Catalog(), 7);
    EXPECT_EQ(copy.A3(), TEXT("c"));
    ZCInfo target;
    target.CopyFrom(source);
    EXPECT_EQ(target.Message(), 3);
    EXPECT_EQ(target.A2(), TEXT("b"));
    target.Clear();
    EXPECT_FALSE(target.HasError());
    volatile ULONG word = 0;
    ZANTH::ZCInfoRaw::AtomicAssignULong(&word, 0xDEADBEEF);
    EXPECT_EQ(word, 0xDEADBEEFu);
}
