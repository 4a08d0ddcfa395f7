// A test pattern shown while window 0 is laid out again: the pattern goes with the window to its
// new output channels, and once it is turned off the window shows its input as any layout does.
#include <algorithm>
#include <string>

#include "ledout/fpga_manage.h"
#include "memory_judge.h"
#include "output_fixture.h"
#include "sim/video_chip_picture.h"

using namespace ramaddr;

namespace {

constexpr int kPortHdmi2 = 0;
constexpr int kWide = 1500, kNarrow = 500;   // from x 3000: two cells, one cell

class PatternFollowTest : public OutputTest {
protected:
    void SetUp() override
    {
        // A manager made by an earlier test of this program takes its lines from this test's board.
        if (fpga_manage::p_fpga_manage)
            fpga_manage::p_fpga_manage->initialize();
        OutputTest::SetUp();
        // Window 0 over two cells of a panel four channels wide.
        panel(7680, 2160, 0);
        resizeWindow0(kWide);
        chip.clearLog();
    }

    // What output channel och's pattern generator shows, as "[pattern]" describes it.
    std::string patternOf(int och) const
    {
        const std::string all = sim::describeOutputPicture(chip);
        const std::string key = "och " + std::to_string(och) + ": ";
        const size_t at = all.find(key);
        if (at == std::string::npos)
            return "missing";
        const size_t from = at + key.size();
        return all.substr(from, all.find('\n', from) - from);
    }
    std::string view() const { return sim::describeWindows(chip) + sim::describeOutputPicture(chip); }
    void resizeWindow0(int width, int source = kHdmi1)
    {
        setWindow(0, 3000, 100, width, 500, source);
        settle();
    }
};

}  // namespace

TEST_F(PatternFollowTest, ThePatternGoesWithItsWindowAndTheWindowShowsItsInputOnceItIsOff)
{
    setWord(kTestPattern, 1);
    settle();
    const std::vector<int> wide = gridOf(0);
    ASSERT_GT(wide.size(), 1u);
    for (int c : wide)
        EXPECT_EQ(patternOf(c).rfind("solid #FF0000", 0), 0u) << "och " << c << ": " << patternOf(c);

    // Narrower: the channels the window leaves show no pattern.
    resizeWindow0(kNarrow);
    const std::vector<int> narrow = gridOf(0);
    ASSERT_LT(narrow.size(), wide.size());
    for (int c : wide) {
        const bool kept = std::find(narrow.begin(), narrow.end(), c) != narrow.end();
        EXPECT_EQ(patternOf(c).rfind("solid #FF0000", 0) == 0, kept) << "och " << c << ": " << patternOf(c);
    }
    // Wider again: the channels it takes show the pattern.
    resizeWindow0(kWide);
    ASSERT_EQ(gridOf(0), wide);
    for (int c : wide)
        EXPECT_EQ(patternOf(c).rfind("solid #FF0000", 0), 0u) << "och " << c << ": " << patternOf(c);

    // A new source under the pattern is taken up once the pattern is off.
    setWord(window(0) + kWinSource, uint16_t(kHdmi2));
    settle();
    setWord(kTestPattern, 0);
    settle();
    for (int c : wide) {
        EXPECT_EQ(patternOf(c), "off") << "och " << c;
        EXPECT_EQ(decoded(c).port, kPortHdmi2) << "och " << c;
    }
    // The same layout taken without a pattern: the window narrower and back again.
    const std::string shown = view();
    resizeWindow0(kNarrow, kHdmi2);
    resizeWindow0(kWide, kHdmi2);
    EXPECT_EQ(shown, view());
}

// With a second window the generator cannot serve the layout: the pattern leaves the channels and
// the inputs are tracked again, as after turning it off.
TEST_F(PatternFollowTest, ASecondWindowTakesThePatternOff)
{
    setWord(kTestPattern, 3);
    settle();
    resizeWindow0(kNarrow);
    setWindow(1, 0, 1200, 1920, 800, kHdmi2);
    settle();
    EXPECT_EQ(e->zelApi_IsPatternGen(), 0);
    for (int c = 0; c < 8; ++c)
        EXPECT_EQ(patternOf(c).rfind("solid", 0), std::string::npos) << "och " << c << ": " << patternOf(c);
    for (int c : gridOf(0))
        EXPECT_EQ(decoded(c).port, kPortHdmi1) << "och " << c;
    for (int c : gridOf(1))
        EXPECT_EQ(decoded(c).port, kPortHdmi2) << "och " << c;
}

// A pattern refused while three windows are shown, or ended by a second window, is shown once a
// single window is left: the image still asks for it, and a box started with that image and
// layout shows it.
TEST_F(PatternFollowTest, APatternRefusedOrEndedBySeveralWindowsShowsOnceOneWindowIsLeft)
{
    // The picture of window 0 alone under pattern 2, as a fresh start shows it.
    setWord(kTestPattern, 2);
    settle();
    const std::string alone = view();
    setWord(kTestPattern, 0);
    settle();

    for (bool askedFirst : {false, true}) {
        SCOPED_TRACE(askedFirst ? "ended by a second window" : "refused with three windows");
        if (askedFirst) {
            setWord(kTestPattern, 2);
            settle();
        }
        setWindow(1, 0, 1200, 1920, 800, kHdmi2);
        setWindow(2, 2000, 1200, 1920, 800, kHdmi2);
        settle();
        setWord(kTestPattern, 2);
        settle();
        EXPECT_EQ(e->zelApi_IsPatternGen(), 0);
        setWindow(1, 0, 1200, 1920, 800, kHdmi2, 0);
        setWindow(2, 2000, 1200, 1920, 800, kHdmi2, 0);
        settle();
        EXPECT_EQ(e->zelApi_IsPatternGen(), 1);
        EXPECT_EQ(view(), alone);
        setWord(kTestPattern, 0);
        settle();
    }
}

// Window 0 losing its channels under the pattern (refused, or moved by the admission of the
// windows) leaves the pattern on the channels it was drawn on: turning it off clears those.
TEST_F(PatternFollowTest, APatternTurnedOffLeavesTheChannelsItWasDrawnOnWhereverWindow0IsNow)
{
    setWord(kTestPattern, 1);
    settle();
    const std::vector<int> drawn = gridOf(0);
    ASSERT_GT(drawn.size(), 1u);
    e->win_info[0].columns = e->win_info[0].rows = 0;
    ASSERT_EQ(e->c331_SetPattern(0), 0);
    for (int c = 0; c < 8; ++c)
        EXPECT_EQ(patternOf(c), "off") << "och " << c;
}

// Window 0 left without an input after the pattern follows it: the admission takes its channels,
// and the pattern leaves them with it.
TEST_F(PatternFollowTest, APatternLeavesTheChannelsWindow0IsNotAdmittedTo)
{
    setWord(kTestPattern, 1);
    settle();
    ASSERT_FALSE(gridOf(0).empty());
    setWord(window(0) + kWinSource, uint16_t(kWinSourceCrop | kCropEntries));
    settle();
    const std::vector<int> now = gridOf(0);
    for (int c = 0; c < 8; ++c)
        EXPECT_TRUE(std::count(now.begin(), now.end(), c) || patternOf(c) == "off")
            << "och " << c << ": " << patternOf(c);
}

// A window the pattern draws nothing over (patterns 9 and 10, or any pattern while window 0 is not
// shown) laid out again onto an input not measured since the start has it measured as the pattern
// follows the new layout: it shows that input, or its background when the input has no signal,
// never memory no input channel writes; under the pattern and once it is off it shows what a box
// started afresh shows.
TEST_F(PatternFollowTest, AWindowThePatternDoesNotCoverShowsItsInputOrItsBackground)
{
    struct Row {
        const char* what;
        int win, pattern, input;
        bool signal = true;
    };
    const Row rows[] = {{"pattern 9 over window 0", 0, 9, 1},
                        {"pattern 10 over window 0", 0, 10, 0},
                        {"pattern 20, only window 1 shown", 1, 20, kHdmi3},
                        {"pattern 10 over window 0, its new input without signal", 0, 10, kHdmi2, false}};
    for (const Row& r : rows)   // fed now, shown by no window yet
        zeltest::feedVideo(r.input, 1920, 1080, 60, r.input == kHdmi3 ? 4 : 0);
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        if (!r.signal) {
            TARVO_HDMI_INFO none{};
            none.nosignal = none.stable = 1;
            zeltest::feedVideo(r.input, none, 0);
        }
        // With two outputs one over the other window 0 may be off.
        auto layout = [&](int width) {
            panel(width, 2160, r.win ? 2 : 0);
            if (r.win == 0)
                return;
            setWord(kOutputArea + 6, 1080);
            setWord(kOutputArea + 10, 1080);
            setWord(kOutputArea + 12, uint16_t(width));
            setWord(kOutputArea + 14, 1080);
        };
        setWord(kTestPattern, 0);
        for (int w = 0; w < 6; ++w)
            setWindow(w, 0, 0, 1920, 1080, kHdmi1, w == r.win);
        layout(3840);
        settle();
        setWord(kTestPattern, uint16_t(r.pattern));
        settle();
        // The panel set up again takes the window's new input with it.
        layout(3832);
        setWindow(r.win, 100, 0, 1920, 1080, r.input);
        settle();
        for (bool on : {true, false}) {
            zeltest::WindowShows shows[kWinCount] = {};
            for (int w = 0; w < kWinCount; ++w)
                shows[w] = w == r.win ? zeltest::WindowShows::kPicture : zeltest::WindowShows::kUnjudged;
            for (const zeltest::MemoryFinding& f : zeltest::judgeMemory(chip, zeltest::channelsOf(*e), shows))
                ADD_FAILURE() << (on ? "pattern on: " : "pattern off: ") << f.kind << ", " << f.detail;
            ASSERT_FALSE(gridOf(r.win).empty());
            // Its input measured when the pattern followed the new layout: the input (on its chip
            // port: inputs 0-3 on ports 3-0, the V-by-One inputs 4 and 5 on ports 5 and 4), or
            // without a signal the background, under the pattern as after it.
            const int port = r.input < 4 ? 3 - r.input : 9 - r.input;
            for (int c : gridOf(r.win)) {
                EXPECT_EQ(chip.regValue(bank(0x08, c), 0x48, 1), r.signal ? 0u : 1u)
                    << "och " << c << (on ? ", pattern on" : ", pattern off");
                if (r.signal) {
                    EXPECT_EQ(decoded(c).port, port) << "och " << c;
                }
            }
            sim::VideoChipModel& fresh = sim::attachVideoChip();
            EXPECT_EQ(zeltest::freshStartPicture(fresh, chip, e, true), zeltest::shownPicture(chip, true))
                << (on ? "pattern on" : "pattern off");
            setWord(kTestPattern, 0);
            settle();
        }
    }
}

// A dot-by-dot window over two ports laid out under a drawing pattern (its ports not measured
// while the pattern covers it) shows its inputs once the pattern stops drawing over it, all of its
// parts, as a box started afresh with the same image does.
TEST_F(PatternFollowTest, ADotByDotWindowLaidOutUnderAPatternShowsItsInputsOnceThePatternStopsCoveringIt)
{
    constexpr int kHdmi4 = 5, kDbdFlag = 0x0100, kPortsFiveAndFour = 8;
    struct Row {
        const char* what;
        int x, y, width, height, firstSource, endPattern;
    };
    const Row rows[] = {{"source changed under the pattern, then pattern 9", 480, 549, 480, 360, kHdmi3, 9},
                        {"placed under the pattern, then pattern 9", 0, 0, 1920, 1080, kHdmi4, 9},
                        {"source changed under the pattern, then pattern 0", 480, 549, 480, 360, kHdmi3, 0}};
    zeltest::feedVideo(kHdmi3, 1024, 768, 60);
    zeltest::feedVideo(kHdmi4, 1280, 720, 60);
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        setWord(kTestPattern, 0);
        panel(1920, 1080, 0);
        setWindow(0, 0, 0, 1920, 1080, kHdmi1);
        setWord(window(0) + kWinFlags, 0);
        settle();
        setWord(kTestPattern, 1);
        settle();
        setWindow(0, r.x, r.y, r.width, r.height, r.firstSource);
        setWord(window(0) + kWinFlags, kDbdFlag);
        setWord(window(0) + kWinDbdMode, kPortsFiveAndFour);
        settle();
        setWord(window(0) + kWinSource, uint16_t(kHdmi4));
        settle();
        setWord(kTestPattern, uint16_t(r.endPattern));
        settle();
        const std::vector<std::string> running = zeltest::shownPicture(chip, true);
        // Both ports write their parts and a channel places the window: no empty wall.
        const auto writers = std::find(running.begin(), running.end(), "[writers]");
        const auto channels = std::find(running.begin(), running.end(), "[channels]");
        EXPECT_EQ(running.end() - writers, 3) << ::testing::PrintToString(running);
        EXPECT_GT(writers - channels, 1) << ::testing::PrintToString(running);
        sim::VideoChipModel& fresh = sim::attachVideoChip();
        EXPECT_EQ(zeltest::freshStartPicture(fresh, chip, e, true), running);
    }
}

// A window changed in place into a dot-by-dot mode (its flag and word only: no move, no source
// change) under a pattern that draws over no window shows the ports of the new mode as a box
// started afresh does, not an empty wall or a cut of ports never measured: those ports are
// measured when the change comes. The inputs change format from row to row, so a row finds its
// ports as the rows before measured them. A window other than 0, window 0 hidden, is changed so
// whatever mode window 0 holds, its own included.
TEST_F(PatternFollowTest, AWindowChangedInPlaceToDotByDotUnderAPatternThatDrawsNothingShowsItsInputs)
{
    constexpr int kDbdFlag = 0x0100;
    struct Row {
        const char* what;
        int word, pattern, width, height, win;
    };
    const Row rows[] = {{"mode 51 under pattern 10", 9, 10, 1920, 1080, 0},
                        {"mode 23 under pattern 10", 4, 10, 1280, 720, 0},
                        {"mode 20 under pattern 9", 1, 9, 1920, 1080, 0},
                        {"mode 30 under pattern 10", 5, 10, 1280, 720, 0},
                        {"mode 21 under pattern 9", 2, 9, 1920, 1080, 0},
                        {"window 2 to mode 51, hidden window 0's, under pattern 10", 9, 10, 1280, 720, 2},
                        {"window 3 to mode 20, hidden window 0's, under pattern 9", 1, 9, 1920, 1080, 3},
                        {"window 2 to mode 23, hidden window 0's, under pattern 9", 4, 9, 1280, 720, 2},
                        {"window 3 to mode 51, hidden window 0's, under pattern 10", 9, 10, 1920, 1080, 3}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        for (int i = 0; i < 6; ++i)
            zeltest::feedVideo(i, r.width, r.height, 60, i >= kHdmi3 ? 4 : 0);
        setWord(kTestPattern, 0);
        panel(1920, 1080, r.win ? 2 : 0);   // a splice whose windows need no window 0
        for (int w = 0; w < kWinCount; ++w) {
            setWindow(w, 0, 0, 1920, 1080, kHdmi1, w == r.win);
            setWord(window(w) + kWinFlags, 0);
            setWord(window(w) + kWinDbdMode, 0);
        }
        if (r.win != 0) {
            setWord(window(0) + kWinFlags, kDbdFlag);
            setWord(window(0) + kWinDbdMode, uint16_t(r.word));
        }
        settle();
        setWord(kTestPattern, uint16_t(r.pattern));
        settle();
        setWord(window(r.win) + kWinFlags, kDbdFlag);
        setWord(window(r.win) + kWinDbdMode, uint16_t(r.word));
        settle();
        zeltest::WindowShows shows[kWinCount] = {};
        for (int w = 0; w < kWinCount; ++w)
            shows[w] = w == r.win ? zeltest::WindowShows::kPicture : zeltest::WindowShows::kNothing;
        for (const zeltest::MemoryFinding& f : zeltest::judgeMemory(chip, zeltest::channelsOf(*e), shows))
            ADD_FAILURE() << f.kind << ", " << f.detail;
        const std::vector<std::string> running = zeltest::shownPicture(chip, true);
        EXPECT_GT(std::find(running.begin(), running.end(), "[writers]") -
                      std::find(running.begin(), running.end(), "[channels]"),
                  1)
            << ::testing::PrintToString(running);
        sim::VideoChipModel& fresh = sim::attachVideoChip();
        EXPECT_EQ(zeltest::freshStartPicture(fresh, chip, e, true), running);
    }
}

// A pattern that draws over window 0 keeps the inputs unmeasured while it is on: a window not
// shown changed in place meanwhile measures nothing, and window 0 keeps the pattern (measuring
// would set window 0 up on an input its dot-by-dot mode cannot take, and the pattern would go
// with its channels).
TEST_F(PatternFollowTest, AHiddenWindowChangedInPlaceUnderAPatternOverWindowZeroLeavesThePattern)
{
    constexpr int kDbdFlag = 0x0100;
    for (int i = 0; i < 6; ++i)
        zeltest::feedVideo(i, 1920, 1080, 60, i >= kHdmi3 ? 4 : 0);
    zeltest::feedVideo(kHdmi3, 3840, 2160, 30, 4);
    setWord(kTestPattern, 0);
    panel(1920, 1080, 0);
    for (int w = 0; w < kWinCount; ++w) {
        setWindow(w, 0, 0, 1920, 1080, kHdmi1, w == 0);
        setWord(window(w) + kWinFlags, 0);
        setWord(window(w) + kWinDbdMode, 0);
    }
    settle();
    setWord(kTestPattern, 3);
    settle();
    setWord(window(0) + kWinFlags, kDbdFlag);
    setWord(window(0) + kWinDbdMode, 9);
    settle();
    setWord(window(1) + kWinFlags, kDbdFlag);   // window 1 is not shown
    settle();
    const std::vector<std::string> running = zeltest::shownPicture(chip, true);
    sim::VideoChipModel& fresh = sim::attachVideoChip();
    EXPECT_EQ(zeltest::freshStartPicture(fresh, chip, e, true), running);
}
