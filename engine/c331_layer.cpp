// Window layers and switching: priorities become mixer member orders and blending tables; a
// window can be blacked out, frozen, mirrored and switched to dot-by-dot; a source change is
// covered by a freeze on a common frame or by a fade out and in.
#include <algorithm>
#include <cstdio>
#include <iterator>

#include "core/global.h"
#include "core/ram_layout.h"
#include "engine/c331_image.h"
#include "engine/c331_manage.h"

namespace {

constexpr uint32_t kNextAddr = 0x100;

// ---- mixers (bank offset 16 x group) ----
constexpr int kMixers = 8;
constexpr int kBlendGroups = 4;          // mixers with a blending table
constexpr int kBlendMembers = 4;         // members a blending table weighs
constexpr int kBlendEntries = 16;
constexpr uint32_t kRegMixerMembers = 0x0E0904;
constexpr uint32_t kMemberCode = 8;      // member k: channel + 8 in bits 4k..4k+3
constexpr uint32_t kRegBlendCoef = 0x0E1101, kBlendEntryStep = 0x500;
constexpr uint32_t kRegCascade = 0x0E0F02, kCascadeStep = 256;
constexpr uint32_t kFull = 128;
constexpr uint32_t kRegUpdA = 0x002201, kRegUpdB = 0x002301;
constexpr uint32_t kUpdOpen = 255, kUpdCloseA = 169, kUpdCloseB = 203;

// ---- freeze ----
constexpr uint32_t kRegIchWrite = 0x100901, kIchWriting = 1, kIchFrozen = 2;
constexpr uint32_t kRegField = 0xAB4701;
constexpr uint32_t kRegIchSelect = 0x000801, kIchSelectHeld = 1;
constexpr uint32_t kRegRotation = 0x166603, kRegReadPattern = 0x166C02;
constexpr int kFreezeRounds = 251;
constexpr int kHeld = 4;

// ---- unused channels ----
constexpr uint32_t kRegIchHw = 0x101902, kRegOchWidth = 0x084202, kRegOchBkgEnable = 0x084801;

// Image flags word of a window.
constexpr uint16_t kFlagBlack = 0x0001, kFlagFreeze = 0x0002, kFlagFade = 0x0004, kFlagDbd = 0x0100;

// Dot-by-dot mode words 1-9 of the image and what they select; 0 is single input.
constexpr int kDbdModes[10] = {1, 20, 21, 22, 23, 30, 40, 41, 50, 51};
constexpr const char* kDbdNames[10] = {
    "\t DBD_SINGLE_INPUT", "\t DBD_CMOS_IN12   ", "\t DBD_CMOS_IN12V  ", "\t DBD_CMOS_IN34   ",
    "\t DBD_CMOS_IN34V  ", "\t DBD_CMOS_IN123  ", "\t DBD_CMOS_IN1234 ", "\t DBD_CMOS_IN1234Q",
    "\t DBD_VBO_IN12    ", "\t DBD_VBO_IN12V   "};

uint32_t coefId(int entry, int m)
{
    return kRegBlendCoef + kBlendEntryStep * static_cast<uint32_t>(entry) + kNextAddr * static_cast<uint32_t>(m);
}

// Highest member present in table entry k, -1 for none.
int topMember(int k)
{
    for (int i = kBlendMembers - 1; i >= 0; --i)
        if (k & (1 << i))
            return i;
    return -1;
}

}  // namespace

int c331_manage::dbdModeOf(int word)
{
    if (word < 0 || word > 9) {
        ZEL_DEBUG("\t !!!!!!!!DBD_MODE OOR!!!!!!!, set it to DBD_SINGLE_INPUT\n");
        return kDbdModes[0];
    }
    ZEL_DEBUG("%s\n", kDbdNames[word]);
    return kDbdModes[word];
}

int c331_manage::windowDbdMode(uint16_t flags, int word) { return (flags & kFlagDbd) ? dbdModeOf(word) : 0; }

// ---- priority and mixers -------------------------------------------------------------------------------

void c331_manage::c331_SetWinPriority(int w, int priority)
{
    if (!zelApi_IsWinValid(w))
        return;
    win_info[w].priority = static_cast<uint8_t>(priority % kWinCount);
    ZEL_DEBUG("[c331_SetWinPriority] win_%d, pri_%d\n", w, priority);
}

void c331_manage::c331_SetWinPriority1(int fd)
{
    ZEL_DEBUG("[c331_SetWinPriority1] wincnt:%d\n", wincnt);
    for (int w = 0; w < kWinCount; ++w) {
        const int layer = zelApi_IsWinShown(w) ? kWinCount - 1 - win_info[w].priority % kWinCount : 0;
        ZEL_DEBUG("\t win_%d, zel_layer_%d ==> layer_%d\n", w, PM_LAYER[w], layer);
        PM_LAYER[w] = layer;
    }
    update_overlay_info();
    set_overlay(fd);
    reset_layer_coef(fd, 0);
}

void c331_manage::update_overlay_info()
{
    listOwned(och_owner, win_och);
    auto layerOf = [&](int c) { return och_owner[c] >= 0 && och_owner[c] < kWinCount ? PM_LAYER[och_owner[c]] : 0; };
    for (int g = 0; g < kMixers; ++g) {
        int n = 0;
        for (int c = 0; c < kOch && n < kOch; ++c)
            if (PM_OVERLAY[c] == g + 1)
                overlay_member[g][n++] = c;
        overlay_count[g] = n;
        // Lowest layer at the bottom; members of one layer keep their channel order.
        std::stable_sort(overlay_member[g], overlay_member[g] + n,
                         [&](int a, int b) { return layerOf(a) < layerOf(b); });
        for (int k = n; k < kOch; ++k)
            overlay_member[g][k] = -1;
    }
}

void c331_manage::set_overlay(int)
{
    for (int g = 0; g < kMixers; ++g) {
        uint32_t v = 0;
        for (int k = 0; k < overlay_count[g]; ++k)
            v |= (static_cast<uint32_t>(overlay_member[g][k]) + kMemberCode) << (4 * k);
        wr(kRegMixerMembers, v, chBank(g));
    }
}

void c331_manage::reset_layer_coef(int, int cascade)
{
    for (int g = 0; g < kBlendGroups; ++g) {
        const uint32_t off = chBank(g);
        const int n = overlay_count[g];
        for (int k = 0; k < kBlendEntries; ++k) {
            const int top = topMember(k);
            for (int m = 0; m <= kBlendMembers; ++m) {
                uint32_t v = 0;
                if (n > 0)
                    v = (top < 0 ? m == 0 : m == top + 1) ? kFull : 0;
                wr(coefId(k, m), v, off);
            }
            wr(kRegCascade, kCascadeStep * static_cast<uint32_t>(std::clamp(cascade, 0, 2)), off);
        }
    }
}

bool c331_manage::set_layer_coef(int fd, int w, int n, int dir)
{
    if (n < 0 || !zelApi_IsWinValid(w))
        return true;
    printf("set_layer_coef  win=%d  cnt=%d  dir=%d\n", w, n, dir);
    bool waited = true;
    for (int i = 0; i <= n; ++i) {
        uint32_t a, b;
        if (n == 0) {
            a = dir ? kFull : 0;
        } else {
            const uint32_t step = kFull * static_cast<uint32_t>(i) / static_cast<uint32_t>(n);
            a = dir ? step : kFull - step;
        }
        b = kFull - a;
        wr(kRegUpdA, kUpdOpen);
        wr(kRegUpdB, kUpdOpen);
        for (int g = 0; g < kBlendGroups; ++g) {
            int p = -1;
            for (int k = 0; k < overlay_count[g]; ++k)
                if (och_owner[overlay_member[g][k]] == w)
                    p = k;
            if (p < 0)
                continue;
            const uint32_t off = chBank(g);
            wr(kRegCascade, p > 3 ? (p == 4 ? kCascadeStep : 2 * kCascadeStep) : 0, off);
            p = std::min(p, kBlendMembers - 1);
            for (int k = 1; k < kBlendEntries; ++k) {
                if (topMember(k) != p)
                    continue;
                int below = -1;
                if (p >= 1 && (k & (1 << (p - 1))))
                    below = p - 1;
                else if (p >= 2 && (k & (1 << (p - 2))))
                    below = p - 2;
                else if (p == 3 && (k & 1))
                    below = 0;
                wr(coefId(k, p + 1), a, off);
                wr(coefId(k, below + 1), b, off);
            }
        }
        wr(kRegUpdA, kUpdCloseA);
        wr(kRegUpdB, kUpdCloseB);
        // Each step, the last one too, is shown for a frame: a fade-out has really reached 0
        // before the caller re-programs the window.
        if (waited && !wait1_povs(fd, 0)) {
            // No output frame comes: finish the fade at once rather than hold the engine.
            waited = false;
            i = std::max(i, n - 1);
        }
    }
    return waited;
}

// ---- freeze ----------------------------------------------------------------------------------------

void c331_manage::win_freeze_sel(int, int w, int flags)
{
    if (!zelApi_IsWinValid(w) || !isCh(win_ich[w][0]))
        return;
    wr(kRegIchWrite, (flags & kFlagFreeze) ? kIchFrozen : kIchWriting, chBank(win_ich[w][0]));
}

namespace {

uint32_t packPattern(const int f[], const int order[4])
{
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |= static_cast<uint32_t>(f[order[i]] & 7) << (4 * i);
    return v;
}

}  // namespace

void c331_manage::set_freeze(int fd, int on)
{
    if (!on) {
        static constexpr int kReadOrder[4] = {3, 0, 1, 2};
        // A window gets its reading pattern back when the freeze held it or the master whose
        // buffers it reads: the held rotation moved one buffer of that master. Windows outside
        // the freeze keep reading untouched, so their pictures do not blink.
        for (int w = 0; w < kWinCount; ++w) {
            int master = w, partner = -1;
            check_stitching_win(&master, &partner);
            if (!win_frozen[w] && !win_frozen[master])
                continue;
            const uint32_t v = packPattern(rot_pattern[master], kReadOrder);
            for (int c = 0; c < kOch; ++c)
                if (och_owner[c] == w)
                    wr(kRegReadPattern, v, chBank(c));
        }
        std::fill(std::begin(win_frozen), std::end(win_frozen), 0);
        return;
    }
    // The changed windows and the channel each was last carried on.
    int wins[kWinCount], ich[kWinCount], n = 0;
    for (int w = 0; w < kWinCount; ++w) {
        if (!winChanged(w))
            continue;
        const int c = prev_win_ich[w][0] >= 0 ? prev_win_ich[w][0] : win_ich[w][0];
        if (!isCh(c))
            continue;   // nothing carries it yet: nothing to hold
        wins[n] = w;
        ich[n++] = c;
    }
    set_rtct(fd, 0);
    if (n == 0)
        return;
    auto fieldOf = [&](int c) { return static_cast<int>((rd(kRegField + kNextAddr * static_cast<uint32_t>(c)) >> 2) & 3); };
    wr(kRegIchWrite, kIchFrozen, chBank(ich[0]));
    const int idx = fieldOf(ich[0]);
    bool frozen[kWinCount] = {};
    frozen[0] = true;
    for (int round = 0; round < kFreezeRounds; ++round) {
        bool pending = false;
        for (int i = 1; i < n; ++i) {
            if (frozen[i])
                continue;
            if (fieldOf(ich[i]) == idx) {
                wr(kRegIchWrite, kIchFrozen, chBank(ich[i]));
                frozen[i] = true;
            } else {
                pending = true;
            }
        }
        if (!pending)
            break;
    }
    // The channels that carried the changed windows are told they have no signal and no input
    // processing while held; the input set-up of the re-programming selects them again.
    for (int i = 0; i < n; ++i)
        for (int c : prev_win_ich[wins[i]])
            if (isCh(c))
                wr(kRegIchSelect + kNextAddr * static_cast<uint32_t>(c), kIchSelectHeld);
    wait1_povs(fd, 0);

    int* first = rot_pattern[wins[0]];
    std::swap(first[(idx + 3) % 4], first[kHeld]);
    const uint32_t rot = rotationWord(wins[0]);
    for (int i = 0; i < n; ++i) {
        if (!frozen[i])
            continue;
        const int w = wins[i];
        for (int f = 0; f < kRotFields; ++f)
            rot_pattern[w][f] = first[f];
        for (int c : win_ich[w])
            if (isCh(c))
                wr(kRegRotation, rot, chBank(c));
        win_frozen[w] = 1;
    }
    const uint32_t held = static_cast<uint32_t>(first[kHeld] & 7) * 0x1111;
    for (int c = 0; c < kOch; ++c) {
        const int o = prev_och_owner[c];
        if (o >= 0 && o < kWinCount && win_frozen[o])
            wr(kRegReadPattern, held, chBank(c));
    }
}

void c331_manage::reset_act(int, int mode)
{
    if (mode == 0 || mode == 2)
        for (int c = 0; c < kIch; ++c)
            if (ich_owner[c] < 0 && !ich_cleared[c]) {
                wr(kRegIchHw, 0, chBank(c));
                ich_cleared[c] = true;
            }
    if (mode == 1 || mode == 2)
        for (int c = 0; c < kOch; ++c) {
            const int o = och_owner[c];
            const bool used = o >= 0 && o < kWinCount && win_info[o].columns && win_info[o].rows &&
                              PM_AREA_NUM[c] < win_info[o].columns * win_info[o].rows;
            if (!used && !och_cleared[c]) {
                wr(kRegOchWidth, 0, chBank(c));
                // Nor its background: a channel no window uses shows nothing of the window that
                // left it, as on a chip started afresh (the green of the start-up stays).
                if (g_force_bkcolor != 1)
                    wr(kRegOchBkgEnable, 0, chBank(c));
                och_cleared[c] = true;
            }
        }
}

// ---- window words of the image ------------------------------------------------------------------------

void c331_manage::c331_SetWinOutput(int fd, int w, int data)
{
    ZEL_DEBUG("[c331_SetWinOutput] win:%d, data:%x\r\n", w, data);
    if (!zelApi_IsWinValid(w))
        return;
    if (!zelApi_IsWinShown(w))
        ZEL_DEBUG("[c331_SetWinOutput], win OOR\n");
    ST_WIN_INFO& wi = win_info[w];
    ZEL_DEBUG("\t pwinfo[win_%d].output:%02x -- data:%02x\n", w, wi.output, data);
    if ((data ^ wi.output) & kFlagBlack) {
        wi.output = static_cast<uint8_t>((wi.output & ~kFlagBlack) | (data & kFlagBlack));
        set_input_bkg2(fd, w, data & kFlagBlack);
        ZEL_DEBUG("\t change win_%d output:%s\n", w, (data & kFlagBlack) ? "Black" : "Normal");
    }
    const int fade = (data & kFlagFade) ? 1 : 0;
    PM_WIN_FADE_EN[w] = fade;
    const int dbd = windowDbdMode(static_cast<uint16_t>(data), ImageView::current().word(ramaddr::window(w) + ramaddr::kWinDbdMode));
    if (!(data & kFlagDbd))
        ZEL_DEBUG("\t change win_%d DBD_MODE: DBD_DISABLE\n", w);
    if (dbd != PM_WIN_DBD_MODE[w]) {
        PM_WIN_DBD_MODE[w] = dbd;
        g_chg_dbd[w] = 1;
        set_output(fd);
    }
    // The freeze comes last, so a re-programming above does not release it again.
    win_freeze_asked[w] = static_cast<uint8_t>(data & kFlagFreeze);
    if ((data ^ wi.output) & kFlagFreeze) {
        wi.output &= static_cast<uint8_t>(~kFlagFreeze);
        if (winNoSignal(w) == 1) {
            ZEL_DEBUG("\t change win_%d no signal, disable freeze\n", w);
            return;
        }
        wi.output |= static_cast<uint8_t>(data & kFlagFreeze);
        win_freeze_sel(fd, w, data);
        ZEL_DEBUG("\t change win_%d freeze:%s\n", w, (data & kFlagFreeze) ? "Freeze" : "Normal");
    }
}

void c331_manage::c331_SetWinDbdMode(int fd, int w, int mode)
{
    if (!zelApi_IsWinValid(w))
        return;
    const int dbd = dbdModeOf(mode);
    const uint16_t flags = ImageView::current().word(ramaddr::window(w) + ramaddr::kWinFlags);
    if (!(flags & kFlagDbd))
        return;   // kept for when dot-by-dot is switched on
    PM_WIN_DBD_MODE[w] = dbd;
    g_chg_dbd[w] = 1;
    set_output(fd);
}

void c331_manage::c331_SetWinAttr(int w, int data)
{
    ZEL_DEBUG("[c331_SetWinAttr] win:%d, data:%x\r\n", w, data);
    if (!zelApi_IsWinShown(w))
        return;
    win_info[w].attr = static_cast<uint8_t>(data & 3);
    g_chg_attr[w] = 1;
    PM_WIN_HMIRROR[w] = data & 1;
    PM_WIN_VMIRROR[w] = (data >> 1) & 1;
    set_output(c331_fd);
}
