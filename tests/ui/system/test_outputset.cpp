// The output settings page: the splice arithmetic, what Apply commits, the window reset and the
// LED-size hand-over, and the port view over the FPGAs' parameter blocks.
#include <QComboBox>
#include <QPointer>

#include <cstring>

#include "core/ram_layout.h"
#include "outputset_fixture.h"
#include "ui/shell/lcd_touch.h"
#include "ui/shell/tip.h"
#include "ui/system/outputset.h"

using namespace ramaddr;


TEST(OutputSplit, SplitsTheScreenOverTwoOutputs)
{
    using namespace output_split;
    struct Case { int width, out1, out2; };
    for (const Case& c : {Case{1920, 960, 960}, Case{527, 272, 255}, Case{10000, 5024, 4992}, Case{8188, 4096, 4092},
                         Case{8189, 4096, 4096}}) {
        const Split s = horizontal(c.width);
        EXPECT_EQ(s.out1, c.out1) << c.width;
        EXPECT_EQ(s.out2, c.out2) << c.width;
    }
    EXPECT_EQ(vertical(1081).out1, 541);
    EXPECT_EQ(vertical(1081).out2, 540);
    // A screen narrower than one rounding step is all output 1; output 2 never goes below 0.
    EXPECT_EQ(horizontal(5).out1, 5);
    EXPECT_EQ(horizontal(5).out2, 0);
}

TEST_F(OutputSetTest, OpensFromTheSettingsMenuWithTheImage)
{
    ram_set_u16(model->ram_para, kOutputArea + 4, 960);
    ram_set_u16(model->ram_para, kOutputArea + 12, 961);
    open(2, 1920, 1080);
    ASSERT_NE(g_outputset, nullptr);
    EXPECT_EQ(field("lineEdit_width"), "1920");
    EXPECT_EQ(field("lineEdit_out1_width"), "960");
    EXPECT_EQ(field("lineEdit_out2_width"), "961");
    EXPECT_EQ(child<QComboBox>(g_outputset, "comboBox")->currentIndex(), 1);
    EXPECT_EQ(image(g_outputset, "out_label"), ":/png/out_vertical.png");
    EXPECT_FALSE(child<QWidget>(g_outputset, "lineEdit_width")->isEnabled());
    EXPECT_FALSE(child<QWidget>(g_outputset, "Button_apply2")->isVisible());
    EXPECT_EQ(field("label_title"), "Output Settings");
    EXPECT_EQ(field("label_tip"), "LED max:16376(w),16376(h)");

    click(g_outputset, "Button_back");
    flushDeletes();
    EXPECT_EQ(g_outputset, nullptr);
    EXPECT_EQ(g_page_focus.load(), 5);
}

TEST_F(OutputSetTest, HorizontalSpliceCommitsTheImageWordsAndResetsTheWindows)
{
    ram_set_u16(model->ram_para, window(2) + kWinState, 1);
    ram_set_u16(model->ram_para, window(0) + kWinX, 100);
    open(4, 1920, 1080);
    choose(0);
    EXPECT_EQ(field("lineEdit_out1_width"), "960");
    EXPECT_EQ(field("lineEdit_out2_width"), "960");
    EXPECT_EQ(field("lineEdit_out2_height"), "1080");
    EXPECT_EQ(word(kSpliceMode), 4) << "nothing before Apply";

    click(g_outputset, "Button_apply1");
    EXPECT_EQ(engine->para_chg_flag.load(), 1);
    EXPECT_EQ(word(kSpliceMode), 3);
    const uint16_t expected[6] = {960, 1080, 960, 0, 960, 1080};
    for (int k = 0; k < 6; ++k)
        EXPECT_EQ(word(kOutputArea + 4 + 2 * k), expected[k]) << k;
    EXPECT_EQ(word(window(0) + kWinX), 0);
    EXPECT_EQ(word(window(0) + kWinWidth), 1920);
    EXPECT_EQ(word(window(2) + kWinState), 0);
    EXPECT_EQ(g_set_led_para.load(), 0) << "no FPGA is up: no hand-over";
    EXPECT_EQ(child<QPushButton>(g_outputset, "Button_apply1")->styleSheet(),
              "background-color: #4777FF;color: rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);");
}

TEST_F(OutputSetTest, UnchangedLayoutWritesOnlyTheOutputs)
{
    ram_set_u16(model->ram_para, window(3) + kWinState, 1);
    open(2, 1920, 1081);
    choose(1);
    EXPECT_EQ(field("lineEdit_out1_height"), "541");
    EXPECT_EQ(field("lineEdit_out2_height"), "540");
    click(g_outputset, "Button_apply1");
    EXPECT_EQ(engine->para_chg_flag.load(), 1);
    EXPECT_EQ(word(kOutputArea + 10), 541) << "output 2 starts below output 1";
    EXPECT_EQ(word(kOutputArea + 14), 540);
    EXPECT_EQ(word(window(3) + kWinState), 1) << "windows untouched";
}

TEST_F(OutputSetTest, CopyCapsAWideScreenAndCancelOnlyMovesTheHighlight)
{
    open(3, 10000, 1080);
    choose(0);
    EXPECT_EQ(field("lineEdit_out1_width"), "5024");
    EXPECT_EQ(field("lineEdit_out2_width"), "4992");
    choose(2);
    EXPECT_EQ(field("lineEdit_width"), "8188");
    click(g_outputset, "Button_cancel1");
    EXPECT_EQ(word(kLedWidth), 10000);
    EXPECT_EQ(engine->para_chg_flag.load(), 0);
    click(g_outputset, "Button_apply1");
    EXPECT_EQ(word(kLedWidth), 8188);
    EXPECT_EQ(word(kSpliceMode), 4);
}

TEST_F(OutputSetTest, Output1EntriesStayWithinTheScreen)
{
    open(4, 1920, 1080);
    type(child<QWidget>(g_outputset, "lineEdit_out1_width"), "10000");
    // Forced to horizontal splice: the selector and picture follow, output 1 ends at the screen.
    EXPECT_EQ(g_outputset->mode(), OutputSet::kHorizontal);
    EXPECT_EQ(child<QComboBox>(g_outputset, "comboBox")->currentIndex(), 0);
    EXPECT_EQ(image(g_outputset, "out_label"), ":/png/out_horizontal.png");
    EXPECT_EQ(field("lineEdit_out1_width"), "1920");
    EXPECT_EQ(field("lineEdit_out2_width"), "0");

    type(child<QWidget>(g_outputset, "lineEdit_out1_width"), "1000");
    EXPECT_EQ(field("lineEdit_out2_width"), "920");
    click(g_outputset, "Button_apply1");
    EXPECT_EQ(word(kOutputArea + 12), 920);
}

TEST_F(OutputSetTest, WideScreenEntriesRoundToThe32PixelStep)
{
    open(2, 10000, 1080);
    type(child<QWidget>(g_outputset, "lineEdit_out1_width"), "100");
    EXPECT_EQ(field("lineEdit_out1_width"), "128");
    EXPECT_EQ(field("lineEdit_out2_width"), "128");

    type(child<QWidget>(g_outputset, "lineEdit_out1_height"), "2000");
    EXPECT_EQ(field("lineEdit_out1_height"), "1080") << "vertical: within the screen's height";
    EXPECT_EQ(field("lineEdit_out2_height"), "0");
}

TEST_F(OutputSetTest, OutputTwoIsNeverStoredBelowZero)
{
    open(3, 8190, 1080);
    type(child<QWidget>(g_outputset, "lineEdit_out1_width"), "9000");
    click(g_outputset, "Button_apply1");
    EXPECT_EQ(word(kOutputArea + 4), 8190);
    EXPECT_EQ(word(kOutputArea + 12), 0) << "not 65534";
}

TEST_F(OutputSetTest, KeypadConfirmationsOfOtherPagesAreIgnored)
{
    open(3, 1920, 1080);
    auto* out1 = child<QLineEdit>(g_outputset, "lineEdit_out1_width");
    const QString before = out1->text();
    // A confirmation while this page has no field open changes nothing of it.
    emit g_numberkeyboard->sendKeyBoardUIDataToLineEdit("100");
    EXPECT_EQ(out1->text(), before);
    g_lineedit = child<QLineEdit>(g_outputset, "lineEdit_width");
    emit g_numberkeyboard->sendKeyBoardUIDataToLineEdit("100");
    EXPECT_EQ(field("lineEdit_width"), "1920");
}

TEST_F(OutputSetTest, LayoutChangeHandsTheLedSizeOverWhileBothFpgasRun)
{
    fpga_manage* fpga = zeltest::bringUpFpgas();
    open(4, 1920, 1080);
    // Both FPGAs must run: with one of them still coming up, the layout is committed alone.
    fpga->MCU_REG_func[1][fpga_manage::kRegState] = 2;
    choose(0);
    click(g_outputset, "Button_apply1");
    EXPECT_EQ(g_set_led_para.load(), 0);
    fpga->MCU_REG_func[1][fpga_manage::kRegState] = fpga_manage::kRunning;
    choose(1);
    click(g_outputset, "Button_apply1");
    EXPECT_EQ(g_set_led_para.load(), 1);
    EXPECT_EQ(g_set_led_setup.load(), 0);

    // The LED output blanks its outputs; the engine, having set the panel up, answers 2; both
    // FPGAs are reset and come up again.
    ASSERT_TRUE(zeltest::runFpgaUntil(fpga, [] { return g_set_led_setup.load() != 0; }));
    g_set_led_para = 2;
    ASSERT_TRUE(zeltest::runFpgaUntil(fpga, [] { return g_set_led_para.load() == 0; }));
    ASSERT_TRUE(zeltest::runFpgaUntil(fpga, [fpga] { return fpga->get_fpga_status() == 1; }));

    enginePass();
    click(g_outputset, "Button_apply1");
    EXPECT_EQ(g_set_led_para.load(), 0) << "same layout: no hand-over";
    choose(0);
    click(g_outputset, "Button_apply1");
    EXPECT_EQ(g_set_led_para.load(), 1);
}

TEST_F(OutputSetTest, RefreshRedrawsFromTheImageWithACheckMark)
{
    open(4, 1920, 1080);
    ram_set_u16(model->ram_para, kLedWidth, 3840);
    model->test_signal(1);
    EXPECT_EQ(field("lineEdit_width"), "3840");
    EXPECT_TRUE(g_tip->isVisible());
}

TEST_F(OutputSetTest, PortViewReadsTheFpgaParameterBlocks)
{
    fpga_manage* fpga = fpga_manage::pInstance();
    for (int f = 0; f < 2; ++f)
        for (int i = 0; i < fpga_manage::kRamImageSize; ++i)
            fpga->MCU_RAM_PARA_func[f][i] = static_cast<uint8_t>(i * 7 + f * 3);
    auto wordAt = [fpga](int f, int offset) {
        return QString::number(fpga->MCU_RAM_PARA_func[f][offset] | fpga->MCU_RAM_PARA_func[f][offset + 1] << 8);
    };
    open(4, 1920, 1080);
    click(g_outputset, "Button_lanset");
    EXPECT_EQ(field("lineEdit_X"), wordAt(0, 8));
    EXPECT_EQ(field("lineEdit_Y"), wordAt(0, 10));
    EXPECT_EQ(field("lineEdit_W"), wordAt(0, 12));
    EXPECT_EQ(field("lineEdit_H"), wordAt(0, 14));
    EXPECT_EQ(field("text_0"), "LED1");

    click(g_outputset, "Button_wlan3");
    EXPECT_EQ(field("text_1"), "LED18");
    EXPECT_EQ(field("lineEdit_X"), wordAt(1, 8));
    click(g_outputset->findChild<QFrame*>("frame_port"), "1");
    EXPECT_EQ(g_outputset->selectedPort(), 1);
    EXPECT_EQ(field("lineEdit_X"), wordAt(1, 19)) << "port 17: FPGA 1, local port 1";
    EXPECT_EQ(field("lineEdit_H"), wordAt(1, 25));
    EXPECT_EQ(child<QFrame>(g_outputset, "cell_1")->styleSheet(), "background-color: #212435;border:1px solid #00D65B;");
    EXPECT_EQ(child<QFrame>(g_outputset, "cell_0")->styleSheet(), "background-color: #212435;border:1px solid #FFFFFF;");

    click(g_outputset, "Button_wlan2");
    EXPECT_EQ(field("text_0"), "LED9");
    EXPECT_EQ(field("text_7"), "LED16");
    EXPECT_EQ(field("lineEdit_X"), wordAt(0, 576));
    click(g_outputset->findChild<QFrame*>("frame_port"), "7");
    EXPECT_EQ(field("lineEdit_X"), wordAt(0, 632)) << "port 15: still FPGA 0, local port 15";
}

TEST_F(OutputSetTest, PortCellsInChineseOnlyWhileChineseIsOffered)
{
    g_language = 0;
    ram_set_u16(model->ram_para, kLanguage, 0);
    open(4, 1920, 1080);
    EXPECT_EQ(field("text_0"), QString::fromUtf8("网口LED1"));
    EXPECT_EQ(child<QPushButton>(g_outputset, "Button_wlan2")->text(), QString::fromUtf8("网口9~16"));
    g_lcd_lang_valid = 0x1E;
    g_outputset->language_changed();
    EXPECT_EQ(field("text_0"), "LED1");
}

TEST_F(OutputSetTest, InactivityBacksOutThroughTheSettingsMenu)
{
    g_back_to_mainwindow_time = 50;
    lcd_touch::pInstance();
    QPointer<OutputSet> page = open(4, 1920, 1080);
    tick(52);
    flushDeletes();
    EXPECT_TRUE(page.isNull());
    EXPECT_EQ(g_option, nullptr);
    EXPECT_EQ(g_page_focus.load(), 1);
}
