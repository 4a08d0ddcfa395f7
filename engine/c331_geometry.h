// Window geometry of the video engine as pure functions: the input window cut out of a port's
// picture, the output window inside the window's channel grid, its pieces per grid column and
// row, the 16.16 scaling ratios and their derived read positions and phases, and the stitching
// roles of windows.
#pragma once

#include <cstdint>

#include "engine/c331_manage.h"

namespace geometry {

constexpr uint32_t kUnity = 0x10000;
constexpr int kGridMax = 8;

// What the input window of a window depends on.
struct IwinSource {
    int columns = 0, rows = 0;
    int hact = 0, vact = 0;      // the port's active size as measured (PI_ACT)
    bool wide = false;           // the port carries two pixels per clock: the width is doubled
    bool scan = false;           // the port carries fields: the height is doubled
    int mainIch = -1;
    bool crop = false;
    int left = 0, right = 0, up = 0, down = 0;   // crop margins
    int dbdMode = 0;
    int ownPort = -1;
    int dbdW[c331_manage::kPorts] = {}, dbdH[c331_manage::kPorts] = {};   // per chip port
};

_ImageWindowDef_st calcIwin(const IwinSource& s);

// Output window relative to the grid's top-left corner; may clip iwin for dot-by-dot windows.
_ImageWindowDef_st calcOwin(int W, int H, int columns, int rows, const int margins[4], int dbdMode, bool fit,
                            _ImageWindowDef_st* iwin);

// Pieces of owin per column (horizontal fields of pieces[i]) and per row (vertical fields).
void calcOact(const _ImageWindowDef_st& owin, int W, int H, int columns, int rows,
              _ImageWindowDef2_St pieces[kGridMax]);

_ScalingSt calcScaling(const _ImageWindowDef_st& iwin, const _ImageWindowDef_st& owin);

// ((out - 1) * 65536) / (in - 1) + 1 in 64 bits; 0 when either size is not above 1.
uint32_t ratio(int numeratorSize, int denominatorSize);

// Input pixel a zoomed column starts reading at: its first output pixel `outPos` times the
// zoom ratio, rounded up once the fraction reaches one ratio step.
uint32_t zoomMemPos(uint32_t outPos, uint32_t zoom);

// Initial phase of a shrinking input channel for an input start `start`: 256 - (start * ratio /
// 256 mod 256), 0 when that is 256 or the start is not positive.
uint32_t shrinkPhase(int start, uint32_t ratio);

// Bytes of n pixels of a stored line in memory write mode 0-3.
uint32_t lineBytes(uint32_t n, int memMode);
// Bytes in front of pixel n of a stored line: where a read of it starts (the start of its group
// of three in mode 2).
uint32_t pixelOffset(uint32_t n, int memMode);

// The memory write mode (0, 1 or 3) with the most bytes a pixel whose line of `pixels` fits in
// `bytes`; kNoMode when none does.
constexpr int kNoMode = -1;
constexpr int kDensestMode = 3;   // the write mode with the fewest bytes a pixel
int memModeFor(uint32_t pixels, uint32_t bytes);

// The most pixels whose line fits in `bytes` in memory write mode `mode`.
uint32_t widestLine(uint32_t bytes, int mode);

// Samples n input samples become under a 16.16 shrink ratio r (the last one's position, plus
// one); n for no shrink (0 or unity).
uint32_t shrunkCount(uint32_t n, uint32_t r);

// First stored sample a window reads along one axis: its input start `start`, shrunk (rounded up)
// under a shrink (mode 1), pulled back where the `out` samples it shows, read through a zoom (mode
// 2), would end past the `stored` ones (0: not known).
int64_t readFrom(int start, int mode, uint32_t shrink, uint32_t zoom, int out, uint32_t stored);

// The pieces of one row (or one column) of a zoomed grid: piece k shows shown[k] output samples
// read through `zoom` from stored sample start[k]. A piece pulled back to end inside the stored
// picture pulls back the pieces before it in memory too, so that each still meets the next
// within a stored sample; pieces showing nothing are passed over. `mirrored`: the pieces show the
// line right to left.
void meetNeighbours(uint32_t start[], const int shown[], int n, uint32_t zoom, bool mirrored = false);

// The 16.16 shrink ratio n samples are stored with when at most `room` of them fit: `own` (0 for
// none) while it leaves few enough, else the ratio that brings them to `room`.
uint32_t fitRatio(uint32_t n, uint32_t own, uint32_t room);

// Stitching role of window w in the map (each window names its master, itself when not
// stitched): 1 master with a partner, 2 stitched to a master with a partner (w becomes the
// master), 0 otherwise; partner is the last window naming the master, or -1.
int stitchRole(const int map[kWinCount], int* w, int* partner);

}  // namespace geometry
