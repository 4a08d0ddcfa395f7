#include "engine/c331_manage.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "core/global.h"
#include "core/utils.h"
#include "core/worker_stop.h"
#include "core/zelrampara.h"
#include "engine/c331_drv.h"
#include "engine/c331_image.h"

c331_manage* c331_manage::p_c331_manage = nullptr;

std::atomic<int> g_c331_source_online{0};
std::atomic<int> g_fpga_c331_start{0};
std::atomic<int> g_osd_update{0};
std::atomic<uint8_t> g_force_bkcolor{0};

namespace {

constexpr uint32_t kRegChipId = 0xB20801;

// Without a chip the identification is retried about every 10 ms and reported at most every
// 100 ticks.
constexpr unsigned kNoChipRetryUs = 10000;
constexpr unsigned kNoChipReportTicks = 100;
// Ticks between the passes of a worker with nothing committed: the pass then only tracks the
// inputs, and a new or lost signal shows within this time (the input manager itself visits each
// input once in six pauses of 10 ms, and a receiver takes far longer to lock).
constexpr unsigned kTrackingTicks = 10;

constexpr int kMultiWinCounts[c331_manage::kMultiWinPresets] = {1, 2, 3, 3, 4, 4, 5, 5, 6, 6};

std::mutex g_createMutex;

}  // namespace

c331_manage::c331_manage()
{
    writeLogMsg(LOG_BANNER, "====c331_manage::c331_manage()=====");
    pthread_mutex_init(&para_mutex, nullptr);
    usleepFn = [](unsigned us) { ::usleep(us); };
    clockUsFn = [] {
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        return uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(now).count());
    };
    driver = new c331_drv();
    std::memset(PI_HDMI_INFO, 0, sizeof(PI_HDMI_INFO));
    std::memset(PI_UPDATE, 0, sizeof(PI_UPDATE));
    std::memset(g_chg_hdmi, 0, sizeof(g_chg_hdmi));
    std::memset(PI_ACT, 0, sizeof(PI_ACT));
    std::memset(PI_STATE, 0, sizeof(PI_STATE));
    for (int p = 0; p < kPorts; ++p) {
        PI_HDMI_INFO[p][15] = 1;  // no signal until the inputs say otherwise
        // The active area of a port without signal, the one a port that loses it gets.
        PI_ACT[p][0] = PI_ACT[p][2] = 16;
    }
    for (int w = 0; w < kWinCount; ++w) {
        win_port[w] = kNoPort;
        g_chg_win[w] = g_chg_input[w] = g_chg_attr[w] = g_chg_dbd[w] = 0;
        PM_WIN_FADE_IN[w] = PM_WIN_FADE_OUT[w] = PM_WIN_FADE_EN[w] = PM_WIN_DBD_MODE[w] = 0;
        win_dbd_word[w] = 0;
    }
    std::memset(working_set, 0, sizeof(working_set));
    std::memset(PM_WIN_MARGIN, 0, sizeof(PM_WIN_MARGIN));
    std::memset(PI_MEAS, 0, sizeof(PI_MEAS));
    std::memset(PI_FV, 0, sizeof(PI_FV));
    std::memset(vbo_retry, 0, sizeof(vbo_retry));
    for (int p = 0; p < kPorts; ++p)
        PI_STATUS[p] = 1;   // no signal until measured
    for (int b = 0; b < kDbdBlocks; ++b)
        dbd_mem_owner[b] = -1;
    for (int w = 0; w < kWinCount; ++w)
        for (int k = 0; k < kDbdSlots; ++k)
            dbd_mem_slot[w][k] = -1;
    for (int i = 0; i < kIch; ++i)
        ich_owner[i] = -1;
    for (int c = 0; c < kOch; ++c) {
        och_owner[c] = prev_och_owner[c] = kNoWin;
        PM_AREA_NUM[c] = kNoArea;
        PM_OVERLAY[c] = c + 1;
    }
    for (int w = 0; w < kWinCount; ++w) {
        for (int i = 0; i < kIch; ++i)
            win_ich[w][i] = prev_win_ich[w][i] = -1;
        for (int c = 0; c < kOch; ++c)
            win_och[w][c] = -1;
        for (int f = 0; f < kRotFields; ++f)
            rot_pattern[w][f] = f;
    }
    std::memset(win_info, 0, sizeof(win_info));
    std::memset(multi_win_rect, 0, sizeof(multi_win_rect));
    std::memset(&sys, 0, sizeof(sys));
    std::memset(&panel, 0, sizeof(panel));
    for (int i = 0; i < kMultiWinPresets; ++i)
        multi_win[i] = MultiWinEntry{kMultiWinCounts[i], win_info};
}

c331_manage::~c331_manage()
{
    stopThread();
    delete driver;
}

c331_manage* c331_manage::pInstance()
{
    std::lock_guard<std::mutex> lock(g_createMutex);
    if (!p_c331_manage) {
        p_c331_manage = new c331_manage();
        for (int i = 0; i < kMultiWinPresets; ++i)
            p_c331_manage->multi_win[i] = MultiWinEntry{kMultiWinCounts[i], p_c331_manage->win_info};
        p_c331_manage->para_chg_flag = 0;
        p_c331_manage->pattern_gen = 0;
        p_c331_manage->c331_setup_state = 0;
        p_c331_manage->initialize();
    }
    return p_c331_manage;
}

int c331_manage::initialize(bool startThread)
{
    c331_fd = driver->initialize();
    if (c331_fd < 0) {
        ZEL_DEBUG("c331_manage: can't open %s\n", kC331SpiDevice);
        writeLogMsg(LOG_FAILURE, "c331_manage: can't open the video chip");
        return 255;
    }
    const uint32_t id = driver->read_C331(c331_fd, kRegChipId);
    ZEL_DEBUG("\n c331_id = %02x \n", id);
    if (!startThread)
        return 0;
    stop_ = false;
    if (pthread_create(&thread_, nullptr, &c331_manage::c331manageThread, this) != 0) {
        ZEL_DEBUG("create manage thread failed\n");
        writeLogMsg(LOG_FAILURE, "create check source thread failed");
        return 255;
    }
    threadStarted_ = true;
    return 0;
}

void* c331_manage::c331manageThread(void* arg)
{
    auto* self = static_cast<c331_manage*>(arg);
    while (!self->stop_) {
        const unsigned seen = G_timeTicks.load();
        self->stepOnce();
        if (!self->workPending())
            self->pace.waitUntilTick(seen + kTrackingTicks);
    }
    return nullptr;
}

bool c331_manage::workPending() const
{
    // Bring-up steps follow each other; a change committed during the pass is applied at once.
    // Everything else the pass does (input tracking, OSD requests) waits for the tracking pace.
    return c331_setup_state != kSetupDone || para_chg_flag.load() != 0;
}

bool c331_manage::stopping() const { return stop_.load() || stopRequested(); }

void c331_manage::stopThread()
{
    if (!threadStarted_)
        return;
    pace.stopWorker(thread_, stop_);
    threadStarted_ = false;
}

void c331_manage::stepOnce()
{
    switch (c331_setup_state) {
    case 0: case 1: case 2: case 3: case 4:
        idStep();
        break;
    case 5:
        setupState5();
        break;
    case 6:
        setupState6();
        break;
    case 7:
        setupState7();
        break;
    default:
        c331managerdeal(this);
        break;
    }
}

void c331_manage::idStep()
{
    const uint32_t id = driver->read_C331(c331_fd, kRegChipId);
    if (id == kChipId) {
        ++c331_setup_state;
        badIdReads_ = 0;
        ZEL_DEBUG("\n ok c331_id = 0x24x ");
        return;
    }
    // No chip (or not yet out of reset): retry at a slow pace, report now and then.
    if (badIdReads_ == 0 || Utils::getTimeSpace(lastIdPrintTick_) >= kNoChipReportTicks) {
        ZEL_DEBUG("\n error c331_id = %02x \n", id);
        lastIdPrintTick_ = G_timeTicks;
    }
    ++badIdReads_;
    usleepFn(kNoChipRetryUs);
}

void c331_manage::setupState5()
{
    load_system_param();
    define_param();
    driver->init_reg_acc_param();
    write_initial_setting(c331_fd, 1);
    set_rtct(c331_fd, 1);
    pthread_mutex_lock(&para_mutex);
    // The whole bring-up works from this one copy; the first change pass applies what was
    // committed since. A repeated bring-up keeps what was applied before, for the requests.
    restarted_ = appliedTaken_;
    if (restarted_)
        std::memcpy(served_, applied_, sizeof served_);
    takeImage(applied_);
    appliedTaken_ = true;
    // From here on the bring-up works from that copy alone, as a pass works from its own: a
    // window write committed meanwhile, read from the model's image by the operations below,
    // would reach the chip without being recorded, and a commit taking it back would then look
    // like no change at all. Their own writes into the image are recorded with it.
    const ImagePin pin(applied_);
    load_param();
    const uint16_t osdOn = ImageView(applied_).word(ramaddr::kOsdOn);
    if (osdOn == 1)
        g_osd_update = 1;
    pthread_mutex_unlock(&para_mutex);
    check_input_port(c331_fd);
    load_char();
    read_c331_font(c331_fd);
    update_font(c331_fd);
    // A box started with the OSD on shows it as one that switched it on does. A restart takes the
    // image's word over what the plane showed before it: one switched off meanwhile goes off.
    if (osdOn != 0 || osd.display != 0)
        zelApi_OsdSet(0, osdOn);
    c331_setup_state = 6;
    ZEL_DEBUG("\n ok c331_id  setup= %d \n", 6);
}

void c331_manage::setupState6()
{
    if (g_force_bkcolor == 1) {
        for (int och = 0; och < kOch; ++och)
            writeOchBkg(och, kForcedBkgGreen, 1);
    }
    pthread_mutex_lock(&para_mutex);
    const ImagePin pin(applied_);
    const ImageView img(applied_);
    zelApi_PnlInit2(img.word(ramaddr::kLedWidth), img.word(ramaddr::kLedHeight),
                    img.word(ramaddr::kOutputArea + 4), img.word(ramaddr::kOutputArea + 6),
                    img.word(ramaddr::kSpliceMode));
    set_output(c331_fd);
    pthread_mutex_unlock(&para_mutex);
    g_fpga_c331_start = 1;
    c331_setup_state = 7;
    ZEL_DEBUG("\n ok c331_id  setup= %d \n", 7);
}

void c331_manage::setupState7()
{
    const ImagePin pin(applied_);
    pthread_mutex_lock(&para_mutex);
    const ImageView img(applied_);
    c331_SetBrightness(50);
    c331_SetContrast(img.word(ramaddr::kContrast));
    c331_SetSharpness(img.word(ramaddr::kSharpness));
    c331_SetColorTemp(img.colorTemp());
    c331_SetSaturation(img.word(ramaddr::kSaturation));
    pthread_mutex_unlock(&para_mutex);
    c331_debugEnv();
    c331_setup_state = kSetupDone;
    zelApi_forceColorDisable(c331_fd);
    // The chip was set up afresh, its pattern generators included: they show the pattern of the
    // image taken, in step with the engine's flag. After a restart the other consumers of the
    // image have not seen what was committed between the restart request and the image taken.
    pthread_mutex_lock(&para_mutex);
    if (restarted_)
        serveAfterRestart(ImageView(applied_), ImageView(served_));
    followPatternLayout(ImageView(applied_).byte(ramaddr::kTestPattern));
    restarted_ = false;   // read under the lock by the LED output's reports
    pthread_mutex_unlock(&para_mutex);
    // The OSD menu of a box started with the OSD on, now that the fonts are in: not left until
    // some later change happens to be committed.
    if (g_osd_update == 1) {
        g_osd_update = 0;
        reloadOsdMenu();
    }
    ZEL_DEBUG("\n ok c331_id  setup= %d \n", 8);
}

void c331_manage::load_system_param()
{
    SystemParam& s = sys;
    s.clock1 = 32000000;
    s.clock2 = 800000000;
    s.clock3 = 27000000;
    s.clock4 = 27000000;
    s.width = 1920;
    s.height = 2160;
    s.HTT = 2200;
    s.VTT = 2250;
    s.HSW = 88;
    s.HBP = 88;
    s.VSW = 10;
    s.VBP = 72;
    s.PS_VBOTX_MODE = 0;
    s.PS_VBOTX_LAYOUT = 0;
    static constexpr uint32_t kScalars[9] = {0, 137, 0, 1, 22, 137, 0, 2, 24};
    for (int i = 0; i < 9; ++i)
        s.scalar[i] = kScalars[i];
    for (uint32_t k = 0; k < 8; ++k) {
        s.memmap[k][0] = k * 0x2000;
        s.memmap[k][1] = 0x08800000 + k * 0x2000;
        s.memmap[k][2] = 0x11000000 + k * 0x2000;
        s.memmap[k][3] = 0x19800000 + k * 0x2000;
        s.memmap[k][4] = 0x22000000 + k * 0x2000;
    }
    s.memcount = 64;
    for (uint32_t k = 0; k < 5; ++k)
        s.memaddr[k] = 0x2A800000 + k * 0x0B280000;
    static constexpr uint32_t kOsdMem[7] = {0x01DC0000, 0x65000000, 0x6B913800, 14, 207, 35, 1};
    for (int i = 0; i < 7; ++i)
        s.osd_mem[i] = kOsdMem[i];
    static constexpr uint32_t kFontMem[4] = {0x70000000, 0x725C0000, 0x74B80000, 0x7F000000};
    for (int i = 0; i < 4; ++i)
        s.font_mem[i] = kFontMem[i];
}

void c331_manage::define_param()
{
    SystemParam& s = sys;
    s.ihstart = s.ohstart = s.HSW + s.HBP;
    s.ihend = s.ohend = s.ihstart + s.width;
    s.ivstart = s.ovstart = s.VSW + s.VBP;
    s.ivend = s.ovend = s.ivstart + s.height;
    if (s.PS_VBOTX_MODE == 0) {
        s.line_wmul = s.PS_VBOTX_LAYOUT == 0 ? 4 : 2;
        s.line_hmul = s.PS_VBOTX_LAYOUT == 0 ? 1 : 2;
    } else if (s.PS_VBOTX_MODE == 2) {
        s.line_wmul = s.PS_VBOTX_LAYOUT == 0 ? 2 : 1;
        s.line_hmul = s.PS_VBOTX_LAYOUT == 0 ? 1 : 2;
    } else {
        s.line_wmul = s.PS_VBOTX_LAYOUT == 0 ? 8 : 4;
        s.line_hmul = s.PS_VBOTX_LAYOUT == 0 ? 1 : 2;
    }
    s.clock_quarter = s.clock2 / 4;
    for (int i = 0; i < kIch; ++i) {
        ich_owner[i] = -1;
        ich_cleared[i] = false;   // a chip set up again holds its own values
    }
    for (int c = 0; c < kOch; ++c) {
        och_owner[c] = kNoWin;
        och_cleared[c] = false;
    }
    for (int w = 0; w < kWinCount; ++w) {
        for (int i = 0; i < kIch; ++i)
            win_ich[w][i] = -1;
        ich_short[w] = false;
        dbd_refused[w] = false;
        win_list[w] = w;
        for (int k = 0; k < 5; ++k)
            seq_list[w][k] = k;
    }
    work_scalar_a = 1;
    work_scalar_b = 32;
    define_ip_param();
}

void c331_manage::Sleep(int ms)
{
    if (ms > 0)
        usleepFn(static_cast<unsigned>(ms) * 1000u);
}

void c331_manage::wr(uint32_t id, uint32_t value, uint32_t bankOffset)
{
    driver->write_C331(c331_fd, id, value, bankOffset);
}

uint32_t c331_manage::rd(uint32_t id, uint32_t bankOffset)
{
    return driver->read_C331(c331_fd, id, bankOffset);
}

void c331_manage::wrMask(uint32_t id, uint32_t value, uint32_t mask, uint32_t bankOffset)
{
    driver->write_c331_mask(c331_fd, id, value, mask, bankOffset);
}
