#include "engine/c331_geometry.h"

#include <algorithm>

namespace geometry {

namespace {

// Dot-by-dot modes combining several ports: which ports (1-6 in chip port order) add up
// horizontally or vertically.
struct DbdArea {
    int mode;
    int wPorts[4];
    int hPorts[2];
};
constexpr DbdArea kDbdAreas[] = {
    {20, {1, 2}, {1}},       {21, {1}, {1, 2}},
    {22, {3, 4}, {3}},       {23, {3}, {3, 4}},
    {30, {1, 2, 3}, {1}},    {40, {1, 2, 3, 4}, {1}},
    {41, {1, 2}, {1, 3}},    {50, {5, 6}, {5}},
    {51, {5}, {5, 6}},
};
constexpr int kDbdSingle = 1;

int sumOf(const int* ports, int n, const int* sizes)
{
    int s = 0;
    for (int i = 0; i < n && ports[i] > 0; ++i)
        s += sizes[ports[i] - 1];
    return s;
}

}  // namespace

_ImageWindowDef_st calcIwin(const IwinSource& s)
{
    _ImageWindowDef_st iw{0, 0, 0, 0};
    if (s.columns <= 0 || s.rows <= 0 || s.hact <= 0 || s.vact <= 0)
        return iw;
    const bool frameHeight = s.scan && s.mainIch >= 0 && s.mainIch < c331_manage::kIpChannels;
    if (s.dbdMode == kDbdSingle) {
        const bool own = s.ownPort >= 0 && s.ownPort < c331_manage::kPorts;
        iw.HW = own ? s.dbdW[s.ownPort] : 0;
        iw.VW = own ? s.dbdH[s.ownPort] * (frameHeight ? 2 : 1) : 0;
        return iw;
    }
    for (const DbdArea& d : kDbdAreas) {
        if (d.mode != s.dbdMode)
            continue;
        iw.HW = sumOf(d.wPorts, 4, s.dbdW);
        iw.VW = d.hPorts[1] ? s.dbdH[d.hPorts[0] - 1] + s.dbdH[d.hPorts[1] - 1] : s.dbdH[d.hPorts[0] - 1];
        return iw;
    }
    const int h = s.wide ? 2 * s.hact : s.hact;
    if (s.crop) {
        // A crop is set in frame lines, the lines the user sees of an interlaced input.
        const int v = s.scan ? 2 * s.vact : s.vact;
        // A crop starting past the picture starts at 0; one leaving less than a pixel takes the
        // whole picture from 0, so the channel never reads past the line.
        iw.HST = s.left < h ? std::max(s.left, 0) : 0;
        iw.HW = h - s.left - s.right;
        if (iw.HW < 1 || iw.HST + iw.HW > h) {
            iw.HST = 0;
            iw.HW = h;
        }
        iw.VST = s.up < v ? std::max(s.up, 0) : 0;
        iw.VW = v - s.up - s.down;
        if (iw.VW < 1 || iw.VST + iw.VW > v) {
            iw.VST = 0;
            iw.VW = v;
        }
        // Fields are woven into frames only on a channel with an input processor; another
        // channel stores one field, where the cropped frame lines are half as many field lines.
        if (s.scan && !frameHeight) {
            const int end = (iw.VST + iw.VW + 1) / 2;
            iw.VST /= 2;
            iw.VW = std::max(end - iw.VST, 1);
        }
        return iw;
    }
    iw.HW = h;
    iw.VW = frameHeight ? 2 * s.vact : s.vact;
    return iw;
}

_ImageWindowDef_st calcOwin(int W, int H, int columns, int rows, const int m[4], int dbdMode, bool fit,
                            _ImageWindowDef_st* iwin)
{
    _ImageWindowDef_st ow{0, 0, 0, 0};
    if (columns > 0)
        ow.HW = W * columns;
    if (rows > 0)
        ow.VW = H * rows;
    ow.HST = m[0];
    ow.HW -= m[0] + m[1];
    ow.VST = m[2];
    ow.VW -= m[2] + m[3];
    if (dbdMode != 0 && iwin) {
        if (fit) {
            iwin->HW = std::min(iwin->HW, ow.HW);
            iwin->VW = std::min(iwin->VW, ow.VW);
            if (iwin->HW < 1)
                ow.HW = iwin->HW;
            if (iwin->VW < 1)
                ow.VW = iwin->VW;
        } else {
            if (iwin->HW > ow.HW)
                iwin->HW = ow.HW;
            else
                ow.HW = iwin->HW;
            if (iwin->VW > ow.VW)
                iwin->VW = ow.VW;
            else
                ow.VW = iwin->VW;
        }
    }
    ow.HW = std::max(ow.HW, 0);
    ow.VW = std::max(ow.VW, 0);
    return ow;
}

namespace {

// One direction of calcOact: the piece of [st, st + len) in cell i of size S.
void cut(int st, int len, int S, int i, int* pst, int* plen)
{
    const int offset = st - i * S;
    if (S <= 0 || len <= 0 || offset >= S) {
        *pst = *plen = 0;
        return;
    }
    const bool runsPast = static_cast<int64_t>(st) + len > static_cast<int64_t>(i + 1) * S - 1;
    if (offset < 0) {
        *pst = 0;
        *plen = runsPast ? S : std::max(st + len - i * S, 0);
    } else {
        *pst = offset;
        *plen = runsPast ? S - offset : len;
    }
}

}  // namespace

void calcOact(const _ImageWindowDef_st& ow, int W, int H, int columns, int rows, _ImageWindowDef2_St p[kGridMax])
{
    for (int i = 0; i < kGridMax; ++i)
        p[i] = _ImageWindowDef2_St{0, 0, 0, 0, 0, 0, 0, 0};
    const int cols = std::clamp(columns, 0, kGridMax), rws = std::clamp(rows, 0, kGridMax);
    for (int i = 0; i < cols; ++i)
        cut(ow.HST, ow.HW, W, i, &p[i].HST, &p[i].HW);
    for (int i = 0; i < rws; ++i)
        cut(ow.VST, ow.VW, H, i, &p[i].VST, &p[i].VW);
    int firstH = -1, lastH = -1, firstV = -1, lastV = -1;
    for (int i = 0; i < cols; ++i)
        if (p[i].HW != 0) {
            firstH = firstH < 0 ? i : firstH;
            lastH = i;
        }
    for (int i = 0; i < rws; ++i)
        if (p[i].VW != 0) {
            firstV = firstV < 0 ? i : firstV;
            lastV = i;
        }
    if (firstH >= 0) {
        p[firstH].firstH = 1;
        p[lastH].lastH = 1;
    }
    if (firstV >= 0) {
        p[firstV].firstV = 1;
        p[lastV].lastV = 1;
    }
}

uint32_t ratio(int num, int den)
{
    if (num < 1 || den <= 1)
        return 0;
    return static_cast<uint32_t>((static_cast<uint64_t>(num - 1) * kUnity) / static_cast<uint64_t>(den - 1) + 1);
}

namespace {

// One axis: mode 1 shrinks an input longer than the output, mode 2 zooms a shorter one; equal or
// unknown lengths leave the axis at mode 0.
void scaleAxis(int in, int out, int& mode, uint32_t& shrink, uint32_t& zoom)
{
    if (in <= 0 || out <= 0 || in == out)
        return;
    if (in > out) {
        mode = 1;
        shrink = ratio(out, in);
    } else {
        mode = 2;
        zoom = ratio(in, out);
    }
}

}  // namespace

_ScalingSt calcScaling(const _ImageWindowDef_st& iw, const _ImageWindowDef_st& ow)
{
    _ScalingSt s{0, 0, 0, 0, 0, 0};
    scaleAxis(iw.HW, ow.HW, s.hmode, s.hshrink, s.hzoom);
    scaleAxis(iw.VW, ow.VW, s.vmode, s.vshrink, s.vzoom);
    return s;
}

uint32_t zoomMemPos(uint32_t outPos, uint32_t zoom)
{
    const uint64_t sub = static_cast<uint64_t>(outPos) * zoom;
    uint32_t pos = static_cast<uint32_t>(sub / kUnity);
    if (zoom && (sub % kUnity) >= zoom)
        ++pos;
    return pos;
}

uint32_t shrinkPhase(int start, uint32_t r)
{
    if (start <= 0)
        return 0;
    const uint32_t v = 256 - static_cast<uint32_t>((static_cast<uint64_t>(start) * r / 256) % 256);
    return v < 256 ? v : 0;
}

uint32_t lineBytes(uint32_t n, int memMode)
{
    switch (memMode) {
    case 1: return n / 5 * 16 + n % 5 * 3;
    case 2: return (n + (3 - n % 3) % 3) * 8 / 3;
    case 3: return 2 * n;
    default: return 4 * n;
    }
}

uint32_t pixelOffset(uint32_t n, int memMode) { return memMode == 2 ? n / 3 * 8 : lineBytes(n, memMode); }

int memModeFor(uint32_t pixels, uint32_t bytes)
{
    // Four bytes a pixel where they fit, then 16/5, then 2; 8/3 is the field inputs' own.
    static constexpr int kOrder[] = {0, 1, 3};
    for (int mode : kOrder)
        if (lineBytes(pixels, mode) <= bytes)
            return mode;
    return kNoMode;
}

uint32_t widestLine(uint32_t bytes, int mode)
{
    // Lines grow with their pixels, and no mode stores a pixel in less than a byte.
    uint32_t lo = 0, hi = bytes;
    while (lo < hi) {
        const uint32_t mid = lo + (hi - lo + 1) / 2;
        if (lineBytes(mid, mode) <= bytes)
            lo = mid;
        else
            hi = mid - 1;
    }
    return lo;
}

uint32_t shrunkCount(uint32_t n, uint32_t r)
{
    if (n == 0 || r == 0 || r >= kUnity)
        return n;
    return static_cast<uint32_t>((static_cast<uint64_t>(n - 1) * r >> 16) + 1);
}

int64_t readFrom(int start, int mode, uint32_t shrink, uint32_t zoom, int out, uint32_t stored)
{
    int64_t from = mode == 1 && start > 0 ? (int64_t(start - 1) * shrink >> 16) + 1 : start;
    const int64_t span = mode == 2 ? shrunkCount(static_cast<uint32_t>(std::max(out, 0)), zoom) : std::max(out, 0);
    if (stored > 0 && from + span > stored)
        from = int64_t(stored) - span;
    return std::max<int64_t>(from, 0);
}

void meetNeighbours(uint32_t start[], const int shown[], int n, uint32_t zoom, bool mirrored)
{
    int order[kGridMax];
    int count = 0;
    for (int k = 0; k < n && k < kGridMax; ++k)
        if (shown[k] > 0)
            order[count++] = k;
    // Pieces starting on one stored sample lie in memory in the order they show it: left to right,
    // or right to left on a mirrored line.
    std::stable_sort(order, order + count, [&](int a, int b) {
        return start[a] != start[b] ? start[a] < start[b] : (mirrored ? a > b : a < b);
    });
    for (int i = count - 2; i >= 0; --i) {
        const int a = order[i], b = order[i + 1];
        const uint32_t span = shrunkCount(static_cast<uint32_t>(shown[a]), zoom);
        const uint32_t latest = start[b] + 1 >= span ? start[b] + 1 - span : 0;
        start[a] = std::min(start[a], latest);
    }
}

uint32_t fitRatio(uint32_t n, uint32_t own, uint32_t room)
{
    if (shrunkCount(n, own) <= room)
        return own;
    return ratio(static_cast<int>(room), static_cast<int>(n));
}

int stitchRole(const int map[kWinCount], int* w, int* partner)
{
    *partner = -1;
    auto lastNaming = [&](int m) {
        int last = -1;
        for (int i = 0; i < kWinCount; ++i)
            if (i != m && map[i] == m)
                last = i;
        return last;
    };
    const int self = *w;
    if (self < 0 || self >= kWinCount)
        return 0;
    const int m = map[self];
    if (m == self || m < 0 || m >= kWinCount) {
        const int p = lastNaming(self);
        if (p < 0)
            return 0;
        *partner = p;
        return 1;
    }
    *w = m;
    if (map[m] != m)
        return 0;
    const int p = lastNaming(m);
    if (p < 0)
        return 0;
    *partner = p;
    return 2;
}

}  // namespace geometry
