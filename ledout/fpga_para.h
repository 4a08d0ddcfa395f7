// The few parameter-image fields and change reports the LED output uses, in one place.
// Words are little-endian u16 at image addresses (0x562/0x564 LED screen size, 0x844 LED screen
// closed, 0x566/0x568 output offset).
#pragma once

#include <cstdint>
#include <functional>

namespace ledpara {

constexpr uint32_t kLedWidth = 0x562;
constexpr uint32_t kLedHeight = 0x564;
constexpr uint32_t kOffsetX = 0x566;
constexpr uint32_t kOffsetY = 0x568;
constexpr uint32_t kScreenClosed = 0x844;
constexpr uint32_t kBrightness = 0x880;

uint16_t word(uint32_t address);
void setWord(uint32_t address, uint16_t value);
// Reports a change to the GUI thread (ZelRamPara::test_signal).
void test_signal(int code);

// Test seam: sees every code reported through test_signal above.
void setSignalSpy(std::function<void(int)> spy);

}  // namespace ledpara
