#include "ui/shell/fpga_view.h"

#include <mutex>

#include "ledout/fpga_manage.h"

namespace shell {

namespace {

// The FPGA manager's thread writes the shadow bytes under reg_mutex; read them under it too.
uint8_t shadowByte(fpga_manage* fpga, int reg, int f)
{
    std::lock_guard<std::mutex> lock(fpga->reg_mutex);
    return fpga->MCU_REG_func[f][reg];
}

}  // namespace

uint32_t port_links()
{
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    return fpga ? fpga->get_wlan_state() : 0;
}

int fpga_status()
{
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    return fpga ? fpga->get_fpga_status() : 0;
}

bool fpga_running(int f)
{
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    return fpga && (f == 0 || f == 1) && shadowByte(fpga, fpga_manage::kRegState, f) == fpga_manage::kRunning;
}

void fpga_wake()
{
    if (fpga_manage* fpga = fpga_manage::p_fpga_manage)
        fpga->wake();
}

uint8_t fpga_register(int reg, int f)
{
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    if (!fpga || (f != 0 && f != 1) || reg < 0 || reg >= fpga_manage::kRegisters)
        return 0;
    fpga->read_from_register(reg, f);
    return shadowByte(fpga, reg, f);
}

}  // namespace shell
