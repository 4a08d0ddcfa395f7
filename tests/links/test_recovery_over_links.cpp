// A recovery file sent over the TCP link with the file commands, then the receiving-card check
// and self-recovery run on it against the simulated cards.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include <cstdlib>

#include "core/md5.h"
#include "engine/c331_manage.h"
#include "ledout/card_jobs_rig.h"
#include "ledout/recovery_files.h"
#include "ledout/rcv_recovery_file.h"
#include "link_client.h"
#include "links/networkmanage.h"

using namespace linktest;

namespace {

// Start, blocks, end of one file of transfer type 9; the status of the end command.
uint8_t sendFile(Client& c, const std::string& name, const Bytes& content)
{
    const uint32_t size = static_cast<uint32_t>(content.size());
    Bytes start = {1, 9, uint8_t(size), uint8_t(size >> 8), uint8_t(size >> 16), uint8_t(size >> 24),
                   uint8_t(name.size())};
    for (char ch : name)
        start.push_back(static_cast<uint8_t>(ch));
    if (status(c.call(body(0xC0, start))) != 0)
        return 0xFF;
    for (uint32_t off = 0; off < size; off += 500) {
        const uint16_t n = static_cast<uint16_t>(std::min<uint32_t>(500, size - off));
        Bytes d = {2, uint8_t(off), uint8_t(off >> 8), uint8_t(off >> 16), uint8_t(off >> 24), uint8_t(n),
                   uint8_t(n >> 8)};
        d.insert(d.end(), content.begin() + off, content.begin() + off + n);
        if (status(c.call(body(0xC0, d))) != 0)
            return 0xFE;
    }
    MD5 m(content.data(), unsigned(content.size()));
    Bytes end = {3};
    end.insert(end.end(), m.digest(), m.digest() + 16);
    return status(c.call(body(0xC0, end)));
}

rcvfiles::Op write4(uint8_t a, uint8_t b)
{
    rcvfiles::Op o;
    o.address = 0x300;
    o.data = {a, b, 0x11, 0x22};
    return o;
}

}  // namespace

TEST(RecoveryOverLinks, ATransferredRecoveryFileDrivesTheCheckAndTheSelfRecoveryToTheirEnd)
{
    setenv("ZEL_TCP_PORT", "0", 1);
    fpgatest::JobRig rig({{4, 3}});
    c331_manage::p_c331_manage = new c331_manage();
    ASSERT_TRUE(rig.ready());
    sim::cardChain().setConfigId(4, 0x5150);
    sim::cardChain().setFaultyCard(4, 2);

    rcvfiles::Screen screen;
    screen.configId = 0x5150;
    rcvfiles::Net n;
    n.ledx = 4;
    n.cards = {{write4(0, 0)}, {write4(0, 1)}, {write4(0, 2), write4(1, 2)}};
    screen.nets = {n};
    TcpClient c(networkManage::pInstance()->port());
    ASSERT_TRUE(c.connected());
    ASSERT_EQ(sendFile(c, "JYFX_site", rcvfiles::recoveryFile({screen})), 0);
    EXPECT_EQ(rig.m->rcv_recovery->recovery_files(), QStringList{"JYFX_site"});

    rig.start(5);
    ASSERT_TRUE(rig.runJob());
    EXPECT_EQ(rig.m->recover_card, 2);
    sim::cardChain().clearLog();
    rig.start(6);
    ASSERT_TRUE(rig.runJob());
    auto sent = fpgatest::JobRig::packets(4, 0x60);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0][0], 2);   // card 2 only
    EXPECT_EQ(sim::cardChain().ram16(4, 2, 0x300), 0x0201);
    EXPECT_EQ(rig.last(), 100);
}
