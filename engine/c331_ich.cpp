// Input channels of the windows: a window on a parallel port needs one channel, one on a
// V-by-One port a pair, a dot-by-dot window one per port it spans. Channels are handed out
// filling half-used pairs first; when none is free another window's channel is moved.
#include <algorithm>
#include <cstdio>

#include "core/global.h"
#include "engine/c331_manage.h"
#include "engine/c331_multiwin.h"

namespace {

constexpr int kNone = -1;
constexpr int kDbdVboFirst = 50;   // the V-by-One dot-by-dot modes, 50 and 51: two pairs

// Channels a window needs for its dot-by-dot mode and port.
int channelsFor(int mode, int port)
{
    if (mode <= 1) {
        if (port >= 0 && port < c331_manage::kFirstVboPort)
            return 1;
        return c331_manage::isVboPort(port) ? 2 : 0;
    }
    if (mode <= 29)
        return 2;
    if (mode <= 39)
        return 3;
    if (mode <= 51)
        return 4;
    return 0;
}

}  // namespace

bool c331_manage::ichFree(int c) const { return c >= 0 && c < kIch && ich_owner[c] < 0; }

int c331_manage::firstFreeIch(std::initializer_list<int> order) const
{
    for (int c : order)
        if (ichFree(c))
            return c;
    return kNone;
}

bool c331_manage::winAvailable(int w) const
{
    if (!zelApi_IsWinShown(w))
        return false;
    return PM_WIN_DBD_MODE[w] > 1 || (win_port[w] >= 0 && win_port[w] < kPorts);
}

bool c331_manage::portInterlaced(int w) const
{
    const int p = (w >= 0 && w < kWinCount) ? win_port[w] : kNoPort;
    return p >= 0 && p < kPorts && PI_SCAN_MODE[p] != 0;
}

void c331_manage::moveIch(int from, int to)
{
    const int owner = ich_owner[from];
    ich_owner[to] = owner;
    ich_owner[from] = kNone;
    if (owner >= 0 && owner < kWinCount)
        g_chg_input[owner] = 2;   // its channel moved: set it up again
}

const ST_WIN_INFO& c331_manage::allocatedPlace(int w) const
{
    return och_alloc_kept ? alloc_grid[w] : win_info[w];
}

bool c331_manage::winShowsPicture(int w) const
{
    if (!winAvailable(w))
        return false;
    // Its place among the output channels as allocated: a window the output channels did not
    // stretch to still competes for them.
    const ST_WIN_INFO& wi = win_info[w];
    const ST_WIN_INFO& g = allocatedPlace(w);
    return g.columns != 0 && g.rows != 0 && wi.width != 0 && wi.height != 0;
}

bool c331_manage::ochFit(const bool use[kWinCount]) const
{
    ST_WIN_INFO trial[kWinCount];
    for (int v = 0; v < kWinCount; ++v)
        trial[v] = allocatedPlace(v);
    int groups[kOch];
    return multiwin::overlay(trial, use, groups) == 0;
}

int c331_manage::admitIch(bool admitted[kWinCount]) const
{
    // Window by window, each window that shows a picture gets its channels while they last; one
    // they do not stretch to is left out and the later ones still get theirs when they fit. So
    // which windows are carried follows from the windows as they are, never from the order of
    // earlier changes.
    // A window is carried when both its input channels and the output channels of its place
    // stretch to it beside the windows carried before it: one refused for either kind holds
    // none of the other.
    int count = 0;
    bool use[kWinCount] = {};
    for (int v = 0; v < kWinCount; ++v) {
        admitted[v] = false;
        // A dot-by-dot picture that could not be stored holds no channels.
        if (!winShowsPicture(v) || dbd_refused[v])
            continue;
        const int n = channelsFor(PM_WIN_DBD_MODE[v], win_port[v]);
        if (count + n > kIch)
            continue;
        use[v] = true;
        if (!ochFit(use)) {
            use[v] = false;
            continue;
        }
        admitted[v] = true;
        count += n;
    }
    return count;
}

int c331_manage::weavingChannels(int w) const
{
    if (!zelApi_IsWinValid(w))
        return 0;
    int ports[kPorts];
    if (!zelApi_GetWinDbdMultiPort(w, ports))
        return portInterlaced(w) ? 1 : 0;
    // The parts ride the window's channels in ascending order.
    int need = 0;
    for (int i = 0; i < kPorts; ++i)
        if (ports[i] >= 0 && ports[i] < kFirstVboPort && PI_SCAN_MODE[ports[i]] != 0)
            need = i + 1;
    return need;
}

bool c331_manage::ichMovable(int c, int w) const
{
    const int o = ichFree(c) ? kNone : ich_owner[c];
    if (o < 0 || o >= kWinCount || o == w)
        return false;
    // Half of a V-by-One pair stays with its other half.
    int ports[kPorts];
    if (zelApi_GetWinDbdMultiPort(o, ports) ? isVboPort(ports[0]) : isVboPort(win_port[o]))
        return false;
    int weaving = 0;
    for (int k = 0; k < kIpChannels; ++k)
        weaving += ich_owner[k] == o ? 1 : 0;
    return weaving - 1 >= weavingChannels(o);
}

bool c331_manage::weavesAfter(int c, int w) const
{
    const int o = ichFree(c) ? kNone : ich_owner[c];
    if (o <= w || o >= kWinCount || PM_WIN_DBD_MODE[o] > 1)
        return false;
    return win_port[o] >= 0 && win_port[o] < kFirstVboPort && portInterlaced(o);
}

int c331_manage::weavingAfter(int c, int w) const
{
    const int o = ichFree(c) ? kNone : ich_owner[c];
    if (o <= w || o >= kWinCount)
        return kNone;
    return weavesAfter(c, w) || (PM_WIN_DBD_MODE[o] > 1 && weavingChannels(o) > 0) ? o : kNone;
}

bool c331_manage::weaveWithheld(int w) const
{
    if (!zelApi_IsWinValid(w) || PM_WIN_DBD_MODE[w] > 1 || win_port[w] < 0 || win_port[w] >= kFirstVboPort ||
        !portInterlaced(w))
        return false;
    const int own = win_ich[w][0];
    if (own < kIpChannels)
        return false;
    for (int c = 0; c < kIpChannels; ++c)
        if (ichFree(c) || weavingAfter(c, w) >= 0 || ichMovable(c, w))
            return true;
    return false;
}

int c331_manage::weaveHeldFrom(int w) const
{
    if (!zelApi_IsWinValid(w) || PM_WIN_DBD_MODE[w] > 1 || win_port[w] < 0 || win_port[w] >= kFirstVboPort ||
        !portInterlaced(w) || win_ich[w][0] < kIpChannels)
        return kNone;
    int from = kNone;
    for (int c = 0; c < kIpChannels; ++c) {
        const int o = ichFree(c) ? kNone : ich_owner[c];
        if (o < 0 || o >= kWinCount || o == w)
            continue;
        int start = kNone;
        if (o > w)
            start = w + 1;
        else if ((PM_WIN_DBD_MODE[o] <= 1 && isVboPort(win_port[o])) || PM_WIN_DBD_MODE[o] >= kDbdVboFirst)
            start = pairFreedFrom(o);
        if (start >= 0 && (from < 0 || start < from))
            from = start;
    }
    return from;
}

int c331_manage::pairFreedFrom(int o) const
{
    // A single progressive window before o sits on channels 4-7 from the order of past changes
    // when a start would give it one of 0-3 (the windows before it hold fewer than four of them).
    auto startsLow = [&](int a) {
        if (PM_WIN_DBD_MODE[a] > 1 || win_port[a] < 0 || isVboPort(win_port[a]) || portInterlaced(a))
            return false;
        int low = 0;
        for (int c = 0; c < kIpChannels; ++c)
            low += ich_owner[c] >= 0 && ich_owner[c] < a ? 1 : 0;
        return low < kIpChannels;
    };
    int best = kNone;
    for (int p : {4, 6}) {
        int from = o;
        for (int c : {p, p + 1}) {
            const int a = ich_owner[c];
            if (a >= 0 && a < o)
                from = from >= 0 && startsLow(a) ? std::min(from, a) : kNone;
        }
        if (from >= 0 && (best < 0 || from < best))
            best = from;
    }
    return best;
}

bool c331_manage::pairFreeBefore(int o) const
{
    for (int p : {4, 6}) {
        const int a = ich_owner[p], b = ich_owner[p + 1];
        if ((a < 0 || a >= o) && (b < 0 || b >= o))
            return true;
    }
    return false;
}

int c331_manage::dbdWeaveHeldFrom(int w) const
{
    const int need = zelApi_IsWinValid(w) && PM_WIN_DBD_MODE[w] > 1 && winShowsPicture(w) ? weavingChannels(w) : 0;
    if (need == 0)
        return kNone;
    bool woven = true;
    for (int k = 0; k < need; ++k)
        woven = woven && win_ich[w][k] >= 0 && win_ich[w][k] < kIpChannels;
    if (woven)
        return kNone;
    // The weaving channels it can have without moving a window before it: free ones, its own,
    // ones a window after it gives back, ones whose window can move off them.
    int avail = 0, held = 0, from = kNone;
    for (int c = 0; c < kIpChannels; ++c) {
        const int o = ichFree(c) ? kNone : ich_owner[c];
        if (o < 0 || o >= w || ichMovable(c, w)) {
            ++avail;
        } else if (PM_WIN_DBD_MODE[o] <= 1 && isVboPort(win_port[o]) && pairFreeBefore(o)) {
            ++held;
            from = from < 0 ? o : std::min(from, o);
        }
    }
    return avail < need && avail + held >= need ? from : kNone;
}

int c331_manage::check_ich_all(int w)
{
    bool admitted[kWinCount];
    const int count = admitIch(admitted);
    if (!zelApi_IsWinValid(w) || !admitted[w]) {
        printf("check_ich_all ret=%d\n", -1);
        return -1;
    }
    for (int c = 0; c < kIch; ++c) {
        const int o = ich_owner[c];
        if (o >= 0 && (o >= kWinCount || o == w || !admitted[o]))
            ich_owner[c] = kNone;
    }
    listOwned(ich_owner, win_ich);
    printf("check_ich_all ret=%d\n", count);
    return count;
}

int c331_manage::check_ich(int interlaced, int pair)
{
    if (pair) {
        static constexpr int kPairs[4] = {4, 6, 2, 0};
        for (int c : kPairs)
            if (ichFree(c) && ichFree(c + 1))
                return c;
        return kNone;
    }
    if (ichFree(0))
        return (!ichFree(2) && ichFree(3)) ? 3 : 0;
    if (interlaced)
        return firstFreeIch({1, 2, 3});   // 4-7 never carry an interlaced input
    if (ichFree(2))
        return ichFree(1) ? 1 : 2;
    if (ichFree(1))
        return 1;
    if (ichFree(3))
        return 3;
    const bool f4 = ichFree(4), f6 = ichFree(6);
    if (f4 && f6)
        return 4;
    if (f4)
        return ichFree(7) ? 7 : 4;
    if (!f6)
        return firstFreeIch({5, 7});
    return ichFree(5) ? 5 : 6;
}

int c331_manage::adjust_ich(int interlaced, int pair, int w)
{
    auto fail = [] {
        printf("adjust_ich NG!!!\n");
        return kNone;
    };
    if (!pair && !interlaced) {
        const int c = firstFreeIch({0, 1, 2, 3, 4, 5, 6, 7});
        if (c < 0)
            return fail();
        ich_owner[c] = w;
        return 0;
    }
    if (!pair) {
        int c = firstFreeIch({0, 1, 2, 3});
        if (c >= 0) {
            ich_owner[c] = w;
            return 0;
        }
        for (c = 0; c < 4; ++c) {
            // Only a channel whose window keeps its pairs whole and the weaving channels it
            // needs is moved, never one of w itself.
            if (!ichMovable(c, w))
                continue;
            const int to = firstFreeIch({4, 5, 6, 7});
            if (to < 0)
                return fail();
            moveIch(c, to);
            ich_owner[c] = w;
            return 0;
        }
        // The weaving channels go to the interlaced windows in window order, as a start sets
        // them up: one held by a later window's interlaced input is this window's, and that
        // window carries its fields unwoven on a channel after them.
        for (c = 0; c < kIpChannels; ++c) {
            if (!weavesAfter(c, w))
                continue;
            const int to = firstFreeIch({4, 5, 6, 7});
            if (to < 0)
                break;
            moveIch(c, to);
            ich_owner[c] = w;
            return 0;
        }
        printf("ICH1-4 is not available!!!\n");
        c = firstFreeIch({4, 5, 6, 7});
        if (c < 0)
            return fail();
        ich_owner[c] = w;
        return 0;
    }
    // A pair: free the partner of a half-free pair by moving its single channel away.
    struct PairCase {
        int freeCh, busyCh, first;
        int targets[6];
        int count;
    };
    static constexpr PairCase kCases[] = {
        {4, 5, 4, {6, 7, 0, 1, 2, 3}, 6}, {5, 4, 4, {6, 7, 0, 1, 2, 3}, 6},
        {6, 7, 6, {0, 1, 2, 3}, 4},       {7, 6, 6, {0, 1, 2, 3}, 4},
        {0, 1, 0, {2, 3}, 2},             {1, 0, 0, {2, 3}, 2},
    };
    for (const PairCase& pc : kCases) {
        if (!ichFree(pc.freeCh))
            continue;
        int to = kNone;
        for (int i = 0; i < pc.count && to < 0; ++i)
            if (ichFree(pc.targets[i]))
                to = pc.targets[i];
        if (to < 0)
            return fail();
        moveIch(pc.busyCh, to);
        ich_owner[pc.first] = ich_owner[pc.first + 1] = w;
        return 0;
    }
    return fail();
}

void c331_manage::reset_ich(int w)
{
    if (!zelApi_IsWinValid(w) || winAvailable(w))
        return;
    releaseIch(w);
}

void c331_manage::releaseIch(int w)
{
    if (!zelApi_IsWinValid(w))
        return;
    for (int c = 0; c < kIch; ++c)
        if (ich_owner[c] == w)
            ich_owner[c] = kNone;
    for (int& c : win_ich[w])
        c = kNone;
}

void c331_manage::releaseInputs(int w)
{
    releaseIch(w);
    reset_dbd_mem(w);
}

void c331_manage::askIchAgain(int w)
{
    releaseIch(w);
    if (!g_chg_input[w])
        g_chg_input[w] = 3;
    g_chg_win[w] = 1;
    if (PM_WIN_DBD_MODE[w] > 1)
        g_chg_dbd[w] = 1;
}

int c331_manage::set_input(int w, int port)
{
    if (!zelApi_IsWinValid(w))
        return 2;
    const int mode = PM_WIN_DBD_MODE[w];
    if (mode > 1 && !g_chg_dbd[w] && !g_chg_input[w])
        return 0;
    if (!winAvailable(w)) {
        ZEL_DEBUG("[set_input] win_%d, port_%d, window is unavailable\n", w, port);
        return 2;
    }
    if (check_ich_all(w) < 0) {
        ZEL_DEBUG("[set_input] win_%d, check_ich_all(win) fail\n", w);
        return 2;
    }
    int moved = 0;
    auto take = [&](int interlaced, int pair) {
        const int c = check_ich(interlaced, pair);
        if (c >= 0) {
            ich_owner[c] = w;
            if (pair)
                ich_owner[c + 1] = w;
            return true;
        }
        if (adjust_ich(interlaced, pair, w) != 0)
            return false;
        moved = 1;
        return true;
    };
    bool ok;
    if (mode <= 1) {
        if (port >= 0 && port < kFirstVboPort)
            ok = take(PI_SCAN_MODE[port] != 0, 0);
        else if (isVboPort(port))
            ok = take(PI_SCAN_MODE[port] != 0, 1);
        else
            return 2;
    } else {
        // The parts of the mode go to the window's channels in ascending order, and only channels
        // 0-3 weave fields: a window with an interlaced part takes its first channels, up to that
        // part's, as an interlaced input takes one, so that they lie among those four whatever
        // the other windows took before it.
        const int n = channelsFor(mode, port), weaving = weavingChannels(w);
        int ports[kPorts];
        zelApi_GetWinDbdMultiPort(w, ports);
        ok = n > 0;
        // The V-by-One modes carry each receiver on a pair, as a window on one receiver has it.
        const bool pairs = isVboPort(ports[0]);
        // The weaving channels go to the windows in window order, as a start hands them out:
        // windows after this one that weave on those it lacks give their channels back and ask
        // for them again after it.
        int avail = 0;
        for (int c = 0; c < kIpChannels; ++c)
            avail += ichFree(c) || ichMovable(c, w) ? 1 : 0;
        // So does a window after it whose channel there cannot be moved (a V-by-One pair).
        for (int c = 0; c < kIpChannels && avail < weaving; ++c) {
            int o = weavingAfter(c, w);
            if (o < 0 && !ichFree(c) && ich_owner[c] > w && ich_owner[c] < kWinCount && !ichMovable(c, w))
                o = ich_owner[c];
            if (o < 0)
                continue;
            for (int k = 0; k < kIpChannels; ++k)
                avail += ich_owner[k] == o ? 1 : 0;
            askIchAgain(o);
        }
        for (int i = 0; i < n && ok; i += pairs ? 2 : 1)
            ok = take(i < weaving ? 1 : 0, pairs ? 1 : 0);
    }
    listOwned(ich_owner, win_ich);
    if (!ok) {
        printf("set_input Dot-By-Dot Rare Case!!!   win=%d  port=%d\n", w, port);
        return 2;
    }
    return moved;
}
