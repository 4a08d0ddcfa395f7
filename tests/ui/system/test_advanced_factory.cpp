// The factory tabs of the advanced settings page: the three factory resets, the font presence
// view and the aging monitor behind its access code.
#include <QPointer>

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/config_engine.h"
#include "core/ram_layout.h"
#include "core/utils.h"
#include "platform/clock.h"
#include "platform/command_runner.h"
#include "system_fixture.h"
#include "ui/shell/QRoundProgressBar.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/tip.h"
#include "ui/system/advancedoption.h"

using namespace ramaddr;

namespace {

using Bytes = std::vector<unsigned char>;

class FactoryTest : public SystemPageTest {
protected:
    void SetUp() override
    {
        SystemPageTest::SetUp();
        ConfigEngine::pInstance();
    }

    void open()
    {
        click(g_option, "AdvanceButton");
        ASSERT_NE(g_advancedoption, nullptr);
        click(g_advancedoption, "Button_factory");
        click(g_advancedoption, "Button_reset");
        zeltest::simCommands().clearJournal();
    }

    // A device far from its factory state.
    void disturb()
    {
        ram_set_u16(model->ram_para, kLanguage, 2);
        ram_set_u16(model->ram_para, window(3) + kWinState, 1);
        ram_set_u16(model->ram_para, window(0) + kWinX, 200);
        model->ram_para[kWifiOff] = 1;
        ram_set_u16(model->ram_para, kEdidTiming + 6 * 2, 1280);
        ram_set_u16(model->ram_para, kAudioWindow, 3);
        model->ram_para[0x120] = 0x5A;   // status area
        model->ram_user_mode[4][0] = model->ram_user_mode[4][1] = 0xAA;
    }

    static bool factoryAt(const unsigned char* image, unsigned a)
    {
        return image[a] == default_para_ramlist[a - kPersistStart + kSlotMarkerLen];
    }

    // The aging monitor opened with its access code on the keypad.
    void openAging()
    {
        click(g_option, "AdvanceButton");
        click(g_advancedoption, "Button_factory_age");
        ASSERT_TRUE(g_numberkeyboard->isVisible());
        keyIn(QString::fromLatin1(AdvancedOption::kAgingCode));
        ASSERT_EQ(g_advancedoption->currentTab(), AdvancedOption::kTabAging);
    }

    QString label(const char* name) { return text(g_advancedoption, name); }
};

}  // namespace

TEST_F(FactoryTest, KeepIpResetsTheWholeImageButTheNetwork)
{
    disturb();
    model->refresh_shadow();
    const Bytes lowImage(model->ram_para, model->ram_para + kPersistStart);
    const Bytes lowShadow(model->ram_para_shadow, model->ram_para_shadow + kPersistStart);
    const Bytes slot(model->ram_user_mode[4], model->ram_user_mode[4] + kSlotSize);
    const std::string ini = zeltest::readText(ConfigEngine::kConfigFile);
    open();
    click(g_advancedoption, "Button_reset1");
    for (unsigned a = kPersistStart; a < kRamSize; ++a)
        ASSERT_TRUE(factoryAt(model->ram_para, a)) << std::hex << a;
    EXPECT_EQ(engine->para_chg_flag.load(), 1);
    EXPECT_TRUE(std::equal(lowImage.begin(), lowImage.end(), model->ram_para));
    EXPECT_TRUE(std::equal(lowShadow.begin(), lowShadow.end(), model->ram_para_shadow));
    EXPECT_TRUE(std::equal(slot.begin(), slot.end(), model->ram_user_mode[4]));
    EXPECT_EQ(zeltest::readText(ConfigEngine::kConfigFile), ini);
    EXPECT_TRUE(zeltest::simCommands().journal().empty());
    EXPECT_EQ(g_set_led_para.load(), 0) << "same screen: no hand-over";

    // The engine applies it: the page follows the factory language (Chinese when offered).
    enginePass();
    model->ram_para_shadow[kLanguage] = 2;
    model->test_signal(1);
    EXPECT_EQ(g_language.load(), 0);
    EXPECT_EQ(label("label_title"), QString::fromUtf8("高级设置"));
}

TEST_F(FactoryTest, KeepIpAndEdidKeepsTheTimingsAndTheHighlightMoves)
{
    disturb();
    // The edges of the kept range: 0x37F and 0x560 are reset, 0x380 and 0x55F kept.
    for (unsigned a : {0x37Fu, 0x380u, 0x55Fu, 0x560u})
        model->ram_para[a] = static_cast<unsigned char>(~default_para_ramlist[a - 0x300 + 2]);
    const Bytes kept(model->ram_para + 0x380, model->ram_para + 0x560);
    open();
    click(g_advancedoption, "Button_reset2");
    EXPECT_TRUE(std::equal(kept.begin(), kept.end(), model->ram_para + 0x380)) << "image 0x380-0x55F kept";
    EXPECT_EQ(word(kEdidTiming + 12), 1280);
    for (unsigned a : {0x300u, 0x306u, 0x37Fu, 0x560u, 0x8E0u, 0xFFFu})
        EXPECT_TRUE(factoryAt(model->ram_para, a)) << std::hex << a;

    click(g_advancedoption, "Button_reset1");
    EXPECT_EQ(word(kEdidTiming + 12), 1920) << "reset 1 restores the timings too";
    EXPECT_EQ(child<QPushButton>(g_advancedoption, "Button_reset1")->styleSheet(),
              "background-color:#4777FF;color:#FFFFFF;border:1px solid rgb(255, 255, 255);");
    EXPECT_EQ(child<QPushButton>(g_advancedoption, "Button_reset2")->styleSheet(),
              "background-color:#10101C;color:#FFFFFF;border:1px solid rgb(255, 255, 255);");
}

TEST_F(FactoryTest, ResetAllPutsTheFactoryAddressInPlaceFirst)
{
    ConfigEngine::p_config->write_config_variants(
        {{ConfigItem::IPAddress, "10.0.0.5"}, {ConfigItem::SubNetMask, "255.0.0.0"}, {ConfigItem::GateWay, "10.0.0.1"}});
    Utils::getIPAddress();
    open();
    click(g_advancedoption, "Button_reset3");
    const std::string ini = zeltest::readText(ConfigEngine::kConfigFile);
    EXPECT_NE(ini.find("IPAddress=192.168.1.199"), std::string::npos);
    EXPECT_NE(ini.find("SubNetMask=255.255.255.0"), std::string::npos);
    EXPECT_NE(ini.find("GateWay=192.168.1.1"), std::string::npos);
    const std::vector<std::string> journal = zeltest::simCommands().journal();
    ASSERT_GE(journal.size(), 4u);
    EXPECT_EQ(journal[0], "sync");
    EXPECT_EQ(journal[1], "ifconfig eth0 >/dev/null 2>&1");
    EXPECT_EQ(journal[3], "ifconfig eth0 192.168.1.199 netmask 255.255.255.0");
    EXPECT_EQ(g_str_ip, "192.168.1.199");

    // With the factory address in place the network is left alone, whatever the mask.
    ConfigEngine::p_config->write_config_variants({{ConfigItem::SubNetMask, "255.255.0.0"}});
    Utils::getIPAddress();
    zeltest::simCommands().clearJournal();
    click(g_advancedoption, "Button_reset3");
    EXPECT_TRUE(zeltest::simCommands().journal().empty());
    EXPECT_NE(zeltest::readText(ConfigEngine::kConfigFile).find("SubNetMask=255.255.0.0"), std::string::npos);
}

TEST_F(FactoryTest, ANewScreenSizeIsHandedOverWhileBothFpgasRun)
{
    zeltest::bringUpFpgas();
    open();
    // Any one of the three words is a new screen: width 0x562, height 0x564, splice mode 0x560
    // (factory 1920, 1080 and 4).
    for (unsigned at : {0x562u, 0x564u, 0x560u}) {
        ram_set_u16(model->ram_para, 0x562, 1920);
        ram_set_u16(model->ram_para, 0x564, 1080);
        ram_set_u16(model->ram_para, 0x560, 4);
        ram_set_u16(model->ram_para, at, 3);
        ram_set_u16(model->ram_para, 0x840, 3);
        model->refresh_shadow();
        g_set_led_para = 0;
        g_set_led_setup = 5;
        click(g_advancedoption, "Button_reset1");
        EXPECT_EQ(word(0x562), 1920);
        EXPECT_EQ(g_set_led_para.load(), 1) << std::hex << at;
        EXPECT_EQ(g_set_led_setup.load(), 0) << std::hex << at;
        EXPECT_EQ(word(0x840), 0) << std::hex << at;
    }
}

TEST_F(FactoryTest, ResetsWaitForJobsAndUpgrades)
{
    disturb();
    open();
    fpga_manage::set_job(5, 0);
    click(g_advancedoption, "Button_reset1");
    EXPECT_EQ(engine->para_chg_flag.load(), 0);
    EXPECT_EQ(model->ram_para[kWifiOff], 1);
    fpga_manage::set_job(0, 0);
    g_usb_grade = 1;
    click(g_advancedoption, "Button_reset3");
    EXPECT_EQ(engine->para_chg_flag.load(), 0);
    EXPECT_TRUE(zeltest::simCommands().journal().empty());
    g_usb_grade = 0;
}

TEST_F(FactoryTest, FontPresenceFollowsTheFontHeadsInTheSimulatedChipsFlash)
{
    c331_manage* e = engineOnSimulatedChip();
    ASSERT_NE(e, nullptr);
    sim::VideoChipModel& chip = sim::videoChip();
    click(g_option, "AdvanceButton");
    click(g_advancedoption, "Button_factory");
    for (const char* name : {"label_32CNS", "label_64CNS", "label_128CNS", "label_32ENS", "label_64ENS", "label_128ENS"})
        EXPECT_EQ(image(g_advancedoption, name), ":/png/osd_yes.bmp") << name;

    // The 32-dot Chinese and the 64-dot English fonts lose their heads; the engine reads the flash
    // again and the view follows on its next showing.
    chip.setFlash(0x010000, {'Q'});
    chip.setFlash(0x410000, {0x00});
    e->read_c331_font(e->c331_fd);
    click(g_advancedoption, "Button_LCDshow");
    click(g_advancedoption, "Button_factory");
    for (const char* name : {"label_64CNS", "label_128CNS", "label_32ENS"})
        EXPECT_EQ(image(g_advancedoption, name), ":/png/osd_yes.bmp") << name;
    for (const char* name : {"label_32CNS", "label_64ENS", "label_128ENS"})
        EXPECT_EQ(image(g_advancedoption, name), ":/png/osd_no.bmp") << name;
}

TEST_F(FactoryTest, AgingMonitorOpensOnlyWithItsCode)
{
    click(g_option, "AdvanceButton");
    click(g_advancedoption, "Button_factory_age");
    EXPECT_EQ(text(g_numberkeyboard, "label_title"), "key");
    click(g_numberkeyboard, "Button_1");
    click(g_numberkeyboard, "Button_ok");
    EXPECT_EQ(g_advancedoption->currentTab(), AdvancedOption::kTabLcd) << "a wrong code does nothing";
    click(g_advancedoption, "Button_back");
    flushDeletes();

    platform::setSimClock(QDateTime(QDate(2030, 6, 15), QTime(12, 34, 0)));   // the board's clock
    openAging();
    EXPECT_TRUE(g_advancedoption->agingShown());
    EXPECT_EQ(label("label_log1"), QString::fromUtf8("06-15 12:34  正在老化中..."));
    EXPECT_EQ(label("label_3"), "OUT1:0<3 0<5 0<10 0<20 0>20    OUT2:0<3 0<5 0<10 0<20 0>20");
    EXPECT_EQ(label("page_info"), "0");
    EXPECT_EQ(label("label_page"), "0/0");

    // The tick's refresh of an empty log keeps "0/0".
    g_advancedoption->update_agelog();
    EXPECT_EQ(label("label_page"), "0/0");
    // Open, the aging button does nothing; another tab clears the flag.
    click(g_advancedoption, "Button_factory_age");
    EXPECT_FALSE(g_numberkeyboard->isVisible());
    click(g_advancedoption, "Button_LCDshow");
    EXPECT_FALSE(g_advancedoption->agingShown());
}

TEST_F(FactoryTest, AgingLogPagesAndColouredStatus)
{
    factoryage_log.clear();
    for (int i = 0; i < 17; ++i)
        factoryage_log.push_back(QStringLiteral("03-04 10:%1 7 3 12 255 31 0").arg(i, 2, 10, QLatin1Char('0')));
    factoryage_log[1] = "03-04 broken";
    factoryage_log[16] = "03-04 10:16 7 8 12 255 31 0";   // FPGA 0: HS alone
    openAging();
    const QString page1 = label("label_log1");
    EXPECT_TRUE(page1.startsWith(
        "03-04 10:00 007 <font color = #00FF00 >DDR0</font> <font color = #00FF00 >DDR1</font> "
        "<font color = #FF0000 >DE</font> <font color = #FF0000 >HS</font> <font color = #FF0000 >VS</font>012"
        "    ,255 <font color = #00FF00 >DDR0</font> "))
        << qPrintable(page1);
    EXPECT_EQ(page1.count("<br>"), 14) << "16 entries, one broken, the first without a break";
    EXPECT_EQ(label("page_info"), "17");
    EXPECT_EQ(label("label_page"), "1/2");

    click(g_advancedoption, "next");
    EXPECT_EQ(label("label_page"), "2/2");
    EXPECT_FALSE(label("label_log1").contains("<br>"));
    EXPECT_TRUE(label("label_log1").startsWith(
        "03-04 10:16 007 <font color = #FF0000 >DDR0</font> <font color = #FF0000 >DDR1</font> "
        "<font color = #FF0000 >DE</font> <font color = #00FF00 >HS</font> <font color = #FF0000 >VS</font>012"))
        << qPrintable(label("label_log1"));
    click(g_advancedoption, "next");
    EXPECT_EQ(label("label_page"), "1/2");
    click(g_advancedoption, "pre");
    EXPECT_EQ(label("label_page"), "2/2");

    // Sixteen entries are one page.
    click(g_advancedoption, "next");
    factoryage_log.pop_back();
    g_advancedoption->update_agelog();
    EXPECT_EQ(label("label_page"), "1/1");
}

TEST_F(FactoryTest, AgingSamplesFromTheSimulatedFpgasReachTheCounters)
{
    zeltest::bringUpFpgas();
    factoryage_log.clear();
    openAging();
    sim::FpgaBoard& board = *sim::fpgaBoard();
    auto sample = [&](uint8_t out1, uint8_t out2) {
        board.fpga[0]->setReg(42, out1);
        board.fpga[1]->setReg(42, out2);
        g_mainwindow->getagelog();
    };
    sample(10, 250);
    sample(10, 4);     // FPGA 1: 250 -> 4 is 10 past the wrap
    sample(10, 5);
    g_advancedoption->update_agelog();
    EXPECT_EQ(label("page_info"), "3");
    EXPECT_EQ(label("label_3"), "OUT1:0<3 0<5 0<10 0<20 0>20     OUT2:1<3 0<5 0<10 1<20 0>20 ");
}

TEST_F(FactoryTest, FactoryTabsWaitForTheRing)
{
    click(g_option, "AdvanceButton");
    QRoundProgressBar::create_qround_bar(g_advancedoption);
    click(g_advancedoption, "Button_factory");
    click(g_advancedoption, "Button_factory_age");
    EXPECT_EQ(g_advancedoption->currentTab(), AdvancedOption::kTabLcd);
    EXPECT_FALSE(g_numberkeyboard->isVisible());
}
