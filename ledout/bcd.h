// Two decimal digits in one byte, as the clock command, the run-time recorder's start times and
// the FPGAs' version registers carry them.
#pragma once

#include <cstdint>

namespace bcd {

constexpr uint8_t decode(uint8_t b) { return static_cast<uint8_t>((b >> 4) * 10 + (b & 0x0F)); }
// Both halves are decimal digits (0x0A would otherwise read as 10).
constexpr bool valid(uint8_t b) { return (b >> 4) <= 9 && (b & 0x0F) <= 9; }
// The last two digits of v.
constexpr uint8_t encode(unsigned v) { return static_cast<uint8_t>(((v / 10) % 10) << 4 | (v % 10)); }

}  // namespace bcd
