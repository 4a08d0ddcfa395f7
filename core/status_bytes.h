// The controller's register and status bytes (ZelRamPara::reg_status) are shared by the links,
// the input thread, the video engine's worker and the USB upgrade: every access of a byte that
// more than one thread touches goes through these atomic byte operations, never a plain read or
// write, so that a masked write of one thread never loses the bits another set meanwhile.
#pragma once

#include <cstdint>

namespace statusbyte {

inline uint8_t load(const unsigned char* byte) { return __atomic_load_n(byte, __ATOMIC_SEQ_CST); }
inline void store(unsigned char* byte, uint8_t value) { __atomic_store_n(byte, value, __ATOMIC_SEQ_CST); }
inline void setBits(unsigned char* byte, uint8_t bits) { __atomic_fetch_or(byte, bits, __ATOMIC_SEQ_CST); }
inline void clearBits(unsigned char* byte, uint8_t bits)
{
    __atomic_fetch_and(byte, uint8_t(~bits), __ATOMIC_SEQ_CST);
}
// Bits under `mask` take those of `value`; the others stay as they are, whoever changes them.
inline void writeMasked(unsigned char* byte, uint8_t mask, uint8_t value)
{
    uint8_t old = load(byte);
    while (!__atomic_compare_exchange_n(byte, &old, uint8_t((old & ~mask) | (value & mask)), false,
                                        __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST)) {
    }
}
// Takes the byte and leaves 0 in its place (a request consumed once).
inline uint8_t take(unsigned char* byte) { return __atomic_exchange_n(byte, uint8_t(0), __ATOMIC_SEQ_CST); }

}  // namespace statusbyte
