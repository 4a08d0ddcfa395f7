// Arithmetic of the picture operations, kept free of chip access so each value can be checked on
// its own: picture values, sharpness filter rows, shrink filter choices and crop offsets.
#pragma once

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>

namespace picture {

// ---- picture values ----------------------------------------------------------------------------
// Brightness, contrast and saturation take a percentage; larger values wrap round at 101.
constexpr int kPercentWrap = 101;
constexpr int wrapPercent(int v)
{
    const int r = v % kPercentWrap;
    return r < 0 ? r + kPercentWrap : r;
}

// -1024 .. 1024 around the neutral 50, stored as a 12-bit two's complement.
constexpr uint32_t brightnessData(int v)
{
    return static_cast<uint32_t>((wrapPercent(v) - 50) * 1024 / 50) & 0xFFF;
}
constexpr uint32_t contrastData(int v) { return static_cast<uint32_t>(wrapPercent(v) * 1023 / 100); }
constexpr uint32_t saturationData(int v) { return contrastData(v) & 0x7FF; }

// Diagonal of the colour matrix: red, green, blue; 8192 is a gain of one.
struct ColorGains {
    uint32_t red, green, blue;
};
constexpr uint32_t kUnityGain = 8192;
constexpr uint32_t kUserGainStep = 64;   // a user gain of 128 is unity
constexpr ColorGains kPresetGains[4] = {
    {0, 0, 0},                              // mode 0: the user's gains (colorGains)
    {8845, 8113, 7056},
    {kUnityGain, kUnityGain, kUnityGain},
    {6944, 8282, 10978},
};
// packed: mode in bits 0-1, blue gain in bits 8-15, green in 16-23, red in 24-31.
constexpr ColorGains colorGains(uint32_t packed)
{
    const uint32_t mode = packed & 0x03;
    if (mode != 0)
        return kPresetGains[mode];
    return {((packed >> 24) & 0xFF) * kUserGainStep, ((packed >> 16) & 0xFF) * kUserGainStep,
            ((packed >> 8) & 0xFF) * kUserGainStep};
}

// ---- sharpness -----------------------------------------------------------------------------------
// Settings up to 10 (all the image-quality page offers) are "off"; each step above adds 12.8 to
// the strength, which saturates at the register's 255.
constexpr int kSharpnessOffset = 10;
constexpr int kSharpnessGain = 6;
constexpr int kSharpnessMaxStrength = 255;
constexpr int sharpnessLevel(int setting) { return setting <= kSharpnessOffset - 1 ? 0 : setting - kSharpnessOffset; }
constexpr int sharpnessGain(int level) { return level > 0 ? kSharpnessGain : 0; }
constexpr int sharpnessStrength(int level)
{
    return level <= 0 ? 0 : std::min(level * 128 / 10, kSharpnessMaxStrength);
}

// Filter row by how much a window is scaled up: 0 up to 1.25, 1 up to 2.0, 2 up to 2.5, 3 above.
// An empty input window falls to row 0.
constexpr int kSharpRows = 4;
constexpr int sharpnessRow(int64_t out, int64_t in)
{
    if (in <= 0 || out <= 0)
        return 0;
    if (2 * out > 5 * in)
        return 3;
    if (out > 2 * in)
        return 2;
    if (4 * out > 5 * in)
        return 1;
    return 0;
}
using SharpRow = std::array<uint8_t, 5>;
constexpr SharpRow kSharpHorizontal[kSharpRows] = {
    SharpRow{44, 49, 56, 63, 2},
    SharpRow{28, 46, 5, 3, 60},
    SharpRow{30, 42, 0, 7, 0},
    SharpRow{36, 43, 58, 4, 5},
};
constexpr SharpRow kSharpVertical[kSharpRows] = {
    SharpRow{44, 50, 56, 0, 0},
    SharpRow{28, 45, 5, 0, 0},
    SharpRow{34, 47, 0, 0, 0},
    SharpRow{42, 48, 59, 0, 0},
};

// ---- shrink filters --------------------------------------------------------------------------------
// Ratios are 16.16 (65536 is 1:1).
struct RatioChoice {
    int below;    // the choice applies to ratios below this
    int choice;
};
constexpr int kNoShrinkSet = 44;
constexpr RatioChoice kHShrinkSets[] = {
    {1, kNoShrinkSet}, {13108, 1},  {26215, 2},  {32769, 4},  {39322, 6},  {45876, 8},  {49153, 12},
    {52429, 17},       {55706, 22}, {58983, 27}, {62260, 32}, {65001, 38},
};
constexpr int hshrinkSet(int ratio)
{
    for (const RatioChoice& c : kHShrinkSets)
        if (ratio < c.below)
            return c.choice;
    return kNoShrinkSet;
}
constexpr RatioChoice kVShrinkRows[] = {
    {13108, 1}, {26215, 2}, {32769, 3}, {39322, 4}, {45876, 5}, {52429, 6}, {58983, 7}, {62260, 8},
};
constexpr int kVShrinkTopRow = 9;
constexpr int vshrinkRow(int ratio)
{
    for (const RatioChoice& c : kVShrinkRows)
        if (ratio < c.below)
            return c.choice;
    return kVShrinkTopRow;
}

// ---- input crops -------------------------------------------------------------------------------------
// The input set-up halves the measured width of a port carrying two pixels per clock: ports 4
// and 5 below format 4, a parallel port at format 3. The picture is twice that width.
constexpr int kFirstDualPort = 4;
constexpr int kFullPixelState = 4;
constexpr int kTwoPixelState = 3;
constexpr int effectiveWidth(int port, int activeWidth, int state)
{
    const bool halved = port >= kFirstDualPort ? state < kFullPixelState : state == kTwoPixelState;
    return halved ? 2 * activeWidth : activeWidth;
}

struct Rect {
    int32_t x, y, width, height;
};
enum CropSide : int { kCropLeft = 0, kCropRight = 1, kCropTop = 2, kCropBottom = 3 };

// A crop that does not fit is not shortened: it falls back to the whole width (or height).
// Returns which directions were reset (bit 0 horizontal, bit 1 vertical).
constexpr int clampCrop(Rect& r, int width, int height)
{
    int reset = 0;
    if (static_cast<int64_t>(r.x) + r.width > width) {
        r.width = width;
        r.x = 0;
        reset |= 1;
    }
    if (static_cast<int64_t>(r.y) + r.height > height) {
        r.y = 0;
        r.height = height;
        reset |= 2;
    }
    return reset;
}

// Margin between the crop and one edge of a width x height picture (negative when the crop
// reaches past that edge; 0 for an unknown side).
constexpr int64_t cropMargin(const Rect& r, int width, int height, int side)
{
    switch (side) {
    case kCropLeft: return r.x;
    case kCropRight: return static_cast<int64_t>(width) - r.x - r.width;
    case kCropTop: return r.y;
    case kCropBottom: return static_cast<int64_t>(height) - r.y - r.height;
    default: return 0;
    }
}
// The same, never negative.
constexpr int32_t cropOffset(const Rect& r, int width, int height, int side)
{
    return static_cast<int32_t>(std::clamp<int64_t>(cropMargin(r, width, height, side), 0, INT32_MAX));
}

}  // namespace picture
