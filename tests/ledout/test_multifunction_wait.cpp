// How long one request to the multifunction card waits for its reply: a reply within 35 ticks is
// taken, a later one leaves the request failed. The card answers on its simulated port after a
// set delay; each poll of the wait is one tick.
#include <gtest/gtest.h>

#include <utility>

#include "card_jobs_rig.h"

#include "ledout/change_words.h"

namespace {

using namespace changeword;

constexpr int kCardPort = 5;
constexpr uint32_t kWait = 35;

struct CardRig : fpgatest::JobRig {
    CardRig() : JobRig({{0, 1}, {kCardPort, 2}})
    {
        m->initialize();   // the manager takes this test's board
        sim::cardChain().setFaults(kCardPort, {});   // the card chain is the process's
        sim::SimConfig c = saved;
        c.multifunctionCard = true;
        c.multifunctionPort = kCardPort;
        sim::setConfig(c);
        fpga_manage::spin_hook = [] { G_timeTicks += 1; };
    }
    ~CardRig()
    {
        sim::cardChain().setFaults(kCardPort, {});
        fpga_manage::spin_hook = nullptr;
        sim::setConfig(saved);
    }

    // One request with the card answering `delay` ticks after it: whether the reply was taken,
    // and the ticks the request held the manager.
    std::pair<bool, uint32_t> request(uint32_t delay)
    {
        sim::CardChain::PortFaults late;
        late.delayTicks = delay;
        sim::cardChain().setFaults(kCardPort, late);
        m->Brightness_check_VMF();
        const uint32_t failures = g_change[kVmfFailCount];
        const uint32_t start = G_timeTicks;
        m->Brightness_read_VMF_value();
        const std::pair<bool, uint32_t> out{g_change[kVmfResult] == 1 && g_change[kVmfFailCount] == failures,
                                            G_timeTicks - start};
        pass(2 * kWait);   // a late reply arrives and is read before the next request
        return out;
    }

    const sim::SimConfig saved = sim::config();
};

}  // namespace

TEST(MultifunctionWait, ARequestTakesAReplyWithin35TicksAndGivesUpAfter)
{
    CardRig rig;
    ASSERT_TRUE(rig.ready());
    const struct {
        uint32_t delay;
        bool taken;
        uint32_t ticks;
    } kCases[] = {{0, true, 0}, {20, true, 20}, {kWait, true, kWait}, {kWait + 1, false, kWait}, {80, false, kWait}};
    for (const auto& c : kCases) {
        const uint32_t failures = g_change[kVmfFailCount];
        const auto [taken, ticks] = rig.request(c.delay);
        EXPECT_EQ(taken, c.taken) << "reply after " << c.delay << " ticks";
        EXPECT_EQ(ticks, c.ticks) << "reply after " << c.delay << " ticks";
        EXPECT_EQ(g_change[kVmfFailCount], failures + (c.taken ? 0 : 1)) << "reply after " << c.delay << " ticks";
    }
}
