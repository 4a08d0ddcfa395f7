// The command record that PC software leaves in MCU_RAM_CMD and starts with a write of FPGA
// register 2 (bit 2): set the clock, the daily on/off schedule, the brightness record. Also the
// schedule's storage in the flash behind FPGA 0 and its step, and the record helpers shared
// with the brightness record.
#include <algorithm>
#include <cstring>

#include <QString>

#include "core/global.h"
#include "core/utils.h"
#include "ledout/bcd.h"
#include "ledout/clock_record_run.h"
#include "ledout/command_record.h"
#include "ledout/fpga_manage.h"

using namespace cmdrecord;

namespace {

constexpr unsigned kScheduleCount = 8;
constexpr unsigned kScheduleEntries = 9;   // four BCD bytes per entry from here
constexpr unsigned kStoredScheduleLen = 50;
constexpr int kRegOnOff = fpga_manage::kRegOnOffEnable;
constexpr uint8_t kScreenOn = 1;
constexpr uint8_t kScreenOff = 0;

using bcd::decode;
using StateLock = std::lock_guard<std::recursive_mutex>;

}  // namespace

// ---- records in the flash behind FPGA 0 -----------------------------------------------------------

bool fpga_manage::store_record(uint32_t address, const uint8_t* data, uint32_t length)
{
    // A record longer than the command RAM it came from would program past what it holds.
    if (data == nullptr || length == 0 || length > kRamImageSize)
        return false;
    fpga_flash_access();
    // The erase and the write as one: no client's command on the flash comes between them.
    FlashHold hold(drv_, 2);
    const bool stored = hold && erase_record(address) && drv_.writeCopy(2, address, data, length) == 1;
    if (!stored) {
        ZEL_DEBUG("\n record at %#x not stored: the flash behind FPGA 0 did not take it \n", address);
        writeLogMsg(LOG_FAILURE, "a record in the flash behind FPGA 0 could not be stored");
    }
    return stored;
}

bool fpga_manage::erase_record(uint32_t address)
{
    return drv_.FPGA_SPI_FLASH_VBYONE_ERASE(2, address / fpga_drv::kSectorSize, 0, 1) == 1;
}

void fpga_manage::noteRecordUnread()
{
    record_unread = true;
    record_unread_at = G_timeTicks.load();
}

bool fpga_manage::read_record(uint32_t address, uint8_t* out, uint32_t length)
{
    return drv_.FPGA_SPI_FLASH_VBYONE_READ(2, address, length, out) == 1;
}

// ---- the command record --------------------------------------------------------------------------

void fpga_manage::Dealwith_mcu_ram()
{
    // Taken and run at once, in order with the writer's other commands.
    recordTaken(MCU_RAM_CMD);
    run_command_record(MCU_RAM_CMD);
}

bool fpga_manage::run_command_record(const uint8_t* rec)
{
    if (rec[0] != kPresent)
        return true;
    switch (rec[kCommand]) {
    case CMD_CLOCK:
        return Checktime(rec);
    case CMD_SCHEDULE:
        OnOff_time(rec);
        // The flash work without the state lock: the manager's steps go on meanwhile.
        if (rec[kStoreByte] == kStore) {
            if (!store_record(kScheduleRecord, rec, storedLength(rec)))
                return false;
            setOnOffEnable(1);
        } else if (rec[kStoreByte] == kErase) {
            fpga_flash_access();
            if (!erase_record(kScheduleRecord))
                return false;
            setOnOffEnable(0);
        } else {
            onoff_applied = true;   // runs from now on, without touching the stored one
        }
        return true;
    case CMD_BRIGHTNESS:
        Brightness_command(rec);
        return true;
    default:
        return true;
    }
}

bool fpga_manage::Checktime(const uint8_t* rec)
{
    const uint8_t* p = rec + kPayload;
    const unsigned year = decode(p[1]) * 100u + decode(p[0]);
    const unsigned month = decode(p[2]), day = decode(p[3]);
    const unsigned hour = decode(p[4]), minute = decode(p[5]), second = decode(p[6]);
    // A date the calendar has not (month 13, 30 February) would leave the clock where it is: no
    // clock is set, and none is marked. Nor is a byte that is not two decimal digits read as
    // another date (month 0x0A as October).
    if (!std::all_of(p, p + 7, bcd::valid) || !Utils::isClockTime(year, month, day, hour, minute, second))
        return false;
    const QString date = QString("%1-%2-%3").arg(year).arg(month).arg(day);
    const QString time = QString("%1:%2:%3").arg(hour).arg(minute).arg(second);
    Utils::system_mutex("date \"" + date + " " + time + "\";hwclock -wu");
    clockSet();
    return true;
}

void fpga_manage::clockSet()
{
    onoff_settle = true;
    if (clock_record != nullptr)
        clock_record->dealwith_record_timing();
    wake();
}

// ---- the on/off schedule -------------------------------------------------------------------------

namespace {

constexpr int kMinutesPerDay = 24 * 60;

uint32_t dateOf(const TimeRealType& t) { return uint32_t(t.year) << 16 | uint32_t(t.month) << 8 | t.day; }

// The minute of the day, or -1 for a time no clock shows (such a switch never fires).
int minuteOf(unsigned hour, unsigned minute) { return hour < 24 && minute < 60 ? int(60 * hour + minute) : -1; }

}  // namespace

void fpga_manage::setOnOffEnable(uint8_t on)
{
    StateLock state(recordStateMutex_);
    setShadow(kRegOnOff, 0, on);
    onoff_applied = false;   // the stored schedule, or none, from here on
}

bool fpga_manage::onoffRuns() { return shadow(kRegOnOff, 0) == 1 || onoff_applied.load(); }

void fpga_manage::OnOff_time(const uint8_t* rec)
{
    StateLock state(recordStateMutex_);
    onoff_count = std::min<uint8_t>(rec[kScheduleCount], kOnOffEntries);
    std::memset(on_armed, 0, kOnOffEntries);
    std::memset(off_armed, 0, kOnOffEntries);
    for (int i = 0; i < onoff_count; ++i) {
        const uint8_t* e = rec + kScheduleEntries + 4 * i;
        on_hour[i] = decode(e[0]);
        on_minute[i] = decode(e[1]);
        off_hour[i] = decode(e[2]);
        off_minute[i] = decode(e[3]);
        on_armed[i] = 1;
        off_armed[i] = 1;
    }
}

void fpga_manage::record_onoff_time(int device)
{
    if (device != 2 && shadow(kRegState, 0) != kStateRunning)
        return;
    fpga_flash_access();
    uint8_t marker = 0;
    uint8_t record[kStoredScheduleLen];
    // A flash that did not answer says nothing about the record: the load is tried again later.
    if (!read_record(kScheduleRecord, &marker, 1) ||
        (marker == kPresent && !read_record(kScheduleRecord, record, kStoredScheduleLen))) {
        onoff_reload = true;
        noteRecordUnread();
        return;
    }
    onoff_reload = false;
    if (marker != kPresent)
        return;
    // Taken from its own copy: the command RAM is the clients'.
    OnOff_time(record);
    setOnOffEnable(1);
}

void fpga_manage::dealwith_onoff()
{
    StateLock state(recordStateMutex_);
    const TimeRealType t = current_time;
    if (onoff_count == 0) {
        onoff_last_day = dateOf(t);
        return;
    }
    for (int i = 0; i < onoff_count; ++i) {
        if (on_armed[i] && t.hour == on_hour[i] && t.minute == on_minute[i]) {
            SCREEN_fpgactrl_status(kScreenOn);
            on_armed[i] = 0;
        }
    }
    for (int i = 0; i < onoff_count; ++i) {
        if (off_armed[i] && t.hour == off_hour[i] && t.minute == off_minute[i]) {
            SCREEN_fpgactrl_status(kScreenOff);
            off_armed[i] = 0;
        }
    }
    if (dateOf(t) != onoff_last_day) {
        std::memset(on_armed, 1, onoff_count);
        std::memset(off_armed, 1, onoff_count);
        onoff_last_day = dateOf(t);
    }
}

int fpga_manage::onoffStateAt(int now) const
{
    // How many minutes ago each switch last came (today, else yesterday); an off wins over an on
    // of the same minute, as the step switches on first and then off.
    int nearest = kMinutesPerDay, screen = -1;
    auto consider = [&](int at, uint8_t to) {
        if (at < 0)
            return;
        const int ago = (now - at + kMinutesPerDay) % kMinutesPerDay;
        if (ago < nearest || (ago == nearest && to == kScreenOff)) {
            nearest = ago;
            screen = to;
        }
    };
    for (int i = 0; i < onoff_count; ++i) {
        consider(minuteOf(on_hour[i], on_minute[i]), kScreenOn);
        consider(minuteOf(off_hour[i], off_minute[i]), kScreenOff);
    }
    return screen;
}

void fpga_manage::settleOnOff()
{
    onoff_settle = false;
    IT8563WE_Get(&current_time);
    readtime_ticks = G_timeTicks.load();
    StateLock state(recordStateMutex_);
    if (!onoffRuns() || onoff_count == 0)
        return;
    const TimeRealType t = current_time;
    const int now = minuteOf(t.hour, t.minute);
    // The day's switches wait for their minutes; those of this minute are in the state taken now.
    for (int i = 0; i < onoff_count; ++i) {
        on_armed[i] = minuteOf(on_hour[i], on_minute[i]) != now;
        off_armed[i] = minuteOf(off_hour[i], off_minute[i]) != now;
    }
    onoff_last_day = dateOf(t);
    const int screen = onoffStateAt(now);
    if (screen >= 0)
        SCREEN_fpgactrl_status(uint8_t(screen));
}

bool fpga_manage::onoffKeepsDark()
{
    if (!onoff_settle.load() || onoff_reload)
        return false;
    TimeRealType t;
    IT8563WE_Get(&t);
    StateLock state(recordStateMutex_);
    return onoffRuns() && onoffStateAt(minuteOf(t.hour, t.minute)) == kScreenOff;
}
