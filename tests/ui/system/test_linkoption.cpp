// The communication page: address octets on the keypad, the network set-up it runs, and the USB
// upgrade tab's package list and upgrade start.
#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <unistd.h>

#include "core/config_engine.h"
#include "core/ram_layout.h"
#include "ledout/usb_upgrade.h"
#include "platform/command_runner.h"
#include "platform/platform.h"
#include "support/upgrade_package.h"
#include "support/diagnostics.h"
#include "system_fixture.h"
#include "ui/shell/tip.h"
#include "ui/system/linkoption.h"

namespace {

using Commands = std::vector<std::string>;

class LinkOptionTest : public SystemPageTest {
protected:
    void SetUp() override
    {
        SystemPageTest::SetUp();
        ConfigEngine::pInstance();
        fpga_manage::set_job(0, 255);
        g_tip->hide();
    }

    void open()
    {
        click(g_option, "link_set");
        ASSERT_NE(g_linkoption, nullptr);
        EXPECT_EQ(g_page_focus.load(), LinkOption::kFocus);
        zeltest::simCommands().clearJournal();
    }

    QWidget* field(const QString& name) { return child<QWidget>(g_linkoption, name); }
    QString value(const QString& name) { return text(g_linkoption, name); }

    static void package(const std::string& path) { zeltest::writeText(path, "package"); }

    QStringList shownEntries()
    {
        QStringList names;
        auto* frame = g_linkoption->findChild<QFrame*>("frame_file");
        for (int k = 0; k < LinkOption::kPageEntries; ++k)
            if (auto* l = frame ? frame->findChild<QLabel*>(QStringLiteral("file_%1").arg(k)) : nullptr)
                names << l->text();
        return names;
    }
};

}  // namespace

TEST(LinkOctets, OnlyDecimalOctetsUpTo255AreTaken)
{
    EXPECT_EQ(LinkOption::canonicalOctet("255"), "255");
    EXPECT_EQ(LinkOption::canonicalOctet("0"), "0");
    EXPECT_EQ(LinkOption::canonicalOctet("010"), "10");
    for (const char* bad : {"256", "", "1.2", "1000", ".", "-1"})
        EXPECT_EQ(LinkOption::canonicalOctet(bad), QString()) << bad;
}

TEST_F(LinkOptionTest, OctetsFromTheKeypadAndTheGatewayFollowingTheAddress)
{
    open();
    EXPECT_EQ(value("lineEditIp1"), "192");
    EXPECT_EQ(value("lineEditIp4"), "199");
    EXPECT_EQ(value("lineEditMask3"), "255");
    EXPECT_EQ(value("lineEditGate4"), "1");
    click(g_linkoption, "Button_wlan");

    type(field("lineEditIp3"), "256");
    EXPECT_EQ(value("lineEditIp3"), "1") << "256 is refused";
    type(field("lineEditIp3"), "255");
    EXPECT_EQ(value("lineEditIp3"), "255");
    EXPECT_EQ(value("lineEditGate3"), "255");
    type(field("lineEditIp2"), "010");
    EXPECT_EQ(value("lineEditIp2"), "10") << "stored canonically";
    EXPECT_EQ(value("lineEditGate2"), "10");
    type(field("lineEditIp4"), "7");
    EXPECT_EQ(value("lineEditGate4"), "1") << "the last octet is the gateway's own";
    type(field("lineEditMask4"), ".");
    EXPECT_EQ(value("lineEditMask4"), "0") << "not a number: refused";
}

TEST_F(LinkOptionTest, UnchangedApplyRunsNothing)
{
    open();
    const std::string before = zeltest::readText(ConfigEngine::kConfigFile);
    click(g_linkoption, "Button_net_apply");
    EXPECT_TRUE(zeltest::simCommands().journal().empty());
    EXPECT_EQ(zeltest::readText(ConfigEngine::kConfigFile), before);
    EXPECT_EQ(child<QPushButton>(g_linkoption, "Button_net_apply")->styleSheet(), "background-color:#4777FF;color:#FFFFFF");
}

TEST_F(LinkOptionTest, AChangedAddressIsStoredAndSetUpOnEth0)
{
    open();
    type(field("lineEditGate4"), "254");
    click(g_linkoption, "Button_net_apply");
    const std::string ini = zeltest::readText(ConfigEngine::kConfigFile);
    EXPECT_NE(ini.find("IPAddress=192.168.1.199"), std::string::npos);
    EXPECT_NE(ini.find("SubNetMask=255.255.255.0"), std::string::npos);
    EXPECT_NE(ini.find("GateWay=192.168.1.254"), std::string::npos);
    const Commands expected = {"sync",
                               "ifconfig eth0 >/dev/null 2>&1",
                               "route del default wlan0",
                               "ifconfig eth0 192.168.1.199 netmask 255.255.255.0",
                               "route add -host 192.168.1.254 dev eth0",
                               "route add default gw 192.168.1.254 metric 100",
                               "route add -host 255.255.255.255 eth0",
                               "route del 255.255.255.255 wlan1"};
    EXPECT_EQ(zeltest::simCommands().journal(), expected);
    EXPECT_EQ(g_str_gateway, "192.168.1.254");
    EXPECT_TRUE(g_tip->isVisible());
    EXPECT_EQ(g_tip->kind(), TIP::kCheck);

    // An address change: the octet 255 is taken (a host under a /16 mask), and the ini holds the
    // new address.
    zeltest::simCommands().clearJournal();
    type(field("lineEditIp1"), "10");
    type(field("lineEditIp4"), "255");
    type(field("lineEditMask3"), "0");
    click(g_linkoption, "Button_net_apply");
    EXPECT_NE(zeltest::readText(ConfigEngine::kConfigFile).find("IPAddress=10.168.1.255"), std::string::npos);
    EXPECT_NE(zeltest::readText(ConfigEngine::kConfigFile).find("GateWay=10.168.1.254"), std::string::npos);
    EXPECT_EQ(zeltest::simCommands().journal().at(3), "ifconfig eth0 10.168.1.255 netmask 255.255.0.0");
}

// A settings file that cannot be written: the change is not set up either (a restart would bring
// the old address back), the notice says so and the home page keeps an alert.
TEST_F(LinkOptionTest, ApplyThatCannotBeStoredRunsNothingAndSaysSo)
{
    open();
    const std::string configs = platform::rootPath("/data/configs");
    std::rename(configs.c_str(), (configs + ".away").c_str());
    zeltest::writeText("/data/configs", "a file where the settings folder should be");
    type(field("lineEditGate4"), "254");
    click(g_linkoption, "Button_net_apply");
    EXPECT_TRUE(zeltest::simCommands().journal().empty());
    EXPECT_EQ(g_str_gateway, "192.168.1.1");
    EXPECT_EQ(ConfigEngine::p_config->read_config_variant(ConfigItem::GateWay).toString(), "192.168.1.1");
    EXPECT_TRUE(g_tip->isVisible());
    EXPECT_EQ(g_tip->kind(), TIP::kNotSaved);
    EXPECT_EQ(text(g_tip, "label_text"), "Not saved, not applied");
    g_mainwindow->syncUpdate();
    EXPECT_TRUE(text(g_mainwindow, "label_alert").contains("Settings are not being saved"));
}

// Octets that make no address the box could be reached at: nothing is stored or run, and the
// row at fault is marked.
TEST_F(LinkOptionTest, AddressesTheBoxCannotBeReachedAtAreRefusedWithTheirRowMarked)
{
    open();
    const std::string before = zeltest::readText(ConfigEngine::kConfigFile);
    struct Case {
        const char *address, *mask, *gateway, *markedRow;
    };
    const Case cases[] = {
        {"255.255.255.255", "0.0.0.0", "192.168.1.1", "lineEditIp"},
        {"127.0.0.1", "255.0.0.0", "127.0.0.2", "lineEditIp"},
        {"192.168.1.255", "255.255.255.0", "192.168.1.1", "lineEditIp"},   // the /24's broadcast
        {"192.168.1.20", "255.0.255.0", "192.168.1.1", "lineEditMask"},    // a gap in the mask
        {"192.168.1.20", "255.255.255.0", "192.168.2.1", "lineEditGate"},  // off the network
    };
    auto typeRow = [this](const QString& row, const QString& dotted) {
        const QStringList octets = dotted.split('.');
        for (int k = 0; k < 4; ++k)
            type(field(row + QString::number(k + 1)), octets[k]);
    };
    for (const Case& c : cases) {
        typeRow("lineEditIp", c.address);
        typeRow("lineEditMask", c.mask);
        typeRow("lineEditGate", c.gateway);
        click(g_linkoption, "Button_net_apply");
        for (const char* row : {"lineEditIp", "lineEditMask", "lineEditGate"})
            EXPECT_EQ(field(QString(row) + "2")->styleSheet().contains("#FF0000"), std::string(row) == c.markedRow)
                << c.address << " " << c.mask << " " << c.gateway << ": " << row;
    }
    EXPECT_TRUE(zeltest::simCommands().journal().empty());
    EXPECT_EQ(zeltest::readText(ConfigEngine::kConfigFile), before);
    EXPECT_EQ(g_str_ip, "192.168.1.199");
}

TEST_F(LinkOptionTest, IncompleteAddressesAreNeverApplied)
{
    g_srt_mask = "255.255.0";   // a setting missing an octet leaves its field empty
    open();
    EXPECT_EQ(value("lineEditMask4"), "");
    type(field("lineEditGate4"), "254");
    click(g_linkoption, "Button_net_apply");
    EXPECT_TRUE(zeltest::simCommands().journal().empty());
    EXPECT_EQ(zeltest::readText(ConfigEngine::kConfigFile).find("GateWay=192.168.1.254"), std::string::npos);
    type(field("lineEditMask4"), "0");
    click(g_linkoption, "Button_net_apply");
    EXPECT_EQ(zeltest::simCommands().journal().size(), 8u);
}

TEST_F(LinkOptionTest, ApplyMarksTheFieldsThatHoldNoOctetUntilTheyAreCorrected)
{
    g_str_ip = "192.168.1.300";
    g_srt_mask = "255.255.0";
    open();
    const std::string before = zeltest::readText(ConfigEngine::kConfigFile);
    click(g_linkoption, "Button_wlan");
    type(field("lineEditGate4"), "254");
    click(g_linkoption, "Button_net_apply");
    const auto marked = [this](const char* name) { return field(name)->styleSheet().contains("#FF0000"); };
    EXPECT_TRUE(marked("lineEditIp4"));
    EXPECT_TRUE(marked("lineEditMask4"));
    for (const char* good : {"lineEditIp1", "lineEditIp3", "lineEditMask3", "lineEditGate4"})
        EXPECT_FALSE(marked(good)) << good;
    EXPECT_TRUE(zeltest::simCommands().journal().empty());
    EXPECT_EQ(zeltest::readText(ConfigEngine::kConfigFile), before);

    type(field("lineEditMask4"), "0");
    EXPECT_FALSE(marked("lineEditMask4"));
    EXPECT_TRUE(marked("lineEditIp4"));
    click(g_linkoption, "Button_net_apply");
    EXPECT_TRUE(zeltest::simCommands().journal().empty()) << "one field is still wrong";
    EXPECT_EQ(zeltest::readText(ConfigEngine::kConfigFile), before);

    type(field("lineEditIp4"), "20");
    EXPECT_FALSE(marked("lineEditIp4"));
    click(g_linkoption, "Button_net_apply");
    EXPECT_NE(zeltest::readText(ConfigEngine::kConfigFile).find("IPAddress=192.168.1.20"), std::string::npos);
    EXPECT_EQ(zeltest::simCommands().journal().size(), 8u);
}

TEST_F(LinkOptionTest, ConnectionModeButtonsOnlySwapTheirMarks)
{
    open();
    EXPECT_EQ(image(g_linkoption, "Button_direct"), sys::kChecked);
    click(g_linkoption, "Button_IP");
    EXPECT_EQ(image(g_linkoption, "Button_IP"), sys::kChecked);
    EXPECT_EQ(image(g_linkoption, "Button_direct"), sys::kUnchecked);
    click(g_linkoption, "Button_net_cancel");
    EXPECT_EQ(child<QPushButton>(g_linkoption, "Button_net_cancel")->styleSheet(), "background-color:#4777FF;color:#FFFFFF");
    EXPECT_TRUE(zeltest::simCommands().journal().empty());
}

TEST_F(LinkOptionTest, UsbTabListsThePackagesOfTheUpgradeFolder)
{
    package("/mnt/usb1/ZEL-T71/app.ZEL");
    package("/mnt/usb1/ZEL-T71/fpga.ZEL");
    package("/mnt/usb1/ZEL-T71/font.ZELZK");
    package("/mnt/usb1/ZEL-T71/lower.zel");
    package("/mnt/usb1/ZEL-T71/sub/deep.ZEL");
    package("/mnt/usb1/root.ZEL");
    ASSERT_EQ(::symlink(platform::rootPath(std::string("/mnt/usb1/ZEL-T71/app.ZEL")).c_str(),
                        platform::rootPath(std::string("/mnt/usb1/ZEL-T71/link.ZEL")).c_str()), 0);
    open();
    click(g_linkoption, "Button_usb");
    const QStringList packages = g_linkoption->packages();
    ASSERT_EQ(packages.size(), 3) << qPrintable(packages.join(","));
    EXPECT_TRUE(packages.contains("/mnt/usb1/ZEL-T71/font.ZELZK"));
    // The first application package and every font package are highlighted.
    bool zelSeen = false;
    auto* frame = g_linkoption->findChild<QFrame*>("frame_file");
    for (int k = 0; k < 3; ++k) {
        const bool zel = packages[k].endsWith(".ZEL");
        const bool marked = !zel || !zelSeen;
        zelSeen = zelSeen || zel;
        auto* label = child<QLabel>(frame, QStringLiteral("file_%1").arg(k));
        EXPECT_EQ(label->text(), QStringLiteral("<font color = #FFFFFF >%1</font>").arg(QFileInfo(packages[k]).fileName()));
        EXPECT_EQ(label->styleSheet(), marked ? "background-color:#4777FF;color: #FFFFFF;"
                                              : "background-color: rgb(33, 36, 53);color: #FFFFFF") << k;
    }

    g_usb_grade_path = " ";
    g_linkoption->syncUpdate(102);
    EXPECT_EQ(g_linkoption->packages(), QStringList{"/mnt/usb1/root.ZEL"});
    EXPECT_EQ(shownEntries(), QStringList{"<font color = #FFFFFF >root.ZEL</font>"});
}

TEST_F(LinkOptionTest, UsbTabShowsTheFirstFiveAndTheEmptyText)
{
    open();
    click(g_linkoption, "Button_usb");
    EXPECT_EQ(shownEntries(), QStringList{"No loaded file!"});
    for (int k = 0; k < 7; ++k)
        package("/mnt/usb1/ZEL-T71/p" + std::to_string(k) + ".ZELZK");
    model->test_signal(102);
    EXPECT_EQ(g_linkoption->packages().size(), 7);
    EXPECT_EQ(shownEntries().size(), 5);
    EXPECT_TRUE(g_tip->isVisible());
    EXPECT_EQ(g_tip->kind(), TIP::kReading);
}

TEST_F(LinkOptionTest, AtMostAHundredPackagesAreTaken)
{
    for (int k = 0; k < 100; ++k)
        package("/mnt/usb1/ZEL-T71/p" + std::to_string(k) + ".ZELZK");
    open();
    click(g_linkoption, "Button_usb");
    EXPECT_EQ(g_linkoption->packages().size(), 100);
    package("/mnt/usb1/ZEL-T71/p100.ZELZK");
    g_linkoption->syncUpdate(102);
    EXPECT_EQ(g_linkoption->packages().size(), 100);
}

TEST_F(LinkOptionTest, OkStartsOneUpgradeUntilTheStickIsRemoved)
{
    open();
    click(g_linkoption, "Button_usb");
    click(g_linkoption, "Button_ok");
    EXPECT_EQ(g_usb_grade.load(), 1);
    EXPECT_EQ(g_send_para[1], 0);
    EXPECT_TRUE(g_linkoption->upgradeStarted());

    // The upgrade ends; a second OK does nothing until the stick has been taken out.
    g_usb_grade = 0;
    g_send_para[1] = 9;
    fpga_manage::pInstance()->usb_upgrade_time = "10:2:7    10:4:31";
    model->test_signal(104);
    click(g_linkoption, "Button_ok");
    EXPECT_EQ(g_usb_grade.load(), 0);
    EXPECT_EQ(g_send_para[1], 9);
    EXPECT_EQ(text(g_linkoption, "label_log"),
              "<font style = 'font-size:20px' color = #51BB28 >Download finished<br>10:2:7    10:4:31</font>");

    model->test_signal(101);
    EXPECT_FALSE(g_linkoption->upgradeStarted());
    EXPECT_EQ(g_tip->kind(), TIP::kUsbOut);
    fpga_manage::set_job(5, 0);   // a receiving-card job keeps its state in the same block
    click(g_linkoption, "Button_ok");
    EXPECT_EQ(g_usb_grade.load(), 0);
    EXPECT_EQ(fpga_manage::job_word(), 5);
    fpga_manage::set_job(0, 255);
    click(g_linkoption, "Button_ok");
    EXPECT_EQ(g_usb_grade.load(), 1);
}

TEST_F(LinkOptionTest, UpgradeEndShowsTheLogOnlyOnTheUsbTab)
{
    open();
    model->test_signal(104);
    EXPECT_EQ(text(g_linkoption, "label_log"), "");
    EXPECT_FALSE(g_tip->isVisible()) << "no notice after an upgrade";
    model->test_signal(100);
    EXPECT_EQ(g_tip->kind(), TIP::kUsbIn);
    model->test_signal(1);
    EXPECT_EQ(g_tip->kind(), TIP::kCheck);
}

TEST_F(LinkOptionTest, DebugLinesOfTheStickComingAndGoing)
{
    ZEL_SKIP_WITHOUT_DIAGNOSTICS();
    open();
    click(g_linkoption, "Button_usb");
    // A stick event reported through the change dispatcher, page refresh included: its line
    // appears once.
    const auto printed = [&](int code) {
        testing::internal::CaptureStdout();
        model->test_signal(code);
        fflush(stdout);
        return testing::internal::GetCapturedStdout();
    };
    const auto count = [](const std::string& text, const std::string& line) {
        size_t n = 0;
        for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(count(printed(100), "\n yes ,got the usb in"), 1u);
    EXPECT_EQ(count(printed(101), "\n yes ,got the usb out"), 1u);
    EXPECT_EQ(printed(102).find("yes ,got the usb"), std::string::npos);
}

TEST_F(LinkOptionTest, TabsAndTextsFollowTheLanguage)
{
    open();
    EXPECT_EQ(text(g_linkoption, "label_num_baud"), "115200");
    click(g_linkoption, "Button_usb");
    EXPECT_EQ(child<QPushButton>(g_linkoption, "Button_usb")->styleSheet(), "background-color:#4777FF;color:#FFFFFF");
    EXPECT_EQ(child<QPushButton>(g_linkoption, "Button_com")->styleSheet(), "background-color:#10101C;color:#FFFFFF");
    ram_set_u16(model->ram_para, ramaddr::kLanguage, 0);
    model->test_signal(1);
    EXPECT_EQ(text(g_linkoption, "label_title"), QString::fromUtf8("通讯设置"));
    EXPECT_EQ(shownEntries(), QStringList{QString::fromUtf8("无加载文件!")});
    click(g_linkoption, "Button_back");
    flushDeletes();
    EXPECT_EQ(g_linkoption, nullptr);
    EXPECT_EQ(g_page_focus.load(), 5);
}

TEST_F(LinkOptionTest, PackageOnTheStickInstallsWithTheUpdateScreenShowing)
{
    usbupgrade::setSleep([](unsigned) {});
    g_usb_grade_path = "ZEL-T71";
    g_update_status = 1;
    zeltest::writeText("/data/app/zelT71N", "old");
    const std::string next = "new application";
    zeltest::writePackage("/mnt/usb1/ZEL-T71/app.ZEL",
                          zeltest::upgradePackage({{10, std::vector<uint8_t>(next.begin(), next.end()), {26, 1, 1, 0, 0, 0}}}));
    open();
    click(g_linkoption, "Button_usb");
    click(g_linkoption, "Button_ok");
    fpga_manage* m = fpga_manage::pInstance();
    m->worker_step(m);   // the LED output's thread opens the update screen
    QCoreApplication::processEvents();
    EXPECT_TRUE(g_mainwindow->update_screen_shown());
    for (int i = 0; i < 10 && g_usb_grade.load() != 0; ++i)
        m->worker_step(m);
    QCoreApplication::processEvents();
    EXPECT_FALSE(g_mainwindow->update_screen_shown());
    EXPECT_EQ(zeltest::readText("/data/app/zelT71N"), next);
    // The run's own start and end times follow "Download finished".
    const QString times = QString::fromStdString(m->usb_upgrade_time);
    EXPECT_TRUE(QRegularExpression("^\\d{1,2}:\\d{1,2}:\\d{1,2}    \\d{1,2}:\\d{1,2}:\\d{1,2}$").match(times).hasMatch())
        << qPrintable(times);
    EXPECT_TRUE(text(g_linkoption, "label_log").contains("Download finished<br>" + times));
    const auto reboots = [] {
        const auto j = zeltest::simCommands().journal();
        return std::count(j.begin(), j.end(), std::string("reboot"));
    };
    tick(299);
    EXPECT_EQ(reboots(), 0);
    tick();
    EXPECT_EQ(reboots(), 1);
    usbupgrade::setSleep(nullptr);
}
