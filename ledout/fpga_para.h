// The few parameter-image fields and change reports the LED output uses, in one place: words
// are little-endian u16 at image addresses of the parameter model.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "core/ram_layout.h"

namespace ledpara {

constexpr uint32_t kLedWidth = ramaddr::kLedWidth;
constexpr uint32_t kLedHeight = ramaddr::kLedHeight;
constexpr uint32_t kScreenClosed = ramaddr::kScreenClosed;
constexpr uint32_t kBrightness = ramaddr::kBrightness;

// 0 (and no effect) while the parameter model does not exist.
uint16_t word(uint32_t address);
void setWord(uint32_t address, uint16_t value);
// A word that reports what the LED output now shows. `replaced`: the image's word the report was
// taken over (-1 for a new report).
struct WordReport {
    uint32_t address;
    uint16_t value;
    int32_t replaced = -1;
};
enum class Reported : uint8_t { Written, Dropped, Kept };
// Writes the report, unless a change of the word is still on its way to the output (not yet
// applied by the video engine, or `request` raised for it) or the word is no longer the one the
// report was taken over: that newer value is then applied over what is shown, and nothing is
// written (Dropped). Written: the video engine takes it as applied. Kept: an LED-size change runs,
// and the caller reports it again once the change has ended (`replaced` is then set).
Reported reportWord(WordReport& report, const std::atomic<uint8_t>& request);
// A commit of the word that the video engine has not passed on yet (its request not raised).
bool wordOnItsWay(uint32_t address);
// ZelRamPara::test_signal on the model.
void test_signal(int code);

// Test seam: sees every code reported through test_signal above.
void setSignalSpy(std::function<void(int)> spy);

}  // namespace ledpara
