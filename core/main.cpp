// Process entry point: brings the box up in its fixed order on the main thread, wires the change
// reports to the change dispatcher, starts the links and runs the event loop. A restart is the
// GUI tick running "reboot". SIGINT, SIGTERM and SIGHUP, from the first instruction on, end the
// start-up or the loop, and the workers are then stopped before anything they use is destroyed;
// so is an exit() from inside Qt (the display gone).
#include <QApplication>
#include <QPixmap>
#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "chips/tarvosource.h"
#include "core/config_engine.h"
#include "core/global.h"
#include "core/syncupdate.h"
#include "core/worker_stop.h"
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
    auto* snapshot = new QTimer(qApp);
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

int g_stopPipe[2] = {-1, -1};

extern "C" void onStopSignal(int)
{
    const int saved = errno;
    requestStop();
    const char byte = 1;
    (void)!::write(g_stopPipe[1], &byte, 1);
    errno = saved;
}

// Taken before anything else is done, so a stop is never lost at start-up: the handler marks the
// stop and writes to a pipe, which the event loop watches once it exists and the start-up pause
// waits on. A shell without job control starts a background box with SIGINT ignored, which the
// handler replaces.
void takeStopSignals()
{
    if (::pipe2(g_stopPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        std::perror("zelT71N: no pipe for the stop signals");
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigset_t stops;
    sigemptyset(&stops);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(sig, &action, nullptr);
        sigaddset(&stops, sig);
    }
    pthread_sigmask(SIG_UNBLOCK, &stops, nullptr);
}

// The stop signals end the event loop on this thread.
void watchStopSignals(QCoreApplication& app)
{
    if (g_stopPipe[0] < 0)
        return;
    auto* notifier = new QSocketNotifier(g_stopPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
        char bytes[16];
        while (::read(g_stopPipe[0], bytes, sizeof bytes) > 0) {
        }
        QCoreApplication::quit();
    });
}

// The start-up pause: `ms` milliseconds, or less when a stop comes. The signal may be taken by
// any thread, so the pause waits on the pipe rather than on its own interruption; the pipe's
// bytes stay for the event loop.
void startPause(int ms)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!stopRequested()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return;
        if (g_stopPipe[0] < 0) {
            // No pipe: look at the request now and then.
            ::usleep(static_cast<useconds_t>(std::min<long long>(left.count(), 10) * 1000));
            continue;
        }
        pollfd p{g_stopPipe[0], POLLIN, 0};
        ::poll(&p, 1, static_cast<int>(left.count()));
    }
}

}  // namespace

int main(int argc, char** argv)
{
    takeStopSignals();
    // Line by line, so the diagnostics reach a terminal or a log as they happen.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    ConfigEngine::pInstance();
    ZelRamPara::pInstance();
    SyncUpdate::pInstance();
    // A stop during the start-up skips what is still to start and ends as the loop's end does.
    if (stopRequested())
        return 0;

    QApplication app(argc, argv);
    watchStopSignals(app);

    g_mainwindow = new MainWindow(nullptr);
    g_timer = new QTimer();
    QObject::connect(g_timer, &QTimer::timeout, g_mainwindow, &MainWindow::slot_update_timer_ticks);
    g_timer->start(10);

    if (platform::isSim()) {
        sim::setTickSource([] { return G_timeTicks.load(); });   // devices take time in our ticks
        sim::attachBoard();  // the simulated devices answer from here on
    }

    if (!stopRequested()) {
        tarvosource::pInstance();
        fpga_manage::pInstance();
        c331_manage::pInstance();
        fpga_manage::p_fpga_manage->initialize_start();
        tarvosource::p_tarvo_source->initialize();
        lcd_touch::pInstance();
        startPause(4000);
    }

    if (!stopRequested()) {
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
    }

    // Qt ends the process with exit() when it loses the display.
    std::atexit(stopWorkers);
    const int status = stopRequested() ? 0 : app.exec();
    stopWorkers();
    // The dispatcher goes last: what the workers reported before they ended is still saved, and
    // what was acknowledged and not yet carried out is.
    finishAcknowledgedWork();
    return status;
}
