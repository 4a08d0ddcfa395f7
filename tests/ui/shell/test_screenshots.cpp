// Renders the home page, lock screen, settings menu, status page and keypad at 800 x 480 in
// English and Chinese. The pictures go to $ZEL_SCREENSHOT_DIR when it is set (for looking at
// them), else into the test's root; the test checks that each shows a drawn interface.
#include <QDir>
#include <QImage>
#include <QPainter>

#include <cstdlib>
#include <thread>

#include "core/config_engine.h"
#include "core/ram_layout.h"
#include "ledout/fpga_manage.h"
#include "sim/fpga_model.h"
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

}  // namespace

TEST_F(ShellTest, ScreenshotsInEnglishAndChinese)
{
    // A device with some signals, a saved mode and a current mode.
    auto setSummary = [&](int input, uint16_t w, uint16_t h, uint8_t rate) {
        const unsigned base = ramaddr::kInputSummary + 6 * input;
        ram_set_u16(model->ram_para, base, w);
        ram_set_u16(model->ram_para, base + 2, h);
        model->ram_para[base + 4] = rate;
    };
    setSummary(2, 1920, 1080, 60);
    setSummary(4, 3840, 2160, 60);
    setSummary(1, 1280, 1024, 60);
    for (int k : {0, 5, 2}) {
        g_mode_select = k;
        click(g_mainwindow, "Button_mode");
        click(g_mainwindow, "Button_mode_save");
    }
    g_mode_select = 0;   // picked in the pop-up; mode 3 is in use
    g_tip->hide();

    // Both output FPGAs up, with the simulated board's cards on their ports.
    sim::attachFpgas();
    fpga_manage* fpga = fpga_manage::pInstance();
    fpga->softinit();
    for (int k = 0; k < 5000 && fpga->get_fpga_status() != 1; ++k) {
        G_timeTicks += 1;
        fpga->fpga_manage_deal(fpga);
    }
    g_mainwindow->syncUpdate();

    const QString dir = outDir(root);
    g_lockwindow = new LockWindow(nullptr);
    for (int lang : {1, 0}) {
        ram_set_u16(model->ram_para, ramaddr::kLanguage, static_cast<uint16_t>(lang));
        model->ram_para_save();
        g_mainwindow->language_changed();
        const QString suffix = lang == 1 ? "en" : "zh";
        std::vector<std::pair<QString, QImage>> shots;

        shots.emplace_back("home", grab(g_mainwindow));
        click(g_mainwindow, "Button_mode");
        shots.emplace_back("home_modes", grab(g_mainwindow));
        click(g_mainwindow, "Button_mode_close");

        g_lockwindow->language_changed();
        shots.emplace_back("lock", grab(g_lockwindow));

        click(g_mainwindow, "option");
        shots.emplace_back("settings", grab(g_option));
        g_imagelayoutpassword = "1234";
        click(g_option, "image_layout");
        g_numberkeyboard->move(420, 0);
        click(g_numberkeyboard, "Button_1");
        click(g_numberkeyboard, "Button_2");
        shots.emplace_back("keypad", grab(g_option, g_numberkeyboard));
        click(g_numberkeyboard, "Button_cancel");
        click(g_option, "Button_back");

        click(g_mainwindow, "machinestate");
        shots.emplace_back("status", grab(g_machinestate));
        QRoundProgressBar::create_qround_bar(g_machinestate);
        g_qround_bar->para_sync(64);
        shots.emplace_back("ring", grab(g_machinestate));
        g_qround_bar->para_sync(100);
        click(g_machinestate, "Button_back");
        flushDeletes();

        g_mainwindow->update_start();
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* screen = qobject_cast<FirmwareUpdate*>(w); screen && screen->isVisible())
                shots.emplace_back("update", grab(screen));
        g_mainwindow->update_over();

        g_tip->tip_create(TIP::kUsbIn);
        shots.emplace_back("notice", grab(g_mainwindow, g_tip));
        g_tip->hide();

        for (const auto& [name, img] : shots) {
            EXPECT_EQ(img.size(), QSize(800, 480));
            EXPECT_GT(colours(img), 20) << qPrintable(name);
            EXPECT_TRUE(img.save(dir + "/" + name + "_" + suffix + ".png")) << qPrintable(name);
        }
    }
}

// The video setup pages with a few windows, signals and crops.
TEST_F(ShellTest, VideoPageScreenshotsInEnglishAndChinese)
{
    auto setSummary = [&](int input, uint16_t w, uint16_t h, uint8_t rate) {
        const unsigned base = ramaddr::kInputSummary + 6 * input;
        ram_set_u16(model->ram_para, base, w);
        ram_set_u16(model->ram_para, base + 2, h);
        model->ram_para[base + 4] = rate;
    };
    setSummary(2, 1920, 1080, 60);
    setSummary(4, 3840, 2160, 60);
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

    const QString dir = outDir(root);
    for (int lang : {1, 0}) {
        ram_set_u16(model->ram_para, ramaddr::kLanguage, static_cast<uint16_t>(lang));
        model->ram_para_save();
        g_tip->hide();
        const QString suffix = lang == 1 ? "en" : "zh";
        std::vector<std::pair<QString, QImage>> shots;

        click(g_mainwindow, "option");
        click(g_option, "image_layout");
        ASSERT_NE(g_imagelayout, nullptr);
        shots.emplace_back("layout", grab(g_imagelayout));
        click(child<QWidget>(g_imagelayout, "frame_strip"), "2");
        g_numberkeyboard->move(420, 0);
        QTest::mouseClick(child<QWidget>(g_imagelayout, "lineEdit_X"), Qt::LeftButton);
        click(g_numberkeyboard, "Button_4");
        shots.emplace_back("layout_keypad", grab(g_imagelayout, g_numberkeyboard));
        click(g_numberkeyboard, "Button_cancel");

        click(g_imagelayout, "Button_source_select");
        ASSERT_NE(g_inputchoose, nullptr);
        click(child<QWidget>(g_inputchoose, "frame"), "2");
        shots.emplace_back("source", grab(g_inputchoose));
        click(child<QWidget>(g_inputchoose, "frame"), "Button_menu");
        shots.emplace_back("source_menu", grab(g_inputchoose));

        click(g_inputchoose, "Button_inputcut");
        ASSERT_NE(g_inputcut, nullptr);
        shots.emplace_back("crop", grab(g_inputcut));
        click(child<QWidget>(g_inputcut, "frame_source"), "2");
        shots.emplace_back("crop_edit", grab(g_inputcut));
        click(g_inputcut, "Button_back");

        click(child<QWidget>(g_inputchoose, "frame"), "Button_menu");
        click(g_inputchoose, "Button_EDID");
        ASSERT_NE(g_edidset, nullptr);
        click(child<QWidget>(g_edidset, "frame_source"), "0");
        shots.emplace_back("edid", grab(g_edidset));
        click(g_edidset, "Button_back");
        click(g_inputchoose, "Button_back");
        click(g_imagelayout, "Button_back");

        click(g_option, "image_quality");
        ASSERT_NE(g_imagequality, nullptr);
        shots.emplace_back("quality", grab(g_imagequality));
        click(g_imagequality, "Button_temperature");
        shots.emplace_back("quality_temperature", grab(g_imagequality));
        click(g_imagequality, "Button_back");
        click(g_option, "Button_back");

        ram_set_u16(model->ram_para, ramaddr::kCurrentMode, 2);   // choosing sources above left it
        model->ram_para_save();
        g_tip->hide();
        click(g_mainwindow, "Button_mode");
        click(g_mainwindow, "custommode");
        ASSERT_NE(g_custommode, nullptr);
        shots.emplace_back("modes", grab(g_custommode));
        click(child<QWidget>(g_custommode, "widget_list"), "3");
        shots.emplace_back("modes_empty", grab(g_custommode));
        click(g_custommode, "Button_back");
        flushDeletes();

        for (const auto& [name, img] : shots) {
            EXPECT_EQ(img.size(), QSize(800, 480));
            EXPECT_GT(colours(img), 20) << qPrintable(name);
            EXPECT_TRUE(img.save(dir + "/" + name + "_" + suffix + ".png")) << qPrintable(name);
        }
    }
}

TEST_F(ShellTest, SystemPageScreenshotsInEnglishAndChinese)
{
    sim::attachFpgas();
    fpga_manage* fpga = fpga_manage::pInstance();
    fpga->softinit();
    for (int k = 0; k < 5000 && fpga->get_fpga_status() != 1; ++k) {
        G_timeTicks += 1;
        fpga->fpga_manage_deal(fpga);
    }
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

    const QString dir = outDir(root);
    click(g_mainwindow, "option");
    for (int lang : {1, 0}) {
        ram_set_u16(model->ram_para, ramaddr::kLanguage, static_cast<uint16_t>(lang));
        model->ram_para_save();
        g_option->language_changed();
        const QString suffix = lang == 1 ? "en" : "zh";
        std::vector<std::pair<QString, QImage>> shots;

        click(g_option, "output_set");
        shots.emplace_back("output_led", grab(g_outputset));
        click(g_outputset, "Button_lanset");
        click(g_outputset, "Button_wlan3");
        shots.emplace_back("output_ports", grab(g_outputset));
        click(g_outputset, "Button_back");

        click(g_option, "test_chart");
        click(g_test_chart->findChild<QFrame*>("frame"), "5");
        shots.emplace_back("test_chart", grab(g_test_chart));
        click(g_test_chart, "Button_back");

        click(g_option, "AdvanceButton");
        shots.emplace_back("advanced_lcd", grab(g_advancedoption));
        click(g_advancedoption, "Button_other");
        shots.emplace_back("advanced_other", grab(g_advancedoption));
        click(g_advancedoption, "Button_factory");
        shots.emplace_back("advanced_factory", grab(g_advancedoption));
        click(g_advancedoption, "Button_reset");
        shots.emplace_back("advanced_reset", grab(g_advancedoption));
        click(g_advancedoption, "Button_language");
        click(g_advancedoption, "Button_rcv_recovery");
        jobblock::set16(jobblock::kCheckResult, 4);
        std::thread([] { cardjobs::report_faulty_card("01/02/05/06"); }).join();
        QCoreApplication::processEvents();
        shots.emplace_back("advanced_recovery", grab(g_advancedoption));
        click(g_advancedoption, "Button_factory_age");
        for (QChar ch : QString::fromLatin1(AdvancedOption::kAgingCode))
            click(g_numberkeyboard, QStringLiteral("Button_") + ch);
        click(g_numberkeyboard, "Button_ok");
        shots.emplace_back("advanced_aging", grab(g_advancedoption));
        click(g_advancedoption, "Button_back");
        flushDeletes();

        click(g_option, "smart_mapping");
        shots.emplace_back("mapping_cabinet", grab(g_smartmapping));
        click(g_smartmapping, "Button_next");
        shots.emplace_back("mapping_port", grab(g_smartmapping));
        click(g_smartmapping, "Button_next_2");
        shots.emplace_back("mapping_screen", grab(g_smartmapping));
        click(g_smartmapping, "Button_route");
        shots.emplace_back("mapping_routing", grab(g_smartmapping));
        click(g_smartmapping, "Button_route5");
        click(g_smartmapping, "Button_loadscan");
        shots.emplace_back("mapping_load_port", grab(g_smartmapping));
        click(g_smartmapping, "Button_next_5");
        shots.emplace_back("mapping_files", grab(g_smartmapping));
        click(g_smartmapping, "Button_paraweld");
        shots.emplace_back("mapping_curing", grab(g_smartmapping));
        click(g_smartmapping, "Button_mapping");
        shots.emplace_back("mapping_switch", grab(g_smartmapping));
        click(g_smartmapping, "Button_back");
        flushDeletes();

        click(g_option, "link_set");
        shots.emplace_back("link_serial", grab(g_linkoption));
        click(g_linkoption, "Button_wlan");
        shots.emplace_back("link_network", grab(g_linkoption));
        click(g_linkoption, "Button_usb");
        model->test_signal(104);
        shots.emplace_back("link_usb", grab(g_linkoption));
        click(g_linkoption, "Button_back");
        flushDeletes();

        for (const auto& [name, img] : shots) {
            EXPECT_EQ(img.size(), QSize(800, 480));
            EXPECT_GT(colours(img), 20) << qPrintable(name);
            EXPECT_TRUE(img.save(dir + "/" + name + "_" + suffix + ".png")) << qPrintable(name);
        }
    }
}
