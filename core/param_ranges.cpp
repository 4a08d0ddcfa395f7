#include "core/param_ranges.h"

#include <algorithm>
#include <cstdio>

#include "core/ram_layout.h"

using namespace ramaddr;

namespace paramcheck {

namespace {

constexpr uint16_t kMaxLedSide = 16376;     // the output page's limit each way
// A window may reach past the screen: the engine shows the part on it, PC software places windows
// so, and a smaller panel leaves the windows as they were. Only places no screen has are repaired.
constexpr uint16_t kMaxWindowEnd = 2 * kMaxLedSide;
constexpr uint16_t kMaxOutputEnd = 16384;   // outputs above 8188 wide are laid out in steps of 32
constexpr uint16_t kMaxInputSide = 4096;    // crops lie within an input picture
constexpr uint16_t kMaxEdidSide = 4095;     // 12-bit active size of a detailed timing
constexpr uint16_t kMaxRefresh = 240;
// The image-quality page offers 0-10 (all "off"); PC software stores more, each step above 10
// adding strength until it saturates 20 steps on.
constexpr uint16_t kMaxSharpness = 30;
constexpr uint16_t kMaxInput = 5;
constexpr uint16_t kMaxCropIndex = kCropEntries - 1;
constexpr uint16_t kWindowFlagBits = 0x0107;   // black, frozen, fade, dot-by-dot
constexpr uint16_t kSoundOnBit = 0x80;
// The window layout page writes 0, 8 and 9; PC software writes any word the engine applies (each
// of 1-9 names a way of putting inputs together, 0 the single input).
constexpr uint16_t kMaxDbdWord = 9;
constexpr uint8_t kWin = kWindowSize;
constexpr uint8_t kCrop = kCropEntrySize;

constexpr uint16_t win(unsigned offset) { return uint16_t(window(0) + offset); }

const std::vector<FieldRange> kTable = {
    {"language", kLanguage, 1, 0, 2, Rule::Range, 0, 4},
    {"front-panel lock", kPanelLock, 1, 0, 2, Rule::Range, 0, 1},
    {"Wi-Fi switch", kWifiOff, 1, 0, 2, Rule::Range, 0, 1},
    {"user-mode save request", kSaveRequest, 1, 0, 1, Rule::Range, 0, kUserModeCount},
    {"EDID width", kEdidTiming, 6, 6, 2, Rule::Range, 1, kMaxEdidSide},
    {"EDID height", kEdidTiming + 2, 6, 6, 2, Rule::Range, 1, kMaxEdidSide},
    {"EDID refresh", kEdidTiming + 4, 6, 6, 2, Rule::Range, 1, kMaxRefresh},
    {"splice mode", kSpliceMode, 1, 0, 2, Rule::Range, 0, 5},
    {"LED width", kLedWidth, 1, 0, 2, Rule::Range, 1, kMaxLedSide},
    {"LED height", kLedHeight, 1, 0, 2, Rule::Range, 1, kMaxLedSide},
    {"output x/width", kOutputArea, 2, 8, 2, Rule::Span, 0, kMaxOutputEnd},
    {"output y/height", kOutputArea + 2, 2, 8, 2, Rule::Span, 0, kMaxOutputEnd},
    {"crop source", kCropTable, kCropEntries, kCrop, 1, Rule::Range, 0, kMaxInput},
    {"crop id", kCropTable + 1, kCropEntries, kCrop, 1, Rule::CropId, 0, kMaxCropIndex},
    {"crop x/width", kCropTable + 2, kCropEntries, kCrop, 2, Rule::Span, 0, kMaxInputSide},
    {"crop y/height", kCropTable + 4, kCropEntries, kCrop, 2, Rule::Span, 0, kMaxInputSide},
    {"sound window", kAudioWindow, 1, 0, 2, Rule::Range, 0, kUsedWindows - 1},
    {"dot-by-dot switch", kDotByDot, 1, 0, 2, Rule::Range, 0, 1},
    {"switch effect", kSwitchEffect, 1, 0, 2, Rule::Range, 0, 1},
    {"OSD switch", kOsdOn, 1, 0, 2, Rule::Range, 0, 1},
    {"brightness", kBrightness, 1, 0, 2, Rule::Range, 0, 100},
    {"contrast", kContrast, 1, 0, 2, Rule::Range, 0, 100},
    {"sharpness", kSharpness, 1, 0, 2, Rule::Range, 0, kMaxSharpness},
    {"saturation", kSaturation, 1, 0, 2, Rule::Range, 0, 100},
    {"colour temperature", kColorTempMode, 1, 0, 2, Rule::Range, 0, 3},
    {"red gain", kRedGain, 1, 0, 2, Rule::Range, 0, 128},
    {"green gain", kGreenGain, 1, 0, 2, Rule::Range, 0, 128},
    {"blue gain", kBlueGain, 1, 0, 2, Rule::Range, 0, 128},
    {"layer priority", kPriority, kWindowSlots, 2, 2, Rule::Range, 0, kWindowSlots - 1},
    {"window state", win(kWinState), kWindowSlots, kWin, 2, Rule::Range, 0, 1},
    {"window source", win(kWinSource), kWindowSlots, kWin, 2, Rule::WindowSource, kMaxCropIndex, kMaxInput},
    {"window x/width", win(kWinX), kWindowSlots, kWin, 2, Rule::Span, 0, kMaxWindowEnd},
    {"window y/height", win(kWinY), kWindowSlots, kWin, 2, Rule::Span, 0, kMaxWindowEnd},
    {"window flags", win(kWinFlags), kWindowSlots, kWin, 2, Rule::Bits, 0, kWindowFlagBits},
    {"window sound", win(kWinSound), kWindowSlots, kWin, 1, Rule::Bits, 0, kSoundOnBit},
    {"window dot-by-dot mode", win(kWinDbdMode), kWindowSlots, kWin, 2, Rule::Range, 0, kMaxDbdWord},
};

unsigned at(const FieldRange& r, unsigned index) { return r.address + r.stride * index; }

unsigned get(const unsigned char* buf, unsigned addr, unsigned width)
{
    return width == 1 ? buf[addr] : ram_get_u16(buf, addr);
}

void put(unsigned char* buf, unsigned addr, unsigned width, unsigned value)
{
    if (width == 1)
        buf[addr] = static_cast<unsigned char>(value);
    else
        ram_set_u16(buf, addr, static_cast<uint16_t>(value));
}

unsigned factory(unsigned addr, unsigned width)
{
    return get(default_para_ramlist, addr + default_para::kImageToTable, width);
}

void report(std::vector<std::string>& repairs, const FieldRange& r, unsigned index, unsigned addr,
            const std::string& was, const std::string& used)
{
    char line[200];
    std::snprintf(line, sizeof line, "%s %u (at %#x): %s is out of range, %s is used", r.name, index, addr, was.c_str(),
                  used.c_str());
    repairs.emplace_back(line);
}

}  // namespace

const std::vector<FieldRange>& fieldRanges() { return kTable; }

bool fieldInRange(const FieldRange& r, unsigned index, const unsigned char* image)
{
    const unsigned addr = at(r, index);
    const unsigned v = get(image, addr, r.width);
    switch (r.rule) {
    case Rule::Range: return v >= r.lo && v <= r.hi;
    case Rule::Bits: return (v & ~unsigned(r.hi)) == 0;
    case Rule::WindowSource:
        return (v & kWinSourceCrop) ? (v & ~unsigned(kWinSourceCrop)) <= r.lo : v <= r.hi;
    case Rule::CropId: return (v & ~unsigned(kCropValid)) <= r.hi;
    case Rule::Span: {
        const unsigned size = get(image, addr + kSpanSize, r.width);
        return v <= r.hi && size <= r.hi && v + size <= r.hi;
    }
    }
    return false;
}

unsigned repairImage(unsigned char* image, std::vector<std::string>& repairs)
{
    unsigned rows = 0;
    for (const FieldRange& r : kTable) {
        bool rowRepaired = false;
        for (unsigned i = 0; i < r.count; ++i) {
            if (fieldInRange(r, i, image))
                continue;
            rowRepaired = true;
            const unsigned addr = at(r, i);
            const std::string was = std::to_string(get(image, addr, r.width));
            put(image, addr, r.width, factory(addr, r.width));
            if (r.rule != Rule::Span) {
                report(repairs, r, i, addr, was, std::to_string(get(image, addr, r.width)));
                continue;
            }
            // A rectangle side: the factory position and size, cut to end within the bound.
            const unsigned sizeAddr = addr + kSpanSize;
            const std::string wasSpan = was + "+" + std::to_string(get(image, sizeAddr, r.width));
            put(image, sizeAddr, r.width, factory(sizeAddr, r.width));
            const unsigned end = r.hi;
            if (get(image, addr, r.width) + get(image, sizeAddr, r.width) > end) {
                put(image, addr, r.width, 0);
                put(image, sizeAddr, r.width, std::min(get(image, sizeAddr, r.width), end));
            }
            report(repairs, r, i, addr, wasSpan,
                   std::to_string(get(image, addr, r.width)) + "+" + std::to_string(get(image, sizeAddr, r.width)));
        }
        rows += rowRepaired ? 1 : 0;
    }
    return rows;
}

}  // namespace paramcheck
