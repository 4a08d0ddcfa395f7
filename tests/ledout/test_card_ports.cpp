// Receiving cards behind the simulated FPGAs: sending to ports, the card search, replies and the
// pass-through of PC frames, driven pass by pass on the tick counter.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <thread>
#include <vector>

// fpga_rig.h names a member "signals": it comes before any QObject header.
#include "fpga_rig.h"

#include "core/utils.h"
#include "core/zelrampara.h"
#include "ledout/eth_param.h"
#include "ledout/rcv_card_cmd.h"
#include "links/reply_queue.h"
#include "platform/gpio.h"
#include "platform/platform.h"
#include "sim/card_chain.h"
#include "sim/card_port_engine.h"
#include "sim/sim_clock.h"
#include "sim/sim_config.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr unsigned kLinkWaitTicks = 300;   // how long a test link waits for the cards

uint8_t xorAll(const Bytes& p)
{
    uint8_t x = 0;
    for (uint8_t b : p)
        x ^= b;
    return x;
}

uint16_t u16(const Bytes& p, size_t off) { return static_cast<uint16_t>(p[off] | (p[off + 1] << 8)); }

// A PC frame body for the cards: first address, second address 0xF010, tag, handling, port byte,
// command, payload, check byte.
Bytes pcFrame(uint16_t dest, uint8_t tag, uint8_t handling, uint8_t port, uint8_t cmd, Bytes payload = {})
{
    Bytes f = {static_cast<uint8_t>(dest), static_cast<uint8_t>(dest >> 8), 0x10, 0xF0, 0x10, tag, handling,
               port, 0, cmd};
    for (uint8_t b : payload)
        f.push_back(b);
    f.push_back(xorAll(f));
    return f;
}

unsigned int copyEncoder(unsigned char* out, const unsigned char* in, unsigned int length)
{
    std::memcpy(out, in, length);
    return length;
}

struct CardsRig : fpgatest::Rig {
    explicit CardsRig(std::initializer_list<std::pair<int, int>> cards)
    {
        fpgatest::plugCards(cards);
        tcpReplyQueue().attach(copyEncoder, [](TcpReplyRecord& r) { r.socket = 9; });
    }
    ~CardsRig() { tcpReplyQueue().detach(); }

    bool upAndSearched()
    {
        if (!bringUp())
            return false;
        pass(3 * 81);   // an even and an odd pass cover both ports of every pair
        return true;
    }
    // A link that stays busy: the card search pauses and the link polls for its reply.
    int passThrough(Bytes frame, uint8_t link = kPassbyTcp, int limit = 400)
    {
        g_passby_trans_port = link;
        m->passby_deliver(static_cast<unsigned>(frame.size()), frame.data());
        const unsigned start = G_timeTicks;
        while (Utils::getTimeSpace(start) <= static_cast<unsigned>(limit)) {
            pc_cmd_valid = 1;
            pc_cmd_time = G_timeTicks.load();
            if (m->passby_poll() == 1)
                return 1;
            if (Utils::getTimeSpace(start) > kLinkWaitTicks) {
                m->passby_give_up();
                return -1;
            }
            G_timeTicks += 1;
        }
        return 0;
    }
    Bytes queuedReply()
    {
        auto r = tcpReplyQueue().takeFirst();
        return r ? Bytes(r->frame, r->frame + r->length) : Bytes{};
    }
    // Register writes of one FPGA as (register, mask, value) in wire order.
    std::vector<std::array<int, 3>> registerWrites(int f)
    {
        std::vector<std::array<int, 3>> out;
        for (const auto& a : fpga(f).log())
            if (a.word[0] == 0x04 && !a.data.empty())
                out.push_back({a.word[2], a.word[3], a.data[0]});
        return out;
    }
};

}  // namespace

TEST(CardPorts, SendToPortWritesLengthSelectAndStart)
{
    CardsRig rig({{25, 1}, {27, 1}});
    ASSERT_TRUE(rig.bringUp());
    rig.fpga(1).clearLog();
    sim::cardChain().clearLog();
    unsigned char packet[13];
    ASSERT_EQ(rcv_card::saveParams(packet, 9), 13u);
    ASSERT_EQ(rig.m->Send_to_port(packet, 13, 9, 1), 0);

    bool len = false, high = false, start = false, select = false;
    for (auto [reg, mask, value] : rig.registerWrites(1)) {
        len |= reg == 154 && value == 12;
        high |= reg == 158 && (mask & 0x03) == 0x03 && (value & 0x03) == 0;
        start |= reg == 146 && mask == 0xF0 && (value & 0xF0) == 0x10;
        select |= reg == 148 && value == 0x02;
    }
    EXPECT_TRUE(len && high && start && select);
    auto got = sim::cardChain().received(25);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], Bytes(packet, packet + 13));

    // 1024 bytes on port 11 of FPGA 1: pair 5 takes 1023, its high bits in bits 2-3 of register 158.
    rig.fpga(1).clearLog();
    Bytes big(1024);
    ASSERT_EQ(rcv_card::writeRam(big.data(), 11, 0, 0x40, Bytes(1005, 0x5A).data(), 1005, false), 1024u);
    ASSERT_EQ(rig.m->Send_to_port(big.data(), 1024, 11, 1), 0);
    len = high = false;
    for (auto [reg, mask, value] : rig.registerWrites(1)) {
        len |= reg == 155 && value == 0xFF;
        high |= reg == 158 && (mask & 0x0C) == 0x0C && (value & 0x0F) == 0x0C;
    }
    EXPECT_TRUE(len && high);
    got = sim::cardChain().received(27);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], big);

    // refused: no port 16, no empty or oversized packet
    sim::cardChain().clearLog();
    EXPECT_EQ(rig.m->Send_to_port(packet, 13, 16, 1), 255);
    EXPECT_EQ(rig.m->Send_to_port(packet, 0, 9, 1), 255);
    EXPECT_EQ(rig.m->Send_to_port(packet, 1025, 9, 1), 255);
    EXPECT_TRUE(sim::cardChain().received(25).empty());
}

TEST(CardPorts, SearchFindsTheConfiguredCountsAndLeavesSilentPortsAtZero)
{
    CardsRig rig({{0, 4}, {1, 3}, {6, 2}, {9, 7}, {16, 2}, {31, 5}, {12, 3}});
    sim::CardChain::PortFaults silent;
    silent.silent = true;
    sim::cardChain().setFaults(12, silent);
    ASSERT_TRUE(rig.upAndSearched());

    const std::map<int, int> expect = {{0, 4}, {1, 3}, {6, 2}, {9, 7}, {16, 2}, {31, 5}};
    for (int port = 0; port < 32; ++port) {
        const int want = expect.count(port) ? expect.at(port) : 0;
        EXPECT_EQ(rig.m->get_port_card_num(static_cast<unsigned char>(port)), want) << "port " << port;
        // the count sits at the port's offset of its FPGA's block, in the FPGA as in the shadow
        const int f = port / 16;
        const unsigned n = eth_param::kCardCount[port % 16];
        auto ram = rig.fpga(f).ram(1, static_cast<int>(n), 2);
        EXPECT_EQ(ram[0] | (ram[1] << 8), want) << "port " << port;
    }
    EXPECT_EQ(rig.m->get_port_card_num(32), 0);
    EXPECT_EQ(rig.m->rcv_card_total, 23);
    EXPECT_FALSE(sim::cardChain().received(12).empty());   // searched, but no answer

    // every search packet was addressed to its port and checked out
    for (int port = 0; port < 32; ++port) {
        EXPECT_EQ(sim::cardChain().badCheckCount(port), 0);
        EXPECT_EQ(sim::cardChain().wrongPortCount(port), 0);
    }
}

TEST(CardPorts, PortsOfAPairAlternateAndAPortThatFallsSilentLosesItsCount)
{
    CardsRig rig({{4, 2}, {5, 3}});
    ASSERT_TRUE(rig.upAndSearched());
    EXPECT_EQ(rig.m->get_port_card_num(4), 2);
    EXPECT_EQ(rig.m->get_port_card_num(5), 3);

    sim::cardChain().dropCard(5, 1);   // the chain is cut after the first card
    rig.pass(3 * 81);
    EXPECT_EQ(rig.m->get_port_card_num(5), 1);

    sim::CardChain::PortFaults silent;
    silent.silent = true;
    sim::cardChain().setFaults(5, silent);
    rig.pass(4 * 81);
    EXPECT_EQ(rig.m->get_port_card_num(5), 0);
    EXPECT_EQ(rig.m->get_port_card_num(4), 2);
}

TEST(CardPorts, SearchPausesWhileALinkIsBusyAndResumes80TicksAfterTheLastFrame)
{
    CardsRig rig({{0, 1}});
    ASSERT_TRUE(rig.upAndSearched());
    sim::cardChain().clearLog();
    pc_cmd_valid = 1;
    pc_cmd_time = G_timeTicks.load();
    const unsigned lastFrame = G_timeTicks;
    unsigned firstSearch = 0;
    for (int k = 0; k < 400 && firstSearch == 0; ++k) {
        rig.pass();
        if (!sim::cardChain().received(0).empty())
            firstSearch = G_timeTicks;
    }
    ASSERT_NE(firstSearch, 0u);
    EXPECT_EQ(pc_cmd_valid.load(), 0);
    EXPECT_GT(firstSearch - lastFrame, 80u);
    EXPECT_LE(firstSearch - lastFrame, 82u);

    // a pass is due once 80 ticks have passed since the last one, not before
    const uint32_t counter = g_change[8];
    g_change[2] = G_timeTicks - 79;
    rig.m->Search_Card_Cmd();
    EXPECT_EQ(g_change[8], counter);
    g_change[2] = G_timeTicks - 80;
    rig.m->Search_Card_Cmd();
    EXPECT_EQ(g_change[8], counter + 1);

    // bit 3 of register 0 of either FPGA holds the search back; bit 2 (screen off) does not
    uint8_t& reg0 = rig.m->MCU_REG_func[1][0];
    const uint8_t kept = reg0;
    reg0 = static_cast<uint8_t>(kept | 0x08);
    g_change[2] = G_timeTicks - 80;
    rig.m->Search_Card_Cmd();
    EXPECT_EQ(g_change[8], counter + 1);
    EXPECT_EQ(g_change[2], G_timeTicks);
    reg0 = static_cast<uint8_t>((kept & ~0x08) | 0x04);
    g_change[2] = G_timeTicks - 80;
    rig.m->Search_Card_Cmd();
    EXPECT_EQ(g_change[8], counter + 2);
    reg0 = kept;
}

TEST(CardPorts, MultiPortSendReachesEveryPortWithCardsReaddressed)
{
    CardsRig rig({{0, 1}, {3, 2}, {10, 1}, {17, 4}, {30, 1}});
    ASSERT_TRUE(rig.upAndSearched());
    sim::cardChain().clearLog();
    unsigned char packet[16];
    const unsigned len = rcv_card::saveParamsToFlash(packet, 0, 0x0FFF, true);
    rig.m->multi_port_send(packet, static_cast<unsigned short>(len));
    EXPECT_EQ(rig.m->multi_send_state.load(), 1);
    for (int port = 0; port < 32; ++port) {
        auto got = sim::cardChain().received(port);
        const bool withCards = port == 0 || port == 3 || port == 10 || port == 17 || port == 30;
        ASSERT_EQ(got.size(), withCards ? 1u : 0u) << "port " << port;
        if (!withCards)
            continue;
        EXPECT_EQ((u16(got[0], 0) >> 12) & 3, port % 4);
        EXPECT_EQ(u16(got[0], 0) & 0x0FFF, 0x0FFF);
        EXPECT_EQ(xorAll(got[0]), 0);
    }
    for (int port = 0; port < 32; ++port)
        EXPECT_EQ(sim::cardChain().wrongPortCount(port), 0);
}

TEST(CardPorts, PcFrameGoesOutOfTheNamedPortAndTheReplyToTheLinkThatSentIt)
{
    CardsRig rig({{1, 3}, {19, 2}});
    ASSERT_TRUE(rig.upAndSearched());
    sim::cardChain().clearLog();
    sim::SimCard c;
    c.ram[0x180] = 0x34;
    c.ram[0x181] = 0x12;
    sim::cardChain().setCard(1, 2, c);

    // card 2 of FPGA 0 port 1 (byte 7 = 2): read two bytes of its RAM
    ASSERT_EQ(rig.passThrough(pcFrame(0x0002, 0x33, 1, 2, 0x61, {0x80, 0x01, 0, 0, 2, 0, 0, 0})), 1);
    auto sent = sim::cardChain().received(1);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(u16(sent[0], 0), 0x1002);   // port bits ORed in
    EXPECT_EQ(xorAll(sent[0]), 0);
    Bytes reply = rig.queuedReply();
    ASSERT_EQ(reply.size(), 14u);
    EXPECT_EQ(u16(reply, 0), 0xF010);
    EXPECT_EQ(u16(reply, 2), 0x0002);     // source port bits cleared for the PC
    EXPECT_EQ(reply[7], 2);
    EXPECT_EQ(reply[11], 0x34);
    EXPECT_EQ(reply[12], 0x12);
    EXPECT_EQ(xorAll(reply), 0);
    EXPECT_EQ(g_passby_trans_port.load(), kPassbyNone);

    // byte 6 = 1, byte 7 = 20: port 3 of FPGA 1
    ASSERT_EQ(rig.passThrough(pcFrame(0x0000, 0x34, 1, 20, 0x81, {0xFF, 0})), 1);
    sent = sim::cardChain().received(19);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ((u16(sent[0], 0) >> 12) & 3, 3);
    EXPECT_EQ(xorAll(sent[0]), 0);
    reply = rig.queuedReply();
    ASSERT_FALSE(reply.empty());
    EXPECT_EQ(reply[7], 20);

    // a frame of 1024 bytes is not sent
    sim::cardChain().clearLog();
    Bytes big = pcFrame(0x0000, 0x35, 1, 2, 0x60, Bytes(1013, 0));
    ASSERT_EQ(big.size(), 1024u);
    EXPECT_EQ(rig.passThrough(big), -1);
    EXPECT_TRUE(sim::cardChain().received(1).empty());
    // one byte shorter is
    big = pcFrame(0x0000, 0x36, 1, 2, 0x60, Bytes(1012, 0));
    ASSERT_EQ(big.size(), 1023u);
    rig.passThrough(big);
    EXPECT_EQ(sim::cardChain().received(1).size(), 1u);
}

TEST(CardPorts, PortByteAtEitherEndOfAnFpgaNamesItsPort)
{
    CardsRig rig({{15, 1}, {16, 1}, {31, 1}});
    ASSERT_TRUE(rig.upAndSearched());
    // Handling byte 6, port byte 7, the port (0-31) that gets the frame; -1 none.
    const struct {
        uint8_t handling, byte7;
        int port;
    } kRows[] = {{1, 16, 15}, {3, 17, 16}, {255, 32, 31}, {0, 17, 16}, {0, 32, 31}, {1, 33, -1}, {0, 33, -1}};
    uint8_t tag = 0x40;
    for (const auto& r : kRows) {
        sim::cardChain().clearLog();
        rig.passThrough(pcFrame(0x0000, tag++, r.handling, r.byte7, 0x81, {0xFF, 0}));
        rig.queuedReply();
        for (int port : {15, 16, 31})
            EXPECT_EQ(sim::cardChain().received(port).size(), port == r.port ? 1u : 0u)
                << int(r.handling) << "/" << int(r.byte7) << " port " << port;
    }
}

TEST(CardPorts, FrameForAllPortsIsAnsweredOnceEveryPortWithCardsAnswered)
{
    CardsRig rig({{0, 1}, {5, 2}, {16, 3}, {27, 1}});
    ASSERT_TRUE(rig.upAndSearched());
    sim::cardChain().clearLog();
    ASSERT_EQ(rig.passThrough(pcFrame(0x0FFE, 0x5C, 1, 255, 0x81, {0xFF, 0})), 1);
    for (int port : {0, 5, 16, 27})
        EXPECT_EQ(sim::cardChain().received(port).size(), 1u) << port;
    const Bytes reply = rig.queuedReply();
    ASSERT_FALSE(reply.empty());
    EXPECT_EQ(u16(reply, 2), 0x0FFE);
    EXPECT_EQ(reply[7], 255);
    EXPECT_EQ(reply[5], 0x5C);
    EXPECT_EQ(xorAll(reply), 0);
    EXPECT_EQ(tcpReplyQueue().size(), 0u);   // one answer stands for all ports
    EXPECT_EQ(rig.m->multi_send_state.load(), 0);

    // one port answering with another tag: no answer, and the link is released after the wait
    sim::CardChain::PortFaults f;
    f.wrongTag = true;
    sim::cardChain().setFaults(16, f);
    EXPECT_EQ(rig.passThrough(pcFrame(0x0FFF, 0x5D, 1, 255, 0x81, {0xFF, 0})), -1);
    EXPECT_EQ(g_passby_trans_port.load(), kPassbyNone);
    EXPECT_EQ(tcpReplyQueue().size(), 0u);
}

TEST(CardPorts, SilentPortTimesOutCleanlyAndTheNextFrameWorks)
{
    CardsRig rig({{2, 1}, {3, 1}});
    sim::CardChain::PortFaults silent;
    silent.silent = true;
    sim::cardChain().setFaults(3, silent);
    ASSERT_TRUE(rig.upAndSearched());
    EXPECT_EQ(rig.passThrough(pcFrame(0x0000, 0x40, 1, 4, 0x81, {0xFF, 0})), -1);
    EXPECT_EQ(g_passby_trans_port.load(), kPassbyNone);
    EXPECT_EQ(rig.m->passby_reply_ready.load(), 0);
    // a late reply after the time-out goes nowhere
    sim::cardChain().setFaults(3, {});
    unsigned char again[16];
    const unsigned n = rcv_card::saveParams(again, 3);
    rig.m->Send_to_port(again, static_cast<unsigned short>(n), 3, 0);
    pc_cmd_valid = 1;
    pc_cmd_time = G_timeTicks.load();
    rig.m->passby_poll();
    EXPECT_EQ(tcpReplyQueue().size(), 0u);

    EXPECT_EQ(rig.passThrough(pcFrame(0x0000, 0x41, 1, 3, 0x81, {0xFF, 0})), 1);
    EXPECT_FALSE(rig.queuedReply().empty());
}

namespace {

// Frame A goes to port 2 (byte 7 = 3) and is given up on; its answer comes late, while frame B
// waits.
void lateReplyToAFrameGivenUpOn(uint8_t tagB, uint8_t portByteB)
{
    CardsRig rig({{2, 1}, {4, 1}});
    sim::setTickSource([] { return G_timeTicks.load(); });   // the cards answer on the tick counter
    struct ClockReset {
        ~ClockReset() { sim::setTickSource(nullptr); }
    } clockReset;
    ASSERT_TRUE(rig.upAndSearched());
    const Bytes read = {0x80, 0x01, 0, 0, 2, 0, 0, 0};
    sim::CardChain::PortFaults slow;
    slow.delayTicks = kLinkWaitTicks + 50;
    sim::cardChain().setFaults(2, slow);
    EXPECT_EQ(rig.passThrough(pcFrame(0x0000, 0xA1, 1, 3, 0x61, read)), -1);   // frame A given up on
    sim::cardChain().setFaults(2, {});
    G_timeTicks += 100;   // A's answer comes now and waits in the reply RAM

    ASSERT_EQ(rig.passThrough(pcFrame(0x0000, tagB, 1, portByteB, 0x61, read)), 1);   // frame B
    const Bytes reply = rig.queuedReply();
    ASSERT_GT(reply.size(), 9u);
    EXPECT_EQ(reply[5], tagB);
    EXPECT_EQ(reply[7], portByteB);
    EXPECT_EQ(tcpReplyQueue().size(), 0u);
    EXPECT_EQ(g_passby_trans_port.load(), kPassbyNone);
}

}  // namespace

TEST(CardPorts, LateReplyToAFrameGivenUpOnDoesNotAnswerTheNextFrame)
{
    lateReplyToAFrameGivenUpOn(0xB2, 3);
}

// PC software often reuses one tag: B carries A's tag and goes to port 4, whose pair's reply RAM
// is read after A's.
TEST(CardPorts, LateReplyWithTheSameTagFromAnotherPortDoesNotAnswerTheNextFrame)
{
    lateReplyToAFrameGivenUpOn(0xA1, 5);
}

TEST(CardPorts, FrameForPortsWithoutCardsIsSentAndNotWaitedFor)
{
    CardsRig rig({{2, 1}});
    ASSERT_TRUE(rig.upAndSearched());
    struct Case {
        uint8_t handling;
        uint8_t portByte;
        int expected;   // passby_deliver: 1 an answer can come, 0 none can
    };
    const Case cases[] = {
        {1, 5, 0},     // port 4: no cards
        {1, 3, 1},     // port 2
        {0, 0, 0},     // port 0 of both FPGAs
        {1, 255, 1},   // all ports with cards
        {1, 40, 0},    // names no port
        {2, 3, 0},     // handling that sends nothing
    };
    // A search is how a port's count is learnt: it is waited for even where the count is 0.
    Bytes search = pcFrame(0x0000, 0x53, 1, 5, 0x10, Bytes(19, 0));
    EXPECT_EQ(rig.m->passby_deliver(static_cast<unsigned>(search.size()), search.data()), 1);
    rig.m->passby_give_up();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.portByte);
        Bytes frame = pcFrame(0x0000, 0x52, c.handling, c.portByte, 0x61, {0x80, 0x01, 0, 0, 2, 0, 0, 0});
        g_passby_trans_port = kPassbyTcp;
        EXPECT_EQ(rig.m->passby_deliver(static_cast<unsigned>(frame.size()), frame.data()), c.expected);
        EXPECT_EQ(g_passby_trans_port.load(), c.expected ? kPassbyTcp : kPassbyNone);
        rig.m->passby_give_up();
    }
    EXPECT_FALSE(sim::cardChain().received(4).empty()) << "sent all the same: the count may be old";
}

// Pair 7 (ports 14 and 15 of each FPGA) sends from RAM 17 and answers into RAM 16.
TEST(CardPorts, PairSevenUsesItsOwnRamsAndLeavesTheParameterBlock)
{
    CardsRig rig({{14, 1}, {31, 1}});
    ASSERT_TRUE(rig.upAndSearched());
    for (int f = 0; f < 2; ++f) {
        const unsigned short port = f == 0 ? 14 : 15;
        const Bytes block = rig.fpga(f).ram(1, 0, 1024);
        rig.fpga(f).clearLog();
        const Bytes packet = pcFrame(static_cast<uint16_t>((port % 4) << 12), 0x67, 1, static_cast<uint8_t>(port + 1),
                                     0x61, {0x80, 0x01, 0, 0, 2, 0, 0, 0});
        ASSERT_EQ(rig.m->Send_to_port(packet.data(), static_cast<unsigned short>(packet.size()), port,
                                      static_cast<unsigned char>(f)),
                  0);
        EXPECT_EQ(rig.fpga(f).ram(17, 0, static_cast<int>(packet.size())), packet) << f;
        const Bytes reply = rig.fpga(f).ram(16, 0, 14);
        EXPECT_EQ(reply[9], 0x61) << f;
        EXPECT_EQ(reply[5], 0x67) << f;
        EXPECT_EQ(rig.fpga(f).ram(1, 0, 1024), block) << f;
        EXPECT_EQ(rig.fpga(f).refusedRamAccesses(), 0) << f;
    }
}

TEST(CardPorts, PcSearchReplyOnFpga0UpdatesThePortCount)
{
    CardsRig rig({{3, 6}});
    ASSERT_TRUE(rig.upAndSearched());
    ASSERT_EQ(rig.m->get_port_card_num(3), 6);
    rcv_card::wr16(rig.m->MCU_RAM_PARA_func[0] + eth_param::kCardCount[3], 0);
    sim::cardChain().dropCard(3, 5);
    ASSERT_EQ(rig.passThrough(pcFrame(0x3FFE, 0x77, 1, 4, 0x10, Bytes(19, 0))), 1);
    EXPECT_EQ(rig.m->get_port_card_num(3), 5);
    auto ram = rig.fpga(0).ram(1, eth_param::kCardCount[3], 2);
    EXPECT_EQ(ram[0], 5);

    // a result without its port number: reply RAM of group 1, source bits 12-13 = 2 -> port 6,
    // count at 568-569 and status at 570 of the block
    Bytes r(24, 0);
    r[0] = 0x00, r[1] = 0xF0, r[3] = 0x20, r[9] = 0x10, r[11] = 0x03, r[12] = 0x02, r[13] = 0x5A;
    rig.m->Search_concurrent_back_result(r.data(), 1, 0, 24);
    EXPECT_EQ(rig.fpga(0).ram(1, 568, 3), Bytes({0x03, 0x02, 0x5A}));
    EXPECT_EQ(rig.m->get_port_card_num(6), 0x0203);
    rcv_card::wr16(rig.m->MCU_RAM_PARA_func[1] + 560, 0x0A0B);
    EXPECT_EQ(rig.m->get_port_card_num(20), 0x0A0B);
}

TEST(CardPorts, ShortAndBadRepliesAreAcknowledgedAndNotUsed)
{
    CardsRig rig({{0, 2}});
    ASSERT_TRUE(rig.upAndSearched());
    ASSERT_EQ(rig.m->get_port_card_num(0), 2);
    sim::CardPortEngine* engine = sim::cardPortEngine(0);
    ASSERT_NE(engine, nullptr);

    // a search reply cut after its count bytes, and one with a wrong check byte
    Bytes shortReply = {0x00, 0xF0, 0x00, 0x00, 0x10, 0xAA, 0xFF, 1, 0, 0x10, 0, 9, 0};
    shortReply.push_back(xorAll(shortReply));
    Bytes badReply = {0x00, 0xF0, 0x00, 0x00, 0x10, 0xAA, 0xFF, 1, 0, 0x10, 0, 9, 0, 0, 0, 0, 0, 0,
                      0, 0, 0, 0, 255};
    badReply.push_back(static_cast<uint8_t>(xorAll(badReply) ^ 0x01));
    Bytes tiny = {0x10, 0xF0, 0x00};
    engine->injectReply(rig.fpga(0), 0, shortReply);
    engine->injectReply(rig.fpga(0), 0, badReply);
    engine->injectReply(rig.fpga(0), 0, tiny);
    pc_cmd_valid = 1;
    pc_cmd_time = G_timeTicks.load();
    for (int k = 0; k < 10; ++k)
        rig.m->passby_poll();
    EXPECT_EQ(engine->queued(0), 0u);
    EXPECT_EQ(rig.fpga(0).reg(129) & 0x01, 0);   // nothing left standing in the reply RAM
    EXPECT_EQ(rig.m->get_port_card_num(0), 2);
}

TEST(CardPorts, JobAcknowledgeAndMultifunctionReplies)
{
    CardsRig rig({{8, 2}});
    ASSERT_TRUE(rig.upAndSearched());
    g_send_para[6] = 0;
    unsigned char packet[32];
    const unsigned char check = rig.m->save_para_cmd_create(packet, 8);
    const unsigned n = rcv_card::rd16(g_send_para + 12);   // the job block keeps the length
    ASSERT_EQ(n, 13u);
    EXPECT_EQ(packet[12], check);
    rig.m->Send_to_port(packet, static_cast<unsigned short>(n), 8, 0);
    rig.pass(2);
    EXPECT_EQ(g_send_para[6], 1);

    const unsigned char reg[4] = {3, 0x0F, 0, 9};
    const unsigned r = rig.m->load_write_reg_cmd_create(8, 1, reg, 4, packet, false);
    rcv_card::replaceByte(packet, r, 5, 0xBB);   // not a job packet: the reply is kept
    rcv_card::readdress(packet, r, 8);
    rig.m->vmf_reply_ready = 0;
    rig.m->Send_to_port(packet, static_cast<unsigned short>(r), 8, 0);
    rig.pass(2);
    EXPECT_EQ(rig.m->vmf_reply_ready, 1);
    EXPECT_EQ(rig.m->vmf_reply_cmd, 0xA0);
    EXPECT_EQ(rig.m->vmf_reply[0], 0);   // status
    EXPECT_EQ(sim::cardChain().card(8, 1).regs[3], 9);
}

TEST(EthParam, GeometryOffsetLinkBitsAndRamCheck)
{
    CardsRig rig({{0, 1}, {1, 1}, {2, 1}, {5, 1}, {9, 1}, {19, 1}, {22, 1}, {31, 1}});
    ASSERT_TRUE(rig.upAndSearched());
    fpga_manage* m = rig.m;
    for (unsigned char p = 0; p <= 16; ++p) {
        unsigned short x, y, w, h;
        EXPECT_EQ(m->get_eth_param_addr(p, &x, &y, &w, &h), 0);
        uint16_t ex, ey, ew, eh;
        eth_param::portFields(p, &ex, &ey, &ew, &eh);
        EXPECT_EQ(x, ex);
        EXPECT_EQ(h, eh);
    }

    // output offset: window width rounded up to 32, ports shifted
    uint8_t* block = m->MCU_RAM_PARA_func[0];
    rcv_card::wr16(block + eth_param::kWindowW, 1000);
    rcv_card::wr16(block + eth_param::kWindowH, 500);
    m->eth_param_init(1, 0);
    m->T71_back_mcu_set_net_para(0);
    ZelRamPara* model = ZelRamPara::pInstance();
    rcv_card::wr16(model->ram_para + 0x566, 0);
    rcv_card::wr16(model->ram_para + 0x568, 7);
    m->T71_mcu_set_net_para(0);
    EXPECT_EQ(rcv_card::rd16(block + eth_param::kWindowW), 1024);
    EXPECT_EQ(rcv_card::rd16(block + eth_param::kWindowH), 507);
    EXPECT_EQ(rcv_card::rd16(block + 43 + 2), 7);       // port 3 y
    EXPECT_EQ(rcv_card::rd16(block + 43 + 4), 1280);    // width untouched
    unsigned short maxX, maxY, minX, minY;
    m->get_eth_max_border(0, &maxX, &maxY);
    EXPECT_EQ(maxX, 1280);
    EXPECT_EQ(maxY, 519);
    rcv_card::wr16(block + 576 + 2, 3);   // port 8 y
    m->get_eth_min_x_y(0, &minX, &minY);
    EXPECT_EQ(minX, 0);
    EXPECT_EQ(minY, 3);

    // link bits of ports 0, 1, 2, 5 and 9 in bytes 96, 512, 513 of the FPGA; bits 2 and 5-7 of
    // byte 96 and bits 4-7 of byte 512 are the FPGA's own and keep their value
    block[96] |= 0x04;
    block[512] |= 0x80;
    m->update_eth_state(0);
    EXPECT_EQ(rig.fpga(0).ram(1, 96, 1)[0] & 0x1B, 0x01 | 0x02 | 0x08);
    EXPECT_EQ(rig.fpga(0).ram(1, 512, 1)[0] & 0x0F, 0x02);
    EXPECT_EQ(block[96], 0x0F);
    EXPECT_EQ(block[512], 0x82);
    EXPECT_EQ(rig.fpga(0).ram(1, 513, 1)[0], 0x02);
    m->update_eth_state(1);   // ports 3, 6 and 15 of FPGA 1
    EXPECT_EQ(rig.fpga(1).ram(1, 96, 1)[0] & 0x1B, 0x10);
    EXPECT_EQ(rig.fpga(1).ram(1, 512, 1)[0] & 0x0F, 0x04);
    EXPECT_EQ(rig.fpga(1).ram(1, 513, 1)[0], 0x80);
    EXPECT_EQ(m->get_port_card_num(22), 1);
    EXPECT_EQ(rig.fpga(1).ram(1, eth_param::kCardCount[6], 2), Bytes({1, 0}));

    // a port whose link drops has its count zeroed in the FPGA at the next refresh
    ASSERT_EQ(m->get_port_card_num(9), 1);
    sim::cardChain().dropCard(9, 0);
    m->update_eth_state(0);
    EXPECT_EQ(m->get_port_card_num(9), 0);
    EXPECT_EQ(rig.fpga(0).ram(1, eth_param::kCardCount[9], 2), Bytes({0, 0}));
    // nothing changed since: the link bytes are not written again, port 9's zero count (644) is
    rig.fpga(0).clearLog();
    m->update_eth_state(0);
    auto ramWrites = [&](int at) {
        int n = 0;
        for (const auto& a : rig.fpga(0).log())
            n += a.word[0] == 0x02 && a.word[1] == 1 && (a.word[2] | (a.word[3] & 0x0F) << 8) == at;
        return n;
    };
    EXPECT_EQ(ramWrites(96) + ramWrites(512) + ramWrites(513), 0);
    EXPECT_EQ(ramWrites(644), 1);

    // the RAM check compares every port field and the words at 296-359
    auto geometry = rig.fpga(0).ram(1, 0, 1024);
    rig.fpga(0).setRam(1, 0, Bytes(block, block + 1024));
    EXPECT_EQ(m->check_fpga_ram_param(0), 1);
    rig.fpga(0).setRam(1, 600 + 6, {0x55});
    EXPECT_EQ(m->check_fpga_ram_param(0), 0);
    rig.fpga(0).setRam(1, 600 + 6, {block[606]});
    rig.fpga(0).setRam(1, 358, {static_cast<uint8_t>(block[358] ^ 1)});
    EXPECT_EQ(m->check_fpga_ram_param(0), 0);

    // base copy: window width and height, the port records in port order, window x and y
    rcv_card::wr16(block + 56, 0x0102);
    rcv_card::wr16(block + 58, 0x0304);
    rcv_card::wr16(block + 60, 1024);
    rcv_card::wr16(block + 19, 0x1110);   // port 1 x
    m->T71_back_mcu_set_net_para(0);
    const uint8_t* back = m->MCU_RAM_ETH_BACK_PARA_func[0];
    EXPECT_EQ(rcv_card::rd16(back + 0), 1024);
    EXPECT_EQ(rcv_card::rd16(back + 4 + 8), 0x1110);
    EXPECT_EQ(rcv_card::rd16(back + 132), 0x0102);
    EXPECT_EQ(rcv_card::rd16(back + 134), 0x0304);
    // a width already on a multiple of 32 stays; the x offset is part of the rounded width
    rcv_card::wr16(model->ram_para + 0x568, 0);
    m->T71_mcu_set_net_para(0);
    EXPECT_EQ(rcv_card::rd16(block + 60), 1024);
    EXPECT_EQ(rcv_card::rd16(block + 56), 0x0102);
    rcv_card::wr16(model->ram_para + 0x566, 1);
    m->T71_mcu_set_net_para(0);
    EXPECT_EQ(rcv_card::rd16(block + 60), 1056);
    EXPECT_EQ(rcv_card::rd16(block + 19), 0x1111);
}

TEST(CardPorts, NoLinkNoSearchAndTheTimerIsRestamped)
{
    CardsRig rig({});
    ASSERT_TRUE(rig.bringUp());
    const unsigned up = G_timeTicks;
    rig.pass(300);
    for (int port = 0; port < 32; ++port)
        EXPECT_TRUE(sim::cardChain().received(port).empty()) << port;
    // a pass every 80 ticks, each one re-stamping the timer
    EXPECT_GE(g_change[2], up + 240);
    EXPECT_LT(G_timeTicks - g_change[2], 80u);
    EXPECT_EQ(g_change[1], 0u);
}

TEST(CardPorts, TwoReadyReplyRamsAreServedOneCallEach)
{
    CardsRig rig({{0, 1}, {5, 1}});
    ASSERT_TRUE(rig.upAndSearched());
    sim::CardPortEngine* engine = sim::cardPortEngine(0);
    g_passby_trans_port = kPassbyNone;
    Bytes reply = {0x10, 0xF0, 0x00, 0x00, 0x10, 0x21, 1, 1, 0, 0x81, 0};
    reply.push_back(xorAll(reply));
    engine->injectReply(rig.fpga(0), 2, reply);
    engine->injectReply(rig.fpga(0), 0, reply);
    ASSERT_EQ(rig.fpga(0).reg(129) & 0x11, 0x11);
    rig.m->Rcv_data_from_eth(0);
    EXPECT_EQ(rig.fpga(0).reg(129) & 0x11, 0x10);   // pair 0 first
    rig.m->Rcv_data_from_eth(0);
    EXPECT_EQ(rig.fpga(0).reg(129) & 0x11, 0x00);
    EXPECT_EQ(tcpReplyQueue().size(), 0u);           // nobody waits: dropped after the acknowledgement
}

namespace {

// Runs `step` on this thread and reports whether another thread could take the pass-through lock
// at any GPIO write (any FPGA access) that the step made.
bool readerGotInDuring(CardsRig& rig, const std::function<void()>& step)
{
    auto* gpio = dynamic_cast<platform::SimGpioWindow*>(&platform::gpio());
    if (gpio == nullptr)
        return true;
    int writes = 0, readerGotIn = 0;
    const int id = gpio->addListener([&](uint32_t, uint16_t) {
        ++writes;
        std::thread reader([&] {
            if (rig.m->passby_mutex.try_lock()) {
                ++readerGotIn;
                rig.m->passby_mutex.unlock();
            }
        });
        reader.join();
    });
    step();
    gpio->removeListener(id);
    return writes == 0 || readerGotIn != 0;
}

}  // namespace

TEST(CardPorts, SearchPassKeepsTheReplyReadersOut)
{
    // A link that polls for a pass-through reply reads the same reply RAMs, search masks and card
    // counts: it must not get in while a search pass runs.
    CardsRig rig({{0, 2}, {3, 1}, {16, 1}});
    ASSERT_TRUE(rig.upAndSearched());
    G_timeTicks += 100;   // the next search pass is due
    EXPECT_FALSE(readerGotInDuring(rig, [&] { rig.m->Search_Card_Cmd(); }));
    EXPECT_FALSE(sim::cardChain().received(3).empty());
}

TEST(CardPorts, ParameterBlockLoadKeepsTheReplyReadersOut)
{
    // The reply path writes link bits and card counts into the block that the load replaces.
    CardsRig rig({{0, 2}});
    ASSERT_TRUE(rig.bringUp());
    EXPECT_FALSE(readerGotInDuring(rig, [&] { rig.m->fpgainit(0); }));
}
