// The window layout page's words: what each point-to-point entry stores, and that the state and
// mirror buttons change only the low byte of their words.
#include "ui/shell/option.h"
#include "ui/video/imagelayout.h"
#include "video_fixture.h"

using namespace ramaddr;

namespace {

class LayoutWords : public VideoPageTest {
protected:
    void SetUp() override
    {
        VideoPageTest::SetUp();
        g_imagelayoutpassword = "";
        click(g_mainwindow, "option");
        click(g_option, "image_layout");
        ASSERT_NE(g_imagelayout, nullptr);
    }
    void TearDown() override
    {
        if (g_imagelayout)
            click(g_imagelayout, "Button_back");
        if (g_option)
            click(g_option, "Button_back");
        flushDeletes();
        VideoPageTest::TearDown();
    }
    void selectWindow(int w) { click(child<QWidget>(g_imagelayout, "frame_strip"), QString::number(w)); }
};

}  // namespace

TEST_F(LayoutWords, EachPointToPointEntryStoresItsFlagAndSpliceMode)
{
    setStored(window(1) + kWinState, 1);
    setStored(window(1) + kWinFlags, 0x0004);
    setStored(window(1) + kWinDbdMode, 0);
    g_imagelayout->image_init();
    selectWindow(1);
    auto* p2p = child<QComboBox>(g_imagelayout, "comboBox_P2P");
    ASSERT_EQ(p2p->currentIndex(), 0);
    ASSERT_EQ(flag(), 0);

    // Entry, then the flags word (bit 0x100 point-to-point) and the splice mode it leaves.
    const struct {
        int entry;
        uint16_t flags, splice;
    } kSteps[] = {{2, 0x0104, 8}, {0, 0x0004, 8}, {3, 0x0104, 9}, {2, 0x0104, 8}, {1, 0x0104, 0}, {2, 0x0104, 8}};
    for (const auto& s : kSteps) {
        p2p->setCurrentIndex(s.entry);
        EXPECT_EQ(windowWord(1, kWinFlags), s.flags) << "entry " << s.entry;
        EXPECT_EQ(windowWord(1, kWinDbdMode), s.splice) << "entry " << s.entry;
        EXPECT_EQ(flag(), 1) << "entry " << s.entry;
        engineStep();
        EXPECT_EQ(p2p->currentIndex(), s.entry) << "shown again after the engine's report";
    }
    EXPECT_EQ(windowWord(0, kWinDbdMode), 0) << "only the current window";
}

TEST_F(LayoutWords, StateAndMirrorChangeOnlyTheLowByte)
{
    setStored(window(2) + kWinState, 0xAB01);
    setStored(window(2) + kWinMirror, 0x5500);
    g_imagelayout->image_init();
    selectWindow(2);

    // Off and on again before the engine's report: the page's own shown state decides.
    click(g_imagelayout, "button_state");
    EXPECT_EQ(windowWord(2, kWinState), 0xAB00);
    click(g_imagelayout, "button_state");
    EXPECT_EQ(windowWord(2, kWinState), 0xAB01);
    EXPECT_EQ(flag(), 1);
    engineStep();

    const struct {
        const char* button;
        uint16_t word;
    } kMirrors[] = {{"mirror3", 0x5502}, {"mirror4", 0x5503}, {"mirror2", 0x5501}, {"mirror1", 0x5500}};
    for (const auto& m : kMirrors) {
        click(g_imagelayout, m.button);
        EXPECT_EQ(windowWord(2, kWinMirror), m.word) << m.button;
        EXPECT_EQ(flag(), 1) << m.button;
        engineStep();
    }
    click(g_imagelayout, "mirror1");
    EXPECT_EQ(flag(), 0) << "the stored mode, read from the low byte, writes nothing";

    // The hidden hot-backup list keeps its index in the low byte of word +6, with no change flagged.
    setStored(window(2) + 6, 0xCD00);
    child<QComboBox>(g_imagelayout, "comboBox")->setCurrentIndex(5);
    EXPECT_EQ(windowWord(2, 6), 0xCD05);
    EXPECT_EQ(flag(), 0);
}
