// Fixed tables of the video engine: register-update modes, the output timing list, the default
// working set, and the register set-up of the chip's bring-up.
#pragma once

#include <array>
#include <cstdint>

// ---- register-update control (bank 0, registers 0x22-0x28) ----------------------------------------
constexpr int kRtctRegs = 7;
constexpr int kRtctModes = 5;   // modes 0-3, then "any other mode"
constexpr uint8_t kRtctTable[kRtctModes][kRtctRegs] = {
    {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
    {0x99, 0x99, 0x21, 0x43, 0x55, 0x77, 0x99},
    {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
    {0xFF, 0xFF, 0x21, 0x43, 0x55, 0x77, 0xFF},
    {0x99, 0x99, 0xFF, 0xFF, 0xFF, 0xFF, 0x99},
};
constexpr int rtctRow(int mode) { return (mode >= 0 && mode <= 3) ? mode : 4; }

// ---- output timing list -----------------------------------------------------------------------------
// {htt, vtt} pairs in search order: htt ascending in steps of 4 from 660 to 8280, for each htt a
// short run of descending vtt, every product within [kTimingMinProduct, kTimingMaxProduct].
struct OchTiming {
    uint32_t htt;
    uint32_t vtt;
};
constexpr int kTimingListSize = 5199;
constexpr uint32_t kTimingMinProduct = 5094049;
constexpr uint32_t kTimingMaxProduct = 9971200;
extern const std::array<OchTiming, kTimingListSize> kOchTimingList;

// ---- default working set (parameters_txt) -------------------------------------------------------------
constexpr int kParamWords = 160;
// Groups of the working set: first word of each, six words (one per window) unless noted.
enum ParamGroup : int {
    kPrmWinEnable = 0,     // window on
    kPrmWinPriority = 6,   // layer priority
    kPrmWinPort = 12,      // chip input port of each window
    kPrmWinDbdMode = 18,   // dot-by-dot mode
    kPrmWinRect = 24,      // x, y, width, height per window (24 words)
    kPrmWinMargin = 48,    // crop margins left, right, top, bottom per window (24 words)
    kPrmStitch = 72,       // stitching partner of each window, -1 none
    kPrmWinOutput = 78,    // output flags (black, freeze, fade, dot-by-dot)
    kPrmWinAttr = 84,      // mirror bits
    kPrmFade = 120,        // fade-in, fade-out per window (12 words)
};
constexpr int kWinCount = 6;

// ---- chip bring-up register table -------------------------------------------------------------------
struct RegWrite {
    uint32_t id;
    uint32_t value;
};

// Bank-0 globals written first by the bring-up (fixed values).
extern const RegWrite kInitGlobals[];
extern const int kInitGlobalsCount;
// Fixed coefficients of every output channel's block (bank offset 16 per channel).
extern const RegWrite kInitOchFixed[];
extern const int kInitOchFixedCount;
// Receiver block of bank 0x01 written inside the clock set-up.
extern const RegWrite kInitRxBlock[];
extern const int kInitRxBlockCount;
// Memory-interface block by V-by-One transmitter mode: [0] mode 1, [1] mode 2, [2] other.
constexpr int kMemIfRegs = 4;
extern const RegWrite kInitMemIf[3][kMemIfRegs];
// The panel's memory-interface and receiver block per bandwidth case.
constexpr int kOchBwRegs = 4;
extern const RegWrite kOchBw2k2k30[kOchBwRegs];
extern const RegWrite kOchBw2k4k30[kOchBwRegs];
