// Freeze and release judged from the chip: after a release every output channel must read the
// frame buffers in the order the input channel it reads from writes them, whichever window the
// output channel belongs to.
#include <set>
#include <string>

#include "output_fixture.h"
#include "sim/video_chip_memory.h"

using namespace ramaddr;

namespace {

constexpr uint8_t kRotation = 0x66;      // bank 0x16 + 16 x input channel, 3 bytes
constexpr uint8_t kReadPattern = 0x6C;   // bank 0x16 + 16 x output channel, 2 bytes

class FreezeTest : public OutputTest {
protected:
    // The read pattern that trails input channel i's write rotation by one frame: the buffer of
    // rotation field 3, then fields 0, 1 and 2.
    uint32_t trailingPattern(int ich) const
    {
        const uint32_t rot = chip.regValue(bank(0x16, ich), kRotation, 3);
        auto field = [rot](int f) { return (rot >> (4 * f)) & 7; };
        return field(3) | field(0) << 4 | field(1) << 8 | field(2) << 12;
    }

    // Every output channel that reads written memory reads it in its writers' rotation.
    void expectReadsTrailTheirWriters(const std::string& what) const
    {
        const sim::MemoryMap m = sim::decodeMemory(chip);
        ASSERT_FALSE(m.reads.empty()) << what;
        for (const sim::MemoryRead& r : m.reads) {
            EXPECT_FALSE(r.ichs.empty()) << what << " och " << r.och << "\n" << sim::describeMemory(chip);
            for (int i : r.ichs)
                EXPECT_EQ(chip.regValue(bank(0x16, r.och), kReadPattern, 2), trailingPattern(i))
                    << what << ": och " << r.och << " reads ich " << i;
        }
    }

    // The input channels whose memory the output channels of window w read.
    std::set<int> readFrom(int w) const
    {
        std::set<int> s;
        for (const sim::MemoryRead& r : sim::decodeMemory(chip).reads)
            if (e->och_owner[r.och] == w)
                s.insert(r.ichs.begin(), r.ichs.end());
        return s;
    }
};

}  // namespace

TEST_F(FreezeTest, AWindowStitchedToAMasterFrozenAloneFollowsTheMastersNewRotation)
{
    panel(7680, 2160, 0);
    setWindow(0, 0, 0, 3840, 2160, kHdmi1);
    setWindow(1, 3840, 0, 3840, 2160, kHdmi1);
    settle();
    // Window 1 becomes a second view of window 0's picture.
    e->working_set[kPrmStitch + 1] = 0;
    e->g_chg_win[1] = 1;
    e->g_chg_order = 1;
    e->set_output(e->c331_fd);
    const int masterIch = e->win_ich[0][0];
    ASSERT_EQ(readFrom(1), std::set<int>{masterIch});
    expectReadsTrailTheirWriters("stitched");

    // Only the master changes: it alone is frozen, the stitched window has no flag.
    chip.clearLog();
    setWord(window(0) + kWinSource, kHdmi2);
    settle();
    ASSERT_GT(freezeWrites(), 0u);
    EXPECT_EQ(e->win_ich[0][0], masterIch);
    EXPECT_EQ(readFrom(1), std::set<int>{masterIch});
    expectReadsTrailTheirWriters("master released");
    for (int w = 0; w < kWinCount; ++w)
        EXPECT_EQ(e->win_frozen[w], 0) << w;

    // Twice in a row, so the rotation has moved on from where the first freeze left it.
    setWord(window(0) + kWinSource, kHdmi1);
    settle();
    expectReadsTrailTheirWriters("master released again");
}

TEST_F(FreezeTest, AHeldChannelIsDeselectedForTheFreezeAndSelectedAgainByTheNewInput)
{
    const int ich = e->win_ich[0][0];
    ASSERT_GE(ich, 0);
    const uint8_t select = uint8_t(0x08 + ich);   // bank 0: the channel's input select
    ASSERT_TRUE(chip.reg(0x00, select) & 0x10) << "selected with a signal";
    chip.clearLog();
    setWord(window(0) + kWinSource, kHdmi2);
    settle();
    ASSERT_GT(freezeWrites(), 0u);
    ASSERT_EQ(e->win_ich[0][0], ich);
    const auto writes = chip.writesTo(0x00, select);
    const auto held = std::find(writes.begin(), writes.end(), 1);
    ASSERT_NE(held, writes.end()) << "no signal, no processing while held";
    EXPECT_NE(std::find(held, writes.end(), chip.reg(0x00, select)), writes.end()) << "selected again after";
    EXPECT_TRUE(chip.reg(0x00, select) & 0x10);
}
