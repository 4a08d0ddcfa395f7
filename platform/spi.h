// SPI user-space devices (spidev). Descriptors are ints as on the board; the simulated bus hands
// each transfer to the device model attached under the device path.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

// One segment of an SPI_IOC_MESSAGE: tx and/or rx (either may be null), length, clock.
struct SpiTransfer {
    const uint8_t* tx = nullptr;
    uint8_t* rx = nullptr;
    uint32_t len = 0;
    uint32_t speed_hz = 0;
    uint8_t bits_per_word = 8;
    bool cs_change = false;
};

class SpiBus {
public:
    virtual ~SpiBus() = default;
    // Opens "/dev/spidevB.C" (a system path; the root is applied by the backend). -1 on failure.
    virtual int open(const std::string& devicePath) = 0;
    virtual int close(int fd) = 0;
    // SPI_IOC_WR_MODE / BITS_PER_WORD / MAX_SPEED_HZ. 0 or -1.
    virtual int configure(int fd, uint8_t mode, uint8_t bits, uint32_t maxSpeedHz) = 0;
    // SPI_IOC_MESSAGE(n): one chip-select assertion over all segments. Returns the number of
    // bytes moved, or -1.
    virtual int transfer(int fd, const SpiTransfer* xfers, unsigned count) = 0;
};

class SpidevBus : public SpiBus {
public:
    int open(const std::string& devicePath) override;
    int close(int fd) override;
    int configure(int fd, uint8_t mode, uint8_t bits, uint32_t maxSpeedHz) override;
    int transfer(int fd, const SpiTransfer* xfers, unsigned count) override;
};

// A device on the simulated bus. It sees exactly what the driver sends: one call per message,
// with all its segments, while the chip select is asserted.
class SpiDeviceModel {
public:
    virtual ~SpiDeviceModel() = default;
    // Fill the rx buffers; return false to make the transfer fail (-1).
    virtual bool spiMessage(const SpiTransfer* xfers, unsigned count) = 0;
};

class SimSpiBus : public SpiBus {
public:
    // Attaches a model under a system device path ("/dev/spidev32766.0"). Not owned.
    void attach(const std::string& devicePath, SpiDeviceModel* model);
    void detach(const std::string& devicePath);

    int open(const std::string& devicePath) override;
    int close(int fd) override;
    int configure(int fd, uint8_t mode, uint8_t bits, uint32_t maxSpeedHz) override;
    int transfer(int fd, const SpiTransfer* xfers, unsigned count) override;

    // Configuration last set on a path (tests check mode 3, 8 bits).
    struct Setup { uint8_t mode = 0; uint8_t bits = 8; uint32_t maxSpeedHz = 0; };
    Setup setup(const std::string& devicePath) const;

private:
    mutable std::mutex m_;
    std::map<std::string, SpiDeviceModel*> models_;
    std::map<std::string, Setup> setups_;
    std::map<int, std::string> open_;
    int next_ = 1000;
};

}  // namespace platform
