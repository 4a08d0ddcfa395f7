// The test pattern page: the framed image and the pattern byte committed to the engine.
#include <QPointer>

#include "core/ram_layout.h"
#include "system_fixture.h"
#include "ui/shell/lcd_touch.h"
#include "ui/shell/lockwindow.h"
#include "sim/video_chip.h"
#include "sim/video_chip_picture.h"
#include "support/video_engine.h"
#include "ui/system/test_chart.h"

using namespace ramaddr;

namespace {

constexpr const char* kFramed = "border:5px solid rgb(255,171,84);";
constexpr const char* kUnframed = "border:1px solid rgb(255, 255, 255);";

class TestChartTest : public SystemPageTest {
protected:
    void SetUp() override
    {
        SystemPageTest::SetUp();
        click(g_option, "test_chart");
        ASSERT_NE(g_test_chart, nullptr);
        frame = child<QFrame>(g_test_chart, "frame");
    }

    QString styleOf(int n) { return child<QLabel>(g_test_chart, QStringLiteral("label_test%1").arg(n))->styleSheet(); }

    QFrame* frame = nullptr;
};

}  // namespace

TEST_F(TestChartTest, TouchingAPatternFramesItAndCommitsItsNumber)
{
    EXPECT_EQ(g_page_focus.load(), test_chart::kFocus);
    model->ram_para[kTestPattern + 1] = 0x5A;
    click(frame, "2");
    EXPECT_EQ(model->ram_para[kTestPattern], 3);
    EXPECT_EQ(model->ram_para[kTestPattern + 1], 0x5A) << "only the low byte is written";
    EXPECT_EQ(engine->para_chg_flag.load(), 1);
    EXPECT_EQ(styleOf(3), kFramed);

    enginePass();
    click(frame, "5");
    EXPECT_EQ(model->ram_para[kTestPattern], 6);
    EXPECT_EQ(styleOf(3), kUnframed);
    EXPECT_EQ(styleOf(6), kFramed);

    enginePass();
    click(frame, "5");
    EXPECT_EQ(engine->para_chg_flag.load(), 1) << "the same pattern is committed again";
    EXPECT_EQ(styleOf(6), kFramed);

    // Every pattern in turn.
    for (int i = 0; i < test_chart::kPatterns; ++i) {
        click(frame, QString::number(i));
        EXPECT_EQ(model->ram_para[kTestPattern], i + 1);
        EXPECT_EQ(sys::imageOf(child<QLabel>(g_test_chart, QStringLiteral("label_test%1").arg(i + 1))),
                  QStringLiteral(":/png/img_test%1.png").arg(i + 1));
    }
}

TEST_F(TestChartTest, CloseSwitchesThePatternOffEvenWithNothingFramed)
{
    model->ram_para[kTestPattern] = 4;
    click(g_test_chart, "Button_closetest");
    EXPECT_EQ(model->ram_para[kTestPattern], 0);
    EXPECT_EQ(engine->para_chg_flag.load(), 1);
    EXPECT_EQ(g_test_chart->currentIndex(), test_chart::kNone);
}

TEST_F(TestChartTest, LeavingKeepsThePatternAndAReopenedPageFramesNothing)
{
    click(frame, "7");
    click(g_test_chart, "Button_back");
    flushDeletes();
    EXPECT_EQ(g_test_chart, nullptr);
    EXPECT_EQ(g_page_focus.load(), 5);
    EXPECT_EQ(model->ram_para[kTestPattern], 8);

    click(g_option, "test_chart");
    ASSERT_NE(g_test_chart, nullptr);
    for (int n = 1; n <= test_chart::kPatterns; ++n)
        EXPECT_EQ(styleOf(n), kUnframed) << n;
}

TEST_F(TestChartTest, RussianCaptionsNumberThePatterns)
{
    EXPECT_EQ(text(g_test_chart, "label_hline"), "Horizontal line");
    ram_set_u16(model->ram_para, kLanguage, 2);
    model->test_signal(1);
    EXPECT_EQ(text(g_test_chart, "label_red"), QString::fromUtf8("Тест 1"));
    EXPECT_EQ(text(g_test_chart, "label_wline"), QString::fromUtf8("Тест 8"));
    EXPECT_EQ(child<QPushButton>(g_test_chart, "Button_closetest")->text(), QString::fromUtf8("Закрыть"));
}

TEST_F(TestChartTest, IdlePanelLocksButKeepsThePageOpen)
{
    g_back_to_mainwindow_time = 50;
    g_auto_lock_time = 80;
    g_lockwindow = new LockWindow(nullptr);
    lcd_touch::pInstance();
    QPointer<test_chart> page = g_test_chart;
    tick(60);
    EXPECT_FALSE(page.isNull());
    EXPECT_EQ(g_page_focus.load(), test_chart::kFocus);
    tick(30);
    EXPECT_TRUE(g_lockwindow->isVisible());
    EXPECT_FALSE(page.isNull());
}

TEST_F(TestChartTest, ThePatternReachesTheSimulatedChip)
{
    // A real engine on the simulated chip in place of the bare commit point, with one window over
    // output channels 0 and 1.
    c331_manage* e = engineOnSimulatedChip();
    ASSERT_NE(e, nullptr);
    sim::VideoChipModel& chip = sim::videoChip();
    e->wincnt = 1;
    e->win_info[0].width = 1920;
    zeltest::spanOutputs(e->win_info[0], {0, 1});

    click(frame, "1");   // green
    e->stepOnce();
    std::string view = sim::describeOutputPicture(chip);
    EXPECT_NE(view.find("och 0: solid #00FF00"), std::string::npos) << view;
    EXPECT_EQ(e->para_chg_flag.load(), 0);

    click(g_test_chart, "Button_closetest");
    e->stepOnce();
    view = sim::describeOutputPicture(chip);
    EXPECT_NE(view.find("och 0: off"), std::string::npos) << view;
}
