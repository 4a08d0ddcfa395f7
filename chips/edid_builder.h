// The EDID that an input offers to its video source: an EDID 1.3 base block whose preferred
// (first detailed) timing is the requested mode computed by the VESA CVT reduced-blanking
// formula, and a CEA-861 extension block (audio, speaker allocation, HDMI vendor block).
#pragma once

#include <cstdint>

namespace edid_builder {

constexpr int kEdidSize = 256;
constexpr int kBlockSize = 128;

// A detailed timing (pixels, lines, kHz).
struct cvt_timing {
    uint16_t hactive, hfront, hsync, hback, htotal;
    uint16_t vactive, vfront, vsync, vback, vtotal;
    uint32_t pixel_khz;       // multiple of 250 kHz
    bool hsync_positive;      // reduced blanking: H positive, V negative
    bool vsync_positive;
};

// CVT reduced blanking (version 1) of a progressive mode. False when the mode cannot be
// carried by a detailed timing (zero or too large size or rate, pixel clock above 655.35 MHz).
bool cvt_reduced_blanking(uint16_t width, uint16_t height, uint16_t refresh, cvt_timing& out);

// Builds the 256-byte EDID of a requested mode. False (out untouched) when the mode cannot be
// described (see cvt_reduced_blanking).
bool build_edid(uint16_t width, uint16_t height, uint16_t refresh, uint8_t out[kEdidSize]);

// The checksum byte that makes a 128-byte block sum to 0 modulo 256.
uint8_t block_checksum(const uint8_t* block);
// Header present and both block checksums valid.
bool edid_valid(const uint8_t* edid);

}  // namespace edid_builder
