#include "ledout/fpga_manage.h"

#include <unistd.h>

#include <algorithm>
#include <iterator>

#include <QMutexLocker>

#include "chips/tarvosource.h"
#include "core/global.h"
#include "core/utils.h"
#include "ledout/change_words.h"
#include "ledout/clock_record_run.h"
#include "ledout/rcv_recovery_file.h"
#include "platform/gpio.h"
#include "platform/platform.h"

uint32_t g_change[kChangeWords];
alignas(4) uint8_t g_send_para[kSendParaSize];
uint32_t readtime_ticks = 0;

fpga_manage* fpga_manage::p_fpga_manage = nullptr;

namespace {

std::mutex g_createMutex;

struct LineStart {
    GpioLine line;
    uint16_t level;
};
// Levels set once the window is mapped.
constexpr LineStart kLineStart[] = {
    {GpioLine::src_line_a, kLineLow},  {GpioLine::src_line_b, kLineLow},
    {GpioLine::src_line_c, kLineHigh}, {GpioLine::cmd_fpga1b, kLineHigh},
    {GpioLine::aux_reg, 1},            {GpioLine::sel_flash3b, kLineHigh},
};

// g_change words that softinit stamps with the current tick.
constexpr int kStampedAtStart[] = {32, 33, 38, 39, 3, 4, 45};
constexpr int kRtcInterval = 26;   // ticks between clock reads of the pass
// The longest wait of a quiet worker; its lane checks come due every 10 ticks anyway.
constexpr uint32_t kQuietPassTicks = 10;
constexpr uint8_t kHalfHourDefault = 0x0F;   // every half-hour slot until a record is loaded
constexpr unsigned kBusyPauseUs = 1;          // between passes that follow each other at once

// Job codes of the job block.
enum Job : uint8_t {
    JOB_NONE = 0,
    JOB_SMART_MAPPING = 1,
    JOB_SCAN_FILE = 2,
    JOB_SAVE_PARA = 3,
    JOB_MAPPING_ENABLE = 4,
    JOB_CARD_CHECK = 5,
    JOB_CARD_RECOVERY = 6,
};

}  // namespace

fpga_manage* fpga_manage::pInstance()
{
    std::lock_guard<std::mutex> lock(g_createMutex);
    if (!p_fpga_manage) {
        // Published only once its lines are in place: other threads use the pointer directly.
        auto* created = new fpga_manage();
        created->initialize();
        p_fpga_manage = created;
    }
    return p_fpga_manage;
}

fpga_manage::fpga_manage() : drv_(lines_)
{
    writeLogMsg(LOG_BANNER, "====fpga_manage::fpga_manage()=====");
    for (int i = 0; i < kFpgas; ++i) {
        MCU_REG_func[i] = regShadow_[i];
        MCU_RAM_PARA_func[i] = ramPara_[i];
        MCU_RAM_RX_func[i] = ramRx_[i];
        MCU_RAM_TX_func[i] = ramTx_[i];
        MCU_RAM_ETH_PARA_func[i] = ramEthPara_[i];
        MCU_RAM_ETH_BACK_PARA_func[i] = ramEthBackPara_[i];
    }
    clock_record = std::make_unique<clock_record_run>(*this);
    std::fill(std::begin(HalfHourValue), std::end(HalfHourValue), kHalfHourDefault);
    rcv_recovery = std::make_unique<rcvRecovery>();
    rcv_recovery->check_file_dir(rcvRecovery::kScanDir);
    rcv_recovery->check_file_dir(rcvRecovery::kRecoveryDir);
}

fpga_manage::~fpga_manage() { stopThread(); }

int fpga_manage::initialize()
{
    for (int i = 0; i < fpga_drv::kDevices; ++i)
        drv_.initialize_vbyne1(i);

    // The window is granted and mapped by the platform layer; a failed grant or mapping leaves
    // the lines on the scratch window, so later accesses (the video engine's select lines
    // included) stay harmless.
    platform::GpioWindow& window = platform::gpio();
    if (window.map() != 0 || !window.mapped()) {
        ZEL_DEBUG("\n DMEM request failed!!");
        lines_.use(nullptr);
        return 255;
    }
    lines_.use(&window);
    for (const LineStart& s : kLineStart)
        lines_.set(s.line, s.level);
    return 0;
}

void fpga_manage::softinit()
{
    const uint32_t now = G_timeTicks.load();
    for (int w : kStampedAtStart)
        g_change[w] = now;
    g_change[34] = 15;
    g_change[35] = 15;
    g_change[42] = g_change[43] = g_change[44] = 0;
    Version_to_RAM();
    PHY_status_to_RAM();
    MCU_RAM_CMD[29] = 1;
    MCU_RAM_CMD[28] = 255;
    MCU_RAM_EXTEND[49] = 159;
    MCU_RAM_EXTEND[50] = 31;
    g_send_para[6] = 0;
    set_job(JOB_NONE, 255);
}

int fpga_manage::initialize_start()
{
    softinit();
    if (threadStarted_)
        return 0;
    if (pthread_create(&thread_, nullptr, &fpga_manage::fpgamanageThread, this) != 0) {
        writeLogMsg(LOG_FAILURE, "create check source thread failed");
        return 255;
    }
    threadStarted_ = true;
    return 0;
}

void* fpga_manage::fpgamanageThread(void* arg)
{
    auto* self = static_cast<fpga_manage*>(arg);
    if (!self)
        return nullptr;
    while (!self->stop_.load()) {
        const unsigned seen = G_timeTicks.load();
        self->worker_step(arg);
        ++self->worker_passes;
        // An upgrade runs step after step, and so does a pass that left work: a job's next
        // packet, a reply a link waits for, a request. A quiet pass has only its timed checks
        // left and waits for the next of them; the bring-up's steps are paced by the tick.
        if (g_usb_grade.load() != 0 || self->busy())
            ::usleep(kBusyPauseUs);
        else {
            ++self->worker_waits;
            self->pace.waitUntilTick(self->quiet() ? self->quietWakeTick(seen) : seen + 1);
        }
    }
    return nullptr;
}

void fpga_manage::stopThread()
{
    if (!threadStarted_)
        return;
    pace.stopWorker(thread_, stop_);
    threadStarted_ = false;
}

void fpga_manage::worker_step(void* arg)
{
    if (g_usb_grade.load() != 0)
        usb_upgrade_manage_deal(arg);
    else
        fpga_manage_deal(arg);
}

void fpga_manage::usb_upgrade_manage_deal(void*) { usb_upgrade_deal(); }

bool fpga_manage::path_ready(int fpga) const
{
    tarvosource* source = tarvosource::p_tarvo_source;
    if (source)
        return source->clock_chip_step[fpga & 1].load() == tarvosource::kClockReady;
    // Without the input-source manager only the simulated board has its paths ready.
    return platform::isSim();
}

void fpga_manage::set_job(uint8_t code, uint8_t state)
{
    uint16_t word = uint16_t(code | state << 8);
    __atomic_store_n(reinterpret_cast<uint16_t*>(g_send_para), word, __ATOMIC_SEQ_CST);
    if (p_fpga_manage)
        p_fpga_manage->wake();
}

bool fpga_manage::quiet()
{
    const uint8_t job = job_word() & 0xFF;
    const bool jobRunning = job >= JOB_SMART_MAPPING && job <= JOB_CARD_RECOVERY;
    return !jobRunning && pc_cmd_valid.load() == 0 && set_bri_flag.load() == 0 && g_set_led_para.load() == 0 &&
           set_output_flag.load() == 0 && get_fpga_status() == 1;
}

bool fpga_manage::busy()
{
    if (!outputsTakeRequests())
        return false;
    const uint8_t job = job_word() & 0xFF;
    const bool jobRunning = job >= JOB_SMART_MAPPING && job <= JOB_CARD_RECOVERY;
    const bool replyAwaited = (pc_cmd_valid.load() == 1 && multi_send_state.load() == 1) || repliesWaiting();
    return jobRunning || replyAwaited || set_bri_flag.load() != 0 || set_output_flag.load() != 0;
}

bool fpga_manage::repliesWaiting()
{
    // A link's thread serves the interrupt too, under this lock.
    std::lock_guard<std::recursive_mutex> lock(passby_mutex);
    return g_change[changeword::kReplyWait] != 0 || g_change[changeword::kReplyWait + 1] != 0;
}

uint32_t fpga_manage::quietWakeTick(uint32_t seen) const
{
    const uint32_t longest = seen + kQuietPassTicks;
    return WorkerPace::firstDue(seen, kQuietPassTicks,
                                {laneCheckDue(0), laneCheckDue(1), readtime_ticks + kRtcInterval, searchDue(),
                                 brightnessDue(longest)});
}

// A request is cleared before it is applied, not after: one raised again while the apply runs
// (the user moved the slider on) then stays for the next pass instead of being cleared with the
// one that was applied. The apply reads the image itself, so it takes the latest value anyway.
bool fpga_manage::takeRequest(std::atomic<uint8_t>& request, QMutex& lock)
{
    if (request.load() != 1)
        return false;
    QMutexLocker locker(&lock);
    request = 0;
    return true;
}

// The apply could not run (the FPGAs are not both up): the request waits for a pass in which they are.
void fpga_manage::keepRequest(std::atomic<uint8_t>& request, QMutex& lock)
{
    QMutexLocker locker(&lock);
    request = 1;
}

uint16_t fpga_manage::job_word()
{
    return __atomic_load_n(reinterpret_cast<uint16_t*>(g_send_para), __ATOMIC_SEQ_CST);
}

void fpga_manage::fpga_manage_deal(void*)
{
    const bool ready[kFpgas] = {path_ready(0), path_ready(1)};

    check_fpga_rst();
    for (int i = 0; i < kFpgas; ++i)
        if (ready[i])
            power_up_fpga_start(1, i);
    {
        std::lock_guard<std::recursive_mutex> lock(passby_mutex);
        for (int i = 0; i < kFpgas; ++i)
            if (ready[i])
                reg_IRQ_Dealwith(i, 0);
    }
    for (int i = 0; i < kFpgas; ++i)
        if (ready[i])
            power_up_check_fpga_status(i);

    takeBrightnessRequest();
    if (g_set_led_para.load() != 0)
        set_led_para_deal();
    retryKeptReports();

    const uint32_t now = G_timeTicks.load();
    if (get_fpga_status() == 1 && now - readtime_ticks >= kRtcInterval) {
        IT8563WE_Get(&current_time);
        readtime_ticks = now;
    }

    switch (job_word() & 0xFF) {
    case JOB_SMART_MAPPING: SmartMapping_deal(); break;
    case JOB_SCAN_FILE: rcv_recovery_check_deal(2); break;
    case JOB_SAVE_PARA: save_para_deal(); break;
    case JOB_MAPPING_ENABLE: mapping_enable_deal(); break;
    case JOB_CARD_CHECK: rcv_recovery_check_deal(0); break;
    case JOB_CARD_RECOVERY: rcv_recovery_check_deal(1); break;
    default: Check_search_card(); break;
    }

    if (takeRequest(set_output_flag, Utils::_system_mutex) && set_output_status() != 1)
        keepRequest(set_output_flag, Utils::_system_mutex);
    run_clock_record();
}
