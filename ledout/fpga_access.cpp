// Register and RAM access of the two FPGAs: the command word, the register shadows and the
// block transfers of the FPGA RAMs.
#include <QMutexLocker>

#include <algorithm>
#include <cstring>

#include "core/global.h"
#include "core/utils.h"
#include "ledout/fpga_manage.h"
#include "ledout/fpga_para.h"

namespace {

constexpr uint8_t kAccessRam = 1;
constexpr uint8_t kAccessRegister = 2;
constexpr uint32_t kRamSize = 4096;      // bytes of one FPGA RAM
constexpr uint32_t kRamAddressMask = 0x0FFF;

// Register classes.
constexpr int kSoftFirst = 64, kSoftLast = 96;     // held only in the shadow
constexpr int kNoneFirst = 97, kNoneLast = 127;    // no register
bool isSoftRegister(int reg) { return reg >= kSoftFirst && reg <= kSoftLast; }
bool isFpgaRegister(int reg)
{
    return reg >= 0 && reg < fpga_manage::kRegisters && !isSoftRegister(reg) && !(reg >= kNoneFirst && reg <= kNoneLast);
}

constexpr int kRegScreen = 0;
constexpr uint8_t kScreenBlank = 0x04;
constexpr int kRegControl = 2;
constexpr uint8_t kControlRunRecord = 0x04;
constexpr uint8_t kControlStrobe1 = 0x02;
constexpr int kExtendScreenState = 29;

int fpgaIndex(int fpga) { return fpga ? 1 : 0; }
uint8_t merge(uint8_t old, uint8_t mask, uint8_t value) { return uint8_t((old & ~mask) | (value & mask)); }

}  // namespace

uint32_t fpga_manage::fpga_cmd_to_spi_data(uint8_t access, uint8_t ram_id, uint16_t address, uint8_t read)
{
    return uint32_t(read & 1) | uint32_t(access & 0x0F) << 1 | uint32_t(ram_id) << 8 |
           uint32_t(address & kRamAddressMask) << 16;
}

uint32_t fpga_manage::fpga_reg_cmd_to_spi_data(uint8_t access, uint8_t ram_id, uint8_t reg, uint8_t read,
                                               uint8_t mask)
{
    return uint32_t(read & 1) | uint32_t(access & 0x0F) << 1 | uint32_t(ram_id) << 8 | uint32_t(reg) << 16 |
           uint32_t(read ? 0 : mask) << 24;
}

int fpga_manage::fpgaTransaction(int fpga, uint32_t word, const uint8_t* tx, uint8_t* rx, uint32_t length)
{
    const int f = fpgaIndex(fpga);
    const uint8_t bytes[4] = {uint8_t(word), uint8_t(word >> 8), uint8_t(word >> 16), uint8_t(word >> 24)};
    QMutexLocker lock(&Utils::_spi_mutex);
    if (f == 0) {
        lines_.set(GpioLine::cmd_fpga0, kLineHigh);
        lines_.set(GpioLine::cs_fpga0, kLineLow);
        lines_.set(GpioLine::cs_fpga1, kLineHigh);
    } else {
        lines_.set(GpioLine::cmd_fpga1a, kLineHigh);
        lines_.set(GpioLine::cmd_fpga1b, kLineHigh);
        lines_.set(GpioLine::cs_fpga1, kLineLow);
        lines_.set(GpioLine::cs_fpga0, kLineHigh);
    }
    int ok = drv_.SPI_Transfer_Write(drv_.fd(f), bytes, sizeof bytes) > 0;
    if (f == 0) {
        lines_.set(GpioLine::cmd_fpga0, kLineLow);
    } else {
        lines_.set(GpioLine::cmd_fpga1a, kLineLow);
        lines_.set(GpioLine::cmd_fpga1b, kLineLow);
    }
    if (ok && length > 0)
        ok = drv_.SPI_Transfer(drv_.fd(f), tx, rx, length) > 0;
    lines_.set(GpioLine::cs_fpga0, kLineHigh);
    lines_.set(GpioLine::cs_fpga1, kLineHigh);
    return ok;
}

int fpga_manage::read_fpga_register(uint8_t reg, uint8_t* out, int fpga)
{
    const uint8_t tx = 0xFF;
    uint8_t rx = 0;
    int ok = fpgaTransaction(fpga, fpga_reg_cmd_to_spi_data(kAccessRegister, 0, reg, 1, 0), &tx, &rx, 1);
    if (out)
        *out = rx;
    return ok;
}

int fpga_manage::write_fpga_register(uint8_t reg, uint8_t value, int fpga, uint8_t mask)
{
    return fpgaTransaction(fpga, fpga_reg_cmd_to_spi_data(kAccessRegister, 0, reg, 0, mask), &value, nullptr, 1);
}

uint8_t fpga_manage::shadow(int reg, int fpga) const
{
    if (reg < 0 || reg >= kRegisters)
        return 0;
    // A link's pass-through poll writes shadow bytes while other threads read them.
    std::lock_guard<std::mutex> lock(reg_mutex);
    return regShadow_[fpgaIndex(fpga)][reg];
}

void fpga_manage::setShadow(int reg, int fpga, uint8_t value)
{
    if (reg < 0 || reg >= kRegisters)
        return;
    std::lock_guard<std::mutex> lock(reg_mutex);
    regShadow_[fpgaIndex(fpga)][reg] = value;
}

void fpga_manage::read_from_register(int reg, int fpga)
{
    if (!isFpgaRegister(reg))
        return;
    uint8_t value = 0;
    read_fpga_register(uint8_t(reg), &value, fpga);
    setShadow(reg, fpga, value);
}

void fpga_manage::write_to_register(int reg, uint8_t mask, uint8_t value, int fpga)
{
    writeShadowed(reg, mask, value, fpga, true);
}

void fpga_manage::write_to_0x00_register(int reg, uint8_t mask, uint8_t value, int fpga)
{
    writeShadowed(reg, mask, value, fpga, false);
}

void fpga_manage::writeShadowed(int reg, uint8_t mask, uint8_t value, int fpga, bool full)
{
    const int f = fpgaIndex(fpga);
    if (isSoftRegister(reg)) {
        std::lock_guard<std::mutex> lock(reg_mutex);
        regShadow_[f][reg] = merge(regShadow_[f][reg], mask, value);
        return;
    }
    if (!isFpgaRegister(reg))
        return;

    bool runRecord = false;
    int reportClosed = -1;   // the screen word to report once the register is written
    {
        // The whole read-modify-write under one per-FPGA lock, so concurrent writers of the
        // same FPGA lose no bits. The command record runs after it is released: it writes
        // registers itself.
        std::lock_guard<std::mutex> rmw(rmwMutex_[f]);
        read_from_register(reg, f);
        uint8_t byte;
        {
            std::lock_guard<std::mutex> lock(reg_mutex);
            regShadow_[f][reg] = merge(regShadow_[f][reg], mask, value);
            byte = regShadow_[f][reg];
        }
        if (full && reg == kRegControl) {
            if (byte & kControlRunRecord) {
                byte &= uint8_t(~kControlRunRecord);
                runRecord = true;
            }
            if (byte & kControlStrobe1)
                byte &= uint8_t(~kControlStrobe1);
        }
        if (reg == kRegScreen) {
            const bool blank = byte & kScreenBlank;
            ScreenState = blank ? 0 : 1;
            if (full && mask == kScreenBlank)
                reportClosed = blank ? 1 : 0;
            std::lock_guard<std::mutex> lock(reg_mutex);
            MCU_RAM_EXTEND[kExtendScreenState] = ScreenState.load();
        }
        write_fpga_register(uint8_t(reg), byte, f, mask);
    }
    // Not over a user's change of the word that is still on its way here: that one is applied next.
    if (reportClosed >= 0)
        reportShown(ledpara::kScreenClosed, uint16_t(reportClosed));
    if (runRecord)
        Dealwith_mcu_ram();
}

int fpga_manage::write_fpga_ram(const uint8_t* buffer, uint32_t address, uint32_t length, uint8_t ram_id, int fpga)
{
    if (!buffer || length == 0)
        return 0;
    length = std::min(length, kRamSize);
    return fpgaTransaction(fpga, fpga_cmd_to_spi_data(kAccessRam, ram_id, uint16_t(address), 0), buffer, nullptr,
                           length);
}

int fpga_manage::read_fpga_ram(uint8_t* buffer, uint32_t address, uint32_t length, uint8_t ram_id, int fpga)
{
    if (!buffer || length == 0)
        return 0;
    length = std::min(length, kRamSize);
    std::memset(buffer, 0, length);
    std::vector<uint8_t> tx(length, 0xFF);
    return fpgaTransaction(fpga, fpga_cmd_to_spi_data(kAccessRam, ram_id, uint16_t(address), 1), tx.data(), buffer,
                           length);
}

void fpga_manage::write_LCD_register(uint8_t byte, const uint8_t* data, int fpga, uint32_t length)
{
    const int f = fpgaIndex(fpga);
    QMutexLocker lock(&Utils::_spi_mutex);
    drv_.SPI_Transfer_Write(drv_.fd(f), &byte, 1);
    for (uint32_t i = 0; data && i < length; ++i)
        drv_.SPI_Transfer_Write(drv_.fd(f), data + i, 1);
}
