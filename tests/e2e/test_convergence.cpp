// Changes made the way PC software and the user make them (each written and committed at once,
// the next one close behind or right after) all reach the chip and the LED output: once the box
// is quiet it shows what a box started from its parameter file shows.
//
// The randomized run takes its seeds and length from the environment (README, "Convergence run"):
//   ZEL_CONVERGENCE_SEED   first seed (default 1)
//   ZEL_CONVERGENCE_SEEDS  number of seeds (default 2)
//   ZEL_CONVERGENCE_OPS    changes per seed (default 40)
//   ZEL_CONVERGENCE_DIAGNOSTICS=1  the box's diagnostics among the output
// The random stops of a busy box likewise:
//   ZEL_STOP_SEED   seed (default 1)
//   ZEL_STOP_COUNT  stops (default 30)
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDialog>
#include <QLabel>
#include <QSlider>
#include <QSettings>
#include <QtGlobal>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/config_engine.h"
#include "core/global.h"
#include "core/para_commit.h"
#include "core/param_ranges.h"
#include "core/ram_layout.h"
#include "core/zelrampara.h"
#include "platform/platform.h"
#include "ledout/fpga_manage.h"
#include "engine/c331_manage.h"
#include "running_box.h"
#include "sim/fpga_model.h"
#include "sim/video_chip.h"
#include "support/silenced_stdout.h"
#include "support/test_root.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/option.h"
#include "ui/shell/page_nav.h"
#include "ui/video/imagequality.h"

using namespace ramaddr;
using e2e::Bytes;
using e2e::RunningBox;
using e2e::updateBody;
using e2e::word;
using e2e::writeRamBody;

namespace {

int envOr(const char* name, int fallback)
{
    const char* v = std::getenv(name);
    return v && *v ? std::atoi(v) : fallback;
}

double secondsSince(std::chrono::steady_clock::time_point t)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

uint16_t imageWord(const ZelRamPara* m, unsigned addr) { return ram_get_u16(m->ram_para, addr); }

// ---- the pages, as the user clicks them --------------------------------------------------------

void clickChild(QObject* parent, const char* name)
{
    if (auto* b = parent ? parent->findChild<QAbstractButton*>(name) : nullptr)
        b->click();
}

// The home page with the image quality page open in front of it.
void openQualityPage()
{
    g_lcd_lang_valid = 0x1001F;
    g_language = 1;
    shell::setModalRunner([](QDialog* d) {
        d->show();
        return 0;
    });
    g_mainwindow = new MainWindow(nullptr);
    g_mainwindow->show();
    g_page_focus = 1;
    clickChild(g_mainwindow, "option");
    clickChild(g_option, "image_quality");
}

void closePages() { shell::setModalRunner(nullptr); }

// Moves a slider of the image quality page and lets go: the page commits the value.
void releaseSlider(const char* key, int value)
{
    if (!g_imagequality)
        return;
    auto* s = g_imagequality->findChild<QSlider*>(QStringLiteral("horizontalSlider_%1").arg(key));
    if (!s)
        return;
    s->setValue(value);
    emit s->sliderReleased();
}

// Loads user mode k (0-15) with the home page's mode button.
void recallMode(int k)
{
    g_mode_select = k;
    QMetaObject::invokeMethod(g_mainwindow, "on_Button_mode_load_clicked", Qt::DirectConnection);
}

// ---- the changes -------------------------------------------------------------------------------

struct Change {
    std::string what;
    std::function<void(RunningBox&)> apply;
};

// One word through the links: the RAM write and its commit at once, as PC software does.
Change overLink(const std::string& what, unsigned addr, uint16_t value, uint8_t commitBits = 0x01)
{
    return {what + " link", [=](RunningBox& b) { b.link({writeRamBody(addr, word(value)), updateBody(commitBits)}); }};
}

struct Picture {
    const char* slider;
    unsigned addr;
    int max;
};
constexpr Picture kPicture[] = {
    {"bright", kBrightness, 100}, {"contrast", kContrast, 100}, {"saturation", kSaturation, 100},
    {"sharpness", kSharpness, 10}, {"red", kRedGain, 128},     {"green", kGreenGain, 128},
    {"blue", kBlueGain, 128},
};

using e2e::Panel;
using e2e::panelBodies;
constexpr Panel kPanels[] = {
    {1920, 1080, 1920, 1080, 0}, {1280, 720, 1280, 720, 0},  {3840, 1080, 3840, 1080, 0},
    {2560, 1440, 2560, 1440, 0}, {3000, 1080, 1920, 1080, 3}, {1920, 2000, 1920, 1080, 2},
};

constexpr int kWindowsUsed = 3;
constexpr int kModesSaved = 2;

class ChangeMaker {
public:
    explicit ChangeMaker(uint32_t seed) : rng_(seed) {}

    int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

    // The next change; now and then the previous one is taken back at once (the slider moved
    // and moved back), which is where a shadow that is behind hides a change.
    Change next(const ZelRamPara* m)
    {
        if (!undo_.what.empty() && pick(0, 2) == 0) {
            Change c = undo_;
            undo_ = {};
            return c;
        }
        switch (pick(0, 11)) {
        case 0: case 1: case 2: return picture(m);
        case 3: return geometry(m);
        case 4: return source();
        case 5: return flagsOrPriority();
        case 6: return remember(m, kTestPattern, uint16_t(pick(0, 3)), "pattern");
        case 7: return panel();
        case 8: return remember(m, kOsdOn, uint16_t(pick(0, 1)), "osd");
        case 9: return remember(m, kScreenClosed, uint16_t(pick(0, 1)), "screen");
        case 10: return mode();
        default: return remember(m, kBrightness, uint16_t(pick(0, 100)), "brightness");
        }
    }

    int spacingMs() { return pick(0, 3) == 0 ? 0 : pick(0, 20); }

private:
    // A word change over the links, with its undo kept; now and then both go out back to back
    // in one go (the slider moved and moved back before the box answered).
    Change remember(const ZelRamPara* m, unsigned addr, uint16_t value, const std::string& what)
    {
        const uint16_t old = imageWord(m, addr);
        if (pick(0, 3) == 0) {
            return {what + " " + std::to_string(value) + " and back link", [=](RunningBox& b) {
                        b.link({writeRamBody(addr, word(value)), updateBody(), writeRamBody(addr, word(old)), updateBody()});
                    }};
        }
        undo_ = overLink(what + " back", addr, old);
        return overLink(what + " " + std::to_string(value), addr, value);
    }

    Change picture(const ZelRamPara* m)
    {
        const Picture& p = kPicture[pick(0, int(std::size(kPicture)) - 1)];
        const int value = pick(0, p.max);
        if (pick(0, 1) == 0)
            return remember(m, p.addr, uint16_t(value), p.slider);
        const int old = imageWord(m, p.addr);
        const char* key = p.slider;
        undo_ = {std::string(key) + " back page", [=](RunningBox&) { releaseSlider(key, old); }};
        return {std::string(key) + " " + std::to_string(value) + " page", [=](RunningBox&) { releaseSlider(key, value); }};
    }

    Change geometry(const ZelRamPara* m)
    {
        const int w = pick(0, kWindowsUsed - 1);
        const int ledW = imageWord(m, kLedWidth), ledH = imageWord(m, kLedHeight);
        const int x = pick(0, ledW / 2), y = pick(0, ledH / 2);
        const int width = pick(64, std::max(64, ledW - x)), height = pick(64, std::max(64, ledH - y));
        const uint16_t state = w == 0 ? 1 : uint16_t(pick(0, 1));
        const unsigned rec = window(unsigned(w));
        Bytes area;
        for (int v : {x, y, width, height})
            for (uint8_t b : word(uint16_t(v)))
                area.push_back(b);
        std::ostringstream what;
        what << "window " << w << " state " << state << " at " << x << "," << y << " " << width << "x" << height;
        return {what.str(), [=](RunningBox& b) {
                    b.link({writeRamBody(rec + kWinState, word(state)), writeRamBody(rec + kWinX, area), updateBody()});
                }};
    }

    Change source()
    {
        const int w = pick(0, kWindowsUsed - 1);
        const uint16_t s = pick(0, 3) == 0 ? uint16_t(kWinSourceCrop | pick(0, 3)) : uint16_t(pick(0, 5));
        return overLink("window " + std::to_string(w) + " source " + std::to_string(s), window(unsigned(w)) + kWinSource, s);
    }

    Change flagsOrPriority()
    {
        const int w = pick(0, kWindowsUsed - 1);
        // Black and freeze, each on or off.
        if (pick(0, 1) == 0)
            return overLink("window " + std::to_string(w) + " flags", window(unsigned(w)) + kWinFlags,
                            uint16_t(pick(0, 3)));
        return overLink("window " + std::to_string(w) + " priority", kPriority + 2 * unsigned(w), uint16_t(pick(0, 5)));
    }

    Change panel()
    {
        const Panel p = kPanels[pick(0, int(std::size(kPanels)) - 1)];
        std::ostringstream what;
        what << "panel " << p.ledW << "x" << p.ledH << " splice " << p.splice;
        return {what.str(), [=](RunningBox& b) { b.link(panelBodies(p)); }};
    }

    Change mode()
    {
        const int k = pick(0, kModesSaved - 1);
        return {"user mode " + std::to_string(k + 1), [=](RunningBox&) { recallMode(k); }};
    }

    std::mt19937 rng_;
    Change undo_;
};

// Two user modes, each a variation of the start, saved by the box itself (the save request).
bool saveUserModes(RunningBox& box)
{
    for (int k = 0; k < kModesSaved; ++k) {
        box.link({writeRamBody(kContrast, word(uint16_t(20 + 30 * k))), writeRamBody(window(0) + kWinX, word(uint16_t(100 * k))),
                  writeRamBody(kOsdOn, word(uint16_t(k))), updateBody()});
        box.link({writeRamBody(kSaveRequest, word(uint16_t(k + 1))), updateBody()});
        if (!box.settle())
            return false;
    }
    return true;
}

// Serves this thread's events until `done` holds; false after `seconds`.
bool idleUntil(const std::function<bool()>& done, double seconds = 10)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        RunningBox::idle(2);
    }
    return true;
}

bool ready(std::future<void>& f) { return f.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }

// Command bodies on a link thread of their own; `wait` gives this thread's verdict on the future
// that is ready once all are answered. The link thread is answered (the tick served) before it is
// joined, whatever the verdict.
bool onLinkThread(const std::vector<Bytes>& bodies, const std::function<bool(std::future<void>&)>& wait)
{
    std::promise<void> sent;
    std::future<void> answered = sent.get_future();
    std::thread link([&] {
        for (const Bytes& b : bodies)
            RunningBox::ask(b);
        sent.set_value();
    });
    const bool verdict = wait(answered);
    idleUntil([&] { return ready(answered); }, 60);
    link.join();
    return verdict;
}

// ... while this thread serves its events (and the tick); false when not answered within 10 s.
bool sendWhileIdle(const std::vector<Bytes>& bodies)
{
    return onLinkThread(bodies, [](std::future<void>& answered) { return idleUntil([&] { return ready(answered); }); });
}

// ... while this thread serves no events, so the GUI tick stands still; false when they are not
// all answered within 10 s (the tick then runs again until they are).
bool answeredWhileTheTickStands(const std::vector<Bytes>& bodies)
{
    return onLinkThread(bodies, [](std::future<void>& answered) {
        return answered.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    });
}

bool bothFpgasRun(const fpga_manage* f)
{
    return f->shadow(fpga_manage::kRegState, 0) == fpga_manage::kRunning &&
           f->shadow(fpga_manage::kRegState, 1) == fpga_manage::kRunning;
}

uint32_t chipContrast() { return sim::videoChip().regValue(0x0C, 0x28, 2); }

}  // namespace

// The long run's output: a line per seed on stderr, and the box's diagnostics silenced (with its
// debug switch off, and Qt's messages) unless ZEL_CONVERGENCE_DIAGNOSTICS=1; a failure then shows
// on stderr.
class Convergence : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (zeltest::diagnosticsWanted("ZEL_CONVERGENCE_DIAGNOSTICS"))
            return;
        g_debugSwitch = 0;
        silenced_.emplace();
        qtMessages_ = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        failures_ = new FailuresToStderr;
        listeners().Append(failures_);
    }
    void TearDown() override
    {
        if (failures_)
            delete listeners().Release(failures_);
        if (silenced_)
            qInstallMessageHandler(qtMessages_);
        silenced_.reset();
    }

private:
    class FailuresToStderr : public ::testing::EmptyTestEventListener {
        void OnTestPartResult(const ::testing::TestPartResult& r) override
        {
            if (r.failed())
                std::fprintf(stderr, "%s:%d: Failure\n%s\n", r.file_name() ? r.file_name() : "?", r.line_number(),
                             r.message());
        }
    };
    static ::testing::TestEventListeners& listeners() { return ::testing::UnitTest::GetInstance()->listeners(); }

    std::optional<zeltest::SilencedStdout> silenced_;
    FailuresToStderr* failures_ = nullptr;
    QtMessageHandler qtMessages_ = nullptr;
};

// On the board's pace the LED output blanks for 42 ticks of this thread's event loop on each
// LED-size change. A link client's write and commit during the hand-over are answered while it
// still runs: the tick stands still until the answer, so the hand-over cannot end first unless
// the answer waited for it. (bench/led_size_replies measures the reply times.)
TEST_F(Convergence, LinkClientsAreAnsweredWhileTheLedSizeChanges)
{
    zeltest::TempRoot root;
    RunningBox box(e2e::Pace::Board);
    ASSERT_TRUE(box.start());
    constexpr int kSizeChanges = 5;
    uint16_t contrast = 0;
    for (int k = 0; k < kSizeChanges && !HasFailure(); ++k) {
        ASSERT_TRUE(idleUntil([&] { return bothFpgasRun(box.fpga) && g_set_led_para.load() == 0; })) << k;
        ASSERT_TRUE(answeredWhileTheTickStands(panelBodies(kPanels[2 + k % 2]))) << k;
        ASSERT_NE(g_set_led_para.load(), 0) << "the hand-over of change " << k << " runs";
        contrast = uint16_t(11 + 7 * k);
        EXPECT_TRUE(answeredWhileTheTickStands({writeRamBody(kContrast, word(contrast)), updateBody()})) << k;
        EXPECT_NE(g_set_led_para.load(), 0) << "the hand-over of change " << k << " ended before the answer";
        ASSERT_TRUE(idleUntil([] { return g_set_led_para.load() == 0; })) << k;
    }
    ASSERT_TRUE(box.settle());
    EXPECT_EQ(chipContrast(), contrast * 1023u / 100u);
    EXPECT_EQ(imageWord(box.model, kLedWidth), kPanels[2 + (kSizeChanges - 1) % 2].ledW);
}

// A page commit while the LED output blanks for a new size: the GUI thread, whose tick paces the
// blanking, is not held by the engine's wait (the commit returns while the hand-over, which
// cannot end without the tick, still runs), the hand-over runs to its end and the commit is
// applied after it.
TEST_F(Convergence, APageCommitDuringTheLedHandOverReturnsAndTheHandOverCompletes)
{
    zeltest::TempRoot root;
    RunningBox box(e2e::Pace::Board);
    ASSERT_TRUE(box.start());
    ASSERT_TRUE(answeredWhileTheTickStands(panelBodies(kPanels[3])));
    ASSERT_EQ(g_set_led_para.load(), 1);
    RunningBox::idle(50);   // the engine's pass waits for the hand-over
    {
        ParaCommit commit;
        ram_set_u16(box.model->ram_para, kContrast, 40);
        commit.set(1);
    }
    EXPECT_EQ(g_set_led_para.load(), 1) << "the commit waited for the hand-over";
    ASSERT_TRUE(box.settle());
    EXPECT_EQ(chipContrast(), 40u * 1023 / 100);
    EXPECT_EQ(imageWord(box.model, kLedWidth), kPanels[3].ledW);
}

// A window moved over the link without a commit while the engine's pass waits for the LED
// output's hand-over: the move waits in the image (the pass applies the image it took), and a
// move back, committed, leaves the chip where a fresh start from the same files puts it.
TEST_F(Convergence, AnUncommittedMoveDuringTheLedHandOverWaitsForItsCommit)
{
    zeltest::TempRoot root;
    e2e::Shown settled;
    uint8_t image[kRamSize];
    {
        RunningBox box(e2e::Pace::Board);
        ASSERT_TRUE(box.start());
        const unsigned x = window(0) + kWinX;
        ASSERT_TRUE(sendWhileIdle({writeRamBody(x, word(0)), updateBody()}));
        ASSERT_TRUE(box.settle());
        ASSERT_TRUE(sendWhileIdle(panelBodies(kPanels[3])));
        ASSERT_TRUE(idleUntil([&] { return box.engine->handingOver(); }));
        ASSERT_TRUE(sendWhileIdle({writeRamBody(x, word(480))}));
        ASSERT_TRUE(idleUntil([&] { return !box.engine->handingOver(); }));
        {
            ParaCommit pass;   // the pass that set the new panel up has ended
        }
        EXPECT_EQ(box.shown().picture.find("x 480"), std::string::npos) << e2e::describe(box.shown());
        ASSERT_TRUE(sendWhileIdle({writeRamBody(x, word(0)), updateBody()}));
        ASSERT_TRUE(box.settle());
        settled = box.shown();
        std::copy(box.model->ram_para, box.model->ram_para + kRamSize, image);
        box.stop();
    }
    EXPECT_EQ(settled.picture.find("x 480"), std::string::npos) << e2e::describe(settled);
    const e2e::Shown fresh = e2e::freshlyStarted(image);
    EXPECT_TRUE(settled == fresh) << "running box:\n" << e2e::describe(settled) << "\nfreshly started:\n"
                                  << e2e::describe(fresh);
}

// The two measured cases, each value written and committed at once and the next right after.
TEST_F(Convergence, BackToBackChangesOfContrastAndBrightnessEndAtTheImagesValues)
{
    zeltest::TempRoot root;
    RunningBox box;
    ASSERT_TRUE(box.start());
    for (int trial = 0; trial < 20; ++trial) {
        box.link({writeRamBody(kContrast, word(30)), updateBody(), writeRamBody(kContrast, word(50)), updateBody(),
                  writeRamBody(kBrightness, word(25)), updateBody(), writeRamBody(kBrightness, word(100)), updateBody()});
        ASSERT_TRUE(box.settle()) << trial;
        EXPECT_EQ(sim::videoChip().regValue(0x0C, 0x28, 2), 50u * 1023 / 100) << "trial " << trial;
        const e2e::Shown s = box.shown();
        EXPECT_EQ(s.brightness[0], 255) << "trial " << trial;
        EXPECT_EQ(s.brightness[1], 255) << "trial " << trial;
        if (HasFailure())
            break;
    }
}

// Random bytes behind a valid marker in the parameter file: the box starts on fields within
// their ranges, its outputs come up and the home page says so.
TEST_F(Convergence, RandomBytesInTheParameterFileStartABoxWithARunningOutput)
{
    zeltest::TempRoot root;
    std::mt19937 rng(7);
    std::vector<uint8_t> junk(kRamSize);
    for (uint8_t& b : junk)
        b = uint8_t(rng());
    junk[0] = junk[1] = 0xAA;
    zeltest::writeFile("/data/ram_device_info", junk);
    RunningBox box;
    ASSERT_TRUE(box.start());
    ASSERT_TRUE(box.settle());
    for (const paramcheck::FieldRange& r : paramcheck::fieldRanges())
        for (unsigned i = 0; i < r.count; ++i)
            EXPECT_TRUE(paramcheck::fieldInRange(r, i, box.model->ram_para)) << r.name << " " << i;
    box.stop();   // the outputs keep their state; the page reads it without a worker running
    g_lcd_lang_valid = 0x1001F;
    g_language = 1;
    g_mainwindow = new MainWindow(nullptr);
    g_mainwindow->syncUpdate();
    auto* state = g_mainwindow->findChild<QLabel*>("label_fpga_state");
    ASSERT_NE(state, nullptr);
    EXPECT_EQ(state->text().toStdString(), "\u25CF Output running");
}

// A restart of the video engine's bring-up over the link (register 162 bit 6), with brightness and
// screen changes committed right behind it, while the bring-up runs: both FPGAs end at the
// image's values.
TEST_F(Convergence, ChangesRightBehindABringUpRestartReachTheLedOutput)
{
    zeltest::TempRoot root;
    RunningBox box;
    box.engineSleeps = true;
    ASSERT_TRUE(box.start());
    const Bytes restart = e2e::commandBody(0xA0, {162, 0x40, 0, 0x40});
    const uint16_t levels[] = {25, 84, 67, 43};
    for (int trial = 0; trial < 20; ++trial) {
        const uint16_t percent = levels[trial % 4];
        const uint16_t closed = uint16_t(trial % 2);
        box.link({restart});
        for (int k = 0; k < 20000 && box.engine->c331_setup_state == c331_manage::kSetupDone; ++k)
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        box.link({writeRamBody(kBrightness, word(percent)), updateBody(), writeRamBody(kScreenClosed, word(closed)),
                  updateBody()});
        ASSERT_TRUE(box.settle()) << trial;
        const e2e::Shown s = box.shown();
        for (int f = 0; f < 2; ++f) {
            EXPECT_EQ(s.brightness[f], percent * 255 / 100) << "trial " << trial << " FPGA " << f;
            EXPECT_EQ(s.blank[f], closed != 0) << "trial " << trial << " FPGA " << f;
        }
        if (HasFailure())
            break;
    }
}

// A restart of the video engine's bring-up over the link (register 162 bit 6).
const Bytes kRestart = e2e::commandBody(0xA0, {162, 0x40, 0, 0x40});

// The OSD switched on, a bring-up restart, and the OSD switched off again right behind it: the
// chip's OSD plane ends off, as the image says.
TEST_F(Convergence, OsdSwitchedOffRightBehindABringUpRestartIsOff)
{
    RunningBox box;
    box.engineSleeps = true;
    ASSERT_TRUE(box.start());
    for (int trial = 0; trial < 8; ++trial) {
        box.link({writeRamBody(kOsdOn, word(1)), updateBody()});
        ASSERT_TRUE(box.settle()) << trial;
        box.link({kRestart});
        RunningBox::idle(trial * 7);   // 0-49 ms behind the restart
        box.link({writeRamBody(kOsdOn, word(0)), updateBody()});
        ASSERT_TRUE(box.settle()) << trial;
        const std::string picture = box.shown().picture;
        ASSERT_NE(picture.find("osd plane: off"), std::string::npos) << "trial " << trial << "\n" << picture;
    }
}

// ---- stops ---------------------------------------------------------------------------------------

// User mode 16 as the links address it (its saved marker), and its copy of the brightness word.
constexpr uint32_t kSlot16 = 0x10000;
constexpr unsigned kSlotBrightness = kSlotMarkerLen + (kBrightness - kModeStart);

std::vector<Bytes> modeSave(uint16_t v)
{
    return {writeRamBody(kSlot16, {0xAA, 0xAA}), writeRamBody(kSlot16 + kSlotBrightness, word(v)), updateBody()};
}

Bytes barcode(int v)
{
    const std::string text = "ZEL" + std::to_string(v);
    Bytes p(text.begin(), text.end());
    p.insert(p.begin(), {1, uint8_t(text.size())});
    return e2e::commandBody(0xA2, p);
}

// User modes 14 and 15 as two clients save them by the request word, each with a window x of its
// own written just before (window 2 for mode 14, window 3 for mode 15); right after the save is
// answered the client moves its window on, which the saved mode must not take.
constexpr int kRequestSavers = 2;
unsigned saverWindowX(int c) { return window(unsigned(2 + c)) + kWinX; }
uint16_t saverMode(int c) { return uint16_t(14 + c); }
std::vector<Bytes> requestSave(int c, uint16_t v)
{
    return {writeRamBody(saverWindowX(c), word(v)), writeRamBody(kSaveRequest, word(saverMode(c))), updateBody()};
}
std::vector<Bytes> afterTheSave(int c, uint16_t v) { return {writeRamBody(saverWindowX(c), word(uint16_t(v + 100))), updateBody()}; }
uint16_t savedWindowX(const ZelRamPara* m, int c)
{
    return ram_get_u16(m->ram_user_mode[saverMode(c) - 1], kSlotMarkerLen + saverWindowX(c) - kModeStart);
}

// What the box acknowledged, kept by the test itself (-1: nothing yet): the brightness word,
// window 0's and 1's x, user mode 16's brightness, the barcode setting ("ZEL" and the number), the
// window x saved with user modes 14 and 15.
enum Kept { kBright, kWin0, kWin1, kMode16, kBarcode, kMode14, kMode15, kKinds };
constexpr const char* kKeptNames[kKinds] = {"brightness", "window 0 x", "window 1 x", "mode 16 brightness", "barcode",
                                            "mode 14 window 2 x", "mode 15 window 3 x"};
using Ledger = std::array<int, kKinds>;

// Empty when the started box holds the whole ledger, else what it lost.
std::string lostOn(const Ledger& l, const RunningBox& box)
{
    const e2e::Shown shown = box.shown();
    const QString code = QSettings(QString::fromStdString(platform::rootPath(ConfigEngine::kConfigFile)),
                                   QSettings::IniFormat).value("config/Barcode").toString();
    const int held[] = {imageWord(box.model, kBrightness), imageWord(box.model, window(0) + kWinX),
                        imageWord(box.model, window(1) + kWinX),
                        ram_get_u16(box.model->ram_user_mode[kUserModeCount - 1], kSlotBrightness),
                        code.startsWith("ZEL") ? code.mid(3).toInt() : -1, savedWindowX(box.model, 0),
                        savedWindowX(box.model, 1)};
    std::ostringstream lost;
    for (int k = 0; k < kKinds; ++k)
        if (l[k] >= 0 && l[k] != held[k])
            lost << kKeptNames[k] << " " << l[k] << " acknowledged, " << held[k] << " after the restart\n";
    for (int f = 0; f < 2 && l[kBright] >= 0; ++f)
        if (shown.brightness[f] != l[kBright] * 255 / 100)
            lost << "FPGA " << f << " brightness register " << int(shown.brightness[f]) << "\n";
    return lost.str();
}

// A brightness and a mode save committed while an LED-size change hands the outputs over, the
// box stopped right behind them: the started box shows both.
TEST_F(Convergence, ABrightnessAndAModeSaveCommittedDuringAnLedSizeChangeOutlastAStop)
{
    RunningBox box;
    ASSERT_TRUE(box.start());
    box.link({writeRamBody(kBrightness, word(30)), updateBody()});
    ASSERT_TRUE(box.settle());
    for (int trial = 0; trial < 4; ++trial) {
        const Ledger ledger = {80 - trial, -1, -1, 40 + trial, -1, -1, -1};
        box.link(panelBodies(kPanels[1 + trial % 2]));
        box.link({writeRamBody(kBrightness, word(uint16_t(ledger[kBright]))), updateBody()});
        box.link(modeSave(uint16_t(ledger[kMode16])));
        ASSERT_TRUE(box.restart() && box.settle()) << trial;
        EXPECT_EQ(lostOn(ledger, box), "") << "trial " << trial;
    }
}

// Two clients save user modes by the request word while the LED output hands over to a new size
// (the engine's report, which serves the word, waits for it), and one moves its window right after
// its save was answered: each saved mode is the image its save was answered on.
TEST_F(Convergence, TwoClientsModeSavesDuringAnLedSizeChangeAreTheImagesTheyWereAnsweredOn)
{
    zeltest::TempRoot root;
    RunningBox box(e2e::Pace::Board);
    ASSERT_TRUE(box.start());
    for (int trial = 0; trial < 4 && !HasFailure(); ++trial) {
        ASSERT_TRUE(idleUntil([&] { return bothFpgasRun(box.fpga) && g_set_led_para.load() == 0; })) << trial;
        ASSERT_TRUE(sendWhileIdle(panelBodies(kPanels[2 + trial % 2]))) << trial;
        ASSERT_TRUE(idleUntil([&] { return box.engine->handingOver(); })) << trial;
        const uint16_t v[kRequestSavers] = {uint16_t(10 + trial), uint16_t(30 + trial)};
        for (int c = 0; c < kRequestSavers; ++c)
            ASSERT_TRUE(sendWhileIdle(requestSave(c, v[c]))) << trial;
        ASSERT_TRUE(sendWhileIdle(afterTheSave(0, v[0]))) << trial;
        EXPECT_TRUE(box.engine->handingOver()) << "trial " << trial << ": the saves were answered after the hand-over";
        ASSERT_TRUE(box.settle()) << trial;
        for (int c = 0; c < kRequestSavers; ++c) {
            EXPECT_EQ(savedWindowX(box.model, c), v[c]) << "trial " << trial << " mode " << saverMode(c);
            const Bytes file = zeltest::readFile(mode_file_path(saverMode(c) - 1).toStdString());
            ASSERT_EQ(file.size(), kRamSize) << trial;
            EXPECT_EQ(ram_get_u16(file.data(), kSlotMarkerLen + saverWindowX(c) - kModeStart), v[c]) << trial;
        }
    }
}

// The same with a mode save committed while a bring-up restart runs (the engine reports its
// changes once the bring-up is over).
TEST_F(Convergence, AModeSaveCommittedDuringABringUpRestartOutlastsAStop)
{
    RunningBox box;
    box.engineSleeps = true;
    ASSERT_TRUE(box.start());
    for (int v = 40; v < 44; ++v) {
        box.link({kRestart});
        for (int k = 0; k < 20000 && box.engine->c331_setup_state == c331_manage::kSetupDone; ++k)
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        box.link(modeSave(uint16_t(v)));
        ASSERT_TRUE(box.restart() && box.settle()) << v;
        EXPECT_EQ(lostOn({-1, -1, -1, v, -1, -1, -1}, box), "");
    }
}

// A power cut once the parameter file holds a brightness the LED output has not taken yet: the
// saved word wins over the older brightness record at the next start, and at the one after.
TEST_F(Convergence, TheSavedBrightnessWinsOverAnOlderRecordAfterAPowerCut)
{
    RunningBox box;
    ASSERT_TRUE(box.start());
    box.link({writeRamBody(kBrightness, word(30)), updateBody()});
    ASSERT_TRUE(box.settle());
    box.fpga->stopThread();   // the LED output takes no request, as while it hands the outputs over
    box.link({writeRamBody(kBrightness, word(80)), updateBody()});
    ASSERT_TRUE(idleUntil([] {   // the parameter file (a marker, then the image from 0x300) holds 80
        const Bytes file = zeltest::readFile("/data/ram_device_info");
        return file.size() == kRamSize && ram_get_u16(file.data(), kSlotMarkerLen + kBrightness - kPersistStart) == 80;
    }));
    for (int start = 0; start < 2; ++start) {
        ASSERT_TRUE(box.restart(false) && box.settle());
        EXPECT_EQ(lostOn({80, -1, -1, -1, -1, -1, -1}, box), "") << "start " << start;
    }
}

// PC software's fixed brightness records over the links (the record into the command RAM, then bit 2
// of FPGA 0's register 2), the first on a box started without a record, the next on boxes started on
// the record before: an 8-bit value (mode 16) is shown as it is, a 4-bit level L (mode 0) as
// 16 L - 1, the word shows that value, and the LEDs, the word and the stored record stay so at the
// next start.
TEST_F(Convergence, APcsFixedBrightnessRecordIsShownAndKeptOverARestart)
{
    constexpr uint32_t kCommandRam = 0x100000, kBrightnessRecord = 0x6CE000;
    const Bytes runRecord = e2e::commandBody(0xA0, {0x02, 0x04, 0x01, 0x04});   // FPGA 0, register 2, bit 2
    // The word shows value v as v × 100 / 255, or as the percent above when that one gives v.
    auto shows = [](uint16_t w, uint8_t v) {
        const unsigned p = v * 100u / 255u;
        return w == p || (w == p + 1 && w * 255u / 100u == v);
    };
    RunningBox box;
    ASSERT_TRUE(box.start());
    const struct {
        uint8_t mode, value, shown;
    } rows[] = {{16, 166, 166}, {0, 6, 95}, {16, 95, 95}, {16, 182, 182}, {0, 15, 239}};
    for (const auto& row : rows) {
        SCOPED_TRACE("mode " + std::to_string(row.mode) + " value " + std::to_string(row.value));
        Bytes rec = {0xAA, 0x03, 0xAA, 0x00, 0x00, 0x00, 0x31, 0x00, row.mode};
        rec.insert(rec.end(), 48, row.value);
        box.link({writeRamBody(kCommandRam, rec), runRecord});
        ASSERT_TRUE(box.settle());
        for (int start = 0; start < 2; ++start) {
            const e2e::Shown s = box.shown();
            const uint16_t w = imageWord(box.model, kBrightness);
            EXPECT_EQ(s.brightness[0], row.shown) << "start " << start;
            EXPECT_EQ(s.brightness[1], row.shown) << "start " << start;
            EXPECT_TRUE(shows(w, row.shown)) << "word " << w << ", start " << start;
            EXPECT_EQ(sim::fpgaBoard()->flash[0]->contents(kBrightnessRecord, 57), rec) << "start " << start;
            if (start == 0) {
                ASSERT_TRUE(box.restart() && box.settle());
            }
        }
    }
}

// A link client keeps the box busy with a random mix of acknowledged writes, LED-size changes and
// bring-up restarts; the box is stopped at a random moment (the client's last command answered,
// as the box stops its links first) and started again: every value answered is there.
TEST_F(Convergence, RandomStopsOfABusyBoxLoseNoAcknowledgedValue)
{
    const int seed = envOr("ZEL_STOP_SEED", 1), stops = envOr("ZEL_STOP_COUNT", 30);
    const auto started = std::chrono::steady_clock::now();
    ConfigEngine::pInstance();   // the settings the barcode goes to
    RunningBox box;
    ASSERT_TRUE(box.start());
    std::mt19937 rng{uint32_t(seed)};
    Ledger ledger = {-1, -1, -1, -1, -1, -1, -1};
    int answered[7] = {};
    std::atomic<int> requestSaves{0};
    for (int n = 0; n < stops; ++n) {
        std::string log;
        std::atomic<bool> halt{false};
        std::thread client([&, clientSeed = rng()] {
            std::mt19937 r(clientSeed);
            while (!halt.load()) {
                const int op = int(r() % 8) % 7, v = 6 + int(r() % 95);   // brightness twice as often
                const std::vector<Bytes> bodies[] = {
                    {writeRamBody(kBrightness, word(uint16_t(v))), updateBody()},
                    {writeRamBody(window(0) + kWinX, word(uint16_t(v))), updateBody()},
                    {writeRamBody(window(1) + kWinX, word(uint16_t(v))), updateBody()},
                    modeSave(uint16_t(v)), {barcode(v)}, panelBodies(kPanels[v % std::size(kPanels)]), {kRestart}};
                for (const Bytes& b : bodies[op])
                    RunningBox::ask(b);
                if (op <= kBarcode)
                    ledger[op] = v;
                ++answered[op];
                log += "op " + std::to_string(op) + " value " + std::to_string(v) + "\n";
            }
        });
        // Two more clients save user modes by the request word, often during an LED-size change.
        std::vector<std::thread> savers;
        std::string saverLog[kRequestSavers];
        for (int c = 0; c < kRequestSavers; ++c)
            savers.emplace_back([&, c, saverSeed = rng()] {
                std::mt19937 r(saverSeed);
                while (!halt.load()) {
                    const uint16_t v = uint16_t(6 + r() % 95);
                    if (r() % 2 == 0)
                        for (const Bytes& b : panelBodies(kPanels[v % std::size(kPanels)]))
                            RunningBox::ask(b);
                    for (const Bytes& b : requestSave(c, v))
                        RunningBox::ask(b);
                    ledger[kMode14 + c] = v;
                    ++requestSaves;
                    for (const Bytes& b : afterTheSave(c, v))
                        RunningBox::ask(b);
                    saverLog[c] += "mode " + std::to_string(saverMode(c)) + " saved with " + std::to_string(v) + "\n";
                    std::this_thread::sleep_for(std::chrono::milliseconds(r() % 30));   // the client's own pace
                }
            });
        const int busyMs = int(rng() % 400);
        RunningBox::idle(busyMs);
        halt = true;
        client.join();
        for (std::thread& t : savers)
            t.join();
        log += saverLog[0] + saverLog[1];
        const std::string again = "ZEL_STOP_SEED=" + std::to_string(seed) + " ZEL_STOP_COUNT=" + std::to_string(n + 1);
        ASSERT_TRUE(box.restart() && box.settle()) << again;
        ASSERT_EQ(lostOn(ledger, box), "") << again << ", stopped after " << busyMs << " ms\n" << log;
    }
    std::fprintf(stderr, "stops: %d stops of a busy box (seed %d; answered: %d brightness, %d window, %d mode saves, "
                 "%d settings, %d LED sizes, %d restarts; %d saves by request), no acknowledged value lost, %.0f s\n",
                 stops, seed, answered[0], answered[1] + answered[2], answered[3], answered[4], answered[5],
                 answered[6], requestSaves.load(), secondsSince(started));
}

TEST_F(Convergence, RandomChangesEndWhereAFreshStartFromTheParameterFileEnds)
{
    const int first = envOr("ZEL_CONVERGENCE_SEED", 1);
    const int seeds = envOr("ZEL_CONVERGENCE_SEEDS", 2);
    const int changes = envOr("ZEL_CONVERGENCE_OPS", 40);
    const auto started = std::chrono::steady_clock::now();
    for (int seed = first; seed < first + seeds; ++seed) {
        zeltest::TempRoot root;
        std::string log;
        e2e::Shown settled;
        uint8_t image[kRamSize];
        {
            RunningBox box;
            ASSERT_TRUE(box.start()) << "seed " << seed;
            ASSERT_TRUE(saveUserModes(box)) << "seed " << seed;
            openQualityPage();
            ChangeMaker maker{static_cast<uint32_t>(seed)};
            for (int n = 0; n < changes; ++n) {
                const Change c = maker.next(box.model);
                log += c.what + "\n";
                c.apply(box);
                RunningBox::idle(maker.spacingMs());
            }
            // The test pattern stops the inputs' tracking: it ends off, as a start sets it.
            overLink("pattern off", kTestPattern, 0).apply(box);
            ASSERT_TRUE(box.settle()) << "seed " << seed << "\n" << log;
            settled = box.shown();
            std::copy(box.model->ram_para, box.model->ram_para + kRamSize, image);
            box.stop();
            closePages();
        }
        const e2e::Shown fresh = e2e::freshlyStarted(image);
        ASSERT_TRUE(settled == fresh) << "seed " << seed << " image brightness " << ram_get_u16(image, kBrightness) << "\nchanges:\n" << log << "\nrunning box:\n"
                                      << e2e::describe(settled) << "\nfreshly started:\n" << e2e::describe(fresh);
        std::fprintf(stderr, "convergence: seed %d converged (%d of %d, %d changes), %.0f s\n", seed,
                     seed - first + 1, seeds, changes, secondsSince(started));
    }
}

// A user's word and a PC's fixed record on one connection, back to back: the later one is shown,
// stored and said by the word, also when the engine has not passed the word on when the record
// comes.
TEST_F(Convergence, OnOneConnectionTheLaterOfABrightnessRecordAndAWordWins)
{
    constexpr uint32_t kCommandRam = 0x100000, kBrightnessRecord = 0x6CE000;
    const Bytes runRecord = e2e::commandBody(0xA0, {0x02, 0x04, 0x01, 0x04});   // FPGA 0, register 2, bit 2
    RunningBox box;
    ASSERT_TRUE(box.start() && box.settle());
    for (int trial = 0; trial < 4; ++trial) {
        const bool wordFirst = trial % 2 == 0;
        const uint8_t value = uint8_t(200 + trial);
        Bytes rec = {0xAA, 0x03, 0xAA, 0x00, 0x00, 0x00, 0x31, 0x00, 0x10};
        rec.insert(rec.end(), 48, value);
        const std::vector<Bytes> user = {writeRamBody(kBrightness, word(uint16_t(60 + trial))), updateBody()};
        const std::vector<Bytes> record = {writeRamBody(kCommandRam, rec), runRecord};
        box.link(wordFirst ? user : record);
        box.link(wordFirst ? record : user);
        ASSERT_TRUE(box.settle()) << trial;
        const uint8_t want = wordFirst ? value : uint8_t((60 + trial) * 255 / 100);
        const e2e::Shown s = box.shown();
        EXPECT_EQ(s.brightness[0], want) << "trial " << trial;
        EXPECT_EQ(s.brightness[1], want) << "trial " << trial;
        EXPECT_EQ(sim::fpgaBoard()->flash[0]->contents(kBrightnessRecord, 10)[9], want) << "trial " << trial;
        const int w = imageWord(box.model, kBrightness);
        EXPECT_TRUE(wordFirst ? std::abs(w * 255 - value * 100) < 255 : w == 60 + trial) << "trial " << trial << ", word " << w;
    }
}
