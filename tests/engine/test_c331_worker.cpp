// When the worker thread runs its next round at once and when it waits for the tick.
#include <chrono>

#include "core/global.h"
#include "core/para_commit.h"
#include "engine_fixture.h"

namespace {
constexpr std::chrono::milliseconds kForever{600000};
}

TEST_F(EngineTest, BringUpRoundsFollowEachOtherAndAnIdlePassWaits)
{
    EXPECT_TRUE(e->workPending());
    bringUp();
    e->stepOnce();
    EXPECT_FALSE(e->workPending());
}

TEST_F(EngineTest, ACommittedChangeWakesTheWorkerAndIsAppliedAtOnce)
{
    bringUp();
    e->stepOnce();
    {
        ParaCommit commit;
        setWord(ramaddr::kContrast, 60);
        commit.set(1);
    }
    EXPECT_TRUE(e->workPending());
    // The commit's wake-up ends the wait (a missing one would hang here until the time-out).
    e->pace.waitNextTick(G_timeTicks.load(), kForever);
    e->stepOnce();
    EXPECT_EQ(e->para_chg_flag.load(), 0);
    EXPECT_FALSE(e->workPending());
}

TEST_F(EngineTest, ACommitThatSetsNoFlagLeavesTheWorkerWaiting)
{
    bringUp();
    e->stepOnce();
    {
        ParaCommit commit;
        setWord(ramaddr::kContrast, 60);
    }
    EXPECT_FALSE(e->workPending());
}
