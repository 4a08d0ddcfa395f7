// The requests other threads hand to the FPGA manager's pass while it is applying the previous
// one, and what the worker does between passes.
#include <gtest/gtest.h>

#include <QMutexLocker>

#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "card_jobs_rig.h"
#include "core/utils.h"
#include "platform/platform.h"
#include "platform/spi.h"

namespace {

using fpgatest::JobRig;

// Sits on the simulated bus in front of one FPGA: after each message the FPGA answered, runs the
// armed action once when its condition holds. That is how another thread's write lands in the
// middle of an apply, at a chosen point of it.
class BusTap : public platform::SpiDeviceModel {
public:
    BusTap(const char* path, sim::SimFpga& fpga) : path_(path), fpga_(fpga)
    {
        bus().attach(path_, this);
    }
    ~BusTap() override { bus().attach(path_, &fpga_); }

    void arm(std::function<bool()> when, std::function<void()> action)
    {
        when_ = std::move(when);
        action_ = std::move(action);
    }
    bool fired() const { return fired_; }

    bool spiMessage(const platform::SpiTransfer* xfers, unsigned count) override
    {
        const bool ok = fpga_.spiMessage(xfers, count);
        if (action_ && !fired_ && when_()) {
            fired_ = true;
            action_();
        }
        return ok;
    }

private:
    static platform::SimSpiBus& bus() { return dynamic_cast<platform::SimSpiBus&>(platform::board().spi()); }
    const char* path_;
    sim::SimFpga& fpga_;
    std::function<bool()> when_;
    std::function<void()> action_;
    bool fired_ = false;
};

constexpr const char* kFpga1Device = "/dev/spidev32766.2";
constexpr uint8_t kBlank = 0x04;

// What the video engine does when it applies a committed brightness or screen word.
void userBrightness(fpga_manage* m, uint16_t percent)
{
    ledpara::setWord(ledpara::kBrightness, percent);
    QMutexLocker lock(&Utils::_bri_set_mutex);
    m->set_bri_flag = 1;
}

void userScreenClosed(fpga_manage* m, uint16_t closed)
{
    ledpara::setWord(ledpara::kScreenClosed, closed);
    m->set_output_flag = 1;
}

struct RequestRig : JobRig {
    RequestRig() : JobRig({{0, 1}, {17, 1}})
    {
        m = zeltest::freshFpgaManager();
        m->softinit();
    }
    bool blank(int f) { return (fpga(f).reg(0) & kBlank) != 0; }
};

}  // namespace

TEST(FpgaRequests, ABrightnessChangedWhileThePreviousOneIsAppliedIsAppliedNext)
{
    RequestRig rig;
    ASSERT_TRUE(rig.ready());
    BusTap tap(kFpga1Device, rig.fpga(1));
    // 25 % is 63. While it goes to FPGA 1, the user moves on to 100 %.
    userBrightness(rig.m, 25);
    tap.arm([&] { return rig.fpga(0).reg(6) == 63; }, [&] { userBrightness(rig.m, 100); });
    rig.pass();
    ASSERT_TRUE(tap.fired());
    rig.pass(2);
    EXPECT_EQ(rig.fpga(0).reg(6), 255);
    EXPECT_EQ(rig.fpga(1).reg(6), 255);
    EXPECT_EQ(rig.m->set_bri_flag.load(), 0);
}

TEST(FpgaRequests, AScreenOpenedWhileItsClosingIsAppliedEndsOpen)
{
    RequestRig rig;
    ASSERT_TRUE(rig.ready());
    BusTap tap(kFpga1Device, rig.fpga(1));
    userScreenClosed(rig.m, 1);
    tap.arm([&] { return rig.blank(0); }, [&] { userScreenClosed(rig.m, 0); });
    rig.pass();
    ASSERT_TRUE(tap.fired());
    rig.pass(2);
    EXPECT_EQ(ledpara::word(ledpara::kScreenClosed), 0) << "the user's word is not written over";
    EXPECT_FALSE(rig.blank(0));
    EXPECT_FALSE(rig.blank(1));
    EXPECT_EQ(rig.m->set_output_flag.load(), 0);
}

TEST(FpgaRequests, WithTheScreenClosedAnFpgaThatComesBackStaysDark)
{
    RequestRig rig;
    ASSERT_TRUE(rig.ready());
    userScreenClosed(rig.m, 1);
    rig.pass();
    ASSERT_TRUE(rig.blank(0) && rig.blank(1));
    rig.m->reset_fpga_rst(1);
    ASSERT_TRUE(rig.passUntil([&] { return rig.m->get_fpga_status() != 1; }));
    ASSERT_TRUE(rig.bringUp());
    rig.pass(20);
    EXPECT_TRUE(rig.blank(0));
    EXPECT_TRUE(rig.blank(1));
    EXPECT_EQ(ledpara::word(ledpara::kScreenClosed), 1);

    // Open again: both light, and an FPGA that comes back then is lit as before.
    userScreenClosed(rig.m, 0);
    rig.pass();
    rig.m->reset_fpga_rst(0);
    ASSERT_TRUE(rig.passUntil([&] { return rig.m->get_fpga_status() != 1; }));
    ASSERT_TRUE(rig.bringUp());
    rig.pass(20);
    EXPECT_FALSE(rig.blank(0));
    EXPECT_FALSE(rig.blank(1));
}

TEST(FpgaRequests, ARequestTheFpgasCannotTakeYetWaitsForThem)
{
    RequestRig rig;
    userBrightness(rig.m, 40);
    userScreenClosed(rig.m, 1);
    rig.pass(5);
    EXPECT_EQ(rig.m->set_bri_flag.load(), 1);
    EXPECT_EQ(rig.m->set_output_flag.load(), 1);
    ASSERT_TRUE(rig.ready());
    EXPECT_EQ(rig.m->set_bri_flag.load(), 0);
    EXPECT_EQ(rig.m->set_output_flag.load(), 0);
    EXPECT_EQ(rig.fpga(1).reg(6), 40 * 255 / 100);
    EXPECT_TRUE(rig.blank(1));
}

TEST(FpgaRequests, AScheduleReportsTheScreenUnlessTheUsersChangeIsOnItsWay)
{
    RequestRig rig;
    ASSERT_TRUE(rig.ready());
    ledpara::setWord(ledpara::kScreenClosed, 0);
    // Another writer of the output switch (the on/off schedule, a PC's register write): the
    // word reports what the screen shows.
    rig.m->SCREEN_fpgactrl_status(0);
    EXPECT_EQ(ledpara::word(ledpara::kScreenClosed), 1);
    // The user opened the screen, and that change waits for the pass: it is not written over.
    userScreenClosed(rig.m, 0);
    rig.m->SCREEN_fpgactrl_status(0);
    EXPECT_EQ(ledpara::word(ledpara::kScreenClosed), 0);
    rig.pass();
    EXPECT_FALSE(rig.blank(0));
    EXPECT_FALSE(rig.blank(1));
}

TEST(FpgaRequests, LinkWaitingForAReplyOrJobOrRequestKeepsTheWorkerBusy)
{
    RequestRig rig;
    userBrightness(rig.m, 50);
    EXPECT_FALSE(rig.m->busy()) << "nothing can be applied before both FPGAs run";
    ASSERT_TRUE(rig.ready());
    EXPECT_FALSE(rig.m->busy());
    {
        QMutexLocker lock(&Utils::_bri_set_mutex);
        rig.m->set_bri_flag = 1;
    }
    EXPECT_TRUE(rig.m->busy());
    rig.pass();
    EXPECT_FALSE(rig.m->busy());
    rig.start(5);   // receiving-card check
    EXPECT_TRUE(rig.m->busy());
    ASSERT_TRUE(rig.runJob());
    EXPECT_FALSE(rig.m->busy());
    pc_cmd_valid = 1;
    rig.m->multi_send_state = 1;
    EXPECT_TRUE(rig.m->busy());
    rig.m->multi_send_state = 0;
    pc_cmd_valid = 0;
}

namespace {

// The worker thread runs while a link waits for a pass-through reply: for the answers of every
// port (`multiPort`) its passes follow each other at once, else one a tick. The thread stops, and
// the wait ends, with the object.
class WorkerWhileALinkWaits {
public:
    WorkerWhileALinkWaits(fpga_manage* m, bool multiPort) : m_(m)
    {
        pc_cmd_time = G_timeTicks.load();
        pc_cmd_valid = 1;
        m_->multi_send_state = multiPort ? 1 : 0;
        waitsBefore = m_->worker_waits.load();
        passesBefore_ = m_->worker_passes.load();
        started = m_->initialize_start() == 0;
    }
    ~WorkerWhileALinkWaits()
    {
        m_->stopThread();
        m_->multi_send_state = 0;
        pc_cmd_valid = 0;
    }
    // Runs `meanwhile` until the worker has made `n` passes more, for 10 s at most; then stops it.
    // True when it made them.
    bool passes(uint32_t n, const std::function<void()>& meanwhile)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (m_->worker_passes.load() < passesBefore_ + n && std::chrono::steady_clock::now() < deadline)
            meanwhile();
        m_->stopThread();
        return m_->worker_passes.load() >= passesBefore_ + n;
    }

    bool started = false;
    uint32_t waitsBefore = 0;

private:
    fpga_manage* m_;
    uint32_t passesBefore_ = 0;
};

}  // namespace

// The worker thread itself: with the tick standing still, a link waiting for a pass-through reply
// gets pass after pass, and never a wait for a tick.
TEST(FpgaRequests, WhileALinkWaitsForAReplyPassesFollowEachOtherWithinOneTick)
{
    RequestRig rig;
    ASSERT_TRUE(rig.ready());
    const unsigned tick = G_timeTicks.load();
    WorkerWhileALinkWaits worker(rig.m, true);
    ASSERT_TRUE(worker.started);
    EXPECT_TRUE(worker.passes(20, [] { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }));
    EXPECT_EQ(G_timeTicks.load(), tick);
    EXPECT_EQ(rig.m->worker_waits.load(), worker.waitsBefore);
}

// A link polls for the answer of one port on its own thread, serving the interrupt, while the
// worker, a pass a tick, paces itself by what that service leaves (a ThreadSanitizer build
// reports any word the two share outside the lock).
TEST(FpgaRequests, ALinkPollingForRepliesWhileTheWorkerRunsLeavesItsPacingIntact)
{
    RequestRig rig;
    ASSERT_TRUE(rig.ready());
    WorkerWhileALinkWaits worker(rig.m, false);
    ASSERT_TRUE(worker.started);
    uint32_t seen = rig.m->worker_passes.load();
    EXPECT_TRUE(worker.passes(200, [&] {
        EXPECT_EQ(rig.m->passby_poll(), 0);   // no link's answer is due
        if (rig.m->worker_passes.load() == seen)
            return;
        seen = rig.m->worker_passes.load();
        G_timeTicks += 1;   // the next pass
        pc_cmd_time = G_timeTicks.load();
    }));
    EXPECT_FALSE(rig.m->repliesWaiting());
}
