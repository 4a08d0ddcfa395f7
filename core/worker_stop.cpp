#include "core/worker_stop.h"

#include "chips/tarvosource.h"
#include "engine/c331_manage.h"
#include "ledout/fpga_manage.h"
#include "links/link_thread.h"

void stopWorkers()
{
    stopAllLinkThreads();
    if (c331_manage::p_c331_manage)
        c331_manage::p_c331_manage->stopThread();
    if (tarvosource::p_tarvo_source)
        tarvosource::p_tarvo_source->stopThread();
    if (fpga_manage::p_fpga_manage)
        fpga_manage::p_fpga_manage->stopThread();
}
