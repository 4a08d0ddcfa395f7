// Card positions of the routing patterns, the smart-mapping job and the two broadcast jobs of the
// smart-mapping page, on simulated cards.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <utility>

#include "card_jobs_rig.h"

#include "ledout/rcv_card_cmd.h"
#include "ledout/scan_para.h"
#include "platform/command_runner.h"
#include "support/test_root.h"

namespace {

using fpgatest::JobRig;
using Pos = std::pair<unsigned, unsigned>;

Pos positionOf(fpga_manage* m, int index)
{
    unsigned short x = 0, y = 0;
    m->get_rcvcard_x_y(index, &x, &y);
    return {x, y};
}

void setLine(uint8_t pattern, uint8_t rows, uint8_t columns, uint16_t w = 128, uint16_t h = 64, uint8_t port = 0,
             uint16_t dx = 0, uint16_t dy = 0)
{
    line_type = LineType{w, h, dx, dy, port, rows, columns, pattern};
}

uint16_t u16(const sim::Packet& p, size_t at) { return static_cast<uint16_t>(p[at] | (p[at + 1] << 8)); }

}  // namespace

TEST(CardGeometry, PatternsPlaceCardsWhereTheirCornerAndDirectionSay)
{
    JobRig rig({});
    setLine(1, 2, 3);
    EXPECT_EQ(positionOf(rig.m, 0), Pos(256, 64));
    EXPECT_EQ(positionOf(rig.m, 2), Pos(0, 64));
    EXPECT_EQ(positionOf(rig.m, 3), Pos(0, 0));
    EXPECT_EQ(positionOf(rig.m, 5), Pos(256, 0));

    setLine(7, 2, 2);
    EXPECT_EQ(positionOf(rig.m, 0), Pos(0, 0));
    EXPECT_EQ(positionOf(rig.m, 1), Pos(0, 64));
    EXPECT_EQ(positionOf(rig.m, 2), Pos(128, 64));
    EXPECT_EQ(positionOf(rig.m, 3), Pos(128, 0));

    // straight patterns keep their direction on every row or column
    setLine(9, 2, 2);
    EXPECT_EQ(positionOf(rig.m, 2), Pos(128, 0));
    setLine(16, 2, 2);
    EXPECT_EQ(positionOf(rig.m, 2), Pos(0, 0));
    EXPECT_EQ(positionOf(rig.m, 3), Pos(0, 64));
}

TEST(CardGeometry, EveryPatternCoversTheGridOnceAndNothingOutsideIsTouched)
{
    JobRig rig({});
    for (uint8_t pattern = 1; pattern <= 16; ++pattern) {
        setLine(pattern, 3, 2);   // more rows than columns
        std::set<Pos> seen;
        for (int i = 0; i < 6; ++i) {
            const Pos p = positionOf(rig.m, i);
            EXPECT_LT(p.first, 256u) << "pattern " << int(pattern);
            EXPECT_LT(p.second, 192u) << "pattern " << int(pattern);
            seen.insert(p);
        }
        EXPECT_EQ(seen.size(), 6u) << "pattern " << int(pattern);
    }
    // outside the grid or without a pattern: x and y stay as the caller set them
    unsigned short x = 7, y = 9;
    setLine(1, 2, 3);
    rig.m->get_rcvcard_x_y(6, &x, &y);
    setLine(0, 2, 3);
    rig.m->get_rcvcard_x_y(0, &x, &y);
    setLine(17, 2, 3);
    rig.m->get_rcvcard_x_y(0, &x, &y);
    setLine(1, 0, 3);
    rig.m->get_rcvcard_x_y(0, &x, &y);
    EXPECT_EQ(Pos(x, y), Pos(7, 9));
}

TEST(SmartMappingJob, WritesEveryCardsPositionThenResetsAndEndsAt100)
{
    JobRig rig({{18, 4}});
    ASSERT_TRUE(rig.ready());
    ASSERT_EQ(rig.m->get_port_card_num(18), 4);
    setLine(7, 2, 2, 128, 64, 18, 10, 20);
    sim::cardChain().clearLog();
    rig.start(1);
    ASSERT_TRUE(rig.runJob());

    const Pos expect[4] = {{10, 20}, {10, 84}, {138, 84}, {138, 20}};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(Pos(sim::cardChain().ram16(18, i, 0x180), sim::cardChain().ram16(18, i, 0x182)), expect[i]);
    auto writes = JobRig::packets(18, 0x60);
    ASSERT_EQ(writes.size(), 4u);
    for (size_t i = 0; i < writes.size(); ++i) {
        EXPECT_EQ(writes[i].size(), 23u);
        EXPECT_EQ(u16(writes[i], 0), 0x2000 | i);   // port 18 is port 2 of FPGA 1
        EXPECT_EQ(writes[i][7], 3);
    }
    auto resets = JobRig::packets(18, 0xA0);
    ASSERT_EQ(resets.size(), 1u);
    EXPECT_EQ(u16(resets[0], 0), 0x2FFE);
    EXPECT_EQ(resets[0][10], 1);
    EXPECT_EQ(resets[0][11], 0xFF);
    EXPECT_EQ(resets[0][13], 0xFF);
    EXPECT_EQ(sim::cardChain().card(18, 3).restarts, 1);
    EXPECT_EQ(rig.last(), 100);
    EXPECT_EQ(rig.progress.front(), 1 * 100 / 5);
}

TEST(SmartMappingJob, APortWithoutCardsEndsAt90Then100After200Ticks)
{
    JobRig rig({{0, 2}});
    ASSERT_TRUE(rig.ready());
    setLine(1, 1, 1, 128, 64, 5);
    rig.start(1);
    rig.pass(3);
    ASSERT_EQ(rig.progress, std::vector<int>{90});
    rig.pass(200);
    EXPECT_TRUE(rig.running());
    rig.pass(2);
    EXPECT_FALSE(rig.running());
    EXPECT_EQ(rig.progress, (std::vector<int>{90, 100}));
}

TEST(SmartMappingJob, ASilentCardIsSkippedAfter1200TicksAndLinkActivityHoldsTheJob)
{
    JobRig rig({{3, 2}});
    ASSERT_TRUE(rig.ready());
    setLine(4, 1, 2, 64, 32, 3);
    sim::CardChain::PortFaults silent;
    silent.silent = true;
    sim::cardChain().setFaults(3, silent);
    sim::cardChain().clearLog();
    rig.start(1);
    rig.pass(4);
    ASSERT_EQ(JobRig::packets(3, 0x60).size(), 1u);

    // a busy link freezes the wait
    for (int i = 0; i < 1500; ++i) {
        pc_cmd_valid = 1;
        pc_cmd_time = G_timeTicks.load();
        rig.pass();
    }
    EXPECT_EQ(JobRig::packets(3, 0x60).size(), 1u);
    pc_cmd_valid = 0;
    rig.pass(1195);
    EXPECT_EQ(JobRig::packets(3, 0x60).size(), 1u);
    rig.pass(10);
    EXPECT_EQ(JobRig::packets(3, 0x60).size(), 2u);
    ASSERT_TRUE(rig.runJob());
    EXPECT_EQ(rig.last(), 100);
}

TEST(BroadcastJobs, SaveReachesEveryPortWithCardsThroughItsOwnFpgaAndPort)
{
    JobRig rig({{1, 2}, {20, 3}});
    ASSERT_TRUE(rig.ready());
    sim::cardChain().clearLog();
    rig.start(3);
    ASSERT_TRUE(rig.runJob());
    for (int port : {1, 20}) {
        auto saves = JobRig::packets(port, 0x81);
        ASSERT_EQ(saves.size(), 1u) << port;
        EXPECT_EQ(u16(saves[0], 0), 0x0FFF);
        EXPECT_EQ(saves[0].size(), 13u);
        EXPECT_EQ(sim::cardChain().card(port, 0).saves, 1);
    }
    EXPECT_EQ(JobRig::packets(20, 0x81)[0][7], 5);   // FPGA 1, port 4
    // port x 100 / 33 as each port is sent, then 95 and 100
    EXPECT_EQ(rig.progress, (std::vector<int>{3, 60, 95, 100}));
}

TEST(BroadcastJobs, NoCardsTakes33StepsThen95And100)
{
    JobRig rig({});
    ASSERT_TRUE(rig.bringUp());
    rig.start(3);
    rig.pass(1 + 32);
    EXPECT_TRUE(rig.progress.empty());
    rig.pass(2);
    EXPECT_EQ(rig.progress, std::vector<int>{95});
    rig.pass(202);
    EXPECT_EQ(rig.progress, (std::vector<int>{95, 100}));
    EXPECT_FALSE(rig.running());
}

TEST(BroadcastJobs, ASlowSaveIsWaitedForByCardCountWhileTheMappingWaitIsFixed)
{
    JobRig rig({{6, 10}, {7, 1}});
    ASSERT_TRUE(rig.ready());
    sim::SimConfig c = sim::config();
    c.saveDelayTicks = 2100;   // under 100 x 10 + 1200
    sim::setConfig(c);
    sim::cardChain().clearLog();
    rig.start(3);
    ASSERT_TRUE(rig.passUntil([] { return !JobRig::packets(6, 0x81).empty(); }, 20));
    rig.pass(2095);
    EXPECT_TRUE(JobRig::packets(7, 0x81).empty());   // still waiting for port 6
    c.saveDelayTicks = 0;
    sim::setConfig(c);
    rig.pass(10);
    EXPECT_EQ(JobRig::packets(7, 0x81).size(), 1u);   // acknowledged, next port

    // the mapping job waits 1200 ticks whatever the count
    sim::CardChain::PortFaults silent;
    silent.silent = true;
    sim::cardChain().setFaults(6, silent);
    ASSERT_TRUE(rig.runJob());
    sim::cardChain().clearLog();
    g_send_para[16] = 9;
    rig.start(4);
    ASSERT_TRUE(rig.passUntil([] { return !JobRig::packets(6, 0xA0).empty(); }, 20));
    rig.pass(1195);
    EXPECT_TRUE(JobRig::packets(7, 0xA0).empty());
    rig.pass(10);
    EXPECT_EQ(JobRig::packets(7, 0xA0).size(), 1u);
    EXPECT_EQ(sim::cardChain().card(7, 0).regs[3], 9);
}

TEST(BroadcastJobs, AckWaitEndsAfterMoreThan2200TicksForASaveToTenCardsAnd1200ForOtherPackets)
{
    JobRig rig({{6, 10}});
    ASSERT_TRUE(rig.ready());
    G_timeTicks += 5000;
    // (job, limit) rows: the save waits 100 x 10 + 1200 ticks, the mapping and the position 1200
    const std::pair<uint8_t, uint32_t> rows[] = {{3, 2200}, {4, 1200}, {1, 1200}};
    for (auto [job, limit] : rows) {
        for (uint32_t waited : {limit, limit + 1}) {
            g_send_para[0] = job, g_send_para[1] = 3, g_send_para[6] = 0;
            g_send_para[10] = 10, g_send_para[11] = 0;   // cards on the port
            rcv_card::wr32(g_send_para + 20, G_timeTicks - waited);
            job == 3 ? rig.m->save_para_deal() : job == 4 ? rig.m->mapping_enable_deal() : rig.m->SmartMapping_deal();
            EXPECT_EQ(g_send_para[1], waited == limit ? 3 : 1) << int(job) << " " << waited;
        }
    }
    g_send_para[0] = g_send_para[1] = 0;
}

TEST(BroadcastJobs, MappingValueReachesEveryCardsRegister3)
{
    JobRig rig({{0, 3}, {17, 2}});
    ASSERT_TRUE(rig.ready());
    g_send_para[16] = 9;
    rig.start(4);
    ASSERT_TRUE(rig.runJob());
    for (auto [port, n] : {std::pair<int, int>{0, 3}, {17, 2}})
        for (int i = 0; i < n; ++i)
            EXPECT_EQ(sim::cardChain().card(port, i).regs[3] & 0x0F, 9) << port << "/" << i;
    g_send_para[16] = 0;
    rig.start(4);
    ASSERT_TRUE(rig.runJob());
    EXPECT_EQ(sim::cardChain().card(17, 1).regs[3] & 0x0F, 0);
}

namespace {

// A record of a card operation file: 16-byte name, u32 register field, u16 mask/value field.
void appendRecord(std::vector<uint8_t>& file, const std::string& name, uint32_t reg, uint16_t maskValue)
{
    std::vector<uint8_t> r(22, 0);
    std::copy(name.begin(), name.begin() + std::min<size_t>(name.size(), 16), r.begin());
    for (int i = 0; i < 4; ++i)
        r[16 + i] = static_cast<uint8_t>(reg >> (8 * i));
    r[20] = static_cast<uint8_t>(maskValue);
    r[21] = static_cast<uint8_t>(maskValue >> 8);
    file.insert(file.end(), r.begin(), r.end());
}

}  // namespace

TEST(OperationRecords, RecordsOfTheStickFileUpToTheManagersCount)
{
    JobRig rig({});
    const QString savedName = g_jyfile_name;
    std::vector<uint8_t> file = {3, 0, 0, 0};
    appendRecord(file, "gamma", 0x00000021, 0x80FF);
    appendRecord(file, "sixteen-chars-ab", 0x12345678, 0xBEEF);
    appendRecord(file, "last", 0x01, 0x0101);
    zeltest::writeFile("/mnt/usb1/JYFR_ops", file);
    g_jyfile_name = "JYFR_ops";
    zeltest::simCommands().clearJournal();

    SCAN_PARA scan;
    rig.m->scan_para_num = 3;
    EXPECT_EQ(rig.m->get_operate_deal_para(&scan, 1), 0);
    EXPECT_EQ(scan.reg, 0x12345678u);
    EXPECT_EQ(scan.mask_value, 0xBEEF);
    EXPECT_STREQ(scan.text, "sixteen-chars-ab");
    // Its reset packet: the register field's low byte, then the mask/value field's first byte as
    // the mask and its second as the value.
    unsigned char reset[16];
    rig.m->ram_reset_cmd_create(reset, &scan, 5);
    EXPECT_EQ(std::vector<unsigned char>(reset + 9, reset + 14),
              (std::vector<unsigned char>{0xA0, 0x78, 0xEF, 1, 0xBE}));
    const auto journal = zeltest::simCommands().journal();
    EXPECT_NE(std::find(journal.begin(), journal.end(), "sync"), journal.end());
    EXPECT_EQ(rig.m->get_operate_deal_para(&scan, 0), 0);
    EXPECT_EQ(scan.reg, 0x21u);
    EXPECT_EQ(scan.mask_value, 0x80FF);
    EXPECT_STREQ(scan.text, "gamma");

    // Not below the count, past the file's end, no file: 1 and the record kept.
    EXPECT_EQ(rig.m->get_operate_deal_para(&scan, 3), 1);
    rig.m->scan_para_num = 5;
    EXPECT_EQ(rig.m->get_operate_deal_para(&scan, 3), 1);
    g_jyfile_name = "JYFR_missing";
    EXPECT_EQ(rig.m->get_operate_deal_para(&scan, 0), 1);
    EXPECT_EQ(scan.reg, 0x21u);
    EXPECT_STREQ(scan.text, "gamma");
    rig.m->scan_para_num = 0;
    g_jyfile_name = "JYFR_ops";
    EXPECT_EQ(rig.m->get_operate_deal_para(&scan, 0), 1);   // the manager counts no records

    g_jyfile_name = savedName;
}
