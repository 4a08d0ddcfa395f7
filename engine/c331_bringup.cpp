// Chip bring-up, the default working set and the panel set-up of the video engine.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/global.h"
#include "core/ram_layout.h"
#include "engine/c331_drv.h"
#include "engine/c331_image.h"
#include "engine/c331_manage.h"

namespace {

// ---- clock block (bank 0xFF) ----
constexpr uint32_t kRegClk0 = 0xFF0001, kRegClk1 = 0xFF0101, kRegClkPll = 0xFF0201;
constexpr uint32_t kRegClk3 = 0xFF0301, kRegClkDiv = 0xFF0401, kRegClkEn = 0xFF0503;
constexpr uint32_t kRegRxReset = 0x012601;

// ---- V-by-One receivers ----
constexpr uint32_t kRegVboReset = 0x027F01;
constexpr uint32_t kRegVboLink1Mode = 0x020801;
constexpr uint32_t kRegVboLink1Sel = 0x021801;
constexpr uint32_t kRegVboLink2 = 0x027801;
constexpr uint32_t kRegVboRxMode = 0x024001;
constexpr uint32_t kRegVboRxRange = 0x024C01;
constexpr uint32_t kRegVboRxLanes = 0x024F01;
constexpr uint32_t kVboRxStep = 0x1C00;

// ---- register-update control ----
constexpr uint32_t kRegUpdateCtl = 0x002901;
constexpr uint32_t kUpdateWindowBit = 0x01;
constexpr uint32_t kRegRtctFirst = 0x002201;

// ---- system parameters in the chip ----
constexpr uint32_t kRegSysWidth = 0x030002, kRegSysHeight = 0x030202;
constexpr uint32_t kRegSysHtt = 0x030402, kRegSysVtt = 0x030602;
constexpr uint32_t kRegSysHsw = 0x030801, kRegSysVsw = 0x030901;
constexpr uint32_t kMemMapBank = 0x16;
constexpr uint32_t kRegMemCount = 0x1E0801, kRegMemAddr = 0x1E1004;
constexpr uint32_t kRegOsdMem = 0x1F1004, kRegFontMem = 0x1F3004;

// ---- output channel block (bank offset 16 per channel) ----
constexpr uint32_t kRegOchHtt = 0x080A02, kRegOchVtt = 0x080C02, kRegOchFixed = 0x081D02;
constexpr uint32_t kRegOchIHst = 0x082802, kRegOchIHend = 0x082A02;
constexpr uint32_t kRegOchIVst = 0x082C02, kRegOchIVend = 0x082E02;
constexpr uint32_t kRegOchMHst = 0x083002, kRegOchMHend = 0x083202;
constexpr uint32_t kRegOchMVst = 0x083402, kRegOchMVend = 0x083602;
constexpr uint32_t kRegOchOHst = 0x084002, kRegOchWidth = 0x084202;
constexpr uint32_t kRegOchOVst = 0x084402, kRegOchHeight = 0x084602;
constexpr uint32_t kRegTxHsw0 = 0x034401, kRegTxVsw0 = 0x034501;
constexpr uint32_t kRegTxHsw1 = 0x034C01, kRegTxVsw1 = 0x034D01;
constexpr uint32_t kRegTxMap0 = 0x035E04, kRegTxMap1 = 0x036204;
constexpr uint32_t kTxLaneMap = 0x76543210;

// ---- panel ----
constexpr uint64_t kOneOchPixels = 9800000;
constexpr int kSplices = 6;
constexpr int kSpliceCp21 = 5;   // the split that names no areas
const char* const kSpliceName[kSplices] = {"NONE", "HV", "V", "H", "CP12", "CP21"};
enum Arrangement : uint32_t {
    ARRANG2K4_2x1 = 5,
    ARRANG2K4_4x1_8K = 6,
    ARRANG2K4_2x2_8K = 7,
    ARRANG2K4_1x2 = 8,
};
constexpr int kWriteRamPanel = 1376;   // 0x560: the panel block of the image

struct PanelCase {
    uint8_t columns, rows;
    uint32_t arrangement;
    int hblank, vblank, hsw, hfp, vsw, vfp;
};

PanelCase panelCase(bool big, int m, uint32_t H)
{
    if (big) {
        switch (m) {
        case 3: return {4, 1, ARRANG2K4_4x1_8K, 80, 12, 12, 36, 3, 3};
        case 1: case 2: return {2, 2, ARRANG2K4_2x2_8K, 76, 76, 12, 32, 12, 32};
        case 5: return {2, 1, ARRANG2K4_2x1, 76, 76, 12, 32, 12, 32};
        default: return {4, 1, ARRANG2K4_4x1_8K, 76, 76, 12, 32, 12, 32};
        }
    }
    switch (m) {
    case 3: return {2, 1, ARRANG2K4_2x1, 48, 12, 12, 4, 3, 3};
    case 2:
        if (H < 7901)
            return {1, 2, ARRANG2K4_1x2, 20, 38, 12, 4, 3, 3};
        return {1, 2, ARRANG2K4_1x2, 20, 76, 12, 4, 12, 16};
    case 1: return {1, 2, ARRANG2K4_1x2, 20, 12, 8, 8, 3, 4};
    default: return {2, 1, ARRANG2K4_2x1, 20, 12, 8, 8, 3, 4};
    }
}

uint16_t clampU16(int64_t v) { return static_cast<uint16_t>(std::clamp<int64_t>(v, 0, 0xFFFF)); }
uint32_t roundUp(uint32_t v, uint32_t m) { return (v + m - 1) / m * m; }
uint32_t ceilDiv(uint32_t a, uint32_t b) { return b ? (a + b - 1) / b : a; }

}  // namespace

// The engine's default working set: per-window state, priority, port, dot-by-dot mode,
// rectangle, crop margins, stitching partner, output flags and mirror bits, then the fades.
const int32_t c331_manage::parameters_txt[kParamWords] = {
    // 0: window on
    1, 0, 0, 0, 0, 0,
    // 6: priority
    0, 1, 2, 3, 4, 5,
    // 12: chip input port of each window
    4, 5, 1, 2, 3, 0,
    // 18: dot-by-dot mode
    0, 0, 0, 0, 0, 0,
    // 24: x, y, width, height of each window
    0, 0, 1920, 1080,   0, 0, 960, 540,   960, 0, 960, 540,
    0, 540, 960, 540,   960, 540, 960, 540,   0, 0, 640, 360,
    // 48: crop margins left, right, top, bottom of each window
    0, 0, 0, 0,   0, 0, 0, 0,   0, 0, 0, 0,   0, 0, 0, 0,   0, 0, 0, 0,   0, 0, 0, 0,
    // 72: stitching partner (-1 none)
    -1, -1, -1, -1, -1, -1,
    // 78: output flags
    0, 0, 0, 0, 0, 0,
    // 84: mirror bits
    0, 0, 0, 0, 0, 0,
    // 90: reserved
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    // 120: fade-in, fade-out of each window (output frames)
    60, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60,
    // 132: reserved
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
};

// ---- bring-up ---------------------------------------------------------------------------------------

void c331_manage::write_initial_setting(int fd, int clockFlag)
{
    c331_drv& d = *driver;
    const uint32_t divider = sys.PS_VBOTX_MODE == 1 ? 2000000 : 4000000;
    const uint64_t den = static_cast<uint64_t>(divider) * (sys.scalar[3] ? sys.scalar[3] : 1);
    const uint64_t ratio = static_cast<uint64_t>(sys.clock3) * sys.scalar[4] / den;
    const uint32_t selector = ratio > 40 ? 76 : ratio > 20 ? 72 : 68;

    if (clockFlag) {
        d.write_C331(fd, kRegClk0, 8);
        d.write_C331(fd, kRegClk1, 0);
        d.write_C331(fd, kRegClkPll, 200);
        d.write_C331(fd, kRegClk3, 0);
        d.write_C331(fd, kRegClkDiv, 97);
        d.write_C331(fd, kRegClkEn, 1);
        Sleep(20);
    }

    for (int i = 0; i < kInitGlobalsCount; ++i)
        d.write_C331(fd, kInitGlobals[i].id, kInitGlobals[i].value);
    d.write_C331(fd, kRegSysWidth, sys.width - 1);
    d.write_C331(fd, kRegSysHeight, sys.height - 1);
    d.write_C331(fd, kRegSysHtt, sys.HTT - 2);
    d.write_C331(fd, kRegSysVtt, sys.VTT - 2);
    d.write_C331(fd, kRegSysHsw, sys.HSW - 1);
    d.write_C331(fd, kRegSysVsw, sys.VSW - 1);
    for (uint32_t k = 0; k < 8; ++k)
        for (uint32_t j = 0; j < 5; ++j)
            d.write_C331(fd, ((kMemMapBank + k) << 16) | ((0x10 + 4 * j) << 8) | 4, sys.memmap[k][j]);
    d.write_C331(fd, kRegMemCount, sys.memcount);
    for (uint32_t j = 0; j < 5; ++j)
        d.write_C331(fd, kRegMemAddr + ((4 * j) << 8), sys.memaddr[j]);
    for (uint32_t j = 0; j < 7; ++j)
        d.write_C331(fd, kRegOsdMem + ((4 * j) << 8), sys.osd_mem[j]);
    for (uint32_t j = 0; j < 4; ++j)
        d.write_C331(fd, kRegFontMem + ((4 * j) << 8), sys.font_mem[j]);
    const int memIf = sys.PS_VBOTX_MODE == 1 ? 0 : sys.PS_VBOTX_MODE == 2 ? 1 : 2;
    for (int i = 0; i < kMemIfRegs; ++i)
        d.write_C331(fd, kInitMemIf[memIf][i].id, kInitMemIf[memIf][i].value);
    for (uint32_t och = 0; och < kOch; ++och)
        writeOchBlock(och * kOchBankStep);

    if (!clockFlag)
        return;
    d.write_C331(fd, kRegClkPll, 0);
    d.write_C331(fd, kRegClkDiv, 0);
    d.write_C331(fd, kRegRxReset, 0);
    Sleep(1);
    for (int i = 0; i < kInitRxBlockCount; ++i)
        d.write_C331(fd, kInitRxBlock[i].id, kInitRxBlock[i].value);
    Sleep(1);
    d.write_C331(fd, kRegClkPll, 136);
    Sleep(1);
    d.write_C331(fd, kRegClkPll, 200);
    Sleep(1);
    d.write_C331(fd, kRegClkDiv, 97);
    Sleep(20);

    const uint32_t linkMode = sys.PS_VBOTX_MODE == 1 ? 5 : 9;
    static constexpr uint32_t kRxResetCodes[2] = {14, 13};
    for (uint32_t k = 0; k < 2; ++k) {
        d.write_C331(fd, kRegVboReset, kRxResetCodes[k]);
        d.write_C331(fd, kRegVboReset, 15);
        d.write_C331(fd, kRegVboRxMode + kVboRxStep * k, 5);
        d.write_C331(fd, kRegVboRxRange + kVboRxStep * k, 0);
        d.write_C331(fd, kRegVboRxLanes + kVboRxStep * k, 128);
    }
    d.write_C331(fd, kRegVboReset, 11);
    d.write_C331(fd, kRegVboReset, 15);
    d.write_C331(fd, kRegVboLink1Sel, selector);
    d.write_C331(fd, kRegVboLink1Mode, linkMode);
    d.write_C331(fd, kRegVboReset, 7);
    d.write_C331(fd, kRegVboReset, 15);
    d.write_C331(fd, kRegVboLink2, selector);
    d.write_C331(fd, kRegVboLink2, linkMode);
}

void c331_manage::writeOchBlock(uint32_t off)
{
    wr(kRegOchHtt, sys.HTT - 2, off);
    wr(kRegOchVtt, sys.VTT - 2, off);
    wr(kRegOchIHst, sys.ohstart, off);
    wr(kRegOchIHend, sys.ohend, off);
    wr(kRegOchIVst, sys.ovstart, off);
    wr(kRegOchIVend, sys.ovend, off);
    wr(kRegOchWidth, sys.width, off);
    wr(kRegOchHeight, sys.height + 1, off);
    for (int i = 0; i < kInitOchFixedCount; ++i)
        wr(kInitOchFixed[i].id, kInitOchFixed[i].value, off);
}

void c331_manage::set_rtct(int fd, int mode)
{
    const uint8_t* row = kRtctTable[rtctRow(mode)];
    driver->write_c331_mask(fd, kRegUpdateCtl, kUpdateWindowBit, kUpdateWindowBit);
    for (int i = 0; i < kRtctRegs; ++i)
        driver->write_C331(fd, kRegRtctFirst + (static_cast<uint32_t>(i) << 8), row[i]);
    driver->write_c331_mask(fd, kRegUpdateCtl, 0, kUpdateWindowBit);
}

void c331_manage::load_param()
{
    bool any = false;
    for (int w = 0; w < kWinCount; ++w)
        g_chg_win[w] = g_chg_input[w] = g_chg_attr[w] = g_chg_dbd[w] = 0;
    auto take = [&](int first, int words, int* flags) {
        for (int i = first; i < first + words; ++i) {
            if (working_set[i] == parameters_txt[i])
                continue;
            working_set[i] = parameters_txt[i];
            any = true;
            if (flags)
                flags[(i - first) * kWinCount / words] = 1;
        }
    };
    take(kPrmWinEnable, kWinCount, g_chg_attr);
    take(kPrmWinPriority, kWinCount, g_chg_attr);
    take(kPrmWinDbdMode, kWinCount, g_chg_dbd);
    take(kPrmWinRect, 4 * kWinCount, g_chg_win);
    take(kPrmWinMargin, 4 * kWinCount, g_chg_win);
    take(kPrmWinOutput, kWinCount, g_chg_dbd);
    take(kPrmWinAttr, kWinCount, g_chg_attr);
    for (int i = kPrmStitch; i < kPrmStitch + kWinCount; ++i)
        if (working_set[i] != parameters_txt[i]) {
            working_set[i] = parameters_txt[i];
            g_chg_order = 1;
            any = true;
        }
    for (int w = 0; w < kWinCount; ++w) {
        const int32_t port = parameters_txt[kPrmWinPort + w];
        working_set[kPrmWinPort + w] = port;
        const int p = (port >= 0 && port < kPorts) ? port : kNoPort;
        if (win_port[w] != p) {
            win_port[w] = p;
            g_chg_input[w] = 1;
            any = true;
        }
        PM_WIN_DBD_MODE[w] = working_set[kPrmWinDbdMode + w];
        PM_WIN_FADE_EN[w] = (working_set[kPrmWinOutput + w] >> 2) & 1;
        PM_WIN_FADE_IN[w] = parameters_txt[kPrmFade + 2 * w];
        PM_WIN_FADE_OUT[w] = parameters_txt[kPrmFade + 2 * w + 1];
        working_set[kPrmFade + 2 * w] = PM_WIN_FADE_IN[w];
        working_set[kPrmFade + 2 * w + 1] = PM_WIN_FADE_OUT[w];
    }
    if (any)
        g_chg_overlay = 1;
}

// ---- panel --------------------------------------------------------------------------------------------

void c331_manage::zelApi_PnlInit2(int ledW, int ledH, int out1W, int out1H, int splice)
{
    std::memset(&panel, 0, sizeof(panel));
    const int m = ((splice % kSplices) + kSplices) % kSplices;
    panel.splice = static_cast<uint16_t>(m);
    panel.ledW = clampU16(ledW);
    panel.ledH = clampU16(ledH);
    ZEL_DEBUG("[zelApi_PnlInit2] ledW:%d ledH:%d, out1w:%d, out1h:%d, splice:%s\n", ledW, ledH, out1W,
              out1H, kSpliceName[m]);
    // An output 1 larger than the screen leaves nothing for the second area (not a negative size).
    switch (m) {
    case 1: case 2:
        panel.areaA = clampU16(ledW);
        panel.areaB = 0;
        panel.areaC = clampU16(out1H);
        panel.areaD = clampU16(static_cast<int64_t>(ledH) - out1H);
        break;
    case 3:
        panel.areaA = clampU16(out1W);
        panel.areaB = clampU16(static_cast<int64_t>(ledW) - out1W);
        panel.areaC = clampU16(ledH);
        panel.areaD = 0;
        break;
    case 5:
        break;
    default:
        panel.areaA = clampU16(ledW);
        panel.areaB = clampU16(ledW);
        panel.areaC = clampU16(ledH);
        panel.areaD = 0;
        break;
    }
    zelApi_PnlInitOch3();
    zelApi_initEnvC331();
    for (int w = 0; w < kWinCount; ++w) {
        for (int i = 0; i < kIch; ++i)
            win_ich[w][i] = -1;
        g_chg_win[w] = 1;
    }
    for (int c = 0; c < kOch; ++c)
        och_owner[c] = kNoWin;
    zelApi_MultiWinChAlloc(1);
    zelApi_MultiWinChInit();
    zelDbg_c331_param();
}

void c331_manage::zelApi_PnlInitOch3()
{
    const int m = panel.splice;
    uint32_t W, H;
    if (m == 1 || m == 2) {
        W = static_cast<uint32_t>(panel.areaA) + panel.areaB;
        H = std::max(panel.areaC, panel.areaD);
    } else {
        W = std::max(panel.areaA, panel.areaB);
        H = static_cast<uint32_t>(panel.areaC) + panel.areaD;
    }
    const bool big = static_cast<uint64_t>(W) * H > kOneOchPixels;
    panel.use1och = big ? 0 : 1;
    W = roundUp(W, big ? 8 : 4);

    const PanelCase pc = panelCase(big, m, H);
    panel.ochColumns = pc.columns;
    panel.ochRows = pc.rows;
    panel.arrangement = pc.arrangement;
    panel.split = 0;
    panel.HSW = static_cast<uint16_t>(pc.hsw);
    panel.HFP = static_cast<uint16_t>(pc.hfp);
    panel.VSW = static_cast<uint16_t>(pc.vsw);
    panel.VFP = static_cast<uint16_t>(pc.vfp);

    // A CP21 splice names no areas, but its channels carry the LED height over their rows: the
    // frame is searched for that, or the picture of a tall screen would run past the frame's end.
    if (m == kSpliceCp21)
        H = ceilDiv(panel.ledH, pc.rows);
    uint32_t htt = 0, vtt = 0;
    zelApi_PnlInitOch_diff(&htt, &vtt, pc.hblank, pc.vblank, static_cast<int>(W), static_cast<int>(H));
    panel.HTT = clampU16(htt);
    panel.VTT = clampU16(vtt);

    if (m == 1 || m == 2) {
        const uint32_t half = pc.rows / 2 ? pc.rows / 2 : 1;
        panel.ochH = clampU16(ceilDiv(H, half));
        panel.yoffs = clampU16(static_cast<int64_t>(panel.ochH) * half - panel.areaC);
    } else if (m == 3) {
        panel.ochH = clampU16(static_cast<int64_t>(vtt) - pc.vblank);
        panel.xoffs = clampU16(static_cast<int64_t>(panel.ochW) * pc.columns / 2 - panel.areaA);
    } else {
        // Not taller than the frame holds, where the LED height leaves no 16-bit frame around it.
        panel.ochH = clampU16(std::min<int64_t>(ceilDiv(panel.ledH, pc.rows), int64_t(panel.VTT) - pc.vblank));
    }

    zelApi_WriteRam(kWriteRamPanel);
    ZEL_DEBUG("========OCH SPEC=======\n width:%d HTT:%d HBLANK:%d HFP:%d HSW:%d HBP:%d\n"
              " height:%d VTT:%d VBLANK:%d VFP:%d VSW:%d VBP:%d\n",
              panel.ochW, panel.HTT, pc.hblank, panel.HFP, panel.HSW,
              static_cast<int>(panel.HTT) - panel.ochW - panel.HSW - panel.HFP, panel.ochH, panel.VTT,
              pc.vblank, panel.VFP, panel.VSW,
              static_cast<int>(panel.VTT) - panel.ochH - panel.VSW - panel.VFP);
    zelApi_c331InitRegPanel();
}

int c331_manage::zelApi_PnlInitOch_diff(uint32_t* htt, uint32_t* vtt, int hblank, int vblank, int width,
                                        int height)
{
    const int m = panel.splice;
    uint32_t w = static_cast<uint32_t>(std::max(width, 0));
    uint32_t h = static_cast<uint32_t>(std::max(height, 0));
    // Split over two channels across, each channel carries half the width. The two rows of a
    // V or HV splice each carry one whole area, so their channels keep the full (taller) height:
    // a frame searched for half of it would end before the picture does.
    if (!panel.use1och) {
        if (m == 1 || m == 2) {
            if (panel.arrangement == ARRANG2K4_2x2_8K)
                w /= 2;
        } else {
            w /= 2;
        }
    }
    const uint32_t minH = w + static_cast<uint32_t>(hblank);
    const uint32_t minV = h + static_cast<uint32_t>(vblank);
    bool found = false;
    for (const OchTiming& t : kOchTimingList) {
        if (t.htt >= minH && t.vtt >= minV) {
            *htt = t.htt;
            *vtt = t.vtt;
            found = true;
            ZEL_DEBUG("\t found htt: %d, vtt:%d\n", t.htt, t.vtt);
            break;
        }
    }
    if (!found) {
        if (panel.use1och) {
            *htt = roundUp(minH, 4);
            *vtt = minV;
            ZEL_DEBUG("\t not found in list for Use one OCH, continue find for Use TWO OCH\n");
        } else {
            *htt = minH;
            *vtt = minV;
            ZEL_DEBUG("\t not found in list, calc htt: %d -- %04x\n", *htt, *htt);
        }
    }
    panel.ochH = clampU16(static_cast<int64_t>(*vtt) - vblank);
    panel.ochW = clampU16(w);
    return 1;
}

void c331_manage::zelApi_WriteRam(int address)
{
    if (address != kWriteRamPanel) {
        ZEL_DEBUG("[zelApi_WriteRam] addr:%d not handled\n", address);
        return;
    }
    const int m = panel.splice;
    uint16_t h, v;
    if (m == 0 || m == 4) {
        h = panel.use1och ? 1 : 2;
        v = 1;
    } else if (m == 3) {
        h = panel.use1och ? 2 : 4;
        v = 1;
    } else {
        h = panel.use1och ? 1 : 2;
        v = 2;
    }
    const PanelWord words[kDerivedPanelWords] = {
        {ramaddr::kLedX, panel.xoffs},  {ramaddr::kLedY, panel.yoffs}, {ramaddr::kOchNumH, h},
        {ramaddr::kOchNumV, v},         {ramaddr::kOchW, panel.ochW},  {ramaddr::kOchH, panel.ochH},
        {ramaddr::kSplitFlag, static_cast<uint16_t>(panel.split)},
    };
    std::copy(words, words + kDerivedPanelWords, panelWords_);
    for (const PanelWord& w : panelWords_)
        imageWriteWord(w.addr, w.value);
}

void c331_manage::zelApi_c331InitRegPanel()
{
    SystemParam& s = sys;
    auto backPorch = [](int total, int active, int sync, int front) { return std::max(total - active - sync - front, 0); };
    s.width = panel.ochW;
    s.height = panel.ochH;
    s.HSW = panel.HSW;
    s.HTT = panel.HTT;
    s.HBP = static_cast<uint32_t>(backPorch(panel.HTT, panel.ochW, panel.HSW, panel.HFP));
    s.VTT = panel.VTT;
    s.VSW = panel.VSW;
    s.VBP = static_cast<uint32_t>(backPorch(panel.VTT, panel.ochH, panel.VSW, panel.VFP));
    wr(kRegTxHsw0, s.HSW / 2 - 1);
    wr(kRegTxHsw1, s.HSW / 2 - 1);
    wr(kRegTxVsw0, s.VSW - 1);
    wr(kRegTxVsw1, s.VSW - 1);
    s.ihstart = s.ohstart = s.HSW + s.HBP;
    s.ihend = s.ohend = s.ohstart + s.width;
    s.ivstart = s.ovstart = s.VSW + s.VBP;
    s.ivend = s.ovend = s.ovstart + s.height;

    switch (panel.arrangement) {
    case 0: case 1:
        s.PS_VBOTX_MODE = 1;
        s.PS_VBOTX_LAYOUT = panel.arrangement + 2;
        s.line_wmul = 4;
        s.line_hmul = 2;
        break;
    case 2:
        s.PS_VBOTX_MODE = 0;
        s.PS_VBOTX_LAYOUT = 0;
        s.line_wmul = 4;
        s.line_hmul = 1;
        break;
    case 3: case 4:
        s.PS_VBOTX_MODE = 0;
        s.PS_VBOTX_LAYOUT = 1;
        s.line_wmul = 2;
        s.line_hmul = 2;
        break;
    case 5: case 6:
        s.PS_VBOTX_MODE = 2;
        s.PS_VBOTX_LAYOUT = 0;
        s.line_wmul = panel.use1och ? 2 : 4;
        s.line_hmul = 1;
        break;
    case 7: case 8:
        s.PS_VBOTX_MODE = 2;
        s.PS_VBOTX_LAYOUT = 1;
        s.line_wmul = panel.use1och ? 1 : 2;
        s.line_hmul = 2;
        break;
    default:
        ZEL_DEBUG("\t not found arrang mode\n");
        break;
    }
    if (s.PS_VBOTX_MODE == 2)
        ZEL_DEBUG("PS_VBOTX_MODE = 2\n\t PS_VBOTX_LAYOUT:%d\n", s.PS_VBOTX_LAYOUT);

    for (uint32_t och = 0; och < kOch; ++och) {
        const uint32_t off = och * kOchBankStep;
        wr(kRegOchHtt, s.HTT - 2, off);
        wr(kRegOchVtt, s.VTT - 2, off);
        wr(kRegOchFixed, 64, off);
        wr(kRegOchIHst, s.ohstart, off);
        wr(kRegOchIHend, s.ohend, off);
        wr(kRegOchIVst, s.ovstart, off);
        wr(kRegOchIVend, s.ovend, off);
        wr(kRegOchMHst, s.ohstart, off);
        wr(kRegOchMHend, s.ohend, off);
        wr(kRegOchMVst, s.ovstart, off);
        wr(kRegOchMVend, s.ovend, off);
        wr(kRegOchOHst, s.ohstart, off);
        wr(kRegOchWidth, s.width, off);
        och_cleared[och] = false;
        wr(kRegOchOVst, s.ovstart, off);
        wr(kRegOchHeight, s.height + 1, off);
    }
    wr(kRegTxMap0, kTxLaneMap);
    wr(kRegTxMap1, kTxLaneMap);
    const RegWrite* block = panel.split ? kOchBw2k2k30 : kOchBw2k4k30;
    if (panel.split)
        ZEL_DEBUG("\t 2k2k30 8 och, None-Division config\r\n");
    for (int i = 0; i < kOchBwRegs; ++i)
        wr(block[i].id, block[i].value);
}

// ---- windows -------------------------------------------------------------------------------------------

void c331_manage::zelApi_initEnvC331()
{
    using namespace ramaddr;
    const ImageView img = ImageView::current();
    wincnt = 0;
    for (int w = 0; w < kWinCount; ++w)
        if (img.word(kWindows + kWindowSize * w + kWinState) != 0)
            ++wincnt;
    ZEL_DEBUG("\t wincnt:%d\r\n", wincnt);

    for (int w = 0; w < kWinCount; ++w) {
        const unsigned rec = kWindows + kWindowSize * w;
        ST_WIN_INFO& wi = win_info[w];
        wi.enable = img.word(rec + kWinState) != 0 ? 1 : 0;
        int pri = img.word(kPriority + 2 * w);
        if (pri > 5) {
            ZEL_DEBUG(" WIN%d PRIORITY:%x OOR,reset to %d\n", w, pri, pri % 6);
            pri %= 6;
        }
        wi.priority = static_cast<uint8_t>(pri);
        wi.x = clampU16(static_cast<int64_t>(img.word(rec + kWinX)) + panel.xoffs);
        wi.y = clampU16(static_cast<int64_t>(img.word(rec + kWinY)) + panel.yoffs);
        wi.width = img.word(rec + kWinWidth);
        wi.height = img.word(rec + kWinHeight);

        const uint8_t attr = static_cast<uint8_t>(img.word(rec + kWinMirror) & 0x03);
        if (attr != wi.attr)
            g_chg_attr[w] = 1;
        wi.attr = attr;
        const uint16_t flags = img.word(rec + kWinFlags);
        const uint8_t output = static_cast<uint8_t>(flags & 0x03);
        const int fadeEn = (flags >> 2) & 1;
        if (output != wi.output || fadeEn != PM_WIN_FADE_EN[w])
            g_chg_dbd[w] = 1;
        wi.output = output;
        win_freeze_asked[w] = output & kWinFrozen;
        PM_WIN_FADE_EN[w] = fadeEn;
        // A word outside the table selects single input, as a change of the word selects it.
        int dbd = img.word(rec + kWinDbdMode);
        if (dbd > 9) {
            ZEL_DEBUG("\t !!!!!!!!DBD_MODE OOR!!!!!!!\n");
            dbd = 0;
        }
        if (dbd != win_dbd_word[w])
            g_chg_dbd[w] = 1;
        win_dbd_word[w] = dbd;
        // The mode the image's flags and word select, as the change pass applies it: a box
        // started from the saved image shows what the running one showed.
        const int mode = windowDbdMode(flags, dbd);
        if (mode != PM_WIN_DBD_MODE[w]) {
            PM_WIN_DBD_MODE[w] = mode;
            g_chg_dbd[w] = 1;
        }

        // Source: an input number, or (bit 15) a crop entry whose input is taken.
        const uint16_t src = img.word(rec + kWinSource);
        uint8_t input = kNoInput, crop = kNoCrop;
        if (src & kWinSourceCrop) {
            const unsigned k = src & 0xFF;
            // No such crop entry: no input, whatever the window showed before.
            if (k < kCropEntries) {
                crop = static_cast<uint8_t>(k);
                input = img.cropInput(k);
            }
        } else {
            input = static_cast<uint8_t>(std::min<unsigned>(src, 0xFF));
        }
        if (input >= kPorts)
            input = kNoInput;
        wi.crop = crop;
        wi.port = input;
        const int chipPort = input == kNoInput ? kNoPort : zelApi_inputCvtC331(input);
        if (chipPort != win_port[w]) {
            win_port[w] = chipPort;
            g_chg_input[w] = 1;
        }
    }

    default_layout = false;
    if (imageNeedsDefaultLayout(img, true))
        zelApi_initEnvC331Default();
}

bool c331_manage::imageNeedsDefaultLayout(const ImageView& img, bool say) const
{
    using namespace ramaddr;
    bool any = false;
    for (int w = 0; w < kWinCount; ++w)
        any = any || img.word(kWindows + kWindowSize * w + kWinState) != 0;
    if (!any)
        return true;
    const int m = panel.splice;
    if (m != 0 && m != 4)
        return false;
    const char* oor = m == 0 ? "\t OOR for SPLICE_NONE" : "\t OOR for SPLICE_CP1TO2";
    if (img.word(kWindows + kWinState) == 0) {
        if (say)
            ZEL_DEBUG("%s: window 0 off\n", oor);
        return true;
    }
    for (int w = 0; w < kWinCount; ++w) {
        const unsigned rec = kWindows + kWindowSize * w;
        if (img.word(rec + kWinState) == 0)
            continue;
        // As the window record takes them: the position shifted by the panel origin.
        const uint32_t x = clampU16(static_cast<int64_t>(img.word(rec + kWinX)) + panel.xoffs);
        const uint32_t width = img.word(rec + kWinWidth);
        const uint16_t src = img.word(rec + kWinSource);
        unsigned input = kNoInput;
        if (!(src & kWinSourceCrop))
            input = std::min<unsigned>(src, 0xFF);
        else if ((src & 0xFF) < kCropEntries)
            input = img.cropInput(src & 0xFF);
        if (x + width > static_cast<uint32_t>(panel.ledW) + panel.xoffs) {
            if (say)
                ZEL_DEBUG("%s: win%d x:%u w:%u\n", oor, w, x, width);
            return true;
        }
        if (img.word(rec + kWinMirror) & kRotateAttr) {
            if (say)
                ZEL_DEBUG("%s: win%d rotated\n", oor, w);
            return true;
        }
        if (input >= kPorts) {
            if (say)
                ZEL_DEBUG("%s: win%d input\n", oor, w);
            return true;
        }
    }
    return false;
}

void c331_manage::zelApi_initEnvC331Default()
{
    int32_t rects[kWinCount][4] = {};
    ST_MWIN mw{0, rects};
    zelApi_MultiWinInit();
    zelApi_MultiWinGet(&mw);
    const int count = std::clamp(mw.count, 0, kWinCount);
    for (int w = 0; w < kWinCount; ++w)
        win_info[w].enable = 0;
    for (int w = 0; w < count; ++w) {
        ST_WIN_INFO& wi = win_info[w];
        wi.x = clampU16(static_cast<int64_t>(rects[w][0]) + panel.xoffs);
        wi.y = clampU16(static_cast<int64_t>(rects[w][1]) + panel.yoffs);
        wi.width = clampU16(rects[w][2]);
        wi.height = clampU16(rects[w][3]);
        wi.attr = 0;
        wi.enable = 1;
    }
    wincnt = count;
    default_layout = true;
}

bool c331_manage::zelApi_IsWinShown(int w) const
{
    return w >= 0 && w < kWinCount && win_info[w].enable != 0;
}

void c331_manage::c331_debugEnv() {}
