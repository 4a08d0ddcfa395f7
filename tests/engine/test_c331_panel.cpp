#include <set>

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
    // "CP21": no areas.
    e->zelApi_PnlInit2(1920, 1080, 1920, 1080, 5);
    EXPECT_EQ(e->panel.areaA + e->panel.areaB + e->panel.areaC + e->panel.areaD, 0);
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

TEST_F(PanelTest, LargestScreenSizesDoNotOverflow)
{
    e->zelApi_PnlInit2(65535, 65535, 65535, 65535, 0);
    EXPECT_EQ(e->panel.use1och, 0);
    EXPECT_EQ(e->panel.arrangement, 6u);
    EXPECT_EQ(e->panel.ochW, 32768);
}
