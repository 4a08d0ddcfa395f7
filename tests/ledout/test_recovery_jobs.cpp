// The receiving-card check, the self-recovery and the scan-file load on simulated cards, with
// recovery and scan files laid out as the PC software writes them.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QObject>

#include <filesystem>

#include "card_jobs_rig.h"
#include "recovery_files.h"

#include "core/global.h"
#include "ledout/rcv_card_cmd.h"
#include "ledout/rcv_recovery_file.h"
#include "ledout/scan_para.h"
#include "support/test_root.h"

// A page as the jobs see it: the progress signal, nothing else.
class StubPage : public QObject {
    Q_OBJECT
public:
    std::vector<int> values;
    StubPage() { connect(this, &StubPage::sig_qround_bar_update, [this](int v) { values.push_back(v); }); }
signals:
    void sig_qround_bar_update(int value);
};

namespace {

using fpgatest::JobRig;
using rcvfiles::Bytes;
using rcvfiles::Op;

constexpr uint8_t kJobScan = 2, kJobCheck = 5, kJobRecovery = 6;
const std::string kRecovery = "/data/rcvrecovery/JYFX_wall";

Op op(uint8_t type, uint8_t target, uint32_t address, Bytes data, uint32_t timeoutMs = 100)
{
    Op o;
    o.type = type;
    o.target = target;
    o.address = address;
    o.timeoutMs = timeoutMs;
    o.data = std::move(data);
    return o;
}

// The card report that the pages read: bytes 30-31 of the job block.
unsigned cardReport() { return g_send_para[30] | g_send_para[31] << 8; }

Bytes fill(size_t n, uint8_t seed)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<uint8_t>(seed + i * 7);
    return b;
}

// A net whose cards each carry one RAM write of 4 bytes at 0x200, marked with the card number.
rcvfiles::Net net(uint16_t ledx, int cards)
{
    rcvfiles::Net n;
    n.ledx = ledx;
    for (int c = 0; c < cards; ++c)
        n.cards.push_back({op(1, 1, 0x200, {uint8_t(ledx), uint8_t(c), 0xAB, 0xCD})});
    return n;
}

// Two screens of three nets: screen 1 on ports 0, 1, 2, screen 2 on ports 16, 17, 18.
std::vector<rcvfiles::Screen> wall()
{
    rcvfiles::Screen a, b;
    a.configId = 0xA1A1;
    a.nets = {net(0, 3), net(1, 6), net(2, 3)};
    a.params = {op(1, 2, 0, {3, 0x0F, 1, 5})};   // one register write for the faulty card
    b.configId = 0xB2B2;
    b.nets = {net(16, 2), net(17, 2), net(18, 2)};
    return {a, b};
}

struct WallRig : JobRig {
    StubPage page;

    WallRig() : JobRig({{0, 3}, {1, 6}, {2, 3}, {16, 2}, {17, 2}, {18, 2}})
    {
        for (int port : {0, 1, 2})
            sim::cardChain().setConfigId(port, 0xA1A1);
        for (int port : {16, 17, 18})
            sim::cardChain().setConfigId(port, 0xB2B2);
        cardjobs::attach(cardjobs::Page::AdvancedOption, &page);
        zeltest::writeFile(kRecovery, rcvfiles::recoveryFile(wall()));
    }
    ~WallRig() { cardjobs::attach(cardjobs::Page::AdvancedOption, nullptr); }

    static size_t checks(int port) { return packets(port, 0x10).size(); }
    static void settle() { QCoreApplication::processEvents(); }
};

struct ScanRig : JobRig {
    explicit ScanRig(int cards, const std::vector<Op>& ops) : JobRig({{9, cards}})
    {
        zeltest::writeFile("/data/smartmapping/JYFR_scan", rcvfiles::scanFile(ops));
        g_jyfile_name = "/data/smartmapping/JYFR_scan";
        line_type = LineType{128, 64, 0, 0, 9, 1, 1, 1};
    }
    // Ends through the error end: progress 100, then the job clears itself 100 ticks later.
    bool endsWithError()
    {
        if (!passUntil([this] { return state() == 35 || !running(); }, 20000) || state() != 35)
            return false;
        pass(100);
        if (!running())
            return false;
        pass(2);
        return !running() && last() == 100;
    }
};

}  // namespace

TEST(CardCheck, AllIntactChecksEveryNetOnceAndLeavesTheListAlone)
{
    WallRig rig;
    ASSERT_TRUE(rig.ready());
    sim::cardChain().clearLog();
    rig.start(kJobCheck);
    ASSERT_TRUE(rig.runJob());
    for (int port : {0, 1, 2, 16, 17, 18}) {
        ASSERT_EQ(WallRig::checks(port), 1u) << port;
        const auto p = JobRig::packets(port, 0x10)[0];
        EXPECT_EQ(p[16], 1);   // check enabled
        EXPECT_EQ(p[17] | p[18] << 8, port < 16 ? 0xA1A1 : 0xB2B2);
    }
    WallRig::settle();
    EXPECT_EQ(cardjobs::recovery_list_num(), 0);
    EXPECT_EQ(cardReport(), 255);
    EXPECT_EQ(rig.last(), 100);
}

TEST(CardCheck, SettleAnswerWaitAndErrorPauseEndAfterMoreThan239And500And100Ticks)
{
    WallRig rig;
    ASSERT_TRUE(rig.ready());
    sim::CardChain::PortFaults silent;
    silent.silent = true;
    sim::cardChain().setFaults(0, silent);   // the check of port 0 stays unanswered
    rig.start(kJobCheck);
    ASSERT_TRUE(rig.passUntil([&] { return rig.state() == 14; }, 1000));
    G_timeTicks += 1000;   // stamps below stay clear of the counter's start
    // (state, stamped in the job block rather than job_tick, ticks since, state after one step)
    const struct {
        uint8_t state;
        bool blockTick;
        uint32_t since;
        uint8_t after;
    } rows[] = {{1, false, 239, 1}, {1, false, 240, 2},  {14, true, 500, 14},
                {14, true, 501, 15}, {35, false, 100, 35}, {35, false, 101, 0}};
    for (const auto& r : rows) {
        g_send_para[0] = kJobCheck, g_send_para[1] = r.state;
        if (r.blockTick)
            rcv_card::wr32(g_send_para + 20, G_timeTicks - r.since);
        else
            g_change[2] = G_timeTicks - r.since;
        rig.m->rcv_recovery_check_deal(fpga_manage::RCV_CHECK);
        EXPECT_EQ(rig.state(), r.after) << int(r.state) << " after " << r.since;
    }
}

TEST(CardCheck, FaultyCardStopsTheCheckWithItsLineThenSelfRecoveryReplaysExactlyThatCard)
{
    WallRig rig;
    ASSERT_TRUE(rig.ready());
    sim::cardChain().setFaultyCard(1, 4);
    sim::cardChain().clearLog();
    rig.start(kJobCheck);
    ASSERT_TRUE(rig.runJob());
    EXPECT_EQ(WallRig::checks(0), 1u);
    EXPECT_EQ(WallRig::checks(1), 1u);
    EXPECT_EQ(WallRig::checks(2), 0u);   // stopped at the first faulty card
    WallRig::settle();
    EXPECT_EQ(cardjobs::recovery_list(), QStringList{"01/02/05/06"});
    EXPECT_EQ(cardjobs::recovery_list_num(), 1);
    EXPECT_EQ(rig.count(1), 1);
    EXPECT_EQ(rig.m->recover_net, 1);
    EXPECT_EQ(rig.m->recover_card, 4);
    EXPECT_EQ(rig.page.values.back(), 100);

    // self-recovery: the parameter block, then card 4's own operation, each to card 4 of port 1
    sim::cardChain().clearLog();
    g_send_para[28] = 16;
    rig.start(kJobRecovery);
    ASSERT_TRUE(rig.runJob());
    for (int port : {0, 2, 16, 17, 18})
        EXPECT_TRUE(sim::cardChain().received(port).empty()) << port;
    auto sent = sim::cardChain().received(1);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0][9], 0xA0);
    EXPECT_EQ(sent[0][0] | sent[0][1] << 8, 0x1004);
    EXPECT_EQ(sent[1][9], 0x60);
    EXPECT_EQ(sent[1][0] | sent[1][1] << 8, 0x1004);
    EXPECT_EQ(sim::cardChain().ram16(1, 4, 0x200), 0x0401);   // port 1, card 4
    EXPECT_EQ(sim::cardChain().ram16(1, 3, 0x200), 0);
    EXPECT_EQ(sim::cardChain().card(1, 4).regs[3], 5);
    WallRig::settle();
    EXPECT_EQ(cardjobs::recovery_list_num(), 0);
    EXPECT_TRUE(cardjobs::recovery_list().isEmpty());
    EXPECT_EQ(rig.count(99), 1);
}

TEST(CardCheck, AnEarlierFaultIsNotReportedAgainAndTheListChangesOnlyWithThePageOpen)
{
    WallRig rig;
    ASSERT_TRUE(rig.ready());
    cardjobs::attach(cardjobs::Page::AdvancedOption, nullptr);
    g_send_para[30] = 3;   // left over from an earlier check
    g_send_para[31] = 0;
    zeltest::writeText("/data/rcvrecovery/JYFX_other", "x");
    sim::cardChain().clearLog();
    rig.start(kJobCheck);
    ASSERT_TRUE(rig.runJob());
    for (int port : {0, 1, 2, 16, 17, 18})
        EXPECT_TRUE(sim::cardChain().received(port).empty());   // two files: nothing to do
    EXPECT_EQ(cardReport(), 65535);
    EXPECT_EQ(rig.count(1), 0);

    // one file again, whatever its name; a fault found with the page closed reaches no list
    std::filesystem::remove(rig.root.at("/data/rcvrecovery/JYFX_other"));
    // what a power cut left of an interrupted transfer is no second file
    zeltest::writeText("/data/rcvrecovery/.JYFX_other.tmp", "x");
    sim::cardChain().setFaultyCard(0, 1);
    rig.start(kJobCheck);
    ASSERT_TRUE(rig.runJob());
    WallRig::settle();
    EXPECT_EQ(rig.m->recover_card, 1);
    EXPECT_EQ(rig.count(1), 1);
    EXPECT_EQ(cardjobs::recovery_list_num(), 0);
}

TEST(CardCheck, AFaultyCardWithoutOperationsIsNotReportedRecovered)
{
    WallRig rig;
    auto screens = wall();
    screens[0].params.clear();
    screens[0].nets[1].cards[4].clear();   // the file has nothing to replay on card 4
    zeltest::writeFile(kRecovery, rcvfiles::recoveryFile(screens));
    ASSERT_TRUE(rig.ready());
    sim::cardChain().setFaultyCard(1, 4);
    rig.start(kJobCheck);
    ASSERT_TRUE(rig.runJob());
    WallRig::settle();
    ASSERT_EQ(cardjobs::recovery_list_num(), 1);

    sim::cardChain().clearLog();
    rig.start(kJobRecovery);
    ASSERT_TRUE(rig.passUntil([&] { return rig.state() == 35 || !rig.running(); }, 5000));
    EXPECT_EQ(rig.state(), 35);   // the error end
    ASSERT_TRUE(rig.runJob(200));
    WallRig::settle();
    EXPECT_TRUE(sim::cardChain().received(1).empty());
    EXPECT_EQ(cardjobs::recovery_list_num(), 1);   // the fault still stands
    EXPECT_EQ(rig.count(99), 0);
}

TEST(CardCheck, FpgasDownOrAFileBeyondItsTableEndThroughTheErrorEnd)
{
    WallRig rig;
    rig.start(kJobCheck);   // not brought up
    rig.pass(2);
    EXPECT_EQ(rig.state(), 35);
    rig.pass(100);
    EXPECT_TRUE(rig.running());
    rig.pass(2);
    EXPECT_FALSE(rig.running());
    EXPECT_EQ(rig.count(1), 1);

    ASSERT_TRUE(rig.ready());
    Bytes seven = rcvfiles::recoveryFile(wall());
    seven[3] = 7;   // seven sections declared
    zeltest::writeFile(kRecovery, seven);
    sim::cardChain().clearLog();
    rig.start(kJobCheck);
    ASSERT_TRUE(rig.passUntil([&] { return rig.state() == 35; }, 1000));
    EXPECT_TRUE(sim::cardChain().received(0).empty());
    ASSERT_TRUE(rig.runJob(200));
}

TEST(ScanLoad, AWriteOf2500BytesGoesOutAs1000And1000And500ToEveryCard)
{
    const Bytes data = fill(2500, 3);
    ScanRig rig(3, {op(1, 1, 0x4000, data)});
    ASSERT_TRUE(rig.ready());
    sim::cardChain().clearLog();
    rig.start(kJobScan);
    ASSERT_TRUE(rig.runJob());
    auto writes = JobRig::packets(9, 0x60);
    ASSERT_EQ(writes.size(), 3u);
    const unsigned sizes[3] = {1000, 1000, 500};
    for (int i = 0; i < 3; ++i) {
        const auto& w = writes[static_cast<size_t>(i)];
        EXPECT_EQ(w[0] | w[1] << 8, 0x0FFF);
        EXPECT_EQ(rcv_card::rd32(w.data() + 10), 0x4000u + 1000u * static_cast<unsigned>(i));
        EXPECT_EQ(rcv_card::rd16(w.data() + 14), sizes[i]);
    }
    for (int card = 0; card < 3; ++card)
        EXPECT_EQ(sim::cardChain().ram16(9, card, 0x4000 + 2498), data[2498] | data[2499] << 8);
    EXPECT_EQ(rig.last(), 100);
}

TEST(ScanLoad, ASilentCardIsTriedThreeMoreTimesThenTheNextCardFollows)
{
    ScanRig rig(3, {op(3, 1, 0, {0x01, 0x02}, 50)});
    ASSERT_TRUE(rig.ready());
    sim::cardChain().dropCard(9, 2);   // card 2 stops answering
    sim::cardChain().clearLog();
    rig.start(kJobScan);
    ASSERT_TRUE(rig.runJob());
    std::vector<int> cards;
    for (auto& p : JobRig::packets(9, 0xB4))
        cards.push_back(p[0]);
    EXPECT_EQ(cards, (std::vector<int>{2, 2, 2, 2, 1, 0}));
}

TEST(ScanLoad, SaveWaitsLongerPerCardAndSleepWaitsItsTime)
{
    ScanRig rig(4, {op(2, 1, 0, {}, 100), op(6, 0, 0, {}, 3000), op(16, 0, 0, {0x84, 0x01})});
    ASSERT_TRUE(rig.ready());
    sim::SimConfig c = sim::config();
    c.saveDelayTicks = 400;   // under (100 + 4 x 1000) / 10 ticks
    sim::setConfig(c);
    sim::cardChain().clearLog();
    rig.start(kJobScan);
    ASSERT_TRUE(rig.passUntil([] { return !JobRig::packets(9, 0x81).empty(); }, 1000));
    const unsigned saved = G_timeTicks;
    ASSERT_TRUE(rig.passUntil([] { return !JobRig::packets(9, 0x84).empty(); }, 2000));
    EXPECT_EQ(JobRig::packets(9, 0x81).size(), 1u);   // acknowledged once, no repeat
    EXPECT_GE(G_timeTicks - saved, 400u + 300u);
    EXPECT_LE(G_timeTicks - saved, 400u + 300u + 20u);
    ASSERT_TRUE(rig.runJob());
    EXPECT_EQ(sim::cardChain().card(9, 3).reconfigs, 1);
}

TEST(ScanLoad, ReplyWaitAndSleepEndAtTheirMillisecondsInTensOfTicks)
{
    ScanRig rig(4, {op(2, 1, 0, {}, 100), op(6, 0, 0, {}, 3000)});
    ASSERT_TRUE(rig.ready());
    sim::SimConfig c = sim::config();
    c.saveDelayTicks = 5000;   // the save stays unanswered
    sim::setConfig(c);
    rig.start(kJobScan);
    auto player = [] { return rcv_card::rd16(g_send_para + 28); };
    auto step = [&](uint32_t waited) {
        rcv_card::wr32(g_send_para + 20, G_timeTicks - waited);
        rig.m->load_rcv_xy_operate(QString(), 0, true);
        return player();
    };
    ASSERT_TRUE(rig.passUntil([&] { return player() == 31; }, 1000));
    G_timeTicks += 1000;
    EXPECT_EQ(step(410), 31);   // the save to 4 cards: 100 + 4 x 1000 ms
    EXPECT_EQ(step(411), 26);   // sent again
    c.saveDelayTicks = 0;
    sim::setConfig(c);
    ASSERT_TRUE(rig.passUntil([&] { return player() == 28; }, 5000));
    G_timeTicks += 1000;
    EXPECT_EQ(step(299), 28);
    EXPECT_EQ(step(300), 32);
}

TEST(ScanLoad, OperationsThatCannotBePlayedEndTheJobInsteadOfHoldingIt)
{
    {
        ScanRig rig(2, {op(4, 1, 0, {1, 2, 3})});   // upgrade: not a card operation here
        ASSERT_TRUE(rig.ready());
        rig.start(kJobScan);
        EXPECT_TRUE(rig.endsWithError());
    }
}

TEST(ScanLoad, AScanFileWithoutOperationsEndsThroughTheErrorEnd)
{
    ScanRig rig(2, {});
    ASSERT_TRUE(rig.ready());
    sim::cardChain().clearLog();
    rig.start(kJobScan);
    EXPECT_TRUE(rig.endsWithError());
    EXPECT_TRUE(sim::cardChain().received(9).empty());
}

TEST(ScanLoad, OversizedDataIsRefused)
{
    ScanRig rig(2, {op(16, 0, 0, fill(1500, 1))});
    ASSERT_TRUE(rig.ready());
    sim::cardChain().clearLog();
    rig.start(kJobScan);
    EXPECT_TRUE(rig.endsWithError());
    EXPECT_TRUE(sim::cardChain().received(9).empty());
}

TEST(ScanLoad, ATruncatedFileOrAPulledStickEndsTheJob)
{
    ScanRig rig(2, {op(1, 1, 0, fill(40, 1)), op(1, 1, 0x100, fill(40, 2))});
    ASSERT_TRUE(rig.ready());
    Bytes cut = rcvfiles::scanFile({op(1, 1, 0, fill(40, 1)), op(1, 1, 0x100, fill(40, 2))});
    cut.resize(cut.size() - 10);
    zeltest::writeFile("/data/smartmapping/JYFR_scan", cut);
    sim::cardChain().clearLog();
    rig.start(kJobScan);
    EXPECT_TRUE(rig.endsWithError());
    EXPECT_EQ(JobRig::packets(9, 0x60).size(), 1u);   // the first operation went out whole

    g_jyfile_name = "/mnt/usb1/gone.jyfile";
    rig.start(kJobScan);
    EXPECT_TRUE(rig.endsWithError());
}

TEST(ScanLoad, NoScanFileAnywhereEndsQuietly)
{
    ScanRig rig(2, {});
    ASSERT_TRUE(rig.ready());
    std::filesystem::remove(rig.root.at("/data/smartmapping/JYFR_scan"));
    zeltest::writeText("/mnt/usb1/folder/x", "");   // the stick holds no file at its top
    sim::cardChain().clearLog();
    rig.start(kJobScan);
    ASSERT_TRUE(rig.runJob(1000));
    EXPECT_EQ(rig.last(), 100);
    EXPECT_TRUE(sim::cardChain().received(9).empty());
}

TEST(CardJobReport, ProgressReachesTheAttachedPageOnTheGuiThreadOnly)
{
    StubPage page;
    cardjobs::attach(cardjobs::Page::SmartMapping, &page);
    cardjobs::progress(cardjobs::Page::SmartMapping, 42);
    EXPECT_TRUE(page.values.empty());   // queued
    QCoreApplication::processEvents();
    EXPECT_EQ(page.values, std::vector<int>{42});
    {
        StubPage gone;
        cardjobs::attach(cardjobs::Page::AdvancedOption, &gone);
    }
    cardjobs::progress(cardjobs::Page::AdvancedOption, 7);   // the page has closed
    cardjobs::report_faulty_card("01/01/01/01");
    QCoreApplication::processEvents();
    EXPECT_EQ(cardjobs::recovery_list_num(), 0);
    cardjobs::attach(cardjobs::Page::SmartMapping, nullptr);
}

#include "test_recovery_jobs.moc"
