// The run-time recorder on the simulated flash behind FPGA 0, minute by minute on the tick
// counter, with the simulated board's clock.
#include <gtest/gtest.h>

#include <vector>

#include "fpga_rig.h"

#include "ledout/clock_record_run.h"
#include "platform/clock.h"

namespace {

using crr = clock_record_run;
using Bytes = std::vector<uint8_t>;

// The recorder's area in logical addresses, and where they lie on the flash behind FPGA 0.
constexpr uint32_t kFlash = 0x273000;
constexpr uint32_t kHead = 0x480000, kRecordsA = 0x481000, kRecordsB = 0x482000, kLog = 0x483000;

struct RecorderRig {
    zeltest::TempRoot root;
    sim::FpgaBoard& board = sim::attachFpgas();
    fpga_manage* m = fpga_manage::pInstance();
    ClockRecordState state;
    crr rec{*m, state};

    RecorderRig() { platform::setSimClock(QDateTime(QDate(2024, 3, 7), QTime(9, 5, 0))); }

    sim::SimSerialFlash& flash() { return *board.flash[0]; }
    Bytes at(uint32_t logical, uint32_t n) { return flash().contents(logical + kFlash, n); }
    uint8_t byteAt(uint32_t logical) { return at(logical, 1)[0]; }
    // One minute of running with both FPGAs up.
    void minutes(int n, crr& r)
    {
        for (int i = 0; i < n; ++i) {
            G_timeTicks += 6001;
            r.step(true);
        }
    }
    void minutes(int n) { minutes(n, rec); }
    uint32_t a(int g) { return kRecordsA + 512u * uint32_t(g); }
    uint32_t b(int g) { return kRecordsB + 512u * uint32_t(g); }
};

}  // namespace

TEST(RunTimeRecorder, MarksCountMinutes)
{
    Bytes full(360, 0x55);
    EXPECT_EQ(crr::minutes_of_marks(full.data(), 360), 2880u);
    const Bytes twenty = {0x55, 0x55, 0xF5, 0xFF};
    EXPECT_EQ(crr::minutes_of_marks(twenty.data(), 4), 20u);
    const Bytes two = {0xFD}, six = {0xD5};
    EXPECT_EQ(crr::minutes_of_marks(two.data(), 1), 2u);
    EXPECT_EQ(crr::minutes_of_marks(six.data(), 1), 6u);
    const Bytes blank = {0xFF, 0x55};
    EXPECT_EQ(crr::minutes_of_marks(blank.data(), 2), 0u);
}

TEST(RunTimeRecorder, BlankFlashOpensAPeriodAfter30MinutesAndMarksEverySecondMinuteInBothCopies)
{
    RecorderRig r;
    r.rec.step(true);   // opens the state
    EXPECT_EQ(r.at(kHead, 3), (Bytes{0xAA, 0x5A, 0xA5}));
    EXPECT_EQ(r.flash().contents(0x6F3000, 3), (Bytes{0xAA, 0x5A, 0xA5}));
    r.minutes(29);
    EXPECT_EQ(r.byteAt(r.a(0)), 0xFF);
    r.minutes(1);
    for (uint32_t rec : {r.a(0), r.b(0)}) {
        EXPECT_EQ(r.byteAt(rec), 0xAA);
        EXPECT_EQ(r.at(rec + 48, 5), (Bytes{0x55, 0x55, 0x55, 0xD5, 0xFF}));
        EXPECT_EQ(r.at(rec + 1, 7), (Bytes{0x24, 0x20, 0x03, 0x07, 0x09, 0x05, 0x00}));
    }
    EXPECT_EQ(r.byteAt(kLog), 0xAA);
    r.minutes(1);
    EXPECT_EQ(r.byteAt(r.a(0) + 52), 0xFF);   // odd minute: nothing
    r.minutes(1);
    EXPECT_EQ(r.byteAt(r.a(0) + 51), 0x55);
    r.minutes(2);
    EXPECT_EQ(r.byteAt(r.a(0) + 52), 0xFD);
    EXPECT_EQ(r.byteAt(r.b(0) + 52), 0xFD);

    // a minute is more than 6000 ticks
    G_timeTicks += 6000;
    r.rec.step(true);
    EXPECT_EQ(r.state.minutes_since_start, 34u);
    G_timeTicks += 1;
    r.rec.step(true);
    EXPECT_EQ(r.state.minutes_since_start, 35u);

    // a minute does not count while either FPGA is down
    G_timeTicks += 20000;
    r.rec.step(false);
    EXPECT_EQ(r.state.minutes_since_start, 35u);
}

TEST(RunTimeRecorder, APeriodClosesOnceItsLastMarkIsProgrammedAndTheNextOneStarts)
{
    RecorderRig r;
    r.rec.step(true);
    r.minutes(2880);   // 30 minutes before the period opened, then marks 14 to 1439
    EXPECT_EQ(r.at(r.a(0) + 48, 360), Bytes(360, 0x55));
    EXPECT_EQ(r.byteAt(r.a(0) + 408), 0xFF);
    EXPECT_EQ(r.byteAt(r.a(1)), 0xFF);
    EXPECT_EQ(r.state.slot, 0);
    r.minutes(2);   // mark 1440, the record's last byte, ends the period
    for (uint32_t rec : {r.a(0), r.b(0)})
        EXPECT_EQ(r.byteAt(rec + 408), 0xFD);
    EXPECT_EQ(r.state.slot, 1);
    EXPECT_EQ(r.state.mark_index, 0u);
    EXPECT_EQ(r.state.total_minutes, 2880u);
    EXPECT_EQ(r.at(kLog + 8, 4), (Bytes{0x40, 0x0B, 0, 0}));
    for (uint32_t rec : {r.a(1), r.b(1)}) {
        EXPECT_EQ(r.byteAt(rec), 0xAA);
        EXPECT_EQ(r.at(rec + 8, 8), (Bytes{0x40, 0x0B, 0, 0, 0xFF, 1, 0, 0}));
    }
}

TEST(RunTimeRecorder, ARestartContinuesTheCountAndATornCopyIsRepaired)
{
    RecorderRig r;
    r.rec.step(true);
    r.minutes(40);   // a period of 40 minutes
    {
        ClockRecordState again;
        crr restarted(*r.m, again);
        restarted.step(true);
        EXPECT_EQ(again.total_minutes, 40u);
        EXPECT_EQ(again.slot, 1);
        EXPECT_EQ(again.sequence, 1u);
        EXPECT_EQ(r.at(kLog + 8, 4), (Bytes{40, 0, 0, 0}));   // the first period's minutes
        r.minutes(40, restarted);
    }
    // power lost while copy B of period 1 was written: A is whole, B holds only part of its start
    Bytes tornB(512, 0xFF);
    tornB[1] = 0x24;
    r.flash().write(r.b(1) + kFlash, tornB);
    ClockRecordState third;
    crr again(*r.m, third);
    again.step(true);
    EXPECT_EQ(r.byteAt(r.b(1)), 0xAA);             // repaired from A
    EXPECT_EQ(third.slot, 2);                       // period 1 counts as used
    EXPECT_EQ(third.total_minutes, 80u);
}

TEST(RunTimeRecorder, ARestartReadsTheTotalAndSequenceLowByteFirstAndCarriesThemOn)
{
    RecorderRig r;
    // A closed period: total 0x01000010 minutes, sequence entry 0x102 of the second log round.
    Bytes rec(16, 0xFF);
    rec[0] = 0xAA;
    const uint8_t fields[8] = {0x10, 0, 0, 0x01, 0xFF, 0x02, 0x01, 0x10};
    std::copy(fields, fields + 8, rec.begin() + 8);
    r.flash().write(kRecordsA + kFlash, rec);
    r.flash().write(kRecordsB + kFlash, rec);
    r.rec.step(true);
    EXPECT_EQ(r.state.total_minutes, 0x01000010u);
    EXPECT_EQ(r.state.sequence, 0x100103u);
    r.minutes(30);   // the next period opens with them
    ASSERT_EQ(r.byteAt(r.a(1)), 0xAA);
    EXPECT_EQ(r.at(r.a(1) + 13, 3), (Bytes{0x03, 0x01, 0x10}));
    EXPECT_EQ(r.at(r.state.log_entry + 13, 3), (Bytes{0x03, 0x01, 0x10}));
}

TEST(RunTimeRecorder, WhateverTheFlashHoldsNothingIsWrittenOutsideTheArea)
{
    RecorderRig r;
    // a valid-looking record whose sequence is blank, as after a torn first write
    Bytes rec(16, 0xFF);
    rec[0] = 0xAA;
    rec[8] = 10;
    rec[9] = rec[10] = rec[11] = 0;
    r.flash().write(kRecordsA + kFlash, rec);
    r.flash().write(kRecordsB + kFlash, rec);
    r.flash().clearLog();
    r.rec.step(true);
    EXPECT_EQ(r.state.sequence, 0u);
    EXPECT_EQ(r.state.log_entry, kLog);
    for (const auto& op : r.flash().log()) {
        if (op.opcode == 0x02 || op.opcode == 0x20) {
            EXPECT_GE(op.address, kHead + kFlash);
            EXPECT_LT(op.address, kLog + 62 * 4096 + kFlash);
        }
    }
}

TEST(RunTimeRecorder, SequenceAdvancesThroughTheLogAndWraps)
{
    RecorderRig r;
    r.rec.step(true);
    r.flash().clearLog();
    EXPECT_EQ(r.rec.get_new_seq(5, 15615), 15616u);
    EXPECT_EQ(r.state.log_sector, 61);
    bool erased1216 = false;
    for (const auto& op : r.flash().log())
        erased1216 |= op.opcode == 0x20 && op.address == (1216u + 627u) * 4096u;
    EXPECT_TRUE(erased1216);
    EXPECT_EQ(r.rec.get_new_seq(5, 15616 | (2u << 20)), 3u << 20);
    EXPECT_EQ(r.state.log_entry, kLog);
    // Entry 300 is entry 44 of log sector 1: its minutes there, the next entry right behind it.
    EXPECT_EQ(r.rec.get_new_seq(0x01020304, 300), 301u);
    EXPECT_EQ(r.at(0x4842C8, 4), (Bytes{0x04, 0x03, 0x02, 0x01}));
    EXPECT_EQ(r.state.log_sector, 1);
    EXPECT_EQ(r.state.log_entry, 0x4842D0u);
}

TEST(RunTimeRecorder, AClockSetWhilePendingReachesBothCopiesAndTheLogWhenThePeriodOpens)
{
    RecorderRig r;
    r.rec.step(true);
    r.minutes(10);
    r.rec.dealwith_record_timing();
    EXPECT_EQ(r.byteAt(r.a(0) + 44), 'Z');
    EXPECT_EQ(r.byteAt(r.b(0) + 44), 0xFF);
    r.minutes(20);
    EXPECT_EQ(r.byteAt(r.b(0) + 44), 'Z');
    EXPECT_EQ(r.byteAt(kLog + 12), 'Z');

    // while a period is open the log entry and copy A take it
    ClockRecordState s2;
    crr next(*r.m, s2);
    next.step(true);
    r.minutes(30, next);
    EXPECT_EQ(r.byteAt(r.a(1) + 44), 0xFF);
    next.dealwith_record_timing();
    EXPECT_EQ(r.byteAt(r.a(1) + 44), 'Z');
    EXPECT_EQ(r.byteAt(s2.log_entry + 12), 'Z');
}

TEST(RunTimeRecorder, TheManagersClockReadsTheBoardClock)
{
    RecorderRig r;
    platform::setSimClock(QDateTime(QDate(2025, 12, 31), QTime(23, 59, 58)));
    TimeRealType t;
    r.m->IT8563WE_Get(&t);
    EXPECT_EQ(t.year, 2025);
    EXPECT_EQ(t.month, 12);
    EXPECT_EQ(t.day, 31);
    EXPECT_EQ(t.hour, 23);
    EXPECT_EQ(t.minute, 59);
    EXPECT_EQ(t.second, 58);
}
