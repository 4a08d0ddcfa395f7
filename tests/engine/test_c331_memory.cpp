// Windows set up by the engine, judged by the simulated chip's frame memory: no two input
// channels write the same memory, and every output channel reads only what its own window's input
// channels wrote, in the format they wrote it.
#include <functional>
#include <memory>
#include <set>

#include "memory_judge.h"
#include "output_fixture.h"
#include "platform/platform.h"
#include "platform/spi.h"
#include "sim/video_chip_crop.h"
#include "sim/video_chip_memory.h"
#include "sim/video_chip_picture.h"

using namespace ramaddr;

namespace {

constexpr int kExt = 0, kDvi = 1, kHdmi4 = 5;
constexpr int kDbdFlag = 0x0100;
constexpr uint32_t kKiB = 1024;

class MemoryTest : public OutputTest {
protected:
    // 1080p60 on every input; the V-by-One inputs over four lanes.
    void feedAll()
    {
        for (int i = 0; i < 6; ++i)
            zeltest::feedVideo(i, 1920, 1080, 60, i >= kHdmi3 ? 4 : 0);
    }

    void hideFrom(int first)
    {
        for (int w = first; w < 6; ++w)
            setWord(window(unsigned(w)) + kWinState, 0);
    }

    // A window in dot-by-dot word `word` (1-9) over the whole panel, 3840 x 2160 or as wide as
    // the picture.
    void showDbd(int word, int source = kHdmi2, int width = 3840, int height = 2160)
    {
        panel(width, height, 0);
        setWindow(0, 0, 0, width, height, source);
        hideFrom(1);
        setWord(window(0) + kWinFlags, kDbdFlag);
        setWord(window(0) + kWinDbdMode, uint16_t(word));
        settle();
        settle();
    }

    std::set<int> ichsOf(int w) const { return zeltest::ichsOf(*e, w); }

    // A dot-by-dot window none of whose ports has a signal shows a picture of no size: it keeps
    // its channels for when a signal comes.
    bool heldForSignal(int w) const { return e->zelApi_IsWinShown(w) && e->PM_WIN_DBD_MODE[w] != 0 && e->winNoSignal(w); }

    // A window none of whose output channels shows anything (switched off, refused, its
    // allocation failed) holds no input channel and no dot-by-dot memory.
    void expectIdleWindowsHoldNothing(const std::string& what) const
    {
        const std::vector<sim::DecodedChannel> d = sim::decodeOutputs(chip);
        for (int w = 0; w < kWinCount; ++w) {
            if (heldForSignal(w))
                continue;
            bool on = false;
            for (int c = 0; c < 8; ++c)
                on = on || (e->och_owner[c] == w && d[size_t(c)].on);
            if (on)
                continue;
            EXPECT_TRUE(ichsOf(w).empty()) << what << ": window " << w << "\n" << sim::describeMemory(chip);
            EXPECT_LT(e->dbd_mem_slot[w][0], 0) << what << ": window " << w;
        }
    }

    // No writers overlap or leave their regions; every shown window's pieces read only its own
    // channels, wholly written, in the mode they were written with, each the part of the picture
    // its place asks for; window `off` shows nothing at all.
    void expectSound(const std::string& what, int off = -1) const
    {
        zeltest::WindowShows shows[kWinCount];
        for (int w = 0; w < kWinCount; ++w)
            shows[w] = w == off                  ? zeltest::WindowShows::kNothing
                       : heldForSignal(w)        ? zeltest::WindowShows::kUnjudged
                       : e->zelApi_IsWinShown(w) ? zeltest::WindowShows::kPicture
                                                 : zeltest::WindowShows::kUnjudged;
        for (const zeltest::MemoryFinding& f : zeltest::judgeMemory(chip, zeltest::channelsOf(*e), shows))
            ADD_FAILURE() << what << ": " << f.kind << ", " << f.detail << "\n" << sim::describeMemory(chip);
    }

    // Every writer belongs to a window and, as the chip's memory model judges it, keeps buffer b
    // in frame buffer b of the memory map and each line in its channel's slot (its pair's two)
    // or its dot-by-dot band; so do the field stores.
    void expectInsideBuffers(const std::string& what) const
    {
        const sim::MemoryMap m = sim::decodeMemory(chip);
        const std::string view = sim::describeMemory(chip);
        for (const sim::MemoryWriter& wr : m.writers) {
            EXPECT_GE(e->ich_owner[wr.ich], 0) << what << " ich " << wr.ich << "\n" << view;
            EXPECT_FALSE(wr.leak.any() || wr.slotLeak.any()) << what << " ich " << wr.ich << "\n" << view;
        }
        for (const sim::FieldStore& f : m.fields)
            EXPECT_FALSE(f.leak.any() || f.slotLeak.any()) << what << " ich " << f.ich << " fields\n" << view;
    }

    // What the output channels place, from which port, at which scale, and what their pattern
    // generators show.
    // With `full`, also the backgrounds, what each input channel shown cuts from its port and
    // each channel's on-screen display plane control.
    static std::vector<std::string> shown(const sim::VideoChipModel& c, bool full = false)
    {
        const std::string picture = sim::describeOutputPicture(c);
        std::vector<std::string> out = {picture.substr(0, picture.find("[background]"))};
        if (full)
            out.push_back(picture.substr(picture.find("[background]"), picture.find("[picture]") - picture.find("[background]")));
        for (const sim::DecodedChannel& d : sim::decodeOutputs(c)) {
            if (d.on)
                out.push_back(std::to_string(d.och) + ": " + std::to_string(d.x) + "," + std::to_string(d.y) + " " +
                              std::to_string(d.width) + "x" + std::to_string(d.height) + " port " +
                              std::to_string(d.port) + " zoom " + std::to_string(d.hzoom) + "/" +
                              std::to_string(d.vzoom));
            if (d.on && full)
                out.push_back(std::to_string(d.och) + " cuts " + std::to_string(d.inX) + "," + std::to_string(d.inY) +
                              " " + std::to_string(d.inWidth) + "x" + std::to_string(d.inHeight) + " shrink " +
                              std::to_string(d.hshrink) + "/" + std::to_string(d.vshrink));
            if (full)
                out.push_back(std::to_string(d.och) + " plane " + std::to_string(c.regValue(bank(0x09, d.och), 0x08, 2)));
        }
        return out;
    }

    // A box started afresh from the image as it is now shows what this one shows.
    void expectAsFreshStart(const std::string& what, bool full = false)
    {
        const std::vector<std::string> running = shown(chip, full);
        sim::VideoChipModel& fresh = sim::attachVideoChip();
        // A second engine beside the running one, which newEngine() would delete.
        auto owned = std::make_unique<c331_manage>();
        c331_manage* f = owned.get();
        c331_manage::p_c331_manage = f;
        f->usleepFn = [](unsigned) {};
        ASSERT_EQ(f->initialize(false), 0);
        ASSERT_TRUE(zeltest::bringUpEngine(f));
        for (int i = 0; i < 4; ++i)
            f->stepOnce();
        EXPECT_EQ(shown(fresh, full), running) << what;
        // The running box goes on.
        c331_manage::p_c331_manage = e;
        if (auto* bus = dynamic_cast<platform::SimSpiBus*>(&platform::spi()))
            bus->attach("/dev/spidev32766.0", &chip);
    }

    // 1080i as a receiver reports it: each field's 540 of 562 lines, 60 fields a second.
    static TARVO_HDMI_INFO fieldRecord()
    {
        TARVO_HDMI_INFO r = zeltest::videoRecord(1920, 540, 60);
        r.ip = 1;
        r.Vback = 15;
        r.Vtotal = 562;
        r.pfreq = 74.25f;
        return r;
    }

    int shownWidth(int w) const
    {
        int width = 0;
        for (const sim::DecodedChannel& d : sim::decodeOutputs(chip))
            if (d.on && e->och_owner[d.och] == w && d.y == 0)
                width += d.width;
        return width;
    }
};

}  // namespace

TEST_F(MemoryTest, EveryMultiWindowPresetKeepsItsWindowsApart)
{
    feedAll();
    e->zelApi_MultiWinInit();
    for (int preset = 1; preset < c331_manage::kMultiWinPresets; ++preset) {
        const int n = e->multi_win[preset].count;
        for (int w = 0; w < 6; ++w) {
            const int32_t* r = e->multi_win_rect[preset][w];
            setWindow(w, r[0], r[1], r[2], r[3], w, w < n ? 1 : 0);
        }
        settle();
        expectSound("preset " + std::to_string(preset));
    }
}

TEST_F(MemoryTest, AVboPairBesideSingleWindows)
{
    feedAll();
    setWindow(0, 0, 0, 960, 540, kHdmi3);
    setWindow(1, 960, 0, 960, 540, kHdmi1);
    setWindow(2, 0, 540, 960, 540, kHdmi4);
    setWindow(3, 960, 540, 960, 540, kExt);
    hideFrom(4);
    settle();
    ASSERT_GE(e->win_ich[0][1], 0);   // the V-by-One windows take a pair each
    ASSERT_GE(e->win_ich[2][1], 0);
    expectSound("pairs and singles");
}

TEST_F(MemoryTest, EachDotByDotModeReadsWhatItsPortsWrite)
{
    feedAll();
    const int modes[10] = {1, 20, 21, 22, 23, 30, 40, 41, 50, 51};
    for (int word = 0; word <= 9; ++word) {
        const bool wide = modes[word] == 30 || modes[word] == 40;
        showDbd(word, word >= 8 ? kHdmi3 : kHdmi2, wide ? 7680 : 3840, wide ? 1080 : 2160);
        ASSERT_EQ(e->PM_WIN_DBD_MODE[0], modes[word]);
        expectSound("dot-by-dot " + std::to_string(modes[word]));
        // Every channel the mode needs is read: one per port, a pair per V-by-One port.
        const sim::MemoryMap m = sim::decodeMemory(chip);
        std::set<int> read;
        for (const sim::MemoryRead* r : m.readsOf(0))
            read.insert(r->ichs.begin(), r->ichs.end());
        const size_t ports = word == 0 ? 1 : word <= 4 ? 2 : word == 5 ? 3 : 4;
        EXPECT_EQ(read.size(), ports) << modes[word] << "\n" << sim::describeMemory(chip);
    }
}

TEST_F(MemoryTest, FourPortsStackTwoOverTwo)
{
    feedAll();
    showDbd(7);
    ASSERT_EQ(e->PM_WIN_DBD_MODE[0], 41);
    const sim::MemoryMap m = sim::decodeMemory(chip);
    // The channel carrying port p: its source selects 2p.
    const sim::MemoryWriter* of[4] = {};
    for (const sim::MemoryWriter& w : m.writers)
        if (chip.reg(0x00, uint8_t(0x10 + w.ich)) < 8)
            of[chip.reg(0x00, uint8_t(0x10 + w.ich)) / 2] = &w;
    for (const sim::MemoryWriter* w : of)
        ASSERT_NE(w, nullptr) << sim::describeMemory(chip);
    const uint32_t pitch = of[0]->pitch, px = sim::memoryLineBytes(1920, of[0]->mode);
    EXPECT_EQ(of[1]->base[0], of[0]->base[0] + px);
    EXPECT_EQ(of[2]->base[0], of[0]->base[0] + 1080 * pitch);
    EXPECT_EQ(of[3]->base[0], of[0]->base[0] + 1080 * pitch + px);
    // The panel shows the whole 3840 x 2160 picture, read from its top-left corner.
    EXPECT_EQ(shownWidth(0), 3840);
    const auto reads = m.readsOf(0);
    ASSERT_FALSE(reads.empty());
    EXPECT_EQ(reads[0]->start, of[0]->base[0]);
    std::set<int> read;
    for (const sim::MemoryRead* r : reads)
        read.insert(r->ichs.begin(), r->ichs.end());
    EXPECT_EQ(read.size(), 4u);
}

TEST_F(MemoryTest, AWindowSwitchedIntoAMultiPortModeShowsItsFullWidthOnceItsPortsAreMeasured)
{
    // Only EXT is shown, so DVI's port (2) has never been measured when the window switches.
    feedAll();
    panel(3840, 2160, 0);
    setWindow(0, 0, 0, 3840, 2160, kExt);
    hideFrom(1);
    settle();
    ASSERT_FALSE(e->PI_MEAS[2].valid);
    setWord(window(0) + kWinFlags, kDbdFlag);
    setWord(window(0) + kWinDbdMode, 3);   // ports 2 and 3 side by side
    commitAndPass();
    model->refresh_shadow();
    for (int i = 0; i < 4; ++i)
        e->stepOnce();
    EXPECT_TRUE(e->PI_MEAS[2].valid);
    EXPECT_EQ(shownWidth(0), 3840) << sim::describeMemory(chip);
    expectSound("switched into 22");
}

TEST_F(MemoryTest, CropsZoomsAndMirrorsReadInsideTheirPicture)
{
    feedAll();
    // A crop of HDMI1 shrunk into a small window beside a full one.
    writeCropEntry(0, uint8_t(kHdmi1), 480, 270, 960, 540);
    setWindow(0, 0, 0, 1280, 1080, kHdmi2);
    setWindow(1, 1280, 0, 320, 180, kWinSourceCrop | 0);
    hideFrom(2);
    settle();
    expectSound("crop with shrink");

    // A 960 x 540 input zoomed over two channels of a 3840-wide panel.
    zeltest::feedVideo(kDvi, 960, 540, 60);
    panel(3840, 1080, 3);
    setWindow(0, 0, 0, 3840, 1080, kDvi);
    hideFrom(1);
    settle();
    settle();
    EXPECT_NE(sim::decodeOutputs(chip)[size_t(e->win_info[0].ochLst[0])].hzoom, 0u);
    expectSound("horizontal zoom");

    // Fields woven into frames beside a progressive window, and a single input too tall for a
    // channel's buffers, stored in the dot-by-dot memory.
    TARVO_HDMI_INFO fields = zeltest::videoRecord(1920, 540, 60);
    fields.ip = 1;
    zeltest::feedVideo(kHdmi2, fields, 60);
    panel(1920, 1080, 0);
    setWindow(0, 0, 0, 960, 1080, kHdmi2);
    setWindow(1, 960, 0, 960, 1080, kHdmi1);
    settle();
    settle();
    ASSERT_EQ(e->PM_MEM_WMODE[0], 2);
    expectSound("fields");
    zeltest::feedVideo(kHdmi2, 1920, 2400, 30);
    showDbd(0, kHdmi2, 1920, 1080);
    ASSERT_EQ(e->check_dbd_input(e->win_port[0]), 1);
    expectSound("tall single input");

    // Both mirrors, with and without the zoom.
    zeltest::feedVideo(kDvi, 960, 540, 60);
    panel(3840, 1080, 3);
    setWindow(0, 0, 0, 3840, 1080, kDvi);
    hideFrom(1);
    setWord(window(0) + kWinFlags, 0);
    setWord(window(0) + kWinMirror, 3);
    settle();
    settle();
    expectSound("mirrored zoom");
    // Zoomed over a row of channels, the mirrored picture's right part is shown on the left.
    panel(7680, 2160, 0);
    setWindow(0, 0, 0, 7680, 2160, kDvi);
    settle();
    settle();
    ASSERT_GE(gridOf(0).size(), 2u);
    expectSound("mirrored zoom over a row");
    panel(1920, 1080, 0);
    setWindow(0, 0, 0, 1920, 1080, kHdmi1);
    settle();
    settle();
    const uint8_t step = chip.reg(bank(0x16, e->win_info[0].ochLst[0]), 0x30);
    EXPECT_EQ(step, 256 - e->linePitch(0));
    expectSound("mirrored");
}

TEST_F(MemoryTest, DotByDotChannelsKeepTheirWindowsFormatAndBlack)
{
    feedAll();
    // A channel taken over by a dot-by-dot window forgets its previous owner's rotation pattern.
    for (int c = 0; c < 8; ++c)
        chip.setReg(bank(0x16, c), 0x66, 0x77);
    showDbd(1);
    ASSERT_EQ(e->PM_WIN_DBD_MODE[0], 20);
    for (int c : ichsOf(0)) {
        EXPECT_EQ(chip.regValue(bank(0x16, c), 0x66, 3), e->rotationWord(0)) << c;
        EXPECT_EQ(chip.reg(bank(0x11, c), 0x43), 2) << c;
    }
    // Black asked for a dot-by-dot window is shown.
    setWord(window(0) + kWinFlags, kDbdFlag | kWinFlagBlack);
    settle();
    for (int c = 0; c < 8; ++c) {
        if (e->och_owner[c] == 0) {
            EXPECT_EQ(chip.reg(bank(0x08, c), 0x48), 1) << c;
        }
    }
}

TEST_F(MemoryTest, TwoDotByDotWindowsTakeTheirOwnBands)
{
    feedAll();
    panel(3840, 2160, 0);
    setWindow(0, 0, 0, 1920, 2160, kHdmi2);
    setWindow(1, 1920, 0, 1920, 2160, kExt);
    hideFrom(2);
    setWord(window(0) + kWinFlags, kDbdFlag);
    setWord(window(0) + kWinDbdMode, 2);   // ports 0 over 1
    setWord(window(1) + kWinFlags, kDbdFlag);
    setWord(window(1) + kWinDbdMode, 3);   // ports 2 beside 3
    settle();
    settle();
    ASSERT_EQ(e->PM_WIN_DBD_MODE[0], 21);
    ASSERT_EQ(e->PM_WIN_DBD_MODE[1], 22);
    expectSound("two dot-by-dot windows");
    const sim::MemoryMap m = sim::decodeMemory(chip);
    EXPECT_EQ(m.writers.size(), 4u) << sim::describeMemory(chip);
}

namespace {

// An input at the edge of what the box takes, as the test shows it, and what its window's
// channels must then store.
struct EdgeCase {
    const char* what;
    std::function<void()> show;
    int lines;   // lines each of window 0's writers stores, 0 unchecked
    int mode;    // window 0's memory write mode, -1 unchecked
    int off;     // the window that shows nothing, -1 none
};

class MemoryEdgeTest : public MemoryTest {
protected:
    void feedFields(std::initializer_list<int> inputs)
    {
        for (int i : inputs)
            zeltest::feedVideo(i, fieldRecord(), 60);
    }
    // An interlaced w x h input (frame lines), two pixels a clock or one.
    void feedFieldsOf(int input, int w, int h, bool twoPerClock = false)
    {
        TARVO_HDMI_INFO r = zeltest::videoRecord(w, h / 2, 60);
        r.ip = 1;
        r.Vtotal = h / 2 + 22;
        r.datamode = twoPerClock ? 1 : 0;
        zeltest::feedVideo(input, r, 60);
    }
    // The input is unplugged: the board feeds nothing, the input-source manager reports no signal.
    void unplug(int input)
    {
        TARVO_HDMI_INFO r{};
        r.nosignal = 1;
        r.stable = 1;
        zeltest::feedVideo(input, r, 0);
    }
    void feedTwoPerClock(int input, int w, int h, int hz = 60)
    {
        TARVO_HDMI_INFO r = zeltest::videoRecord(w, h, hz);
        r.datamode = 1;
        zeltest::feedVideo(input, r, hz);
    }
    // Shows `input` alone one to one, w x h at hz, two pixels a clock or over V-by-One lanes.
    std::function<void()> wideInput(int input, int w, int h, int hz, bool twoPerClock, int lanes = 0)
    {
        return [=] {
            TARVO_HDMI_INFO r = zeltest::videoRecord(w, h, hz, lanes);
            r.datamode = twoPerClock ? 1 : 0;
            zeltest::feedVideo(input, r, hz);
            showPlain(input, w, h);
        };
    }
    // An input w x h, window 0 mirrored left to right and zoomed over the split of two outputs
    // side by side, a pixel of it on the first output.
    std::function<void()> mirroredOverSplit(int w, int h)
    {
        return [=] {
            setWord(kTestPattern, 0);
            zeltest::feedVideo(kHdmi2, w, h, 60);
            panel(3930, 1330, 3);
            setWord(kOutputArea + 4, 1413);
            setWord(kOutputArea + 8, 1413);
            setWord(kOutputArea + 12, 3930 - 1413);
            setWord(kOutputArea + 14, 1330);
            setWindow(0, 1412, 448, 2517, 882, kHdmi2);
            hideFrom(1);
            setWord(window(0) + kWinFlags, 0);
            setWord(window(0) + kWinMirror, 1);
            settle();
            settle();
            ASSERT_GT(e->win_info[0].columns, 1);
        };
    }
    // Four 1080i windows hold the weaving channels 0-3; window 4 shows `lines` frame lines of
    // HDMI1 from line y, on a channel that keeps one field.
    void cropOnFieldChannel(int y, int lines)
    {
        feedAll();
        feedFields({kExt, kDvi, kHdmi1, kHdmi2});
        panel(3840, 2160, 0);
        const int inputs[4] = {kExt, kDvi, kHdmi2, kExt};
        for (int w = 0; w < 4; ++w)
            setWindow(w, 960 * w, 0, 960, 540, inputs[w]);
        writeCropEntry(0, uint8_t(kHdmi1), 0, uint16_t(y), 1920, uint16_t(lines));
        setWindow(4, 0, 1080, 1920, 540, kWinSourceCrop | 0);
        hideFrom(5);
        setWord(window(0) + kWinFlags, 0);
        setWord(window(4) + kWinFlags, 0);
        settle();
        settle();
    }
    // Window w's first piece shows `count` lines of a 1080-line frame from frame line `first`,
    // whether its channel stores the frame or one field of it.
    void expectFrameLines(int w, int first, int count) const
    {
        const sim::MemoryMap m = sim::decodeMemory(chip);
        const sim::MemoryWriter* wr = m.writer(e->win_ich[w][0]);
        const auto reads = m.readsOf(e->win_info[w].ochLst[0]);
        ASSERT_TRUE(wr && !reads.empty()) << sim::describeMemory(chip);
        const int perLine = 1080 / wr->lines;
        const int64_t row = (int64_t(reads[0]->start) - int64_t(wr->base[0])) / wr->pitch;
        EXPECT_NEAR(row * perLine, first, 1) << sim::describeMemory(chip);
        EXPECT_NEAR(reads[0]->lines * perLine, count, 2) << sim::describeMemory(chip);
    }
    // The rectangle of its input window w shows, as the chip reads it, within `tol` pixels.
    void expectShows(int w, int x, int y, int width, int height, int tol = 2) const
    {
        const std::string view = sim::describeCrops(chip) + sim::describeMemory(chip);
        for (const sim::DecodedCrop& k : sim::decodeCrops(chip)) {
            if (k.och != e->win_info[w].ochLst[0])
                continue;
            EXPECT_NEAR(k.x, x, tol) << view;
            EXPECT_NEAR(k.y, y, tol) << view;
            EXPECT_NEAR(k.width, width, 4 * tol) << view;
            EXPECT_NEAR(k.height, height, 4 * tol) << view;
            return;
        }
        ADD_FAILURE() << "window " << w << " shows nothing\n" << view;
    }
    // Window 0 alone over a w x h panel, showing `source`.
    void showWhole(int source, int w, int h)
    {
        panel(w, h, 0);
        setWindow(0, 0, 0, w, h, source);
        hideFrom(1);
        setWord(window(0) + kWinFlags, 0);
        setWord(window(0) + kWinMirror, 0);
        settle();
        settle();
    }
    void showPlain(int input, int w, int h)
    {
        panel(w, h, 0);
        setWindow(0, 0, 0, w, h, input);
        hideFrom(1);
        setWord(window(0) + kWinFlags, 0);
        settle();
        settle();
    }
    // Windows 0-3 in the quarters of a 3840 x 2160 panel on the two V-by-One inputs, a pair of
    // input channels each; window 4 on HDMI1 at x, y, w x h.
    void showFourVboAnd(int x, int y, int w, int h)
    {
        setWord(kTestPattern, 0);
        feedAll();
        panel(3840, 2160, 0);
        for (int k = 0; k < 4; ++k) {
            setWindow(k, 1920 * (k % 2), 1080 * (k / 2), 1920, 1080, k % 2 ? kHdmi4 : kHdmi3);
            setWord(window(unsigned(k)) + kWinFlags, 0);
            setWord(window(unsigned(k)) + kWinMirror, 0);
        }
        setWindow(4, x, y, w, h, kHdmi1);
        hideFrom(5);
        settle();
        settle();
    }
    // Windows 0-3 in the quarters of a 3840 x 2160 panel, window w in dot-by-dot `word` where
    // word[w] is not -1; HDMI1 and HDMI2 1920 x 2160, so two ports side by side take half of the
    // dot-by-dot memory.
    void showQuarters(const int (&source)[4], const int (&word)[4])
    {
        setWord(kTestPattern, 0);
        hideFrom(0);   // the channels handed out afresh
        settle();
        feedAll();
        zeltest::feedVideo(kHdmi1, 1920, 2160, 30);
        zeltest::feedVideo(kHdmi2, 1920, 2160, 30);
        panel(3840, 2160, 0);
        for (int k = 0; k < 4; ++k) {
            setWindow(k, 1920 * (k % 2), 1080 * (k / 2), 1920, 1080, source[k]);
            setWord(window(unsigned(k)) + kWinFlags, word[k] < 0 ? 0 : kDbdFlag);
            setWord(window(unsigned(k)) + kWinDbdMode, uint16_t(std::max(word[k], 0)));
            setWord(window(unsigned(k)) + kWinMirror, 0);
        }
        hideFrom(4);
        settle();
        settle();
    }
    // Windows 0 and 1 on HDMI2 side by side over a panel, window 0 `split` wide, in dot-by-dot
    // words word0 and word1.
    void showTwoDbd(int panelW, int panelH, int split, int word0, int word1)
    {
        setWord(kTestPattern, 0);
        panel(panelW, panelH, 0);
        setWindow(0, 0, 0, split, panelH, kHdmi2);
        setWindow(1, split, 0, panelW - split, panelH, kHdmi2);
        hideFrom(2);
        for (int w = 0; w < 2; ++w) {
            setWord(window(w) + kWinFlags, kDbdFlag);
            setWord(window(w) + kWinDbdMode, uint16_t(w ? word1 : word0));
        }
        settle();
        settle();
    }
    // Each case on the engine as the previous one left it; then a fresh start from the image.
    void run(const EdgeCase& c, bool full = false)
    {
        SCOPED_TRACE(c.what);
        c.show();
        expectSound(c.what, c.off);
        expectIdleWindowsHoldNothing(c.what);
        expectInsideBuffers(c.what);
        const sim::MemoryMap m = sim::decodeMemory(chip);
        for (const sim::MemoryWriter& wr : m.writers) {
            if (c.lines && e->ich_owner[wr.ich] == 0) {
                EXPECT_EQ(wr.lines, c.lines) << "ich " << wr.ich << "\n" << sim::describeMemory(chip);
            }
        }
        if (c.mode >= 0) {
            EXPECT_EQ(e->PM_MEM_WMODE[0], c.mode);
        }
        expectAsFreshStart(c.what, full);
    }
};

}  // namespace

TEST_F(MemoryEdgeTest, InputsAtTheEdgesStayInTheirBuffers)
{
    const std::vector<EdgeCase> cases = {
        {"DVI 2560x1440 beside four 720p windows",
         [this] {
             feedAll();
             zeltest::feedVideo(kDvi, 2560, 1440, 60);
             panel(3840, 2160, 0);
             setWindow(0, 0, 0, 2560, 1440, kDvi);
             setWindow(1, 2560, 0, 1280, 720, kExt);
             setWindow(2, 2560, 720, 1280, 720, kHdmi1);
             setWindow(3, 0, 1440, 1280, 720, kHdmi2);
             setWindow(4, 1280, 1440, 1280, 720, kHdmi3);
             hideFrom(5);
             settle();
             settle();
         },
         1440, 1, -1},
        {"a 65x65 input zoomed over two channels: the right piece starts a pixel late",
         [this] {
             zeltest::feedVideo(kHdmi2, 65, 65, 60);
             showWhole(kHdmi2, 7680, 2160);
         },
         65, -1, -1},
        {"a 3x2 input mirrored and zoomed over the split of two outputs", mirroredOverSplit(3, 2), 2, -1, -1},
        {"a 1x2 input mirrored and zoomed over the split of two outputs", mirroredOverSplit(1, 2), 2, -1, -1},
        {"a 2x2 input mirrored and zoomed over the split of two outputs", mirroredOverSplit(2, 2), 2, -1, -1},
        {"a 4x2 input mirrored and zoomed over the split of two outputs", mirroredOverSplit(4, 2), 2, -1, -1},
        {"V-by-One 7680x1080 on a panel 5121 wide: each half shrunk to its slot, the line zoomed back",
         [this] {
             zeltest::feedVideo(kHdmi3, 7680, 1080, 30, 8);
             showWhole(kHdmi3, 5121, 1080);
         },
         1080, 1, -1},
        {"V-by-One 5120x1440 shrunk to 4636 wide: each half whole groups of five pixels",
         [this] {
             zeltest::feedVideo(kHdmi3, 5120, 1440, 60, 8);
             showWhole(kHdmi3, 4636, 1440);
         },
         1440, 1, -1},
        {"dot-by-dot side by side 4718 and 4744 wide: the right part on a whole group of five pixels",
         [this] {
             zeltest::feedVideo(kHdmi1, 4718, 1080, 30);
             zeltest::feedVideo(kHdmi2, 4744, 1080, 30);
             showDbd(1, kHdmi1, 9462, 1080);
         },
         0, 3, -1},
        {"1920x2400 plain window",
         [this] {
             zeltest::feedVideo(kHdmi2, 1920, 2400, 30);
             showPlain(kHdmi2, 1920, 2400);
         },
         2176, 0, -1},
        {"the bottom quarter of a 1920x2400 input cropped, the input shrunk to the buffer",
         [this] {
             writeCropEntry(0, uint8_t(kHdmi2), 0, 1800, 1920, 600);
             showPlain(kWinSourceCrop | 0, 1920, 600);
             // The read starts on the stored row input row 1800 became (2176 of 2400 kept).
             const sim::MemoryMap m = sim::decodeMemory(chip);
             const auto reads = m.readsOf(e->win_info[0].ochLst[0]);
             ASSERT_FALSE(reads.empty()) << sim::describeMemory(chip);
             const sim::MemoryWriter* wr = m.writer(e->win_ich[0][0]);
             ASSERT_NE(wr, nullptr) << sim::describeMemory(chip);
             const int64_t row = (int64_t(reads[0]->start) - int64_t(wr->base[0])) / wr->pitch;
             EXPECT_NEAR(row, 1800 * 2176 / 2400, 1) << sim::describeMemory(chip);
         },
         2176, 0, -1},
        {"1080i plain window",
         [this] {
             feedFields({kHdmi2});
             showPlain(kHdmi2, 1920, 1080);
         },
         1080, 2, -1},
        {"a crop of a 1080i input on a channel that keeps one field, the weaving ones taken",
         [this] {
             cropOnFieldChannel(270, 270);   // frame lines 270-539
             ASSERT_GE(e->win_ich[4][0], c331_manage::kIpChannels);
         },
         540, 2, -1},
        {"1080i on four ports, mode 20",
         [this] {
             feedFields({kExt, kDvi, kHdmi1, kHdmi2});
             showDbd(1);
         },
         1080, 0, -1},
        {"1080i on four ports, mode 21", [this] { showDbd(2); }, 1080, 0, -1},
        {"1080i on four ports, mode 40", [this] { showDbd(6, kHdmi2, 7680, 1080); }, 1080, 0, -1},
        {"1080i on four ports, mode 41", [this] { showDbd(7); }, 1080, 0, -1},
        {"1080i mode 21 once four plain windows hold the weaving channels",
         [this] {
             const int inputs[4] = {kHdmi2, kHdmi1, kDvi, kExt};   // ports 0-3
             for (int w = 0; w < 4; ++w) {
                 setWindow(w, 1920 * (w % 2), 1080 * (w / 2), 1920, 1080, inputs[w]);
                 setWord(window(unsigned(w)) + kWinFlags, 0);
             }
             setWindow(4, 0, 0, 1920, 2160, kHdmi2);
             setWord(window(4) + kWinFlags, kDbdFlag);
             setWord(window(4) + kWinDbdMode, 2);
             settle();
             settle();
             ASSERT_EQ(e->PM_WIN_DBD_MODE[4], 21);
         },
         1080, 2, 4},
        {"two pixels a clock, 1080p",
         [this] {
             feedAll();
             feedTwoPerClock(kHdmi1, 1920, 1080);
             showPlain(kHdmi1, 1920, 1080);
         },
         1080, 0, -1},
        {"two pixels a clock, 2160p",
         [this] {
             feedTwoPerClock(kHdmi1, 3840, 2160);
             showPlain(kHdmi1, 3840, 2160);
         },
         2160, 3, -1},
        {"two pixels a clock, DVI 2560x1440",
         [this] {
             feedTwoPerClock(kDvi, 2560, 1440);
             showPlain(kDvi, 2560, 1440);
         },
         1440, 1, -1},
        {"mode 50 on two 2160p V-by-One inputs",
         [this] {
             zeltest::feedVideo(kHdmi3, 3840, 2160, 60, 8);
             zeltest::feedVideo(kHdmi4, 3840, 2160, 60, 8);
             showDbd(8, kHdmi3);
         },
         2160, 0, -1},
        {"mode 51 refused after mode 50", [this] { showDbd(9, kHdmi3); }, 0, -1, 0},
        {"2160p V-by-One input dot by dot, in its channel pair's buffers", [this] { showDbd(0, kHdmi3); }, 2160, 0,
         -1},
        {"a test pattern asked for with three windows, then two windows closed",
         [this] {
             feedAll();
             panel(3840, 2160, 0);
             setWindow(0, 0, 0, 1920, 1080, kHdmi1);
             setWindow(1, 1920, 0, 1920, 1080, kHdmi2);
             setWindow(2, 0, 1080, 1920, 1080, kDvi);
             hideFrom(3);
             setWord(window(0) + kWinFlags, 0);
             settle();
             setWord(kTestPattern, 2);
             settle();
             ASSERT_EQ(e->zelApi_IsPatternGen(), 0);
             hideFrom(1);
             settle();
             ASSERT_EQ(e->zelApi_IsPatternGen(), 1);
         },
         1080, 0, -1},
        {"5120x1440 at 30 Hz, two pixels a clock, 1:1 beside a window on the next channel",
         [this] {
             setWord(kTestPattern, 0);
             feedAll();
             feedTwoPerClock(kHdmi1, 5120, 1440, 30);
             hideFrom(0);   // every channel free before the windows come
             settle();
             panel(6400, 1440, 0);
             setWindow(0, 0, 0, 5120, 1440, kHdmi1);
             setWindow(1, 5120, 0, 1280, 480, kHdmi2);
             setWindow(2, 5120, 480, 1280, 480, kExt);
             setWindow(3, 5120, 960, 1280, 480, kDvi);
             hideFrom(4);
             settle();
             settle();
             ASSERT_GT(e->ich_owner[e->win_ich[0][0] + 1], 0);   // the next slot is another window's
         },
         1440, 3, -1},
        {"4097 wide at one pixel a clock", wideInput(kHdmi2, 4097, 1080, 60, false), 1080, 3, -1},
        {"4098 wide at two pixels a clock", wideInput(kHdmi1, 4098, 1080, 60, true), 1080, 3, -1},
        {"1921 wide at two pixels a clock keeps its last pixel",
         [this] {
             feedTwoPerClock(kHdmi1, 1921, 1080);
             panel(3840, 1080, 0);
             setWindow(0, 0, 0, 1921, 1080, kHdmi1);
             settle();
             settle();
             EXPECT_EQ(e->IWIN[0].HW, 1921);
             const sim::MemoryMap m = sim::decodeMemory(chip);
             ASSERT_NE(m.writer(e->win_ich[0][0]), nullptr);
             EXPECT_EQ(m.writer(e->win_ich[0][0])->pixels, 1922);
         },
         1080, 0, -1},
        {"V-by-One 8194 wide", wideInput(kHdmi3, 8194, 1080, 30, false, 8), 1080, 3, -1},
        {"a refused mode-51 window beside a window on input channel 0, then mirrored",
         [this] {
             zeltest::feedVideo(kHdmi3, 3840, 2160, 60, 8);
             zeltest::feedVideo(kHdmi4, 3840, 2160, 60, 8);
             panel(3840, 2160, 0);
             setWindow(0, 0, 0, 1920, 2160, kHdmi3);
             setWindow(1, 1920, 0, 1920, 2160, kHdmi2);
             hideFrom(2);
             setWord(window(0) + kWinFlags, kDbdFlag);
             setWord(window(0) + kWinDbdMode, 9);
             settle();
             settle();
             ASSERT_LT(e->win_ich[0][0], 0);
             setWindow(1, 1920, 0, 1920, 2160, kHdmi1);   // set up again, on the freed channel 0
             settle();
             ASSERT_EQ(e->win_ich[1][0], 0);
             setWord(window(0) + kWinMirror, 3);
             settle();
         },
         0, -1, 0},
        {"a 960x540 crop at 0,0 of 2160p30 at two pixels a clock",
         [this] {
             feedTwoPerClock(kHdmi1, 3840, 2160, 30);
             writeCropEntry(0, uint8_t(kHdmi1), 0, 0, 960, 540);
             setWord(window(0) + kWinMirror, 0);
             showPlain(kWinSourceCrop | 0, 1920, 1080);
             EXPECT_EQ(e->IWIN[0].HST, 0);
             EXPECT_EQ(e->IWIN[0].HW, 960);
         },
         2160, 3, -1},
        {"1080i cropped to frame lines 270-809 on a weaving channel",
         [this] {
             feedFields({kHdmi2});
             writeCropEntry(0, uint8_t(kHdmi2), 0, 270, 1920, 540);
             showPlain(kWinSourceCrop | 0, 1920, 540);
             expectFrameLines(0, 270, 540);
         },
         1080, 2, -1},
        {"1080i cropped to frame lines 270-809 on channel 4",
         [this] {
             cropOnFieldChannel(270, 540);
             ASSERT_EQ(e->win_ich[4][0], 4);
             expectFrameLines(4, 270, 540);
         },
         540, 2, -1},
        {"1080p cropped to 17,3 1903x1077 into 1000x500",
         [this] {
             feedAll();
             writeCropEntry(0, uint8_t(kHdmi2), 17, 3, 1903, 1077);
             panel(1920, 1080, 0);
             setWindow(0, 0, 0, 1000, 500, kWinSourceCrop | 0);
             hideFrom(1);
             settle();
             settle();
         },
         0, 0, -1},
        {"mode 41 with its top-left input unplugged keeps its places",
         [this] {
             setWord(kTestPattern, 0);
             feedAll();
             unplug(kHdmi2);
             showDbd(7);
             EXPECT_EQ(shownWidth(0), 3840);
         },
         1080, 0, -1},
        {"mode 41 under a 1280x720 top-left input",
         [this] {
             zeltest::feedVideo(kHdmi2, 1280, 720, 60);
             showDbd(7);
             EXPECT_EQ(shownWidth(0), 3840);
         },
         1080, 0, -1},
        {"mode 20 beside a shorter input", [this] { feedAll(); zeltest::feedVideo(kHdmi1, 1920, 720, 60); showDbd(1); },
         1080, 0, -1},
        {"mode 21 over a narrower input", [this] { zeltest::feedVideo(kHdmi1, 1280, 1080, 60); showDbd(2); }, 0, 0, -1},
        {"mode 40 on a window whose own source is unplugged",
         [this] {
             feedAll();
             unplug(kHdmi3);
             showDbd(6, kHdmi3, 7680, 1080);
             EXPECT_EQ(shownWidth(0), 7680);
         },
         1080, 0, -1},
        {"mode 40 on a window whose own source is a measured V-by-One input",
         [this] {
             feedAll();
             showDbd(6, kHdmi3, 7680, 1080);
             EXPECT_EQ(shownWidth(0), 7680);
         },
         1080, 0, -1},
        {"a V-by-One pair whose second channel wove an interlaced input before",
         [this] {
             feedAll();
             feedFields({kExt, kDvi, kHdmi1, kHdmi2});
             panel(3840, 2160, 0);
             const int inputs[4] = {kHdmi2, kHdmi1, kDvi, kExt};   // ports 0-3, channels 0-3
             for (int w = 0; w < 4; ++w) {
                 setWindow(w, 1920 * (w % 2), 1080 * (w / 2), 1920, 1080, inputs[w]);
                 setWord(window(unsigned(w)) + kWinFlags, 0);
             }
             hideFrom(4);
             settle();
             zeltest::feedVideo(kHdmi3, 3840, 2160, 60, 8);
             setWindow(1, 1920, 0, 1920, 1080, kHdmi4);   // pairs 4-5 and 6-7
             setWindow(2, 0, 1080, 1920, 1080, kHdmi4);
             hideFrom(3);
             settle();
             setWindow(0, 0, 0, 3840, 2160, kHdmi3);   // the pair of channels 2 and 3
             settle();
             settle();
             ASSERT_EQ(e->win_ich[0][0], 2);
             ASSERT_EQ(e->win_ich[0][1], 3);
         },
         2160, 0, -1},
        {"three multi-port windows fill the dot-by-dot memory, one naming a 3840x2400 source it never reads",
         [this] {
             feedAll();
             zeltest::feedVideo(kHdmi3, 3840, 2400, 30, 8);
             panel(3840, 2160, 0);
             const int words[3] = {1, 3, 2};   // modes 20, 22 and 21 (1920x2160: four blocks)
             const int sources[3] = {kHdmi3, kExt, kHdmi2};
             for (int w = 0; w < 3; ++w) {
                 setWindow(w, 1920 * (w % 2), 1080 * (w / 2), 1920, 1080, sources[w]);
                 setWord(window(unsigned(w)) + kWinFlags, kDbdFlag);
                 setWord(window(unsigned(w)) + kWinDbdMode, uint16_t(words[w]));
             }
             hideFrom(3);
             settle();
             settle();
         },
         1080, 0, -1},
        {"the other two switched off leave their dot-by-dot memory to the one left", [this] { showDbd(2); }, 1080, 0,
         -1},
        {"5120x1080i two pixels a clock",
         [this] {
             feedFieldsOf(kHdmi1, 5120, 1080, true);
             showPlain(kHdmi1, 5120, 1080);
         },
         0, 2, -1},
        {"3840x2160i", [this] { feedFieldsOf(kHdmi1, 3840, 2160); showPlain(kHdmi1, 3840, 2160); }, 0, 2, -1},
        {"2560x1440i on two ports, mode 20",
         [this] {
             feedFieldsOf(kHdmi1, 2560, 1440);
             feedFieldsOf(kHdmi2, 2560, 1440);
             showDbd(1, kHdmi2, 5120, 1440);
         },
         1440, -1, -1},
        {"1920x2400i dot by dot", [this] { feedFieldsOf(kHdmi2, 1920, 2400); showDbd(0, kHdmi2, 1920, 2400); }, 2400, 0,
         -1},
        {"1080i cropped from column 1, one to one",
         [this] {
             feedFields({kHdmi2});
             writeCropEntry(0, uint8_t(kHdmi2), 1, 0, 1919, 1080);
             panel(3840, 2160, 0);
             setWindow(0, 0, 0, 1919, 1080, kWinSourceCrop | 0);
             hideFrom(1);
             setWord(window(0) + kWinFlags, 0);
             settle();
             settle();
         },
         1080, 2, -1},
        {"1080i cropped from column 1, zoomed",
         [this] {
             setWindow(0, 0, 0, 3840, 2160, kWinSourceCrop | 0);
             settle();
             settle();
         },
         1080, 2, -1},
        {"a V-by-One pair shrunk to an odd width",
         [this] {
             zeltest::feedVideo(kHdmi3, 3840, 2160, 60, 8);
             setWindow(0, 0, 0, 1001, 1001, kHdmi3);
             settle();
             settle();
         },
         1001, 0, -1},
        {"a vertically mirrored two-row grid",
         [this] {
             setWord(kTestPattern, 0);
             zeltest::feedVideo(kHdmi1, 1920, 2160, 30);
             panel(1920, 2160, 1);
             setWord(kOutputArea + 6, 1080);   // output 1 the upper half: one channel a row
             setWindow(0, 0, 0, 1920, 2160, kHdmi1);
             hideFrom(1);
             setWord(window(0) + kWinMirror, 2);
             settle();
             settle();
             ASSERT_EQ(e->win_info[0].rows, 2);
         },
         2160, 0, -1},
        {"2560x1440 carried 2176 wide full-screen on 3840x2160, then mirrored",
         [this] {
             feedAll();
             zeltest::feedVideo(kDvi, 2560, 1440, 60);
             showWhole(kDvi, 3840, 2160);
             ASSERT_EQ(e->sys.PS_VBOTX_MODE, 2u);
             setWord(window(0) + kWinMirror, 1);
             settle();
             expectShows(0, 0, 0, 2560, 1440);
         },
         1440, -1, -1},
        {"EXT 3840x1080 cropped at 1200,0 2400x1000, carried 2176 wide",
         [this] {
             zeltest::feedVideo(kExt, 3840, 1080, 60);
             writeCropEntry(0, uint8_t(kExt), 1200, 0, 2400, 1000);
             showWhole(kWinSourceCrop | 0, 3840, 2160);
             expectShows(0, 1200, 0, 2400, 1000);
         },
         1080, -1, -1},
        {"5120x1440 cropped at 0,360 2560x1080, carried 2176 wide and shrunk to its slot",
         [this] {
             feedTwoPerClock(kHdmi1, 5120, 1440, 30);
             writeCropEntry(0, uint8_t(kHdmi1), 0, 360, 2560, 1080);
             showWhole(kWinSourceCrop | 0, 7680, 2160);
             expectShows(0, 0, 360, 2560, 1080);
         },
         1440, -1, -1},
        {"a crop moved on its own",
         [this] {
             feedAll();
             writeCropEntry(0, uint8_t(kHdmi1), 0, 0, 960, 540);
             showWhole(kWinSourceCrop | 0, 1920, 1080);
             writeCropEntry(0, uint8_t(kHdmi1), 960, 540, 960, 540);
             settle();
             expectShows(0, 960, 540, 960, 540);
         },
         1080, -1, -1},
        {"a crop given another input on its own",
         [this] {
             writeCropEntry(0, uint8_t(kHdmi2), 960, 540, 960, 540);
             settle();
             EXPECT_EQ(e->win_info[0].port, kHdmi2);
         },
         1080, -1, -1},
        {"a crop deleted on its own",
         [this] {
             setWord(cropEntry(0), 0);   // the page clears the entry's source word
             settle();
             EXPECT_EQ(e->win_info[0].port, kExt);
         },
         1080, -1, -1},
        {"source word 7", [this] { showWhole(7, 1920, 1080); }, 0, -1, 0},
        {"a crop index of 40",
         [this] {
             showWhole(kHdmi1, 1920, 1080);
             setWord(window(0) + kWinSource, kWinSourceCrop | 40);
             settle();
         },
         0, -1, 0},
        {"a mirror committed with a change to the default layout",
         [this] {
             showWhole(kHdmi1, 1920, 1080);
             setWord(window(0) + kWinState, 0);   // no window 0: the default layout
             setWord(window(0) + kWinMirror, 1);
             settle();
             EXPECT_EQ(e->win_info[0].attr, 0);
             EXPECT_EQ(ochReg(e->win_info[0].ochLst[0], 0x22, 1), 0u);
         },
         1080, -1, -1},
        {"a dot-by-dot word above 9 is single input, moved as well",
         [this] {
             zeltest::feedVideo(kHdmi2, 1280, 720, 60);
             showDbd(12, kHdmi1, 3840, 1080);
             setWord(window(0) + kWinX, 1);   // laid out again
             settle();
             EXPECT_EQ(e->PM_WIN_DBD_MODE[0], 1);
             EXPECT_EQ(shownWidth(0), 1920);
         },
         1080, -1, -1},
        {"an interlaced input of one line a frame is no signal",
         [this] {
             feedFieldsOf(kHdmi1, 1920, 1);
             sim::setInputSignal(kHdmi1, true, 1920, 1, 60, true);   // the board sees its one line
             showWhole(kHdmi1, 1920, 1080);
             EXPECT_EQ(e->oimgct(kPortHdmi1), 1);
             EXPECT_EQ(ochReg(e->win_info[0].ochLst[0], 0x48, 1), 1u);   // the input background
         },
         0, -1, -1},
    };
    for (const EdgeCase& c : cases)
        run(c);
}

// More windows than the chip's channels carry: the windows the channels stretch to are shown, in
// window order, and the others are refused and show nothing, as a fresh start shows them.
TEST_F(MemoryEdgeTest, WindowsTheChannelsDoNotStretchToAreRefused)
{
    const std::vector<EdgeCase> cases = {
        {"four V-by-One windows take the eight input channels, a fifth window is refused",
         [this] { showFourVboAnd(960, 540, 1920, 1080); }, 0, -1, 4},
        {"four V-by-One windows and a window of no size", [this] { showFourVboAnd(960, 540, 0, 1080); }, 0, -1, 4},
        {"four V-by-One windows and a window off the panel", [this] { showFourVboAnd(4000, 540, 960, 540); }, 0, -1,
         4},
        {"a source change makes room for the refused window, another takes the room again",
         [this] {
             showFourVboAnd(960, 540, 1920, 1080);
             setWord(window(0) + kWinSource, uint16_t(kHdmi2));   // one channel instead of a pair
             settle();
             EXPECT_FALSE(ichsOf(4).empty());
             expectSound("room made");
             expectAsFreshStart("room made", true);
             setWord(window(0) + kWinSource, uint16_t(kHdmi3));
             settle();
         },
         0, -1, 4},
        {"source changes make room for a refused dot-by-dot window",
         [this] {
             showFourVboAnd(960, 540, 1920, 1080);
             setWord(window(4) + kWinFlags, kDbdFlag);
             setWord(window(4) + kWinDbdMode, 1);   // two ports side by side
             settle();
             EXPECT_TRUE(ichsOf(4).empty());
             setWord(window(0) + kWinSource, uint16_t(kHdmi2));   // one channel instead of a pair
             setWord(window(1) + kWinSource, uint16_t(kExt));
             settle();
             EXPECT_EQ(ichsOf(4).size(), 2u);
         },
         0, -1, -1},
        {"four windows over the whole panel take the eight output channels, a fifth over them is refused",
         [this] {
             feedAll();
             panel(7680, 2160, 0);   // two channel rectangles side by side
             const int inputs[5] = {kHdmi1, kHdmi2, kExt, kDvi, kHdmi2};
             for (int w = 0; w < 4; ++w)
                 setWindow(w, 0, 0, 7680, 2160, inputs[w]);
             setWindow(4, 100, 100, 960, 540, inputs[4]);
             hideFrom(5);
             settle();
             // Whichever window changes last, the refused one stays off.
             setWord(window(0) + kWinMirror, 1);
             settle();
             setWord(window(4) + kWinMirror, 1);
             settle();
         },
         0, -1, 4},
        {"a four-port dot-by-dot window whose last port is interlaced, beside a window set up before it",
         [this] {
             setWord(kTestPattern, 0);
             feedAll();
             feedFieldsOf(kExt, 1920, 1080);   // the mode's fourth port
             panel(7680, 2160, 0);
             setWindow(0, 0, 0, 1920, 1080, kHdmi1);
             setWord(window(0) + kWinFlags, 0);
             setWord(window(0) + kWinMirror, 0);
             hideFrom(1);
             settle();
             settle();
             // The fourth part needs the window's fourth channel to weave: window 0's channel
             // makes way, as for an interlaced input.
             setWindow(1, 3840, 0, 3840, 2160, kHdmi2);
             setWord(window(1) + kWinFlags, kDbdFlag);
             setWord(window(1) + kWinDbdMode, 6);   // four ports side by side
             setWord(window(1) + kWinMirror, 0);
             settle();
             settle();
             EXPECT_EQ(ichsOf(1).size(), 4u);
             EXPECT_FALSE(ichsOf(0).empty());
         },
         0, -1, -1},
        {"a dot-by-dot picture too tall to store gives its channels to the windows after it",
         [this] {
             setWord(kTestPattern, 0);
             feedAll();
             zeltest::feedVideo(kHdmi3, 3840, 2160, 60, 8);
             zeltest::feedVideo(kHdmi4, 3840, 2160, 60, 8);
             panel(3840, 2160, 0);
             // The two receivers' pictures one over the other: 4320 lines.
             setWindow(0, 0, 0, 1920, 1080, kHdmi3);
             setWord(window(0) + kWinFlags, kDbdFlag);
             setWord(window(0) + kWinDbdMode, 9);
             const int inputs[4] = {kHdmi3, kHdmi3, kHdmi4, kHdmi1};
             for (int w = 1; w < 4; ++w) {
                 setWindow(w, 1920 * (w % 2), 1080 * (w / 2), 1920, 1080, inputs[w]);
                 setWord(window(unsigned(w)) + kWinFlags, 0);
                 setWord(window(unsigned(w)) + kWinMirror, 0);
             }
             setWord(window(0) + kWinMirror, 0);
             hideFrom(4);
             settle();
             settle();
             EXPECT_FALSE(ichsOf(3).empty());
         },
         0, -1, 0},
        {"a dot-by-dot picture too tall to store gives its output channels to the windows after it",
         [this] {
             setWord(kTestPattern, 0);
             feedAll();
             zeltest::feedVideo(kHdmi3, 3840, 2160, 60, 8);
             zeltest::feedVideo(kHdmi4, 3840, 2160, 60, 8);
             panel(7680, 2160, 0);   // two channel rectangles side by side
             const int inputs[5] = {kHdmi3, kHdmi1, kHdmi2, kExt, kDvi};
             for (int w = 0; w < 4; ++w)
                 setWindow(w, 0, 0, 7680, 2160, inputs[w]);
             setWindow(4, 100, 100, 960, 540, inputs[4]);
             for (int w = 0; w < 5; ++w) {
                 setWord(window(unsigned(w)) + kWinFlags, w ? 0 : kDbdFlag);
                 setWord(window(unsigned(w)) + kWinMirror, 0);
             }
             setWord(window(0) + kWinDbdMode, 9);   // the two receivers one over the other
             hideFrom(5);
             settle();
             settle();
             EXPECT_FALSE(ichsOf(4).empty());
             EXPECT_GT(e->win_info[4].columns, 0);
         },
         0, -1, 0},
        {"a single-input dot-by-dot window stored in its own channel beside two holding all the dot-by-dot memory",
         [this] {
             showQuarters({kHdmi2, kHdmi2, kExt, kHdmi1}, {1, 1, -1, -1});
             setWord(window(2) + kWinFlags, kDbdFlag);   // single input
             settle();
             ASSERT_FALSE(gridOf(2).empty());
             EXPECT_TRUE(decoded(gridOf(2)[0]).on);
         },
         0, -1, -1},
        {"a window running past the screen's bottom leaves the channels of the grid below it to others",
         [this] {
             setWord(kTestPattern, 0);
             feedAll();
             panel(10475, 2134, 1);   // four channel rectangles two over two, the lower two off the screen
             const int inputs[4] = {kHdmi1, kHdmi2, kExt, kDvi};
             for (int w = 0; w < 4; ++w) {
                 setWindow(w, 0, 0, 10475, w ? 2134 : 4268, inputs[w]);
                 setWord(window(unsigned(w)) + kWinFlags, 0);
                 setWord(window(unsigned(w)) + kWinMirror, 0);
             }
             hideFrom(4);
             settle();
             settle();
             ASSERT_EQ(e->panel.ochRows * int(e->panel.ochH), 2 * 2134);
             EXPECT_FALSE(ichsOf(3).empty());
             EXPECT_EQ(gridOf(0).size(), 2u);
         },
         0, -1, -1},
        {"a window turned to four channels in the re-layout that has a later window give four back",
         [this] {
             // Window 1 shows both receivers (four channels); in one re-layout window 0 takes them
             // and window 1 HDMI2, while the receivers' records are being refilled (no timing
             // change sets them up again): window 0 holds its four channels or none.
             showQuarters({kHdmi1, kHdmi3, kHdmi3, kExt}, {-1, 8, -1, -1});
             ASSERT_EQ(ichsOf(1).size(), 4u);
             TARVO_HDMI_INFO r = zeltest::videoRecord(1920, 1080, 60, 4);
             r.stable = 0;
             zeltest::feedVideo(kHdmi3, r, 60);
             zeltest::feedVideo(kHdmi4, r, 60);
             setWindow(0, 0, 0, 1900, 1080, kHdmi3);
             setWord(window(0) + kWinFlags, kDbdFlag);
             setWord(window(0) + kWinDbdMode, 8);
             setWord(window(1) + kWinSource, uint16_t(kHdmi2));
             setWord(window(1) + kWinFlags, 0);
             settle();
             EXPECT_TRUE(ichsOf(0).empty() || ichsOf(0).size() == 4u) << ichsOf(0).size();
             expectIdleWindowsHoldNothing("records being refilled");
             feedAll();
             settle();
         },
         0, -1, -1},
        {"a dot-by-dot window the channels no longer stretch to gives its memory to a later window that fits",
         [this] {
             // Window 2 shows three inputs side by side in half of the dot-by-dot memory; window
             // 0 then takes both 3840x2160 receivers (four channels, the other half): window 2 no
             // longer fits, and window 3 turned to two inputs takes the half it gave back.
             showQuarters({kHdmi3, kHdmi4, kHdmi2, kExt}, {-1, -1, 5, -1});
             zeltest::feedVideo(kHdmi3, 3840, 2160, 30, 8);
             zeltest::feedVideo(kHdmi4, 3840, 2160, 30, 8);
             settle();
             ASSERT_EQ(ichsOf(2).size(), 3u);
             setWord(window(0) + kWinFlags, kDbdFlag);
             setWord(window(0) + kWinDbdMode, 8);
             commitAndPass();
             model->refresh_shadow();
             expectIdleWindowsHoldNothing("window 2 no longer fits");
             setWord(window(3) + kWinFlags, kDbdFlag);
             setWord(window(3) + kWinDbdMode, 1);
             settle();
             EXPECT_EQ(ichsOf(3).size(), 2u);
         },
         0, -1, 2},
    };
    for (const EdgeCase& c : cases)
        run(c, true);
}

// A change undone, or a window switched off, leaves the chip as a box started afresh from the
// same image has it: backgrounds, input channel cuts and the display planes included.
TEST_F(MemoryEdgeTest, WhatAChangeLeavesBehindIsAsAFreshStart)
{
    // Window 0 on HDMI1, window 1 on `source1` beside it.
    auto twoWindows = [this](int source1) {
        setWord(kTestPattern, 0);
        feedAll();
        panel(7680, 2160, 0);   // two channel rectangles side by side
        setWindow(0, 0, 0, 3840, 2160, kHdmi1);
        setWindow(1, 3840, 0, 3840, 2160, source1);
        hideFrom(2);
        setWord(window(0) + kWinFlags, 0);
        setWord(window(1) + kWinFlags, 0);
        settle();
        settle();
    };
    const std::vector<EdgeCase> cases = {
        {"dot-by-dot windows whose memory a start hands out otherwise, their channels kept",
         [this] {
             // Windows of a 3 x 2 grid opened and turned dot by dot one change at a time (mode 20
             // on window 3, 22 on window 5), window 4 closed again, window 0 turned dot by dot
             // and back: the others' memory moves, their channels do not.
             setWord(kTestPattern, 0);
             const int lines[6] = {1080, 720, 1440, 2160, 2160, 2160};
             for (int i = 0; i < 6; ++i)
                 zeltest::feedVideo(i, 1920, lines[i], 30, i >= kHdmi3 ? 4 : 0);
             panel(3840, 2160, 0);
             for (int w = 0; w < 6; ++w) {
                 setWindow(w, 1280 * (w % 3), 1080 * (w / 3), 1280, 1080, kHdmi2, 0);
                 setWord(window(unsigned(w)) + kWinFlags, 0);
                 setWord(window(unsigned(w)) + kWinDbdMode, 0);
                 setWord(window(unsigned(w)) + kWinMirror, 0);
             }
             settle();
             const unsigned steps[][3] = {{3, kWinState, 1},  {5, kWinState, 1},  {3, kWinDbdMode, 1},
                                          {5, kWinDbdMode, 3}, {4, kWinState, 1},  {0, kWinState, 1},
                                          {3, kWinFlags, kDbdFlag}, {5, kWinFlags, kDbdFlag}, {0, kWinDbdMode, 1},
                                          {4, kWinState, 0},  {0, kWinFlags, kDbdFlag}, {0, kWinFlags, 0}};
             for (const auto& [w, field, value] : steps) {
                 setWord(window(w) + field, uint16_t(value));
                 settle();
             }
         },
         0, -1, -1},
        {"a window on an input without signal switched off",
         [=] {
             twoWindows(kDvi);
             sim::setInputSignal(kDvi, false, 0, 0, 0);
             settle();
             setWord(window(1) + kWinState, 0);
             settle();
         },
         0, -1, -1},
        {"a window set black switched off",
         [=] {
             twoWindows(kHdmi2);
             setWord(window(1) + kWinFlags, kWinFlagBlack);
             settle();
             setWord(window(1) + kWinState, 0);
             settle();
         },
         0, -1, -1},
        {"a window whose input lost its signal",
         [=] {
             twoWindows(kHdmi2);
             sim::setInputSignal(kHdmi2, false, 0, 0, 0);
             settle();
         },
         0, -1, -1},
        {"a dot-by-dot window refused for its channels, its own source without signal",
         [this] {
             showFourVboAnd(960, 540, 1920, 1080);   // the eight input channels taken
             unplug(kDvi);
             setWindow(4, 0, 0, 3840, 1080, kDvi);
             setWord(window(4) + kWinFlags, kDbdFlag);
             setWord(window(4) + kWinDbdMode, 1);   // HDMI1 and HDMI2 side by side
             settle();
             settle();
         },
         0, -1, 4},
        {"a window refused for its channels, on an input without signal, set black and back",
         [this] {
             showFourVboAnd(960, 540, 1920, 1080);   // window 4 refused
             unplug(kHdmi1);
             settle();
             setWord(window(4) + kWinFlags, kWinFlagBlack);
             settle();
             setWord(window(4) + kWinFlags, 0);
             settle();
         },
         0, -1, 4},
        {"the on-screen display on, then off",
         [=] {
             twoWindows(kHdmi2);
             setWord(kOsdOn, 1);
             settle();
             setWord(kOsdOn, 0);
             settle();
         },
         0, -1, -1},
        {"a source beyond the inputs given back on its own: the windows' own layout again",
         [=] {
             twoWindows(kHdmi2);
             setWord(window(1) + kWinSource, 54);   // no such input: the default layout
             setWord(window(1) + kWinWidth, 1920);
             settle();
             setWord(window(1) + kWinSource, uint16_t(kHdmi2));
             settle();
         },
         0, -1, -1},
        {"a 1080i input turned progressive: the weaving channel it gives up goes to the window left without",
         [this] {
             // Five 1080i windows for four weaving channels: window 4 keeps one field.
             feedAll();
             feedFields({kExt, kDvi, kHdmi1, kHdmi2});
             panel(3840, 2160, 0);
             const int inputs[5] = {kExt, kDvi, kHdmi2, kExt, kHdmi1};
             for (int w = 0; w < 5; ++w)
                 setWindow(w, 768 * w, 0, 768, 540, inputs[w]);
             hideFrom(5);
             for (int w = 0; w < 5; ++w)
                 setWord(window(w) + kWinFlags, 0);
             settle();
             settle();
             zeltest::feedVideo(kExt, 1920, 1080, 60);   // windows 0 and 3 need no weaving now
             settle();
             settle();
         },
         0, -1, -1},
        {"a window before a dot-by-dot window weaving on all four channels turned to a 1080i input",
         [this] {
             // Window 1 shows four 1080i inputs two over two and weaves on channels 0-3; window
             // 0, before it, on a 1080p V-by-One input, is then turned to one of them: it takes a
             // weaving channel first, and window 1, one short, shows nothing, as in a start.
             setWord(kTestPattern, 0);
             feedAll();
             feedFields({kExt, kDvi, kHdmi1, kHdmi2});
             panel(3840, 2160, 0);
             setWindow(0, 0, 0, 960, 540, kHdmi3);
             setWindow(1, 0, 0, 3840, 2160, kHdmi2);
             hideFrom(2);
             setWord(window(0) + kWinFlags, 0);
             setWord(window(1) + kWinFlags, kDbdFlag);
             setWord(window(1) + kWinDbdMode, 7);   // two over two
             settle();
             settle();
             ASSERT_EQ(ichsOf(1).size(), 4u);
             setWord(window(0) + kWinSource, uint16_t(kHdmi1));
             settle();
             settle();
         },
         0, -1, 1},
        {"two dot-by-dot windows on four inputs turning 1080i one by one",
         [this] {
             // Both windows show the four inputs side by side; as each input turns interlaced
             // the windows are set up again one after the other. The weaving channels end with
             // window 0, and window 1, without them, shows nothing, as in a start.
             feedAll();
             showTwoDbd(7680, 1080, 3840, 6, 6);   // four side by side
             for (int input : {kHdmi2, kHdmi1, kDvi, kExt}) {
                 feedFields({input});
                 settle();
                 settle();
             }
         },
         0, -1, 1},
        {"a window turned dot by dot before two dot-by-dot windows holding all the memory",
         [this] {
             // Windows 1 and 2 show two 2560x1440 inputs side by side, each in half of the
             // dot-by-dot memory; window 0, before them, is then turned to the same: the memory
             // goes to it first and window 2, without, shows nothing, as in a start.
             setWord(kTestPattern, 0);
             feedAll();
             zeltest::feedVideo(kHdmi1, 2560, 1440, 60);
             zeltest::feedVideo(kHdmi2, 2560, 1440, 60);
             panel(3840, 2160, 0);
             setWindow(0, 0, 0, 1920, 1080, kHdmi3);
             setWindow(1, 1920, 0, 1920, 1080, kHdmi1);
             setWindow(2, 0, 1080, 1920, 1080, kHdmi1);
             hideFrom(3);
             setWord(window(0) + kWinFlags, 0);
             for (int w = 1; w < 3; ++w) {
                 setWord(window(w) + kWinFlags, kDbdFlag);
                 setWord(window(w) + kWinDbdMode, 1);   // HDMI1 and HDMI2 side by side
             }
             settle();
             settle();
             ASSERT_TRUE(e->usesDbdMemory(1) && e->usesDbdMemory(2));
             setWord(window(0) + kWinSource, uint16_t(kHdmi1));
             setWord(window(0) + kWinFlags, kDbdFlag);
             setWord(window(0) + kWinDbdMode, 1);
             settle();
             settle();
         },
         0, -1, 2},
        {"a dot-by-dot window whose interlaced part lost its weaving channels to one refused in the same round",
         [this] {
             // Window 0 (four ports two over two, 3240 lines: too tall) takes the weaving
             // channels first and is refused; window 1 (three ports side by side) weaves on them.
             feedAll();
             feedFields({kHdmi1, kExt});
             zeltest::feedVideo(kDvi, 1920, 2160, 30);
             showTwoDbd(7680, 2160, 1920, 7, 5);
             // Both set up afresh in one go, as at a start.
             for (int w = 0; w < 2; ++w) {
                 e->askIchAgain(w);
                 e->dbd_refused[w] = false;
             }
             e->set_output(e->c331_fd);
             EXPECT_EQ(ichsOf(1).size(), 3u);
         },
         0, -1, 0},
        {"a dot-by-dot window turned on while V-by-One pairs after it hold the weaving channels",
         [this] {
             showQuarters({kHdmi3, kHdmi4, kHdmi3, kHdmi4}, {-1, -1, -1, -1});
             feedFields({kHdmi1});   // the second of HDMI2 and HDMI1 side by side
             settle();
             setWord(window(0) + kWinFlags, kDbdFlag);
             setWord(window(0) + kWinDbdMode, 1);
             settle();
             settle();
             EXPECT_EQ(ichsOf(0).size(), 2u);
         },
         0, -1, -1},
        {"a dot-by-dot window turned on while a V-by-One pair before it holds weaving channels a start leaves",
         [this] {
             showQuarters({kHdmi2, kHdmi3, kHdmi4, kExt}, {-1, -1, -1, -1});
             setWord(window(0) + kWinSource, uint16_t(kHdmi3));   // a pair on 2-3: 4-7 are taken
             settle();
             setWord(window(2) + kWinSource, uint16_t(kHdmi1));   // 6-7 given back
             feedFields({kDvi});
             settle();
             setWord(window(3) + kWinFlags, kDbdFlag);
             setWord(window(3) + kWinDbdMode, 5);   // HDMI2, HDMI1 and DVI side by side: three to weave
             settle();
             EXPECT_EQ(ichsOf(3).size(), 3u);
         },
         0, -1, -1},
        {"a window refused for dot-by-dot memory takes it once given back, before a later window asks for it",
         [this] {
             showQuarters({kHdmi2, kHdmi2, kHdmi2, kExt}, {1, 1, 1, -1});   // window 2 refused
             setWord(window(0) + kWinFlags, 0);   // gives its half back
             settle();
             setWord(window(3) + kWinFlags, kDbdFlag);
             setWord(window(3) + kWinDbdMode, 1);
             settle();
             settle();
             EXPECT_EQ(ichsOf(2).size(), 2u);
         },
         0, -1, 3},
        {"a dot-by-dot window moved off the panel gives its dot-by-dot memory back",
         [this] {
             showQuarters({kHdmi2, kHdmi2, kHdmi2, kExt}, {1, 1, 1, -1});   // window 2 refused
             setWord(window(0) + kWinY, 2160);   // below the panel
             settle();
             settle();
             EXPECT_EQ(ichsOf(2).size(), 2u);
         },
         0, -1, 0},
        {"an input lost in the pass that turns another window to it: a plain, a dot-by-dot and a frozen window on it",
         [this] {
             setWord(kTestPattern, 0);
             feedAll();
             panel(3840, 2160, 0);
             const int flags[4] = {0, kDbdFlag, kWinFlagFrozen, 0};   // dot by dot: the single input
             for (int k = 0; k < 4; ++k) {
                 setWindow(k, 1920 * (k % 2), 1080 * (k / 2), 1920, 1080, k < 3 ? kHdmi1 : kHdmi2);
                 setWord(window(unsigned(k)) + kWinFlags, uint16_t(flags[k]));
                 setWord(window(unsigned(k)) + kWinDbdMode, 0);
                 setWord(window(unsigned(k)) + kWinMirror, 0);
             }
             hideFrom(4);
             settle();
             settle();
             setWord(window(3) + kWinSource, uint16_t(kHdmi1));
             unplug(kHdmi1);
             settle();
         },
         0, -1, -1},
        {"a source beyond the inputs on its own: the default layout",
         [=] {
             twoWindows(kHdmi2);
             setWord(window(1) + kWinSource, 54);
             settle();
         },
         0, -1, -1},
        {"a window before three V-by-One windows on the weaving channels turned to a 1080i input",
         [this] {
             // Four V-by-One windows take their pairs in window order, windows 2 and 3 those of
             // channels 0-3; window 0 is then turned to a 1080i input: the weaving channel is
             // its own, as in a start, and the windows after it take their pairs again after it.
             setWord(kTestPattern, 0);
             feedAll();
             feedFields({kHdmi1});
             panel(3840, 2160, 0);
             for (int k = 0; k < 4; ++k) {
                 setWindow(k, 1920 * (k % 2), 1080 * (k / 2), 1920, 1080, k % 2 ? kHdmi4 : kHdmi3);
                 setWord(window(unsigned(k)) + kWinFlags, 0);
                 setWord(window(unsigned(k)) + kWinMirror, 0);
             }
             hideFrom(4);
             settle();
             settle();
             setWord(window(0) + kWinSource, uint16_t(kHdmi1));
             settle();
             settle();
         },
         0, -1, -1},
        {"a window turned to a V-by-One input, then one after it turned to a 1080i input",
         [this] {
             // Windows 0-2 weave three 1080i inputs, windows 3 and 4 show V-by-One inputs on
             // pairs 4-5 and 6-7. Window 2 turned to a V-by-One input takes a pair of channels
             // 0-3; window 4 then turned to a 1080i input weaves, as in a start.
             setWord(kTestPattern, 0);
             hideFrom(0);   // the channels handed out afresh
             settle();
             feedAll();
             feedFields({kExt, kDvi, kHdmi1});
             panel(3840, 2160, 0);
             const int inputs[5] = {kExt, kDvi, kHdmi1, kHdmi4, kHdmi3};
             for (int k = 0; k < 5; ++k) {
                 setWindow(k, 1280 * (k % 3), 1080 * (k / 3), 1280, 1080, inputs[k]);
                 setWord(window(unsigned(k)) + kWinFlags, 0);
                 setWord(window(unsigned(k)) + kWinMirror, 0);
             }
             hideFrom(5);
             settle();
             settle();
             setWord(window(2) + kWinSource, uint16_t(kHdmi3));
             settle();
             settle();
             setWord(window(4) + kWinSource, uint16_t(kHdmi1));
             settle();
             settle();
         },
         0, -1, -1},
    };
    for (const EdgeCase& c : cases)
        run(c, true);
}
