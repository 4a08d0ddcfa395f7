// Input channels: the sources of V-by-One channel pairs by lane count, the pair moves that free a
// channel pair, the dual mode of a pair, and the format codes of interlaced inputs.
#include <array>

#include "chips/tarvosource.h"
#include "engine_fixture.h"
#include "sim/sim_config.h"
#include "support/video_input.h"

using namespace c331hdmi;

namespace {

class PinnedInputTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        bringUp();
        chip.clearLog();
    }
    void channels(int w, std::initializer_list<int> list)
    {
        std::fill(std::begin(e->win_ich[w]), std::end(e->win_ich[w]), -1);
        std::copy(list.begin(), list.end(), e->win_ich[w]);
    }
};

}  // namespace

TEST_F(PinnedInputTest, VboPairSourcesFollowTheLaneCount)
{
    struct Row {
        int port, lanes;
        uint8_t first, second;
    };
    const Row rows[] = {{4, 1, 8, 9},    {4, 2, 8, 9},    {4, 4, 8, 9},    {4, 8, 8, 10},
                        {5, 1, 12, 13},  {5, 2, 12, 13},  {5, 4, 12, 13},  {5, 8, 12, 14}};
    e->PM_WIN_DBD_MODE[0] = 0;
    channels(0, {6, 7});
    for (const Row& r : rows) {
        chip.setReg(0x00, 0x16, 0xFF);
        chip.setReg(0x00, 0x17, 0xFF);
        e->win_port[0] = r.port;
        e->PI_HDMI_INFO[r.port][kLane] = r.lanes;
        e->set_ichsel(e->c331_fd, 0);
        EXPECT_EQ(chip.reg(0x00, 0x16), r.first) << r.port << " " << r.lanes;
        EXPECT_EQ(chip.reg(0x00, 0x17), r.second) << r.port << " " << r.lanes;
    }
}

TEST_F(PinnedInputTest, VboDotByDotSourcesFollowEachReceiversLaneCount)
{
    struct Row {
        int mode, lanes4, lanes5;
        std::array<int, 4> sources;
    };
    const Row rows[] = {{50, 4, 2, {8, 9, 12, 13}}, {51, 8, 4, {8, 10, 12, 13}}, {50, 1, 8, {8, 9, 12, 14}}};
    channels(1, {1, 3, 4, 6});
    for (const Row& r : rows) {
        e->PM_WIN_DBD_MODE[1] = r.mode;
        e->PI_HDMI_INFO[4][kLane] = r.lanes4;
        e->PI_HDMI_INFO[5][kLane] = r.lanes5;
        e->set_ichsel(e->c331_fd, 1);
        std::array<int, 4> got{};
        for (int i = 0; i < 4; ++i)
            got[size_t(i)] = chip.reg(0x00, uint8_t(0x10 + e->win_ich[1][i]));
        EXPECT_EQ(got, r.sources) << r.mode << " " << r.lanes4 << " " << r.lanes5;
    }
}

TEST_F(PinnedInputTest, PairMovesFreeAPairByMovingOneChannel)
{
    constexpr int F = -1, W = 5;   // free; the window asking for a pair
    struct Move {
        const char* why;
        std::array<int, 8> before, after;
    };
    // In each case window 0 owns the channel that moves, two targets in different pairs are free
    // (no whole pair is: that would have been taken without a move), and a later case would apply
    // too.
    const Move moves[] = {
        {"4 free: 5 moves to the first free of 6, 7, 0, 1, 2, 3", {1, F, 2, 2, F, 0, 3, F}, {1, F, 2, 2, W, W, 3, 0}},
        {"5 free: 4 moves the same way", {1, 1, 2, F, 0, F, F, 3}, {1, 1, 2, F, W, W, 0, 3}},
        {"6 free: 7 moves to the first free of 0-3", {F, 1, 2, F, 3, 3, F, 0}, {0, 1, 2, F, 3, 3, W, W}},
        {"7 free: 6 moves the same way", {1, F, F, 2, 3, 3, 0, F}, {1, 0, F, 2, 3, 3, W, W}},
        {"0 free: 1 moves to the first free of 2, 3", {F, 0, 1, F, 2, 2, 3, 3}, {W, W, 1, 0, 2, 2, 3, 3}},
        {"1 free: 0 moves the same way", {0, F, F, 1, 2, 2, 3, 3}, {W, W, 0, 1, 2, 2, 3, 3}},
    };
    for (const Move& m : moves) {
        std::copy(m.before.begin(), m.before.end(), e->ich_owner);
        std::fill(std::begin(e->g_chg_input), std::end(e->g_chg_input), 0);
        EXPECT_EQ(e->adjust_ich(0, 1, W), 0) << m.why;
        EXPECT_EQ((std::vector<int>(e->ich_owner, e->ich_owner + 8)), std::vector<int>(m.after.begin(), m.after.end()))
            << m.why;
        EXPECT_EQ(e->g_chg_input[0], 2) << m.why;
        for (int v = 1; v < kWinCount; ++v)
            EXPECT_EQ(e->g_chg_input[v], 0) << m.why << " window " << v;
    }
    const std::array<int, 8> stuck[] = {
        {1, 1, 2, 2, F, 0, 3, 4},   // 4 free, nowhere for 5's owner to go
        {F, 0, 1, 1, 2, 2, 3, 3},   // 0 free, 2 and 3 taken
        {0, 0, 1, 1, 2, 2, 3, 3},   // nothing free
    };
    for (const auto& before : stuck) {
        std::copy(before.begin(), before.end(), e->ich_owner);
        EXPECT_EQ(e->adjust_ich(0, 1, W), -1) << before[0] << before[4];
        EXPECT_EQ((std::vector<int>(e->ich_owner, e->ich_owner + 8)), std::vector<int>(before.begin(), before.end()));
    }
}

TEST_F(PinnedInputTest, DualModeOfAChannelPair)
{
    e->PI_ACT[2][0] = 148;
    e->PI_ACT[2][1] = 960;
    for (int ich = 0; ich < 8; ++ich) {
        const uint8_t a = uint8_t(0x08 + 9 * (ich / 2));
        e->set_idual(e->c331_fd, ich, 1, 2);
        EXPECT_EQ(chip.reg(0x03, a), 3) << ich;
        EXPECT_EQ(chip.regValue(0x03, uint8_t(a + 1), 2), 148u) << ich;
        EXPECT_EQ(chip.regValue(0x03, uint8_t(a + 3), 2), 1920u) << ich;
        chip.clearLog();
        e->set_idual(e->c331_fd, ich, 0, 2);
        std::vector<std::pair<int, int>> written;
        for (const auto& w : chip.writes())
            if (w.addr != 0 && w.bank == 0x03)
                written.push_back({w.addr, w.value});
        EXPECT_EQ(written, (std::vector<std::pair<int, int>>{{a, 0}})) << ich;
        EXPECT_EQ(chip.regValue(0x03, uint8_t(a + 3), 2), 1920u) << ich;
    }
}

// ---- format codes of interlaced inputs ---------------------------------------------------------------

class PinnedInterlaceTest : public PinnedInputTest {
protected:
    static constexpr int kHdmi1 = 2, kPort = 1;   // input HDMI1 is chip port 1

    void SetUp() override
    {
        savedSignals = sim::config();
        savedRecord = tarvosource::pInstance()->hdminfo[kHdmi1];
        PinnedInputTest::SetUp();
    }
    void TearDown() override
    {
        tarvosource::pInstance()->hdminfo[kHdmi1] = savedRecord;
        sim::setConfig(savedSignals);
        PinnedInputTest::TearDown();
    }

    sim::SimConfig savedSignals;
    TARVO_HDMI_INFO savedRecord{};
};

TEST_F(PinnedInterlaceTest, FormatCodeByFieldLinesAndRate)
{
    struct Row {
        int ip, datamode, vtotal, refresh;
        int code, hst, hw;
    };
    // A 1920-wide record with sync 44 and back porch 148: the active area starts at 192, halved
    // with the width for the codes up to 3 and for an interlaced input two pixels a clock (the
    // port counts clocks whatever its field format code).
    const Row rows[] = {
        {1, 0, 560, 60, 5, 192, 1920},  {1, 0, 565, 55, 5, 192, 1920},  {1, 0, 562, 54, 6, 192, 1920},
        {1, 0, 563, 50, 6, 192, 1920},  {1, 0, 260, 60, 7, 192, 1920},  {1, 0, 265, 30, 7, 192, 1920},
        {1, 0, 266, 60, 8, 192, 1920},  {1, 0, 350, 60, 8, 192, 1920},  {1, 0, 351, 60, 4, 192, 1920},
        {1, 0, 559, 60, 4, 192, 1920},  {1, 1, 562, 60, 5, 96, 960},    {1, 1, 400, 60, 3, 96, 960},
        {0, 0, 562, 60, 4, 192, 1920},
    };
    e->c331_SetInputsource(0, kHdmi1);
    for (const Row& r : rows) {
        TARVO_HDMI_INFO rec = zeltest::videoRecord(1920, 540, r.refresh);
        rec.ip = r.ip;
        rec.datamode = r.datamode;
        rec.Vtotal = r.vtotal;
        zeltest::feedVideo(kHdmi1, rec, r.refresh);
        e->stepOnce();
        const std::string row = std::to_string(r.vtotal) + " lines at " + std::to_string(r.refresh);
        EXPECT_EQ(e->PI_STATE[kPort], r.code) << row;
        EXPECT_EQ(e->PI_SCAN_MODE[kPort], r.ip) << row;
        EXPECT_EQ(e->PI_ACT[kPort][0], r.hst) << row;
        EXPECT_EQ(e->PI_ACT[kPort][1], r.hw) << row;
    }
}
