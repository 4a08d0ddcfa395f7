// Window geometry on the chip: the input channels cut, shrink and store a window's picture, the
// output channels read it back, zoom it and place each piece on their panel cell.
#include <algorithm>
#include <cstdio>

#include "core/global.h"
#include "engine/c331_geometry.h"
#include "engine/c331_manage.h"
#include "engine/c331_picture_calc.h"

namespace {

using geometry::kUnity;

// ---- input channel (bank offset 16 x channel) ----
constexpr uint32_t kRegIchWrite = 0x100901, kIchWriting = 1;
constexpr uint32_t kRegIchHst = 0x101702, kRegIchHw = 0x101902, kRegIchVst = 0x101B02, kRegIchVw = 0x101D02;
constexpr uint32_t kRegShrinkPhaseOn = 0x114201, kHPhaseOn = 0x80, kVPhaseOn = 0x08;
constexpr uint32_t kRegHShrinkMode = 0x114401, kRegHShrink = 0x114702;
constexpr uint32_t kRegVShrinkMode = 0x114901, kRegVShrink = 0x114C02;
constexpr uint32_t kShrinkOff = 128, kHShrinkOn = 199, kVShrinkOn = 132;
constexpr uint32_t kRegShrinkFixed = 0x114301, kShrinkFixed = 2;
constexpr uint32_t kRegHPhase0 = 0x114501, kRegHPhase1 = 0x114601;
constexpr uint32_t kRegVPhase0 = 0x114A01, kRegVPhase1 = 0x114B01;
constexpr uint32_t kRegIchBuffer = 0x161C04;   // five write addresses, 4 bytes apart
constexpr uint32_t kRegIchPitch = 0x163101;
constexpr uint32_t kRegRotation = 0x166603;
constexpr uint32_t kRegIchDbd = 0x007101;      // bank 0, one per channel
constexpr int kIchHstBack = 7, kIchVstAhead = 1;

// ---- output channel (bank offset 16 x channel) ----
constexpr uint32_t kRegOchSource = 0x080802;
constexpr uint32_t kSourceOch0 = 1, kSourceOther = 17, kSourceFollows = 0x1000;
constexpr uint32_t kRegOchBuffer = 0x160804;   // five read addresses, 4 bytes apart
constexpr uint32_t kRegOchLineStep = 0x163001;
constexpr uint32_t kRegOchHst = 0x084002, kRegOchWidth = 0x084202;
constexpr uint32_t kRegOchVst = 0x084402, kRegOchHeight = 0x084602;
constexpr uint32_t kRegOchMirror = 0x082201;
constexpr uint32_t kRegOchHEnd = 0x083202;
constexpr uint32_t kRegZoomFlags = 0x0A4401;
constexpr uint32_t kRegHZoomOn = 0x0A4601, kRegHZoomPhase0 = 0x0A4701, kRegHZoomPhase1 = 0x0A4801;
constexpr uint32_t kRegHZoom = 0x0A4902;
constexpr uint32_t kRegVZoomOn = 0x0A4B01, kRegVZoomPhase0 = 0x0A4C01, kRegVZoomPhase1 = 0x0A4D01;
constexpr uint32_t kRegVZoom = 0x0A4E02;
constexpr uint32_t kRegVZoomLut = 0x0A6801;
constexpr int kVZoomTaps = 24;
constexpr uint32_t kLutUnity = 64;
constexpr uint32_t kNextAddr = 0x100;
constexpr int kMinReadWidth = 16;

// ---- frame events ----
constexpr uint32_t kRegOutLatchArm = 0x050901, kRegOutLatchDone = 0x052301;
constexpr int kOutFramePolls = 200;   // 1 ms each: a frame wait never stalls the engine long

constexpr int kBuffers = 5;
constexpr uint32_t kKiB = 1024;

}  // namespace

const uint8_t c331_manage::lut_set_lut_vzoom_4sym[24] = {
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFE, 0xFD, 0xFC, 0xFC, 0xFD, 0x00, 0x05, 0x0D, 0x18, 0x23, 0x2E, 0x38, 0x3E, 0x40,
};

// ---- geometry --------------------------------------------------------------------------------------

void c331_manage::calc_iwin2(int w)
{
    if (!zelApi_IsWinValid(w))
        return;
    const ST_WIN_INFO& wi = win_info[w];
    const int p = win_port[w];
    const bool port = p >= 0 && p < kPorts;
    geometry::IwinSource s;
    s.columns = wi.columns;
    s.rows = wi.rows;
    // The picture a crop is counted against, as the crop operations count it.
    s.hact = pictureWidth(p);
    s.vact = port ? PI_ACT[p][3] : 0;
    s.scan = port && PI_SCAN_MODE[p] != 0;
    // Frame height where the main channel weaves the fields into frames.
    s.mainIch = weavesFields(p, win_ich[w][0]) ? win_ich[w][0] : -1;
    s.crop = PM_CROP_EN[w] != 0;
    s.left = PM_OFFSET[w][0];
    s.right = PM_OFFSET[w][1];
    s.up = PM_OFFSET[w][2];
    s.down = PM_OFFSET[w][3];
    s.dbdMode = PM_WIN_DBD_MODE[w];
    s.ownPort = p;
    // A port's dot-by-dot area is its whole picture: twice the active width where the input
    // set-up halved it; in a mode spanning several ports, an interlaced port's whole frame (its
    // channel weaves the fields; a single input doubles its height by its channel itself).
    int ports[kPorts];
    const bool multi = zelApi_GetWinDbdMultiPort(w, ports) != 0;
    for (int q = 0; q < kPorts; ++q) {
        s.dbdW[q] = widthHalved(q) ? 2 * PI_ACT[q][1] : PI_ACT[q][1];
        s.dbdH[q] = PI_ACT[q][3] * (multi && PI_SCAN_MODE[q] != 0 ? 2 : 1);
    }
    IWIN[w] = geometry::calcIwin(s);
    if (multi && wi.columns > 0 && wi.rows > 0) {
        // A mode spanning several ports shows the picture its ports' cells make up, whatever
        // the window's own source names (its port may be one the mode never reads).
        DbdPart parts[kDbdParts];
        const int n = dbdParts(w, PM_WIN_DBD_MODE[w], parts);
        int width = 0, height = 0;
        dbdPictureSize(parts, n, &width, &height);
        IWIN[w] = _ImageWindowDef_st{0, width, 0, height};
    }
    ZEL_DEBUG("calc_iwin2 IWIN[%d]  HST=%4d  HW=%4d  VST=%4d  VW=%4d\n", w, IWIN[w].HST, IWIN[w].HW, IWIN[w].VST,
              IWIN[w].VW);
}

void c331_manage::calc_owin2(int w)
{
    if (!zelApi_IsWinValid(w))
        return;
    const ST_WIN_INFO& wi = win_info[w];
    OWIN[w] = geometry::calcOwin(panel.ochW, panel.ochH, wi.columns, wi.rows, PM_WIN_MARGIN[w], PM_WIN_DBD_MODE[w],
                                 PM_DBD_FIT[w] != 0, &IWIN[w]);
    ZEL_DEBUG("calc_owin2 OWIN[%d]  HST=%4d  HW=%4d  VST=%4d  VW=%4d\n", w, OWIN[w].HST, OWIN[w].HW, OWIN[w].VST,
              OWIN[w].VW);
}

void c331_manage::calc_oact(const _ImageWindowDef_st* owin, _ImageWindowDef2_St* pieces, int w)
{
    if (!owin || !pieces || !zelApi_IsWinValid(w))
        return;
    geometry::calcOact(*owin, panel.ochW, panel.ochH, win_info[w].columns, win_info[w].rows, pieces);
}

void c331_manage::calc_scaling(const _ImageWindowDef_st* iwin, const _ImageWindowDef_st* owin, _ScalingSt* s)
{
    if (iwin && owin && s)
        *s = geometry::calcScaling(*iwin, *owin);
}

namespace {

void stitchMap(const c331_manage& e, int map[kWinCount])
{
    for (int w = 0; w < kWinCount; ++w) {
        const int m = e.working_set[kPrmStitch + w];
        map[w] = (m >= 0 && m < kWinCount) ? m : w;
    }
}

}  // namespace

int c331_manage::check_stitching_win(int* w, int* partner)
{
    int map[kWinCount];
    stitchMap(*this, map);
    return geometry::stitchRole(map, w, partner);
}

int c331_manage::check_stitching_chg()
{
    int role = 0;
    for (int w = 0; w < kWinCount; ++w) {
        int v = w, partner = -1;
        role = check_stitching_win(&v, &partner);
        if (g_chg_stitch[w][0] || g_chg_stitch[w][1])
            g_chg_win[w] = 1;
        g_chg_stitch[w][1] = 0;
    }
    return role;
}

// ---- input channels ----------------------------------------------------------------------------------

void c331_manage::set_display_window_ich(int fd, const _ImageWindowDef_st* iwin, const _ImageWindowDef_st* owin, int w)
{
    if (!iwin || !owin || !zelApi_IsWinValid(w) || !isCh(win_ich[w][0]))
        return;
    const int p = win_port[w];
    const bool port = p >= 0 && p < kPorts;
    const int n = static_cast<int>(std::find(win_ich[w], win_ich[w] + kIch, -1) - win_ich[w]);
    const bool dual = n >= 2;

    const int first = win_ich[w][0];
    // Each channel stores its (shrunk) part of a line in its own slot: the write mode is the
    // one that fits it there. A line no mode fits is stored in the densest one, shrunk further
    // until it fits, and zoomed back by the output side, as a picture too tall for a frame buffer
    // is shrunk to its lines.
    const uint32_t part = static_cast<uint32_t>(storedPixels(p));
    const uint32_t ownH = iwin->HW > owin->HW && owin->HW >= 1 ? geometry::ratio(owin->HW, iwin->HW) : 0;
    const int fitting = geometry::memModeFor(geometry::shrunkCount(part, ownH), plainSlotBytes());
    PS_MEM_WMODE[w] = fitting == geometry::kNoMode ? geometry::kDensestMode : fitting;
    const int mode = port && PI_SCAN_MODE[p] ? 2 : PS_MEM_WMODE[w];
    if (mode != PM_MEM_WMODE[w])
        ZEL_DEBUG("\n *** YUV CHG DET win=%d [%d] to [%d]\n", w, PM_MEM_WMODE[w], mode);
    PM_MEM_WMODE[w] = mode;
    const uint32_t room = geometry::widestLine(plainSlotBytes() - pictureOffset(w), mode);
    uint32_t hFit = geometry::fitRatio(part, ownH, room);
    if (dual && hFit) {
        // Each channel of a pair shrinks its half on its own: together they store at least the
        // columns the whole line shrinks to (an odd count takes a column more, not one less).
        // Where the slot holds no column more, each half is shrunk to the slot and the output
        // side zooms the pair's line back to the window.
        const uint32_t half = (geometry::shrunkCount(2 * part, hFit) + 1) / 2;
        if (geometry::shrunkCount(part, hFit) < half && half <= room)
            hFit = half < part ? geometry::ratio(static_cast<int>(half), static_cast<int>(part)) : 0;
        else if (geometry::shrunkCount(part, hFit) < half && room < part)
            hFit = geometry::ratio(static_cast<int>(room), static_cast<int>(part));
    }
    if (dual && mode == 1) {
        // Five pixels pack into 16 bytes: the second channel's part starts on a whole group only
        // when the first one's part is whole groups, so each half stores whole groups (a group
        // more where the slot holds it, else one less and the output side zooms back).
        const uint32_t half = geometry::shrunkCount(part, hFit);
        const uint32_t up = (half + 4) / 5 * 5, down = half / 5 * 5;
        const uint32_t n = up <= std::min(room, part) ? up : down;
        if (half % 5 != 0 && n > 0)
            hFit = n < part ? geometry::ratio(static_cast<int>(n), static_cast<int>(part)) : 0;
    }
    ich_hlimit[w] = hFit != ownH ? hFit : 0;
    ich_hratio[w] = hFit;
    const bool hShrink = hFit != 0;
    const uint32_t hr = hShrink ? hFit : kUnity;
    const uint32_t stored = geometry::shrunkCount(part, hFit);

    const bool weaves = weavesFields(p, first);
    const uint32_t lines = static_cast<uint32_t>(port ? std::max(PI_ACT[p][3], 0) : 0) * (weaves ? 2 : 1);
    const uint32_t ownV = iwin->VW > owin->VW && owin->VW >= 1 ? geometry::ratio(owin->VW, iwin->VW) : 0;
    const uint32_t vFit = geometry::fitRatio(lines, ownV, plainBufferLines());
    ich_vlimit[w] = vFit != ownV ? vFit : 0;
    const bool vShrink = vFit != 0;
    const uint32_t vr = vShrink ? vFit : kUnity;
    ich_stored[w][0] = stored * (dual ? 2 : 1);
    ich_stored[w][1] = geometry::shrunkCount(lines, vFit);
    const uint32_t hPhase = hShrink ? geometry::shrinkPhase(iwin->HST, hr) : 0;
    const uint32_t vPhase = vShrink ? geometry::shrinkPhase(iwin->VST, vr) : 0;
    const int* act = port ? PI_ACT[p] : nullptr;
    const uint32_t hst = act ? static_cast<uint32_t>(std::max(act[0] + PM_IACTHST[w] - kIchHstBack, 0)) : 0;
    const uint32_t hw = act ? static_cast<uint32_t>(std::max(act[1], 0)) : 0;
    const uint32_t vst = act ? static_cast<uint32_t>(std::max(act[2] + PM_IACTVST[w] + kIchVstAhead, 0)) : 0;
    const uint32_t vw = act ? static_cast<uint32_t>(std::max(act[3], 0)) : 0;
    const uint32_t rot = rotationWord(w);

    set_ichsel(fd, w);
    for (int k = 0; k < (dual ? 2 : 1); ++k) {
        const int c = win_ich[w][k];
        if (!isCh(c))
            continue;
        const uint32_t off = chBank(c);
        ich_cleared[c] = false;
        // The second channel of a pair writes the rest of each line, after the first one's part
        // as it is stored (shrunk).
        const uint32_t memOff = k == 1 ? geometry::lineBytes(stored, mode) : 0;
        wr(kRegIchWrite, kIchWriting, off);
        wr(kRegIchHst, hst, off);
        wr(kRegIchHw, hw, off);
        wr(kRegIchVst, vst, off);
        wr(kRegIchVw, vw, off);
        wr(kRegShrinkPhaseOn, (hPhase ? kHPhaseOn : 0) | (vPhase ? kVPhaseOn : 0), off);
        wr(kRegHShrinkMode, hShrink ? kHShrinkOn : kShrinkOff, off);
        wr(kRegHShrink, hShrink ? hr : 0, off);
        wr(kRegVShrinkMode, vShrink ? kVShrinkOn : kShrinkOff, off);
        wr(kRegVShrink, vShrink ? vr : 0, off);
        wr(kRegShrinkFixed, kShrinkFixed, off);
        wr(kRegHPhase0, hPhase, off);
        wr(kRegHPhase1, hPhase, off);
        wr(kRegVPhase0, vPhase, off);
        wr(kRegVPhase1, vPhase, off);
        for (int b = 0; b < kBuffers; ++b)
            wr(kRegIchBuffer + 4 * kNextAddr * static_cast<uint32_t>(b), pictureBase(w, b) + memOff, off);
        wr(kRegIchPitch, linePitch(w), off);
        wr(kRegRotation, rot, off);
    }
    set_idual(fd, first, dual ? 1 : 0, p);
    for (int k = 0; k < (dual ? 2 : 1); ++k) {
        set_lut_hshrnk(fd, static_cast<int>(hr), win_ich[w][k], 0);
        set_lut_vshrnk_4sym(fd, static_cast<int>(vr), win_ich[w][k], 0);
    }
    set_iscwct(fd, w);
    set_mct(fd, w, 0);
    // Every channel of a pair is set up for the picture it carries now: one that wove the
    // fields of an interlaced input before would go on storing twice the lines.
    for (int k = 0; k < (dual ? 2 : 1); ++k)
        set_ip(fd, win_ich[w][k]);
}

bool c331_manage::set_display_window_ich_dbd(int fd, int w, int mode)
{
    if (!zelApi_IsWinValid(w) || !isCh(win_ich[w][0]))
        return true;
    int n = 0;
    while (n < kIch && win_ich[w][n] >= 0)
        ++n;
    for (int k = 0; k < n; ++k)
        set_idual(fd, win_ich[w][k], 0, 0);
    // Nothing of a refused window is stored: its channels stop writing (the band they wrote is
    // free for others) and its output channels are switched off.
    auto refuse = [&] {
        set_mct(fd, w, 0);
        releaseInputs(w);
        return false;
    };
    if (set_dbd_mem(w, mode) != 0) {
        g_chg_input[w] = g_chg_dbd[w] = 0;
        ZEL_DEBUG("[set_display_window_ich_dbd] g_chg_dbd[%d]:%d\n", w, g_chg_dbd[w]);
        return refuse();
    }
    set_ichsel(fd, w);
    DbdPart parts[kDbdParts];
    int carried = 0, width = 0, height = 0;
    const int fitting = dbdStoreMode(w, mode, parts, &carried, &width, &height);
    if (fitting == geometry::kNoMode)
        return refuse();
    PS_MEM_WMODE[w] = fitting;
    PM_MEM_WMODE[w] = PS_MEM_WMODE[w];
    ich_hlimit[w] = ich_vlimit[w] = ich_hratio[w] = 0;
    ich_stored[w][0] = static_cast<uint32_t>(width);
    ich_stored[w][1] = static_cast<uint32_t>(height);
    const int wmode = PM_MEM_WMODE[w];
    const uint32_t pitch = linePitch(w), rot = rotationWord(w);
    for (int k = 0; k < carried; ++k) {
        const int c = win_ich[w][k];
        if (!isCh(c))
            continue;
        // Each channel writes its port's part where the part lies in the window's picture.
        const DbdPart& part = parts[k];
        const uint32_t place = geometry::lineBytes(static_cast<uint32_t>(part.x), wmode) +
                               static_cast<uint32_t>(part.y) * pitch * kKiB;
        const uint32_t off = chBank(c);
        ich_cleared[c] = false;
        wr(kRegIchWrite, kIchWriting, off);
        wr(kRegIchHst, part.hw ? static_cast<uint32_t>(std::max(part.hst - kIchHstBack, 0)) : 0, off);
        wr(kRegIchHw, static_cast<uint32_t>(part.hw), off);
        wr(kRegIchVst, part.hw ? static_cast<uint32_t>(std::max(part.vst + kIchVstAhead, 0)) : 0, off);
        wr(kRegIchVw, part.hw ? static_cast<uint32_t>(part.vw) : 0, off);
        for (uint32_t r : {kRegShrinkPhaseOn, kRegHShrinkMode, kRegHShrink, kRegVShrinkMode, kRegVShrink})
            wr(r, 0, off);
        wr(kRegShrinkFixed, kShrinkFixed, off);
        for (uint32_t r : {kRegHPhase0, kRegHPhase1, kRegVPhase0, kRegVPhase1})
            wr(r, 0, off);
        for (int b = 0; b < kBuffers; ++b)
            wr(kRegIchBuffer + 4 * kNextAddr * static_cast<uint32_t>(b), pictureBase(w, b) + place, off);
        wr(kRegIchPitch, pitch, off);
        wr(kRegRotation, rot, off);
        wr(kRegIchDbd + kNextAddr * static_cast<uint32_t>(c), memWriteModeCode(wmode));
    }
    set_mct(fd, w, 0);
    // Every channel's input processor follows the port it carries: each interlaced port's
    // channel weaves its fields into frames.
    for (int k = 0; k < carried; ++k)
        set_ip(fd, win_ich[w][k]);
    return true;
}

int c331_manage::dbdStoreMode(int w, int mode, DbdPart parts[kDbdParts], int* carried, int* width, int* height) const
{
    *carried = *width = *height = 0;
    int n = 0;
    while (n < kIch && win_ich[w][n] >= 0)
        ++n;
    int ports[kPorts];
    const int need = zelApi_GetWinDbdMultiPort(w, ports) ? (mode >= 40 ? 4 : mode >= 30 ? 3 : 2) : 1;
    if (n < need)
        return geometry::kNoMode;
    const int made = dbdParts(w, mode, parts);
    *carried = std::min(made, n);
    // The whole picture's line fits the window's line in the write mode chosen here: a
    // dot-by-dot line, or in the plain buffers the slots of the channels carrying it. Shown dot
    // by dot, a line that fits in no mode is not shrunk: the window is refused.
    dbdPictureSize(parts, made, width, height);
    const uint32_t room = usesDbdMemory(w) ? kDbdPitch * kKiB : plainSlotBytes() * static_cast<uint32_t>(*carried);
    // Every weaving channel's input processor keeps its fields in the same mode, in its slot.
    for (int m : {0, 1, 3}) {   // the order memModeFor tries, densest last
        // Five pixels pack into 16 bytes: a part starting inside a group would be read shifted.
        bool groups = true;
        for (int k = 0; k < *carried; ++k)
            groups &= m != 1 || parts[k].x % 5 == 0;
        if (!groups)
            continue;
        bool fields = true;
        for (int k = 0; k < *carried; ++k)
            if (weavesFields(parts[k].port, win_ich[w][k]) && !fieldLineFits(parts[k].port, win_ich[w][k], m))
                fields = false;
        if (fields && geometry::lineBytes(static_cast<uint32_t>(*width), m) <= room)
            return m;
    }
    return geometry::kNoMode;
}

bool c331_manage::dbdStorable(int w)
{
    const int mode = zelApi_IsWinValid(w) ? PM_WIN_DBD_MODE[w] : 0;
    if (mode == 0 || !isCh(win_ich[w][0]))
        return true;
    DbdPart parts[kDbdParts];
    int carried = 0, width = 0, height = 0;
    if (set_dbd_mem(w, mode) == 0 && dbdStoreMode(w, mode, parts, &carried, &width, &height) != geometry::kNoMode)
        return true;
    reset_dbd_mem(w);
    return false;
}

int c331_manage::ichPort(int ich) const
{
    const int w = isCh(ich) ? ich_owner[ich] : -1;
    if (!zelApi_IsWinValid(w))
        return kNoPort;
    int ports[kPorts];
    if (!zelApi_GetWinDbdMultiPort(w, ports))
        return win_port[w];
    DbdPart parts[kDbdParts];
    const int n = dbdParts(w, PM_WIN_DBD_MODE[w], parts);
    for (int k = 0; k < n && k < kIch; ++k)
        if (win_ich[w][k] == ich)
            return parts[k].port;
    return kNoPort;
}

bool c331_manage::widthHalved(int p) const
{
    if (p < 0 || p >= kPorts)
        return false;
    // An interlaced input keeps its field format code; a parallel one two pixels a clock is
    // halved all the same.
    return picture::effectiveWidth(p, 1, PI_STATE[p]) == 2 ||
           (p < kFirstVboPort && PI_SCAN_MODE[p] != 0 && PI_HDMI_INFO[p][c331hdmi::kDatamode] > 0);
}

bool c331_manage::twoPixelsPerClock(int p) const { return p >= 0 && p < kFirstVboPort && widthHalved(p); }

int c331_manage::pictureWidth(int p) const
{
    if (p < 0 || p >= kPorts)
        return 0;
    const int hw = std::max(PI_ACT[p][1], 0);
    const int w = widthHalved(p) ? 2 * hw : hw;
    // An odd width arriving two pixels a clock: the last clock's second pixel is no picture.
    return w == PI_HDMI_INFO[p][c331hdmi::kHact] + 1 ? w - 1 : w;
}

int c331_manage::storedPixels(int p) const
{
    if (p < 0 || p >= kPorts)
        return 0;
    const int hw = std::max(PI_ACT[p][1], 0);
    return twoPixelsPerClock(p) ? 2 * hw : hw;
}

uint32_t c331_manage::plainBufferLines() const
{
    const uint32_t pitch = sys.memcount * kKiB;
    return pitch ? (sys.memmap[0][1] - sys.memmap[0][0]) / pitch : 0;
}

uint32_t c331_manage::plainSlotBytes() const { return sys.memmap[1][0] - sys.memmap[0][0]; }

uint32_t c331_manage::rotationWord(int w) const
{
    uint32_t rot = 0;
    for (int f = 0; f < kRotFields; ++f)
        rot |= static_cast<uint32_t>(rot_pattern[w][f] & 7) << (4 * f);
    return rot;
}

bool c331_manage::usesDbdMemory(int w) const
{
    if (!zelApi_IsWinValid(w) || PM_WIN_DBD_MODE[w] == 0 || dbd_mem_slot[w][0] < 0)
        return false;
    // A single input that a plain channel can carry is no dot-by-dot input: it keeps no
    // dot-by-dot memory and its lines lie in its channel's buffers, on both sides of the memory.
    return PM_WIN_DBD_MODE[w] != 1 || check_dbd_input(win_port[w]) != 0;
}

uint32_t c331_manage::linePitch(int w) const { return usesDbdMemory(w) ? kDbdPitch : sys.memcount; }

uint32_t c331_manage::pictureBase(int w, int b) const
{
    if (b < 0 || b >= kBuffers || !zelApi_IsWinValid(w))
        return 0;
    if (usesDbdMemory(w))
        return sys.memaddr[b] + static_cast<uint32_t>(dbd_mem_slot[w][0]) * kDbdBlockLines * kDbdPitch * kKiB;
    const int ich = isCh(win_ich[w][0]) ? win_ich[w][0] : 0;
    return sys.memmap[ich][b] + pictureOffset(w);
}

uint32_t c331_manage::pictureOffset(int w) const
{
    if (!zelApi_IsWinValid(w) || PM_MEM_WMODE[w] != 2 || PM_WIN_DBD_MODE[w] != 0)
        return 0;
    const int p = win_port[w];
    if (p < 0 || p >= kPorts)
        return 0;
    // Mode 2 stores 8 bytes per 3 pixels: the pad that makes a line whole groups of three.
    const uint32_t hw = static_cast<uint32_t>(storedPixels(p));
    return 2 * ((3 - hw % 3) % 3);
}

// ---- output channels ---------------------------------------------------------------------------------

void c331_manage::set_display_window_och(int fd, const _ImageWindowDef_st* iwin, const _ImageWindowDef_st* owin, int w)
{
    if (!iwin || !owin || !zelApi_IsWinValid(w))
        return;
    int master = w, partner = -1;
    check_stitching_win(&master, &partner);
    const bool hMirror = (win_info[master].attr & 1) != 0, vMirror = (win_info[master].attr & 2) != 0;
    const int mode = PM_MEM_WMODE[master];
    const uint32_t pitch = linePitch(master);

    _ImageWindowDef2_St pieces[geometry::kGridMax];
    calc_oact(owin, pieces, w);
    _ScalingSt sc;
    calc_scaling(iwin, owin, &sc);
    int och[kOch];
    get_och(w, och);

    // Where the window's picture starts in the stored (shrunk) frame; what it reads ends inside
    // what was stored.
    const int64_t xs = geometry::readFrom(iwin->HST, sc.hmode, sc.hshrink, sc.hzoom, owin->HW, ich_stored[master][0]);
    const int64_t ys = geometry::readFrom(iwin->VST, sc.vmode, sc.vshrink, sc.vzoom, owin->VW, ich_stored[master][1]);
    const uint32_t readColumn = static_cast<uint32_t>(std::max<int64_t>(xs, 0));
    const uint32_t readStart = static_cast<uint32_t>(std::max<int64_t>(ys, 0)) * pitch * kKiB;
    const int mainIch = win_ich[master][0];
    const int bufIch = isCh(mainIch) ? mainIch : 0;
    const int cols = std::min<int>(win_info[w].columns, geometry::kGridMax);
    const int rows = std::min<int>(win_info[w].rows, geometry::kGridMax);

    // A zoomed piece that starts a stored pixel or line further (its first row falls late in a
    // stored line) reads no further than what was stored: it starts back where its last sample
    // is the stored picture's last, within the stored pixel the pieces meet in, and the pieces
    // before it in memory move back with it so that they still meet. A mirrored line is read
    // forward too and shown right to left: its far piece alike.
    auto keepInside = [](uint32_t at, uint32_t from, int shown, uint32_t zoom, uint32_t stored) {
        const uint32_t span = geometry::shrunkCount(static_cast<uint32_t>(std::max(shown, 0)), zoom);
        return stored > 0 && from + at + span > stored && stored >= from + span ? stored - from - span : at;
    };
    // Where each column's pieces start in the stored line, and each row's in the stored lines.
    uint32_t colPix[geometry::kGridMax] = {}, rowLine[geometry::kGridMax] = {};
    int colWidth[geometry::kGridMax] = {}, rowHeight[geometry::kGridMax] = {};
    for (int col = 0, left = 0; col < cols; left += pieces[col++].HW) {
        // A mirrored piece shows the part of the picture at the far side.
        const int xOut = std::max(hMirror ? owin->HW - left - pieces[col].HW : left, 0);
        colWidth[col] = pieces[col].HW;
        colPix[col] = sc.hmode == 2 ? geometry::zoomMemPos(static_cast<uint32_t>(xOut), sc.hzoom)
                                    : static_cast<uint32_t>(xOut);
        if (sc.hmode == 2)
            colPix[col] = keepInside(colPix[col], readColumn, pieces[col].HW, sc.hzoom, ich_stored[master][0]);
    }
    for (int row = 0, above = 0; row < rows; above += pieces[row++].VW) {
        rowHeight[row] = pieces[row].VW;
        if (vMirror) {
            // Read backward, its lines start at the last one it shows.
            const int64_t last = std::max(owin->VW - 1 - above, 0);
            rowLine[row] = static_cast<uint32_t>(sc.vmode == 2 ? (last * sc.vzoom) >> 16 : last);
            continue;
        }
        rowLine[row] = sc.vmode == 2 ? geometry::zoomMemPos(static_cast<uint32_t>(above), sc.vzoom)
                                     : static_cast<uint32_t>(above);
        if (sc.vmode == 2)
            rowLine[row] = keepInside(rowLine[row], static_cast<uint32_t>(std::max<int64_t>(ys, 0)), pieces[row].VW,
                                      sc.vzoom, ich_stored[master][1]);
    }
    if (sc.hmode == 2)
        geometry::meetNeighbours(colPix, colWidth, cols, sc.hzoom, hMirror);
    if (sc.vmode == 2 && !vMirror)
        geometry::meetNeighbours(rowLine, rowHeight, rows, sc.vzoom);

    for (int k = 0; k < cols * rows && k < kOch; ++k) {
        const int c = och[k];
        if (!isCh(c))
            continue;
        const int col = k % cols, row = k / cols;
        const _ImageWindowDef2_St& ph = pieces[col];
        const _ImageWindowDef2_St& pv = pieces[row];
        int left = 0, above = 0;
        for (int i = 0; i < col; ++i)
            left += pieces[i].HW;
        for (int i = 0; i < row; ++i)
            above += pieces[i].VW;
        const uint32_t xPix = colPix[col], yLine = rowLine[row];
        // A piece starts on the group its first pixel lies in (whole groups of three pixels in
        // mode 2), so it never reads past the stored line.
        const uint32_t memPos = geometry::pixelOffset(readColumn + xPix, mode) + yLine * pitch * kKiB;
        const uint32_t hPhase = sc.hmode == 2 ? static_cast<uint32_t>((uint64_t(left) * sc.hzoom >> 8) & 0xFF) : 0;
        const uint32_t vPhase = sc.vmode == 2 ? static_cast<uint32_t>((uint64_t(above) * sc.vzoom >> 8) & 0xFF) : 0;
        const bool on = ph.HW > 0 && pv.VW > 0;
        const uint32_t width = on ? static_cast<uint32_t>(ph.HW) : 0;
        const uint32_t off = chBank(c);
        och_cleared[c] = false;
        const uint32_t low = c == 0 ? kSourceOch0 : kSourceOther;
        const uint32_t source = k == 0 ? low | static_cast<uint32_t>(bufIch) << 8
                                       : low | static_cast<uint32_t>(och[0]) << 8 | kSourceFollows;

        wr(kRegOchSource, source, off);
        for (int b = 0; b < kBuffers; ++b)
            wr(kRegOchBuffer + 4 * kNextAddr * static_cast<uint32_t>(b), pictureBase(master, b) + readStart + memPos, off);
        wr(kRegOchLineStep, vMirror ? 256 - pitch : pitch, off);
        wr(kRegOchHst, static_cast<uint32_t>(ph.HST) + sys.ohstart, off);
        wr(kRegOchWidth, width, off);
        wr(kRegOchVst, static_cast<uint32_t>(pv.VST) + sys.ovstart, off);
        wr(kRegOchHeight, on ? static_cast<uint32_t>(pv.VW) + 1 : 0, off);
        wr(kRegOchMirror, hMirror ? 1 : 0, off);
        wr(kRegOchHEnd, sys.ohstart + static_cast<uint32_t>(ph.HST) + std::max<uint32_t>(width, kMinReadWidth), off);
        wr(kRegHZoomOn, sc.hmode == 2 ? 1 : 0, off);
        wr(kRegHZoomPhase0, hPhase, off);
        wr(kRegHZoomPhase1, hPhase, off);
        wr(kRegHZoom, sc.hzoom, off);
        wr(kRegZoomFlags, (sc.hmode == 2 ? 1u : 0u) | (sc.vmode == 2 ? 2u : 0u) | (pass_through[w] ? 0u : 4u), off);
        wr(kRegVZoomOn, sc.vmode == 2 ? 1 : 0, off);
        wr(kRegVZoomPhase0, vPhase, off);
        wr(kRegVZoomPhase1, vPhase, off);
        wr(kRegVZoom, sc.vzoom, off);
        set_oscwct(fd, c);
        set_lut_vzoom_4sym(fd, sc.vzoom, c);
        ZEL_DEBUG("\t och_%d mem:%u sub_pix_st:%llu width_total:%d hz:%u\n", c, memPos,
                  static_cast<unsigned long long>(uint64_t(left) * sc.hzoom), left, sc.hzoom);
    }
}

void c331_manage::set_lut_vzoom_4sym(int, uint32_t ratio, int ch)
{
    if (!isCh(ch))
        return;
    const uint32_t off = chBank(ch);
    for (int i = 0; i < kVZoomTaps; ++i) {
        const uint32_t v = ratio < 1 ? (i == 0 ? kLutUnity : 0) : lut_set_lut_vzoom_4sym[i];
        wr(kRegVZoomLut + kNextAddr * static_cast<uint32_t>(i), v, off);
    }
}

bool c331_manage::wait1_povs(int, int ch)
{
    if (!isCh(ch))
        return false;
    const uint32_t bit = 1u << ch;
    const bool seen =
        waitFrameLatch(kRegOutLatchArm, bit, kOutFramePolls, [&] { return (rd(kRegOutLatchDone) & bit) != 0; });
    if (!seen)
        ZEL_DEBUG("[wait1_povs] och_%d no output frame\n", ch);
    return seen;
}
