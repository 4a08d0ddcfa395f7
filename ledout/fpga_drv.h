// The SPI device layer of the output FPGAs and of the two serial flash devices behind them:
// device set-up, full-duplex and write-only transfers, and the flash commands (erase, program,
// read, unique id). Flash operations frame themselves with the FPGAs' select lines and hold
// Utils::_spi_mutex for their whole run, except an erase and a write: they take the bus for each
// command (a write: each page's) and each status poll, so an erase of many units (seconds each on
// the board at worst) or a 64 KB write (256 page programs) holds no other user of the bus for
// longer than one transfer.
//
// Each flash device has one owner at a time: every operation holds its device (an erase: for each
// unit), and a caller whose work is several operations (a record's erase and write) holds it
// across them with a FlashHold, so the box's own records and the clients' commands never meet
// inside one another's work while the bus is free. Every operation first waits, within a bound,
// for the part to be ready: a busy part takes no command but the status read.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>

// One owner at a time, waited for in the order the waiters came; the owner's thread may take it
// again (it counts).
class FlashOwner {
public:
    // False when it stayed held by another past `bound`.
    bool take(std::chrono::milliseconds bound);
    // Only when nobody holds it or waits for it (or this thread holds it).
    bool tryTake();
    void give();
    // Callers waiting for it (for tests).
    size_t waiters();

private:
    bool mine() const { return depth_ > 0 && owner_ == std::this_thread::get_id(); }

    std::mutex m_;
    std::condition_variable cv_;
    std::thread::id owner_;
    int depth_ = 0;
    uint64_t nextTicket_ = 0;
    std::deque<uint64_t> waiting_;
};

class FpgaLines;

class fpga_drv {
public:
    static constexpr int kDevices = 4;              // FPGA 0, FPGA 1, flash 2, flash 3
    static constexpr uint32_t kFlashSize = 0x800000;
    static constexpr uint32_t kSectorSize = 4096;
    static constexpr uint32_t kSectors = kFlashSize / kSectorSize;
    static constexpr uint32_t kPageSize = 256;
    static constexpr uint32_t kReadPiece = 2048;
    // Free bytes in front of the data of a flash write: each piece's page command goes there.
    static constexpr uint32_t kWriteRoom = 4;
    static constexpr uint32_t kSpeedHz = 10000000;
    // Polls of the flash status before a busy flash is given up (several seconds on the board).
    static constexpr int kBusyPollLimit = 200000;
    // How long an operation waits for a part that is busy when it begins (only an operation that
    // gave up leaves it so): twice a sector erase at worst.
    static constexpr uint32_t kReadyBoundMs = 800;
    // How long a caller waits for another owner of the device: longer than the longest one holds
    // it (one 64 KB unit of an erase at worst, a record's erase and write, a 16 KB write).
    static constexpr uint32_t kOwnerWaitMs = 6000;

    explicit fpga_drv(FpgaLines& lines);

    // Opens and sets up device 0-3; the descriptor, or -1.
    int initialize_vbyne1(int index);
    int fd(int index) const { return (index >= 0 && index < kDevices) ? fd_[index] : -1; }
    void setFd(int index, int fd);

    // One SPI message; the number of bytes moved, or -1 (reported).
    int SPI_Transfer(int fd, const uint8_t* tx, uint8_t* rx, uint32_t length);
    int SPI_Transfer_Write(int fd, const uint8_t* tx, uint32_t length);

    // Waits while the flash reports busy: 1 ready, 0 when a transfer failed or the flash stayed
    // busy past the poll limit.
    int FPGA_SPI_WAIT_BUSY(int fd);

    // 1 done, 0 refused or failed (also when the box is being stopped: it ends between two units).
    // A device other than 2 means device 3.
    int FPGA_SPI_FLASH_VBYONE_ERASE(int device, uint32_t first_sector, int mode, uint32_t count);
    // `buffer` holds 4 free bytes followed by `length` data bytes; the free bytes in front of each
    // piece are overwritten with its page command.
    int FPGA_SPI_FLASH_VBYONE_WRITE(int device, uint32_t address, uint8_t* buffer, uint32_t length);
    // The same for `length` bytes of data without the free bytes in front (copied first).
    int writeCopy(int device, uint32_t address, const uint8_t* data, uint32_t length);
    int FPGA_SPI_FLASH_VBYONE_READ(int device, uint32_t address, uint32_t length, uint8_t* buffer);
    // 8-byte unique id; 1 done, 0 failed (the buffer is zeroed then).
    int FPGA_SPI_FLASH_SSTF016B_RD_UID(int device, uint8_t* buffer);
    void FPGA_SPI_Disable_WP(int fd);

    // Flash device 2 or 3 (any other value means 3) held for this thread: waited for up to
    // `boundMs`, or taken only when free now (`boundMs` 0). False when another holds it.
    bool takeFlash(int device, uint32_t boundMs = kOwnerWaitMs);
    void giveFlash(int device);
    // Callers waiting for device 2 or 3 (for tests).
    size_t flashWaiters(int device);

private:
    int flashFd(int device) const { return fd_[device == 2 ? 2 : 3]; }
    void selectFlash(int device);
    void deselectFlash(int device);
    // Polls the status of the flash, the bus taken for each poll only, until it is ready; false
    // when a transfer failed or the flash stayed busy past `boundMs`.
    bool waitReady(int device, int fd, uint32_t boundMs);
    // Erases one unit; the device is held for it.
    bool eraseUnit(int device, int fd, uint8_t opcode, uint32_t address, uint32_t boundMs);

    FpgaLines& lines_;
    int fd_[kDevices] = {-1, -1, -1, -1};
    FlashOwner owners_[2];   // flash 2, flash 3
};

// Holds a flash device for the scope (see fpga_drv::takeFlash); false when it could not.
class FlashHold {
public:
    FlashHold(fpga_drv& drv, int device, uint32_t boundMs = fpga_drv::kOwnerWaitMs)
        : drv_(drv), device_(device), held_(drv.takeFlash(device, boundMs))
    {
    }
    ~FlashHold()
    {
        if (held_)
            drv_.giveFlash(device_);
    }
    explicit operator bool() const { return held_; }
    FlashHold(const FlashHold&) = delete;
    FlashHold& operator=(const FlashHold&) = delete;

private:
    fpga_drv& drv_;
    int device_;
    bool held_;
};
