// The GUI tick and the shell's shared widgets: restart after an upgrade, notices, the progress
// ring, the firmware-update screen and the keypad.
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QSignalSpy>

#include <algorithm>
#include <thread>

#include "platform/command_runner.h"
#include "shell_fixture.h"
#include "ui/shell/QRoundProgressBar.h"
#include "ui/shell/my_lineedit.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/tip.h"

namespace {

int reboots()
{
    const auto journal = zeltest::simCommands().journal();
    return static_cast<int>(std::count(journal.begin(), journal.end(), std::string("reboot")));
}

}  // namespace

TEST_F(ShellTest, RebootRunsThroughTheCommandRunnerExactly300TicksAfterTheRequest)
{
    G_timeTicks = 5000;
    G_reboot_tickTicks = 5000;
    g_app_reset_flag = 1;
    tick(299);
    EXPECT_EQ(reboots(), 0);
    tick();
    EXPECT_EQ(reboots(), 1);
    tick(1000);
    EXPECT_EQ(reboots(), 1) << "asked once, run once";
}

TEST_F(ShellTest, RebootDelayCountsAcrossTheTickCounterWrap)
{
    G_timeTicks = 0xFFFFFF00u;
    G_reboot_tickTicks = 0xFFFFFF00u;
    g_app_reset_flag = 1;
    tick(299);
    EXPECT_EQ(reboots(), 0);
    tick();
    EXPECT_EQ(reboots(), 1);
}

TEST_F(ShellTest, NoRebootWithoutTheResetFlag)
{
    G_reboot_tickTicks = 0;
    tick(600);
    EXPECT_EQ(reboots(), 0);
}

TEST_F(ShellTest, NoticeShowsItsKindAndClosesAfter300Ticks)
{
    ASSERT_NE(g_tip, nullptr);
    g_tip->tip_create(TIP::kUsbIn);
    EXPECT_TRUE(g_tip->isVisible());
    EXPECT_EQ(g_tip->kind(), TIP::kUsbIn);
    EXPECT_EQ(child<QLabel>(g_tip, "label_text")->text(), "USB drive connected");
    tick(299);
    EXPECT_TRUE(g_tip->isVisible());
    tick();
    EXPECT_FALSE(g_tip->isVisible());

    const std::pair<int, const char*> kinds[] = {
        {1, "Done"}, {3, "USB drive connected"}, {4, "USB drive unplugged"}, {5, "Reading data…"}};
    for (const auto& [kind, text] : kinds) {
        g_tip->tip_create(kind);
        EXPECT_TRUE(g_tip->isVisible()) << kind;
        EXPECT_EQ(child<QLabel>(g_tip, "label_text")->text(), QString::fromUtf8(text)) << kind;
    }
}

TEST_F(ShellTest, NoticeKindsOutsideTheListShowNothing)
{
    for (int kind : {0, 2, 6, -1, 100}) {
        g_tip->tip_create(kind);
        EXPECT_FALSE(g_tip->isVisible()) << kind;
    }
    g_tip->tip_create(TIP::kCheck);
    tick(150);
    g_tip->tip_create(TIP::kReading);   // a new notice shows for its own 300 ticks
    tick(299);
    EXPECT_TRUE(g_tip->isVisible());
    tick();
    EXPECT_FALSE(g_tip->isVisible());
}

TEST_F(ShellTest, RingIsSingleAndClosesAbove99)
{
    QDialog page;
    page.resize(800, 480);
    page.show();
    QRoundProgressBar::create_qround_bar(&page);
    QPointer<QRoundProgressBar> ring = g_qround_bar;
    ASSERT_TRUE(ring);
    EXPECT_EQ(ring->geometry(), QRect(300, 140, 200, 200));
    EXPECT_EQ(ring->value(), 0);
    EXPECT_TRUE(ring->isVisible());
    QRoundProgressBar::create_qround_bar(&page);
    EXPECT_EQ(g_qround_bar, ring.data());
    EXPECT_EQ(page.findChildren<QRoundProgressBar*>().size(), 1);

    ring->para_sync(55);
    EXPECT_EQ(ring->value(), 55);
    ring->para_sync(99);
    EXPECT_EQ(g_qround_bar, ring.data());
    ring->para_sync(100);
    EXPECT_EQ(g_qround_bar, nullptr);
    flushDeletes();
    EXPECT_FALSE(ring);
}

TEST_F(ShellTest, RingFollowsQueuedProgressFromAWorkerThread)
{
    QDialog page;
    page.show();
    QRoundProgressBar::create_qround_bar(&page);
    QPointer<QRoundProgressBar> ring = g_qround_bar;
    std::thread worker([&] {
        QMetaObject::invokeMethod(ring.data(), "para_sync", Qt::QueuedConnection, Q_ARG(int, 100));
    });
    worker.join();
    EXPECT_NE(g_qround_bar, nullptr);
    QCoreApplication::processEvents();
    EXPECT_EQ(g_qround_bar, nullptr);
}

TEST_F(ShellTest, RingClearedWhenItsPageClosesUnderIt)
{
    auto* page = new QDialog;
    page->show();
    QRoundProgressBar::create_qround_bar(page);
    QPointer<QRoundProgressBar> ring = g_qround_bar;
    page->close();
    EXPECT_EQ(g_qround_bar, nullptr);
    delete page;
    flushDeletes();
    EXPECT_FALSE(ring);

    // A page deleted outright takes the ring with it as well.
    auto* second = new QDialog;
    second->show();
    QRoundProgressBar::create_qround_bar(second);
    ASSERT_NE(g_qround_bar, nullptr);
    delete second;
    EXPECT_EQ(g_qround_bar, nullptr);
    // And a new job can show a new ring.
    QDialog third;
    third.show();
    QRoundProgressBar::create_qround_bar(&third);
    EXPECT_NE(g_qround_bar, nullptr);
}

TEST_F(ShellTest, UpdateScreenOpensAndClosesFromAWorkerThread)
{
    std::thread([] { g_mainwindow->update_start(); }).join();
    EXPECT_FALSE(g_mainwindow->update_screen_shown()) << "widgets are only built on the GUI thread";
    QCoreApplication::processEvents();
    ASSERT_TRUE(g_mainwindow->update_screen_shown());

    g_update_flag = 1;
    FirmwareUpdate* shown = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* f = qobject_cast<FirmwareUpdate*>(w); f && f->isVisible())
            shown = f;
    ASSERT_NE(shown, nullptr);
    const int before = shown->step();
    tick(FirmwareUpdate::kTicksPerStep);
    EXPECT_EQ(shown->step(), (before + 1) % FirmwareUpdate::kSteps);

    std::thread([] { g_mainwindow->update_over(); }).join();
    EXPECT_TRUE(g_mainwindow->update_screen_shown());
    QCoreApplication::processEvents();
    EXPECT_FALSE(g_mainwindow->update_screen_shown());
}

// ---- keypad ---------------------------------------------------------------------------------------

namespace {

// A page with one keypad field, wired the way every page is.
class FieldPage : public QDialog {
public:
    FieldPage()
    {
        field = new My_lineEdit(this);
        field->setObjectName("lineEdit_W");
        field->setText("12");
        connect(field, &My_lineEdit::send_show, this, [this](QString text) {
            g_lineedit = field;
            g_numberkeyboard->label_show("Width", text);
            shell::runModal(g_numberkeyboard);
        });
        connect(g_numberkeyboard, &NumberKeyboard::sendKeyBoardUIDataToLineEdit, this, [this](QString text) {
            if (g_lineedit && g_lineedit->objectName() == "lineEdit_W")
                g_lineedit->setText(text);
            ++confirmations;
        });
    }
    My_lineEdit* field;
    int confirmations = 0;
};

}  // namespace

TEST_F(ShellTest, KeypadTitleFontDependsOnTheTitleLength)
{
    g_numberkeyboard->label_show("X pos", "7");
    auto* title = child<QLabel>(g_numberkeyboard, "label_title");
    EXPECT_EQ(title->font().pixelSize(), 25);
    EXPECT_EQ(title->text(), "X pos");
    g_numberkeyboard->label_show(QString::fromUtf8("访问密码"), "");
    EXPECT_EQ(title->font().pixelSize(), 18);
    g_numberkeyboard->label_show("Code", "");
    EXPECT_EQ(title->font().pixelSize(), 18);
    g_numberkeyboard->label_show("Width", "");
    EXPECT_EQ(title->font().pixelSize(), 25);
}

TEST_F(ShellTest, KeypadTextRoundTripsIntoTheFieldBeingEdited)
{
    FieldPage page;
    page.show();
    QTest::mouseClick(page.field, Qt::LeftButton);
    ASSERT_TRUE(g_numberkeyboard->isVisible());
    auto* display = child<QLineEdit>(g_numberkeyboard, "lineEdit_show");
    EXPECT_EQ(display->text(), "12") << "the keypad starts from the field's text";
    EXPECT_TRUE(l_str.isEmpty());

    click(g_numberkeyboard, "Button_1");
    click(g_numberkeyboard, "Button_9");
    click(g_numberkeyboard, "Button_2");
    click(g_numberkeyboard, "Button_delete");
    click(g_numberkeyboard, "Button_.");
    click(g_numberkeyboard, "Button_0");
    EXPECT_EQ(display->text(), "19.0");
    click(g_numberkeyboard, "Button_ok");
    EXPECT_FALSE(g_numberkeyboard->isVisible());
    EXPECT_EQ(page.field->text(), "19.0");
    EXPECT_EQ(page.confirmations, 1);

    // Cancel leaves the field alone; the next edit starts empty again.
    QTest::mouseClick(page.field, Qt::LeftButton);
    click(g_numberkeyboard, "Button_5");
    click(g_numberkeyboard, "Button_cancel");
    EXPECT_FALSE(g_numberkeyboard->isVisible());
    EXPECT_EQ(page.field->text(), "19.0");
    EXPECT_EQ(page.confirmations, 1);
}

TEST_F(ShellTest, KeypadTakesAtMostItsLongestText)
{
    g_numberkeyboard->label_show("Width", "");
    for (int i = 0; i < NumberKeyboard::kMaxLength + 5; ++i)
        click(g_numberkeyboard, "Button_7");
    EXPECT_EQ(l_str.size(), NumberKeyboard::kMaxLength);
}

TEST_F(ShellTest, DisabledFieldDoesNotOpenTheKeypad)
{
    FieldPage page;
    page.show();
    page.field->setEnabled(false);
    QSignalSpy spy(page.field, &My_lineEdit::send_show);
    QTest::mouseClick(page.field, Qt::LeftButton);
    EXPECT_EQ(spy.count(), 0);
    EXPECT_FALSE(g_numberkeyboard->isVisible());
}

TEST_F(ShellTest, KeypadNeverHandsTextToAFieldWhosePageHasGone)
{
    auto* page = new FieldPage;
    page->show();
    QTest::mouseClick(page->field, Qt::LeftButton);
    QSignalSpy spy(g_numberkeyboard, &NumberKeyboard::sendKeyBoardUIDataToLineEdit);
    delete page;   // closed under the keypad
    EXPECT_TRUE(g_lineedit.isNull());
    click(g_numberkeyboard, "Button_4");
    click(g_numberkeyboard, "Button_ok");
    EXPECT_EQ(spy.count(), 0);
    EXPECT_FALSE(g_numberkeyboard->isVisible());
}
