// Frames for the receiving cards passed through the running links to the simulated cards, and
// the cards' answers coming back on the link that asked.
#include <gtest/gtest.h>

// fpga_rig.h names a member "signals": it comes before any QObject header.
#include "ledout/fpga_rig.h"

#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include "core/global.h"
#include "link_client.h"
#include "links/networkmanage.h"
#include "links/passby.h"
#include "links/uart_inout.h"
#include "links/uart_inout_4G.h"
#include "links/udpnetmanage.h"
#include "sim/card_chain.h"
#include "sim/card_port_engine.h"
#include "sim/sim_clock.h"
#include "sim/sim_config.h"

using namespace linktest;

namespace {

// Waits until the TCP link holds a pass-through frame, then advances the ticks until its wait
// ends. False when the link never took the frame.
bool tcpWaitsThenRunsOut()
{
    for (int i = 0; i < 300 && g_passby_trans_port.load() != 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (g_passby_trans_port.load() != 2)
        return false;
    for (int i = 0; i < 400 && g_passby_trans_port.load() == 2; ++i) {
        G_timeTicks += 10;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

struct PassbyRig : fpgatest::Rig {
    PassbyRig()
    {
        setenv("ZEL_TCP_PORT", "0", 1);
        setenv("ZEL_UDP_PORT", "0", 1);
        sim::SimConfig c = sim::config();
        c.cardsPerPort = {};
        c.cardsPerPort[0] = 2;
        c.cardsPerPort[17] = 1;
        sim::setConfig(c);
        sim::attachCardChains();
    }
};

// A search of the cards on one port (byte 6 = 1, byte 7 = port + 1).
Bytes search(uint8_t portByte, uint8_t tag = 0x21)
{
    return body(0x10, Bytes(19, 0), 0x0FFE, kPc, tag, 1, portByte);
}

// How long a reply that must come is waited for: a bound on a hang, long enough for a loaded
// machine under the sanitizers.
constexpr int kReplyBoundMs = 10000;

constexpr uint8_t kEmptyPortByte = 5;   // port 4: no cards
constexpr uint8_t kSlowPortByte = 18;   // port 17: a card that answers only as the ticks move
constexpr uint32_t kSlowTicks = 30;
constexpr int kBurst = 20;

// 20 RAM reads of the cards on one port, in one write or datagram.
Bytes cardBurst(uint8_t portByte)
{
    Bytes wire;
    for (int i = 0; i < kBurst; ++i) {
        Bytes one = encode(body(0x61, {0x80, 0x01, 0, 0, 2, 0, 0, 0}, 0x0000, kPc, uint8_t(0x40 + i), 1, portByte));
        wire.insert(wire.end(), one.begin(), one.end());
    }
    return wire;
}

// The reply to `request` while no tick passes: nothing the cards hold can time out meanwhile, so a
// reply at all (within the call's deadline of seconds) is one that waited for no card frame.
Bytes promptly(Client& c, const Bytes& request) { return c.call(request, kReplyBoundMs); }

// The rig with every card counted; the card on port 17 then answers kSlowTicks late. Two
// clients, on TCP and UDP, look on.
struct BurstRig : PassbyRig {
    BurstRig()
    {
        sim::setTickSource([] { return G_timeTicks.load(); });
        counted = bringUp() && passUntil([&] { return m->get_port_card_num(0) != 0 && m->get_port_card_num(17) != 0; });
        sim::CardChain::PortFaults slow;
        slow.delayTicks = kSlowTicks;
        sim::cardChain().setFaults(kSlowPortByte - 1, slow);
        sim::cardChain().clearLog();
    }
    ~BurstRig() { sim::setTickSource(nullptr); }
    size_t sentToSlowPort() const { return sim::cardChain().received(kSlowPortByte - 1).size(); }
    // The card on the slow port answers the first frame of the sender's burst, and only that one.
    void answeredOnce(Client& sender)
    {
        G_timeTicks += kSlowTicks + 1;
        Bytes r = sender.receiveFrame(kReplyBoundMs);
        ASSERT_TRUE(isReply(r));
        EXPECT_EQ(r[5], 0x40);
        EXPECT_EQ(r[7], kSlowPortByte);
        EXPECT_TRUE(sender.receiveFrame(100).empty());
        EXPECT_EQ(sentToSlowPort(), 1u);
    }
    // Both onlookers get their replies at once.
    void othersServed()
    {
        EXPECT_TRUE(isReply(promptly(tcp, body(0x82, {}))));
        EXPECT_TRUE(isReply(promptly(udp, body(0x82, {}))));
    }
    bool counted = false;
    TcpClient tcp{networkManage::pInstance()->port()};
    UdpClient udp{udpnetManage::pInstance()->port()};
};

// A burst for the port without cards from a TCP client that leaves at once, or in one datagram:
// the onlookers are served at once, their card frames included.
void emptyPortBurstHoldsNobody(bool inDatagram)
{
    BurstRig rig;
    ASSERT_TRUE(rig.counted);
    if (inDatagram) {
        UdpClient(udpnetManage::pInstance()->port()).sendRaw(cardBurst(kEmptyPortByte));
    } else {
        TcpClient(networkManage::pInstance()->port()).sendRaw(cardBurst(kEmptyPortByte));
    }
    rig.othersServed();
    Bytes r = promptly(inDatagram ? static_cast<Client&>(rig.udp) : rig.tcp, search(1));
    ASSERT_TRUE(isReply(r));
    EXPECT_EQ(r[9], 0x10);
    EXPECT_EQ(r[7], 1);
}

// A serial line has one peer: of its burst for a port with cards the first frame waits for its
// answer and the rest are dropped, while the line answers its other frames, as do the other links.
template <class Line>
void serialBurstWaitsOnce(const char* device)
{
    BurstRig rig;
    ASSERT_TRUE(rig.counted);
    PtyClient line(device);
    Jy_uart_inout::pInstance();   // holds the replies of both lines, as on the box
    ASSERT_TRUE(waitFor([] { return Line::pInstance()->portOpen(); }));
    line.sendRaw(cardBurst(kSlowPortByte));
    ASSERT_TRUE(waitFor([] { return g_passby_trans_port.load() == 1; }));
    EXPECT_TRUE(isReply(promptly(line, body(0x82, {}))));
    rig.othersServed();

    rig.answeredOnce(line);
}

// A search of the slow port from `first` holds the cards for `holder`'s link; a search of the
// onlooker, then one of `second` on the holder's link, wait behind it. Once the slow card has
// answered, the onlooker's search, the older one, has the cards before `second`'s.
void cardsTakeFramesInArrivalOrder(Client& first, Client& second, Client& onlooker, uint8_t holder)
{
    first.sendRaw(encode(search(kSlowPortByte, 0x41)));
    ASSERT_TRUE(waitFor([&] { return g_passby_trans_port.load() == holder; }));
    onlooker.sendRaw(encode(search(1, 0x42)));
    ASSERT_TRUE(waitFor([] { return passby::Turn::waiting() == 1; }));
    second.sendRaw(encode(search(kSlowPortByte, 0x43)));
    ASSERT_TRUE(waitFor([] { return passby::Turn::waiting() == 2; }));
    // The slow card counts its delay from the tick it took the frame in.
    ASSERT_TRUE(waitFor([] { return sim::cardChain().received(kSlowPortByte - 1).size() == 1; }));

    G_timeTicks += kSlowTicks + 1;
    Bytes r = first.receiveFrame(kReplyBoundMs);
    ASSERT_TRUE(isReply(r));
    EXPECT_EQ(r[5], 0x41);
    r = onlooker.receiveFrame(kReplyBoundMs);   // no tick passes: only the onlooker's port answers
    ASSERT_TRUE(isReply(r));
    EXPECT_EQ(r[5], 0x42);
    EXPECT_EQ(r[7], 1);
    ASSERT_TRUE(waitFor([] { return sim::cardChain().received(kSlowPortByte - 1).size() == 2; }));   // `second`'s turn
    G_timeTicks += kSlowTicks + 1;
    r = second.receiveFrame(kReplyBoundMs);
    ASSERT_TRUE(isReply(r));
    EXPECT_EQ(r[5], 0x43);
}

}  // namespace

TEST(Passby, SearchIsAnsweredOnTheLinkItCameFrom)
{
    PassbyRig rig;
    ASSERT_TRUE(rig.bringUp());
    TcpClient tcp(networkManage::pInstance()->port());
    UdpClient udp(udpnetManage::pInstance()->port());

    Bytes r = tcp.call(search(1));
    ASSERT_TRUE(isReply(r));
    EXPECT_EQ(r[0] | (r[1] << 8), kPc);   // addressed to the PC
    EXPECT_EQ(r[9], 0x10);
    EXPECT_EQ(r[7], 1);
    EXPECT_EQ(g_passby_trans_port.load(), 255);
    EXPECT_FALSE(sim::cardChain().received(0).empty());

    r = udp.call(search(18, 0x22));   // port 1 of FPGA 1
    ASSERT_TRUE(isReply(r));
    EXPECT_EQ(r[9], 0x10);
    EXPECT_EQ(r[7], 18);
    EXPECT_TRUE(tcp.receiveFrame(100).empty());   // nothing strays to the other link
}

TEST(Passby, NoAnswerReleasesTheLinkAfterTheWait)
{
    PassbyRig rig;
    ASSERT_TRUE(rig.bringUp());
    TcpClient tcp(networkManage::pInstance()->port());
    tcp.sendRaw(encode(search(5)));   // port 4: no cards
    // Wait until the link took the frame, then let the ticks run out.
    ASSERT_TRUE(tcpWaitsThenRunsOut());
    EXPECT_EQ(g_passby_trans_port.load(), 255);
    // The link is back to normal.
    Bytes r = tcp.call(body(0x82, {}));
    ASSERT_TRUE(isReply(r));
    EXPECT_EQ(status(r), 0);
    EXPECT_EQ(r[9], 0x82);
}

TEST(Passby, FrameTooLongForTheCardsIsDroppedAtOnce)
{
    PassbyRig rig;
    TcpClient tcp(networkManage::pInstance()->port());
    Bytes big = body(0x60, Bytes(1013, 0), 0x0001, kPc, 0x33, 1, 1);
    ASSERT_EQ(big.size(), 1024u);
    tcp.sendRaw(encode(big));
    Bytes r = tcp.call(body(0x82, {}));   // answered without any tick passing
    ASSERT_TRUE(isReply(r));
    EXPECT_EQ(r[9], 0x82);
    EXPECT_EQ(g_passby_trans_port.load(), 255);
}

TEST(Passby, GivingUpClearsTheManagersMultiPortState)
{
    PassbyRig rig;
    ASSERT_TRUE(rig.bringUp());
    ASSERT_TRUE(rig.passUntil([&] { return rig.m->get_port_card_num(17) != 0; }));   // counted by the search
    sim::CardChain::PortFaults mute;
    mute.silent = true;
    sim::cardChain().setFaults(17, mute);   // one port with cards stops answering
    TcpClient tcp(networkManage::pInstance()->port());
    tcp.sendRaw(encode(search(255)));        // every port with cards
    ASSERT_TRUE(tcpWaitsThenRunsOut());
    ASSERT_EQ(g_passby_trans_port.load(), 255);
    Bytes r = tcp.call(body(0x82, {}));   // the link answers again, so its wait has ended
    ASSERT_TRUE(isReply(r));
    EXPECT_EQ(r[9], 0x82);
    EXPECT_EQ(rig.m->multi_send_state.load(), 0);
    EXPECT_EQ(rig.m->passby_ack_mask, 0u);
}

TEST(Passby, SearchesOnTwoLinksAtOnceEachComeBackToTheirOwnLink)
{
    PassbyRig rig;
    ASSERT_TRUE(rig.bringUp());
    TcpClient tcp(networkManage::pInstance()->port());
    UdpClient udp(udpnetManage::pInstance()->port());
    constexpr int kSearches = 150;
    // Each link searches its own port; every answer must carry that port and the tag just sent.
    auto run = [](Client& c, uint8_t portByte, int* good) {
        for (int i = 0; i < kSearches; ++i) {
            const uint8_t tag = uint8_t(i);
            Bytes r = c.call(search(portByte, tag), kReplyBoundMs);
            if (!(isReply(r) && r[9] == 0x10 && r[7] == portByte && r[5] == tag))
                return;   // lost or someone else's: the rest would only wait
            ++*good;
        }
    };
    int tcpGood = 0, udpGood = 0;
    std::thread t([&] { run(tcp, 1, &tcpGood); });
    run(udp, 18, &udpGood);
    t.join();
    EXPECT_EQ(tcpGood, kSearches);
    EXPECT_EQ(udpGood, kSearches);
    EXPECT_TRUE(tcp.receiveFrame(50).empty());   // nothing left over or stray
    EXPECT_TRUE(udp.receiveFrame(50).empty());
    EXPECT_EQ(g_passby_trans_port.load(), 255);
}

TEST(Passby, AFrameOnALinkPausesTheCardSearchFor80Ticks)
{
    PassbyRig rig;
    ASSERT_TRUE(rig.bringUp());
    ASSERT_TRUE(rig.passUntil([&] { return rig.m->get_port_card_num(0) != 0; }));   // searched once
    TcpClient tcp(networkManage::pInstance()->port());
    ASSERT_TRUE(isReply(tcp.call(body(0x82, {}))));
    const unsigned lastFrame = G_timeTicks;
    EXPECT_EQ(pc_cmd_valid.load(), 1);
    EXPECT_EQ(pc_cmd_time.load(), lastFrame);
    sim::cardChain().clearLog();
    rig.pass(80);   // 80 ticks are not yet more than 80
    EXPECT_EQ(pc_cmd_valid.load(), 1);
    EXPECT_TRUE(sim::cardChain().received(0).empty());
    rig.pass();
    EXPECT_EQ(pc_cmd_valid.load(), 0);
    EXPECT_TRUE(rig.passUntil([] { return !sim::cardChain().received(0).empty(); }, 1));   // the next pass searches
}

TEST(Passby, BurstOfCardFramesForAnEmptyPortFromAClientThatLeavesHoldsNobody)
{
    emptyPortBurstHoldsNobody(false);
}

TEST(Passby, BurstOfCardFramesForAnEmptyPortInOneDatagramHoldsNobody)
{
    emptyPortBurstHoldsNobody(true);
}

// The first frame of a burst for a port with cards waits for its answer; the 19 behind it are
// dropped, not queued, and the other clients are served meanwhile. The sender leaving ends the
// wait.
TEST(Passby, BurstOfCardFramesForAPortWithCardsWaitsOnceAndHoldsNobody)
{
    BurstRig rig;
    ASSERT_TRUE(rig.counted);
    auto sender = std::make_unique<TcpClient>(networkManage::pInstance()->port());
    sender->sendRaw(cardBurst(kSlowPortByte));
    ASSERT_TRUE(waitFor([] { return g_passby_trans_port.load() == 2; }));
    rig.othersServed();
    EXPECT_EQ(rig.sentToSlowPort(), 1u);

    sender.reset();
    Bytes r = promptly(rig.tcp, search(1));
    ASSERT_TRUE(isReply(r));
    EXPECT_EQ(r[9], 0x10);
    EXPECT_EQ(rig.sentToSlowPort(), 1u);
}

TEST(Passby, BurstOfCardFramesInOneDatagramIsAnsweredOnceAndHoldsNobody)
{
    BurstRig rig;
    ASSERT_TRUE(rig.counted);
    UdpClient sender(udpnetManage::pInstance()->port());
    sender.sendRaw(cardBurst(kSlowPortByte));
    ASSERT_TRUE(waitFor([] { return g_passby_trans_port.load() == 3; }));
    rig.othersServed();
    // Another burst of the same sender while its first frame waits: dropped as well.
    sender.sendRaw(cardBurst(kSlowPortByte));
    rig.othersServed();

    rig.answeredOnce(sender);
    EXPECT_EQ(g_passby_trans_port.load(), 255);
}

TEST(Passby, AUdpSenderOnTwoPortsDoesNotKeepTheCardsFromATcpClient)
{
    BurstRig rig;
    ASSERT_TRUE(rig.counted);
    UdpClient portA(udpnetManage::pInstance()->port());
    UdpClient portB(udpnetManage::pInstance()->port());
    cardsTakeFramesInArrivalOrder(portA, portB, rig.tcp, 3);
}

TEST(Passby, TwoTcpConnectionsDoNotKeepTheCardsFromAUdpClient)
{
    BurstRig rig;
    ASSERT_TRUE(rig.counted);
    TcpClient first(networkManage::pInstance()->port());
    TcpClient second(networkManage::pInstance()->port());
    cardsTakeFramesInArrivalOrder(first, second, rig.udp, 2);
}

TEST(Passby, BurstOfCardFramesOnTheSerialLineWaitsOnceAndTheLineAnswersMeanwhile)
{
    serialBurstWaitsOnce<Jy_uart_inout>("/dev/ttyS2");
}

TEST(Passby, BurstOfCardFramesOnTheFourGLineWaitsOnceAndTheLineAnswersMeanwhile)
{
    serialBurstWaitsOnce<Jy_uart_inout_4G>("/dev/ttyS1");
}

// A TCP client goes away while its card frame waits behind another link's: its frame is dropped,
// never handed to the cards, and the next client's frame has the cards once they are free.
TEST(Passby, AFrameOfAClientThatWentAwayWhileItWaitedIsNeverHandedToTheCards)
{
    BurstRig rig;
    ASSERT_TRUE(rig.counted);
    rig.udp.sendRaw(encode(search(kSlowPortByte, 0x71)));   // holds the cards
    ASSERT_TRUE(waitFor([] { return g_passby_trans_port.load() == 3; }));
    {
        TcpClient gone(networkManage::pInstance()->port());
        gone.sendRaw(encode(search(1, 0x72)));
        ASSERT_TRUE(waitFor([] { return passby::Turn::waiting() == 1; }));
    }
    ASSERT_TRUE(waitFor([] { return networkManage::pInstance()->clientCount() == 1; }));
    ASSERT_TRUE(waitFor([&] { return rig.sentToSlowPort() == 1; }));
    G_timeTicks += kSlowTicks + 1;
    Bytes r = rig.udp.receiveFrame(kReplyBoundMs);
    ASSERT_TRUE(isReply(r));
    EXPECT_EQ(r[5], 0x71);
    r = promptly(rig.tcp, search(1, 0x73));
    ASSERT_TRUE(isReply(r));
    EXPECT_EQ(r[5], 0x73);
    EXPECT_EQ(sim::cardChain().received(0).size(), 1u);   // the last frame only
}

// An FPGA reset takes the frame a link waits on: its client hears at once that it failed (the
// frame's own header, addresses swapped, status 1) and the cards are free for the next frame,
// while no tick passes. An LED-size change resets both FPGAs: a frame handed over while the
// pulse lasts fails at once as well.
TEST(Passby, AFrameCutOffByAnFpgaResetIsAnsweredAsFailedAtOnce)
{
    BurstRig rig;
    ASSERT_TRUE(rig.counted);
    rig.tcp.sendRaw(encode(search(kSlowPortByte, 0x51)));
    ASSERT_TRUE(waitFor([] { return g_passby_trans_port.load() == 2; }));
    rig.m->reset_fpga_rst(1);   // the slow port is FPGA 1's
    Bytes r = rig.tcp.receiveFrame(kReplyBoundMs);
    ASSERT_TRUE(isReply(r));
    EXPECT_EQ(r[0] | r[1] << 8, kPc);
    EXPECT_EQ(r[2] | r[3] << 8, 0x0FFE);
    EXPECT_EQ(r[5], 0x51);
    EXPECT_EQ(r[7], kSlowPortByte);
    EXPECT_EQ(status(r), 1);
    r = promptly(rig.udp, search(1, 0x52));   // FPGA 0 still runs: its port answers
    ASSERT_TRUE(isReply(r));
    EXPECT_EQ(r[5], 0x52);
    EXPECT_EQ(r[7], 1);
    EXPECT_EQ(status(r), 0);

    g_set_led_para = 2;   // the engine has set the new size up: the next pass resets both FPGAs
    rig.pass();
    ASSERT_TRUE(rig.m->reset_pending(0));
    r = promptly(rig.tcp, search(1, 0x53));
    ASSERT_TRUE(isReply(r));
    EXPECT_EQ(r[5], 0x53);
    EXPECT_EQ(status(r), 1);
    EXPECT_EQ(g_passby_trans_port.load(), 255);
}

namespace {

// A frame waits in the line for the cards' turn up to 300 ticks: when the turn comes after it
// has waited `waited` ticks, it is handed over (and answered) or dropped.
void turnComesAfter(uint32_t waited, bool handedOver)
{
    BurstRig rig;
    ASSERT_TRUE(rig.counted);
    rig.tcp.sendRaw(encode(search(kSlowPortByte, 0x61)));   // holds the cards
    ASSERT_TRUE(waitFor([] { return g_passby_trans_port.load() == 2; }));
    rig.udp.sendRaw(encode(search(1, 0x62)));
    ASSERT_TRUE(waitFor([] { return passby::Turn::waiting() == 1; }));
    // The slow card counts its delay from the tick it took the frame in.
    ASSERT_TRUE(waitFor([&] { return rig.sentToSlowPort() == 1; }));
    G_timeTicks += waited;   // the slow card answers, and the turn is free
    Bytes r = rig.tcp.receiveFrame(kReplyBoundMs);
    ASSERT_TRUE(isReply(r));
    EXPECT_EQ(r[5], 0x61);
    r = rig.udp.receiveFrame(handedOver ? kReplyBoundMs : 300);
    if (handedOver) {
        ASSERT_TRUE(isReply(r));
        EXPECT_EQ(r[5], 0x62);
    } else {
        EXPECT_TRUE(r.empty());
        EXPECT_TRUE(isReply(promptly(rig.udp, body(0x82, {}))));
    }
}

}  // namespace

TEST(Passby, AFrameThatWaitedExactly300TicksForTheCardsIsHandedOver) { turnComesAfter(300, true); }

TEST(Passby, AFrameThatWaited301TicksForTheCardsIsDropped) { turnComesAfter(301, false); }
