// The input processors of input channels 0-3 (de-interlacing, motion and diagonal filters, comb
// filter, noise reduction), the scaler's shrink filters and the input channels' memory and
// noise-reduction selection.
#include <algorithm>
#include <cstdint>

#include "engine/c331_manage.h"
#include "engine/c331_picture_calc.h"

namespace {

constexpr int kLevels = 4;            // 0 off, 1 low, 2 middle, 3 high
constexpr uint32_t kNextAddr = 0x100;

constexpr bool isLevel(int level) { return level >= 1 && level < kLevels; }
constexpr bool ipArgs(int ich, int port) { return ich >= 0 && ich < c331_manage::kIpChannels && port >= 0 && port < c331_manage::kPorts; }

// Writes values to consecutive one-byte registers from first.
template <size_t N>
void writeRun(c331_manage& e, uint32_t first, const uint8_t (&values)[N], uint32_t bank)
{
    for (size_t i = 0; i < N; ++i)
        e.wr(first + static_cast<uint32_t>(i) * kNextAddr, values[i], bank);
}

// ---- measurement hold and frame measurement (bank 0xA8) ----
constexpr uint32_t kRegHold = 0x002901;
constexpr uint32_t kHoldOn = 0x80;
constexpr uint32_t kRegMeasLines = 0xA80802;   // + 6 addresses per channel
constexpr uint32_t kRegMeasSecond = 0xA80A02;
constexpr uint32_t kMeasStep = 6 * kNextAddr;

// ---- input processor (bank 0x14 + 16 per channel) ----
constexpr uint32_t kRegIpLines = 0x140802, kRegIpSecond = 0x140A02, kRegIpOn = 0x140C01;
constexpr uint32_t kRegIpWidth = 0x140F02, kRegIpVStart = 0x141102, kRegIpHeight = 0x141302;
constexpr uint32_t kRegIpFieldMode = 0x142A01, kRegIpDeint1 = 0x146701, kRegIpDeint2 = 0x146801;
constexpr uint32_t kRegIpLineLimit = 0x146D02;
constexpr uint32_t kIpLineMargin = 32, kIpSecondMargin = 16;
constexpr uint32_t kLineLimitMask = 0x3FFF, kLineLimitOn = 0x8000, kVStartOn = 0x8000;
constexpr uint32_t kFieldModeSplit = 0, kFieldModeWeave = 32, kFieldModeProgressive = 16;
constexpr uint32_t kDeint1Interlaced = 8, kDeint2Interlaced = 4;
constexpr uint32_t kRegNrOff = 0x157001;

// ---- frame buffers (bank 0x17 + 16 per channel) and field handling (bank 0x16) ----
constexpr uint32_t kRegFbWrite[4] = {0x171804, 0x171C04, 0x172004, 0x172404};
constexpr uint32_t kRegFbRead[4] = {0x170804, 0x170C04, 0x171004, 0x171404};
constexpr uint32_t kRegFbLines = 0x175902;
constexpr uint32_t kRegFieldInput = 0x165B01;
constexpr uint32_t kFieldWordMask = 31;
constexpr uint32_t kFieldUnit = 1024;

// ---- noise reduction (bank 0x15 + 16, temporal in bank 0x12 + 16) ----
constexpr uint32_t kRegNrMode = 0x150801;
constexpr uint32_t kRegNrMosq = 0x150901;       // first of the mosquito block, its enable
constexpr uint32_t kRegNrBlock = 0x153902;
constexpr uint32_t kRegNrBlockLead = 0x153B01;  // 15:3B-15:43, one byte each
constexpr uint32_t kRegNrBlockEnd = 0x154401;
constexpr uint32_t kRegNrTemporal = 0x120801;   // first of the temporal block, its enable
constexpr uint32_t kRegNrPixel = 0x156B01;
constexpr uint32_t kRegNrPixelV = 0x156C01;     // 15:6C, 15:6D
constexpr uint32_t kRegNrPixelH = 0x156E01;     // 15:6E, 15:6F
constexpr uint32_t kNrModeOff = 0, kNrModePixel = 1, kNrModeBlock = 3;
constexpr uint32_t kPixelNrH = 0x01, kPixelNrV = 0x10;

// Block NR: leading values per level (15:39 word, then 15:3B-15:43 and 15:44).
struct BlockLevel {
    uint16_t strength;     // 15:39
    uint8_t lead[9];       // 15:3B-15:43
    uint8_t end;           // 15:44
};
constexpr BlockLevel kBlockLevels[kLevels] = {
    {0, {0, 0, 0, 0, 0, 0, 0, 0, 0}, 0},
    {8855, {144, 64, 80, 96, 128, 32, 132, 65, 6}, 16},
    {8855, {160, 64, 80, 96, 128, 16, 66, 51, 4}, 16},
    {3223, {176, 64, 80, 96, 128, 16, 66, 51, 4}, 6},
};
// What the input formats' block NR differs in: its mode per level, the block grid words and the
// grid step.
struct BlockFormat {
    uint8_t mode[kLevels];
    uint16_t hGrid, hStep, vGrid, vStep;   // 15:4D, 15:4F, 15:54, 15:56
    uint8_t step;                           // 15:6A
};
constexpr BlockFormat kNr1080i = {{0, 0, 0, 0}, 384, 96, 384, 96, 48};
constexpr BlockFormat kNr1080p = {{0, 3, 2, 3}, 384, 96, 768, 192, 36};
constexpr BlockFormat kNr480i = {{0, 0, 0, 0}, 64, 16, 64, 16, 8};
constexpr BlockFormat kNr480p = {{0, 3, 2, 3}, 64, 16, 128, 32, 6};
constexpr BlockFormat kNr720p = {{0, 3, 2, 3}, 171, 43, 342, 86, 16};
// The block NR registers common to every format and level, in write order.
constexpr uint8_t kBlockCommonA[] = {12, 24, 8, 16, 40, 3, 2, 1};             // 15:45-15:4C
constexpr uint8_t kBlockCommonB[] = {6, 12, 4};                               // 15:51-15:53
constexpr uint8_t kBlockCommonC[] = {8, 16, 24, 32, 6, 12, 18, 24, 4, 8, 12, 16,
                                     20, 2, 4, 6, 8, 10};                      // 15:58-15:69
constexpr uint32_t kRegBlockCommonA = 0x154501, kRegBlockCommonB = 0x155101, kRegBlockCommonC = 0x155801;
constexpr uint32_t kRegBlockHGrid = 0x154D02, kRegBlockHStep = 0x154F02;
constexpr uint32_t kRegBlockVGrid = 0x155402, kRegBlockVStep = 0x155602;
constexpr uint32_t kRegBlockStep = 0x156A01;

// Temporal NR, 12:08-12:14, per level 1-3.
constexpr uint8_t kTemporal[kLevels][13] = {
    {},
    {1, 8, 16, 4, 32, 12, 2, 64, 96, 16, 8, 4, 2},
    {1, 12, 24, 6, 48, 18, 3, 96, 128, 24, 12, 6, 3},
    {1, 16, 32, 8, 64, 24, 4, 128, 160, 32, 16, 8, 4},
};
// Mosquito NR, 15:09-15:2E, per level 1-3.
constexpr uint8_t kMosquito[kLevels][38] = {
    {},
    {1, 4, 8, 12, 16, 2, 4, 6, 8, 32, 48, 64, 80, 3, 6, 9, 12, 15, 18,
     21, 24, 27, 30, 16, 24, 32, 40, 48, 1, 2, 3, 4, 5, 6, 7, 8, 64, 128},
    {1, 6, 12, 18, 24, 3, 6, 9, 12, 40, 60, 80, 100, 4, 8, 12, 16, 20, 24,
     28, 32, 36, 40, 20, 30, 40, 50, 60, 1, 2, 3, 4, 5, 6, 7, 8, 80, 160},
    {1, 8, 16, 24, 32, 4, 8, 12, 16, 48, 72, 96, 120, 5, 10, 15, 20, 25, 30,
     35, 40, 45, 50, 24, 36, 48, 60, 72, 1, 2, 3, 4, 5, 6, 7, 8, 96, 192},
};
// Pixel NR thresholds (low, high) per level, horizontal and vertical alike.
constexpr uint8_t kPixelNr[kLevels][2] = {{0, 0}, {66, 150}, {117, 201}, {168, 252}};

// ---- filters of the input processor (bank 0x14 + 16) ----
constexpr int kFormatFull = 4;        // formats above 3 carry one pixel per clock
constexpr uint32_t kRegDiag = 0x145001;   // 14:50-14:63
constexpr uint8_t kDiagonal[kLevels][20] = {
    {},
    {1, 4, 8, 2, 16, 24, 32, 8, 4, 2, 1, 12, 20, 28, 6, 3, 2, 1, 64, 96},
    {1, 6, 12, 3, 24, 36, 48, 12, 6, 3, 1, 16, 28, 40, 8, 4, 2, 1, 96, 128},
    {1, 8, 16, 4, 32, 48, 64, 16, 8, 4, 2, 20, 36, 52, 10, 5, 3, 1, 128, 192},
};
constexpr uint32_t kRegMotion = 0x141501, kRegMotionTable = 0x141A01;   // 14:1A-14:21
constexpr uint32_t kMotionOn = 31;
constexpr uint8_t kMotion[kLevels][8] = {
    {0, 0, 0, 0, 0, 0, 0, 0},
    {4, 8, 2, 16, 32, 8, 1, 64},
    {6, 12, 3, 24, 48, 12, 2, 96},
    {8, 16, 4, 32, 64, 16, 3, 128},
};
constexpr uint32_t kRegIpSetA = 0x142C01, kRegIpSetB = 0x144201;   // 14:2C-14:3A, 14:42-14:4A
constexpr int kFirstFieldFormat = 5, kFormats = 4;                  // formats 5-8: field inputs
constexpr uint8_t kIpSetA[kFormats][15] = {
    {2, 1, 16, 32, 8, 4, 64, 12, 3, 24, 48, 6, 1, 128, 2},
    {2, 1, 16, 32, 8, 4, 64, 12, 3, 24, 48, 6, 1, 96, 2},
    {2, 1, 8, 16, 4, 2, 32, 6, 2, 12, 24, 3, 1, 64, 1},
    {2, 1, 8, 16, 4, 2, 32, 6, 2, 12, 24, 3, 1, 48, 1},
};
constexpr uint8_t kIpSetB[kFormats][9] = {
    {16, 8, 4, 2, 1, 32, 64, 24, 12},
    {16, 8, 4, 2, 1, 32, 48, 24, 12},
    {8, 4, 2, 1, 1, 16, 32, 12, 6},
    {8, 4, 2, 1, 1, 16, 24, 12, 6},
};
constexpr uint32_t kRegComb = 0x143B01, kRegCombLow = 0x143C01, kRegCombHigh = 0x143D01;
constexpr uint8_t kComb[kLevels][2] = {{0, 0}, {16, 128}, {20, 128}, {112, 160}};

// ---- scaler shrink filters ----
constexpr uint32_t kRegHShrinkSet = 0x007901, kRegHShrinkLoad = 0x007A01;
constexpr uint32_t kHShrinkLoadFirst = 131, kHShrinkLoadBoth = 135, kHShrinkLoadStep = 4;
constexpr uint32_t kRegVShrink = 0x116801, kRegVShrinkSecond = 0x216801;   // 24 registers each

// ---- channel memory and input selection (bank 0) ----
constexpr uint32_t kRegMemWriteMode = 0x007101;   // + channel
constexpr uint32_t kRegInputSelect = 0x000801;    // + channel
constexpr uint32_t kRegChannelLink = 0x100901;    // bank 0x10 + 16 per channel
constexpr uint32_t kSelectSignal = 17, kSelectNoSignal = 1;
constexpr uint32_t kProcessorBits = 14;
constexpr uint32_t kLinkFirst = 8;                // further channels name the first one + 8
constexpr uint32_t kNrEnableMode[3] = {kNrModeOff, kNrModePixel, kNrModeBlock};

// The bring-up levels of ports 0-3.
constexpr c331_manage::IpLevels kBringUpLevels = {{0, 0, 0, 0, 0}, 0, 1, 2, 3};
enum NrStage : int { kNrPixelH = 0, kNrPixelV = 1, kNrTemporal = 2, kNrBlock = 3, kNrMosquito = 4 };

}  // namespace

// Rows 1-9 from the strongest shrink (below 0.2) to none; eight phases of three taps each, the
// fourth tap completing 128.
const uint32_t c331_manage::lut[kLutRows][kLutTaps] = {
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {32, 38, 32, 31, 37, 33, 31, 36, 33, 30, 36, 34, 29, 35, 35, 28, 34, 36, 28, 33, 36, 27, 33, 37},
    {32, 46, 32, 30, 44, 34, 29, 42, 35, 27, 41, 37, 25, 39, 39, 23, 37, 41, 22, 35, 42, 20, 34, 44},
    {32, 58, 32, 29, 55, 35, 25, 52, 39, 22, 48, 42, 19, 45, 45, 16, 42, 48, 12, 39, 52, 9, 35, 55},
    {30, 68, 30, 27, 65, 36, 22, 61, 42, 17, 56, 47, 12, 52, 52, 8, 47, 56, 3, 42, 61, 0, 36, 65},
    {26, 76, 26, 21, 73, 34, 16, 69, 43, 9, 67, 52, 2, 62, 62, 0, 52, 67, 0, 43, 69, 0, 34, 73},
    {21, 86, 21, 14, 83, 31, 6, 79, 43, 0, 74, 54, 0, 64, 64, 0, 54, 74, 0, 43, 79, 0, 31, 83},
    {15, 98, 15, 5, 96, 27, 0, 88, 40, 0, 76, 52, 0, 64, 64, 0, 52, 76, 0, 40, 88, 0, 27, 96},
    {8, 112, 8, 0, 106, 22, 0, 92, 36, 0, 78, 50, 0, 64, 64, 0, 50, 78, 0, 36, 92, 0, 22, 106},
    {0, 128, 0, 0, 112, 16, 0, 96, 32, 0, 80, 48, 0, 64, 64, 0, 48, 80, 0, 32, 96, 0, 16, 112},
};

void c331_manage::define_ip_param()
{
    for (int p = 0; p < kPorts; ++p)
        ip_levels[p] = p < kIpPorts ? kBringUpLevels : IpLevels{};
    // A chip brought up again has lost what was written: the next enable is written whatever it is.
    for (int& e : nren_old)
        e = -1;
}

// ---- input processor -------------------------------------------------------------------------------

void c331_manage::set_ip(int fd, int ich)
{
    if (ich < 0 || ich >= kIpChannels)
        return;
    const int port = ichPort(ich);
    if (port < 0 || port >= kPorts)
        return;
    const IpLevels& lv = ip_levels[port];
    // Fields the channel cannot keep are taken one at a time, as progressive pictures.
    const bool interlaced = weavesFields(port, ich);
    bool anyNr = false;
    for (int level : lv.nr)
        anyNr = anyNr || level != 0;
    const uint32_t bank = chBank(ich);

    if ((PI_STATE[port] > 3 && anyNr) || interlaced) {
        wait1_pivs(ich);
        wait1_pivs(ich);
        wr(kRegHold, kHoldOn);
        const uint32_t lines = rd(kRegMeasLines + static_cast<uint32_t>(ich) * kMeasStep);
        const uint32_t second = rd(kRegMeasSecond + static_cast<uint32_t>(ich) * kMeasStep);
        wr(kRegHold, 0);
        const uint32_t m = lines + 1;
        const uint32_t h = interlaced ? (m + 1) / 2 : m;
        const uint32_t scan = interlaced ? 2 : 1;
        wr(kRegIpLines, h + kIpLineMargin, bank);
        wr(kRegIpSecond, (second + kIpSecondMargin) * 2, bank);
        wr(kRegIpLineLimit, (((h + kIpLineMargin + 1) * 3 / 4) & kLineLimitMask) | kLineLimitOn, bank);
        wr(kRegIpOn, 1, bank);
        wr(kRegIpWidth, static_cast<uint32_t>(PI_ACT[port][1]), bank);
        wr(kRegIpHeight, static_cast<uint32_t>(PI_ACT[port][3]) * scan, bank);
        wr(kRegIpVStart, (static_cast<uint32_t>(PI_ACT[port][2]) * scan) | kVStartOn, bank);
        set_mvflt(fd, ich, port);
        set_diag(fd, ich, port);
        set_ipregs(fd, ich, port);
        set_comb(fd, ich, port);
        set_nr(fd, ich, port);
        if (interlaced) {
            wr(kRegIpFieldMode, lv.field != 0 ? kFieldModeSplit : kFieldModeWeave, bank);
            wr(kRegIpDeint1, kDeint1Interlaced, bank);
            wr(kRegIpDeint2, kDeint2Interlaced, bank);
        } else {
            wr(kRegIpFieldMode, kFieldModeProgressive, bank);
            wr(kRegIpDeint1, 0, bank);
            wr(kRegIpDeint2, 0, bank);
        }
    } else {
        wr(kRegNrOff, 0, bank);
        set_nr(fd, ich, port);
    }

    // Frame buffers from the channel's memory plan: field inputs alternate the first pair (with
    // the field offset), progressive inputs use the second pair.
    const uint32_t* plan = sys.memmap[ich];
    uint32_t order[4];
    uint32_t lineWord = 0;
    if (interlaced) {
        const uint32_t a = plan[1], b = plan[2];
        const uint32_t f = (plan[0] & kFieldWordMask) * kFieldUnit;
        const uint32_t field[4] = {a + f, a, b + f, b};
        std::copy(field, field + 4, order);
        lineWord = sys.memcount;
    } else {
        const uint32_t frame[4] = {plan[3], plan[4], plan[3], plan[4]};
        std::copy(frame, frame + 4, order);
    }
    for (int i = 0; i < 4; ++i)
        wr(kRegFbWrite[i], order[i], bank);
    for (int i = 0; i < 4; ++i)
        wr(kRegFbRead[i], order[i], bank);
    wr(kRegFbLines, lineWord, bank);
    wr(kRegFieldInput, interlaced ? 1 : 0, bank);
}

// ---- noise reduction ---------------------------------------------------------------------------------

void c331_manage::set_nr(int fd, int ich, int port)
{
    if (!ipArgs(ich, port))
        return;
    const uint32_t bank = chBank(ich);
    if (PI_STATE[port] < kFormatFull) {
        wr(kRegNrBlock, 0, bank);
        wr(kRegNrTemporal, 0, bank);
        wr(kRegNrPixel, 0, bank);
        wr(kRegNrMosq, 0, bank);
        wr(kRegNrMode, kNrModeOff, bank);
        return;
    }
    set_nr_block(fd, ich, port);
    set_nr_tpx(fd, ich, port);
    set_nr_hvpx(fd, ich, port);
    set_nr_mosq(fd, ich, port);
    // Field inputs keep NR off here; progressive ones take block NR before the pixel stages.
    const int* nr = ip_levels[port].nr;
    uint32_t mode = kNrModeOff;
    if (PI_SCAN_MODE[port] == 0) {
        if (nr[kNrBlock] != 0)
            mode = kNrModeBlock;
        else if (nr[kNrPixelH] || nr[kNrPixelV] || nr[kNrTemporal] || nr[kNrMosquito])
            mode = kNrModePixel;
    }
    wr(kRegNrMode, mode, bank);
}

void c331_manage::set_nr_block(int fd, int ich, int port)
{
    if (!ipArgs(ich, port))
        return;
    if (ip_levels[port].nr[kNrBlock] == 0) {
        wr(kRegNrBlock, 0, chBank(ich));
        return;
    }
    switch (PI_ACT[port][3]) {
    case 240: set_nr_b_480i(fd, ich, port); break;
    case 480: set_nr_b_480p(fd, ich, port); break;
    case 540: set_nr_b_1080i(fd, ich, port); break;
    case 720: set_nr_b_720p(fd, ich, port); break;
    case 1080: set_nr_b_1080p(fd, ich, port); break;
    default: break;   // no block NR set for other heights
    }
}

static void writeBlockNr(c331_manage& e, int ich, int port, const BlockFormat& f)
{
    if (!ipArgs(ich, port))
        return;
    const int level = e.ip_levels[port].nr[kNrBlock];
    if (!isLevel(level))
        return;
    const uint32_t bank = c331_manage::chBank(ich);
    const BlockLevel& l = kBlockLevels[level];
    e.wr(kRegNrMode, f.mode[level], bank);
    e.wr(kRegNrBlock, l.strength, bank);
    writeRun(e, kRegNrBlockLead, l.lead, bank);
    e.wr(kRegNrBlockEnd, l.end, bank);
    writeRun(e, kRegBlockCommonA, kBlockCommonA, bank);
    e.wr(kRegBlockHGrid, f.hGrid, bank);
    e.wr(kRegBlockHStep, f.hStep, bank);
    writeRun(e, kRegBlockCommonB, kBlockCommonB, bank);
    e.wr(kRegBlockVGrid, f.vGrid, bank);
    e.wr(kRegBlockVStep, f.vStep, bank);
    writeRun(e, kRegBlockCommonC, kBlockCommonC, bank);
    e.wr(kRegBlockStep, f.step, bank);
}

void c331_manage::set_nr_b_1080i(int, int ich, int port) { writeBlockNr(*this, ich, port, kNr1080i); }
void c331_manage::set_nr_b_1080p(int, int ich, int port) { writeBlockNr(*this, ich, port, kNr1080p); }
void c331_manage::set_nr_b_480i(int, int ich, int port) { writeBlockNr(*this, ich, port, kNr480i); }
void c331_manage::set_nr_b_480p(int, int ich, int port) { writeBlockNr(*this, ich, port, kNr480p); }
void c331_manage::set_nr_b_720p(int, int ich, int port) { writeBlockNr(*this, ich, port, kNr720p); }

void c331_manage::set_nr_tpx(int, int ich, int port)
{
    if (!ipArgs(ich, port))
        return;
    const int level = ip_levels[port].nr[kNrTemporal];
    if (isLevel(level))
        writeRun(*this, kRegNrTemporal, kTemporal[level], chBank(ich));
}

void c331_manage::set_nr_mosq(int, int ich, int port)
{
    if (!ipArgs(ich, port))
        return;
    const int level = ip_levels[port].nr[kNrMosquito];
    if (isLevel(level))
        writeRun(*this, kRegNrMosq, kMosquito[level], chBank(ich));
}

void c331_manage::set_nr_hvpx(int, int ich, int port)
{
    if (!ipArgs(ich, port))
        return;
    const int h = ip_levels[port].nr[kNrPixelH];
    const int v = ip_levels[port].nr[kNrPixelV];
    const uint32_t bank = chBank(ich);
    wr(kRegNrPixel, (h != 0 ? kPixelNrH : 0) | (v != 0 ? kPixelNrV : 0), bank);
    writeRun(*this, kRegNrPixelH, kPixelNr[isLevel(h) ? h : 0], bank);
    writeRun(*this, kRegNrPixelV, kPixelNr[isLevel(v) ? v : 0], bank);
}

// ---- filters --------------------------------------------------------------------------------------------

void c331_manage::set_diag(int, int ich, int port)
{
    if (!ipArgs(ich, port))
        return;
    const int level = ip_levels[port].diag;
    if (PI_STATE[port] >= kFormatFull && isLevel(level))
        writeRun(*this, kRegDiag, kDiagonal[level], chBank(ich));
}

void c331_manage::set_comb(int, int ich, int port)
{
    if (!ipArgs(ich, port))
        return;
    const int level = ip_levels[port].comb;
    const uint32_t bank = chBank(ich);
    if (PI_STATE[port] < kFormatFull || !isLevel(level)) {
        wr(kRegComb, 0, bank);
        return;
    }
    wr(kRegComb, 1, bank);
    wr(kRegCombLow, kComb[level][0], bank);
    wr(kRegCombHigh, kComb[level][1], bank);
}

void c331_manage::set_mvflt(int, int ich, int port)
{
    if (!ipArgs(ich, port))
        return;
    const int level = ip_levels[port].mvflt;
    const uint32_t bank = chBank(ich);
    if (PI_STATE[port] < kFormatFull) {
        wr(kRegMotion, 0, bank);
        writeRun(*this, kRegMotionTable, kMotion[0], bank);
        return;
    }
    wr(kRegMotion, level != 0 ? kMotionOn : 0, bank);
    if (level >= 0 && level < kLevels)
        writeRun(*this, kRegMotionTable, kMotion[level], bank);
}

void c331_manage::set_ipregs(int, int ich, int port)
{
    if (!ipArgs(ich, port))
        return;
    const int f = PI_STATE[port] - kFirstFieldFormat;
    if (f < 0 || f >= kFormats)
        return;
    writeRun(*this, kRegIpSetA, kIpSetA[f], chBank(ich));
    writeRun(*this, kRegIpSetB, kIpSetB[f], chBank(ich));
}

// ---- scaler shrink filters ------------------------------------------------------------------------------

void c331_manage::set_lut_hshrnk(int, int ratio, int channel, int both)
{
    if (channel < 0 || channel >= kOch)
        return;
    const uint32_t ch = static_cast<uint32_t>(channel);
    wr(kRegHShrinkSet, static_cast<uint32_t>(picture::hshrinkSet(ratio)));
    wr(kRegHShrinkLoad, ch * kHShrinkLoadStep + kHShrinkLoadFirst);
    if (both)
        wr(kRegHShrinkLoad, ch * kHShrinkLoadStep + kHShrinkLoadBoth);
}

void c331_manage::set_lut_vshrnk_4sym(int, int ratio, int channel, int both)
{
    if (channel < 0 || channel >= kOch)
        return;
    const uint32_t* row = lut[picture::vshrinkRow(ratio)];
    const uint32_t bank = chBank(channel);
    for (int i = 0; i < kLutTaps; ++i)
        wr(kRegVShrink + static_cast<uint32_t>(i) * kNextAddr, row[i], bank);
    if (both)
        for (int i = 0; i < kLutTaps; ++i)
            wr(kRegVShrinkSecond + static_cast<uint32_t>(i) * kNextAddr, row[i], bank);
}

// ---- input channels' memory and selection ------------------------------------------------------------------

void c331_manage::set_iscwct(int, int w)
{
    if (w < 0 || w >= kWinCount)
        return;
    const uint32_t value = memWriteModeCode(PM_MEM_WMODE[w]);
    for (int i = 0; i < kIch; ++i) {
        const int c = win_ich[w][i];
        if (c < 0)
            break;
        if (c < kIch)
            wr(kRegMemWriteMode + static_cast<uint32_t>(c) * kNextAddr, value);
    }
}

void c331_manage::set_mct(int, int w, int ignoreInterlace)
{
    if (w < 0 || w >= kWinCount)
        return;
    const int c0 = win_ich[w][0];
    if (c0 < 0 || c0 >= kIch)
        return;   // the window has no input channel
    const int mode = PM_WIN_DBD_MODE[w];
    int port = 0;
    if (mode == 22 || mode == 23)
        port = 2;
    else if (mode == 50 || mode == 51)
        port = 4;
    else if (mode == 0 || mode == 1)
        port = win_port[w];
    if (port < 0 || port >= kPorts)
        return;
    const uint32_t s = PI_STATE[port] != 0 ? kSelectSignal : kSelectNoSignal;
    auto select = [&](int c, uint32_t v) { wr(kRegInputSelect + static_cast<uint32_t>(c) * kNextAddr, v); };

    if (port >= kIpPorts) {
        select(c0, s);
        wr(kRegChannelLink, 1, chBank(c0));
    } else {
        const IpLevels& lv = ip_levels[port];
        const bool fields = PI_SCAN_MODE[port] != 0 && ignoreInterlace == 0;
        int e = 0;
        uint32_t p = 0, f = 1;
        if (lv.nr[kNrBlock] != 0) {
            e = 2;
            p = kProcessorBits;
            f = fields ? 0 : 1;
        } else {
            if (lv.nr[kNrPixelH] || lv.nr[kNrPixelV] || lv.nr[kNrTemporal] || lv.nr[kNrMosquito]) {
                e = 1;
                p = kProcessorBits;
            }
            if (fields) {
                f = 0;
                p = kProcessorBits;
            }
        }
        select(c0, (c0 < kIpChannels && mode <= 1) ? (s | p) : s);
        wr(kRegChannelLink, f, chBank(c0));
        if (e != nren_old[port]) {
            nren_old[port] = e;
            if (!fields)
                wr(kRegNrMode, kNrEnableMode[e], chBank(c0));
        }
    }
    for (int i = 1; i < kIch; ++i) {
        const int c = win_ich[w][i];
        if (c < 0)
            break;
        if (c >= kIch)
            continue;
        select(c, s);
        wr(kRegChannelLink, static_cast<uint32_t>(c0) + kLinkFirst, chBank(c));
    }
}
