#include <set>
#include <vector>

#include "engine/c331_tables.h"
#include "engine_fixture.h"

using namespace ramaddr;

namespace {
struct OchRegs {
    uint32_t htt, width, height;
};
}  // namespace

class PanelTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        bringUp();
        chip.clearLog();
    }
    OchRegs och(int c) const
    {
        const uint8_t b = bank(0x08, c);
        return {chip.regValue(b, 0x0A, 2), chip.regValue(b, 0x42, 2), chip.regValue(b, 0x46, 2)};
    }
};

TEST_F(PanelTest, FullHdScreenUsesOneChannelOfTheTwoByOneArrangement)
{
    e->zelApi_PnlInit2(1920, 1080, 1920, 1080, 0);
    EXPECT_EQ(e->panel.arrangement, 5u);
    EXPECT_EQ(e->panel.use1och, 1);
    EXPECT_EQ(e->panel.ochColumns, 2);
    EXPECT_EQ(e->panel.ochRows, 1);
    EXPECT_EQ(imageWord(kOchNumH), 1);
    EXPECT_EQ(imageWord(kOchNumV), 1);
    EXPECT_EQ(imageWord(kOchW), 1920);
    EXPECT_EQ(imageWord(kOchH), 1080);
    EXPECT_GE(e->panel.HTT, 1920 + 20);
    EXPECT_GE(e->panel.VTT, 1080 + 12);
    // Every output channel carries the computed timing.
    for (int c = 0; c < 8; ++c) {
        EXPECT_EQ(och(c).htt, e->panel.HTT - 2u) << c;
        EXPECT_EQ(och(c).width, 1920u) << c;
        EXPECT_EQ(och(c).height, 1080u + 1) << c;
    }
    EXPECT_EQ(e->sys.PS_VBOTX_MODE, 2u);
}

TEST_F(PanelTest, EightKScreenSplitsOverFourChannels)
{
    e->zelApi_PnlInit2(7680, 2160, 7680, 2160, 0);
    EXPECT_EQ(e->panel.use1och, 0);
    EXPECT_EQ(e->panel.arrangement, 6u);
    EXPECT_EQ(e->panel.ochColumns, 4);
    EXPECT_EQ(imageWord(kOchW), 3840);
    EXPECT_EQ(imageWord(kOchNumH), 2);
    EXPECT_EQ(imageWord(kOchNumV), 1);
    EXPECT_GE(e->panel.HTT, 3840 + 76);
    EXPECT_GE(e->panel.VTT, 2160 + 76);
}

TEST_F(PanelTest, SpliceModesTakeTheirAreas)
{
    // "H": side by side, output 1 on the left.
    e->zelApi_PnlInit2(3000, 1080, 1920, 1080, 3);
    EXPECT_EQ(e->panel.areaA, 1920);
    EXPECT_EQ(e->panel.areaB, 1080);
    EXPECT_EQ(e->panel.areaC, 1080);
    EXPECT_EQ(e->panel.arrangement, 5u);
    EXPECT_EQ(imageWord(kOchNumH), 2);
    const auto h3 = e->panel;
    // Splice values are taken modulo 6.
    e->zelApi_PnlInit2(3000, 1080, 1920, 1080, 9);
    EXPECT_EQ(e->panel.splice, 3);
    EXPECT_EQ(e->panel.HTT, h3.HTT);
    EXPECT_EQ(e->panel.VTT, h3.VTT);
    EXPECT_EQ(e->panel.xoffs, h3.xoffs);
    // "V": top and bottom.
    e->zelApi_PnlInit2(1920, 2000, 1920, 1080, 2);
    EXPECT_EQ(e->panel.areaC, 1080);
    EXPECT_EQ(e->panel.areaD, 920);
    EXPECT_EQ(e->panel.arrangement, 8u);
    EXPECT_EQ(imageWord(kOchNumV), 2);
    EXPECT_EQ(e->panel.yoffs, 0);
    // "CP21": no areas, so channels of no width, on which no window is laid out.
    e->zelApi_PnlInit2(1920, 1080, 1920, 1080, 5);
    EXPECT_EQ(e->panel.areaA + e->panel.areaB + e->panel.areaC + e->panel.areaD, 0);
    EXPECT_EQ(e->panel.ochW, 0);
    for (int c = 0; c < c331_manage::kOch; ++c)
        EXPECT_EQ(e->och_owner[c], c331_manage::kNoWin) << "och " << c;
}

TEST_F(PanelTest, OutputLargerThanTheScreenLeavesNoSecondArea)
{
    e->zelApi_PnlInit2(1920, 1080, 2500, 1080, 3);
    EXPECT_EQ(e->panel.areaB, 0);
    e->zelApi_PnlInit2(1920, 1080, 1920, 1500, 1);
    EXPECT_EQ(e->panel.areaD, 0);
    EXPECT_EQ(e->panel.areaC, 1500);
    EXPECT_EQ(e->panel.yoffs, 0);
}

TEST_F(PanelTest, TimingBeyondTheListIsComputed)
{
    e->panel.splice = 0;
    e->panel.use1och = 1;
    uint32_t htt = 0, vtt = 0;
    EXPECT_EQ(e->zelApi_PnlInitOch_diff(&htt, &vtt, 21, 12, 8400, 200), 1);
    EXPECT_EQ(htt, 8424u);   // 8421 rounded up to a multiple of 4
    EXPECT_EQ(vtt, 212u);
    e->panel.use1och = 0;
    EXPECT_EQ(e->zelApi_PnlInitOch_diff(&htt, &vtt, 21, 12, 17000, 200), 1);
    EXPECT_EQ(htt, 8521u);   // half the width plus the margin, not rounded
    EXPECT_EQ(e->panel.ochW, 8500);
    // Inside the list: the first pair that is large enough in both.
    e->panel.use1och = 1;
    e->zelApi_PnlInitOch_diff(&htt, &vtt, 20, 12, 1920, 1080);
    for (const OchTiming& t : kOchTimingList) {
        if (t.htt >= 1940 && t.vtt >= 1092) {
            EXPECT_EQ(htt, t.htt);
            EXPECT_EQ(vtt, t.vtt);
            break;
        }
    }
}

TEST(TimingList, HasTheFormOfTheOutputTimingTable)
{
    ASSERT_EQ(kOchTimingList.size(), 5199u);
    EXPECT_EQ(kOchTimingList[0].htt, 660u);
    EXPECT_EQ(kOchTimingList[0].vtt, 15006u);
    EXPECT_EQ(kOchTimingList.back().htt, 8280u);
    EXPECT_EQ(kOchTimingList.back().vtt, 1196u);
    EXPECT_EQ(kOchTimingList[3887].htt, 2257u);
    EXPECT_EQ(kOchTimingList[3887].vtt, 2257u);
    std::set<uint32_t> htts;
    uint32_t lastHtt = 0, lastVtt = 0;
    for (size_t i = 0; i < kOchTimingList.size(); ++i) {
        const OchTiming t = kOchTimingList[i];
        const uint64_t p = uint64_t(t.htt) * t.vtt;
        EXPECT_GE(p, 5094049u) << i;
        EXPECT_LE(p, 9971200u) << i;
        if (i == 3887)
            continue;
        EXPECT_EQ(t.htt % 4, 0u) << i;
        EXPECT_GE(t.htt, lastHtt) << i;
        if (t.htt == lastHtt) {
            EXPECT_LT(t.vtt, lastVtt) << i;
        }
        lastHtt = t.htt;
        lastVtt = t.vtt;
        htts.insert(t.htt);
    }
    EXPECT_EQ(htts.size(), (8280u - 660u) / 4 + 1);
}

TEST_F(EngineTest, LoadParamTakesTheDefaultWorkingSet)
{
    e->load_param();
    const int ports[6] = {4, 5, 1, 2, 3, 0};
    for (int w = 0; w < 6; ++w) {
        EXPECT_EQ(e->win_port[w], ports[w]);
        EXPECT_EQ(e->g_chg_input[w], 1);
        EXPECT_EQ(e->PM_WIN_FADE_IN[w], 60);
        EXPECT_EQ(e->PM_WIN_FADE_OUT[w], 60);
    }
    EXPECT_EQ(c331_manage::parameters_txt[12], 4);
    EXPECT_EQ(c331_manage::parameters_txt[131], 60);
    // A second load finds nothing changed.
    e->load_param();
    for (int w = 0; w < 6; ++w)
        EXPECT_EQ(e->g_chg_input[w] + e->g_chg_win[w] + e->g_chg_attr[w] + e->g_chg_dbd[w], 0);
}

TEST_F(PanelTest, TransmitterLayoutAndMemoryLinesFollowTheArrangement)
{
    const struct {
        int ledW, ledH, out1H, splice;
        uint32_t arrangement, layout, wmul, hmul;
    } rows[] = {{1920, 1080, 1080, 0, 5, 0, 2, 1},
                {7680, 2160, 2160, 0, 6, 0, 4, 1},
                {1920, 2000, 1080, 2, 8, 1, 1, 2},
                {7681, 4320, 3000, 2, 7, 1, 2, 2}};
    for (const auto& r : rows) {
        e->zelApi_PnlInit2(r.ledW, r.ledH, r.ledW, r.out1H, r.splice);
        SCOPED_TRACE(testing::Message() << r.ledW << "x" << r.ledH << " splice " << r.splice);
        EXPECT_EQ(e->panel.arrangement, r.arrangement);
        EXPECT_EQ(e->sys.PS_VBOTX_MODE, 2u);
        EXPECT_EQ(e->sys.PS_VBOTX_LAYOUT, r.layout);
        EXPECT_EQ(e->sys.line_wmul, r.wmul);
        EXPECT_EQ(e->sys.line_hmul, r.hmul);
    }
    // A window priority above 5 is taken modulo 6.
    const int priorities[][2] = {{5, 5}, {6, 0}, {11, 5}};
    for (const auto& p : priorities) {
        setWord(kPriority + 2 * 1, uint16_t(p[0]));
        e->zelApi_initEnvC331();
        EXPECT_EQ(e->win_info[1].priority, p[1]) << p[0];
    }
}

TEST_F(PanelTest, LargestScreenSizesDoNotOverflow)
{
    e->zelApi_PnlInit2(65535, 65535, 65535, 65535, 0);
    EXPECT_EQ(e->panel.use1och, 0);
    EXPECT_EQ(e->panel.arrangement, 6u);
    EXPECT_EQ(e->panel.ochW, 32768);
}

namespace {

// The frame the output timing list gives for a channel of at least minH x minV: its first pair
// large enough in both, else the minimums (htt rounded up to 4 when one channel suffices).
OchTiming listTiming(uint32_t minH, uint32_t minV, bool oneChannel)
{
    for (const OchTiming& t : kOchTimingList)
        if (t.htt >= minH && t.vtt >= minV)
            return t;
    return {oneChannel ? (minH + 3) / 4 * 4 : minH, minV};
}

constexpr int kVttLessBlank = -1;   // channel height: the frame less its vertical margin

}  // namespace

TEST_F(PanelTest, ArrangementTimingAndOffsetsFollowTheScreenArithmetic)
{
    struct Row {
        const char* name;
        int splice, ledW, ledH, a, b, c, d;
        bool one;
        uint32_t arrangement;
        int columns, rows, hblank, vblank, hsw, hfp, vsw, vfp;
        int ochW;      // the side's width rounded (4 on one channel, 8 on more), halved when split
        int frameH;    // the height the frame is searched for
        int ochH;
        int xoffs, yoffs, numH, numV;
    };
    const Row rows[] = {
        // 4003 x 3000 > 9.8 M: rounded to 4008, halved; x offset (2004 x 4) / 2 - 4003.
        {"big H", 3, 8000, 3000, 4003, 3997, 3000, 0, false, 6, 4, 1, 80, 12, 12, 36, 3, 3, 2004, 3000,
         kVttLessBlank, 5, 0, 4, 1},
        {"big CP21", 5, 4000, 3000, 4001, 0, 3000, 0, false, 5, 2, 1, 76, 76, 12, 32, 12, 32, 2004, 3000, 3000, 0,
         0, 2, 2},
        // The taller area is 8000 >= 7901; 1002 rounds to 1004; y offset 8000 - 7950.
        {"tall small V", 2, 1002, 15950, 1002, 0, 7950, 8000, true, 8, 1, 2, 20, 76, 12, 4, 12, 16, 1004, 8000,
         8000, 0, 50, 1, 2},
        {"small V", 2, 1000, 15800, 1000, 0, 7900, 7900, true, 8, 1, 2, 20, 38, 12, 4, 3, 3, 1000, 7900, 7900, 0,
         0, 1, 2},
        // 2450 x 4000 is exactly 9.8 M: still one channel, 2450 rounded to 4.
        {"at 9.8 M", 0, 2450, 4000, 2450, 2450, 4000, 0, true, 5, 2, 1, 20, 12, 8, 8, 3, 4, 2452, 4000, 4000, 0, 0,
         1, 1},
        {"above 9.8 M", 0, 2450, 4001, 2450, 2450, 4001, 0, false, 6, 4, 1, 76, 76, 12, 32, 12, 32, 1228, 4001,
         4001, 0, 0, 2, 1},
        // 2 x 2: each channel half of 7688 wide, each row one whole area.
        {"big V", 2, 7681, 4320, 7681, 0, 3000, 1320, false, 7, 2, 2, 76, 76, 12, 32, 12, 32, 3844, 3000, 3000, 0,
         0, 2, 2},
        {"big HV", 1, 7680, 5000, 7680, 0, 2000, 3000, false, 7, 2, 2, 76, 76, 12, 32, 12, 32, 3840, 3000, 3000, 0,
         1000, 2, 2},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        e->panel = {};
        e->panel.splice = uint16_t(r.splice);
        e->panel.ledW = uint16_t(r.ledW);
        e->panel.ledH = uint16_t(r.ledH);
        e->panel.areaA = uint16_t(r.a);
        e->panel.areaB = uint16_t(r.b);
        e->panel.areaC = uint16_t(r.c);
        e->panel.areaD = uint16_t(r.d);
        e->zelApi_PnlInitOch3();
        const auto& p = e->panel;
        const OchTiming t = listTiming(uint32_t(r.ochW + r.hblank), uint32_t(r.frameH + r.vblank), r.one);
        EXPECT_EQ(p.use1och, r.one ? 1 : 0);
        EXPECT_EQ(p.arrangement, r.arrangement);
        EXPECT_EQ(p.ochColumns, r.columns);
        EXPECT_EQ(p.ochRows, r.rows);
        EXPECT_EQ(p.split, 0u);
        EXPECT_EQ(p.HSW, r.hsw);
        EXPECT_EQ(p.HFP, r.hfp);
        EXPECT_EQ(p.VSW, r.vsw);
        EXPECT_EQ(p.VFP, r.vfp);
        EXPECT_EQ(p.ochW, r.ochW);
        EXPECT_EQ(p.HTT, t.htt);
        EXPECT_EQ(p.VTT, t.vtt);
        EXPECT_EQ(p.ochH, r.ochH == kVttLessBlank ? int(t.vtt) - r.vblank : r.ochH);
        EXPECT_EQ(p.xoffs, r.xoffs);
        EXPECT_EQ(p.yoffs, r.yoffs);
        EXPECT_EQ(imageWord(kOchNumH), r.numH);
        EXPECT_EQ(imageWord(kOchNumV), r.numV);
        EXPECT_EQ(imageWord(kOchW), p.ochW);
        EXPECT_EQ(imageWord(kOchH), p.ochH);
        EXPECT_EQ(imageWord(kLedX), r.xoffs);
        EXPECT_EQ(imageWord(kLedY), r.yoffs);
    }
}

// Every screen the output page can set (up to 16376 each way, output 1 at most 8188 high in a
// vertical splice) gets a frame that holds each channel's picture; the CP21 splice, whose
// channels carry the LED height whatever the areas, at every height the image takes.
TEST_F(PanelTest, EveryChannelPictureEndsInsideItsFrame)
{
    const std::vector<int> widths = {64, 1920, 3841, 7680, 8188, 12000, 16376};
    const std::vector<int> heights = {64, 1080, 2160, 4320, 7900, 7902, 12000, 15000, 16376};
    std::vector<int> everyHeight = {14999, 15000, 65535};
    for (int h = 1; h < 65535; h += 173)
        everyHeight.push_back(h);
    for (int splice : {0, 1, 2, 3, 4, 5}) {
        for (int w : splice == 5 ? std::vector<int>{64, 16376} : widths) {
            for (int h : splice == 5 ? everyHeight : heights) {
                // Output 1 takes half, as much as one output holds, or a small part of the side
                // the splice divides.
                const bool vertical = splice == 1 || splice == 2;
                const int side = vertical ? h : w;
                for (int out1 : {(side + 1) / 2, std::min(side, 8188), std::min(side, 1000)}) {
                    const int out1W = vertical ? w : out1;
                    const int out1H = vertical ? out1 : h;
                    e->zelApi_PnlInit2(w, h, out1W, out1H, splice);
                    SCOPED_TRACE(testing::Message() << "splice " << splice << " " << w << "x" << h << " out1 "
                                                    << out1W << "x" << out1H);
                    const uint32_t vtt = chip.regValue(0x08, 0x0C, 2) + 2;
                    const uint32_t vstart = chip.regValue(0x08, 0x2C, 2);
                    const uint32_t vend = chip.regValue(0x08, 0x2E, 2);
                    const uint32_t height = chip.regValue(0x08, 0x46, 2) - 1;
                    ASSERT_EQ(vtt, e->panel.VTT);
                    ASSERT_EQ(height, e->panel.ochH);
                    ASSERT_EQ(vend, vstart + height);
                    ASSERT_LE(vstart, uint32_t(e->panel.VSW) + (vtt - height - e->panel.VSW - e->panel.VFP));
                    ASSERT_LE(vend + e->panel.VFP, vtt);
                    // The whole LED height, where a 16-bit frame can hold it.
                    if (splice == 5 && h < 65000) {
                        ASSERT_GE(height * e->panel.ochRows, uint32_t(h));
                    }
                }
            }
        }
    }
}
