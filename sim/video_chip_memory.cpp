#include "sim/video_chip_memory.h"

#include <algorithm>
#include <cstdio>

#include "sim/video_chip.h"
#include "sim/video_chip_decode.h"

namespace sim {

namespace {

constexpr int kChannels = 8;
constexpr uint32_t kKiB = 1024;
constexpr uint32_t kOne = 0x10000;   // 16.16 unity

// Input channel (bank 0x10 + 16 i): write control and window; its scaler (0x11 + 16 i).
constexpr uint8_t kIchBank = 0x10, kScalerBank = 0x11;
// Write control: 0 writes fields, 1 frames, 2 holds the last frame, 8 + n writes along with
// channel n. A channel without a window (width 0) writes nothing.
constexpr uint8_t kIchWrite = 0x09, kIchFrozen = 2, kIchLinked = 8, kIchLinkedEnd = 16;
constexpr uint8_t kIchHw = 0x19, kIchVw = 0x1D;
constexpr uint8_t kHShrinkMode = 0x44, kHShrink = 0x47, kVShrinkMode = 0x49, kVShrink = 0x4C;
constexpr uint8_t kHShrinkOn = 199, kVShrinkOn = 132;
// Frame memory (bank 0x16 + 16 n): an output channel's five read addresses and line step, an
// input channel's five write addresses, line pitch (KiB) and field weave (two fields a frame,
// on the four channels with an input processor).
constexpr uint8_t kMemBank = 0x16, kReadAddr = 0x08, kWriteAddr = 0x1C, kAddrStep = 4;
constexpr uint8_t kLineStep = 0x30, kPitch = 0x31, kWeave = 0x5B;
constexpr int kWeaveChannels = 4;
// A line step from 128 on runs backward: 256 - step KiB per line.
constexpr uint32_t kBackwardStep = 128, kStepWrap = 256;
// Bank 0: memory read mode of each output channel (0x69 + c), write mode of each input
// channel (0x71 + i), as codes.
constexpr uint8_t kReadModeReg = 0x69, kWriteModeReg = 0x71;
// Bank 0: each input channel's source (0x10 + i; 2p is parallel port p, 8 and up the V-by-One
// receivers) and the parallel ports' pixels per clock (0x18, 2 bytes: bit 4p set, port p
// carries two pixels a clock, so a channel stores two pixels for each clock of its window).
constexpr uint8_t kIchSourceReg = 0x10, kPictReg = 0x18;
constexpr uint8_t kFirstVboSource = 8;
constexpr int kPictBitsPerPort = 4;
constexpr uint8_t kCodeMode1 = 0x80, kCodeMode2 = 0x01, kCodeMode3 = 0x11;
// Output channel placement (bank 0x08 + 16 c), zoom (0x0A + 16 c).
constexpr uint8_t kOchBank = 0x08, kPlaceWidth = 0x42, kPlaceHeight = 0x46;
constexpr uint8_t kZoomBank = 0x0A, kHZoom = 0x49, kVZoom = 0x4E;

int modeOfCode(uint8_t code)
{
    switch (code) {
    case kCodeMode1: return 1;
    case kCodeMode2: return 2;
    case kCodeMode3: return 3;
    default: return 0;
    }
}

// Size after a 16.16 shrink (the last input sample's position, plus one); unchanged for ratio 0.
int shrunk(int n, uint32_t ratio)
{
    if (n <= 0 || ratio == 0)
        return n;
    return static_cast<int>((uint64_t(n - 1) * ratio >> 16) + 1);
}

// Stored samples a zoom of 16.16 input-per-output ratio reads for n output samples.
int zoomSource(int n, uint32_t ratio)
{
    if (n <= 0 || ratio == 0 || ratio >= kOne)
        return n;
    return static_cast<int>((uint64_t(n - 1) * ratio >> 16) + 1);
}

// Pixels a channel stores for each clock of its window: 2 for a parallel port that carries two.
int pixelsPerClock(const VideoChipModel& chip, int ich)
{
    const uint8_t source = chip.reg(0x00, static_cast<uint8_t>(kIchSourceReg + ich));
    if (source >= kFirstVboSource)
        return 1;
    const int port = source / 2;
    return (chip.regValue(0x00, kPictReg, 2) >> (kPictBitsPerPort * port)) & 1 ? 2 : 1;
}

int64_t floorDiv(int64_t a, int64_t b)
{
    const int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// Visits the lines of a writer's frame buffer that intersect [lo, hi): f(first, last) of each
// intersection.
template <typename F>
void eachHit(uint32_t base, const MemoryWriter& w, int64_t lo, int64_t hi, F f)
{
    if (w.lines <= 0 || w.bytes == 0 || hi <= lo)
        return;
    if (w.pitch == 0) {
        const int64_t a = std::max<int64_t>(lo, base), b = std::min<int64_t>(hi, int64_t(base) + w.bytes);
        if (a < b)
            f(a, b);
        return;
    }
    const int64_t p = w.pitch;
    int64_t j = std::max<int64_t>(0, floorDiv(lo - int64_t(base) - int64_t(w.bytes), p) + 1);
    const int64_t last = std::min<int64_t>(w.lines - 1, floorDiv(hi - 1 - int64_t(base), p));
    for (; j <= last; ++j) {
        const int64_t s = int64_t(base) + j * p;
        const int64_t a = std::max(lo, s), b = std::min(hi, s + int64_t(w.bytes));
        if (a < b)
            f(a, b);
    }
}

bool intersects(uint32_t baseA, const MemoryWriter& a, uint32_t baseB, const MemoryWriter& b)
{
    MemoryWriter ra = a, rb = b;
    ra.base[0] = baseA;
    rb.base[0] = baseB;
    if (ra.end() <= baseB || rb.end() <= baseA)
        return false;
    for (int i = 0; i < a.lines; ++i) {
        const int64_t lo = int64_t(baseA) + int64_t(i) * a.pitch;
        bool hit = false;
        eachHit(baseB, b, lo, lo + a.bytes, [&](int64_t, int64_t) { hit = true; });
        if (hit)
            return true;
        if (a.pitch == 0)
            break;
    }
    return false;
}

bool overlap(const MemoryWriter& a, const MemoryWriter& b)
{
    for (uint32_t ba : a.base)
        for (uint32_t bb : b.base)
            if (intersects(ba, a, bb, b))
                return true;
    return false;
}

std::vector<MemoryWriter> decodeWriters(const VideoChipModel& chip)
{
    std::vector<MemoryWriter> out;
    for (int i = 0; i < kChannels; ++i) {
        const uint8_t ib = channelBank(kIchBank, i), sb = channelBank(kScalerBank, i), mb = channelBank(kMemBank, i);
        const uint8_t control = chip.reg(ib, kIchWrite);
        MemoryWriter w;
        w.ich = i;
        w.mode = modeOfCode(chip.reg(0x00, static_cast<uint8_t>(kWriteModeReg + i)));
        const uint32_t hshrink = chip.reg(sb, kHShrinkMode) == kHShrinkOn ? chip.regValue(sb, kHShrink, 2) : 0;
        const uint32_t vshrink = chip.reg(sb, kVShrinkMode) == kVShrinkOn ? chip.regValue(sb, kVShrink, 2) : 0;
        w.pixels = shrunk(static_cast<int>(chip.regValue(ib, kIchHw, 2)) * pixelsPerClock(chip, i), hshrink);
        const int fields = i < kWeaveChannels && chip.reg(mb, kWeave) == 1 ? 2 : 1;
        w.lines = shrunk(static_cast<int>(chip.regValue(ib, kIchVw, 2)) * fields, vshrink);
        const bool writes = control <= kIchFrozen || (control >= kIchLinked && control < kIchLinkedEnd);
        if (!writes || w.pixels <= 0 || w.lines <= 0)
            continue;
        w.bytes = memoryLineBytes(static_cast<uint32_t>(w.pixels), w.mode);
        w.pitch = chip.reg(mb, kPitch) * kKiB;
        for (int b = 0; b < kFrameBuffers; ++b)
            w.base[b] = chip.regValue(mb, static_cast<uint8_t>(kWriteAddr + kAddrStep * b), 4);
        out.push_back(w);
    }
    return out;
}

void judgeRead(MemoryRead& r, const std::vector<MemoryWriter>& writers)
{
    std::vector<bool> hit(writers.size(), false);
    std::vector<std::pair<int64_t, int64_t>> spans;
    for (int i = 0; i < r.lines; ++i) {
        const int64_t lo = int64_t(r.start) + i * r.step, hi = lo + r.bytes;
        spans.clear();
        for (size_t k = 0; k < writers.size(); ++k)
            eachHit(writers[k].base[0], writers[k], lo, hi, [&](int64_t a, int64_t b) {
                hit[k] = true;
                spans.emplace_back(a, b);
            });
        std::sort(spans.begin(), spans.end());
        int64_t covered = lo;
        for (const auto& s : spans)
            if (s.first <= covered)
                covered = std::max(covered, s.second);
        if (covered < hi)
            r.unwritten = true;
    }
    for (size_t k = 0; k < writers.size(); ++k) {
        if (!hit[k])
            continue;
        r.ichs.push_back(writers[k].ich);
        if (writers[k].mode != r.mode)
            r.mismatch = true;
    }
}

std::vector<MemoryRead> decodeReads(const VideoChipModel& chip, const std::vector<MemoryWriter>& writers)
{
    std::vector<MemoryRead> out;
    int pieces[kChannels] = {};
    for (const DecodedChannel& d : decodeOutputs(chip)) {
        if (!d.on)
            continue;
        const uint32_t src = outputSource(chip, d.och);
        MemoryRead r;
        r.och = d.och;
        r.first = (src & kSourceFollows) ? sourceChannel(src) : d.och;
        r.piece = pieces[r.first]++;
        const uint8_t mb = channelBank(kMemBank, d.och);
        r.start = chip.regValue(mb, kReadAddr, 4);
        const uint32_t step = chip.reg(mb, kLineStep);
        r.step = step < kBackwardStep ? int64_t(step) * kKiB : -int64_t(kStepWrap - step) * kKiB;
        r.mode = modeOfCode(chip.reg(0x00, static_cast<uint8_t>(kReadModeReg + d.och)));
        const uint8_t ob = channelBank(kOchBank, d.och), zb = channelBank(kZoomBank, d.och);
        const int width = static_cast<int>(chip.regValue(ob, kPlaceWidth, 2));
        const int height = static_cast<int>(chip.regValue(ob, kPlaceHeight, 2)) - 1;
        r.bytes = memoryLineBytes(static_cast<uint32_t>(zoomSource(width, chip.regValue(zb, kHZoom, 2))), r.mode);
        r.lines = zoomSource(height, chip.regValue(zb, kVZoom, 2));
        judgeRead(r, writers);
        out.push_back(r);
    }
    return out;
}

std::string ichList(const std::vector<int>& ichs)
{
    std::string s;
    for (size_t i = 0; i < ichs.size(); ++i) {
        if (i > 0)
            s += i + 1 == ichs.size() ? " and " : ", ";
        s += "ich " + std::to_string(ichs[i]);
    }
    return s;
}

}  // namespace

uint32_t memoryLineBytes(uint32_t n, int mode)
{
    switch (mode) {
    case 1: return n / 5 * 16 + n % 5 * 3;
    case 2: return (n + (3 - n % 3) % 3) * 8 / 3;
    case 3: return 2 * n;
    default: return 4 * n;
    }
}

const MemoryWriter* MemoryMap::writer(int ich) const
{
    for (const MemoryWriter& w : writers)
        if (w.ich == ich)
            return &w;
    return nullptr;
}

std::vector<const MemoryRead*> MemoryMap::readsOf(int firstOch) const
{
    std::vector<const MemoryRead*> out;
    for (const MemoryRead& r : reads)
        if (r.first == firstOch)
            out.push_back(&r);
    return out;
}

MemoryMap decodeMemory(const VideoChipModel& chip)
{
    MemoryMap m;
    m.writers = decodeWriters(chip);
    m.reads = decodeReads(chip, m.writers);
    for (size_t a = 0; a < m.writers.size(); ++a)
        for (size_t b = a + 1; b < m.writers.size(); ++b)
            if (overlap(m.writers[a], m.writers[b]))
                m.overlaps.emplace_back(m.writers[a].ich, m.writers[b].ich);
    return m;
}

std::string describeMemory(const VideoChipModel& chip)
{
    const MemoryMap m = decodeMemory(chip);
    std::string s = "[memory]\n";
    char line[200];
    for (const MemoryWriter& w : m.writers) {
        std::snprintf(line, sizeof line, "ich %d: writes 0x%08x-0x%08x pitch %u KiB, %u bytes x %d lines, mode %d\n",
                      w.ich, w.base[0], w.end(), w.pitch / kKiB, w.bytes, w.lines, w.mode);
        s += line;
    }
    for (const MemoryRead& r : m.reads) {
        std::string what;
        if (r.ichs.empty())
            what = "unwritten memory";
        else
            what = ichList(r.ichs) + (r.unwritten ? " and unwritten memory" : "");
        if (!r.ichs.empty())
            what += r.mismatch ? ", mode mismatch" : ", mode " + std::to_string(r.mode);
        std::snprintf(line, sizeof line, "och %d piece %d: reads %s\n", r.first, r.piece, what.c_str());
        s += line;
    }
    s += "overlaps: ";
    if (m.overlaps.empty())
        s += "none";
    for (size_t i = 0; i < m.overlaps.size(); ++i)
        s += (i ? ", ich " : "ich ") + std::to_string(m.overlaps[i].first) + "/ich " +
             std::to_string(m.overlaps[i].second);
    return s + "\n";
}

}  // namespace sim
