// Output-channel allocation: the pure layout and grid calculations, and the engine state and
// channel-use bits they lead to on the simulated chip.
#include <cstring>

#include "engine/c331_multiwin.h"
#include "engine_fixture.h"

using namespace multiwin;
using namespace ramaddr;

namespace {

constexpr int W = 1920, H = 1080;

PanelLayout layoutOf(int mode, int channels = 8)
{
    PanelLayout l;
    EXPECT_TRUE(panelLayout(mode, W, H, channels, &l));
    return l;
}

std::vector<int> positions(const Grid& g)
{
    return std::vector<int>(g.pos, g.pos + g.columns * g.rows);
}

struct Windows {
    ST_WIN_INFO w[kWinCount]{};
    bool shown[kWinCount]{};
    void add(int i, int x, int y, int width, int height)
    {
        w[i].x = uint16_t(x);
        w[i].y = uint16_t(y);
        w[i].width = uint16_t(width);
        w[i].height = uint16_t(height);
        shown[i] = true;
    }
    std::vector<int> list(int i) const
    {
        return std::vector<int>(w[i].ochLst, w[i].ochLst + w[i].columns * w[i].rows);
    }
};

}  // namespace

TEST(MultiWinLayout, ModesPickTheirRectangleLists)
{
    PanelLayout l = layoutOf(0);
    EXPECT_EQ(l.count, 8);
    EXPECT_EQ(l.columns, 8);
    EXPECT_EQ(l.rect[7].x, 7 * W);
    l = layoutOf(3);   // four stacked
    EXPECT_EQ(l.count, 4);
    EXPECT_EQ(l.columns, 1);
    EXPECT_EQ(l.rect[3].y, 3 * H);
    l = layoutOf(7);   // 2x2
    EXPECT_EQ(l.rect[3].x, W);
    EXPECT_EQ(l.rect[3].y, H);
    l = layoutOf(5, 2);
    EXPECT_TRUE(l.onlyX);
    EXPECT_EQ(l.rect[1].x, W);
    l = layoutOf(15);   // on past the four-channel groups into the eight-channel table
    EXPECT_EQ(l.count, 8);
    // The panel's own channel count cuts the list.
    EXPECT_EQ(layoutOf(0, 2).count, 2);
    // Every mode: columns of its list and where its second and third rectangles lie.
    struct ModeRow {
        int mode, columns, x1, y1, x2, y2;
    };
    const ModeRow rows[] = {{0, 8, W, 0, 2 * W, 0},  {1, 4, W, 0, 2 * W, 0},  {2, 4, W, 0, 2 * W, 0},
                            {3, 1, 0, H, 0, 2 * H},  {4, 2, W, 0, 0, H},      {6, 4, W, 0, 2 * W, 0},
                            {7, 2, W, 0, 0, H},      {9, 4, W, 0, 2 * W, 0},  {10, 1, 0, H, 0, 2 * H},
                            {11, 2, W, 0, 0, H},     {12, 4, W, 0, 2 * W, 0}, {13, 1, 0, H, 0, 2 * H},
                            {14, 2, W, 0, 0, H},     {16, 4, W, 0, 2 * W, 0}, {17, 1, 0, H, 0, 2 * H},
                            {18, 2, W, 0, 0, H}};
    for (const ModeRow& r : rows) {
        l = layoutOf(r.mode);
        EXPECT_EQ(l.columns, r.columns) << r.mode;
        EXPECT_EQ((std::vector<int>{l.rect[1].x, l.rect[1].y, l.rect[2].x, l.rect[2].y}),
                  (std::vector<int>{r.x1, r.y1, r.x2, r.y2}))
            << r.mode;
    }
    EXPECT_EQ(layoutOf(1).rect[4].y, H);   // 4x2: the second row
    EXPECT_EQ(layoutOf(8, 2).rect[1].y, H);
    EXPECT_TRUE(layoutOf(8, 2).onlyY);
    PanelLayout none;
    EXPECT_FALSE(panelLayout(19, W, H, 8, &none));
    EXPECT_FALSE(panelLayout(-1, W, H, 8, &none));
}

TEST(MultiWinGrid, TheLayoutsWorkedExamples)
{
    Grid g;
    // Mode 0: a window at W - 10, 20 wide, full height: channels 0 and 1.
    ASSERT_EQ(windowGrid(layoutOf(0), W - 10, 0, 20, H, &g), GridResult::Ok);
    EXPECT_EQ(g.columns, 2);
    EXPECT_EQ(g.rows, 1);
    EXPECT_EQ(positions(g), (std::vector<int>{0, 1}));
    // Ending exactly on the border: one channel.
    ASSERT_EQ(windowGrid(layoutOf(0), 0, 0, W, H, &g), GridResult::Ok);
    EXPECT_EQ(positions(g), std::vector<int>{0});
    // Starting exactly on a border: the channel right of it. Ending on the corner of a 2x2 cell:
    // the first channel holding that corner, so one channel.
    ASSERT_EQ(windowGrid(layoutOf(0), W, 0, 10, H, &g), GridResult::Ok);
    EXPECT_EQ(positions(g), std::vector<int>{1});
    ASSERT_EQ(windowGrid(layoutOf(4), 0, 0, W, H, &g), GridResult::Ok);
    EXPECT_EQ(positions(g), std::vector<int>{0});
    // Mode 3 (stacked), the full height: one column of four.
    ASSERT_EQ(windowGrid(layoutOf(3), 0, 0, W, 4 * H, &g), GridResult::Ok);
    EXPECT_EQ(g.columns, 1);
    EXPECT_EQ(g.rows, 4);
    EXPECT_EQ(positions(g), (std::vector<int>{0, 1, 2, 3}));
}

TEST(MultiWinGrid, BlocksCoverExactlyTheChannelsTheWindowTouches)
{
    Grid g;
    // 2x2: the right column only, over both rows.
    ASSERT_EQ(windowGrid(layoutOf(4), W + 10, 10, 20, H, &g), GridResult::Ok);
    EXPECT_EQ(g.columns, 1);
    EXPECT_EQ(g.rows, 2);
    EXPECT_EQ(positions(g), (std::vector<int>{1, 3}));
    // 4x2: columns 1-3 of both rows.
    ASSERT_EQ(windowGrid(layoutOf(1), W + W / 2, H / 2, 2 * W, H, &g), GridResult::Ok);
    EXPECT_EQ(g.columns, 3);
    EXPECT_EQ(g.rows, 2);
    EXPECT_EQ(positions(g), (std::vector<int>{1, 2, 3, 5, 6, 7}));
    // Running past the panel ends in its last channel.
    ASSERT_EQ(windowGrid(layoutOf(0, 2), W / 2, 0, 4 * W, H, &g), GridResult::Ok);
    EXPECT_EQ(positions(g), (std::vector<int>{0, 1}));
    // Starting outside the panel, or without a channel size: no channels.
    EXPECT_EQ(windowGrid(layoutOf(0, 2), 3 * W, 0, 10, 10, &g), GridResult::Empty);
    PanelLayout zero;
    ASSERT_TRUE(panelLayout(0, 0, 0, 8, &zero));
    EXPECT_EQ(windowGrid(zero, 0, 0, 10, 10, &g), GridResult::Empty);
    // Mode 5 compares x only: a window below the channel height still lands.
    PanelLayout two;
    ASSERT_TRUE(panelLayout(5, W, H, 2, &two));
    ASSERT_EQ(windowGrid(two, 10, H + 50, 10, 10, &g), GridResult::Ok);
    EXPECT_EQ(positions(g), std::vector<int>{0});
}

TEST(MultiWinOverlay, TwoWindowsOnOneRectangleAreMixed)
{
    Windows ws;
    ws.add(0, 0, 0, W, H);
    ws.add(2, 100, 100, 200, 200);
    ASSERT_EQ(allocate(layoutOf(0), ws.w, ws.shown), -1);
    int group[8];
    EXPECT_EQ(overlay(ws.w, ws.shown, group), 0);
    EXPECT_EQ(ws.list(0), std::vector<int>{0});
    EXPECT_EQ(ws.list(2), std::vector<int>{1});   // moved to the first idle channel
    EXPECT_EQ(ws.w[2].ochPosLst[0], 0);            // still on panel position 0
    EXPECT_EQ(group[0], 1);
    EXPECT_EQ(group[1], 1);
    for (int c = 2; c < 8; ++c)
        EXPECT_EQ(group[c], c + 1);
}

// A window that finds no idle channel for a shared rectangle is refused, whichever window was
// set up last; the windows after it still get theirs when they fit.
TEST(MultiWinOverlay, WithoutAnIdleChannelTheWindowIsRefused)
{
    Windows ws;
    ws.add(0, 0, 0, 8 * W, H);   // all eight channels
    ws.add(1, 10, 10, 10, 10);
    ASSERT_EQ(allocate(layoutOf(0), ws.w, ws.shown), -1);
    int group[8];
    EXPECT_EQ(overlay(ws.w, ws.shown, group), 1);
    EXPECT_EQ(ws.list(0), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));
    EXPECT_TRUE(ws.list(1).empty());
    EXPECT_EQ(ws.w[1].ochLst[0], kUnused);
    for (int c = 0; c < 8; ++c)
        EXPECT_EQ(group[c], c + 1);

    // Over four rectangles: window 2 needs two idle channels where one is left and is refused;
    // window 3 after it takes that one.
    Windows four;
    four.add(0, 0, 0, 4 * W, H);
    four.add(1, 0, 0, 3 * W, H);
    four.add(2, 10, 0, 2 * W, H);
    four.add(3, 3 * W + 10, 0, 10, 10);
    ASSERT_EQ(allocate(layoutOf(0, 4), four.w, four.shown), -1);
    EXPECT_EQ(overlay(four.w, four.shown, group), 1);
    EXPECT_EQ(four.list(1), (std::vector<int>{4, 5, 6}));
    EXPECT_TRUE(four.list(2).empty());
    EXPECT_EQ(four.list(3), std::vector<int>{7});
    EXPECT_EQ((std::vector<int>{group[0], group[4], group[3], group[7]}), (std::vector<int>{1, 1, 4, 4}));
}

TEST(MultiWinOverlay, AWindowAloneOrHiddenChangesNothing)
{
    Windows ws;
    ws.add(0, 0, 0, W, H);
    ws.add(1, 0, 0, W, H);
    ws.shown[1] = false;
    ASSERT_EQ(allocate(layoutOf(0), ws.w, ws.shown), -1);
    EXPECT_EQ(ws.w[1].columns, 0);
    EXPECT_EQ(ws.w[1].ochLst[0], kUnused);
    int group[8];
    EXPECT_EQ(overlay(ws.w, ws.shown, group), 0);
    for (int c = 0; c < 8; ++c)
        EXPECT_EQ(group[c], c + 1);
}

TEST(MultiWinMargins, AreSignedAndClampedAtZero)
{
    ST_WIN_INFO wi{};
    wi.x = uint16_t(W + 100);
    wi.y = 50;
    wi.width = 300;
    wi.height = 200;
    wi.columns = 1;
    wi.rows = 1;
    EXPECT_EQ(gridMargin(wi, W, H, 0), 100);
    EXPECT_EQ(gridMargin(wi, W, H, 1), W - 400);
    EXPECT_EQ(gridMargin(wi, W, H, 2), 50);
    EXPECT_EQ(gridMargin(wi, W, H, 3), H - 250);
    wi.width = 4000;   // wider than its grid
    EXPECT_EQ(gridMargin(wi, W, H, 1), 0);
    EXPECT_EQ(gridMargin(wi, 0, H, 0), 0);
    EXPECT_EQ(gridMargin(wi, W, 0, 3), 0);
    EXPECT_EQ(gridMargin(wi, W, H, 4), 0);
}

// ---- on the engine ------------------------------------------------------------------------------

TEST_F(EngineTest, ChannelUseBitsFollowTheOwnedOutputChannels)
{
    setWord(kSpliceMode, 0);
    setWord(window(1) + kWinState, 1);
    setWord(window(1) + kWinX, 100);
    setWord(window(1) + kWinY, 100);
    setWord(window(1) + kWinWidth, 200);
    setWord(window(1) + kWinHeight, 200);
    bringUp();
    for (int c = 0; c < 8; ++c)
        chip.setReg(0x00, uint8_t(0x08 + c), 0x11);   // other bits of the registers are kept
    e->zelApi_MultiWinChInit();
    EXPECT_EQ(e->och_owner[0], 0);
    EXPECT_EQ(e->och_owner[1], 1);
    EXPECT_EQ(e->PM_OVERLAY[0], 1);
    EXPECT_EQ(e->PM_OVERLAY[1], 1);
    EXPECT_EQ(e->PM_AREA_NUM[1], 0);
    for (int c = 0; c < 8; ++c)
        EXPECT_EQ(chip.reg(0x00, uint8_t(0x08 + c)) & 1, c < 2 ? 1 : 0) << c;
    EXPECT_EQ(chip.reg(0x00, 0x0F) & 0x10, 0x10);
    // Window 1's margins inside its one-channel grid.
    EXPECT_EQ(e->PM_WIN_MARGIN[1][0], 100);
    EXPECT_EQ(e->PM_WIN_MARGIN[1][1], 1920 - 300);
    EXPECT_EQ(e->alloc_error, 0);

    // Channel 7 is the last one a window may list; 8 ends the window's set-up with the error set.
    e->win_info[1].ochLst[0] = 7;
    e->zelApi_MultiWinChInit();
    EXPECT_EQ(e->och_owner[7], 1);
    EXPECT_EQ(e->alloc_error, 0);
    e->win_info[1].ochLst[0] = 8;
    e->zelApi_MultiWinChInit();
    EXPECT_EQ(e->och_owner[7], c331_manage::kNoWin);
    EXPECT_EQ(e->alloc_error, 1);
}

TEST_F(EngineTest, TheDefaultLayoutIsOneWindowOverThePanel)
{
    setWord(window(0) + kWinState, 0);   // no window on
    bringUp();
    EXPECT_EQ(e->wincnt, 1);
    EXPECT_EQ(e->win_info[0].width, 1920);
    EXPECT_EQ(e->win_info[0].height, 1080);
    EXPECT_EQ(e->och_owner[0], 0);
    int32_t rects[kWinCount][4] = {};
    ST_MWIN mw{0, rects};
    e->zelApi_MultiWinGet(&mw);
    EXPECT_EQ(mw.count, 1);
    EXPECT_EQ(rects[0][2], 1920);
    e->zelApi_MultiWinGet(nullptr);   // nowhere to copy to: nothing happens
}
