// The command record of PC software: the clock command, the on/off schedule with its storage in
// the flash behind FPGA 0, and the schedule's step on the simulated clock.
#include <gtest/gtest.h>

#include <QMutexLocker>

#include <cstring>
#include <string>
#include <vector>

#include "core/utils.h"
#include "fpga_rig.h"

#include "ledout/clock_record_run.h"
#include "platform/clock.h"
#include "platform/command_runner.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kSchedule = 0x6CD000;

struct ScheduleRig : fpgatest::Rig {
    void record(uint8_t command, uint8_t store, const Bytes& payload, uint16_t length = 0)
    {
        std::memset(m->MCU_RAM_CMD, 0, 64);
        if (length == 0)
            length = static_cast<uint16_t>(payload.size());
        const uint8_t head[8] = {0xAA, command, store, 0, 0, 0, uint8_t(length), uint8_t(length >> 8)};
        std::memcpy(m->MCU_RAM_CMD, head, 8);
        std::memcpy(m->MCU_RAM_CMD + 8, payload.data(), payload.size());
    }
    void at(int day, int hour, int minute)
    {
        platform::setSimClock(QDateTime(QDate(2024, 5, day), QTime(hour, minute, 30)));
        m->IT8563WE_Get(&m->current_time);
        m->dealwith_onoff();
    }
    bool blank() { return (fpga(0).reg(0) & 0x04) != 0; }
    Bytes stored(uint32_t n) { return flash(2).contents(kSchedule, n); }
    // The manager's passes on the board's clock at that minute (its clock read comes every 26).
    void passAt(const QDate& d, int hour, int minute)
    {
        platform::setSimClock(QDateTime(d, QTime(hour, minute, 20)));
        pass(30);
    }
    // The clock record of PC software, BCD.
    bool setClock(const QDate& d, int hour, int minute)
    {
        auto b = [](int v) { return uint8_t((v / 10) << 4 | v % 10); };
        record(1, 0, {b(d.year() % 100), b(d.year() / 100), b(d.month()), b(d.day()), b(hour), b(minute), 0});
        return m->run_command_record(m->MCU_RAM_CMD);
    }
    bool lightUp()
    {
        return passUntil([&] {
            return m->check_step(0) == fpga_manage::kCheckLit && m->check_step(1) == fpga_manage::kCheckLit;
        });
    }
};

// 08:00 on, 22:30 off.
const Bytes kDay = {1, 0x08, 0x00, 0x22, 0x30};

}  // namespace

TEST(ClockCommand, SetsTheBoardClockThroughTheJournaledShellAndMarksTheRecorder)
{
    ScheduleRig rig;
    ASSERT_TRUE(rig.bringUp());
    rig.m->clock_record->step(true);   // the recorder is open
    zeltest::simCommands().clearJournal();
    rig.record(1, 0, {0x24, 0x20, 0x03, 0x07, 0x09, 0x05, 0x00});
    rig.m->write_to_register(2, 0x04, 0x04, 0);   // PC software starts the record
    const auto journal = zeltest::simCommands().journal();
    ASSERT_EQ(journal.size(), 1u);
    EXPECT_EQ(journal[0], "date \"2024-3-7 9:5:0\";hwclock -wu");
    TimeRealType t;
    rig.m->IT8563WE_Get(&t);
    EXPECT_EQ(t.year, 2024);
    EXPECT_EQ(t.month, 3);
    EXPECT_EQ(t.hour, 9);
    EXPECT_EQ(t.minute, 5);
    EXPECT_EQ(g_clock_record.clock_set, 'Z');

    // without the marker nothing runs
    zeltest::simCommands().clearJournal();
    rig.m->MCU_RAM_CMD[0] = 0xAB;
    rig.m->Dealwith_mcu_ram();
    EXPECT_TRUE(zeltest::simCommands().journal().empty());
}

TEST(OnOffSchedule, EntriesFireOnceAtTheirMinuteAndAreArmedAgainTheNextDay)
{
    ScheduleRig rig;
    ASSERT_TRUE(rig.bringUp());
    rig.record(2, 0xAA, kDay);
    rig.m->Dealwith_mcu_ram();
    EXPECT_EQ(rig.m->shadow(66, 0), 1);
    EXPECT_EQ(rig.stored(13), Bytes({0xAA, 2, 0xAA, 0, 0, 0, 5, 0, 1, 0x08, 0x00, 0x22, 0x30}));

    rig.at(1, 7, 59);
    EXPECT_FALSE(rig.blank());
    rig.at(1, 22, 30);
    EXPECT_TRUE(rig.blank());
    rig.at(1, 22, 30);
    rig.m->SCREEN_fpgactrl_status(1);
    rig.at(1, 22, 30);   // the same minute again: fired already
    EXPECT_FALSE(rig.blank());
    rig.at(1, 23, 0);
    rig.m->SCREEN_fpgactrl_status(0);
    rig.at(2, 0, 1);     // a new day arms both
    rig.at(2, 8, 0);
    EXPECT_FALSE(rig.blank());
    rig.at(2, 22, 30);
    EXPECT_TRUE(rig.blank());
}

TEST(OnOffSchedule, EqualTimesSwitchOnThenOffAndMoreThanFourEntriesKeepFour)
{
    ScheduleRig rig;
    ASSERT_TRUE(rig.bringUp());
    rig.record(2, 0, {6, 0x10, 0x00, 0x10, 0x00, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5});
    rig.m->Dealwith_mcu_ram();
    EXPECT_EQ(rig.m->onoff_count, 4);
    EXPECT_EQ(rig.m->on_armed[4], 0);
    rig.m->SCREEN_fpgactrl_status(0);
    rig.fpga(0).clearLog();
    rig.at(3, 10, 0);
    EXPECT_TRUE(rig.blank());
    int writes = 0;
    for (const auto& a : rig.fpga(0).log())
        writes += a.word[0] == 0x04 && a.word[2] == 0 && !a.data.empty();
    EXPECT_GE(writes, 2);   // on, then off
}

TEST(OnOffSchedule, OtherStoreBytesChangeOnlyMemoryAndTheStoredScheduleIsLoadedAtBringUp)
{
    ScheduleRig rig;
    ASSERT_TRUE(rig.bringUp());
    rig.flash(2).clearLog();
    rig.record(2, 0x33, kDay);
    rig.m->Dealwith_mcu_ram();
    EXPECT_EQ(rig.m->onoff_count, 1);
    EXPECT_EQ(rig.m->shadow(66, 0), 0);
    EXPECT_TRUE(rig.flash(2).log().empty());
    rig.passAt(QDate(2024, 5, 1), 22, 30);   // and it runs
    EXPECT_TRUE(rig.blank());

    rig.record(2, 0xAA, kDay);
    rig.m->Dealwith_mcu_ram();
    rig.m->onoff_count = 0;
    rig.m->MCU_RAM_CMD[0] = 0xAB;   // a client's record, not started yet, stays as written
    rig.m->record_onoff_time(2);
    EXPECT_EQ(rig.m->onoff_count, 1);
    EXPECT_EQ(rig.m->off_minute[0], 30);
    EXPECT_EQ(rig.m->MCU_RAM_CMD[0], 0xAB);

    rig.record(2, 0x55, {0});
    rig.m->Dealwith_mcu_ram();
    EXPECT_EQ(rig.m->shadow(66, 0), 0);
    EXPECT_EQ(rig.stored(1)[0], 0xFF);
}

TEST(OnOffSchedule, TheSecondFpgaLoadsOnlyOnceTheFirstIsUpAndOversizedRecordsAreNotStored)
{
    ScheduleRig rig;
    Bytes stored = {0xAA, 2, 0xAA, 0, 0, 0, 5, 0, 1, 0x08, 0x00, 0x22, 0x30};
    rig.flash(2).write(kSchedule, stored);
    rig.m->record_onoff_time(3);   // FPGA 0 not up
    EXPECT_EQ(rig.m->onoff_count, 0);
    EXPECT_EQ(rig.m->shadow(66, 0), 0);

    ASSERT_TRUE(rig.bringUp());   // the bring-up loads it
    EXPECT_EQ(rig.m->onoff_count, 1);
    EXPECT_EQ(rig.m->shadow(66, 0), 1);

    rig.flash(2).clearLog();
    rig.record(2, 0xAA, kDay, 1020);
    rig.m->Dealwith_mcu_ram();
    EXPECT_TRUE(rig.flash(2).log().empty());
}

// A switch-off that falls into an LED-size change: the outputs are being set up again, so the
// screen word is written once the change has ended, and the bring-up after it keeps the wall dark.
TEST(OnOffSchedule, ASwitchOffDuringAnLedSizeChangeLeavesTheWallDarkAndTheWordClosed)
{
    ScheduleRig rig;
    ASSERT_TRUE(rig.bringUp());
    ledpara::setWord(ledpara::kScreenClosed, 0);
    rig.record(2, 0, kDay);
    rig.m->Dealwith_mcu_ram();
    {
        QMutexLocker lock(&Utils::_led_para_init_mutex);
        g_set_led_setup = 0;
        g_set_led_para = 1;
    }
    rig.pass();   // blanked for the size change
    rig.at(1, 22, 30);
    EXPECT_EQ(ledpara::word(ledpara::kScreenClosed), 0) << "not while the outputs are set up again";
    // The video engine's side: wait for the release, set the panel up, report 2.
    ASSERT_TRUE(rig.passUntil([] { return g_set_led_para.load() == 0; }, 200));
    g_set_led_para = 2;
    ASSERT_TRUE(rig.passUntil([&] { return rig.m->get_fpga_status() == 0; }, 300));
    ASSERT_TRUE(rig.bringUp());
    EXPECT_EQ(ledpara::word(ledpara::kScreenClosed), 1);
    EXPECT_GE(rig.count(1), 1);
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(rig.fpga(i).reg(0) & 0x04, 0x04) << "fpga " << i << " stays dark";
}

// A date the calendar has not is refused as the set-clock command refuses it: the shell is not
// asked, the clock stays, and the recorder marks no clock set.
TEST(ClockCommand, ADateTheCalendarHasNotIsRefusedAndMarksNoClockSet)
{
    ScheduleRig rig;
    ASSERT_TRUE(rig.bringUp());
    rig.m->clock_record->step(true);
    const struct {
        Bytes payload;
        bool taken;
    } rows[] = {
        {{0x24, 0x20, 0x13, 0x07, 0x09, 0x05, 0x00}, false},   // month 13
        {{0x26, 0x20, 0x02, 0x30, 0x09, 0x05, 0x00}, false},   // 30 February
        {{0x26, 0x20, 0x02, 0x29, 0x09, 0x05, 0x00}, false},   // 29 February, 2026
        {{0x24, 0x20, 0x04, 0x31, 0x09, 0x05, 0x00}, false},   // 31 April
        {{0x24, 0x20, 0x00, 0x07, 0x09, 0x05, 0x00}, false},   // month 0
        {{0x24, 0x20, 0x03, 0x07, 0x24, 0x00, 0x00}, false},   // hour 24
        {{0x24, 0x20, 0x03, 0x07, 0x09, 0x60, 0x00}, false},   // minute 60
        {{0x24, 0x20, 0x0A, 0x07, 0x09, 0x05, 0x00}, false},   // month 0x0A: not two digits
        {{0x24, 0x20, 0x03, 0x1F, 0x09, 0x05, 0x00}, false},   // day 0x1F
        {{0x28, 0x20, 0x02, 0x29, 0x09, 0x05, 0x00}, true},    // 29 February of a leap year
    };
    const QDateTime before(QDate(2023, 1, 2), QTime(3, 4, 5));
    for (const auto& row : rows) {
        SCOPED_TRACE(int(row.payload[2]) * 100 + row.payload[3]);
        platform::setSimClock(before);
        g_clock_record.clock_set = 0xFF;
        zeltest::simCommands().clearJournal();
        rig.record(1, 0, row.payload);
        EXPECT_EQ(rig.m->run_command_record(rig.m->MCU_RAM_CMD), row.taken);
        EXPECT_EQ(zeltest::simCommands().journal().size(), row.taken ? 1u : 0u);
        EXPECT_EQ(g_clock_record.clock_set == 'Z', row.taken);
        EXPECT_EQ(platform::localNow().date() == before.date(), !row.taken);
    }
}

// A start takes the state the stored schedule (08:00 on, 22:30 off) gives for the time: a start at
// night never lights the wall, and the screen word says what the wall shows.
TEST(OnOffSchedule, AStartTakesTheStateTheStoredScheduleGivesForTheTime)
{
    const struct {
        int hour, minute;
        bool dark;
    } rows[] = {{7, 59, true}, {8, 0, false}, {12, 0, false}, {22, 29, false}, {22, 30, true}, {0, 0, true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.hour * 100 + row.minute);
        ScheduleRig rig;
        rig.flash(2).write(kSchedule, {0xAA, 2, 0xAA, 0, 0, 0, 5, 0, 1, 0x08, 0x00, 0x22, 0x30});
        ledpara::setWord(ledpara::kScreenClosed, row.dark ? 0 : 1);   // the word says otherwise
        platform::setSimClock(QDateTime(QDate(2024, 5, 8), QTime(row.hour, row.minute, 10)));
        rig.m = zeltest::freshFpgaManager();
        rig.m->softinit();
        rig.fpga(0).clearLog();
        ASSERT_TRUE(rig.lightUp());
        rig.pass(3);
        EXPECT_EQ(rig.blank(), row.dark);
        EXPECT_EQ(zeltest::screenShown(rig.fpga(0)), !row.dark) << "the wall lit at some moment";
        EXPECT_EQ(ledpara::word(ledpara::kScreenClosed), row.dark ? 1 : 0);
    }
}

// A clock set takes the state the schedule gives for the new time, and any new date arms the
// day's switches again (also the same day of another month).
TEST(OnOffSchedule, AClockSetTakesTheScheduledStateAndANewDateArmsTheDay)
{
    ScheduleRig rig;
    ASSERT_TRUE(rig.lightUp());
    rig.record(2, 0xAA, kDay);
    ASSERT_TRUE(rig.m->run_command_record(rig.m->MCU_RAM_CMD));
    const QDate may8(2024, 5, 8), june8(2024, 6, 8);
    rig.passAt(may8, 8, 0);
    EXPECT_FALSE(rig.blank());
    ASSERT_TRUE(rig.setClock(may8, 23, 0));   // past the off minute
    rig.pass(3);
    EXPECT_TRUE(rig.blank());
    EXPECT_EQ(ledpara::word(ledpara::kScreenClosed), 1);
    ASSERT_TRUE(rig.setClock(june8, 7, 59));
    rig.pass(3);
    EXPECT_TRUE(rig.blank());
    rig.passAt(june8, 8, 0);
    EXPECT_FALSE(rig.blank()) << "the new date's switch-on";
    rig.passAt(june8, 22, 30);
    EXPECT_TRUE(rig.blank());
}
