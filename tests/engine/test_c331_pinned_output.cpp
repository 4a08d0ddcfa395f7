// Freezing windows on one held frame buffer and letting them go, the freeze select of one window
// and the memory read mode of an output channel.
#include <initializer_list>
#include <vector>

#include "engine_fixture.h"

namespace {

constexpr uint8_t kIchWrite = 0x09;      // bank 0x10 + 16 x input channel: 1 writing, 2 frozen
constexpr uint8_t kRotation = 0x66;      // bank 0x16 + 16 x input channel, 3 bytes
constexpr uint8_t kReadPattern = 0x6C;   // bank 0x16 + 16 x output channel, 2 bytes

class PinnedOutputTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        bringUp();
        for (int w = 0; w < kWinCount; ++w) {
            e->g_chg_win[w] = e->g_chg_input[w] = e->g_chg_dbd[w] = 0;
            list(e->win_ich[w], {});
            list(e->prev_win_ich[w], {});
            e->working_set[kPrmStitch + w] = -1;
        }
        for (int c = 0; c < 8; ++c)
            e->och_owner[c] = e->prev_och_owner[c] = c331_manage::kNoWin;
        chip.clearLog();
    }

    static void list(int* l, std::initializer_list<int> channels)
    {
        std::fill(l, l + 8, -1);
        std::copy(channels.begin(), channels.end(), l);
    }
    static void pattern(int* f, std::initializer_list<int> fields) { std::copy(fields.begin(), fields.end(), f); }

    // The chip's answers to the reads of bank b, address a since the log was cleared, when the
    // bank selected then was `startBank`.
    std::vector<int> answers(uint8_t startBank, uint8_t b, uint8_t a) const
    {
        std::vector<int> out;
        uint8_t cur = startBank;
        for (const auto& f : chip.frames()) {
            if (f.byte0 == 0x80)
                cur = f.byte1;
            else if (!(f.byte0 & 0x80) && cur == b && f.byte0 == a)
                out.push_back(f.answer);
        }
        return out;
    }
    int firstAnswer(uint8_t startBank, uint8_t b, uint8_t a) const
    {
        const std::vector<int> all = answers(startBank, b, a);
        return all.empty() ? -1 : all.front();
    }
    uint32_t readPattern(int och) const { return chip.regValue(bank(0x16, och), kReadPattern, 2); }
};

// Fields of a rotation pattern packed as a read pattern: field 3, 0, 1, 2 from the low nibble up.
uint32_t releasePattern(const int f[5]) { return uint32_t(f[3] | f[0] << 4 | f[1] << 8 | f[2] << 12); }

}  // namespace

TEST_F(PinnedOutputTest, FreezeHoldsOneBufferAndReleaseGivesEachChannelItsReadPattern)
{
    // Window 0 changes its source and was carried on input channel 2; window 1 changes its
    // geometry and had no channel, so its current first channel 5 is held. Window 1 is stitched to
    // window 2, which does not change.
    e->g_chg_input[0] = 1;
    e->g_chg_win[1] = 1;
    list(e->prev_win_ich[0], {2});
    list(e->win_ich[0], {2});
    list(e->win_ich[1], {5, 6});
    list(e->prev_win_ich[2], {0});
    list(e->win_ich[2], {0});
    e->working_set[kPrmStitch + 1] = 2;
    pattern(e->rot_pattern[0], {1, 2, 3, 0, 5});
    pattern(e->rot_pattern[1], {6, 6, 6, 6, 6});
    pattern(e->rot_pattern[2], {4, 5, 6, 7, 0});
    // Output channels at the last re-programming and now.
    e->prev_och_owner[0] = e->prev_och_owner[1] = 0;
    e->prev_och_owner[4] = 1;
    e->prev_och_owner[3] = e->och_owner[3] = 2;
    e->och_owner[1] = e->och_owner[2] = 0;
    e->och_owner[4] = e->och_owner[5] = 1;
    chip.setReg(0x00, 0x08 + 2, 0);
    chip.clearLog();
    const uint8_t startBank = chip.currentBank();

    e->set_freeze(e->c331_fd, 1);
    const int answer = firstAnswer(startBank, 0xAB, 0x47 + 2);
    ASSERT_GE(answer, 0);
    const int idx = (answer >> 2) & 3;
    int held[5] = {1, 2, 3, 0, 5};
    std::swap(held[(idx + 3) % 4], held[4]);
    const uint32_t rot = uint32_t(held[0] | held[1] << 4 | held[2] << 8 | held[3] << 12 | held[4] << 16);

    EXPECT_EQ(chip.reg(bank(0x10, 2), kIchWrite), 2);
    EXPECT_EQ(chip.reg(bank(0x10, 5), kIchWrite), 2);
    EXPECT_TRUE(chip.writesTo(bank(0x10, 0), kIchWrite).empty());
    EXPECT_EQ(chip.reg(0x00, 0x08 + 2) & 1, 1);   // window 0's previous channel
    for (int c : {2, 5, 6})
        EXPECT_EQ(chip.regValue(bank(0x16, c), kRotation, 3), rot) << "ich " << c;
    EXPECT_TRUE(chip.writesTo(bank(0x16, 0), kRotation).empty());
    for (int c : {0, 1, 4})
        EXPECT_EQ(readPattern(c), uint32_t(held[4]) * 0x1111u) << "och " << c;
    for (int c : {2, 3, 5})
        EXPECT_TRUE(chip.writesTo(bank(0x16, c), kReadPattern).empty()) << "och " << c;

    chip.clearLog();
    const uint32_t heldOnZero = readPattern(0);
    e->set_freeze(e->c331_fd, 0);
    for (int c : {1, 2})
        EXPECT_EQ(readPattern(c), releasePattern(held)) << "och " << c;
    for (int c : {4, 5})
        EXPECT_EQ(readPattern(c), releasePattern(e->rot_pattern[2])) << "och " << c;
    EXPECT_EQ(releasePattern(e->rot_pattern[2]), 0x6547u);
    EXPECT_EQ(readPattern(0), heldOnZero);   // no longer window 0's
}

TEST_F(PinnedOutputTest, FreezeSelectStopsOrResumesTheMainInputChannel)
{
    list(e->win_ich[3], {6, 7});
    const std::pair<int, uint8_t> cases[] = {{0x2, 2}, {0x0, 1}, {0x3, 2}, {0x1, 1}, {0x106, 2}, {0x104, 1}};
    for (auto [flags, v] : cases) {
        e->win_freeze_sel(e->c331_fd, 3, flags);
        EXPECT_EQ(chip.reg(bank(0x10, 6), kIchWrite), v) << flags;
    }
    EXPECT_TRUE(chip.writesTo(bank(0x10, 7), kIchWrite).empty());
    chip.clearLog();
    e->win_freeze_sel(e->c331_fd, 4, 0x2);   // no channel
    for (const auto& w : chip.writes())
        EXPECT_EQ(w.addr, 0) << std::hex << int(w.bank) << ":" << int(w.addr);
}

TEST_F(PinnedOutputTest, ReadModeComesFromTheStitchingMastersWriteMode)
{
    // Output channel 3 is window 1's; channel 6 is window 4's, stitched to window 1.
    e->och_owner[3] = 1;
    e->och_owner[6] = 4;
    e->working_set[kPrmStitch + 4] = 1;
    const std::pair<int, uint8_t> modes[] = {{0, 0x00}, {1, 0x80}, {2, 0x01}, {3, 0x11}, {4, 0x00}, {-1, 0x00}};
    for (auto [mode, v] : modes) {
        chip.setReg(0x00, 0x69 + 3, 0x5A);
        chip.setReg(0x00, 0x69 + 6, 0x5A);
        e->PM_MEM_WMODE[1] = mode;
        e->PM_MEM_WMODE[4] = 3 - (mode & 3);   // never the master's
        e->set_oscwct(e->c331_fd, 3);
        e->set_oscwct(e->c331_fd, 6);
        EXPECT_EQ(chip.reg(0x00, 0x69 + 3), v) << mode;
        EXPECT_EQ(chip.reg(0x00, 0x69 + 6), v) << mode;
    }
}

TEST_F(PinnedOutputTest, AnOutputChannelIsInUseOnlyInsideItsWindowsGrid)
{
    // Window 0's grid is 1 x 2: cell 1 is its last, cell 2 lies outside it.
    e->win_info[0].columns = 1;
    e->win_info[0].rows = 2;
    e->och_owner[5] = e->och_owner[6] = 0;
    e->PM_AREA_NUM[5] = 1;
    e->PM_AREA_NUM[6] = 2;
    e->och_cleared[5] = e->och_cleared[6] = false;
    e->reset_act(e->c331_fd, 1);
    EXPECT_TRUE(chip.writesTo(bank(0x08, 5), 0x42).empty());
    EXPECT_FALSE(chip.writesTo(bank(0x08, 6), 0x42).empty());
    EXPECT_EQ(chip.regValue(bank(0x08, 6), 0x42, 2), 0u);
}

TEST_F(PinnedOutputTest, AFreezeWhoseChannelsNeverMeetGivesUpAfter251Rounds)
{
    // Windows 0 and 1 change, on input channels 2 and 5; frames stand still, so channel 5 never
    // reaches channel 2's buffer.
    e->g_chg_input[0] = e->g_chg_input[1] = 1;
    list(e->prev_win_ich[0], {2});
    list(e->prev_win_ich[1], {5});
    list(e->win_ich[0], {2});
    list(e->win_ich[1], {5});
    auto field = [&](int c) { return (e->rd(0xAB4701 + 0x100u * uint32_t(c)) >> 2) & 3; };
    chip.setFrameEventsStuck(true);
    if (field(5) == field(2)) {
        chip.setFrameEventsStuck(false);
        field(5);   // moves channel 5 on by one buffer
        chip.setFrameEventsStuck(true);
    }
    ASSERT_NE(field(5), field(2));
    chip.clearLog();
    const uint8_t startBank = chip.currentBank();
    e->set_freeze(e->c331_fd, 1);
    chip.setFrameEventsStuck(false);
    EXPECT_EQ(answers(startBank, 0xAB, 0x47 + 5).size(), 251u);
    EXPECT_EQ(chip.reg(bank(0x10, 2), kIchWrite), 2);
    EXPECT_TRUE(chip.writesTo(bank(0x10, 5), kIchWrite).empty());
}
