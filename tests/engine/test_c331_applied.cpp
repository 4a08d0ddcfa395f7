// What the change pass takes as changed: the difference to what it applied last, whatever the
// change dispatcher has done with the shadow meanwhile.
#include <QMutexLocker>

#include "chips/tarvosource.h"
#include "core/global.h"
#include "core/utils.h"
#include "core/para_commit.h"
#include "engine_fixture.h"
#include "ledout/fpga_manage.h"
#include "sim/video_chip_decode.h"
#include "sim/video_chip_picture.h"

using namespace ramaddr;

namespace {

class AppliedTest : public EngineTest {
protected:
    void SetUp() override
    {
        // A manager made by an earlier test of this program takes its lines from this test's board.
        if (fpga_manage::p_fpga_manage)
            fpga_manage::p_fpga_manage->initialize();
        EngineTest::SetUp();
        bringUp();
        led = fpga_manage::pInstance();
        led->set_bri_flag = 0;
        led->set_output_flag = 0;
    }
    // A page's commit: the word, then the flag, under the commit lock.
    void commit(unsigned addr, uint16_t value)
    {
        ParaCommit c;
        setWord(addr, value);
        c.set(1);
    }
    uint32_t contrastRegister() const { return chip.regValue(0x0C, 0x28, 2); }
    // The LED output's blanking has ended: it lets the engine's wait go and keeps the outputs off.
    static void releaseLedWait()
    {
        QMutexLocker lock(&Utils::_led_para_init_mutex);
        g_set_led_para = 0;
        g_led_para_released = 1;
    }
    void TearDown() override
    {
        g_set_led_para = 0;
        g_led_para_released = 0;
        EngineTest::TearDown();
    }

    fpga_manage* led = nullptr;
};

}  // namespace

// The dispatcher runs on the GUI thread and has not refreshed the shadow between the two passes:
// the shadow still holds 50 when the image is back at 50.
TEST_F(AppliedTest, AValueChangedAndChangedBackBeforeTheShadowFollowsReachesTheChip)
{
    ASSERT_EQ(imageWord(kContrast), 50);
    commit(kContrast, 30);
    e->stepOnce();
    EXPECT_EQ(contrastRegister(), 30u * 1023 / 100);
    commit(kContrast, 50);
    e->stepOnce();
    EXPECT_EQ(contrastRegister(), 50u * 1023 / 100);

    // The brightness goes to the LED output: its request is raised for each of the two values.
    commit(kBrightness, 25);
    e->stepOnce();
    EXPECT_EQ(led->set_bri_flag.load(), 1);
    led->set_bri_flag = 0;
    commit(kBrightness, 100);
    e->stepOnce();
    EXPECT_EQ(led->set_bri_flag.load(), 1);
}

TEST_F(AppliedTest, AShadowRefreshedAheadOfThePassHidesNothing)
{
    setWord(kSaturation, 20);
    model->refresh_shadow();   // the dispatcher saved before the pass compared
    commitAndPass();
    EXPECT_EQ(chip.regValue(0x0C, 0x1B, 2), 20u * 1023 / 100);
    // Once applied, the same image is no change.
    chip.clearLog();
    commitAndPass();
    EXPECT_TRUE(chip.writesTo(0x0C, 0x1B).empty());
}

TEST_F(AppliedTest, AWordTheLedOutputReportsIsNotAppliedBack)
{
    {
        ParaCommit c;
        EXPECT_TRUE(e->adoptWord(kScreenClosed, 1));
    }
    EXPECT_EQ(imageWord(kScreenClosed), 1);
    commit(kContrast, 70);
    e->stepOnce();
    EXPECT_EQ(led->set_output_flag.load(), 0);

    // The user opens the screen; before the pass, the output reports closed again: the user's
    // change stays and is applied.
    commit(kScreenClosed, 0);
    {
        ParaCommit c;
        EXPECT_FALSE(e->adoptWord(kScreenClosed, 1));
    }
    EXPECT_EQ(imageWord(kScreenClosed), 0);
    e->stepOnce();
    EXPECT_EQ(led->set_output_flag.load(), 1);
}

TEST_F(AppliedTest, ABringUpAgainStartsFromTheImageItTakes)
{
    commit(kContrast, 80);
    e->c331_setup_state = 0;   // the debug request that repeats the bring-up
    ASSERT_TRUE(zeltest::bringUpEngine(e));
    EXPECT_EQ(contrastRegister(), 80u * 1023 / 100);
    chip.clearLog();
    e->para_chg_flag = 1;
    e->stepOnce();
    EXPECT_TRUE(chip.writesTo(0x0C, 0x28).empty()) << "applied by the bring-up already";
}

// A restart of the bring-up (register 162 bit 6), with or without changes committed right behind
// it: the chip is set up from the image it takes, and the LED output, the inputs and the pattern
// generator are brought to that image too, the generator in step with the engine's pattern flag.
TEST_F(AppliedTest, ARestartEndsWithEveryConsumerAtTheImage)
{
    tarvosource* src = tarvosource::pInstance();
    auto och0 = [&] {
        const std::string all = sim::describeOutputPicture(chip);
        const size_t from = all.find("och 0: ");
        return all.substr(from, all.find('\n', from) - from);
    };
    for (bool changedBehind : {false, true}) {
        SCOPED_TRACE(changedBehind ? "changes behind the restart" : "nothing changed");
        commit(kTestPattern, 2);
        e->stepOnce();
        ASSERT_EQ(e->zelApi_IsPatternGen(), 1);
        for (int i = 0; i < 6; ++i) {
            src->edid_request[i] = 0;
            src->edid_done[i] = 1;
        }
        src->volume_request = 0;
        led->set_bri_flag = 0;
        led->set_output_flag = 0;
        imageRegStatusByte(162) = 0x40;
        commit(kContrast, changedBehind ? 41 : 42);
        e->stepOnce();
        ASSERT_EQ(e->c331_setup_state, 0);
        if (changedBehind) {
            ParaCommit c;
            setWord(kBrightness, 37);
            setWord(kScreenClosed, 1);
            setWord(kEdidTiming + 6 * 3, 1280);
            setWord(kTestPattern, 3);
            c.set(1);
        }
        // The LED output reports the brightness it shows while the bring-up works from the image
        // it took: a change taken and not served yet stays, and is requested; else the report is
        // what the LED output has already.
        for (int i = 0; i < 50 && e->c331_setup_state < 6; ++i)
            e->stepOnce();
        {
            ParaCommit c;
            EXPECT_EQ(e->adoptWord(kBrightness, 60), !changedBehind);
        }
        EXPECT_EQ(imageWord(kBrightness), changedBehind ? 37 : 60);
        ASSERT_TRUE(zeltest::bringUpEngine(e));
        e->stepOnce();
        EXPECT_EQ(led->set_bri_flag.load(), changedBehind ? 1 : 0);
        EXPECT_EQ(led->set_output_flag.load(), changedBehind ? 1 : 0);
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(src->edid_done[i], changedBehind && i == 3 ? 0 : 1) << "input " << i;
        EXPECT_EQ(src->volume_request, 1);
        EXPECT_EQ(e->zelApi_IsPatternGen(), 1);
        EXPECT_EQ(och0(), changedBehind ? "och 0: solid #0000FF control 0x0000" : "och 0: solid #00FF00 control 0x0000");
        // In step: the same pattern sent again changes nothing, turning it off ends it.
        commit(kTestPattern, 0);
        e->stepOnce();
        EXPECT_EQ(e->zelApi_IsPatternGen(), 0);
        EXPECT_EQ(och0(), "och 0: off");
        commit(kScreenClosed, 0);
        e->stepOnce();
    }
}

// An LED-size change committed right behind a restart: the bring-up sets the chip up for the new
// panel, and the LED output, which blanks its outputs for it meanwhile, gets them back as after a
// pass's panel set-up, once its blanking has ended. A restart that leaves the panel alone hands
// nothing back.
TEST_F(AppliedTest, ARestartWithANewPanelBehindItHandsTheOutputsBack)
{
    enum Behind { kSamePanel, kBlanked, kStillBlanking };
    int blankingSteps = 0;   // the LED output's steps left once the bring-up is done
    auto sleepsAlone = e->usleepFn;
    e->usleepFn = [&](unsigned us) {
        sleepsAlone(us);
        if (e->c331_setup_state == c331_manage::kSetupDone && blankingSteps > 0 && --blankingSteps == 0)
            g_set_led_para = 0;
    };
    for (Behind behind : {kSamePanel, kBlanked, kStillBlanking}) {
        SCOPED_TRACE(behind);
        g_set_led_para = 0;
        imageRegStatusByte(162) = 0x40;
        commit(kContrast, uint16_t(43 + behind));
        e->stepOnce();
        ASSERT_EQ(e->c331_setup_state, 0);
        if (behind != kSamePanel) {
            g_set_led_para = 1;   // the requester, before its commit
            commit(kLedWidth, uint16_t(imageWord(kLedWidth) + 64));
        }
        if (behind == kBlanked)
            g_set_led_para = 0;
        blankingSteps = behind == kStillBlanking ? 3 : 0;
        ASSERT_TRUE(zeltest::bringUpEngine(e));
        e->stepOnce();
        EXPECT_EQ(blankingSteps, 0) << "the blanking ran to its end";
        EXPECT_EQ(g_set_led_para.load(), behind == kSamePanel ? 0 : 2);
    }
    e->usleepFn = sleepsAlone;
    g_set_led_para = 0;
}

TEST_F(AppliedTest, AnLedSizeRequestWhosePanelIsUnchangedHandsTheOutputsBack)
{
    // The LED output blanks for the request; the commit then changes no panel word.
    g_set_led_para = 1;
    commit(kContrast, 60);
    e->stepOnce();
    EXPECT_EQ(g_set_led_para.load(), 2) << "the LED output resets and lights the outputs again";
    g_set_led_para = 0;
    commit(kContrast, 61);
    e->stepOnce();
    EXPECT_EQ(g_set_led_para.load(), 0) << "no request, nothing to hand back";
}

// The same request behind a bring-up restart that outlasts the blanking: the LED output has let
// the wait go and keeps its outputs off until they are handed back.
TEST_F(AppliedTest, AnUnchangedPanelRequestBehindALongRestartHandsTheOutputsBack)
{
    imageRegStatusByte(162) = 0x40;
    commit(kContrast, 44);
    e->stepOnce();
    ASSERT_EQ(e->c331_setup_state, 0);
    g_set_led_para = 1;   // the requester, before its commit
    commit(kContrast, 45);
    releaseLedWait();
    ASSERT_TRUE(zeltest::bringUpEngine(e));
    e->stepOnce();
    EXPECT_EQ(g_set_led_para.load(), 2) << "the LED output resets and lights the outputs again";
}

// A second LED-size change committed while the pass waits for the first one's hand-over: no
// outputs are lit for the first panel; they come back once the second one is set up.
TEST_F(AppliedTest, ASecondSizeChangeDuringAHandOverWaitsForIt)
{
    const uint16_t first = uint16_t(imageWord(kLedWidth) + 64), second = uint16_t(first + 64);
    bool release = true;
    e->usleepFn = [&](unsigned us) {
        sleeps.push_back(us);
        if (!release || !e->handingOver())
            return;
        release = false;
        g_set_led_para = 1;   // the second requester: the LED output blanks again for it
        commit(kLedWidth, second);
        releaseLedWait();
    };
    g_set_led_para = 1;
    commit(kLedWidth, first);
    e->stepOnce();
    ASSERT_FALSE(release);
    EXPECT_EQ(g_set_led_para.load(), 0) << "no outputs lit for the first panel";
    e->stepOnce();
    EXPECT_EQ(g_set_led_para.load(), 2) << "handed back after the second panel";
    EXPECT_EQ(e->panel.ledW, second);
}

TEST_F(AppliedTest, ANewPanelLaysTheWindowsOutOnItsChannels)
{
    // A horizontal splice of 3000 x 1080 with output 1 1920 wide, the panel words only.
    {
        ParaCommit c;
        setWord(kSpliceMode, 3);
        setWord(kLedWidth, 3000);
        setWord(kLedHeight, 1080);
        setWord(kOutputArea + 4, 1920);
        setWord(kOutputArea + 6, 1080);
        c.set(1);
    }
    g_set_led_para = 0;
    e->stepOnce();
    int shown = 0;
    for (const sim::DecodedChannel& d : sim::decodeOutputs(chip)) {
        if (!d.on)
            continue;
        ++shown;
        EXPECT_LE(d.x + d.width, 1920) << "och " << d.och;
        EXPECT_LE(d.y + d.height, 1080) << "och " << d.och;
    }
    EXPECT_GT(shown, 0);
    g_set_led_para = 0;
}

// A window write that lands while a restart of the bring-up runs (after it took the image, before
// the next pass), and a commit that then takes it back: the chip ends showing the windows of the
// image, as a fresh start from it would, at either step of the bring-up.
TEST_F(AppliedTest, AWindowWriteDuringARestartTakenBackLeavesNoTrace)
{
    const unsigned width = window(0) + kWinWidth;
    const uint16_t home = imageWord(width);
    const std::string windows = sim::describeWindows(chip);
    for (uint8_t landsAt : {uint8_t(6), uint8_t(7)}) {
        SCOPED_TRACE(int(landsAt));
        imageRegStatusByte(162) = 0x40;
        commit(kContrast, uint16_t(50 + landsAt));
        e->stepOnce();
        ASSERT_EQ(e->c331_setup_state, 0);
        for (int i = 0; i < 50 && e->c331_setup_state < landsAt; ++i)
            e->stepOnce();
        ASSERT_EQ(e->c331_setup_state, landsAt);
        commit(width, uint16_t(home / 2));   // the write in flight
        e->stepOnce();
        commit(width, home);                 // taken back before the next pass
        ASSERT_TRUE(zeltest::bringUpEngine(e));
        e->stepOnce();
        EXPECT_EQ(sim::describeWindows(chip), windows);
    }
}
