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
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    int f = fd();
    if (f < 0)
        return kFail;
    platform::I2cMessage msgs[2];
    msgs[0].addr = addr;
    msgs[0].read = false;
    msgs[0].len = 1;
    msgs[0].buf = &reg;
    msgs[1].addr = addr;
    msgs[1].read = true;
    msgs[1].len = len;
    msgs[1].buf = data;
    return platform::i2c().transfer(f, msgs, 2) == 2 ? kOk : kFail;
}

int drv_i2c::i2c_write_raw(uint8_t addr, const uint8_t* data, uint16_t len)
{
    if (data == nullptr || len == 0)
        return kFail;
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    int f = fd();
    if (f < 0)
        return kFail;
    platform::I2cMessage msg;
    msg.addr = addr;
    msg.read = false;
    msg.len = len;
    msg.buf = const_cast<uint8_t*>(data);
    return platform::i2c().transfer(f, &msg, 1) == 1 ? kOk : kFail;
}

int drv_i2c::i2c_read_raw(uint8_t addr, uint8_t* data, uint16_t len)
{
    if (data == nullptr || len == 0)
        return kFail;
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    int f = fd();
    if (f < 0)
        return kFail;
    platform::I2cMessage msg;
    msg.addr = addr;
    msg.read = true;
    msg.len = len;
    msg.buf = data;
    return platform::i2c().transfer(f, &msg, 1) == 1 ? kOk : kFail;
}
