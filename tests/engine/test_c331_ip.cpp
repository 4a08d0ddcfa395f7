// Input processors, noise reduction, shrink filters and the input channels' selection.
#include "engine_fixture.h"

namespace {

class IpTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        bringUp();
        chip.clearLog();
    }

    // Window 0 on chip port 1 carried by input channel ich, a 1080p input (format 4).
    void carry(int ich, int lines = 1080)
    {
        e->ich_owner[ich] = 0;
        e->win_port[0] = 1;
        e->win_ich[0][0] = ich;
        e->PI_STATE[1] = 4;
        e->PI_ACT[1][0] = 192;
        e->PI_ACT[1][1] = 1920;
        e->PI_ACT[1][2] = 41;
        e->PI_ACT[1][3] = lines;
        // What the chip measured on the channel: lines - 1 and the second count - 1.
        chip.setReg(0xA8, static_cast<uint8_t>(0x08 + 6 * ich), 0x64);
        chip.setReg(0xA8, static_cast<uint8_t>(0x09 + 6 * ich), 0x04);   // 1124
        chip.setReg(0xA8, static_cast<uint8_t>(0x0A + 6 * ich), 0x97);
        chip.setReg(0xA8, static_cast<uint8_t>(0x0B + 6 * ich), 0x08);   // 2199
    }
    c331_manage::IpLevels& levels() { return e->ip_levels[1]; }
    bool wrote(uint8_t b, uint8_t a) const { return !chip.writesTo(b, a).empty(); }
};

}  // namespace

TEST_F(IpTest, BringUpLevelsAndTheProgressiveProcessor)
{
    for (int p = 0; p < 4; ++p) {
        const auto& lv = e->ip_levels[p];
        EXPECT_EQ(lv.nr[0] | lv.nr[1] | lv.nr[2] | lv.nr[3] | lv.nr[4] | lv.comb, 0);
        EXPECT_EQ(lv.field, 1);
        EXPECT_EQ(lv.diag, 2);
        EXPECT_EQ(lv.mvflt, 3);
    }
    carry(2);
    levels().nr[0] = 1;   // horizontal pixel NR makes the processor active
    e->set_ip(e->c331_fd, 2);
    const uint8_t b14 = bank(0x14, 2);
    const uint32_t m = 1125;
    EXPECT_EQ(chip.regValue(b14, 0x08, 2), m + 32);
    EXPECT_EQ(chip.regValue(b14, 0x0A, 2), (2199u + 16) * 2);
    EXPECT_EQ(chip.regValue(b14, 0x6D, 2), (((m + 33) * 3 / 4) & 0x3FFF) | 0x8000);
    EXPECT_EQ(chip.regValue(b14, 0x0F, 2), 1920u);
    EXPECT_EQ(chip.regValue(b14, 0x13, 2), 1080u);
    EXPECT_EQ(chip.regValue(b14, 0x11, 2), 41u | 0x8000);
    EXPECT_EQ(chip.reg(b14, 0x2A), 16);
    EXPECT_EQ(chip.reg(b14, 0x67), 0);
    EXPECT_EQ(chip.reg(b14, 0x15), 31);   // motion filter level 3
    // Every measurement hold (the frame waits' and the size read's) is released.
    const auto holds = chip.writesTo(0x00, 0x29);
    ASSERT_EQ(holds.size() % 2, 0u);
    for (size_t i = 0; i < holds.size(); ++i)
        EXPECT_EQ(holds[i], i % 2 ? 0 : 0x80);
    EXPECT_EQ(chip.reg(0x00, 0x29), 0);
    EXPECT_EQ(chip.reg(bank(0x15, 2), 0x08), 1);
    EXPECT_EQ(chip.reg(bank(0x15, 2), 0x6B), 1);
    EXPECT_EQ(chip.reg(bank(0x15, 2), 0x6E), 66);
    // Progressive: the second buffer pair of the channel's plan.
    const uint8_t b17 = bank(0x17, 2);
    EXPECT_EQ(chip.regValue(b17, 0x18, 4), 0x19804000u);
    EXPECT_EQ(chip.regValue(b17, 0x1C, 4), 0x22004000u);
    EXPECT_EQ(chip.regValue(b17, 0x14, 4), 0x22004000u);
    EXPECT_EQ(chip.reg(bank(0x16, 2), 0x5B), 0);
}

TEST_F(IpTest, FieldsAreAlwaysProcessed)
{
    carry(1, 540);
    e->PI_SCAN_MODE[1] = 1;
    e->PI_STATE[1] = 5;
    e->set_ip(e->c331_fd, 1);
    const uint8_t b14 = bank(0x14, 1);
    const uint32_t h = (1125 + 1) / 2;
    EXPECT_EQ(chip.regValue(b14, 0x08, 2), h + 32);
    EXPECT_EQ(chip.regValue(b14, 0x13, 2), 1080u);
    EXPECT_EQ(chip.regValue(b14, 0x11, 2), 82u | 0x8000);
    EXPECT_EQ(chip.reg(b14, 0x2A), 0);   // field setting 1
    EXPECT_EQ(chip.reg(b14, 0x67), 8);
    EXPECT_EQ(chip.reg(b14, 0x68), 4);
    EXPECT_TRUE(wrote(b14, 0x2C));        // field format registers
    EXPECT_EQ(chip.reg(bank(0x15, 1), 0x08), 0);
    EXPECT_EQ(chip.regValue(bank(0x17, 1), 0x1C, 4), 0x08802000u);
    EXPECT_EQ(chip.regValue(bank(0x17, 1), 0x24, 4), 0x11002000u);
    EXPECT_EQ(chip.reg(bank(0x16, 1), 0x5B), 1);
}

TEST_F(IpTest, InactiveProcessorOnlyResetsNoiseReduction)
{
    carry(0);
    e->set_ip(e->c331_fd, 0);
    EXPECT_FALSE(wrote(0x14, 0x08));
    EXPECT_EQ(chip.writesTo(0x15, 0x70), (std::vector<uint8_t>{0}));
    EXPECT_EQ(chip.writesTo(0x15, 0x08), (std::vector<uint8_t>{0}));
    // Channels above 3 have no processor; a channel nobody owns carries nothing.
    chip.clearLog();
    e->ich_owner[4] = 0;
    e->set_ip(e->c331_fd, 4);
    e->set_ip(e->c331_fd, -1);
    e->ich_owner[3] = -1;
    e->set_ip(e->c331_fd, 3);
    EXPECT_TRUE(chip.writes().empty());
}

TEST_F(IpTest, BlockNoiseReductionByInputHeight)
{
    carry(0, 576);
    levels().nr[3] = 1;
    e->set_nr(e->c331_fd, 0, 1);
    EXPECT_FALSE(wrote(0x15, 0x39));
    EXPECT_EQ(chip.writesTo(0x15, 0x08), (std::vector<uint8_t>{3}));

    chip.clearLog();
    e->PI_ACT[1][3] = 1080;
    e->set_nr(e->c331_fd, 0, 1);
    EXPECT_EQ(chip.writesTo(0x15, 0x08), (std::vector<uint8_t>{3, 3}));
    EXPECT_EQ(chip.regValue(0x15, 0x39, 2), 8855u);
    EXPECT_EQ(chip.reg(0x15, 0x3B), 144);
    EXPECT_EQ(chip.reg(0x15, 0x44), 16);
    EXPECT_EQ(chip.regValue(0x15, 0x4D, 2), 384u);
    EXPECT_EQ(chip.regValue(0x15, 0x54, 2), 768u);
    EXPECT_EQ(chip.reg(0x15, 0x6A), 36);

    // 720p at level 3, then 1080i: that member's mode is 0 and fields end with NR mode 0.
    levels().nr[3] = 3;
    e->PI_ACT[1][3] = 720;
    e->set_nr(e->c331_fd, 0, 1);
    EXPECT_EQ(chip.regValue(0x15, 0x39, 2), 3223u);
    EXPECT_EQ(chip.regValue(0x15, 0x56, 2), 86u);
    chip.clearLog();
    e->PI_ACT[1][3] = 540;
    e->PI_SCAN_MODE[1] = 1;
    e->set_nr(e->c331_fd, 0, 1);
    EXPECT_EQ(chip.writesTo(0x15, 0x08), (std::vector<uint8_t>{0, 0}));
    EXPECT_EQ(chip.reg(0x15, 0x6A), 48);

    // Formats below 4 switch every stage off.
    chip.clearLog();
    e->PI_STATE[1] = 3;
    e->set_nr(e->c331_fd, 0, 1);
    EXPECT_EQ(chip.regValue(0x15, 0x39, 2), 0u);
    EXPECT_EQ(chip.writesTo(0x12, 0x08), (std::vector<uint8_t>{0}));
    EXPECT_EQ(chip.writesTo(0x15, 0x08), (std::vector<uint8_t>{0}));
}

TEST_F(IpTest, PixelNoiseReductionCombAndDiagonal)
{
    carry(0);
    levels().nr[0] = 2;
    levels().comb = 3;
    e->set_nr_hvpx(e->c331_fd, 0, 1);
    EXPECT_EQ(chip.reg(0x15, 0x6B), 1);
    EXPECT_EQ(chip.reg(0x15, 0x6E), 117);
    EXPECT_EQ(chip.reg(0x15, 0x6F), 201);
    EXPECT_EQ(chip.reg(0x15, 0x6C), 0);
    levels().nr[1] = 3;
    e->set_nr_hvpx(e->c331_fd, 0, 1);
    EXPECT_EQ(chip.reg(0x15, 0x6B), 17);
    EXPECT_EQ(chip.reg(0x15, 0x6D), 252);

    e->set_comb(e->c331_fd, 0, 1);
    EXPECT_EQ(chip.reg(0x14, 0x3B), 1);
    EXPECT_EQ(chip.reg(0x14, 0x3C), 112);
    EXPECT_EQ(chip.reg(0x14, 0x3D), 160);
    e->PI_STATE[1] = 3;
    e->set_comb(e->c331_fd, 0, 1);
    EXPECT_EQ(chip.reg(0x14, 0x3B), 0);
    chip.clearLog();
    e->set_diag(e->c331_fd, 0, 1);
    EXPECT_TRUE(chip.writes().empty());
    e->set_mvflt(e->c331_fd, 0, 1);
    EXPECT_EQ(chip.writesTo(0x14, 0x15), (std::vector<uint8_t>{0}));
}

TEST_F(IpTest, ShrinkFilterLoads)
{
    e->set_lut_hshrnk(e->c331_fd, 65536, 2, 0);
    EXPECT_EQ(chip.writesTo(0x00, 0x79), (std::vector<uint8_t>{44}));
    EXPECT_EQ(chip.writesTo(0x00, 0x7A), (std::vector<uint8_t>{139}));
    chip.clearLog();
    e->set_lut_hshrnk(e->c331_fd, 13107, 0, 1);
    EXPECT_EQ(chip.writesTo(0x00, 0x79), (std::vector<uint8_t>{1}));
    EXPECT_EQ(chip.writesTo(0x00, 0x7A), (std::vector<uint8_t>{131, 135}));

    e->set_lut_vshrnk_4sym(e->c331_fd, 39322, 1, 1);
    for (int i = 0; i < 24; ++i) {
        EXPECT_EQ(chip.reg(0x21, static_cast<uint8_t>(0x68 + i)), c331_manage::lut[5][i]) << i;
        EXPECT_EQ(chip.reg(0x31, static_cast<uint8_t>(0x68 + i)), c331_manage::lut[5][i]) << i;
    }
    e->set_lut_vshrnk_4sym(e->c331_fd, 39321, 1, 0);
    EXPECT_EQ(chip.reg(0x21, 0x69), c331_manage::lut[4][1]);
    EXPECT_EQ(chip.reg(0x31, 0x69), c331_manage::lut[5][1]);

    chip.clearLog();
    e->set_lut_hshrnk(e->c331_fd, 30000, 8, 1);
    e->set_lut_vshrnk_4sym(e->c331_fd, 30000, 8, 1);
    e->set_lut_vshrnk_4sym(e->c331_fd, 30000, -1, 0);
    EXPECT_TRUE(chip.writes().empty());
}

TEST_F(IpTest, MemoryControlRemembersTheNoiseReductionEnable)
{
    carry(1);
    e->win_ich[0][1] = 3;
    e->win_ich[0][2] = -1;
    levels().nr[4] = 2;   // mosquito NR: pixel mode
    e->set_mct(e->c331_fd, 0, 0);
    EXPECT_EQ(chip.reg(0x00, 0x09), 17 | 14);
    EXPECT_EQ(chip.reg(bank(0x10, 1), 0x09), 1);
    EXPECT_EQ(chip.reg(0x00, 0x0B), 17);
    EXPECT_EQ(chip.reg(bank(0x10, 3), 0x09), 9);
    EXPECT_EQ(chip.writesTo(bank(0x15, 1), 0x08), (std::vector<uint8_t>{1}));
    // The same enable again: 15:08 is left alone.
    e->set_mct(e->c331_fd, 0, 0);
    EXPECT_EQ(chip.writesTo(bank(0x15, 1), 0x08).size(), 1u);
    // A chip brought up again gets it once more.
    e->define_param();
    carry(1);
    e->ip_levels[1].nr[4] = 2;
    e->set_mct(e->c331_fd, 0, 0);
    EXPECT_EQ(chip.writesTo(bank(0x15, 1), 0x08).size(), 2u);

    // No input channel, or a port without meaning: nothing.
    chip.clearLog();
    e->win_ich[0][0] = -1;
    e->set_mct(e->c331_fd, 0, 0);
    e->win_ich[0][0] = 1;
    e->win_port[0] = c331_manage::kNoPort;
    e->set_mct(e->c331_fd, 0, 0);
    e->set_mct(e->c331_fd, 6, 0);
    EXPECT_TRUE(chip.writes().empty());
}

TEST_F(IpTest, MemoryControlOfVByOnePortsAndWriteModes)
{
    e->win_port[2] = 4;
    e->PI_STATE[4] = 0;
    e->win_ich[2][0] = 4;
    e->win_ich[2][1] = 5;
    e->win_ich[2][2] = -1;
    e->set_mct(e->c331_fd, 2, 0);
    EXPECT_EQ(chip.reg(0x00, 0x0C), 1);
    EXPECT_EQ(chip.reg(bank(0x10, 4), 0x09), 1);
    EXPECT_EQ(chip.reg(bank(0x10, 5), 0x09), 12);
    EXPECT_TRUE(chip.writesTo(bank(0x15, 4), 0x08).empty());

    e->PM_MEM_WMODE[2] = 2;
    e->set_iscwct(e->c331_fd, 2);
    EXPECT_EQ(chip.reg(0x00, 0x75), 1);
    EXPECT_EQ(chip.reg(0x00, 0x76), 1);
    e->PM_MEM_WMODE[2] = 1;
    e->set_iscwct(e->c331_fd, 2);
    EXPECT_EQ(chip.reg(0x00, 0x75), 128);
    e->PM_MEM_WMODE[2] = 7;
    e->set_iscwct(e->c331_fd, 2);
    EXPECT_EQ(chip.reg(0x00, 0x76), 0);
}
