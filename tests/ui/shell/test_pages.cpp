// The home page's user modes and panel lock, the status page, the settings menu's access code and
// the language of the texts.
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "core/alerts.h"
#include "core/ram_layout.h"
#include "shell_fixture.h"
#include "support/video_input.h"
#include "ui/shell/machinestate.h"
#include "ui/shell/my_lineedit.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/option.h"
#include "ui/shell/tip.h"
#include "ui/video/imagelayout.h"

namespace {

uint16_t word(const unsigned char* image, unsigned addr) { return ram_get_u16(image, addr); }

using zeltest::setInputSummary;

}  // namespace

TEST_F(ShellTest, ModeSaveStoresTheImageInTheChosenSlotWithACheckMark)
{
    ram_set_u16(model->ram_para, 0x880, 77);
    click(g_mainwindow, "Button_mode");
    auto* popup = child<QWidget>(g_mainwindow, "frame_mode");
    ASSERT_TRUE(popup->isVisible());
    click(popup, "4");
    EXPECT_EQ(g_mode_select.load(), 4);
    EXPECT_FALSE(child<QPushButton>(popup, "Button_mode_load")->isEnabled()) << "slot 5 is empty";

    click(popup, "Button_mode_save");
    EXPECT_FALSE(popup->isVisible());
    EXPECT_TRUE(model->ZelUserModeSaved(4));
    EXPECT_EQ(word(model->ram_user_mode[4] + 2, 0x880 - 0x380), 77);
    EXPECT_EQ(model->ZelGetCurrentModeIndex(), 5u);
    EXPECT_TRUE(zeltest::fileExists("/data/modes/custom_mode5"));
    EXPECT_TRUE(g_tip->isVisible());
    EXPECT_EQ(g_tip->kind(), 1);   // the check mark
    EXPECT_EQ(g_mainwindow->notice_request, 0) << "the dispatcher took the request";
    EXPECT_EQ(child<QLabel>(g_mainwindow, "label_mode")->text(), "User mode: 5");
}

TEST_F(ShellTest, ModeLoadCopiesTheSlotIntoTheImage)
{
    ram_set_u16(model->ram_para, 0x880, 33);
    g_mode_select = 2;
    click(g_mainwindow, "Button_mode");
    click(g_mainwindow, "Button_mode_save");
    tick(300);
    ram_set_u16(model->ram_para, 0x880, 90);
    ram_set_u16(model->ram_para, 0x362, 0);
    model->ram_para_save();
    EXPECT_FALSE(g_tip->isVisible());

    click(g_mainwindow, "Button_mode");
    click(g_mainwindow, "2");
    ASSERT_TRUE(child<QPushButton>(g_mainwindow, "Button_mode_load")->isEnabled());
    click(g_mainwindow, "Button_mode_load");
    EXPECT_EQ(word(model->ram_para, 0x880), 33);
    EXPECT_EQ(word(model->ram_para, 0x362), 3);
    EXPECT_EQ(std::memcmp(model->ram_para + 0x380, model->ram_user_mode[2] + 2, 3200), 0);
    EXPECT_EQ(std::memcmp(model->ram_para, model->ram_para_shadow, 4096), 0) << "saved";
    EXPECT_TRUE(g_tip->isVisible());
}

// A slot too damaged for a start to repair is not loaded: the image stays, a notice says why.
TEST_F(ShellTest, ModeLoadOfADamagedSlotIsRefusedWithANotice)
{
    unsigned char* slot = model->ram_user_mode[5];
    std::memset(slot, 0xFF, 4098);
    slot[0] = slot[1] = 0xAA;   // saved, its content erased
    const std::vector<unsigned char> before(model->ram_para, model->ram_para + 4096);
    click(g_mainwindow, "Button_mode");
    click(g_mainwindow, "5");
    click(g_mainwindow, "Button_mode_load");
    EXPECT_TRUE(std::equal(before.begin(), before.end(), model->ram_para));
    EXPECT_TRUE(g_tip->isVisible());
    EXPECT_EQ(g_tip->kind(), TIP::kModeDamaged);
    EXPECT_EQ(child<QLabel>(g_tip, "label_text")->text(), "Mode damaged, not loaded");
}

TEST_F(ShellTest, ModeButtonOutsideTheSlotsIsIgnored)
{
    g_mode_select = 40;   // the protocol or another page may leave any value here
    click(g_mainwindow, "Button_mode");
    click(g_mainwindow, "Button_mode_save");
    EXPECT_TRUE(model->ZelUserModeSaved(0)) << "taken as slot 1";
    for (int k = 1; k < 16; ++k)
        EXPECT_FALSE(model->ZelUserModeSaved(k)) << k;
}

TEST_F(ShellTest, PanelLockTogglesAndKeepsTheModePageShut)
{
    click(g_mainwindow, "Button_lock");
    EXPECT_EQ(word(model->ram_para, 0x304), 1);
    EXPECT_EQ(word(model->ram_para_shadow, 0x304), 1) << "saved";
    EXPECT_EQ(child<QLabel>(g_mainwindow, "label_lock")->text(), "Panel locked");

    click(g_mainwindow, "Button_mode");
    auto* popup = child<QWidget>(g_mainwindow, "frame_mode");
    g_mainwindow->on_custommode_clicked();
    EXPECT_TRUE(popup->isVisible()) << "inert while locked";

    click(g_mainwindow, "Button_lock");
    EXPECT_EQ(word(model->ram_para, 0x304), 0);
    g_mainwindow->on_custommode_clicked();
    EXPECT_FALSE(popup->isVisible());
}

TEST_F(ShellTest, StatusPageShowsInputSignalsAndRefreshesThroughTheDispatcher)
{
    click(g_mainwindow, "machinestate");
    ASSERT_NE(g_machinestate, nullptr);
    auto* hdmi1 = child<QLabel>(g_machinestate, "label_signal_2");
    EXPECT_EQ(hdmi1->text(), "No signal");

    setInputSummary(model->ram_para, 2, 1920, 1080, 60, 0);
    setInputSummary(model->ram_para, 4, 3840, 2160, 30, 1);   // flagged: no signal
    setInputSummary(model->ram_para, 1, 1280, 0, 60, 0);
    model->test_signal(12);
    EXPECT_EQ(hdmi1->text(), "1920x1080@60Hz");
    EXPECT_EQ(child<QLabel>(g_machinestate, "label_signal_4")->text(), "No signal");
    EXPECT_EQ(child<QLabel>(g_machinestate, "label_signal_1")->text(), "No signal");
    EXPECT_EQ(child<QLabel>(g_machinestate, "label_fpga_0")->text(), "Output 1: not ready");

    click(g_machinestate, "Button_back");
    EXPECT_EQ(g_machinestate, nullptr);
    EXPECT_EQ(g_page_focus.load(), 1);
    flushDeletes();
    model->test_signal(12);   // nothing routed to the closed page
}

TEST_F(ShellTest, StatusPageNeverShowsAHalfWrittenInputSummary)
{
    setInputSummary(model->ram_para, 2, 1280, 720, 60, 0);
    click(g_mainwindow, "machinestate");
    ASSERT_NE(g_machinestate, nullptr);
    auto* hdmi1 = child<QLabel>(g_machinestate, "label_signal_2");
    ASSERT_EQ(hdmi1->text(), "1280x720@60Hz");

    // The input-source manager rewrites the record under the model's mutex; the page refreshes
    // while the writer is half-way through.
    std::atomic<bool> halfWritten{false};
    std::thread writer([&] {
        pthread_mutex_lock(&model->mutex);
        ram_set_u16(model->ram_para, 0x100 + 6 * 2, 1920);
        halfWritten = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        setInputSummary(model->ram_para, 2, 1920, 1080, 50, 0);
        pthread_mutex_unlock(&model->mutex);
    });
    for (int i = 0; i < 1000000 && !halfWritten; ++i)
        std::this_thread::yield();
    g_machinestate->syncUpdate(12);
    writer.join();
    EXPECT_EQ(hdmi1->text(), "1920x1080@50Hz");
}

TEST_F(ShellTest, LayoutAccessCodeIsAskedOnTheKeypad)
{
    g_imagelayoutpassword = "2580";
    click(g_mainwindow, "option");
    ASSERT_NE(g_option, nullptr);
    EXPECT_EQ(g_page_focus.load(), 5);
    click(g_option, "image_layout");
    ASSERT_TRUE(g_numberkeyboard->isVisible());
    EXPECT_EQ(child<QLabel>(g_numberkeyboard, "label_title")->text(), "Code");
    keyIn("1111");
    auto* wrong = child<QLabel>(g_option, "label_password_wrong");
    EXPECT_TRUE(wrong->isVisible());
    EXPECT_TRUE(g_lineedit.isNull()) << "the prompt let go of its field";

    click(g_option, "image_layout");
    keyIn("2580");
    EXPECT_FALSE(wrong->isVisible());
    ASSERT_NE(g_imagelayout, nullptr);
    EXPECT_EQ(g_page_focus.load(), 9);
    click(g_imagelayout, "Button_back");
    EXPECT_EQ(g_imagelayout, nullptr);
    EXPECT_EQ(g_page_focus.load(), 5);

    click(g_option, "Button_back");
    EXPECT_EQ(g_option, nullptr);
    EXPECT_EQ(g_page_focus.load(), 1);
    flushDeletes();
}

TEST_F(ShellTest, TextsFollowTheLanguageWithEnglishForOneNotOffered)
{
    auto* tile = child<QToolButton>(g_mainwindow, "option");
    EXPECT_EQ(tile->text(), "Settings");
    ram_set_u16(model->ram_para, 0x300, 0);
    model->ram_para_save();
    EXPECT_EQ(g_language.load(), 0);
    EXPECT_EQ(tile->text(), QString::fromUtf8("设置"));

    ram_set_u16(model->ram_para, 0x300, 2);
    model->ram_para_save();
    EXPECT_EQ(tile->text(), QString::fromUtf8("Настройки"));

    g_lcd_lang_valid = 0x13;   // Russian not offered: the page shows English
    g_mainwindow->language_changed();
    EXPECT_EQ(tile->text(), "Settings");
}

TEST_F(ShellTest, HomePageShowsWhatCannotBeSavedOrBoundWithinASecond)
{
    auto* alert = child<QLabel>(g_mainwindow, "label_alert");
    tick(100);
    EXPECT_TRUE(alert->isHidden());
    // raised from other threads: the next status refresh of the home page shows them
    std::thread([] {
        alerts::raise(alerts::kSettingsNotSaved, "no room", 0);
        alerts::raise(alerts::kUdpPortNotBound, "taken", 5008);
        alerts::raise_for(alerts::kFileReplaced, "/data/configs/tcpip.ini", "a folder", 2);
    }).join();
    tick(100);
    EXPECT_FALSE(alert->isHidden());
    EXPECT_TRUE(alert->text().contains("Settings are not being saved")) << qPrintable(alert->text());
    EXPECT_TRUE(alert->text().contains("UDP port 5008 taken")) << qPrintable(alert->text());
    EXPECT_TRUE(alert->text().contains("tcpip.ini was damaged and replaced, copy: tcpip.ini.bad.2"))
        << qPrintable(alert->text());
    alerts::clear(alerts::kSettingsNotSaved, "saved");
    alerts::clear(alerts::kUdpPortNotBound, "bound");
    alerts::clear_for(alerts::kFileReplaced, "/data/configs/tcpip.ini", "saved");
    tick(100);
    EXPECT_TRUE(alert->isHidden());
}

// All six kinds of alert at once (the two about settings said as one), in every language: each
// shown whole within the line's room, clear of the screen size above it.
TEST_F(ShellTest, EveryAlertIsShownWholeInEveryLanguage)
{
    auto* alert = child<QLabel>(g_mainwindow, "label_alert");
    auto* led = child<QLabel>(g_mainwindow, "label_led_size");
    for (int lang = 0; lang < 5; ++lang) {
        ram_set_u16(model->ram_para, 0x300, static_cast<uint16_t>(lang));
        model->ram_para_save();   // a save that works: raised after it
        alerts::raise(alerts::kSettingsNotSaved, "no room");
        alerts::raise(alerts::kDataNotWritable, "no folder");
        alerts::raise(alerts::kTcpPortNotBound, "taken", 5005);
        alerts::raise(alerts::kUdpPortNotBound, "taken", 5008);
        alerts::raise(alerts::kSettingsFileNotWritten, "refused");
        alerts::raise_for(alerts::kFileReplaced, "/data/ram_device_info", "empty", 4);   // the longest copy name
        tick(100);
        const QFontMetrics metrics(alert->font());
        const QStringList lines = alert->text().split(QLatin1Char('\n'));
        EXPECT_LE(lines.size() * metrics.lineSpacing(), alert->height()) << lang;
        for (const QString& line : lines)
            EXPECT_LE(metrics.horizontalAdvance(line), alert->width()) << lang << qPrintable(line);
        EXPECT_EQ(alert->text().count(QString::fromUtf8("⚠")), 5) << lang << ": the settings said once";
        EXPECT_LE(led->geometry().bottom(), alert->geometry().top()) << lang;
    }
    alerts::reset();
    tick(100);
    EXPECT_EQ(led->height(), led->parentWidget()->height());   // centred again without alerts
}

TEST_F(ShellTest, PageClosedAnyOtherWayGoesBackToo)
{
    click(g_mainwindow, "machinestate");
    ASSERT_NE(g_machinestate, nullptr);
    g_machinestate->close();
    EXPECT_EQ(g_machinestate, nullptr);
    EXPECT_EQ(g_page_focus.load(), 1);
    flushDeletes();
    click(g_mainwindow, "machinestate");
    EXPECT_NE(g_machinestate, nullptr) << "the page opens again";
}
