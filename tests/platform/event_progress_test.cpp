#include <gtest/gtest.h>

#include <thread>

#include "platform/event.h"
#include "platform/progress.h"
#include "platform/thread.h"

using namespace platform;

TEST(ManualResetEvent, StaysSignalledUntilReset) {
    ManualResetEvent event;
    EXPECT_EQ(event.Wait(0), WaitResult::TimedOut);
    event.Set();
    EXPECT_EQ(event.Wait(0), WaitResult::Signalled);
    EXPECT_EQ(event.Wait(0), WaitResult::Signalled);
    event.Reset();
    EXPECT_EQ(event.Wait(0), WaitResult::TimedOut);
    EXPECT_FALSE(event.IsSet());
    // Polls read the state; none of them went to sleep on the condition variable.
    EXPECT_EQ(event.BlockingWaits(), 0u);
}

TEST(ManualResetEvent, WakesAWaitingThread) {
    ManualResetEvent event;
    std::thread setter([&] { event.Set(); });
    EXPECT_EQ(event.Wait(10000), WaitResult::Signalled);
    setter.join();
}

// A poll reads the state as it is: it neither waits for the Set another thread is waiting for,
// nor consumes it, nor disturbs that waiter.
TEST(ManualResetEvent, PollReadsTheStateWhileAnotherThreadWaits) {
    for (const bool initiallySet : {false, true}) {
        ManualResetEvent event(initiallySet);
        EXPECT_EQ(event.Wait(0), initiallySet ? WaitResult::Signalled : WaitResult::TimedOut);
        event.Reset();
        ManualResetEvent waiting;
        WaitResult waiterResult = WaitResult::TimedOut;
        std::thread waiter([&] {
            waiting.Set();
            waiterResult = event.Wait(60000);
        });
        waiting.Wait(60000);
        const unsigned long waitsBefore = event.BlockingWaits();
        for (int poll = 0; poll < 1000; ++poll) ASSERT_FALSE(event.IsSet());
        EXPECT_FALSE(IsCancelled(&event));
        EXPECT_EQ(event.Wait(0), WaitResult::TimedOut);
        // At most the other thread's one wait reached the condition variable; no poll slept.
        EXPECT_LE(event.BlockingWaits(), waitsBefore + 1);
        event.Set();
        waiter.join();
        EXPECT_EQ(waiterResult, WaitResult::Signalled);
        EXPECT_TRUE(event.IsSet());
        EXPECT_TRUE(IsCancelled(&event));
    }
}

TEST(ManualResetEvent, NullEventNeverCancels) {
    EXPECT_FALSE(IsCancelled(nullptr));
    ManualResetEvent event(true);
    EXPECT_TRUE(IsCancelled(&event));
}

TEST(Progress, SetPosCarriesPercentAndZeroLParam) {
    RecordingProgressTarget target;
    SendProgress(&target, 42);
    SendProgress(nullptr, 7);
    auto messages = target.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].message, 0x402u);
    EXPECT_EQ(messages[0].wParam, 42u);
    EXPECT_EQ(messages[0].lParam, 0);
}

TEST(WorkerThread, OneThreadAtATimeAndJoinGivesItsResult) {
    WorkerThread worker;
    EXPECT_EQ(worker.Join(), 0u);  // nothing ran yet
    ManualResetEvent release;
    ASSERT_TRUE(worker.Start([&] {
        release.Wait(10000);
        return 7u;
    }));
    EXPECT_FALSE(worker.Start([] { return 8u; }));  // the first is still attached
    release.Set();
    EXPECT_EQ(worker.Join(), 7u);
    EXPECT_FALSE(worker.Running());
    // Once joined, the same worker runs the next job.
    ASSERT_TRUE(worker.Start([] { return 9u; }));
    EXPECT_EQ(worker.Join(), 9u);
}
