// Where the output ports live in an FPGA's 1024-byte parameter block (FPGA RAM 1). The block is
// the FPGA's own format, so these offsets are the hardware's. Pure tables and lookups.
#pragma once

#include <cstdint>

namespace eth_param {

constexpr unsigned kPorts = 16;               // per FPGA
constexpr unsigned kBlockSize = 1024;
constexpr unsigned kParamRam = 1;             // FPGA RAM that holds the block

// Geometry of port p: x, y, width, height at base, base + 2, base + 4, base + 6.
constexpr uint16_t kPortGeometry[kPorts] = {
    8, 19, 32, 43,                                   // ports 0-3 (19 and 43 are odd: the FPGA's layout)
    520, 528, 536, 544,                              // ports 4-7: 520 + 8 (p - 4)
    576, 584, 592, 600, 608, 616, 624, 632,          // ports 8-15: 576 + 8 (p - 8)
};

// Output window of the FPGA.
constexpr unsigned kWindowX = 56;
constexpr unsigned kWindowY = 58;
constexpr unsigned kWindowW = 60;
constexpr unsigned kWindowH = 62;

// Link bits: byte 96 (ports 0-3 in bits 0, 1, 3, 4), byte 512 (ports 4-7 in bits 0-3), byte 513
// (ports 8-15).
constexpr unsigned kLinkByte0 = 96;
constexpr unsigned kLinkByte1 = 512;
constexpr unsigned kLinkByte2 = 513;
constexpr uint8_t kLinkByte0Kept = 0xE4;      // bits 2 and 5-7 keep their value
constexpr uint8_t kLinkByte1Kept = 0xF0;      // bits 4-7 keep their value

// Words filled by the bring-up and verified by the RAM check.
constexpr unsigned kPortWords = 296;
constexpr unsigned kPortWordsEnd = 360;

// Card count (u16) and status byte of port p, written by the card search.
constexpr uint16_t kCardCount[kPorts] = {100, 102, 108, 110, 560, 564, 568, 572,
                                         640, 644, 648, 652, 656, 660, 664, 668};
constexpr uint16_t kCardStatus[kPorts] = {104, 106, 112, 114, 562, 566, 570, 574,
                                          642, 646, 650, 654, 658, 662, 666, 670};

// Base copy of the geometry, one per FPGA: window width and height, 16 port records (x, y, width,
// height), window x and y.
constexpr unsigned kBackSize = 136;
constexpr unsigned kBackWindowW = 0;
constexpr unsigned kBackWindowH = 2;
constexpr unsigned kBackPorts = 4;
constexpr unsigned kBackWindowX = 132;
constexpr unsigned kBackWindowY = 134;

// Defaults of `eth_param_init(1)`.
constexpr uint16_t kDefaultPortW = 1280;
constexpr uint16_t kDefaultPortH = 512;

// Offsets of the four geometry fields of a port; a port above 15 gives port 0's.
inline void portFields(unsigned port, uint16_t* x, uint16_t* y, uint16_t* w, uint16_t* h)
{
    const uint16_t base = kPortGeometry[port < kPorts ? port : 0];
    *x = base;
    *y = static_cast<uint16_t>(base + 2);
    *w = static_cast<uint16_t>(base + 4);
    *h = static_cast<uint16_t>(base + 6);
}

// Bytes from the card count to the status byte inclusive (5 for ports 0-3, 3 for the others).
inline unsigned countSpan(unsigned port)
{
    return static_cast<unsigned>(kCardStatus[port] - kCardCount[port] + 1);
}

// The three link bytes from registers 128 (ports 0-7) and 144 (ports 8-15), keeping the bits
// that are not link bits.
inline uint8_t linkByte0(uint8_t old, uint8_t reg128)
{
    return static_cast<uint8_t>((old & kLinkByte0Kept) | (reg128 & 0x03) | ((reg128 & 0x0C) << 1));
}
inline uint8_t linkByte1(uint8_t old, uint8_t reg128)
{
    return static_cast<uint8_t>((old & kLinkByte1Kept) | (reg128 >> 4));
}

}  // namespace eth_param
