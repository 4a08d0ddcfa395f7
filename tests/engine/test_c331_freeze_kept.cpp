// A freeze committed together with a change that has the inputs' tracking set the window up again:
// the window stays frozen once the tracking is done, as when the freeze comes alone.
#include <string>

#include "ledout/fpga_manage.h"
#include "memory_judge.h"
#include "output_fixture.h"

using namespace ramaddr;

namespace {

constexpr uint16_t kFrozen = 0x02;

class FreezeKeptTest : public OutputTest {
protected:
    void SetUp() override
    {
        // A manager made by an earlier test of this program takes its lines from this test's board.
        if (fpga_manage::p_fpga_manage)
            fpga_manage::p_fpga_manage->initialize();
        OutputTest::SetUp();
        setWindow(0, 0, 0, 1920, 1080, kHdmi1);
        settle();
    }

    void expectFrozen(const std::string& what) const
    {
        const std::vector<int> grid = gridOf(0);
        ASSERT_FALSE(grid.empty()) << what;
        for (int c : grid) {
            const sim::DecodedChannel d = decoded(c);
            EXPECT_TRUE(d.on) << what << " och " << c;
            EXPECT_TRUE(d.frozen) << what << " och " << c;
        }
    }
};

}  // namespace

TEST_F(FreezeKeptTest, AFreezeWithANewSourceIsKept)
{
    setWord(window(0) + kWinSource, uint16_t(kHdmi2));
    setWord(window(0) + kWinFlags, kFrozen);
    settle();
    expectFrozen("new source");
    // More passes of tracking do not release it either.
    e->stepOnce();
    e->stepOnce();
    expectFrozen("later passes");
}

TEST_F(FreezeKeptTest, AFreezeWithANewPlaceIsKept)
{
    setWindow(0, 100, 50, 1280, 720, kHdmi1);
    setWord(window(0) + kWinFlags, kFrozen);
    settle();
    expectFrozen("new place");
}

TEST_F(FreezeKeptTest, AFreezeOfAWindowWhoseInputChangesTimingIsKept)
{
    setWord(window(0) + kWinFlags, kFrozen);
    settle();
    expectFrozen("alone");
    zeltest::feedVideo(kHdmi1, 1280, 720, 60);
    for (int k = 0; k < 4; ++k)
        e->stepOnce();
    expectFrozen("new timing");
}

// A port without a signal holds nothing: the freeze waits for a source that has one.
TEST_F(FreezeKeptTest, AFreezeFollowsTheSignalOfTheWindowsSource)
{
    setWord(window(0) + kWinFlags, kFrozen);
    settle();
    expectFrozen("with a signal");
    setWord(window(0) + kWinSource, uint16_t(kHdmi3));   // nothing fed there
    settle();
    EXPECT_EQ(e->win_info[0].output & kFrozen, 0);
    for (int c : gridOf(0))
        EXPECT_FALSE(decoded(c).frozen) << "och " << c;
    setWord(window(0) + kWinSource, uint16_t(kHdmi2));
    settle();
    expectFrozen("signal again");
}

// A frozen window over both receivers holds its picture by their signal, whatever input its
// source word names (a port its mode does not show and no window measures): a running box that
// once showed that input and a box started afresh from the same image agree.
TEST_F(FreezeKeptTest, AFrozenWindowOverSeveralPortsFollowsTheSignalOfThePortsItShows)
{
    constexpr int kExt = 0, kDvi = 1, kHdmi4 = 5;
    constexpr uint16_t kDbd = 0x100, kBothReceiversStacked = 9;
    zeltest::feedVideo(kHdmi3, 1280, 720, 60, 4);
    zeltest::feedVideo(kHdmi4, 1920, 1080, 60, 4);
    zeltest::feedVideo(kDvi, 1920, 1080, 60);
    auto unplug = [](int input) {
        TARVO_HDMI_INFO r{};
        r.nosignal = 1;
        r.stable = 1;
        zeltest::feedVideo(input, r, 0);
    };
    struct Row {
        const char* what;
        int source;
        bool receivers, frozen;   // both receivers with a signal
    };
    const Row rows[] = {{"the source input shown before", kDvi, true, true},
                        {"a source input never shown", kExt, true, true},
                        {"one receiver without signal, the source input with", kDvi, false, true}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        if (!r.receivers)
            unplug(kHdmi3);
        setWord(window(0) + kWinFlags, 0);
        setWord(window(0) + kWinSource, uint16_t(r.source));
        settle();
        setWord(window(0) + kWinFlags, kDbd | kFrozen);
        setWord(window(0) + kWinDbdMode, kBothReceiversStacked);
        settle();
        auto frozenChannels = [](const sim::VideoChipModel& c) {
            std::vector<int> out;
            for (const sim::DecodedChannel& d : sim::decodeOutputs(c))
                if (d.on && d.frozen)
                    out.push_back(d.och);
            return out;
        };
        const std::vector<int> running = frozenChannels(chip);
        EXPECT_EQ(running.empty(), !r.frozen);
        sim::VideoChipModel& fresh = sim::attachVideoChip();
        zeltest::freshStartPicture(fresh, chip, e);
        EXPECT_EQ(frozenChannels(fresh), running);
    }
}
