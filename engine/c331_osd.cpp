// The on-screen display: its settings, the text buffer, drawing into the OSD buffer of chip
// memory with the graphics engine of bank 0x04, and the OSD planes of the output channels
// (bank 0x09 + 16 x channel).
#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "core/global.h"
#include "core/utils.h"
#include "engine/c331_drv.h"
#include "engine/c331_image.h"
#include "engine/c331_manage.h"

using namespace c331osd;

namespace {

// Graphics engine.
constexpr uint32_t kRegGfxStart = 0x040801;
constexpr uint32_t kRegGfxStatus = 0x041701;
constexpr uint8_t kGfxBusy = 0x01;
constexpr uint32_t kRegFillValue = 0x040B02;
constexpr uint32_t kRegSource = 0x040D04;
constexpr uint32_t kRegDest = 0x041104;
constexpr uint32_t kRegDestPitch = 0x041B01;
constexpr uint32_t kRegSrcPitch = 0x041C01;
constexpr uint32_t kRegWidth = 0x041E02;
constexpr uint32_t kRegHeight = 0x042002;
constexpr uint32_t kRegMode = 0x042201;
constexpr uint32_t kRegTextA = 0x042301, kRegTextCount = 0x042401, kRegTextB = 0x042501, kRegTextC = 0x042601;
constexpr uint32_t kRegTextCmd = 0x042702;
constexpr uint32_t kRegTextPort = 0x042901;
constexpr uint32_t kRegTextMode = 0x042A01;
constexpr uint32_t kStartFill = 1, kStartCopy = 2, kStartText = 3;
constexpr uint32_t kTextHeader = 0x0A00;
constexpr uint32_t kTextMode64 = 72, kTextMode32 = 8;
constexpr uint32_t kModeWide = 48;
constexpr uint32_t kFlashWideLimit = 8320;
constexpr int kGfxPolls = 200000;

// OSD planes and colours.
constexpr uint32_t kRegAllChannels = 0xFF0101;
constexpr uint32_t kRegColourIndex = 0x091F01;
constexpr uint32_t kRegColourPort = 0x092001;
constexpr uint32_t kRegPlaneHst = 0x091202, kRegPlaneHw = 0x091402, kRegPlaneVst = 0x091602,
                   kRegPlaneVw = 0x091802, kRegPlaneBase = 0x091A04, kRegPlaneStride = 0x091E01,
                   kRegPlaneCtl = 0x090802;
constexpr uint32_t kRegScrollSpeed = 0x093D01, kRegScrollW = 0x094002, kRegScrollH = 0x094202,
                   kRegScrollCtl = 0x093C01;
constexpr uint32_t kCtlBase = 0x4000, kCtlWide = 0x6000, kCtlVZoom = 0x800, kCtlHZoom = 0x1000,
                   kCtlChar = 3, kCtlBitmap = 2, kCtlBit15 = 0x8000;
constexpr int kPlaneHstAdjust = -4, kPlaneVstAdjust = 1;
constexpr uint32_t kScrollStill = 0x80, kScrollOn = 0x81;
constexpr int kScrollModes = 9;

constexpr int kBackgroundIndex = 1;
constexpr int kTransparentIndex = 255;
constexpr uint32_t kPaletteBytes = 816;
constexpr int kPaletteDma = 4;
constexpr int kSmall = 32, kLarge = 64;
constexpr uint32_t kGlyphBytes32 = 128, kGlyphBytes64 = 512;

int clampByte(int v) { return std::min(255, std::max(0, v)); }

// Placements and sizes are kept within a range far beyond any output yet small enough that the
// margin sums and differences below (a handful of terms each) stay inside an int, whatever a
// received menu file holds.
constexpr int kPlacementLimit = 1 << 20;
constexpr int kPlacementTypes[] = {5, 6, 7, 8, 9, 10, 11, 12, 19, 20, 21, 22, 34, 35};

int boundedPlacement(int type, int value)
{
    for (int t : kPlacementTypes)
        if (t == type)
            return std::min(kPlacementLimit, std::max(-kPlacementLimit, value));
    return value;
}

}  // namespace

// ---- settings ------------------------------------------------------------------------------------

int c331_manage::zelApi_OsdSet(int type, int value)
{
    const int outW = int(sys.width), outH = int(sys.height);
    Settings& s = osd;
    value = boundedPlacement(type, value);
    switch (type) {
    case 0: s.display = value; osd_setup_request = 1; break;
    case 1: s.hzoom = value; osd_setup_request = 1; break;
    case 2: s.vzoom = value; osd_setup_request = 1; break;
    case 3: s.charMode = value; osd_redraw_request = 1; break;
    case 4: s.scrollMode = ((value % kScrollModes) + kScrollModes) % kScrollModes; osd_setup_request = 1; break;
    case 5: s.outLeft = value + ImageView::current().word(ramaddr::kLedX); break;
    case 6: s.outRight = outW - value - s.outLeft; break;
    case 7: s.outTop = value; break;
    case 8: s.outBottom = outH - value - s.outTop; break;
    case 9: s.srcLeft = 0; break;
    case 10: s.srcRight = s.width - value - s.outLeft; break;
    case 11: s.srcTop = value; break;
    case 12: s.srcBottom = s.height - value - s.outTop; break;
    case 13: s.speed = value & 0xFF; osd_setup_request = 1; break;
    case 14: s.large = value; osd_redraw_request = 1; break;
    case 15: s.update = value; osd_redraw_request = 1; break;
    case 16: s.bgColor = uint32_t(value) & 0xFFFFFF; break;
    case 17: s.charColor = uint32_t(value) & 0xFFFFFF; break;
    case 18: s.transparent = value; break;
    case 19: s.width = value; break;
    case 20: s.height = value; break;
    case 21: s.textLeft = value; break;
    case 22: s.textTop = value; break;
    case 32:
        osd_setup_request = (value >> 7) & 1;
        osd_redraw_request = (value >> 6) & 1;
        break;
    case 33: s.bit15 = value; break;
    case 34: s.charSpace = value; break;
    case 35: s.lineSpace = value; break;
    default: return 0;
    }
    return 1;
}

int c331_manage::zelApi_OsdSetUnicode(int lineCount, const int* lengths, const wchar_t text[][kLineCodes])
{
    std::memset(osd_text, 0, sizeof osd_text);
    osd_line_count = std::min(std::max(lineCount, 0), kTextLines);
    for (int i = 0; i < osd_line_count; ++i) {
        const int n = std::min(std::max(lengths[i], 0), kLineCodes - 1);
        for (int k = 0; k < n; ++k)
            osd_text[i][k] = uint16_t(uint32_t(text[i][k]) & 0xFFFF);
    }
    return 0;
}

void c331_manage::load_char()
{
    Settings& s = osd;
    s.bgColor = osd_char_txt[2];
    s.transparent = int(osd_char_txt[3]);
    s.textLeft = int(osd_char_txt[4]);
    s.textTop = int(osd_char_txt[5]);
    s.charColor = osd_char_txt[6];
    for (int f = 0; f < kFonts; ++f) {
        s.fontFlash[f] = osd_char_txt[7 + 2 * f];
        s.fontSize[f] = osd_char_txt[8 + 2 * f];
    }
    s.width = int(sys.width);
    s.height = int(sys.height);
}

void c331_manage::load_bmp()
{
    osd.bmpFlash = osd_bmp_txt[0];
    osd.bmpWidth = osd_bmp_txt[1];
    osd.bmpHeight = osd_bmp_txt[2];
    osd.paletteFlash = osd_bmp_txt[3];
}

// ---- graphics engine -----------------------------------------------------------------------------

namespace {

// Runs one graphics-engine operation that the caller has set up.
int runGfx(c331_manage& e, uint32_t start)
{
    e.wr(kRegGfxStart, start);
    int polls = 0;
    while ((e.rd(kRegGfxStatus) & kGfxBusy) && polls < kGfxPolls)
        ++polls;
    e.wr(kRegGfxStart, 0);
    if (polls < kGfxPolls)
        return 0;
    ZEL_DEBUG("[osd] graphics engine stays busy\n");
    writeLogMsg(LOG_FAILURE, "OSD graphics engine timeout");
    return 255;
}

// Width and height of the buffer the OSD shows: the character-mode buffer or the bitmap.
struct Size {
    int width, height;
};
Size osdSize(const Settings& s)
{
    return s.charMode ? Size{s.width, s.height} : Size{int(s.bmpWidth), int(s.bmpHeight)};
}

Stride osdStride(const Settings& s) { return strideOf(uint32_t(std::max(osdSize(s).width, 0))); }

// What of one axis of the OSD shows: the source left by its margins (doubled by the zoom), cut to
// the output left by the output margins.
int visibleExtent(int outSize, int outMargins, int srcSize, int srcMargins, bool zoom)
{
    return std::max(0, std::min(outSize - outMargins, (srcSize - srcMargins) * (zoom ? 2 : 1)));
}

// One axis of calc_osd: visible extent `visible` from `start` over cells of `cell` pixels.
void splitAxis(int start, int visible, int cell, int cells, int* pos, int* len)
{
    for (int c = 0; c < cells; ++c) {
        const int s = start - c * cell;
        if (s >= cell) {
            pos[c] = 0;
            len[c] = 0;
        } else if (s >= 0) {
            pos[c] = s;
            len[c] = s + visible > cell ? cell - s : visible;
        } else {
            pos[c] = 0;
            len[c] = std::max(0, std::min(cell, start + visible - c * cell));
        }
    }
}

}  // namespace

int c331_manage::osd_copy(uint32_t src, uint32_t dst, int width, int height, int fromFlash)
{
    std::lock_guard<std::recursive_mutex> lock(osd_op_mutex);
    const Stride st = osdStride(osd);
    uint32_t srcPitch, mode;
    if (fromFlash) {
        const uint32_t w = uint32_t(std::max(width, 0));
        srcPitch = w < kFlashWideLimit ? w / 128 : w / 512;
        mode = (st.wide ? 16 : 0) + (w >= kFlashWideLimit ? 32 : 0);
    } else {
        srcPitch = st.value;
        mode = st.wide ? kModeWide : 0;
    }
    wr(kRegSource, src);
    wr(kRegDest, dst);
    wr(kRegWidth, uint32_t(width - 1));
    wr(kRegHeight, uint32_t(height - 1));
    wr(kRegSrcPitch, srcPitch);
    wr(kRegDestPitch, st.value);
    wr(kRegMode, mode);
    return runGfx(*this, kStartCopy);
}

int c331_manage::osd_paint(int x, int width, int y, int height, int fill, uint32_t base)
{
    std::lock_guard<std::recursive_mutex> lock(osd_op_mutex);
    const Stride st = osdStride(osd);
    wr(kRegFillValue, uint32_t(fill));
    wr(kRegWidth, uint32_t(width - 1));
    wr(kRegHeight, uint32_t(height - 1));
    wr(kRegDest, base + uint32_t(x) + uint32_t(y) * st.pitchBytes());
    wr(kRegSrcPitch, st.value);
    wr(kRegDestPitch, st.value);
    wr(kRegMode, st.wide ? kModeWide : 0);
    return runGfx(*this, kStartFill);
}

int c331_manage::osd_put_unicode_string(int x, int y, const uint16_t* codes)
{
    const int size = osd.large ? kLarge : kSmall;
    const Font ascii = size == kLarge ? kAscii64 : kAscii32;
    const uint32_t asciiGlyphs = osd.fontSize[ascii] / (size == kLarge ? kGlyphBytes64 : kGlyphBytes32);
    const int colour = osd.transparent ? kTransparentIndex : kBackgroundIndex;
    std::vector<uint8_t> chars;
    int count = 0;
    for (int i = 0; i < kLineCodes - 1 && codes[i] != 0; ++i) {
        const int g = glyphIndex(codes[i], asciiGlyphs);
        if (g < 0)
            continue;   // no font holds it: skipped rather than read from outside the fonts
        const int advance = (codes[i] < 0x100 ? size / 2 : size) + osd.charSpace;
        const uint8_t bytes[5] = {uint8_t(g), uint8_t(g >> 8), 2, uint8_t(colour), uint8_t(clampByte(advance))};
        chars.insert(chars.end(), bytes, bytes + 5);
        ++count;
    }
    if (count == 0)
        return 0;
    std::lock_guard<std::recursive_mutex> lock(osd_op_mutex);
    const Stride st = osdStride(osd);
    wr(kRegTextMode, size == kLarge ? kTextMode64 : kTextMode32);
    wr(kRegTextCmd, kTextHeader);
    wr(kRegTextPort, uint32_t(size));
    wr(kRegTextCmd, 0);
    for (uint8_t b : chars)
        wr(kRegTextPort, b);
    wr(kRegTextA, 0);
    wr(kRegTextCount, uint32_t(count - 1));
    wr(kRegTextB, 0);
    wr(kRegTextC, 0);
    wr(kRegSource, font_chip_addr[ascii]);
    wr(kRegDest, sys.font_mem[1] + uint32_t(x) + uint32_t(y) * st.pitchBytes());
    return runGfx(*this, kStartText);
}

void c331_manage::gen_char()
{
    const int size = osd.large ? kLarge : kSmall;
    for (int i = 0; i < osd_line_count; ++i) {
        const int y = osd.textTop + i * (size + osd.lineSpace);
        // A line outside the buffer would land in the scroll buffer behind it.
        if (y < 0 || y >= osd.height)
            continue;
        osd_put_unicode_string(osd.textLeft, y, osd_text[i]);
    }
}

void c331_manage::set_char_color()
{
    wr(kRegAllChannels, 1);
    wr(kRegColourIndex, 1);
    for (uint32_t colour : {osd.bgColor, osd.charColor})
        for (int k = 0; k < 3; ++k)
            wr(kRegColourPort, (colour >> (8 * k)) & 0xFF);
    wr(kRegAllChannels, 0);
}

// ---- planes --------------------------------------------------------------------------------------

int c331_manage::calc_osd(Segment* out, int* columnsOut)
{
    const ImageView img = ImageView::current();
    const int cols = std::max(1, int(img.word(ramaddr::kOchNumH)));
    const int rows = std::max(1, std::min(int(img.word(ramaddr::kOchNumV)), kOch / cols));
    const int colW = img.word(ramaddr::kOchW), rowH = img.word(ramaddr::kOchH);
    const Size size = osdSize(osd);
    const int visW =
        visibleExtent(int(sys.width), osd.outLeft + osd.outRight, size.width, osd.srcLeft + osd.srcRight, osd.hzoom);
    const int visH =
        visibleExtent(int(sys.height), osd.outTop + osd.outBottom, size.height, osd.srcTop + osd.srcBottom, osd.vzoom);
    int x[kOch], w[kOch], y[kOch], h[kOch];
    splitAxis(osd.outLeft, visW, colW, std::min(cols, kOch), x, w);
    splitAxis(osd.outTop, visH, rowH, rows, y, h);
    auto firstLast = [](const int* len, int n, int* first, int* last) {
        *first = *last = -1;
        for (int i = 0; i < n; ++i)
            if (len[i] != 0) {
                if (*first < 0)
                    *first = i;
                *last = i;
            }
    };
    int fc, lc, fr, lr;
    firstLast(w, std::min(cols, kOch), &fc, &lc);
    firstLast(h, rows, &fr, &lr);
    int n = 0;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols && n < kOch; ++c, ++n) {
            Segment& s = out[n];
            s = Segment{x[c], w[c], y[r], h[r], c == fc, c == lc, r == fr, r == lr};
        }
    if (columnsOut)
        *columnsOut = cols;
    return n;
}

void c331_manage::set_osd(int, int scrolling)
{
    const Stride st = osdStride(osd);
    uint32_t ctl = st.wide ? kCtlWide : kCtlBase;
    if (osd.vzoom)
        ctl += kCtlVZoom;
    if (osd.hzoom)
        ctl |= kCtlHZoom;
    if (osd.display)
        ctl |= osd.charMode ? kCtlChar : kCtlBitmap;
    if (osd.bit15)
        ctl |= kCtlBit15;
    // A plane that shows nothing is left switched off altogether, as on a chip started afresh.
    if (!osd.display)
        ctl = 0;
    const uint32_t base = scrolling ? sys.font_mem[2] : sys.font_mem[1];
    const int ox = scrolling ? 0 : osd.srcLeft, oy = scrolling ? 0 : osd.srcTop;
    Segment seg[kOch];
    int cols = 1;
    const int n = calc_osd(seg, &cols);
    for (int k = 0; k < n; ++k) {
        const int c = k % cols, r = k / cols;
        int left = 0, above = 0;
        for (int j = 0; j < c; ++j)
            left += seg[r * cols + j].width;
        for (int j = 0; j < r; ++j)
            above += seg[j * cols + c].height;
        if (osd.hzoom)
            left /= 2;
        if (osd.vzoom)
            above /= 2;
        const uint32_t off = chBank(k);
        wr(kRegPlaneHst, uint32_t(int(sys.ohstart) + seg[k].x + kPlaneHstAdjust), off);
        wr(kRegPlaneHw, uint32_t(seg[k].width), off);
        wr(kRegPlaneVst, uint32_t(int(sys.ovstart) + seg[k].y + kPlaneVstAdjust), off);
        wr(kRegPlaneVw, uint32_t(seg[k].height), off);
        wr(kRegPlaneBase, base + uint32_t(ox) + uint32_t(oy + above) * st.pitchBytes() + uint32_t(left), off);
        wr(kRegPlaneStride, st.value, off);
        wr(kRegPlaneCtl, ctl, off);
    }
}

void c331_manage::set_scroll(int)
{
    const Size size = osdSize(osd);
    // Character mode scrolls what calc_osd shows; bitmap mode its source inside the margins.
    const int height = osd.charMode ? visibleExtent(int(sys.height), osd.outTop + osd.outBottom, size.height,
                                                    osd.srcTop + osd.srcBottom, osd.vzoom)
                                    : std::max(0, size.height - osd.srcTop - osd.srcBottom);
    const int width = std::max(0, size.width - osd.srcLeft - osd.srcRight);
    const uint32_t ctl = osd.scrollMode == 0 ? kScrollStill : (uint32_t(osd.scrollMode - 1) * 16) | kScrollOn;
    for (uint32_t control : {0u, ctl})
        for (int ch = 0; ch < kOch; ++ch) {
            const uint32_t off = chBank(ch);
            wr(kRegScrollSpeed, uint32_t(osd.speed), off);
            wr(kRegScrollW, uint32_t(width), off);
            wr(kRegScrollH, uint32_t(height), off);
            wr(kRegScrollCtl, control, off);
        }
}

// ---- redraw --------------------------------------------------------------------------------------

void c331_manage::update_osd(int fd)
{
    std::lock_guard<std::recursive_mutex> lock(osd_op_mutex);
    const uint32_t staging = sys.font_mem[0], buffer = sys.font_mem[1], scroll = sys.font_mem[2];
    if (!osd.charMode)
        load_bmp();
    const Size size = osdSize(osd);
    const Stride st = osdStride(osd);
    if (osd.charMode) {
        osd_paint(0, size.width, 0, size.height, osd.transparent ? kTransparentIndex : kBackgroundIndex, buffer);
        gen_char();
        wait1_povs(fd, 0);
        set_char_color();
    } else {
        osd_write_dma_sfl(osd.bmpFlash, staging, 0, uint32_t(size.width) * uint32_t(size.height));
        osd_copy(staging, buffer, size.width, size.height, 1);
        wait1_povs(fd, 0);
        wr(kRegAllChannels, 1);
        osd_write_dma_sfl(osd.paletteFlash, 0, kPaletteDma, kPaletteBytes);
        wr(kRegAllChannels, 0);
    }
    set_rtct(fd, 2);
    set_osd(fd, 0);
    set_rtct(fd, 1);
    wait1_povs(fd, 0);
    const int w = size.width - osd.srcLeft - osd.srcRight;
    const int h = size.height - osd.srcTop - osd.srcBottom;
    // Margins beyond the buffer leave nothing to scroll (an empty copy would run the engine
    // over its whole range).
    if (w <= 0 || h <= 0)
        return;
    const uint32_t src = buffer + uint32_t(osd.srcLeft) + uint32_t(osd.srcTop) * st.pitchBytes();
    const uint32_t lines = uint32_t(h) * st.pitchBytes();
    for (uint32_t dst : {scroll, scroll + uint32_t(w), scroll + lines, scroll + lines + uint32_t(w)})
        osd_copy(src, dst, w, h, 0);
    set_rtct(fd, 2);
    set_osd(fd, 1);
    set_scroll(fd);
    set_rtct(fd, 1);
}
