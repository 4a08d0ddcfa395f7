#include <gtest/gtest.h>

#include <algorithm>

#include <cstring>

#include "chips/tarvosource.h"
#include "fpga_rig.h"
#include "ledout/eth_param.h"
#include "platform/gpio.h"
#include "sim/sim_config.h"

using fpgatest::Rig;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr uint32_t kRst0 = 0x207858, kRst1 = 0x207864;

int lowPulses(uint32_t pad)
{
    int n = 0;
    for (auto& c : zeltest::simGpio().history(pad))
        n += c.value == 0;
    return n;
}

// The block without the output-port part (port geometry and output window, which the port
// parameters set up and shift; link bits, card counts and status, which the port-state refresh
// and the card search rewrite from the cards behind the simulated FPGA).
Bytes withoutPortState(Bytes block)
{
    auto clear = [&](size_t from, size_t to) {
        for (size_t k = from; k < to && k < block.size(); ++k)
            block[k] = 0;
    };
    for (uint16_t base : eth_param::kPortGeometry)
        clear(base, base + 8u);
    clear(eth_param::kWindowX, eth_param::kWindowH + 2u);
    const std::pair<size_t, size_t> ranges[] = {{96, 128}, {512, 514}, {560, 576}, {640, 672}};
    for (auto [from, to] : ranges)
        clear(from, to);
    return block;
}

Bytes defaults256() { return withoutPortState(Bytes(fpga_manage::RAM1.begin(), fpga_manage::RAM1.begin() + 256)); }

}  // namespace

TEST(FpgaBringUp, BothFpgasComeUpAndLightTheScreen)
{
    Rig rig;
    ASSERT_TRUE(rig.bringUp());
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(rig.m->shadow(80, i), 3);
        EXPECT_EQ(rig.m->bringup_step(i), 7);
        EXPECT_EQ(rig.m->check_step(i), 18);
        sim::SimFpga& f = rig.fpga(i);
        EXPECT_EQ(f.reg(0) & 0x04, 0) << "screen shown";
        EXPECT_EQ(f.reg(3) & 0xE0, 0xE0) << "V-by-One steps and output enabled";
        EXPECT_EQ(f.reg(23) & 0x01, 0x01);
        EXPECT_EQ(f.reg(2) & 0x08, 0x08);
        // The built-in parameter block, with the FPGA's global port numbers.
        Bytes ram = f.ram(1, 0, 1024);
        EXPECT_EQ(withoutPortState(Bytes(ram.begin(), ram.begin() + 256)), defaults256());
        for (int p = 0; p < 16; ++p) {
            EXPECT_EQ(ram[276 + p], 16 * i + p + 1);
            EXPECT_EQ(Bytes(ram.begin() + 296 + 4 * p, ram.begin() + 300 + 4 * p), (Bytes{0x76, 0x05, 0xD2, 0x01}));
        }
    }
    EXPECT_EQ(Bytes(rig.m->MCU_RAM_CMD + 12, rig.m->MCU_RAM_CMD + 16), (Bytes{0x01, 0x26, 0x02, 0x25}));
    EXPECT_EQ(Bytes(rig.m->MCU_RAM_CMD + 24, rig.m->MCU_RAM_CMD + 28), (Bytes{1, 17, 0, 0}));
    EXPECT_EQ(rig.count(12), 1);
    rig.pass(300);
    EXPECT_EQ(rig.count(12), 1) << "raised once, when both are lit";
    EXPECT_EQ(rig.m->get_fpga_status(), 1);
    EXPECT_EQ(lowPulses(kRst0) + lowPulses(kRst1), 0);
}

namespace {
uint16_t u16(const Bytes& b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }
void put16(Bytes& b, size_t at, uint16_t v)
{
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}
}  // namespace

TEST(FpgaBringUp, SavedParameterBlocksAreLoadedAndOffsetOnlyOnFpga0)
{
    Rig rig;
    Bytes block(1024);
    for (size_t k = 0; k < block.size(); ++k)
        block[k] = uint8_t(k * 3 + 1);
    put16(block, 8, 100);    // port 0 x, y
    put16(block, 10, 200);
    put16(block, 60, 1000);  // window width, height
    put16(block, 62, 500);
    Bytes image(block.size() + 1, 0xAA);
    std::copy(block.begin(), block.end(), image.begin() + 1);
    rig.flash(2).write(0x6C7000, image);
    rig.flash(3).write(0x6C7000, image);
    ledpara::setWord(0x566, 10);   // output offset x, y
    ledpara::setWord(0x568, 5);
    ASSERT_TRUE(rig.bringUp());

    Bytes f0 = rig.fpga(0).ram(1, 0, 1024);
    Bytes f1 = rig.fpga(1).ram(1, 0, 1024);
    EXPECT_EQ(u16(f0, 8), 110);
    EXPECT_EQ(u16(f0, 10), 205);
    EXPECT_EQ(u16(f0, 60), 1024) << "rounded up to a multiple of 32";
    EXPECT_EQ(u16(f0, 62), 505);
    EXPECT_EQ(u16(f1, 8), 100);
    EXPECT_EQ(u16(f1, 10), 200);
    EXPECT_EQ(u16(f1, 60), 1000);
    EXPECT_EQ(u16(f1, 62), 500);
    for (int i = 0; i < 2; ++i) {
        Bytes ram = i ? f1 : f0;
        EXPECT_EQ(Bytes(ram.begin() + 100, ram.begin() + 116), Bytes(16, 0)) << "bytes 96-127 cleared";
        EXPECT_EQ(Bytes(ram.begin() + 296, ram.begin() + 360), Bytes(block.begin() + 296, block.begin() + 360));
        for (int p = 0; p < 16; ++p)
            EXPECT_EQ(ram[276 + p], 16 * i + p + 1);
    }
}

TEST(FpgaBringUp, ParameterBlockNotHeldResetsTheFpga)
{
    Rig rig;
    rig.fpga(1).setRamIgnoresWrites(1, true);
    rig.pass(300);
    EXPECT_GE(lowPulses(kRst1), 1);
    EXPECT_EQ(lowPulses(kRst0), 0);
    EXPECT_EQ(rig.m->fpga_ram_ok[1], 0);
    EXPECT_EQ(rig.m->fpga_ram_ok[0], 1);
    rig.fpga(1).setRamIgnoresWrites(1, false);
    EXPECT_TRUE(rig.bringUp());
}

// One rig per process: the manager is a singleton on the board it was created on.
void checkUnanswering(uint8_t bad)
{
    Rig rig;
    rig.fpga(1).setReg(31, bad);
    rig.pass(61);
    EXPECT_EQ(rig.m->bringup_step(1), 1);
    EXPECT_EQ(rig.m->shadow(31, 1), bad);
    EXPECT_EQ(rig.fpga(1).registerReads(31), 10) << "every 6th tick";
    EXPECT_EQ(rig.fpga(1).registerReads(7), 10);
    EXPECT_GT(rig.m->bringup_step(0), 1);
}

TEST(FpgaBringUp, Register31Of24StaysAtStepOne) { checkUnanswering(24); }
TEST(FpgaBringUp, Register31Of49StaysAtStepOne) { checkUnanswering(49); }

TEST(FpgaBringUp, Register31Of25Or48Answers)
{
    Rig rig;
    rig.fpga(0).setReg(31, 25);
    rig.fpga(1).setReg(31, 48);
    EXPECT_TRUE(rig.bringUp());
}

TEST(FpgaBringUp, ResetPulseEndsMoreThan200TicksAfterItBegan)
{
    Rig rig;
    ASSERT_TRUE(rig.bringUp());
    const uint32_t start = G_timeTicks;
    rig.m->reset_fpga_rst(1);
    G_timeTicks = start + 200;
    rig.m->check_fpga_rst();
    EXPECT_EQ(zeltest::simGpio().read(kRst1), 0);
    EXPECT_TRUE(rig.m->reset_pending(1));
    G_timeTicks = start + 201;
    rig.m->check_fpga_rst();
    EXPECT_EQ(zeltest::simGpio().read(kRst1), 16);
    EXPECT_FALSE(rig.m->reset_pending(1));
    EXPECT_EQ(rig.m->shadow(80, 1), 0);
    EXPECT_EQ(rig.m->bringup_step(1), 0);
    EXPECT_EQ(rig.m->check_step(1), 0);
    EXPECT_EQ(g_change[39], start + 201);
    EXPECT_EQ(rig.m->shadow(80, 0), 3) << "FPGA 0 keeps running";
}

TEST(FpgaBringUp, MissingReadyBitResetsTheFpgaOnTheTwentyFirstPoll)
{
    Rig rig;
    rig.fpga(1).setReadOverride(22, 0x10);   // locked, no error, picture parameters never ready
    ASSERT_TRUE(rig.passUntil([&] { return rig.m->bringup_step(1) == 7; }));
    rig.fpga(1).clearLog();
    ASSERT_TRUE(rig.passUntil([&] { return rig.m->reset_pending(1); }, 1000));
    // The first poll came in the pass that ended the bring-up, before the log was cleared.
    EXPECT_EQ(1 + rig.fpga(1).registerReads(22), 21);
    EXPECT_EQ(rig.m->bringup_step(1), 17);
}

TEST(FpgaBringUp, StuckVboErrorPulsesResetTwiceThenMovesOn)
{
    Rig rig;
    rig.fpga(0).setVboErrorStuck(true);
    ASSERT_TRUE(rig.passUntil([&] { return rig.m->bringup_step(0) >= 5; }));
    EXPECT_EQ(lowPulses(kRst0), 2);
    EXPECT_EQ(lowPulses(kRst1), 0);
    EXPECT_EQ(rig.fpga(0).powerUps(), 3);   // power-on, then after each pulse
    auto history = zeltest::simGpio().history(kRst0);
    ASSERT_EQ(history.size(), 4u);
    EXPECT_EQ(history.back().value, 16);
}

TEST(FpgaBringUp, FpgaThatNeverComesUpLeavesTheOtherRunning)
{
    Rig rig;
    rig.fpga(1).setNeverUp(true);
    rig.pass(1500);
    EXPECT_EQ(rig.m->shadow(80, 0), 3);
    EXPECT_EQ(rig.m->bringup_step(0), 7);
    EXPECT_EQ(rig.m->shadow(80, 1), 0);
    EXPECT_EQ(rig.m->bringup_step(1), 1);
    EXPECT_EQ(rig.m->get_fpga_status(), 0);
    EXPECT_EQ(rig.count(12), 0);
    EXPECT_EQ(rig.m->get_wlan_state() >> 16, 0u) << "only a running FPGA reports links";
}

TEST(FpgaBringUp, PictureLimits)
{
    Rig rig;
    // Exactly half the LED screen (1920 x 1080) at the shortest frame passes ...
    rig.fpga(0).setPicture(960, 540, 714286);
    // ... a frame value of 1000000 does not.
    rig.fpga(1).setPicture(1920, 1080, 1000000);
    rig.pass(600);
    EXPECT_NE(rig.m->check_step(0), 0);
    EXPECT_NE(rig.m->check_step(0), 7);
    EXPECT_EQ(rig.m->check_step(1), 7);
    EXPECT_EQ(rig.fpga(1).reg(0) & 0x04, 0x04) << "screen stays dark";
    // One short of half the width or the height, or a frame value of 714285, does not pass either.
    const uint32_t shortOf[][3] = {{959, 540, 714286}, {960, 539, 714286}, {960, 540, 714285}};
    for (const auto& p : shortOf) {
        rig.fpga(1).setPicture(uint16_t(p[0]), uint16_t(p[1]), p[2]);
        rig.pass(30);
        EXPECT_EQ(rig.m->check_step(1), 7) << p[0] << " x " << p[1] << ", " << p[2];
    }
    rig.fpga(1).setPicture(1920, 1080, 999999);
    EXPECT_TRUE(rig.bringUp());
}

TEST(FpgaBringUp, DroppedFpgaIsBroughtUpAndLitAgain)
{
    Rig rig;
    ASSERT_TRUE(rig.bringUp());
    rig.fpga(1).dropOut();
    rig.pass(3);
    EXPECT_EQ(rig.m->shadow(80, 1), 0);
    EXPECT_EQ(rig.m->get_fpga_status(), 0);
    rig.pass(100);
    EXPECT_EQ(rig.m->get_fpga_status(), 0);
    rig.fpga(1).comeBack();
    // Whenever the status says "up" again, FPGA 1 really shows the picture.
    bool honest = true;
    ASSERT_TRUE(rig.passUntil([&] {
        if (rig.m->get_fpga_status() != 1)
            return false;
        honest = (rig.fpga(1).reg(0) & 0x04) == 0 && (rig.fpga(1).reg(3) & 0x20) != 0;
        return true;
    }));
    EXPECT_TRUE(honest);
    EXPECT_EQ(rig.m->check_step(1), 18);
    EXPECT_EQ(rig.count(12), 2);
}

TEST(FpgaBringUp, NoReadyPathNoBringUp)
{
    Rig rig;
    tarvosource* source = tarvosource::pInstance();
    source->clock_chip_step[0] = 0;
    source->clock_chip_step[1] = 0;
    rig.pass(200);
    EXPECT_TRUE(rig.fpga(0).log().empty());
    EXPECT_TRUE(rig.fpga(1).log().empty());
    source->clock_chip_step[1] = 2;
    rig.pass(200);
    EXPECT_TRUE(rig.fpga(0).log().empty());
    EXPECT_EQ(rig.m->shadow(80, 1), 3);
}

TEST(FpgaBringUp, WlanStateFromRunningFpgas)
{
    sim::SimConfig cfg = sim::SimConfig::defaults();
    cfg.cardsPerPort.fill(0);
    cfg.cardsPerPort[0] = 1;
    cfg.cardsPerPort[9] = 1;
    cfg.cardsPerPort[16 + 3] = 2;
    Rig rig;
    sim::setConfig(cfg);
    rig.fpga(0).comeBack();   // power up again with the new cards
    rig.fpga(1).comeBack();
    EXPECT_EQ(rig.m->get_wlan_state(), 0u);
    ASSERT_TRUE(rig.bringUp());
    EXPECT_EQ(rig.m->get_wlan_state(), (1u << 0) | (1u << 9) | (1u << 19));
}

TEST(FpgaBringUp, VboSupervisionRestartsALostReceiver)
{
    Rig rig;
    ASSERT_TRUE(rig.bringUp());
    G_timeTicks += 10;
    EXPECT_EQ(rig.m->check_vbo_status(1), 0);
    rig.fpga(1).loseLock();
    EXPECT_EQ(rig.m->check_vbo_status(1), 0) << "not again within 9 ticks";
    G_timeTicks += 10;
    EXPECT_EQ(rig.m->check_vbo_status(1), 1);
    EXPECT_EQ(rig.fpga(1).reg(3) & 0xC0, 0);
    G_timeTicks += 10;
    EXPECT_EQ(rig.m->check_vbo_status(1), 1);
    EXPECT_EQ(rig.fpga(1).reg(3) & 0xC0, 0x40);
    G_timeTicks += 10;
    EXPECT_EQ(rig.m->check_vbo_status(1), 0);
    EXPECT_EQ(rig.fpga(1).reg(3) & 0xC0, 0xC0);
    rig.m->read_from_register(40, 1);
    EXPECT_EQ(rig.m->shadow(40, 1) & 0x1C, 0x1C);
    EXPECT_EQ(rig.m->check_vbo_status(0), 0);
}
