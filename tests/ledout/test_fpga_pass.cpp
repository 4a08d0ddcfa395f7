#include <gtest/gtest.h>

#include <QMutexLocker>

#include "core/utils.h"
#include "fpga_rig.h"

using fpgatest::Rig;

TEST(FpgaPass, SoftinitStartValues)
{
    Rig rig;
    G_timeTicks = 500;
    rig.m->softinit();
    for (int w : {32, 33, 38, 39, 3, 4, 45})
        EXPECT_EQ(g_change[w], 500u) << w;
    EXPECT_EQ(g_change[34], 15u);
    EXPECT_EQ(g_change[35], 15u);
    EXPECT_EQ(g_send_para[0], 0);
    EXPECT_EQ(g_send_para[1], 255);
    EXPECT_EQ(rig.m->MCU_RAM_CMD[28], 255);
    EXPECT_EQ(rig.m->MCU_RAM_CMD[29], 1);
    EXPECT_EQ(rig.m->MCU_RAM_EXTEND[49], 159);
    EXPECT_EQ(rig.m->MCU_RAM_EXTEND[50], 31);
    fpga_manage::set_job(5, 0);
    EXPECT_EQ(fpga_manage::job_word(), 0x0005);
    EXPECT_EQ(g_send_para[0], 5);
    EXPECT_EQ(g_send_para[1], 0);
}

TEST(FpgaPass, BrightnessRequestWaitsForBothFpgas)
{
    Rig rig;
    {
        QMutexLocker lock(&Utils::_bri_set_mutex);
        rig.m->set_bri_flag = 1;
    }
    rig.pass(40);
    EXPECT_EQ(rig.m->set_bri_flag.load(), 1);
    ASSERT_TRUE(rig.bringUp());
    rig.pass();
    EXPECT_EQ(rig.m->set_bri_flag.load(), 0);
}

TEST(FpgaPass, ClosedScreenIsAppliedOnceBothRun)
{
    Rig rig;
    ledpara::setWord(ledpara::kScreenClosed, 1);
    rig.m->set_output_flag = 1;
    rig.pass(40);
    EXPECT_EQ(rig.m->set_output_flag.load(), 1);
    ASSERT_TRUE(rig.bringUp());
    rig.pass();
    EXPECT_EQ(rig.m->set_output_flag.load(), 0);
    EXPECT_EQ(rig.fpga(0).reg(0) & 0x04, 0x04);
    EXPECT_EQ(rig.fpga(1).reg(0) & 0x04, 0x04);
    EXPECT_EQ(ledpara::word(ledpara::kScreenClosed), 1);
    EXPECT_EQ(rig.m->ScreenState.load(), 0);
    EXPECT_EQ(rig.m->MCU_RAM_EXTEND[29], 0);
}

TEST(FpgaPass, ClockReadAtMostEvery26TicksAndOnlyWhileUp)
{
    Rig rig;
    readtime_ticks = 0;
    rig.pass(40);
    ASSERT_EQ(rig.m->get_fpga_status(), 0);
    EXPECT_EQ(readtime_ticks, 0u) << "FPGAs down: no clock read";
    ASSERT_TRUE(rig.bringUp());
    std::vector<uint32_t> reads;
    for (int k = 0; k < 200; ++k) {
        uint32_t before = readtime_ticks;
        rig.pass();
        if (readtime_ticks != before)
            reads.push_back(readtime_ticks);
    }
    ASSERT_GE(reads.size(), 7u);
    for (size_t k = 1; k < reads.size(); ++k)
        EXPECT_EQ(reads[k] - reads[k - 1], 26u);
}

TEST(FpgaPass, InterruptServiceClearsTheCauseAndSeesALostFpga)
{
    Rig rig;
    ASSERT_TRUE(rig.bringUp());
    rig.fpga(0).setReg(22, uint8_t(rig.fpga(0).reg(22) | 0x20));   // a reply cause
    rig.pass();
    EXPECT_EQ(rig.fpga(0).reg(22) & 0x20, 0);
    EXPECT_EQ(rig.m->shadow(80, 0), 3);
    EXPECT_EQ(rig.m->get_fpga_status(), 1);
    rig.fpga(0).dropOut();
    rig.pass();
    EXPECT_EQ(rig.m->shadow(80, 0), 0);
    EXPECT_EQ(g_change[38], G_timeTicks.load());
    EXPECT_EQ(rig.m->get_fpga_status(), 0);
}
