// The on-screen display in bitmap mode: the bitmap and its palette come from the serial flash, and
// the bitmap's own size decides the buffer layout, the plane and the scroll area.
#include "engine_fixture.h"

namespace {

using Op = sim::VideoChipGfx::Op;

constexpr uint32_t kStaging = 0x70000000, kOsdBuffer = 0x725C0000, kScrollBuffer = 0x74B80000;
constexpr uint32_t kBitmapW = 1920, kBitmapH = 1080;
constexpr uint32_t kBitmapPitch = 15;                // 1920 / 128, the flash copy's source pitch
constexpr uint32_t kStride = 32;                     // 2 x ceil(1920 / 128) to a multiple of 4
constexpr uint32_t kLineBytes = kStride * 128;
constexpr uint32_t kPaletteFlash = 0x10D3C00, kPaletteBytes = 816;

class PinnedOsdBitmapTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        bringUp();
        e->load_char();
        e->zelApi_OsdSet(0, 1);   // shown
        e->zelApi_OsdSet(3, 0);   // bitmap mode
        chip.withGfx([](sim::VideoChipGfx& g) { g.clearOps(); return 0; });
        chip.clearLog();
    }
    std::vector<Op> ops()
    {
        return chip.withGfx([](sim::VideoChipGfx& g) { return g.ops(); });
    }
};

void expectOp(const Op& o, Op::Kind kind, uint32_t address, uint32_t length, uint32_t dest, uint32_t extra,
              const char* what)
{
    EXPECT_EQ(o.kind, kind) << what;
    EXPECT_EQ(o.address, address) << what;
    EXPECT_EQ(o.length, length) << what;
    EXPECT_EQ(o.dest, dest) << what;
    EXPECT_EQ(o.extra, extra) << what;
}

}  // namespace

TEST_F(PinnedOsdBitmapTest, RedrawLoadsBitmapAndPaletteAndScrollsTheBitmapSource)
{
    // A character-mode buffer that would be wide, and an output area shorter than the source:
    // bitmap mode goes by the bitmap alone.
    e->osd.width = 4224;
    e->osd.height = 200;
    e->osd.srcLeft = 0;
    e->osd.srcRight = 40;
    e->osd.srcTop = 20;
    e->osd.srcBottom = 30;
    e->osd.outTop = 100;
    e->osd.outBottom = 600;
    e->update_osd(e->c331_fd);

    const uint32_t w = kBitmapW - 40, h = kBitmapH - 20 - 30;
    const uint32_t src = kOsdBuffer + 20 * kLineBytes;
    const auto o = ops();
    ASSERT_EQ(o.size(), 7u);
    expectOp(o[0], Op::Dma, 0, kBitmapW * kBitmapH, kStaging, 0, "bitmap into the staging area");
    expectOp(o[1], Op::Copy, kOsdBuffer, kBitmapW, kStaging, kBitmapH, "staging area into the OSD buffer");
    expectOp(o[2], Op::Dma, kPaletteFlash, kPaletteBytes, 0, 4, "palette");
    expectOp(o[3], Op::Copy, kScrollBuffer, w, src, h, "scroll tile 0");
    expectOp(o[4], Op::Copy, kScrollBuffer + w, w, src, h, "scroll tile 1");
    expectOp(o[5], Op::Copy, kScrollBuffer + h * kLineBytes, w, src, h, "scroll tile 2");
    expectOp(o[6], Op::Copy, kScrollBuffer + h * kLineBytes + w, w, src, h, "scroll tile 3");
    // Source pitch, destination pitch and mode of the five copies.
    EXPECT_EQ(chip.writesTo(0x04, 0x1C), (std::vector<uint8_t>{kBitmapPitch, kStride, kStride, kStride, kStride}));
    EXPECT_EQ(chip.writesTo(0x04, 0x1B), std::vector<uint8_t>(5, kStride));
    EXPECT_EQ(chip.writesTo(0x04, 0x22), std::vector<uint8_t>(5, 0));
    // The palette goes to every output channel at once.
    EXPECT_EQ(chip.writesTo(0xFF, 0x01), (std::vector<uint8_t>{1, 0}));

    EXPECT_EQ(chip.regValue(0x09, 0x08, 2), 0x4002u);   // bitmap plane on, not wide
    EXPECT_EQ(chip.reg(0x09, 0x1E), kStride);
    EXPECT_EQ(chip.regValue(0x09, 0x1A, 4), kScrollBuffer);
    EXPECT_EQ(chip.regValue(0x09, 0x40, 2), w);
    EXPECT_EQ(chip.regValue(0x09, 0x42, 2), h);
}
