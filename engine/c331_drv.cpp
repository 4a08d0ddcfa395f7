#include "engine/c331_drv.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/global.h"
#include "core/utils.h"
#include "engine/c331_select.h"
#include "platform/platform.h"
#include "platform/spi.h"

namespace {

constexpr uint8_t kSpiMode3 = 3;
constexpr uint8_t kBitsPerWord = 8;
constexpr uint32_t kMaxBytesPerValue = 4;

int transferOnce(int fd, const uint8_t* tx, uint8_t* rx, int len, uint32_t speed)
{
    if (len <= 0)
        return 0;
    platform::SpiTransfer t;
    t.tx = tx;
    t.rx = rx;
    t.len = static_cast<uint32_t>(len);
    t.speed_hz = speed;
    t.bits_per_word = kBitsPerWord;
    int ret;
    {
        QMutexLocker lock(&Utils::_spi_mutex);
        c331RouteBusToChip();
        ret = platform::spi().transfer(fd, &t, 1);
    }
    // Printed whatever the debug switch says: a failed transfer is otherwise silent, since no
    // register access checks its result.
    if (ret <= 0) {
        const int err = errno;
        std::fprintf(stderr, "can't send spi message\n: %s\n", std::strerror(err));
    }
    return ret;
}

}  // namespace

c331_drv::c331_drv() : bank_(-1) {}

void c331_drv::init_reg_acc_param()
{
    QMutexLocker lock(&Utils::_c331_bnk_mutex);
    bank_ = -1;
    second_ = 0;
}

int c331_drv::initialize()
{
    c331AttachBusLines();
    int fd = platform::spi().open(kC331SpiDevice);
    if (fd < 0) {
        ZEL_DEBUG("can't open device %s\n", kC331SpiDevice);
        return -1;
    }
    platform::spi().configure(fd, kSpiMode3, kBitsPerWord, kWriteSpeedHz);
    return fd;
}

int c331_drv::SPI_Transfer(int fd, const uint8_t* tx, uint8_t* rx, int len)
{
    return transferOnce(fd, tx, rx, len, kReadSpeedHz);
}

int c331_drv::SPI_Transfer_Write(int fd, const uint8_t* tx, int len)
{
    return transferOnce(fd, tx, nullptr, len, kWriteSpeedHz);
}

bool c331_drv::selectBank(int fd, uint32_t id, uint32_t bankOffset)
{
    int bank = static_cast<int>((c331Bank(id) + bankOffset) & 0xFF);
    if (bank == bank_)
        return true;
    const uint8_t frame[2] = {static_cast<uint8_t>(kWriteFlag | kBankSelectAddr), static_cast<uint8_t>(bank)};
    if (SPI_Transfer_Write(fd, frame, 2) <= 0) {
        // The chip may or may not have taken the select: make the next access select again.
        bank_ = -1;
        return false;
    }
    bank_ = bank;
    return true;
}

void c331_drv::writeLocked(int fd, uint32_t id, uint32_t value, uint32_t bankOffset)
{
    selectBank(fd, id, bankOffset);
    const uint32_t addr = c331Addr(id);
    const uint32_t count = c331Count(id);
    for (uint32_t k = 0; k < count; ++k) {
        // Address 0 of the next bank would be reached through the bank-select register: stop.
        if (addr + k > kAddrMask)
            break;
        const uint8_t byte = k < kMaxBytesPerValue ? static_cast<uint8_t>(value >> (8 * k)) : 0;
        const uint8_t frame[2] = {static_cast<uint8_t>(kWriteFlag | (addr + k)), byte};
        const int ret = SPI_Transfer_Write(fd, frame, 2);
        // Address 0 is the bank register in every bank: the chip now sits in the written bank
        // (or, after a failed transfer, in one we cannot know).
        if (addr + k == kBankSelectAddr)
            bank_ = ret > 0 ? byte : -1;
    }
}

uint32_t c331_drv::readLocked(int fd, uint32_t id, uint32_t bankOffset)
{
    selectBank(fd, id, bankOffset);
    const uint32_t addr = c331Addr(id);
    const uint32_t count = c331Count(id);
    uint32_t result = 0;
    for (uint32_t k = 0; k < count; ++k) {
        if (addr + k > kAddrMask)
            break;
        const uint8_t tx[2] = {static_cast<uint8_t>((addr + k) & kAddrMask), kReadFiller};
        uint8_t rx[2] = {0, 0};
        SPI_Transfer(fd, tx, rx, 2);
        if (k < kMaxBytesPerValue)
            result |= static_cast<uint32_t>(rx[1]) << (8 * k);
    }
    return result;
}

void c331_drv::write_C331(int fd, uint32_t id, uint32_t value, uint32_t bankOffset)
{
    QMutexLocker lock(&Utils::_c331_bnk_mutex);
    writeLocked(fd, id, value, bankOffset);
}

uint32_t c331_drv::read_C331(int fd, uint32_t id, uint32_t bankOffset)
{
    QMutexLocker lock(&Utils::_c331_bnk_mutex);
    return readLocked(fd, id, bankOffset);
}

void c331_drv::write_c331_mask(int fd, uint32_t id, uint32_t value, uint32_t mask, uint32_t bankOffset)
{
    QMutexLocker lock(&Utils::_c331_bnk_mutex);
    const uint32_t old = readLocked(fd, id, bankOffset);
    writeLocked(fd, id, (old & ~mask) | (value & mask), bankOffset);
}
