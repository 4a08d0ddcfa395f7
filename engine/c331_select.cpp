#include "engine/c331_select.h"

#include "ledout/fpga_manage.h"

void c331AttachBusLines() { fpga_manage::pInstance(); }

void c331RouteBusToChip()
{
    // Both FPGA selects high: the FPGAs let go of the bus and the video chip has it.
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    if (!fpga)
        return;
    fpga->setLine(GpioLine::cs_fpga0, kLineHigh);
    fpga->setLine(GpioLine::cs_fpga1, kLineHigh);
}
