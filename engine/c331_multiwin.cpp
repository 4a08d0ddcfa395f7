// Multi-window output-channel allocation: which output channels carry each window, which
// windows share a panel rectangle and are mixed, and the engine state derived from that.
#include "engine/c331_multiwin.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/global.h"
#include "core/ram_layout.h"
#include "engine/c331_image.h"

namespace multiwin {

namespace {

// Channel rectangles in their compact form, four bytes (x, y, width, height) each: 0x8n is
// n x W, 0x6n is n x H, 0 is 0.
constexpr uint8_t kW1 = 0x81, kW2 = 0x82, kW3 = 0x83, kW4 = 0x84, kW5 = 0x85, kW6 = 0x86, kW7 = 0x87;
constexpr uint8_t kH1 = 0x61, kH2 = 0x62, kH3 = 0x63;

struct RectGroup {
    uint8_t columns;
    uint8_t count;
    uint8_t r[kMaxCh][4];
};

constexpr RectGroup kFourCh[3] = {
    {4, 4, {{0, 0, kW1, kH1}, {kW1, 0, kW1, kH1}, {kW2, 0, kW1, kH1}, {kW3, 0, kW1, kH1}}},   // 1x4
    {1, 4, {{0, 0, kW1, kH1}, {0, kH1, kW1, kH1}, {0, kH2, kW1, kH1}, {0, kH3, kW1, kH1}}},   // 4x1
    {2, 4, {{0, 0, kW1, kH1}, {kW1, 0, kW1, kH1}, {0, kH1, kW1, kH1}, {kW1, kH1, kW1, kH1}}}, // 2x2
};
constexpr RectGroup kEightCh[2] = {
    {8, 8, {{0, 0, kW1, kH1}, {kW1, 0, kW1, kH1}, {kW2, 0, kW1, kH1}, {kW3, 0, kW1, kH1},
            {kW4, 0, kW1, kH1}, {kW5, 0, kW1, kH1}, {kW6, 0, kW1, kH1}, {kW7, 0, kW1, kH1}}},   // 8x1
    {4, 8, {{0, 0, kW1, kH1}, {kW1, 0, kW1, kH1}, {kW2, 0, kW1, kH1}, {kW3, 0, kW1, kH1},
            {0, kH1, kW1, kH1}, {kW1, kH1, kW1, kH1}, {kW2, kH1, kW1, kH1}, {kW3, kH1, kW1, kH1}}}, // 4x2
};
constexpr RectGroup kTwoCh[2] = {
    {2, 2, {{0, 0, kW1, kH1}, {kW1, 0, kW1, kH1}}},   // 2x1
    {1, 2, {{0, 0, kW1, kH1}, {0, kH1, kW1, kH1}}},   // 1x2
};

// Arrangement modes with a layout of their own.
constexpr int kModeTwo2x1 = 5, kModeFour1x4 = 6, kModeFour2x2 = 7, kModeTwo1x2 = 8;
constexpr int kLastMode = 18;

const RectGroup* groupOf(int mode)
{
    if (mode < 0 || mode > kLastMode)
        return nullptr;
    if (mode <= 1)
        return &kEightCh[mode];
    if (mode <= 4)
        return &kFourCh[mode - 2];
    switch (mode) {
    case kModeTwo2x1: return &kTwoCh[0];
    case kModeFour1x4: return &kFourCh[0];
    case kModeFour2x2: return &kFourCh[2];
    case kModeTwo1x2: return &kTwoCh[1];
    default: break;
    }
    if (mode <= 11)
        return &kFourCh[mode - 9];
    if (mode <= 15)   // through the four-channel groups, then on into the eight-channel table
        return mode - 12 < 3 ? &kFourCh[mode - 12] : &kEightCh[0];
    return &kFourCh[mode - 16];
}

int decode(uint8_t b, int W, int H)
{
    if (b & 0x80)
        return (b & 0x0F) * W;
    if (b & 0x60)
        return (b & 0x0F) * H;
    return 0;
}

bool holds(const PanelLayout& l, const ChRect& r, int x, int y, bool inclusiveEnd)
{
    const int xe = inclusiveEnd ? r.x + r.w : r.x + r.w - 1;
    const int ye = inclusiveEnd ? r.y + r.h : r.y + r.h - 1;
    const bool inX = x >= r.x && x <= xe;
    const bool inY = y >= r.y && y <= ye;
    if (l.onlyX)
        return inX;
    if (l.onlyY)
        return inY;
    return inX && inY;
}

int find(const PanelLayout& l, int x, int y, bool inclusiveEnd)
{
    for (int i = 0; i < l.count; ++i)
        if (l.rect[i].w > 0 && l.rect[i].h > 0 && holds(l, l.rect[i], x, y, inclusiveEnd))
            return i;
    return -1;
}

}  // namespace

bool panelLayout(int arrangement, int W, int H, int channels, PanelLayout* out)
{
    *out = PanelLayout{};
    const RectGroup* g = groupOf(arrangement);
    if (!g)
        return false;
    out->count = std::clamp(channels, 0, static_cast<int>(g->count));
    out->columns = g->columns;
    out->onlyX = arrangement == kModeTwo2x1;
    out->onlyY = arrangement == kModeTwo1x2;
    for (int i = 0; i < out->count; ++i)
        out->rect[i] = ChRect{decode(g->r[i][0], W, H), decode(g->r[i][1], W, H), decode(g->r[i][2], W, H),
                              decode(g->r[i][3], W, H)};
    return true;
}

GridResult windowGrid(const PanelLayout& l, int x, int y, int width, int height, Grid* out)
{
    *out = Grid{};
    const int s = find(l, x, y, false);
    if (s < 0)
        return GridResult::Empty;
    // A window running past the panel ends in the panel's last channel of its row or column.
    int maxX = 0, maxY = 0;
    for (int i = 0; i < l.count; ++i) {
        maxX = std::max(maxX, l.rect[i].x + l.rect[i].w);
        maxY = std::max(maxY, l.rect[i].y + l.rect[i].h);
    }
    const int e = find(l, std::min(x + std::max(width, 0), maxX), std::min(y + std::max(height, 0), maxY), true);
    if (e < 0)
        return GridResult::Empty;
    const int K = std::max(l.columns, 1);
    const int sc = s % K, sr = s / K, ec = e % K, er = e / K;
    if (e < s || ec < sc)
        return GridResult::Empty;
    const int totalh = ec - sc + 1;
    const int totalv = er - sr + 1;
    if (totalh > kMaxCh) {
        ZEL_DEBUG("totalh:%d > 8\n", totalh);
        return GridResult::TooWide;
    }
    if (totalv > kMaxCh) {
        ZEL_DEBUG("totalv:%d > 8\n", totalv);
        return GridResult::TooTall;
    }
    if (totalh * totalv > kMaxCh) {
        ZEL_DEBUG("totalh(%d)*totalv(%d)=%d > 8\n", totalh, totalv, totalh * totalv);
        return GridResult::TooMany;
    }
    out->columns = totalh;
    out->rows = totalv;
    for (int r = 0; r < totalv; ++r)
        for (int c = 0; c < totalh; ++c)
            out->pos[r * totalh + c] = (sr + r) * K + sc + c;
    return GridResult::Ok;
}

int allocate(const PanelLayout& layout, ST_WIN_INFO wins[kWinCount], const bool shown[kWinCount])
{
    for (int w = 0; w < kWinCount; ++w) {
        wins[w].columns = wins[w].rows = 0;
        std::memset(wins[w].ochLst, kUnused, sizeof(wins[w].ochLst));
        std::memset(wins[w].ochPosLst, kUnused, sizeof(wins[w].ochPosLst));
    }
    for (int w = 0; w < kWinCount; ++w) {
        if (!shown[w])
            continue;
        ST_WIN_INFO& wi = wins[w];
        Grid g;
        const GridResult r = windowGrid(layout, wi.x, wi.y, wi.width, wi.height, &g);
        if (r == GridResult::TooWide || r == GridResult::TooTall || r == GridResult::TooMany) {
            ZEL_DEBUG("win%d alloc och FAIL\n", w);
            return w;
        }
        wi.columns = static_cast<uint8_t>(g.columns);
        wi.rows = static_cast<uint8_t>(g.rows);
        for (int k = 0; k < g.columns * g.rows; ++k)
            wi.ochLst[k] = wi.ochPosLst[k] = static_cast<uint8_t>(g.pos[k]);
    }
    return -1;
}

namespace {

int entries(const ST_WIN_INFO& w) { return std::min(w.columns * w.rows, kMaxCh); }

}  // namespace

namespace {

// Moves every entry a later window shares with an earlier one onto the first idle channel, over
// the windows in `use`. False when some entry finds no idle channel.
bool moveShared(ST_WIN_INFO wins[kWinCount], const bool use[kWinCount])
{
    bool busy[kMaxCh] = {};
    int withGrid = 0;
    for (int w = 0; w < kWinCount; ++w) {
        if (!use[w] || entries(wins[w]) == 0)
            continue;
        ++withGrid;
        for (int k = 0; k < entries(wins[w]); ++k)
            if (wins[w].ochLst[k] < kMaxCh)
                busy[wins[w].ochLst[k]] = true;
    }
    if (withGrid < 2)
        return true;
    for (int i = 0; i < kWinCount; ++i) {
        if (!use[i])
            continue;
        for (int j = i + 1; j < kWinCount; ++j) {
            if (!use[j])
                continue;
            for (int a = 0; a < entries(wins[i]); ++a) {
                for (int b = 0; b < entries(wins[j]); ++b) {
                    if (wins[j].ochLst[b] != wins[i].ochLst[a])
                        continue;
                    const bool* idle = std::find(busy, busy + kMaxCh, false);
                    if (idle == busy + kMaxCh)
                        return false;
                    const int c = static_cast<int>(idle - busy);
                    busy[c] = true;
                    wins[j].ochLst[b] = static_cast<uint8_t>(c);
                }
            }
        }
    }
    return true;
}

void clearGrid(ST_WIN_INFO& w)
{
    w.columns = w.rows = 0;
    std::memset(w.ochLst, kUnused, sizeof(w.ochLst));
    std::memset(w.ochPosLst, kUnused, sizeof(w.ochPosLst));
}

}  // namespace

int overlay(ST_WIN_INFO wins[kWinCount], const bool shown[kWinCount], int overlayOut[kMaxCh])
{
    for (int c = 0; c < kMaxCh; ++c)
        overlayOut[c] = c + 1;
    // A window whose shared rectangles find no idle channel would be drawn by whichever window
    // was programmed last: it is refused instead and shows nothing. Windows are taken in window
    // order, each kept when the channels stretch to it with the ones kept before, so the outcome
    // follows from the windows alone.
    bool use[kWinCount] = {};
    int refusedCount = 0;
    for (int w = 0; w < kWinCount; ++w) {
        if (!shown[w] || entries(wins[w]) == 0)
            continue;
        use[w] = true;
        ST_WIN_INFO trial[kWinCount];
        std::memcpy(trial, wins, sizeof(trial));
        if (moveShared(trial, use))
            continue;
        ZEL_DEBUG("\t not found idle CH, !!!!!why!!!!!\r\n");
        ZEL_DEBUG("win%d alloc och FAIL\n", w);
        use[w] = false;
        clearGrid(wins[w]);
        ++refusedCount;
    }
    moveShared(wins, use);
    // Every channel on a panel position that two or more windows use is mixed in group p + 1.
    int users[kMaxCh] = {};
    for (int w = 0; w < kWinCount; ++w)
        if (use[w])
            for (int k = 0; k < entries(wins[w]); ++k)
                if (wins[w].ochPosLst[k] < kMaxCh)
                    ++users[wins[w].ochPosLst[k]];
    for (int w = 0; w < kWinCount; ++w) {
        if (!use[w])
            continue;
        for (int k = 0; k < entries(wins[w]); ++k) {
            const int p = wins[w].ochPosLst[k], c = wins[w].ochLst[k];
            if (p < kMaxCh && c < kMaxCh && users[p] >= 2)
                overlayOut[c] = p + 1;
        }
    }
    return refusedCount;
}

int gridMargin(const ST_WIN_INFO& info, int W, int H, int side)
{
    const int ox = W > 0 ? info.x - info.x % W : 0, oy = H > 0 ? info.y - info.y % H : 0;
    return gridMarginFrom(info, W, H, side, ox, oy);
}

int gridMarginFrom(const ST_WIN_INFO& info, int W, int H, int side, int originX, int originY)
{
    // From the grid's own corner: a window beyond the panel's one row (or column) lies beyond its
    // grid too, rather than wrapping back onto it.
    const int left = info.x - originX, up = info.y - originY;
    int v = 0;
    switch (side) {
    case 0:
        if (W <= 0) { ZEL_DEBUG("\t !!!!!!!! po->width left Error\n"); return 0; }
        v = left;
        break;
    case 1:
        if (W <= 0) { ZEL_DEBUG("\t !!!!!!!! po->width right Error\n"); return 0; }
        v = W * info.columns - (left + info.width);
        break;
    case 2:
        if (H <= 0) { ZEL_DEBUG("\t !!!!!!!! po->height up Error\n"); return 0; }
        v = up;
        break;
    case 3:
        if (H <= 0) { ZEL_DEBUG("\t !!!!!!!! po->height down Error\n"); return 0; }
        v = H * info.rows - (up + info.height);
        break;
    default:
        ZEL_DEBUG("\t not found type:%d\r\n", side);
        return 0;
    }
    return std::max(v, 0);
}

}  // namespace multiwin

// ---- the engine's side ---------------------------------------------------------------------------

namespace {

constexpr uint32_t kRegOchEnable = 0x000801;   // bit 0: the output channel is used
constexpr uint32_t kChRegStep = 0x100;

}  // namespace

void c331_manage::zelApi_MultiWinChAlloc(char init)
{
    ZEL_DEBUG("[zelApi_MultiWinChAlloc] init:%d\r\n", init);
    // A window of no size, or wholly beyond the panel's right or bottom edge, shows nothing and
    // takes no output channel: the channels' rectangles may reach past the panel (rounded up,
    // taller than the LED rows, or an output that carries none of the panel), and a window there
    // would be drawn on a channel that lies off the panel or wraps back onto it.
    bool shown[kWinCount];
    for (int w = 0; w < kWinCount; ++w) {
        const ST_WIN_INFO& wi = win_info[w];
        const bool onPanel = static_cast<uint32_t>(wi.x) < static_cast<uint32_t>(panel.xoffs) + panel.ledW &&
                             static_cast<uint32_t>(wi.y) < static_cast<uint32_t>(panel.yoffs) + panel.ledH;
        shown[w] = zelApi_IsWinShown(w) && wi.width != 0 && wi.height != 0 && onPanel;
    }
    multiwin::PanelLayout layout;
    if (!multiwin::panelLayout(static_cast<int>(panel.arrangement), panel.ochW, panel.ochH,
                               panel.ochColumns * panel.ochRows, &layout)) {
        ZEL_DEBUG("[zelApi_MultiWinChAlloc] arrangement %u has no channel layout\n", panel.arrangement);
        for (int w = 0; w < kWinCount; ++w)
            shown[w] = false;   // every grid is cleared
    }
    // A window running past the LED screen's right or bottom edge takes the channels up to that
    // edge: the channels of the grid beyond it show nothing of it.
    ST_WIN_INFO onScreen[kWinCount];
    std::memcpy(onScreen, win_info, sizeof(onScreen));
    const int right = panel.xoffs + panel.ledW, bottom = panel.yoffs + panel.ledH;
    for (ST_WIN_INFO& wi : onScreen) {
        if (wi.x < right && wi.x + wi.width > right)
            wi.width = static_cast<uint16_t>(right - wi.x);
        if (wi.y < bottom && wi.y + wi.height > bottom)
            wi.height = static_cast<uint16_t>(bottom - wi.y);
    }
    multiwin::allocate(layout, onScreen, shown);
    for (int w = 0; w < kWinCount; ++w) {
        ST_WIN_INFO& wi = win_info[w];
        wi.columns = onScreen[w].columns;
        wi.rows = onScreen[w].rows;
        std::memcpy(wi.ochLst, onScreen[w].ochLst, sizeof(wi.ochLst));
        std::memcpy(wi.ochPosLst, onScreen[w].ochPosLst, sizeof(wi.ochPosLst));
    }
    std::memcpy(alloc_grid, win_info, sizeof(alloc_grid));
    och_alloc_kept = true;
}

void c331_manage::admitOch()
{
    if (!och_alloc_kept)
        return;
    bool admitted[kWinCount];
    admitIch(admitted);
    ST_WIN_INFO placed[kWinCount];
    for (int w = 0; w < kWinCount; ++w)
        placed[w] = alloc_grid[w];
    int groups[kOch];
    multiwin::overlay(placed, admitted, groups);
    bool changed = std::memcmp(groups, PM_OVERLAY, sizeof(groups)) != 0;
    for (int w = 0; w < kWinCount; ++w) {
        ST_WIN_INFO& wi = win_info[w];
        const ST_WIN_INFO& p = placed[w];
        if (!admitted[w]) {   // the overlay leaves a window it is not given untouched
            placed[w].columns = placed[w].rows = 0;
            std::memset(placed[w].ochLst, multiwin::kUnused, sizeof(placed[w].ochLst));
            std::memset(placed[w].ochPosLst, multiwin::kUnused, sizeof(placed[w].ochPosLst));
        }
        if (wi.columns == p.columns && wi.rows == p.rows && std::memcmp(wi.ochLst, p.ochLst, sizeof(wi.ochLst)) == 0 &&
            std::memcmp(wi.ochPosLst, p.ochPosLst, sizeof(wi.ochPosLst)) == 0)
            continue;
        changed = true;
        wi.columns = p.columns;
        wi.rows = p.rows;
        std::memcpy(wi.ochLst, p.ochLst, sizeof(wi.ochLst));
        std::memcpy(wi.ochPosLst, p.ochPosLst, sizeof(wi.ochPosLst));
        if (!zelApi_IsWinShown(w))
            continue;
        for (int k = 0; k < 4; ++k)
            PM_WIN_MARGIN[w][k] = zelApi_OchGetWinOffset1(&wi, k);
        g_chg_win[w] = 1;
    }
    if (!changed)
        return;
    std::memcpy(PM_OVERLAY, groups, sizeof(groups));
    g_chg_overlay = 1;
    ochOwnersFromGrids();
}

void c331_manage::zelApi_MultiWinChOverlay()
{
    bool shown[kWinCount];
    for (int w = 0; w < kWinCount; ++w)
        shown[w] = zelApi_IsWinShown(w);
    multiwin::overlay(win_info, shown, PM_OVERLAY);
    g_chg_overlay = 1;
}

void c331_manage::zelApi_MultiWinChInit()
{
    ZEL_DEBUG("[zelApi_MultiWinChInit] wincnt:%d\n", wincnt);
    zelApi_MultiWinChOverlay();
    c331_SetWinPriority1(c331_fd);
    // Every port's timing is taken again from the input-source manager on the next pass.
    std::memset(PI_HDMI_INFO, 0xFF, sizeof(PI_HDMI_INFO));
    for (int p = 0; p < kPorts; ++p)
        PI_HDMI_INFO[p][15] = 1;

    const ImageView img = ImageView::current();
    for (int w = 0; w < kWinCount; ++w) {
        win_port[w] = kNoPort;
        g_chg_win[w] = g_chg_input[w] = g_chg_dbd[w] = 0;
        PM_CROP_EN[w] = 0;
        for (int k = 0; k < 4; ++k)
            PM_WIN_MARGIN[w][k] = PM_OFFSET[w][k] = 0;
        if (!zelApi_IsWinShown(w))
            continue;
        const ST_WIN_INFO& wi = win_info[w];
        g_chg_win[w] = g_chg_input[w] = g_chg_dbd[w] = 1;
        const int port = wi.port == kNoInput ? 255 : zelApi_inputCvtC331(wi.port);
        win_port[w] = port < kPorts ? port : kNoPort;
        for (int k = 0; k < 4; ++k)
            PM_WIN_MARGIN[w][k] = zelApi_OchGetWinOffset1(&wi, k);
        if (wi.crop < ramaddr::kCropEntries) {
            const unsigned e = ramaddr::cropEntry(wi.crop);
            ST_RECT r{img.word(e + 2), img.word(e + 4), img.word(e + 6), img.word(e + 8)};
            ZEL_DEBUG("\t win_%d, crop(%d,%d,%d,%d)\n", w, r.x, r.y, r.width, r.height);
            PM_CROP_EN[w] = 1;
            for (int k = 0; k < 4; ++k)
                PM_OFFSET[w][k] = win_port[w] == kNoPort ? 0 : zelApi_CropGetOffset(win_port[w], &r, k);
        }
    }

    ochOwnersFromGrids();
}

void c331_manage::ochOwnersFromGrids()
{
    for (int c = 0; c < kOch; ++c) {
        och_owner[c] = kNoWin;
        PM_AREA_NUM[c] = kNoArea;
    }
    for (int w = 0; w < kWinCount; ++w) {
        if (!zelApi_IsWinShown(w))
            continue;
        const ST_WIN_INFO& wi = win_info[w];
        for (int k = 0; k < wi.columns * wi.rows && k < kOch; ++k) {
            const int c = wi.ochLst[k];
            if (c >= kOch) {
                ZEL_DEBUG("\t !!!!och:%d OOR\r\n", c);
                alloc_error = 1;
                break;
            }
            och_owner[c] = w;
            PM_AREA_NUM[c] = k;
            ZEL_DEBUG("ochLst[%d]:%d PM_AREA_NUM[%d]:%d\n", k, c, c, k);
        }
    }
    for (int c = 0; c < kOch; ++c)
        wrMask(kRegOchEnable + kChRegStep * c, och_owner[c] != kNoWin ? 1 : 0, 1);
}

void c331_manage::zelApi_MultiWinInit()
{
    // Preset 1: one window over the whole panel. The others split the panel into equal columns
    // of their window count.
    const int pw = panel.ledW, ph = panel.ledH;
    std::memset(multi_win_rect, 0, sizeof(multi_win_rect));
    for (int i = 0; i < kMultiWinPresets; ++i) {
        const int n = std::clamp(multi_win[i].count, 0, static_cast<int>(kWinCount));
        for (int k = 0; k < n; ++k) {
            multi_win_rect[i][k][0] = pw * k / n;
            multi_win_rect[i][k][1] = 0;
            multi_win_rect[i][k][2] = pw * (k + 1) / n - pw * k / n;
            multi_win_rect[i][k][3] = ph;
        }
    }
}

void c331_manage::zelApi_MultiWinGet(ST_MWIN* out)
{
    if (!out || !out->rect)
        return;
    out->count = std::clamp(multi_win[0].count, 0, static_cast<int>(kWinCount));
    std::memcpy(out->rect, multi_win_rect[0], sizeof(int32_t) * 4 * out->count);
    zelApi_PreviewCh();
}

void c331_manage::zelApi_PreviewCh() {}

int c331_manage::zelApi_OchGetWinOffset1(const ST_WIN_INFO* info, int side) const
{
    if (!info)
        return 0;
    // The grid starts at the panel rectangle of its first channel.
    multiwin::PanelLayout layout;
    const int first = info->ochPosLst[0];
    if (info->columns > 0 && info->rows > 0 &&
        multiwin::panelLayout(static_cast<int>(panel.arrangement), panel.ochW, panel.ochH,
                              panel.ochColumns * panel.ochRows, &layout) &&
        first < layout.count)
        return multiwin::gridMarginFrom(*info, panel.ochW, panel.ochH, side, layout.rect[first].x,
                                        layout.rect[first].y);
    return multiwin::gridMargin(*info, panel.ochW, panel.ochH, side);
}
