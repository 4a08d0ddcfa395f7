#include "sim/input_chips.h"

#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>

#include "platform/gpio.h"
#include "platform/i2c.h"
#include "platform/platform.h"
#include "sim/sim_config.h"

namespace sim {
namespace {

// Board wiring, seen from the devices' side.
constexpr uint16_t kSwitchAddr = 0x70;
constexpr uint16_t kEepromAddr = 0x50;
constexpr uint16_t kReceiverAddr = 0x48;
constexpr uint16_t kAudioAddr = 0x21;
constexpr uint16_t kClockAddr[inputchips::kClockChips] = {0x68, 0x69};
constexpr uint32_t kHotplugLine = 0x207948;

std::recursive_mutex g_m;

std::string eepromPath(int input)
{
    return "/var/lib/zel-sim/edid_eeprom" + std::to_string(input) + ".bin";
}

// ---------------------------------------------------------------------------------------------
class SwitchModel : public platform::I2cDeviceModel {
public:
    bool i2cWrite(const uint8_t* data, uint16_t len) override
    {
        std::lock_guard<std::recursive_mutex> lock(g_m);
        if (len != 1)
            return false;
        control = data[0];
        return true;
    }
    bool i2cRead(uint8_t* data, uint16_t len) override
    {
        std::lock_guard<std::recursive_mutex> lock(g_m);
        std::memset(data, control, len);
        return true;
    }
    uint8_t control = 0;
};

// ---------------------------------------------------------------------------------------------
// 24C02: 256 bytes, 8-byte pages. A write message is [word address, data...]; data wraps
// inside its page. After a write with data the chip is busy for kBusyAttempts addressings.
class EepromModel {
public:
    static constexpr int kSize = 256;
    static constexpr int kPage = 8;
    static constexpr int kBusyAttempts = 2;

    explicit EepromModel(int input) : input_(input)
    {
        mem_.fill(0xFF);
        std::ifstream f(platform::rootPath(eepromPath(input)), std::ios::binary);
        if (f)
            f.read(reinterpret_cast<char*>(mem_.data()), kSize);
    }

    bool write(const uint8_t* data, uint16_t len)
    {
        if (busy_ > 0) {
            --busy_;
            return false;
        }
        if (len == 0)
            return true;
        ptr_ = data[0];
        if (len == 1)
            return true;
        if (failWrites > 0) {
            --failWrites;
            return false;
        }
        uint8_t page = ptr_ & ~(kPage - 1);
        uint8_t off = ptr_ & (kPage - 1);
        for (uint16_t k = 1; k < len; ++k) {
            uint8_t v = data[k];
            if (corruptNext && k == 1) {
                v ^= 0x5A;
                corruptNext = false;
            }
            mem_[page + off] = v;
            off = (off + 1) & (kPage - 1);
        }
        dirty_ = true;
        ++pageWrites;
        hotplug.push_back(platform::gpio().read(kHotplugLine));
        return true;
    }

    bool read(uint8_t* data, uint16_t len)
    {
        if (busy_ > 0) {
            --busy_;
            return false;
        }
        for (uint16_t k = 0; k < len; ++k)
            data[k] = mem_[ptr_++];
        return true;
    }

    void stop()
    {
        if (!dirty_)
            return;
        dirty_ = false;
        busy_ = kBusyAttempts;
        save();
    }

    void save()
    {
        platform::makeParentDirs(eepromPath(input_));
        std::ofstream f(platform::rootPath(eepromPath(input_)), std::ios::binary | std::ios::trunc);
        f.write(reinterpret_cast<const char*>(mem_.data()), kSize);
    }

    std::array<uint8_t, kSize> mem_{};
    int failWrites = 0;
    bool corruptNext = false;
    int pageWrites = 0;
    std::vector<uint16_t> hotplug;

private:
    int input_;
    uint8_t ptr_ = 0;
    int busy_ = 0;
    bool dirty_ = false;
};

// ---------------------------------------------------------------------------------------------
// Receiver register map: 0x00-0x01 id "RX"; 0x02 status (bit 0 signal, bit 1 interlaced,
// bit 2 HDMI); 0x10.. u16 LE Hact, Hsync, Hback, Htotal, Vact, Vsync, Vback, Vtotal;
// 0x20 u32 LE pixel clock in kHz; 0x24 polarity (bit 0 H positive, bit 1 V positive).
class ReceiverModel {
public:
    explicit ReceiverModel(int input) : input_(input) {}

    bool write(const uint8_t* data, uint16_t len)
    {
        if (absent)
            return false;
        if (len >= 1)
            ptr_ = data[0];
        return true;  // the map is read-only
    }

    bool read(uint8_t* data, uint16_t len)
    {
        if (absent)
            return false;
        std::array<uint8_t, 64> regs = snapshot();
        for (uint16_t k = 0; k < len; ++k)
            data[k] = regs[(ptr_++) & 63];
        return true;
    }

    bool absent = false;

private:
    std::array<uint8_t, 64> snapshot() const
    {
        std::array<uint8_t, 64> r{};
        r[0] = 'R';
        r[1] = 'X';
        InputSignal s = config().inputs[input_];
        if (!s.present || s.width == 0 || s.height == 0 || s.refresh == 0)
            return r;
        r[2] = 1 | (s.interlaced ? 2 : 0) | (input_ == 1 ? 0 : 4);  // input 1 is the DVI input
        // Blanking as in the common CEA timings (1920x1080 gives 2200x1125). An interlaced
        // picture is reported per field, as receivers do: half the active lines, a field's
        // blanking (1080i: 540 of 562 lines) and its configured rate counted in fields.
        const uint16_t hsync = 44, hback = 148, hfront = 88;
        const uint16_t vsync = 5, vback = 36, vfront = 4;
        const uint16_t fieldVback = 15, fieldVfront = 2;
        uint16_t htotal = s.width + hsync + hback + hfront;
        uint16_t vtotal = s.height + vsync + vback + vfront;
        uint32_t khz = static_cast<uint32_t>(uint64_t(htotal) * vtotal * s.refresh / (s.interlaced ? 2 : 1) / 1000);
        const uint16_t vact = s.interlaced ? s.height / 2 : s.height;
        const uint16_t vbackReported = s.interlaced ? fieldVback : vback;
        const uint16_t vtotalReported = s.interlaced ? vact + vsync + fieldVback + fieldVfront : vtotal;
        const uint16_t words[8] = {s.width, hsync, hback, htotal, vact, vsync, vbackReported, vtotalReported};
        for (int k = 0; k < 8; ++k) {
            r[0x10 + 2 * k] = words[k] & 0xFF;
            r[0x11 + 2 * k] = words[k] >> 8;
        }
        for (int k = 0; k < 4; ++k)
            r[0x20 + k] = (khz >> (8 * k)) & 0xFF;
        r[0x24] = 3;
        return r;
    }

    int input_;
    uint8_t ptr_ = 0;
};

// A device address behind the switch: one device per channel; the access goes to the device
// of the one open channel.
template <class Device>
class SwitchedAddress : public platform::I2cDeviceModel {
public:
    SwitchedAddress(SwitchModel* sw, std::array<Device*, inputchips::kInputs> devs) : sw_(sw), devs_(devs) {}

    bool i2cWrite(const uint8_t* data, uint16_t len) override
    {
        std::lock_guard<std::recursive_mutex> lock(g_m);
        Device* d = selected();
        return d && d->write(data, len);
    }
    bool i2cRead(uint8_t* data, uint16_t len) override
    {
        std::lock_guard<std::recursive_mutex> lock(g_m);
        Device* d = selected();
        return d && d->read(data, len);
    }
    void i2cStop() override
    {
        std::lock_guard<std::recursive_mutex> lock(g_m);
        if constexpr (std::is_same<Device, EepromModel>::value)
            for (Device* d : devs_)
                d->stop();
    }

private:
    Device* selected() const
    {
        uint8_t c = sw_->control & 0x3F;  // channels 6 and 7 lead nowhere
        if (c == 0 || (c & (c - 1)) != 0)
            return nullptr;
        for (int i = 0; i < inputchips::kInputs; ++i)
            if (c == (1u << i))
                return devs_[i];
        return nullptr;
    }

    SwitchModel* sw_;
    std::array<Device*, inputchips::kInputs> devs_;
};

// ---------------------------------------------------------------------------------------------
// Audio switch: an 8-bit output port. Message [register, value...]; a read returns the
// addressed register.
class AudioSwitchModel : public platform::I2cDeviceModel {
public:
    bool i2cWrite(const uint8_t* data, uint16_t len) override
    {
        std::lock_guard<std::recursive_mutex> lock(g_m);
        if (len == 0)
            return false;
        ptr_ = data[0] & 3;
        if (len == 1)
            return true;
        if (failWrites > 0) {
            --failWrites;
            return false;
        }
        for (uint16_t k = 1; k < len; ++k) {
            regs_[ptr_] = data[k];
            if (ptr_ == 1) {
                ++outputWrites;
                if (onOutput)
                    onOutput(data[k]);
            }
            ptr_ = (ptr_ + 1) & 3;
        }
        return true;
    }
    bool i2cRead(uint8_t* data, uint16_t len) override
    {
        std::lock_guard<std::recursive_mutex> lock(g_m);
        for (uint16_t k = 0; k < len; ++k) {
            data[k] = regs_[ptr_];
            ptr_ = (ptr_ + 1) & 3;
        }
        return true;
    }
    uint8_t output() const { return regs_[1]; }

    int failWrites = 0;
    int outputWrites = 0;
    std::function<void(uint8_t)> onOutput;

private:
    uint8_t regs_[4] = {0, 0, 0, 0xFF};
    uint8_t ptr_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Clock chip: 25 MHz reference. 0x00 id 0x35; 0x10-0x11 feedback divider N (LE), 0x12 input
// divider M, 0x13 output divider; 0x20 control (1 starts the PLL); 0x21 status (bit 0 locked).
// The PLL locks when its VCO, 25 MHz x N / M, lies within 600-1200 MHz.
class ClockChipModel : public platform::I2cDeviceModel {
public:
    static constexpr double kRefHz = 25e6;

    bool i2cWrite(const uint8_t* data, uint16_t len) override
    {
        std::lock_guard<std::recursive_mutex> lock(g_m);
        if (absent || len == 0)
            return false;
        ptr_ = data[0];
        for (uint16_t k = 1; k < len; ++k) {
            regs_[ptr_] = data[k];
            if (ptr_ == 0x20)
                start(data[k]);
            else if (ptr_ >= 0x10 && ptr_ <= 0x13)
                regs_[0x21] = 0;  // reprogramming drops the lock
            ++ptr_;
        }
        return true;
    }
    bool i2cRead(uint8_t* data, uint16_t len) override
    {
        std::lock_guard<std::recursive_mutex> lock(g_m);
        if (absent)
            return false;
        for (uint16_t k = 0; k < len; ++k)
            data[k] = regs_[ptr_++];
        return true;
    }

    double outputHz() const
    {
        if (!(regs_[0x21] & 1))
            return 0;
        return vco() / regs_[0x13];
    }
    bool locked() const { return regs_[0x21] & 1; }

    bool absent = false;

private:
    double vco() const
    {
        unsigned n = regs_[0x10] | regs_[0x11] << 8;
        unsigned m = regs_[0x12];
        return m == 0 ? 0 : kRefHz * n / m;
    }
    void start(uint8_t v)
    {
        bool ok = (v & 1) && regs_[0x13] != 0 && vco() >= 600e6 && vco() <= 1200e6;
        regs_[0x21] = ok ? 1 : 0;
    }

    std::array<uint8_t, 256> regs_ = [] {
        std::array<uint8_t, 256> r{};
        r[0] = 0x35;
        return r;
    }();
    uint8_t ptr_ = 0;
};

// ---------------------------------------------------------------------------------------------
struct Chips {
    SwitchModel sw;
    std::array<std::unique_ptr<EepromModel>, inputchips::kInputs> eeproms;
    std::array<std::unique_ptr<ReceiverModel>, inputchips::kInputs> receivers;
    std::unique_ptr<SwitchedAddress<EepromModel>> eepromAddr;
    std::unique_ptr<SwitchedAddress<ReceiverModel>> receiverAddr;
    AudioSwitchModel audio;
    std::array<ClockChipModel, inputchips::kClockChips> clocks;

    Chips()
    {
        std::array<EepromModel*, inputchips::kInputs> e{};
        std::array<ReceiverModel*, inputchips::kInputs> r{};
        for (int i = 0; i < inputchips::kInputs; ++i) {
            eeproms[i] = std::make_unique<EepromModel>(i);
            receivers[i] = std::make_unique<ReceiverModel>(i);
            e[i] = eeproms[i].get();
            r[i] = receivers[i].get();
        }
        eepromAddr = std::make_unique<SwitchedAddress<EepromModel>>(&sw, e);
        receiverAddr = std::make_unique<SwitchedAddress<ReceiverModel>>(&sw, r);
    }
};

// Models stay alive for the process: a bus of an older board may still point at them.
std::vector<std::unique_ptr<Chips>> g_all;
Chips* g_chips = nullptr;

Chips& chips()
{
    if (!g_chips)
        attachInputChips();
    return *g_chips;
}

bool validInput(int i) { return i >= 0 && i < inputchips::kInputs; }
bool validPath(int p) { return p >= 0 && p < inputchips::kClockChips; }

}  // namespace

bool attachInputChips()
{
    auto* bus = dynamic_cast<platform::SimI2cBus*>(&platform::i2c());
    if (!bus)
        return false;
    Chips* c;
    {
        std::lock_guard<std::recursive_mutex> lock(g_m);
        g_all.push_back(std::make_unique<Chips>());
        c = g_chips = g_all.back().get();
    }
    // Attached outside the models' lock: the bus calls into the models under its own lock.
    bus->attach(kSwitchAddr, &c->sw);
    bus->attach(kEepromAddr, c->eepromAddr.get());
    bus->attach(kReceiverAddr, c->receiverAddr.get());
    bus->attach(kAudioAddr, &c->audio);
    for (int p = 0; p < inputchips::kClockChips; ++p)
        bus->attach(kClockAddr[p], &c->clocks[p]);
    return true;
}

namespace inputchips {

uint8_t switchControl()
{
    std::lock_guard<std::recursive_mutex> lock(g_m);
    return chips().sw.control;
}

std::vector<uint8_t> eepromContents(int input)
{
    std::lock_guard<std::recursive_mutex> lock(g_m);
    if (!validInput(input))
        return {};
    auto& m = chips().eeproms[input]->mem_;
    return std::vector<uint8_t>(m.begin(), m.end());
}

void setEepromContents(int input, const std::vector<uint8_t>& bytes)
{
    std::lock_guard<std::recursive_mutex> lock(g_m);
    if (!validInput(input))
        return;
    auto& e = *chips().eeproms[input];
    e.mem_.fill(0xFF);
    std::memcpy(e.mem_.data(), bytes.data(), std::min<size_t>(bytes.size(), e.mem_.size()));
    e.save();
}

void failEepromWrites(int input, int count)
{
    std::lock_guard<std::recursive_mutex> lock(g_m);
    if (validInput(input))
        chips().eeproms[input]->failWrites = count;
}

void corruptNextEepromWrite(int input)
{
    std::lock_guard<std::recursive_mutex> lock(g_m);
    if (validInput(input))
        chips().eeproms[input]->corruptNext = true;
}

int eepromPageWrites(int input)
{
    std::lock_guard<std::recursive_mutex> lock(g_m);
    return validInput(input) ? chips().eeproms[input]->pageWrites : 0;
}

std::vector<uint16_t> eepromHotplugLevels(int input)
{
    std::lock_guard<std::recursive_mutex> lock(g_m);
    return validInput(input) ? chips().eeproms[input]->hotplug : std::vector<uint16_t>{};
}

void setReceiverAbsent(int input, bool absent)
{
    std::lock_guard<std::recursive_mutex> lock(g_m);
    if (validInput(input))
        chips().receivers[input]->absent = absent;
}

uint8_t audioOutput()
{
    std::lock_guard<std::recursive_mutex> lock(g_m);
    return chips().audio.output();
}

int audioWrites()
{
    std::lock_guard<std::recursive_mutex> lock(g_m);
    return chips().audio.outputWrites;
}

void failAudioWrites(int count)
{
    std::lock_guard<std::recursive_mutex> lock(g_m);
    chips().audio.failWrites = count;
}

void onAudioOutput(std::function<void(uint8_t)> hook)
{
    std::lock_guard<std::recursive_mutex> lock(g_m);
    chips().audio.onOutput = std::move(hook);
}

double clockOutputHz(int path)
{
    std::lock_guard<std::recursive_mutex> lock(g_m);
    return validPath(path) ? chips().clocks[path].outputHz() : 0;
}

bool clockLocked(int path)
{
    std::lock_guard<std::recursive_mutex> lock(g_m);
    return validPath(path) && chips().clocks[path].locked();
}

void setClockAbsent(int path, bool absent)
{
    std::lock_guard<std::recursive_mutex> lock(g_m);
    if (validPath(path))
        chips().clocks[path].absent = absent;
}

}  // namespace inputchips
}  // namespace sim
