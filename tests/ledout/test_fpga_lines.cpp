#include <gtest/gtest.h>

#include "ledout/fpga_manage.h"
#include "platform/gpio.h"
#include "support/test_root.h"

TEST(FpgaLines, InitializeMapsWindowAndSetsStartLevels)
{
    zeltest::TempRoot root;
    fpga_manage* m = fpga_manage::pInstance();
    ASSERT_TRUE(m->linesMapped());
    auto& gpio = zeltest::simGpio();
    EXPECT_EQ(gpio.read(0x207940), 0);       // src_line_a
    EXPECT_EQ(gpio.read(0x207948), 16);      // src_line_c
    EXPECT_EQ(gpio.read(0x207954), 16);      // cmd_fpga1b
    EXPECT_EQ(gpio.read(0x207950), 16);      // sel_flash3b
    EXPECT_EQ(gpio.read(0x001F1C), 1);       // aux_reg
    m->setLine(GpioLine::cs_fpga0, kLineHigh);
    m->setLine(GpioLine::rst_sdi, kLineLow);
    EXPECT_EQ(gpio.read(0x207810), 16);
    EXPECT_EQ(gpio.history(0x002848).size(), 1u);
}

TEST(FpgaLines, FailedMapLeavesLinesSafe)
{
    zeltest::TempRoot root;
    zeltest::simGpio().setMapFails(true);
    fpga_manage* m = fpga_manage::pInstance();
    EXPECT_FALSE(m->linesMapped());
    m->setLine(GpioLine::cs_fpga1, kLineHigh);    // must not crash nor reach the board
    EXPECT_EQ(m->getLine(GpioLine::cs_fpga1), kLineHigh);
    EXPECT_TRUE(zeltest::simGpio().history(0x207900).empty());
}
