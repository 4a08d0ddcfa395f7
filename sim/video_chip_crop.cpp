#include "sim/video_chip_crop.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "sim/video_chip.h"
#include "sim/video_chip_decode.h"
#include "sim/video_chip_memory.h"

namespace sim {

namespace {

// Frame memory (bank 0x16 + 16 n): an output channel's first read address, an input channel's
// first write address and its line pitch in KiB.
constexpr uint8_t kMemBank = 0x16, kReadAddr = 0x08, kWriteAddr = 0x1C, kPitch = 0x31;
constexpr uint32_t kKiB = 1024;
// Memory write mode of each input channel (bank 0, 0x71 + i): how many bytes a pixel takes.
constexpr uint8_t kWriteMode = 0x71;
constexpr uint32_t kOne = 0x10000;   // 16.16 unity

// The input position a read start in a shrunk picture came from (the first one that maps to it).
int64_t unshrinkStart(int64_t stored, uint32_t ratio)
{
    if (ratio == 0 || stored <= 0)
        return stored;
    return ((stored - 1) * kOne + ratio - 1) / ratio + 1;
}

// The input size that gives `out` output pixels: the stored ones the output channel zooms
// (0: no zoom) to `out`, which the input channel shrank (0: no shrink) the input to.
int inputSize(int out, uint32_t zoom, uint32_t shrink)
{
    if (out <= 0)
        return 0;
    const int64_t stored = zoom > 1 ? (int64_t(out - 1) * (zoom - 1) + kOne / 2) / kOne + 1 : out;
    if (shrink > 1)
        return static_cast<int>((stored - 1) * kOne / (shrink - 1) + 1);
    return static_cast<int>(stored);
}

struct Cell {
    const DecodedChannel* d;
    int64_t x, y;   // where it starts reading, stored pixels and lines
};

}  // namespace

std::vector<DecodedCrop> decodeCrops(const VideoChipStill& chip)
{
    const std::vector<DecodedChannel> outs = decodeOutputs(chip);
    std::vector<DecodedCrop> crops;
    for (const DecodedChannel& first : outs) {
        if (!first.on || first.ich < 0 || (outputSource(chip, first.och) & kSourceFollows))
            continue;
        const uint8_t mb = channelBank(kMemBank, first.ich);
        const uint32_t pitch = chip.reg(mb, kPitch) * kKiB;
        if (pitch == 0)
            continue;
        const uint32_t base = chip.regValue(mb, kWriteAddr, 4);
        const uint8_t code = chip.reg(0x00, static_cast<uint8_t>(kWriteMode + first.ich));
        // The window's cells: this channel and those reading through it.
        std::vector<Cell> cells;
        for (const DecodedChannel& d : outs) {
            const uint32_t src = outputSource(chip, d.och);
            const bool mine = d.och == first.och || ((src & kSourceFollows) && sourceChannel(src) == first.och);
            if (!d.on || !mine)
                continue;
            const int64_t off = int64_t(chip.regValue(channelBank(kMemBank, d.och), kReadAddr, 4)) - base;
            if (off < 0)
                continue;
            cells.push_back({&d, int64_t(memoryLinePixels(uint32_t(off % pitch), memoryModeOfCode(code))), off / pitch});
        }
        if (cells.empty())
            continue;
        int64_t x0 = cells[0].x, y0 = cells[0].y;
        for (const Cell& c : cells) {
            x0 = std::min(x0, c.x);
            y0 = std::min(y0, c.y);
        }
        // The top row of cells spans the window's width, the left column its height.
        int width = 0, height = 0;
        for (const Cell& c : cells) {
            if (c.y == y0)
                width += c.d->width;
            if (c.x == x0)
                height += c.d->height;
        }
        DecodedCrop k;
        k.och = first.och;
        k.ich = first.ich;
        k.x = static_cast<int>(unshrinkStart(x0, first.hshrink));
        k.y = static_cast<int>(unshrinkStart(y0, first.vshrink));
        k.width = inputSize(width, first.hzoom, first.hshrink);
        k.height = inputSize(height, first.vzoom, first.vshrink);
        k.inputWidth = first.inWidth;
        k.inputHeight = first.inHeight;
        crops.push_back(k);
    }
    return crops;
}

std::string describeCrops(const VideoChipStill& chip)
{
    std::string s = "[crops]\n";
    char line[160];
    for (const DecodedCrop& k : decodeCrops(chip)) {
        std::snprintf(line, sizeof line, "och %d: input %d,%d %dx%d of %dx%d from ich %d\n", k.och, k.x, k.y, k.width,
                      k.height, k.inputWidth, k.inputHeight, k.ich);
        s += line;
    }
    return s;
}

}  // namespace sim
