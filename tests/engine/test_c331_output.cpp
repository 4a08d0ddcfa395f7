// Windows committed through the parameter image reach the simulated chip: input and output
// channel programming, layers, fades and freezes, checked on the registers and on what the chip
// decodes from them.
#include <algorithm>
#include <functional>
#include <iterator>
#include <set>

#include "output_fixture.h"
#include "sim/video_chip_crop.h"
#include "sim/video_chip_decode.h"
#include "sim/video_chip_view.h"

using namespace ramaddr;

TEST_F(OutputTest, ShrinkingFullHdToSevenTwentyOnTheInputChannel)
{
    setWindow(0, 0, 0, 1280, 720, kHdmi1);
    settle();
    const int ich = e->win_ich[0][0];
    ASSERT_GE(ich, 0);
    // The input channel stores the whole 1920 x 1080 active picture, shrunk.
    EXPECT_EQ(chip.regValue(bank(0x10, ich), 0x19, 2), 1920u);
    EXPECT_EQ(chip.regValue(bank(0x10, ich), 0x1D, 2), 1080u);
    const uint8_t b = bank(0x11, ich);
    EXPECT_EQ(chip.reg(b, 0x44), 199);
    EXPECT_EQ(chip.regValue(b, 0x47, 2), 43680u);
    EXPECT_EQ(chip.reg(b, 0x49), 132);
    EXPECT_EQ(chip.regValue(b, 0x4C, 2), 43671u);
    // What the chip makes of it: channel 0 places 1280 x 720 at the corner from HDMI1's port.
    const sim::DecodedChannel d = decoded(0);
    EXPECT_TRUE(d.on);
    EXPECT_EQ(d.x, 0);
    EXPECT_EQ(d.y, 0);
    EXPECT_EQ(d.width, 1280);
    EXPECT_EQ(d.height, 720);
    EXPECT_EQ(d.ich, ich);
    EXPECT_EQ(d.port, kPortHdmi1);
    EXPECT_EQ(d.hshrink, 43680u);
    EXPECT_EQ(d.hzoom, 0u);
    EXPECT_FALSE(d.frozen);

    // Back to the full size: no shrink.
    setWindow(0, 0, 0, 1920, 1080, kHdmi1);
    settle();
    EXPECT_EQ(chip.reg(bank(0x11, e->win_ich[0][0]), 0x44), 128);
    EXPECT_EQ(chip.regValue(bank(0x11, e->win_ich[0][0]), 0x47, 2), 0u);
}

TEST_F(OutputTest, EachCellPlacesItsPieceRelativeToTheChannelTiming)
{
    panel(7680, 2160, 0);
    setWindow(0, 3000, 100, 1500, 500, kHdmi1);
    settle();
    const int W = imageWord(kOchW), H = imageWord(kOchH);
    ASSERT_GT(W, 0);
    const std::vector<int> grid = gridOf(0);
    ASSERT_EQ(grid.size(), 2u);
    ASSERT_GT(H, 0);
    // The window starts inside its first cell and runs to the end of it; the rest is in the next.
    const int start = 3000 % W;
    const int hst[2] = {start, 0}, hw[2] = {W - start, 1500 - (W - start)};
    for (size_t k = 0; k < grid.size(); ++k) {
        const int c = grid[k];
        EXPECT_EQ(ochReg(c, 0x42), uint32_t(hw[k])) << k;
        EXPECT_EQ(int(ochReg(c, 0x40)) - int(ochReg(c, 0x28)), hst[k]) << k;
        EXPECT_EQ(int(ochReg(c, 0x44)) - int(ochReg(c, 0x2C)), 100) << k;
        const sim::DecodedChannel d = decoded(c);
        EXPECT_EQ(d.x, hst[k]);
        EXPECT_EQ(d.width, hw[k]);
        EXPECT_EQ(d.y, 100);
        EXPECT_EQ(d.height, 500);
        EXPECT_EQ(d.port, kPortHdmi1);
    }
    // Source words: the first cell names the input channel, the next follows the first cell.
    const uint32_t first = ochReg(grid[0], 0x08);
    EXPECT_EQ(first & 0xFF, grid[0] == 0 ? 1u : 17u);
    EXPECT_EQ(first >> 8, uint32_t(e->win_ich[0][0]));
    const uint32_t second = ochReg(grid[1], 0x08);
    EXPECT_EQ(second & 0xFF, 17u);
    EXPECT_EQ(second & ~0xFFu, uint32_t(grid[0]) << 8 | 0x1000);
    // Channels no window owns are off.
    for (int c = 0; c < 8; ++c) {
        if (std::find(grid.begin(), grid.end(), c) == grid.end()) {
            EXPECT_EQ(ochReg(c, 0x42), 0u) << c;
        }
    }
}

TEST_F(OutputTest, MixerMembersFollowThePriorities)
{
    for (int w = 0; w < 6; ++w)
        setWindow(w, 0, 0, 1920, 1080, w == 0 ? kHdmi1 : kHdmi2);
    settle();
    for (int w = 0; w < 6; ++w)
        ASSERT_EQ(e->win_info[w].ochLst[0], w);
    // Priority 0 on top: window 5 at the bottom, window 0 last.
    EXPECT_EQ(chip.regValue(0x0E, 0x09, 4), 0x89ABCDu);
    EXPECT_EQ(decoded(0).layer, 5);
    EXPECT_EQ(decoded(5).layer, 0);

    setWord(kPriority + 0, 5);
    setWord(kPriority + 10, 0);
    settle();
    EXPECT_EQ(chip.regValue(0x0E, 0x09, 4), 0xD9ABC8u);
    EXPECT_EQ(e->PM_LAYER[0], 0);
    EXPECT_EQ(e->PM_LAYER[5], 5);

    // Windows 1 and 2 on one priority keep their channel order, the lower channel below.
    setWord(kPriority + 4, 1);
    settle();
    EXPECT_EQ(e->PM_LAYER[1], 4);
    EXPECT_EQ(e->PM_LAYER[2], 4);
    EXPECT_EQ(chip.regValue(0x0E, 0x09, 4), 0xDA9BC8u);
}

TEST_F(OutputTest, AFadeOfNFramesTakesNPlusOneStepsAndNeverHangs)
{
    ASSERT_EQ(e->och_owner[0], 0);
    EXPECT_TRUE(e->set_layer_coef(e->c331_fd, 0, 4, 1));
    EXPECT_EQ(fadeSteps(), 5u);
    // Window 0 alone in mixer 0 at position 0: its weight in the entry where only it is present.
    EXPECT_EQ(chip.writesTo(0x0E, 0x11 + 5 + 1), (std::vector<uint8_t>{0, 32, 64, 96, 128}));
    EXPECT_EQ(decoded(0).alpha, 128);
    chip.clearLog();
    e->set_layer_coef(e->c331_fd, 0, 0, 0);
    EXPECT_EQ(fadeSteps(), 1u);
    EXPECT_EQ(decoded(0).alpha, 0);

    // No output frame ever comes: the fade ends at once, within the frame wait's bound.
    chip.setFrameEventsStuck(true);
    chip.clearLog();
    sleeps.clear();
    EXPECT_FALSE(e->set_layer_coef(e->c331_fd, 0, 60, 1));
    EXPECT_EQ(fadeSteps(), 2u);
    EXPECT_EQ(decoded(0).alpha, 128);
    EXPECT_LE(sleeps.size(), 210u);
    chip.setFrameEventsStuck(false);
}

TEST_F(OutputTest, EveryFadeStepIsShownForAnOutputFrame)
{
    // Output-frame waits arm bit 0 of 05:09 (channel 0); the last step is waited for too, so a
    // fade-out has reached 0 before the window is re-programmed.
    auto frameWaits = [&] { return countWrites(0x05, 0x09, 1); };
    e->set_layer_coef(e->c331_fd, 0, 4, 0);
    EXPECT_EQ(frameWaits(), 5u);
    chip.clearLog();
    e->set_layer_coef(e->c331_fd, 0, 0, 1);
    EXPECT_EQ(frameWaits(), 1u);
    const auto upd = chip.writes();
    ASSERT_FALSE(upd.empty());
    // The frame wait comes after the step's update close.
    size_t close = 0, wait = 0;
    for (size_t i = 0; i < upd.size(); ++i) {
        if (upd[i].bank == 0x00 && upd[i].addr == 0x23 && upd[i].value == 203)
            close = i + 1;
        if (upd[i].bank == 0x05 && upd[i].addr == 0x09 && upd[i].value == 1)
            wait = i + 1;
    }
    EXPECT_GT(wait, close);
}

TEST_F(OutputTest, AVboDotByDotWindowCarriesBothInputsOverFourChannels)
{
    // Two 3840 x 2160 V-by-One inputs on chip ports 4 and 5 at format 1: each arrives two pixels
    // per clock, so the port's active area is half the picture.
    const int hst[2] = {96, 100};
    for (int k = 0; k < 2; ++k) {
        const int p = 4 + k;
        e->PI_ACT[p][0] = hst[k];
        e->PI_ACT[p][1] = 1920;
        e->PI_ACT[p][2] = 82;
        e->PI_ACT[p][3] = 2160;
        e->PI_STATE[p] = 1;
        e->PI_HDMI_INFO[p][13] = 8;   // lanes
    }
    e->PM_WIN_DBD_MODE[0] = 50;
    e->win_port[0] = 4;
    for (int c = 0; c < 8; ++c)
        e->ich_owner[c] = c < 4 ? 0 : -1;
    for (int i = 0; i < 8; ++i)
        e->win_ich[0][i] = i < 4 ? i : -1;

    // The two pictures side by side.
    e->calc_iwin2(0);
    EXPECT_EQ(e->IWIN[0].HW, 7680);
    EXPECT_EQ(e->IWIN[0].VW, 2160);

    // Channels 0 and 1 take port 4's lanes, 2 and 3 port 5's; each carries its half of a picture.
    chip.clearLog();
    e->set_display_window_ich_dbd(e->c331_fd, 0, 50);
    const uint8_t source[4] = {8, 10, 12, 14};
    for (int c = 0; c < 4; ++c) {
        const uint8_t b = bank(0x10, c);
        EXPECT_EQ(chip.reg(0x00, uint8_t(0x10 + c)), source[c]) << c;
        EXPECT_EQ(chip.regValue(b, 0x17, 2), uint32_t(hst[c / 2] - 7)) << c;
        EXPECT_EQ(chip.regValue(b, 0x19, 2), 1920u) << c;
        EXPECT_EQ(chip.regValue(b, 0x1B, 2), 83u) << c;
        EXPECT_EQ(chip.regValue(b, 0x1D, 2), 2160u) << c;
    }
}

TEST_F(OutputTest, ASingleInputDotByDotWindowIsReadWithThePitchItIsWrittenWith)
{
    // Each output channel steps through memory with the pitch its input channel writes lines at.
    auto pitches = [&](int w) {
        const int ich = e->win_ich[w][0], och = e->win_info[w].ochLst[0];
        return std::make_pair(chip.reg(bank(0x16, och), 0x30), chip.reg(bank(0x16, ich), 0x31));
    };
    setWindow(0, 0, 0, 1920, 1080, kHdmi1);
    settle();
    const auto plain = pitches(0);
    EXPECT_EQ(plain.first, plain.second);

    // Dot-by-dot on a 1080-line input: no dot-by-dot memory is kept, so the plain pitch.
    setWord(window(0) + kWinFlags, 0x0100);
    settle();
    ASSERT_EQ(e->PM_WIN_DBD_MODE[0], 1);
    ASSERT_EQ(e->check_dbd_input(e->win_port[0]), 0);
    EXPECT_EQ(pitches(0), plain);

    // A 2400-line input is a dot-by-dot input: read and written with the dot-by-dot pitch.
    zeltest::feedVideo(kHdmi2, 1920, 2400, 30);
    setWindow(0, 0, 0, 1920, 1080, kHdmi2);
    settle();
    ASSERT_EQ(e->PM_WIN_DBD_MODE[0], 1);
    ASSERT_EQ(e->check_dbd_input(e->win_port[0]), 1);
    const auto dbd = pitches(0);
    EXPECT_EQ(dbd.first, dbd.second);
    EXPECT_NE(dbd.first, plain.first);
}

TEST_F(OutputTest, AFieldInputIsReadFromWhereItsLinesAreWritten)
{
    // Fields are stored 8 bytes per 3 pixels; a 1280-pixel line leaves a pad in front of the
    // picture, and the output channels read from the picture's first pixel, not the pad.
    TARVO_HDMI_INFO r = zeltest::videoRecord(1280, 360, 60);
    r.ip = 1;
    zeltest::feedVideo(kHdmi2, r, 60);
    setWindow(0, 0, 0, 1280, 720, kHdmi2);
    settle();
    ASSERT_EQ(e->PM_MEM_WMODE[0], 2);
    const std::string crops = sim::describeCrops(chip);
    EXPECT_NE(crops.find("och 0: input 0,0 1280x720 of 1280x360"), std::string::npos) << crops;
}

TEST_F(OutputTest, VerticalZoomFilterOfAnOutputChannel)
{
    // Zoomed: the 24 signed taps 0A:68-0A:7F, unity 64 last.
    const std::vector<uint8_t> taps = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFE, 0xFD,
                                       0xFC, 0xFC, 0xFD, 0x00, 0x05, 0x0D, 0x18, 0x23, 0x2E, 0x38, 0x3E, 0x40};
    e->set_lut_vzoom_4sym(e->c331_fd, 32752, 3);
    for (int i = 0; i < 24; ++i)
        EXPECT_EQ(chip.reg(bank(0x0A, 3), uint8_t(0x68 + i)), taps[size_t(i)]) << i;
    // Not zoomed: pass-through, 64 in the first tap.
    e->set_lut_vzoom_4sym(e->c331_fd, 0, 3);
    EXPECT_EQ(chip.reg(bank(0x0A, 3), 0x68), 64);
    for (int i = 1; i < 24; ++i)
        EXPECT_EQ(chip.reg(bank(0x0A, 3), uint8_t(0x68 + i)), 0) << i;
    chip.clearLog();
    e->set_lut_vzoom_4sym(e->c331_fd, 32752, 8);
    EXPECT_TRUE(chip.writes().empty());
}

TEST_F(OutputTest, BlendingTablesWeighTheTopMemberPresent)
{
    // Mixer 0 holds channels 3 (bottom) and 5, owned by windows 1 and 2; mixer 1 is empty.
    for (int c = 0; c < 8; ++c)
        e->och_owner[c] = 6;
    e->och_owner[3] = 1;
    e->och_owner[5] = 2;
    for (int g = 0; g < 8; ++g)
        e->overlay_count[g] = 0;
    e->overlay_count[0] = 2;
    e->overlay_member[0][0] = 3;
    e->overlay_member[0][1] = 5;
    chip.clearLog();
    e->reset_layer_coef(e->c331_fd, 1);
    // Coefficient m (0 background, 1-4 members 0-3) of entry k: 0E:(11 + 5k + m).
    auto coef = [&](int g, int k, int m) { return chip.reg(bank(0x0E, g), uint8_t(0x11 + 5 * k + m)); };
    for (int k = 0; k < 16; ++k) {
        int top = -1;
        for (int i = 0; i < 4; ++i)
            if (k & (1 << i))
                top = i;
        for (int m = 0; m < 5; ++m) {
            EXPECT_EQ(coef(0, k, m), m == top + 1 ? 128 : 0) << "entry " << k << " coefficient " << m;
            EXPECT_EQ(coef(1, k, m), 0) << "an empty mixer weighs nothing";
        }
    }
    EXPECT_EQ(chip.writesTo(0x0E, 0x0F).size(), 16u) << "the cascade word after each entry";
    EXPECT_EQ(chip.regValue(0x0E, 0x0F, 2), 256u);

    // Window 2 (member 1) fading in at 1/2: its weight a, the member below (or the background) b.
    chip.clearLog();
    e->set_layer_coef(e->c331_fd, 2, 2, 1);
    EXPECT_EQ(chip.writesTo(0x0E, 0x11 + 5 * 2 + 2), (std::vector<uint8_t>{0, 64, 128}));
    EXPECT_EQ(chip.writesTo(0x0E, 0x11 + 5 * 2 + 0), (std::vector<uint8_t>{128, 64, 0}));
    EXPECT_EQ(chip.writesTo(0x0E, 0x11 + 5 * 3 + 2), (std::vector<uint8_t>{0, 64, 128}));
    EXPECT_EQ(chip.writesTo(0x0E, 0x11 + 5 * 3 + 1), (std::vector<uint8_t>{128, 64, 0}));
    EXPECT_TRUE(chip.writesTo(0x0E, 0x11 + 5 * 6 + 2).empty()) << "member 2 is on top there";
    EXPECT_EQ(chip.writesTo(0x00, 0x22), (std::vector<uint8_t>{255, 169, 255, 169, 255, 169}));
}

TEST_F(OutputTest, FreezeFollowsTheSignalAndComesAfterTheOtherFlags)
{
    // No signal on HDMI3: the freeze bit is not applied.
    setWindow(0, 0, 0, 1920, 1080, kHdmi3);
    settle();
    ASSERT_EQ(e->oimgct(e->win_port[0]), 1);
    chip.clearLog();
    e->c331_SetWinOutput(e->c331_fd, 0, 0x0002);
    EXPECT_EQ(freezeWrites(), 0u);
    EXPECT_EQ(e->win_info[0].output & 2, 0);

    // With a signal: fade enable, dot-by-dot and freeze in one word; the freeze stays.
    setWindow(0, 0, 0, 1920, 1080, kHdmi1);
    settle();
    e->c331_SetWinOutput(e->c331_fd, 0, 0x0106);
    EXPECT_EQ(e->PM_WIN_FADE_EN[0], 1);
    EXPECT_EQ(e->PM_WIN_DBD_MODE[0], 1);
    EXPECT_EQ(e->win_info[0].output & 2, 2);
    EXPECT_TRUE(decoded(0).frozen);
    e->c331_SetWinOutput(e->c331_fd, 0, 0x0104);
    EXPECT_FALSE(decoded(0).frozen);
}

TEST_F(OutputTest, OneSourceChangeFadesTwoChangesFreeze)
{
    setWindow(0, 0, 0, 1920, 1080, kHdmi1);
    setWord(window(0) + kWinFlags, 0x0004);
    setWord(kFadeIn, 2);
    setWord(kFadeOut, 2);
    settle();
    ASSERT_EQ(e->PM_WIN_FADE_EN[0], 1);
    chip.clearLog();
    setWord(window(0) + kWinSource, kHdmi2);
    settle();
    EXPECT_EQ(fadeSteps(), 6u);   // out in 3 steps, in in 3
    EXPECT_EQ(freezeWrites(), 0u);
    EXPECT_EQ(decoded(0).port, 0);   // HDMI2 is chip port 0
    EXPECT_EQ(decoded(0).alpha, 128);

    // Two windows changing at once freeze instead.
    setWindow(1, 0, 0, 1920, 1080, kHdmi1);
    settle();
    e->PM_WIN_FADE_EN[1] = 1;
    chip.clearLog();
    e->g_chg_input[0] = e->g_chg_input[1] = 1;
    e->set_output(e->c331_fd);
    EXPECT_EQ(fadeSteps(), 0u);
    EXPECT_GT(freezeWrites(), 0u);
    // A geometry change with a source change behind it in one commit freezes too (the
    // re-layout takes the source along).
    chip.clearLog();
    setWord(window(0) + kWinWidth, 960);
    setWord(window(1) + kWinSource, kHdmi2);
    settle();
    EXPECT_EQ(fadeSteps(), 0u);
    EXPECT_GT(freezeWrites(), 0u);
    EXPECT_EQ(decoded(e->win_info[1].ochLst[0]).port, 0);

    // Window 0's source change beside any other change of window 1 freezes too: its input
    // channel re-assigned (2), its port's timing changed (3), its dot-by-dot or its geometry.
    const std::function<void()> others[] = {[&] { e->g_chg_input[1] = 2; }, [&] { e->g_chg_input[1] = 3; },
                                            [&] { e->g_chg_dbd[1] = 1; }, [&] { e->g_chg_win[1] = 1; }};
    for (size_t i = 0; i <= std::size(others); ++i) {
        chip.clearLog();
        e->PM_WIN_FADE_EN[0] = 1;
        e->g_chg_input[0] = 1;
        if (i < std::size(others))
            others[i]();
        e->set_output(e->c331_fd);
        const bool alone = i == std::size(others);   // the source change alone fades
        EXPECT_EQ(fadeSteps() > 0, alone) << i;
        EXPECT_EQ(freezeWrites() > 0, !alone) << i;
    }

    // Window 0's port takes another timing, its fade on: the input tracking sets the window up
    // again for the new timing (its input flag 3), under a freeze, as for any change but a
    // source change alone.
    setWord(window(1) + kWinState, 0);
    settle();
    ASSERT_EQ(e->PM_WIN_FADE_EN[0], 1);
    chip.clearLog();
    zeltest::feedVideo(kHdmi2, 1280, 720, 60);
    e->stepOnce();
    e->stepOnce();
    EXPECT_EQ(fadeSteps(), 0u);
    EXPECT_GT(freezeWrites(), 0u);
    EXPECT_EQ(decoded(e->win_info[0].ochLst[0]).inWidth, 1280);
    EXPECT_EQ(decoded(e->win_info[0].ochLst[0]).inHeight, 720);
}

TEST_F(OutputTest, AnUntouchedWindowGetsNoWritesInItsBanks)
{
    panel(7680, 2160, 0);
    setWindow(0, 0, 0, 3840, 2160, kHdmi1);
    setWindow(1, 3840, 0, 3840, 2160, kHdmi1);
    settle();
    const int och0 = gridOf(0).at(0), ich0 = e->win_ich[0][0];
    ASSERT_NE(gridOf(1).at(0), och0);
    chip.clearLog();
    setWord(window(1) + kWinSource, kHdmi2);
    settle();
    EXPECT_EQ(decoded(gridOf(1).at(0)).port, 0);
    for (const auto& w : chip.writes()) {
        if (w.addr == 0)
            continue;
        for (int base = 0x08; base <= 0x0F; ++base) {
            if (base != 0x0E) {
                EXPECT_NE(w.bank, bank(uint8_t(base), och0)) << std::hex << int(w.bank) << ":" << int(w.addr);
            }
        }
        for (int base = 0x10; base <= 0x17; ++base)
            EXPECT_NE(w.bank, bank(uint8_t(base), ich0)) << std::hex << int(w.bank) << ":" << int(w.addr);
    }
}

TEST_F(OutputTest, AMoveWritesOnlyItsOwnChannelsAndTheMixers)
{
    panel(7680, 2160, 0);
    setWindow(0, 100, 100, 3000, 1000, kHdmi1);
    settle();
    chip.clearLog();
    setWord(window(0) + kWinX, 2000);
    settle();
    std::set<int> ochs, ichs;
    for (int c : gridOf(0))
        ochs.insert(c);
    for (int c : e->prev_win_ich[0])
        if (c >= 0)
            ichs.insert(c);
    ASSERT_EQ(ochs.size(), 2u);
    for (const auto& w : chip.writes()) {
        if (w.addr == 0 || w.bank < 0x08 || w.bank >= 0x88)
            continue;   // bank selects and the chip's global banks
        const int ch = (w.bank - 0x08) / 16, base = 0x08 + (w.bank - 0x08) % 16;
        const bool mixer = base == 0x0E;
        const bool own = base < 0x10 ? ochs.count(ch) > 0 : (ichs.count(ch) > 0 || (base == 0x16 && ochs.count(ch) > 0));
        EXPECT_TRUE(mixer || own) << std::hex << int(w.bank) << ":" << int(w.addr);
    }
}

TEST(WindowFlags, DotByDotWordsOutsideTheTableAreSingleInput)
{
    EXPECT_EQ(c331_manage::dbdModeOf(9), 51);
    EXPECT_EQ(c331_manage::dbdModeOf(10), 1);
    EXPECT_EQ(c331_manage::dbdModeOf(12), 1);
    EXPECT_EQ(c331_manage::windowDbdMode(0x0100, 5), 30);
    EXPECT_EQ(c331_manage::windowDbdMode(0x00FF, 5), 0);
}

TEST_F(OutputTest, MirrorsReadBackwards)
{
    // Bit 0 mirrors across, bit 1 up and down.
    for (int bits : {1, 2}) {
        setWord(window(0) + kWinMirror, uint16_t(bits));
        settle();
        EXPECT_EQ(e->PM_WIN_HMIRROR[0], bits & 1) << bits;
        EXPECT_EQ(e->PM_WIN_VMIRROR[0], bits >> 1) << bits;
        EXPECT_EQ(chip.reg(0x16, 0x30), bits == 2 ? 256 - e->linePitch(0) : e->linePitch(0)) << bits;
    }
    setWord(window(0) + kWinMirror, 3);
    settle();
    EXPECT_EQ(chip.reg(0x08, 0x22), 1);
    EXPECT_EQ(chip.reg(0x16, 0x30), 256 - e->linePitch(0));
    setWord(window(0) + kWinMirror, 0);
    settle();
    EXPECT_EQ(chip.reg(0x08, 0x22), 0);
    EXPECT_EQ(chip.reg(0x16, 0x30), e->linePitch(0));
}

TEST_F(OutputTest, AWindowWithoutInputChannelsIsSwitchedOff)
{
    setWindow(1, 100, 100, 200, 200, kHdmi2);
    settle();
    const int c = gridOf(1).at(0);
    ASSERT_TRUE(decoded(c).on);
    e->win_port[1] = c331_manage::kNoPort;
    e->g_chg_input[1] = 1;
    e->set_output(e->c331_fd);
    EXPECT_EQ(ochReg(c, 0x42), 0u);
    EXPECT_FALSE(decoded(c).on);
    EXPECT_TRUE(decoded(0).on);
}

TEST_F(OutputTest, ForcedColourAndReadModesNeverIndexMissingPortsOrOwners)
{
    e->win_info[0].port = c331_manage::kNoInput;
    e->zelApi_forceColorDisable(e->c331_fd);
    EXPECT_EQ(g_force_bkcolor, 2);
    EXPECT_EQ(chip.reg(0x08, 0x48), 1);   // no input: the colour stays on
    chip.clearLog();
    e->set_oscwct(e->c331_fd, 7);   // nobody owns channel 7
    e->set_oscwct(e->c331_fd, 255);
    EXPECT_TRUE(chip.writes().empty());
}

TEST_F(OutputTest, TheDecodedViewListsEachWindowsChannels)
{
    setWindow(0, 100, 50, 800, 600, kHdmi1);
    settle();
    const std::string view = sim::describeVideoChip(chip);
    EXPECT_NE(view.find("[windows]\noch 0: x 100 y 50 800x600 from ich"), std::string::npos) << view;
    // Every section of the list is there, in order.
    size_t at = 0;
    for (int i = 0; i < sim::kVideoChipSectionCount; ++i) {
        const std::string part = sim::kVideoChipSections[i].describe(chip);
        const size_t found = view.find(part, at);
        EXPECT_NE(found, std::string::npos) << sim::kVideoChipSections[i].name;
        at = found;
    }
}

// A window wholly outside the panel shows nothing, in every arrangement: in a layout of one row
// or one column it does not wrap back onto the panel, on channels that reach past the panel it
// takes none of them, and moved there from the panel it gives its input channel up.
TEST_F(OutputTest, AWindowWhollyOffThePanelShowsNothing)
{
    struct Row {
        const char* what;
        int width, height, splice, out1W, out1H, x, y, cells;
    };
    const Row rows[] = {
        {"below a 1920x1080 panel", 1920, 1080, 0, 1920, 1080, 100, 1500, 1},
        {"right of a 1920x2160 top/bottom panel", 1920, 2160, 2, 1920, 1080, 2500, 0, 2},
        {"on the bottom edge of a 1920x1080 panel", 1920, 1080, 0, 1920, 1080, 0, 1080, 1},
        {"below a 7680x2160 left/right panel on taller channels", 7680, 2160, 3, 3840, 2160, 6400, 2160, 2},
        {"on the idle lower output of a top/bottom panel", 1920, 1080, 2, 1920, 1080, 100, 1500, 1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        panel(r.width, r.height, r.splice);
        setWord(ramaddr::kOutputArea + 4, uint16_t(r.out1W));
        setWord(ramaddr::kOutputArea + 6, uint16_t(r.out1H));
        setWindow(0, 0, 0, r.width, r.height, kHdmi1);
        setWindow(1, 0, 0, 960, 540, kHdmi2);   // first on the panel, then moved off it
        for (int w = 2; w < 6; ++w)
            setWord(ramaddr::window(unsigned(w)) + ramaddr::kWinState, 0);
        settle();
        ASSERT_GE(e->win_ich[1][0], 0);
        setWindow(1, r.x, r.y, 960, 540, kHdmi2);
        settle();
        settle();
        ASSERT_TRUE(e->zelApi_IsWinShown(1));
        ASSERT_EQ(e->win_info[0].columns * e->win_info[0].rows, r.cells);
        bool zeroShown = false;
        for (const sim::DecodedChannel& d : sim::decodeOutputs(chip)) {
            EXPECT_FALSE(d.on && e->och_owner[d.och] == 1) << "och " << d.och << " at " << d.x << "," << d.y;
            zeroShown = zeroShown || (d.on && e->och_owner[d.och] == 0);
        }
        EXPECT_TRUE(zeroShown);
        EXPECT_EQ(e->win_ich[1][0], -1) << "input channels held";
    }
}
