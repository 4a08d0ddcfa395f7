#include "chips/tarvosource.h"

#include <unistd.h>

#include <QMutexLocker>
#include <QVariant>

#include <cmath>
#include <cstring>
#include <mutex>

#include "chips/drv_i2c.h"
#include "chips/edid_builder.h"
#include "chips/tarvo_devices.h"
#include "chips/tarvo_receiver.h"
#include "core/config_engine.h"
#include "core/global.h"
#include "core/para_commit.h"
#include "core/ram_layout.h"
#include "core/status_bytes.h"
#include "core/utils.h"
#include "core/zelrampara.h"
#include "engine/c331_manage.h"
#include "ledout/fpga_manage.h"

tarvosource* tarvosource::p_tarvo_source = nullptr;
void (*tarvosource::edid_built_hook)(int) = nullptr;

namespace {

constexpr int kOk = 0;
constexpr int kFail = 255;
constexpr unsigned kPauseAfterInputUs = 10000;  // 10 ms after each input
constexpr int kChangeInputInfo = 12;            // test_signal code: an input's information changed

// Audio switch byte per input number (one output line per input).
constexpr uint8_t kAudioOneHot[tarvosource::kInputs] = {128, 64, 32, 16, 4, 8};
constexpr uint8_t kNoSound = 0;
constexpr uint8_t kSoundOnBit = 0x80;

// reg_status bytes of the input side.
constexpr int kRegRequests = 32;            // bits 4-7: requests consumed here
constexpr uint8_t kRequestBits = 0xF0;
constexpr int kRegChips = 37;               // bits 0, 2, 3, 4: HDMI receivers identified
constexpr uint8_t kStartupEdidBusy = 0x80;  // byte 37 bit 7: default-EDID start-up running
constexpr int kRegEdid = 38;                // per input: its EEPROM not yet verified
constexpr int kRegClock0 = 38;              // bit 7: clock chip of output path 0 ready
constexpr uint8_t kClock0Bit = 0x80;
constexpr int kRegClock1 = 39;              // bit 0: clock chip of output path 1 ready
constexpr uint8_t kClock1Bit = 0x01;
constexpr uint8_t kEdidPendingBit[tarvosource::kInputs] = {0x01, 0x02, 0x04, 0x08, 0x10, 0x40};
// Identification bit per input; the EXT and DVI inputs have no HDMI receiver.
constexpr uint8_t kReceiverIdBit[tarvosource::kInputs] = {0, 0, 0x01, 0x04, 0x08, 0x10};

// "config/EDIDCheck": "Once" programs every input's EDID at the next start, then it is set to
// kEdidCheckDone; otherwise only EEPROMs that hold no valid EDID are programmed.
const char* const kEdidCheckOnce = "Once";
const char* const kEdidCheckDone = "Done";

// Clock-chip steps of an output path.
constexpr uint8_t kClockIdle = 0;      // configuration not (yet) taken
constexpr uint8_t kClockStarted = 1;   // PLL started, waiting for the lock
constexpr int kClockLockPolls = 20;    // passes to wait for the lock before starting again

// Input-chip reset steps.
enum ResetStep { kResetAssert, kResetRelease, kResetDone };


constexpr int kRateAs60From = 55;

uint16_t rd16(const unsigned char* p) { return uint16_t(p[0] | p[1] << 8); }

void set_bits(unsigned char* byte, uint8_t bits) { statusbyte::setBits(byte, bits); }
void clear_bits(unsigned char* byte, uint8_t bits) { statusbyte::clearBits(byte, bits); }

ZelRamPara* model() { return ZelRamPara::p_zelrampara_config; }

void set_line(GpioLine line, uint16_t level) { fpga_manage::pInstance()->setLine(line, level); }

// Frame rate of a timing, as the input summary stores it.
uint8_t summary_rate(const TARVO_HDMI_INFO& v)
{
    if (v.nosignal || v.Htotal <= 0 || v.Vtotal <= 0)
        return 0;
    double hz = double(v.pfreq) * 1e6 / (double(v.Htotal) * v.Vtotal);
    int rate = int(std::lround(hz));
    if (rate >= kRateAs60From)
        return 60;
    return uint8_t(std::max(0, rate));
}

bool same_info(const TARVO_HDMI_INFO& a, const TARVO_HDMI_INFO& b)
{
    // Every field but `stable`.
    return std::memcmp(&a, &b, offsetof(TARVO_HDMI_INFO, stable)) == 0;
}

}  // namespace

struct tarvosource::Impl {
    std::unique_ptr<tarvo_receiver> receivers[kInputs];
    ResetStep reset = kResetAssert;
    bool identified[kInputs] = {};
    bool startupEdid[kInputs] = {};   // default-EDID start-up still to do for the input
    bool startupEdidBegun = false;
    bool startupEdidOnce = false;     // "config/EDIDCheck" asked to program every input
    bool customPending[kInputs] = {}; // a custom table was taken but is not written yet
    uint8_t custom[kInputs][edid_builder::kEdidSize] = {};
    bool summaryDirty[kInputs] = {};
    int clockPolls[kOutputPaths] = {};
    TARVO_HDMI_INFO last[kInputs] = {};  // the latest information read (without `stable`)
};

tarvosource* tarvosource::pInstance()
{
    if (p_tarvo_source == nullptr)
        p_tarvo_source = new tarvosource();
    return p_tarvo_source;
}

tarvosource::tarvosource() : d(new Impl)
{
    writeLogMsg(LOG_BANNER, "====tarvosource::tarvosource()=====");
    std::memset(hdminfo, 0, sizeof(hdminfo));
    for (int i = 0; i < kInputs; ++i) {
        hdminfo[i].nosignal = 1;
        hdminfo[i].stable = 1;
        d->last[i] = hdminfo[i];
        edid_request[i] = 0;
        edid_done[i] = 0;
        d->receivers[i] = make_tarvo_receiver(i);
        d->startupEdid[i] = true;
        d->summaryDirty[i] = true;
    }
    volume_request = 1;
    for (int p = 0; p < kOutputPaths; ++p)
        clock_chip_step[p] = kClockIdle;
}

tarvosource::~tarvosource() { stopThread(); }

int tarvosource::initialize()
{
    if (started_.exchange(true))
        return kOk;
    stop_ = false;
    if (pthread_create(&thread_, nullptr, &tarvosource::poll_thread, this) != 0) {
        writeLogMsg(LOG_FAILURE, "create input source thread failed");
        started_ = false;
        return kFail;
    }
    return kOk;
}

void tarvosource::stopThread()
{
    if (!started_.load())
        return;
    stop_ = true;
    pthread_join(thread_, nullptr);
    started_ = false;
}

void* tarvosource::poll_thread(void* arg)
{
    tarvosource* self = static_cast<tarvosource*>(arg);
    for (int i = 0; !self->stop_.load(); i = (i + 1) % kInputs) {
        self->poll_input(i);
        usleep(kPauseAfterInputUs);
    }
    return nullptr;
}

void tarvosource::poll_pass()
{
    for (int i = 0; i < kInputs; ++i)
        poll_input(i);
}

void tarvosource::poll_input(int input)
{
    if (input < 0 || input >= kInputs)
        return;
    consume_requests();
    if (!reset_input_chips())
        return;  // the receivers are still held in reset
    clock_step();
    std::lock_guard<std::recursive_mutex> bus(drv_i2c::pInstance()->bus_mutex());
    update_vid_info(input);
    edid_step(input);
    audio_step();
    summary_step(input);
}

// ---- start-up ----------------------------------------------------------------------------------

void tarvosource::consume_requests()
{
    if (ZelRamPara* m = model())
        clear_bits(&m->reg_status[kRegRequests], kRequestBits);
}

// The input chips' reset lines go low on one step and high on the next (one pause apart).
bool tarvosource::reset_input_chips()
{
    if (d->reset == kResetDone)
        return true;
    QMutexLocker lock(&Utils::_source_init_mutex);
    if (d->reset == kResetAssert) {
        set_line(GpioLine::src_line_a, kLineLow);
        set_line(GpioLine::src_line_b, kLineLow);
        d->reset = kResetRelease;
        return false;
    }
    set_line(GpioLine::src_line_a, kLineHigh);
    set_line(GpioLine::src_line_b, kLineHigh);
    d->reset = kResetDone;
    return true;
}

void tarvosource::clock_step()
{
    std::lock_guard<std::recursive_mutex> bus(drv_i2c::pInstance()->bus_mutex());
    for (int p = 0; p < kOutputPaths; ++p) {
        uint8_t step = clock_chip_step[p];
        if (step == kClockReady)
            continue;
        if (step == kClockIdle) {
            if (tarvo_dev::clock_configure(p) == kOk) {
                clock_chip_step[p] = kClockStarted;
                d->clockPolls[p] = 0;
            }
            continue;
        }
        bool locked = false;
        if (tarvo_dev::clock_locked(p, locked) == kOk && locked) {
            clock_chip_step[p] = kClockReady;
            if (ZelRamPara* m = model())
                set_bits(p == 0 ? &m->reg_status[kRegClock0] : &m->reg_status[kRegClock1],
                         p == 0 ? kClock0Bit : kClock1Bit);
        } else if (++d->clockPolls[p] >= kClockLockPolls) {
            ZEL_DEBUG("\n [tarvosource] clock chip %d did not lock, starting again\n", p);
            clock_chip_step[p] = kClockIdle;
        }
    }
}

// ---- video information -----------------------------------------------------------------------

void tarvosource::update_vid_info(int input)
{
    TARVO_HDMI_INFO fresh = d->last[input];
    bool ok = tarvo_dev::select_channel(input) == kOk;
    if (ok && !d->identified[input] && d->receivers[input]->identify()) {
        d->identified[input] = true;
        if (ZelRamPara* m = model())
            set_bits(&m->reg_status[kRegChips], kReceiverIdBit[input]);
    }
    ok = ok && d->receivers[input]->read_vid_info(fresh) == kOk;
    if (!ok) {
        // A receiver that does not answer shows no signal.
        std::memset(&fresh, 0, sizeof(fresh));
        fresh.nosignal = 1;
    }
    if (same_info(fresh, d->last[input]))
        return;
    d->last[input] = fresh;
    {
        QMutexLocker lock(&Utils::_source_hdminfo_mutex);
        hdminfo[input].stable = 0;
        std::memcpy(&hdminfo[input], &fresh, offsetof(TARVO_HDMI_INFO, stable));
        hdminfo[input].stable = 1;
    }
    d->summaryDirty[input] = true;
    ZEL_DEBUG("\n [tarvosource] input %d: %dx%d nosignal=%d\n", input, fresh.Hact, fresh.Vact, fresh.nosignal);
    if (ZelRamPara* m = model())
        m->test_signal(kChangeInputInfo);
}

// ---- EDID --------------------------------------------------------------------------------------

// The EDID for input i: a custom table waiting for it, else the one built from the requested
// timing in the image. False when the requested timing cannot be described.
bool tarvosource::edid_for(int input, uint8_t out[256])
{
    if (edid_ram_table_from[input]) {
        std::memcpy(d->custom[input], edid_ram_table[input], edid_builder::kEdidSize);
        d->customPending[input] = true;
        edid_ram_table_from[input] = 0;
    }
    if (d->customPending[input]) {
        std::memcpy(out, d->custom[input], edid_builder::kEdidSize);
        return true;
    }
    ZelRamPara* m = model();
    if (!m)
        return false;
    const unsigned char* t = m->ram_para + ramaddr::kEdidTiming + 6 * input;
    return edid_builder::build_edid(rd16(t), rd16(t + 2), rd16(t + 4), out);
}

// Writes the EEPROM of the selected input with the hot-plug line low; 0 once it reads back.
int tarvosource::program_edid(int input, const uint8_t edid[256])
{
    set_line(GpioLine::src_line_c, kLineLow);
    int rc = tarvo_dev::select_channel(input) == kOk ? tarvo_dev::eeprom_program(edid) : kFail;
    tarvo_dev::close_channels();
    set_line(GpioLine::src_line_c, kLineHigh);
    return rc;
}

void tarvosource::edid_step(int input)
{
    bool requested = edid_request[input] == 1 && edid_done[input] == 0;
    if (!requested && !d->startupEdid[input])
        return;
    QMutexLocker lock(&Utils::_system_mutex);
    begin_startup_edid();
    uint8_t edid[edid_builder::kEdidSize];
    if (!requested && !startup_needs_write(input)) {
        finish_startup_edid(input);
        return;
    }
    // The request is taken before the image's timing is read: one the engine raises meanwhile
    // (a newer timing committed) sets edid_done back to 0 and is written on the next pass.
    if (requested)
        edid_done[input] = 1;
    const bool built = edid_for(input, edid);
    if (edid_built_hook)
        edid_built_hook(input);
    if (!built) {
        ZEL_DEBUG("\n [tarvosource] input %d: no EDID for the requested timing\n", input);
        if (requested)
            edid_done[input] = 0;   // still asked for
        return;
    }
    if (program_edid(input, edid) != kOk) {
        ZEL_DEBUG("\n [tarvosource] input %d: EDID write failed, trying again\n", input);
        if (requested)
            edid_done[input] = 0;   // the next pass writes again
        return;
    }
    d->customPending[input] = false;
    finish_startup_edid(input);
}

void tarvosource::begin_startup_edid()
{
    if (d->startupEdidBegun)
        return;
    d->startupEdidBegun = true;
    // Only the file asks for it: the default "Once" that a settings file which cannot be written
    // never took would program every input again at each start, losing a custom EDID.
    d->startupEdidOnce = g_check_edid == kEdidCheckOnce &&
                         (!ConfigEngine::p_config || ConfigEngine::p_config->in_file(ConfigItem::EDIDCheck));
    if (ZelRamPara* m = model()) {
        set_bits(&m->reg_status[kRegChips], kStartupEdidBusy);
        for (int i = 0; i < kInputs; ++i)
            if (d->startupEdid[i])
                set_bits(&m->reg_status[kRegEdid], kEdidPendingBit[i]);
    }
}

// At start-up an input's EEPROM is written when every input is to be programmed once, or when
// it holds no valid EDID.
bool tarvosource::startup_needs_write(int input)
{
    if (d->startupEdidOnce)
        return true;
    uint8_t now[edid_builder::kEdidSize];
    bool ok = tarvo_dev::select_channel(input) == kOk && tarvo_dev::eeprom_read(now) == kOk;
    tarvo_dev::close_channels();
    return !ok || !edid_builder::edid_valid(now);
}

void tarvosource::finish_startup_edid(int input)
{
    if (!d->startupEdid[input])
        return;
    d->startupEdid[input] = false;
    ZelRamPara* m = model();
    if (m)
        clear_bits(&m->reg_status[kRegEdid], kEdidPendingBit[input]);
    for (int i = 0; i < kInputs; ++i)
        if (d->startupEdid[i])
            return;
    if (m)
        clear_bits(&m->reg_status[kRegChips], kStartupEdidBusy);
    if (d->startupEdidOnce) {
        g_check_edid = kEdidCheckDone;
        if (ConfigEngine::p_config)
            ConfigEngine::p_config->write_config_variant(ConfigItem::EDIDCheck, QString(kEdidCheckDone));
    }
}

// ---- audio -------------------------------------------------------------------------------------

// The audio switch byte for the audio window: its input (through its crop entry) one-hot when
// its sound is on, else no sound. Out-of-range words mean no sound.
uint8_t tarvosource::audio_source_byte()
{
    ZelRamPara* m = model();
    if (!m)
        return kNoSound;
    const unsigned char* img = m->ram_para;
    uint16_t window = rd16(img + ramaddr::kAudioWindow);
    if (window >= ramaddr::kUsedWindows)
        return kNoSound;
    const unsigned char* rec = img + ramaddr::window(window);
    if (!(rec[ramaddr::kWinSound] & kSoundOnBit))
        return kNoSound;
    uint16_t source = rd16(rec + ramaddr::kWinSource);
    unsigned input = source & 0xFF;
    if (source & ramaddr::kWinSourceCrop) {
        if (input >= ramaddr::kCropEntries)
            return kNoSound;
        input = img[ramaddr::kCropTable + ramaddr::kCropEntrySize * input];
    }
    return input < unsigned(kInputs) ? kAudioOneHot[input] : kNoSound;
}

void tarvosource::audio_step()
{
    if (volume_request != 1)
        return;
    uint8_t value = audio_source_byte();
    if (tarvo_dev::audio_write(value) != kOk) {
        ZEL_DEBUG("\n [tarvosource] audio switch write failed\n");
        return;  // the request stays; the next pass sends again
    }
    // A source changed while the byte was on its way is sent on the next pass. Under the commit
    // lock: a change committed between this check and the clear would otherwise find its
    // request (raised by the engine's pass) cleared with it.
    ParaCommit commit;
    QMutexLocker lock(&Utils::_system_mutex);
    if (audio_source_byte() == value)
        volume_request = 0;
}

// ---- input summary -----------------------------------------------------------------------------

void tarvosource::summary_step(int input)
{
    ZelRamPara* m = model();
    if (!m || !d->summaryDirty[input] || g_c331_source_online == 0)
        return;
    const TARVO_HDMI_INFO& v = d->last[input];
    unsigned char rec[6];
    uint16_t w = v.nosignal ? 0 : uint16_t(v.Hact);
    // Receivers count an interlaced picture's lines per field; the summary shows its frame.
    uint16_t h = v.nosignal ? 0 : uint16_t(v.ip ? 2 * v.Vact : v.Vact);
    rec[0] = w & 0xFF;
    rec[1] = w >> 8;
    rec[2] = h & 0xFF;
    rec[3] = h >> 8;
    rec[4] = summary_rate(v);
    rec[5] = input >= 4 ? uint8_t(v.nosignal ? 1 : 0) : 0;
    pthread_mutex_lock(&m->mutex);
    std::memcpy(m->ram_para + ramaddr::kInputSummary + 6 * input, rec, sizeof(rec));
    pthread_mutex_unlock(&m->mutex);
    d->summaryDirty[input] = false;
    m->test_signal(kChangeInputInfo);
}
