#include "running_box.h"

#include <QCoreApplication>
#include <QTimer>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <chrono>
#include <cstring>
#include <map>
#include <sstream>

#include "chips/tarvosource.h"
#include "core/global.h"
#include "core/para_commit.h"
#include "core/ram_layout.h"
#include "core/syncupdate.h"
#include "core/worker_pace.h"
#include "core/worker_stop.h"
#include "core/zelrampara.h"
#include "engine/c331_manage.h"
#include "ledout/fpga_manage.h"
#include "links/message_deal.h"
#include "sim/sim_clock.h"
#include "sim/video_chip.h"
#include "sim/video_chip_view.h"
#include "support/fpga_board.h"
#include "support/test_root.h"
#include "support/video_engine.h"
#include "support/video_input.h"

namespace e2e {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kTickEvery = std::chrono::milliseconds(1);   // ten times the board's pace
constexpr int kInputsWithVideo = 4;
constexpr uint8_t kScreenBlank = 0x04;
constexpr int kRegBrightness = 6;
constexpr int kRegScreen = 0;

void attachBoardDevices()
{
    sim::setTickSource([] { return G_timeTicks.load(); });
    sim::attachVideoChip();
    sim::attachFpgas();
    zeltest::plugCards({{0, 1}, {17, 1}});
    for (int i = 0; i < kInputsWithVideo; ++i)
        zeltest::feedVideo(i, 1920, 1080, 60);
    // The input-source manager's poll thread does not run here: its clock chips are set up.
    for (auto& step : tarvosource::pInstance()->clock_chip_step)
        step = tarvosource::kClockReady;
}

void resetHandshakes()
{
    g_set_led_para = 0;
    g_set_led_setup = 0;
    g_led_para_released = 0;
    g_osd_update = 0;
    pc_cmd_valid = 0;
}

// "och 3: x 0 y 0 1920x1080 from ich 2 port 1 ..." without the numbers of the chip's channels
// and mixers: which channels carry a window depends on the order of the changes.
std::string withoutChannelNumbers(std::string line)
{
    static const char* const kNumbered[] = {"och ", "from ich ", "mixer "};
    for (const char* key : kNumbered) {
        for (size_t at = line.find(key); at != std::string::npos; at = line.find(key, at + 1)) {
            const size_t from = at + std::strlen(key);
            size_t to = from;
            while (to < line.size() && (std::isdigit(static_cast<unsigned char>(line[to])) || line[to] == '-'))
                ++to;
            line.replace(from, to - from, "#");
        }
    }
    return line;
}

int channelOf(const std::string& line)
{
    return line.rfind("och ", 0) == 0 ? std::atoi(line.c_str() + 4) : -1;
}

// The decoded view, per window: the channels that show a window, each with its crop, pattern,
// background and picture lines, sorted; then the OSD section. Channels that show no window
// (what an unused channel last held) and the memory map are left out.
std::string pictureOf(const sim::VideoChipModel& chip)
{
    std::istringstream in(sim::describeVideoChip(chip));
    std::map<int, std::string> perChannel;
    std::string section, osd, line;
    std::vector<int> shown;
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] == '[') {
            section = line;
            continue;
        }
        if (section == "[osd]") {
            // A plane that is off shows nothing, whatever its other control bits hold.
            osd += (line.rfind("osd plane: off", 0) == 0 ? std::string("osd plane: off") : line) + "\n";
            continue;
        }
        const int ch = channelOf(line);
        if (ch < 0)
            continue;
        if (section == "[windows]")
            shown.push_back(ch);
        if (section == "[windows]" || section == "[crops]" || section == "[pattern]" || section == "[background]" ||
            section == "[picture]")
            perChannel[ch] += section + " " + withoutChannelNumbers(line) + "\n";
    }
    std::vector<std::string> records;
    for (int ch : shown)
        records.push_back(perChannel[ch]);
    std::sort(records.begin(), records.end());
    std::string out;
    for (const std::string& r : records)
        out += r + "--\n";
    return out + "[osd]\n" + osd;
}

Shown read(const fpga_manage* fpga)
{
    Shown s;
    s.picture = pictureOf(sim::videoChip());
    sim::FpgaBoard& board = *sim::fpgaBoard();
    for (int i = 0; i < 2; ++i) {
        s.brightness[i] = board.fpga[i]->reg(kRegBrightness);
        s.blank[i] = (board.fpga[i]->reg(kRegScreen) & kScreenBlank) != 0;
    }
    (void)fpga;
    return s;
}

bool waitFor(const std::function<bool()>& done, int seconds)
{
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
        if (Clock::now() > deadline)
            return false;
        RunningBox::idle(2);
    }
    return true;
}

}  // namespace

Bytes commandBody(uint8_t group, const Bytes& payload)
{
    Bytes b = {0x00, 0xF0, 0x10, 0xF0, 0x10, 0x67, 0x00, 0x00, 0x00, group};
    b.insert(b.end(), payload.begin(), payload.end());
    uint8_t x = 0;
    for (uint8_t v : b)
        x ^= v;
    b.push_back(x);
    return b;
}

Bytes writeRamBody(uint32_t address, const Bytes& data)
{
    Bytes p = {uint8_t(address), uint8_t(address >> 8), uint8_t(address >> 16), uint8_t(address >> 24),
               uint8_t(data.size()), uint8_t(data.size() >> 8), 0, 0};
    p.insert(p.end(), data.begin(), data.end());
    return commandBody(0x60, p);
}

Bytes updateBody(uint8_t bits) { return commandBody(0xA0, {0x10, bits, 0, bits}); }

Bytes word(uint16_t value) { return {uint8_t(value), uint8_t(value >> 8)}; }

std::vector<Bytes> panelBodies(const Panel& p)
{
    using namespace ramaddr;
    return {writeRamBody(kSpliceMode, word(p.splice)), writeRamBody(kLedWidth, word(p.ledW)),
            writeRamBody(kLedHeight, word(p.ledH)), writeRamBody(kOutputArea + 4, word(p.out1W)),
            writeRamBody(kOutputArea + 6, word(p.out1H)), updateBody(0x03)};
}

bool Shown::operator==(const Shown& o) const
{
    return picture == o.picture && std::equal(brightness, brightness + 2, o.brightness) &&
           std::equal(blank, blank + 2, o.blank);
}

std::string describe(const Shown& s)
{
    std::ostringstream out;
    out << s.picture << "[fpga] brightness " << int(s.brightness[0]) << " " << int(s.brightness[1]) << " blank "
        << s.blank[0] << " " << s.blank[1] << "\n";
    return out.str();
}

RunningBox::RunningBox(Pace pace) : pace_(pace) {}

RunningBox::~RunningBox() { stop(); }

bool RunningBox::start()
{
    resetHandshakes();
    attachBoardDevices();
    model = ZelRamPara::pInstance();
    QObject::connect(model, &ZelRamPara::sig_update_para, SyncUpdate::pInstance(), &SyncUpdate::para_sync,
                     Qt::UniqueConnection);
    fpga = zeltest::freshFpgaManager();
    if (fpga->initialize_start() != 0)
        return false;
    engine = zeltest::newEngine();
    // On the board's pace, or where a test needs the bring-up's own pauses, the engine sleeps.
    if (pace_ == Pace::Board || engineSleeps)
        engine->usleepFn = [](unsigned us) { ::usleep(us); };
    if (engine->initialize(true) != 0)
        return false;
    if (pace_ == Pace::Board) {
        guiTick_ = std::make_unique<QTimer>();
        QObject::connect(guiTick_.get(), &QTimer::timeout, [] { WorkerPace::advanceTick(); });
        guiTick_->start(int(WorkerPace::kTickPeriod.count()));
    } else {
        tickerStop_ = false;
        ticker_ = std::thread([this] {
            while (!tickerStop_.load()) {
                std::this_thread::sleep_for(kTickEvery);
                WorkerPace::advanceTick();
            }
        });
    }
    const bool up = waitFor(
        [this] { return engine->c331_setup_state == c331_manage::kSetupDone && fpga->get_fpga_status() == 1; }, 30);
    if (!up)
        std::fprintf(stderr, "box not up: engine state %d, FPGA steps %d/%d checks %d/%d\n", int(engine->c331_setup_state),
                     fpga->bringup_step(0), fpga->bringup_step(1), fpga->check_step(0), fpga->check_step(1));
    return up;
}

void RunningBox::stop(bool finish)
{
    if (engine)
        engine->stopThread();
    if (fpga)
        fpga->stopThread();
    tickerStop_ = true;
    if (ticker_.joinable())
        ticker_.join();
    guiTick_.reset();
    if (!finish)
        return;
    finishAcknowledgedWork();
    idle(0);
}

bool RunningBox::restart(bool finish)
{
    stop(finish);
    delete SyncUpdate::p_SyncUpdate;
    SyncUpdate::p_SyncUpdate = nullptr;
    delete static_cast<QObject*>(ZelRamPara::p_zelrampara_config);
    ZelRamPara::p_zelrampara_config = nullptr;
    SyncUpdate::pInstance();
    return start();
}

void RunningBox::link(const std::vector<Bytes>& bodies)
{
    // This thread is busy meanwhile (a page being drawn, the dispatcher's own file work): the
    // reports of the engine wait for it, as they do on the board.
    std::thread([&] {
        for (const Bytes& b : bodies)
            ask(b);
    }).join();
}

double RunningBox::ask(const Bytes& body)
{
    const auto asked = Clock::now();
    pc_cmd_time = G_timeTicks.load();
    pc_cmd_valid = 1;
    Bytes b = body;
    std::vector<uint8_t> reply(message_deal::kMaxReplyBody);
    message_deal::message_group_deal(b.data(), unsigned(b.size()), reply.data(), unsigned(reply.size()));
    return std::chrono::duration<double>(Clock::now() - asked).count();
}

void RunningBox::idle(int ms)
{
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (ms > 0)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    } while (Clock::now() < until);
}

bool RunningBox::settle(int seconds)
{
    auto quiet = [this] {
        // The dispatcher has saved what changed (it refreshes the shadow after the save).
        pthread_mutex_lock(&model->mutex);
        const bool saved = !model->persisted_part_changed();
        pthread_mutex_unlock(&model->mutex);
        return engine->para_chg_flag.load() == 0 && fpga->set_bri_flag.load() == 0 &&
               fpga->set_output_flag.load() == 0 && g_set_led_para.load() == 0 && fpga->outputsTakeRequests() &&
               saved;
    };
    // Quiet, and still showing the same a while later (the inputs' tracking has run its course).
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    Shown before;
    int stable = 0;
    while (Clock::now() < deadline) {
        idle(20);
        if (!quiet()) {
            stable = 0;
            continue;
        }
        const Shown now = shown();
        stable = now == before ? stable + 1 : 0;
        before = now;
        if (stable >= 5)
            return true;
    }
    pthread_mutex_lock(&model->mutex);
    const bool saved = !model->persisted_part_changed();
    pthread_mutex_unlock(&model->mutex);
    std::fprintf(stderr, "box not quiet: flag %d bri %d output %d led %d fpga %d outputs take requests %d saved %d\n",
                 int(engine->para_chg_flag.load()), int(fpga->set_bri_flag.load()), int(fpga->set_output_flag.load()),
                 int(g_set_led_para.load()), fpga->get_fpga_status(), int(fpga->outputsTakeRequests()), int(saved));
    return false;
}

Shown RunningBox::shown() const { return read(fpga); }

// What a start resets, committed again as `image` holds it.
void commitStartupWords(ZelRamPara* model, const uint8_t* image)
{
    std::vector<unsigned> words = {ramaddr::kScreenClosed, ramaddr::kTestPattern};
    for (unsigned w = 0; w < ramaddr::kUsedWindows; ++w)
        words.push_back(ramaddr::window(w) + ramaddr::kWinFlags);
    ParaCommit commit;
    for (unsigned a : words)
        ram_set_u16(model->ram_para, a, ram_get_u16(image, a));
    commit.set(1);
}

Shown freshlyStarted(const uint8_t* image)
{
    resetHandshakes();
    attachBoardDevices();
    ZelRamPara* model = ZelRamPara::pInstance();   // loads the parameter file and the mode files again
    fpga_manage* fpga = zeltest::freshFpgaManager();
    fpga->softinit();
    c331_manage* engine = zeltest::newEngine();
    engine->initialize(false);
    zeltest::bringUpEngine(engine);
    zeltest::runFpgaUntil(fpga, [fpga] { return fpga->get_fpga_status() == 1; });
    // The inputs' tracking and the outputs' timed steps run for a while, as after a start; then
    // the user freezes, closes and shows a pattern again.
    auto run = [&] {
        for (int k = 0; k < 300; ++k) {
            G_timeTicks += 1;
            engine->stepOnce();
            fpga->fpga_manage_deal(fpga);
        }
        RunningBox::idle(0);
    };
    run();
    commitStartupWords(model, image);
    run();
    return read(fpga);
}

}  // namespace e2e
