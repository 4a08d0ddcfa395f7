#include "ledout/clock_record_run.h"

#include <QMutexLocker>

#include <algorithm>

#include "core/global.h"
#include "core/utils.h"
#include "ledout/bcd.h"
#include "ledout/fpga_manage.h"
#include "ledout/rcv_card_cmd.h"
#include "platform/clock.h"

ClockRecordState g_clock_record;

namespace {

using crr = clock_record_run;

constexpr uint8_t kHeadBytes[3] = {0xAA, 0x5A, 0xA5};
constexpr uint8_t kValid = 0xAA;
constexpr uint8_t kBlank = 0xFF;
constexpr uint8_t kClockSet = 'Z';
constexpr uint32_t kLogEnd = crr::kLog + crr::kLogSectors * fpga_drv::kSectorSize;
constexpr uint32_t kLastSector = crr::kSectorLog + crr::kLogSectors - 1;
constexpr uint32_t kSectorOffset = crr::kFlashOffset / fpga_drv::kSectorSize;   // 627
constexpr uint32_t kMinuteTicks = 6000;
constexpr uint32_t kPeriodOpensAfter = 30;     // minutes
constexpr uint32_t kOpeningMarks = 14;         // the 30 minutes before the period opened
constexpr uint8_t kOpeningBytes[4] = {0x55, 0x55, 0x55, 0xD5};
constexpr uint8_t kMarks[4] = {0xFD, 0xF5, 0xD5, 0x55};   // a byte after 1, 2, 3, 4 marks
constexpr uint32_t kMarkBytes = crr::kPeriodMarks / 4;      // 360
constexpr uint32_t kPeriodMinutes = 2 * crr::kPeriodMarks;  // 2880
constexpr uint32_t kCopyPiece = 256;

// Record and log-entry fields.
constexpr uint32_t kRecStart = 1;
constexpr uint32_t kRecTotal = 8;
constexpr uint32_t kRecSequence = 13;
constexpr uint32_t kRecStartAgain = 33;
constexpr uint32_t kRecClockSet = 44;
constexpr uint32_t kLogStart = 1;
constexpr uint32_t kLogMinutes = 8;
constexpr uint32_t kLogClockSet = 12;

constexpr uint32_t kSequenceNumber = 0xFFFFF;
constexpr int kWrapShift = 20;
constexpr uint32_t kWrapMask = 0xF;

uint32_t recordA(int g) { return crr::kRecordsA + crr::kRecordSize * uint32_t(g); }
uint32_t recordB(int g) { return crr::kRecordsB + crr::kRecordSize * uint32_t(g); }
uint32_t logEntryOf(uint32_t number)
{
    return crr::kLog + fpga_drv::kSectorSize * (number / crr::kEntriesPerSector) +
           crr::kLogEntrySize * (number % crr::kEntriesPerSector);
}

using rcv_card::rd16;
using rcv_card::rd32;
using rcv_card::wr32;

}  // namespace

clock_record_run::clock_record_run(fpga_manage& owner, ClockRecordState& state) : owner_(owner), s_(state) {}

// ---- flash ---------------------------------------------------------------------------------------

int clock_record_run::ExFlash_RD(int, uint32_t address, uint32_t length, uint8_t* buffer)
{
    if (buffer == nullptr || address < kHead || uint64_t(address) + length > kLogEnd)
        return 0;
    return owner_.drv().FPGA_SPI_FLASH_VBYONE_READ(2, address + kFlashOffset, length, buffer);
}

int clock_record_run::ExFlash_WR(int, uint32_t address, const uint8_t* buffer, uint32_t length)
{
    // Nothing leaves the recorder's area, whatever the state says.
    if (buffer == nullptr || length == 0 || address < kHead || uint64_t(address) + length > kLogEnd)
        return 0;
    return owner_.drv().writeCopy(2, address + kFlashOffset, buffer, length);
}

int clock_record_run::ExFlash_Erase_Format(int, uint32_t sector, int mode, uint32_t count)
{
    if (mode != 0 || sector < kSectorHead || uint64_t(sector) + count > kLastSector + 1)
        return 0;
    return owner_.drv().FPGA_SPI_FLASH_VBYONE_ERASE(2, sector + kSectorOffset, mode, count);
}

uint8_t clock_record_run::readByte(uint32_t address)
{
    uint8_t b = kBlank;
    ExFlash_RD(kChipArg, address, 1, &b);
    return b;
}

void clock_record_run::writeBytes(uint32_t address, const uint8_t* data, uint32_t length)
{
    ExFlash_WR(kChipArg, address, data, length);
}

bool clock_record_run::sectorBlank(uint32_t sector)
{
    const uint32_t at = sector * fpga_drv::kSectorSize;
    return readByte(at) == kBlank && readByte(at + 1) == kBlank;
}

int clock_record_run::slotToOpen(int slot)
{
    if (slot < kSlots)
        return slot;
    // Past the last slot the records start again at slot 0, in a blank copy A.
    if (!sectorBlank(kSectorA))
        eraseSector(kSectorA);
    return 0;
}

// ---- repair and continuation ---------------------------------------------------------------------

int clock_record_run::check_record_sec()
{
    for (int g = 0; g < kSlots; ++g) {
        if (readByte(recordB(g)) == kValid)
            continue;
        if (readByte(recordA(g)) == kValid) {
            // Copy B was cut short: A is whole, so the period counts as used.
            copy_sec_data(kSectorA, kSectorB);
            return g + 1;
        }
        if (readByte(recordA(g) + 1) == kBlank)
            return g;
        copy_sec_data(kSectorB, kSectorA);   // A was cut short while B is whole
        return g;
    }
    return kSlots;
}

void clock_record_run::copy_sec_data(uint32_t from, uint32_t to)
{
    eraseSector(to);
    const uint32_t src = from * fpga_drv::kSectorSize, dst = to * fpga_drv::kSectorSize;
    uint8_t piece[kCopyPiece];
    for (uint32_t at = kCopyPiece; at < fpga_drv::kSectorSize; at += kCopyPiece) {
        if (ExFlash_RD(kChipArg, src + at, kCopyPiece, piece))
            writeBytes(dst + at, piece, kCopyPiece);
    }
    // The first byte (the valid mark of record 0) goes last.
    if (ExFlash_RD(kChipArg, src + 1, kCopyPiece - 1, piece))
        writeBytes(dst + 1, piece, kCopyPiece - 1);
    writeByte(dst, readByte(src));
}

uint32_t clock_record_run::minutes_of_marks(const uint8_t* marks, unsigned length)
{
    uint32_t minutes = 0;
    for (unsigned i = 0; i < length && i < kMarkBytes; ++i) {
        if (marks[i] == kMarks[3]) {
            minutes += 8;
            continue;
        }
        for (int k = 0; k < 3; ++k)
            if (marks[i] == kMarks[k])
                minutes += 2u * uint32_t(k + 1);
        break;
    }
    return minutes;
}

void clock_record_run::get_last_record_info(int slot)
{
    // The copy that is whole: A unless only B carries the valid mark.
    const uint32_t record = readByte(recordA(slot)) == kValid ? recordA(slot) : recordB(slot);
    uint8_t head[16];
    uint8_t marks[kMarkBytes];
    if (!ExFlash_RD(kChipArg, record, sizeof head, head) || !ExFlash_RD(kChipArg, record + kMarksAt, kMarkBytes, marks))
        return;
    const uint32_t minutes = minutes_of_marks(marks, kMarkBytes);
    s_.total_minutes = rd32(head + kRecTotal) + minutes;
    const uint32_t sequence = rd16(head + kRecSequence) | uint32_t(head[kRecSequence + 2]) << 16;   // 24 bits
    s_.sequence = get_new_seq(minutes, sequence);
}

bool clock_record_run::sequenceValid(uint32_t sequence) { return (sequence & kSequenceNumber) <= kLastEntryNumber; }

void clock_record_run::setLogEntry(uint32_t number)
{
    s_.log_sector = uint8_t(number / kEntriesPerSector);
    s_.log_entry = logEntryOf(number);
}

uint32_t clock_record_run::get_new_seq(uint32_t minutes, uint32_t sequence)
{
    if (!sequenceValid(sequence)) {
        // A sequence the log cannot hold (a blank or torn record): the log starts again.
        eraseSector(kSectorLog);
        setLogEntry(0);
        return 0;
    }
    const uint32_t number = sequence & kSequenceNumber;
    uint8_t m[4];
    wr32(m, minutes);
    writeBytes(logEntryOf(number) + kLogMinutes, m, sizeof m);

    const uint32_t wrap = (sequence >> kWrapShift) & kWrapMask;
    const uint32_t next = number + 1;
    if (next > kLastEntryNumber) {
        eraseSector(kSectorLog);
        setLogEntry(0);
        return ((wrap + 1) & kWrapMask) << kWrapShift;
    }
    if (next % kEntriesPerSector == 0)
        eraseSector(kSectorLog + next / kEntriesPerSector);
    setLogEntry(next);
    return wrap << kWrapShift | next;
}

void clock_record_run::new_record_group_init(int slot)
{
    const bool wrapped = slot >= kSlots;
    slot = slotToOpen(slot);
    s_.slot = uint8_t(slot);
    s_.record_a = recordA(slot);
    s_.record_b = recordB(slot);

    uint8_t fields[8];
    wr32(fields, s_.total_minutes);
    fields[4] = kBlank;
    fields[5] = uint8_t(s_.sequence);
    fields[6] = uint8_t(s_.sequence >> 8);
    fields[7] = uint8_t(s_.sequence >> 16);

    writeBytes(s_.record_a + kRecStart, s_.start_bcd, sizeof s_.start_bcd);
    writeBytes(s_.record_a + kRecTotal, fields, sizeof fields);
    s_.clock_set = readByte(s_.record_a + kRecClockSet);
    writeByte(s_.record_a, kValid);
    if (wrapped)
        eraseSector(kSectorB);
    writeBytes(s_.record_b + kRecStart, s_.start_bcd, sizeof s_.start_bcd);
    writeBytes(s_.record_b + kRecTotal, fields, sizeof fields);
    writeByte(s_.record_b + kRecClockSet, s_.clock_set);
    writeByte(s_.record_b, kValid);
}

// ---- steps ---------------------------------------------------------------------------------------

void clock_record_run::startTimeFromClock()
{
    const TimeRealType& t = owner_.current_time;
    using bcd::encode;
    const uint8_t start[7] = {encode(t.year % 100), encode(t.year / 100), encode(t.month), encode(t.day),
                              encode(t.hour),       encode(t.minute),     encode(t.second)};
    std::copy(start, start + 7, s_.start_bcd);
}

void clock_record_run::step(bool fpgasUp)
{
    if (!fpgasUp)
        return;
    if (!started_) {
        clock_record_init();
        started_ = true;
    } else {
        clock_record_deal();
    }
}

void clock_record_run::clock_record_init()
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    uint8_t head[3] = {};
    ExFlash_RD(kChipArg, kHead, sizeof head, head);
    if (!std::equal(head, head + 3, kHeadBytes)) {
        eraseSector(kSectorHead);
        writeBytes(kHead, kHeadBytes, sizeof kHeadBytes);
    }
    s_.initialised = 1;

    const int g = check_record_sec();
    if (g > 0) {
        s_.slot = uint8_t(g);
        get_last_record_info(g - 1);
    } else {
        eraseSector(kSectorA);
        eraseSector(kSectorB);
        eraseSector(kSectorLog);
        s_.total_minutes = 0;
        s_.sequence = 0;
        s_.slot = 0;
        setLogEntry(0);
    }
    owner_.IT8563WE_Get(&owner_.current_time);
    s_.minutes_since_start = 0;
    s_.minute_count2 = 0;
    s_.minute_count = 0;
    s_.period_pending = 1;
    startTimeFromClock();
    s_.tick = G_timeTicks.load();
}

void clock_record_run::openPeriod()
{
    new_record_group_init(s_.slot);
    for (uint32_t record : {s_.record_a, s_.record_b}) {
        writeBytes(record + kRecStartAgain, s_.start_bcd, sizeof s_.start_bcd);
        writeBytes(record + kMarksAt, kOpeningBytes, sizeof kOpeningBytes);
        writeByte(record, kValid);
    }
    const uint8_t tail[4] = {s_.clock_set, uint8_t(s_.sequence), uint8_t(s_.sequence >> 8),
                             uint8_t(s_.sequence >> 16)};
    writeBytes(s_.log_entry + kLogStart, s_.start_bcd, sizeof s_.start_bcd);
    writeBytes(s_.log_entry + kLogClockSet, tail, sizeof tail);
    writeByte(s_.log_entry, kValid);
    s_.period_pending = 0;
    s_.mark_index = kOpeningMarks;
}

void clock_record_run::closePeriod()
{
    uint8_t m[4];
    wr32(m, kPeriodMinutes);
    writeBytes(s_.log_entry + kLogMinutes, m, sizeof m);
    startTimeFromClock();
    s_.sequence = get_new_seq(kPeriodMinutes, s_.sequence);
    s_.total_minutes += kPeriodMinutes;
    new_record_group_init(s_.slot + 1);
    s_.mark_index = 0;
}

void clock_record_run::clock_record_deal()
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (Utils::getTimeSpace(s_.tick) <= kMinuteTicks)
        return;
    ++s_.minutes_since_start;
    ++s_.minute_count;
    ++s_.minute_count2;
    if (s_.minute_count & 1) {
        s_.tick = G_timeTicks.load();
        return;
    }
    if (s_.period_pending) {
        if (s_.minutes_since_start < kPeriodOpensAfter) {
            s_.tick = G_timeTicks.load();
            return;
        }
        openPeriod();
    }
    s_.mark_offset = kMarksAt + s_.mark_index / 4;
    s_.next_mark = kMarks[s_.mark_index % 4];
    writeByte(s_.record_a + s_.mark_offset, s_.next_mark);
    writeByte(s_.record_b + s_.mark_offset, s_.next_mark);
    ++s_.mark_index;
    if (s_.mark_index > kPeriodMarks)   // mark 1440, in the record's last mark byte, was the last
        closePeriod();
    s_.tick = G_timeTicks.load();
}

void clock_record_run::dealwith_record_timing()
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    s_.clock_set = kClockSet;
    if (!s_.initialised)
        return;
    if (!s_.period_pending) {
        writeByte(s_.log_entry + kLogClockSet, kClockSet);
        writeByte(s_.record_a + kRecClockSet, kClockSet);
        return;
    }
    writeByte(recordA(slotToOpen(s_.slot)) + kRecClockSet, kClockSet);
}
