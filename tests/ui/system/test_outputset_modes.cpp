// The output settings page's Apply in each splice mode: the two outputs' image words, the screen
// size and mode, and the window reset that a changed layout brings.
#include <QComboBox>

#include "core/ram_layout.h"
#include "system_fixture.h"
#include "ui/system/outputset.h"

using namespace ramaddr;

namespace {

constexpr int16_t kW = 1920, kH = 1080;

struct SpliceCase {
    const char* name;
    uint16_t storedMode;   // before: another mode, so the layout changes
    int index;             // splice selector entry chosen
    const char* out1Width;   // typed on the keypad
    const char* out1Height;
    uint16_t mode;
    // 0x584 output 1 width, height, 0x588 output 2 x, y, 0x58C output 2 width, height
    uint16_t outputs[6];
};

const SpliceCase kCases[] = {
    {"horizontal", 2, 0, "1000", "700", 3, {1000, 700, 1000, 0, kW - 1000, 700}},
    {"vertical", 4, 1, "1000", "600", 2, {1000, 600, 0, 600, 1000, kH - 600}},
    // Copy shows the whole screen on both outputs whatever the output 1 fields say.
    {"copy", 3, 2, "1000", "700", 4, {kW, kH, 0, 0, kW, kH}},
};

class OutputSetModes : public SystemPageTest {};

}  // namespace

TEST_F(OutputSetModes, ApplyWritesEachSpliceModesWordsAndResetsTheWindows)
{
    for (const SpliceCase& c : kCases) {
        ram_set_u16(model->ram_para, kSpliceMode, c.storedMode);
        ram_set_u16(model->ram_para, kLedWidth, kW);
        ram_set_u16(model->ram_para, kLedHeight, kH);
        for (int w = 0; w < 6; ++w) {
            ram_set_u16(model->ram_para, window(w) + kWinState, 1);
            for (unsigned f : {kWinX, kWinY, kWinWidth, kWinHeight})
                ram_set_u16(model->ram_para, window(w) + f, static_cast<uint16_t>(10 + f));
        }
        model->refresh_shadow();
        click(g_option, "output_set");
        ASSERT_NE(g_outputset, nullptr) << c.name;
        auto* combo = child<QComboBox>(g_outputset, "comboBox");
        combo->setCurrentIndex(c.index);
        emit combo->activated(c.index);
        type(child<QWidget>(g_outputset, "lineEdit_out1_width"), c.out1Width);
        type(child<QWidget>(g_outputset, "lineEdit_out1_height"), c.out1Height);
        click(g_outputset, "Button_apply1");

        EXPECT_EQ(engine->para_chg_flag.load(), 1) << c.name;
        EXPECT_EQ(word(kSpliceMode), c.mode) << c.name;
        EXPECT_EQ(word(kLedWidth), kW) << c.name;
        EXPECT_EQ(word(kLedHeight), kH) << c.name;
        for (unsigned k = 0; k < 6; ++k)
            EXPECT_EQ(word(kOutputArea + 4 + 2 * k), c.outputs[k]) << c.name << ", word 0x" << std::hex << kOutputArea + 4 + 2 * k;
        // Window 0 covers the screen, the others are off.
        EXPECT_EQ(word(window(0) + kWinX), 0) << c.name;
        EXPECT_EQ(word(window(0) + kWinY), 0) << c.name;
        EXPECT_EQ(word(window(0) + kWinWidth), kW) << c.name;
        EXPECT_EQ(word(window(0) + kWinHeight), kH) << c.name;
        for (int w = 1; w < 6; ++w)
            EXPECT_EQ(word(window(w) + kWinState), 0) << c.name << ", window " << w;

        click(g_outputset, "Button_back");
        flushDeletes();
        enginePass();
    }
    click(g_option, "Button_back");
    flushDeletes();
}
