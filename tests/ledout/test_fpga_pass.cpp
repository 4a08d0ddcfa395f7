#include <gtest/gtest.h>

#include <sys/resource.h>

#include <QMutexLocker>

#include <fstream>
#include <future>
#include <thread>
#include <vector>

#include "chips/tarvosource.h"
#include "core/utils.h"
#include "fpga_rig.h"

using fpgatest::Rig;

namespace {

// Threads that wait until released, holding the stacks the C library keeps from threads that
// ended earlier in the process: a thread started meanwhile needs a new stack.
class CachedStacksHeld {
public:
    CachedStacksHeld()
    {
        const std::shared_future<void> go = release_.get_future().share();
        for (int i = 0; i < kThreads; ++i)
            threads_.emplace_back([go] { go.wait(); });
    }
    ~CachedStacksHeld()
    {
        release_.set_value();
        for (auto& t : threads_)
            t.join();
    }

private:
    static constexpr int kThreads = 32;   // more than the library caches (40 MB of stacks)
    std::promise<void> release_;
    std::vector<std::thread> threads_;
};

}  // namespace

TEST(FpgaPass, SoftinitStartValues)
{
    Rig rig;
    G_timeTicks = 500;
    for (int w : {42, 43, 44})
        g_change[w] = 7;
    g_send_para[6] = 1;
    rig.m->softinit();
    for (int w : {42, 43, 44})
        EXPECT_EQ(g_change[w], 0u) << w;
    EXPECT_EQ(g_send_para[6], 0);
    for (int w : {32, 33, 38, 39, 3, 4, 45})
        EXPECT_EQ(g_change[w], 500u) << w;
    EXPECT_EQ(g_change[34], 15u);
    EXPECT_EQ(g_change[35], 15u);
    EXPECT_EQ(g_send_para[0], 0);
    EXPECT_EQ(g_send_para[1], 255);
    EXPECT_EQ(rig.m->MCU_RAM_CMD[28], 255);
    EXPECT_EQ(rig.m->MCU_RAM_CMD[29], 1);
    EXPECT_EQ(rig.m->MCU_RAM_EXTEND[49], 159);
    EXPECT_EQ(rig.m->MCU_RAM_EXTEND[50], 31);
    fpga_manage::set_job(5, 0);
    EXPECT_EQ(fpga_manage::job_word(), 0x0005);
    EXPECT_EQ(g_send_para[0], 5);
    EXPECT_EQ(g_send_para[1], 0);
}

TEST(FpgaPass, BrightnessRequestWaitsForBothFpgas)
{
    Rig rig;
    {
        QMutexLocker lock(&Utils::_bri_set_mutex);
        rig.m->set_bri_flag = 1;
    }
    rig.pass(40);
    EXPECT_EQ(rig.m->set_bri_flag.load(), 1);
    ASSERT_TRUE(rig.bringUp());
    rig.pass();
    EXPECT_EQ(rig.m->set_bri_flag.load(), 0);
}

TEST(FpgaPass, ClosedScreenIsAppliedOnceBothRun)
{
    Rig rig;
    ledpara::setWord(ledpara::kScreenClosed, 1);
    rig.m->set_output_flag = 1;
    rig.pass(40);
    EXPECT_EQ(rig.m->set_output_flag.load(), 1);
    ASSERT_TRUE(rig.bringUp());
    rig.pass();
    EXPECT_EQ(rig.m->set_output_flag.load(), 0);
    EXPECT_EQ(rig.fpga(0).reg(0) & 0x04, 0x04);
    EXPECT_EQ(rig.fpga(1).reg(0) & 0x04, 0x04);
    EXPECT_EQ(ledpara::word(ledpara::kScreenClosed), 1);
    EXPECT_EQ(rig.m->ScreenState.load(), 0);
    EXPECT_EQ(rig.m->MCU_RAM_EXTEND[29], 0);
}

TEST(FpgaPass, ClockReadAtMostEvery26TicksAndOnlyWhileUp)
{
    Rig rig;
    readtime_ticks = 0;
    rig.pass(40);
    ASSERT_EQ(rig.m->get_fpga_status(), 0);
    EXPECT_EQ(readtime_ticks, 0u) << "FPGAs down: no clock read";
    ASSERT_TRUE(rig.bringUp());
    std::vector<uint32_t> reads;
    for (int k = 0; k < 200; ++k) {
        uint32_t before = readtime_ticks;
        rig.pass();
        if (readtime_ticks != before)
            reads.push_back(readtime_ticks);
    }
    ASSERT_GE(reads.size(), 7u);
    for (size_t k = 1; k < reads.size(); ++k)
        EXPECT_EQ(reads[k] - reads[k - 1], 26u);
}

// The worker of a box nobody uses passes only on the ticks quietWakeTick names; its timed checks
// must still come exactly when passes on every tick would make them.
TEST(FpgaPass, AQuietWorkerPassesOnlyWhenATimedCheckIsDueAndKeepsTheirPace)
{
    Rig rig;
    EXPECT_FALSE(rig.m->quiet()) << "bring-up is paced by the tick";
    ASSERT_TRUE(rig.bringUp());
    rig.pass(100);   // every timed check has run once
    constexpr int kLaneStamp = 3;   // g_change word of FPGA 0's last lane check
    std::vector<uint32_t> clockReads, laneChecks;
    int passes = 0;
    const uint32_t start = G_timeTicks.load();
    while (G_timeTicks.load() - start < 520) {
        ASSERT_TRUE(rig.m->quiet());
        G_timeTicks = rig.m->quietWakeTick(G_timeTicks.load());
        const uint32_t clock = readtime_ticks, lanes = g_change[kLaneStamp];
        rig.m->fpga_manage_deal(rig.m);
        ++passes;
        if (readtime_ticks != clock)
            clockReads.push_back(readtime_ticks);
        if (g_change[kLaneStamp] != lanes)
            laneChecks.push_back(g_change[kLaneStamp]);
    }
    ASSERT_GE(clockReads.size(), 19u);
    for (size_t k = 1; k < clockReads.size(); ++k)
        EXPECT_EQ(clockReads[k] - clockReads[k - 1], 26u);
    ASSERT_GE(laneChecks.size(), 50u);
    for (size_t k = 1; k < laneChecks.size(); ++k)
        EXPECT_EQ(laneChecks[k] - laneChecks[k - 1], 10u);
    EXPECT_LT(passes, 100) << "520 ticks";

    // A request is not quiet: its pass follows on the next tick.
    rig.m->set_output_flag = 1;
    EXPECT_FALSE(rig.m->quiet());
    rig.pass();
    EXPECT_TRUE(rig.m->quiet());
    fpga_manage::set_job(5, 0);   // a card check
    EXPECT_FALSE(rig.m->quiet());
}

TEST(FpgaPass, InterruptServiceClearsTheCauseAndSeesALostFpga)
{
    Rig rig;
    ASSERT_TRUE(rig.bringUp());
    rig.fpga(0).setReg(22, uint8_t(rig.fpga(0).reg(22) | 0x20));   // a reply cause
    rig.pass();
    EXPECT_EQ(rig.fpga(0).reg(22) & 0x20, 0);
    EXPECT_EQ(rig.m->shadow(80, 0), 3);
    EXPECT_EQ(rig.m->get_fpga_status(), 1);
    rig.fpga(0).dropOut();
    rig.pass();
    EXPECT_EQ(rig.m->shadow(80, 0), 0);
    EXPECT_EQ(g_change[38], G_timeTicks.load());
    EXPECT_EQ(rig.m->get_fpga_status(), 0);
}

TEST(FpgaPass, NoPassDuringAnUpgrade)
{
    Rig rig;
    g_usb_grade = 1;
    for (int k = 0; k < 100 && g_usb_grade.load() != 0; ++k) {
        G_timeTicks += 1;
        rig.m->worker_step(rig.m);
    }
    EXPECT_EQ(g_usb_grade.load(), 0) << "an upgrade without a stick ends by itself";
    EXPECT_TRUE(rig.fpga(0).log().empty());
    EXPECT_TRUE(rig.fpga(1).log().empty());
    g_usb_grade = 0;
    for (int k = 0; k < 20; ++k) {
        G_timeTicks += 1;
        rig.m->worker_step(rig.m);
    }
    EXPECT_FALSE(rig.fpga(0).log().empty());
}

TEST(FpgaPass, LinkChangesAreReportedOnceBothRun)
{
    Rig rig;
    tarvosource* source = tarvosource::pInstance();
    source->clock_chip_step[0] = 2;
    source->clock_chip_step[1] = 2;
    EXPECT_EQ(rig.m->get_fpga_status(), 0);
    rig.m->check_wlanonline_state();
    EXPECT_EQ(rig.count(11), 0) << "not while the FPGAs come up";
    ASSERT_TRUE(rig.bringUp());
    rig.m->check_wlanonline_state();   // the links as they are now are reported (here or by the pass)
    rig.codes.clear();
    rig.m->check_wlanonline_state();
    EXPECT_EQ(rig.count(11), 0) << "unchanged links: no report";
    rig.fpga(1).setReg(128, uint8_t(rig.fpga(1).reg(128) ^ 0x80));
    rig.m->check_wlanonline_state();
    EXPECT_EQ(rig.count(11), 1);
    rig.m->check_wlanonline_state();
    EXPECT_EQ(rig.count(11), 1);
}

TEST(FpgaPass, WorkerThatCannotStartIsReported)
{
    if (ZEL_TEST_EMULATED)
        GTEST_SKIP() << "emulated: qemu-user keeps the address space itself, a limit cannot stop a thread";
    Rig rig;
    const CachedStacksHeld held;
    // Address space for no more than a few pages beyond what the process uses: no thread stack.
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    ASSERT_GT(pages, 0);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_AS, &saved), 0);
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(pages) * 4096 + (1u << 20);
    ASSERT_EQ(setrlimit(RLIMIT_AS, &tight), 0);
    const int result = rig.m->initialize_start();
    setrlimit(RLIMIT_AS, &saved);
    EXPECT_EQ(result, 255);
}
