#include "ledout/fpga_drv.h"

#include <QMutexLocker>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "core/global.h"
#include "core/utils.h"
#include "core/worker_stop.h"
#include "ledout/fpga_lines.h"
#include "platform/platform.h"
#include "platform/spi.h"

namespace {

constexpr const char* kDevicePath[fpga_drv::kDevices] = {
    "/dev/spidev32766.1",  // FPGA 0
    "/dev/spidev32766.2",  // FPGA 1
    "/dev/spidev32766.3",  // flash 2, behind FPGA 0
    "/dev/spidev32766.4",  // flash 3, behind FPGA 1
};
constexpr uint8_t kSpiMode3 = 3;
constexpr uint8_t kBitsPerWord = 8;

// Serial-flash command set.
constexpr uint8_t kFlashWriteEnable = 0x06;
constexpr uint8_t kFlashReadStatus = 0x05;
constexpr uint8_t kFlashPageProgram = 0x02;
constexpr uint8_t kFlashFastRead = 0x0B;
constexpr uint8_t kFlashReadUid = 0x4B;
constexpr uint8_t kFlashWriteStatus1 = 0x01;
constexpr uint8_t kFlashWriteStatus2 = 0x31;
constexpr uint8_t kFlashBusy = 0x01;

// With twice the worst case of common serial NOR flashes for one unit (4 KB 400 ms, 32 KB 1.6 s,
// 64 KB 2 s), as the video chip's flash has: an erase's waits give up after it.
struct EraseMode {
    uint8_t opcode;
    uint32_t sectors;
    uint32_t maxMs;
};
constexpr EraseMode kEraseModes[] = {
    {0x20, 1, 800},    // 4 KB sector
    {0x52, 8, 3200},   // 32 KB block
    {0xD8, 16, 4000},  // 64 KB block
};
// Between two status polls of an erase: short against a unit's typical time (45 ms and more).
constexpr unsigned kErasePollPauseUs = 100;

constexpr uint32_t kReadHead = 5;   // opcode, 3 address bytes, dummy byte
constexpr uint32_t kProgramHead = fpga_drv::kWriteRoom;  // opcode, 3 address bytes
constexpr uint32_t kUidExchange = 13;
constexpr uint32_t kUidLength = 8;

bool inFlash(uint32_t address, uint32_t length)
{
    return length != 0 && uint64_t(address) + length <= fpga_drv::kFlashSize;
}

int ownerIndex(int device) { return device == 2 ? 0 : 1; }

}  // namespace

// ---- one owner per flash device --------------------------------------------------------------------

bool FlashOwner::take(std::chrono::milliseconds bound)
{
    std::unique_lock<std::mutex> lock(m_);
    if (mine() || (depth_ == 0 && waiting_.empty())) {
        owner_ = std::this_thread::get_id();
        ++depth_;
        return true;
    }
    const uint64_t ticket = nextTicket_++;
    waiting_.push_back(ticket);
    const bool got = cv_.wait_for(lock, bound, [&] { return depth_ == 0 && waiting_.front() == ticket; });
    if (!got) {
        waiting_.erase(std::find(waiting_.begin(), waiting_.end(), ticket));
        cv_.notify_all();   // the next in line may be free to go now
        return false;
    }
    waiting_.pop_front();
    owner_ = std::this_thread::get_id();
    depth_ = 1;
    return true;
}

bool FlashOwner::tryTake() { return take(std::chrono::milliseconds(0)); }

void FlashOwner::give()
{
    std::lock_guard<std::mutex> lock(m_);
    if (!mine())
        return;
    if (--depth_ == 0) {
        owner_ = std::thread::id();
        cv_.notify_all();
    }
}

size_t FlashOwner::waiters()
{
    std::lock_guard<std::mutex> lock(m_);
    return waiting_.size();
}

bool fpga_drv::takeFlash(int device, uint32_t boundMs)
{
    return owners_[ownerIndex(device)].take(std::chrono::milliseconds(boundMs));
}

void fpga_drv::giveFlash(int device) { owners_[ownerIndex(device)].give(); }

size_t fpga_drv::flashWaiters(int device) { return owners_[ownerIndex(device)].waiters(); }

fpga_drv::fpga_drv(FpgaLines& lines) : lines_(lines)
{
    writeLogMsg(LOG_BANNER, "====fpga_drv::fpga_drv()=====");
}

void fpga_drv::setFd(int index, int fd)
{
    if (index >= 0 && index < kDevices)
        fd_[index] = fd;
}

int fpga_drv::initialize_vbyne1(int index)
{
    if (index < 0 || index >= kDevices)
        return -1;
    int fd = platform::spi().open(kDevicePath[index]);
    // Set up only a device that opened: the set-up's failure names the error of its own call.
    if (fd < 0) {
        ZEL_DEBUG("\n fpga_drv: can't open %s", kDevicePath[index]);
    } else {
        ZEL_DEBUG("\n fpga_drv SPI - Open Succeed. Start Init SPI...");
        if (platform::spi().configure(fd, kSpiMode3, kBitsPerWord, kSpeedHz) != 0)
            perror("can't set spi mode");
    }
    fd_[index] = fd;
    return fd;
}

int fpga_drv::SPI_Transfer(int fd, const uint8_t* tx, uint8_t* rx, uint32_t length)
{
    platform::SpiTransfer xfer;
    xfer.tx = tx;
    xfer.rx = rx;
    xfer.len = length;
    xfer.speed_hz = kSpeedHz;
    xfer.bits_per_word = kBitsPerWord;
    int result = platform::spi().transfer(fd, &xfer, 1);
    if (result <= 0) {
        perror("can't send spi message\n");
        return -1;
    }
    return result;
}

int fpga_drv::SPI_Transfer_Write(int fd, const uint8_t* tx, uint32_t length)
{
    return SPI_Transfer(fd, tx, nullptr, length);
}

int fpga_drv::FPGA_SPI_WAIT_BUSY(int fd)
{
    for (int poll = 0; poll < kBusyPollLimit; ++poll) {
        const uint8_t tx[2] = {kFlashReadStatus, 0xFF};
        uint8_t rx[2] = {0, 0};
        if (SPI_Transfer(fd, tx, rx, 2) <= 0)
            return 0;
        if (!(rx[1] & kFlashBusy))
            return 1;
    }
    ZEL_DEBUG("\n flash stays busy\n");
    return 0;
}

void fpga_drv::selectFlash(int device)
{
    if (device == 2) {
        lines_.set(GpioLine::cs_fpga1, kLineHigh);
        lines_.set(GpioLine::cs_fpga0, kLineLow);
        lines_.set(GpioLine::sel_flash2, kLineLow);
    } else {
        lines_.set(GpioLine::cs_fpga0, kLineHigh);
        lines_.set(GpioLine::cs_fpga1, kLineLow);
        lines_.set(GpioLine::sel_flash3a, kLineLow);
        lines_.set(GpioLine::sel_flash3b, kLineLow);
    }
}

void fpga_drv::deselectFlash(int device)
{
    if (device == 2) {
        lines_.set(GpioLine::sel_flash2, kLineHigh);
    } else {
        lines_.set(GpioLine::sel_flash3a, kLineHigh);
        lines_.set(GpioLine::sel_flash3b, kLineHigh);
    }
    lines_.set(GpioLine::cs_fpga0, kLineHigh);
    lines_.set(GpioLine::cs_fpga1, kLineHigh);
}

bool fpga_drv::waitReady(int device, int fd, uint32_t boundMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    for (;;) {
        // Judged before the poll: a thread held up past the bound still polls once more.
        const bool late = std::chrono::steady_clock::now() >= end;
        const uint8_t tx[2] = {kFlashReadStatus, 0xFF};
        uint8_t rx[2] = {0, 0};
        int moved;
        {
            QMutexLocker lock(&Utils::_spi_mutex);
            selectFlash(device);
            moved = SPI_Transfer(fd, tx, rx, 2);
            deselectFlash(device);
        }
        if (moved <= 0)
            return false;
        if (!(rx[1] & kFlashBusy))
            return true;
        if (late) {
            ZEL_DEBUG("\n flash stays busy\n");
            return false;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(kErasePollPauseUs));
    }
}

bool fpga_drv::eraseUnit(int device, int fd, uint8_t opcode, uint32_t address, uint32_t boundMs)
{
    FlashHold hold(*this, device);
    if (!hold || !waitReady(device, fd, boundMs))
        return false;
    int ok;
    {
        QMutexLocker lock(&Utils::_spi_mutex);
        selectFlash(device);
        const uint8_t command[4] = {opcode, uint8_t(address >> 16), uint8_t(address >> 8), 0};
        const uint8_t wren = kFlashWriteEnable;
        ok = SPI_Transfer_Write(fd, &wren, 1) > 0 && FPGA_SPI_WAIT_BUSY(fd) &&
             SPI_Transfer_Write(fd, command, sizeof command) > 0;
        deselectFlash(device);
    }
    return ok && waitReady(device, fd, boundMs);
}

int fpga_drv::FPGA_SPI_FLASH_VBYONE_ERASE(int device, uint32_t first_sector, int mode, uint32_t count)
{
    if (mode < 0 || mode > 2)
        return 0;
    const EraseMode& m = kEraseModes[mode];
    if (uint64_t(first_sector) + uint64_t(count) * m.sectors > kSectors)
        return 0;
    device = device == 2 ? 2 : 3;
    int fd = flashFd(device);

    // The bus is taken for each command and each status poll, never across the time a unit
    // takes: the FPGAs' registers and the video chip share the bus meanwhile. The flash's path is
    // deselected whenever the bus is free, so their transfers never reach it. The device is held
    // for each unit, so the box's own records get their turn between two units of a long erase.
    if (count == 0) {
        FlashHold hold(*this, device);
        return hold && waitReady(device, fd, m.maxMs) ? 1 : 0;
    }
    uint32_t address = first_sector * kSectorSize;
    for (uint32_t unit = 0; unit < count; ++unit) {
        // A box being stopped does not wait out an erase of many units: it ends between two, and
        // leaves the flash as a power cut there would.
        if (unit > 0 && stopRequested())
            return 0;
        if (!eraseUnit(device, fd, m.opcode, address, m.maxMs))
            return 0;
        address += m.sectors * kSectorSize;
    }
    return 1;
}

int fpga_drv::FPGA_SPI_FLASH_VBYONE_WRITE(int device, uint32_t address, uint8_t* buffer, uint32_t length)
{
    if (!buffer || !inFlash(address, length))
        return 0;
    device = device == 2 ? 2 : 3;
    int fd = flashFd(device);
    FlashHold hold(*this, device);
    if (!hold || !waitReady(device, fd, kReadyBoundMs))
        return 0;

    // As an erase: the bus is taken for each page's commands and each status poll, never across
    // the time a page program takes (up to milliseconds, so a 64 KB write holds the bus for
    // up to a second otherwise); the device stays held for the whole write.
    bool ok = true;
    uint32_t done = 0;
    while (ok && done < length) {
        uint32_t room = kPageSize - (address % kPageSize);
        uint32_t piece = std::min(room, length - done);
        // The page command goes into the 4 bytes in front of the piece (already sent data or
        // the caller's free bytes), so the piece leaves in one transfer.
        uint8_t* head = buffer + done;
        head[0] = kFlashPageProgram;
        head[1] = uint8_t(address >> 16);
        head[2] = uint8_t(address >> 8);
        head[3] = uint8_t(address);
        {
            QMutexLocker lock(&Utils::_spi_mutex);
            selectFlash(device);
            const uint8_t wren = kFlashWriteEnable;
            ok = SPI_Transfer_Write(fd, &wren, 1) > 0 && SPI_Transfer_Write(fd, head, piece + kProgramHead) > 0;
            deselectFlash(device);
        }
        ok = ok && waitReady(device, fd, kReadyBoundMs);
        done += piece;
        address += piece;
    }
    return ok ? 1 : 0;
}

int fpga_drv::writeCopy(int device, uint32_t address, const uint8_t* data, uint32_t length)
{
    if (!data)
        return 0;
    std::vector<uint8_t> framed(kWriteRoom + length);
    std::copy(data, data + length, framed.begin() + kWriteRoom);
    return FPGA_SPI_FLASH_VBYONE_WRITE(device, address, framed.data(), length);
}

int fpga_drv::FPGA_SPI_FLASH_VBYONE_READ(int device, uint32_t address, uint32_t length, uint8_t* buffer)
{
    if (!buffer || !inFlash(address, length))
        return 0;
    device = device == 2 ? 2 : 3;
    int fd = flashFd(device);
    std::memset(buffer, 0, length);
    std::vector<uint8_t> tx(kReadPiece + kReadHead, 0xFF);
    std::vector<uint8_t> rx(kReadPiece + kReadHead);
    // A busy part does not answer a read: its data line says nothing.
    FlashHold hold(*this, device);
    if (!hold || !waitReady(device, fd, kReadyBoundMs))
        return 0;

    QMutexLocker lock(&Utils::_spi_mutex);
    selectFlash(device);
    int ok = 1;
    uint32_t done = 0;
    while (ok && done < length) {
        uint32_t piece = std::min(kReadPiece, length - done);
        uint32_t at = address + done;
        tx[0] = kFlashFastRead;
        tx[1] = uint8_t(at >> 16);
        tx[2] = uint8_t(at >> 8);
        tx[3] = uint8_t(at);
        tx[4] = 0xFF;
        std::fill(rx.begin(), rx.end(), 0);
        ok = SPI_Transfer(fd, tx.data(), rx.data(), piece + kReadHead) > 0;
        if (ok)
            std::memcpy(buffer + done, rx.data() + kReadHead, piece);
        done += piece;
    }
    deselectFlash(device);
    return ok;
}

int fpga_drv::FPGA_SPI_FLASH_SSTF016B_RD_UID(int device, uint8_t* buffer)
{
    if (!buffer)
        return 0;
    device = device == 2 ? 2 : 3;
    uint8_t tx[kUidExchange];
    uint8_t rx[kUidExchange] = {};
    std::memset(tx, 0xFF, sizeof tx);
    tx[0] = kFlashReadUid;
    std::memset(tx + 1, 0x00, 4);
    std::memset(buffer, 0, kUidLength);
    FlashHold hold(*this, device);
    if (!hold || !waitReady(device, flashFd(device), kReadyBoundMs))
        return 0;

    QMutexLocker lock(&Utils::_spi_mutex);
    selectFlash(device);
    int ok = SPI_Transfer(flashFd(device), tx, rx, kUidExchange) > 0;
    deselectFlash(device);
    std::memcpy(buffer, rx + kUidExchange - kUidLength, kUidLength);
    return ok;
}

void fpga_drv::FPGA_SPI_Disable_WP(int fd)
{
    auto write = [&](std::initializer_list<uint8_t> bytes) {
        std::vector<uint8_t> tx(bytes);
        SPI_Transfer_Write(fd, tx.data(), uint32_t(tx.size()));
    };
    auto exchange = [&](uint8_t a, uint8_t b) {
        const uint8_t tx[2] = {a, b};
        uint8_t rx[2] = {0, 0};
        SPI_Transfer(fd, tx, rx, 2);
        ZEL_DEBUG("\n flash status %02x\n", rx[1]);
    };
    write({kFlashWriteEnable});
    write({kFlashWriteStatus1, 0xFF, 0xFF});
    exchange(0xFF, 0xFF);
    write({kFlashWriteEnable});
    write({kFlashWriteStatus2, 0x00});
    write({kFlashWriteEnable});
    exchange(0xFF, 0x00);
    write({kFlashWriteEnable});
    exchange(0xFF, 0x00);
    exchange(0xFF, 0x00);
}
