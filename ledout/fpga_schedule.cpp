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

void fpga_manage::run_command_record(const uint8_t* rec)
{
    if (rec[0] != kPresent)
        return;
    switch (rec[kCommand]) {
    case CMD_CLOCK:
        Checktime(rec);
        break;
    case CMD_SCHEDULE:
        OnOff_time(rec);
        // The flash work without the state lock: the manager's steps go on meanwhile.
        if (rec[kStoreByte] == kStore) {
            if (store_record(kScheduleRecord, rec, storedLength(rec)))
                setOnOffEnable(1);
        } else if (rec[kStoreByte] == kErase) {
            fpga_flash_access();
            if (erase_record(kScheduleRecord))
                setOnOffEnable(0);
        }
        break;
    case CMD_BRIGHTNESS:
        Brightness_command(rec);
        break;
    default:
        break;
    }
}

void fpga_manage::Checktime(const uint8_t* rec)
{
    const uint8_t* p = rec + kPayload;
    const unsigned year = decode(p[1]) * 100u + decode(p[0]);
    const QString date = QString("%1-%2-%3").arg(year).arg(decode(p[2])).arg(decode(p[3]));
    const QString time = QString("%1:%2:%3").arg(decode(p[4])).arg(decode(p[5])).arg(decode(p[6]));
    Utils::system_mutex("date \"" + date + " " + time + "\";hwclock -wu");
    if (p_fpga_manage != nullptr && p_fpga_manage->clock_record != nullptr)
        p_fpga_manage->clock_record->dealwith_record_timing();
}

// ---- the on/off schedule -------------------------------------------------------------------------

void fpga_manage::setOnOffEnable(uint8_t on)
{
    StateLock state(recordStateMutex_);
    setShadow(kRegOnOff, 0, on);
}

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
    std::memcpy(MCU_RAM_CMD, record, kStoredScheduleLen);
    OnOff_time(MCU_RAM_CMD);
    setOnOffEnable(1);
}

void fpga_manage::dealwith_onoff()
{
    StateLock state(recordStateMutex_);
    const TimeRealType t = current_time;
    if (onoff_count == 0) {
        onoff_last_day = t.day;
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
    if (t.day != onoff_last_day) {
        std::memset(on_armed, 1, onoff_count);
        std::memset(off_armed, 1, onoff_count);
        onoff_last_day = t.day;
    }
}
