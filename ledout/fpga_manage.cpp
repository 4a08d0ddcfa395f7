#include "ledout/fpga_manage.h"

#include <mutex>

#include "core/global.h"
#include "core/utils.h"
#include "platform/gpio.h"
#include "platform/platform.h"

uint32_t g_change[kChangeWords];
uint8_t g_send_para[kSendParaSize];
uint32_t readtime_ticks = 0;

fpga_manage* fpga_manage::p_fpga_manage = nullptr;

namespace {
std::mutex g_createMutex;

struct LineStart {
    GpioLine line;
    uint16_t level;
};
// Levels set once the window is mapped.
constexpr LineStart kLineStart[] = {
    {GpioLine::src_line_a, kLineLow},   {GpioLine::src_line_b, kLineLow},
    {GpioLine::src_line_c, kLineHigh},  {GpioLine::cmd_fpga1b, kLineHigh},
    {GpioLine::aux_reg, 1},             {GpioLine::sel_flash3b, kLineHigh},
};
}  // namespace

fpga_manage* fpga_manage::pInstance()
{
    std::lock_guard<std::mutex> lock(g_createMutex);
    if (!p_fpga_manage) {
        p_fpga_manage = new fpga_manage();
        p_fpga_manage->initialize();
    }
    return p_fpga_manage;
}

fpga_manage::fpga_manage() : drv_(lines_)
{
    writeLogMsg(LOG_BANNER, "====fpga_manage::fpga_manage()=====");
    for (int i = 0; i < 2; ++i) {
        MCU_REG_func[i] = regShadow_[i];
        MCU_RAM_PARA_func[i] = ramPara_[i];
        MCU_RAM_RX_func[i] = ramRx_[i];
        MCU_RAM_TX_func[i] = ramTx_[i];
        MCU_RAM_ETH_PARA_func[i] = ramEthPara_[i];
        MCU_RAM_ETH_BACK_PARA_func[i] = ramEthBackPara_[i];
    }
}

int fpga_manage::initialize()
{
    for (int i = 0; i < fpga_drv::kDevices; ++i)
        drv_.initialize_vbyne1(i);

    platform::GpioWindow& window = platform::gpio();
    if (window.map() != 0 || !window.mapped()) {
        ZEL_DEBUG("\n DMEM request failed!!");
        lines_.use(nullptr);
        return 255;
    }
    lines_.use(&window);
    for (const LineStart& s : kLineStart)
        lines_.set(s.line, s.level);
    return 0;
}

void fpga_manage::softinit() {}

int fpga_manage::initialize_start()
{
    softinit();
    return 0;
}

void* fpga_manage::fpgamanageThread(void*) { return nullptr; }

void fpga_manage::fpga_manage_deal(void*) {}

void fpga_manage::usb_upgrade_manage_deal(void*) {}

int fpga_manage::get_fpga_status() { return 0; }
