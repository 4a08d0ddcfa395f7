#include <gtest/gtest.h>

#include <QSettings>

#include <vector>

#include "sim/card_chain.h"
#include "sim/sim_config.h"
#include "support/test_root.h"

using sim::Packet;

namespace {

// A request as the controller sends it: destination, source, tag, byte 7, command, payload.
Packet request(uint16_t dest, uint16_t src, uint8_t tag, uint8_t port, uint8_t cmd,
               std::vector<uint8_t> payload = {})
{
    Packet p = {static_cast<uint8_t>(dest), static_cast<uint8_t>(dest >> 8),
                static_cast<uint8_t>(src), static_cast<uint8_t>(src >> 8),
                0x10, tag, 1, port, 0, cmd};
    for (uint8_t b : payload)
        p.push_back(b);
    uint8_t x = 0;
    for (uint8_t b : p)
        x ^= b;
    p.push_back(x);
    return p;
}

std::vector<Packet> send(int port, const Packet& p)
{
    return sim::cardChain().deliver(port, p.data(), p.size());
}

uint8_t xorAll(const Packet& p)
{
    uint8_t x = 0;
    for (uint8_t b : p)
        x ^= b;
    return x;
}

uint16_t u16(const Packet& p, size_t off) { return static_cast<uint16_t>(p[off] | (p[off + 1] << 8)); }

void configure(int port, int cards)
{
    sim::SimConfig c = sim::config();
    c.cardsPerPort = {};
    c.cardsPerPort[static_cast<size_t>(port)] = static_cast<uint16_t>(cards);
    sim::setConfig(c);
}

std::vector<uint8_t> searchPayload(uint8_t enable)
{
    std::vector<uint8_t> pl(19, 0);
    pl[6] = enable;
    return pl;
}

}  // namespace

TEST(SimCardChain, SearchReplyCarriesCountStatusAndConfigId)
{
    zeltest::TempRoot root;
    configure(6, 5);
    sim::SimCard head;
    head.configId = 0xCAFEBABE;
    sim::cardChain().setCard(6, 0, head);
    sim::SimCard faulty;
    faulty.needsRecovery = true;
    sim::cardChain().setCard(6, 3, faulty);

    auto replies = send(6, request(0x2FFE, 0xF000, 0xAA, 7, 0x10, searchPayload(1)));
    ASSERT_EQ(replies.size(), 1u);
    const Packet& r = replies[0];
    ASSERT_GE(r.size(), 24u);
    EXPECT_EQ(u16(r, 0), 0xF000);
    EXPECT_EQ(u16(r, 2) >> 12, 2);
    EXPECT_EQ(r[5], 0xAA);
    EXPECT_EQ(r[7], 7);
    EXPECT_EQ(r[9], 0x10);
    EXPECT_EQ(r[10], 0);
    EXPECT_EQ(u16(r, 11), 5);
    EXPECT_EQ(r[13], 0);
    EXPECT_EQ(u16(r, 18) | (u16(r, 20) << 16), 0xCAFEBABE);
    EXPECT_EQ(r[22], 3);   // first card that needs recovery
    EXPECT_EQ(xorAll(r), 0);

    // without the enable flag the check value reads "all intact"
    replies = send(6, request(0x2FFE, 0xF010, 0xAA, 7, 0x10, searchPayload(0)));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(u16(replies[0], 0), 0xF010);   // a PC's search goes back to the PC
    EXPECT_EQ(replies[0][22], 255);
}

TEST(SimCardChain, RamRegisterAndCounterCommands)
{
    zeltest::TempRoot root;
    configure(1, 3);
    // position of card 2 into its RAM at 0x180
    auto replies = send(1, request(0x1002, 0xF000, 0x67, 2, 0x60,
                                   {0x80, 0x01, 0, 0, 4, 0, 0, 0, 0x00, 0x01, 0x40, 0x00}));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0][5], 0x67);
    EXPECT_EQ(u16(replies[0], 2), 0x1002);
    EXPECT_EQ(sim::cardChain().ram16(1, 2, 0x180), 256);
    EXPECT_EQ(sim::cardChain().ram16(1, 2, 0x182), 64);
    EXPECT_EQ(sim::cardChain().ram16(1, 0, 0x180), 0);

    replies = send(1, request(0x1002, 0xF010, 0x67, 2, 0x61, {0x80, 0x01, 0, 0, 4, 0, 0, 0}));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(Packet(replies[0].begin() + 10, replies[0].end() - 1), Packet({0, 0x00, 0x01, 0x40, 0x00}));

    // a broadcast register write reaches every card and is answered once
    replies = send(1, request(0x0FFF, 0xF000, 0x67, 2, 0xA0, {3, 0x0F, 1, 9}));
    EXPECT_EQ(replies.size(), 1u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(sim::cardChain().card(1, i).regs[3], 9);
    send(1, request(0x0FFF, 0xF000, 0x67, 2, 0x81, {0xFF, 0}));
    EXPECT_EQ(sim::cardChain().card(1, 2).saves, 1);
    // RAM reset (register 1, 0xFF) restarts every card from the RAM it holds
    send(1, request(0x1FFE, 0xF000, 0x67, 2, 0xA0, {1, 0xFF, 1, 0xFF}));
    EXPECT_EQ(sim::cardChain().card(1, 2).restarts, 1);
    EXPECT_EQ(sim::cardChain().ram16(1, 2, 0x180), 256);
    // an index past the chain gets no answer
    EXPECT_TRUE(send(1, request(0x1003, 0xF000, 0x67, 2, 0x81, {0xFF, 0})).empty());
}

TEST(SimCardChain, BadPacketsAndKnobs)
{
    zeltest::TempRoot root;
    configure(4, 2);
    Packet good = request(0x0FFE, 0xF000, 0x67, 5, 0x81, {0xFF, 0});
    Packet bad = good;
    bad.back() ^= 1;
    EXPECT_TRUE(send(4, bad).empty());
    EXPECT_EQ(sim::cardChain().badCheckCount(4), 1);
    EXPECT_EQ(send(4, request(0x1FFE, 0xF000, 0x67, 5, 0x81, {0xFF, 0})).size(), 1u);
    EXPECT_EQ(sim::cardChain().wrongPortCount(4), 1);
    EXPECT_EQ(sim::cardChain().received(4).size(), 2u);
    EXPECT_TRUE(send(5, request(0x1FFE, 0xF000, 0x67, 6, 0x81, {0xFF, 0})).empty());  // no cards

    sim::CardChain::PortFaults f;
    f.wrongTag = true;
    sim::cardChain().setFaults(4, f);
    auto replies = send(4, good);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_NE(replies[0][5], 0x67);
    EXPECT_EQ(xorAll(replies[0]), 0);

    f = {};
    f.badCheck = true;
    sim::cardChain().setFaults(4, f);
    replies = send(4, good);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_NE(xorAll(replies[0]), 0);

    f = {};
    f.silent = true;
    sim::cardChain().setFaults(4, f);
    EXPECT_TRUE(send(4, good).empty());

    sim::cardChain().setFaults(4, {});
    sim::cardChain().dropCard(4, 1);
    EXPECT_EQ(sim::cardChain().cardCount(4), 1);
    replies = send(4, request(0x0FFE, 0xF000, 0xAA, 5, 0x10, searchPayload(0)));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(u16(replies[0], 11), 1);
    sim::cardChain().dropCard(4, 0);
    EXPECT_TRUE(send(4, good).empty());
    sim::cardChain().restoreCards(4);
    EXPECT_EQ(sim::cardChain().cardCount(4), 2);
}

TEST(SimCardChain, MultifunctionCardAnswersItsReadAndMarksThePort)
{
    zeltest::TempRoot root;
    sim::SimConfig c = sim::config();
    c.cardsPerPort = {};
    c.cardsPerPort[21] = 1;
    c.multifunctionCard = true;
    c.multifunctionPort = 21;
    sim::setConfig(c);
    std::array<uint8_t, 128> data{};
    data[49] = 255;
    data[53] = 200;
    sim::cardChain().setMultifunctionData(data);

    auto replies = send(21, request(0x5000, 0xF000, 0xBB, 0, 0x61, {0, 0, 0, 2, 128, 0, 0, 0}));
    ASSERT_EQ(replies.size(), 1u);
    ASSERT_EQ(replies[0].size(), 140u);
    EXPECT_EQ(replies[0][5], 0xBB);
    EXPECT_EQ(replies[0][10], 0);
    EXPECT_EQ(replies[0][11 + 49], 255);
    EXPECT_EQ(replies[0][11 + 53], 200);

    replies = send(21, request(0x1FFE, 0xF000, 0xAA, 6, 0x10, searchPayload(0)));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_NE(replies[0][13], 0);
    // no multifunction card on another port
    EXPECT_TRUE(send(17, request(0x5000, 0xF000, 0xBB, 0, 0x61, {0, 0, 0, 2, 128, 0, 0, 0})).empty());
}

TEST(SimCardChain, PacketLogKeepsOnlyTheRecentPackets)
{
    // The simulated board runs for days with the card search sending every 80 ticks.
    zeltest::TempRoot root;
    configure(3, 1);
    const size_t total = sim::CardChain::kLogLimit + 10;
    for (size_t n = 0; n < total; ++n)
        send(3, request(0x3FFE, 0xF000, 0x67, 4, 0x81, {0xFF, static_cast<uint8_t>(n)}));
    auto log = sim::cardChain().received(3);
    ASSERT_EQ(log.size(), sim::CardChain::kLogLimit);
    EXPECT_EQ(log.back()[11], static_cast<uint8_t>(total - 1));
    EXPECT_EQ(log.front()[11], static_cast<uint8_t>(10));
}

// The board file written on a first start names every key, each with its default.
TEST(SimCardChain, TheWrittenBoardFileHoldsEveryKey)
{
    zeltest::TempRoot root;
    ASSERT_TRUE(sim::writeConfigFile());
    QSettings ini(QString::fromStdString(root.at("/etc/zel-sim.ini")), QSettings::IniFormat);
    EXPECT_EQ(ini.value("cards/port31_config_id").toString(), "0");
    EXPECT_EQ(ini.value("cards/port31_faulty_card").toString(), "-1");
    EXPECT_EQ(ini.value("cards/port0").toString(), "4");
    EXPECT_TRUE(ini.contains("clock/start"));
    EXPECT_EQ(ini.value("clock/start").toString(), "");
    sim::reloadConfig();
    EXPECT_EQ(sim::config().faultyCard[31], -1);
    EXPECT_EQ(sim::config().clockStart, "");
}

TEST(SimCardChain, ConfigIdFaultyCardAndSaveDelayComeFromTheBoardFile)
{
    zeltest::TempRoot root;
    zeltest::writeText("/etc/zel-sim.ini", "[cards]\nport3=4\nport3_config_id=77\nport3_faulty_card=2\n"
                                           "save_delay_ticks=50\n");
    sim::reloadConfig();
    auto replies = send(3, request(0x3FFE, 0xF000, 0xAA, 4, 0x10, searchPayload(1)));
    ASSERT_EQ(replies.size(), 1u);
    ASSERT_GE(replies[0].size(), 24u);
    EXPECT_EQ(u16(replies[0], 11), 4);
    EXPECT_EQ(u16(replies[0], 18), 77);
    EXPECT_EQ(replies[0][22], 2);
    // without the check bit the cards report nothing faulty
    replies = send(3, request(0x3FFE, 0xF000, 0xAA, 4, 0x10, searchPayload(0)));
    EXPECT_EQ(replies[0][22], 255);

    Packet save = request(0x0FFF, 0xF000, 0x67, 4, 0x81, {0xFF, 0});
    auto timed = sim::cardChain().deliverTimed(3, save.data(), save.size());
    ASSERT_EQ(timed.size(), 1u);
    EXPECT_EQ(timed[0].delayTicks, 50u);
    Packet write = request(0x3001, 0xF000, 0x67, 4, 0x60, {0x80, 1, 0, 0, 1, 0, 0, 0, 5});
    EXPECT_EQ(sim::cardChain().deliverTimed(3, write.data(), write.size())[0].delayTicks, 0u);

    // tests move the fault and the id at run time
    sim::cardChain().setFaultyCard(3, 0);
    sim::cardChain().setConfigId(3, 78);
    replies = send(3, request(0x3FFE, 0xF000, 0xAA, 4, 0x10, searchPayload(1)));
    EXPECT_EQ(u16(replies[0], 18), 78);
    EXPECT_EQ(replies[0][22], 0);
}
