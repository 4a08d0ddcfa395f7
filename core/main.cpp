// Process entry point: brings the box up in its fixed order on the main thread, wires the change
// reports to the change dispatcher, starts the links and runs the event loop for good. A restart
// is the GUI tick running "reboot"; nothing here tears anything down.
#include <QApplication>
#include <QPixmap>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "chips/tarvosource.h"
#include "core/config_engine.h"
#include "core/global.h"
#include "core/syncupdate.h"
#include "core/zelrampara.h"
#include "engine/c331_manage.h"
#include "ledout/fpga_manage.h"
#include "links/networkmanage.h"
#include "links/t71_wifi_config.h"
#include "links/uart_inout.h"
#include "links/uart_inout_4G.h"
#include "links/udpnetmanage.h"
#include "links/usbserver.h"
#include "platform/platform.h"
#include "sim/sim_board.h"
#include "sim/sim_clock.h"
#include "ui/shell/lcd_touch.h"
#include "ui/shell/lockwindow.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/numberkeyboard.h"

namespace {

// The simulated board's outside view for whoever drives the running process: the video chip's
// registers under "/var/sim", and, when ZEL_SCREENSHOT names a file, a picture of the lock
// screen once it is up.
void startSimObservers()
{
    auto* snapshot = new QTimer();
    QObject::connect(snapshot, &QTimer::timeout, [] { sim::writeDeviceSnapshot(); });
    snapshot->start(200);

    if (const char* shot = std::getenv("ZEL_SCREENSHOT")) {
        // Saved only while the lock screen is the page in front, so the picture is proof of it.
        const QString file = QString::fromLocal8Bit(shot);
        QTimer::singleShot(500, [file] {
            if (g_lockwindow && g_lockwindow->isVisible() && g_page_focus == 0)
                g_lockwindow->grab().save(file, "PNG");
        });
    }
}

}  // namespace

int main(int argc, char** argv)
{
    // Line by line, so the diagnostics reach a terminal or a log as they happen.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    ConfigEngine::pInstance();
    ZelRamPara::pInstance();
    SyncUpdate::pInstance();

    QApplication app(argc, argv);

    g_mainwindow = new MainWindow(nullptr);
    g_timer = new QTimer();
    QObject::connect(g_timer, &QTimer::timeout, g_mainwindow, &MainWindow::slot_update_timer_ticks);
    g_timer->start(10);

    if (platform::isSim()) {
        sim::setTickSource([] { return G_timeTicks.load(); });   // devices take time in our ticks
        sim::attachBoard();  // the simulated devices answer from here on
    }

    tarvosource::pInstance();
    fpga_manage::pInstance();
    c331_manage::pInstance();
    fpga_manage::p_fpga_manage->initialize_start();
    tarvosource::p_tarvo_source->initialize();
    lcd_touch::pInstance();

    sleep(4);

    g_lockwindow = new LockWindow(nullptr);
    g_mainwindow->show();
    g_page_focus = 0;
    g_lockwindow->show();

    const QPoint origin = g_mainwindow->pos();
    g_numberkeyboard->setGeometry(QRect(QPoint(origin.x() + 420, origin.y()),
                                        QPoint(origin.x() + 799, origin.y() + 479)));

    QObject::connect(ZelRamPara::p_zelrampara_config, &ZelRamPara::sig_update_para,
                     SyncUpdate::p_SyncUpdate, &SyncUpdate::para_sync);
    UsbServer::pInstance();
    QObject::connect(UsbServer::p_usbserver, &UsbServer::sig_usb_update,
                     SyncUpdate::p_SyncUpdate, &SyncUpdate::para_sync);

    udpnetManage::pInstance();
    Jy_uart_inout::pInstance();
    networkManage::pInstance();
    Jy_uart_inout_4G::pInstance();
    T71_WIFI_CONFIG::pInstance();

    if (platform::isSim())
        startSimObservers();

    return app.exec();
}
