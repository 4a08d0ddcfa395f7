// Test-pattern rows and colour-temperature presets, value by value on every channel they reach.
#include <array>

#include "engine_fixture.h"
#include "support/video_engine.h"

namespace {

// The generator registers of one output channel in a fixed order: 08:57 mode, 08:58-08:5A
// parameters, 08:5B control (2 bytes), 08:5D, 08:5F and 08:61 sizes (2 bytes each), 08:63-08:65
// levels, 08:66-08:68 component controls.
using Generator = std::array<uint32_t, 14>;

struct PatternRow {
    int pattern;
    Generator regs;
};

// Parameters 0, levels 255 and component controls 3 unless the row says otherwise; 08:5D is 0.
const PatternRow kPatternRows[] = {
    {6, {1, 0, 0, 0, 0x8000, 0, 480, 0, 255, 255, 255, 3, 3, 3}},
    {7, {14, 0, 0, 0, 14, 0, 1, 0, 255, 255, 255, 3, 3, 3}},
    {11, {8, 48, 0, 0, 0x8000, 0, 32, 32, 255, 255, 255, 3, 3, 3}},
    {12, {5, 0, 0, 0, 0x8000, 0, 240, 270, 255, 255, 255, 3, 3, 3}},
    {13, {14, 0, 0, 0, 0x8000, 0, 1, 0, 255, 255, 255, 3, 3, 3}},
    {14, {1, 0, 0, 0, 0x8000, 0, 480, 0, 255, 255, 255, 3, 3, 3}},
    {15, {3, 0, 1, 0, 0x8000, 0, 0x8FFF, 0, 0, 120, 0, 0, 0, 0}},
    {17, {6, 0, 0, 0, 0x8000, 0, 960, 0, 255, 255, 255, 3, 3, 3}},
    {19, {2, 0, 0, 0, 0x8000, 0, 0, 270, 255, 255, 255, 3, 3, 3}},
    {20, {3, 1, 1, 1, 0x8000, 0, 0, 0x4FFF, 255, 255, 255, 3, 3, 3}},
};

constexpr uint8_t kPatternChannels[] = {2, 5};

class PinnedPictureTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        bringUp();
        // The default single window, laid over two output channels that are not the first.
        ASSERT_EQ(e->wincnt, 1);
        zeltest::spanOutputs(e->win_info[0], {kPatternChannels[0], kPatternChannels[1]});
    }

    Generator generator(int ch) const
    {
        const uint8_t b = bank(0x08, ch);
        Generator g{};
        static constexpr std::pair<uint8_t, int> kRegs[] = {{0x57, 1}, {0x58, 1}, {0x59, 1}, {0x5A, 1}, {0x5B, 2},
                                                            {0x5D, 2}, {0x5F, 2}, {0x61, 2}, {0x63, 1}, {0x64, 1},
                                                            {0x65, 1}, {0x66, 1}, {0x67, 1}, {0x68, 1}};
        for (size_t i = 0; i < g.size(); ++i)
            g[i] = chip.regValue(b, kRegs[i].first, kRegs[i].second);
        return g;
    }
};

}  // namespace

TEST_F(PinnedPictureTest, EveryGeneratedPatternRowOnEachChannelOfTheWindow)
{
    e->win_info[0].width = 2048;   // not wide: pattern 7 keeps its own control word
    for (const PatternRow& row : kPatternRows) {
        e->c331_SetPattern(16);   // leave other values behind in every register
        ASSERT_EQ(e->c331_SetPattern(row.pattern), 0);
        for (int ch : kPatternChannels)
            EXPECT_EQ(generator(ch), row.regs) << "pattern " << row.pattern << " channel " << ch;
    }
}

TEST_F(PinnedPictureTest, LinePatternSevenControlWordFollowsTheWindowWidth)
{
    e->win_info[0].width = 2049;
    chip.clearLog();
    e->c331_SetPattern(7);
    for (int ch : kPatternChannels) {
        EXPECT_EQ(chip.regValue(bank(0x08, ch), 0x5B, 2), 0x8000u) << ch;
        EXPECT_EQ(chip.regValue(bank(0x08, ch), 0x5F, 2), 1u) << ch;
    }
    // After the clear: mode, the size, then the control word and the colour registers.
    std::vector<int> order;
    for (const auto& w : chip.writes())
        if (w.addr != 0 && w.bank == bank(0x08, kPatternChannels[1]))
            order.push_back(w.addr);
    ASSERT_GE(order.size(), 18u);
    EXPECT_EQ(std::vector<int>(order.begin() + 18, order.end()),
              (std::vector<int>{0x57, 0x5F, 0x60, 0x5B, 0x5C, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68}));

    e->win_info[0].width = 2048;
    e->c331_SetPattern(7);
    for (int ch : kPatternChannels)
        EXPECT_EQ(chip.regValue(bank(0x08, ch), 0x5B, 2), 14u) << ch;
}

TEST_F(PinnedPictureTest, ColourPresetsOnEveryChannelIgnoreTheUserGains)
{
    struct Preset {
        int mode;
        uint32_t red, green, blue;
    };
    const Preset presets[] = {{1, 8845, 8113, 7056}, {2, 8192, 8192, 8192}, {3, 6944, 8282, 10978}};
    for (const Preset& p : presets) {
        // User gains 10, 20, 30 and stray bits above the mode: neither changes a preset.
        e->c331_SetColorTemp(int(10u << 24 | 20u << 16 | 30u << 8 | 0xFCu | uint32_t(p.mode)));
        for (int ch = 0; ch < 8; ++ch) {
            const uint8_t b = bank(0x0C, ch);
            EXPECT_EQ(chip.regValue(b, 0x5B, 2), p.red) << p.mode << " " << ch;
            EXPECT_EQ(chip.regValue(b, 0x63, 2), p.green) << p.mode << " " << ch;
            EXPECT_EQ(chip.regValue(b, 0x6B, 2), p.blue) << p.mode << " " << ch;
            for (uint8_t a : {0x5D, 0x5F, 0x61, 0x65, 0x67, 0x69})
                EXPECT_EQ(chip.regValue(b, a, 2), 0u) << p.mode << " " << ch << " " << int(a);
        }
    }
}
