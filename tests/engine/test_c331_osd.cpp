// The on-screen display: settings, text buffer, drawing through the simulated graphics engine
// and the OSD planes.
#include "engine_fixture.h"

#include <climits>
#include <string>

#include "core/omenu.h"

using namespace c331osd;

namespace {

using Op = sim::VideoChipGfx::Op;

class OsdTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        bringUp();
        e->load_char();
        e->zelApi_OsdSet(3, 1);   // character mode
        chip.withGfx([](sim::VideoChipGfx& g) { g.clearOps(); return 0; });
        chip.clearLog();
    }
    std::vector<Op> ops()
    {
        return chip.withGfx([](sim::VideoChipGfx& g) { return g.ops(); });
    }
    std::vector<Op::Kind> kinds()
    {
        std::vector<Op::Kind> k;
        for (const Op& o : ops())
            k.push_back(o.kind);
        return k;
    }
    // Sets the text from UTF-32 lines.
    void text(const std::vector<std::u32string>& lines)
    {
        static wchar_t buf[80][kLineCodes];
        std::vector<int> len;
        for (size_t i = 0; i < lines.size() && i < 80; ++i) {
            for (size_t k = 0; k < lines[i].size() && k < kLineCodes; ++k)
                buf[i][k] = wchar_t(lines[i][k]);
            len.push_back(int(lines[i].size()));
        }
        e->zelApi_OsdSetUnicode(int(lines.size()), len.data(), buf);
    }
    std::vector<sim::VideoChipGfx::TextLine> lines()
    {
        return chip.withGfx([](sim::VideoChipGfx& g) { return g.textLines(); });
    }
};

}  // namespace

TEST(OsdMath, StrideAndGlyphIndex)
{
    EXPECT_EQ(strideOf(1920).value, 32u);
    EXPECT_FALSE(strideOf(1920).wide);
    EXPECT_EQ(strideOf(4096).value, 64u);
    EXPECT_FALSE(strideOf(4096).wide);
    EXPECT_EQ(strideOf(4224).value, 17u);
    EXPECT_TRUE(strideOf(4224).wide);
    EXPECT_EQ(strideOf(4224).pitchBytes(), 17u * 512u);
    // 17 blocks of 128 give 34, rounded up to 36; one pixel past 4096 is already wide.
    EXPECT_EQ(strideOf(2049).value, 36u);
    EXPECT_FALSE(strideOf(2049).wide);
    EXPECT_EQ(strideOf(4097).value, 17u);
    EXPECT_TRUE(strideOf(4097).wide);
    EXPECT_EQ(glyphIndex('A', 96), 33);
    EXPECT_EQ(glyphIndex(0x4E00, 96), 96);
    EXPECT_EQ(glyphIndex(0x9FFF, 96), 21087);
    for (uint32_t outside : {0u, 13u, 31u, 128u, 0xFFu, 0x3000u, 0x4DFFu, 0xA000u})
        EXPECT_EQ(glyphIndex(outside, 96), -1) << outside;
}

TEST_F(OsdTest, SettingTypesAndRequests)
{
    setWord(ramaddr::kLedX, 16);
    e->osd_redraw_request = e->osd_setup_request = 0;
    EXPECT_EQ(e->zelApi_OsdSet(5, 100), 1);
    EXPECT_EQ(e->osd.outLeft, 116);
    EXPECT_EQ(e->zelApi_OsdSet(6, 200), 1);
    EXPECT_EQ(e->osd.outRight, int(e->sys.width) - 200 - 116);
    EXPECT_EQ(e->zelApi_OsdSet(9, 55), 1);
    EXPECT_EQ(e->osd.srcLeft, 0);
    EXPECT_EQ(e->zelApi_OsdSet(11, 55), 1);
    EXPECT_EQ(e->osd.srcTop, 55);
    EXPECT_EQ(e->osd_redraw_request + e->osd_setup_request, 0);   // placement alone requests nothing
    e->zelApi_OsdSet(4, 9);
    EXPECT_EQ(e->osd.scrollMode, 0);
    EXPECT_EQ(e->osd_setup_request, 1);
    e->zelApi_OsdSet(14, 1);
    EXPECT_EQ(e->osd_redraw_request, 1);
    e->zelApi_OsdSet(32, 0x40);
    EXPECT_EQ(e->osd_setup_request, 0);
    EXPECT_EQ(e->osd_redraw_request, 1);
    EXPECT_EQ(e->zelApi_OsdSet(22, 0), 1);   // the last of each range
    EXPECT_EQ(e->zelApi_OsdSet(35, 0), 1);
    for (int bad : {-1, 23, 31, 36, 100})
        EXPECT_EQ(e->zelApi_OsdSet(bad, 1), 0) << bad;
    // load_char: defaults and the output size.
    EXPECT_EQ(e->osd.bgColor, 0xFF0000u);
    EXPECT_EQ(e->osd.charColor, 0xC0C0FFu);
    EXPECT_EQ(e->osd.width, int(e->sys.width));
}

TEST_F(OsdTest, SixtyFourLinesAreDrawnAndOutsideCharactersSkipped)
{
    e->zelApi_OsdSet(20, 64 * 32);   // a buffer tall enough for every line
    std::vector<std::u32string> t(64, U"x");
    t[0] = U"A\r\u3000B\u00E9\u4E01";
    t[63] = U"end";
    text(t);
    EXPECT_EQ(e->osd_line_count, 64);
    e->update_osd(e->c331_fd);
    const auto drawn = lines();
    ASSERT_EQ(drawn.size(), 64u);
    EXPECT_EQ(drawn[0].glyphs, (std::vector<uint16_t>{33, 34, 97}));
    EXPECT_EQ(drawn[0].advances, (std::vector<uint8_t>{16, 16, 32}));
    EXPECT_EQ(drawn[63].glyphs.size(), 3u);
    EXPECT_EQ(drawn[63].dest, 0x725C0000u + 63u * 32u * 32u * 128u);
    // More lines than the buffer holds keep 64; a line is cut to 127 codes.
    text(std::vector<std::u32string>(70, std::u32string(200, U'a')));
    EXPECT_EQ(e->osd_line_count, 64);
    EXPECT_EQ(e->osd_text[0][126], 'a');
    EXPECT_EQ(e->osd_text[0][127], 0);
}

TEST_F(OsdTest, LinesBelowTheBufferAreNotDrawnAndRedrawOrder)
{
    e->zelApi_OsdSet(20, 100);
    e->zelApi_OsdSet(35, 0);
    text(std::vector<std::u32string>(10, U"ab"));
    e->zelApi_OsdSet(16, 0x0000FF);
    e->zelApi_OsdSet(17, 0x00FF00);
    e->update_osd(e->c331_fd);
    EXPECT_EQ(lines().size(), 4u);   // tops 0, 32, 64, 96
    const auto k = kinds();
    ASSERT_GE(k.size(), 9u);
    EXPECT_EQ(k[0], Op::Fill);
    for (int i = 1; i <= 4; ++i)
        EXPECT_EQ(k[i], Op::Text);
    for (int i = 5; i <= 8; ++i)
        EXPECT_EQ(k[i], Op::Copy);
    const auto pal = chip.withGfx([](sim::VideoChipGfx& g) { return g.palette(); });
    EXPECT_EQ((std::vector<uint8_t>(pal.begin() + 6, pal.begin() + 12)),
              (std::vector<uint8_t>{0xFF, 0, 0, 0, 0xFF, 0}));
    const std::string view = chip.osdView();
    EXPECT_NE(view.find("osd line 4 at x 0 y 96, 32 dots, text 00FF00 on FF0000: \"ab\""), std::string::npos) << view;
}

TEST_F(OsdTest, MarginsBeyondTheBufferSkipTheScrollSetUp)
{
    text({U"a"});
    e->osd.srcRight = e->osd.width + 10;
    e->update_osd(e->c331_fd);
    for (const Op& o : ops())
        EXPECT_NE(o.kind, Op::Copy);
    EXPECT_TRUE(chip.writesTo(0x09, 0x3C).empty());
}

TEST_F(OsdTest, ScrollControlPerMode)
{
    const std::pair<int, uint8_t> cases[] = {{0, 0x80}, {9, 0x80}, {1, 0x81}, {8, 0xF1}};
    for (auto [mode, ctl] : cases) {
        chip.clearLog();
        e->zelApi_OsdSet(4, mode);
        e->set_scroll(e->c331_fd);
        for (uint8_t bank = 0x09; bank < 0x89; bank += 0x10)
            EXPECT_EQ(chip.writesTo(bank, 0x3C), (std::vector<uint8_t>{0, ctl})) << mode << " bank " << int(bank);
    }
}

TEST_F(OsdTest, AreaSplitOverTheChannelGrid)
{
    setWord(ramaddr::kOchNumH, 2);
    setWord(ramaddr::kOchNumV, 1);
    setWord(ramaddr::kOchW, 960);
    setWord(ramaddr::kOchH, 1080);
    e->sys.width = 1920;
    e->sys.height = 1080;
    e->osd.width = 1920;
    e->osd.height = 1080;
    e->osd.outLeft = 1000;
    e->osd.outRight = 1920 - 1000 - 500;
    e->osd.outTop = 0;
    e->osd.outBottom = 0;
    e->osd.srcLeft = e->osd.srcRight = e->osd.srcTop = e->osd.srcBottom = 0;
    Segment seg[8];
    int cols = 0;
    ASSERT_EQ(e->calc_osd(seg, &cols), 2);
    EXPECT_EQ(cols, 2);
    EXPECT_EQ(seg[0].width, 0);
    EXPECT_EQ(seg[1].x, 40);
    EXPECT_EQ(seg[1].width, 500);
    EXPECT_TRUE(seg[1].firstColumn && seg[1].lastColumn);
    // Starting at 900, 200 wide: 60 pixels in column 0, 140 in column 1 from x 0.
    e->osd.outLeft = 900;
    e->osd.outRight = 1920 - 900 - 200;
    e->calc_osd(seg, &cols);
    EXPECT_EQ(seg[0].x, 900);
    EXPECT_EQ(seg[0].width, 60);
    EXPECT_EQ(seg[1].x, 0);
    EXPECT_EQ(seg[1].width, 140);
    // The plane of column 1 starts 60 pixels into the buffer.
    e->osd.display = 1;
    e->set_osd(e->c331_fd, 0);
    EXPECT_EQ(chip.regValue(0x19, 0x1A, 4), 0x725C0000u + 60u);
    EXPECT_EQ(chip.regValue(0x09, 0x08, 2), 0x4003u);
}

// A received menu file may hold any number: placed near the int limits (and beyond what the
// reader takes as an int) the OSD still ends inside the screen, and the engine's margin
// arithmetic stays inside an int (the sanitizer build aborts on a signed overflow).
TEST_F(OsdTest, MenuFileWithExtremePlacementsEndsOnTheScreen)
{
    const std::string extremes[][4] = {
        {"2147483647", "2147483647", "2147483647", "2147483647"},
        {"-2147483647", "-2147483648", "-2147483647", "-2147483648"},
        {"32769", "-2147483647", "2147483000", "-5"},
    };
    for (const auto& v : extremes) {
        zeltest::writeText(kOmenuFile, R"({"name":"x","osdcount":1,"oactcount":1,"menu":{"o":{"type":0,"status":"on",
            "pos":{"x":)" + v[0] + R"(,"y":)" + v[1] + R"(,"w":)" + v[2] + R"(,"h":)" + v[3] + R"(},
            "act":{"effect":1,"speed":2147483647,"staytime":0},"backpara":{"enable":"on","color":"00FF00"},
            "fontpara":{"startx":2147483647,"starty":-2147483648,"fontw":32,"fonth":32,"wordspace":2147483647,
                        "verticalspace":-2147483647,"color":"FFFFFF"},"texts":["abc"]}}})");
        OSD_LIST list;
        ASSERT_EQ(get_json_omenu_para(kOmenuFile, &list), 0) << v[0];
        set_OSD_para(&list.item[0]);
        const int ledW = imageWord(ramaddr::kLedWidth), ledH = imageWord(ramaddr::kLedHeight);
        const OMENU_PARA& p = list.item[0];
        EXPECT_TRUE(p.x >= 0 && p.w >= 0 && p.x + p.w <= ledW) << p.x << " " << p.w;
        EXPECT_TRUE(p.y >= 0 && p.h >= 0 && p.y + p.h <= ledH) << p.y << " " << p.h;
        e->update_osd(e->c331_fd);
        Segment seg[8];
        int cols = 0;
        e->calc_osd(seg, &cols);
        e->set_osd(e->c331_fd, 0);
    }
    // Settings given directly at the int limits are held within reach of the output.
    for (int type : {5, 6, 7, 8, 10, 12, 19, 20, 21, 22})
        for (int extreme : {INT_MAX, INT_MIN, INT_MIN + 1}) {
            e->zelApi_OsdSet(type, extreme);
            EXPECT_LE(std::abs(int64_t(e->osd.outRight)), int64_t(INT_MAX) / 4) << type;
        }
    e->update_osd(e->c331_fd);
}
