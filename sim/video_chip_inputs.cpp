// The simulated video chip's input side: what it measures at its six input ports from the
// simulated board's input signals, and the per-lane counts of its two V-by-One receivers.
//
// The measurement registers (banks 0xAE/0xAF) and the lane counts (bank 0xAD) hold what the chip
// latched when 00:29 bit 7 was last set; a driver that reads them without setting the hold sees
// the old values.
#include <algorithm>

#include "sim/sim_config.h"
#include "sim/video_chip.h"

namespace sim {

namespace {

constexpr uint8_t kLaneBank = 0xAD, kMeasureBank = 0xAE, kStatusBank = 0xAF;
constexpr uint8_t kHoldBit = 0x80;
constexpr int kPorts = 6;
constexpr int kFirstVboPort = 4;

// Measurement clock: frame counts are 200 MHz cycles per frame.
constexpr uint32_t kMeasureClock = 200000000;

// Which input each chip port is wired to (input numbers of the board).
constexpr int kPortInput[kPorts] = {3, 2, 1, 0, 5, 4};

// Lane counts: receiver k, lane l at 0x08 + 0x40 k + 5 l: horizontal count (2 bytes), frame
// count (3 bytes).
constexpr int kLaneBase = 0x08, kLaneRxStep = 0x40, kLaneStep = 5, kLanes = 8;

struct PortTiming {
    bool signal = false;
    uint32_t htotal = 0, hactive = 0, vtotal = 0, frame = 0;
    uint64_t pixelClock = 0;
};

PortTiming timingOf(const InputSignal& in)
{
    PortTiming t;
    if (!in.present || in.width == 0 || in.height == 0 || in.refresh == 0)
        return t;
    struct Known { uint16_t w, h, htt, vtt; };
    static constexpr Known kKnown[] = {
        {1920, 1080, 2200, 1125}, {1280, 720, 1650, 750}, {3840, 2160, 4400, 2250},
        {720, 480, 858, 525},     {720, 576, 864, 625},   {1024, 768, 1344, 806},
        {1280, 1024, 1688, 1066}, {1600, 1200, 2160, 1250}, {1920, 1200, 2080, 1235},
        {4096, 2160, 4400, 2250},
    };
    // Every line has its blanking (sync and porches), however few pixels it carries.
    constexpr uint32_t kMinHBlank = 16;
    uint32_t htt = in.width + std::max<uint32_t>(in.width / 8, kMinHBlank), vtt = in.height + in.height / 24 + 3;
    for (const Known& k : kKnown)
        if (k.w == in.width && k.h == in.height) {
            htt = k.htt;
            vtt = k.vtt;
        }
    t.signal = true;
    t.htotal = htt;
    t.hactive = in.width;
    t.vtotal = in.interlaced ? vtt / 2 : vtt;
    t.frame = kMeasureClock / in.refresh;
    t.pixelClock = uint64_t(htt) * vtt * in.refresh;
    return t;
}

int lanesFor(const PortTiming& t)
{
    if (t.pixelClock > 300000000)
        return 8;
    if (t.pixelClock > 150000000)
        return 4;
    return 2;
}

// Register layout of one port's measurement: first address of each quantity.
struct MeasureLayout { uint8_t h, h2, v, f, status; };
MeasureLayout layoutOf(int port)
{
    if (port < kFirstVboPort)
        return {uint8_t(0x08 + 2 * port), uint8_t(0x20 + 2 * port), uint8_t(0x38 + 2 * port),
                uint8_t(0x50 + 3 * port), uint8_t(0x08 + 2 * port)};
    const int k = port - kFirstVboPort;
    return {uint8_t(0x10 + 8 * k), uint8_t(0x28 + 8 * k), uint8_t(0x40 + 8 * k),
            uint8_t(0x5C + 0x0C * k), uint8_t(0x10 + 8 * k)};
}

void put(std::array<uint8_t, 128>& bank, int addr, uint32_t v, int n)
{
    for (int k = 0; k < n; ++k)
        bank[addr + k] = static_cast<uint8_t>(v >> (8 * k));
}

int bankIndex(uint8_t bank) { return bank - kLaneBank; }

}  // namespace

bool VideoChipModel::isInputBank(uint8_t bank)
{
    return bank == kLaneBank || bank == kMeasureBank || bank == kStatusBank;
}

uint8_t VideoChipModel::inputRegister(uint8_t bank, uint8_t addr) const
{
    return latched_[bankIndex(bank)][addr];
}

void VideoChipModel::holdWritten(uint8_t value)
{
    const bool hold = (value & kHoldBit) != 0;
    if (hold && !held_)
        latchInputs();
    held_ = hold;
}

void VideoChipModel::latchInputs()
{
    const SimConfig cfg = config();
    auto& lanes = latched_[bankIndex(kLaneBank)];
    auto& meas = latched_[bankIndex(kMeasureBank)];
    auto& stat = latched_[bankIndex(kStatusBank)];
    for (int port = 0; port < kPorts; ++port) {
        const PortTiming t = timingOf(cfg.inputs[kPortInput[port]]);
        const MeasureLayout l = layoutOf(port);
        put(meas, l.h, t.signal ? t.htotal - 1 : 0xFFFF, 2);
        put(meas, l.h2, t.signal ? t.hactive - 1 : 0xFFFF, 2);
        put(meas, l.v, t.signal ? t.vtotal - 1 : 0xFFFF, 2);
        put(meas, l.f, t.signal ? t.frame - 1 : 0xFFFFFF, 3);
        put(stat, l.status, 0, 2);
        if (port < kFirstVboPort)
            continue;
        const int k = port - kFirstVboPort;
        const int used = t.signal ? lanesFor(t) : 0;
        for (int lane = 0; lane < kLanes; ++lane) {
            const bool ok = lane < used && !laneFault_[k][lane];
            const int a = kLaneBase + kLaneRxStep * k + kLaneStep * lane;
            put(lanes, a, ok ? t.hactive / used - 1 : 0xFFFF, 2);
            put(lanes, a + 2, ok ? t.frame - 1 : 0xFFFFFF, 3);
        }
    }
}

void VideoChipModel::setLaneFault(int receiver, int lane, bool bad)
{
    std::lock_guard<std::mutex> lock(m_);
    if (receiver >= 0 && receiver < 2 && lane >= 0 && lane < kLanes)
        laneFault_[receiver][lane] = bad;
}

void VideoChipModel::setFrameEventsStuck(bool stuck)
{
    std::lock_guard<std::mutex> lock(m_);
    eventsStuck_ = stuck;
}

int VideoChipModel::vboLanes(int receiver)
{
    const PortTiming t = timingOf(config().inputs[kPortInput[kFirstVboPort + (receiver & 1)]]);
    return t.signal ? lanesFor(t) : 0;
}

void setInputSignal(int input, bool present, uint16_t width, uint16_t height, uint16_t refresh, bool interlaced)
{
    if (input < 0 || input >= SimConfig::kInputs)
        return;
    SimConfig cfg = config();
    cfg.inputs[input] = InputSignal{present, width, height, refresh, interlaced};
    setConfig(cfg);
}

}  // namespace sim
