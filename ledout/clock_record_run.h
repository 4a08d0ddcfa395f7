// The run-time recorder: how long the LED screen has been driven, kept in the flash behind
// FPGA 0 (flash device 2) in periods of up to 2880 minutes, each with its start time, its
// minute marks, a mark when the clock was set during it and a running sequence number.
//
// Logical layout (flash address = logical + 0x273000, logical sector s = flash sector s + 627):
//   0x480000             head AA 5A A5
//   0x481000 + 512 g     period record g (0-7), copy A
//   0x482000 + 512 g     period record g, copy B
//   0x483000 + 4096 s + 16 e   log entry e (0-255) of log sector s (0-61)
// Every step only programs bits from 1 to 0; the two copies repair each other at start.
#pragma once

#include <cstdint>
#include <mutex>

class fpga_manage;
struct TimeRealType;

// The recorder's working state.
struct ClockRecordState {
    uint8_t minute_count = 0;      // odd minutes only count
    uint8_t next_mark = 0;         // mark byte to program next
    uint8_t log_sector = 0;        // 0-61
    uint8_t slot = 0;              // period slot 0-8
    uint8_t clock_set = 0xFF;      // 'Z' once the clock was set
    uint8_t period_pending = 0;    // 1 while the next period is still to be opened
    uint8_t initialised = 0;
    uint8_t start_bcd[7] = {};     // year mod 100, century, month, day, hour, minute, second
    uint32_t mark_index = 0;       // 0-1440, in bytes 48-408 of the period record
    uint32_t sequence = 0;         // bits 0-19 log entry number, bits 20-23 wrap count
    uint32_t record_a = 0;         // logical address of the current period record, copy A
    uint32_t record_b = 0;
    uint32_t log_entry = 0;        // logical address of the current log entry
    uint32_t mark_offset = 0;      // offset of the last mark inside the period record
    uint32_t tick = 0;             // tick of the last step
    uint32_t minutes_since_start = 0;
    uint32_t minute_count2 = 0;
    uint32_t total_minutes = 0;    // minutes recorded before the current period
};

// The state of the manager's recorder.
extern ClockRecordState g_clock_record;

class clock_record_run {
public:
    // Logical addresses and sectors.
    static constexpr uint32_t kFlashOffset = 0x273000;
    static constexpr uint32_t kHead = 0x480000;
    static constexpr uint32_t kRecordsA = 0x481000;
    static constexpr uint32_t kRecordsB = 0x482000;
    static constexpr uint32_t kLog = 0x483000;
    static constexpr uint32_t kRecordSize = 512;
    static constexpr uint32_t kLogEntrySize = 16;
    static constexpr int kSlots = 8;
    static constexpr int kLogSectors = 62;
    static constexpr int kEntriesPerSector = 256;
    static constexpr uint32_t kLastEntryNumber = 15616;   // the log wraps after this entry
    static constexpr uint32_t kSectorHead = 1152;
    static constexpr uint32_t kSectorA = 1153;
    static constexpr uint32_t kSectorB = 1154;
    static constexpr uint32_t kSectorLog = 1155;
    static constexpr uint32_t kMarksAt = 48;
    static constexpr uint32_t kPeriodMarks = 1440;        // index of the last mark (2880 minutes)
    static constexpr uint32_t kChipArg = 9;               // not used

    explicit clock_record_run(fpga_manage& owner, ClockRecordState& state = g_clock_record);

    // One step of the pass: the first with both FPGAs up opens the state, the others count.
    void step(bool fpgasUp);
    bool started() const { return started_; }

    void clock_record_init();
    void clock_record_deal();
    // The clock was set: the current (or coming) period is marked.
    void dealwith_record_timing();

    // Flash access in logical addresses on flash device 2; 1 done, 0 failed or refused (outside
    // the recorder's area).
    int ExFlash_RD(int chip, uint32_t address, uint32_t length, uint8_t* buffer);
    int ExFlash_WR(int chip, uint32_t address, const uint8_t* buffer, uint32_t length);
    int ExFlash_Erase_Format(int chip, uint32_t sector, int mode, uint32_t count);

    int check_record_sec();
    void copy_sec_data(uint32_t from, uint32_t to);
    void get_last_record_info(int slot);
    uint32_t get_new_seq(uint32_t minutes, uint32_t sequence);
    void new_record_group_init(int slot);

    // Minutes counted by a period record's marks (at most 2880).
    static uint32_t minutes_of_marks(const uint8_t* marks, unsigned length);
    const ClockRecordState& state() const { return s_; }

private:
    uint8_t readByte(uint32_t address);
    void writeBytes(uint32_t address, const uint8_t* data, uint32_t length);
    void writeByte(uint32_t address, uint8_t value) { writeBytes(address, &value, 1); }
    void eraseSector(uint32_t sector) { ExFlash_Erase_Format(kChipArg, sector, 0, 1); }
    bool sectorBlank(uint32_t sector);
    // The slot a period opens in: `slot`, or 0 (copy A erased) past the last one.
    int slotToOpen(int slot);
    void startTimeFromClock();
    void openPeriod();
    void closePeriod();
    void setLogEntry(uint32_t sequence);
    static bool sequenceValid(uint32_t sequence);

    fpga_manage& owner_;
    ClockRecordState& s_;
    bool started_ = false;
    std::recursive_mutex mutex_;   // the steps run on the manager's thread, the clock set on a link's
};
