#include "engine/c331_select.h"

#include "platform/gpio.h"
#include "platform/platform.h"

namespace {
// FPGA select lines in the SoC GPIO window (16 = high = FPGA deselected).
constexpr uint32_t kCsFpga0 = 0x207810;
constexpr uint32_t kCsFpga1 = 0x207900;
constexpr uint16_t kLineHigh = 16;
}  // namespace

void c331RouteBusToChip()
{
    platform::GpioWindow& gpio = platform::gpio();
    gpio.write(kCsFpga0, kLineHigh);
    gpio.write(kCsFpga1, kLineHigh);
}
