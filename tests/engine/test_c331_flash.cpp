// The engine's serial-flash operations and fonts against the simulated chip's flash controller.
#include <future>
#include <numeric>

#include "engine_fixture.h"
#include "sim/sim_clock.h"

namespace {

using Op = sim::VideoChipGfx::Op;

class FlashTest : public EngineTest {
protected:
    std::vector<Op> ops(Op::Kind kind)
    {
        std::vector<Op> out;
        for (const Op& o : chip.withGfx([](sim::VideoChipGfx& g) { return g.ops(); }))
            if (o.kind == kind)
                out.push_back(o);
        return out;
    }
    void clearOps() { chip.withGfx([](sim::VideoChipGfx& g) { g.clearOps(); return 0; }); }
    template <typename F>
    void knob(F f)
    {
        chip.withGfx([&](sim::VideoChipGfx& g) { f(g); return 0; });
    }
    static std::vector<char> pattern(size_t n)
    {
        std::vector<char> d(n);
        for (size_t i = 0; i < n; ++i)
            d[i] = char(i * 7 + 3);
        return d;
    }
};

std::vector<uint8_t> bytes(const std::vector<char>& d) { return std::vector<uint8_t>(d.begin(), d.end()); }

// The engine's sleeps move a clock of their own, which its timed waits read, and the simulated
// flash counts its busy time in ticks of that clock: the outcome does not depend on how fast
// the machine runs.
class TimedFlashTest : public FlashTest {
protected:
    static constexpr uint64_t kUsPerTick = 10000;
    uint64_t nowUs = 0;
    void SetUp() override
    {
        FlashTest::SetUp();
        e->usleepFn = [this](unsigned us) { nowUs += us; };
        e->clockUsFn = [this] { return nowUs; };
        sim::setTickSource([this] { return uint32_t(nowUs / kUsPerTick); });
    }
    void TearDown() override { sim::setTickSource(nullptr); }
};

constexpr uint64_t kSecond = 1000000;

}  // namespace

TEST_F(FlashTest, ProgramClosesEachPageAtItsEnd)
{
    const auto data = pattern(300);
    clearOps();
    ASSERT_EQ(e->write_flash(e->c331_fd, 0xF0, 300, data.data()), 0);
    const auto progs = ops(Op::Program);
    ASSERT_EQ(progs.size(), 3u);
    EXPECT_EQ(progs[0].address, 0xF0u);
    EXPECT_EQ(progs[0].length, 16u);
    EXPECT_EQ(progs[1].address, 0x100u);
    EXPECT_EQ(progs[2].address, 0x200u);
    EXPECT_EQ(progs[2].length, 0x1Cu);
    EXPECT_EQ(chip.flash(0xF0, 300), bytes(data));

    clearOps();
    ASSERT_EQ(e->write_flash(e->c331_fd, 0x1000, 256, data.data()), 0);
    ASSERT_EQ(ops(Op::Program).size(), 1u);
    EXPECT_EQ(ops(Op::Program)[0].length, 256u);

    std::vector<char> back(300, 0);
    ASSERT_EQ(e->read_flash(e->c331_fd, 0xF0, 300, back.data(), int(back.size())), 0);
    EXPECT_EQ(back, data);
}

TEST_F(FlashTest, EveryUnitOfAMultiUnitEraseIsErasedEvenWhenWriteEnableStays)
{
    for (uint32_t a : {0xF000u, 0x10000u, 0x11000u, 0x12000u, 0x13000u})
        chip.setFlash(a, {0x00});
    knob([](sim::VideoChipGfx& g) { g.setWelStuck(true); });
    clearOps();
    ASSERT_EQ(e->erase_flash(e->c331_fd, 16, 3, 0), 0);
    EXPECT_EQ(chip.flashByte(0x10000), 0xFF);
    EXPECT_EQ(chip.flashByte(0x11000), 0xFF);
    EXPECT_EQ(chip.flashByte(0x12000), 0xFF);
    EXPECT_EQ(chip.flashByte(0xF000), 0x00);
    EXPECT_EQ(chip.flashByte(0x13000), 0x00);
    EXPECT_EQ(ops(Op::Erase).size(), 3u);
    EXPECT_EQ(ops(Op::WriteDisable).size(), 3u);

    // 64 KB units from block 32: 0x20000 and 0x30000.
    chip.setFlash(0x3FFFF, {0x00});
    chip.setFlash(0x40000, {0x00});
    ASSERT_EQ(e->erase_flash(e->c331_fd, 32, 2, 2), 0);
    EXPECT_EQ(chip.flashByte(0x3FFFF), 0xFF);
    EXPECT_EQ(chip.flashByte(0x40000), 0x00);
    // 32 KB units from block 16: 0x10000 and 0x18000; any type above 2 is a 64 KB unit.
    chip.setFlash(0x1FFFF, {0x00});
    chip.setFlash(0x20000, {0x00});
    ASSERT_EQ(e->erase_flash(e->c331_fd, 16, 2, 1), 0);
    EXPECT_EQ(chip.flashByte(0x1FFFF), 0xFF);
    EXPECT_EQ(chip.flashByte(0x20000), 0x00);
    chip.setFlash(0x17FFF, {0x00});
    chip.setFlash(0x18000, {0x00});
    ASSERT_EQ(e->erase_flash(e->c331_fd, 24, 1, 1), 0);   // the upper half of a 64 KB block
    EXPECT_EQ(chip.flashByte(0x17FFF), 0x00);
    EXPECT_EQ(chip.flashByte(0x18000), 0xFF);
    chip.setFlash(0x5FFFF, {0x00});
    ASSERT_EQ(e->erase_flash(e->c331_fd, 0x50, 1, 7), 0);
    EXPECT_EQ(chip.flashByte(0x5FFFF), 0xFF);
    // Past the end of the flash nothing starts.
    clearOps();
    EXPECT_EQ(e->erase_flash(e->c331_fd, 8191, 2, 0), 255);
    EXPECT_TRUE(ops(Op::Erase).empty());
}

// Between the units of a long erase the OSD lock is free for a while: the worker's OSD drawing,
// which waits for it holding para_mutex, is not held up for the whole erase.
TEST_F(FlashTest, AMultiUnitEraseLetsTheOsdLockGoBetweenItsUnits)
{
    int free = 0;
    e->usleepFn = [&](unsigned) {
        auto other = std::async(std::launch::async, [&] {
            if (!e->osd_op_mutex.try_lock())
                return false;
            e->osd_op_mutex.unlock();
            return true;
        });
        free += other.get() ? 1 : 0;
    };
    clearOps();
    ASSERT_EQ(e->erase_flash(e->c331_fd, 16, 3, 0), 0);
    EXPECT_EQ(ops(Op::Erase).size(), 3u);
    EXPECT_EQ(free, 2) << "once between each two units";
}

TEST_F(FlashTest, ChipThatNeverFinishesFailsEveryOperationInBoundedTime)
{
    knob([](sim::VideoChipGfx& g) { g.setNeverReady(true); });
    const auto data = pattern(8);
    char buf[8];
    EXPECT_EQ(e->write_flash(e->c331_fd, 0x100, 8, data.data()), 255);
    EXPECT_EQ(e->erase_flash(e->c331_fd, 1, 1, 0), 255);
    EXPECT_EQ(e->read_flash(e->c331_fd, 0x100, 8, buf, 8), 255);
    EXPECT_EQ(e->osd_write_dma_sfl(0, 0x7F000000, 0, 16), 255);
}

TEST_F(FlashTest, ReadRefusesMoreThanTheBufferHoldsAndRangesOutsideTheFlash)
{
    char buf[4] = {1, 2, 3, 4};
    clearOps();
    EXPECT_EQ(e->read_flash(e->c331_fd, 0, 8, buf, 4), 255);
    EXPECT_EQ(buf[0], 1);
    EXPECT_EQ(e->read_flash(e->c331_fd, 0x2000000 - 2, 4, buf, 4), 255);
    EXPECT_EQ(e->write_flash(e->c331_fd, -1, 1, buf), 255);
    EXPECT_TRUE(ops(Op::Read).empty());
}

TEST_F(FlashTest, FontHeadsSetPresenceBitsAndStatusByte)
{
    bringUp();
    EXPECT_EQ(e->font_bits, 0x0F);
    EXPECT_EQ(imageRegStatusByte(43) & 0x3F, 0x3F);
    imageRegStatusByte(43) |= 0x40;   // a bit of someone else
    chip.setFlash(0x010000, {'Q'});   // 32-dot CJK gone
    chip.setFlash(0x410000, {0x00});  // 64-dot ASCII gone
    e->read_c331_font(e->c331_fd);
    EXPECT_EQ(e->font_bits, 0x0F & ~1 & ~8);
    EXPECT_EQ(imageRegStatusByte(43), 0x40 | 0x01 | 0x28);
}

TEST_F(FlashTest, FontsAreCopiedBackToBackFromTheFontArea)
{
    bringUp();
    chip.setFlash(0x10023, {0x5A, 0xA5});
    clearOps();
    e->update_font(e->c331_fd);
    const auto dmas = ops(Op::Dma);
    ASSERT_EQ(dmas.size(), 4u);
    const uint32_t expect[4][3] = {{0x23, 0x7F000000, 0x3000},
                                   {0x10023, 0x7F003000, 0x290000},
                                   {0x410023, 0x7F293000, 0xC000},
                                   {0x450023, 0x7F29F000, 0xA40000}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(dmas[i].address, expect[i][0]);
        EXPECT_EQ(dmas[i].dest, expect[i][1]);
        EXPECT_EQ(dmas[i].length, expect[i][2]);
        EXPECT_EQ(e->font_chip_addr[i], expect[i][1]);
    }
    chip.withGfx([](sim::VideoChipGfx& g) {
        EXPECT_EQ(g.memByte(0x7F003000), 0x5A);
        EXPECT_EQ(g.memByte(0x7F003001), 0xA5);
        return 0;
    });
}

TEST_F(TimedFlashTest, SlowEraseInsideTheFlashWorstCaseSucceeds)
{
    chip.setFlash(0x20000, {0x00});
    chip.setFlash(0x40000, {0x00});
    knob([](sim::VideoChipGfx& g) { g.setEraseTime(1000); });
    ASSERT_EQ(e->erase_flash(e->c331_fd, 0x20, 1, 2), 0);   // one 64 KB unit taking 1 s
    EXPECT_EQ(chip.flashByte(0x20000), 0xFF);
    EXPECT_GE(nowUs, kSecond);
    EXPECT_LT(nowUs, kSecond + kSecond / 10);   // polled at short intervals, seen soon after
    nowUs = 0;
    ASSERT_EQ(e->erase_flash(e->c331_fd, 0x40, 1, 1), 0);   // a 32 KB unit
    EXPECT_EQ(chip.flashByte(0x40000), 0xFF);
    EXPECT_GE(nowUs, kSecond);
}

TEST_F(TimedFlashTest, WaitMessagesPrintAtTheirPollCountsWhileTheWaitGoesOn)
{
    e->prnEn[6] = 1;
    knob([](sim::VideoChipGfx& g) { g.setEraseTime(1500); });
    testing::internal::CaptureStdout();
    const int result = e->erase_flash(e->c331_fd, 0x30, 1, 2);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(result, 0);
    EXPECT_NE(out.find("B4_SFLSTAT EBUSY Timeout Error!!. Please check the circumestance of Serial Flash."),
              std::string::npos);
    EXPECT_NE(out.find("B4_SFLSTAT EBUSY finish"), std::string::npos);
    size_t progress = 0;
    for (size_t at = out.find("Wait Please."); at != std::string::npos; at = out.find("Wait Please.", at + 1))
        ++progress;
    EXPECT_GT(progress, 5000u / 40u);   // every 40th poll, past the 5000 of the message
}

TEST_F(TimedFlashTest, StuckBusyBitFailsOnceTheWorstCaseIsWellPast)
{
    knob([](sim::VideoChipGfx& g) { g.setNeverReady(true); });
    struct Case {
        char type;
        uint64_t worstUs;   // datasheet maximum of one unit
    };
    for (const Case& c : {Case{0, 400000}, Case{1, 1600000}, Case{2, 2000000}}) {
        nowUs = 0;
        EXPECT_EQ(e->erase_flash(e->c331_fd, 0x100, 1, c.type), 255) << int(c.type);
        EXPECT_GE(nowUs, c.worstUs) << int(c.type);
        EXPECT_LE(nowUs, 2 * c.worstUs + 1000) << int(c.type);
    }
    nowUs = 0;
    const auto data = pattern(8);
    EXPECT_EQ(e->write_flash(e->c331_fd, 0x100, 8, data.data()), 255);
    EXPECT_GE(nowUs, 3000u);   // a page program may take 3 ms
    EXPECT_LE(nowUs, 20000u);
}

TEST_F(TimedFlashTest, AWriteAfterATimedOutEraseWaitsUntilTheFlashTakesCommands)
{
    auto ignored = [this] { return chip.withGfx([](sim::VideoChipGfx& g) { return g.ignoredWhileBusy(); }); };
    chip.setFlash(0x21000, {0x00});
    // A 64 KB unit taking 4005 ms: its wait gives up at 4 s, the flash ends 5 ms later.
    knob([](sim::VideoChipGfx& g) { g.setEraseTime(4005); });
    EXPECT_EQ(e->erase_flash(e->c331_fd, 0x20, 1, 2), 255);
    EXPECT_TRUE(e->flash_left_busy());
    const auto data = pattern(8);
    clearOps();
    ASSERT_EQ(e->write_flash(e->c331_fd, 0x21000, 8, data.data()), 0);
    EXPECT_EQ(chip.flash(0x21000, 8), bytes(data));
    EXPECT_GE(nowUs, 4005 * 1000u);
    EXPECT_EQ(ignored(), 0);
    EXPECT_FALSE(e->flash_left_busy());

    // Busy for longer than a write waits: the write issues nothing and says it failed.
    knob([](sim::VideoChipGfx& g) { g.setEraseTime(4500); });
    nowUs = 0;
    EXPECT_EQ(e->erase_flash(e->c331_fd, 0x20, 1, 2), 255);
    clearOps();
    EXPECT_EQ(e->write_flash(e->c331_fd, 0x22000, 8, data.data()), 255);
    EXPECT_TRUE(ops(Op::Program).empty());
    EXPECT_EQ(ignored(), 0);
    EXPECT_TRUE(e->flash_left_busy());
    EXPECT_EQ(chip.flashByte(0x22000), 0xFF);
    // Once the erase has ended, the flash takes the next operation.
    nowUs = 4600 * 1000;
    char back[8] = {};
    EXPECT_EQ(e->read_flash(e->c331_fd, 0x21000, 8, back, 8), 0);
    EXPECT_EQ(std::vector<char>(back, back + 8), std::vector<char>(8, char(0xFF)));   // erased again
    EXPECT_FALSE(e->flash_left_busy());

    // A font copy after an erase that timed out waits for the flash as well.
    knob([](sim::VideoChipGfx& g) { g.setEraseTime(4005); });
    nowUs = 0;
    EXPECT_EQ(e->erase_flash(e->c331_fd, 0x20, 1, 2), 255);
    clearOps();
    EXPECT_EQ(e->osd_write_dma_sfl(0x23, 0x7F000000, 0, 16), 0);
    EXPECT_EQ(ops(Op::Dma).size(), 1u);
    EXPECT_EQ(ignored(), 0);
}
