#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "core/global.h"
#include "core/worker_pace.h"

namespace {

// Long enough that only a wake-up or a tick can end the wait within the test's run time: a
// fault shows as the test program's time-out, not as a timed assertion.
constexpr std::chrono::milliseconds kForever{600000};

TEST(WorkerPace, AWakeUpBeforeTheWaitEndsItAtOnce)
{
    WorkerPace pace;
    pace.wake();
    pace.waitNextTick(G_timeTicks.load(), kForever);
    SUCCEED();
}

TEST(WorkerPace, ATickDuringThePassEndsTheWaitAtOnce)
{
    WorkerPace pace;
    const unsigned seen = G_timeTicks.load();
    EXPECT_EQ(WorkerPace::advanceTick(), seen + 1);
    pace.waitNextTick(seen, kForever);
    EXPECT_EQ(G_timeTicks.load(), seen + 1);
}

TEST(WorkerPace, TheTickReleasesEveryWaitingWorker)
{
    WorkerPace a, b;
    const unsigned seen = G_timeTicks.load();
    std::thread ta([&] { a.waitNextTick(seen, kForever); });
    std::thread tb([&] { b.waitNextTick(seen, kForever); });
    WorkerPace::advanceTick();
    ta.join();
    tb.join();
}

TEST(WorkerPace, AWakeUpReleasesOnlyItsOwnWorker)
{
    WorkerPace woken, other;
    const unsigned seen = G_timeTicks.load();
    std::thread t([&] { woken.waitNextTick(seen, kForever); });
    woken.wake();
    t.join();
    // The other worker's wait still needs its own reason: here a tick.
    std::thread u([&] { other.waitNextTick(seen, kForever); });
    WorkerPace::advanceTick();
    u.join();
}

TEST(WorkerPace, AWaitForALaterTickOutlastsTheTicksBeforeIt)
{
    WorkerPace pace;
    const unsigned seen = G_timeTicks.load();
    std::atomic<bool> done{false};
    std::thread t([&] {
        pace.waitUntilTick(seen + 3, kForever);
        done = true;
    });
    WorkerPace::advanceTick();
    WorkerPace::advanceTick();
    // A worker released early would most likely be through by now.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(done.load());
    WorkerPace::advanceTick();
    t.join();
    EXPECT_TRUE(done.load());
}

TEST(WorkerPace, AWakeUpEndsAWaitForALaterTick)
{
    WorkerPace pace;
    std::thread t([&] { pace.waitUntilTick(G_timeTicks.load() + 1000, kForever); });
    pace.wake();
    t.join();
}

TEST(WorkerPace, TheFirstDueTickIsTheEarliestAndNeverTheTickOfThePass)
{
    EXPECT_EQ(WorkerPace::firstDue(100, 10, {}), 110u);
    EXPECT_EQ(WorkerPace::firstDue(100, 10, {126, 104, 180}), 104u);
    EXPECT_EQ(WorkerPace::firstDue(100, 10, {90}), 101u) << "overdue: the next tick";
    EXPECT_EQ(WorkerPace::firstDue(100, 10, {100}), 101u);
    // Across the counter's wrap.
    EXPECT_EQ(WorkerPace::firstDue(0xFFFFFFFEu, 10, {3u}), 3u);
    EXPECT_EQ(WorkerPace::firstDue(0xFFFFFFFEu, 3, {20u}), 1u);
}

TEST(WorkerPace, WithoutTickOrWakeUpTheWaitLastsAtMostItsLimit)
{
    WorkerPace pace;
    pace.waitNextTick(G_timeTicks.load(), std::chrono::milliseconds(1));
    SUCCEED();
}

}  // namespace
