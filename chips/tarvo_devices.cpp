#include "chips/tarvo_devices.h"

#include <unistd.h>

#include <cstring>

#include "chips/drv_i2c.h"

namespace tarvo_dev {

namespace {

constexpr int kOk = 0;
constexpr int kFail = 255;

// Write-cycle wait: acknowledge polling every millisecond, at most 10 ms (the EEPROM needs 5).
constexpr int kWriteCyclePolls = 10;
constexpr unsigned kWriteCyclePollUs = 1000;

// Output-path clock: 25 MHz x 1188 / 25 = 1188 MHz VCO, / 8 = 148.5 MHz.
constexpr uint16_t kClockN = 1188;
constexpr uint8_t kClockM = 25;
constexpr uint8_t kClockOutDiv = 8;
constexpr uint8_t kClockDividerReg = 0x10;
constexpr uint8_t kClockControlReg = 0x20;
constexpr uint8_t kClockStatusReg = 0x21;
constexpr uint8_t kClockStart = 0x01;
constexpr uint8_t kClockLockedBit = 0x01;

drv_i2c& bus() { return *drv_i2c::pInstance(); }

bool valid_path(int path) { return path == 0 || path == 1; }

// Waits until the EEPROM acknowledges again after a page write.
int wait_write_cycle()
{
    uint8_t probe = 0;
    for (int k = 0; k < kWriteCyclePolls; ++k) {
        usleep(kWriteCyclePollUs);
        if (bus().i2c_write_raw(kEepromAddr, &probe, 1) == kOk)
            return kOk;
    }
    return kFail;
}

}  // namespace

int select_channel(int input)
{
    if (input < 0 || input > 7)
        return kFail;
    uint8_t control = uint8_t(1u << input);
    return bus().i2c_write_raw(kSwitchAddr, &control, 1);
}

int close_channels()
{
    uint8_t control = 0;
    return bus().i2c_write_raw(kSwitchAddr, &control, 1);
}

int eeprom_program(const uint8_t data[kEepromSize])
{
    for (int page = 0; page < kEepromSize; page += kEepromPage) {
        if (bus().i2c_write(kEepromAddr, uint8_t(page), data + page, kEepromPage) != kOk)
            return kFail;
        if (wait_write_cycle() != kOk)
            return kFail;
    }
    uint8_t back[kEepromSize];
    if (eeprom_read(back) != kOk)
        return kFail;
    return std::memcmp(back, data, kEepromSize) == 0 ? kOk : kFail;
}

int eeprom_read(uint8_t data[kEepromSize])
{
    return bus().i2c_read(kEepromAddr, 0, data, kEepromSize);
}

int audio_write(uint8_t value)
{
    if (bus().write_byte(kAudioAddr, kAudioDirectionReg, 0x00) != kOk)
        return kFail;
    return bus().write_byte(kAudioAddr, kAudioOutputReg, value);
}

int clock_configure(int path)
{
    if (!valid_path(path))
        return kFail;
    const uint8_t dividers[4] = {uint8_t(kClockN & 0xFF), uint8_t(kClockN >> 8), kClockM, kClockOutDiv};
    if (bus().i2c_write(kClockAddr[path], kClockDividerReg, dividers, sizeof(dividers)) != kOk)
        return kFail;
    return bus().write_byte(kClockAddr[path], kClockControlReg, kClockStart);
}

int clock_locked(int path, bool& locked)
{
    uint8_t status = 0;
    if (!valid_path(path) || bus().read_byte(kClockAddr[path], kClockStatusReg, &status) != kOk)
        return kFail;
    locked = (status & kClockLockedBit) != 0;
    return kOk;
}

}  // namespace tarvo_dev
