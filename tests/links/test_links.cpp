// The running links, spoken to by a PC-side client over TCP, UDP and a pseudo-terminal.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "chips/tarvosource.h"
#include "core/alerts.h"
#include "core/global.h"
#include "core/md5.h"
#include "core/zelrampara.h"
#include "engine/c331_manage.h"
#include "link_client.h"
#include "ledout/fpga_manage.h"
#include "links/apart_worker.h"
#include "links/networkmanage.h"
#include "links/uart_inout.h"
#include "links/uart_inout_4G.h"
#include "links/udpnetmanage.h"
#include "links/udpserver.h"
#include "sim/fpga_model.h"
#include "sim/input_chips.h"
#include "sim/video_chip.h"
#include "sim/sim_clock.h"
#include "sim/video_chip_gfx.h"
#include "support/test_root.h"
#include "support/video_engine.h"

using namespace linktest;

namespace {

// A loopback port held as another program would hold it (no SO_REUSEADDR), until release().
class PortHolder {
public:
    explicit PortHolder(int type) : fd_(::socket(AF_INET, type, 0))
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        if (type == SOCK_STREAM)
            ::listen(fd_, 4);
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~PortHolder() { release(); }
    void release()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    int port() const { return port_; }

private:
    int fd_;
    int port_ = 0;
};

class Links : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("ZEL_TCP_PORT", "0", 1);
        setenv("ZEL_UDP_PORT", "0", 1);
        model = ZelRamPara::pInstance();
        engine = new c331_manage();
        c331_manage::p_c331_manage = engine;
    }
    int tcpPort() { return networkManage::pInstance()->port(); }
    int udpPort() { return udpnetManage::pInstance()->port(); }

    zeltest::TempRoot root;
    ZelRamPara* model = nullptr;
    c331_manage* engine = nullptr;
};

}  // namespace

TEST_F(Links, TcpWritesAndReadsTheImageAndRefusesOutOfRangeWrites)
{
    TcpClient c(tcpPort());
    ASSERT_TRUE(c.connected());
    Bytes r = c.call(body(0x60, ramWrite(0xFFE, {0x12, 0x34})));
    ASSERT_TRUE(isReply(r));
    EXPECT_EQ(status(r), 0);
    // The reply goes back: addresses swapped, group kept.
    EXPECT_EQ(r[0] | (r[1] << 8), kPc);
    EXPECT_EQ(r[2] | (r[3] << 8), kDevice);
    EXPECT_EQ(r[9], 0x60);
    EXPECT_EQ(model->ram_para[0xFFE], 0x12);
    EXPECT_EQ(model->ram_para[0xFFF], 0x34);

    r = c.call(body(0x60, ramWrite(0xFFF, {0x55, 0x66})));
    EXPECT_EQ(status(r), 1);
    EXPECT_EQ(model->ram_para[0xFFF], 0x34);

    // A length field that does not match the data carried is refused as a whole.
    Bytes lying = ramWrite(0x400, {1, 2});
    lying[4] = 200;
    r = c.call(body(0x60, lying));
    EXPECT_EQ(status(r), 1);
    EXPECT_EQ(model->ram_para[0x400], 0);

    r = c.call(body(0x61, ramRead(0xFFE, 2)));
    EXPECT_EQ(status(r), 0);
    EXPECT_EQ(replyData(r), (Bytes{0x12, 0x34}));
    r = c.call(body(0x61, ramRead(0xFFF, 2)));
    EXPECT_EQ(status(r), 1);
    EXPECT_TRUE(replyData(r).empty());
}

TEST_F(Links, TakenCommandPortsAreReportedAndBoundOnceFreed)
{
    PortHolder tcp(SOCK_STREAM), udp(SOCK_DGRAM);
    setenv("ZEL_TCP_PORT", std::to_string(tcp.port()).c_str(), 1);
    setenv("ZEL_UDP_PORT", std::to_string(udp.port()).c_str(), 1);
    testing::internal::CaptureStderr();
    networkManage::pInstance();
    udpnetManage::pInstance();
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(alerts::active(alerts::kTcpPortNotBound));
    EXPECT_TRUE(alerts::active(alerts::kUdpPortNotBound));
    EXPECT_NE(said.find("TCP command port " + std::to_string(tcp.port()) + " cannot be bound"), std::string::npos)
        << said;
    EXPECT_NE(said.find("UDP command port " + std::to_string(udp.port()) + " cannot be bound"), std::string::npos)
        << said;

    tcp.release();
    udp.release();
    for (int i = 0; i < 300 && (alerts::active(alerts::kTcpPortNotBound) || alerts::active(alerts::kUdpPortNotBound));
         ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));   // the links retry once a second
    EXPECT_FALSE(alerts::active(alerts::kTcpPortNotBound));
    EXPECT_FALSE(alerts::active(alerts::kUdpPortNotBound));
    EXPECT_EQ(networkManage::pInstance()->port(), tcp.port());
    TcpClient t(tcp.port());
    ASSERT_TRUE(t.connected());
    EXPECT_EQ(status(t.call(body(0x61, ramRead(0x880, 2)))), 0);
    UdpClient u(udp.port());
    EXPECT_EQ(status(u.call(body(0x61, ramRead(0x880, 2)))), 0);
}

TEST_F(Links, UserModeAndCommandRamAddresses)
{
    TcpClient c(tcpPort());
    Bytes r = c.call(body(0x60, ramWrite(0x1000, {0xAA, 0xAA})));
    EXPECT_EQ(status(r), 0);
    EXPECT_EQ(model->ram_user_mode[0][0], 0xAA);
    EXPECT_EQ(model->ram_user_mode[0][1], 0xAA);
    r = c.call(body(0x60, ramWrite(0x10FFF, {1, 2, 3})));  // slot 16 ends at byte 4097
    EXPECT_EQ(status(r), 0);
    EXPECT_EQ(model->ram_user_mode[15][4097], 3);
    r = c.call(body(0x60, ramWrite(0x10FFF, {1, 2, 3, 4})));
    EXPECT_EQ(status(r), 1);
    r = c.call(body(0x60, ramWrite(0x11000, {1})));  // no slot 17
    EXPECT_EQ(status(r), 1);
    r = c.call(body(0x61, ramRead(0x10FFE, 4)));  // the last four bytes of slot 16
    EXPECT_EQ(status(r), 0);
    EXPECT_EQ(replyData(r), (Bytes{0, 1, 2, 3}));
    r = c.call(body(0x61, ramRead(0x10FFE, 5)));
    EXPECT_EQ(status(r), 1);
}

TEST_F(Links, SpecialRegistersCommitToTheEngine)
{
    TcpClient c(tcpPort());
    Bytes r = c.call(body(0xA0, regWrite(163, 0xFF, 0x41)));
    EXPECT_EQ(status(r), 0);
    EXPECT_EQ(model->reg_status[163], 0x42);
    EXPECT_EQ(engine->para_chg_flag.load(), 1);

    engine->para_chg_flag = 0;
    r = c.call(body(0xA0, regWrite(162, 0x0F, 0xFF)));
    EXPECT_EQ(model->reg_status[162], 0x0F);
    EXPECT_EQ(engine->para_chg_flag.load(), 1);

    // 163 takes value + 1 whatever the mask; 164 and 165 take value AND mask, not a masked merge.
    r = c.call(body(0xA0, regWrite(163, 0x0F, 0x41)));
    EXPECT_EQ(model->reg_status[163], 0x42);
    model->reg_status[164] = 0xC0;
    r = c.call(body(0xA0, regWrite(164, 0x3C, 0xF0)));
    EXPECT_EQ(model->reg_status[164], 0x30);
    model->reg_status[165] = 0x3C;
    engine->para_chg_flag = 0;
    r = c.call(body(0xA0, regWrite(165, 0xC3, 0xFF)));
    EXPECT_EQ(model->reg_status[165], 0xC3);
    EXPECT_EQ(engine->para_chg_flag.load(), 1);

    // An ordinary register is masked and commits nothing.
    engine->para_chg_flag = 0;
    model->reg_status[40] = 0xF0;
    r = c.call(body(0xA0, regWrite(40, 0x0F, 0x05)));
    EXPECT_EQ(model->reg_status[40], 0xF5);
    EXPECT_EQ(engine->para_chg_flag.load(), 0);

    // The update register asks for the mode-file rewrite.
    r = c.call(body(0xA0, regWrite(0x10, 0x01, 0x01)));
    EXPECT_EQ(status(r), 0);
    EXPECT_EQ(engine->para_chg_flag.load(), 2);

    // With the OSD on, bit 3 of the update register also asks for the OSD reload: not with the OSD
    // word 0 or 0x0101, nor without bit 3.
    r = c.call(body(0xA0, regWrite(0x10, 0xFF, 0x08)));
    model->ram_para[0x84C] = 1;
    model->ram_para[0x84D] = 1;
    r = c.call(body(0xA0, regWrite(0x10, 0xFF, 0x08)));
    model->ram_para[0x84D] = 0;
    r = c.call(body(0xA0, regWrite(0x10, 0xFF, 0x07)));
    EXPECT_EQ(g_osd_update.load(), 0);
    r = c.call(body(0xA0, regWrite(0x10, 0xFF, 0x09)));
    EXPECT_EQ(g_osd_update.load(), 1);
    EXPECT_EQ(engine->para_chg_flag.load(), 2);

    r = c.call(body(0xA0, regWrite(170, 0xFF, 1)));
    EXPECT_EQ(status(r), 1);
    r = c.call(body(0xA0, regWrite(169, 0xFF, 7)));   // the last register
    EXPECT_EQ(status(r), 0);
    EXPECT_EQ(model->reg_status[169], 7);

    r = c.call(body(0xA1, regRead(162, 2)));
    EXPECT_EQ(status(r), 0);
    EXPECT_EQ(replyData(r), (Bytes{0x0F, 0x42}));
    r = c.call(body(0xA1, regRead(169, 2)));  // would pass register 169
    EXPECT_EQ(status(r), 1);
}

// Byte 32 is shared: a link writes its low bits while the input thread takes its request bits
// (4-7). Neither loses the other's bits, and neither touches the byte plainly (ThreadSanitizer).
TEST_F(Links, ControllerRegisterSharedWithTheInputThread)
{
    ASSERT_TRUE(sim::attachInputChips());
    fpga_manage::pInstance()->initialize();
    tarvosource* src = tarvosource::pInstance();
    std::atomic<bool> done{false};
    std::thread input([&] {
        while (!done.load())
            src->poll_pass();
    });
    for (int i = 0; i < 300; ++i) {
        ASSERT_EQ(status(deal(0xA0, regWrite(32, 0x0F, uint8_t(i)))), 0);
        ASSERT_EQ(replyData(deal(0xA1, regRead(32, 1)))[0] & 0x0F, i & 0x0F) << i;
    }
    done = true;
    input.join();
    src->poll_input(0);   // takes the request bits, if any
    EXPECT_EQ(model->reg_status[32], 299 & 0x0F);
}

TEST_F(Links, TcpResyncsAfterGarbageAndDropsABadCheckByte)
{
    TcpClient c(tcpPort());
    Bytes bad = body(0x60, ramWrite(0x10, {7}));
    bad.back() ^= 0xFF;
    Bytes wire = {0x00, 0x13, 0x5A, 0xA5, 0x42};
    Bytes e = encode(bad);
    wire.insert(wire.end(), e.begin(), e.end());
    e = encode(body(0x60, ramWrite(0x11, {9})));
    wire.insert(wire.end(), e.begin(), e.end());
    c.sendRaw(wire);
    Bytes r = c.receiveFrame();
    EXPECT_EQ(status(r), 0);
    EXPECT_EQ(model->ram_para[0x10], 0);
    EXPECT_EQ(model->ram_para[0x11], 9);
    // Nothing else comes: the bad frame got no reply.
    EXPECT_TRUE(c.receiveFrame(100).empty());
}

TEST_F(Links, FrameSplitAcrossTcpSegmentsAndTwoClients)
{
    TcpClient a(tcpPort());
    TcpClient b(tcpPort());
    Bytes w = encode(body(0x60, ramWrite(0x200, {1, 2, 3, 4})));
    a.sendRaw(Bytes(w.begin(), w.begin() + 7));
    Bytes r = b.call(body(0x61, ramRead(0x200, 1)));
    EXPECT_EQ(replyData(r), Bytes{0});
    a.sendRaw(Bytes(w.begin() + 7, w.end()));
    r = a.receiveFrame();
    EXPECT_EQ(status(r), 0);
    EXPECT_EQ(model->ram_para[0x203], 4);
}

TEST_F(Links, UnknownGroupIsRefused)
{
    TcpClient c(tcpPort());
    Bytes r = c.call(body(0x55, {1, 2, 3}));
    EXPECT_EQ(status(r), 1);
}

TEST_F(Links, UdpAnswersOnTheSendersPort)
{
    UdpClient c(udpPort());
    Bytes r = c.call(body(0x60, ramWrite(0x300, {3})));
    ASSERT_TRUE(checkOk(r));
    EXPECT_EQ(status(r), 0);
    EXPECT_EQ(model->ram_para[0x300], 3);
    r = c.call(body(0x61, ramRead(0x300, 1)));
    EXPECT_EQ(replyData(r), Bytes{3});
}

// Flash reads of 16384 bytes of the video chip's flash, 23 bytes each on the wire, as many as one
// datagram of at most 64,998 bytes holds: 2,826.
Bytes flashReads(size_t maxBytes = 64998)
{
    Bytes read = ramRead(0, 16384);
    read[6] = 4;
    const Bytes one = encode(body(0x72, read));
    Bytes wire;
    while (wire.size() + one.size() <= maxBytes)
        wire.insert(wire.end(), one.begin(), one.end());
    return wire;
}

// Bytes on the wire of the replies that come before the reply of group `last`; -1 when that one
// does not come.
long replyBytesBefore(Client& c, uint8_t last)
{
    long bytes = 0;
    for (Bytes f = c.receiveFrame(); isReply(f); f = c.receiveFrame()) {
        if (f[9] == last)
            return bytes;
        bytes += long(encode(f).size());
    }
    return -1;
}

// No reply is needed to send a datagram (its source may be forged): what one datagram and one
// sender get back is bounded, and the box goes on answering.
TEST_F(Links, UdpRepliesToOneDatagramAndToOneSenderAreBounded)
{
    sim::attachVideoChip();
    ASSERT_EQ(zeltest::newEngine()->initialize(false), 0);
    G_timeTicks = 7000;
    const Bytes reads = flashReads();
    ASSERT_EQ(reads.size(), 2826u * 23u);
    UdpClient c(udpPort());
    c.sendRaw(reads);
    c.sendRaw(encode(body(0x61, ramRead(0x300, 1))));
    const long first = replyBytesBefore(c, 0x61);
    EXPECT_GT(first, 16384);
    EXPECT_LE(first, 65536);

    // Within one second (the ticks stand still) a sender gets at most 256 KiB.
    long total = first;
    for (int i = 0; i < 5; ++i) {
        c.sendRaw(flashReads(100));   // four reads
        c.sendRaw(encode(body(0x60, ramWrite(0x301, {uint8_t(i)}))));
        const long more = replyBytesBefore(c, 0x60);
        ASSERT_GE(more, 0) << i;
        total += more;
    }
    EXPECT_LE(total, 262144);
    EXPECT_GT(total, 262144 - 2 * 16500);
    G_timeTicks = 7100;   // the next second
    c.sendRaw(flashReads(100));
    c.sendRaw(encode(body(0x60, ramWrite(0x301, {9}))));
    EXPECT_GT(replyBytesBefore(c, 0x60), 16384);
}

// The budget's figures as the protocol states them: 256 KiB a second for one sender, 256 senders
// counted apart (further ones share one sender's allowance), 1 MiB a second for all together.
namespace {
constexpr unsigned kSenderShare = 262144;
constexpr unsigned kAllSenders = 1048576;
constexpr uint32_t kCountedApart = 256;

uint32_t senderNo(uint32_t n) { return htonl(0x0A000000u + n); }   // 10.0.0.n and on, as on the wire
}  // namespace

// Each of 1,000 forged senders asks for one flash read of 16 KiB (23 bytes on the wire): what all of
// them get back stays within the total, and none gets more than one sender's share.
TEST(UdpReplyBudget, ForgedSendersGetNoMoreThanTheTotal)
{
    constexpr unsigned kReadReply = 16400;
    UdpReplyBudget b;
    unsigned long granted = 0;
    for (uint32_t n = 1; n <= 1000; ++n) {
        b.startDatagram(senderNo(n), 7000);
        if (!b.spent() && b.take(kReadReply))
            granted += kReadReply;
    }
    EXPECT_LE(granted, kAllSenders);
    EXPECT_GT(granted, kAllSenders - kReadReply);
}

TEST(UdpReplyBudget, TheLastSenderCountedApartAndTheNext)
{
    UdpReplyBudget b;
    for (uint32_t n = 1; n < kCountedApart; ++n) {
        b.startDatagram(senderNo(n), 7000);
        ASSERT_TRUE(b.take(1000)) << n;
    }
    b.startDatagram(senderNo(kCountedApart), 7000);   // the last one with a share of its own
    EXPECT_TRUE(b.takeFor(senderNo(kCountedApart), kSenderShare, 7000));
    EXPECT_FALSE(b.takeFor(senderNo(kCountedApart), 1, 7000));
    b.startDatagram(senderNo(kCountedApart + 1), 7000);   // the first of those who share one
    EXPECT_TRUE(b.takeFor(senderNo(kCountedApart + 1), kSenderShare - 1, 7000));
    b.startDatagram(senderNo(kCountedApart + 2), 7000);
    EXPECT_TRUE(b.take(1));
    EXPECT_FALSE(b.take(1));
    b.startDatagram(senderNo(kCountedApart + 3), 7000);
    EXPECT_TRUE(b.spent());
}

TEST(UdpReplyBudget, AllSendersTogetherGetTheTotalAndNoMore)
{
    UdpReplyBudget b;
    for (uint32_t n = 1; n <= kAllSenders / kSenderShare; ++n) {
        for (unsigned taken = 0; taken < kSenderShare; taken += kSenderShare / 8) {
            b.startDatagram(senderNo(n), 7000);
            ASSERT_TRUE(b.take(kSenderShare / 8)) << n;
        }
        b.startDatagram(senderNo(n), 7000);
        EXPECT_TRUE(b.spent());
    }
    b.startDatagram(senderNo(99), 7000);   // the total is spent: a newcomer gets nothing
    EXPECT_TRUE(b.spent());
    EXPECT_FALSE(b.takeFor(senderNo(99), 1, 7050));
    b.startDatagram(senderNo(99), 7100);   // the next second
    EXPECT_FALSE(b.spent());
    EXPECT_TRUE(b.take(kSenderShare / 8));
}

// The cards' answers count against the sender's share like the replies to its datagrams.
TEST(UdpReplyBudget, ASendersShareIncludesTheCardsAnswers)
{
    UdpReplyBudget b;
    b.startDatagram(senderNo(1), 7000);
    ASSERT_TRUE(b.take(kSenderShare / 8 - 100));
    for (int i = 1; i < 8; ++i) {
        b.startDatagram(senderNo(1), 7000);
        ASSERT_TRUE(b.take(kSenderShare / 8)) << i;
    }
    EXPECT_TRUE(b.takeFor(senderNo(1), 100, 7000));
    EXPECT_FALSE(b.takeFor(senderNo(1), 1, 7000));
    b.startDatagram(senderNo(1), 7000);
    EXPECT_TRUE(b.spent());
    EXPECT_TRUE(b.takeFor(senderNo(2), 100, 7000));   // another sender is not held back
}

// An erase of the video chip's flash keeps the flash busy for seconds; meanwhile another TCP
// connection and a UDP sender are answered, and the client that asked gets its answer once the
// erase is over. The board's ticks stand still, so the erase lasts until the test moves them (or
// until the engine's own bound of about 2 s for a 64 KB unit): the others' deadline is shorter.
TEST_F(Links, OtherClientsAreAnsweredWhileAnEraseRuns)
{
    sim::VideoChipModel& chip = sim::attachVideoChip();
    c331_manage* e = zeltest::newEngine();
    ASSERT_EQ(e->initialize(false), 0);
    // The flash's waits pause for real: their bound is time, not a count of polls.
    e->usleepFn = [](unsigned us) { std::this_thread::sleep_for(std::chrono::microseconds(us)); };
    sim::setTickSource([] { return G_timeTicks.load(); });
    G_timeTicks = 7000;
    chip.setFlash(0x20000, {0x00});
    chip.withGfx([](sim::VideoChipGfx& g) {
        g.setEraseTime(1500);   // one 64 KB unit: 150 ticks
        g.clearOps();
        return 0;
    });
    auto erasing = [&] {
        return chip.withGfx([](sim::VideoChipGfx& g) {
            for (const sim::VideoChipGfx::Op& op : g.ops())
                if (op.kind == sim::VideoChipGfx::Op::Erase)
                    return true;
            return false;
        });
    };
    TcpClient eraser(tcpPort()), other(tcpPort());
    UdpClient udp(udpPort());
    eraser.sendRaw(encode(body(0x70, {0x00, 0x00, 0x02, 0x00, 1, 0, 4, 4})));   // 0x20000, one 64 KB unit
    ASSERT_TRUE(waitFor(erasing));

    Bytes r = other.call(body(0x82, {}), 700);
    ASSERT_TRUE(isReply(r));
    EXPECT_EQ(r[9], 0x82);
    r = udp.call(body(0xA1, regRead(40, 1)), 700);
    ASSERT_TRUE(isReply(r));
    EXPECT_EQ(r[9], 0xA1);
    EXPECT_TRUE(eraser.receiveFrame(10).empty());   // still erasing
    Bytes read = ramRead(0x20000, 1);
    read[6] = 4;
    other.sendRaw(encode(body(0x72, read)));   // the flash's next command: behind the erase

    G_timeTicks += 151;
    r = eraser.receiveFrame(3000);
    ASSERT_TRUE(isReply(r));
    EXPECT_EQ(r[9], 0x70);
    EXPECT_EQ(status(r), 0);
    EXPECT_EQ(chip.flashByte(0x20000), 0xFF);
    r = other.receiveFrame(3000);
    ASSERT_TRUE(isReply(r));
    EXPECT_EQ(r[9], 0x72);
    EXPECT_EQ(replyData(r), Bytes{0xFF});
    sim::setTickSource(nullptr);
}

// Erases of 64 KB of the flash behind FPGA 0 queue up behind one that waits for the flash, held
// busy (the erase gives up after 4 s); let go, each erase takes no time.
class FlashQueue : public Links {
protected:
    void SetUp() override
    {
        Links::SetUp();
        board = &sim::attachFpgas();
        flash = board->flash[0].get();
        fpga_manage::pInstance();
        flash->setStuckBusy(true);
    }
    void TearDown() override
    {
        flash->setStuckBusy(false);
        EXPECT_TRUE(waitFor([] { return ApartWorker::pending() == 0; }));
    }
    static Bytes erase64k() { return encode(body(0x70, {0x00, 0x00, 0x01, 0x00, 1, 0, 2, 4})); }
    static constexpr uint32_t kHostA = 0x7F000002, kHostB = 0x7F000003, kHostC = 0x7F000004;
    sim::FpgaBoard* board = nullptr;
    sim::SimSerialFlash* flash = nullptr;
};

// Each host has a share of the queue of its own: three clients of three hosts with 12 erases
// each are all taken, and done once the flash is free.
TEST_F(FlashQueue, EachHostHasItsOwnShare)
{
    TcpClient c[3] = {TcpClient(tcpPort(), 0, kHostA), TcpClient(tcpPort(), 0, kHostB), TcpClient(tcpPort(), 0, kHostC)};
    for (TcpClient& client : c)
        for (int i = 0; i < 12; ++i)
            client.sendRaw(erase64k());
    ASSERT_TRUE(waitFor([] { return ApartWorker::pending() == 36; }, 1500));
    flash->setStuckBusy(false);
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < 12; ++i)
            EXPECT_EQ(status(c[k].receiveFrame()), 0) << "client " << k << ", erase " << i;
}

// Many connections and source ports of one host take one host's share, over TCP and UDP alike:
// of 4 connections with 6 erases each, 16 are taken and the others held with the connections'
// later bytes (not refused); 4 ports with 6 erases each are then refused at once. Another host's
// are taken beside them, and once the flash is free every connection's erase is done.
TEST_F(FlashQueue, ManyConnectionsAndPortsOfOneHostTakeOneShare)
{
    std::vector<std::unique_ptr<Client>> tcp, udp;
    for (int i = 0; i < 4; ++i) {
        tcp.push_back(std::make_unique<TcpClient>(tcpPort(), 0, kHostA));
        udp.push_back(std::make_unique<UdpClient>(udpPort(), kHostA));
    }
    // Replies of `clients`, each counted once, until `n` came or the deadline passed.
    auto replies = [](std::vector<std::unique_ptr<Client>>& clients, int n, int deadlineMs) {
        std::vector<Bytes> got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadlineMs);
        while (int(got.size()) < n && std::chrono::steady_clock::now() < end)
            for (auto& c : clients)
                for (Bytes r = c->receiveFrame(5); !r.empty(); r = c->receiveFrame(5))
                    got.push_back(r);
        return got;
    };
    for (auto& c : tcp)
        for (int i = 0; i < 6; ++i)
            c->sendRaw(erase64k());
    ASSERT_TRUE(waitFor([] { return ApartWorker::pending() == ApartWorker::kHostShare; }, 1500));
    for (auto& c : udp)
        for (int i = 0; i < 6; ++i)
            c->sendRaw(erase64k());
    const std::vector<Bytes> early = replies(udp, 24, 3000);
    EXPECT_EQ(early.size(), 24u);
    for (const Bytes& r : early)
        EXPECT_EQ(status(r), 1);
    EXPECT_TRUE(replies(tcp, 1, 100).empty());   // held, not refused
    EXPECT_EQ(ApartWorker::pending(), ApartWorker::kHostShare);
    TcpClient other(tcpPort(), 0, kHostB);
    for (int i = 0; i < 3; ++i)
        other.sendRaw(erase64k());
    EXPECT_TRUE(waitFor([] { return ApartWorker::pending() == ApartWorker::kHostShare + 3; }));
    flash->setStuckBusy(false);
    const std::vector<Bytes> late = replies(tcp, 24, 20000);
    EXPECT_EQ(late.size(), 24u);
    for (const Bytes& r : late)
        EXPECT_EQ(status(r), 0);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(status(other.receiveFrame()), 0) << i;
}

// A UDP host that has sent nothing for 10 s is gone: its erases that have not started are
// dropped, while a host that keeps talking keeps its own.
TEST_F(FlashQueue, QueuedCommandsOfASilentUdpHostAreDropped)
{
    G_timeTicks = 20000;
    UdpClient silent(udpPort(), kHostA), talking(udpPort(), kHostB);
    talking.sendRaw(erase64k());   // runs first, the flash staying busy
    ASSERT_TRUE(waitFor([] { return ApartWorker::pending() == 1; }));
    for (int i = 0; i < 5; ++i)
        silent.sendRaw(erase64k());
    ASSERT_TRUE(waitFor([] { return ApartWorker::pending() == 6; }));
    for (int i = 0; i < 2; ++i)
        talking.sendRaw(erase64k());
    ASSERT_TRUE(waitFor([] { return ApartWorker::pending() == 8; }));
    G_timeTicks += 999;
    ASSERT_TRUE(isReply(talking.call(body(0x82, {}))));
    EXPECT_EQ(ApartWorker::pending(), 8u);   // not yet 10 s
    G_timeTicks += 2;
    ASSERT_TRUE(isReply(talking.call(body(0x82, {}))));
    EXPECT_TRUE(waitFor([] { return ApartWorker::pending() == 3; })) << ApartWorker::pending();
    flash->setStuckBusy(false);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(status(talking.receiveFrame()), 0) << i;
    EXPECT_TRUE(silent.receiveFrame(300).empty());
}

// A host whose own command runs longer than 10 s (a whole-flash erase) waits for its reply: it
// is not silent, and what it queued behind that command is carried out and answered.
TEST_F(FlashQueue, AHostWaitingForItsOwnRunningCommandKeepsItsQueue)
{
    G_timeTicks = 20000;
    UdpClient waiting(udpPort(), kHostA), other(udpPort(), kHostB);
    const int polls = flash->statusPolls();
    for (int i = 0; i < 2; ++i)
        waiting.sendRaw(erase64k());
    ASSERT_TRUE(waitFor([] { return ApartWorker::pending() == 2; }));
    // The first is running once the flash is asked whether it is ready (it stays busy).
    ASSERT_TRUE(waitFor([&] { return flash->statusPolls() > polls; }));
    G_timeTicks += 5000;
    for (int i = 0; i < 2; ++i)
        ASSERT_TRUE(isReply(other.call(body(0x82, {}))));
    EXPECT_EQ(ApartWorker::pending(), 2u);
    flash->setStuckBusy(false);
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(status(waiting.receiveFrame()), 0) << i;
}

// The erases of a client that went away and had not started are dropped: they count against
// nobody and are not carried out.
TEST_F(FlashQueue, AClientThatGoesAwayLeavesNoWorkBehind)
{
    {
        TcpClient gone(tcpPort());
        for (int i = 0; i < 16; ++i)
            gone.sendRaw(erase64k());
        ASSERT_TRUE(waitFor([] { return ApartWorker::pending() == 16; }, 1000));
    }
    EXPECT_TRUE(waitFor([] { return ApartWorker::pending() <= 1; }, 1500)) << ApartWorker::pending();
    flash->setStuckBusy(false);
    ASSERT_TRUE(waitFor([] { return ApartWorker::pending() == 0; }));
    const std::vector<sim::SimSerialFlash::Op> ops = flash->log();
    EXPECT_LE(std::count_if(ops.begin(), ops.end(), [](const auto& op) { return op.opcode == 0xD8 && op.accepted; }), 1);
}

// A connection held at its host's share that closes is seen gone while held: none of the erases
// it sent behind its held one is carried out once the host's places free.
TEST_F(FlashQueue, AHeldConnectionThatClosesLeavesNoWorkBehind)
{
    TcpClient busy(tcpPort(), 0, kHostA);
    for (int i = 0; i < 16; ++i)
        busy.sendRaw(erase64k());
    ASSERT_TRUE(waitFor([] { return ApartWorker::pending() == 16; }, 1500));
    {
        TcpClient gone(tcpPort(), 0, kHostA);
        for (int i = 0; i < 20; ++i)
            gone.sendRaw(encode(body(0x70, {0x00, 0x00, 0x02, 0x00, 1, 0, 2, 1})));   // 4 KB at 0x20000
        ASSERT_TRUE(waitFor([] { return networkManage::pInstance()->clientCount() == 2; }));
    }
    EXPECT_TRUE(waitFor([] { return networkManage::pInstance()->clientCount() == 1; }));
    flash->setStuckBusy(false);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(status(busy.receiveFrame(10000)), 0) << i;
    ASSERT_TRUE(waitFor([] { return ApartWorker::pending() == 0; }));
    const std::vector<sim::SimSerialFlash::Op> ops = flash->log();
    EXPECT_EQ(std::count_if(ops.begin(), ops.end(), [](const auto& op) { return op.address == 0x20000 && op.accepted; }), 0);
}

// Queued flash work is served one job of each waiting host in turn: two hosts queue 8 erases
// each behind the flash held busy, then a third host its first command, a read, all over TCP
// (one link for all three). Once the flash is free the read is carried out after about one erase
// of each busy host, not after all of theirs, and its reply goes out then: it waits for no other
// connection's reply.
TEST_F(FlashQueue, AHostsFirstCommandWaitsAboutOneJobOfEachOtherBusyHost)
{
    TcpClient busy[2] = {TcpClient(tcpPort(), 0, kHostA), TcpClient(tcpPort(), 0, kHostB)};
    // Erases long beside the link's step: a reply sent once its job is done goes out before the
    // part takes the erase after the next.
    flash->setEraseTimes(0, 0, 80);
    for (TcpClient& c : busy)
        for (int i = 0; i < 8; ++i)
            c.sendRaw(erase64k());
    ASSERT_TRUE(waitFor([] { return ApartWorker::pending() == 16; }, 1500));
    TcpClient victim(tcpPort(), 0, kHostC);
    Bytes read = ramRead(0x10000, 16);
    read[6] = 2;
    victim.sendRaw(encode(body(0x72, read)));
    ASSERT_TRUE(waitFor([] { return ApartWorker::pending() == 17; }));
    flash->clearLog();
    flash->setStuckBusy(false);
    const Bytes r = victim.receiveFrame(10000);
    auto erases = [](const std::vector<sim::SimSerialFlash::Op>& ops) {
        return std::count_if(ops.begin(), ops.end(), [](const auto& op) { return op.opcode == 0xD8 && op.accepted; });
    };
    // The erases the part had taken when the reply came: those before the read, and the next.
    const long erasesAtReply = erases(flash->log());
    ASSERT_TRUE(isReply(r));
    EXPECT_EQ(status(r), 0);
    EXPECT_EQ(replyData(r), Bytes(16, 0xFF));
    EXPECT_LE(erasesAtReply, 4);
    for (TcpClient& c : busy)
        for (int i = 0; i < 8; ++i)
            EXPECT_EQ(status(c.receiveFrame(10000)), 0) << i;
    // What the part did, in order: the 64 KB erases carried out before the read.
    int erasesBefore = 0;
    bool readSeen = false;
    for (const sim::SimSerialFlash::Op& op : flash->log()) {
        if (op.opcode == 0x0B && op.accepted) {
            readSeen = true;
            break;
        }
        erasesBefore += op.opcode == 0xD8 && op.accepted;
    }
    EXPECT_TRUE(readSeen);
    // The one waiting for the part when it came free, then at most one of each busy host.
    EXPECT_LE(erasesBefore, 3);
}

// Two connections of one host, both held at its share: one streams 32 erases, the other (connected
// later) then sends a read. The place that frees goes to the command held longest, so the read is
// carried out about one erase after those already taken, not after the whole stream.
TEST_F(FlashQueue, AHeldCommandTakesAFreedPlaceBeforeAnotherConnectionsLaterOnes)
{
    TcpClient stream(tcpPort(), 0, kHostA), victim(tcpPort(), 0, kHostA);
    flash->setEraseTimes(0, 0, 30);   // one place frees at a time
    Bytes wire;
    for (int i = 0; i < 32; ++i) {
        const Bytes e = erase64k();
        wire.insert(wire.end(), e.begin(), e.end());
    }
    stream.sendRaw(wire);
    ASSERT_TRUE(waitFor([] { return ApartWorker::pending() == ApartWorker::kHostShare; }, 1500));
    Bytes read = ramRead(0x10000, 16);
    read[6] = 2;
    victim.sendRaw(encode(body(0x72, read)));
    EXPECT_TRUE(victim.receiveFrame(100).empty());   // held, not refused
    flash->clearLog();
    flash->setStuckBusy(false);
    ASSERT_TRUE(isReply(victim.receiveFrame(10000)));
    for (int i = 0; i < 32; ++i)
        EXPECT_EQ(status(stream.receiveFrame(10000)), 0) << i;
    int erasesBefore = 0;
    for (const sim::SimSerialFlash::Op& op : flash->log()) {
        if (op.opcode == 0x0B && op.accepted)
            break;
        erasesBefore += op.opcode == 0xD8 && op.accepted;
    }
    EXPECT_LE(erasesBefore, int(ApartWorker::kHostShare) + 2) << erasesBefore;
}

// A client sends, in one go, an erase, 40 writes of 256 bytes behind it, then 8 times a write, an
// erase of its sector and another write: far past its share, while the flash is held busy.
// Nothing is refused: the link takes the client's frames as places free, another client is
// answered meanwhile, and every command is done, answered 0 in the order sent, and in the flash.
static void streamPastItsShare(Client& writer, Client& other, sim::SimSerialFlash& flash)
{
    Bytes wire, expected(0x18000, 0xFF);
    std::vector<uint8_t> groups;
    auto add = [&](uint8_t group, const Bytes& payload) {
        const Bytes b = encode(body(group, payload, kDevice, kPc, uint8_t(groups.size())));
        wire.insert(wire.end(), b.begin(), b.end());
        groups.push_back(group);
    };
    auto write = [&](uint32_t at, uint8_t seed) {
        Bytes p = {uint8_t(at), uint8_t(at >> 8), uint8_t(at >> 16), 0, 0x00, 0x01, 2, 0};
        for (int i = 0; i < 256; ++i)
            p.push_back(expected[at - 0x10000 + i] = uint8_t(seed + i * 7));
        add(0x71, p);
    };
    add(0x70, {0x00, 0x00, 0x01, 0x00, 1, 0, 2, 4});   // 64 KB at 0x10000
    for (int i = 0; i < 40; ++i)
        write(0x10000 + 256 * i, uint8_t(i));
    for (uint32_t k = 0; k < 8; ++k) {
        const uint32_t sector = 0x20000 + 0x1000 * k;
        write(sector, 0x55);   // gone with the erase behind it
        add(0x70, {0x00, uint8_t(sector >> 8), uint8_t(sector >> 16), 0x00, 1, 0, 2, 1});
        std::fill(expected.begin() + (sector - 0x10000), expected.begin() + (sector - 0x10000 + 0x1000), 0xFF);
        write(sector + 0x100, uint8_t(0x80 + k));
    }
    std::thread sending([&] { writer.sendRaw(wire); });   // a serial line's port takes only so much
    EXPECT_TRUE(waitFor([] { return ApartWorker::pending() == ApartWorker::kClientShare; }, 1500));
    EXPECT_TRUE(isReply(other.call(body(0x82, {}), 2000)));
    flash.setStuckBusy(false);
    for (size_t i = 0; i < groups.size(); ++i) {
        const Bytes r = writer.receiveFrame(10000);
        EXPECT_TRUE(isReply(r) && r[5] == uint8_t(i) && r[9] == groups[i] && status(r) == 0) << i;
    }
    sending.join();
    EXPECT_TRUE(flash.contents(0x10000, 0x18000) == expected);
}

TEST_F(FlashQueue, AStreamPastItsShareOnAConnectionIsTakenWholeAndAnsweredInOrder)
{
    TcpClient writer(tcpPort(), 0, kHostA), other(tcpPort(), 0, kHostB);
    streamPastItsShare(writer, other, *flash);
}

TEST_F(FlashQueue, AStreamPastItsShareOnTheSerialLineIsTakenWholeAndAnsweredInOrder)
{
    PtyClient line("/dev/ttyS2");
    ASSERT_TRUE(waitFor([] { return Jy_uart_inout::pInstance()->portOpen(); }));
    TcpClient other(tcpPort());
    streamPastItsShare(line, other, *flash);
}

// A UDP sender cannot be held back: of 20 erases, the 4 past its share are refused, but those
// refusals come after the replies of its 16 earlier erases, in the order it sent them.
TEST_F(FlashQueue, AUdpSendersRefusalsComeBehindTheRepliesOfItsEarlierCommands)
{
    // 16 taken, 16 refused behind them; the last 8 find the refusals' share full and go unanswered.
    UdpClient udp(udpPort(), kHostA);
    for (int i = 0; i < 40; ++i)
        udp.sendRaw(encode(body(0x70, {0x00, 0x00, 0x01, 0x00, 1, 0, 2, 4}, kDevice, kPc, uint8_t(i))));
    ASSERT_TRUE(waitFor([] { return ApartWorker::pending() == ApartWorker::kClientShare; }, 1500));
    EXPECT_TRUE(udp.receiveFrame(300).empty());
    flash->setStuckBusy(false);
    for (int i = 0; i < 32; ++i) {
        const Bytes r = udp.receiveFrame(10000);
        ASSERT_TRUE(isReply(r)) << i;
        EXPECT_EQ(r[5], uint8_t(i));
        EXPECT_EQ(status(r), i < 16 ? 0 : 1) << i;
    }
    EXPECT_TRUE(udp.receiveFrame(300).empty());
}

// A refusal that waits behind a UDP sender's earlier replies keeps its reply only, not the command
// (a flood of 64 KB writes past the share must not pile up in memory).
TEST(ApartRefusal, KeepsOnlyItsReply)
{
    Bytes payload = {0x00, 0x00, 0x10, 0x00, 0x60, 0xEA, 2, 0};
    payload.resize(payload.size() + 60000, 0x5A);
    const Bytes b = body(0x71, payload);
    const std::shared_ptr<ApartWorker::Job> job = ApartWorker::refused(b.data(), unsigned(b.size()));
    EXPECT_TRUE(job->done.load());
    EXPECT_TRUE(job->body.empty());
    ASSERT_TRUE(isReply(job->reply));
    EXPECT_EQ(job->reply[9], 0x71);
    EXPECT_EQ(status(job->reply), 1);
}

// A client's 64 KB write and a PC's command records run apart from the other clients' commands:
// while the write programs its pages (slow ones here) and while the records wait for the flash
// behind FPGA 0 (held by the box's own work here), other clients' status and an FPGA register
// are answered over TCP and UDP; then all are carried out and answered 0. Each record is the one
// in the command RAM when its start came: two records a PC sends at once (RAM write, start, RAM
// write, start) both run, in order, and one waiting behind another client's erase runs as it was
// although the command RAM changes meanwhile.
TEST_F(FlashQueue, OtherClientsAreAnsweredWhileA64KWriteAndACommandRecordRun)
{
    constexpr int kAnswerMs = 2000;   // long beside a status reply: only a held link misses it
    flash->setStuckBusy(false);
    sim::SimSerialFlash& flash3 = *board->flash[1];
    flash3.setProgramTime(15000);   // 256 pages: seconds
    TcpClient writer(tcpPort(), 0, kHostA), other(tcpPort(), 0, kHostB);
    UdpClient udp(udpPort(), kHostC);
    auto othersAnswered = [&] {
        const Bytes t = other.call(body(0x82, {}), kAnswerMs);
        const Bytes u = udp.call(body(0xA1, regRead(40, 1)), kAnswerMs);
        const Bytes f = other.call(body(0xA1, regRead(40, 1, 1)), kAnswerMs);   // over the bus, FPGA 0
        return isReply(t) && t[9] == 0x82 && isReply(u) && u[9] == 0xA1 && isReply(f) && status(f) == 0;
    };

    Bytes data(0xFFFF);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8_t(i * 7 + i / 256);
    Bytes write = {0x00, 0x00, 0x20, 0x00, 0xFF, 0xFF, 3, 0};   // 0x200000, device 3
    write.insert(write.end(), data.begin(), data.end());
    flash3.clearLog();
    writer.sendRaw(encode(body(0x71, write)));
    ASSERT_TRUE(waitFor([&] {
        for (const sim::SimSerialFlash::Op& op : flash3.log())
            if (op.opcode == 0x02 && op.accepted)
                return true;
        return false;
    }));
    EXPECT_TRUE(othersAnswered());
    EXPECT_TRUE(writer.receiveFrame(0).empty());   // still writing
    Bytes r = writer.receiveFrame(20000);
    ASSERT_TRUE(isReply(r));
    EXPECT_EQ(status(r), 0);
    EXPECT_TRUE(flash3.contents(0x200000, 0xFFFF) == data);
    flash3.setProgramTime(0);

    // Schedules of one and of two entries, stored one after the other.
    const Bytes record = {0xAA, 0x02, 0xAA, 0, 0, 0, 5, 0, 1, 0x07, 0x30, 0x22, 0x00};
    const Bytes record2 = {0xAA, 0x02, 0xAA, 0, 0, 0, 9, 0, 2, 0x06, 0x00, 0x12, 0x00, 0x18, 0x00, 0x23, 0x59};
    const Bytes start = encode(body(0xA0, regWrite(2, 0x04, 0x04, 1)));
    TcpClient pc(tcpPort(), 0, kHostA);
    fpga_drv& drv = fpga_manage::pInstance()->drv();
    ASSERT_TRUE(drv.takeFlash(2));
    flash->clearLog();
    Bytes both = encode(body(0x60, ramWrite(0x100000, record)));
    for (const Bytes& b : {start, encode(body(0x60, ramWrite(0x100000, record2))), start})
        both.insert(both.end(), b.begin(), b.end());
    pc.sendRaw(both);
    ASSERT_TRUE(waitFor([&] { return drv.flashWaiters(2) == 1; }));
    EXPECT_TRUE(othersAnswered());
    drv.giveFlash(2);
    for (int i = 0; i < 4; ++i) {
        r = pc.receiveFrame(10000);
        ASSERT_TRUE(isReply(r)) << i;
        EXPECT_EQ(status(r), 0) << i;
    }
    // What the part programmed where the schedule is kept: each record, in order.
    std::vector<uint32_t> programmed;
    for (const sim::SimSerialFlash::Op& op : flash->log())
        if (op.opcode == 0x02 && op.accepted && op.address == 0x6CD000)
            programmed.push_back(op.length);
    EXPECT_EQ(programmed, (std::vector<uint32_t>{uint32_t(record.size()), uint32_t(record2.size())}));
    EXPECT_TRUE(flash->contents(0x6CD000, uint32_t(record2.size())) == record2);

    // Another client's erase holds the flash; the record queued behind it is the one its start
    // found, whatever the command RAM holds once the erase is done.
    flash->setStuckBusy(true);
    TcpClient eraser(tcpPort(), 0, kHostB);
    eraser.sendRaw(erase64k());
    ASSERT_TRUE(waitFor([] { return ApartWorker::pending() == 1; }));
    ASSERT_EQ(status(pc.call(body(0x60, ramWrite(0x100000, record)))), 0);
    pc.sendRaw(start);
    ASSERT_TRUE(waitFor([] { return ApartWorker::pending() == 2; }));
    ASSERT_EQ(status(other.call(body(0x60, ramWrite(0x100000, record2)))), 0);
    flash->setStuckBusy(false);
    EXPECT_EQ(status(eraser.receiveFrame(10000)), 0);
    EXPECT_EQ(status(pc.receiveFrame(10000)), 0);
    EXPECT_TRUE(flash->contents(0x6CD000, uint32_t(record.size())) == record);
}

TEST_F(Links, SerialLineOverAPseudoTerminal)
{
    PtyClient pty("/dev/ttyS2");
    Jy_uart_inout* link = Jy_uart_inout::pInstance();
    ASSERT_TRUE(waitFor([&] { return link->portOpen(); }));
    Bytes r = pty.call(body(0x60, ramWrite(0x5A5, {0xA5, 0x5A})));
    ASSERT_TRUE(checkOk(r));
    EXPECT_EQ(status(r), 0);
    EXPECT_EQ(model->ram_para[0x5A5], 0xA5);
    EXPECT_EQ(model->ram_para[0x5A6], 0x5A);
    r = pty.call(body(0x61, ramRead(0x5A5, 2)));
    EXPECT_EQ(replyData(r), (Bytes{0xA5, 0x5A}));
}

TEST_F(Links, FileTransferOverTcp)
{
    TcpClient c(tcpPort());
    auto start = [&](const std::string& name, uint32_t size) {
        Bytes p = {1, 9, uint8_t(size), uint8_t(size >> 8), uint8_t(size >> 16), uint8_t(size >> 24),
                   uint8_t(name.size())};
        for (char ch : name)
            p.push_back(uint8_t(ch));
        return status(c.call(body(0xC0, p)));
    };
    Bytes content = {'r', 'e', 'c', 0xA5, 0x5A};
    auto send = [&](bool goodDigest) {
        Bytes d = {2, 0, 0, 0, 0, uint8_t(content.size()), 0};
        for (uint8_t b : content)
            d.push_back(b);
        EXPECT_EQ(status(c.call(body(0xC0, d))), 0);
        MD5 m(content.data(), unsigned(content.size()));
        Bytes e = {3};
        e.insert(e.end(), m.digest(), m.digest() + 16);
        if (!goodDigest)
            e[16] ^= 0x80;
        return status(c.call(body(0xC0, e)));
    };
    ASSERT_EQ(start("JYFX_1", 5), 0);
    EXPECT_EQ(send(false), 1);
    EXPECT_FALSE(zeltest::fileExists("/data/rcvrecovery/JYFX_1"));
    ASSERT_EQ(start("JYFX_1", 5), 0);
    EXPECT_EQ(send(true), 0);
    EXPECT_EQ(zeltest::readFile("/data/rcvrecovery/JYFX_1"), content);
    EXPECT_EQ(start("JYFX/../../../etc/passwd", 5), 1);
    EXPECT_EQ(start("../JYFX", 5), 1);
}

TEST_F(Links, FourGLineSpeaksTheSameFrames)
{
    PtyClient pty("/dev/ttyS1");
    Jy_uart_inout_4G* link = Jy_uart_inout_4G::pInstance();
    ASSERT_TRUE(waitFor([&] { return link->portOpen(); }));
    Bytes r = pty.call(body(0x60, ramWrite(0x700, {0x5B, 0xA6})));
    EXPECT_EQ(status(r), 0);
    EXPECT_EQ(model->ram_para[0x700], 0x5B);
    EXPECT_EQ(model->ram_para[0x701], 0xA6);
}

TEST_F(Links, EveryLinkMarksItselfBusyAtTheTickOfEachAcceptedFrame)
{
    TcpClient tcp(tcpPort());
    UdpClient udp(udpPort());
    PtyClient serial("/dev/ttyS2");
    PtyClient fourG("/dev/ttyS1");
    ASSERT_TRUE(waitFor([&] { return Jy_uart_inout::pInstance()->portOpen(); }));
    ASSERT_TRUE(waitFor([&] { return Jy_uart_inout_4G::pInstance()->portOpen(); }));
    Client* clients[] = {&tcp, &udp, &serial, &fourG};
    unsigned tick = 5000;
    for (Client* c : clients) {
        pc_cmd_valid = 0;
        pc_cmd_time = 0;
        G_timeTicks = tick;
        ASSERT_TRUE(isReply(c->call(body(0x82, {}))));
        EXPECT_EQ(pc_cmd_valid.load(), 1) << "link " << tick;
        EXPECT_EQ(pc_cmd_time.load(), tick) << "link " << tick;
        tick += 1000;
    }
}
