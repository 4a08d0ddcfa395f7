// Output reprogramming: set_output brings the chip's windows in line with the engine's window
// state after any change, covering the change with a freeze or a fade; and the small output-side
// operations (channel order of a window, memory read mode, forced colour).
#include <algorithm>
#include <cstring>

#include "core/global.h"
#include "engine/c331_geometry.h"
#include "engine/c331_manage.h"

namespace {

constexpr uint32_t kRegOchWidth = 0x084202;
constexpr uint32_t kRegOchBkgColor = 0x084903, kRegOchBkgEnable = 0x084801;
constexpr uint32_t kRegReadMode = 0x006901, kNextAddr = 0x100;
constexpr uint32_t kReadModeValue[4] = {0x00, 0x80, 0x01, 0x11};
constexpr int kPassMaxWidth = 2176;   // widest line the V-by-One output path carries zoomed
constexpr int kPassTxMode = 2;

}  // namespace

void c331_manage::writeOchBkg(int och, uint32_t colour, uint32_t enable)
{
    const uint32_t off = chBank(och);
    wr(kRegOchBkgColor, colour, off);
    wr(kRegOchBkgEnable, enable, off);
}

bool c331_manage::winChanged(int w) const { return g_chg_win[w] || g_chg_input[w] || g_chg_dbd[w]; }

void c331_manage::set_output(int fd)
{
    // Windows whose input channels could not be allocated.
    bool alloc_failed[kWinCount] = {};
    // 1-2: input channels of every window that needs them.
    for (int w = 0; w < kWinCount; ++w) {
        reset_ich(w);
        // A window switched off keeps no dot-by-dot memory either: it is free for the windows
        // set up below, as in a box started without that window.
        if (!zelApi_IsWinShown(w))
            reset_dbd_mem(w);
    }
    // A dot-by-dot window set up again is judged again whether its picture can be stored.
    bool refusedBefore[kWinCount] = {};
    for (int w = 0; w < kWinCount; ++w) {
        if (winChanged(w) || !winShowsPicture(w))
            dbd_refused[w] = false;
        refusedBefore[w] = dbd_refused[w];
    }
    placeInputs(alloc_failed);
    // A window refused at an earlier set-up is judged again with what the windows before it
    // leave it now, as a start judges it: channels, weaving channels or dot-by-dot memory given
    // back since may let it be stored. Where it still cannot, nothing of the trial stays, so the
    // windows after it are not set up again for nothing.
    for (int w = 0; w < kWinCount; ++w) {
        if (!refusedBefore[w] || !dbd_refused[w])
            continue;
        const AllocState kept = allocState();
        bool failed[kWinCount] = {};
        dbd_refused[w] = false;
        askIchAgain(w);
        placeInputs(failed);
        if (dbd_refused[w] || win_ich[w][0] < 0) {
            restoreAllocState(kept);
            continue;
        }
        for (int o = 0; o < kWinCount; ++o)
            alloc_failed[o] = alloc_failed[o] || failed[o];
    }
    // A window refused in one round and carried in a later one is set up.
    for (int w = 0; w < kWinCount; ++w)
        alloc_failed[w] = alloc_failed[w] && win_ich[w][0] < 0 && zelApi_IsWinShown(w);
    allocateAsAStart(alloc_failed);
    // The output channels go to the same windows as the input channels.
    admitOch();
    // 3: a fade only for exactly one window changing its source and nothing else.
    int fades = 0, faded = -1;
    for (int w = 0; w < kWinCount; ++w)
        if (g_chg_input[w] == 1 && PM_WIN_FADE_EN[w]) {
            ++fades;
            faded = w;
        }
    check_stitching_chg();
    for (int w = 0; w < kWinCount; ++w) {
        const int in = g_chg_input[w];
        if (in == 2 || in == 3 || g_chg_dbd[w] == 1 || (in == 1 && !PM_WIN_FADE_EN[w]) || (in == 1 && g_chg_win[w]) ||
            (in == 0 && g_chg_win[w]))
            fades = 0;
    }
    // 4: opening.
    if (g_chg_overlay)
        fades = 0;
    const bool fade = fades == 1;
    if (fade)
        set_layer_coef(fd, faded, PM_WIN_FADE_OUT[faded], 0);
    else
        set_freeze(fd, 1);

    // 5: input side.
    bool setUp[kWinCount] = {};
    for (int w = 0; w < kWinCount; ++w) {
        // A window placed again without being set up again keeps the carry its stored picture
        // was made for.
        if (!winChanged(w))
            continue;
        pass_through[w] = 1;
        width_limited[w] = false;
        setUp[w] = true;
        calc_iwin2(w);
        calc_owin2(w);
        if (PM_WIN_DBD_MODE[w] != 0) {
            // A window the dot-by-dot memory refused shows nothing, as one without channels.
            if (!set_display_window_ich_dbd(fd, w, PM_WIN_DBD_MODE[w]))
                alloc_failed[w] = zelApi_IsWinShown(w);
        } else if (static_cast<int>(sys.PS_VBOTX_MODE) == kPassTxMode) {
            _ImageWindowDef_st o = OWIN[w];
            if (IWIN[w].HW > kPassMaxWidth && o.HW > kPassMaxWidth && o.VW > IWIN[w].VW) {
                pass_through[w] = 0;
                width_limited[w] = true;
                o.HW = kPassMaxWidth;
            } else if (o.VW > IWIN[w].VW) {
                pass_through[w] = 0;
            }
            set_display_window_ich(fd, &IWIN[w], &o, w);
        } else {
            set_display_window_ich(fd, &IWIN[w], &OWIN[w], w);
        }
    }
    // 6.
    reset_act(fd, 0);
    wait1_pivs2();
    wait1_pivs2();
    set_rtct(fd, 2);
    // 7: output side. A window without input channels shows nothing rather than a stale frame
    // or another window's picture, in this pass and in every later one that places it again,
    // until its input is set up once more.
    for (int w = 0; w < kWinCount; ++w) {
        if (!winChanged(w) && !g_chg_attr[w] && !alloc_failed[w])
            continue;
        if (alloc_failed[w] || !storesPicture(w)) {
            switchOffOch(w);
            continue;
        }
        _ImageWindowDef_st in = IWIN[w];
        // A line carried narrower is read in the columns it was stored in: its start and width
        // (a crop's too) go through the shrink that carried it, and through the slot's on top.
        const bool carried = static_cast<int>(sys.PS_VBOTX_MODE) == kPassTxMode && width_limited[w];
        if (PM_WIN_DBD_MODE[w] == 0)
            in = storedArea(in, OWIN[w], carried ? ich_hratio[w] : ich_hlimit[w], ich_vlimit[w]);
        set_display_window_och(fd, &in, &OWIN[w], w);
        set_input_bkg2(fd, w, 0);
    }
    // 8.
    if (g_chg_overlay || g_chg_order) {
        update_overlay_info();
        set_overlay(fd);
        reset_layer_coef(fd, 0);
        g_chg_overlay = g_chg_order = 0;
    }
    // 9-10.
    reset_act(fd, 1);
    if (fade)
        set_layer_coef(fd, faded, PM_WIN_FADE_IN[faded], 1);
    else
        set_freeze(fd, 0);
    holdFrozenWindows(fd, setUp);
    set_rtct(fd, 1);
    // Whichever way a window came to show nothing, it holds no input channel; dot-by-dot memory is
    // held only beside the input channels that write it.
    for (int w = 0; w < kWinCount; ++w) {
        if (alloc_failed[w])
            releaseIch(w);
        if (!isCh(win_ich[w][0]))
            reset_dbd_mem(w);
    }
    // 11: what the next freeze holds.
    std::memcpy(prev_och_owner, och_owner, sizeof(prev_och_owner));
    std::memcpy(prev_win_ich, win_ich, sizeof(prev_win_ich));
    // 12: dot-by-dot memory of windows that no longer use it.
    for (int w = 0; w < kWinCount; ++w)
        if (PM_WIN_DBD_MODE[w] <= 0 || (PM_WIN_DBD_MODE[w] == 1 && check_dbd_input(win_port[w]) == 0))
            reset_dbd_mem(w);
    // 13.
    for (int w = 0; w < kWinCount; ++w) {
        g_chg_win[w] = g_chg_input[w] = g_chg_dbd[w] = g_chg_attr[w] = 0;
        g_chg_stitch[w][0] = 0;
    }
    // The admission may have given window 0 other channels than the pattern was drawn on, or
    // none: the pattern goes with the window.
    int ch[kOch];
    const int n = winOchList(0, ch);
    if (pattern_gen && (n != pattern_ochs || !std::equal(ch, ch + n, pattern_och)))
        followPatternLayout(pattern_shown);
}

void c331_manage::placeInputs(bool alloc_failed[kWinCount])
{
    // A dot-by-dot window whose picture cannot be stored with the channels it got shows nothing
    // and gives them back. The windows are judged in window order, the first refused one ending
    // the round: the channels are handed out again without it, and every window after it that
    // shows nothing for want of channels, weaving channels or dot-by-dot memory asks again, so a
    // window they now stretch to is not left out for it. Each round refuses a window the rounds
    // before kept and changes only the windows after it, so the rounds end (at most 2^6 - 1).
    constexpr int kMaxRounds = 1 << kWinCount;
    for (int round = 0; round < kMaxRounds; ++round) {
        allocateIch(alloc_failed);
        int refused = -1;
        for (int w = 0; w < kWinCount && refused < 0; ++w) {
            if (dbd_refused[w] || !winChanged(w) || PM_WIN_DBD_MODE[w] == 0 || win_ich[w][0] < 0 || dbdStorable(w))
                continue;
            // The dot-by-dot memory goes to the windows in window order, as a start hands it
            // out: the dot-by-dot windows after this one give theirs back and are judged again
            // after it.
            bool freed = false;
            for (int o = w + 1; o < kWinCount; ++o) {
                if (dbd_mem_slot[o][0] < 0)
                    continue;
                reset_dbd_mem(o);
                g_chg_dbd[o] = 1;
                freed = true;
            }
            if (freed && dbdStorable(w))
                continue;
            dbd_refused[w] = true;
            releaseInputs(w);
            alloc_failed[w] = true;
            refused = w;
        }
        if (refused < 0)
            return;
        for (int o = refused + 1; o < kWinCount; ++o) {
            if (!winShowsPicture(o) || (!dbd_refused[o] && win_ich[o][0] >= 0))
                continue;
            dbd_refused[o] = false;
            askIchAgain(o);
        }
    }
}

void c331_manage::weaveSignature(int w, int sig[kIch]) const
{
    for (int k = 0; k < kIch; ++k) {
        const int c = win_ich[w][k];
        sig[k] = isCh(c) ? (weavesFields(ichPort(c), c) ? 1 : 0) : -1;
    }
}

void c331_manage::allocateAsAStart(bool alloc_failed[kWinCount])
{
    // What the changes so far left is kept where a start would show the same: a window keeps
    // its channels (and is not set up again) unless it would be shown, refused or woven
    // otherwise.
    int keptSig[kWinCount][kIch];
    for (int w = 0; w < kWinCount; ++w)
        weaveSignature(w, keptSig[w]);
    const AllocState kept = allocState();
    for (int w = 0; w < kWinCount; ++w) {
        dbd_refused[w] = false;
        ich_short[w] = false;
        reset_dbd_mem(w);
        if (zelApi_IsWinShown(w))
            askIchAgain(w);
        else
            releaseIch(w);
    }
    bool failed[kWinCount] = {};
    placeInputs(failed);
    bool differs = false;
    int sig[kWinCount][kIch];
    for (int w = 0; w < kWinCount; ++w) {
        failed[w] = failed[w] && win_ich[w][0] < 0 && zelApi_IsWinShown(w);
        weaveSignature(w, sig[w]);
        differs = differs || std::memcmp(sig[w], keptSig[w], sizeof(sig[w])) != 0 || failed[w] != alloc_failed[w];
    }
    if (!differs) {
        restoreAllocState(kept);
        return;
    }
    for (int w = 0; w < kWinCount; ++w) {
        const bool same = std::memcmp(win_ich[w], kept.winIch[w], sizeof(kept.winIch[w])) == 0 &&
                          std::memcmp(dbd_mem_slot[w], kept.memSlot[w], sizeof(kept.memSlot[w])) == 0 &&
                          failed[w] == alloc_failed[w];
        if (same) {
            g_chg_win[w] = kept.chgWin[w];
            g_chg_input[w] = kept.chgInput[w];
            g_chg_dbd[w] = kept.chgDbd[w];
            dbd_refused[w] = kept.refused[w];
            ich_short[w] = kept.shortOf[w];
            continue;
        }
        // Moved: set up again without a fade.
        if (g_chg_input[w] == 1)
            g_chg_input[w] = 2;
        alloc_failed[w] = failed[w];
    }
}

c331_manage::AllocState c331_manage::allocState() const
{
    AllocState s;
    std::memcpy(s.ichOwner, ich_owner, sizeof(s.ichOwner));
    std::memcpy(s.winIch, win_ich, sizeof(s.winIch));
    std::memcpy(s.memOwner, dbd_mem_owner, sizeof(s.memOwner));
    std::memcpy(s.memSlot, dbd_mem_slot, sizeof(s.memSlot));
    std::memcpy(s.chgWin, g_chg_win, sizeof(s.chgWin));
    std::memcpy(s.chgInput, g_chg_input, sizeof(s.chgInput));
    std::memcpy(s.chgDbd, g_chg_dbd, sizeof(s.chgDbd));
    std::memcpy(s.refused, dbd_refused, sizeof(s.refused));
    std::memcpy(s.shortOf, ich_short, sizeof(s.shortOf));
    return s;
}

void c331_manage::restoreAllocState(const AllocState& s)
{
    std::memcpy(ich_owner, s.ichOwner, sizeof(s.ichOwner));
    std::memcpy(win_ich, s.winIch, sizeof(s.winIch));
    std::memcpy(dbd_mem_owner, s.memOwner, sizeof(s.memOwner));
    std::memcpy(dbd_mem_slot, s.memSlot, sizeof(s.memSlot));
    std::memcpy(g_chg_win, s.chgWin, sizeof(s.chgWin));
    std::memcpy(g_chg_input, s.chgInput, sizeof(s.chgInput));
    std::memcpy(g_chg_dbd, s.chgDbd, sizeof(s.chgDbd));
    std::memcpy(dbd_refused, s.refused, sizeof(s.refused));
    std::memcpy(ich_short, s.shortOf, sizeof(s.shortOf));
}

void c331_manage::allocateIch(bool alloc_failed[kWinCount])
{
    // Input channels go to the windows they stretch to, whatever the order of the changes that
    // led here: a window they no longer stretch to gives its channels up and shows nothing; one
    // they stretch to again is set up once more.
    bool admitted[kWinCount];
    admitIch(admitted);
    for (int w = 0; w < kWinCount; ++w) {
        const bool shortOf = winShowsPicture(w) && !admitted[w];
        if (ich_short[w] && !shortOf && win_ich[w][0] < 0) {
            g_chg_win[w] = 1;
            // A dot-by-dot window asks for its channels only with its mode's request set.
            if (PM_WIN_DBD_MODE[w] > 1)
                g_chg_dbd[w] = 1;
        }
        ich_short[w] = shortOf;
        if (shortOf && win_ich[w][0] >= 0)
            alloc_failed[w] = true;
        // A window that shows nothing (off the panel, not admitted, refused) holds no input
        // channel and no dot-by-dot memory: both are free for the windows set up below.
        if (!admitted[w])
            releaseInputs(w);
    }
    // Which interlaced windows weave follows from the windows as they are, not from the order
    // of past changes: one left unwoven while a weaving channel is free, or held by a window
    // after it or by one that needs no weaving, is set up again and takes it.
    for (int w = 0; w < kWinCount; ++w) {
        const int plainFrom = weaveWithheld(w) ? kWinCount : weaveHeldFrom(w);
        const int from = plainFrom >= 0 ? plainFrom : dbdWeaveHeldFrom(w);
        if (from < 0)
            continue;
        // A weaving channel held where a start would not have it, by a window that cannot be
        // moved off it (a V-by-One pair), is freed as a start leaves it: every window from the
        // first such one gives its channels back and asks for them again, in window order.
        for (int o = from; o < kWinCount; ++o) {
            if (o == w || win_ich[o][0] < 0)
                continue;
            askIchAgain(o);
        }
        // A dot-by-dot window after it that weaves there gives its channels back and asks for
        // them again after this window, as a start hands them out.
        for (int c = 0; c < kIpChannels; ++c) {
            const int o = weavingAfter(c, w);
            if (o < 0 || PM_WIN_DBD_MODE[o] <= 1)
                continue;
            askIchAgain(o);
        }
        // Asked again in a later round should a dot-by-dot window take its channel first and
        // then be refused.
        askIchAgain(w);
    }
    for (int w = 0; w < kWinCount; ++w) {
        const bool need = g_chg_input[w] == 1 || g_chg_input[w] == 3 || g_chg_dbd[w] || (g_chg_win[w] && win_ich[w][0] < 0);
        if (need && set_input(w, win_port[w]) == 2) {
            g_chg_input[w] = g_chg_dbd[w] = 0;
            alloc_failed[w] = zelApi_IsWinShown(w);
            // What was taken before the allocation failed would carry nothing the window shows.
            releaseInputs(w);
        }
    }
}

_ImageWindowDef_st c331_manage::storedArea(const _ImageWindowDef_st& in, const _ImageWindowDef_st& owin, uint32_t hr,
                                           uint32_t vr)
{
    // The stored part is never larger than the window: the output side reads it one to one or
    // zooms it, in stored pixels and lines.
    auto axis = [](int st, int len, int out, uint32_t r, int* ost, int* olen) {
        if (!r)
            return;
        *ost = static_cast<int>(geometry::shrunkCount(static_cast<uint32_t>(std::max(st, 0)), r));
        const int end = static_cast<int>(geometry::shrunkCount(static_cast<uint32_t>(std::max(st + len, 0)), r));
        *olen = std::max(std::min(end - *ost, out), 1);
    };
    _ImageWindowDef_st s = in;
    axis(in.HST, in.HW, owin.HW, hr, &s.HST, &s.HW);
    axis(in.VST, in.VW, owin.VW, vr, &s.VST, &s.VW);
    return s;
}

bool c331_manage::storesPicture(int w)
{
    int master = w, partner = -1;
    check_stitching_win(&master, &partner);
    return zelApi_IsWinValid(master) && isCh(win_ich[master][0]);
}

void c331_manage::switchOffOch(int w)
{
    for (int c = 0; c < kOch; ++c)
        if (och_owner[c] == w) {
            wr(kRegOchWidth, 0, chBank(c));
            // Its background goes with it, as for a channel no window uses (the green of the
            // start-up stays).
            if (g_force_bkcolor != 1)
                wr(kRegOchBkgEnable, 0, chBank(c));
            och_cleared[c] = true;
        }
}

// The input set-up writes a window's channel again: a window the user froze holds its picture
// once more, whatever made its set-up run (a new place, source or input timing). As when the
// freeze is asked for, a window none of whose ports has a signal is not held.
void c331_manage::holdFrozenWindows(int fd, const bool setUp[kWinCount])
{
    for (int w = 0; w < kWinCount; ++w) {
        if (!setUp[w] || !win_freeze_asked[w])
            continue;
        ST_WIN_INFO& wi = win_info[w];
        wi.output &= static_cast<uint8_t>(~kWinFrozen);
        if (winNoSignal(w) == 1)
            continue;
        wi.output |= kWinFrozen;
        win_freeze_sel(fd, w, kWinFrozen);
    }
}

void c331_manage::get_och(int w, int out[kOch]) const
{
    for (int k = 0; k < kOch; ++k)
        out[k] = -1;
    for (int c = 0; c < kOch; ++c)
        if (och_owner[c] == w && PM_AREA_NUM[c] >= 0 && PM_AREA_NUM[c] < kOch)
            out[PM_AREA_NUM[c]] = c;
}

void c331_manage::set_oscwct(int, int ch)
{
    if (!isCh(ch))
        return;
    int owner = och_owner[ch];
    if (owner < 0 || owner >= kWinCount)
        return;   // no window reads through this channel
    int partner = -1;
    check_stitching_win(&owner, &partner);
    const int mode = PM_MEM_WMODE[owner];
    wr(kRegReadMode + kNextAddr * static_cast<uint32_t>(ch), mode >= 1 && mode <= 3 ? kReadModeValue[mode] : 0);
}

void c331_manage::zelApi_forceColorDisable(int)
{
    g_force_bkcolor = 2;
    for (int c = 0; c < kOch; ++c)
        wr(kRegOchBkgColor, 0, chBank(c));
    for (int w = 0; w < kWinCount; ++w) {
        if (!zelApi_IsWinShown(w))
            continue;
        const ST_WIN_INFO& wi = win_info[w];
        const int port = wi.port == kNoInput ? 255 : zelApi_inputCvtC331(wi.port);
        // As the input background has it on every later change (a missing port counts as no
        // signal): a box started afresh shows what a running one shows. A channel switched off
        // (its window refused or showing nothing) keeps its background off.
        const uint32_t enable = static_cast<uint32_t>(windowBkgEnable(w, oimgct(port) ? 1 : 0));
        for (int k = 0; k < wi.columns * wi.rows && k < kOch; ++k)
            if (isCh(wi.ochLst[k]))
                wr(kRegOchBkgEnable, och_cleared[wi.ochLst[k]] ? 0 : enable, chBank(wi.ochLst[k]));
    }
}
