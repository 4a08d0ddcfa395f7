// The output settings page's Apply in each splice mode: the two outputs' image words, the screen
// size and mode, and the window reset that a changed layout brings.
#include <QComboBox>

#include "core/ram_layout.h"
#include "outputset_fixture.h"
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

class OutputSetModes : public OutputSetTest {
protected:
    void closePage()
    {
        click(g_outputset, "Button_back");
        flushDeletes();
    }
};

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
            EXPECT_EQ(word(0x584 + 2 * k), c.outputs[k]) << c.name << ", word 0x" << std::hex << 0x584 + 2 * k;
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

// The page starts from the stored splice mode and output words: any mode but 2 and 3 is copy.
TEST_F(OutputSetModes, StartsFromTheStoredModeAndOutputWords)
{
    struct Row {
        uint16_t stored;
        int index;
        uint8_t mode;
    };
    const Row rows[] = {{3, 0, 3}, {2, 1, 2}, {4, 2, 4}, {7, 2, 4}, {0, 2, 4}};
    const uint16_t outputs[6] = {1001, 702, 1003, 704, 1005, 706};   // 0x584 ... 0x58E
    for (const Row& r : rows) {
        for (unsigned k = 0; k < 6; ++k)
            ram_set_u16(model->ram_para, 0x584 + 2 * k, outputs[k]);
        open(r.stored, 1920, 1080);
        ASSERT_NE(g_outputset, nullptr);
        EXPECT_EQ(child<QComboBox>(g_outputset, "comboBox")->currentIndex(), r.index) << r.stored;
        EXPECT_EQ(g_outputset->mode(), r.mode) << r.stored;
        EXPECT_EQ(text(g_outputset, "lineEdit_out1_width"), "1001");
        EXPECT_EQ(text(g_outputset, "lineEdit_out1_height"), "702");
        EXPECT_EQ(text(g_outputset, "lineEdit_out2_width"), "1005");
        EXPECT_EQ(text(g_outputset, "lineEdit_out2_height"), "706");
        closePage();
    }
}

// Each keypad result, by splice mode and by a screen up to or above 8188 pixels wide.
TEST_F(OutputSetModes, KeypadResultsFollowTheModeAndTheScreenWidth)
{
    struct Row {
        const char* name;
        uint16_t mode;
        int16_t width, height;
        const char* field;   // edited on the keypad
        const char* typed;
        const char* out1;    // the edited field afterwards
        const char* out2;    // output 2's field of the same dimension
        uint8_t modeAfter;
    };
    const Row rows[] = {
        {"narrow, horizontal", 3, 1920, 1080, "lineEdit_out1_width", "700", "700", "1220", 3},
        {"narrow, vertical", 2, 1920, 1080, "lineEdit_out1_width", "700", "700", "700", 2},
        {"narrow, copy", 4, 1920, 1080, "lineEdit_out1_width", "700", "700", "700", 4},
        {"wide, horizontal", 3, 10000, 1080, "lineEdit_out1_width", "1000", "1024", "9008", 3},
        {"wide in steps, horizontal", 3, 9984, 1080, "lineEdit_out1_width", "1000", "1024", "8960", 3},
        {"wide, copy", 4, 10000, 1080, "lineEdit_out1_width", "1000", "1024", "1024", 4},
        {"too wide, on a wide screen", 2, 10000, 1080, "lineEdit_out1_width", "9000", "8192", "1840", 3},
        {"too wide, on a wide screen in steps", 4, 9984, 1080, "lineEdit_out1_width", "9000", "8192", "1792", 3},
        {"height, vertical", 2, 1920, 1080, "lineEdit_out1_height", "600", "600", "480", 2},
        {"height, horizontal", 3, 1920, 1080, "lineEdit_out1_height", "600", "600", "600", 3},
        {"height, copy", 4, 1920, 1080, "lineEdit_out1_height", "600", "600", "600", 4},
        {"too tall, horizontal", 3, 1920, 9000, "lineEdit_out1_height", "9500", "8188", "8188", 3},
        // 8188 is the largest output; a screen of 8188 still splits in 8-pixel steps, 8189 in 32.
        {"at the limit", 2, 8188, 1080, "lineEdit_out1_width", "8188", "8188", "8188", 2},
        {"past the limit", 2, 8188, 1080, "lineEdit_out1_width", "8189", "8188", "0", 3},
        {"screen at the limit", 3, 8188, 1080, "lineEdit_out1_width", "1000", "1000", "7188", 3},
        {"screen past the limit", 3, 8189, 1080, "lineEdit_out1_width", "1000", "1024", "7197", 3},
        {"height at the limit", 4, 1920, 9000, "lineEdit_out1_height", "8188", "8188", "8188", 4},
        {"height past the limit", 4, 1920, 9000, "lineEdit_out1_height", "8189", "8188", "8188", 4},
    };
    for (const Row& r : rows) {
        open(r.mode, r.width, r.height);
        ASSERT_NE(g_outputset, nullptr) << r.name;
        type(child<QWidget>(g_outputset, r.field), r.typed);
        const bool width = QString(r.field).contains("width");
        EXPECT_EQ(text(g_numberkeyboard, "label_title"), width ? "宽" : "高") << r.name;
        EXPECT_EQ(text(g_outputset, r.field), r.out1) << r.name;
        EXPECT_EQ(text(g_outputset, width ? "lineEdit_out2_width" : "lineEdit_out2_height"), r.out2) << r.name;
        EXPECT_EQ(g_outputset->mode(), r.modeAfter) << r.name;
        closePage();
    }
}

// Copy caps a screen wider than 8188 pixels, and only such a screen; a screen height that
// differs from what was applied is a layout change like the width and the mode.
TEST_F(OutputSetModes, CopyCapsOnlyWideScreensAndAHeightChangeResetsTheWindows)
{
    for (int16_t w : {8188, 8190}) {
        open(3, w, 1080);
        auto* combo = child<QComboBox>(g_outputset, "comboBox");
        combo->setCurrentIndex(2);
        emit combo->activated(2);
        EXPECT_EQ(text(g_outputset, "lineEdit_width"), "8188") << w;
        closePage();
    }

    ram_set_u16(model->ram_para, window(1) + kWinState, 1);
    open(3, 1920, 1080);
    ram_set_u16(model->ram_para, kLedHeight, 1200);   // written over the links, not yet applied
    g_outputset->para_init();
    click(g_outputset, "Button_apply1");
    EXPECT_EQ(word(window(0) + kWinHeight), 1200);
    EXPECT_EQ(word(window(1) + kWinState), 0);
    closePage();
    click(g_option, "Button_back");
    flushDeletes();
}
