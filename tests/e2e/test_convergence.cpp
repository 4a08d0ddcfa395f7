// Changes made the way PC software and the user make them (each written and committed at once,
// the next one close behind or right after) all reach the chip and the LED output: once the box
// is quiet it shows what a box started from its parameter file shows.
//
// The randomized run takes its seeds and length from the environment (README, "Convergence run"):
//   ZEL_CONVERGENCE_SEED   first seed (default 1)
//   ZEL_CONVERGENCE_SEEDS  number of seeds (default 2)
//   ZEL_CONVERGENCE_OPS    changes per seed (default 40)
//   ZEL_CONVERGENCE_DIAGNOSTICS=1  the box's diagnostics among the output
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDialog>
#include <QtGlobal>
#include <QSlider>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "core/global.h"
#include "core/ram_layout.h"
#include "core/zelrampara.h"
#include "running_box.h"
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

struct Panel {
    uint16_t ledW, ledH, out1W, out1H, splice;
};
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
        return {what.str(), [=](RunningBox& b) {
                    b.link({writeRamBody(kSpliceMode, word(p.splice)), writeRamBody(kLedWidth, word(p.ledW)),
                            writeRamBody(kLedHeight, word(p.ledH)), writeRamBody(kOutputArea + 4, word(p.out1W)),
                            writeRamBody(kOutputArea + 6, word(p.out1H)), updateBody(0x03)});
                }};
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
