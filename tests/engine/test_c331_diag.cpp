// Engine diagnostics: the dump list, the debug bytes served by the change pass, and the OSD menu
// file applied by the pass.
#include <functional>

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
    e->vbyone_rx_ch2_seq(e->c331_fd);
    EXPECT_EQ(chip.writesTo(0x02, 0x7F), (std::vector<uint8_t>{14, 15, 13, 15}));
    EXPECT_EQ(chip.reg(0x02, 0x5C), 5);
    EXPECT_EQ(chip.reg(0x02, 0x6B), 255);
    EXPECT_EQ(chip.reg(0x02, 0x68), 171);

    // The parameter dump's test writes: groups 6, 7 and 8 on all eight channel banks, 9 on two.
    for (int n : {6, 7, 8, 9})
        e->zelDbg_c331_param(n);
    for (int ch = 0; ch < 8; ++ch) {
        const uint8_t off = uint8_t(16 * ch);
        EXPECT_EQ(chip.regValue(uint8_t(0x08 + off), 0x49, 3), 0xFFFFFFu) << ch;
        EXPECT_EQ(chip.reg(uint8_t(0x08 + off), 0x48), 1) << ch;
        EXPECT_EQ(chip.reg(uint8_t(0x0A + off), 0x46), ch < 2 ? 3 : 195) << ch;
        EXPECT_EQ(chip.reg(uint8_t(0x0A + off), 0x4B), ch < 2 ? 3 : 0) << ch;
        EXPECT_EQ(chip.reg(uint8_t(0x50 + off), 0x4A), 1) << ch;
        EXPECT_EQ(chip.regValue(uint8_t(0x50 + off), 0x4B, 3), 0x80FF80u) << ch;
    }
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

namespace {

std::string captured(const std::function<void()>& f)
{
    testing::internal::CaptureStdout();
    f();
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

// The text from the line that starts with `head` up to the next line starting with `next`.
std::string section(const std::string& out, const std::string& head, const std::string& next)
{
    const size_t at = out.find(head);
    if (at == std::string::npos)
        return {};
    const size_t end = out.find("\n" + next, at + head.size());
    return out.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

void expectAll(const std::string& text, std::initializer_list<const char*> parts)
{
    for (const char* p : parts)
        EXPECT_NE(text.find(p), std::string::npos) << "missing \"" << p << "\" in:\n" << text;
}

}  // namespace

TEST_F(EngineTest, TestByteIsClearedAfterItsActionWhateverItsValue)
{
    bringUp();
    chip.clearLog();
    imageRegStatusByte(165) = 0x04;   // no test of its own
    commitAndPass();
    EXPECT_EQ(imageRegStatusByte(165), 0);
    EXPECT_TRUE(chip.writesTo(0x08, 0x0F).empty());

    imageRegStatusByte(165) = 0x03;   // bit 0 first: the input synchronisation test
    commitAndPass();
    EXPECT_EQ(imageRegStatusByte(165), 0);
    EXPECT_EQ(chip.writesTo(0x08, 0x0F), (std::vector<uint8_t>{196, 0}));
    EXPECT_EQ(chip.reg(0x00, 0x48), 137);
    EXPECT_EQ(chip.reg(0x00, 0x4B), 16);

    chip.clearLog();
    imageRegStatusByte(165) = 0x82;
    commitAndPass();
    EXPECT_EQ(imageRegStatusByte(165), 0);
    EXPECT_EQ(chip.writesTo(0x08, 0x0F), std::vector<uint8_t>{4});
    EXPECT_EQ(chip.regValue(0x08, 0x0C, 2), 5612u);
    EXPECT_EQ(chip.regValue(0x08, 0x08, 2), 3u);
}

TEST_F(EngineTest, ParameterDumpGroupsShowEveryStateField)
{
    bringUp();
    e->IWIN[2] = {11, 22, 33, 44};
    e->OWIN[2] = {55, 66, 77, 88};
    e->PM_CROP_EN[2] = 1;
    const int offsets[4] = {1, 2, 3, 4};
    std::copy(offsets, offsets + 4, e->PM_OFFSET[2]);
    e->PM_MEM_WMODE[2] = 3;
    e->PS_MEM_WMODE[2] = 2;
    e->PM_WIN_FADE_IN[2] = 17;
    e->win_info[2].priority = 4;
    e->PM_OVERLAY[3] = 2;
    e->win_port[1] = 4;
    e->win_ich[1][0] = 2;
    e->sys.memmap[2][0] = 0x1A2B3C4D;
    e->PI_UPDATE[4] = 7;
    e->PI_STATE[4] = 9;
    const int act[4] = {192, 1920, 41, 1080};
    std::copy(act, act + 4, e->PI_ACT[4]);
    e->PI_MEAS[4] = {2200, 1100, 1125, 123456, 0, true};
    e->PI_FV[4] = 60;
    e->PI_HDMI_INFO[4][c331hdmi::kHpol] = 1;
    e->PI_HDMI_INFO[4][c331hdmi::kVpol] = 0;
    e->PI_HDMI_INFO[4][c331hdmi::kLane] = 8;
    e->PI_HDMI_INFO[4][c331hdmi::kHtotal] = 2200;
    e->PI_HDMI_INFO[4][c331hdmi::kVtotal] = 1125;

    const std::string g0 = captured([&] { e->zelDbg_c331_param(0); });
    expectAll(g0, {"[zelDbg_c331_param] c331_param", "PI[4] PI_UPDATE:7 PI_STATE:9 htt:2200 vtt:1125",
                   "PI_ACT HST:192 HW:1920 VST:41 VW:1080", "port info: VBO RX", "lane:8", "fv:60",
                   "IWIN HST:11 HW:22 VST:33 VW:44", "OWIN HST:55 HW:66 VST:77 VW:88",
                   "crop:1 offset l:1 r:2 t:3 b:4", "fade in:17", "win[2] priority:4", "OCH3 owner:",
                   "overlay:2", "OSD display:", "PI_HDMI_INFO[4] -- IT6807", "PI_HDMI_INFO[0] -- IT6602",
                   "window limit:6 input limit:6"});

    // The group index wraps at 14.
    const std::pair<int, const char*> names[] = {{3, "c331_mwi"}, {4, "c331_mw1s"}, {5, "c331_PI"}, {14, "c331_param"}};
    for (const auto& g : names) {
        const std::string out = captured([&] { e->zelDbg_c331_param(g.first); });
        EXPECT_NE(out.find(std::string("[zelDbg_c331_param] ") + g.second + "\n"), std::string::npos) << g.first;
    }

    const std::string g1 = captured([&] { e->zelDbg_c331_param(1); });
    expectAll(g1, {"[zelDbg_c331_param] c331_win", "PI[4] PI_UPDATE:7 PI_STATE:9 htt:2200 vtt:1125",
                   "PI_ACT HST:192 HW:1920 VST:41 VW:1080", "port info: VBO RX", "port info: CMOS"});
    EXPECT_EQ(g1.find("IWIN"), std::string::npos);

    const std::string g2 = captured([&] { e->zelDbg_c331_param(2); });
    expectAll(g2, {"[zelDbg_c331_param] c331_mem", "IWIN HST:11 HW:22 VST:33 VW:44",
                   "OWIN HST:55 HW:66 VST:77 VW:88", "offset l:1 r:2 t:3 b:4", "factor hmode:",
                   "wmode PM:3 PS:2", "PI[4] VBO RX ich:2 fields: 1A2B3C4D", "PI[0] CMOS",
                   "act start h:192 v:41", "measured htotal:2200 hcount:1100 vtotal:1125 frame:123456",
                   "pclk:", "sync pol h:1 v:0", "win[2] priority:4", "overlay:2"});
}

TEST_F(EngineTest, RegisterGroupDumpReadsEveryChannelRegister)
{
    bringUp();
    const int ch = 3;
    const uint8_t out = bank(0x08, ch), in = bank(0x10, ch), mem = bank(0x16, ch);
    auto set = [&](uint8_t b, uint8_t a, uint32_t v, int n) {
        for (int k = 0; k < n; ++k)
            chip.setReg(b, uint8_t(a + k), uint8_t(v >> (8 * k)));
    };
    for (int f = 0; f < 5; ++f) {
        set(mem, uint8_t(0x08 + 4 * f), 0x11000000u + f, 4);   // read fields
        set(mem, uint8_t(0x1C + 4 * f), 0x22000000u + f, 4);   // write fields
    }
    set(out, 0x08, 0x1234, 2);
    set(in, 0x09, 2, 1);
    set(mem, 0x30, 240, 1);
    set(mem, 0x31, 16, 1);
    for (uint32_t k = 0; k < 4; ++k) {
        set(out, uint8_t(0x40 + 2 * k), 101 + k, 2);   // output active area HST, HW, VST, VW
        set(in, uint8_t(0x17 + 2 * k), 201 + k, 2);    // input active area
    }
    set(0x00, uint8_t(0x10 + ch), 6, 1);
    set(0x00, uint8_t(0x71 + ch), 5, 1);
    set(0x00, uint8_t(0x69 + ch), 7, 1);

    imageRegStatusByte(164) = 0x01;
    const std::string all = captured([&] { commitAndPass(); });
    EXPECT_EQ(imageRegStatusByte(164), 0);
    expectAll(all, {"[zelDbg_c331_print_regGrp] grp:0", "win0 port:"});
    const std::string c3 = section(all, "CH3", "CH4");
    expectAll(c3, {"OSFLD0:11000000", "OSFLD1:11000001", "OSFLD2:11000002", "OSFLD3:11000003", "OSFLD4:11000004",
                   "ISFLD0:22000000", "ISFLD1:22000001", "ISFLD2:22000002", "ISFLD3:22000003", "ISFLD4:22000004",
                   "OSYCT:4660", "ISYCT:2", "OMWI:240", "IMWI:16", "OACT HST:101 HW:102 VST:103 VW:104",
                   "IACT HST:201 HW:202 VST:203 VW:204", "ICHSEL:6", "ISCWCT:5", "OSCWCT:7"});
    const std::string other = captured([&] { e->zelDbg_c331_print_regGrp(1); });
    expectAll(other, {"\t not found valid grp!!!!!!!"});
}
