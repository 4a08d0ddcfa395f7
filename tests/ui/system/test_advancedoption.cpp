// The advanced settings page: tabs, inactivity and lock times, languages, and the other settings
// tab (audio window and sound, switch effect, dot-by-dot, Wi-Fi, projection reset).
#include <QComboBox>
#include <QPointer>
#include <QSlider>

#include <algorithm>
#include <chrono>

#include "core/ram_layout.h"
#include "links/t71_wifi_config.h"
#include "platform/command_runner.h"
#include "platform/gpio.h"
#include "system_fixture.h"
#include "ui/shell/QRoundProgressBar.h"
#include "ui/shell/lcd_touch.h"
#include "ui/shell/lockwindow.h"
#include "ui/shell/tip.h"
#include "ui/system/advancedoption.h"

using namespace ramaddr;

namespace {

// The other settings tab's image fields, written out so a moved constant shows here.
constexpr unsigned kAudioAt = 0x840, kDbdAt = 0x842, kEffectAt = 0x846, kWifiAt = 0x306;
constexpr unsigned record(unsigned slot) { return 0x8E0 + 26 * slot; }

class AdvancedOptionTest : public SystemPageTest {
protected:
    void open()
    {
        click(g_option, "AdvanceButton");
        ASSERT_NE(g_advancedoption, nullptr);
        g_tip->hide();
    }

    void setWindows(std::initializer_list<unsigned> on)
    {
        for (unsigned w = 0; w < kUsedWindows; ++w)
            ram_set_u16(model->ram_para, window(w) + kWinState, 0);
        for (unsigned w : on)
            ram_set_u16(model->ram_para, window(w) + kWinState, 1);
    }

    QString label(const char* name) { return text(g_advancedoption, name); }
    QPushButton* button(const char* name) { return child<QPushButton>(g_advancedoption, name); }
    QStringList listItems()
    {
        QStringList items;
        auto* list = child<QComboBox>(g_advancedoption, "ImageVolume");
        for (int i = 0; i < list->count(); ++i)
            items << list->itemText(i);
        return items;
    }
};

}  // namespace

TEST(AdvancedTimes, BackTimeLabel)
{
    const std::pair<int, const char*> cases[] = {{3000, "30s"}, {5999, "59s"},  {6000, "1m"},
                                                 {6001, "1.0m"}, {9000, "1.5m"}, {17999, "3.0m"}, {18000, "3m"}};
    for (const auto& [v, text] : cases)
        EXPECT_EQ(AdvancedOption::back_time_text(v), text) << v;
}

TEST_F(AdvancedOptionTest, OpensOnTheLcdTabWithTheCurrentTimes)
{
    g_auto_lock_time = 60000;
    open();
    EXPECT_EQ(g_page_focus.load(), AdvancedOption::kFocus);
    EXPECT_EQ(g_advancedoption->currentTab(), AdvancedOption::kTabLcd);
    EXPECT_EQ(label("label_time"), "3m");
    EXPECT_EQ(image(g_advancedoption, "Button_10min"), sys::kChecked);
    EXPECT_EQ(image(g_advancedoption, "Button_5min"), sys::kUnchecked);
    EXPECT_FALSE(button("Button_timeplan")->isVisible());
    EXPECT_EQ(label("label_title"), "Advanced Settings");
    EXPECT_EQ(button("Button_LCDshow")->styleSheet(), "background-color:#4777FF;color:#FFFFFF");
}

TEST_F(AdvancedOptionTest, ChosenTimesBackOutAndLockTheShell)
{
    g_lockwindow = new LockWindow(nullptr);
    lcd_touch::pInstance();
    open();
    auto* slider = child<QSlider>(g_advancedoption, "horizontalSlider");
    slider->setValue(3000);
    EXPECT_EQ(label("label_time"), "30s");
    EXPECT_EQ(g_back_to_mainwindow_time, 18000u) << "dragging alone changes nothing";
    emit slider->sliderReleased();
    EXPECT_EQ(g_back_to_mainwindow_time, 3000u);
    click(g_advancedoption, "Button_5min");
    EXPECT_EQ(g_auto_lock_time, 30000u);

    QPointer<AdvancedOption> page = g_advancedoption;
    tick(3001);
    flushDeletes();
    EXPECT_TRUE(page.isNull());
    EXPECT_EQ(g_page_focus.load(), 1) << "backed out through the settings menu";
    EXPECT_FALSE(g_lockwindow->isVisible());
    tick(30000 - 3001 + 1);
    EXPECT_TRUE(g_lockwindow->isVisible());
}

TEST_F(AdvancedOptionTest, NeverLockAlsoNeverBacksOut)
{
    lcd_touch::pInstance();
    open();
    click(g_advancedoption, "Button_never");
    EXPECT_EQ(g_auto_lock_time, 120000u);
    EXPECT_EQ(image(g_advancedoption, "Button_never"), sys::kChecked);
    tick(18001);
    EXPECT_NE(g_advancedoption, nullptr);
    // A new page shows the choice.
    click(g_advancedoption, "Button_back");
    flushDeletes();
    click(g_option, "AdvanceButton");
    EXPECT_EQ(image(g_advancedoption, "Button_never"), sys::kChecked);
    click(g_advancedoption, "Button_10min");
    EXPECT_EQ(g_auto_lock_time, 60000u);
}

TEST_F(AdvancedOptionTest, LanguageChoiceReachesEveryOpenPage)
{
    open();
    click(g_advancedoption, "Button_factory");
    EXPECT_EQ(g_advancedoption->currentTab(), AdvancedOption::kTabFactory);
    EXPECT_EQ(image(g_advancedoption, "Button_english"), sys::kChecked);

    click(g_advancedoption, "Button_english");
    EXPECT_EQ(engine->para_chg_flag.load(), 0) << "the language already set does nothing";

    click(g_advancedoption, "Button_ru");
    EXPECT_EQ(g_language.load(), 2);
    EXPECT_EQ(model->ram_para[kLanguage], 2);
    EXPECT_EQ(engine->para_chg_flag.load(), 1);
    EXPECT_EQ(label("label_title"), QString::fromUtf8("Доп.опции"));
    EXPECT_EQ(button("Button_other")->text(), QString::fromUtf8("Другие\nнастройки"));
    EXPECT_EQ(image(g_advancedoption, "Button_ru"), sys::kChecked);
    EXPECT_EQ(image(g_advancedoption, "Button_english"), sys::kUnchecked);

    // The engine applies it; the dispatcher refreshes the page with the check mark.
    engine->para_chg_flag = 0;
    model->test_signal(1);
    EXPECT_TRUE(g_tip->isVisible());
    EXPECT_EQ(g_tip->kind(), TIP::kCheck);

    click(g_advancedoption, "Button_back");
    flushDeletes();
    EXPECT_EQ(child<QLabel>(g_option, "label_title")->text(), QString::fromUtf8("Настройки"));
    click(g_option, "Button_back");
    EXPECT_EQ(g_page_focus.load(), 1);
}

TEST_F(AdvancedOptionTest, LanguagesNotOfferedAreHidden)
{
    g_lcd_lang_valid = 0x17;
    open();
    click(g_advancedoption, "Button_factory");
    EXPECT_FALSE(button("Button_vn")->isVisible());
    EXPECT_FALSE(child<QLabel>(g_advancedoption, "label_vn")->isVisible());
    EXPECT_TRUE(button("Button_tn")->isVisible());
}

TEST_F(AdvancedOptionTest, TabsWaitForTheRingButBackDoesNot)
{
    open();
    QRoundProgressBar::create_qround_bar(g_advancedoption);
    click(g_advancedoption, "Button_other");
    EXPECT_EQ(g_advancedoption->currentTab(), AdvancedOption::kTabLcd);
    click(g_advancedoption, "Button_factory");
    EXPECT_EQ(g_advancedoption->currentTab(), AdvancedOption::kTabLcd);
    click(g_advancedoption, "Button_back");
    flushDeletes();
    EXPECT_EQ(g_advancedoption, nullptr);
    EXPECT_EQ(g_qround_bar, nullptr) << "the ring went with its page";
}

TEST_F(AdvancedOptionTest, AudioWindowListAndSoundToggle)
{
    setWindows({0, 2, 3});
    open();
    click(g_advancedoption, "Button_other");
    EXPECT_EQ(listItems(), (QStringList{"image1", "image3", "image4"}));
    auto* list = child<QComboBox>(g_advancedoption, "ImageVolume");
    EXPECT_EQ(list->currentIndex(), 0);
    list->setCurrentIndex(1);
    EXPECT_EQ(image(g_advancedoption, "Button_volume_state"), sys::kOff);

    click(g_advancedoption, "Button_volume_state");
    EXPECT_EQ(word(kAudioAt), 2);
    EXPECT_EQ(model->ram_para[record(2) + 20], 255);
    EXPECT_EQ(model->ram_para[record(2) + 21], 0x80);
    EXPECT_EQ(engine->para_chg_flag.load(), 1);
    EXPECT_EQ(image(g_advancedoption, "Button_volume_state"), sys::kOn);

    click(g_advancedoption, "Button_volume_state");
    EXPECT_EQ(model->ram_para[record(2) + 20], 0);
    EXPECT_EQ(model->ram_para[record(2) + 21], 0);
    EXPECT_EQ(word(kAudioAt), 2);
}

TEST_F(AdvancedOptionTest, AnAudioWindowOutOfRangeIsRepairedWithoutReadingPastTheImage)
{
    setWindows({0, 1});
    ram_set_u16(model->ram_para, kAudioAt, 0x7FFF);
    open();
    EXPECT_EQ(word(kAudioAt), 0);
    ram_set_u16(model->ram_para, kAudioAt, 0xFFFF);   // -1
    model->test_signal(1);
    EXPECT_EQ(word(kAudioAt), 0);
    ram_set_u16(model->ram_para, kAudioAt, 4);         // a window that is off
    model->test_signal(1);
    EXPECT_EQ(word(kAudioAt), 0);
    // 5 is the last window; 6 names a record slot, not a window, even with that slot on.
    auto* list = child<QComboBox>(g_advancedoption, "ImageVolume");
    setWindows({0, 5});
    ram_set_u16(model->ram_para, record(6), 1);
    ram_set_u16(model->ram_para, kAudioAt, 5);
    model->test_signal(1);
    EXPECT_EQ(word(kAudioAt), 5);
    EXPECT_EQ(list->currentIndex(), 1);
    ram_set_u16(model->ram_para, kAudioAt, 6);
    model->test_signal(1);
    EXPECT_EQ(word(kAudioAt), 0);
    // Repaired to window 0 while it is off: no item is selected.
    setWindows({1, 2});
    ram_set_u16(model->ram_para, kAudioAt, 4);
    model->test_signal(1);
    EXPECT_EQ(word(kAudioAt), 0);
    EXPECT_EQ(list->currentIndex(), -1);
}

TEST_F(AdvancedOptionTest, WithNoWindowOnTheSoundButtonDoesNothing)
{
    setWindows({});
    std::vector<unsigned char> before(model->ram_para, model->ram_para + kRamSize);
    open();
    click(g_advancedoption, "Button_other");
    EXPECT_TRUE(listItems().isEmpty());
    click(g_advancedoption, "Button_volume_state");
    EXPECT_EQ(engine->para_chg_flag.load(), 0);
    EXPECT_EQ(model->ram_para[window(6) + kWinVolume], before[window(6) + kWinVolume]);
    EXPECT_EQ(model->ram_para[window(6) + kWinSound], before[window(6) + kWinSound]);
}

TEST_F(AdvancedOptionTest, FadeAndSeamlessInAllSixteenSlots)
{
    for (unsigned i = 0; i < kWindowSlots; ++i) {
        model->ram_para[0xB00 + 4 * i + 1] = 0x12;   // high bytes stay
        model->ram_para[record(i) + 18] = 0x01;
    }
    open();
    click(g_advancedoption, "Button_other");
    click(g_advancedoption, "Button_fade");
    EXPECT_EQ(model->ram_para[kEffectAt], 1);
    for (unsigned i = 0; i < kWindowSlots; ++i) {
        EXPECT_EQ(model->ram_para[record(i) + 18], 0x05) << i;
        EXPECT_EQ(model->ram_para[0xB00 + 4 * i], 60) << i;
        EXPECT_EQ(model->ram_para[0xB02 + 4 * i], 60) << i;
        EXPECT_EQ(model->ram_para[0xB00 + 4 * i + 1], 0x12) << i;
    }
    EXPECT_EQ(image(g_advancedoption, "Button_fade"), sys::kChecked);
    EXPECT_TRUE(g_tip->isVisible()) << "saved at once: the dispatcher ran";
    EXPECT_TRUE(zeltest::fileExists("/data/ram_device_info"));

    click(g_advancedoption, "Button_seamless");
    EXPECT_EQ(model->ram_para[kEffectAt], 0);
    for (unsigned i = 0; i < kWindowSlots; ++i) {
        EXPECT_EQ(model->ram_para[record(i) + 18], 0x01) << i;
        EXPECT_EQ(model->ram_para[0xB00 + 4 * i], 60) << i;
    }
    EXPECT_EQ(engine->para_chg_flag.load(), 1);
    EXPECT_NE(model->ram_para[kEffectAt], model->ram_para_shadow[kSwitchEffect] + 1)
        << "the shadow waits for the engine";
}

TEST_F(AdvancedOptionTest, DotByDotWritesTheHighFlagByteOfAllSlots)
{
    for (unsigned i = 0; i < kWindowSlots; ++i)
        model->ram_para[record(i) + 19] = 0x06;
    open();
    click(g_advancedoption, "Button_other");
    click(g_advancedoption, "Button_DBD_open");
    EXPECT_EQ(model->ram_para[kDbdAt], 1);
    for (unsigned i = 0; i < kWindowSlots; ++i)
        EXPECT_EQ(model->ram_para[record(i) + 19], 1) << i;
    EXPECT_EQ(image(g_advancedoption, "Button_DBD_open"), sys::kChecked);
    click(g_advancedoption, "Button_DBD_close");
    for (unsigned i = 0; i < kWindowSlots; ++i)
        EXPECT_EQ(model->ram_para[record(i) + 19], 0) << i;
}

TEST_F(AdvancedOptionTest, ChangesWaitForARunningUpgrade)
{
    open();
    g_usb_grade = 1;
    click(g_advancedoption, "Button_other");
    click(g_advancedoption, "Button_fade");
    click(g_advancedoption, "Button_DBD_open");
    click(g_advancedoption, "Button_wifi_state");
    click(g_advancedoption, "Button_factory");
    click(g_advancedoption, "Button_ru");
    EXPECT_EQ(engine->para_chg_flag.load(), 0);
    EXPECT_EQ(model->ram_para[kSwitchEffect], 0);
    EXPECT_EQ(model->ram_para[kLanguage], 1);
    const std::vector<std::string> journal = zeltest::simCommands().journal();
    EXPECT_TRUE(std::none_of(journal.begin(), journal.end(), [](const std::string& c) { return c.rfind("kill", 0) == 0; }));
    g_usb_grade = 0;
}

TEST_F(AdvancedOptionTest, WifiOffKillsTheAccessPointAndOnRestartsIt)
{
    G_timeTicks = 1000;
    T71_WIFI_CONFIG* wifi = T71_WIFI_CONFIG::pInstance();
    open();
    click(g_advancedoption, "Button_other");
    EXPECT_EQ(image(g_advancedoption, "Button_wifi_state"), sys::kOn);
    zeltest::simCommands().clearJournal();
    click(g_advancedoption, "Button_wifi_state");
    EXPECT_EQ(model->ram_para[kWifiAt], 1);
    const std::vector<std::string> kills = {"kill -9 `pidof /usr/bin/hostapd /etc/rtl_hostapd_2G.conf`",
                                            "kill -9 `pidof /usr/sbin/udhcpd  /etc/udhcpd.conf`"};
    std::vector<std::string> journal = zeltest::simCommands().journal();
    std::vector<std::string> seen;
    std::copy_if(journal.begin(), journal.end(), std::back_inserter(seen),
                 [](const std::string& c) { return c.rfind("kill", 0) == 0; });
    EXPECT_EQ(seen, kills);
    EXPECT_EQ(image(g_advancedoption, "Button_wifi_state"), sys::kOff);
    EXPECT_EQ(engine->para_chg_flag.load(), 1);

    // On again: the flag clears and the reset is asked for; the thread runs it 300 ticks later.
    zeltest::simCommands().script("pidof hostapd", {0, "1234\n"});
    zeltest::simCommands().clearJournal();
    click(g_advancedoption, "Button_wifi_state");
    EXPECT_EQ(model->ram_para[kWifiAt], 0);
    EXPECT_EQ(g_wifi_reset_flag.load(), 1);
    EXPECT_EQ(wifi->wifi_reset_timeticks.load(), 1000u);
    G_timeTicks = 1301;
    wifi->stepOnce();
    journal = zeltest::simCommands().journal();
    EXPECT_NE(std::find(journal.begin(), journal.end(), "kill -9 $(pidof hostapd)"), journal.end());
    EXPECT_EQ(g_wifi_reset_flag.load(), 0);
}

TEST_F(AdvancedOptionTest, ProjectionResetPulsesTheSdiReceiverReset)
{
    constexpr uint32_t kRstSdi = 0x002848;
    fpga_manage::pInstance();
    zeltest::simGpio().clearHistory();
    open();
    const std::vector<unsigned char> before(model->ram_para, model->ram_para + kRamSize);
    click(g_advancedoption, "Button_other");
    click(g_advancedoption, "modeButton");
    const auto history = zeltest::simGpio().history(kRstSdi);
    ASSERT_EQ(history.size(), 2u);
    EXPECT_EQ(history[0].value, 0);
    EXPECT_NE(history[1].value, 0);
    EXPECT_GE(history[1].when - history[0].when, std::chrono::milliseconds(50));
    EXPECT_TRUE(std::equal(before.begin(), before.end(), model->ram_para));
}

TEST_F(AdvancedOptionTest, EveryRefreshEndsWithTheCheckMark)
{
    open();
    model->test_signal(5);
    EXPECT_TRUE(g_tip->isVisible());
    EXPECT_EQ(g_tip->kind(), TIP::kCheck);
}
