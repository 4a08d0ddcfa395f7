// I2C user-space device (i2c-dev) with combined I2C_RDWR transfers.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace platform {

struct I2cMessage {
    uint16_t addr = 0;      // 7-bit address
    bool read = false;      // I2C_M_RD
    uint16_t len = 0;
    uint8_t* buf = nullptr;
};

class I2cBus {
public:
    virtual ~I2cBus() = default;
    virtual int open(const std::string& devicePath) = 0;  // "/dev/i2c-0"; -1 on failure
    virtual int close(int fd) = 0;
    // I2C_RDWR: all messages with repeated starts. Returns the number of messages done or -1
    // (a device that does not acknowledge fails the whole transfer).
    virtual int transfer(int fd, I2cMessage* msgs, unsigned count) = 0;
};

class I2cDevBus : public I2cBus {
public:
    int open(const std::string& devicePath) override;
    int close(int fd) override;
    int transfer(int fd, I2cMessage* msgs, unsigned count) override;
};

// A device on the simulated bus: one call per message; false = no acknowledge.
class I2cDeviceModel {
public:
    virtual ~I2cDeviceModel() = default;
    virtual bool i2cWrite(const uint8_t* data, uint16_t len) = 0;
    virtual bool i2cRead(uint8_t* data, uint16_t len) = 0;
    // Called once after the last message of a combined transfer (the stop condition).
    virtual void i2cStop() {}
};

class SimI2cBus : public I2cBus {
public:
    // Attaches a model at a 7-bit address. A model that stands behind a switch decides itself
    // whether it answers (for example by asking the switch model which channel is open).
    void attach(uint16_t addr, I2cDeviceModel* model);
    void detach(uint16_t addr);

    int open(const std::string& devicePath) override;
    int close(int fd) override;
    int transfer(int fd, I2cMessage* msgs, unsigned count) override;

private:
    std::recursive_mutex m_;
    std::map<uint16_t, I2cDeviceModel*> models_;
    int next_ = 2000;
};

}  // namespace platform
