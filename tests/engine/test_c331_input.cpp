// Input ports and input channels of the engine against the simulated chip, with the input-source
// manager's records filled as its poll thread would.
#include <algorithm>

#include "chips/tarvosource.h"
#include "engine_fixture.h"
#include "support/video_input.h"

using namespace ramaddr;

namespace {

constexpr int kHdmi1 = 2, kHdmi3 = 4, kHdmi4 = 5;   // inputs
constexpr int kPortHdmi1 = 1, kPortHdmi4 = 4;        // their chip ports

class InputTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        bringUp();
        src = tarvosource::pInstance();
        chip.clearLog();
    }

    // The input-source manager publishes a CEA-like timing for input i, and the board feeds the
    // same signal to the chip.
    void feed(int input, int w, int h, int refresh, int lanes = 0, int hpol = 1, int vpol = 0)
    {
        TARVO_HDMI_INFO r = zeltest::videoRecord(w, h, refresh, lanes);
        r.Hpol = hpol;
        r.Vpol = vpol;
        zeltest::feedVideo(input, r, refresh);
    }

    // The board loses the signal; the input-source manager has not noticed yet.
    void unplugAtChip(int input) { sim::setInputSignal(input, false, 0, 0, 0); }

    // Shows input `input` on window 0 through the change pass.
    void showOnWindow0(int input)
    {
        setWord(window(0) + kWinSource, uint16_t(input));
        commitAndPass();
        model->refresh_shadow();
    }

    // What the output side would do after a set-up: the windows' input changes are consumed.
    void consumeInputChanges()
    {
        for (int w = 0; w < kWinCount; ++w)
            e->g_chg_input[w] = 0;
    }

    std::vector<uint8_t> writes(uint8_t bank, uint8_t addr) const { return chip.writesTo(bank, addr); }

    tarvosource* src = nullptr;
};

}  // namespace

TEST_F(InputTest, InputsMapToChipPortsAndTheirOwnRecords)
{
    EXPECT_EQ(e->zelApi_inputCvtC331(0), 3);
    EXPECT_EQ(e->zelApi_GetPortDevId(3), 0);
    EXPECT_EQ(e->zelApi_inputCvtC331(3), 0);
    EXPECT_EQ(e->zelApi_GetPortDevId(0), 3);
    EXPECT_EQ(e->zelApi_inputCvtC331(6), 255);

    // EXT (input 0) on window 0 is measured at chip port 3 with EXT's own record.
    feed(0, 1920, 1080, 60);
    e->c331_SetInputsource(0, 6);   // 6 is input 0
    EXPECT_EQ(e->win_port[0], 3);
    EXPECT_EQ(e->win_info[0].port, 0);
    e->stepOnce();   // the port's timing is taken from EXT's record on the next pass
    EXPECT_EQ(e->PI_ACT[3][0], 192);
    EXPECT_EQ(e->PI_ACT[3][1], 1920);
    EXPECT_EQ(e->PI_ACT[3][3], 1080);
    EXPECT_EQ(e->PI_STATE[3], 4);
    EXPECT_EQ(e->PI_FV[3], 60);
    EXPECT_EQ(e->oimgct(3), 0);

    e->c331_SetInputsource(0, 7);   // 7 is input 1, DVI on port 2
    EXPECT_EQ(e->win_port[0], 2);

    // The channel carrying a parallel port p takes source 2p.
    e->c331_SetInputsource(0, 0);
    ASSERT_NE(e->set_input(0, 3), 2);
    const int n = e->win_ich[0][0];
    ASSERT_GE(n, 0);
    e->set_ichsel(e->c331_fd, 0);
    EXPECT_EQ(chip.reg(0x00, uint8_t(0x10 + n)), 6);
}

TEST_F(InputTest, ASignalFoundSetsThePortUpAndASignalLostTurnsTheBackgroundOn)
{
    chip.setReg(0x06, 0x38, 0x55);   // port 0's polarity byte is kept
    feed(kHdmi1, 1920, 1080, 60, 0, /*hpol*/ 1, /*vpol*/ 0);
    showOnWindow0(kHdmi1);
    EXPECT_EQ(chip.reg(0x06, 0x38 + kPortHdmi1), 0 | 1 << 1 | 4);
    EXPECT_EQ(chip.reg(0x06, 0x38), 0x55);
    EXPECT_EQ(e->oimgct(kPortHdmi1), 0);
    EXPECT_EQ(g_c331_source_online, 1);
    ASSERT_EQ(e->och_owner[0], 0);
    EXPECT_EQ(chip.reg(0x08, 0x48), 0);   // background off on window 0's output channel

    consumeInputChanges();
    chip.clearLog();
    unplugAtChip(kHdmi1);
    e->stepOnce();
    EXPECT_EQ(e->oimgct(kPortHdmi1), 1);
    // The background goes on, and stays on as the window is set up again for no picture.
    const std::vector<uint8_t> bkg = writes(0x08, 0x48);
    ASSERT_FALSE(bkg.empty());
    EXPECT_EQ(size_t(std::count(bkg.begin(), bkg.end(), 1)), bkg.size());
    EXPECT_EQ(e->PI_ACT[kPortHdmi1][1], 0);
    EXPECT_EQ(e->PI_ACT[kPortHdmi1][0], 16);
    // A parallel port has no receiver to restart.
    EXPECT_TRUE(writes(0x02, 0x7F).empty());
    // Lost already: the next pass leaves it alone.
    chip.clearLog();
    e->stepOnce();
    EXPECT_TRUE(writes(0x08, 0x48).empty());
}

// Measured line counts from 2 to 65534 are a signal. The board's model measures a total of
// width + width / 8 (at least 16 pixels of blanking: a line of one pixel is a signal) and
// height + height / 24 + 3.
TEST_F(InputTest, LineCountsAtTheirLimitsDecideTheSignal)
{
    feed(kHdmi1, 1920, 1080, 60);
    showOnWindow0(kHdmi1);
    const struct {
        uint16_t w, h;
        int noSignal;
    } rows[] = {{58253, 1080, 0}, {58254, 1080, 1}, {1920, 62910, 0}, {1920, 62911, 1}, {2, 1080, 0}, {1, 1080, 0}};
    for (const auto& r : rows) {
        sim::setInputSignal(kHdmi1, true, r.w, r.h, 60);
        e->stepOnce();
        EXPECT_EQ(e->oimgct(kPortHdmi1), r.noSignal) << r.w << "x" << r.h;
    }
}

TEST_F(InputTest, AVboPortWithoutSignalRestartsItsOwnReceiverOnly)
{
    feed(kHdmi3, 3840, 2160, 60, 8);   // input 4 is chip port 5, receiver 1
    unplugAtChip(kHdmi3);
    chip.clearLog();
    showOnWindow0(kHdmi3);
    // Every restart on this pass (source change, signal check, input check) is receiver 1's.
    const auto resets = writes(0x02, 0x7F);
    ASSERT_FALSE(resets.empty());
    for (size_t i = 0; i < resets.size(); ++i)
        EXPECT_EQ(resets[i], i % 2 ? 15 : 13);
    EXPECT_EQ(writes(0x02, 0x40 + 0x1C), std::vector<uint8_t>(resets.size() / 2, 5));
    EXPECT_EQ(writes(0x02, 0x4F + 0x1C), std::vector<uint8_t>(resets.size() / 2, 128));
    EXPECT_TRUE(writes(0x02, 0x40).empty());
    EXPECT_TRUE(writes(0x02, 0x4F).empty());
    // Each restart toggles the range bit (mode 1) and finds the lock at once.
    EXPECT_EQ(writes(0x02, 0x4C + 0x1C).size(), resets.size() / 2);
    const int retries = e->vbo_retry[1];
    e->stepOnce();
    EXPECT_NE(e->vbo_retry[1], retries);
}

TEST_F(InputTest, EightLaneVboInputSetsItsLanesAndKeepsTheOtherReceiversSelect)
{
    chip.setReg(0x00, 0x3A, 0x77);   // receiver 1's select byte
    feed(kHdmi4, 3840, 2160, 60, 8);
    showOnWindow0(kHdmi4);
    for (uint8_t v : writes(0x02, 0x7F))
        EXPECT_TRUE(v == 14 || v == 15) << int(v);
    EXPECT_EQ(writes(0x02, 0x4F).back(), 255);
    EXPECT_EQ(chip.regValue(0x00, 0x1E, 2), 0x404u);
    EXPECT_EQ(chip.reg(0x00, 0x39), 2);
    EXPECT_EQ(chip.reg(0x00, 0x3A), 0x77);
    // A 4K input on 8 lanes is carried at half width per channel.
    EXPECT_EQ(e->PI_STATE[kPortHdmi4], 1);
    EXPECT_EQ(e->PI_ACT[kPortHdmi4][1], 1920);
    // Its channels are a pair whose second source follows the lane count.
    EXPECT_EQ(e->set_input(0, kPortHdmi4), 0);
    EXPECT_EQ(e->win_ich[0][0], 4);
    EXPECT_EQ(e->win_ich[0][1], 5);
    e->set_ichsel(e->c331_fd, 0);
    EXPECT_EQ(chip.reg(0x00, 0x14), 8);
    EXPECT_EQ(chip.reg(0x00, 0x15), 10);

    // A lane that drops out restarts the receiver with the full lane mask.
    consumeInputChanges();
    chip.setLaneFault(0, 6, true);
    chip.clearLog();
    e->stepOnce();
    EXPECT_EQ(writes(0x02, 0x4F), std::vector<uint8_t>{255});
    EXPECT_GT(e->vbo_retry[0], 0);
    chip.setLaneFault(0, 6, false);
    e->stepOnce();
    EXPECT_EQ(e->vbo_retry[0], 0);
}

TEST_F(InputTest, ChangesInsideTheTolerancesSetNothingUp)
{
    feed(kHdmi1, 1920, 1080, 60);
    showOnWindow0(kHdmi1);
    consumeInputChanges();
    auto& m = e->PI_MEAS[kPortHdmi1];
    const auto measured = m;
    auto passSetsUp = [&](int inputChange = 0) {
        m.valid = true;
        consumeInputChanges();
        e->g_chg_input[0] = inputChange;
        chip.clearLog();
        e->stepOnce();
        return !writes(0x06, 0x38 + kPortHdmi1).empty();
    };
    m.htotal = measured.htotal + 2;
    m.hcount = measured.hcount - 2;
    m.vtotal = measured.vtotal + 100;
    m.frame = measured.frame - 100;
    EXPECT_FALSE(passSetsUp());
    m = measured;
    m.htotal = measured.htotal + 3;
    EXPECT_TRUE(passSetsUp());
    m = measured;
    m.frame = measured.frame + 101;
    EXPECT_TRUE(passSetsUp());
    m = measured;
    m.hcount = measured.hcount + 3;
    EXPECT_TRUE(passSetsUp());
    m = measured;
    m.vtotal = measured.vtotal - 101;
    EXPECT_TRUE(passSetsUp());
    m = measured;
    m.status = uint8_t(measured.status + 1);
    EXPECT_TRUE(passSetsUp());
    // A window asking for its input again is set up even with unchanged timing.
    m = measured;
    EXPECT_FALSE(passSetsUp());
    EXPECT_TRUE(passSetsUp(1));
}

// A V-by-One input is carried on one channel only when it is at most 2176 wide, at most
// 324,000,000 pixels a second and on fewer than 4 lanes; the lane count picks the lane mask, the
// receiver mode and its select.
TEST_F(InputTest, VboFormatCodeAndLaneSettingsAtTheirLimits)
{
    struct Row {
        int hact, vtotal, lanes;
        int code;
        uint8_t mask;
        uint32_t mode;
        uint8_t select;
    };
    // 2700 x 2000 at 60 Hz is exactly 324,000,000.
    const Row rows[] = {{2176, 2000, 2, 4, 192, 1, 16}, {2177, 2000, 2, 1, 192, 1, 16},
                        {2176, 2001, 2, 1, 192, 1, 16}, {2176, 2000, 4, 1, 240, 17, 4},
                        {2176, 2000, 1, 4, 128, 0, 0}};
    for (const Row& r : rows) {
        TARVO_HDMI_INFO rec = zeltest::videoRecord(r.hact, 1080, 60, r.lanes);
        rec.Htotal = 2700;
        rec.Vtotal = r.vtotal;
        zeltest::feedVideo(kHdmi4, rec, 60);
        chip.clearLog();
        showOnWindow0(kHdmi4);
        e->stepOnce();
        SCOPED_TRACE(testing::Message() << r.hact << " wide, " << r.vtotal << " lines, " << r.lanes << " lanes");
        EXPECT_EQ(e->PI_STATE[kPortHdmi4], r.code);
        ASSERT_FALSE(writes(0x02, 0x4F).empty());
        EXPECT_EQ(writes(0x02, 0x4F).back(), r.mask);
        EXPECT_EQ(chip.regValue(0x00, 0x1E, 2), r.mode);
        EXPECT_EQ(chip.reg(0x00, 0x39), r.select);
    }
    // The receiver's low range is for lane clocks below 50,000,000.
    e->set_VBORXfrange(e->c331_fd, 0, 49999999, 0);
    EXPECT_EQ(chip.reg(0x02, 0x4C) & 0x08, 0x08);
    e->set_VBORXfrange(e->c331_fd, 0, 50000000, 0);
    EXPECT_EQ(chip.reg(0x02, 0x4C) & 0x08, 0);
}

TEST_F(InputTest, RecordsWithoutLanesOrClockNeverDivideByZero)
{
    feed(kHdmi4, 3840, 2160, 60, 0);   // no lane count published
    showOnWindow0(kHdmi4);
    EXPECT_EQ(e->PI_STATE[kPortHdmi4], 1);
    EXPECT_EQ(writes(0x02, 0x4F).back(), 128);
}

// ---- input channels ----------------------------------------------------------------------------

class ChannelTest : public EngineTest {
protected:
    // Window w on `port`, with a place on the panel: a window without one takes no channels.
    void show(int w, int port, int interlaced = 0)
    {
        e->win_info[w].enable = 1;
        e->win_info[w].width = 960;
        e->win_info[w].height = 540;
        e->win_info[w].columns = e->win_info[w].rows = 1;
        e->win_port[w] = port;
        e->PI_SCAN_MODE[port] = interlaced;
        e->g_chg_input[w] = 1;
    }
    std::vector<int> channels(int w) const
    {
        std::vector<int> out;
        for (int c : e->win_ich[w])
            if (c >= 0)
                out.push_back(c);
        return out;
    }
};

TEST_F(ChannelTest, APairTakesFourAndFiveEvenWithLowerPairsFree)
{
    show(0, 4);
    EXPECT_EQ(e->set_input(0, 4), 0);
    EXPECT_EQ(channels(0), (std::vector<int>{4, 5}));
    show(1, 5);
    EXPECT_EQ(e->set_input(1, 5), 0);
    EXPECT_EQ(channels(1), (std::vector<int>{6, 7}));
}

TEST_F(ChannelTest, AFifthVboWindowFails)
{
    for (int w = 0; w < 4; ++w) {
        show(w, 4 + w % 2);
        ASSERT_NE(e->set_input(w, 4 + w % 2), 2) << w;
    }
    show(4, 4);
    EXPECT_EQ(e->check_ich_all(4), -1);
    EXPECT_EQ(e->set_input(4, 4), 2);
    // The four windows keep their pairs.
    for (int w = 0; w < 4; ++w)
        EXPECT_EQ(channels(w).size(), 2u) << w;
}

TEST_F(ChannelTest, SinglesFillHalfUsedPairsFirstAndInterlacedStaysBelowFour)
{
    for (int w = 0; w < 4; ++w) {
        show(w, w);
        ASSERT_EQ(e->set_input(w, w), 0);
    }
    std::vector<int> used;
    for (int w = 0; w < 4; ++w)
        used.push_back(channels(w).at(0));
    std::sort(used.begin(), used.end());
    EXPECT_EQ(used, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(e->check_ich(1, 0), -1);   // interlaced never gets 4-7 here
    EXPECT_EQ(e->check_ich(0, 0), 4);
}

TEST_F(ChannelTest, AnInterlacedWindowMovesAProgressiveOneAway)
{
    for (int w = 0; w < 4; ++w) {
        show(w, w);
        ASSERT_EQ(e->set_input(w, w), 0);
        e->g_chg_input[w] = 0;
    }
    show(4, 0, /*interlaced*/ 1);
    // Port 0 is now interlaced: its own window on channel 0 counts as interlaced too, so the
    // first progressive owner among 0-3 moves up to 4.
    e->PI_SCAN_MODE[0] = 1;
    EXPECT_EQ(e->set_input(4, 0), 1);
    const int moved = e->ich_owner[4];
    EXPECT_NE(moved, 4);
    EXPECT_EQ(e->g_chg_input[moved], 2);
    ASSERT_EQ(channels(4).size(), 1u);
    EXPECT_LT(channels(4)[0], 4);
}

TEST_F(ChannelTest, WaitsAreBoundedAndReportWhatTheySaw)
{
    chip.setFrameEventsStuck(true);
    chip.clearLog();
    const int f = e->wait_ifld_change(1);
    size_t reads = 0;
    for (const auto& fr : chip.frames())
        reads += !(fr.byte0 & 0x80) && fr.byte0 == 0x48;
    EXPECT_EQ(reads, 91u);   // the first read and 90 more
    EXPECT_EQ(f, 1);   // the field stood at 0: the next one is assumed
    chip.clearLog();
    EXPECT_EQ(e->wait_ofld_change(2), 1);
    reads = 0;
    for (const auto& fr : chip.frames())
        reads += fr.byte0 == 0x49;
    EXPECT_EQ(reads, 71u);   // output fields: the first read and 70 more
    sleeps.clear();
    EXPECT_FALSE(e->wait1_pivs(2));
    EXPECT_EQ(sleeps.size(), 45u);
    EXPECT_EQ(chip.reg(0x05, 0x08), 0);
    EXPECT_EQ(chip.reg(0x00, 0x29), 0);
    chip.setFrameEventsStuck(false);
    EXPECT_TRUE(e->wait1_pivs(2));
    EXPECT_EQ(e->wait_ifld_change(6), 0);
    EXPECT_FALSE(e->wait1_pivs(8));
}

TEST_F(ChannelTest, DotByDotMemoryIsSharedOutOfOnePool)
{
    show(0, 0);
    show(1, 1);
    EXPECT_EQ(e->set_dbd_mem(0, 40), 0);
    EXPECT_EQ(e->set_dbd_mem(1, 40), 0);
    show(2, 2);
    EXPECT_EQ(e->set_dbd_mem(2, 20), -1);
    e->reset_dbd_mem(0);
    EXPECT_EQ(e->set_dbd_mem(2, 20), 0);
    // A single input a plain channel carries takes none of it, however full.
    show(3, 3);
    EXPECT_EQ(e->set_dbd_mem(1, 40), 0);
    EXPECT_EQ(e->set_dbd_mem(3, 1), 0);
    EXPECT_EQ(e->dbd_mem_slot[3][0], -1);
    EXPECT_EQ(e->check_dbd_input(255), 0);
    // A wide input needs the larger count above 2560 counts (parallel) or 5120 (V-by-One), a
    // tall one above 2176 lines.
    const struct {
        int port;
        uint32_t hcount;
        int vact, wide;
    } rows[] = {{1, 2560, 1080, 0}, {1, 2561, 1080, 1}, {4, 5120, 1080, 0}, {4, 5121, 1080, 1},
                {1, 100, 2176, 0},  {1, 100, 2177, 1}};
    for (const auto& r : rows) {
        e->PI_MEAS[r.port].hcount = r.hcount;
        e->PI_ACT[r.port][3] = r.vact;   // the lines the port was set up with
        EXPECT_EQ(e->check_dbd_input(r.port), r.wide) << r.port << " " << r.hcount << " " << r.vact;
    }
}
