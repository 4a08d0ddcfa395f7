// The simulated input-side I2C devices, driven from the wire.
#include <gtest/gtest.h>

#include <vector>

#include "platform/i2c.h"
#include "platform/platform.h"
#include "sim/input_chips.h"
#include "sim/sim_config.h"
#include "support/test_root.h"

namespace chips = sim::inputchips;

namespace {

class InputChipsWire : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(sim::attachInputChips());
        fd = platform::i2c().open("/dev/i2c-0");
        ASSERT_GE(fd, 0);
    }
    bool write(uint16_t addr, std::vector<uint8_t> bytes)
    {
        platform::I2cMessage m{addr, false, uint16_t(bytes.size()), bytes.data()};
        return platform::i2c().transfer(fd, &m, 1) == 1;
    }
    bool read(uint16_t addr, uint8_t reg, uint8_t* out, uint16_t len)
    {
        platform::I2cMessage m[2] = {{addr, false, 1, &reg}, {addr, true, len, out}};
        return platform::i2c().transfer(fd, m, 2) == 2;
    }
    zeltest::TempRoot root;
    int fd = -1;
};

}  // namespace

TEST_F(InputChipsWire, DevicesBehindTheSwitchAnswerOnlyOnTheirOneOpenChannel)
{
    uint8_t b[2];
    EXPECT_FALSE(read(0x50, 0, b, 1));  // no channel open
    ASSERT_TRUE(write(0x70, {0x04}));
    EXPECT_TRUE(read(0x50, 0, b, 1));
    EXPECT_TRUE(read(0x48, 0, b, 2));
    EXPECT_EQ(b[0], 'R');
    ASSERT_TRUE(write(0x70, {0x05}));   // two channels: both devices would drive the bus
    EXPECT_FALSE(read(0x50, 0, b, 1));
    EXPECT_EQ(chips::switchControl(), 0x05);
}

TEST_F(InputChipsWire, EepromPagesWrapAndTheChipIsBusyAfterAWrite)
{
    ASSERT_TRUE(write(0x70, {0x01}));
    ASSERT_TRUE(write(0x50, {0x06, 1, 2, 3, 4}));  // crosses the page end at 8: wraps to 0
    uint8_t probe[1];
    EXPECT_FALSE(read(0x50, 0, probe, 1));          // write cycle
    EXPECT_FALSE(read(0x50, 0, probe, 1));
    uint8_t page[8];
    ASSERT_TRUE(read(0x50, 0, page, 8));
    EXPECT_EQ(page[6], 1);
    EXPECT_EQ(page[7], 2);
    EXPECT_EQ(page[0], 3);
    EXPECT_EQ(page[1], 4);
    EXPECT_EQ(page[2], 0xFF);  // blank
    // Persisted under the root: a new board sees the same content.
    ASSERT_TRUE(sim::attachInputChips());
    EXPECT_EQ(chips::eepromContents(0)[7], 2);
    EXPECT_EQ(chips::eepromContents(1)[7], 0xFF);
}

TEST_F(InputChipsWire, ReceiverReportsTheConfiguredSignal)
{
    sim::SimConfig c = sim::config();
    c.inputs[3] = sim::InputSignal{true, 1920, 1080, 60, false};
    c.inputs[1] = sim::InputSignal{true, 1280, 720, 60, true};
    sim::setConfig(c);
    ASSERT_TRUE(write(0x70, {0x08}));
    uint8_t r[0x25];
    ASSERT_TRUE(read(0x48, 0, r, sizeof(r)));
    EXPECT_EQ(r[2], 0x05);                       // signal, HDMI
    EXPECT_EQ(r[0x10] | r[0x11] << 8, 1920);     // Hact
    EXPECT_EQ(r[0x16] | r[0x17] << 8, 2200);     // Htotal
    EXPECT_EQ(r[0x1E] | r[0x1F] << 8, 1125);     // Vtotal
    EXPECT_EQ(r[0x20] | r[0x21] << 8 | r[0x22] << 16, 148500);  // kHz
    ASSERT_TRUE(write(0x70, {0x02}));
    ASSERT_TRUE(read(0x48, 2, r, 1));
    EXPECT_EQ(r[0], 0x03);                       // DVI input, interlaced
    ASSERT_TRUE(write(0x70, {0x01}));
    ASSERT_TRUE(read(0x48, 2, r, 1));
    EXPECT_EQ(r[0], 0x00);                       // nothing on EXT
    chips::setReceiverAbsent(0, true);
    EXPECT_FALSE(read(0x48, 2, r, 1));
}

TEST_F(InputChipsWire, ClockChipLocksOnlyWithAValidVco)
{
    // 25 MHz x 40 / 1 = 1000 MHz, / 10 = 100 MHz.
    ASSERT_TRUE(write(0x68, {0x10, 40, 0, 1, 10}));
    ASSERT_TRUE(write(0x68, {0x20, 0x01}));
    EXPECT_TRUE(chips::clockLocked(0));
    EXPECT_NEAR(chips::clockOutputHz(0), 100e6, 1);
    // 25 MHz x 10 = 250 MHz: VCO too slow.
    ASSERT_TRUE(write(0x69, {0x10, 10, 0, 1, 2}));
    ASSERT_TRUE(write(0x69, {0x20, 0x01}));
    EXPECT_FALSE(chips::clockLocked(1));
    uint8_t st;
    ASSERT_TRUE(read(0x69, 0x21, &st, 1));
    EXPECT_EQ(st & 1, 0);
    // Reprogramming drops the lock.
    ASSERT_TRUE(write(0x68, {0x13, 5}));
    EXPECT_FALSE(chips::clockLocked(0));
}

TEST_F(InputChipsWire, AudioSwitchKeepsItsOutputByte)
{
    ASSERT_TRUE(write(0x21, {0x01, 0x40}));
    EXPECT_EQ(chips::audioOutput(), 0x40);
    chips::failAudioWrites(1);
    EXPECT_FALSE(write(0x21, {0x01, 0x08}));
    EXPECT_EQ(chips::audioOutput(), 0x40);
    EXPECT_EQ(chips::audioWrites(), 1);
}
