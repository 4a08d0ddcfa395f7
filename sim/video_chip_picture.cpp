#include "sim/video_chip_picture.h"

#include <cstdint>
#include <cstdarg>
#include <cstdio>

#include "sim/video_chip.h"
#include "sim/video_chip_decode.h"

namespace sim {

namespace {

constexpr int kChannels = 8;

// Output channel blocks, bank of channel 0 (each channel 16 banks further).
constexpr uint8_t kGeneratorBank = 0x08;   // pattern generator and background
constexpr uint8_t kBlankingBank = 0x0E;
constexpr uint8_t kSharpnessBank = 0x0B;
constexpr uint8_t kPictureBank = 0x0C;

// Pattern generator.
constexpr uint8_t kGenMode = 0x57, kGenParam = 0x58, kGenControl = 0x5B;
constexpr uint8_t kGenSize = 0x5D, kGenLevel = 0x63, kGenLevelCtl = 0x66;
constexpr uint8_t kGenSolid = 4;
// Background.
constexpr uint8_t kBkgEnable = 0x48, kBkgColor = 0x49;
constexpr uint8_t kBlanking = 0x0D, kBlankingBlack = 0x55;
// Picture block.
constexpr uint8_t kBrightness = 0x3A, kContrastCtl = 0x21, kContrast = 0x28;
constexpr uint8_t kSaturationCtl = 0x14, kSaturation = 0x1B, kMatrix = 0x5B;
constexpr uint8_t kMatrixSwitch = 0x59, kMatrixOnBit = 0x20;   // bank 0, one per channel
// Sharpness block.
constexpr uint8_t kSharpHGain = 0x08, kSharpHStrength = 0x09, kSharpVStrength = 0x12;

// Signed value of a 12-bit two's complement field.
int signed12(uint32_t v)
{
    v &= 0xFFF;
    return v & 0x800 ? static_cast<int>(v) - 0x1000 : static_cast<int>(v);
}

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...)
{
    char buf[256];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    return buf;
}

std::string generatorLine(const VideoChipStill& chip, int ch)
{
    const uint8_t b = channelBank(kGeneratorBank, ch);
    const uint8_t mode = chip.reg(b, kGenMode);
    const uint32_t rgb = static_cast<uint32_t>(chip.reg(b, kGenLevel)) << 16 |
                         static_cast<uint32_t>(chip.reg(b, kGenLevel + 1)) << 8 | chip.reg(b, kGenLevel + 2);
    if (mode == 0)
        return format("och %d: off\n", ch);
    if (mode == kGenSolid)
        return format("och %d: solid #%06X control 0x%04X\n", ch, rgb, chip.regValue(b, kGenControl, 2));
    return format("och %d: generator mode %u params %u/%u/%u control 0x%04X sizes %u/%u/%u level #%06X ctl %u/%u/%u\n",
                  ch, mode, chip.reg(b, kGenParam), chip.reg(b, kGenParam + 1), chip.reg(b, kGenParam + 2),
                  chip.regValue(b, kGenControl, 2), chip.regValue(b, kGenSize, 2),
                  chip.regValue(b, kGenSize + 2, 2), chip.regValue(b, kGenSize + 4, 2), rgb,
                  chip.reg(b, kGenLevelCtl), chip.reg(b, kGenLevelCtl + 1), chip.reg(b, kGenLevelCtl + 2));
}

std::string backgroundLine(const VideoChipStill& chip, int ch)
{
    const uint8_t b = channelBank(kGeneratorBank, ch);
    const bool blanked = chip.regValue(channelBank(kBlankingBank, ch), kBlanking, 2) == kBlankingBlack;
    return format("och %d: %s #%06X%s\n", ch, chip.reg(b, kBkgEnable) & 1 ? "on" : "off",
                  chip.regValue(b, kBkgColor, 3), blanked ? " blanked" : "");
}

std::string pictureLine(const VideoChipStill& chip, int ch)
{
    const uint8_t p = channelBank(kPictureBank, ch);
    const uint8_t s = channelBank(kSharpnessBank, ch);
    const bool matrixOn = chip.reg(0x00, static_cast<uint8_t>(kMatrixSwitch + ch)) & kMatrixOnBit;
    return format("och %d: brightness %d contrast %u%s saturation %u%s matrix %u/%u/%u%s sharpness gain %u "
                  "strength %u/%u\n",
                  ch, signed12(chip.regValue(p, kBrightness, 2)), chip.regValue(p, kContrast, 2),
                  chip.reg(p, kContrastCtl) & 1 ? "" : " (off)", chip.regValue(p, kSaturation, 2),
                  chip.reg(p, kSaturationCtl) & 1 ? "" : " (off)", chip.regValue(p, kMatrix, 2),
                  chip.regValue(p, kMatrix + 8, 2), chip.regValue(p, kMatrix + 16, 2), matrixOn ? "" : " (off)",
                  chip.reg(s, kSharpHGain), chip.reg(s, kSharpHStrength), chip.reg(s, kSharpVStrength));
}

}  // namespace

std::string describeOutputPicture(const VideoChipStill& chip)
{
    std::string out = "[pattern]\n";
    for (int ch = 0; ch < kChannels; ++ch)
        out += generatorLine(chip, ch);
    out += "[background]\n";
    for (int ch = 0; ch < kChannels; ++ch)
        out += backgroundLine(chip, ch);
    out += "[picture]\n";
    for (int ch = 0; ch < kChannels; ++ch)
        out += pictureLine(chip, ch);
    return out;
}

}  // namespace sim
