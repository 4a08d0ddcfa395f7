// Renders the home page, lock screen, settings menu, status page and keypad at 800 x 480 in
// English and Chinese. The pictures go to $ZEL_SCREENSHOT_DIR when it is set (for looking at
// them), else into the test's root; the test checks that each shows a drawn interface.
#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QPainter>

#include <cstdlib>
#include <thread>

#include "core/alerts.h"
#include "core/config_engine.h"
#include "core/ram_layout.h"
#include "ledout/fpga_manage.h"
#include "support/fpga_board.h"
#include "support/video_input.h"
#include "ui/shell/QRoundProgressBar.h"
#include "shell_fixture.h"
#include "ui/shell/lockwindow.h"
#include "ui/shell/machinestate.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/option.h"
#include "ui/shell/tip.h"
#include "ui/video/custommode.h"
#include "ui/video/edidset.h"
#include "ui/video/imagelayout.h"
#include "ui/video/imagequality.h"
#include "ui/video/inputchoose.h"
#include "ui/video/inputcut.h"
#include "ui/system/advancedoption.h"
#include "ledout/card_job_report.h"
#include "ledout/job_block.h"
#include "ui/system/linkoption.h"
#include "ui/system/smartmapping.h"
#include "ui/system/outputset.h"
#include "ui/system/test_chart.h"

namespace {

QString outDir(const zeltest::TempRoot& root)
{
    const char* dir = std::getenv("ZEL_SCREENSHOT_DIR");
    const QString path = dir ? QString::fromLocal8Bit(dir) : QString::fromStdString(root.path()) + "/screenshots";
    QDir().mkpath(path);
    return path;
}

// The screen as the panel shows it: `base` with `over` (the keypad, a notice) drawn at its place.
QImage grab(QWidget* base, QWidget* over = nullptr)
{
    QImage screen(800, 480, QImage::Format_RGB32);
    screen.fill(Qt::black);
    QPainter p(&screen);
    base->render(&p, base->pos());
    if (over)
        over->render(&p, over->pos());
    return screen;
}

// A drawn page has many colours; a blank or failed render has one or two.
int colours(const QImage& img)
{
    QSet<QRgb> seen;
    for (int y = 0; y < img.height(); y += 3)
        for (int x = 0; x < img.width(); x += 3)
            seen.insert(img.pixel(x, y));
    return seen.size();
}

// The screens grabbed in one language, by name.
class Shots {
public:
    void operator()(const QString& name, QWidget* base, QWidget* over = nullptr)
    {
        taken_.emplace_back(name, grab(base, over));
    }

    // Checks that each shows a drawn interface and saves it as <name>_<suffix>.png in `dir`.
    void save(const QString& dir, const QString& suffix) const
    {
        for (const auto& [name, img] : taken_) {
            EXPECT_EQ(img.size(), QSize(800, 480));
            EXPECT_GT(colours(img), 20) << qPrintable(name);
            EXPECT_TRUE(img.save(dir + "/" + name + "_" + suffix + ".png")) << qPrintable(name);
        }
    }

private:
    std::vector<std::pair<QString, QImage>> taken_;
};

// Sets English, then Chinese, and saves what `take` grabs in each.
template <class Take>
void inEnglishAndChinese(ZelRamPara* model, const zeltest::TempRoot& root, Take take)
{
    const QString dir = outDir(root);
    for (int lang : {kLangEnglish, kLangChinese}) {
        ram_set_u16(model->ram_para, ramaddr::kLanguage, static_cast<uint16_t>(lang));
        model->ram_para_save();
        Shots shot;
        take(shot);
        if (::testing::Test::HasFatalFailure())
            return;
        shot.save(dir, lang == kLangEnglish ? "en" : "zh");
    }
}

}  // namespace

TEST_F(ShellTest, ScreenshotsInEnglishAndChinese)
{
    // A device with some signals, a saved mode and a current mode.
    zeltest::setInputSummary(model->ram_para, 2, 1920, 1080, 60);
    zeltest::setInputSummary(model->ram_para, 4, 3840, 2160, 60);
    zeltest::setInputSummary(model->ram_para, 1, 1280, 1024, 60);
    for (int k : {0, 5, 2}) {
        g_mode_select = k;
        click(g_mainwindow, "Button_mode");
        click(g_mainwindow, "Button_mode_save");
    }
    g_mode_select = 0;   // picked in the pop-up; mode 3 is in use
    g_tip->hide();

    // Both output FPGAs up, with the simulated board's cards on their ports.
    zeltest::bringUpFpgas();
    g_mainwindow->syncUpdate();

    g_lockwindow = new LockWindow(nullptr);
    inEnglishAndChinese(model, root, [&](Shots& shot) {
        g_mainwindow->language_changed();

        shot("home", g_mainwindow);
        // what cannot be saved or bound, in the line under the status
        alerts::raise(alerts::kSettingsNotSaved, "no room");
        alerts::raise(alerts::kTcpPortNotBound, "taken", 5000);
        alerts::raise(alerts::kUdpPortNotBound, "taken", 5008);
        alerts::raise(alerts::kDataNotWritable, "no folder");
        alerts::raise_for(alerts::kFileReplaced, "/data/configs/tcpip.ini", "a folder", 2);
        tick(100);
        shot("home_alerts", g_mainwindow);
        alerts::reset();
        tick(100);
        click(g_mainwindow, "Button_mode");
        shot("home_modes", g_mainwindow);
        click(g_mainwindow, "Button_mode_close");

        g_lockwindow->language_changed();
        shot("lock", g_lockwindow);

        click(g_mainwindow, "option");
        shot("settings", g_option);
        g_imagelayoutpassword = "1234";
        click(g_option, "image_layout");
        g_numberkeyboard->move(420, 0);
        click(g_numberkeyboard, "Button_1");
        click(g_numberkeyboard, "Button_2");
        shot("keypad", g_option, g_numberkeyboard);
        click(g_numberkeyboard, "Button_cancel");
        click(g_option, "Button_back");

        click(g_mainwindow, "machinestate");
        shot("status", g_machinestate);
        QRoundProgressBar::create_qround_bar(g_machinestate);
        g_qround_bar->para_sync(64);
        shot("ring", g_machinestate);
        g_qround_bar->para_sync(100);
        click(g_machinestate, "Button_back");
        flushDeletes();

        g_mainwindow->update_start();
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* screen = qobject_cast<FirmwareUpdate*>(w); screen && screen->isVisible())
                shot("update", screen);
        g_mainwindow->update_over();

        g_tip->tip_create(TIP::kUsbIn);
        shot("notice", g_mainwindow, g_tip);
        g_tip->tip_create(TIP::kNotSaved);
        shot("notice_not_saved", g_mainwindow, g_tip);
        g_tip->tip_create(TIP::kModeDamaged);
        shot("notice_mode_damaged", g_mainwindow, g_tip);
        g_tip->hide();

    });
}

// The video setup pages with a few windows, signals and crops.
TEST_F(ShellTest, VideoPageScreenshotsInEnglishAndChinese)
{
    zeltest::setInputSummary(model->ram_para, 2, 1920, 1080, 60);
    zeltest::setInputSummary(model->ram_para, 4, 3840, 2160, 60);
    for (int w : {1, 2})
        ram_set_u16(model->ram_para, ramaddr::window(w) + ramaddr::kWinState, 1);
    ram_set_u16(model->ram_para, ramaddr::window(0) + ramaddr::kWinWidth, 960);
    for (int k = 0; k < 3; ++k) {
        CROP_PARA c = {0, 640 * k, 0, 640, 1080};
        model->ZelAddNewCrop(2, &c);
        model->ZelCropSourceInit();
    }
    // Two saved modes, the second current.
    for (int k : {0, 1}) {
        g_mode_select = k;
        click(g_mainwindow, "Button_mode");
        click(g_mainwindow, "Button_mode_save");
    }
    // Mode 2 keeps an on-screen display.
    ram_set_u16(model->ram_user_mode[1] + ramaddr::kSlotMarkerLen, ramaddr::kOsdOn - ramaddr::kModeStart, 1);
    zeltest::writeText("/data/modes/MO02.json", R"({"name": "news", "osdcount": 1, "oactcount": 1,
      "menu": {"osd1": {"type": 0, "status": "on", "pos": {"x": 0, "y": 960, "w": 1920, "h": 120, "layer": "top"},
        "act": {"effect": 4, "speed": 3, "staytime": 0}, "backpara": {"enable": "on", "color": "0x1E3A8A"},
        "fontpara": {"startx": 8, "starty": 8, "fontw": 64, "fonth": 64, "wordspace": 2, "verticalspace": 2,
                     "color": "0xFFD400"}, "texts": ["Welcome to the annual meeting\nHall A"]}}})");
    model->ram_para_save();
    g_imagelayoutpassword = "";

    inEnglishAndChinese(model, root, [&](Shots& shot) {
        g_tip->hide();

        click(g_mainwindow, "option");
        click(g_option, "image_layout");
        ASSERT_NE(g_imagelayout, nullptr);
        shot("layout", g_imagelayout);
        click(child<QWidget>(g_imagelayout, "frame_strip"), "2");
        g_numberkeyboard->move(420, 0);
        QTest::mouseClick(child<QWidget>(g_imagelayout, "lineEdit_X"), Qt::LeftButton);
        click(g_numberkeyboard, "Button_4");
        shot("layout_keypad", g_imagelayout, g_numberkeyboard);
        click(g_numberkeyboard, "Button_cancel");

        click(g_imagelayout, "Button_source_select");
        ASSERT_NE(g_inputchoose, nullptr);
        click(child<QWidget>(g_inputchoose, "frame"), "2");
        shot("source", g_inputchoose);
        click(child<QWidget>(g_inputchoose, "frame"), "Button_menu");
        shot("source_menu", g_inputchoose);

        click(g_inputchoose, "Button_inputcut");
        ASSERT_NE(g_inputcut, nullptr);
        shot("crop", g_inputcut);
        click(child<QWidget>(g_inputcut, "frame_source"), "2");
        shot("crop_edit", g_inputcut);
        click(g_inputcut, "Button_back");

        click(child<QWidget>(g_inputchoose, "frame"), "Button_menu");
        click(g_inputchoose, "Button_EDID");
        ASSERT_NE(g_edidset, nullptr);
        click(child<QWidget>(g_edidset, "frame_source"), "0");
        shot("edid", g_edidset);
        click(g_edidset, "Button_back");
        click(g_inputchoose, "Button_back");
        click(g_imagelayout, "Button_back");

        click(g_option, "image_quality");
        ASSERT_NE(g_imagequality, nullptr);
        shot("quality", g_imagequality);
        click(g_imagequality, "Button_temperature");
        shot("quality_temperature", g_imagequality);
        click(g_imagequality, "Button_back");
        click(g_option, "Button_back");

        ram_set_u16(model->ram_para, ramaddr::kCurrentMode, 2);   // choosing sources above left it
        model->ram_para_save();
        g_tip->hide();
        click(g_mainwindow, "Button_mode");
        click(g_mainwindow, "custommode");
        ASSERT_NE(g_custommode, nullptr);
        shot("modes", g_custommode);
        click(child<QWidget>(g_custommode, "widget_list"), "3");
        shot("modes_empty", g_custommode);
        click(g_custommode, "Button_back");
        flushDeletes();

    });
}

TEST_F(ShellTest, SystemPageScreenshotsInEnglishAndChinese)
{
    fpga_manage* fpga = zeltest::bringUpFpgas();
    ConfigEngine::pInstance();
    fpga->usb_upgrade_time = "14:3:25    14:5:2";
    zeltest::writeText("/data/rcvrecovery/JYFX_wall", "recovery");
    for (const char* name : {"/data/smartmapping/P3_indoor.jyfile", "/data/smartmapping/P2.5_stage.jyfile",
                             "/mnt/usb1/P4_outdoor.jyfile"})
        zeltest::writeText(name, "scan");
    for (int i = 0; i < 20; ++i)
        factoryage_log.push_back(QStringLiteral("12-06 %1:%2 %3 %4 0 %5 31 0")
                                     .arg(8 + i / 20, 2, 10, QLatin1Char('0'))
                                     .arg(i * 3 % 60, 2, 10, QLatin1Char('0'))
                                     .arg(i * 2)
                                     .arg(i == 7 ? 27 : 31)
                                     .arg(i * 3));
    for (const char* name : {"T71N_APP_V1.2.ZEL", "T71N_FPGA_V3.0.ZEL", "OSD_FONT_CN.ZELZK"})
        zeltest::writeText(std::string("/mnt/usb1/ZEL-T71/") + name, "package");
    ram_set_u16(model->ram_para, ramaddr::window(2) + ramaddr::kWinState, 1);
    ram_set_u16(model->ram_para, ramaddr::kSpliceMode, 3);
    ram_set_u16(model->ram_para, ramaddr::kOutputArea + 4, 960);
    ram_set_u16(model->ram_para, ramaddr::kOutputArea + 6, 1080);
    ram_set_u16(model->ram_para, ramaddr::kOutputArea + 12, 960);
    ram_set_u16(model->ram_para, ramaddr::kOutputArea + 14, 1080);

    click(g_mainwindow, "option");
    inEnglishAndChinese(model, root, [&](Shots& shot) {
        g_option->language_changed();

        click(g_option, "output_set");
        shot("output_led", g_outputset);
        click(g_outputset, "Button_lanset");
        click(g_outputset, "Button_wlan3");
        shot("output_ports", g_outputset);
        click(g_outputset, "Button_back");

        click(g_option, "test_chart");
        click(g_test_chart->findChild<QFrame*>("frame"), "5");
        shot("test_chart", g_test_chart);
        click(g_test_chart, "Button_back");

        click(g_option, "AdvanceButton");
        shot("advanced_lcd", g_advancedoption);
        click(g_advancedoption, "Button_other");
        shot("advanced_other", g_advancedoption);
        click(g_advancedoption, "Button_factory");
        shot("advanced_factory", g_advancedoption);
        click(g_advancedoption, "Button_reset");
        shot("advanced_reset", g_advancedoption);
        click(g_advancedoption, "Button_language");
        click(g_advancedoption, "Button_rcv_recovery");
        jobblock::set16(jobblock::kCheckResult, 4);
        std::thread([] { cardjobs::report_faulty_card("01/02/05/06"); }).join();
        QCoreApplication::processEvents();
        shot("advanced_recovery", g_advancedoption);
        click(g_advancedoption, "Button_factory_age");
        keyIn(QString::fromLatin1(AdvancedOption::kAgingCode));
        shot("advanced_aging", g_advancedoption);
        click(g_advancedoption, "Button_back");
        flushDeletes();

        click(g_option, "smart_mapping");
        shot("mapping_cabinet", g_smartmapping);
        click(g_smartmapping, "Button_next");
        shot("mapping_port", g_smartmapping);
        click(g_smartmapping, "Button_next_2");
        shot("mapping_screen", g_smartmapping);
        click(g_smartmapping, "Button_route");
        shot("mapping_routing", g_smartmapping);
        click(g_smartmapping, "Button_route5");
        click(g_smartmapping, "Button_loadscan");
        shot("mapping_load_port", g_smartmapping);
        click(g_smartmapping, "Button_next_5");
        shot("mapping_files", g_smartmapping);
        click(g_smartmapping, "Button_paraweld");
        shot("mapping_curing", g_smartmapping);
        click(g_smartmapping, "Button_mapping");
        shot("mapping_switch", g_smartmapping);
        click(g_smartmapping, "Button_back");
        flushDeletes();

        click(g_option, "link_set");
        shot("link_serial", g_linkoption);
        click(g_linkoption, "Button_wlan");
        shot("link_network", g_linkoption);
        // An address octet left empty stops Apply and is marked.
        g_linkoption->findChild<QLineEdit*>("lineEditIp4")->clear();
        click(g_linkoption, "Button_net_apply");
        shot("link_network_marked", g_linkoption);
        click(g_linkoption, "Button_usb");
        model->test_signal(104);
        shot("link_usb", g_linkoption);
        click(g_linkoption, "Button_back");
        flushDeletes();

    });
}
