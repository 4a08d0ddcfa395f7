#include "core/worker_stop.h"

#include <QCoreApplication>

#include <atomic>

#include "chips/tarvosource.h"
#include "core/ram_layout.h"
#include "core/syncupdate.h"
#include "core/zelrampara.h"
#include "engine/c331_manage.h"
#include "ledout/fpga_manage.h"
#include "links/apart_worker.h"
#include "links/link_thread.h"

namespace {
std::atomic<bool> g_stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");
}  // namespace

void requestStop() { g_stopRequested.store(true); }

bool stopRequested() { return g_stopRequested.load(); }

void stopWorkers()
{
    // The flash work handed apart ends first, while the links still run to send its clients
    // their answers.
    ApartWorker::stop();
    stopAllLinkThreads();
    if (c331_manage::p_c331_manage)
        c331_manage::p_c331_manage->stopThread();
    if (tarvosource::p_tarvo_source)
        tarvosource::p_tarvo_source->stopThread();
    if (fpga_manage::p_fpga_manage)
        fpga_manage::p_fpga_manage->stopThread();
}

void finishAcknowledgedWork()
{
    c331_manage* engine = c331_manage::p_c331_manage;
    if (fpga_manage::p_fpga_manage)
        fpga_manage::p_fpga_manage->storePendingBrightness(engine && engine->wordNotPassedOn(ramaddr::kBrightness));
    // The engine's reports wait on the parameter model, the USB watcher's on the dispatcher.
    if (ZelRamPara::p_zelrampara_config)
        QCoreApplication::sendPostedEvents(ZelRamPara::p_zelrampara_config, QEvent::MetaCall);
    if (!SyncUpdate::p_SyncUpdate)
        return;
    QCoreApplication::sendPostedEvents(SyncUpdate::p_SyncUpdate, QEvent::MetaCall);
    SyncUpdate::p_SyncUpdate->finish_at_stop(engine ? engine->para_chg_flag.load() : 0);
}
