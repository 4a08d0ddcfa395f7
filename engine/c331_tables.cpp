#include "engine/c331_tables.h"

namespace {

constexpr uint32_t kHttFirst = 660;
constexpr uint32_t kHttLast = 8280;
constexpr uint32_t kHttStep = 4;
constexpr uint32_t kHttCount = (kHttLast - kHttFirst) / kHttStep + 1;     // 1906
constexpr uint32_t kVttTop = 15006;
constexpr uint32_t kVttStep = 4;
// One pair stands out of order in the list (a square 2257 x 2257 timing).
constexpr int kOddPosition = 3887;   // 0-based
constexpr OchTiming kOddPair = {2257, 2257};
constexpr uint32_t kRegular = kTimingListSize - 1;                          // 5198
constexpr uint32_t kLongRuns = kRegular - 2 * kHttCount;                    // runs of 3 instead of 2

// Run length of htt number i: the runs of three are spread evenly (and the last run is long).
constexpr uint32_t runLength(uint32_t i)
{
    return 2 + ((i + 1) * kLongRuns / kHttCount - i * kLongRuns / kHttCount);
}

constexpr std::array<OchTiming, kTimingListSize> buildTimingList()
{
    std::array<OchTiming, kTimingListSize> list{};
    int pos = 0;
    for (uint32_t i = 0; i < kHttCount; ++i) {
        const uint32_t htt = kHttFirst + i * kHttStep;
        uint32_t top = kTimingMaxProduct / htt;
        if (top > kVttTop)
            top = kVttTop;
        const uint32_t n = runLength(i);
        for (uint32_t k = 0; k < n; ++k) {
            if (pos == kOddPosition)
                list[pos++] = kOddPair;
            list[pos++] = OchTiming{htt, top - k * kVttStep};
        }
    }
    return list;
}

}  // namespace

const std::array<OchTiming, kTimingListSize> kOchTimingList = buildTimingList();

const RegWrite kInitGlobals[] = {
    // Output channel clock enables.
    {0x000801, 0x11}, {0x000901, 0x11}, {0x000A01, 0x11}, {0x000B01, 0x11},
    {0x000C01, 0x11}, {0x000D01, 0x11}, {0x000E01, 0x11}, {0x000F01, 0x11},
    // Input channel sources: channel n takes source 2n.
    {0x001001, 0}, {0x001101, 2}, {0x001201, 4}, {0x001301, 6},
    {0x001401, 8}, {0x001501, 10}, {0x001601, 12}, {0x001701, 14},
    // Register-update control: closed until set_rtct opens it.
    {0x002201, 0}, {0x002301, 0}, {0x002401, 0}, {0x002501, 0}, {0x002601, 0}, {0x002701, 0},
    // Input processing defaults.
    {0x001802, 0x0000}, {0x002A01, 0x01}, {0x003001, 0x00}, {0x003101, 0x10},
    {0x004001, 0x00}, {0x005901, 0x00}, {0x006901, 0x00},
};
const int kInitGlobalsCount = sizeof(kInitGlobals) / sizeof(kInitGlobals[0]);

const RegWrite kInitOchFixed[] = {
    {0x081D02, 64},   {0x085001, 0x40}, {0x085101, 0x00}, {0x085201, 0x00}, {0x085301, 0x40},
    {0x084801, 0},    {0x084903, 0x000000}, {0x085701, 0},
};
const int kInitOchFixedCount = sizeof(kInitOchFixed) / sizeof(kInitOchFixed[0]);

const RegWrite kInitRxBlock[] = {
    {0x010801, 48}, {0x010904, 0x22222222}, {0x010D01, 0x03}, {0x010E01, 0x00},
    {0x011001, 0x44}, {0x011101, 0x01},
};
const int kInitRxBlockCount = sizeof(kInitRxBlock) / sizeof(kInitRxBlock[0]);

const RegWrite kInitMemIf[3][kMemIfRegs] = {
    {{0x001A01, 0x31}, {0x001B01, 0x04}, {0x001C01, 0x02}, {0x001D01, 0x01}},
    {{0x001A01, 0x21}, {0x001B01, 0x02}, {0x001C01, 0x01}, {0x001D01, 0x01}},
    {{0x001A01, 0x11}, {0x001B01, 0x08}, {0x001C01, 0x01}, {0x001D01, 0x00}},
};

const RegWrite kOchBw2k2k30[kOchBwRegs] = {
    {0x020801, 5}, {0x027801, 5}, {0x021801, 76}, {0x023001, 76},
};
const RegWrite kOchBw2k4k30[kOchBwRegs] = {
    {0x020801, 9}, {0x027801, 9}, {0x021801, 76}, {0x023001, 72},
};
