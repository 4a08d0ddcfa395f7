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

#include "core/zelrampara.h"
#include "engine/c331_manage.h"
#include "ledout/fpga_manage.h"
#include "ledout/fpga_para.h"
#include "link_client.h"
#include "links/apart_worker.h"
#include "links/message_deal.h"
#include "links/networkmanage.h"
#include "sim/fpga_model.h"
#include "sim/sim_board.h"
#include "sim/video_chip.h"
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
