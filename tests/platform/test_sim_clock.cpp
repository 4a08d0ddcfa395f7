// The simulated board's wall clock: set by tests and the board file, moved by a journaled
// "date" command, running on the tick source.
#include <gtest/gtest.h>

#include <atomic>

#include "platform/clock.h"
#include "platform/command_runner.h"
#include "sim/sim_board.h"
#include "support/test_root.h"

TEST(SimClock, RunsOnTheTickSourceAndFollowsDateCommands)
{
    zeltest::TempRoot root;
    static std::atomic<uint32_t> ticks{1000};
    platform::setTickSource([] { return ticks.load(); });
    platform::setSimClock(QDateTime(QDate(2024, 1, 31), QTime(23, 59, 0)));
    ticks += 6000;   // one minute
    EXPECT_EQ(platform::localNow(), QDateTime(QDate(2024, 2, 1), QTime(0, 0, 0)));

    EXPECT_EQ(zeltest::simCommands().run("date \"2024-3-7 9:5:0\";hwclock -wu"), 0);
    EXPECT_EQ(platform::localNow(), QDateTime(QDate(2024, 3, 7), QTime(9, 5, 0)));
    zeltest::simCommands().run("date -s \"2023-12-01 10:11:12\";hwclock -wu");
    EXPECT_EQ(platform::localNow(), QDateTime(QDate(2023, 12, 1), QTime(10, 11, 12)));
    zeltest::simCommands().run("date \"not a date\"");
    EXPECT_EQ(platform::localNow(), QDateTime(QDate(2023, 12, 1), QTime(10, 11, 12)));

    zeltest::writeText("/etc/zel-sim.ini", "[clock]\nstart=2030-06-15 12:00:00\n");
    sim::attachBoard();
    EXPECT_EQ(platform::localNow(), QDateTime(QDate(2030, 6, 15), QTime(12, 0, 0)));
    platform::setTickSource(nullptr);
}
