// Brightness control and the multifunction card on the simulated board: register 6 of both
// FPGAs, the brightness record in the flash behind FPGA 0, the card's light value.
#include <gtest/gtest.h>

#include <QMutexLocker>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "card_jobs_rig.h"

#include "core/global.h"
#include "core/utils.h"
#include "ledout/change_words.h"
#include "platform/clock.h"
#include "sim/card_chain.h"
#include "support/fpga_board.h"

namespace {

using fpgatest::JobRig;
using Bytes = std::vector<uint8_t>;
using namespace changeword;

constexpr uint32_t kRecord = 0x6CE000;

struct BriRig : JobRig {
    explicit BriRig(std::initializer_list<std::pair<int, int>> cards = {{0, 2}, {17, 1}}) : JobRig(cards)
    {
        fpga_manage::spin_hook = [] { G_timeTicks += 1; };
    }
    ~BriRig() { fpga_manage::spin_hook = nullptr; }

    uint8_t reg6(int f) { return fpga(f).reg(6); }
    Bytes stored(uint32_t n) { return flash(2).contents(kRecord, n); }
    void userPercent(uint16_t p)
    {
        ledpara::setWord(ledpara::kBrightness, p);
        m->set_bri_flag = 1;
        m->Brightness_hand_dealwith(1);
        m->set_bri_flag = 0;
    }
    // A record as PC software sends it: marker, command 3, store byte, length 49, mode, values.
    static Bytes record(uint8_t mode, uint8_t store, const Bytes& values, uint16_t length = 49)
    {
        Bytes rec(std::max<size_t>(9 + values.size(), 64), 0);
        const uint8_t head[9] = {0xAA, 3, store, 0, 0, 0, uint8_t(length), uint8_t(length >> 8), mode};
        std::copy(head, head + 9, rec.begin());
        std::copy(values.begin(), values.end(), rec.begin() + 9);
        return rec;
    }
    void put(const Bytes& rec) { std::memcpy(m->MCU_RAM_CMD, rec.data(), rec.size()); }
    void command(uint8_t mode, uint8_t store, Bytes values, uint16_t length = 49)
    {
        put(record(mode, store, values, length));
        m->Dealwith_mcu_ram();
    }
    // As a link starts the record PC software wrote: bit 2 of FPGA 0's register 2.
    void pcStarts(const Bytes& rec)
    {
        put(rec);
        m->write_to_register(2, 0x04, 0x04, 0);
    }
    // A manager of its own on this board, not brought up yet.
    void freshManager()
    {
        m = zeltest::freshFpgaManager();
        m->softinit();
    }
    // The next start: a new manager on the same board, flash and parameter image.
    bool restart()
    {
        freshManager();
        return ready();
    }
    // A stored record from PC software, then loaded as the next extension step loads it.
    void load(uint8_t mode, Bytes values)
    {
        command(mode, 0xAA, std::move(values));
        m->record_bright_change();
    }
    void at(int hour, int minute)
    {
        platform::setSimClock(QDateTime(QDate(2024, 5, 1), QTime(hour, minute, 0)));
        m->IT8563WE_Get(&m->current_time);
    }
};

}  // namespace

TEST(Brightness, UserPercentReachesBothFpgasAndIsStoredAsAFixedValue)
{
    BriRig rig;
    ASSERT_TRUE(rig.ready());
    rig.userPercent(100);
    EXPECT_EQ(rig.reg6(0), 255);
    EXPECT_EQ(rig.reg6(1), 255);
    EXPECT_TRUE(rig.fpga(0).reg(3) & 0x04);
    Bytes expect = {0xAA, 0x03, 0xAA, 0, 0, 0, 0x31, 0, 0x10};
    expect.insert(expect.end(), 48, 255);
    EXPECT_EQ(rig.stored(57), expect);

    // 3 % is 7, raised to 15 in every mode but the two 8-bit value modes.
    const std::pair<uint8_t, uint8_t> rows[] = {{0, 15}, {1, 15}, {2, 15}, {16, 7}, {17, 7}};
    for (auto [mode, value] : rows) {
        rig.m->bri_mode = mode;
        rig.userPercent(3);
        EXPECT_EQ(rig.reg6(0), value) << int(mode);
        EXPECT_EQ(rig.reg6(1), value) << int(mode);
    }
}

TEST(Brightness, ALinkOnEitherFpgaIsEnoughToWriteBoth)
{
    BriRig rig({{17, 1}});   // one card, behind FPGA 1 only
    ASSERT_TRUE(rig.ready());
    rig.userPercent(50);
    EXPECT_EQ(rig.reg6(0), 127);
    EXPECT_EQ(rig.reg6(1), 127);
}

TEST(Brightness, AUserChangeWithoutAnyLinkIsStillStored)
{
    BriRig rig({});
    ASSERT_TRUE(rig.ready());
    rig.fpga(0).clearLog();
    rig.userPercent(50);
    EXPECT_EQ(rig.stored(10), (Bytes{0xAA, 0x03, 0xAA, 0, 0, 0, 0x31, 0, 0x10, 127}));
    EXPECT_EQ(rig.stored(57)[56], 127);
    for (const auto& a : rig.fpga(0).log())
        EXPECT_FALSE(a.word[0] == 0x04 && a.word[2] == 6);   // register 6 is not written
}

TEST(Brightness, AFixedLevelIsScaledAndShownAsPercent)
{
    BriRig rig;
    ASSERT_TRUE(rig.ready());
    rig.command(0, 0x11, {15});   // mode 0, level 15, not stored
    EXPECT_EQ(rig.reg6(0), 239);
    EXPECT_EQ(rig.reg6(1), 239);
    EXPECT_EQ(ledpara::word(ledpara::kBrightness), 94);   // 239: 94 % gives it, 93 % gives 237
    EXPECT_GE(rig.count(1), 1);
    EXPECT_EQ(rig.stored(1)[0], 0xFF);
    rig.command(0, 0x11, {0});    // level 0 wraps round to full
    EXPECT_EQ(rig.reg6(0), 255);
    EXPECT_EQ(rig.reg6(1), 255);
    rig.command(16, 0x11, {90});   // bit 4 aside, also mode 0: applied at once, as an 8-bit value
    EXPECT_EQ(rig.reg6(0), 90);
    EXPECT_EQ(rig.reg6(1), 90);
}

// A level applied while the outputs are set up again for a new LED size: the percent it shows is
// written once that change has ended, not lost.
TEST(Brightness, ALevelAppliedDuringAnLedSizeChangeIsShownOnceTheChangeEnds)
{
    BriRig rig;
    ASSERT_TRUE(rig.ready());
    ledpara::setWord(ledpara::kBrightness, 40);
    {
        QMutexLocker lock(&Utils::_led_para_init_mutex);
        g_set_led_setup = 0;
        g_set_led_para = 1;
    }
    rig.command(0, 0x11, {15});   // level 15, shown as 93 %
    EXPECT_EQ(rig.reg6(1), 239);
    EXPECT_EQ(ledpara::word(ledpara::kBrightness), 40) << "not while the outputs are set up again";
    ASSERT_TRUE(rig.passUntil([] { return g_set_led_para.load() == 0; }, 200));
    rig.pass();
    EXPECT_EQ(ledpara::word(ledpara::kBrightness), 94);   // 239: 94 % gives it, 93 % gives 237
}

TEST(Brightness, FpgasReadingBackDifferentValuesStoreNothing)
{
    BriRig rig;
    ASSERT_TRUE(rig.ready());
    rig.fpga(1).setReadOverride(6, 0x12);
    ledpara::setWord(ledpara::kBrightness, 50);
    rig.m->set_bri_flag = 1;
    EXPECT_EQ(rig.m->Brightness_hand_dealwith(1), 0);
    EXPECT_EQ(rig.stored(1)[0], 0xFF);
}

TEST(Brightness, TimedModeTakesTheHalfHourSlotOfTheClock)
{
    BriRig rig;
    ASSERT_TRUE(rig.ready());
    Bytes table(48);
    for (int i = 0; i < 48; ++i)
        table[size_t(i)] = uint8_t(100 + i);
    rig.load(17, table);
    ASSERT_EQ(rig.m->bri_mode.load(), 17);
    ASSERT_EQ(g_change[kBriTaskOn], 1u);
    rig.at(13, 59);
    rig.m->Brightness_time_change();
    EXPECT_EQ(rig.m->bri_last_slot, 27);
    EXPECT_EQ(rig.reg6(0), 127);
    rig.at(14, 0);
    rig.m->Brightness_time_change();
    EXPECT_EQ(rig.m->bri_last_slot, 28);
    EXPECT_EQ(rig.reg6(1), 128);
    rig.at(23, 59);
    rig.m->Brightness_time_change();
    EXPECT_EQ(rig.m->bri_last_slot, 47);
    // The same slot again: applied once more, then left alone.
    rig.fpga(0).clearLog();
    for (int i = 0; i < 3; ++i)
        rig.m->Brightness_time_change();
    EXPECT_EQ(rig.fpga(0).registerReads(6), 2);   // one apply: the masked write's read and the read-back
}

TEST(Brightness, AutomaticModeFollowsTheCardOneStepAPassAndFallsToFullWhenItIsSilent)
{
    BriRig rig({{0, 1}, {5, 2}});
    sim::SimConfig c = sim::config();
    c.multifunctionCard = true;
    c.multifunctionPort = 5;
    sim::setConfig(c);
    ASSERT_TRUE(rig.ready());
    sim::cardChain().setLightValue(200);
    rig.load(2, {});
    ASSERT_EQ(rig.m->bri_mode.load(), 2);
    g_change[kBriValue] = 190;
    sim::cardChain().setLightValue(200, false);   // a reading the card marks as not valid
    rig.m->Brightness_auto_change();
    EXPECT_EQ(g_change[kBriValue], 190u);
    sim::cardChain().setLightValue(200);
    for (int pass = 0; pass < 10; ++pass) {
        rig.m->Brightness_auto_change();
        EXPECT_EQ(g_change[kBriValue], 191u + unsigned(pass));
    }
    EXPECT_EQ(rig.reg6(0), 200);
    EXPECT_EQ(g_change[kVmfDest], 0x5000u);
    EXPECT_EQ(g_change[kVmfGroup], 2u);
    rig.m->Brightness_auto_change();
    EXPECT_EQ(g_change[kBriValue], 200u);

    sim::CardChain::PortFaults silent;
    silent.silent = true;
    sim::cardChain().setFaults(5, silent);
    for (int pass = 0; pass < 9; ++pass)
        rig.m->Brightness_auto_change();
    EXPECT_EQ(g_change[kBriValue], 200u);
    rig.m->Brightness_auto_change();
    EXPECT_EQ(g_change[kBriValue], 255u);
    EXPECT_EQ(rig.reg6(1), 255);
}

TEST(Brightness, AutomaticStepRunsOnceAtLeast200TicksHavePassed)
{
    BriRig rig;
    ASSERT_TRUE(rig.ready());
    // (mode, due after): the automatic step every 200 ticks, the fixed step every 1000
    const std::pair<uint8_t, uint32_t> rows[] = {{2, 200}, {16, 1000}};
    for (auto [mode, due] : rows) {
        rig.load(mode, {80});
        ASSERT_EQ(rig.m->bri_mode.load(), mode);
        const uint32_t start = G_timeTicks;
        g_change[kBriTick] = start;
        G_timeTicks = start + due - 1;
        rig.m->Brightness_task();
        EXPECT_EQ(g_change[kBriTick], start) << int(mode);
        G_timeTicks = start + due;
        rig.m->Brightness_task();
        EXPECT_EQ(g_change[kBriTick], start + due) << int(mode);
    }
}

TEST(Brightness, AQuietWorkerWakesOnTheTickOfTheTasksNextStep)
{
    BriRig rig;
    ASSERT_TRUE(rig.ready());
    g_change[kBriTaskOn] = 0;
    EXPECT_EQ(rig.m->brightnessDue(7), 7u) << "no task, nothing due";
    rig.load(2, {});
    g_change[kBriTick] = 5000;
    EXPECT_EQ(rig.m->brightnessDue(7), 5200u) << "automatic";
    rig.load(16, {80});
    g_change[kBriTick] = 5000;
    EXPECT_EQ(rig.m->brightnessDue(7), 6000u) << "fixed";
}

// The PC's erase removes its record; what the wall shows stays, kept as the box's own fixed 8-bit
// record (from the percent alone a start would show another value: level 7 shows 111, 43 %, which
// gives 109).
TEST(Brightness, ErasingTheRecordFromThePcKeepsWhatShowsAsTheBoxsOwnRecord)
{
    BriRig rig;
    ASSERT_TRUE(rig.ready());
    rig.load(1, Bytes(48, 7));
    ASSERT_EQ(g_change[kBriTaskOn], 1u);
    g_change[kVmfFailCount] = 4;
    g_change[kBriReload] = 0;
    rig.command(1, 0x33, Bytes(48, 9));   // neither store nor erase: the record stays
    EXPECT_EQ(rig.stored(10)[9], 7);
    EXPECT_EQ(g_change[kBriReload], 0u);
    EXPECT_EQ(g_change[kVmfFailCount], 0u);
    g_change[kVmfFailCount] = 4;
    rig.m->Brightness_hand_dealwith(1);
    ASSERT_EQ(rig.reg6(0), 111);
    rig.command(1, 0x55, {});
    EXPECT_EQ(rig.stored(10), (Bytes{0xAA, 0x03, 0xAA, 0, 0, 0, 0x31, 0, 0x10, 111}));
    EXPECT_EQ(g_change[kBriReload], 1u);
    EXPECT_EQ(g_change[kVmfFailCount], 0u);
    rig.m->record_bright_change();
    EXPECT_EQ(rig.m->bri_mode.load(), 16);
    EXPECT_EQ(g_change[kBriValue], 111u);
}

// A flash that does not answer (busy past its bound) says nothing about the record: the running
// mode stays and the load is tried again, and a store into it is not taken for stored.
TEST(Brightness, AFlashThatDoesNotAnswerIsNeitherNoRecordNorAStoredOne)
{
    BriRig rig;
    ASSERT_TRUE(rig.ready());
    rig.load(16, {200});
    ASSERT_EQ(g_change[kBriTaskOn], 1u);
    g_change[kBriReload] = 0;
    rig.flash(2).setStuckBusy(true);
    rig.m->record_bright_change();
    EXPECT_EQ(g_change[kBriTaskOn], 1u);
    EXPECT_EQ(g_change[kBriValue], 200u);
    EXPECT_EQ(g_change[kBriReload], 1u);
    rig.command(1, 0xAA, Bytes(48, 9));
    EXPECT_EQ(g_change[kBriReload], 1u);
    g_change[kBriReload] = 0;
    rig.command(1, 0x55, {});   // nor an erase for erased
    EXPECT_EQ(g_change[kBriReload], 0u);
    rig.flash(2).setStuckBusy(false);
    EXPECT_EQ(rig.stored(10)[9], 200);
}

TEST(Brightness, ARecordLongerThanTheCommandRamIsNotStored)
{
    BriRig rig;
    ASSERT_TRUE(rig.ready());
    rig.flash(2).clearLog();
    rig.command(1, 0xAA, Bytes(48, 7), 1017);   // 1017 + 8 bytes would be programmed
    EXPECT_TRUE(rig.flash(2).log().empty());
    EXPECT_EQ(g_change[kBriReload], 0u);
}

TEST(Brightness, FixedStepAppliesFiveTimesTenSecondsApart)
{
    BriRig rig;
    ASSERT_TRUE(rig.ready());
    // Both fixed modes run the fixed step: the 8-bit value as it is, the 4-bit level scaled.
    const std::pair<uint8_t, uint8_t> rows[] = {{16, 80}, {0, 79}};
    for (auto [mode, value] : rows) {
        rig.load(mode, {uint8_t(mode == 0 ? 5 : 80)});
        rig.fpga(0).clearLog();
        for (int i = 0; i < 8; ++i) {
            G_timeTicks += 1000;
            rig.m->Brightness_task();
        }
        EXPECT_EQ(g_change[kBriRepeat], 5u) << int(mode);
        EXPECT_EQ(rig.reg6(0), value) << int(mode);
    }
}

TEST(MultifunctionCard, FoundOnTheFirstMarkedPortAndAskedThere)
{
    BriRig rig;
    ASSERT_TRUE(rig.bringUp());
    // Where the search leaves each port's status byte in an FPGA's parameter block.
    constexpr uint16_t kStatusAt[16] = {104, 106, 112, 114, 562, 566, 570, 574,
                                        642, 646, 650, 654, 658, 662, 666, 670};
    auto mark = [&](int f, int port) { rig.m->MCU_RAM_PARA_func[f][kStatusAt[port]] = 1; };
    mark(1, 2);
    rig.m->Brightness_check_VMF();
    EXPECT_EQ(g_change[kVmfDest], 0x6000u);
    EXPECT_EQ(g_change[kVmfGroup], 5u);
    mark(0, 9);
    rig.m->Brightness_check_VMF();
    EXPECT_EQ(g_change[kVmfDest], 0x5000u);
    EXPECT_EQ(g_change[kVmfGroup], 3u);

    sim::cardChain().clearLog();
    rig.m->Send_read_VMF_data_cmd();
    auto sent = sim::cardChain().received(9);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].size(), 19u);
    EXPECT_EQ(sent[0][0] | sent[0][1] << 8, 0x5000);
    EXPECT_EQ(sent[0][5], 0xBB);
    EXPECT_EQ(sent[0][9], 0x61);

    // Port 2 of FPGA 1 alone: the request leaves on that port of FPGA 1.
    std::memset(rig.m->MCU_RAM_PARA_func[0], 0, 1024);
    rig.m->Brightness_check_VMF();
    sim::cardChain().clearLog();
    rig.m->Send_read_VMF_data_cmd();
    EXPECT_EQ(sim::cardChain().received(18).size(), 1u);

    // The last port of FPGA 0: the last place in group 4, still on FPGA 0.
    std::memset(rig.m->MCU_RAM_PARA_func[0], 0, 1024);
    std::memset(rig.m->MCU_RAM_PARA_func[1], 0, 1024);
    mark(0, 15);
    rig.m->Brightness_check_VMF();
    EXPECT_EQ(g_change[kVmfDest], 0x7000u);
    EXPECT_EQ(g_change[kVmfGroup], 4u);
    sim::cardChain().clearLog();
    rig.m->Send_read_VMF_data_cmd();
    ASSERT_EQ(sim::cardChain().received(15).size(), 1u);
    EXPECT_EQ(sim::cardChain().received(15)[0][0] | sim::cardChain().received(15)[0][1] << 8, 0x7000);

    std::memset(rig.m->MCU_RAM_PARA_func[0], 0, 1024);
    rig.m->Brightness_check_VMF();
    sim::cardChain().clearLog();
    rig.m->Brightness_read_VMF_value();
    EXPECT_EQ(g_change[kVmfFailCount], 1u);   // no card: nothing sent, counted as a read without a reply
    for (int port = 0; port < 32; ++port)
        EXPECT_TRUE(sim::cardChain().received(port).empty()) << port;
}

TEST(MultifunctionCard, WrongOrShortRepliesAreCountedAndNotTaken)
{
    BriRig rig;
    std::memset(rig.m->vmf_data, 0x33, sizeof rig.m->vmf_data);
    g_change[kVmfExpectCmd] = 0x61;
    auto reply = [&](uint8_t cmd, uint16_t len, uint8_t status = 0) {
        rig.m->vmf_reply_cmd = cmd;
        rig.m->vmf_reply_len = len;
        rig.m->vmf_reply[0] = status;
        std::memset(rig.m->vmf_reply + 1, 0x44, 128);
        rig.m->vmf_reply_ready = 1;
        rig.m->VMF_data_back_result();
    };
    reply(0xA0, 140);
    EXPECT_EQ(rig.m->shadow(85, 0), 1);
    reply(0x61, 30);   // cut short: the stale bytes behind it are not data
    EXPECT_EQ(rig.m->shadow(85, 0), 2);
    reply(0x61, 140, 1);   // the card reports a failure
    EXPECT_EQ(rig.m->shadow(85, 0), 3);
    EXPECT_EQ(g_change[kVmfResult], 0u);
    EXPECT_EQ(rig.m->vmf_data[0], 0x33);
    EXPECT_EQ(rig.m->vmf_reply_ready, 0);
    reply(0x61, 140);
    EXPECT_EQ(rig.m->vmf_data[0], 0x44);
    EXPECT_EQ(g_change[kVmfResult], 1u);
}

// A percent set by the user reads back as itself however often the box starts again: each start
// loads the stored value and reports the percent it shows.
TEST(Brightness, EveryPercentSurvivesTenRestartsUnchanged)
{
    BriRig rig;
    ASSERT_TRUE(rig.ready());
    for (uint16_t p = 0; p <= 100; ++p) {
        rig.m->bri_mode = p % 2 ? 0 : 16;   // set in a level mode (raised to 15) or a value mode
        rig.userPercent(p);
        for (int start = 0; start < 10; ++start) {
            rig.m->record_bright_change();
            rig.m->Brightness_hand_dealwith(1);
        }
        EXPECT_EQ(ledpara::word(ledpara::kBrightness), p);
        EXPECT_EQ(rig.reg6(1), p % 2 ? std::max(p * 255 / 100, 15) : p * 255 / 100) << p;
        // A start whose parameter file was lost keeps the FPGA's value only: the percent shown is
        // the one that gives that value (90 % was 229, which 89 % does not give). Below 6 % a
        // level mode raised the value to 15, which is 6 %.
        ledpara::setWord(ledpara::kBrightness, p == 100 ? 50 : 100);
        rig.m->record_bright_change();
        rig.m->Brightness_hand_dealwith(1);
        EXPECT_EQ(ledpara::word(ledpara::kBrightness), p % 2 && p < 6 ? 6 : p) << p;
    }
}

// A PC's brightness record of each mode, started by register 2, on a box started without a stored
// record (the light-up stores the word, but nothing was loaded) and on boxes started on a stored
// record of either unit: the LEDs (register 6 of both FPGAs), the brightness word and the stored
// record say the same. A fixed record is shown at once; a restart before its load (a PC polling
// all the time keeps the load off) keeps it; the other modes show once loaded and their task ran,
// and a restart keeps that too. A 4-bit level L is sent as 16 L - 1, an 8-bit value as it is; the
// timed modes take the half-hour slot of the clock (10:15, slot 20), the automatic mode the card's
// value; an erase (of a fixed record too, whose value is shown) keeps what is shown as the box's own
// fixed 8-bit record.
// A user's word committed after a fixed level record (stored and loaded, or not stored) is an
// 8-bit value stored as a fixed 8-bit record: from then on the LEDs show that value, not a level.
TEST(Brightness, APcRecordOfEachModeIsShownStoredAndKeptOverARestart)
{
    // The word shows value v as v × 100 / 255, or as the percent above when that one gives v.
    auto shows = [](uint16_t word, uint8_t v) {
        const unsigned p = v * 100u / 255u;
        return word == p || (word == p + 1 && word * 255u / 100u == v);
    };
    auto fixedRecord = [](uint8_t v) {   // the record a change of the word stores
        Bytes rec = {0xAA, 0x03, 0xAA, 0, 0, 0, 0x31, 0, 0x10};
        rec.insert(rec.end(), 48, v);
        return rec;
    };
    Bytes levels(48), values(48);
    for (int i = 0; i < 48; ++i) {
        levels[size_t(i)] = uint8_t(1 + i % 15);   // slot 20: level 6, sent as 95
        values[size_t(i)] = uint8_t(100 + i);      // slot 20: 120
    }
    const struct Start {
        const char* name;
        Bytes stored;    // empty: no record
        uint8_t level;   // the level or value the load leaves (16 without a record)
        uint16_t word;   // the saved word, showing what the record shows
    } starts[] = {
        {"no record", {}, 16, 40},
        {"8-bit record 102", BriRig::record(16, 0xAA, Bytes(48, 102)), 102, 40},
        {"level record 12", BriRig::record(0, 0xAA, {12}), 12, 75},   // 191
        // A schedule shows the slot of the clock from the light-up, a level as a level; the card's
        // value starts from what the saved word says.
        {"timed level record", BriRig::record(1, 0xAA, levels), 6, 37},    // slot 20: 95
        {"timed value record", BriRig::record(17, 0xAA, values), 120, 47},
        {"automatic record", BriRig::record(2, 0xAA, {}), 102, 40},
    };
    const struct Row {
        uint8_t mode, store;
        Bytes values;
        int reg6;   // -1: the automatic mode (the card's value) or an erase (what was shown)
        uint16_t user = 0;   // a percent the user commits once the record ran (0: none)
    } rows[] = {
        {0, 0xAA, {5}, 79},    {0, 0xAA, {15}, 239},   {16, 0xAA, {166}, 166}, {16, 0xAA, {95}, 95},
        {1, 0xAA, levels, 95}, {17, 0xAA, values, 120}, {2, 0xAA, {}, -1},     {1, 0x55, {}, -1},
        {16, 0x55, {133}, 133}, {0, 0x55, {6}, 95},
        {0, 0xAA, {5}, 79, 50}, {0, 0x00, {5}, 79, 50},   // then 50 %: 127
        // A word while a schedule runs, before its step and then across a slot (10:30).
        {1, 0xAA, levels, 95, 50}, {17, 0xAA, values, 120, 70}, {2, 0xAA, {}, -1, 30},
    };
    for (const Start& st : starts) {
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(st.name) + ", mode " + std::to_string(row.mode) + " store " +
                         std::to_string(row.store) + " value " + std::to_string(row.values.empty() ? 0 : row.values[0]) +
                         " user " + std::to_string(row.user));
            BriRig rig({{0, 1}, {5, 2}});
            rig.freshManager();
            sim::SimConfig c = sim::config();
            c.multifunctionCard = true;
            c.multifunctionPort = 5;
            sim::setConfig(c);
            ledpara::setWord(ledpara::kBrightness, st.word);
            if (!st.stored.empty())
                rig.flash(2).write(kRecord, Bytes(st.stored.begin(), st.stored.begin() + 57));
            rig.at(10, 15);
            ASSERT_TRUE(rig.ready());
            const uint8_t before = rig.reg6(0);
            ASSERT_TRUE(shows(st.word, before)) << "started on " << int(before);
            sim::cardChain().setLightValue(uint8_t(before + 2));   // two steps of the automatic mode from what shows
            const Bytes rec = BriRig::record(row.mode, row.store, row.values);
            const bool erase = row.store == 0x55, fixed = (row.mode & ~0x10) == 0;
            uint8_t want = uint8_t(row.reg6 >= 0 ? row.reg6 : erase ? before : before + 2);
            Bytes kept = erase ? fixedRecord(want) : Bytes(rec.begin(), rec.begin() + 57);

            rig.pcStarts(rec);
            // Shown from the reply on: a fixed record's value, a stored schedule's slot, and the
            // card's mode what showed until the card's steps move it.
            if (fixed || erase || row.store == 0xAA) {
                const uint8_t atOnce = row.mode == 2 && !erase ? before : want;
                EXPECT_EQ(rig.reg6(0), atOnce) << "at once";
                EXPECT_EQ(rig.reg6(1), atOnce) << "at once";
                EXPECT_TRUE(shows(ledpara::word(ledpara::kBrightness), atOnce))
                    << "at once, word " << ledpara::word(ledpara::kBrightness);
            }
            if (row.user != 0) {
                // The stored record is loaded first, then the user commits the word; the fixed
                // step then repeats what the word set.
                ASSERT_TRUE(rig.passUntil([] { return g_change[kBriReload] == 0; }, 6000));
                rig.userPercent(row.user);
                want = uint8_t(row.user * 255 / 100);
                kept = fixedRecord(want);
                rig.pass(500);
                rig.at(10, 30);
                rig.pass(6000);
                EXPECT_EQ(rig.reg6(0), want) << "after the word";
                EXPECT_EQ(rig.reg6(1), want) << "after the word";
                EXPECT_EQ(ledpara::word(ledpara::kBrightness), row.user);
            }
            EXPECT_EQ(rig.stored(57), kept);

            // Two starts: the first right away, before the record was loaded; the second once
            // it was loaded and the task ran its steps (60 s).
            uint16_t word = 0;
            for (int start = 0; start < 2; ++start) {
                SCOPED_TRACE("start " + std::to_string(start + 1));
                ASSERT_TRUE(rig.restart());
                auto settled = [&] { return g_change[kBriReload] == 0 && rig.reg6(0) == want && rig.reg6(1) == want; };
                ASSERT_TRUE(rig.passUntil(settled, 6000)) << "register 6: " << int(rig.reg6(0)) << ", " << int(rig.reg6(1));
                rig.pass(6000);
                EXPECT_EQ(rig.reg6(0), want);
                EXPECT_EQ(rig.reg6(1), want);
                const uint16_t now = ledpara::word(ledpara::kBrightness);
                EXPECT_TRUE(shows(now, want)) << "word " << now;
                if (start > 0) {
                    EXPECT_EQ(now, word);
                }
                word = now;
                EXPECT_EQ(rig.stored(57), kept);
            }
        }
    }
}

// A PC's records run on another thread than the manager's (their flash work holds no link): fixed
// brightness records and on/off schedules, run while the manager's passes run their brightness and
// schedule steps. The last record holds: both FPGAs show its value and the flash keeps it.
TEST(Brightness, RecordsRunOnAnotherThreadBesideTheManagersPassesEndOnTheLastOne)
{
    BriRig rig;
    ASSERT_TRUE(rig.ready());
    rig.at(10, 15);
    constexpr int kRecords = 20;
    Bytes schedule = {0xAA, 2, 0xAA, 0, 0, 0, 5, 0, 1, 0x08, 0x00, 0x22, 0x30};
    rig.m->run_command_record(schedule.data());   // stored: the schedule's step runs
    schedule[2] = 0;                               // from here on in memory only
    std::atomic<bool> done{false};
    std::thread records([&] {
        for (int i = 0; i < kRecords; ++i) {
            rig.m->run_command_record(BriRig::record(16, 0xAA, Bytes(48, uint8_t(100 + i))).data());
            for (int k = 0; k < 50; ++k)
                rig.m->run_command_record(schedule.data());
        }
        done = true;
    });
    const bool ended = rig.passUntil([&] { return done.load(); }, 1000000);
    records.join();
    ASSERT_TRUE(ended);
    const uint8_t last = 100 + kRecords - 1;
    ASSERT_TRUE(rig.passUntil([&] { return rig.reg6(0) == last && rig.reg6(1) == last; }, 6000))
        << int(rig.reg6(0)) << ", " << int(rig.reg6(1));
    const Bytes rec = BriRig::record(16, 0xAA, Bytes(48, last));
    EXPECT_EQ(rig.stored(57), Bytes(rec.begin(), rec.begin() + 57));
    EXPECT_EQ(rig.m->onoff_count, 1);
    EXPECT_EQ(rig.m->on_hour[0], 8);
}

// A user's word and a PC's fixed record on one connection (the link takes the record's start in
// order, the record runs apart, the word reaches the manager with its next pass): the later one
// is shown, stored and said by the word, whichever runs first.
TEST(Brightness, OnOneConnectionTheLaterOfARecordAndAWordWins)
{
    for (bool wordFirst : {true, false}) {
        SCOPED_TRACE(wordFirst ? "word, then record" : "record, then word");
        BriRig rig;
        rig.freshManager();
        ASSERT_TRUE(rig.ready());
        const Bytes rec = BriRig::record(16, 0xAA, Bytes(48, 200));
        auto word = [&] {
            ledpara::setWord(ledpara::kBrightness, 60);   // 153
            rig.m->set_bri_flag = 1;                      // committed: the engine raised the request
        };
        if (wordFirst)
            word();
        rig.put(rec);
        rig.m->recordTaken(rig.m->MCU_RAM_CMD);
        if (!wordFirst) {
            word();
            rig.pass(2);   // the word is applied before the record runs
        }
        rig.m->run_command_record(rec.data());
        rig.pass(3000);
        const uint8_t want = wordFirst ? 200 : 153;
        EXPECT_EQ(rig.reg6(0), want);
        EXPECT_EQ(rig.reg6(1), want);
        EXPECT_EQ(ledpara::word(ledpara::kBrightness), wordFirst ? 78 : 60);
        const Bytes kept = wordFirst ? rec : BriRig::record(16, 0xAA, Bytes(48, 153));
        EXPECT_EQ(rig.stored(57), Bytes(kept.begin(), kept.begin() + 57));
    }
}
