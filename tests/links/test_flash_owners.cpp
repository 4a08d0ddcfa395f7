// Clients' flash commands on the flash behind both FPGAs (devices 2 and 3) and the video chip's
// flash (device 4), from several threads the way the links run them (on the link while the flash
// is free, else on the thread that runs commands apart), while the box stores its own brightness
// and schedule records in device 2. The flash behind the FPGAs takes the simulated board's times
// (an erase keeps the part busy for tens of milliseconds, a page program 0.7 ms, and the bus is
// free meanwhile; a write carries up to 64 KB). Each client has a region of its own on each
// device, judged by its own model of the part (an erase sets 0xFF, a program only clears bits);
// the records are judged by the simulated flash itself.
// ZEL_FLASH_RANDOM_SCALE=10 runs ten times the operations.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <QDateTime>

#include "core/zelrampara.h"
#include "engine/c331_manage.h"
#include "ledout/change_words.h"
#include "ledout/fpga_manage.h"
#include "ledout/fpga_para.h"
#include "link_client.h"
#include "links/apart_worker.h"
#include "links/message_deal.h"
#include "links/networkmanage.h"
#include "platform/clock.h"
#include "sim/fpga_model.h"
#include "sim/card_chain.h"
#include "sim/sim_board.h"
#include "sim/sim_clock.h"
#include "sim/video_chip.h"
#include "support/fpga_board.h"
#include "support/test_root.h"
#include "support/video_engine.h"

using namespace linktest;

namespace {

constexpr uint32_t kBrightnessRecord = 0x6CE000, kScheduleRecord = 0x6CD000;
constexpr uint32_t kRegionBase = 0x100000, kRegionSize = 0x20000;   // one per client and device
constexpr int kClients = 3;

int scale()
{
    const char* v = std::getenv("ZEL_FLASH_RANDOM_SCALE");
    return v && *v ? std::max(1, std::atoi(v)) : 1;
}

// One command as a link carries it out.
Bytes onLink(const Bytes& body)
{
    Bytes b = body;
    Bytes out(message_deal::kMaxReplyBody);
    unsigned n = message_deal::deal_on_link(b.data(), unsigned(b.size()), out.data(), unsigned(out.size()));
    if (n == message_deal::kRunApart)
        n = message_deal::deal_apart(b.data(), unsigned(b.size()), out.data(), unsigned(out.size()));
    out.resize(n);
    return out;
}

Bytes flashBody(uint8_t group, uint32_t address, uint16_t n, uint8_t device, uint8_t last, const Bytes& data = {})
{
    Bytes p = data;
    const uint8_t head[8] = {uint8_t(address), uint8_t(address >> 8), uint8_t(address >> 16), uint8_t(address >> 24),
                             uint8_t(n),       uint8_t(n >> 8),       device,                last};
    p.insert(p.begin(), head, head + sizeof head);
    return body(group, p);
}

// A client: random erases, writes and reads of its own regions, judged by its model.
struct FlashClient {
    FlashClient(int i, unsigned seed) : index(i), rng(seed) {}
    int index;
    std::mt19937 rng;
    std::map<uint8_t, Bytes> model;   // device -> its region as the part must hold it
    int reads = 0, wrongReads = 0, refused = 0;
    std::string firstFault;
    Client* link = nullptr;   // streams over the TCP link, when set

    uint32_t base() const { return kRegionBase + uint32_t(index) * kRegionSize; }
    uint32_t pick(uint32_t n) { return uint32_t(rng() % n); }
    void fault(const std::string& what)
    {
        if (firstFault.empty())
            firstFault = what;
    }

    void step()
    {
        if (link && pick(6) == 0)
            return stream();
        static constexpr uint8_t kDevices[] = {2, 3, 4};
        const uint8_t device = kDevices[pick(3)];
        Bytes& part = model[device];
        const unsigned op = pick(10);
        if (op < 2) {   // erase: mostly 4 KB sectors, sometimes a 32 KB or 64 KB block
            static constexpr struct {
                uint8_t code;
                uint32_t size;
            } kUnits[] = {{1, 0x1000}, {1, 0x1000}, {1, 0x1000}, {2, 0x8000}, {4, 0x10000}};
            const auto u = kUnits[pick(5)];
            const uint32_t at = pick(kRegionSize / u.size) * u.size;
            const Bytes r = onLink(flashBody(0x70, base() + at, 1, device, u.code));
            if (!isReply(r) || status(r) != 0)
                return noteRefused("erase", device, at);
            std::fill(part.begin() + at, part.begin() + at + u.size, 0xFF);
        } else if (op < 6) {
            // Mostly a few pages; behind an FPGA sometimes up to the most one write carries (256
            // pages).
            const bool large = device != 4 && pick(8) == 0;
            const uint16_t n = uint16_t(large ? 0x1000 + pick(0xF000) : 1 + pick(600));
            const uint32_t at = pick(kRegionSize - n);
            Bytes data(n);
            for (uint8_t& b : data)
                b = uint8_t(rng());
            const Bytes r = onLink(flashBody(0x71, base() + at, n, device, 0, data));
            if (!isReply(r) || status(r) != 0)
                return noteRefused("write", device, at);
            for (uint16_t i = 0; i < n; ++i)
                part[at + i] &= data[i];   // programming only clears bits
        } else {
            const uint16_t n = uint16_t(1 + pick(2048));
            const uint32_t at = pick(kRegionSize - n);
            const Bytes r = onLink(flashBody(0x72, base() + at, n, device, 0));
            if (!isReply(r) || status(r) != 0)
                return noteRefused("read", device, at);
            ++reads;
            if (replyData(r) != Bytes(part.begin() + at, part.begin() + at + n)) {
                ++wrongReads;
                fault("read of device " + std::to_string(device) + " at " + std::to_string(base() + at) + " wrong");
            }
        }
    }
    // More erases and small writes than a share holds, sent over the link in one go: each must be
    // answered 0, in the order sent, and carried out in that order.
    void stream()
    {
        struct Sent {
            uint8_t device;
            uint32_t at;
            Bytes data;   // empty: a 4 KB erase
        };
        std::vector<Sent> sent(ApartWorker::kClientShare + 1 + pick(12));
        Bytes wire;
        for (size_t i = 0; i < sent.size(); ++i) {
            Sent& c = sent[i];
            c.device = uint8_t(2 + pick(3));
            c.data.resize(pick(4) == 0 ? 0 : 1 + pick(600));
            for (uint8_t& b : c.data)
                b = uint8_t(rng());
            c.at = c.data.empty() ? pick(kRegionSize / 0x1000) * 0x1000 : pick(kRegionSize - uint32_t(c.data.size()));
            Bytes b = c.data.empty() ? flashBody(0x70, base() + c.at, 1, c.device, 1)
                                     : flashBody(0x71, base() + c.at, uint16_t(c.data.size()), c.device, 0, c.data);
            b[5] = uint8_t(i);   // the tag: the order of the replies
            b.pop_back();
            b = encode(withCheck(b));
            wire.insert(wire.end(), b.begin(), b.end());
        }
        link->sendRaw(wire);
        for (size_t i = 0; i < sent.size(); ++i) {
            const Bytes r = link->receiveFrame(20000);
            if (!isReply(r) || r[5] != uint8_t(i) || status(r) != 0)
                return noteRefused("streamed command", sent[i].device, sent[i].at);
            Bytes& part = model[sent[i].device];
            if (sent[i].data.empty())
                std::fill(part.begin() + sent[i].at, part.begin() + sent[i].at + 0x1000, 0xFF);
            for (size_t k = 0; k < sent[i].data.size(); ++k)
                part[sent[i].at + k] &= sent[i].data[k];
        }
    }
    void noteRefused(const char* what, uint8_t device, uint32_t at)
    {
        ++refused;
        fault(std::string(what) + " of device " + std::to_string(device) + " at " + std::to_string(base() + at) +
              " refused");
    }
};

class FlashOwners : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("ZEL_TCP_PORT", "0", 1);
        ZelRamPara::pInstance();
        board = &sim::attachFpgas();
        m = fpga_manage::pInstance();
        m->softinit();
        e = zeltest::newEngine();
        ASSERT_EQ(e->initialize(false), 0);
        sim::useBoardFlashTimes();
    }
    sim::SimSerialFlash& flash2() { return *board->flash[0]; }

    // A client's region of a device as the part holds it.
    Bytes region(uint8_t device, const FlashClient& c)
    {
        return device == 4 ? chip.flash(c.base(), kRegionSize)
                           : board->flash[device == 2 ? 0 : 1]->contents(c.base(), kRegionSize);
    }

    zeltest::TempRoot root;
    sim::VideoChipModel& chip = sim::attachVideoChip();
    sim::FpgaBoard* board = nullptr;
    fpga_manage* m = nullptr;
    c331_manage* e = nullptr;
};

Bytes scheduleRecord(std::mt19937& rng)
{
    const uint8_t entries = uint8_t(1 + rng() % 4);
    const uint16_t length = uint16_t(1 + 4 * entries);
    Bytes rec = {0xAA, 0x02, 0xAA, 0, 0, 0, uint8_t(length), 0, entries};
    auto bcd = [](unsigned v) { return uint8_t((v / 10) << 4 | v % 10); };
    for (unsigned i = 0; i < entries; ++i)
        for (unsigned limit : {24u, 60u, 24u, 60u})
            rec.push_back(bcd(rng() % limit));
    return rec;
}

Bytes brightnessRecord(uint16_t percent, bool levelMode)
{
    // The value of a percent, at least 15 outside the 8-bit value modes, 48 times behind the head.
    const uint8_t v = uint8_t(levelMode ? std::max(percent * 255u / 100u, 15u) : percent * 255u / 100u);
    Bytes rec = {0xAA, 0x03, 0xAA, 0x00, 0x00, 0x00, 0x31, 0x00, 0x10};
    rec.insert(rec.end(), 48, v);
    return rec;
}

}  // namespace

// Nothing a client was answered with status 0 is lost or misread, and each record the box stored
// is in the flash as it was stored, whatever runs beside it on the same device.
TEST_F(FlashOwners, ClientsCommandsAndTheBoxsRecordsNeverMeetOnADevice)
{
    const int ops = 10 * scale();
    for (unsigned seed : {11u, 42u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        FlashClient clients[kClients] = {{0, seed}, {1, seed + 1}, {2, seed + 2}};
        std::vector<std::unique_ptr<TcpClient>> links;
        for (FlashClient& c : clients) {
            for (uint8_t device : {2, 3, 4})
                c.model[device] = region(device, c);
            links.push_back(std::make_unique<TcpClient>(networkManage::pInstance()->port()));
            c.link = links.back().get();
        }
        std::atomic<int> running{kClients}, steps{0};
        std::vector<std::thread> threads;
        for (FlashClient& c : clients)
            threads.emplace_back([&c, &running, &steps, ops] {
                for (int i = 0; i < ops; ++i) {
                    c.step();
                    ++steps;
                }
                --running;
            });

        // The box's own work on device 2 meanwhile: a user's brightness, stored as its record on
        // the LED output's side, and schedules a PC stores through the command record.
        int briStores = 0, briWrong = 0, schedStores = 0, schedWrong = 0, schedRefused = 0;
        std::thread brightness([&] {
            std::mt19937 rng(seed * 7);
            while (running.load() > 0) {
                const uint16_t percent = uint16_t(rng() % 101);
                ledpara::setWord(ledpara::kBrightness, percent);
                // A fixed level mode gives way to the value mode once a user's value is applied.
                const bool levelMode = m->bri_mode != 16 && m->bri_mode != 17;
                m->applyBrightness(true);
                ++briStores;
                briWrong += flash2().contents(kBrightnessRecord, 57) != brightnessRecord(percent, levelMode);
            }
        });
        std::mt19937 rng(seed * 13);
        while (running.load() > 0) {
            // A client's command gets in between two records: the flash lock is not fair, and on a
            // quiet machine this loop would take it back before a waiting client wakes.
            const int seen = steps.load();
            const Bytes rec = scheduleRecord(rng);
            if (status(onLink(body(0x60, ramWrite(0x100000, rec)))) != 0 ||
                status(onLink(body(0xA0, regWrite(2, 0x04, 0x04, 1)))) != 0) {
                ++schedRefused;
                continue;
            }
            ++schedStores;
            schedWrong += flash2().contents(kScheduleRecord, uint32_t(rec.size())) != rec;
            while (running.load() > 0 && steps.load() == seen)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        for (std::thread& t : threads)
            t.join();
        brightness.join();

        for (const FlashClient& c : clients) {
            EXPECT_EQ(c.wrongReads, 0) << c.wrongReads << " of " << c.reads << " reads wrong; " << c.firstFault;
            EXPECT_EQ(c.refused, 0) << c.firstFault;
            // Every acknowledged write and erase is in the part.
            for (uint8_t device : {2, 3, 4})
                EXPECT_TRUE(region(device, c) == c.model.at(device)) << "client " << c.index << ", device " << int(device);
        }
        EXPECT_GT(briStores, 0);
        EXPECT_GT(schedStores, 0);
        EXPECT_EQ(briWrong, 0) << "of " << briStores << " brightness records";
        EXPECT_EQ(schedWrong, 0) << "of " << schedStores << " schedules";
        EXPECT_EQ(schedRefused, 0);
    }
}

// ---- schedules beside a client polling twice a second ----------------------------------------------

namespace {

constexpr unsigned kPassTicks = 10, kPollTicks = 50;

uint8_t bcd(unsigned v) { return uint8_t((v / 10) << 4 | v % 10); }

// The box pass by pass on the tick counter (its clock runs with it), and a client on the TCP link
// that reads FPGA 0's register 6 every 0.5 s; every frame marks the link busy.
struct PolledBox {
    TcpClient& client;
    sim::FpgaBoard& board;
    unsigned lastFrame = 0;
    uint8_t reg6 = 0;   // as the client last read it

    Bytes call(const Bytes& b)
    {
        lastFrame = G_timeTicks.load();
        return client.call(b);
    }
    void pass()
    {
        G_timeTicks += kPassTicks;
        if (G_timeTicks.load() - lastFrame >= kPollTicks) {
            const Bytes r = call(body(0xA1, regRead(6, 1, 1)));
            reg6 = isReply(r) && status(r) == 0 ? replyData(r).at(0) : 0;
        }
        fpga_manage::p_fpga_manage->fpga_manage_deal(nullptr);
    }
    bool dark() { return (board.fpga[0]->reg(0) & 0x04) && (board.fpga[1]->reg(0) & 0x04); }
    uint8_t record(const Bytes& rec)
    {
        const Bytes w = call(body(0x60, ramWrite(0x100000, rec)));
        return std::max(status(w), status(call(body(0xA0, regWrite(2, 0x04, 0x04, 1)))));
    }
    // The clock record, or the set-clock command.
    uint8_t setClock(const QDate& d, int hour, int minute, bool command)
    {
        const unsigned y = unsigned(d.year());
        if (command)
            return status(call(body(0x87, {0, uint8_t(minute), uint8_t(hour), uint8_t(d.day()), uint8_t(d.month()),
                                           uint8_t(y), uint8_t(y >> 8)})));
        return record({0xAA, 1, 0, 0, 0, 0, 7, 0, bcd(y % 100), bcd(y / 100), bcd(unsigned(d.month())),
                       bcd(unsigned(d.day())), bcd(unsigned(hour)), bcd(unsigned(minute)), 0});
    }
};

// The screen as the schedule's table says: the latest switch at or before the minute (the day
// before's last one before the first), an off over an on of the same minute. -1: none.
int scheduled(const std::vector<std::pair<int, bool>>& switches, int minute)
{
    int nearest = 1440, on = -1;
    for (auto [at, isOn] : switches) {
        const int ago = (minute - at + 1440) % 1440;
        if (ago < nearest || (ago == nearest && !isOn))
            nearest = ago, on = isOn;
    }
    return on;
}

}  // namespace

// On/off switches within 22:00-22:07 beside a client polling every 0.5 s: each in its minute,
// after a clock set (the clock record or the set-clock command, to the same day of the next month)
// and a start at night the state the table gives; a timed record shown within its step and 2 s.
TEST_F(FlashOwners, SchedulesKeepTheirTimeBesideAClientPollingTwiceASecond)
{
    setenv("ZEL_TCP_PORT", "0", 1);
    zeltest::plugCards({{0, 1}, {17, 1}});
    platform::setTickSource([] { return G_timeTicks.load(); });
    TcpClient client(networkManage::pInstance()->port());
    ASSERT_TRUE(client.connected());
    PolledBox box{client, *board};
    m = zeltest::freshFpgaManager();   // a start
    m->softinit();
    // A date the calendar has not is refused, as the set-clock command refuses it.
    EXPECT_EQ(box.record({0xAA, 1, 0, 0, 0, 0, 7, 0, 0x24, 0x20, 0x13, 0x07, 0x09, 0x05, 0}), 1);
    EXPECT_EQ(box.record({0xAA, 1, 0, 0, 0, 0, 7, 0, 0x26, 0x20, 0x02, 0x30, 0x09, 0x05, 0}), 1);
    std::mt19937 rng(7);
    QDate day(2024, 5, 8);
    for (int round = 0; round < 2 * scale(); ++round, day = day.addMonths(2)) {
        SCOPED_TRACE("round " + std::to_string(round));
        // 1-3 entries on distinct minutes of 22:00-22:07 that switch in turn, the first an on or an off.
        std::vector<int> minutes = {0, 1, 2, 3, 4, 5, 6, 7};
        std::shuffle(minutes.begin(), minutes.end(), rng);
        const unsigned entries = 1 + rng() % 3;
        minutes.resize(2 * entries);
        std::sort(minutes.begin(), minutes.end());
        const unsigned firstOn = unsigned(round % 2);   // lit after the last switch, then dark
        std::vector<std::pair<int, bool>> switches;
        Bytes rec = {0xAA, 2, 0xAA, 0, 0, 0, uint8_t(1 + 4 * entries), 0, uint8_t(entries)};
        for (unsigned i = 0; i < entries; ++i)
            for (unsigned k : {firstOn ^ 1, firstOn}) {   // the entry's on, then its off
                const int at = 22 * 60 + minutes[2 * i + k];
                switches.push_back({at, k != firstOn});
                rec.insert(rec.end(), {bcd(unsigned(at / 60)), bcd(unsigned(at % 60))});
            }
        // Judged at every pass outside the switches' minutes, once both FPGAs are lit.
        auto now = [] { return platform::localNow().time().hour() * 60 + platform::localNow().time().minute(); };
        auto runTo = [&](int until) {
            while (now() < until) {
                box.pass();
                const int minute = now();
                const bool inSwitch =
                    std::any_of(switches.begin(), switches.end(), [&](auto& s) { return s.first == minute; });
                if (!inSwitch && m->check_step(0) == fpga_manage::kCheckLit) {
                    ASSERT_EQ(box.dark(), scheduled(switches, minute) == 0) << "at " << minute;
                }
            }
        };
        ASSERT_EQ(box.record(rec), 0);
        ASSERT_EQ(box.setClock(day, 21, 59, rng() % 2), 0);
        runTo(22 * 60 + 9);
        // A power cut until the next day, after its first switch (the wall showed the last one's
        // state): the start takes the table's state, and never lights the wall when that is off.
        const int back = 22 * 60 + minutes[0] + int(rng() % unsigned(minutes[1] - minutes[0]));
        platform::setSimClock(QDateTime(day.addDays(1), QTime(back / 60, back % 60)));
        m = zeltest::freshFpgaManager();
        m->softinit();
        board->fpga[0]->clearLog();
        for (int i = 0; i < 2000 && m->check_step(1) != fpga_manage::kCheckLit; ++i)
            box.pass();
        box.pass();
        const bool dark = scheduled(switches, back) == 0;
        EXPECT_EQ(box.dark(), dark) << "at " << back;
        EXPECT_EQ(zeltest::screenShown(*board->fpga[0]), !dark) << "the wall lit at some moment";
        // The same day of the next month, inside the switches: armed again.
        ASSERT_EQ(box.setClock(day.addMonths(1), 22, int(rng() % 8), rng() % 2), 0);
        runTo(22 * 60 + 9);

        // A timed record of 8-bit values: the slot's value within its step and 2 s more.
        Bytes timed = {0xAA, 3, 0xAA, 0, 0, 0, 49, 0, 17};
        for (int i = 0; i < 48; ++i)
            timed.push_back(uint8_t(16 + rng() % 240));
        ASSERT_EQ(box.record(timed), 0);
        const unsigned sent = G_timeTicks.load();
        while (box.reg6 != timed[9 + 44] && G_timeTicks.load() - sent < 1200)
            box.pass();
        EXPECT_EQ(box.reg6, timed[9 + 44]) << "register 6 after " << G_timeTicks.load() - sent << " ticks";
    }
    platform::setTickSource(nullptr);
    platform::resetSimClock();
}

// ---- brightness records, a user's words and restarts ---------------------------------------------

namespace {

constexpr uint32_t kCommandRam = 0x100000;


// A record into the command RAM, started by bit 2 of FPGA 0's register 2, on a quiet link.
bool pcRecord(const Bytes& rec)
{
    return status(onLink(body(0x60, ramWrite(kCommandRam, rec)))) == 0 &&
           status(onLink(body(0xA0, regWrite(2, 0x04, 0x04, 1)))) == 0;
}

// The box's clock set by a clock record: BCD year (low, high), month, day, hour, minute, second.
bool setClock(const QDateTime& at)
{
    const QDate d = at.date();
    const QTime t = at.time();
    return pcRecord({0xAA, 0x01, 0xAA, 0, 0, 0, 7, 0, bcd(unsigned(d.year()) % 100), bcd(unsigned(d.year()) / 100),
                     bcd(unsigned(d.month())), bcd(unsigned(d.day())), bcd(unsigned(t.hour())),
                     bcd(unsigned(t.minute())), bcd(unsigned(t.second()))});
}

Bytes briRecord(uint8_t mode, const Bytes& values)
{
    const uint8_t head[9] = {0xAA, 0x03, 0xAA, 0, 0, 0, 0x31, 0, mode};
    Bytes rec(57, values.empty() ? 0 : values.back());
    std::copy(head, head + 9, rec.begin());
    std::copy(values.begin(), values.begin() + std::min<ptrdiff_t>(ptrdiff_t(values.size()), 48), rec.begin() + 9);
    return rec;
}

// What the stored record says the LEDs show in half-hour slot `slot`: a 4-bit level L as
// 16 L - 1, an 8-bit value as it is; the automatic mode without a card falls back to full.
int recordShows(const Bytes& rec, int slot)
{
    const uint8_t mode = rec[8];
    const uint8_t v = rec[(mode == 1 || mode == 17) ? 9 + size_t(slot) : 9];
    switch (mode) {
    case 0:
    case 1: return uint8_t(16 * v - 1);
    case 2: return 255;
    default: return v;
    }
}

// The word shows value v as a percent within one of v × 100 / 255.
bool wordShows(uint16_t word, int v) { return std::abs(int(word) * 255 - v * 100) < 255; }

}  // namespace

// A PC's timed, automatic and fixed records (stored), the box's clock set by clock records across
// half-hour slots, a user's words while they run, restarts: both FPGAs' register 6, the word and the
// stored record say what the record's table gives for the clock's slot, and a user's word is its
// 8-bit value from then on, as the fixed record it stores says. The box's reloads of its record
// leave what a client wrote into the command RAM since. No multifunction card: the automatic mode
// falls back to full.
TEST_F(FlashOwners, AUsersWordUnderASchedulesRecordIsShownAndKeptAsItsStoredRecordSays)
{
    sim::setTickSource([] { return G_timeTicks.load(); });
    zeltest::plugCards({{0, 1}, {17, 1}});
    fpga_manage* box = nullptr;
    auto start = [&] {
        box = zeltest::freshFpgaManager();
        box->softinit();
        return zeltest::runFpgaUntil(box, [&] { return box->get_fpga_status() == 1; });
    };
    auto run = [&](int ticks) { zeltest::runFpgaUntil(box, [] { return false; }, ticks); };
    ASSERT_TRUE(start());
    for (unsigned seed : {5u, 77u, 301u}) {
        std::mt19937 rng(seed);
        Bytes stored = briRecord(16, {uint8_t(rng())});
        ASSERT_TRUE(pcRecord(stored));
        QDateTime at(QDate(2025, 3, 9), QTime(10, 5));
        int userWord = -1;   // the percent of a user's word since the last record
        for (int step = 0; step < 14 * scale(); ++step) {
            const unsigned pick = rng() % 10, what = pick < 3 ? 0 : pick < 6 ? 1 : pick < 8 ? 2 : 3;
            std::string did = "seed " + std::to_string(seed) + " step " + std::to_string(step) + ": ";
            if (what == 0) {   // a schedule's record or a fixed one
                static constexpr uint8_t kModes[] = {1, 17, 2, 0, 16};
                const uint8_t mode = kModes[rng() % 5];
                Bytes values(48);
                for (uint8_t& v : values)
                    v = uint8_t(mode == 1 || mode == 0 ? 1 + rng() % 15 : rng());
                stored = briRecord(mode, values);
                userWord = -1;
                ASSERT_TRUE(pcRecord(stored));
                // A client's next record in the RAM, not started: the box's reload leaves it.
                const Bytes next = briRecord(16, {uint8_t(rng())});
                ASSERT_EQ(status(onLink(body(0x60, ramWrite(kCommandRam, next)))), 0);
                ASSERT_TRUE(zeltest::runFpgaUntil(box, [] { return g_change[changeword::kBriReload] == 0; }));
                EXPECT_TRUE(std::equal(next.begin(), next.end(), box->MCU_RAM_CMD)) << did << "the reload wrote the RAM";
                did += "record mode " + std::to_string(mode);
            } else if (what == 1) {   // a user's word
                const uint16_t percent = uint16_t(rng() % 101);
                const bool raised = stored[8] != 16 && stored[8] != 17;
                ledpara::setWord(ledpara::kBrightness, percent);
                box->set_bri_flag = 1;
                stored = brightnessRecord(percent, raised);
                userWord = percent;
                did += "word " + std::to_string(percent);
            } else if (what == 2) {   // the next slot
                at = at.addSecs(30 * 60);
                did += "clock " + at.toString("hh:mm").toStdString();
            } else {   // a restart
                ASSERT_TRUE(start());
                did += "restart";
            }
            ASSERT_TRUE(setClock(at));
            // The task's steps (10 s apart, the card's 2 s) and the fallback after 10 reads; after
            // a timed record only its first step, so that a word comes before the slot's repeat.
            run(what == 0 && stored[8] != 2 ? 1200 : 2500);
            const int want = recordShows(stored, (at.time().hour() * 60 + at.time().minute()) / 30);
            const uint16_t word = ledpara::word(ledpara::kBrightness);
            EXPECT_EQ(board->fpga[0]->reg(6), want) << did;
            EXPECT_EQ(board->fpga[1]->reg(6), want) << did;
            // A user's word stays as set (below 6 % a level mode raises its value to 15).
            EXPECT_TRUE(userWord >= 0 ? word == userWord : wordShows(word, want)) << did << ": word " << word << " for " << want;
            EXPECT_EQ(flash2().contents(kBrightnessRecord, 57), stored) << did;
        }
    }
    sim::setTickSource(nullptr);
}
