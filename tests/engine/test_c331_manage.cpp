#include <QSignalSpy>

#include "engine/c331_drv.h"
#include "engine_fixture.h"

using namespace ramaddr;

namespace {
std::vector<uint8_t> bankBytes(const sim::VideoChipModel& chip, uint8_t bank, uint8_t first, int n)
{
    std::vector<uint8_t> out;
    for (int i = 0; i < n; ++i)
        out.push_back(chip.reg(bank, static_cast<uint8_t>(first + i)));
    return out;
}
}  // namespace

TEST_F(EngineTest, BringUpReachesTheSteadyStateWithTheUpdateModeOfTheTable)
{
    for (unsigned a = kLedX; a <= kSplitFlag; a += 2)
        setWord(a, 0xEEEE);
    bringUp();
    EXPECT_EQ(bankBytes(chip, 0x00, 0x22, 7), (std::vector<uint8_t>{0x99, 0x99, 0x21, 0x43, 0x55, 0x77, 0x99}));
    EXPECT_EQ(chip.reg(0x00, 0x29) & 1, 0);
    // The update window was opened and closed around the table.
    auto upd = chip.writesTo(0x00, 0x29);
    ASSERT_GE(upd.size(), 2u);
    EXPECT_EQ(upd[upd.size() - 2] & 1, 1);
    EXPECT_EQ(upd.back() & 1, 0);
    // Default screen 1920 x 1080, both outputs whole: one channel, written back to the image.
    EXPECT_EQ(imageWord(kLedX), 0);
    EXPECT_EQ(imageWord(kLedY), 0);
    EXPECT_EQ(imageWord(kOchNumH), 1);
    EXPECT_EQ(imageWord(kOchNumV), 1);
    EXPECT_EQ(imageWord(kOchW), 1920);
    EXPECT_EQ(imageWord(kOchH), 1080);
    EXPECT_EQ(imageWord(kSplitFlag), 0);
    // V-by-One receiver selector from the default clocks; no forced green background.
    ASSERT_FALSE(chip.writesTo(0x02, 0x18).empty());
    EXPECT_EQ(chip.writesTo(0x02, 0x18).front(), 76);
    // The clock block lands in bank 0xFF, not in the bank its first byte selects.
    EXPECT_EQ(chip.writesTo(0xFF, 0x05), (std::vector<uint8_t>{1}));
    EXPECT_TRUE(chip.writesTo(0x08, 0x05).empty());
    for (uint8_t v : chip.writesTo(0x08, 0x4A))
        EXPECT_NE(v, 0xFF);
    EXPECT_EQ(g_fpga_c331_start, 1);
}

TEST_F(EngineTest, SystemParametersAndTheGeometryDerivedFromThem)
{
    e->load_system_param();
    e->define_param();
    EXPECT_EQ(e->sys.ihstart, 176u);
    EXPECT_EQ(e->sys.ihend, 2096u);
    EXPECT_EQ(e->sys.ivstart, 82u);
    EXPECT_EQ(e->sys.ivend, 2242u);
    EXPECT_EQ(e->sys.clock_quarter, 200000000u);
    EXPECT_EQ(e->sys.memaddr[0], 0x2A800000u);
    EXPECT_EQ(e->sys.memaddr[4], 0x57200000u);
    const int counts[10] = {1, 2, 3, 3, 4, 4, 5, 5, 6, 6};
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(e->multi_win[i].count, counts[i]) << i;
    // Memory line layout (width and height multipliers) by transmitter mode and layout.
    const uint32_t layouts[][4] = {{0, 0, 4, 1}, {0, 1, 2, 2}, {2, 0, 2, 1}, {2, 1, 1, 2}, {1, 0, 8, 1}, {1, 1, 4, 2}};
    for (const auto& l : layouts) {
        e->sys.PS_VBOTX_MODE = l[0];
        e->sys.PS_VBOTX_LAYOUT = l[1];
        e->define_param();
        EXPECT_EQ(e->sys.line_wmul, l[2]) << l[0] << " " << l[1];
        EXPECT_EQ(e->sys.line_hmul, l[3]) << l[0] << " " << l[1];
    }
}

// The receivers' selector follows r = clock 3 x scalar 22 / (d x scalar 1), d = 2,000,000 in
// transmitter mode 1 and 4,000,000 otherwise: 76 above 40, 72 above 20, else 68.
TEST_F(EngineTest, ReceiverSelectorAndLinkModeFollowTheClockRatio)
{
    e->load_system_param();
    const struct {
        uint32_t mode, clock3, s22, s1;
        uint8_t selector, link;
    } rows[] = {{0, 4000000, 41, 1, 76, 9}, {0, 4000000, 40, 1, 72, 9}, {0, 4000000, 21, 1, 72, 9},
                {0, 4000000, 20, 1, 68, 9}, {0, 4000000, 42, 2, 72, 9}, {1, 4000000, 20, 1, 72, 5},
                {2, 4000000, 20, 1, 68, 9}};
    for (const auto& r : rows) {
        e->sys.PS_VBOTX_MODE = r.mode;
        e->sys.clock3 = r.clock3;
        e->sys.scalar[4] = r.s22;
        e->sys.scalar[3] = r.s1;
        chip.clearLog();
        e->write_initial_setting(e->c331_fd, 1);
        SCOPED_TRACE(testing::Message() << "mode " << r.mode << " " << r.s22 << "/" << r.s1);
        EXPECT_EQ(chip.writesTo(0x02, 0x18), (std::vector<uint8_t>{r.selector}));
        EXPECT_EQ(chip.writesTo(0x02, 0x08), (std::vector<uint8_t>{r.link}));
        EXPECT_EQ(chip.writesTo(0x02, 0x78), (std::vector<uint8_t>{r.selector, r.link}));
        EXPECT_EQ(chip.writesTo(0x02, 0x7F), (std::vector<uint8_t>{14, 15, 13, 15, 11, 15, 7, 15}));
    }
}

TEST_F(EngineTest, IdentificationCountsGoodReadsWithoutResettingOnBadOnes)
{
    chip.scriptIdReads({0x24, 0x00, 0x24, 0x13, 0x24, 0x00, 0x24, 0x00, 0x24});
    for (int i = 0; i < 8; ++i)
        e->stepOnce();
    EXPECT_EQ(e->c331_setup_state, 4);
    e->stepOnce();
    EXPECT_EQ(e->c331_setup_state, 5);
    // Each bad read paces the retry instead of spinning.
    EXPECT_EQ(std::count(sleeps.begin(), sleeps.end(), 10000u), 4);
}

TEST_F(EngineTest, WithoutAChipIdentificationRetriesSlowly)
{
    chip.setAbsent(true);
    for (int i = 0; i < 20; ++i)
        e->stepOnce();
    EXPECT_EQ(e->c331_setup_state, 0);
    EXPECT_EQ(sleeps, std::vector<unsigned>(20, 10000u));
    chip.setAbsent(false);
    for (int i = 0; i < 5; ++i)
        e->stepOnce();
    EXPECT_EQ(e->c331_setup_state, 5);
}

TEST(EngineStart, FailedOpenIsReported)
{
    zeltest::TempRoot root;   // no chip on the bus
    ZelRamPara::pInstance();
    c331_manage engine;
    EXPECT_EQ(engine.initialize(false), 255);
}

TEST_F(EngineTest, SetRtctWritesTheTableInsideTheUpdateWindow)
{
    const std::vector<std::vector<uint8_t>> rows = {
        {0, 0, 0, 0, 0, 0, 0},
        {0x99, 0x99, 0x21, 0x43, 0x55, 0x77, 0x99},
        {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
        {0xFF, 0xFF, 0x21, 0x43, 0x55, 0x77, 0xFF},
        {0x99, 0x99, 0xFF, 0xFF, 0xFF, 0xFF, 0x99},
    };
    const int modes[] = {0, 1, 2, 3, 7};
    for (int i = 0; i < 5; ++i) {
        chip.setReg(0x00, 0x29, 0x80);
        chip.clearLog();
        e->set_rtct(e->c331_fd, modes[i]);
        std::vector<std::pair<uint8_t, uint8_t>> got, want = {{0x29, 0x81}};
        for (int k = 0; k < 7; ++k)
            want.push_back({uint8_t(0x22 + k), rows[i][k]});
        want.push_back({0x29, 0x80});
        for (const auto& w : chip.writes())
            if (w.addr != 0)
                got.push_back({w.addr, w.value});
        EXPECT_EQ(got, want) << "mode " << modes[i];
    }
}

TEST_F(EngineTest, ADebugRequestRepeatsTheBringUp)
{
    bringUp();
    imageRegStatusByte(162) = 0x40;
    commitAndPass();
    EXPECT_EQ(e->c331_setup_state, 0);
    EXPECT_EQ(imageRegStatusByte(162), 0);
    chip.clearLog();
    bringUp();
    EXPECT_FALSE(chip.writesTo(0x00, 0x22).empty());
}

TEST_F(EngineTest, AFlagSetDuringBringUpIsAppliedOnTheFirstPass)
{
    QSignalSpy spy(model, &ZelRamPara::sig_update_para);
    e->para_chg_flag = 1;
    for (int i = 0; i < 50 && e->c331_setup_state < c331_manage::kSetupDone; ++i)
        e->stepOnce();
    EXPECT_EQ(spy.count(), 0);
    EXPECT_EQ(e->para_chg_flag, 1);
    e->stepOnce();
    EXPECT_EQ(spy.count(), 1);
    EXPECT_EQ(e->para_chg_flag, 0);
}

TEST(EngineStart, TheWorkerThreadBringsTheChipUp)
{
    zeltest::TempRoot root;
    sim::attachVideoChip();
    ZelRamPara::pInstance();
    c331_manage* e = c331_manage::pInstance();
    ASSERT_EQ(c331_manage::p_c331_manage, e);
    EXPECT_EQ(e->multi_win[0].count, 1);
    EXPECT_EQ(e->multi_win[9].count, 6);
    // Bounded wait for the worker (it runs without pacing).
    for (int i = 0; i < 2000 && e->c331_setup_state < c331_manage::kSetupDone; ++i)
        usleep(1000);
    EXPECT_EQ(e->c331_setup_state, c331_manage::kSetupDone);
    e->stopThread();
}
