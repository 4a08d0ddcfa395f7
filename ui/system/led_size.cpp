#include "ui/system/led_size.h"

#include <QMutexLocker>

#include "core/global.h"
#include "core/utils.h"
#include "ui/shell/fpga_view.h"

namespace sys {

bool requestLedSizeHandover()
{
    if (!shell::fpga_running(0) || !shell::fpga_running(1))
        return false;
    QMutexLocker lock(&Utils::_led_para_init_mutex);
    g_set_led_para = 1;
    g_set_led_setup = 0;
    shell::fpga_wake();
    return true;
}

}  // namespace sys
