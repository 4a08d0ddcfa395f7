// Output-channel allocation of the windows, as pure functions over plain records: the panel's
// channel rectangles by arrangement mode, each window's block of channels, and the moving of
// windows that share a panel rectangle onto idle channels with their mixer groups.
#pragma once

#include <cstdint>

#include "engine/c331_manage.h"

namespace multiwin {

constexpr int kMaxCh = 8;
constexpr uint8_t kUnused = 0xFF;

struct ChRect {
    int x, y, w, h;
};

// The panel's channel rectangles in list order (index = panel channel position) and the number
// of columns of the layout.
struct PanelLayout {
    int count = 0;
    int columns = 1;
    bool onlyX = false;   // the layout is one row: positions compare x only
    bool onlyY = false;   // one column: positions compare y only
    ChRect rect[kMaxCh]{};
};

// The rectangles of an arrangement mode for channels of W x H, cut to `channels` entries.
// False for a mode without a rectangle list (above 18).
bool panelLayout(int arrangement, int W, int H, int channels, PanelLayout* out);

// Channel grid of one window: positions row by row, left to right.
struct Grid {
    int columns = 0;
    int rows = 0;
    int pos[kMaxCh]{};
};

enum class GridResult { Ok, Empty, TooWide, TooTall, TooMany };

// The block of panel channels the rectangle (x, y, width, height) covers.
GridResult windowGrid(const PanelLayout& layout, int x, int y, int width, int height, Grid* out);

// Fills ochLst/ochPosLst, columns and rows of the shown windows (clears every record first).
// Stops at the first window needing more than 8 channels; returns that window or -1.
int allocate(const PanelLayout& layout, ST_WIN_INFO wins[kWinCount], const bool shown[kWinCount]);

// Moves every channel entry that a later window shares with an earlier one onto an idle
// channel, then puts the channels of every shared panel position into mixer group position+1.
// overlay[c] receives the group of channel c (c + 1 when alone). A window whose shared entries
// find no idle channel, with the windows before it kept, is refused: its grid is cleared. Returns
// the number of windows refused.
int overlay(ST_WIN_INFO wins[kWinCount], const bool shown[kWinCount], int overlayOut[kMaxCh]);

// Margin between a window and the edge of its channel grid (0 left, 1 right, 2 up, 3 down),
// never negative; 0 for a channel size of 0 or an unknown side.
int gridMargin(const ST_WIN_INFO& info, int W, int H, int side);
// The same for a grid whose top-left corner lies at originX, originY.
int gridMarginFrom(const ST_WIN_INFO& info, int W, int H, int side, int originX, int originY);

}  // namespace multiwin
