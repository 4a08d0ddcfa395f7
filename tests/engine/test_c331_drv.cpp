#include <gtest/gtest.h>

#include "core/global.h"
#include "engine/c331_drv.h"
#include "platform/gpio.h"
#include "platform/spi.h"
#include "sim/video_chip.h"
#include "support/test_root.h"

using namespace zeltest;
using Frame = sim::VideoChipModel::Frame;

namespace {

struct Chip {
    TempRoot root;
    sim::VideoChipModel& model = sim::attachVideoChip();
    c331_drv drv;
    int fd = drv.initialize();
};

std::vector<std::pair<uint8_t, uint8_t>> wire(const std::vector<Frame>& frames)
{
    std::vector<std::pair<uint8_t, uint8_t>> out;
    for (const Frame& f : frames)
        out.emplace_back(f.byte0, f.byte1);
    return out;
}

using Bytes = std::vector<std::pair<uint8_t, uint8_t>>;

}  // namespace

TEST(C331Drv, OpensTheChipDeviceInMode3At10MHz)
{
    Chip c;
    ASSERT_GE(c.fd, 0);
    auto setup = simSpi().setup("/dev/spidev32766.0");
    EXPECT_EQ(setup.mode, 3);
    EXPECT_EQ(setup.bits, 8);
    EXPECT_EQ(setup.maxSpeedHz, 10000000u);
}

TEST(C331Drv, FailedOpenGivesNegativeDescriptor)
{
    TempRoot root;  // no chip attached
    c331_drv drv;
    EXPECT_LT(drv.initialize(), 0);
}

TEST(C331Drv, TwoByteWriteIsLittleEndianAfterOneSelect)
{
    Chip c;
    c.drv.write_C331(c.fd, 0x001802, 0x1234);
    EXPECT_EQ(wire(c.model.frames()), (Bytes{{0x80, 0x00}, {0x98, 0x34}, {0x99, 0x12}}));
    for (const Frame& f : c.model.frames()) {
        EXPECT_EQ(f.speedHz, 10000000u);
        EXPECT_FALSE(f.duplex);
    }
    EXPECT_EQ(c.model.regValue(0x00, 0x18, 2), 0x1234u);
}

TEST(C331Drv, ReadSendsAddressAndFillerAt5MHz)
{
    Chip c;
    EXPECT_EQ(c.drv.read_C331(c.fd, 0xB20801), 0x24u);
    auto frames = c.model.frames();
    ASSERT_EQ(wire(frames), (Bytes{{0x80, 0xB2}, {0x08, 0xFF}}));
    EXPECT_EQ(frames[1].speedHz, 5000000u);
    EXPECT_TRUE(frames[1].duplex);
    c.model.setReg(0x10, 0x20, 0x11);
    c.model.setReg(0x10, 0x21, 0x22);
    c.model.setReg(0x10, 0x22, 0x33);
    EXPECT_EQ(c.drv.read_C331(c.fd, 0x102003), 0x332211u);
    EXPECT_EQ(c.drv.read_C331(c.fd, 0x102000), 0u);
}

TEST(C331Drv, BankCacheSelectsOncePerBankChange)
{
    Chip c;
    c.drv.write_C331(c.fd, 0x0A1001, 1);
    c.drv.write_C331(c.fd, 0x0A1101, 2);
    c.drv.read_C331(c.fd, 0x0A1001);
    c.drv.write_C331(c.fd, 0x0A1001, 3, 1);  // offset 1: bank 0x0B
    c.drv.init_reg_acc_param();
    c.drv.write_C331(c.fd, 0x0B1001, 4);
    EXPECT_EQ(wire(c.model.frames()), (Bytes{{0x80, 0x0A}, {0x90, 1}, {0x91, 2}, {0x10, 0xFF},
                                             {0x80, 0x0B}, {0x90, 3}, {0x80, 0x0B}, {0x90, 4}}));
    EXPECT_EQ(c.model.reg(0x0B, 0x10), 4);
}

TEST(C331Drv, MaskedWrite)
{
    Chip c;
    c.model.setReg(0x00, 0x29, 0x5A);
    c.drv.write_c331_mask(c.fd, 0x002901, 0xFF, 0);
    EXPECT_EQ(c.model.writesTo(0x00, 0x29), (std::vector<uint8_t>{0x5A}));
    c.drv.write_c331_mask(c.fd, 0x002901, 0x81, 0xFFFFFFFF);
    c.drv.write_c331_mask(c.fd, 0x002901, 0x00, 0x01);
    EXPECT_EQ(c.model.writesTo(0x00, 0x29), (std::vector<uint8_t>{0x5A, 0x81, 0x80}));
}

TEST(C331Drv, SelectLinesAreHighDuringEveryTransfer)
{
    Chip c;
    simGpio().write(0x207810, 0);
    simGpio().write(0x207900, 0);
    c.drv.write_C331(c.fd, 0x123402, 0xBEEF);
    c.drv.read_C331(c.fd, 0x123401);
    for (const Frame& f : c.model.frames()) {
        EXPECT_EQ(f.csFpga0, 16);
        EXPECT_EQ(f.csFpga1, 16);
    }
}

TEST(C331Drv, FailedBankSelectIsSentAgainOnTheNextAccess)
{
    Chip c;
    c.model.failTransfers(1);  // the select of the first access is lost
    c.drv.write_C331(c.fd, 0x201001, 7);
    EXPECT_EQ(c.drv.cachedBank(), -1);
    c.drv.write_C331(c.fd, 0x201001, 8);
    EXPECT_EQ(c.model.reg(0x20, 0x10), 8);
}

TEST(C331Drv, FailedTransferIsReportedWithDiagnosticsOff)
{
    Chip c;
    const uint8_t saved = g_debugSwitch;
    g_debugSwitch = 0;
    c.model.failTransfers(1);
    testing::internal::CaptureStderr();
    c.drv.write_C331(c.fd, 0x201001, 7);
    const std::string err = testing::internal::GetCapturedStderr();
    g_debugSwitch = saved;
    EXPECT_NE(err.find("can't send spi message\n"), std::string::npos) << err;
}

TEST(C331Drv, MultiByteAccessStopsAtTheLastAddressOfTheBank)
{
    Chip c;
    c.drv.write_C331(c.fd, 0x307E04, 0x44332211);
    EXPECT_EQ(wire(c.model.frames()), (Bytes{{0x80, 0x30}, {0xFE, 0x11}, {0xFF, 0x22}}));
    EXPECT_EQ(c.model.currentBank(), 0x30);
    c.model.clearLog();
    c.drv.read_C331(c.fd, 0x307F02);
    EXPECT_EQ(wire(c.model.frames()), (Bytes{{0x7F, 0xFF}}));
}

TEST(C331Drv, CountsAboveFourBytesWriteZeroBeyondTheValue)
{
    Chip c;
    c.drv.write_C331(c.fd, 0x301006, 0x04030201);
    EXPECT_EQ(wire(c.model.frames()), (Bytes{{0x80, 0x30}, {0x90, 1}, {0x91, 2}, {0x92, 3},
                                             {0x93, 4}, {0x94, 0}, {0x95, 0}}));
    c.model.setReg(0x30, 0x14, 0x99);
    EXPECT_EQ(c.drv.read_C331(c.fd, 0x301006), 0x04030201u);
}

TEST(C331Drv, AWriteToAddressZeroMovesTheCachedBankWithTheChip)
{
    Chip c;
    // Address 0 is the bank register: this write puts the chip in bank 8.
    c.drv.write_C331(c.fd, 0xFF0001, 8);
    c.drv.write_C331(c.fd, 0xFF0101, 0x5A);
    EXPECT_EQ(wire(c.model.frames()), (Bytes{{0x80, 0xFF}, {0x80, 0x08}, {0x80, 0xFF}, {0x81, 0x5A}}));
    EXPECT_EQ(c.model.reg(0xFF, 0x01), 0x5A);
    EXPECT_EQ(c.model.reg(0x08, 0x01), 0);
}
