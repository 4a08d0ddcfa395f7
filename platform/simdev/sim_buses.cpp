// The simulated SPI and I2C buses: each transfer goes to the model attached under the device
// path (SPI) or the address (I2C), exactly as the driver sent it.
#include "platform/i2c.h"
#include "platform/spi.h"

namespace platform {

void SimSpiBus::attach(const std::string& devicePath, SpiDeviceModel* model)
{
    std::lock_guard<std::mutex> lock(m_);
    models_[devicePath] = model;
}

void SimSpiBus::detach(const std::string& devicePath)
{
    std::lock_guard<std::mutex> lock(m_);
    models_.erase(devicePath);
}

int SimSpiBus::open(const std::string& devicePath)
{
    std::lock_guard<std::mutex> lock(m_);
    if (!models_.count(devicePath))
        return -1;
    int fd = next_++;
    open_[fd] = devicePath;
    return fd;
}

int SimSpiBus::close(int fd)
{
    std::lock_guard<std::mutex> lock(m_);
    return open_.erase(fd) ? 0 : -1;
}

int SimSpiBus::configure(int fd, uint8_t mode, uint8_t bits, uint32_t maxSpeedHz)
{
    std::lock_guard<std::mutex> lock(m_);
    auto it = open_.find(fd);
    if (it == open_.end())
        return -1;
    setups_[it->second] = Setup{mode, bits, maxSpeedHz};
    return 0;
}

SimSpiBus::Setup SimSpiBus::setup(const std::string& devicePath) const
{
    std::lock_guard<std::mutex> lock(m_);
    auto it = setups_.find(devicePath);
    return it == setups_.end() ? Setup{} : it->second;
}

int SimSpiBus::transfer(int fd, const SpiTransfer* xfers, unsigned count)
{
    SpiDeviceModel* model = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_);
        auto it = open_.find(fd);
        if (it == open_.end())
            return -1;
        auto m = models_.find(it->second);
        if (m == models_.end())
            return -1;
        model = m->second;
    }
    if (!model->spiMessage(xfers, count))
        return -1;
    int total = 0;
    for (unsigned i = 0; i < count; ++i)
        total += static_cast<int>(xfers[i].len);
    return total;
}

void SimI2cBus::attach(uint16_t addr, I2cDeviceModel* model)
{
    std::lock_guard<std::recursive_mutex> lock(m_);
    models_[addr] = model;
}

void SimI2cBus::detach(uint16_t addr)
{
    std::lock_guard<std::recursive_mutex> lock(m_);
    models_.erase(addr);
}

int SimI2cBus::open(const std::string& devicePath)
{
    std::lock_guard<std::recursive_mutex> lock(m_);
    return devicePath.rfind("/dev/i2c-", 0) == 0 ? next_++ : -1;
}

int SimI2cBus::close(int) { return 0; }

int SimI2cBus::transfer(int, I2cMessage* msgs, unsigned count)
{
    // One bus: a combined transfer is not interleaved with another one.
    std::lock_guard<std::recursive_mutex> lock(m_);
    std::vector<I2cDeviceModel*> touched;
    int done = 0;
    for (unsigned i = 0; i < count; ++i) {
        auto it = models_.find(msgs[i].addr);
        bool ack = false;
        if (it != models_.end()) {
            ack = msgs[i].read ? it->second->i2cRead(msgs[i].buf, msgs[i].len)
                               : it->second->i2cWrite(msgs[i].buf, msgs[i].len);
            touched.push_back(it->second);
        }
        if (!ack) {
            done = -1;
            break;
        }
        ++done;
    }
    for (I2cDeviceModel* m : touched)
        m->i2cStop();
    return done;
}

}  // namespace platform
