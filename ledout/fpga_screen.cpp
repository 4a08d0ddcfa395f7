// LED screen control: the output switches of both FPGAs, the output and brightness requests of
// the pass, and the LED-size handshake with the video engine.
#include <QMutexLocker>

#include <algorithm>

#include "core/global.h"
#include "core/utils.h"
#include "ledout/change_words.h"
#include "ledout/fpga_manage.h"
#include "ledout/fpga_para.h"

namespace {

enum class Act : uint8_t { None, Set, Clear, Read };
struct ScreenSwitch {
    Act act;
    uint8_t reg;
    uint8_t bit;
};
// SCREEN_fpgactrl_status, indexed by the request.
constexpr ScreenSwitch kScreenSwitch[] = {
    {Act::Set, 0, 0x04},    // 0 blank
    {Act::Clear, 0, 0x04},  // 1 show
    {Act::Set, 0, 0x02},    // 2
    {Act::Clear, 0, 0x02},  // 3
    {Act::Set, 3, 0x20},    // 4 output enabled
    {Act::Clear, 3, 0x20},  // 5 output disabled
    {Act::None, 0, 0},      // 6
    {Act::Clear, 23, 0x01}, // 7
    {Act::Set, 23, 0x01},   // 8
    {Act::Read, 22, 0},     // 9
};

// The LED-size handshake's own steps, in ticks.
constexpr uint32_t kBlankToDisable = 11;
constexpr uint32_t kDisableToRelease = 31;

}  // namespace

void fpga_manage::SCREEN_fpgactrl_status(uint8_t status)
{
    if (status >= sizeof kScreenSwitch / sizeof kScreenSwitch[0])
        return;
    const ScreenSwitch& s = kScreenSwitch[status];
    for (int i = 0; i < kFpgas; ++i) {
        switch (s.act) {
        case Act::Set: write_to_register(s.reg, s.bit, s.bit, i); break;
        case Act::Clear: write_to_register(s.reg, s.bit, 0, i); break;
        case Act::Read: read_from_register(s.reg, i); break;
        case Act::None: break;
        }
    }
}

void fpga_manage::SCREEN_fpgactrl_status2(uint8_t status, int fpga)
{
    switch (status) {
    case SCREEN_BLANK: write_to_0x00_register(0, 0x04, 0x04, fpga); break;
    case SCREEN_SHOW: write_to_0x00_register(0, 0x04, 0, fpga); break;
    case SCREEN_OUTPUT_ENABLE: write_to_0x00_register(3, 0x20, 0x20, fpga); break;
    case SCREEN_R23B3_SET: write_to_0x00_register(23, 0x08, 0x08, fpga); break;
    case SCREEN_R23B3_CLEAR: write_to_0x00_register(23, 0x08, 0, fpga); break;
    default: break;
    }
}

// Both FPGAs run and neither is about to be reset: what is written now is what they keep (the
// reset of an LED-size change keeps them counted as up until its pulse ends, and a value written
// then is gone once they come back).
bool fpga_manage::outputsTakeRequests()
{
    return get_fpga_status() == 1 && !reset_pending(0) && !reset_pending(1);
}

const std::atomic<uint8_t>& fpga_manage::requestOf(uint32_t address) const
{
    return address == ledpara::kBrightness ? set_bri_flag : set_output_flag;
}

bool fpga_manage::settleReport(ledpara::WordReport report)
{
    const ledpara::Reported r = ledpara::reportWord(report, requestOf(report.address));
    // The newest report of a word replaces one kept before.
    kept_.erase(std::remove_if(kept_.begin(), kept_.end(),
                               [&](const ledpara::WordReport& k) { return k.address == report.address; }),
                kept_.end());
    if (r == ledpara::Reported::Kept)
        kept_.push_back(report);
    anyKept_ = !kept_.empty();
    return r == ledpara::Reported::Written;
}

void fpga_manage::reportShown(uint32_t address, uint16_t value)
{
    bool written;
    {
        std::lock_guard<std::mutex> lock(keptMutex_);
        written = settleReport({address, value});
    }
    if (written)
        ledpara::test_signal(1);
}

bool fpga_manage::reportKept(uint32_t address)
{
    std::lock_guard<std::mutex> lock(keptMutex_);
    return std::any_of(kept_.begin(), kept_.end(), [&](const ledpara::WordReport& k) { return k.address == address; });
}

void fpga_manage::retryKeptReports()
{
    if (!anyKept_.load() || g_set_led_para.load() != 0)
        return;
    bool written = false;
    {
        std::lock_guard<std::mutex> lock(keptMutex_);
        const std::vector<ledpara::WordReport> kept = kept_;
        for (const ledpara::WordReport& k : kept)
            written = settleReport(k) || written;
    }
    if (written)
        ledpara::test_signal(1);
}

int fpga_manage::set_output_status()
{
    if (!outputsTakeRequests())
        return 0;
    // The screen follows the image's word, so the word is not written back from the register
    // (that write-back could put back the value a user has just changed).
    const uint8_t request = ledpara::word(ledpara::kScreenClosed) ? SCREEN_BLANK : SCREEN_SHOW;
    for (int i = 0; i < kFpgas; ++i)
        SCREEN_fpgactrl_status2(request, i);
    return 1;
}

int fpga_manage::set_fpga_bri_val()
{
    if (!outputsTakeRequests())
        return 0;
    applyBrightness(true);
    return 1;
}

void fpga_manage::set_led_para_deal()
{
    const uint8_t request = g_set_led_para.load();
    if (request == 2) {
        {
            QMutexLocker lock(&Utils::_led_para_init_mutex);
            // A new size change requested since the read is served on the next pass.
            if (g_set_led_para.load() != 2)
                return;
            g_set_led_setup = 0;
            g_set_led_para = 0;
            g_led_para_released = 0;
        }
        reset_fpga_rst(0);
        reset_fpga_rst(1);
        return;
    }
    if (request != 1)
        return;

    switch (g_set_led_setup.load()) {
    case 0:
        // Blanked for the size change, not closed: the image's screen word is not written back.
        for (int i = 0; i < kFpgas; ++i)
            SCREEN_fpgactrl_status2(SCREEN_BLANK, i);
        {
            QMutexLocker lock(&Utils::_led_para_init_mutex);
            ledParaStamp_ = G_timeTicks.load();
            g_set_led_setup = 1;
        }
        break;
    case 1:
        if (Utils::getTimeSpace(ledParaStamp_) < kBlankToDisable)
            return;
        {
            QMutexLocker lock(&Utils::_led_para_init_mutex);
            ledParaStamp_ = G_timeTicks.load();
        }
        SCREEN_fpgactrl_status(SCREEN_OUTPUT_DISABLE);
        {
            QMutexLocker lock(&Utils::_led_para_init_mutex);
            g_set_led_setup = 2;
        }
        break;
    default:
        if (Utils::getTimeSpace(ledParaStamp_) < kDisableToRelease)
            return;
        {
            QMutexLocker lock(&Utils::_led_para_init_mutex);
            ledParaStamp_ = G_timeTicks.load();
            g_set_led_setup = 0;
            // Only release the engine's wait if nobody changed the request meanwhile. The outputs
            // stay off until the engine hands them back, also when its pass comes later.
            if (g_set_led_para.load() == 1) {
                g_set_led_para = 0;
                g_led_para_released = 1;
            }
        }
        break;
    }
}

void fpga_manage::Extension_function()
{
    // A command record run on another thread changes the flags and the state these steps use:
    // each is read and changed under the state lock, which the steps take themselves.
    auto flag = [this](int word, bool clear) {
        std::lock_guard<std::recursive_mutex> state(recordStateMutex_);
        const bool set = g_change[word] != 0;
        if (clear)
            g_change[word] = 0;
        return set;
    };
    // A record the flash did not give is asked for again a while later, not at every step: a
    // flash that stays busy costs its wait each time.
    if (!record_unread || Utils::getTimeSpace(record_unread_at) >= kRecordRetryTicks) {
        record_unread = false;
        if (flag(changeword::kBriReload, true))
            record_bright_change();   // sets it again when the flash did not answer
        if (onoff_reload)
            record_onoff_time(2);
    }
    if (flag(changeword::kBriTaskOn, false))
        Brightness_task();
    // Once both FPGAs are lit: a start or a clock set waits for the bring-up's light-up.
    if (onoff_settle.load() && !onoff_reload && check_step(0) == kCheckLit && check_step(1) == kCheckLit)
        settleOnOff();
    if (onoffRuns())
        dealwith_onoff();
}
