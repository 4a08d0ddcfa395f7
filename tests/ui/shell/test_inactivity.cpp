// The touch watcher: back-out to the home page, automatic lock, and what stops the count.
#include <QLabel>
#include <QMouseEvent>

#include <fcntl.h>
#include <linux/input.h>
#include <unistd.h>

#include "platform/clock.h"
#include "platform/platform.h"
#include "shell_fixture.h"
#include "ui/shell/QRoundProgressBar.h"
#include "ui/shell/lcd_touch.h"
#include "ui/shell/lockwindow.h"
#include "ui/shell/machinestate.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/option.h"

namespace {

class InactivityTest : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        g_back_to_mainwindow_time = 100;
        g_auto_lock_time = 250;
        g_lockwindow = new LockWindow(nullptr);
        lcd_touch::pInstance();
    }
};

}  // namespace

TEST_F(InactivityTest, StatusPageBacksOutToTheHomePageThenTheScreenLocks)
{
    click(g_mainwindow, "machinestate");
    ASSERT_NE(g_machinestate, nullptr);
    EXPECT_EQ(g_page_focus.load(), 2);
    g_numberkeyboard->show();

    tick(100);
    EXPECT_EQ(g_page_focus.load(), 2) << "not before the back-out time has passed";
    tick();
    EXPECT_EQ(g_page_focus.load(), 1);
    EXPECT_EQ(g_machinestate, nullptr);
    EXPECT_FALSE(g_numberkeyboard->isVisible());

    tick(149);
    EXPECT_FALSE(g_lockwindow->isVisible());
    tick();
    EXPECT_TRUE(g_lockwindow->isVisible());
    EXPECT_EQ(g_page_focus.load(), 0);

    // Unlocking returns to the home page, and the count starts again.
    click(g_lockwindow, "Button_unlock");
    EXPECT_FALSE(g_lockwindow->isVisible());
    EXPECT_EQ(g_page_focus.load(), 1);
    tick(251);   // the first tick sees the touch of the unlock
    EXPECT_FALSE(g_lockwindow->isVisible());
    tick(1);
    EXPECT_TRUE(g_lockwindow->isVisible());
}

TEST_F(InactivityTest, SettingsMenuBacksOutToTheHomePage)
{
    click(g_mainwindow, "option");
    ASSERT_NE(g_option, nullptr);
    EXPECT_EQ(g_page_focus.load(), 5);
    tick(101);
    EXPECT_EQ(g_option, nullptr);
    EXPECT_EQ(g_page_focus.load(), 1);
    flushDeletes();
}

TEST_F(InactivityTest, TouchesStartTheCountAgain)
{
    click(g_mainwindow, "machinestate");
    tick(90);
    QTest::mouseClick(g_machinestate, Qt::LeftButton, {}, QPoint(400, 300));
    tick(90);
    EXPECT_EQ(g_page_focus.load(), 2);
    tick(11);
    EXPECT_EQ(g_page_focus.load(), 2);
    tick(1);
    EXPECT_EQ(g_page_focus.load(), 1);
}

TEST_F(InactivityTest, NothingCountsWhileTheRingShowsAnUpgradeRunsOrLockingIsOff)
{
    click(g_mainwindow, "machinestate");
    QRoundProgressBar::create_qround_bar(g_machinestate);
    tick(400);
    EXPECT_EQ(g_page_focus.load(), 2);
    EXPECT_FALSE(g_lockwindow->isVisible());
    g_qround_bar->para_sync(100);

    g_update_flag = 1;
    tick(400);
    EXPECT_EQ(g_page_focus.load(), 2);
    g_update_flag = 0;

    g_auto_lock_time = lcd_touch::kNeverLock;
    tick(1000);
    EXPECT_EQ(g_page_focus.load(), 2);
    EXPECT_FALSE(g_lockwindow->isVisible());

    // The count restarts from zero once nothing holds it.
    g_auto_lock_time = 250;
    tick(100);
    EXPECT_EQ(g_page_focus.load(), 2);
    tick(1);
    EXPECT_EQ(g_page_focus.load(), 1);
}

TEST_F(InactivityTest, LockOverAPageReturnsToThatPage)
{
    g_back_to_mainwindow_time = 500;
    g_auto_lock_time = 100;
    click(g_mainwindow, "machinestate");
    tick(101);
    EXPECT_TRUE(g_lockwindow->isVisible());
    EXPECT_EQ(g_page_focus.load(), 0);
    EXPECT_NE(g_machinestate, nullptr);
    click(g_lockwindow, "Button_unlock");
    EXPECT_EQ(g_page_focus.load(), 2);
}

TEST(TouchReader, EventsFromTheTouchDeviceCountAsTouches)
{
    zeltest::TempRoot root;
    const std::string path = "/dev/input/event1";
    platform::makeParentDirs(path);
    zeltest::writeFile(path, {});
    TouchReader reader;
    ASSERT_TRUE(reader.open(path));
    EXPECT_FALSE(reader.drain());

    input_event ev{};
    ev.type = EV_KEY;
    ev.code = BTN_TOUCH;
    ev.value = 1;
    const int fd = ::open(root.at(path).c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, &ev, sizeof(ev) / 2), static_cast<ssize_t>(sizeof(ev) / 2));
    EXPECT_FALSE(reader.drain()) << "half an event is no event yet";
    ASSERT_EQ(::write(fd, reinterpret_cast<char*>(&ev) + sizeof(ev) / 2, sizeof(ev) / 2),
              static_cast<ssize_t>(sizeof(ev) / 2));
    EXPECT_TRUE(reader.drain());
    EXPECT_FALSE(reader.drain());
    ::close(fd);

    TouchReader missing;
    EXPECT_FALSE(missing.open("/dev/input/event7"));
    EXPECT_FALSE(missing.drain());
}

TEST_F(InactivityTest, LockScreenShowsTheBoardsClock)
{
    // The board's clock, which a "date" command moves; on the simulated board it is not the
    // machine's.
    platform::setSimClock(QDateTime(QDate(2030, 6, 15), QTime(12, 34, 0)));
    g_lockwindow->syncUpdate();
    EXPECT_EQ(child<QLabel>(g_lockwindow, "label_time")->text(), "12:34");
    EXPECT_EQ(child<QLabel>(g_lockwindow, "label_date")->text(), "2030-06-15");
}

TEST_F(InactivityTest, TheLockScreenFollowsALanguageSwitchMadeWhileUnlocked)
{
    g_auto_lock_time = 10;
    // The home page in front takes the switch; the lock screen is hidden meanwhile.
    ram_set_u16(model->ram_para, 0x300, 0);
    model->ram_para_save();
    ASSERT_EQ(g_language.load(), 0);
    tick(11);
    ASSERT_TRUE(g_lockwindow->isVisible());
    EXPECT_EQ(child<QLabel>(g_lockwindow, "label_hint")->text(), QString::fromUtf8("轻触解锁"));

    click(g_lockwindow, "Button_unlock");
    ram_set_u16(model->ram_para, 0x300, 1);
    model->ram_para_save();
    tick(12);
    ASSERT_TRUE(g_lockwindow->isVisible());
    EXPECT_EQ(child<QLabel>(g_lockwindow, "label_hint")->text(), "Touch to unlock");
}
