#include <gtest/gtest.h>

#include <QMutexLocker>

#include <chrono>
#include <future>

#include "core/ram_layout.h"
#include "core/utils.h"
#include "fpga_rig.h"
#include "platform/gpio.h"

using fpgatest::Rig;

namespace {

struct Expect {
    uint8_t status;
    int reg;
    uint8_t bit;
    bool set;
};
constexpr Expect kSwitches[] = {
    {0, 0, 0x04, true}, {1, 0, 0x04, false}, {2, 0, 0x02, true},  {3, 0, 0x02, false},
    {4, 3, 0x20, true}, {5, 3, 0x20, false}, {7, 23, 0x01, false}, {8, 23, 0x01, true},
};

void request(uint8_t value)
{
    QMutexLocker lock(&Utils::_led_para_init_mutex);
    g_set_led_para = value;
    if (value == 1)
        g_set_led_setup = 0;
}

}  // namespace

TEST(FpgaScreen, SwitchesActOnBothFpgas)
{
    Rig rig;
    for (const Expect& e : kSwitches) {
        for (int i = 0; i < 2; ++i)
            rig.fpga(i).setReg(e.reg, e.set ? uint8_t(~e.bit) & 0x7F : uint8_t(e.bit | 0x40));
        rig.m->SCREEN_fpgactrl_status(e.status);
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(rig.fpga(i).reg(e.reg) & e.bit, e.set ? e.bit : 0) << int(e.status) << " fpga " << i;
            EXPECT_EQ(rig.fpga(i).reg(e.reg) & 0x40, e.set ? (0x7F & ~e.bit & 0x40) : 0x40) << "other bits kept";
        }
    }
    rig.m->SCREEN_fpgactrl_status(9);
    EXPECT_EQ(rig.m->shadow(22, 0) & 0x08, 0x08) << "V-by-One not started yet";
    EXPECT_EQ(rig.m->shadow(22, 1) & 0x08, 0x08);

    for (int i = 0; i < 2; ++i)
        rig.fpga(i).clearLog();
    rig.m->SCREEN_fpgactrl_status(6);
    rig.m->SCREEN_fpgactrl_status(10);
    rig.m->SCREEN_fpgactrl_status(200);
    EXPECT_TRUE(rig.fpga(0).log().empty());
    EXPECT_TRUE(rig.fpga(1).log().empty());
}

TEST(FpgaScreen, BringUpSwitchesActOnOneFpga)
{
    Rig rig;
    constexpr Expect kOne[] = {{0, 0, 0x04, true}, {1, 0, 0x04, false}, {4, 3, 0x20, true},
                               {10, 23, 0x08, true}, {11, 23, 0x08, false}};
    for (const Expect& e : kOne) {
        for (int i = 0; i < 2; ++i)
            rig.fpga(i).setReg(e.reg, e.set ? uint8_t(~e.bit) & 0x7F : uint8_t(e.bit | 0x40));
        rig.m->SCREEN_fpgactrl_status2(e.status, 1);
        EXPECT_EQ(rig.fpga(1).reg(e.reg) & e.bit, e.set ? e.bit : 0) << int(e.status);
        EXPECT_EQ(rig.fpga(0).reg(e.reg) & e.bit, e.set ? 0 : e.bit) << int(e.status) << " FPGA 0 untouched";
    }
    rig.fpga(1).clearLog();
    for (uint8_t other : {2, 5, 8})
        rig.m->SCREEN_fpgactrl_status2(other, 1);
    EXPECT_TRUE(rig.fpga(1).log().empty());
}

TEST(FpgaScreen, LedSizeHandshakeSteps)
{
    Rig rig;
    for (int i = 0; i < 2; ++i)
        rig.fpga(i).setReg(3, 0x20);
    ledpara::setWord(ledpara::kScreenClosed, 0);
    G_timeTicks = 1000;
    request(1);
    rig.m->set_led_para_deal();
    EXPECT_EQ(g_set_led_setup.load(), 1);
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(rig.fpga(i).reg(0) & 0x04, 0x04) << "blanked";
    EXPECT_EQ(ledpara::word(ledpara::kScreenClosed), 0) << "a size change is no closed screen";

    G_timeTicks = 1010;
    rig.m->set_led_para_deal();
    EXPECT_EQ(rig.fpga(0).reg(3) & 0x20, 0x20);
    G_timeTicks = 1011;
    rig.m->set_led_para_deal();
    EXPECT_EQ(g_set_led_setup.load(), 2);
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(rig.fpga(i).reg(3) & 0x20, 0) << "output disabled";

    G_timeTicks = 1041;
    rig.m->set_led_para_deal();
    EXPECT_EQ(g_set_led_para.load(), 1);
    G_timeTicks = 1042;
    rig.m->set_led_para_deal();
    EXPECT_EQ(g_set_led_para.load(), 0) << "the engine is released";
    EXPECT_EQ(g_set_led_setup.load(), 0);
    EXPECT_EQ(g_led_para_released.load(), 1) << "the outputs wait for the engine's panel";

    // The engine reports its panel set up: both FPGAs are reset.
    request(2);
    rig.m->set_led_para_deal();
    EXPECT_EQ(g_set_led_para.load(), 0);
    EXPECT_EQ(g_led_para_released.load(), 0);
    EXPECT_TRUE(rig.m->reset_pending(0));
    EXPECT_TRUE(rig.m->reset_pending(1));
    EXPECT_EQ(zeltest::simGpio().read(0x207858), 0);
    EXPECT_EQ(zeltest::simGpio().read(0x207864), 0);
}

TEST(FpgaScreen, LedSizeChangeThroughThePass)
{
    Rig rig;
    ASSERT_TRUE(rig.bringUp());
    const int powerUps = rig.fpga(0).powerUps();
    request(1);
    // The video engine's side: wait for the release, set the panel up, report 2.
    ASSERT_TRUE(rig.passUntil([] { return g_set_led_para.load() == 0; }, 200));
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(rig.fpga(i).reg(0) & 0x04, 0x04);
        EXPECT_EQ(rig.fpga(i).reg(3) & 0x20, 0);
    }
    request(2);
    rig.pass();
    EXPECT_TRUE(rig.m->reset_pending(0));
    EXPECT_TRUE(rig.m->reset_pending(1));
    ASSERT_TRUE(rig.passUntil([&] { return rig.m->get_fpga_status() == 0; }, 300));
    ASSERT_TRUE(rig.bringUp());
    EXPECT_EQ(rig.fpga(0).powerUps(), powerUps + 1);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(rig.fpga(i).reg(0) & 0x04, 0) << "lit again";
        EXPECT_EQ(rig.fpga(i).reg(3) & 0x20, 0x20);
    }
}

TEST(FpgaScreen, RequestsWaitWhileAnFpgaIsDown)
{
    Rig rig;
    EXPECT_EQ(rig.m->set_output_status(), 0);
    EXPECT_EQ(rig.m->set_fpga_bri_val(), 0);
    EXPECT_TRUE(rig.fpga(0).log().empty());
    ASSERT_TRUE(rig.bringUp());
    EXPECT_EQ(rig.m->set_output_status(), 1);
    EXPECT_EQ(rig.m->set_fpga_bri_val(), 1);
}

TEST(FpgaScreen, ImageWordsWrittenByTheLedOutputWaitForTheModelMutex)
{
    // The change dispatcher copies the image under the model's mutex.
    Rig rig;
    ZelRamPara* model = ZelRamPara::pInstance();
    ledpara::setWord(ledpara::kScreenClosed, 0);
    pthread_mutex_lock(&model->mutex);
    auto write = std::async(std::launch::async, [] { ledpara::setWord(ledpara::kScreenClosed, 1); });
    EXPECT_EQ(write.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    // Read as the holder of the mutex does (the word's readers take the mutex too).
    EXPECT_EQ(ram_get_u16(model->ram_para, ledpara::kScreenClosed), 0);
    pthread_mutex_unlock(&model->mutex);
    write.get();
    EXPECT_EQ(ledpara::word(ledpara::kScreenClosed), 1);
}
