// Picture values: the arithmetic, then what reaches the simulated chip.
#include <array>
#include <vector>

#include "core/syncupdate.h"
#include "engine/c331_picture_calc.h"
#include "engine_fixture.h"
#include "support/video_engine.h"

using namespace ramaddr;

namespace {

constexpr uint8_t kBankPicture = 0x0C, kBankSharp = 0x0B;

}  // namespace

TEST(PictureCalc, BrightnessContrastSaturation)
{
    EXPECT_EQ(picture::brightnessData(0), 0xC00u);
    EXPECT_EQ(picture::brightnessData(25), 0xE00u);
    EXPECT_EQ(picture::brightnessData(50), 0u);
    EXPECT_EQ(picture::brightnessData(100), 0x400u);
    EXPECT_EQ(picture::brightnessData(101), picture::brightnessData(0));
    EXPECT_EQ(picture::contrastData(100), 0x3FFu);
    EXPECT_EQ(picture::contrastData(0), 0u);
    EXPECT_EQ(picture::saturationData(100), 0x3FFu);
    EXPECT_EQ(picture::saturationData(150), 501u);
    EXPECT_EQ(picture::saturationData(49), 501u);
}

TEST(PictureCalc, ColourModes)
{
    const picture::ColorGains user = picture::colorGains(128u << 24 | 128u << 16 | 128u << 8 | 0);
    const picture::ColorGains unity = picture::colorGains(2);
    EXPECT_EQ(user.red, 8192u);
    EXPECT_EQ(user.green, 8192u);
    EXPECT_EQ(user.blue, 8192u);
    EXPECT_EQ(unity.red, 8192u);
    // Red from bits 24-31, blue from bits 8-15.
    const picture::ColorGains warm = picture::colorGains(100u << 24 | 64u << 16 | 1u << 8);
    EXPECT_EQ(warm.red, 6400u);
    EXPECT_EQ(warm.green, 4096u);
    EXPECT_EQ(warm.blue, 64u);
    // Only bits 0-1 select the mode.
    EXPECT_EQ(picture::colorGains(0xFC | 1).red, 8845u);
    EXPECT_EQ(picture::colorGains(3).blue, 10978u);
}

TEST(PictureCalc, SharpnessLevelsAndRows)
{
    for (int s = -1; s <= 10; ++s) {
        const int n = picture::sharpnessLevel(s);
        EXPECT_EQ(picture::sharpnessGain(n), 0) << s;
        EXPECT_EQ(picture::sharpnessStrength(n), 0) << s;
    }
    EXPECT_EQ(picture::sharpnessGain(picture::sharpnessLevel(11)), 6);
    EXPECT_EQ(picture::sharpnessStrength(picture::sharpnessLevel(11)), 12);
    EXPECT_EQ(picture::sharpnessStrength(picture::sharpnessLevel(20)), 128);
    EXPECT_EQ(picture::sharpnessStrength(picture::sharpnessLevel(29)), 243);
    // Saturates instead of wrapping round to 0 at 30.
    EXPECT_EQ(picture::sharpnessStrength(picture::sharpnessLevel(30)), 255);
    EXPECT_EQ(picture::sharpnessStrength(picture::sharpnessLevel(1000)), 255);

    EXPECT_EQ(picture::sharpnessRow(4800, 1920), 2);   // exactly 2.5
    EXPECT_EQ(picture::sharpnessRow(4801, 1920), 3);
    EXPECT_EQ(picture::sharpnessRow(3840, 1920), 1);   // exactly 2.0
    EXPECT_EQ(picture::sharpnessRow(3841, 1920), 2);
    EXPECT_EQ(picture::sharpnessRow(2400, 1920), 0);   // exactly 1.25
    EXPECT_EQ(picture::sharpnessRow(2401, 1920), 1);
    EXPECT_EQ(picture::sharpnessRow(960, 1920), 0);
    EXPECT_EQ(picture::sharpnessRow(1920, 0), 0);      // no input window: no division
}

TEST(PictureCalc, ShrinkFilterChoices)
{
    EXPECT_EQ(picture::hshrinkSet(65536), 44);
    EXPECT_EQ(picture::hshrinkSet(0), 44);
    EXPECT_EQ(picture::hshrinkSet(-5), 44);
    EXPECT_EQ(picture::hshrinkSet(1), 1);
    EXPECT_EQ(picture::hshrinkSet(13107), 1);
    EXPECT_EQ(picture::hshrinkSet(13108), 2);
    EXPECT_EQ(picture::hshrinkSet(49152), 12);
    EXPECT_EQ(picture::hshrinkSet(65000), 38);
    EXPECT_EQ(picture::hshrinkSet(65001), 44);

    EXPECT_EQ(picture::vshrinkRow(65536), 9);
    EXPECT_EQ(picture::vshrinkRow(62260), 9);
    EXPECT_EQ(picture::vshrinkRow(62259), 8);
    EXPECT_EQ(picture::vshrinkRow(39322), 5);
    EXPECT_EQ(picture::vshrinkRow(39321), 4);
    EXPECT_EQ(picture::vshrinkRow(13108), 2);
    EXPECT_EQ(picture::vshrinkRow(13107), 1);
    EXPECT_EQ(picture::vshrinkRow(0), 1);

    // Every step of both choices, at its limit and one below.
    const std::array<int, 3> hsteps[] = {{26215, 4, 2},  {32769, 6, 4},   {39322, 8, 6},   {45876, 12, 8},
                                         {49153, 17, 12}, {52429, 22, 17}, {55706, 27, 22}, {58983, 32, 27},
                                         {62260, 38, 32}};
    for (const auto& [ratio, at, below] : hsteps) {
        EXPECT_EQ(picture::hshrinkSet(ratio), at) << ratio;
        EXPECT_EQ(picture::hshrinkSet(ratio - 1), below) << ratio;
    }
    const std::array<int, 3> vsteps[] = {{58983, 8, 7}, {52429, 7, 6}, {45876, 6, 5}, {32769, 4, 3}, {26215, 3, 2}};
    for (const auto& [ratio, at, below] : vsteps) {
        EXPECT_EQ(picture::vshrinkRow(ratio), at) << ratio;
        EXPECT_EQ(picture::vshrinkRow(ratio - 1), below) << ratio;
    }
}

class PictureTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        bringUp();
        chip.clearLog();
    }

    // Window w shown on chip port `port` (with signal) over output channels `och` (one row).
    void placeWindow(int w, int port, std::initializer_list<uint8_t> och, _ImageWindowDef_st iwin,
                     _ImageWindowDef_st owin)
    {
        zeltest::spanOutputs(e->win_info[w], och);
        e->win_port[w] = port;
        e->PI_STATE[port] = 4;
        e->IWIN[w] = iwin;
        e->OWIN[w] = owin;
    }

    // Values of the update-control register 00:22 in order: each bracket writes 0xFF, then 0x99.
    std::vector<uint8_t> brackets() const { return chip.writesTo(0x00, 0x22); }
};

TEST_F(PictureTest, ValuesReachEveryChannelInsideOneUpdateWindow)
{
    chip.setReg(bank(kBankPicture, 5), 0x21, 0x40);
    e->c331_SetContrast(100);
    e->c331_SetSaturation(150);
    e->c331_SetBrightness(25);
    for (int ch = 0; ch < 8; ++ch) {
        const uint8_t b = bank(kBankPicture, ch);
        for (uint8_t a : {0x28, 0x2A, 0x2C})
            EXPECT_EQ(chip.regValue(b, a, 2), 0x3FFu) << ch;
        for (uint8_t a : {0x1B, 0x1D, 0x1F})
            EXPECT_EQ(chip.regValue(b, a, 2), 501u) << ch;
        for (uint8_t a : {0x3A, 0x3C, 0x3E})
            EXPECT_EQ(chip.regValue(b, a, 2), 0xE00u) << ch;
        EXPECT_EQ(chip.reg(b, 0x14) & 1, 1);
    }
    // The enable bit is set, the other bits kept.
    EXPECT_EQ(chip.reg(bank(kBankPicture, 5), 0x21), 0x41);
    EXPECT_EQ(brackets(), (std::vector<uint8_t>{0xFF, 0x99, 0xFF, 0x99, 0xFF, 0x99}));
}

TEST_F(PictureTest, ColourTemperatureMatrix)
{
    chip.setReg(0x00, 0x5C, 0x03);
    e->c331_SetColorTemp(128 << 24 | 128 << 16 | 128 << 8 | 0);
    for (int ch = 0; ch < 8; ++ch) {
        const uint8_t b = bank(kBankPicture, ch);
        for (int i = 0; i < 9; ++i) {
            const uint32_t expected = (i % 4 == 0) ? 8192u : 0u;
            EXPECT_EQ(chip.regValue(b, static_cast<uint8_t>(0x5B + 2 * i), 2), expected) << ch << " " << i;
        }
    }
    for (uint8_t a = 0x59; a <= 0x60; ++a)
        EXPECT_EQ(chip.reg(0x00, a) & 0x20, 0x20) << int(a);
    EXPECT_EQ(chip.reg(0x00, 0x5C), 0x23);
    e->c331_SetColorTemp(3);
    EXPECT_EQ(chip.regValue(0x0C, 0x5B, 2), 6944u);
    EXPECT_EQ(chip.regValue(0x7C, 0x6B, 2), 10978u);
}

TEST_F(PictureTest, SharpnessPicksRowsByTheWindowsScaling)
{
    // 1920x1080 up to 4800x2160: exactly 2.5 across, exactly 2.0 down.
    placeWindow(0, 1, {0, 1}, {0, 1920, 0, 1080}, {0, 4800, 0, 2160});
    e->c331_SetSharpness(11);
    for (int ch : {0, 1}) {
        const uint8_t b = bank(kBankSharp, ch);
        EXPECT_EQ(chip.reg(b, 0x08), 6);
        EXPECT_EQ(chip.reg(b, 0x09), 12);
        EXPECT_EQ(chip.reg(b, 0x11), 6);
        EXPECT_EQ(chip.reg(b, 0x12), 12);
        EXPECT_EQ(chip.reg(b, 0x5E), 1);
        const uint8_t h[5] = {30, 42, 0, 7, 0}, v[5] = {28, 45, 5, 0, 0};
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(chip.reg(b, static_cast<uint8_t>(0x0C + i)), h[i]) << ch << " " << i;
            EXPECT_EQ(chip.reg(b, static_cast<uint8_t>(0x15 + i)), v[i]) << ch << " " << i;
        }
    }
    EXPECT_EQ(chip.reg(bank(kBankSharp, 2), 0x08), 0);
    EXPECT_EQ(chip.reg(0x0C, 0x21) & 1, 1);

    // Fields count double: 540 lines of fields shown on 1080 is 1:1; exactly 1.25 across.
    e->PI_SCAN_MODE[1] = 1;
    e->IWIN[0] = {0, 1920, 0, 540};
    e->OWIN[0] = {0, 2400, 0, 1080};
    e->c331_SetSharpness(20);
    EXPECT_EQ(chip.reg(0x0B, 0x09), 128);
    EXPECT_EQ(chip.reg(0x0B, 0x0C), 44);
    EXPECT_EQ(chip.reg(0x0B, 0x15), 44);
    EXPECT_EQ(chip.reg(0x0B, 0x17), 56);

    // Up to 10 is off: every value 0.
    e->c331_SetSharpness(10);
    for (uint8_t a : {0x08, 0x09, 0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x11, 0x12, 0x15, 0x16, 0x17})
        EXPECT_EQ(chip.reg(0x0B, a), 0) << int(a);
}

TEST_F(PictureTest, SharpnessSkipsWindowsWithoutSignalAndChannelsOutsideTheChip)
{
    placeWindow(0, 1, {0, 0xFF, 2}, {0, 1920, 0, 1080}, {0, 1920, 0, 1080});
    placeWindow(1, 3, {5}, {0, 1920, 0, 1080}, {0, 1920, 0, 1080});
    e->PI_STATE[3] = 0;
    e->IWIN[0] = {0, 0, 0, 0};   // no input window yet
    e->c331_SetSharpness(30);
    EXPECT_EQ(chip.reg(bank(kBankSharp, 0), 0x09), 255);
    EXPECT_EQ(chip.reg(bank(kBankSharp, 2), 0x09), 255);
    EXPECT_EQ(chip.reg(bank(kBankSharp, 0), 0x0C), 44);
    EXPECT_TRUE(chip.writesTo(bank(kBankSharp, 5), 0x08).empty());
    for (const auto& w : chip.writes()) {
        if (w.addr != 0) {
            EXPECT_TRUE(w.bank == 0x00 || w.bank == 0x0C || w.bank == 0x0B || w.bank == 0x2B) << int(w.bank);
        }
    }
    // One bracket: the skipped window opens none.
    EXPECT_EQ(brackets().size(), 2u);
}

TEST_F(PictureTest, ChangePassAppliesTheImage)
{
    setWord(kContrast, 100);
    setWord(kSaturation, 0);
    setWord(kColorTempMode, 0);
    setWord(kRedGain, 64);
    commitAndPass();
    EXPECT_EQ(chip.regValue(0x0C, 0x28, 2), 0x3FFu);
    EXPECT_EQ(chip.regValue(0x7C, 0x1B, 2), 0u);
    EXPECT_EQ(chip.regValue(0x0C, 0x5B, 2), 4096u);
    // The user's brightness goes to the LED output; the chip stays neutral.
    setWord(kBrightness, 3);
    model->refresh_shadow();
    setWord(kBrightness, 80);
    commitAndPass();
    EXPECT_EQ(chip.writesTo(0x0C, 0x3A), (std::vector<uint8_t>{0}));
}

namespace {

// One command of the links' protocol, handled as a link hands it over; returns the reply status.
uint8_t linkCommand(uint8_t group, std::vector<uint8_t> payload)
{
    const std::vector<uint8_t> reply = linkReply(group, payload);
    return reply.size() > 10 ? reply[10] : 0xEE;
}

}  // namespace

TEST_F(PictureTest, RamWriteThenAnotherReportThenTheUpdateRegisterReachesTheChip)
{
    setWord(kContrast, 50);
    commitAndPass();
    model->refresh_shadow();
    const uint32_t before = chip.regValue(0x0C, 0x28, 2);
    EXPECT_EQ(linkCommand(0x60, {0x82, 0x08, 0, 0, 2, 0, 0, 0, 100, 0}), 0);   // contrast 100, not committed
    SyncUpdate::pInstance()->para_sync(12);                                     // an input report first
    EXPECT_EQ(linkCommand(0xA0, {0x10, 0x01, 0, 0x01}), 0);                     // the update register
    e->stepOnce();
    EXPECT_NE(chip.regValue(0x0C, 0x28, 2), before);
    EXPECT_EQ(chip.regValue(0x0C, 0x28, 2), 0x3FFu);
}
