#include "sim/video_chip_memory.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <map>
#include <tuple>

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
// The input processor's fields (bank 0x17 + 16 n): four buffers it writes, four it reads, the
// line pitch in KiB; the width and frame height it takes (bank 0x14 + 16 n).
constexpr uint8_t kFieldBank = 0x17, kFieldRead = 0x08, kFieldWrite = 0x18, kFieldPitch = 0x59;
constexpr uint8_t kIpBank = 0x14, kIpWidth = 0x0F, kIpHeight = 0x13;
// Dual mode of a channel pair (bank 0x03, 9 addresses a pair): on (3) or off.
constexpr uint8_t kDualBank = 0x03, kDualMode = 0x08, kDualStep = 9, kDualOn = 3;
// Bank 0: memory read mode of each output channel (0x69 + c), write mode of each input
// channel (0x71 + i), as codes.
constexpr uint8_t kReadModeReg = 0x69, kWriteModeReg = 0x71;
// Bank 0: each input channel's source (0x10 + i; 2p is parallel port p, 8 and up the V-by-One
// receivers) and the parallel ports' pixels per clock (0x18, 2 bytes: bit 4p set, port p
// carries two pixels a clock, so a channel stores two pixels for each clock of its window).
constexpr uint8_t kIchSourceReg = 0x10, kPictReg = 0x18;
constexpr uint8_t kFirstVboSource = 8, kVboSources = 4;
constexpr int kPictBitsPerPort = 4;
constexpr uint8_t kModeCodes[4] = {0x00, 0x80, 0x01, 0x11};
// Output channel placement (bank 0x08 + 16 c), mirror, zoom (0x0A + 16 c).
constexpr uint8_t kOchBank = 0x08, kPlaceHeight = 0x46, kHMirror = 0x22;
// The output channel's background (bank 0x08 + 16 c): bit 0 shows its colour in place of the
// picture.
constexpr uint8_t kBkgEnable = 0x48;
constexpr uint8_t kZoomBank = 0x0A, kHZoom = 0x49, kVZoom = 0x4E;
// Neighbouring pieces of a zoomed grid meet within a stored pixel of each other; in mode 2 a
// read starts on a whole group of three pixels, up to two more away.
constexpr int64_t kPartSlack = 1, kGroupSlack = 2;

// The chip's memory map. Channel k's frame buffer b starts k slots of 8 KiB into plain buffer b:
// a line of all eight channels' slots takes 64 KiB.
constexpr uint32_t kPlainBuffer = 0x08800000, kDbdFirst = 0x2A800000, kDbdBuffer = 0x0B280000;
constexpr uint32_t kSlot = 0x2000, kSlotRow = kChannels * kSlot;
constexpr uint32_t kFontArea = 0x7F000000, kFontBytes = 0x3000 + 0x290000 + 0xC000 + 0xA40000;
constexpr MemoryRegion kRegions[] = {
    {"plain buffer", 0, 0 * kPlainBuffer, 1 * kPlainBuffer, true, kSlot},
    {"plain buffer", 1, 1 * kPlainBuffer, 2 * kPlainBuffer, true, kSlot},
    {"plain buffer", 2, 2 * kPlainBuffer, 3 * kPlainBuffer, true, kSlot},
    {"plain buffer", 3, 3 * kPlainBuffer, 4 * kPlainBuffer, true, kSlot},
    {"plain buffer", 4, 4 * kPlainBuffer, 5 * kPlainBuffer, true, kSlot},
    {"dot-by-dot buffer", 0, kDbdFirst + 0 * kDbdBuffer, kDbdFirst + 1 * kDbdBuffer, true, 0},
    {"dot-by-dot buffer", 1, kDbdFirst + 1 * kDbdBuffer, kDbdFirst + 2 * kDbdBuffer, true, 0},
    {"dot-by-dot buffer", 2, kDbdFirst + 2 * kDbdBuffer, kDbdFirst + 3 * kDbdBuffer, true, 0},
    {"dot-by-dot buffer", 3, kDbdFirst + 3 * kDbdBuffer, kDbdFirst + 4 * kDbdBuffer, true, 0},
    {"dot-by-dot buffer", 4, kDbdFirst + 4 * kDbdBuffer, kDbdFirst + 5 * kDbdBuffer, true, 0},
    {"OSD memory", -1, 0x65000000, 0x6B913800, false, 0},
    {"OSD staging", -1, 0x70000000, 0x725C0000, false, 0},
    {"OSD plane", -1, 0x725C0000, 0x74B80000, false, 0},
    {"OSD scroll", -1, 0x74B80000, kFontArea, false, 0},
    {"font area", -1, kFontArea, kFontArea + kFontBytes, false, 0},
};

// The region holding `address`, or null outside the memory map.
const MemoryRegion* memoryRegionAt(uint32_t address)
{
    for (const MemoryRegion& r : kRegions)
        if (address >= r.begin && address < r.end)
            return &r;
    return nullptr;
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
int pixelsPerClock(const VideoChipStill& chip, int ich)
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

// Lines of `bytes` bytes from `base`, `step` apart (negative: upward).
struct Span {
    int64_t base = 0;
    int64_t step = 0;
    uint32_t bytes = 0;
    int lines = 0;
    int64_t lineAt(int i) const { return base + i * step; }
};

Span spanOf(const MemoryWriter& w, int b) { return {w.base[b], w.pitch, w.bytes, w.lines}; }
Span spanOf(const FieldStore& f, int b) { return {f.base[b], f.pitch, f.bytes, f.lines}; }

// Visits the lines of a forward span that intersect [lo, hi): f(first, last) of each.
template <typename F>
void eachHit(const Span& w, int64_t lo, int64_t hi, F f)
{
    if (w.lines <= 0 || w.bytes == 0 || hi <= lo)
        return;
    if (w.step == 0) {
        const int64_t a = std::max(lo, w.base), b = std::min(hi, w.base + int64_t(w.bytes));
        if (a < b)
            f(a, b);
        return;
    }
    int64_t j = std::max<int64_t>(0, floorDiv(lo - w.base - int64_t(w.bytes), w.step) + 1);
    const int64_t last = std::min<int64_t>(w.lines - 1, floorDiv(hi - 1 - w.base, w.step));
    for (; j <= last; ++j) {
        const int64_t s = w.lineAt(int(j));
        const int64_t a = std::max(lo, s), b = std::min(hi, s + int64_t(w.bytes));
        if (a < b)
            f(a, b);
    }
}

bool intersects(const Span& a, const Span& b)
{
    const int64_t aEnd = a.lineAt(std::max(a.lines - 1, 0)) + a.bytes, bEnd = b.lineAt(std::max(b.lines - 1, 0)) + b.bytes;
    if (aEnd <= b.base || bEnd <= a.base)
        return false;
    for (int i = 0; i < a.lines; ++i) {
        bool hit = false;
        eachHit(b, a.lineAt(i), a.lineAt(i) + a.bytes, [&](int64_t, int64_t) { hit = true; });
        if (hit)
            return true;
        if (a.step == 0)
            break;
    }
    return false;
}

const MemoryRegion* regionOf(const Span& s)
{
    return s.base >= 0 && s.base <= int64_t(UINT32_MAX) ? memoryRegionAt(uint32_t(s.base)) : nullptr;
}

// Lines of a span (buffer b) that leave the region its first line starts in, all of them when
// that region is no frame buffer or, for `index` 0 and up, the frame buffer of another index.
void judgeRegion(const Span& s, int b, int index, RegionLeak* leak)
{
    if (leak->any() || s.lines <= 0 || s.bytes == 0)
        return;
    const MemoryRegion* r = regionOf(s);
    const bool misplaced = r && r->frames && index >= 0 && r->index != index;
    int out = 0;
    for (int i = 0; i < s.lines; ++i) {
        const int64_t lo = s.lineAt(i);
        if (!r || !r->frames || misplaced || lo < int64_t(r->begin) || lo + int64_t(s.bytes) > int64_t(r->end))
            ++out;
    }
    if (out == 0)
        return;
    leak->buffer = b;
    leak->region = r;
    leak->lines = out;
    leak->misplaced = misplaced;
}

// Whether each line of a span (buffer b) stays on its part of a line: in a plain frame buffer
// the `count` slots from channel `first`'s, in a dot-by-dot one the band of one pitch it starts
// in. Lines outside the frame buffers are the region judgement's.
void judgeSlots(const Span& s, int b, int first, int count, SlotLeak* leak)
{
    const MemoryRegion* r = regionOf(s);
    if (leak->any() || s.lines <= 0 || s.bytes == 0 || !r || !r->frames)
        return;
    const int64_t row = r->slot ? kSlotRow : s.step;
    if (row <= 0)
        return;
    const int64_t lo = r->slot ? int64_t(first) * r->slot : 0;
    const int64_t hi = r->slot ? lo + int64_t(count) * r->slot : row;
    for (int i = 0; i < s.lines; ++i) {
        const int64_t at = (s.lineAt(i) - int64_t(r->begin)) % row;
        if (at >= lo && at + int64_t(s.bytes) <= hi)
            continue;
        leak->buffer = b;
        leak->first = r->slot ? first : -1;
        leak->count = r->slot ? count : 0;
        if (r->slot && (at < lo || at >= hi))
            leak->stray = int(at / r->slot);
        else
            leak->bytes = uint32_t(at + s.bytes - hi);
        return;
    }
}

bool writes(uint8_t control) { return control <= kIchFrozen || (control >= kIchLinked && control < kIchLinkedEnd); }

std::vector<MemoryWriter> decodeWriters(const VideoChipStill& chip)
{
    std::vector<MemoryWriter> out;
    for (int i = 0; i < kChannels; ++i) {
        const uint8_t ib = channelBank(kIchBank, i), sb = channelBank(kScalerBank, i), mb = channelBank(kMemBank, i);
        MemoryWriter w;
        w.ich = i;
        w.modeCode = chip.reg(0x00, static_cast<uint8_t>(kWriteModeReg + i));
        w.mode = memoryModeOfCode(w.modeCode);
        const uint32_t hshrink = chip.reg(sb, kHShrinkMode) == kHShrinkOn ? chip.regValue(sb, kHShrink, 2) : 0;
        const uint32_t vshrink = chip.reg(sb, kVShrinkMode) == kVShrinkOn ? chip.regValue(sb, kVShrink, 2) : 0;
        w.pixels = shrunk(static_cast<int>(chip.regValue(ib, kIchHw, 2)) * pixelsPerClock(chip, i), hshrink);
        const int fields = i < kWeaveChannels && chip.reg(mb, kWeave) == 1 ? 2 : 1;
        w.weavesVbo = fields == 2 && chip.reg(0x00, static_cast<uint8_t>(kIchSourceReg + i)) >= kFirstVboSource;
        w.lines = shrunk(static_cast<int>(chip.regValue(ib, kIchVw, 2)) * fields, vshrink);
        if (!writes(chip.reg(ib, kIchWrite)) || w.pixels <= 0 || w.lines <= 0)
            continue;
        // Sources 2p take parallel port p, 8-11 and 12-15 the V-by-One ports 4 and 5.
        const uint8_t source = chip.reg(0x00, static_cast<uint8_t>(kIchSourceReg + i));
        w.port = source < 8 ? source / 2 : source < 16 ? 4 + (source - 8) / 4 : -1;
        w.frozen = chip.reg(ib, kIchWrite) == kIchFrozen;
        w.bytes = memoryLineBytes(static_cast<uint32_t>(w.pixels), w.mode);
        w.pitch = chip.reg(mb, kPitch) * kKiB;
        for (int b = 0; b < kFrameBuffers; ++b) {
            w.base[b] = chip.regValue(mb, static_cast<uint8_t>(kWriteAddr + kAddrStep * b), 4);
            judgeRegion(spanOf(w, b), b, b, &w.leak);
        }
        out.push_back(w);
    }
    return out;
}

// A pair in dual mode divides each line of one picture: the second channel's part is stored
// right after the first one's, in every buffer.
void judgeDualPairs(const VideoChipStill& chip, std::vector<MemoryWriter>& writers)
{
    for (int pair = 0; pair < kChannels / 2; ++pair) {
        if (chip.reg(kDualBank, static_cast<uint8_t>(kDualMode + kDualStep * pair)) != kDualOn)
            continue;
        MemoryWriter* first = nullptr;
        MemoryWriter* second = nullptr;
        for (MemoryWriter& w : writers) {
            if (w.ich == 2 * pair)
                first = &w;
            if (w.ich == 2 * pair + 1)
                second = &w;
        }
        if (!first)
            continue;
        first->dualWith = 2 * pair + 1;
        first->dualApart = !second;
        if (!second)
            continue;
        second->dualWith = first->ich;
        for (int b = 0; b < kFrameBuffers; ++b)
            first->dualApart = first->dualApart || second->base[b] != first->base[b] + first->bytes;
    }
}

// A channel writes in its own slot; a pair's channels in the pair's two.
int firstSlot(const MemoryWriter& w) { return w.pairSlots ? w.ich / 2 * 2 : w.ich; }
int slotsOf(const MemoryWriter& w) { return w.pairSlots ? 2 : 1; }

// Both channels of a pair take one V-by-One receiver (four sources each).
bool sharesReceiver(const VideoChipStill& chip, int ich)
{
    const uint8_t a = chip.reg(0x00, static_cast<uint8_t>(kIchSourceReg + ich));
    const uint8_t b = chip.reg(0x00, static_cast<uint8_t>(kIchSourceReg + (ich ^ 1)));
    return a >= kFirstVboSource && a / kVboSources == b / kVboSources;
}

void judgeWriterSlots(const VideoChipStill& chip, std::vector<MemoryWriter>& writers)
{
    for (MemoryWriter& w : writers) {
        w.pairSlots = w.dualWith >= 0 || sharesReceiver(chip, w.ich);
        for (int b = 0; b < kFrameBuffers; ++b)
            judgeSlots(spanOf(w, b), b, firstSlot(w), slotsOf(w), &w.slotLeak);
    }
}

std::vector<FieldStore> decodeFields(const VideoChipStill& chip, const std::vector<MemoryWriter>& writers)
{
    std::vector<FieldStore> out;
    for (const MemoryWriter& w : writers) {
        if (w.ich >= kWeaveChannels || chip.reg(channelBank(kMemBank, w.ich), kWeave) != 1)
            continue;
        const uint8_t fb = channelBank(kFieldBank, w.ich), pb = channelBank(kIpBank, w.ich);
        FieldStore f;
        f.ich = w.ich;
        f.pitch = chip.regValue(fb, kFieldPitch, 2) * kKiB;
        f.bytes = memoryLineBytes(chip.regValue(pb, kIpWidth, 2), w.mode);
        f.lines = static_cast<int>(chip.regValue(pb, kIpHeight, 2) / 2);
        for (int b = 0; b < FieldStore::kBuffers; ++b) {
            f.base[b] = chip.regValue(fb, static_cast<uint8_t>(kFieldWrite + kAddrStep * b), 4);
            judgeRegion(spanOf(f, b), b, -1, &f.leak);
            judgeSlots(spanOf(f, b), b, firstSlot(w), slotsOf(w), &f.slotLeak);
        }
        for (int b = 0; b < FieldStore::kBuffers; ++b) {
            const uint32_t r = chip.regValue(fb, static_cast<uint8_t>(kFieldRead + kAddrStep * b), 4);
            f.strayRead = f.strayRead || std::find(f.base, f.base + FieldStore::kBuffers, r) == f.base + FieldStore::kBuffers;
        }
        out.push_back(f);
    }
    return out;
}

// Whether the read of buffer b hits each writer, and whether all it reads is written.
void judgeBuffer(MemoryRead& r, int b, const std::vector<MemoryWriter>& writers, std::vector<bool>& hit)
{
    std::vector<std::pair<int64_t, int64_t>> spans;
    const Span read{r.starts[b], r.step, r.bytes, r.lines};
    for (int i = 0; i < r.lines; ++i) {
        const int64_t lo = read.lineAt(i), hi = lo + r.bytes;
        spans.clear();
        for (size_t k = 0; k < writers.size(); ++k)
            eachHit(spanOf(writers[k], b), lo, hi, [&](int64_t a, int64_t e) {
                hit[k] = true;
                spans.emplace_back(a, e);
            });
        std::sort(spans.begin(), spans.end());
        int64_t covered = lo;
        for (const auto& s : spans)
            if (s.first <= covered)
                covered = std::max(covered, s.second);
        if (covered < hi)
            r.unwritten = true;
    }
    judgeRegion(read, b, b, &r.leak);
}

void judgeRead(MemoryRead& r, const std::vector<MemoryWriter>& writers)
{
    std::vector<bool> hit(writers.size(), false);
    for (int b = 0; b < kFrameBuffers; ++b)
        judgeBuffer(r, b, writers, hit);
    for (size_t k = 0; k < writers.size(); ++k) {
        if (!hit[k])
            continue;
        r.ichs.push_back(writers[k].ich);
        if (writers[k].mode != r.mode)
            r.mismatch = true;
    }
}

std::vector<MemoryRead> decodeReads(const VideoChipStill& chip, const std::vector<MemoryWriter>& writers)
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
        r.position = d.mixer >= 0 ? d.mixer : d.och;
        const uint8_t mb = channelBank(kMemBank, d.och);
        for (int b = 0; b < kFrameBuffers; ++b)
            r.starts[b] = chip.regValue(mb, static_cast<uint8_t>(kReadAddr + kAddrStep * b), 4);
        r.start = r.starts[0];
        const uint32_t step = chip.reg(mb, kLineStep);
        r.step = step < kBackwardStep ? int64_t(step) * kKiB : -int64_t(kStepWrap - step) * kKiB;
        r.modeCode = chip.reg(0x00, static_cast<uint8_t>(kReadModeReg + d.och));
        r.mode = memoryModeOfCode(r.modeCode);
        const uint8_t ob = channelBank(kOchBank, d.och), zb = channelBank(kZoomBank, d.och);
        r.mirrored = chip.reg(ob, kHMirror) == 1;
        r.covered = chip.reg(ob, kBkgEnable) & 1;
        r.y = d.y;
        r.height = d.height;
        const int height = static_cast<int>(chip.regValue(ob, kPlaceHeight, 2)) - 1;
        r.pixels = zoomSource(d.width, chip.regValue(zb, kHZoom, 2));
        r.bytes = memoryLineBytes(static_cast<uint32_t>(r.pixels), r.mode);
        r.lines = zoomSource(height, chip.regValue(zb, kVZoom, 2));
        judgeRead(r, writers);
        out.push_back(r);
    }
    return out;
}

// The pieces of one row of a grid lie side by side on the panel, left to right by their panel
// position, and each shows the part of the stored line that its place asks for: the next part
// to the right, or with the mirror the next part to the left.
void judgeRow(std::vector<MemoryRead*>& row)
{
    std::sort(row.begin(), row.end(), [](const MemoryRead* a, const MemoryRead* b) { return a->position < b->position; });
    uint32_t origin = row[0]->start;
    for (const MemoryRead* r : row)
        origin = std::min(origin, r->start);
    auto at = [origin](const MemoryRead* r) { return int64_t(memoryLinePixels(r->start - origin, r->mode)); };
    for (size_t i = 1; i < row.size(); ++i) {
        MemoryRead* left = row[i - 1];
        MemoryRead* right = row[i];
        const int64_t gap = left->mirrored ? at(left) - (at(right) + right->pixels) : at(right) - (at(left) + left->pixels);
        const int64_t slack = kPartSlack + (left->mode == 2 ? kGroupSlack : 0);
        if (left->mirrored != right->mirrored || std::llabs(gap) > slack)
            left->wrongPart = right->wrongPart = true;
    }
}

// One row of a grid: the stored line its pieces start on, counted from the grid's writer, and
// its pieces left to right.
struct GridRow {
    int64_t line;
    std::vector<MemoryRead*> pieces;
};

// The rows of a grid lie one under the other, top to bottom by their panel position, and each
// shows the stored lines its place asks for: the next ones down, or reading backward (the
// vertical mirror) the next ones up.
void judgeColumn(std::vector<GridRow>& rows)
{
    std::sort(rows.begin(), rows.end(),
              [](const GridRow& a, const GridRow& b) { return a.pieces[0]->position < b.pieces[0]->position; });
    for (size_t i = 1; i < rows.size(); ++i) {
        const GridRow& upper = rows[i - 1];
        const GridRow& lower = rows[i];
        const MemoryRead* u = upper.pieces[0];
        const bool backward = u->step < 0;
        const int64_t gap = backward ? upper.line - u->lines - lower.line : lower.line - (upper.line + u->lines);
        if (backward == (lower.pieces[0]->step < 0) && std::llabs(gap) <= kPartSlack)
            continue;
        for (const GridRow* row : {&upper, &lower})
            for (MemoryRead* r : row->pieces)
                r->wrongPart = true;
    }
}

// The writer whose first line a grid's rows are counted from: the one a read hits, or for the
// two halves of one V-by-One receiver or a dual pair, the pair's left half, so that a piece of
// either half starts on the same row.
const MemoryWriter* rowOrigin(const std::vector<MemoryWriter>& writers, int ich)
{
    const MemoryWriter* ref = nullptr;
    for (const MemoryWriter& w : writers)
        if (w.ich == ich && w.pitch > 0)
            ref = &w;
    if (!ref || !ref->pairSlots)
        return ref;
    for (const MemoryWriter& w : writers)
        if (w.pairSlots && w.ich / 2 == ref->ich / 2 && w.pitch == ref->pitch && w.base[0] < ref->base[0])
            ref = &w;
    return ref;
}

void judgeParts(std::vector<MemoryRead>& reads, const std::vector<MemoryWriter>& writers)
{
    for (int first = 0; first < kChannels; ++first) {
        // Rows by the stored line they start on, counted from the grid's writer, and by their
        // place inside their cells: a zoom may show one stored line on two rows of the grid, but
        // the pieces of one row lie at one height.
        struct Key {
            int64_t line;
            int y, height;
            bool operator<(const Key& o) const
            {
                return std::tie(line, y, height) < std::tie(o.line, o.y, o.height);
            }
            bool operator==(const Key& o) const { return line == o.line && y == o.y && height == o.height; }
        };
        std::vector<std::pair<Key, MemoryRead*>> keyed;
        const MemoryWriter* ref = nullptr;
        std::vector<int> hit;   // every input channel the grid's reads hit
        for (MemoryRead& r : reads) {
            if (r.first != first || r.covered || r.ichs.empty() || r.mode == kUnknownMode)
                continue;
            if (!ref)
                ref = rowOrigin(writers, r.ichs.front());
            hit.insert(hit.end(), r.ichs.begin(), r.ichs.end());
        }
        // Several writers may store the parts of one picture side by side on the same lines (the
        // ports of a multi-port dot-by-dot window): the rows are counted from the first of them in
        // memory, the top-left part, whose first byte starts a line of the picture.
        for (const MemoryWriter& w : writers)
            if (ref && w.pitch == ref->pitch && w.base[0] < ref->base[0] &&
                std::find(hit.begin(), hit.end(), w.ich) != hit.end())
                ref = &w;
        for (MemoryRead& r : reads) {
            if (r.first != first || r.covered || r.ichs.empty() || r.mode == kUnknownMode || !ref)
                continue;
            keyed.emplace_back(Key{floorDiv(int64_t(r.start) - int64_t(ref->base[0]), ref->pitch), r.y, r.height}, &r);
        }
        std::sort(keyed.begin(), keyed.end(),
                  [](const std::pair<Key, MemoryRead*>& a, const std::pair<Key, MemoryRead*>& b) { return a.first < b.first; });
        std::vector<GridRow> rows;
        for (size_t i = 0; i < keyed.size();) {
            const Key key = keyed[i].first;
            GridRow row{key.line, {}};
            for (; i < keyed.size() && keyed[i].first == key; ++i)
                row.pieces.push_back(keyed[i].second);
            judgeRow(row.pieces);
            rows.push_back(row);
        }
        judgeColumn(rows);
    }
}

// Input channels whose writers or field stores intersect in any of their buffers.
std::vector<std::pair<int, int>> decodeOverlaps(const MemoryMap& m)
{
    std::map<int, std::vector<Span>> areas;   // by input channel: the pairs come out in order
    for (const MemoryWriter& w : m.writers)
        for (int b = 0; b < kFrameBuffers; ++b)
            areas[w.ich].push_back(spanOf(w, b));
    for (const FieldStore& f : m.fields)
        for (int b = 0; b < FieldStore::kBuffers; ++b)
            areas[f.ich].push_back(spanOf(f, b));
    std::vector<std::pair<int, int>> out;
    for (auto a = areas.begin(); a != areas.end(); ++a)
        for (auto b = std::next(a); b != areas.end(); ++b) {
            bool hit = false;
            for (const Span& x : a->second)
                for (const Span& y : b->second)
                    hit = hit || intersects(x, y);
            if (hit)
                out.emplace_back(a->first, b->first);
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

std::string modeText(int mode, uint8_t code)
{
    char s[40];
    if (mode == kUnknownMode)
        std::snprintf(s, sizeof s, "mode code 0x%02x unknown", code);
    else
        std::snprintf(s, sizeof s, "mode %d", mode);
    return s;
}

// "leaves plain buffer 0 by 224 lines", "buffer 3 lies in plain buffer 0", "buffer 2 lies in the
// font area", "buffer 1 lies outside the memory map".
std::string leakText(const RegionLeak& l)
{
    char s[80];
    if (l.misplaced)
        std::snprintf(s, sizeof s, "buffer %d lies in %s %d", l.buffer, l.region->name, l.region->index);
    else if (l.region && l.region->frames)
        std::snprintf(s, sizeof s, "leaves %s %d by %d line%s", l.region->name, l.region->index, l.lines,
                      l.lines == 1 ? "" : "s");
    else if (l.region)
        std::snprintf(s, sizeof s, "buffer %d lies in the %s", l.buffer, l.region->name);
    else
        std::snprintf(s, sizeof s, "buffer %d lies outside the memory map", l.buffer);
    return s;
}

// "buffer 0 writes in slot 2", "leaves slot 1 by 2 bytes a line", "leaves slots 4-5 by 2 bytes a
// line", "leaves its band by 4 bytes a line".
std::string slotText(const SlotLeak& l)
{
    char s[80];
    const char* unit = l.bytes == 1 ? "byte" : "bytes";
    if (l.stray >= 0)
        std::snprintf(s, sizeof s, "buffer %d writes in slot %d", l.buffer, l.stray);
    else if (l.count == 1)
        std::snprintf(s, sizeof s, "leaves slot %d by %u %s a line", l.first, l.bytes, unit);
    else if (l.count > 1)
        std::snprintf(s, sizeof s, "leaves slots %d-%d by %u %s a line", l.first, l.first + l.count - 1, l.bytes, unit);
    else
        std::snprintf(s, sizeof s, "leaves its band by %u %s a line", l.bytes, unit);
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

uint32_t memoryLinePixels(uint32_t bytes, int mode)
{
    switch (mode) {
    case 1: return bytes / 16 * 5 + bytes % 16 / 3;
    case 2: return bytes * 3 / 8;
    case 3: return bytes / 2;
    default: return bytes / 4;
    }
}

int memoryModeOfCode(uint8_t code)
{
    for (int m = 0; m < 4; ++m)
        if (kModeCodes[m] == code)
            return m;
    return kUnknownMode;
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

bool MemoryMap::writersSound() const
{
    for (const MemoryWriter& w : writers)
        if (w.leak.any() || w.slotLeak.any() || w.dualApart || w.weavesVbo || w.mode == kUnknownMode)
            return false;
    for (const FieldStore& f : fields)
        if (f.leak.any() || f.slotLeak.any() || f.strayRead)
            return false;
    return true;
}

MemoryMap decodeMemory(const VideoChipStill& chip)
{
    MemoryMap m;
    m.writers = decodeWriters(chip);
    judgeDualPairs(chip, m.writers);
    judgeWriterSlots(chip, m.writers);
    m.fields = decodeFields(chip, m.writers);
    m.reads = decodeReads(chip, m.writers);
    judgeParts(m.reads, m.writers);
    m.overlaps = decodeOverlaps(m);
    return m;
}

std::string describeMemory(const VideoChipStill& chip)
{
    const MemoryMap m = decodeMemory(chip);
    std::string s = "[memory]\n";
    char line[200];
    for (const MemoryWriter& w : m.writers) {
        std::snprintf(line, sizeof line, "ich %d: writes 0x%08x-0x%08x pitch %u KiB, %u bytes x %d lines, %s\n", w.ich,
                      w.base[0], w.end(), w.pitch / kKiB, w.bytes, w.lines, modeText(w.mode, w.modeCode).c_str());
        s += line;
    }
    for (const FieldStore& f : m.fields) {
        std::snprintf(line, sizeof line, "ich %d fields: writes 0x%08x, 0x%08x, 0x%08x, 0x%08x pitch %u KiB, %u bytes x %d lines\n",
                      f.ich, f.base[0], f.base[1], f.base[2], f.base[3], f.pitch / kKiB, f.bytes, f.lines);
        s += line;
    }
    for (const MemoryWriter& w : m.writers) {
        if (w.leak.any())
            s += "ich " + std::to_string(w.ich) + ": " + leakText(w.leak) + "\n";
        if (w.slotLeak.any())
            s += "ich " + std::to_string(w.ich) + ": " + slotText(w.slotLeak) + "\n";
        if (w.weavesVbo)
            s += "ich " + std::to_string(w.ich) + ": weaves fields of a V-by-One source\n";
        if (w.dualApart)
            s += "ich " + std::to_string(w.ich) + ": dual mode with ich " + std::to_string(w.dualWith) +
                 (m.writer(w.dualWith) ? ", whose half is not stored beside it\n" : ", which writes nothing\n");
    }
    for (const FieldStore& f : m.fields) {
        if (f.leak.any())
            s += "ich " + std::to_string(f.ich) + " fields: " + leakText(f.leak) + "\n";
        if (f.slotLeak.any())
            s += "ich " + std::to_string(f.ich) + " fields: " + slotText(f.slotLeak) + "\n";
        if (f.strayRead)
            s += "ich " + std::to_string(f.ich) + " fields: reads a field buffer it does not write\n";
    }
    for (const MemoryRead& r : m.reads) {
        if (r.covered) {
            std::snprintf(line, sizeof line, "och %d piece %d: covered by the input background\n", r.first, r.piece);
            s += line;
            continue;
        }
        std::string what;
        if (r.ichs.empty())
            what = "unwritten memory";
        else
            what = ichList(r.ichs) + (r.unwritten ? " and unwritten memory" : "");
        if (r.mode == kUnknownMode)
            what += ", " + modeText(r.mode, r.modeCode);
        else if (!r.ichs.empty())
            what += r.mismatch ? ", mode mismatch" : ", mode " + std::to_string(r.mode);
        if (r.wrongPart)
            what += ", wrong part of the picture";
        std::snprintf(line, sizeof line, "och %d piece %d: reads %s\n", r.first, r.piece, what.c_str());
        s += line;
        if (r.leak.any())
            s += "och " + std::to_string(r.first) + " piece " + std::to_string(r.piece) + ": " + leakText(r.leak) + "\n";
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
