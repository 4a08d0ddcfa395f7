// Flash commands for the video chip's serial flash (device 4), the font reload register and the
// engine's register dump, through the command processor into the simulated chip.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <thread>

#include "core/worker_stop.h"
#include "core/zelrampara.h"
#include "engine/c331_manage.h"
#include "link_client.h"
#include "links/message_deal.h"
#include "sim/video_chip.h"
#include "support/test_root.h"
#include "support/upgrade_package.h"
#include "support/video_engine.h"

using namespace linktest;

namespace {

constexpr uint8_t kVideoFlash = 4;

class VideoFlashGroups : public ::testing::Test {
protected:
    void SetUp() override
    {
        ZelRamPara::pInstance();
        e = zeltest::newEngine();
        ASSERT_EQ(e->initialize(false), 0);
        e->load_system_param();
    }
    Bytes erase(uint32_t address, uint16_t count, uint8_t unit)
    {
        return deal(0x70, {uint8_t(address), uint8_t(address >> 8), uint8_t(address >> 16), uint8_t(address >> 24),
                           uint8_t(count), uint8_t(count >> 8), kVideoFlash, unit});
    }
    Bytes write(uint32_t address, const Bytes& data)
    {
        Bytes w = ramWrite(address, data);
        w[6] = kVideoFlash;
        return deal(0x71, w);
    }
    Bytes read(uint32_t address, uint16_t n)
    {
        Bytes r = ramRead(address, n);
        r[6] = kVideoFlash;
        return deal(0x72, r);
    }
    uint8_t fontStatus() { return replyData(deal(0xA1, regRead(43, 1)))[0]; }

    zeltest::TempRoot root;
    sim::VideoChipModel& chip = sim::attachVideoChip();
    c331_manage* e = nullptr;
};

}  // namespace

TEST_F(VideoFlashGroups, FontWrittenReadBackAndDetected)
{
    ASSERT_EQ(status(deal(0xA0, regWrite(0x0E, 0xFF, 0x08))), 0);
    EXPECT_EQ(fontStatus() & 0x3F, 0x3F);   // the new flash holds all four heads

    ASSERT_EQ(status(erase(0x10000, 1, 4)), 0);   // one 64 KB unit over the 32-dot CJK font
    ASSERT_EQ(status(deal(0xA0, regWrite(0x0E, 0xFF, 0x08))), 0);
    EXPECT_EQ(fontStatus() & 0x3F, 0x3F & ~0x02);
    EXPECT_EQ(e->font_bits, 0x0F & ~1);

    const Bytes font = zeltest::upgradeFont(0, 32, 20 * 128);   // a 32-dot CJK font of 20 glyphs
    for (size_t at = 0; at < font.size(); at += 512) {
        const Bytes piece(font.begin() + long(at), font.begin() + long(std::min(font.size(), at + 512)));
        ASSERT_EQ(status(write(0x10000 + uint32_t(at), piece)), 0) << at;
    }
    EXPECT_EQ(chip.flash(0x10000, uint32_t(font.size())), font);
    Bytes back;
    for (size_t at = 0; at < font.size(); at += 1000) {
        const uint16_t n = uint16_t(std::min<size_t>(1000, font.size() - at));
        const Bytes r = read(0x10000 + uint32_t(at), n);
        ASSERT_EQ(status(r), 0);
        const Bytes d = replyData(r);
        back.insert(back.end(), d.begin(), d.end());
    }
    EXPECT_EQ(back, font);

    ASSERT_EQ(status(deal(0xA0, regWrite(0x0E, 0xFF, 0x08))), 0);
    EXPECT_EQ(fontStatus() & 0x3F, 0x3F);
    EXPECT_EQ(e->font_bits, 0x0F);
    // The reload copied the new glyphs into chip memory behind the 32-dot ASCII font.
    chip.withGfx([&](sim::VideoChipGfx& g) {
        EXPECT_EQ(g.memByte(0x7F003000), font[35]);
        return 0;
    });
}

// The reload handed apart answers whether the fonts are in the chip: 0 once all four are copied,
// 1 when a stop cuts the copy short. The stop is for good, so it is made in a child process.
TEST_F(VideoFlashGroups, AFontReloadCutShortByAStopAnswers1)
{
    auto reloadApart = [](Bytes& out) {
        Bytes b = body(0xA0, regWrite(0x0E, 0x08, 0x08));
        out.assign(message_deal::kMaxReplyBody, 0);
        out.resize(message_deal::deal_apart(b.data(), unsigned(b.size()), out.data(), unsigned(out.size())));
    };
    Bytes whole;
    reloadApart(whole);
    ASSERT_TRUE(isReply(whole));
    EXPECT_EQ(status(whole), 0);

    auto cutShort = [&] {
        chip.withGfx([](sim::VideoChipGfx& g) {
            g.setDmaRate(1000);   // the four fonts take 13 s
            g.clearOps();
            return 0;
        });
        Bytes reply;
        std::thread reload([&] { reloadApart(reply); });
        const bool copying = waitFor(
            [&] {
                return chip.withGfx([](sim::VideoChipGfx& g) {
                    for (const sim::VideoChipGfx::Op& op : g.ops())
                        if (op.kind == sim::VideoChipGfx::Op::Dma)
                            return true;
                    return false;
                });
            },
            10000);
        requestStop();
        reload.join();
        std::_Exit(!copying ? 98 : isReply(reply) ? status(reply) : 99);
    };
    EXPECT_EXIT(cutShort(), ::testing::ExitedWithCode(1), "");
}

TEST_F(VideoFlashGroups, EraseUnitsAndTheirAlignment)
{
    for (uint32_t a : {0x3000u, 0x4000u, 0x8000u, 0xFFFFu, 0x20000u, 0x2FFFFu, 0x30000u})
        chip.setFlash(a, {0x00});
    EXPECT_EQ(status(erase(0x3000, 0, 1)), 0);   // count 0 erases one 4 KB sector
    EXPECT_EQ(chip.flashByte(0x3000), 0xFF);
    EXPECT_EQ(chip.flashByte(0x4000), 0x00);
    EXPECT_EQ(status(erase(0x4000, 1, 2)), 1);   // 32 KB units start on 32 KB blocks
    EXPECT_EQ(status(erase(0x8000, 1, 2)), 0);
    EXPECT_EQ(chip.flashByte(0xFFFF), 0xFF);
    EXPECT_EQ(chip.flashByte(0x4000), 0x00);
    EXPECT_EQ(status(erase(0x8000, 1, 4)), 1);   // 64 KB units start on 64 KB blocks
    EXPECT_EQ(status(erase(0x20000, 1, 4)), 0);
    EXPECT_EQ(chip.flashByte(0x2FFFF), 0xFF);
    EXPECT_EQ(chip.flashByte(0x30000), 0x00);
    EXPECT_EQ(status(erase(0x20800, 1, 1)), 1);   // not on a 4 KB boundary
    EXPECT_EQ(status(erase(0x20000, 1, 3)), 1);   // no such unit
    chip.setFlash(0x1FFFFFF, {0x00});
    EXPECT_EQ(status(erase(0x1FF0000, 1, 4)), 0); // the last 64 KB unit
    EXPECT_EQ(chip.flashByte(0x1FFFFFF), 0xFF);
    EXPECT_EQ(status(write(0x1FFFFFF, {1})), 0);  // the last byte
    EXPECT_EQ(status(read(0x1FFFFFE, 2)), 0);
    EXPECT_EQ(status(erase(0x1FF0000, 2, 4)), 1); // runs past the 32 MiB flash
    EXPECT_EQ(status(write(0x1FFFFFF, {1, 2})), 1);
    EXPECT_EQ(status(read(0x1FFFFFF, 2)), 1);
}

TEST_F(VideoFlashGroups, EraseAbove16MiBErasesTheAddressedUnitAndNotItsLowTwin)
{
    // The palette lies at 0x10D3C00; 16 MiB below it sit the 32-dot CJK glyphs.
    struct Case {
        uint8_t unit;
        uint32_t high;
    };
    const Case cases[] = {{1, 0x10D3000}, {2, 0x10D0000}, {4, 0x10D0000}};
    Bytes glyphs(64);
    for (size_t i = 0; i < glyphs.size(); ++i)
        glyphs[i] = uint8_t(0x40 + i);
    const Bytes palette = {0x11, 0x22, 0x33};
    for (const Case& c : cases) {
        const uint32_t low = c.high - 0x1000000;
        ASSERT_EQ(status(erase(low & ~0xFFFFu, 1, 4)), 0);
        ASSERT_EQ(status(write(0x0D3000, glyphs)), 0);
        ASSERT_EQ(status(write(0x10D3C00, palette)), 0);
        ASSERT_EQ(status(erase(c.high, 1, c.unit)), 0) << int(c.unit);
        const Bytes kept = read(0x0D3000, 64);
        ASSERT_EQ(status(kept), 0);
        EXPECT_EQ(replyData(kept), glyphs) << int(c.unit);
        const Bytes gone = read(0x10D3C00, 3);
        ASSERT_EQ(status(gone), 0);
        EXPECT_EQ(replyData(gone), Bytes(3, 0xFF)) << int(c.unit);
    }
}

TEST_F(VideoFlashGroups, MissingChipFailsTheCommandsInsteadOfHangingTheLink)
{
    chip.withGfx([](sim::VideoChipGfx& g) { g.setNeverReady(true); return 0; });
    EXPECT_EQ(status(erase(0x3000, 1, 1)), 1);   // the busy bit never clears
    EXPECT_EQ(status(erase(0x10000, 1, 4)), 1);
    // A flash that stays busy gets no command at all: the write fails before it programs.
    EXPECT_EQ(status(write(0x3000, {1, 2, 3})), 1);
    EXPECT_EQ(chip.withGfx([](sim::VideoChipGfx& g) { return g.ignoredWhileBusy(); }), 0);
    chip.withGfx([](sim::VideoChipGfx& g) { g.setNeverReady(false); return 0; });
    chip.setAbsent(true);
    EXPECT_EQ(status(erase(0x3000, 1, 1)), 1);
    EXPECT_EQ(status(write(0x3000, {1, 2, 3})), 1);
    EXPECT_EQ(status(read(0x3000, 3)), 1);
}

TEST_F(VideoFlashGroups, DumpRegisterPrintsEveryListedRegister)
{
    chip.setReg(0x00, 0x08, 0x5A);
    testing::internal::CaptureStdout();
    ASSERT_EQ(status(deal(0xA0, regWrite(161, 0xFF, 0x02))), 0);
    fflush(stdout);
    const std::string out = testing::internal::GetCapturedStdout();
    std::istringstream in(out);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);)
        if (l.size() == 17 && l[6] == ' ' && l.back() == 'h')
            lines.push_back(l);
    ASSERT_EQ(lines.size(), 7967u);
    EXPECT_EQ(lines.front(), "000801  0000005Ah");
    EXPECT_EQ(lines.back().substr(0, 6), "FF0503");
}
