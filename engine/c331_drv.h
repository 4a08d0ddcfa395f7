// Register access of the video processing chip over its SPI device.
//
// A register id is BBAASS: bank in bits 16-23, first address in bits 8-15 (7-bit addresses),
// byte count in bits 0-7. Multi-byte values are little-endian over consecutive addresses. A bank
// offset is added to the bank, so per-channel copies of a block lie 16 banks apart.
#pragma once

#include <cstdint>

// Path of the chip's spidev device.
constexpr const char* kC331SpiDevice = "/dev/spidev32766.0";

class c331_drv {
public:
    static constexpr uint32_t kWriteSpeedHz = 10000000;
    static constexpr uint32_t kReadSpeedHz = 5000000;
    static constexpr uint8_t kWriteFlag = 0x80;
    static constexpr uint8_t kAddrMask = 0x7F;
    static constexpr uint8_t kBankSelectAddr = 0x00;
    static constexpr uint8_t kReadFiller = 0xFF;

    c331_drv();

    // Forgets the selected bank, so the next access selects its bank again.
    void init_reg_acc_param();
    // Opens and configures the device (mode 3, 8 bits, 10 MHz). The descriptor, or -1.
    int initialize();

    // One full-duplex transfer at 5 MHz / one write-only transfer at 10 MHz. Both route the bus
    // to the chip first. The bus result: bytes moved, or 0 / negative on failure.
    int SPI_Transfer(int fd, const uint8_t* tx, uint8_t* rx, int len);
    int SPI_Transfer_Write(int fd, const uint8_t* tx, int len);

    void write_C331(int fd, uint32_t id, uint32_t value, uint32_t bankOffset = 0);
    uint32_t read_C331(int fd, uint32_t id, uint32_t bankOffset = 0);
    // (old & ~mask) | (value & mask); the read and the write run as one access.
    void write_c331_mask(int fd, uint32_t id, uint32_t value, uint32_t mask, uint32_t bankOffset = 0);

    int cachedBank() const { return bank_; }

private:
    bool selectBank(int fd, uint32_t id, uint32_t bankOffset);
    void writeLocked(int fd, uint32_t id, uint32_t value, uint32_t bankOffset);
    uint32_t readLocked(int fd, uint32_t id, uint32_t bankOffset);

    int bank_ = -1;
    int second_ = 0;
};

// Register-id helpers.
constexpr uint32_t c331Bank(uint32_t id) { return (id >> 16) & 0xFF; }
constexpr uint32_t c331Addr(uint32_t id) { return (id >> 8) & 0xFF; }
constexpr uint32_t c331Count(uint32_t id) { return id & 0xFF; }
