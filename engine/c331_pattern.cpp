// Test patterns of the output channels' pattern generators, and the output background colour.
#include <algorithm>
#include <cstdint>

#include "core/global.h"
#include "engine/c331_manage.h"

namespace {

// Pattern generator of an output channel (bank 0x08 + 16 per channel).
constexpr uint32_t kRegMode = 0x085701;
constexpr uint32_t kRegParam1 = 0x085801, kRegParam2 = 0x085901, kRegParam3 = 0x085A01;
constexpr uint32_t kRegControl = 0x085B02;
constexpr uint32_t kRegSize1 = 0x085D02, kRegSize2 = 0x085F02, kRegSize3 = 0x086102;
constexpr uint32_t kRegRed = 0x086301, kRegGreen = 0x086401, kRegBlue = 0x086501;
constexpr uint32_t kRegRedCtl = 0x086601, kRegGreenCtl = 0x086701, kRegBlueCtl = 0x086801;
// Cleared, in this order, before every pattern change.
constexpr uint32_t kPatternRegs[] = {kRegMode,  kRegParam1, kRegParam2, kRegParam3, kRegControl,
                                     kRegSize1, kRegSize2,  kRegSize3,  kRegRed,    kRegGreen,
                                     kRegBlue,  kRegRedCtl, kRegGreenCtl, kRegBlueCtl};

constexpr int kPatterns = 20;
constexpr int kWideWidth = 2048;           // wider windows need the generator's wide control
constexpr uint32_t kWideControl = 0x8000;
constexpr uint32_t kSolidFirstControl = 0, kSolidNextControl = 3;

enum class Kind : uint8_t {
    Solid,   // one colour: control word by width and channel
    Line,    // one size register, control word by width
    Full,    // every register of the generator
    None,    // the generator stays cleared
};

struct Pattern {
    Kind kind;
    uint8_t mode;
    uint8_t p1, p2, p3;
    uint16_t control;
    uint16_t size2, size3;        // 08:5F, 08:61 (Line: the one that is 1)
    uint8_t red, green, blue;
    uint8_t ctl;                  // each colour's control
};

constexpr uint8_t kOn = 255;
constexpr uint8_t kCtl = 3;
constexpr Pattern kPatternTable[kPatterns] = {
    // kind         mode p1 p2 p3 control size2   size3   red  green blue ctl
    {Kind::Solid,   4,   0, 0, 0, 0,      0,      0,      kOn, 0,    0,   kCtl},   // red
    {Kind::Solid,   4,   0, 0, 0, 0,      0,      0,      0,   kOn,  0,   kCtl},   // green
    {Kind::Solid,   4,   0, 0, 0, 0,      0,      0,      0,   0,    kOn, kCtl},   // blue
    {Kind::Solid,   4,   0, 0, 0, 0,      0,      0,      kOn, kOn,  kOn, kCtl},   // white
    {Kind::Solid,   4,   0, 0, 0, 0,      0,      0,      0,   0,    0,   kCtl},   // black
    {Kind::Full,    1,   0, 0, 0, 0x8000, 480,    0,      kOn, kOn,  kOn, kCtl},
    {Kind::Line,    14,  0, 0, 0, 14,     1,      0,      kOn, kOn,  kOn, kCtl},
    {Kind::Line,    15,  0, 0, 0, 15,     0,      1,      kOn, kOn,  kOn, kCtl},
    {Kind::None,    0,   0, 0, 0, 0,      0,      0,      0,   0,    0,   0},
    {Kind::None,    0,   0, 0, 0, 0,      0,      0,      0,   0,    0,   0},
    {Kind::Full,    8,   48, 0, 0, 0x8000, 32,    32,     kOn, kOn,  kOn, kCtl},
    {Kind::Full,    5,   0, 0, 0, 0x8000, 240,    270,    kOn, kOn,  kOn, kCtl},
    {Kind::Full,    14,  0, 0, 0, 0x8000, 1,      0,      kOn, kOn,  kOn, kCtl},
    {Kind::Full,    1,   0, 0, 0, 0x8000, 480,    0,      kOn, kOn,  kOn, kCtl},
    {Kind::Full,    3,   0, 1, 0, 0x8000, 0x8FFF, 0,      0,   120,  0,   0},
    {Kind::Full,    3,   2, 1, 1, 0x8000, 0x8FFF, 0x8FFF, 0,   120,  0,   0},
    {Kind::Full,    6,   0, 0, 0, 0x8000, 960,    0,      kOn, kOn,  kOn, kCtl},
    {Kind::Full,    9,   0, 0, 0, 0x8095, 4,      3840,   kOn, kOn,  kOn, kCtl},
    {Kind::Full,    2,   0, 0, 0, 0x8000, 0,      270,    kOn, kOn,  kOn, kCtl},
    {Kind::Full,    3,   1, 1, 1, 0x8000, 0,      0x4FFF, kOn, kOn,  kOn, kCtl},
};

// The table entry of pattern number 1-20 (larger numbers wrap).
constexpr int patternIndex(int pattern) { return ((pattern - 1) % kPatterns + kPatterns) % kPatterns; }

// The output channel's blanking (bank 0x0E + 16 per channel).
constexpr uint32_t kRegBlanking = 0x0E0D02;
constexpr uint32_t kBlankingBlack = 0x55;
constexpr uint8_t kForcedColorOn = 1;
// Window output flags: black, frozen, fading.
constexpr int kOutBlack = 0x01, kOutFrozen = 0x02, kOutFade = 0x04;

}  // namespace

int c331_manage::c331_SetPattern(int pattern)
{
    int ch[kOch];
    const int n = winOchList(0, ch);
    ZEL_DEBUG("\r\n[c331_SetPattern] pattern:%d,chcnt=%d\r\n", pattern, n);
    if (wincnt > 1) {
        ZEL_DEBUG("\t wincnt:%d OOR, return fail\r\n", wincnt);
        return -1;
    }
    set_rtct(c331_fd, 2);
    // The channels the pattern was drawn on keep it until cleared, wherever window 0 is now.
    for (int k = 0; k < pattern_ochs; ++k)
        if (std::find(ch, ch + n, pattern_och[k]) == ch + n)
            clearGenerator(pattern_och[k]);
    for (int k = 0; k < n; ++k)
        clearGenerator(ch[k]);
    pattern_shown = pattern;
    pattern_ochs = pattern == 0 ? 0 : n;
    std::copy(ch, ch + n, pattern_och);
    if (pattern == 0) {
        pattern_gen = 0;
        ZEL_DEBUG("    turn off pattern\r");
        set_input_bkg2(c331_fd, 0, 0);
        set_rtct(c331_fd, 1);
        return 0;
    }
    const int index = patternIndex(pattern);
    ZEL_DEBUG("    zel pattern Idx:%d \r\n", index);
    pattern_gen = 1;
    const bool wide = win_info[0].width > kWideWidth;
    set_input_bkg2(c331_fd, 0, 0);
    const Pattern& p = kPatternTable[index];
    for (int k = 0; k < n; ++k) {
        const uint32_t bank = chBank(ch[k]);
        auto colours = [&] {
            wr(kRegRed, p.red, bank);
            wr(kRegGreen, p.green, bank);
            wr(kRegBlue, p.blue, bank);
            wr(kRegRedCtl, p.ctl, bank);
            wr(kRegGreenCtl, p.ctl, bank);
            wr(kRegBlueCtl, p.ctl, bank);
        };
        switch (p.kind) {
        case Kind::Solid:
            wr(kRegControl, wide ? kWideControl : (k == 0 ? kSolidFirstControl : kSolidNextControl), bank);
            wr(kRegMode, p.mode, bank);
            colours();
            break;
        case Kind::Line:
            wr(kRegMode, p.mode, bank);
            if (p.size2)
                wr(kRegSize2, p.size2, bank);
            else
                wr(kRegSize3, p.size3, bank);
            wr(kRegControl, wide ? kWideControl : p.control, bank);
            colours();
            break;
        case Kind::Full:
            wr(kRegMode, p.mode, bank);
            wr(kRegParam1, p.p1, bank);
            wr(kRegParam2, p.p2, bank);
            wr(kRegParam3, p.p3, bank);
            wr(kRegControl, p.control, bank);
            wr(kRegSize1, 0, bank);
            wr(kRegSize2, p.size2, bank);
            wr(kRegSize3, p.size3, bank);
            colours();
            break;
        case Kind::None:
            break;
        }
    }
    set_rtct(c331_fd, 1);
    // Input work waits while a pattern is on. One that draws over no window leaves the windows
    // showing their inputs, and a window laid out under the pattern that drew over it holds ports
    // not measured since: they are measured and the window set up now, as a start shows it.
    if (!patternCovers(0))
        takeInputsOnce();
    return 0;
}

bool c331_manage::patternCovers(int w) const
{
    // The generator serves window 0's channels, and patterns 9 and 10 leave it cleared: any other
    // window, and window 0 under those, shows its input or its background.
    return pattern_gen && w == 0 && pattern_ochs > 0 && kPatternTable[patternIndex(pattern_shown)].kind != Kind::None;
}

void c331_manage::clearGenerator(int och)
{
    for (uint32_t reg : kPatternRegs)
        wr(reg, 0, chBank(och));
}

void c331_manage::followPatternLayout(int wanted)
{
    // The generator only serves a single window: with several the pattern ends as if turned
    // off, or the inputs would stay untracked with no way to turn it off. The image keeps the
    // pattern asked for, and it is shown again once a single window is left.
    const bool single = wincnt <= 1;
    if (!pattern_gen) {
        if (wanted != 0 && single)
            c331_SetPattern(wanted);
        return;
    }
    int ch[kOch];
    const int n = winOchList(0, ch);
    set_rtct(c331_fd, 2);
    for (int k = 0; k < pattern_ochs; ++k)
        if (!single || std::find(ch, ch + n, pattern_och[k]) == ch + n)
            clearGenerator(pattern_och[k]);
    set_rtct(c331_fd, 1);
    if (single) {
        c331_SetPattern(wanted);
        return;
    }
    ZEL_DEBUG("    %d windows, pattern ends\r\n", wincnt);
    pattern_gen = 0;
    pattern_ochs = 0;
    // The pattern held every window's input background off: each shows its port's state again.
    for (int w = 0; w < kWinCount; ++w)
        if (zelApi_IsWinShown(w))
            set_input_bkg2(c331_fd, w, 0);
}

void c331_manage::zelApi_SetOutBkg(int)
{
    set_rtct(c331_fd, 2);
    for (int c = 0; c < kOch; ++c) {
        const uint32_t bank = chBank(c);
        const int w = och_owner[c];
        const bool used = w >= 0 && w < kWinCount;
        writeOchBkg(c, used && g_force_bkcolor == kForcedColorOn ? kForcedBkgGreen : 0, 1);
        wr(kRegBlanking, 0, bank);
        if (used) {
            const int flags = win_info[w].output | (PM_WIN_FADE_EN[w] ? kOutFade : 0);
            if ((flags & (kOutBlack | kOutFrozen | kOutFade)) == kOutBlack)
                wr(kRegBlanking, kBlankingBlack, bank);
        }
    }
    set_rtct(c331_fd, 1);
}
