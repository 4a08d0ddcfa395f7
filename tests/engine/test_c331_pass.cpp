#include <QSignalSpy>

#include <algorithm>
#include <chrono>
#include <future>

#include "chips/tarvosource.h"
#include "core/global.h"
#include "engine_fixture.h"
#include "ledout/fpga_manage.h"

using namespace ramaddr;

class PassTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        bringUp();
        src = tarvosource::pInstance();
        for (int i = 0; i < 6; ++i) {
            src->edid_request[i] = 0;
            src->edid_done[i] = 1;
        }
        src->volume_request = 0;
        chip.clearLog();
    }
    // Number of panel set-ups seen on the wire: each writes output channel 0's HTT once.
    size_t panelSetups() const { return chip.writesTo(0x08, 0x0A).size(); }

    tarvosource* src = nullptr;
};

TEST_F(PassTest, TwoPanelWordsChangedSetThePanelUpOnce)
{
    setWord(kLedWidth, 3840);
    setWord(kOutputArea + 6, 1000);
    g_set_led_para = 0;
    commitAndPass();
    EXPECT_EQ(panelSetups(), 1u);
    EXPECT_EQ(g_set_led_para, 2);
    EXPECT_EQ(imageWord(kOchW), 3840);
    // Refreshed shadow: nothing to set up again.
    model->refresh_shadow();
    commitAndPass();
    EXPECT_EQ(panelSetups(), 1u);
}

TEST_F(PassTest, EachPanelWordAloneSetsThePanelUpAndTheAreaOriginDoesNot)
{
    // Width and height of the output area, splice mode, LED width and height: each one alone.
    const struct {
        unsigned addr;
        uint16_t value;
    } kWatched[] = {{kOutputArea + 4, 1280}, {kOutputArea + 6, 720}, {kSpliceMode, 3}, {kLedWidth, 2560},
                    {kLedHeight, 1440}};
    size_t expected = 0;
    for (const auto& w : kWatched) {
        setWord(w.addr, w.value);
        g_set_led_para = 0;
        commitAndPass();
        EXPECT_EQ(panelSetups(), ++expected) << std::hex << w.addr;
        model->refresh_shadow();
    }
    // The area's x and y are not the panel's.
    setWord(kOutputArea, 100);
    setWord(kOutputArea + 2, 50);
    commitAndPass();
    EXPECT_EQ(panelSetups(), expected);
}

TEST_F(PassTest, PanelWaitsForTheLedHandOverButNotForever)
{
    setWord(kLedHeight, 2160);
    g_set_led_para = 1;   // the LED output never answers
    sleeps.clear();
    commitAndPass();
    EXPECT_EQ(panelSetups(), 1u);
    EXPECT_EQ(g_set_led_para, 2);
    // The hand-over wait's 10 us steps (the windows' re-layout on the new panel sleeps too).
    const auto steps = std::count(sleeps.begin(), sleeps.end(), 10u);
    EXPECT_GT(steps, 1);
    EXPECT_LE(steps, 300000);
}

TEST_F(PassTest, BrightnessOnlyRaisesTheLedRequest)
{
    fpga_manage::pInstance()->set_bri_flag = 0;
    setWord(kBrightness, 37);
    commitAndPass();
    EXPECT_EQ(fpga_manage::pInstance()->set_bri_flag, 1);
    EXPECT_EQ(panelSetups(), 0u);
    // The chip keeps its neutral brightness.
    EXPECT_EQ(chip.writesTo(0x0C, 0x3A), (std::vector<uint8_t>{0}));
}

TEST_F(PassTest, ReportsOncePerFlaggedPass)
{
    QSignalSpy spy(model, &ZelRamPara::sig_update_para);
    setWord(kContrast, 10);
    commitAndPass(2);
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).toInt(), 2);
    EXPECT_EQ(e->para_chg_flag, 0);
    e->stepOnce();
    e->stepOnce();
    EXPECT_EQ(spy.count(), 1);
    commitAndPass(1);
    ASSERT_EQ(spy.count(), 2);
    EXPECT_EQ(spy.at(1).at(0).toInt(), 1);
}

TEST_F(PassTest, EveryInputWithChangedTimingGetsItsEdidRequest)
{
    setWord(kEdidTiming + 0, 1280);
    setWord(kEdidTiming + 6 * 2 + 4, 50);
    edid_ram_table_from[4] = 1;
    commitAndPass();
    for (int i = 0; i < 6; ++i) {
        const bool asked = i == 0 || i == 2 || i == 4;
        EXPECT_EQ(src->edid_request[i], asked ? 1 : 0) << i;
        EXPECT_EQ(src->edid_done[i], asked ? 0 : 1) << i;
    }
    // The custom table still waits: asked again on the next flagged pass.
    model->refresh_shadow();
    src->edid_done[4] = 1;
    src->edid_request[4] = 0;
    commitAndPass();
    EXPECT_EQ(src->edid_request[4], 1);
    EXPECT_EQ(src->edid_done[4], 0);
    edid_ram_table_from[4] = 0;
}

TEST_F(PassTest, VolumeAndScreenRequests)
{
    fpga_manage::pInstance()->set_output_flag = 0;
    setWord(window(3) + kWinVolume, 0x8020);
    setWord(kScreenClosed, 1);
    commitAndPass();
    EXPECT_EQ(src->volume_request, 1);
    EXPECT_EQ(fpga_manage::pInstance()->set_output_flag, 1);
}

TEST_F(PassTest, FadesAreKeptPerWindow)
{
    setWord(kFadeIn + 4 * 2, 12);
    setWord(kFadeOut + 4 * 5, 7);
    commitAndPass();
    EXPECT_EQ(e->PM_WIN_FADE_IN[2], 12);
    EXPECT_EQ(e->PM_WIN_FADE_OUT[5], 7);
}

TEST_F(PassTest, TheLastWindowsDotByDotWordIsScanned)
{
    setWord(window(5) + kWinFlags, 0x0100);   // dot-by-dot on
    commitAndPass();
    model->refresh_shadow();
    setWord(window(5) + kWinDbdMode, 6);      // 0x978: four inputs side by side
    commitAndPass();
    EXPECT_EQ(e->PM_WIN_DBD_MODE[5], 40);
}

// No such crop entry: the window shows no input, as a box started from the image shows none.
TEST_F(PassTest, ACropIndexBeyondTheTableIsNoInput)
{
    setWord(kAudioWindow, 1);
    model->refresh_shadow();
    setWord(window(1) + kWinSource, 0x8000 | 45);
    commitAndPass();
    EXPECT_EQ(src->volume_request, 0);
    // The same through a re-layout.
    setWord(window(1) + kWinState, 1);
    setWord(window(1) + kWinSource, 2);
    commitAndPass();
    model->refresh_shadow();
    EXPECT_EQ(e->win_info[1].port, 2);
    setWord(window(1) + kWinSource, 0x8000 | 40);
    setWord(window(0) + kWinX, 4);
    commitAndPass();
    EXPECT_EQ(e->win_info[1].port, c331_manage::kNoInput);
    EXPECT_EQ(e->win_port[1], c331_manage::kNoPort);
    // The same without a re-layout.
    setWord(window(1) + kWinSource, 2);
    setWord(window(0) + kWinX, 0);
    commitAndPass();
    model->refresh_shadow();
    ASSERT_EQ(e->win_info[1].port, 2);
    setWord(window(1) + kWinSource, 0x8000 | 41);
    commitAndPass();
    EXPECT_EQ(e->win_info[1].port, c331_manage::kNoInput);
}

TEST_F(PassTest, ACropSourceTakesTheInputOfItsEntry)
{
    setWord(kAudioWindow, 1);
    model->refresh_shadow();
    model->ram_para[cropEntry(3)] = 0x80 | 4;   // valid entry of input 4
    setWord(window(1) + kWinSource, 0x8003);
    commitAndPass();
    EXPECT_EQ(src->volume_request, 1);
}

TEST_F(PassTest, ReLayoutTakesEveryWindowFieldFromTheImage)
{
    setWord(window(0) + kWinState, 1);
    setWord(window(2) + kWinState, 1);
    setWord(window(2) + kWinSource, 3);
    setWord(window(2) + kWinWidth, 100);
    setWord(window(2) + kWinHeight, 100);
    setWord(window(3) + kWinState, 1);
    setWord(window(3) + kWinWidth, 100);
    setWord(window(3) + kWinHeight, 100);
    setWord(kAudioWindow, 2);
    commitAndPass();
    model->refresh_shadow();
    e->g_chg_attr[2] = e->g_chg_dbd[3] = e->g_chg_input[2] = 0;

    // Geometry of window 0, mirror of window 2, flags of window 3 and the audio window's source
    // in one commit.
    setWord(window(0) + kWinY, 8);
    setWord(window(2) + kWinMirror, 1);
    setWord(window(3) + kWinFlags, 0x0001);
    setWord(window(2) + kWinSource, 5);
    commitAndPass();
    EXPECT_EQ(e->win_info[0].y, 8);
    EXPECT_EQ(e->win_info[2].attr, 1);
    EXPECT_EQ(e->PM_WIN_HMIRROR[2], 1);
    EXPECT_EQ(e->win_info[3].output, 1);
    EXPECT_EQ(e->win_info[2].port, 5);
    EXPECT_EQ(e->win_port[2], 4);   // input 5 is chip port 4
    EXPECT_EQ(src->volume_request, 1);
}

TEST_F(PassTest, AWindowIsShownExactlyWhenItsStateWordIsOn)
{
    for (int w = 0; w < 6; ++w)
        setWord(window(w) + kWinState, 0);
    setWord(window(0) + kWinState, 1);
    setWord(window(2) + kWinState, 1);
    setWord(window(2) + kWinWidth, 100);
    setWord(window(2) + kWinHeight, 100);
    commitAndPass();
    EXPECT_EQ(e->wincnt, 2);
    EXPECT_TRUE(e->zelApi_IsWinShown(0));
    EXPECT_FALSE(e->zelApi_IsWinShown(1));
    EXPECT_TRUE(e->zelApi_IsWinShown(2));
    EXPECT_FALSE(e->zelApi_IsWinShown(6));
}

TEST_F(PassTest, ASourceAboveFiveIsNoInput)
{
    setWord(window(0) + kWinState, 1);
    setWord(window(1) + kWinState, 1);
    setWord(window(1) + kWinWidth, 100);
    setWord(window(1) + kWinHeight, 100);
    setWord(window(1) + kWinSource, 9);
    commitAndPass();
    EXPECT_EQ(e->win_info[1].port, c331_manage::kNoInput);
    EXPECT_EQ(e->win_port[1], c331_manage::kNoPort);
}

TEST_F(PassTest, DebugRequestsAreConsumed)
{
    model->reg_status[162] = 0x41;   // only the lowest set bit acts: no new bring-up
    model->reg_status[163] = 1;
    model->reg_status[164] = 2;      // cleared though its one request bit is clear
    model->reg_status[165] = 2;
    commitAndPass();
    EXPECT_EQ(model->reg_status[162], 0);
    EXPECT_EQ(model->reg_status[163], 0);
    EXPECT_EQ(model->reg_status[164], 0);
    EXPECT_EQ(model->reg_status[165], 0);
    EXPECT_EQ(e->c331_setup_state, 8);
}

TEST_F(PassTest, NothingIsWrittenWithoutAChange)
{
    for (int i = 0; i < 5; ++i)
        e->stepOnce();
    // Only the inputs' measurement runs: bank selects and the measurement hold.
    for (const auto& w : chip.writes())
        EXPECT_TRUE(w.addr == 0x00 || (w.bank == 0x00 && w.addr == 0x29)) << int(w.bank) << ":" << int(w.addr);
}

TEST_F(PassTest, PanelWordsWrittenBackWaitForTheModelMutex)
{
    // The change dispatcher copies the image for the parameter file under the model's mutex:
    // the words the pass writes back must not change under that copy.
    setWord(kLedWidth, 3840);
    g_set_led_para = 0;
    pthread_mutex_lock(&model->mutex);
    auto pass = std::async(std::launch::async, [this] { commitAndPass(); });
    EXPECT_EQ(pass.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    EXPECT_NE(imageWord(kOchW), 3840);
    pthread_mutex_unlock(&model->mutex);
    pass.get();
    EXPECT_EQ(imageWord(kOchW), 3840);
}

// A user-mode recall brings the derived panel words saved with the mode; with the panel words
// equal to the current ones no panel set-up runs, and the image takes the set-up's values again.
TEST_F(PassTest, DerivedPanelWordsFollowARecallThatLeavesThePanelAlone)
{
    const unsigned kDerived[] = {kLedX, kLedY, kOchNumH, kOchNumV, kOchW, kOchH, kSplitFlag};
    std::vector<uint16_t> setUp;
    for (unsigned a : kDerived)
        setUp.push_back(imageWord(a));
    uint16_t stale = 7;
    for (unsigned a : kDerived)
        setWord(a, stale += 3);
    setWord(kContrast, 44);
    commitAndPass(2);
    EXPECT_EQ(panelSetups(), 0u);
    for (size_t k = 0; k < setUp.size(); ++k)
        EXPECT_EQ(imageWord(kDerived[k]), setUp[k]) << std::hex << kDerived[k];
}
