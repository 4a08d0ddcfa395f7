#include "chips/tarvo_receiver.h"

#include <cstring>

#include "chips/drv_i2c.h"
#include "chips/tarvo_devices.h"
#include "platform/platform.h"

namespace {

constexpr int kOk = 0;
constexpr int kFail = 255;

// Register map of the simulated board's receivers (behind the input's switch channel).
constexpr uint8_t kRegId = 0x00;           // "RX"
constexpr uint8_t kId[2] = {'R', 'X'};
constexpr uint8_t kRegStatus = 0x02;       // bit 0 signal, bit 1 interlaced, bit 2 HDMI
constexpr uint8_t kStatusSignal = 0x01;
constexpr uint8_t kStatusInterlaced = 0x02;
constexpr uint8_t kStatusHdmi = 0x04;
constexpr uint8_t kRegTiming = 0x10;       // 8 x u16 LE, u32 LE kHz, polarity byte
constexpr int kTimingLen = 0x25 - 0x10;
constexpr uint8_t kPolHPositive = 0x01;
constexpr uint8_t kPolVPositive = 0x02;

// Two pixels per clock on a parallel input port above this pixel clock.
constexpr float kParallelSingleMaxMhz = 165.0f;
constexpr int kFirstVboInput = 4;          // inputs 4 and 5 reach the chip over V-by-One

// Clears every field but `stable`.
void clear_timing(TARVO_HDMI_INFO& info)
{
    int32_t stable = info.stable;
    std::memset(&info, 0, sizeof(info));
    info.stable = stable;
}

int vbo_lanes(float mhz)
{
    if (mhz > 300.0f)
        return 8;
    if (mhz > 150.0f)
        return 4;
    return 2;
}

class sim_board_receiver : public tarvo_receiver {
public:
    explicit sim_board_receiver(int input) : input_(input) {}

    bool identify() override
    {
        uint8_t id[2] = {0, 0};
        return drv_i2c::pInstance()->i2c_read(tarvo_dev::kReceiverAddr, kRegId, id, 2) == kOk &&
               std::memcmp(id, kId, 2) == 0;
    }

    int read_vid_info(TARVO_HDMI_INFO& info) override
    {
        drv_i2c& bus = *drv_i2c::pInstance();
        uint8_t status = 0;
        if (bus.read_byte(tarvo_dev::kReceiverAddr, kRegStatus, &status) != kOk)
            return kFail;
        clear_timing(info);
        if (!(status & kStatusSignal)) {
            info.nosignal = 1;
            return kOk;
        }
        uint8_t t[kTimingLen];
        if (bus.i2c_read(tarvo_dev::kReceiverAddr, kRegTiming, t, kTimingLen) != kOk)
            return kFail;
        auto word = [&](int k) { return int32_t(t[2 * k] | t[2 * k + 1] << 8); };
        info.Hact = word(0);
        info.Hsync = word(1);
        info.Hback = word(2);
        info.Htotal = word(3);
        info.Vact = word(4);
        info.Vsync = word(5);
        info.Vback = word(6);
        info.Vtotal = word(7);
        uint32_t khz = uint32_t(t[16]) | uint32_t(t[17]) << 8 | uint32_t(t[18]) << 16 | uint32_t(t[19]) << 24;
        info.pfreq = float(khz) / 1000.0f;
        info.Hpol = (t[20] & kPolHPositive) ? 1 : 0;
        info.Vpol = (t[20] & kPolVPositive) ? 1 : 0;
        info.type = (status & kStatusHdmi) ? 1 : 0;
        info.ip = (status & kStatusInterlaced) ? 1 : 0;
        if (input_ >= kFirstVboInput)
            info.lane = vbo_lanes(info.pfreq);
        else
            info.datamode = info.pfreq > kParallelSingleMaxMhz ? 1 : 0;
        info.nosignal = 0;
        return kOk;
    }

private:
    int input_;
};

// The board's receivers need their own drivers, which this program does not have.
class absent_receiver : public tarvo_receiver {
public:
    bool identify() override { return false; }
    int read_vid_info(TARVO_HDMI_INFO& info) override
    {
        clear_timing(info);
        info.nosignal = 1;
        return kOk;
    }
};

}  // namespace

std::unique_ptr<tarvo_receiver> make_tarvo_receiver(int input)
{
    if (platform::board().simulated())
        return std::make_unique<sim_board_receiver>(input);
    return std::make_unique<absent_receiver>();
}
