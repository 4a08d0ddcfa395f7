#include "sim/video_chip_decode.h"

#include <cstdio>

#include "sim/video_chip.h"

namespace sim {

namespace {

constexpr int kChannels = 8;

// Output channel (bank 0x08 + 16 c): source, timing starts, placement.
constexpr uint8_t kOchBank = 0x08;
constexpr uint8_t kSource = 0x08, kActiveHst = 0x28, kActiveVst = 0x2C;
constexpr uint8_t kPlaceHst = 0x40, kPlaceWidth = 0x42, kPlaceVst = 0x44, kPlaceHeight = 0x46;
// Zoom (bank 0x0A + 16 c).
constexpr uint8_t kZoomBank = 0x0A, kHZoom = 0x49, kVZoom = 0x4E;
// Input channel (bank 0x10 + 16 i): write control and window; its scaler (0x11 + 16 i): shrink.
constexpr uint8_t kIchBank = 0x10, kScalerBank = 0x11;
constexpr uint8_t kIchWrite = 0x09, kIchFrozen = 2;
constexpr uint8_t kIchHst = 0x17, kIchHw = 0x19, kIchVst = 0x1B, kIchVw = 0x1D;
constexpr uint8_t kHShrinkMode = 0x44, kHShrink = 0x47, kVShrinkMode = 0x49, kVShrink = 0x4C;
constexpr uint8_t kHShrinkOn = 199, kVShrinkOn = 132;
// Input channel sources (bank 0, 0x10 + i): 2p for parallel port p, 8-11 port 4, 12-15 port 5.
constexpr uint8_t kIchSource = 0x10;
// Mixers (bank 0x0E + 16 g): members, blending coefficients of the first four.
constexpr uint8_t kMixerBank = 0x0E, kMembers = 0x09, kCoef = 0x11;
constexpr int kBlendMixers = 4, kBlendMembers = 4;

int portOfSource(uint8_t src)
{
    if (src < 8)
        return src / 2;
    return src < 12 ? 4 : src < 16 ? 5 : -1;
}

}  // namespace

uint32_t outputSource(const VideoChipStill& chip, int och)
{
    return chip.regValue(channelBank(kOchBank, och), kSource, 2);
}

std::vector<DecodedChannel> decodeOutputs(const VideoChipStill& chip)
{
    std::vector<DecodedChannel> out(kChannels);
    for (int c = 0; c < kChannels; ++c) {
        DecodedChannel& d = out[c];
        d.och = c;
        const uint8_t ob = channelBank(kOchBank, c);
        d.width = static_cast<int>(chip.regValue(ob, kPlaceWidth, 2));
        const int h = static_cast<int>(chip.regValue(ob, kPlaceHeight, 2));
        d.height = h > 0 ? h - 1 : 0;
        d.on = d.width > 0 && d.height > 0;
        d.x = static_cast<int>(chip.regValue(ob, kPlaceHst, 2)) - static_cast<int>(chip.regValue(ob, kActiveHst, 2));
        d.y = static_cast<int>(chip.regValue(ob, kPlaceVst, 2)) - static_cast<int>(chip.regValue(ob, kActiveVst, 2));
        uint32_t src = outputSource(chip, c);
        if (src & kSourceFollows)   // a further cell of a grid reads through the grid's first channel
            src = outputSource(chip, sourceChannel(src));
        d.ich = sourceChannel(src);
        const uint8_t zb = channelBank(kZoomBank, c);
        d.hzoom = chip.regValue(zb, kHZoom, 2);
        d.vzoom = chip.regValue(zb, kVZoom, 2);

        const uint8_t ib = channelBank(kIchBank, d.ich);
        d.port = portOfSource(chip.reg(0x00, static_cast<uint8_t>(kIchSource + d.ich)));
        d.inX = static_cast<int>(chip.regValue(ib, kIchHst, 2));
        d.inWidth = static_cast<int>(chip.regValue(ib, kIchHw, 2));
        d.inY = static_cast<int>(chip.regValue(ib, kIchVst, 2));
        d.inHeight = static_cast<int>(chip.regValue(ib, kIchVw, 2));
        const uint8_t sb = channelBank(kScalerBank, d.ich);
        d.hshrink = chip.reg(sb, kHShrinkMode) == kHShrinkOn ? chip.regValue(sb, kHShrink, 2) : 0;
        d.vshrink = chip.reg(sb, kVShrinkMode) == kVShrinkOn ? chip.regValue(sb, kVShrink, 2) : 0;
        d.frozen = chip.reg(ib, kIchWrite) == kIchFrozen;

        for (int g = 0; g < kChannels && d.mixer < 0; ++g) {
            const uint32_t members = chip.regValue(channelBank(kMixerBank, g), kMembers, 4);
            for (int k = 0; k < 8; ++k) {
                const uint32_t code = (members >> (4 * k)) & 0xF;
                if (code >= 8 && static_cast<int>(code - 8) == c) {
                    d.mixer = g;
                    d.layer = k;
                }
            }
        }
        if (d.mixer >= 0 && d.mixer < kBlendMixers) {
            const int p = d.layer < kBlendMembers ? d.layer : kBlendMembers - 1;
            const int entry = 1 << p;
            d.alpha = chip.reg(channelBank(kMixerBank, d.mixer), static_cast<uint8_t>(kCoef + 5 * entry + p + 1));
        }
    }
    return out;
}

std::string describeWindows(const VideoChipStill& chip)
{
    std::string s = "[windows]\n";
    char line[320];
    for (const DecodedChannel& d : decodeOutputs(chip)) {
        if (!d.on)
            continue;
        std::snprintf(line, sizeof line,
                      "och %d: x %d y %d %dx%d from ich %d port %d (input %d,%d %dx%d) shrink %u/%u zoom %u/%u "
                      "mixer %d layer %d alpha %d%s%s\n",
                      d.och, d.x, d.y, d.width, d.height, d.ich, d.port, d.inX, d.inY, d.inWidth, d.inHeight,
                      d.hshrink, d.vshrink, d.hzoom, d.vzoom, d.mixer, d.layer, d.alpha, d.frozen ? " frozen" : "",
                      d.fading() ? " fading" : "");
        s += line;
    }
    return s;
}

}  // namespace sim
