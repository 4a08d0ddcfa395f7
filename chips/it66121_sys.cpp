#include "chips/it66121_sys.h"

#include <unistd.h>

#include "ledout/fpga_manage.h"

namespace {
constexpr unsigned kSdiResetUs = 50000;  // 50 ms
constexpr uint16_t kSdiResetLow = 0;
constexpr uint16_t kSdiResetHigh = 1;     // this pad takes 1 (not 16) to release the reset
}  // namespace

void it66121_sys::GS2971_Reset()
{
    fpga_manage* fpga = fpga_manage::pInstance();
    fpga->setLine(GpioLine::rst_sdi, kSdiResetLow);
    usleep(kSdiResetUs);
    fpga->setLine(GpioLine::rst_sdi, kSdiResetHigh);
}
