// Engine diagnostics: the dump list, the debug bytes served by the change pass, and the OSD menu
// file applied by the pass.
#include "core/omenu.h"
#include "engine/c331_diag.h"
#include "engine_fixture.h"
#include "sim/sim_board.h"

TEST(DumpList, SizesAndEnds)
{
    const auto ids = c331DumpList();
    ASSERT_EQ(ids.size(), 7967u);
    int width[5] = {};
    for (uint32_t id : ids) {
        ASSERT_GE(id & 0xFF, 1u);
        ASSERT_LE(id & 0xFF, 4u);
        ASSERT_LE(((id >> 8) & 0xFF) + (id & 0xFF) - 1, 0x7Fu) << std::hex << id;   // inside the bank
        ++width[id & 0xFF];
    }
    EXPECT_EQ(width[1], 5271);
    EXPECT_EQ(width[2], 2246);
    EXPECT_EQ(width[3], 119);
    EXPECT_EQ(width[4], 331);
    EXPECT_EQ(ids.front(), 0x000801u);
    EXPECT_EQ(ids.back(), 0xFF0503u);
    std::vector<bool> bank(256, false);
    for (uint32_t id : ids)
        bank[id >> 16] = true;
    EXPECT_EQ(std::count(bank.begin(), bank.end(), true), 256);
}

TEST_F(EngineTest, DebugBytesActOnlyOnACommittedPass)
{
    bringUp();
    imageRegStatusByte(162) = 0x03;
    imageRegStatusByte(163) = 13;   // group 12: the name only
    e->stepOnce();                  // nothing committed: nothing happens
    EXPECT_EQ(imageRegStatusByte(162), 0x03);
    chip.clearLog();
    testing::internal::CaptureStdout();
    commitAndPass();
    fflush(stdout);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(imageRegStatusByte(162), 0);
    EXPECT_EQ(imageRegStatusByte(163), 0);
    EXPECT_NE(out.find("[zelDbg_c331_param] none"), std::string::npos);
    // Only the input slide bars (channels 4 and 5), not the output ones.
    EXPECT_EQ(chip.writesTo(0x48, 0x57), std::vector<uint8_t>{137});
    EXPECT_EQ(chip.writesTo(0x58, 0x57), std::vector<uint8_t>{137});
    EXPECT_TRUE(chip.writesTo(0x08, 0x57).empty());
    EXPECT_EQ(chip.regValue(0x48, 0x61, 2), 2752u);
    EXPECT_EQ(chip.reg(0x58, 0x64), 255);   // green on channel 5
    EXPECT_EQ(chip.reg(0x58, 0x63), 0);
}

TEST_F(EngineTest, SequencesWriteTheirRegisters)
{
    bringUp();
    chip.clearLog();
    e->vbyone_rx_ch1_seq(e->c331_fd);
    EXPECT_EQ(chip.writesTo(0x02, 0x7F), (std::vector<uint8_t>{14, 15}));
    EXPECT_EQ(chip.reg(0x02, 0x4C), 171);
    chip.setReg(0x50, 0x17, 0x10);
    e->write_read_c331_b80_iacthstch5(e->c331_fd);
    EXPECT_EQ(chip.regValue(0x50, 0x17, 2), 0x10u + 100u);
    // A pattern shown before left high bytes in the generator's 2-byte words.
    chip.setReg(0x08, 0x5C, 0x80);
    chip.setReg(0x08, 0x5E, 0x12);
    chip.setReg(0x08, 0x60, 0x8F);
    e->output_slidebar(e->c331_fd);
    EXPECT_EQ(chip.reg(0x08, 0x57), 9);
    EXPECT_EQ(chip.regValue(0x08, 0x5B, 2), 160u);
    EXPECT_EQ(chip.regValue(0x08, 0x5D, 2), 0u);
    EXPECT_EQ(chip.regValue(0x08, 0x5F, 2), 32u);
    EXPECT_EQ(chip.regValue(0x08, 0x61, 2), 1376u);
    EXPECT_EQ(chip.reg(0x18, 0x63), 255);   // red on channel 1
    EXPECT_EQ(chip.reg(0x18, 0x64), 0);
    EXPECT_EQ(chip.reg(0x18, 0x66), 3);
    e->disable_slidebar(e->c331_fd);
    EXPECT_EQ(chip.reg(0x18, 0x57), 0);
    EXPECT_EQ(chip.reg(0x58, 0x57), 0);
}

TEST_F(EngineTest, OsdMenuFileAppliedByThePassIsShownByTheChip)
{
    bringUp();
    zeltest::writeText(kOmenuFile, R"({"name": "t", "osdcount": 1, "oactcount": 1, "menu": [
      {"type": 0, "status": "on", "pos": {"x": 0, "y": 0, "w": 800, "h": 200},
       "act": {"effect": 0, "speed": 1, "staytime": 0},
       "backpara": {"enable": "on", "color": "000080"},
       "fontpara": {"startx": 8, "starty": 4, "fontw": 32, "fonth": 32, "wordspace": 0,
                    "verticalspace": 2, "color": "FF0000"},
       "texts": ["Hello\nWorld"]}]})");
    setWord(ramaddr::kOsdOn, 1);
    commitAndPass();
    EXPECT_EQ(e->osd.charColor, 0x0000FFu);
    EXPECT_EQ(e->osd.bgColor, 0x800000u);
    EXPECT_EQ(e->osd.display, 1);
    const std::string view = chip.osdView();
    EXPECT_NE(view.find("osd plane: on"), std::string::npos) << view;
    EXPECT_NE(view.find("osd line 1 at x 8 y 4, 32 dots, text FF0000 on 000080: \"Hello\""), std::string::npos)
        << view;
    EXPECT_NE(view.find("osd line 2 at x 8 y 38, 32 dots, text FF0000 on 000080: \"World\""), std::string::npos)
        << view;
    // The same lines in the chip's decoded view beside the register snapshot.
    sim::writeDeviceSnapshot();
    EXPECT_NE(zeltest::readText("/var/sim/video_chip.txt").find(view), std::string::npos);
}
