#include "ui/shell/fpga_view.h"

#include "ledout/fpga_manage.h"

namespace shell {

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
    const fpga_manage* fpga = fpga_manage::p_fpga_manage;
    return fpga && (f == 0 || f == 1) && fpga->MCU_REG_func[f][fpga_manage::kRegState] == fpga_manage::kRunning;
}

uint8_t fpga_register(int reg, int f)
{
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    if (!fpga || (f != 0 && f != 1) || reg < 0 || reg >= fpga_manage::kRegisters)
        return 0;
    fpga->read_from_register(reg, f);
    return fpga->MCU_REG_func[f][reg];
}

}  // namespace shell
