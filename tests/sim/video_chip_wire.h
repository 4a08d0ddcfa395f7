// The simulated video chip seen from the wire: raw two-byte transfers on its SPI device, no
// driver.
#pragma once

#include <cstdint>

#include "platform/spi.h"
#include "sim/video_chip.h"
#include "support/test_root.h"

namespace simtest {

struct ChipWire {
    zeltest::TempRoot root;
    sim::VideoChipModel& chip = sim::attachVideoChip();
    int fd = zeltest::simSpi().open("/dev/spidev32766.0");

    void write(uint8_t a, uint8_t d)
    {
        const uint8_t tx[2] = {uint8_t(0x80 | a), d};
        platform::SpiTransfer t;
        t.tx = tx;
        t.len = 2;
        t.speed_hz = 10000000;
        zeltest::simSpi().transfer(fd, &t, 1);
    }
    uint8_t read(uint8_t a)
    {
        const uint8_t tx[2] = {a, 0xFF};
        uint8_t rx[2] = {};
        platform::SpiTransfer t;
        t.tx = tx;
        t.rx = rx;
        t.len = 2;
        t.speed_hz = 5000000;
        zeltest::simSpi().transfer(fd, &t, 1);
        return rx[1];
    }
    // Little-endian value of n registers from a.
    uint32_t readN(uint8_t a, int n)
    {
        uint32_t v = 0;
        for (int k = 0; k < n; ++k)
            v |= uint32_t(read(uint8_t(a + k))) << (8 * k);
        return v;
    }
    void bank(uint8_t b) { write(0x00, b); }
    void write32(uint8_t a, uint32_t v)
    {
        for (int k = 0; k < 4; ++k)
            write(uint8_t(a + k), uint8_t(v >> (8 * k)));
    }
};

}  // namespace simtest
