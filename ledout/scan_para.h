// Records of the smart-mapping work that the receiving-card packets read.
#pragma once

#include <cstdint>

// One receiving-card register operation of a scan-parameter file: the packets use the register
// number (low byte of `reg`) and the mask (first byte) and value (second byte) of `mask_value`.
struct SCAN_PARA {
    uint32_t reg = 0;
    uint16_t mask_value = 0;
    char text[17] = {};   // the record's name, NUL-terminated
};

// Records of a card operation file as fpga_manage::get_operate_deal_para reads them: record n is
// 22 bytes at offset 4 + 22 n, a 16-byte name, the u32 register field and the u16 mask/value
// field, little-endian.
namespace scanrecord {
constexpr uint32_t kFirst = 4;
constexpr uint32_t kSize = 22;
constexpr uint32_t kTextSize = 16;
constexpr uint32_t kRegAt = 16;
constexpr uint32_t kMaskValueAt = 20;
static_assert(sizeof(SCAN_PARA::text) == kTextSize + 1, "room for the name and its end");
}  // namespace scanrecord

// The smart-mapping record written by the smart-mapping page (12 bytes as the page stores them).
struct LineType {
    uint16_t width;      // cabinet width W in pixels
    uint16_t height;     // cabinet height H
    uint16_t x_offset;   // horizontal offset of the screen
    uint16_t y_offset;   // vertical offset
    uint8_t port;        // output port 0-31 (16-31 on FPGA 1)
    uint8_t rows;
    uint8_t columns;
    uint8_t pattern;     // routing pattern 1-16
};
static_assert(sizeof(LineType) == 12, "smart-mapping record layout");

extern LineType line_type;
