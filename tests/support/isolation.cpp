#include "support/isolation.h"

#include <QApplication>
#include <QPointer>
#include <QWidget>

#include <atomic>
#include <cstring>
#include <functional>
#include <type_traits>
#include <vector>

#include "chips/drv_i2c.h"
#include "chips/tarvosource.h"
#include "core/alerts.h"
#include "platform/file_sync.h"
#include "core/config_engine.h"
#include "core/file_store.h"
#include "core/global.h"
#include "core/md5.h"
#include "core/omenu.h"
#include "core/syncupdate.h"
#include "core/worker_stop.h"
#include "core/zelrampara.h"
#include "engine/c331_manage.h"
#include "ledout/card_job_report.h"
#include "ledout/clock_record_run.h"
#include "ledout/fpga_manage.h"
#include "ledout/fpga_para.h"
#include "ledout/scan_para.h"
#include "links/networkmanage.h"
#include "links/reply_queue.h"
#include "links/t71_wifi_config.h"
#include "links/uart_inout.h"
#include "links/uart_inout_4G.h"
#include "links/udpnetmanage.h"
#include "links/usbserver.h"
#include "platform/clock.h"
#include "sim/card_chain.h"
#include "sim/fpga_model.h"
#include "sim/sim_config.h"
#include "support/test_root.h"
#include "ui/shell/QRoundProgressBar.h"
#include "ui/shell/lcd_touch.h"
#include "ui/shell/machinestate.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/my_lineedit.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/option.h"
#include "ui/shell/page_nav.h"
#include "ui/shell/tip.h"
#include "ui/system/advancedoption.h"
#include "ui/system/linkoption.h"
#include "ui/system/outputset.h"
#include "ui/system/smartmapping.h"
#include "ui/system/test_chart.h"
#include "ui/video/custommode.h"
#include "ui/video/edidset.h"
#include "ui/video/imagelayout.h"
#include "ui/video/imagequality.h"
#include "ui/video/inputchoose.h"
#include "ui/video/inputcut.h"

namespace zeltest {

namespace {

// The values of the system's globals as the program started, put back after every test.
class GlobalsSnapshot {
public:
    template <class T>
    void keep(T& v)
    {
        restores_.push_back([&v, saved = v] { v = saved; });
    }
    template <class T>
    void keep(std::atomic<T>& v)
    {
        restores_.push_back([&v, saved = v.load()] { v = saved; });
    }
    template <class T, size_t N>
    void keep(T (&a)[N])
    {
        if constexpr (std::is_trivially_copyable_v<T> && std::is_copy_assignable_v<T>) {
            std::vector<unsigned char> saved(sizeof a);
            std::memcpy(saved.data(), a, sizeof a);
            restores_.push_back([&a, saved] { std::memcpy(a, saved.data(), sizeof a); });
        } else {
            for (T& v : a)
                keep(v);
        }
    }
    void restore() const
    {
        for (const auto& r : restores_)
            r();
    }

private:
    std::vector<std::function<void()>> restores_;
};

// A new global of the system gets its line here, a new singleton its drop in resetSystemState().
GlobalsSnapshot takeSnapshot()
{
    GlobalsSnapshot s;
    // core
    s.keep(g_str_ip), s.keep(g_srt_mask), s.keep(g_str_gateway), s.keep(g_str_mac), s.keep(g_str_barcode);
    s.keep(g_str_wifi_ip), s.keep(g_dtsIp), s.keep(g_iVor_cloudserverip), s.keep(g_iVor_clouduserid);
    s.keep(g_iVor_controllername), s.keep(g_iVor_cloudserverport), s.keep(g_iVor_cloud);
    s.keep(g_imagelayoutpassword), s.keep(g_check_edid), s.keep(g_usb_grade_path), s.keep(g_rcv_sync_led);
    s.keep(g_port), s.keep(g_int_tcp_port), s.keep(g_check_source), s.keep(g_zel_max_pixel);
    s.keep(g_lcd_lang_valid), s.keep(g_pid), s.keep(g_update_status), s.keep(g_debugSwitch);
    s.keep(G_timeTicks), s.keep(G_reboot_tickTicks), s.keep(g_app_reset_flag), s.keep(g_update_flag);
    s.keep(g_page_focus), s.keep(g_language), s.keep(g_back_to_mainwindow_time), s.keep(g_auto_lock_time);
    s.keep(g_timer), s.keep(g_mainwindow), s.keep(g_lockwindow), s.keep(l_str), s.keep(g_jyfile_name);
    s.keep(factoryage_log), s.keep(g_mode_select), s.keep(pc_cmd_valid), s.keep(pc_cmd_time);
    s.keep(g_passby_trans_port), s.keep(g_usb_grade), s.keep(g_set_led_para), s.keep(g_set_led_setup);
    s.keep(g_led_para_released);
    s.keep(fileBuf_tarvo), s.keep(edid_ram_table), s.keep(edid_ram_table_from), s.keep(md5);
    s.keep(g_osd_list), s.keep(filestore::before_rename), s.keep(g_cut_source_state), s.keep(g_image_current);
    // engine, LED output, links
    s.keep(g_c331_source_online), s.keep(g_fpga_c331_start), s.keep(g_osd_update), s.keep(g_force_bkcolor);
    s.keep(g_clock_record), s.keep(g_change), s.keep(g_send_para), s.keep(readtime_ticks), s.keep(line_type);
    s.keep(fpga_manage::spin_hook), s.keep(g_wifi_reset_flag);
    // pages
    s.keep(factoryage_log_diff3), s.keep(factoryage_log_diff5), s.keep(factoryage_log_diff10);
    s.keep(factoryage_log_diff20), s.keep(factoryage_log_diffmore), s.keep(factoryage_log2_diff3);
    s.keep(factoryage_log2_diff5), s.keep(factoryage_log2_diff10), s.keep(factoryage_log2_diff20);
    s.keep(factoryage_log2_diffmore);
    s.keep(g_tip), s.keep(g_lineedit), s.keep(g_qround_bar), s.keep(g_machinestate), s.keep(g_numberkeyboard);
    s.keep(g_option), s.keep(g_test_chart), s.keep(g_linkoption), s.keep(g_advancedoption), s.keep(g_outputset);
    s.keep(g_smartmapping), s.keep(g_edidset), s.keep(g_imagequality), s.keep(g_custommode);
    s.keep(g_inputchoose), s.keep(g_imagelayout), s.keep(g_inputcut);
    return s;
}

const GlobalsSnapshot& startupGlobals()
{
    static const GlobalsSnapshot snapshot = takeSnapshot();
    return snapshot;
}

// Singletons that are QObjects go through QObject's destructor: the program never deletes them,
// and some keep their own destructor private.
template <class T>
void drop(T*& instance)
{
    if constexpr (std::is_base_of_v<QObject, T>)
        delete static_cast<QObject*>(instance);
    else
        delete instance;
    instance = nullptr;
}

void dropLinks()
{
    drop(networkManage::p_networkManage);
    drop(udpnetManage::p_udpnetManage);
    drop(Jy_uart_inout::p_uart_inout);
    drop(Jy_uart_inout_4G::p_uart_inout_4G);
    drop(UsbServer::p_usbserver);
    drop(T71_WIFI_CONFIG::p_wifi);
    // The shared reply queues still name the links that are gone.
    auto release = [](auto& queue) {
        queue.detach();
        queue.clear();
    };
    release(uartReplyQueue());
    release(tcpReplyQueue());
    release(udpReplyQueue());
}

// Every window and page, with what the event loop still had to delete.
void closeWindows()
{
    QList<QPointer<QWidget>> windows;
    for (QWidget* w : QApplication::topLevelWidgets())
        windows.append(w);
    for (const QPointer<QWidget>& w : windows)
        delete w.data();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

}  // namespace

void resetSystemState()
{
    // Every worker ends before any object a worker reads goes.
    stopWorkers();
    dropLinks();
    drop(c331_manage::p_c331_manage);
    drop(tarvosource::p_tarvo_source);
    drop(fpga_manage::p_fpga_manage);
    drop(drv_i2c::p_drv_i2c);
    closeWindows();
    drop(lcd_touch::p_lcd_touch);
    drop(SyncUpdate::p_SyncUpdate);
    drop(ConfigEngine::p_config);
    drop(ZelRamPara::p_zelrampara_config);

    shell::setModalRunner(nullptr);
    cardjobs::setProgressSpy(nullptr);
    cardjobs::clear_recovery_list();
    ledpara::setSignalSpy(nullptr);
    platform::resetSimClock();
    platform::files::stopWatching();
    alerts::reset();
    sim::forgetConfig();
    sim::cardChain().reset();
    sim::forgetFpgas();
    startupGlobals().restore();
}

IsolationListener::IsolationListener() { startupGlobals(); }

IsolationListener::~IsolationListener() = default;

void IsolationListener::OnTestStart(const ::testing::TestInfo&) { root_ = std::make_unique<TempRoot>(); }

void IsolationListener::OnTestEnd(const ::testing::TestInfo&)
{
    resetSystemState();
    root_.reset();
}

}  // namespace zeltest
