#include "chips/drv_i2c.h"

#include <cstring>

#include "core/global.h"
#include "platform/i2c.h"
#include "platform/platform.h"

drv_i2c* drv_i2c::p_drv_i2c = nullptr;

namespace {
const char* const kI2cDevice = "/dev/i2c-0";
constexpr int kOk = 0;
constexpr int kFail = 255;

platform::I2cMessage message(uint8_t addr, bool read, uint8_t* buf, uint16_t len)
{
    platform::I2cMessage m;
    m.addr = addr;
    m.read = read;
    m.len = len;
    m.buf = buf;
    return m;
}
}  // namespace

drv_i2c* drv_i2c::pInstance()
{
    if (p_drv_i2c == nullptr)
        p_drv_i2c = new drv_i2c();
    return p_drv_i2c;
}

int drv_i2c::fd()
{
    if (fd_ < 0) {
        fd_ = platform::i2c().open(kI2cDevice);
        if (fd_ < 0)
            ZEL_DEBUG("\n [drv_i2c] can't open %s\n", kI2cDevice);
    }
    return fd_;
}

int drv_i2c::i2c_write(uint8_t addr, uint8_t reg, const uint8_t* data, uint16_t len)
{
    if (len > kMaxWrite || (len > 0 && data == nullptr))
        return kFail;
    uint8_t buf[kMaxWrite + 1];
    buf[0] = reg;
    if (len > 0)
        std::memcpy(buf + 1, data, len);
    return i2c_write_raw(addr, buf, static_cast<uint16_t>(len + 1));
}

int drv_i2c::i2c_read(uint8_t addr, uint8_t reg, uint8_t* data, uint16_t len)
{
    if (data == nullptr || len == 0)
        return kFail;
    platform::I2cMessage msgs[2] = {message(addr, false, &reg, 1), message(addr, true, data, len)};
    return transfer(msgs, 2);
}

int drv_i2c::i2c_write_raw(uint8_t addr, const uint8_t* data, uint16_t len)
{
    if (data == nullptr || len == 0)
        return kFail;
    platform::I2cMessage msg = message(addr, false, const_cast<uint8_t*>(data), len);
    return transfer(&msg, 1);
}

int drv_i2c::i2c_read_raw(uint8_t addr, uint8_t* data, uint16_t len)
{
    if (data == nullptr || len == 0)
        return kFail;
    platform::I2cMessage msg = message(addr, true, data, len);
    return transfer(&msg, 1);
}

// All messages as one combined transfer; 0 only when every one was acknowledged.
int drv_i2c::transfer(platform::I2cMessage* msgs, unsigned count)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    int f = fd();
    if (f < 0)
        return kFail;
    return platform::i2c().transfer(f, msgs, count) == int(count) ? kOk : kFail;
}
