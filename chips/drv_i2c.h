// The I2C bus of the input chips ("/dev/i2c-0"): register reads and writes as combined
// I2C_RDWR transfers. One bus for the whole process; every access opens the device on first use.
#pragma once

#include <cstdint>
#include <mutex>

namespace platform {
struct I2cMessage;
}

class drv_i2c {
public:
    static drv_i2c* p_drv_i2c;
    static drv_i2c* pInstance();

    // Write `len` bytes after the one-byte register (or word) address `reg`: one message.
    int i2c_write(uint8_t addr, uint8_t reg, const uint8_t* data, uint16_t len);
    // Write the register address, then read `len` bytes with a repeated start.
    int i2c_read(uint8_t addr, uint8_t reg, uint8_t* data, uint16_t len);
    // One plain write message (devices without register addresses, such as a bus switch).
    int i2c_write_raw(uint8_t addr, const uint8_t* data, uint16_t len);
    int i2c_read_raw(uint8_t addr, uint8_t* data, uint16_t len);

    int write_byte(uint8_t addr, uint8_t reg, uint8_t value) { return i2c_write(addr, reg, &value, 1); }
    int read_byte(uint8_t addr, uint8_t reg, uint8_t* value) { return i2c_read(addr, reg, value, 1); }

    // Held by a caller around a sequence that must not be split (switch channel + device).
    std::recursive_mutex& bus_mutex() { return mutex_; }

    static constexpr uint16_t kMaxWrite = 64;  // longest register write (address byte excluded)

private:
    drv_i2c() = default;
    int fd();
    int transfer(platform::I2cMessage* msgs, unsigned count);

    std::recursive_mutex mutex_;
    int fd_ = -1;
};
