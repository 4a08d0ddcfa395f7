// Test patterns and the output background.
#include <array>
#include <map>

#include "core/global.h"
#include "engine_fixture.h"
#include "sim/video_chip_picture.h"
#include "support/video_engine.h"

using namespace ramaddr;

namespace {

class PatternTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        bringUp();
        // One window over output channels 0 and 1.
        e->wincnt = 1;
        e->win_info[0].width = 1920;
        zeltest::spanOutputs(e->win_info[0], {0, 1});
        chip.clearLog();
    }

    // The generator registers 08:57-08:68 of output channel ch.
    std::map<int, int> generator(int ch) const
    {
        std::map<int, int> r;
        for (int a = 0x57; a <= 0x68; ++a)
            r[a] = chip.reg(bank(0x08, ch), static_cast<uint8_t>(a));
        return r;
    }
    // Addresses written in bank b, in order, after the first `skip` byte writes there.
    std::vector<int> order(uint8_t b, size_t skip) const
    {
        std::vector<int> out;
        for (const auto& w : chip.writes())
            if (w.addr != 0 && w.bank == b)
                out.push_back(w.addr);
        return std::vector<int>(out.begin() + static_cast<long>(std::min(skip, out.size())), out.end());
    }
};

// Runs one body through the command processor as a PC would send it.
void command(uint8_t group, std::vector<uint8_t> payload)
{
    const std::vector<uint8_t> reply = linkReply(group, payload);
    ASSERT_GT(reply.size(), 10u);
    EXPECT_EQ(reply[10], 0) << "group " << int(group);
}

}  // namespace

TEST_F(PatternTest, SolidColourPerChannelAndWidth)
{
    ASSERT_EQ(e->c331_SetPattern(1), 0);
    EXPECT_EQ(e->zelApi_IsPatternGen(), 1);
    auto ch0 = generator(0), ch1 = generator(1);
    EXPECT_EQ(ch0[0x57], 4);
    EXPECT_EQ(ch0[0x63], 255);
    EXPECT_EQ(ch0[0x64], 0);
    EXPECT_EQ(ch0[0x66], 3);
    EXPECT_EQ(ch0[0x5B] | ch0[0x5C] << 8, 0);
    EXPECT_EQ(ch1[0x5B] | ch1[0x5C] << 8, 3);
    EXPECT_EQ(ch1[0x63], 255);
    // Cleared in its fixed order, the window's input background (colour, enable), then control
    // word, mode and the colours.
    EXPECT_EQ(order(0x08, 0), (std::vector<int>{0x57, 0x58, 0x59, 0x5A, 0x5B, 0x5C, 0x5D, 0x5E, 0x5F, 0x60, 0x61,
                                               0x62, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x49, 0x4A, 0x4B, 0x48,
                                               0x5B, 0x5C, 0x57, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68}));
    EXPECT_EQ(chip.writesTo(0x00, 0x22), (std::vector<uint8_t>{0xFF, 0xFF, 0x99, 0x99}));

    // Pattern 21 is pattern 1 again.
    e->c331_SetPattern(2);
    e->c331_SetPattern(21);
    EXPECT_EQ(generator(0), ch0);
    EXPECT_EQ(generator(1), ch1);

    // Each solid colour's levels, component by component, on both channels.
    const std::array<int, 4> solid[] = {{2, 0, 255, 0}, {3, 0, 0, 255}, {4, 255, 255, 255}, {5, 0, 0, 0}};
    for (const auto& [pattern, red, green, blue] : solid) {
        e->c331_SetPattern(pattern);
        for (uint8_t b : {0x08, 0x18}) {
            EXPECT_EQ(chip.reg(b, 0x57), 4) << pattern;
            EXPECT_EQ((std::array<int, 3>{chip.reg(b, 0x63), chip.reg(b, 0x64), chip.reg(b, 0x65)}),
                      (std::array<int, 3>{red, green, blue}))
                << pattern << " bank " << int(b);
        }
    }

    e->win_info[0].width = 2049;
    e->c331_SetPattern(3);
    EXPECT_EQ(chip.regValue(0x08, 0x5B, 2), 0x8000u);
    EXPECT_EQ(chip.regValue(0x18, 0x5B, 2), 0x8000u);
    EXPECT_EQ(chip.reg(0x18, 0x65), 255);
    e->win_info[0].width = 2048;
    e->c331_SetPattern(3);
    EXPECT_EQ(chip.regValue(0x08, 0x5B, 2), 0u);
    EXPECT_EQ(chip.regValue(0x18, 0x5B, 2), 3u);
}

TEST_F(PatternTest, GeneratedPatterns)
{
    e->c331_SetPattern(18);
    auto g = generator(1);
    EXPECT_EQ(g[0x57], 9);
    EXPECT_EQ(g[0x5B] | g[0x5C] << 8, 0x8095);
    EXPECT_EQ(g[0x5F] | g[0x60] << 8, 4);
    EXPECT_EQ(g[0x61] | g[0x62] << 8, 3840);
    EXPECT_EQ(g[0x68], 3);
    e->c331_SetPattern(16);
    g = generator(0);
    EXPECT_EQ(g[0x58], 2);
    EXPECT_EQ(g[0x5A], 1);
    EXPECT_EQ(g[0x61] | g[0x62] << 8, 0x8FFF);
    EXPECT_EQ(g[0x64], 120);
    EXPECT_EQ(g[0x66], 0);
    // Lines: one size register, control word by width.
    chip.clearLog();
    e->c331_SetPattern(8);
    EXPECT_EQ(order(0x18, 18), (std::vector<int>{0x57, 0x61, 0x62, 0x5B, 0x5C, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68}));
    EXPECT_EQ(chip.regValue(0x18, 0x5B, 2), 15u);
    EXPECT_EQ(chip.regValue(0x18, 0x61, 2), 1u);
}

TEST_F(PatternTest, NineAndTenOnlyClearAndKeepInputWorkSuspended)
{
    e->c331_SetPattern(11);
    for (int p : {9, 10}) {
        e->c331_SetPattern(p);
        EXPECT_EQ(e->zelApi_IsPatternGen(), 1) << p;
        for (auto [a, v] : generator(0))
            EXPECT_EQ(v, 0) << p << " " << a;
    }
    e->c331_SetPattern(0);
    EXPECT_EQ(e->zelApi_IsPatternGen(), 0);
}

TEST_F(PatternTest, RefusedWithSeveralWindowsAndSkipsForeignChannels)
{
    e->c331_SetPattern(4);
    chip.clearLog();
    e->wincnt = 2;
    EXPECT_EQ(e->c331_SetPattern(0), -1);
    EXPECT_EQ(e->c331_SetPattern(5), -1);
    EXPECT_TRUE(chip.writes().empty());
    EXPECT_EQ(e->zelApi_IsPatternGen(), 1);

    e->wincnt = 1;
    e->win_info[0].columns = 3;
    e->win_info[0].ochLst[1] = 0xFF;
    e->win_info[0].ochLst[2] = 3;
    e->c331_SetPattern(4);
    // Channel 1, which the pattern was drawn on and the window left, is only cleared.
    for (const auto& w : chip.writes()) {
        if (w.addr != 0) {
            EXPECT_TRUE(w.bank == 0x00 || w.bank == 0x08 || w.bank == 0x38 || (w.bank == 0x18 && w.value == 0))
                << int(w.bank);
        }
    }
    EXPECT_EQ(chip.regValue(0x38, 0x5B, 2), 3u);
    EXPECT_EQ(chip.regValue(0x18, 0x57, 1), 0u);
}

TEST_F(PatternTest, ShownAndClearedOverTheProtocol)
{
    ASSERT_EQ(imageWord(kTestPattern), 0);
    command(0x60, {0x60, 0x03, 0, 0, 2, 0, 0, 0, 2, 0});   // write RAM 0x360 = 2
    command(0xA0, {0x10, 0x01, 0, 0x01});                 // update: apply the image
    e->stepOnce();
    std::string view = sim::describeOutputPicture(chip);
    EXPECT_NE(view.find("och 0: solid #00FF00 control 0x0000\n"), std::string::npos) << view;
    EXPECT_NE(view.find("och 1: solid #00FF00 control 0x0003\n"), std::string::npos) << view;
    EXPECT_EQ(e->zelApi_IsPatternGen(), 1);
    model->refresh_shadow();

    command(0x60, {0x60, 0x03, 0, 0, 2, 0, 0, 0, 0, 0});
    command(0xA0, {0x10, 0x01, 0, 0x01});
    e->stepOnce();
    view = sim::describeOutputPicture(chip);
    EXPECT_NE(view.find("och 0: off\n"), std::string::npos) << view;
    EXPECT_NE(view.find("och 1: off\n"), std::string::npos) << view;
    EXPECT_EQ(e->zelApi_IsPatternGen(), 0);
}

TEST_F(PatternTest, BackgroundIsBlackUnlessForced)
{
    for (int c = 0; c < 8; ++c)
        e->och_owner[c] = -1;
    e->och_owner[0] = 0;
    e->och_owner[2] = 1;
    e->win_info[0].output = 0x01;   // black
    e->win_info[1].output = 0x03;   // black and frozen
    e->zelApi_SetOutBkg(0);
    for (int c = 0; c < 8; ++c) {
        const uint8_t b = bank(0x08, c);
        EXPECT_EQ(chip.regValue(b, 0x49, 3), 0u) << c;
        EXPECT_EQ(chip.reg(b, 0x48), 1) << c;
        EXPECT_EQ(chip.regValue(bank(0x0E, c), 0x0D, 2), c == 0 ? 0x55u : 0u) << c;
    }
    g_force_bkcolor = 1;
    e->zelApi_SetOutBkg(0);
    EXPECT_EQ(chip.regValue(0x08, 0x49, 3), 0x00FF00u);
    EXPECT_EQ(chip.regValue(0x18, 0x49, 3), 0u);
    g_force_bkcolor = 2;
}
