#include <gtest/gtest.h>

#include <thread>

#include "fpga_rig.h"
#include "platform/gpio.h"

using fpgatest::Rig;
using Bytes = std::vector<uint8_t>;

namespace {
Bytes word(const sim::SimFpga::Access& a) { return Bytes(a.word.begin(), a.word.end()); }
}

TEST(FpgaLines, StartLevelsAndSafeWhenMapFails)
{
    {
        Rig rig;
        auto& gpio = zeltest::simGpio();
        EXPECT_TRUE(rig.m->linesMapped());
        EXPECT_EQ(gpio.read(0x207940), 0);   // src_line_a
        EXPECT_EQ(gpio.read(0x207944), 0);   // src_line_b
        EXPECT_EQ(gpio.read(0x207948), 16);  // src_line_c
        EXPECT_EQ(gpio.read(0x207954), 16);  // cmd_fpga1b
        EXPECT_EQ(gpio.read(0x207950), 16);  // sel_flash3b
        EXPECT_EQ(gpio.read(0x001F1C), 1);   // aux_reg
        rig.m->setLine(GpioLine::rst_sdi, kLineLow);
        rig.m->setLine(GpioLine::rst_sdi, kLineHigh);
        ASSERT_EQ(gpio.history(0x002848).size(), 2u);
        EXPECT_EQ(gpio.history(0x002848)[1].value, 16);
    }
}

TEST(FpgaLines, FailedMapLeavesManagerSafe)
{
    zeltest::TempRoot root;
    sim::attachFpgas();
    zeltest::simGpio().setMapFails(true);
    fpga_manage* m = fpga_manage::pInstance();
    EXPECT_FALSE(m->linesMapped());
    m->setLine(GpioLine::cs_fpga0, kLineHigh);   // the video engine does this before each transfer
    m->setLine(GpioLine::cs_fpga1, kLineHigh);
    EXPECT_EQ(m->getLine(GpioLine::cs_fpga1), kLineHigh);
    EXPECT_TRUE(zeltest::simGpio().history(0x207900).empty());
    m->write_to_register(3, 0x20, 0x20, 0);      // no select line reaches the FPGA: it stays silent
    EXPECT_TRUE(sim::fpgaBoard()->fpga[0]->log().empty());
}

TEST(FpgaAccess, CommandWords)
{
    EXPECT_EQ(fpga_manage::fpga_reg_cmd_to_spi_data(2, 0, 3, 0, 0x20), 0x20030004u);
    EXPECT_EQ(fpga_manage::fpga_reg_cmd_to_spi_data(2, 0, 22, 1, 0x20), 0x00160005u);
    EXPECT_EQ(fpga_manage::fpga_cmd_to_spi_data(1, 1, 0x1ABC, 0), 0x0ABC0102u);   // 12-bit address
    EXPECT_EQ(fpga_manage::fpga_cmd_to_spi_data(1, 7, 0x074, 1), 0x00740703u);
}

TEST(FpgaAccess, MaskedWriteOnTheWire)
{
    Rig rig;
    rig.fpga(0).setReg(3, 0x01);   // a bit the FPGA set on its own
    rig.m->write_to_register(3, 0x20, 0x20, 0);
    auto log = rig.fpga(0).log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(word(log[0]), (Bytes{0x05, 0x00, 0x03, 0x00}));
    EXPECT_EQ(log[0].data, Bytes{0xFF});
    EXPECT_EQ(word(log[1]), (Bytes{0x04, 0x00, 0x03, 0x20}));
    EXPECT_EQ(log[1].data, Bytes{0x21});
    EXPECT_EQ(rig.m->shadow(3, 0), 0x21);
    EXPECT_EQ(rig.fpga(0).reg(3), 0x21);
    EXPECT_TRUE(rig.fpga(1).log().empty());

    // FPGA 1 through its own lines; FPGA 0 stays untouched.
    rig.fpga(0).clearLog();
    rig.m->write_to_register(23, 0x01, 0x01, 1);
    EXPECT_TRUE(rig.fpga(0).log().empty());
    EXPECT_EQ(rig.fpga(1).reg(23), 0x01);
    // Selects idle high after every access; the command lines stay low.
    auto& gpio = zeltest::simGpio();
    EXPECT_EQ(gpio.read(0x207810), 16);
    EXPECT_EQ(gpio.read(0x207900), 16);
    EXPECT_EQ(gpio.read(0x20794C), 0);
    EXPECT_EQ(gpio.read(0x207954), 0);
}

TEST(FpgaAccess, ShadowOnlyAndInvalidRegisters)
{
    Rig rig;
    rig.m->write_to_register(80, 0xFF, 3, 0);
    rig.m->write_to_register(66, 0x01, 0x01, 1);
    rig.m->write_to_register(100, 0xFF, 0x55, 0);
    rig.m->write_to_register(171, 0xFF, 0x55, 0);
    rig.m->write_to_register(64, 0xF0, 0x5A, 0);   // first and last software register
    rig.m->write_to_register(96, 0x0F, 0x5A, 0);
    rig.m->write_to_register(97, 0xFF, 0x5A, 0);   // first number without a register
    rig.m->read_from_register(97, 0);
    rig.m->read_from_register(80, 0);
    rig.m->read_from_register(127, 0);
    rig.m->read_from_register(171, 0);
    EXPECT_TRUE(rig.fpga(0).log().empty());
    EXPECT_TRUE(rig.fpga(1).log().empty());
    EXPECT_EQ(rig.m->shadow(80, 0), 3);
    EXPECT_EQ(rig.m->shadow(66, 1), 1);
    EXPECT_EQ(rig.m->shadow(100, 0), 0);
    EXPECT_EQ(rig.m->shadow(64, 0), 0x50);
    EXPECT_EQ(rig.m->shadow(96, 0), 0x0A);
    EXPECT_EQ(rig.m->shadow(97, 0), 0);
    rig.m->read_from_register(170, 0);   // the last FPGA register still goes out
    EXPECT_EQ(rig.fpga(0).log().size(), 1u);
    rig.m->write_to_register(63, 0xFF, 0x11, 0);    // so do those on either side of the software ones
    rig.m->write_to_register(128, 0xFF, 0x22, 0);
    EXPECT_EQ(rig.fpga(0).log().size(), 5u);
}

TEST(FpgaAccess, Register2StrobesStayInShadow)
{
    Rig rig;
    rig.m->write_to_register(2, 0x07, 0x07, 0);
    auto log = rig.fpga(0).log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1].data, Bytes{0x01});
    EXPECT_EQ(rig.m->shadow(2, 0), 0x07);
}

TEST(FpgaAccess, Register0KeepsScreenStateAndClosedWord)
{
    Rig rig;
    g_set_led_para = 0;
    rig.m->write_to_register(0, 0x04, 0x04, 0);
    EXPECT_EQ(ledpara::word(ledpara::kScreenClosed), 1);
    EXPECT_EQ(rig.count(1), 1);
    EXPECT_EQ(rig.m->ScreenState.load(), 0);
    EXPECT_EQ(rig.m->MCU_RAM_EXTEND[29], 0);

    rig.m->write_to_register(0, 0x04, 0, 1);
    EXPECT_EQ(ledpara::word(ledpara::kScreenClosed), 0);
    EXPECT_EQ(rig.count(1), 2);
    EXPECT_EQ(rig.m->MCU_RAM_EXTEND[29], 1);

    // During an LED-size change, and in the bring-up's own write, the word is left alone.
    g_set_led_para = 1;
    rig.m->write_to_register(0, 0x04, 0x04, 0);
    g_set_led_para = 0;
    rig.m->write_to_0x00_register(0, 0x04, 0x04, 1);
    EXPECT_EQ(ledpara::word(ledpara::kScreenClosed), 0);
    EXPECT_EQ(rig.count(1), 2);
    EXPECT_EQ(rig.m->ScreenState.load(), 0);

    // Only a write of the blank bit alone (mask 4) is the user's screen switch.
    rig.m->write_to_register(0, 0x0C, 0x0C, 0);
    EXPECT_EQ(ledpara::word(ledpara::kScreenClosed), 0);
    EXPECT_EQ(rig.count(1), 2);
    EXPECT_EQ(rig.m->ScreenState.load(), 0);
}

TEST(FpgaAccess, ConcurrentWritersLoseNoBits)
{
    Rig rig;
    auto writer = [&](int firstBit) {
        for (int round = 0; round < 50; ++round)
            for (int b = firstBit; b < firstBit + 4; ++b)
                rig.m->write_to_register(5, uint8_t(1 << b), uint8_t(round % 2 ? 0 : 1 << b), 0);
        for (int b = firstBit; b < firstBit + 4; ++b)
            rig.m->write_to_register(5, uint8_t(1 << b), uint8_t(1 << b), 0);
    };
    std::thread a(writer, 0), b(writer, 4);
    a.join();
    b.join();
    EXPECT_EQ(rig.fpga(0).reg(5), 0xFF);
    EXPECT_EQ(rig.m->shadow(5, 0), 0xFF);
}

TEST(FpgaAccess, RamBlocks)
{
    Rig rig;
    Bytes data(300);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8_t(i * 7);
    ASSERT_EQ(rig.m->write_fpga_ram(data.data(), 0x100, 300, 4, 1), 1);
    EXPECT_EQ(rig.fpga(1).ram(4, 0x100, 300), data);
    auto log = rig.fpga(1).log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(word(log[0]), (Bytes{0x02, 0x04, 0x00, 0x01}));

    Bytes back(300, 0xEE);
    ASSERT_EQ(rig.m->read_fpga_ram(back.data(), 0x100, 300, 4, 1), 1);
    EXPECT_EQ(back, data);

    // Never more than one RAM in one transfer.
    Bytes big(5000, 0x5A);
    rig.fpga(1).clearLog();
    rig.m->write_fpga_ram(big.data(), 0, 5000, 4, 1);
    EXPECT_EQ(rig.fpga(1).log().at(0).data.size(), 4096u);
}
