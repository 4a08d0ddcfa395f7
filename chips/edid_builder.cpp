#include "chips/edid_builder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace edid_builder {

namespace {

// ---- CVT reduced blanking, version 1 ----
constexpr double kRbMinVBlankUs = 460.0;  // minimum vertical blanking time
constexpr int kRbVFrontPorch = 3;
constexpr int kRbMinVBackPorch = 6;
constexpr int kRbHBlank = 160;
constexpr int kRbHSync = 32;
constexpr int kRbHFrontPorch = 48;
constexpr int kCellGranularity = 8;
constexpr double kClockStepMhz = 0.25;
constexpr uint32_t kMaxDtdPixelKhz = 655350;  // 16 bits of 10 kHz
constexpr uint16_t kMaxDtdSize = 4095;        // 12-bit active and blanking fields

// Vertical sync width by aspect ratio.
struct AspectSync {
    int w, h, vsync;
};
constexpr AspectSync kAspectSync[] = {{4, 3, 4}, {16, 9, 5}, {16, 10, 6}, {5, 4, 7}, {15, 9, 7}};
constexpr int kOtherAspectVSync = 10;

int vsync_width(uint16_t width, uint16_t height)
{
    for (const AspectSync& a : kAspectSync)
        if (uint32_t(width) * a.h == uint32_t(height) * a.w)
            return a.vsync;
    return kOtherAspectVSync;
}

// ---- EDID content ----
constexpr uint8_t kHeader[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
// Manufacturer "ZEL" (three 5-bit letters, big-endian) and product code 0x7101.
constexpr uint8_t kVendor[4] = {0x68, 0xAC, 0x01, 0x71};
constexpr uint8_t kWeek = 1;
constexpr uint8_t kYear = 2020 - 1990;
constexpr uint8_t kDigitalInput = 0x80;
constexpr uint8_t kSizeCm[2] = {160, 90};
constexpr uint16_t kSizeMm[2] = {1600, 900};
constexpr uint8_t kGamma22 = 120;              // (gamma x 100) - 100
constexpr uint8_t kFeatures = 0x0E;            // RGB colour, sRGB, preferred timing is the first DTD
constexpr uint8_t kChromaticity[10] = {0xEE, 0x91, 0xA3, 0x54, 0x4C, 0x99, 0x26, 0x0F, 0x50, 0x54};  // sRGB
constexpr uint8_t kEstablished[3] = {0x20, 0x00, 0x00};  // 640x480 at 60 Hz
constexpr char kProductName[] = "ZEL-T71N";

// CEA-861 data blocks: LPCM 2 channels 32/44.1/48 kHz 16/20/24 bit; front left/right
// speakers; HDMI vendor block (IEEE OUI 00-0C-03, physical address 1.0.0.0); video
// capability block (RGB quantization range selectable). No video data block: the preferred
// mode is the detailed timing of the base block.
constexpr uint8_t kCeaBlocks[] = {
    0x23, 0x09, 0x07, 0x07,              // audio data block
    0x83, 0x01, 0x00, 0x00,              // speaker allocation
    0x65, 0x03, 0x0C, 0x00, 0x10, 0x00,  // HDMI vendor-specific block
    0xE2, 0x00, 0x40,                    // video capability data block
};
constexpr uint8_t kCeaFlags = 0xC0;      // underscan by default, basic audio

// 640x480 at 60 Hz (established timing and VIC 1): horizontal 31.469 kHz, 25.175 MHz.
constexpr double kVgaHKhz = 31.469;
constexpr double kVgaVHz = 59.94;
constexpr double kVgaPixelMhz = 25.175;

void put_dtd(uint8_t* d, const cvt_timing& t)
{
    uint16_t pclk = static_cast<uint16_t>(t.pixel_khz / 10);
    uint16_t hblank = t.htotal - t.hactive;
    uint16_t vblank = t.vtotal - t.vactive;
    d[0] = pclk & 0xFF;
    d[1] = pclk >> 8;
    d[2] = t.hactive & 0xFF;
    d[3] = hblank & 0xFF;
    d[4] = ((t.hactive >> 8) << 4) | (hblank >> 8);
    d[5] = t.vactive & 0xFF;
    d[6] = vblank & 0xFF;
    d[7] = ((t.vactive >> 8) << 4) | (vblank >> 8);
    d[8] = t.hfront & 0xFF;
    d[9] = t.hsync & 0xFF;
    d[10] = ((t.vfront & 0x0F) << 4) | (t.vsync & 0x0F);
    d[11] = ((t.hfront >> 8) << 6) | ((t.hsync >> 8) << 4) | ((t.vfront >> 4) << 2) | (t.vsync >> 4);
    d[12] = kSizeMm[0] & 0xFF;
    d[13] = kSizeMm[1] & 0xFF;
    d[14] = ((kSizeMm[0] >> 8) << 4) | (kSizeMm[1] >> 8);
    d[15] = 0;
    d[16] = 0;
    d[17] = 0x18 | (t.vsync_positive ? 0x04 : 0) | (t.hsync_positive ? 0x02 : 0);  // digital separate sync
}

// Display range limits that hold every timing of the EDID: the preferred one and 640x480.
void put_range_limits(uint8_t* d, const cvt_timing& t)
{
    double vhz = t.pixel_khz * 1000.0 / (double(t.htotal) * t.vtotal);
    double hkhz = double(t.pixel_khz) / t.htotal;
    int vmin = std::max(1, int(std::floor(std::min(vhz, kVgaVHz))) - 1);
    int vmax = std::min(255, int(std::ceil(std::max(vhz, kVgaVHz))) + 1);
    int hmin = std::max(1, int(std::floor(std::min(hkhz, kVgaHKhz))) - 1);
    int hmax = std::min(255, int(std::ceil(std::max(hkhz, kVgaHKhz))) + 1);
    int pmax = int(std::ceil(std::max(t.pixel_khz / 1000.0, kVgaPixelMhz) / 10.0));
    const uint8_t head[5] = {0, 0, 0, 0xFD, 0};
    std::memcpy(d, head, 5);
    d[5] = uint8_t(vmin);
    d[6] = uint8_t(vmax);
    d[7] = uint8_t(hmin);
    d[8] = uint8_t(hmax);
    d[9] = uint8_t(std::min(pmax, 255));
    d[10] = 0x00;  // default GTF entry (no secondary curve)
    d[11] = 0x0A;
    std::memset(d + 12, 0x20, 6);
}

void put_name(uint8_t* d)
{
    const uint8_t head[5] = {0, 0, 0, 0xFC, 0};
    std::memcpy(d, head, 5);
    size_t n = std::strlen(kProductName);
    std::memset(d + 5, 0x20, 13);
    std::memcpy(d + 5, kProductName, n);
    d[5 + n] = 0x0A;
}

void put_dummy(uint8_t* d)
{
    std::memset(d, 0, 18);
    d[3] = 0x10;
}

void build_base(uint8_t* b, const cvt_timing& t)
{
    std::memset(b, 0, kBlockSize);
    std::memcpy(b, kHeader, 8);
    std::memcpy(b + 8, kVendor, 4);
    b[16] = kWeek;
    b[17] = kYear;
    b[18] = 1;  // EDID 1.3
    b[19] = 3;
    b[20] = kDigitalInput;
    b[21] = kSizeCm[0];
    b[22] = kSizeCm[1];
    b[23] = kGamma22;
    b[24] = kFeatures;
    std::memcpy(b + 25, kChromaticity, 10);
    std::memcpy(b + 35, kEstablished, 3);
    for (int k = 0; k < 8; ++k) {  // standard timings unused
        b[38 + 2 * k] = 0x01;
        b[39 + 2 * k] = 0x01;
    }
    put_dtd(b + 54, t);
    put_range_limits(b + 72, t);
    put_name(b + 90);
    put_dummy(b + 108);
    b[126] = 1;  // one extension
    b[127] = block_checksum(b);
}

void build_cea(uint8_t* c)
{
    std::memset(c, 0, kBlockSize);
    c[0] = 0x02;
    c[1] = 0x03;
    c[2] = uint8_t(4 + sizeof(kCeaBlocks));  // no detailed timings follow the data blocks
    c[3] = kCeaFlags;
    std::memcpy(c + 4, kCeaBlocks, sizeof(kCeaBlocks));
    c[127] = block_checksum(c);
}

}  // namespace

bool cvt_reduced_blanking(uint16_t width, uint16_t height, uint16_t refresh, cvt_timing& out)
{
    if (width < kCellGranularity || height == 0 || refresh == 0)
        return false;
    uint16_t hpixels = uint16_t(width / kCellGranularity * kCellGranularity);
    double hperiodUs = (1000000.0 / refresh - kRbMinVBlankUs) / height;
    if (hperiodUs <= 0)
        return false;
    int vsync = vsync_width(width, height);
    int vbiLines = int(std::floor(kRbMinVBlankUs / hperiodUs)) + 1;
    int minVbi = kRbVFrontPorch + vsync + kRbMinVBackPorch;
    int actVbi = std::max(vbiLines, minVbi);
    uint32_t vtotal = uint32_t(height) + actVbi;
    uint32_t htotal = uint32_t(hpixels) + kRbHBlank;
    double mhz = kClockStepMhz * std::floor(double(refresh) * vtotal * htotal / 1e6 / kClockStepMhz);
    uint32_t khz = uint32_t(std::lround(mhz * 1000.0));
    if (hpixels > kMaxDtdSize || height > kMaxDtdSize || actVbi > kMaxDtdSize || khz == 0 ||
        khz > kMaxDtdPixelKhz)
        return false;
    out.hactive = hpixels;
    out.hfront = kRbHFrontPorch;
    out.hsync = kRbHSync;
    out.hback = kRbHBlank - kRbHFrontPorch - kRbHSync;
    out.htotal = uint16_t(htotal);
    out.vactive = height;
    out.vfront = kRbVFrontPorch;
    out.vsync = uint16_t(vsync);
    out.vback = uint16_t(actVbi - kRbVFrontPorch - vsync);
    out.vtotal = uint16_t(vtotal);
    out.pixel_khz = khz;
    out.hsync_positive = true;
    out.vsync_positive = false;
    return true;
}

bool build_edid(uint16_t width, uint16_t height, uint16_t refresh, uint8_t out[kEdidSize])
{
    cvt_timing t{};
    if (!cvt_reduced_blanking(width, height, refresh, t))
        return false;
    build_base(out, t);
    build_cea(out + kBlockSize);
    return true;
}

uint8_t block_checksum(const uint8_t* block)
{
    unsigned sum = 0;
    for (int k = 0; k < kBlockSize - 1; ++k)
        sum += block[k];
    return uint8_t((256 - (sum & 0xFF)) & 0xFF);
}

bool edid_valid(const uint8_t* edid)
{
    if (std::memcmp(edid, kHeader, sizeof(kHeader)) != 0)
        return false;
    for (int b = 0; b < kEdidSize / kBlockSize; ++b) {
        unsigned sum = 0;
        for (int k = 0; k < kBlockSize; ++k)
            sum += edid[b * kBlockSize + k];
        if ((sum & 0xFF) != 0)
            return false;
    }
    return true;
}

}  // namespace edid_builder
